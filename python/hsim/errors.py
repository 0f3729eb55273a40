"""Exceptions raised for the library's failure codes.

Every exported setter returns 0 on success, -1 when no device is open or the
command window did not open, -2, -3, ... for the first argument check that
failed (in the order hsim.h documents for the function) and HSIM_ERROR_IO when
the device did not complete the exchange. :func:`check` turns such a code into
the matching exception, naming the refused argument and its accepted range.
"""
from __future__ import annotations

from typing import Optional

from ._capi import HSIM_ERROR_IO


class HsimError(Exception):
    """A call the library refused.

    ``code`` is the library's result, ``function`` the C function and
    ``argument`` the name of the refused argument (None when not an argument).
    """

    def __init__(self, message: str, code: int, function: str, argument: Optional[str] = None):
        super().__init__(message)
        self.code = code
        self.function = function
        self.argument = argument


class DeviceError(HsimError):
    """No device is open, it is busy (the command window did not open), or a
    command reporting only success or failure failed."""


class ArgumentError(HsimError, ValueError):
    """An argument outside what the function accepts; nothing was stored."""


class StateError(HsimError):
    """Refused because of what runs now (a scan, the baseline-reset test)."""


class IOFailure(HsimError):
    """The device did not complete the exchange (HSIM_ERROR_IO)."""


class _State(str):
    """A code meaning a refusal because of a state, not of an argument."""


# For each setter: code -> (argument, accepted range) or _State(reason).
CODES: dict[str, dict[int, object]] = {
    "HSIMSetAmplitude": {-2: ("mv", "-10..10 mV"), -3: _State("the baseline-reset test runs")},
    "HSIMSetFrequency": {-2: ("hz", "0.017..500 Hz, at most 5 Hz for the pulse functions"),
                         -3: _State("a frequency scan runs"),
                         -4: _State("the baseline-reset test runs")},
    "HSIMSetPulseWidth": {-2: ("ms", "1..300 ms")},
    "HSIMSetOutputLead": {-2: ("channel", "0..3")},
    "HSIMSetDCOffset": {-2: ("channel or mv", "channel 0..3, -1000..1000 mV")},
    "HSIMSetDCOffsetVariableMode": {-2: ("channel", "0..3")},
    "HSIMSetInputImpedanceMode": {-2: ("channel or mode", "channel 0..3, mode 0..3")},
    "HSIMSetSignalGroundToGNDGround": {-2: ("channel", "0..3")},
    "HSIMSetPacingAmplitude": {-2: ("mv", "-700..700 mV")},
    "HSIMSetPacingDuration": {-2: ("ms", "0.1..3 ms")},
    "HSIMSetPacingRate": {-2: ("per_minute", "10..360 per minute")},
    "HSIMSetPacingRateSynchronized": {-2: ("rate", "a beat rate of 10..360 per minute")},
    "HSIMSetOvershootTimeConstant": {-2: ("ms", "0..100 ms")},
    "HSIMSetOvershootAmplitude": {-2: ("mv", "|mv| <= 5")},
    "HSIMSetQRSDuration": {-2: ("ms", "5..200 ms")},
    "HSIMSetTWave": {-2: ("mv", "0..5 mV")},
    "HSIMSetPDuration": {-2: ("ms", "50..100 ms")},
    "HSIMSetPRInterval": {-2: ("ms", "0..200 ms")},
    "HSIMSetQTInterval": {-2: ("ms", "100..900 ms")},
    "HSIMSetPWave": {-2: ("mv", "0..2 mV")},
    "HSIMSetSTDeviation": {-2: ("mv", "-2..2 mV")},
    "HSIMSetSTSegment": {-2: ("ms", "100..900 ms")},
    "HSIMSetTDuration": {-2: ("ms", "100..900 ms")},
    "HSIMSetDynamicRangeTest": {-2: ("amplitude_mv", "0..10 mV"), -3: ("frequency_hz", "1..60 Hz")},
    "HSIMSetFrequencyScan": {-2: ("start_hz", "0.67..500 Hz"), -3: ("stop_hz", "0.67..500 Hz"),
                             -4: ("seconds", "10..180 s")},
    "SetECG2_27_Noise": {-2: ("mv", "0.01..5 mV peak to peak")},
    "SetECG2_27_AAMIDriftTestAmp": {-2: ("mv", "1..8 mV peak to peak")},
    "SetECG2_27_AAMIDriftTestFreq": {-2: ("hz", "0.05..2 Hz")},
    "HSIMSetDeviceLocation": {-1: _State("the library is started"),
                              -2: ("device_path", "a path with exactly one %d"),
                              -3: ("lock_dir", "a directory whose lock path fits 127 bytes")},
    "HSIMRenderOutput": {-2: ("count", "0 or more")},
    "HSIMOutputSignal": {-2: ("function", "0 or more")},
    # Pattern selections refuse an index with -1, never for a missing device.
    "SetSpecialWave227": {-1: ("index", "0..9")},
    "SetSpecialWave251": {-1: ("index", "0..15")},
    "SetSpecialWave247": {-1: ("index", "0..4")},
    "SetANE20000Lead": {-1: ("lead", "0..8")},
}


def error_for(function: str, code: int, value: object = None) -> HsimError:
    """The exception for a failure code of a setter."""
    meaning = CODES.get(function, {}).get(code)
    shown = f" = {value!r}" if value is not None else ""
    if isinstance(meaning, _State):
        return StateError(f"{function} refused: {meaning} (code {code})", code, function)
    if isinstance(meaning, tuple):
        argument, accepted = meaning
        return ArgumentError(f"{function}: {argument}{shown} refused, accepted {accepted}"
                             f" (code {code})", code, function, argument)
    if code == -1:
        return DeviceError(f"{function}: no device open, or the command window did not open"
                           " (code -1)", code, function)
    if code == HSIM_ERROR_IO:
        return IOFailure(f"{function}: the device did not complete the exchange"
                         " (HSIM_ERROR_IO)", code, function)
    if code <= -2:
        return ArgumentError(f"{function}: argument check {-code - 1} failed{shown}"
                             f" (code {code})", code, function)
    return HsimError(f"{function} failed (code {code})", code, function)


def check(function: str, code: int, value: object = None) -> int:
    """Returns a non-negative result; raises the matching exception otherwise."""
    if code < 0:
        raise error_for(function, code, value)
    return code


def check_flag(function: str, ok: object, what: str = "") -> None:
    """For functions reporting success as true or 1: DeviceError otherwise."""
    if not ok:
        detail = f" ({what})" if what else ""
        raise DeviceError(f"{function} failed{detail}: no device, no command window, a refused"
                          " argument or an incomplete exchange", 0, function)
