#!/usr/bin/env bash
# Builds the tools, makes one-minute sample streams (AC-3, MPEG audio Layer II, DTS) and
# fits them to 57.6 seconds: the length after a 24 fps to 25 fps speed-up, 60 * 24 / 25.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install_missing.sh
install_missing cmake make g++ libgtest-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 >/dev/null
sample=$(mktemp -d)
trap 'rm -rf "$sample"' EXIT

build/tests/make_stream ac3 48 448 60 "$sample/in.ac3" 100 50
echo "\$ ac3lenfit in.ac3"
build/ac3lenfit "$sample/in.ac3"
echo
echo "\$ ac3lenfit -t 57.6 -o out.ac3 in.ac3"
build/ac3lenfit -t 57.6 -o "$sample/out.ac3" "$sample/in.ac3"
echo
build/tests/make_stream mp2 44.1 224 60 "$sample/in.mp2" 0 20
echo "\$ mp2lenfit -t 57.6 -o out.mp2 in.mp2"
build/mp2lenfit -t 57.6 -o "$sample/out.mp2" "$sample/in.mp2"
echo
build/tests/make_stream dts 48 768 60 "$sample/in.dts"
echo "\$ dtslenfit -t 57.6 -o out.dts in.dts"
build/dtslenfit -t 57.6 -o "$sample/out.dts" "$sample/in.dts"
echo
ls -l "$sample"
