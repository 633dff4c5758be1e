#!/usr/bin/env bash
# CardDAV sync at scale: the real poraddr-sync, vdirsyncer and a bare client (curl) doing the same
# work in one run against one Radicale server, started here on 127.0.0.1 over a temporary storage
# folder and stopped at the end. Prints "NAME VALUE" lines:
#   sync_upload_1000_*         a list folder of 1,000 entries into an empty book
#   sync_noop_10000_*          a sync with nothing changed, 10,000 cards synced
#   sync_one_change_10000_*    a sync after one entry changed here, among 10,000
#   sync_download_10000_*      10,000 cards into an empty folder
# The 10,000 cards are written straight into the server's storage before it starts.
#
#   bench/sync_bench.sh BUILD_DIR   (BUILD_DIR holds poraddr-sync and bench/porbench_store)
set -euo pipefail
build=$(cd "${1:?usage: sync_bench.sh BUILD_DIR}" && pwd)
tool=$build/poraddr-sync
store=$build/bench/porbench_store
python=/usr/bin/python3
user=user

work=$(mktemp -d "${TMPDIR:-/tmp}/poraddr-sync-bench.XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

storage=$work/storage
root=$storage/collection-root/$user

# ---- Seeding: an address book folder as Radicale keeps it, one .vcf file per card.
book_folder() { # NAME
  mkdir -p "$root/$1"
  printf '{"D:displayname": "%s", "tag": "VADDRESSBOOK"}' "$1" >"$root/$1/.Radicale.props"
}
book_folder big
book_folder vup
book_folder fup
# Cards much like the ones a circle of friends keeps: a handle in kana or ASCII, most with a mail
# address, some with a home page and a memo in Japanese.
awk -v dir="$root/big" -v n=10000 'BEGIN {
  split("ぽろう 花子 ソフト まゆみ 山田太郎 pochi tama", handles, " ")
  split("高校の同級生 ゲーム好き 社員 met_at_the_offline_meeting", memos, " ")
  srand(7)
  for (i = 0; i < n; i++) {
    uid = sprintf("seed-%05d", i)
    file = dir "/" uid ".vcf"
    h = handles[1 + int(rand() * 7)] i
    printf "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%s\r\nFN:%s\r\nN:%s;;;;\r\n", uid, h, h > file
    if (rand() < 0.8) printf "EMAIL;TYPE=INTERNET:user%d@example.ne.jp\r\n", i > file
    if (rand() < 0.5) printf "URL:http://www.example.ne.jp/~u%d/\r\n", i > file
    if (rand() < 0.3) printf "NOTE:%s\r\n", memos[1 + int(rand() * 4)] > file
    printf "END:VCARD\r\n" > file
    close(file)
  }
}'

port=$($python -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base=http://127.0.0.1:$port
$python -m radicale --config "" --server-hosts "127.0.0.1:$port" --auth-type none \
  --storage-filesystem-folder "$storage" >"$work/radicale.log" 2>&1 &
server_pid=$!
for _ in $(seq 200); do
  curl -s -o /dev/null -u "$user:x" "$base/" && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/radicale.log" >&2; exit 1; }
  sleep 0.1
done

# ---- Helpers
now() { echo "$EPOCHREALTIME"; }
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.6f", b - a }'; }
seconds() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%s %.3f\n", n, t }'; }
ratio() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%s %.2f\n", n, a / b }'; }
# Radicale answers in HTTP/1.0 and never sends 100 Continue: no Expect, or curl waits 1 s a body.
dav() { curl -sS --fail -H "Expect:" -u "$user:x" "$@"; }

sync_report() { # BOOK TOKEN -> the multistatus on stdout
  dav -X REPORT -H 'Depth: 1' -H 'Content-Type: application/xml; charset=utf-8' \
    --data-binary "<?xml version=\"1.0\" encoding=\"utf-8\"?><d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>$2</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop></d:sync-collection>" \
    "$base/$user/$1/"
}
token_of() { grep -o '<[a-zA-Z0-9]*:\?sync-token>[^<]*<' | sed 's/.*>\(.*\)</\1/' | tail -1; }

# Runs poraddr-sync; a run that does not end in success stops the bench.
ours() { "$tool" "$@" 2>>"$work/poraddr-sync.log" >/dev/null || { tail -5 "$work/poraddr-sync.log" >&2; exit 1; }; }

# A vdirsyncer pair of a folder of .vcf files and one book, with its own status folder.
vdir_config() { # NAME FOLDER BOOK
  mkdir -p "$work/vdir-$1" "$2"
  cat >"$work/vdir-$1/config" <<EOF
[general]
status_path = "$work/vdir-$1/status/"

[pair $1]
a = "$1_local"
b = "$1_remote"
collections = null

[storage $1_local]
type = "filesystem"
path = "$2"
fileext = ".vcf"

[storage $1_remote]
type = "carddav"
url = "$base/$user/$3/"
username = "$user"
password = "x"
EOF
  vdirsyncer -c "$work/vdir-$1/config" discover >/dev/null 2>&1
}
vdir_sync() { vdirsyncer -c "$work/vdir-$1/config" sync >"$work/vdir-$1/log" 2>&1 || { tail -5 "$work/vdir-$1/log" >&2; exit 1; }; }

# Radicale keeps what it parsed of each card in a cache of its own, made on the first request that
# reads the book: one full report here, so that no timed run below pays for it.
sync_report big "" >/dev/null

# ---- Initial upload of 1,000 entries (500 in each list) into an empty book.
lists=$work/upload
mkdir -p "$lists"
"$store" generate "$lists" 500
ours setup "$base/" --user "$user" --list1 up --list2 up --create "$lists"
start=$(now); ours "$lists"; upload=$(since "$start")
[ "$(ls "$root/up" | grep -c '\.vcf$')" = 1000 ] || { echo "upload did not make 1,000 cards" >&2; exit 1; }

# The same cards as the server keeps them, for the other two clients.
cards=$work/cards
mkdir -p "$cards"
cp "$root/up/"*.vcf "$cards/"
# The floor: one curl process PUTting them one after another.
for f in "$cards"/*.vcf; do
  printf 'url = "%s/%s/fup/%s"\nupload-file = "%s"\noutput = "/dev/null"\n' "$base" "$user" "${f##*/}" "$f"
