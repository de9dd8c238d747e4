#!/usr/bin/env bash
# The Windows build against the Linux build, under wine: cross-builds the tools (.exe)
# with mingw-w64, packs the zip, and runs both builds on the same cases
# (every fixture fitted to no target, -3 %, +3 %, -20 %, +40 % and its own length, with
# delays, advances and frame-rate fits, bad input and bad command lines, Unicode and
# long names): standard output, exit status and output bytes must be identical. Then
# the cases only Windows has: the input named another way as the output.
#   windows_test.sh SOURCE_DIR BUILD_DIR     (exit 77: skipped, no mingw-w64 or wine)
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
wine=/usr/lib/wine/wine64
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [ ! -x "$wine" ]; then
  echo "SKIP: g++-mingw-w64-x86-64-posix or wine64 is not installed"
  exit 77
fi

windows_build="$build_dir/windows"
cmake -S "$source_dir" -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$windows_build" -j2 >/dev/null
(cd "$windows_build" && cpack -G ZIP >/dev/null)

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
failures=0
cases=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

zip_contents=$(cd "$work" && cmake -E tar tf "$windows_build/lenfit-1.0.0-win64.zip" | grep -v '/$' | sed 's|.*/||' | sort)
# A tool per format folder.
tools=$(cd "$source_dir" && ls -- */main.cpp | sed 's|/main.cpp$|lenfit|')
[ "$zip_contents" = "$( (echo README.md; for tool in $tools; do echo "$tool.exe"; echo "$tool.txt"; done) | sort)" ] ||
  fail "the zip holds: $zip_contents"

# The first start makes wine's prefix; a server that stays makes every later start quick.
"$wine" "$windows_build/ac3lenfit.exe" >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -p || true

run_dir="$work/run"
mkdir -p "$run_dir"
# run BUILD TOOL ARGS...: runs in run_dir and leaves standard output, status and the
# file named out (or nothing) under $work/BUILD.*
run() {
  local build=$1 tool=$2 status=0
  shift 2
  rm -f "$run_dir/out" "$work/$build.file"
  if [ "$build" = linux ]; then
    (cd "$run_dir" && "$build_dir/$tool" "$@") > "$work/$build.stdout" 2>"$work/$build.stderr" || status=$?
  else
    (cd "$run_dir" && "$wine" "$windows_build/$tool.exe" "$@") > "$work/$build.stdout" 2>"$work/$build.stderr" ||
      status=$?
  fi
  echo "$status" > "$work/$build.status"
  if [ -f "$run_dir/out" ]; then mv "$run_dir/out" "$work/$build.file"; fi
}
# same TOOL ARGS...: both builds agree.
same() {
  cases=$((cases + 1))
  run linux "$@"
  run windows "$@"
  local what
  for what in stdout status file; do
    if [ -e "$work/linux.$what" ] || [ -e "$work/windows.$what" ]; then
      cmp -s "$work/linux.$what" "$work/windows.$what" || fail "$*: the $what differs"
    fi
  done
  [ -s "$work/windows.stderr" ] && fail "$*: wrote to standard error"
  return 0
}

for fixture in "$source_dir"/tests/fixtures/*; do
  name=$(basename "$fixture")
  [ "${name%.sh}" = "$name" ] || continue
  # The format's name starts the fixture's; ac3lenfit reads E-AC-3 too.
  tool=${name%%_*}lenfit
  [ "$tool" = eac3lenfit ] && tool=ac3lenfit
  cp "$fixture" "$run_dir/$name"
  length=$("$build_dir/$tool" "$run_dir/$name" | sed -n 's/^Original length of audio is \([^ ]*\) seconds.*/\1/p')
  same "$tool" -o out "$name"
  for factor in 0.97 1.03 0.8 1.4 1; do
    same "$tool" -t "$(awk -v l="$length" -v f="$factor" 'BEGIN { printf "%.6f", l * f }')" -o out "$name"
  done
  same "$tool" -d 100 -o out "$name"
  same "$tool" -d -70ms -t "$length" -o out "$name"
  same "$tool" -r 23.976:25 -d 200 -o out "$name"
  same "$tool" /r 25:24000/1001 "$name"
done

# Bad input and bad command lines, as far as Windows has them.
head -c 5000 "$source_dir/tests/fixtures/ac3_48k_stereo_192k.ac3" > "$run_dir/short.ac3"
head -c 30000 /dev/urandom > "$run_dir/noise.ac3"
mkdir -p "$run_dir/folder"
for tool in $tools; do
  same "$tool"
  same "$tool" -x in.ac3
  same "$tool" -t nan -o out ac3_48k_stereo_192k.ac3
  same "$tool" -d 1e9 -o out ac3_48k_stereo_192k.ac3
  same "$tool" -r 25:24 -t 90 ac3_48k_stereo_192k.ac3
  same "$tool" a b c d e f g h
  same "$tool" missing.ac3
  same "$tool" -o out folder
  same "$tool" short.ac3
  same "$tool" noise.ac3
  same "$tool" mp2_48k_stereo_192k.mp2
  same "$tool" dts_48k_5.1_768k.dts
  same "$tool" ac3_48k_stereo_192k.ac3
  same "$tool" -o missing/out ac3_48k_stereo_192k.ac3
done

# Names as Windows users have them: Unicode, spaces, and paths of over 260 characters.
cp "$source_dir/tests/fixtures/ac3_48k_5.1_384k.ac3" "$run_dir/Film – Ä 日本.ac3"
same ac3lenfit -t 1 -o out "Film – Ä 日本.ac3"
long=$(printf 'd%.0s' $(seq 120))
mkdir -p "$run_dir/$long/$long/$long"
cp "$source_dir/tests/fixtures/mp2_48k_stereo_192k.mp2" "$run_dir/$long/$long/$long/in.mp2"
same mp2lenfit -t 0.9 -o out "$long/$long/$long/in.mp2"
same mp2lenfit -o "$long/$long/out.mp2" "$long/$long/$long/in.mp2"
cmp -s "$run_dir/$long/$long/$long/in.mp2" "$source_dir/tests/fixtures/mp2_48k_stereo_192k.mp2" ||
  fail "the long-named input changed"

# The input named another way is never overwritten: letter case, .\, / for \, a hard
# link; the message names the output as given.
mkdir -p "$run_dir/sub"
cp "$source_dir/tests/fixtures/ac3_48k_stereo_192k.ac3" "$run_dir/sub/in.ac3"
ln "$run_dir/sub/in.ac3" "$run_dir/sub/hard.ac3"
for output in 'sub\IN.AC3' '.\sub\in.ac3' 'sub/in.ac3' 'sub\hard.ac3' 'sub\..\sub\in.ac3'; do
  cases=$((cases + 1))
  run windows ac3lenfit -o "$output" 'sub\in.ac3'
  [ "$(cat "$work/windows.status")" = 1 ] || fail "-o $output: status $(cat "$work/windows.status")"
  [ "$(cat "$work/windows.stdout")" = "File $output is the input file and cannot be overwritten" ] ||
    fail "-o $output: $(cat "$work/windows.stdout")"
  cmp -s "$run_dir/sub/in.ac3" "$source_dir/tests/fixtures/ac3_48k_stereo_192k.ac3" || fail "-o $output: input changed"
done

echo "Windows build against Linux build: $cases cases, $failures failed"
[ "$failures" -eq 0 ] && echo "windows differential test: all checks passed"
exit $((failures > 0))
