#!/bin/sh
# Cuts an audio track (AC-3, E-AC-3, MP2 or DTS) as a video edit cut its video, without
# re-encoding: RATE is the video's frame rate (25, or 24000/1001 for NTSC film), TRIMS
# the ranges of video frames the edit keeps, first and last frame numbers as trims are
# written (0-999,2000-2999). The frames between the ranges, and after the last, become
# the cuts of an edit list for -e, which rounds every cut point on its own to the
# nearest audio frame, so that nothing adds up.
#
#   cut_track.sh RATE TRIMS IN OUT
set -eu
if [ $# -ne 4 ]; then
  echo "usage: cut_track.sh RATE TRIMS IN OUT"
  exit 1
fi
rate=$1 trims=$2 in=$3 out=$4
case $in in
  *.mp2) tool=mp2lenfit ;;
  *.dts) tool=dtslenfit ;;
  *) tool=ac3lenfit ;;
esac
edits=$(awk -v rate="$rate" -v trims="$trims" 'BEGIN {
  fps = split(rate, r, "/") == 2 ? r[1] / r[2] : r[1]
  next_frame = 0  # the first frame after the ranges so far
  count = split(trims, range, ",")
  for (i = 1; i <= count; i++) {
    split(range[i], frame, "-")
    if (frame[1] + 0 > next_frame) list = list sprintf("%.6f-%.6f,", next_frame / fps, frame[1] / fps)
    next_frame = frame[2] + 1
  }
  printf "%s%.6f-", list, next_frame / fps
}')
"$tool" -e "$edits" -o "$out" "$in"