done >"$work/put.curl"
start=$(now)
dav -K "$work/put.curl" -H 'Content-Type: text/vcard; charset=utf-8' -H 'If-None-Match: *'
floor_upload=$(since "$start")
vdir_config vup "$work/vup" vup
cp "$cards/"*.vcf "$work/vup/"
start=$(now); vdir_sync vup; vdir_upload=$(since "$start")
[ "$(ls "$root/vup" | grep -c '\.vcf$')" = 1000 ] || { echo "vdirsyncer did not make 1,000 cards" >&2; exit 1; }

seconds sync_upload_1000_seconds "$upload"
seconds sync_upload_1000_floor_seconds "$floor_upload"
seconds sync_upload_1000_vdirsyncer_seconds "$vdir_upload"
ratio sync_upload_1000_vs_floor "$upload" "$floor_upload"
ratio sync_upload_1000_vs_vdirsyncer "$upload" "$vdir_upload"

# ---- The floor for the 10,000: the first report, then multiget batches of 100 in one curl
# process; then a report with the token it gave, nothing having changed.
start=$(now)
sync_report big "" >"$work/first.xml"
grep -o '<[a-zA-Z0-9]*:\?href>[^<]*\.vcf<' "$work/first.xml" | sed 's/.*>\(.*\)</\1/' >"$work/hrefs"
split -l 100 "$work/hrefs" "$work/batch."
args=()
for b in "$work"/batch.*; do
  {
    printf '<?xml version="1.0" encoding="utf-8"?><c:addressbook-multiget xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav"><d:prop><d:getetag/><c:address-data/></d:prop>'
    sed 's|.*|<d:href>&</d:href>|' "$b"
    printf '</c:addressbook-multiget>'
  } >"$b.xml"
  [ ${#args[@]} -gt 0 ] && args+=(--next)
  args+=(-H "Expect:" -u "$user:x" -X REPORT -H 'Depth: 1' -H 'Content-Type: application/xml; charset=utf-8'
    --data-binary "@$b.xml" -o "$b.out" "$base/$user/big/")
done
curl -sS --fail "${args[@]}"
floor_download=$(since "$start")
[ "$(cat "$work"/batch.*.out | grep -c 'BEGIN:VCARD')" = 10000 ] || { echo "the floor did not get 10,000 cards" >&2; exit 1; }
token=$(token_of <"$work/first.xml")
start=$(now); sync_report big "$token" >"$work/noop.xml"; floor_noop=$(since "$start")

# ---- poraddr-sync: the download into an empty folder, a sync with nothing changed, a sync after
# one entry's mail address changed in the list file.
mine=$work/mine
mkdir -p "$mine"
ours setup "$base/" --user "$user" --list1 big --list2 big "$mine"
start=$(now); ours "$mine"; download=$(since "$start")
entries=$(( $(cat "$mine"/PorAddr1.lst "$mine"/PorAddr2.lst 2>/dev/null | wc -l) ))
[ "$entries" -ge 60000 ] || { echo "poraddr-sync did not get 10,000 entries" >&2; exit 1; }
start=$(now); ours "$mine"; noop=$(since "$start")
# Line 2 of an entry of list 2 is its mail address.
sed -i '2s/^/x/' "$mine/PorAddr2.lst"
start=$(now); ours "$mine"; one_change=$(since "$start")
tail -1 "$work/poraddr-sync.log" | grep -q "uploaded 1,\|アップロード 1 件" || { echo "the changed entry was not uploaded" >&2; exit 1; }

# ---- vdirsyncer: the same three.
vdir_config big "$work/vbig" big
start=$(now); vdir_sync big; vdir_download=$(since "$start")
[ "$(ls "$work/vbig" | wc -l)" = 10000 ] || { echo "vdirsyncer did not get 10,000 cards" >&2; exit 1; }
start=$(now); vdir_sync big; vdir_noop=$(since "$start")
edited=$(grep -l '^EMAIL' "$work/vbig"/*.vcf | head -1)
sed -i 's/^EMAIL\(.*\):/EMAIL\1:x/' "$edited"
start=$(now); vdir_sync big; vdir_one_change=$(since "$start")

seconds sync_noop_10000_seconds "$noop"
seconds sync_noop_10000_floor_seconds "$floor_noop"
seconds sync_noop_10000_vdirsyncer_seconds "$vdir_noop"
seconds sync_one_change_10000_seconds "$one_change"
seconds sync_one_change_10000_vdirsyncer_seconds "$vdir_one_change"
seconds sync_download_10000_seconds "$download"
seconds sync_download_10000_floor_seconds "$floor_download"
seconds sync_download_10000_vdirsyncer_seconds "$vdir_download"
ratio sync_download_10000_vs_vdirsyncer "$download" "$vdir_download"
ratio sync_download_10000_vs_floor "$download" "$floor_download"
