# Sourced by the shell tests that run the tools on films ffmpeg makes, with
# SOURCE_DIR BUILD_DIR as their arguments: skips (exit 77) without ffmpeg, puts the
# built tools first on the PATH, gives a work folder removed at the end, and counts
# failures.
source_dir=$1
build_dir=$2
if ! command -v ffmpeg >/dev/null || ! command -v ffprobe >/dev/null; then
  echo "SKIP: ffmpeg and ffprobe are not installed"
  exit 77
fi
export PATH="$build_dir:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Seconds a stream of the file plays, audio (a) or video (v): from its first packet's
# start to its last one's end.
stream_seconds() {  # stream_seconds FILE a|v
  ffprobe -v error -select_streams "$2:0" -show_entries packet=pts_time,duration_time -of csv=p=0 "$1" |
    awk -F, 'NR == 1 { first = $1 } { last = $1 + $2 } END { printf "%.6f", last - first }'
}
