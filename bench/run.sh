#!/usr/bin/env bash
# Builds the benchmark programs (Release) and prints one "NAME RATIO" line per figure, each set
# beside a standard tool on the same files in the same run:
#   load_N_vs_wc        LoadLists time / wc -l time on both list files     (target: 5 or less)
#   load_N_vs_read      LoadLists time / reading the same files whole into new memory  (target: 1.5
#                       or less): what the loader costs beyond bringing the bytes in
#   read_N_vs_wc        reading both files whole into new memory / wc -l: the floor under any
#                       loader that keeps the text (on machines where fresh memory is slow to
#                       touch, this alone can exceed the load target)
#   save_N_vs_cp_sync   SaveLists time / cp + sync of both list files       (target: 5 or less)
#   export_N_vs_cp_sync ExportMemberList time / cp + sync of PorMem.txt
#   load_memory_1000000_vs_file  peak memory of a load above the start / file size (target: 3 or less)
#   load_long_line_256MiB_vs_wc  LoadLists time / wc -l time on a list file whose one line holds
#                       256 MiB                                              (target: 5 or less)
#   vcard_export_100000_seconds  poraddr-vcard export of a list of 100,000 entries, in seconds (target: under 1)
#   vcard_import_100000_seconds  poraddr-vcard import of those 100,000 cards into an empty list (target: under 1)
# To add a benchmark: add its executable in bench/CMakeLists.txt and a section below that prints
# its own lines with ratio().
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build-bench}
data=$build/data
sizes=${BENCH_SIZES:-10000 100000 1000000}
repeats=${BENCH_REPEATS:-3}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPORADDR_TESTS=OFF -DPORADDR_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target porbench_store >/dev/null
store="$build/bench/porbench_store"

# Best wall time in seconds of a command over $repeats runs.
best_of() {
  local best="" start end t
  for _ in $(seq "$repeats"); do
    start=$EPOCHREALTIME
    "$@" >/dev/null
    end=$EPOCHREALTIME
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  echo "$best"
}

ratio() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%s %.2f\n", n, a / b }'; }

