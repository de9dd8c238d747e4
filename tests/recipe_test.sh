#!/usr/bin/env bash
# The recipe "From a video file and back" of the README, run as written on a short film
# with an AC-3 track and one with an MP2 track: the muxed result's audio must play for
# the fitted length to within one frame and decode without an error, both ways.
#   recipe_test.sh SOURCE_DIR BUILD_DIR     (exit 77: skipped, no ffmpeg)
set -euo pipefail
source "$(dirname "$0")/ffmpeg_test_setup.sh"
script="$source_dir/examples/refit_track.sh"

# The README shows the script's lines after `set -eu`, its commands; none may drift.
shown=0
while IFS= read -r line; do
  [ -n "$line" ] || continue
  shown=$((shown + 1))
  grep -qxF "    $line" "$source_dir/README.md" || fail "README does not show: $line"
done < <(sed '1,/^set -eu$/d' "$script")
[ "$shown" -ge 10 ] || fail "the script has $shown command lines after set -eu; the check expects its whole body"

# The length the tool reports having written: frames times one frame's playing time.
fitted_seconds() {
  sed -n 's/.* in \([0-9]*\) frames\.$/\1/p' "$1" | awk -v frame="$2" '{ printf "%.6f", $1 * frame }'
}
check() {  # check NAME FILE REPORT FRAME_SECONDS
  local got want
  got=$(stream_seconds "$2" a)
  want=$(fitted_seconds "$3" "$4")
  awk -v g="$got" -v w="$want" -v f="$4" 'BEGIN { d = g - w; exit !(d <= f && -d <= f) }' ||
    fail "$1: audio plays $got s, the tool wrote $want s"
  local errors
  errors=$(ffmpeg -nostdin -v error -i "$2" -f null - 2>&1 | wc -l)
  [ "$errors" -eq 0 ] || fail "$1: ffmpeg printed $errors error lines decoding it"
}

for format in ac3 mp2; do
  frame=0.032
  [ "$format" = mp2 ] && frame=0.024
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=24000/1001:duration=8 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=8 -c:v mpeg4 -c:a "$format" -b:a 192k \
    "$work/film.mp4"
  sh "$script" pal "$format" "$work/film.mp4" "$work/pal.mp4" > "$work/pal.txt" || fail "$format: pal run failed"
  check "$format pal" "$work/pal.mp4" "$work/pal.txt" "$frame"
  sh "$script" film "$format" "$work/pal.mp4" "$work/back.mp4" > "$work/back.txt" || fail "$format: film run failed"
  check "$format film" "$work/back.mp4" "$work/back.txt" "$frame"
  grep -q '^Removed ' "$work/pal.txt" && grep -q '^Inserted ' "$work/back.txt" ||
    fail "$format: the speed-up must drop frames and the way back insert them"
done

[ "$failures" -eq 0 ] && echo "recipe from a video file and back: all checks passed"
exit $((failures > 0))
