"""Recorded ECG signals from files through the record import library
(libhsimrecords): WFDB, EDF/EDF+/BDF, CSV and the simulator's ECG text and
binary files, read as numpy arrays in mV.

    with hsim.records.open("100.hea") as record:
        for signal in record.signals:
            print(signal.name, signal.units, signal.rate, len(signal))
        mv = record.signal("MLII").read()
"""
from __future__ import annotations

import builtins
import ctypes
import enum
from ctypes import POINTER, Structure, byref, c_char, c_char_p, c_double, c_int, c_int64, c_void_p
from dataclasses import dataclass
from pathlib import Path
from typing import Optional, Union

import numpy as np

from ._closing import Closing
from ._capi import find_library
from .errors import HsimError


class Kind(enum.IntEnum):
    AUTO = 0
    WFDB = 1
    EDF = 2
    CSV = 3
    ECG_TEXT = 4
    ECG_BINARY = 5


class Result(enum.IntEnum):
    OK = 0
    ERROR_ARGUMENT = -1
    ERROR_OPEN = -2
    ERROR_HEADER = -3
    ERROR_FORMAT = -4
    ERROR_DATA = -5
    ERROR_MEMORY = -6
    ERROR_IO = -7


class HSIMRecordSignal(Structure):
    _fields_ = [("name", c_char * 64), ("units", c_char * 16), ("rate", c_double),
                ("length", c_int64)]


PROTOTYPES = {
    "HSIMRecordOpen": (c_int, [c_char_p, c_int, POINTER(c_void_p)]),
    "HSIMRecordKindOf": (c_int, [c_void_p]),
    "HSIMRecordSignalCount": (c_int, [c_void_p]),
    "HSIMRecordGetSignal": (c_int, [c_void_p, c_int, POINTER(HSIMRecordSignal)]),
    "HSIMRecordReadMv": (c_int64, [c_void_p, c_int, c_int64, c_int64, POINTER(c_double)]),
    "HSIMRecordLastError": (c_char_p, []),
    "HSIMRecordResultName": (c_char_p, [c_int]),
    "HSIMRecordClose": (None, [c_void_p]),
}


class RecordError(HsimError):
    """A record the library could not open or read; ``code`` is a :class:`Result`."""


_lib: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """libhsimrecords: ``$HSIM_RECORDS_LIBRARY``, next to the package, or by
    the search path."""
    global _lib
    if _lib is None:
        lib = find_library("HSIM_RECORDS_LIBRARY", ["libhsimrecords.so.1", "libhsimrecords.so"])
        for name, (result, arguments) in PROTOTYPES.items():
            function = getattr(lib, name)
            function.restype, function.argtypes = result, arguments
        _lib = lib
    return _lib


def _fail(function: str, code: int, argument: Optional[str] = None) -> RecordError:
    lib = library()
    name = (lib.HSIMRecordResultName(code) or b"").decode()
    detail = (lib.HSIMRecordLastError() or b"").decode(errors="replace")
    return RecordError(f"{function}: {name}" + (f": {detail}" if detail else ""), code,
                       function, argument)


@dataclass(frozen=True)
class Signal:
    """One signal of an open record."""
    record: "Record"
    index: int
    name: str
    units: str
    rate: float
    length: int

    def __len__(self) -> int:
        return self.length

    def read(self, first: int = 0, count: Optional[int] = None) -> np.ndarray:
        """Samples first.. as mV (physical units when the file's are not volts);
        invalid WFDB samples are NaN. Fewer at the end of the signal."""
        if count is None:
            count = max(0, self.length - first)
        out = np.empty(int(count))
        got = library().HSIMRecordReadMv(self.record._handle(), self.index, int(first),
                                         int(count), out.ctypes.data_as(POINTER(c_double)))
        if got < 0:
            raise _fail("HSIMRecordReadMv", int(got), "first or count")
        return out[:got]

    @property
    def seconds(self) -> np.ndarray:
        """The sample times, s."""
        return np.arange(self.length) / self.rate


class Record(Closing):
    """An open record; close it (or use ``with``) to release its memory."""

    def __init__(self, path: Union[str, Path], kind: Kind = Kind.AUTO):
        self.path = Path(path)
        handle = c_void_p()
        code = library().HSIMRecordOpen(str(path).encode(), int(kind), byref(handle))
        if code != 0:
            raise _fail("HSIMRecordOpen", code, "path")
        self._pointer: Optional[c_void_p] = handle
        self.kind = Kind(library().HSIMRecordKindOf(handle))
        count = library().HSIMRecordSignalCount(handle)
        signals = []
        for i in range(count):
            info = HSIMRecordSignal()
            code = library().HSIMRecordGetSignal(handle, i, byref(info))
            if code != 0:
                self.close()
                raise _fail("HSIMRecordGetSignal", code)
            signals.append(Signal(self, i, info.name.decode(errors="replace"),
                                  info.units.decode(errors="replace"), info.rate, info.length))
        self.signals: list[Signal] = signals

    def _handle(self) -> c_void_p:
        if self._pointer is None:
            raise ValueError("the record is closed")
        return self._pointer

    def signal(self, which: Union[int, str]) -> Signal:
        """A signal by index or by name."""
        if isinstance(which, str):
            for s in self.signals:
                if s.name == which:
                    return s
            raise KeyError(f"{self.path.name} has no signal {which!r} "
                           f"(it has {[s.name for s in self.signals]})")
        return self.signals[which]

    def read(self) -> np.ndarray:
        """Every signal as rows of mV (signals of equal length only)."""
        lengths = {s.length for s in self.signals}
        if len(lengths) > 1:
            raise ValueError("the signals differ in length; read them one by one")
        return np.vstack([s.read() for s in self.signals]) if self.signals else np.empty((0, 0))

    def close(self) -> None:
        if self._pointer is not None:
            library().HSIMRecordClose(self._pointer)
            self._pointer = None

    def __repr__(self) -> str:
        return f"Record({str(self.path)!r}, kind={self.kind.name}, signals={len(self.signals)})"


def open(path: Union[str, Path], kind: Kind = Kind.AUTO) -> Record:  # noqa: A001
    """Opens a record (the kind by extension and first bytes unless given)."""
    return Record(path, kind)


_ = builtins  # the module's open() shadows the built-in one on purpose
