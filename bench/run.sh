#!/usr/bin/env bash
# Throughput and memory of both tools against cat, on one machine in one run.
#
#   bench/run.sh [SIZE_MB]     (default 1024: streams of about 1 GiB)
#
# Makes four streams (AC-3 48 kHz 448 kbit/s; AC-3 44.1 kHz 192 kbit/s with mixed frame
# sizes; Layer II 44.1 kHz 224 kbit/s with mixed padding; AC-3 48 kHz switching between
# 448 and 192 kbit/s every quarter), times `cat IN > OUT` against each tool measuring
# the stream (no -o) and fitting it 4 % shorter and 4 % longer, and measures the tools'
# peak resident memory on a 10 MB and a SIZE_MB input. Prints a table of medians, their
# ratio and the ratio of the fastest runs, and, as its last lines, the worst ratios.
# Times on shared machines are noisy: this is a report, not a test.
#
# Each stream is dropped from the page cache once made, so that the first run reads it
# from disk, as it would a user's file, rather than finding the pieces the generator
# wrote. The four commands take turns, run after run, each round starting one command
# further on, so that whatever else the machine does weighs on each alike. Before every
# timed run the previous output is deleted and the page cache synced: the run then times
# reading and writing alone, not the file system freeing (on some mounts, discarding)
# the blocks of the output it replaces. A virtual machine may hand free memory back to
# its host (free page reporting); a run during which it did so writes into pages the
# host must first supply again, which can take several times the run itself and says
# nothing of the command, so that run is timed again once the hand-back is over.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-1024}
runs=${BENCH_RUNS:-15}

if [ ! -x /usr/bin/time ]; then
  apt-get update >/dev/null && apt-get install -y time >/dev/null
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
median_of() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
best_of() { sort -g "$1" | head -n 1; }
ratio_of() { awk -v t="$1" -v c="$2" 'BEGIN { printf "%.2f", t / c }'; }
higher_of() { awk -v r="$1" -v w="$2" 'BEGIN { print (r > w) ? r : w }'; }

reported=/sys/module/page_reporting/parameters/reported_kib
memory_handed_back() { cat "$reported" 2>/dev/null || echo 0; }
timed_again=0
# CPU time the host gave to others while a timed run wanted it (steal, in clock ticks).
stolen_ticks() { awk '$1 == "cpu" { print $9 + 0 }' /proc/stat; }
stolen=0

# time_run COMMAND: seconds one run of COMMAND takes, writing a fresh output.
time_run() {
  local try before ticks_before start end
  for try in 1 2 3 4 5; do
    before=$(memory_handed_back)
    rm -f "$work/out"
    sync
    ticks_before=$(stolen_ticks)
    start=$EPOCHREALTIME
    eval "$1" >/dev/null
    end=$EPOCHREALTIME
    stolen=$((stolen + $(stolen_ticks) - ticks_before))
    [ "$(memory_handed_back)" = "$before" ] && break
    timed_again=$((timed_again + 1))
    sleep 3
  done
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }'
}

printf '%-20s %-8s %10s %10s %8s %8s\n' stream change "tool (s)" "cat (s)" ratio best > "$work/table"
worst=0
worst_best=0
worst_estimate=0
for line in "${streams[@]}"; do
  read -r name tool format rate bitrate rate_bytes <<<"$line"
  in="$work/$name.$format"
  make "$in" "$format" "$rate" "$bitrate" $((size_mb * 1048576 / rate_bytes))
  length=$(original_seconds "$tool" "$in")
  sync "$in" && dd if="$in" iflag=nocache count=0 status=none
  shorter=$(awk -v l="$length" 'BEGIN { printf "%.3f", l * 0.96 }')
  longer=$(awk -v l="$length" 'BEGIN { printf "%.3f", l * 1.04 }')
  declare -A commands=(
    [cat]="cat $in > $work/out"
    [estimate]="$bin/$tool $in"
    [shorter]="$bin/$tool -t $shorter -o $work/out $in"
    [longer]="$bin/$tool -t $longer -o $work/out $in"
  )
  changes=(cat estimate shorter longer)
  for change in "${changes[@]}"; do eval "${commands[$change]}" >/dev/null; done  # warm-up
  # Each run starts one command further on, so that no command always follows the same
  # one (and the output it leaves to be freed).
  for run in $(seq "$runs"); do
    for turn in 0 1 2 3; do
      change=${changes[$(((run + turn) % 4))]}
      time_run "${commands[$change]}" >> "$work/$name.$change"
    done
  done
  cat_median=$(median_of "$work/$name.cat")
  cat_best=$(best_of "$work/$name.cat")
  for change in estimate shorter longer; do
    median=$(median_of "$work/$name.$change")
    ratio=$(ratio_of "$median" "$cat_median")
    best=$(ratio_of "$(best_of "$work/$name.$change")" "$cat_best")
    if [ "$change" = estimate ]; then
      worst_estimate=$(higher_of "$ratio" "$worst_estimate")
    else
      worst=$(higher_of "$ratio" "$worst")
      worst_best=$(higher_of "$best" "$worst_best")
    fi
    printf '%-20s %-8s %10.3f %10.3f %8s %8s\n' "$name" "$change" "$median" "$cat_median" "$ratio" "$best" >> "$work/table"
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
echo "Streams of about $size_mb MiB, medians of $runs runs, commands taking turns; runs timed again: $timed_again"
cat "$work/table"
echo "peak memory (mp2lenfit -t, KiB): 10 MB input $memory_small, $size_mb MiB input $memory_big"
echo "CPU time the host took from the timed runs (steal): $(awk -v t="$stolen" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.1f", t / hz }') s"
echo "worst ratio, estimate only: $worst_estimate"
echo "worst ratio, with -o: $worst (fastest runs: $worst_best)"
