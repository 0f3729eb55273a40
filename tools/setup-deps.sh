#!/bin/sh
# Installs the Debian packages the build needs, when they are missing, and
# fetches the published standard test data (tools/fetch-standards.sh) when the
# build would not find it. Without a network the data is left out with a
# notice (the build then uses its stand-in table); that never fails the setup.
# usage: tools/setup-deps.sh [--cross]   (--cross adds the 64-bit Arm toolchain and qemu)
set -eu
cd "$(dirname "$0")/.."
packages="cmake g++ make pkg-config libgtest-dev libbenchmark-dev"
# The fuzz stage: clang, its libFuzzer and sanitizer runtimes (not a dependency
# of the clang package), and llvm-symbolizer for readable stacks.
packages="$packages clang libclang-rt-dev llvm"
# Record import (EDFlib) and hsimctl (CLI11, Cairo, yaml-cpp, nlohmann-json, cpp-httplib).
packages="$packages libedf-dev libcli11-dev libcairo2-dev libyaml-cpp-dev nlohmann-json3-dev libcpp-httplib-dev"
# The Python package (python/): its tests, plots and the offline pip install.
packages="$packages python3-numpy python3-pytest python3-matplotlib python3-setuptools python3-venv python3-pip"
[ "${1:-}" = "--cross" ] && packages="$packages googletest g++-aarch64-linux-gnu qemu-user"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
fi

# The IEC227W records, where the build looks for them (see CMakeLists.txt).
# Short time-outs: a closed network costs a few seconds at most.
if [ ! -d data/standards/IEC227W ] && [ ! -d ../shared/data/standards/IEC227W ]; then
  if ! tools/fetch-standards.sh --timeout 5; then
    echo "setup-deps: the published IEC227W records could not be fetched (see above); the build uses" \
         "its stand-in table until tools/fetch-standards.sh has run and cmake is run again" >&2
  fi
fi
