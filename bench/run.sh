#!/usr/bin/env bash
# Throughput and memory of the tools against cat, in the two states a user's file is in.
#
#   bench/run.sh [SIZE_MB]     (default 256: streams of about 256 MiB)
#
# Six streams (AC-3 48 kHz 448 kbit/s; AC-3 44.1 kHz 192 kbit/s with mixed frame sizes;
# Layer II 44.1 kHz 224 kbit/s with mixed padding; AC-3 48 kHz switching between 448 and
# 192 kbit/s every quarter; DTS 48 kHz 1509 kbit/s; DTS-HD 48 kHz 3000 kbit/s, each core
# frame with an extension substream frame), each timed in two states:
#   written  the stream as ffmpeg has just written it (ffmpeg -c copy), as a track is
#            just extracted before it is fitted: it sits in the page cache in small pages;
#   disk     dropped from the page cache, then read back from disk.
# In each state `cat IN > OUT`, the estimate (no -o), and fits 4 % shorter and 4 % longer
# take turns, run after run, each round starting one command further on. Prints medians,
# their ratio to cat's and the ratio of the fastest runs, then the peak resident memory
# of a run on a 10 MB and on a SIZE_MB input. A report, not a test: times on shared
# machines are noisy.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-256}
runs=${BENCH_RUNS:-7}

if [ ! -x /usr/bin/time ]; then
  apt-get update >/dev/null && apt-get install -y time >/dev/null
fi
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j2 --target ac3lenfit mp2lenfit dtslenfit make_stream >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/lenfit-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
bin=build-bench

# name tool format rate bitrate bytes_per_second
streams=(
  "ac3-48k-448 ac3lenfit ac3 48 448 56000"
  "ac3-44k-192-mixed ac3lenfit ac3 44.1 192 24000"
  "mp2-44k-224-padded mp2lenfit mp2 44.1 224 28000"
  "ac3-48k-switching ac3lenfit ac3 48 switch 40000"
  "dts-48k-1509 dtslenfit dts 48 1509 188625"
  "dtshd-48k-3000 dtslenfit dtshd 48 3000 375000"
)

# make OUT FORMAT RATE BITRATE SECONDS: one stream, or for bitrate "switch" four quarters
# at 448, 192, 448 and 192 kbit/s back to back.
make() {
  if [ "$4" != switch ]; then "$bin/tests/make_stream" "$2" "$3" "$4" "$5" "$1" 100 50; return; fi
  local quarter=$(($5 / 4))
  "$bin/tests/make_stream" "$2" "$3" 448 "$quarter" "$1.448"
  "$bin/tests/make_stream" "$2" "$3" 192 "$quarter" "$1.192"
  cat "$1.448" "$1.192" "$1.448" "$1.192" > "$1"
  rm -f "$1.448" "$1.192"
}

# written MADE IN FORMAT: IN as a user has it just after extracting the track.
written() {
  if command -v ffmpeg >/dev/null; then
    local demuxer=$3 muxer=$3
    [ "$3" = mp2 ] && demuxer=mp3  # ffmpeg reads all MPEG audio layers as mp3
    [ "$3" = dtshd ] && demuxer=dts muxer=dts
    ffmpeg -nostdin -v fatal -y -f "$demuxer" -i "$1" -c copy -f "$muxer" "$2"
  else
    cp "$1" "$2"
  fi
}

original_seconds() { "$bin/$1" "$2" | sed -n 's/^Original length of audio is \([0-9.e+]*\) seconds.*/\1/p'; }
median_of() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
best_of() { sort -g "$1" | head -n 1; }
ratio_of() { awk -v t="$1" -v c="$2" 'BEGIN { printf "%.2f", t / c }'; }

# time_run COMMAND: seconds one run of COMMAND takes, writing a fresh output.
time_run() {
  local start end
  rm -f "$work/out"
  sync
  start=$EPOCHREALTIME
  eval "$1" >/dev/null
  end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }'
}

printf '%-20s %-8s %-9s %9s %9s %7s %7s\n' stream state change "tool (s)" "cat (s)" ratio best > "$work/table"
for line in "${streams[@]}"; do
  read -r name tool format rate bitrate rate_bytes <<<"$line"
  made="$work/made.$format"
  in="$work/$name.$format"
  make "$made" "$format" "$rate" "$bitrate" $((size_mb * 1048576 / rate_bytes))
  written "$made" "$in" "$format"
  rm -f "$made"
  length=$(original_seconds "$tool" "$in")
  shorter=$(awk -v l="$length" 'BEGIN { printf "%.3f", l * 0.96 }')
  longer=$(awk -v l="$length" 'BEGIN { printf "%.3f", l * 1.04 }')
  declare -A commands=(
    [cat]="cat $in > $work/out"
    [estimate]="$bin/$tool $in"
    [shorter]="$bin/$tool -t $shorter -o $work/out $in"
    [longer]="$bin/$tool -t $longer -o $work/out $in"
  )
  changes=(cat estimate shorter longer)
  for state in written disk; do
    if [ "$state" = disk ]; then
      sync "$in" && dd if="$in" iflag=nocache count=0 status=none
      cat "$in" > /dev/null
    fi
    for run in $(seq "$runs"); do
      for turn in 0 1 2 3; do
        change=${changes[$(((run + turn) % 4))]}
        time_run "${commands[$change]}" >> "$work/$name.$state.$change"
      done
    done
    cat_median=$(median_of "$work/$name.$state.cat")
    cat_best=$(best_of "$work/$name.$state.cat")
    for change in estimate shorter longer; do
      median=$(median_of "$work/$name.$state.$change")
      printf '%-20s %-8s %-9s %9.3f %9.3f %7s %7s\n' "$name" "$state" "$change" "$median" "$cat_median" \
        "$(ratio_of "$median" "$cat_median")" "$(ratio_of "$(best_of "$work/$name.$state.$change")" "$cat_best")" \
        >> "$work/table"
    done
  done
  rm -f "$work/out"
  if [ "$name" = mp2-44k-224-padded ]; then big=$in; big_tool=$tool; big_length=$shorter; else rm -f "$in"; fi
done

small="$work/small.mp2"
"$bin/tests/make_stream" mp2 44.1 224 $((10 * 1048576 / 28000)) "$small"
small_length=$(awk -v l="$(original_seconds mp2lenfit "$small")" 'BEGIN { printf "%.3f", l * 0.96 }')
memory_small=$(/usr/bin/time -f %M "$bin/mp2lenfit" -t "$small_length" -o "$work/out" "$small" 2>&1 >/dev/null)
memory_big=$(/usr/bin/time -f %M "$bin/$big_tool" -t "$big_length" -o "$work/out" "$big" 2>&1 >/dev/null)

echo "Machine: $(nproc) cores, $(awk '/model name/ { $1 = $2 = $3 = ""; print; exit }' /proc/cpuinfo | sed 's/^ *//')"
echo "Streams of about $size_mb MiB, medians of $runs runs, commands taking turns"
cat "$work/table"
echo "peak memory (mp2lenfit -t -o, KiB): 10 MB input $memory_small, $size_mb MiB input $memory_big"
