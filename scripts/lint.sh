#!/usr/bin/env bash
# The checks CI runs before it builds anything:
#   1. every tracked C++ file (*.cpp, *.h) is formatted as .clang-format says (clang-format 14);
#   2. clang-tidy, with the checks in .clang-tidy, finds nothing in store/ and platform/.
# clang-tidy reads the compile commands of a configured (not built) tree in build-lint/, so the
# files are checked with the flags and include paths the real build uses.
# Usage: scripts/lint.sh [format|tidy]   (both when no argument is given)
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
status=0

if [ "$what" = all ] || [ "$what" = format ]; then
  echo "== clang-format: tracked *.cpp and *.h files"
  # clang-format stops at the first file that differs when given several, so one file at a time.
  unformatted=()
  while IFS= read -r -d '' file; do
    case "$file" in build*/*) continue ;; esac
    clang-format --style=file --dry-run --Werror "$file" > /dev/null 2>&1 || unformatted+=("$file")
  done < <(git ls-files -z -- '*.cpp' '*.h')
  if [ ${#unformatted[@]} -gt 0 ]; then
    printf '  %s\n' "${unformatted[@]}"
    echo "FAILED: ${#unformatted[@]} file(s) differ from .clang-format; run clang-format -i on them"
    status=1
  fi
fi

if [ "$what" = all ] || [ "$what" = tidy ]; then
  echo "== clang-tidy: store/ and platform/"
  cmake -S . -B build-lint -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPORADDR_TESTS=OFF -DPORADDR_BENCH=OFF > /dev/null
  mapfile -t sources < <(git ls-files -- 'store/*.cpp' 'platform/*.cpp')
  # -quiet leaves out the count of warnings suppressed in headers outside the two folders.
  if ! clang-tidy -p build-lint -quiet "${sources[@]}" 2> build-lint/clang-tidy.err; then
    cat build-lint/clang-tidy.err
    echo "FAILED: clang-tidy"
    status=1
  fi
fi
exit $status
