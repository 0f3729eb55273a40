#!/bin/sh
# Builds everything and runs every test:
#   1. native build, all tests;
#   2. AddressSanitizer + UndefinedBehaviorSanitizer build, all tests;
#   3. ThreadSanitizer build, the integration tests;
#   4. 64-bit Arm cross build, the unit tests under qemu-aarch64.
# usage: tools/test.sh [native|asan|tsan|aarch64 ...]   (default: all four)
set -eu
cd "$(dirname "$0")/.."
stages=${*:-native asan tsan aarch64}
jobs=$(nproc)
case " $stages " in *" aarch64 "*) tools/setup-deps.sh --cross ;; *) tools/setup-deps.sh ;; esac

run_ctest() {  # build-dir [ctest args...]
  dir=$1; shift
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs" --timeout 300 "$@"
}

for stage in $stages; do
  echo "=== $stage ==="
  case $stage in
    native)
      cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
      cmake --build build-test -j"$jobs"
      run_ctest build-test ;;
    asan)
      cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DHSIM_SANITIZE=address \
        -DHSIM_BUILD_BENCH=OFF -DHSIM_BUILD_TOOLS=OFF >/dev/null
      cmake --build build-asan -j"$jobs"
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_ctest build-asan ;;
    tsan)
      cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DHSIM_SANITIZE=thread \
        -DHSIM_BUILD_BENCH=OFF -DHSIM_BUILD_TOOLS=OFF >/dev/null
      cmake --build build-tsan -j"$jobs"
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build-tsan -L integration ;;
    aarch64)
      cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHSIM_BUILD_BENCH=OFF -DHSIM_BUILD_TOOLS=OFF >/dev/null
      cmake --build build-aarch64 -j"$jobs"
      run_ctest build-aarch64 -L unit ;;
    *) echo "unknown stage: $stage" >&2; exit 2 ;;
  esac
done
echo "=== all stages passed: $stages ==="
