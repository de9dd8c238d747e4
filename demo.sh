#!/usr/bin/env bash
# Builds the tools, makes a one-minute sample stream and fits it to 57.6 seconds.
set -euo pipefail
cd "$(dirname "$0")"
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
ls -l "$sample"
