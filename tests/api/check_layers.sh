#!/bin/sh
# The include check passes on the sources and fails on each planted wrong
# include: a lower layer reaching a higher one, the file readers reaching a
# layer or reached from one below the exported API, internal code reaching the
# public function headers, a public header reaching a layer, and a public
# type header reaching a function header.
# usage: check_layers.sh <cmake> <project source dir>
set -eu
cmake=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
check() {  # dir
  "$cmake" -DSOURCE_DIR="$1" -P "$source/cmake/CheckLayers.cmake" >/dev/null 2>&1
}
for folder in runtime formats transport protocol synth output lifecycle api include; do
  cp -r "$source/$folder" "$scratch/$folder"
done
check "$scratch" || { echo "the sources fail the include check" >&2; exit 1; }
for plant in 'synth/State.h:#include "output/Engine.h"' 'protocol/Exchange.h:#include "hsim.h"' \
             'runtime/Sync.h:#include "transport/Port.h"' 'output/Engine.h:#include "lifecycle/Lifecycle.h"' \
             'synth/State.h:#include "formats/EcgFiles.h"' 'formats/EcgFiles.h:#include "synth/State.h"' \
             'output/Engine.h:#include "formats/EcgFiles.h"' \
             'output/Engine.h:#include <hsim_ext.h>' 'output/Engine.h:#include <lifecycle/Lifecycle.h>' \
             'include/hsim/hsim_types.h:#include "runtime/Sync.h"' \
             'include/hsim/hsim_events.hpp:#include "hsim.h"'; do
  file=${plant%%:*}
  cp "$source/$file" "$scratch/$file"
  echo "${plant#*:}" >> "$scratch/$file"
  if check "$scratch"; then
    echo "not caught: ${plant#*:} in $file" >&2
    exit 1
  fi
  cp "$source/$file" "$scratch/$file"
done
echo "include check passes the sources and catches every planted include"
