#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need, when any is missing.
set -euo pipefail
packages=(cmake ninja-build g++ clang clang-format clang-tidy libclang-rt-14-dev qt6-base-dev qt6-base-dev-tools
          libgl-dev libx11-dev
          fonts-ipafont-gothic xvfb xauth openbox xdotool wmctrl x11-utils imagemagick util-linux
          weston qt6-wayland abook desktop-file-utils appstream at-spi2-core python3-pyatspi dbus
          python3-radicale xandikos vdirsyncer python3-bcrypt
          qtkeychain-qt6-dev libsecret-1-0 gnome-keyring openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
