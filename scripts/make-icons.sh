#!/usr/bin/env bash
# Renders the program's icon (resources/icon.svg) into the sizes the desktop's icon theme wants,
# with the same renderer that made resources/icon32.png and icon64.png, so the menu shows the same
# picture as the window. Run it again after changing icon.svg and commit the pictures it writes.
set -euo pipefail
cd "$(dirname "$0")/.."
for size in 16 24 32 48 64 128 256; do
  convert -background none -density $((96 * size / 64 * 4)) resources/icon.svg \
    -resize "${size}x${size}" -depth 8 -strip "desktop/icons/${size}.png"
done
