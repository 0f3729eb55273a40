"""Exceptions raised for the library's failure codes.

Every exported setter returns 0 on success, -1 when no device is open or the
command window did not open, -2, -3, ... for the first argument check that
failed (in the order hsim.h documents for the function) and HSIM_ERROR_IO when
the device did not complete the exchange. :func:`check` turns such a code into
the matching exception, naming the refused argument and its accepted range.
A failure of the device (-1, HSIM_ERROR_IO) also says why, as the library kept
it for the calling thread (HSIMGetLastStatus): ``cause`` and ``os_error``.
"""
from __future__ import annotations

import ctypes
import os
from typing import Optional

from ._capi import HSIM_ERROR_IO, HSIM_STATUS, Cause, load


class HsimError(Exception):
    """A call the library refused.

    ``code`` is the library's result, ``function`` the C function and
    ``argument`` the name of the refused argument (None when not an argument).
    For a failure of the device, ``cause`` is why (a :class:`Cause`, else
    None) and ``os_error`` the errno of a write or read that failed (else 0).
    """

    cause: Optional[Cause] = None
    os_error: int = 0

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


class _Row(str):
    """The library's parameter whose range an argument takes: the refusal
    names the range the library gives for it (hsim.parameters())."""


# For each setter: code -> (argument, accepted range or parameter) or
# _State(reason). The parameters of the library's table are set by name
# (HSIMSetParameter); their refusals come with the table's range
# (hsim._parameters.refusal).
CODES: dict[str, dict[int, object]] = {
    "HSIMSetPacingRateSynchronized": {-2: ("rate", "a beat rate of 10..360 per minute")},
    "HSIMSetDynamicRangeTest": {-2: ("amplitude_mv", _Row("dynamic-range-amplitude")),
                                -3: ("frequency_hz", _Row("dynamic-range-frequency"))},
    "HSIMSetFrequencyScan": {-2: ("start_hz", _Row("scan-start")),
                             -3: ("stop_hz", _Row("scan-stop")),
                             -4: ("seconds", _Row("scan-duration"))},
    "SetECG2_27_Noise": {-2: ("mv", _Row("noise-amplitude"))},
    "HSIMSetDeviceLocation": {-1: _State("the library is started"),
                              -2: ("device_path", "a path with exactly one %d"),
                              -3: ("lock_dir", "a directory whose lock path fits 127 bytes")},
    "HSIMRenderOutput": {-2: ("count", "0 or more")},
    "HSIMOutputSignal": {-2: ("function", "0 or more")},
    # Pattern selections refuse an index with -1, never for a missing device.
    "SetSpecialWave227": {-1: ("index", _Row("pattern-227"))},
    "SetSpecialWave251": {-1: ("index", _Row("pattern-251"))},
    "SetSpecialWave247": {-1: ("index", _Row("pattern-247"))},
    "SetANE20000Lead": {-1: ("lead", _Row("ane-lead"))},
}


_CAUSES = {Cause.NO_DEVICE: "no device", Cause.BUSY: "no command window within 3000 ms",
           Cause.WRITE_FAILED: "write failed", Cause.READ_FAILED: "read failed",
           Cause.SHORT_READ: "short read", Cause.REFUSED: "refused by the device"}


def last_cause() -> tuple[Optional[Cause], int, str]:
    """Why the calling thread's last call to the device failed: the cause
    (None when nothing failed), the OS error and a text such as
    "write failed: Input/output error (0 of 64 bytes)"."""
    status = HSIM_STATUS()
    cause = Cause(load().HSIMGetLastStatus(ctypes.byref(status)))
    if cause == Cause.NONE:
        return None, 0, ""
    text = _CAUSES[cause]
    if status.osError:
        text += f": {os.strerror(status.osError)}"
    if status.bytesExpected:
        text += f" ({status.bytesDone} of {status.bytesExpected} bytes)"
    return cause, status.osError, text


def error_for(function: str, code: int, value: object = None) -> HsimError:
    """The exception for a failure code of a setter."""
    meaning = CODES.get(function, {}).get(code)
    shown = f" = {value!r}" if value is not None else ""
    if isinstance(meaning, _State):
        return StateError(f"{function} refused: {meaning} (code {code})", code, function)
    if isinstance(meaning, tuple):
        argument, accepted = meaning
        if isinstance(accepted, _Row):
            from ._parameters import find  # it raises these errors itself
            accepted = f"{find(accepted).accepted} (the parameter {accepted})"
        return ArgumentError(f"{function}: {argument}{shown} refused, accepted {accepted}"
                             f" (code {code})", code, function, argument)
    if code in (-1, HSIM_ERROR_IO):
        # The file loaders' -1 is no failure of the device.
        cause, os_error, why = (last_cause() if function.startswith(("HSIM", "Set"))
                                else (None, 0, ""))
        if code == -1:
            error: HsimError = DeviceError(
                f"{function}: {why or 'no device open, or the command window did not open'}"
                " (code -1)", code, function)
        else:
            error = IOFailure(f"{function}: the device did not complete the exchange"
                              f"{': ' + why if why else ''} (HSIM_ERROR_IO)", code, function)
        error.cause, error.os_error = cause, os_error
        return error
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
