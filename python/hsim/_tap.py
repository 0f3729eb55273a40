"""The library's signal tap, read on a thread of the package's own.

The library writes what it plays (a point every tenth sample, and the events
its callbacks hear) into a ring that any thread may read without ever making
the streaming thread wait. :class:`TapReader` reads it and hands the points
to a Python function, so that no Python code ever runs on the library's
streaming thread: a busy interpreter can delay the callbacks, never the
device's data.
"""
from __future__ import annotations

import ctypes
import threading
from typing import Callable, Optional

import numpy as np

from . import _capi

# One HSIM_TAP_POINT.
TAP_DTYPE = np.dtype([("time", "<f8"), ("signal_mv", "<f8"), ("dc_mv", "<f8"),
                      ("pacing_mv", "<f8"), ("pacing_ms", "<f8"), ("value", "<f8"),
                      ("kind", "<i4"), ("flags", "<i4")])
assert TAP_DTYPE.itemsize == ctypes.sizeof(_capi.HSIM_TAP_POINT)

_BATCH = 4096
_WAIT_MS = 20


class TapReader:
    """Reads the tap of ``simulator`` (an HSIM_SIMULATOR handle) from now on
    and calls ``handle(points)`` with each batch (a numpy array of
    TAP_DTYPE), on a thread named ``hsim-tap``. ``lock`` is held around each
    call, so that whoever takes it knows no batch is being handled."""

    def __init__(self, api: _capi.CApi, simulator: int, handle: Callable[[np.ndarray], None],
                 lock: threading.RLock):
        self._api = api
        self._handle = handle
        self._lock = lock
        self._stop = threading.Event()
        self._tap = api.HSIMSimTapOpen(simulator)
        if not self._tap:
            raise MemoryError("no memory for a reader of the signal tap")
        self._thread = threading.Thread(target=self._run, name="hsim-tap", daemon=True)
        self._thread.start()

    def _run(self) -> None:
        buffer = (_capi.HSIM_TAP_POINT * _BATCH)()
        view = np.frombuffer(buffer, dtype=TAP_DTYPE)
        while not self._stop.is_set():
            if self._api.HSIMTapWait(self._tap, _WAIT_MS) <= 0:
                continue
            n = self._api.HSIMTapRead(self._tap, buffer, _BATCH)
            if n > 0:
                with self._lock:
                    if not self._stop.is_set():
                        self._handle(view[:n].copy())

    @property
    def overruns(self) -> int:
        """Points lost because this reader fell more than the ring behind."""
        return int(self._api.HSIMTapOverruns(self._tap)) if self._tap else 0

    def close(self) -> None:
        """Ends the thread (after the batch in hand) and releases the reader."""
        self._stop.set()
        if threading.current_thread() is not self._thread:
            self._thread.join()
        if self._tap:
            self._api.HSIMTapClose(self._tap)
            self._tap = None


def dispatch(points: np.ndarray, callbacks: dict[str, Optional[Callable]]) -> None:
    """Calls the callbacks the way the library calls its C callbacks: the
    signal for every sample point and (-1, 0) at the end of the output, the
    corners of each pacing pulse, and the events."""
    signal = callbacks.get("signal")
    pacing = callbacks.get("pacing")
    for time, mv, _dc, pacing_mv, pacing_ms, value, kind, _flags in points.tolist():
        if kind == _capi.TAP_SAMPLE:
            if signal is not None:
                signal(time, mv)
            if pacing is not None and pacing_mv != 0.0:
                end = time + pacing_ms / 1000.0
                for corner in ((time, 0.0), (time, pacing_mv), (end, pacing_mv), (end, 0.0)):
                    pacing(*corner)
        elif kind == _capi.TAP_END:
            if signal is not None:
                signal(-1.0, 0.0)
        else:
            name = _EVENTS.get(kind)
            function = callbacks.get(name) if name else None
            if function is not None:
                function(value if kind == _capi.TAP_FREQUENCY else int(value))


_EVENTS = {_capi.TAP_FREQUENCY: "frequency", _capi.TAP_FUNCTION: "function",
           _capi.TAP_DC_LEVEL: "dc_offset", _capi.TAP_BASELINE_RESET: "baseline_reset"}
