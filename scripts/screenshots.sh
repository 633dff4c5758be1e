#!/usr/bin/env bash
# Makes the README's pictures again: builds the program, starts it under a private X server with a
# window manager on a small demo address book, and takes the main window on both tabs and the
# entry dialog into docs/. Run it after a change to how the windows look, and commit the pictures.
# PORADDR_EXE=<built PorAddr> takes that program instead of building one in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
program_file=${PORADDR_EXE:-}
if [ -z "$program_file" ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPORADDR_TESTS=OFF -DPORADDR_BENCH=OFF
  cmake --build build --target PorAddr
  program_file=build/PorAddr
fi

work=$(mktemp -d /tmp/poraddr-shots-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/prog" "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
cp "$program_file" "$work/prog/PorAddr"

# The demo lists, written as the program keeps them: Shift-JIS, every line ended by CR LF.
cp932() { iconv -f UTF-8 -t CP932 | sed 's/$/\r/'; }
cp932 > "$work/prog/PorAddr1.lst" <<'EOF'
1
ぽるて
porte@example.jp
http://www.example.jp/porte/
12345678
porte@postpet.example.jp
管理人さん
7
みかん
mikan@example.jp
http://www.example.jp/~mikan/

mikan@postpet.example.jp
ｵﾌ会の幹事
23
さくら
sakura@example.jp

87654321

チャット仲間
42
たろう
taro@example.jp
http://taro.example.jp/
11223344
taro@postpet.example.jp

EOF
cp932 > "$work/prog/PorAddr2.lst" <<'EOF'
はなこ
hanako@example.jp
http://hanako.example.jp/


高校の友だち
けんじ
kenji@example.jp

55667788


EOF
cat > "$work/prog/PorAddr.ini" <<'EOF'
[Position]
Top=40
Left=40
Width=800
Height=220
[List1]
Col1=36
Col2=64
Col3=120
Col4=180
Col5=70
Col6=170
Col7=90
[List2]
Col1=64
Col2=120
Col3=170
Col4=70
Col5=60
Col6=110
EOF
sed -i 's/$/\r/' "$work/prog/PorAddr.ini"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")" LC_ALL=C.UTF-8 HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
unset WAYLAND_DISPLAY SESSION_MANAGER QT_QPA_PLATFORM XAUTHORITY
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done

(cd "$work/home" && exec "$work/prog/PorAddr") &
program=$!
pids+=("$program")
main=$(xdotool search --all --sync --onlyvisible --pid "$program" --name '^ぽるてアドレス帳$' | head -1)
xdotool windowactivate --sync "$main"
sleep 1

shot() { # window file: the window with the window manager's frame
  sleep 0.5
  import -frame -window "$1" "$2"
  echo "wrote $2"
}
mkdir -p docs
# A selected row, as the lists look in use.
xdotool key --delay 60 End Home Down
shot "$main" docs/main-list1.png
xdotool key --delay 60 ctrl+Tab End Home
shot "$main" docs/main-list2.png

# The entry dialog as 修正 opens it for the second entry of the first list.
xdotool key --delay 60 ctrl+Tab End Home Down
xdotool key --delay 60 alt+f Right m
dialog=$(xdotool search --all --sync --onlyvisible --pid "$program" --name '^ぽるてアドレス帳：入力$' | head -1)
xdotool windowactivate --sync "$dialog"
shot "$dialog" docs/entry-dialog.png

# Cancel through the close box, then close the program; its files stay in the temporary folder.
wmctrl -i -c "$dialog"
sleep 0.5
wmctrl -i -c "$main"
wait "$program" || true
