#!/bin/sh
# Installs the Python package the way README.md says, into a scratch virtual
# environment, and plays an emulated ECG with it in a clean environment (no
# variables but PATH) from a directory outside the project. Then checks that
# HSIM_BUNDLE is read from the caller's directory and that a bundle path that
# does not exist stops the install.
# usage: python/tests/check_install.sh BUILD_DIR   (a built tree: libhsim.so, emulator/hsim-emu)
set -eu
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
python=/usr/bin/python3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check_install: $*" >&2; exit 1; }

# The layout the README's lines run in: a checkout whose build is in build/.
# The package is copied, so that a stale python/build/ can be planted in it:
# a "library" there must never reach the installed package.
project=$scratch/project
mkdir "$project"
cp "$root/CMakeLists.txt" "$project/"
cp -R "$root/python" "$project/python"
rm -rf "$project/python/build" "$project"/python/*.egg-info
mkdir -p "$project/python/build/lib/hsim"
echo "stale" >"$project/python/build/lib/hsim/libhsim.so"
ln -s "$build" "$project/build"

# pip as a user runs it: no variables of ours; PIP_NO_INDEX makes any attempt
# to reach a package index fail at once instead of hanging.
clean() { env -i PATH=/usr/bin:/bin HOME="$scratch" PIP_NO_INDEX=1 "$@"; }
pip_install() {  # [VAR=value ...] -- pip-arguments...
  vars=""
  while [ "$1" != "--" ]; do vars="$vars $1"; shift; done
  shift
  # shellcheck disable=SC2086 # the assignments are words of their own
  clean $vars "$scratch/venv/bin/pip" install -q --no-cache-dir --disable-pip-version-check "$@"
}

"$python" -m venv --system-site-packages "$scratch/venv"
(cd "$project" && pip_install -- ./python) || fail "pip install ./python failed"

mkdir "$scratch/elsewhere"
site=$(cd "$scratch/elsewhere" && clean "$scratch/venv/bin/python" -c \
  'import hsim, os; print(os.path.dirname(hsim.__file__))')
case $site in "$scratch/venv/"*) ;; *) fail "hsim imported from $site, not from the venv" ;; esac
cmp -s "$site/libhsim.so" "$build/libhsim.so" || fail "the installed libhsim.so is not the built one"
cmp -s "$site/hsim-emu" "$build/emulator/hsim-emu" || fail "the installed hsim-emu is not the built one"

# The emulated session: the standard beat at 120 bpm, 1 mV, played for 1 s.
# 120 bpm gives 2 R waves a second, each 0.875 mV = 5600 device words high.
(cd "$scratch/elsewhere" && clean "$scratch/venv/bin/python" - "$site") <<'EOF' || fail "the emulated session failed"
import sys
import numpy as np
import hsim
site = sys.argv[1]
assert hsim.__version__ == hsim.library_version(), (hsim.__version__, hsim.library_version())
assert hsim._capi.load().path.startswith(site), hsim._capi.load().path
assert hsim._capi.find_emulator().startswith(site), hsim._capi.find_emulator()
with hsim.Simulator.emulated() as sim:
    sim.output = hsim.Ecg(rate_bpm=120, amplitude_mv=1.0)
    sim.play(1.0)
    played = sim.emulator.played()
ac = played["ac"].astype(int)
assert len(ac) >= 0.8 * 40000, len(ac)
peaks = np.flatnonzero((ac[1:] >= 5000) & (ac[:-1] < 5000))
assert 1 <= len(peaks) <= 3 and 5400 <= ac.max() <= 5800, (len(peaks), ac.max())
print("pip install ./python: hsim", hsim.__version__, "from", site, "played", len(ac), "samples")
EOF

# HSIM_BUNDLE is a path from where pip runs; one that does not exist is an error.
(cd "$scratch" && pip_install HSIM_BUNDLE=project/build -- --force-reinstall --no-deps ./project/python) \
  || fail "HSIM_BUNDLE=project/build from $scratch was refused"
cmp -s "$site/libhsim.so" "$build/libhsim.so" || fail "HSIM_BUNDLE=project/build bundled no libhsim.so"
if (cd "$scratch" && pip_install HSIM_BUNDLE=no-such-build -- --force-reinstall --no-deps ./project/python) \
    >"$scratch/refused.log" 2>&1; then
  fail "HSIM_BUNDLE=no-such-build was accepted"
fi
grep -q "$scratch/no-such-build" "$scratch/refused.log" \
  || { cat "$scratch/refused.log" >&2; fail "the refusal does not name $scratch/no-such-build"; }
echo "check_install: passed"
