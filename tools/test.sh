#!/bin/sh
# Builds everything and runs every test:
#   1. native build, all tests; the Python package's tests (pytest against the
#      emulator) and its offline pip install into a scratch venv, used from a
#      clean environment;
#   2. the front panel's page in headless Chromium (Selenium), driving
#      hsimctl serve --emulator of the native build; skipped with a notice
#      when the browser cannot be installed;
#   3. AddressSanitizer + UndefinedBehaviorSanitizer build, all tests;
#   4. libFuzzer build (clang) of the ECG file and record readers, each fuzz target run
#      for a fixed number of inputs from its seed corpus;
#   5. ThreadSanitizer build, the integration tests;
#   6. 64-bit Arm cross build, the unit tests under qemu-aarch64.
# usage: tools/test.sh [native|browser|asan|fuzz|tsan|aarch64 ...]   (default: all six)
set -eu
cd "$(dirname "$0")/.."
stages=${*:-native browser asan fuzz tsan aarch64}
jobs=$(nproc)
setup=""
case " $stages " in *" aarch64 "*) setup="--cross" ;; esac
case " $stages " in *" browser "*) setup="$setup --browser" ;; esac
# Status 3: everything but the browser is installed; the browser stage says so.
status=0
tools/setup-deps.sh $setup || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 3 ] || exit "$status"

# The fuzz targets and how many inputs each runs in the fuzz stage (about
# 20 s each on two cores; the text readers allocate their line buffer per
# input, so they run fewer).
fuzz_targets="ecg_text:100000 ecg_header:60000 ecg_binary:300000 numbers:500000 wfdb:1000000 edf:150000"

run_ctest() {  # build-dir [ctest args...]
  dir=$1; shift
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs" --timeout 300 "$@"
}

for stage in $stages; do
  echo "=== $stage ==="
  stage_start=$(date +%s)
  case $stage in
    native)
      cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
      cmake --build build-test -j"$jobs"
      run_ctest build-test
      # The Python package, pointed at this build.
      HSIM_LIBRARY=$PWD/build-test/libhsim.so
      HSIM_EMULATOR=$PWD/build-test/emulator/hsim-emu
      export HSIM_LIBRARY HSIM_EMULATOR
      # The record library is built only where EDFlib is; without it the
      # tests that need it are skipped.
      if [ -e build-test/records/libhsimrecords.so ]; then
        HSIM_RECORDS_LIBRARY=$PWD/build-test/records/libhsimrecords.so
        export HSIM_RECORDS_LIBRARY
      else
        unset HSIM_RECORDS_LIBRARY
        echo "no record library (EDFlib missing): the Python tests of record import are skipped"
      fi
      # Debian's interpreter, where its numpy, pytest and matplotlib are installed
      # (another python3 may come first on the PATH).
      python=/usr/bin/python3
      "$python" -m pytest -q -p no:cacheprovider python/tests
      # The install as README.md writes it, into a scratch venv without a
      # package index, then an emulated session in a clean environment.
      python/tests/check_install.sh build-test ;;
    browser)
      # The panel's page, served by the native build's hsimctl (built here
      # when the native stage did not run).
      missing=""
      command -v chromium >/dev/null 2>&1 || missing="$missing chromium"
      command -v chromedriver >/dev/null 2>&1 || missing="$missing chromium-driver"
      /usr/bin/python3 -c 'import selenium' 2>/dev/null || missing="$missing python3-selenium"
      if [ -n "$missing" ]; then
        echo "browser stage skipped: not installed:$missing (tools/setup-deps.sh --browser could not install it)"
      else
        cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build build-test -j"$jobs" --target hsimctl
        HSIMCTL=$PWD/build-test/cli/hsimctl HSIM_ARTEFACTS=$PWD/build-test/artefacts \
          /usr/bin/python3 -m pytest -q -rs -p no:cacheprovider tests/browser
        echo "screenshot: build-test/artefacts/panel.png"
      fi ;;
    asan)
      cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DHSIM_SANITIZE=address \
        -DHSIM_BUILD_BENCH=OFF -DHSIM_BUILD_TOOLS=OFF >/dev/null
      cmake --build build-asan -j"$jobs"
      LSAN_OPTIONS=suppressions="$PWD/tools/lsan.supp" ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_ctest build-asan -LE dryrun ;;
    fuzz)
      # A project of its own (fuzz/CMakeLists.txt), built with clang. Each
      # target writes what it finds new to a scratch directory; the committed
      # corpus is only read. A finding stops the stage, its input is kept in
      # build-fuzz/findings/ (rerun: build-fuzz/fuzz_<target> <file>).
      CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
      cmake --build build-fuzz -j"$jobs"
      scratch=$(mktemp -d)
      mkdir -p build-fuzz/findings
      for entry in $fuzz_targets; do
        target=${entry%%:*}
        if [ ! -x build-fuzz/fuzz_"$target" ]; then
          echo "fuzz_$target: not built (the record library's targets need EDFlib)"
          continue
        fi
        mkdir "$scratch/$target"
        if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            build-fuzz/fuzz_"$target" -runs="${entry#*:}" -max_len=4096 -timeout=10 -print_final_stats=1 \
            -artifact_prefix=build-fuzz/findings/"$target"- "$scratch/$target" fuzz/corpus/"$target" \
            >"$scratch/$target.log" 2>&1; then
          grep -m1 'INFO: Seed:' "$scratch/$target.log" >&2 || true
          tail -n 80 "$scratch/$target.log" >&2
          echo "fuzz_$target failed; its input is in build-fuzz/findings/" >&2
          rm -rf "$scratch"
          exit 1
        fi
        grep -E '^(Done|stat::average_exec_per_sec)' "$scratch/$target.log" | sed "s/^/fuzz_$target: /"
      done
      rm -rf "$scratch" ;;
    tsan)
      cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DHSIM_SANITIZE=thread \
        -DHSIM_BUILD_BENCH=OFF -DHSIM_BUILD_TOOLS=OFF >/dev/null
      cmake --build build-tsan -j"$jobs"
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build-tsan -L integration ;;
    aarch64)
      cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHSIM_BUILD_BENCH=OFF -DHSIM_BUILD_TOOLS=OFF \
        -DHSIM_BUILD_RECORDS=OFF >/dev/null
      cmake --build build-aarch64 -j"$jobs"
      run_ctest build-aarch64 -L unit ;;
    *) echo "unknown stage: $stage" >&2; exit 2 ;;
  esac
  echo "=== $stage passed in $(( $(date +%s) - stage_start )) s ==="
done
echo "=== all stages passed: $stages ==="
