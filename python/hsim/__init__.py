"""hsim: Python interface of libhsim, the host-side control library of the USB
ECG patient simulator.

    import hsim
    with hsim.Simulator.emulated() as sim:
        sim.output = hsim.Ecg(rate_bpm=75, amplitude_mv=1.0, qrs_ms=100)
        ac, dc = sim.render(seconds=5)
        sim.set("qrs-duration", 90)   # any of hsim.parameters() by name

``hsim._capi`` is the complete ctypes binding of the C interface; the rest is
built on it. The library is found through $HSIM_LIBRARY, next to this package,
or by the dynamic linker's search path.
"""
from . import records
from ._capi import (HSIM_ERROR_IO, SAMPLE_RATE, IEC247Pattern, OutputFunction, OutputLead,
                    ParameterApply, ParameterKind, Table)
from .emulator import Emulator
from .errors import ArgumentError, DeviceError, HsimError, IOFailure, StateError
from ._parameters import Parameter, parameters
from .simulator import Simulator, library_version, pattern, render, table_provenance
from .values import (Ane20000, BiphasicExponential, DeviceInformation, Drift, DynamicRange, Ecg,
                     Exponential, FrequencyScan, LoadedData, Noise, Off, Output, Pacing,
                     Pattern227, Pattern247, Pattern251, RectangularPulse, Respiration, Sine,
                     Square, StreamHealth, Triangle, TriangularPulse, Waveform)


def _package_version() -> str:
    """The library version the package was installed with (hsim/_version.py,
    written by setup.py); in a source checkout, the one in ../CMakeLists.txt."""
    try:
        from ._version import version
        return version
    except ImportError:
        pass
    import pathlib
    import re
    try:
        text = (pathlib.Path(__file__).resolve().parents[2] / "CMakeLists.txt").read_text()
    except OSError:
        return "unknown"
    match = re.search(r"^project\(hsim VERSION (\d+\.\d+\.\d+\.\d+)", text, re.MULTILINE)
    return match.group(1) if match else "unknown"


__version__ = _package_version()

__all__ = [
    "Simulator", "Emulator", "render", "library_version", "table_provenance", "pattern",
    "records", "Parameter", "parameters", "ParameterKind", "ParameterApply",
    "HsimError", "DeviceError", "ArgumentError", "StateError", "IOFailure",
    "OutputFunction", "OutputLead", "IEC247Pattern", "Table", "HSIM_ERROR_IO", "SAMPLE_RATE",
    "Output", "Off", "Waveform", "Sine", "Triangle", "Square", "RectangularPulse",
    "TriangularPulse", "Exponential", "BiphasicExponential", "Ecg", "Pattern227", "Pattern251",
    "Pattern247", "Ane20000", "LoadedData", "Pacing", "Respiration", "Noise", "Drift",
    "DynamicRange", "FrequencyScan", "StreamHealth", "DeviceInformation",
]