copy_and_sync() { # cp then sync of the copies, as a plain save of the same bytes would do
  local to=$1; shift
  cp "$@" "$to"/
  sync "$to"/*
}

for n in $sizes; do
  dir=$data/$n
  if [ ! -f "$dir/PorAddr1.lst" ]; then
    rm -rf "$dir"; mkdir -p "$dir"
    "$store" generate "$dir" "$n"
  fi
  files=("$dir/PorAddr1.lst" "$dir/PorAddr2.lst")
  copies=$data/copies; rm -rf "$copies"; mkdir -p "$copies"

  wc_time=$(best_of wc -l "${files[@]}")
  load_time=$("$store" load "$dir" "$repeats")
  ratio "load_${n}_vs_wc" "$load_time" "$wc_time"
  read_time=$("$store" read "$dir" "$repeats")
  ratio "read_${n}_vs_wc" "$read_time" "$wc_time"
  ratio "load_${n}_vs_read" "$load_time" "$read_time"

  cp_time=$(best_of copy_and_sync "$copies" "${files[@]}")
  save_time=$("$store" save "$dir" "$repeats")
  ratio "save_${n}_vs_cp_sync" "$save_time" "$cp_time"

  export_time=$("$store" export "$dir" "$repeats")
  rm -rf "$copies"; mkdir -p "$copies"
  mem_cp_time=$(best_of copy_and_sync "$copies" "$dir/PorMem.txt")
  ratio "export_${n}_vs_cp_sync" "$export_time" "$mem_cp_time"
done

long=$data/long_line
if [ ! -f "$long/PorAddr2.lst" ]; then
  rm -rf "$long"; mkdir -p "$long"
  "$store" generate-long-line "$long" 256
fi
ratio "load_long_line_256MiB_vs_wc" "$("$store" load "$long" "$repeats")" "$(best_of wc -l "$long/PorAddr2.lst")"

largest=$(echo "$sizes" | tr ' ' '\n' | sort -n | tail -1)
read -r peak file_bytes < <("$store" memory "$data/$largest")
ratio "load_memory_${largest}_vs_file" "$peak" "$file_bytes"

# ---- The settings file (bench/settings_bench.cpp): a PorAddr.ini of 50 MB of blank lines, read as
# at start-up and written as at a close.
#   settings_50MB_seconds   LoadSettings then SaveSettings, in seconds          (target: under 1)
cmake --build "$build" -j "$(nproc)" --target settings_bench >/dev/null
settings_time=$("$build/bench/settings_bench" "$data/settings" "$repeats")
awk -v t="$settings_time" 'BEGIN { printf "settings_50MB_seconds %.2f\n", t }'

# ---- Start-up to the main window shown (bench/startup_bench.cpp): the real program under Xvfb with
# openbox, list 1 empty and then holding 100,000 and 1,000,000 entries (list 1 of the files above).
#   startup_100000_vs_empty   start with 100,000 entries / start with empty lists  (target: 1.5 or less)
#   startup_1000000_seconds   start with 1,000,000 entries, in seconds              (target: 2 or less)
cmake --build "$build" -j "$(nproc)" --target startup_bench PorAddr >/dev/null
startup_cases=()
for n in 100000 1000000; do
  dir=$data/$n
  if [ ! -f "$dir/PorAddr1.lst" ]; then
    rm -rf "$dir"; mkdir -p "$dir"
    "$store" generate "$dir" "$n"
  fi
  startup_cases+=("$dir/PorAddr1.lst:$n")
done
"$build/bench/startup_bench" "$build/PorAddr" "${startup_cases[@]}" --repeats "${STARTUP_REPEATS:-7}"

# ---- vCard export and import (vcard/): the real poraddr-vcard, whole runs, on list 1 of the
# 100,000-entry files above; the import goes into an empty folder each time.
cmake --build "$build" -j "$(nproc)" --target poraddr-vcard >/dev/null
vcard_tool="$build/poraddr-vcard"
dir=$data/100000
if [ ! -f "$dir/PorAddr1.lst" ]; then
  rm -rf "$dir"; mkdir -p "$dir"
  "$store" generate "$dir" 100000
fi
vcard_dir=$data/vcard; rm -rf "$vcard_dir"; mkdir -p "$vcard_dir/into"
vcard_export() { "$vcard_tool" export --list 1 "$dir" -o "$vcard_dir/friends.vcf" 2>/dev/null; }
vcard_import() {
  rm -f "$vcard_dir/into/PorAddr1.lst"
  "$vcard_tool" import "$vcard_dir/friends.vcf" --list 1 "$vcard_dir/into" 2>/dev/null
}
export_seconds=$(best_of vcard_export)
import_seconds=$(best_of vcard_import)
cmp -s "$dir/PorAddr1.lst" "$vcard_dir/into/PorAddr1.lst" || { echo "vcard round trip changed list 1" >&2; exit 1; }
awk -v t="$export_seconds" 'BEGIN { printf "vcard_export_100000_seconds %.2f\n", t }'
awk -v t="$import_seconds" 'BEGIN { printf "vcard_import_100000_seconds %.2f\n", t }'

# ---- CardDAV sync (bench/sync_bench.sh): the real poraddr-sync beside vdirsyncer and a bare curl
# client doing the same work in one run on one Radicale server started on 127.0.0.1.
#   sync_upload_1000_vs_floor          first sync of 1,000 entries into an empty book / curl PUTting
#                                      the same cards one after another         (target: 1.1 or less)
#   sync_noop_10000_seconds            sync with nothing changed, 10,000 synced   (target: under 1)
#   sync_one_change_10000_seconds      sync after one entry changed, among 10,000 (target: under 2)
#   sync_download_10000_vs_vdirsyncer  10,000 cards into an empty folder / vdirsyncer doing the same
#                                      (target: 0.5 or less)
# with the seconds of each client beside them.
cmake --build "$build" -j "$(nproc)" --target poraddr-sync porbench_store >/dev/null
bench/sync_bench.sh "$build"
