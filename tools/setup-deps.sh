#!/bin/sh
# Installs the Debian packages the build needs, when they are missing, and
# fetches the published standard test data (tools/fetch-standards.sh) when the
# build would not find it. Without a network the data is left out with a
# notice (the build then uses its stand-in table); that never fails the setup.
# usage: tools/setup-deps.sh [--cross] [--browser]
#   --cross adds the 64-bit Arm toolchain and qemu; --browser adds headless
#   Chromium, its driver and Selenium for the panel's browser tests. When only
#   those cannot be installed (no network) it says why and exits with 3.
set -eu
cd "$(dirname "$0")/.."
cross=false
browser=false
for option in "$@"; do
  case $option in
    --cross) cross=true ;;
    --browser) browser=true ;;
    *) echo "usage: tools/setup-deps.sh [--cross] [--browser]" >&2; exit 2 ;;
  esac
done
packages="cmake g++ make pkg-config libgtest-dev libbenchmark-dev"
# The fuzz stage: clang, its libFuzzer and sanitizer runtimes (not a dependency
# of the clang package), and llvm-symbolizer for readable stacks.
packages="$packages clang libclang-rt-dev llvm"
# Record import (EDFlib) and hsimctl (CLI11, Cairo, yaml-cpp, nlohmann-json, cpp-httplib).
packages="$packages libedf-dev libcli11-dev libcairo2-dev libyaml-cpp-dev nlohmann-json3-dev libcpp-httplib-dev"
# The report test reads the text of the PDF it prints (pdftotext).
packages="$packages poppler-utils"
# The Python package (python/): its tests, plots and the offline pip install.
packages="$packages python3-numpy python3-pytest python3-matplotlib python3-setuptools python3-venv python3-pip"
$cross && packages="$packages googletest g++-aarch64-linux-gnu qemu-user"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
updated=false
missing_of() {
  missing=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
}
# apt-get update (once) and install of $missing.
install_missing() {
  echo "installing:$missing"
  if ! $updated; then
    $sudo apt-get update -qq || return 1
    updated=true
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
}
missing_of $packages
if [ -n "$missing" ]; then
  install_missing
fi

# The IEC227W records, where the build looks for them (see CMakeLists.txt).
# Short time-outs: a closed network costs a few seconds at most.
if [ ! -d data/standards/IEC227W ] && [ ! -d ../shared/data/standards/IEC227W ]; then
  if ! tools/fetch-standards.sh --timeout 5; then
    echo "setup-deps: the published IEC227W records could not be fetched (see above); the build uses" \
         "its stand-in table until tools/fetch-standards.sh has run and cmake is run again" >&2
  fi
fi

# The browser tests' packages, last: without them only the browser stage is
# skipped.
if $browser; then
  missing_of chromium chromium-driver python3-selenium
  if [ -n "$missing" ] && ! install_missing; then
    echo "setup-deps: could not install$missing (no network or no package source?);" \
         "the browser tests are skipped" >&2
    exit 3
  fi
fi
