#!/bin/sh
# Installs the library into a scratch prefix and builds an application
# against it twice: with find_package(hsim) and with pkg-config.
# usage: check_install.sh <build dir> <consumer source dir>
set -eu
build=$1
consumer=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
cmake -S "$consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
LD_LIBRARY_PATH="$scratch/prefix/lib:$scratch/prefix/lib64:$(ls -d "$scratch"/prefix/lib/*-linux-gnu 2>/dev/null | tr '\n' ':')" \
  "$scratch/consumer/consumer"
pcdir=$(dirname "$(find "$scratch/prefix" -name hsim.pc | head -n 1)")
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs hsim)
# shellcheck disable=SC2086
c++ -std=c++20 "$consumer/consumer.cpp" $flags -o "$scratch/pc-consumer"
libdir=$(PKG_CONFIG_PATH="$pcdir" pkg-config --variable=libdir hsim)
LD_LIBRARY_PATH="$libdir" "$scratch/pc-consumer"
soname=$(readelf -d "$libdir/libhsim.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = "libhsim.so.1" ] || { echo "soname is '$soname', not libhsim.so.1" >&2; exit 1; }
[ -e "$libdir/libhsim.so.1.0.5" ] || { echo "libhsim.so.1.0.5 missing" >&2; exit 1; }
echo "installed library builds with find_package and pkg-config"
