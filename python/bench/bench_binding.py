"""Overhead of the Python package over the C calls.

Compiles bench_calls.c against the library (cc, the headers in include/hsim/ and
the build's include/hsim/), then compares, each against its own emulator:
  - a setter (HSIMSetPacingPulseMode) from C, through the raw ctypes binding
    (the Simulator's simulator bound to the thread once), through the
    Simulator's binding (which binds it around each call) and through a
    Simulator property: median per call in microseconds;
  - HSIMRenderOutput of 60 s from C and Simulator.render(seconds=60).
usage: python3 python/bench/bench_binding.py [BUILD_DIR]   (default: build)
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "build").resolve()
os.environ.setdefault("HSIM_LIBRARY", str(BUILD / "libhsim.so"))
os.environ.setdefault("HSIM_EMULATOR", str(BUILD / "emulator/hsim-emu"))
sys.path.insert(0, str(REPO / "python"))
import hsim  # noqa: E402

BATCHES, CALLS, RENDERS = 200, 1000, 5


def per_call_us(call) -> float:
    times = []
    for _ in range(BATCHES):
        t0 = time.perf_counter()
        for i in range(CALLS):
            call(i & 1)
        times.append((time.perf_counter() - t0) / CALLS * 1e6)
    return statistics.median(times)


def python_figures():
    with hsim.Simulator.emulated(fast=True) as sim:
        raw = sim._api.raw
        raw.HSIMUse(sim._api.handle)
        try:
            figures = {"ctypes": per_call_us(raw.HSIMSetPacingPulseMode)}
        finally:
            raw.HSIMUse(None)

        def through_property(value):
            sim.pacing_mode = value
        figures["bound"] = per_call_us(sim._api.HSIMSetPacingPulseMode)
        figures["property"] = per_call_us(through_property)
        sim.output = hsim.Ecg(rate_bpm=75)
        renders = []
        for _ in range(RENDERS):
            t0 = time.perf_counter()
            ac, dc = sim.render(seconds=60)
            renders.append(time.perf_counter() - t0)
        assert len(ac) == 60 * 40000
        figures["render60"] = statistics.median(renders)
    return figures


def c_figures():
    with tempfile.TemporaryDirectory() as scratch:
        program = Path(scratch) / "bench_calls"
        subprocess.run(["cc", "-O2", "-o", str(program), str(Path(__file__).with_name("bench_calls.c")),
                        f"-I{REPO / 'include' / 'hsim'}", f"-I{BUILD / 'include' / 'hsim'}",
                        f"-L{Path(os.environ['HSIM_LIBRARY']).parent}", "-lhsim",
                        f"-Wl,-rpath,{Path(os.environ['HSIM_LIBRARY']).parent}"], check=True)
        with hsim.Emulator(port=0, fast=True) as emulator:
            out = subprocess.run([str(program), emulator.device_path, emulator.lock_dir, "0"],
                                 check=True, capture_output=True, text=True).stdout
    return {key: float(value) for key, value in (line.split() for line in out.splitlines())}


if __name__ == "__main__":
    c = c_figures()
    p = python_figures()
    print(f"setter, median per call: C {c['setter_us']:.3f} us, ctypes {p['ctypes']:.3f} us "
          f"(+{p['ctypes'] - c['setter_us']:.3f}), bound {p['bound']:.3f} us "
          f"(+{p['bound'] - c['setter_us']:.3f}), Simulator property {p['property']:.3f} us "
          f"(+{p['property'] - c['setter_us']:.3f})")
    print(f"render 60 s (2.4 M samples, mV), median of {RENDERS}: C {c['render60_s'] * 1e3:.1f} ms, "
          f"Simulator.render {p['render60'] * 1e3:.1f} ms "
          f"(x{p['render60'] / c['render60_s']:.3f})")
