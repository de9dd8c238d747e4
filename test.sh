#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds the tools and runs the whole test
# suite; tests/README.md says what the tests do.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install_missing.sh
# ffmpeg encodes and decodes test streams, groff checks the manual pages, dpkg-dev and
# file let cpack build the Debian package.
install_missing cmake make g++ libgtest-dev ffmpeg groff dpkg-dev file
cmake -S . -B build
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
