#!/usr/bin/env bash
# Throughput and memory of both tools against cat, on one machine in one run.
#
#   bench/run.sh [SIZE_MB]     (default 1024: streams of about 1 GiB)
#
# Makes four streams (AC-3 48 kHz 448 kbit/s; AC-3 44.1 kHz 192 kbit/s with mixed frame
# sizes; Layer II 44.1 kHz 224 kbit/s with mixed padding; AC-3 48 kHz switching between
# 448 and 192 kbit/s every quarter), times `cat IN > OUT` against each tool measuring
# the stream (no -o) and fitting it 4 % shorter and 4 % longer (hyperfine, medians), and
# measures the tools' peak resident memory on a 10 MB and a SIZE_MB input. Prints a table
# and, as its last lines, the worst tool/cat ratios. Times on shared machines are noisy:
# this is a report, not a test.
#
# Each stream is dropped from the page cache once made, so that the first run reads it
# from disk, as it would a user's file, rather than finding the pieces the generator
# wrote. Before every timed run the previous output is deleted and the page cache
# synced: the run then times reading and writing alone, not the file system freeing
# (on some mounts, discarding) the blocks of the output it replaces.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-1024}
runs=${BENCH_RUNS:-9}

if ! command -v hyperfine >/dev/null || [ ! -x /usr/bin/time ]; then
  apt-get update >/dev/null && apt-get install -y hyperfine time >/dev/null
fi
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j2 --target ac3lenfit mp2lenfit make_stream >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/lenfit-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
bin=build-bench

# name tool format rate bitrate bytes_per_second
streams=(
  "ac3-48k-448 ac3lenfit ac3 48 448 56000"
  "ac3-44k-192-mixed ac3lenfit ac3 44.1 192 24000"
  "mp2-44k-224-padded mp2lenfit mp2 44.1 224 28000"
  "ac3-48k-switching ac3lenfit ac3 48 switch 40000"
)

# make IN FORMAT RATE BITRATE SECONDS: one stream, or for bitrate "switch" four quarters
# at 448, 192, 448 and 192 kbit/s back to back.
make() {
  if [ "$4" != switch ]; then "$bin/tests/make_stream" "$2" "$3" "$4" "$5" "$1" 100 50; return; fi
  local quarter=$(($5 / 4))
  "$bin/tests/make_stream" "$2" "$3" 448 "$quarter" "$1.448"
  "$bin/tests/make_stream" "$2" "$3" 192 "$quarter" "$1.192"
  cat "$1.448" "$1.192" "$1.448" "$1.192" > "$1"
  rm -f "$1.448" "$1.192"
}

original_seconds() { "$bin/$1" "$2" | sed -n 's/^Original length of audio is \([0-9.e+]*\) seconds.*/\1/p'; }
median_of() { awk -F, -v cmd="$2" 'NR > 1 && $1 == cmd { print $4 }' "$1"; }

printf '%-20s %-8s %10s %10s %8s\n' stream change "tool (s)" "cat (s)" ratio > "$work/table"
worst=0
worst_estimate=0
for line in "${streams[@]}"; do
  read -r name tool format rate bitrate rate_bytes <<<"$line"
  in="$work/$name.$format"
  make "$in" "$format" "$rate" "$bitrate" $((size_mb * 1048576 / rate_bytes))
  length=$(original_seconds "$tool" "$in")
  sync "$in" && dd if="$in" iflag=nocache count=0 status=none
  shorter=$(awk -v l="$length" 'BEGIN { printf "%.3f", l * 0.96 }')
  longer=$(awk -v l="$length" 'BEGIN { printf "%.3f", l * 1.04 }')
  hyperfine --style none --warmup 1 --runs "$runs" --prepare "rm -f $work/out; sync" --export-csv "$work/$name.csv" \
    -n cat "cat $in > $work/out" \
    -n estimate "$bin/$tool $in" \
    -n shorter "$bin/$tool -t $shorter -o $work/out $in" \
    -n longer "$bin/$tool -t $longer -o $work/out $in" >/dev/null
  cat_median=$(median_of "$work/$name.csv" cat)
  for change in estimate shorter longer; do
    median=$(median_of "$work/$name.csv" "$change")
    ratio=$(awk -v t="$median" -v c="$cat_median" 'BEGIN { printf "%.2f", t / c }')
    if [ "$change" = estimate ]; then
      worst_estimate=$(awk -v r="$ratio" -v w="$worst_estimate" 'BEGIN { print (r > w) ? r : w }')
    else
      worst=$(awk -v r="$ratio" -v w="$worst" 'BEGIN { print (r > w) ? r : w }')
    fi
    printf '%-20s %-8s %10.3f %10.3f %8s\n' "$name" "$change" "$median" "$cat_median" "$ratio" >> "$work/table"
  done
  rm -f "$work/out"
  if [ "$name" = mp2-44k-224-padded ]; then big=$in; big_tool=$tool; big_length=$shorter; fi
done

small="$work/small.mp2"
"$bin/tests/make_stream" mp2 44.1 224 $((10 * 1048576 / 28000)) "$small"
small_length=$(awk -v l="$(original_seconds mp2lenfit "$small")" 'BEGIN { printf "%.3f", l * 0.96 }')
memory_small=$(/usr/bin/time -f %M "$bin/mp2lenfit" -t "$small_length" -o "$work/out" "$small" 2>&1 >/dev/null)
memory_big=$(/usr/bin/time -f %M "$bin/$big_tool" -t "$big_length" -o "$work/out" "$big" 2>&1 >/dev/null)

echo "Machine: $(nproc) cores, $(awk '/model name/ { $1 = $2 = $3 = ""; print; exit }' /proc/cpuinfo | sed 's/^ *//')"
echo "Streams of about $size_mb MiB, medians of $runs runs (hyperfine)"
cat "$work/table"
echo "peak memory (mp2lenfit -t, KiB): 10 MB input $memory_small, $size_mb MiB input $memory_big"
echo "worst ratio, estimate only: $worst_estimate"
echo "worst ratio, with -o: $worst"
