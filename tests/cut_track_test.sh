#!/usr/bin/env bash
# examples/cut_track.sh against a video edit: a 30-second film at 25 frames per second
# (AC-3), at 24000/1001 (MP2) and at 30000/1001 (DTS) keeps two ranges of its frames; ffmpeg cuts the video
# with the same ranges through its select filter, the script cuts the track, and the
# two muxed must play equally long, to within one audio frame, and decode cleanly.
#   cut_track_test.sh SOURCE_DIR BUILD_DIR     (exit 77: skipped, no ffmpeg)
set -euo pipefail
source "$(dirname "$0")/ffmpeg_test_setup.sh"

trims=50-249,400-699
for case in "ac3 25 0.032 192k" "mp2 24000/1001 0.024 192k" "dts 30000/1001 0.0107 768k -strict -2"; do
  read -r format rate frame bitrate encoder_options <<<"$case"
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=160x120:rate=$rate:duration=30" -c:v mpeg4 "$work/film.mp4"
  # shellcheck disable=SC2086 # the encoder's options are words
  ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000:duration=30 -c:a "$format" \
    -b:a "$bitrate" $encoder_options "$work/track.$format"
  ffmpeg -nostdin -v error -y -i "$work/film.mp4" \
    -vf "select='between(n,50,249)+between(n,400,699)',setpts=N/FRAME_RATE/TB" -c:v mpeg4 "$work/cut.mp4"
  sh "$source_dir/examples/cut_track.sh" "$rate" "$trims" "$work/track.$format" "$work/cut.$format" \
    >"$work/report" || fail "$format: the script failed: $(cat "$work/report")"
  grep -q '^Edited length is ' "$work/report" || fail "$format: no edited length in the report"
  ffmpeg -nostdin -v error -y -i "$work/cut.mp4" -i "$work/cut.$format" -map 0:v -map 1:a -c copy "$work/muxed.mp4"
  video=$(stream_seconds "$work/muxed.mp4" v)
  audio=$(stream_seconds "$work/muxed.mp4" a)
  awk -v v="$video" -v a="$audio" -v f="$frame" 'BEGIN { d = v - a; exit !(d <= f && -d <= f) }' ||
    fail "$format at $rate: video plays $video s, audio $audio s"
  errors=$(ffmpeg -nostdin -v error -i "$work/muxed.mp4" -f null - 2>&1 | wc -l)
  [ "$errors" -eq 0 ] || fail "$format: ffmpeg printed $errors error lines decoding the result"
done

[ "$failures" -eq 0 ] && echo "cut track against a video edit: all checks passed"
exit $((failures > 0))
