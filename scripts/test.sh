#!/usr/bin/env bash
# Installs what is missing, checks formatting and runs clang-tidy (scripts/lint.sh), then builds with
# warnings as errors and runs every test: the suites (end-to-end ones under Xvfb), the same suites
# under AddressSanitizer and UndefinedBehaviorSanitizer, and bounded fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

bash scripts/lint.sh

echo "== Build and run the test suites"
cmake -S . -B build-tests -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPORADDR_WERROR=ON
cmake --build build-tests -j "$jobs"
(cd build-tests && ctest --output-on-failure -j "$jobs")

echo "== The same suites under AddressSanitizer and UndefinedBehaviorSanitizer (end-to-end ones aside)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPORADDR_SANITIZE=ON -DPORADDR_BENCH=OFF \
  -DPORADDR_WERROR=ON
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$jobs" -LE e2e)

echo "== Bounded fuzz runs of the file parsers"
PORADDR_WERROR=ON bash scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
