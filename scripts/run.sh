#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it. Its data files live beside it in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPORADDR_TESTS=OFF -DPORADDR_BENCH=OFF
cmake --build build --target PorAddr
exec ./build/PorAddr
