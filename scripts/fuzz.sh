#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour sanitizers) in build-fuzz/
# and runs each for SECONDS. Fails when any target finds a crash; the input that did it is kept in
# build-fuzz/artifacts/ and belongs in fuzz/corpus/<target>/ once the code is fixed.
# PORADDR_WERROR=ON in the environment builds with warnings as errors, as scripts/test.sh does.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
jobs=$(nproc)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPORADDR_FUZZ=ON \
  -DPORADDR_WERROR="${PORADDR_WERROR:-OFF}"
cmake --build build-fuzz -j "$jobs"

mkdir -p build-fuzz/artifacts
status=0
for corpus in fuzz/corpus/*/; do
  target=$(basename "$corpus")
  # New inputs go to a scratch corpus; the repository's seeds are only read.
  work=build-fuzz/corpus/$target
  mkdir -p "$work"
  echo "== $target for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
       "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
       -max_len=65536 -artifact_prefix="build-fuzz/artifacts/$target-" "$work" "$corpus" \
       2> "build-fuzz/$target.log"; then
    tail -n 60 "build-fuzz/$target.log"
    echo "FAILED: $target (see build-fuzz/artifacts/)"
    status=1
  else
    tail -n 2 "build-fuzz/$target.log"
  fi
done
exit $status
