#!/bin/sh
# Builds the library and its programs, then shows the main job against the
# built-in device emulator: what the library knows about the device, an ECG
# streamed to it, and the same ECG drawn on ECG paper.
set -eu
cd "$(dirname "$0")/.."
tools/setup-deps.sh
cmake -S . -B build -DHSIM_BUILD_BENCH=OFF -DHSIM_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target hsim-demo hsimctl hsim-emu hsim hsimrecords
mkdir -p build/demo

echo "== 1. The device, through the library (hsim-demo)"
build/tools/hsim-demo "$@"

echo
echo "== 2. An ECG streamed to the emulator for 5 s (hsimctl play)"
echo "   build/cli/hsimctl --emulator play ecg --rate 75bpm --amplitude 1mV --for 5s"
build/cli/hsimctl --emulator play ecg --rate 75bpm --amplitude 1mV --for 5s

echo
echo "== 3. The same ECG on ECG paper (hsimctl render, no device needed)"
plot="$(pwd)/build/demo/ecg-75bpm.png"
build/cli/hsimctl render ecg --rate 75bpm --amplitude 1mV --seconds 5 -o "$plot"
echo
echo "ECG paper written to: $plot"
echo "hsimctl is build/cli/hsimctl (try: build/cli/hsimctl --help); the emulator is build/emulator/hsim-emu."
