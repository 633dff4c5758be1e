#!/usr/bin/env bash
# Builds the program in Release and installs it for the current user: the program, its launcher,
# poraddr-vcard and poraddr-sync and the data folder in ~/.local/lib/poraddr, the commands in
# ~/.local/bin (poraddr starts the launcher, which syncs around the program once a sync is set up),
# the menu entries (the program, and the sync's setup window poraddr-sync-setup), the icon and the AppStream description under ~/.local/share. Installing again
# upgrades the program and leaves the address book's files (PorAddr1.lst, PorAddr2.lst,
# PorAddr.ini, PorMem.txt, PorAddrSync.ini, PorAddrSync.state, PorAddrSync-conflicts.vcf) as they
# are; so does the uninstall.
#
#     bash scripts/install.sh                  install or upgrade into ~/.local
#     bash scripts/install.sh --uninstall      remove what was installed; the address book's files stay
#     PREFIX=/some/where bash scripts/install.sh   another prefix
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${PREFIX:-$HOME/.local}
build=build-install

if [ "${1:-}" = "--uninstall" ]; then
  if [ ! -f "$build/install_manifest.txt" ]; then
    echo "Nothing to remove: this checkout has not installed the program (no $build/install_manifest.txt)." >&2
    exit 1
  fi
  cmake --build "$build" --target uninstall
  exit 0
fi

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DPORADDR_TESTS=OFF -DPORADDR_BENCH=OFF
# Everything that is installed (tests and benchmarks are off).
cmake --build "$build"
cmake --install "$build" --prefix "$prefix"

# Menus and icon themes pick new entries up by themselves; an icon cache, where the prefix keeps
# one, is refreshed.
command -v gtk-update-icon-cache >/dev/null && [ -f "$prefix/share/icons/hicolor/index.theme" ] &&
  gtk-update-icon-cache -q -t "$prefix/share/icons/hicolor" || true

echo
echo "Installed: $prefix/bin/poraddr (menu: ぽるてアドレス帳)"
echo "Sync setup: $prefix/bin/poraddr-sync-setup (menu: ぽるてアドレス帳の同期設定)"
echo "The address book's files live in $prefix/lib/poraddr/"
