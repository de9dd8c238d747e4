#!/bin/sh
# Takes the first audio track (AC-3, MP2 or DTS) out of a video file without
# re-encoding, fits it to a new frame rate with ac3lenfit, mp2lenfit or dtslenfit (-r),
# and muxes it back with the video retimed to that rate, all stream copies.
#
#   refit_track.sh pal|film ac3|mp2|dts IN OUT.mp4
#
# pal:  film at 23.976 frames per second sped up to 25 (the track becomes 24000/25025
#       of its length); film: the way back. Write MP4: it stores the new frame rate
#       (Matroska keeps the old one in its header, and players then stumble).
set -eu
case $1 in
  pal) rates=23.976:25 ratio=24000/25025 ;;
  film) rates=25:23.976 ratio=25025/24000 ;;
  *) echo "usage: refit_track.sh pal|film ac3|mp2|dts IN OUT"; exit 1 ;;
esac
format=$2 in=$3 out=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -v error -y -i "$in" -map 0:a:0 -c copy -f "$format" "$work/track.$format"
"${format}lenfit" -r "$rates" -o "$work/fitted.$format" "$work/track.$format"
scale=$(awk -v ratio="$ratio" 'BEGIN { split(ratio, r, "/"); printf "%.9f", r[1] / r[2] }')
ffmpeg -v error -y -itsscale "$scale" -i "$in" -i "$work/fitted.$format" -map 0:v:0 -map 1:a:0 -c copy "$out"
