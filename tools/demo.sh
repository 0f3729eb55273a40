#!/bin/sh
# Builds the library and runs the demo against the built-in device emulator.
set -eu
cd "$(dirname "$0")/.."
tools/setup-deps.sh
cmake -S . -B build -DHSIM_BUILD_BENCH=OFF -DHSIM_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target hsim-demo
exec build/tools/hsim-demo "$@"
