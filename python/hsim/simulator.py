"""The Pythonic layer over libhsim: :class:`Simulator`.

Each Simulator is a simulator of the library's own (HSIMOpen), so several may
be open at once, each on its own port with its own settings, threads and
callbacks. A Simulator connects on construction and, on
:meth:`Simulator.close` (or the end of its ``with`` block), stops the output,
unregisters its callbacks, closes its simulator (HSIMClose) and ends the
emulator it started. Where the library looks for ports (``device_path``,
``lock_dir``) is the same for every simulator of the process: the Simulators
open at one time share it.

Every library call a Simulator makes binds its simulator to the calling
thread for the call (HSIMUse) and gives the thread back its binding after, so
a thread may use several Simulators in turn, and the flat functions of
:mod:`hsim._capi` called directly stay on the library's default simulator.

Callbacks are plain Python callables. The output callbacks (signal, pacing,
output function, frequency, baseline reset, DC level) run on a thread of this
package, ``hsim-tap``, which reads the library's signal tap: no Python code
runs on the library's streaming thread, so a busy interpreter may delay a
callback (by some tens of milliseconds) but never the device's data. They may
call the library. The connection callback runs on the library's connect
thread, without its lock. An exception raised in a callback never reaches the
library: it is logged on the ``hsim`` logger and kept in
:attr:`Simulator.callback_errors`.
"""
from __future__ import annotations

import ctypes
import logging
import threading
import time
from ctypes import byref, c_char_p, c_double, c_int, c_short, c_ushort
from pathlib import Path
from typing import Any, Callable, Optional, Union

import numpy as np

from . import _capi, _parameters
from ._closing import Closing
from ._tap import TapReader, dispatch
from ._capi import (HSIM_STREAM_HEALTH, MODEL_INFORMATION, RAW_DATA_INFORMATION,
                    SAMPLE_RATE, OutputFunction, OutputLead)
from .emulator import Emulator, start_shared
from .errors import ArgumentError, DeviceError, HsimError, StateError, check, check_flag
from .values import (BEAT_FIELDS, CUSTOM_BEAT_FIELDS, DRIFT_FIELDS, PACING_FIELDS,
                     STANDARD_BEAT_FIELDS, Ane20000, DeviceInformation, Drift, DynamicRange, Ecg,
                     FrequencyScan, LoadedData, Noise, Off, Output, Pacing, Pattern227,
                     Pattern247, Pattern251, Respiration, StreamHealth, Waveform,
                     amplitude_refusal, rate_refusal)

log = logging.getLogger("hsim")

# Where the library looks for ports, as the open Simulators asked for it
# (device_path, lock_dir), and how many are open.
_location_lock = threading.Lock()
_location: tuple[Optional[str], Optional[str]] = (None, None)
_location_users = 0

# The simulator this package bound to each thread (None: the default one).
_binding = threading.local()


class _BoundApi:
    """The library as one simulator sees it: its functions, under their C
    names, each run with ``handle`` bound to the calling thread and the
    thread's binding before given back after. Nested calls (a callback that
    uses another Simulator) reach their own simulator each. ``handle`` None
    is the library's default simulator."""

    def __init__(self, api: _capi.CApi, handle: Optional[int] = None):
        self.raw = api
        self.handle = handle

    def __getattr__(self, name: str) -> Any:
        function = getattr(self.raw, name)
        if name not in _capi.PROTOTYPES:
            return function  # data, the path
        use = self.raw.HSIMUse

        def call(*args):
            handle = self.handle
            previous = getattr(_binding, "handle", None)
            if handle == previous:
                return function(*args)
            use(handle)
            _binding.handle = handle
            try:
                return function(*args)
            finally:
                use(previous)
                _binding.handle = previous
        call.__name__ = name
        setattr(self, name, call)  # found directly from now on
        return call

_WAVEFORMS = {cls.FUNCTION: cls for cls in Waveform.__subclasses__()}

PathLike = Union[str, Path]


def _count(seconds: Optional[float], samples: Optional[int]) -> int:
    if samples is None:
        if seconds is None or not seconds >= 0:
            raise ArgumentError(f"seconds = {seconds!r} refused, accepted 0 or more", -2,
                                "HSIMRenderOutput", "seconds")
        samples = int(round(seconds * SAMPLE_RATE))
    return int(samples)


def _as_doubles(values: Any, name: str) -> np.ndarray:
    array = np.ascontiguousarray(values, dtype=np.float64)
    if array.ndim != 1:
        raise ArgumentError(f"{name} must be one-dimensional", -2, "HSIMLoadRawData", name)
    return array


def _pointer(array: np.ndarray, ctype) -> Any:
    return array.ctypes.data_as(ctypes.POINTER(ctype))


class _TableProperty:
    """A Simulator property over one of the library's parameters: read and
    set by its name, the value as the parameter's kind; a refusal names the
    range the library gives. ``refuse(sim, value)`` is a check of this
    package that is stricter than the range (a text when it refuses)."""

    def __init__(self, name: str, text: str,
                 refuse: Optional[Callable[["Simulator", Any], Optional[str]]] = None):
        self.name, self.text, self.refuse = name, text, refuse

    def __get__(self, sim: Optional["Simulator"], owner=None) -> Any:
        return self if sim is None else sim.get(self.name)

    def __set__(self, sim: "Simulator", value: Any) -> None:
        parameter = _parameters.find(self.name)
        reason = self.refuse(sim, value) if self.refuse is not None else None
        if reason is not None:
            raise ArgumentError(f"{self.name}: {parameter.argument} = {value!r} refused, {reason}",
                                -2, "HSIMSetParameter", parameter.argument)
        if parameter.kind == _capi.ParameterKind.BOOL:
            value = bool(value)
        _parameters.write(self.name, value, parameter.argument, sim._api)

    @property
    def __doc__(self) -> str:  # the range as the loaded library gives it
        try:
            return f"{self.text} The parameter {self.name}: {_parameters.find(self.name).accepted}."
        except (OSError, HsimError):
            return f"{self.text} The parameter {self.name}."


class ChannelValues:
    """A parameter of each channel as ``sim.parameter`` gives it: indexed by
    channel, ``values[3]`` reads channel 3 and ``values[3] = 2`` sets it;
    ``len`` is the number of channels and ``tuple(values)`` reads them all."""

    __slots__ = ("_sim", "name")

    def __init__(self, sim: "Simulator", name: str):
        self._sim, self.name = sim, name

    def __len__(self) -> int:
        return _parameters.find(self.name).channels

    def __getitem__(self, channel: int) -> Any:
        if not 0 <= channel < len(self):
            raise IndexError(f"{self.name} has channels 0..{len(self) - 1}, not {channel!r}")
        return self._sim.get(self.name, channel)

    def __setitem__(self, channel: int, value: Any) -> None:
        self._sim.set(self.name, value, channel)

    def __repr__(self) -> str:
        return f"<{self.name} of each channel: {tuple(self)!r}>"


class ParameterAttributes:
    """The library's parameters as attributes, '-' written '_':
    ``sim.parameter.qrs_duration = 120`` sets qrs-duration, as
    :meth:`Simulator.set` does; reading one reads it. A parameter of each
    channel reads as :class:`ChannelValues` (``sim.parameter.impedance[3] =
    2``); assigning it a value sets every channel. A choice takes its name or
    number."""

    __slots__ = ("_sim",)

    def __init__(self, sim: "Simulator"):
        object.__setattr__(self, "_sim", sim)

    def __getattr__(self, attribute: str) -> Any:
        if attribute.startswith("_"):
            raise AttributeError(attribute)
        name = attribute.replace("_", "-")
        try:
            if _parameters.find(name).channels:
                return ChannelValues(self._sim, name)
            return self._sim.get(name)
        except ArgumentError as error:
            raise AttributeError(str(error)) from None

    def __setattr__(self, attribute: str, value: Any) -> None:
        self._sim.set(attribute.replace("_", "-"), value)

    def __dir__(self) -> list[str]:
        return [p.name.replace("-", "_") for p in _parameters.parameters()]


class Simulator(Closing):
    """A connected simulator, one of several a process may have open.

    ``port`` None takes the first of ports 0..127 that answers and that no
    other simulator holds; ``serial`` takes the one with that serial number
    (as ``serial_number`` reads it), whichever port it is on; ``timeout`` is
    in seconds. ``device_path``
    (printf-style with one ``%d``) and ``lock_dir`` point the library at
    other device nodes than /dev/ttyACM<n> (the emulator's); the Simulators
    open at one time must agree on them (StateError otherwise). With
    ``resume`` the output that was playing when the device went away is
    started again when it comes back.
    """

    def __init__(self, port: Optional[int] = None, timeout: float = 5.0, *,
                 serial: Optional[str] = None,
                 device_path: Optional[str] = None, lock_dir: Optional[str] = None,
                 resume: bool = True, _emulator: Optional[Emulator] = None):
        self._release_lock = threading.Lock()  # close() and a closing thread may race
        self._api = _BoundApi(_capi.load())
        self._handle: Optional[int] = None  # kept after close, for the connect thread
        self._callbacks: dict[str, Any] = {}      # the ctypes objects the library holds
        self._user_callbacks: dict[str, Optional[Callable]] = {}
        # The output callbacks, served from the signal tap on a thread of ours.
        self._tapped: dict[str, Callable] = {}
        self._tap_lock = threading.RLock()
        self._tap: Optional[TapReader] = None
        self.callback_errors: list[BaseException] = []
        self._logged: set[str] = set()
        self.emulator = _emulator
        self.resume = resume
        self._selected: Output = Off()
        self._want_playing = False
        self._pacing_synchronized = False
        self._respiration: Optional[Respiration] = None
        self._device_underruns_base = 0  # the emulator's count at the last reset
        self._located = False
        self._closed = True
        self._connect_thread: Optional[int] = None  # while it runs on_connection
        self._connection_events: list[bool] = []
        self._connection_changed = threading.Condition()
        try:
            self._locate(device_path, lock_dir)
            timeout_ms = int(max(0.0, timeout) * 1000)
            if serial is not None:
                handle = self._api.raw.HSIMOpenSerial(str(serial).encode(), timeout_ms)
            else:
                handle = self._api.raw.HSIMOpen(-1 if port is None else int(port), timeout_ms)
            if not handle:
                where = (f"serial number {serial}" if serial is not None
                         else "ports 0..127" if port is None else f"port {port}")
                raise DeviceError(f"no simulator answered on {where} within {timeout} s"
                                  " (or another simulator holds it)", -1, "HSIMOpen", None)
            self._api.handle = self._handle = handle
            self._closed = False
            # Hear losses and returns (the library's own handler stays in the chain).
            self._set_callback("connection", _capi.HSIM_CONNECTION_CALLBACK,
                               self._on_connection_change, "DoInit")
        except BaseException:
            self._release()
            raise

    def _locate(self, device_path: Optional[str], lock_dir: Optional[str]) -> None:
        """Points the library at the ports asked for, or checks that the
        Simulators open now were pointed at the same."""
        global _location, _location_users
        wanted = (device_path, lock_dir)
        with _location_lock:
            if _location_users == 0:
                if wanted != (None, None):
                    check("HSIMSetDeviceLocation", self._api.raw.HSIMSetDeviceLocation(
                        device_path.encode() if device_path else None,
                        lock_dir.encode() if lock_dir else None))
                _location = wanted
            elif wanted != _location:
                raise StateError(
                    f"device_path, lock_dir = {wanted!r} refused: where the library looks for"
                    f" ports is the same for every simulator of the process, and the Simulators"
                    f" open now use {_location!r}", -1, "HSIMSetDeviceLocation", "device_path")
            _location_users += 1
            self._located = True

    def _unlocate(self) -> None:
        global _location, _location_users
        with _location_lock:
            if not self._located:
                return
            self._located = False
            _location_users -= 1
            if _location_users == 0 and _location != (None, None):
                self._api.raw.HSIMSetDeviceLocation(None, None)
                _location = (None, None)

    # ------------------------------------------------------------ lifecycle

    @classmethod
    def emulated(cls, port: Optional[int] = None, timeout: float = 5.0, *, fast: bool = False,
                 resume: bool = True, emulator_args: tuple[str, ...] = ()) -> "Simulator":
        """Starts hsim-emu and connects to it; the emulator ends when the
        Simulator closes. The emulators of the emulated Simulators open at one
        time share a temporary directory (removed when the last closes), each
        on a port of its own: ``port``, or for None the lowest one none of them
        has (StateError when another has ``port``). ``fast`` makes the emulator
        take data as fast as it is sent instead of at 40000 samples per
        second."""
        try:
            emulator = start_shared(port, fast=fast, extra_args=emulator_args)
        except ValueError as error:
            raise StateError(str(error), -1, "emulated", "port") from None
        try:
            return cls(emulator.port, timeout, device_path=emulator.device_path,
                       lock_dir=emulator.lock_dir, resume=resume, _emulator=emulator)
        except BaseException:
            emulator.close()
            raise

    def close(self) -> None:
        """Stops the output, unregisters the callbacks and closes this
        simulator; ends the emulator this Simulator started. Safe to call
        twice. From this Simulator's own connection callback the rest is
        done on a thread of its own (closing waits for the callback's thread)."""
        try:
            if not self._closed:
                self._closed = True
                self._want_playing = False
                self._api.HSIMSetOutputFunction(0)
                self._api.DisableRecordRaw()
        finally:
            if self._connect_thread == threading.get_ident():
                threading.Thread(target=self._release, name="hsim-close").start()
            else:
                self._release()

    def _close_tap(self) -> None:
        with self._tap_lock:
            self._tapped.clear()
        if self._tap is not None:
            self._tap.close()
            self._tap = None

    def _release(self) -> None:
        with self._release_lock:
            self._closed = True
            self._close_tap()  # before its simulator goes
            handle, self._api.handle = self._api.handle, None
            if handle:
                self._api.raw.HSIMClose(handle)  # ends its threads: no callback runs after
            self._unlocate()
            self._callbacks.clear()
            if self.emulator is not None:
                self.emulator.close()

    @property
    def closed(self) -> bool:
        return self._closed

    @property
    def connected(self) -> bool:
        """A device is open now."""
        return bool(self._api.HSIMIsConnected())

    def wait_connected(self, connected: bool = True, timeout: float = 10.0) -> bool:
        """Waits until the device is (or is no longer) open; False on time-out."""
        deadline = time.monotonic() + timeout
        with self._connection_changed:
            while self.connected != connected:
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self._connection_changed.wait(min(left, 0.05))
        return True

    # ------------------------------------------------------------ callbacks

    def _guard(self, name: str, function: Callable) -> Callable:
        def guarded(*args):
            try:
                function(*args)
            except BaseException as error:  # never into the library's thread
                if len(self.callback_errors) < 100:
                    self.callback_errors.append(error)
                if name not in self._logged:  # once per callback: it may run 4000 times a second
                    self._logged.add(name)
                    log.exception("exception in the %s callback (further ones are only kept in"
                                  " callback_errors)", name)
        return guarded

    def _set_callback(self, name: str, ctype, function: Optional[Callable], register: str) -> None:
        holder = ctype(self._guard(name, function)) if function is not None else ctype()
        result = getattr(self._api, register)(holder)
        if register == "DoInit":
            check_flag("DoInit", result, "connection callback")
        # The library no longer calls the old one once registration returned.
        self._callbacks[name] = holder

    def _on_connection_change(self, connected: bool) -> None:
        # The connect thread works on this simulator, before and after: say
        # so, so that the calls below (and a Simulator used by on_connection)
        # give it back this binding.
        self._api.raw.HSIMUse(self._handle)
        _binding.handle = self._handle
        self._connect_thread = threading.get_ident()
        try:
            self._api.ConnectedHandler(connected)
            with self._connection_changed:
                self._connection_events.append(bool(connected))
                self._connection_changed.notify_all()
            if connected and self.resume and self._want_playing and not self._closed:
                code = self._api.HSIMSetOutputFunction(int(self._selected.function))
                if code != 0:
                    log.warning("output not resumed after the device came back (code %d)", code)
            user = self._user_callbacks.get("connection")
            if user is not None:
                user(bool(connected))
        finally:
            self._connect_thread = None

    @property
    def on_connection(self) -> Optional[Callable[[bool], None]]:
        """Called with True/False when the device comes back or goes away; on
        the connect thread, without the library's lock."""
        return self._user_callbacks.get("connection")

    @on_connection.setter
    def on_connection(self, function: Optional[Callable[[bool], None]]) -> None:
        self._user_callbacks["connection"] = function

    def _callback_property(name: str, doc: str):  # noqa: N805
        def getter(self):
            return self._user_callbacks.get(name)

        def setter(self, function):
            # Once this returns, a replaced callback is not called again.
            with self._tap_lock:
                if function is None:
                    self._tapped.pop(name, None)
                else:
                    self._tapped[name] = self._guard(name, function)
                self._user_callbacks[name] = function
            if function is not None and self._tap is None and not self._closed:
                self._tap = TapReader(self._api.raw, self._handle,
                                      lambda points: dispatch(points, self._tapped),
                                      self._tap_lock)
        return property(getter, setter, doc=doc)

    on_signal = _callback_property(
        "signal", "f(time_s, mv) for every tenth streamed sample of the signal channel;"
                  " (-1, 0) when a pattern or file that does not loop ends the output.")
    on_pacing = _callback_property("pacing", "f(time_s, mv) at the corners of every pacing pulse.")
    on_output_function = _callback_property(
        "function", "f(function) when a scan starts or ends the output.")
    on_frequency = _callback_property(
        "frequency", "f(hz) when the library sets the frequency (a scan moving, -1 at its end).")
    on_baseline_reset = _callback_property(
        "baseline_reset", "f(level) on every baseline-reset level change.")
    on_dc_offset = _callback_property("dc_offset", "f(mv) for the staircase of function 15.")

    @property
    def tap_overruns(self) -> int:
        """Points of the signal tap that the callbacks missed because they fell
        more than about 8 s behind."""
        return self._tap.overruns if self._tap is not None else 0

    # ------------------------------------------------------------ parameters

    def get(self, name: str, channel: Optional[int] = None) -> Any:
        """The value of the library's parameter ``name`` (:func:`hsim.parameters`
        lists them), as float, int or bool after its kind; a choice as a member
        of its :attr:`Parameter.choice` IntEnum (equal to its number, ``.name``
        the library's name). For a parameter of each channel, the value of
        ``channel``, or without one a tuple of every channel's. One that
        cannot be read back raises HsimError (code -3)."""
        return _parameters.read(name, self._api, channel)

    def set(self, name: str, value: Any, channel: Optional[int] = None) -> None:
        """Sets the library's parameter ``name``: a choice by its name
        (``sim.set("noise", "random")``) or its number. For a parameter of each
        channel, ``channel`` alone, or without one every channel. A value
        outside its range raises ArgumentError naming the range or the
        choices, a coupling with what runs now StateError, a missing device
        DeviceError, an unknown name ArgumentError naming the known ones, a
        channel the parameter does not have ArgumentError. Nothing is stored
        then (for every channel: the channels before the refused one are).
        A parameter that selects the output (``selects_output``: the output
        function, the test modes) acts on the library: :attr:`output` and
        :meth:`start` keep the output last assigned to :attr:`output`, and a
        reconnect plays it again only while the library plays that function
        (an output stopped or replaced this way is never restarted by a
        reconnect)."""
        _parameters.write(name, value, api=self._api, channel=channel)
        if _parameters.find(name).selects_output:
            playing = self._get("HSIMGetOutputFunction")
            self._want_playing = playing != OutputFunction.OFF and playing == self._selected.function

    def _set_parameter(self, name: str, value: Any, channel: Optional[int] = None,
                       argument: Optional[str] = None) -> None:
        # As the exported setter: the refusal names the value after its unit.
        _parameters.write(name, value, argument or _parameters.find(name).argument, self._api,
                          channel)

    @property
    def parameter(self) -> ParameterAttributes:
        """The parameters as attributes: ``sim.parameter.qrs_duration``."""
        return ParameterAttributes(self)

    # -------------------------------------------------------- scalar access

    def _set(self, function: str, *args) -> None:
        check(function, getattr(self._api, function)(*args), args[-1] if args else None)

    def _get(self, function: str) -> Any:
        return getattr(self._api, function)()

    def _scalar(setter: str, getter: str, doc: str):  # noqa: N805
        return property(lambda self: self._get(getter),
                        lambda self, value: self._set(setter, value), doc=doc)

    amplitude_mv = _TableProperty(
        "amplitude", "Amplitude: peak to peak for the test waveforms, the QRS (R crest to S"
        " trough) for the ECG beats, which play -5..5 mV. A value the selected output cannot"
        " play raises ArgumentError.",
        lambda self, mv: amplitude_refusal(self._selected.function, mv))
    frequency_hz = _TableProperty(
        "frequency", "Frequency (the ECG beats: beats per second). The selected output plays"
        " only its own range (:func:`hsim.values.rate_range`: the pulse and exponential"
        " functions at most 5 Hz, the ECG beats at most 6 Hz = 360 bpm, the biphasic"
        " exponential 1 Hz only); a value outside it raises ArgumentError.",
        lambda self, hz: rate_refusal(self._selected.function, hz))
    pulse_width_ms = _TableProperty("pulse-width", "Pulse width.")
    qrs_ms = _TableProperty("qrs-duration", "QRS width of both ECG beats.")
    t_wave_mv = _TableProperty("t-wave", "T wave of both ECG beats.")
    p_width_ms = _TableProperty("p-duration", "P wave width.")
    pr_ms = _TableProperty("pr-interval", "PR interval.")
    qt_ms = _TableProperty("qt-interval", "QT interval.")
    p_wave_mv = _TableProperty("p-wave", "P wave.")
    st_mv = _TableProperty("st-deviation", "ST deviation.")
    st_segment_ms = _TableProperty("st-segment", "ST weight in the rest of the QT interval.")
    t_duration_ms = _TableProperty("t-duration", "T weight in the rest of the QT interval.")
    pacing_mode = _TableProperty("pacing-mode", "Pacing pulse mode.")
    pacing_amplitude_mv = _TableProperty("pacing-amplitude", "Pacing amplitude; 0 is off.")
    pacing_width_ms = _TableProperty("pacing-width", "Pacing pulse width.")
    pacing_rate_ppm = _TableProperty("pacing-rate", "Fixed pacing rate per minute.")
    overshoot_ms = _TableProperty("overshoot-time-constant", "Overshoot time constant.")
    overshoot_mv = _TableProperty("overshoot-amplitude",
                                  "Overshoot amplitude, kept as its magnitude.")
    noise_mode = property(lambda self: self.get("noise"),
                          doc="Noise in force: the parameter noise, a choice (0 is off).")
    noise_mv = property(lambda self: self.get("noise-amplitude"),
                        doc="Noise, mV peak to peak: the parameter noise-amplitude.")
    drift_mv = _TableProperty("drift-amplitude", "Drift amplitude, peak to peak.")
    drift_hz = _TableProperty("drift-frequency", "Drift frequency.")
    drift_on = _TableProperty("drift", "Drift on.")
    baseline_reset = _TableProperty(
        "baseline-reset", "Baseline-reset test: a 1000 mV sine on the DC channel at the frequency"
        " of the level chosen (by its name or number); 0 is off.")
    ecg_rate_scan = _scalar("SetFreqScanECG", "GetFreqScanECG",
                            "Standard beat scanned from 0.05 to 0.5 beats/s in 30 s; starts output.")
    dc_common_mode = _TableProperty("dc-common-mode", "DC offset common mode.")
    del _scalar, _callback_property

    # --------------------------------------------------------------- output

    @property
    def output(self) -> Output:
        """The selected output function as a value, with the parameters in
        force. Assigning one applies its parameters and selects its function,
        which starts the output (as HSIMSetOutputFunction does); :meth:`stop`
        stops it and :meth:`start` plays the same selection again."""
        selected = self._selected
        function = selected.function
        if isinstance(selected, Ecg):
            custom = function == OutputFunction.ECG_CUSTOM
            names = STANDARD_BEAT_FIELDS + (CUSTOM_BEAT_FIELDS if custom else ())
            beat = {name: self.get(BEAT_FIELDS[name]) for name in names}
            return Ecg(rate_bpm=self.frequency_hz * 60.0, amplitude_mv=self.amplitude_mv,
                       custom=custom, **beat)
        if isinstance(selected, Waveform):
            return type(selected)(self.frequency_hz, self.amplitude_mv, self.pulse_width_ms)
        if isinstance(selected, Pattern227):
            return Pattern227(self._get("GetSpecialWave227"), selected.loop)
        if isinstance(selected, Pattern251):
            return Pattern251(self._get("GetSpecialWave251"), selected.loop)
        if isinstance(selected, Pattern247):
            return Pattern247(self._get("GetSpecialWave247"), selected.loop)
        if isinstance(selected, Ane20000):
            return Ane20000(self._get("GetANE20000Lead"), selected.loop)
        return selected

    @output.setter
    def output(self, value: Optional[Output]) -> None:
        if value is None:
            value = Off()
        if not isinstance(value, Output):
            raise TypeError(f"output takes an hsim output value (Ecg, Sine, ...), not {value!r}")
        # The value checked its own rate and amplitude; the library is given
        # them directly, not through the properties, which check them against
        # the output selected before.
        if isinstance(value, Ecg):
            self._set_parameter("amplitude", value.amplitude_mv)
            self._set_rate(value.function, value.rate_bpm / 60.0)
            for field, name in BEAT_FIELDS.items():
                if getattr(value, field) is not None:
                    self._set_parameter(name, getattr(value, field))
        elif isinstance(value, Waveform):
            self._set_parameter("amplitude", value.amplitude_mv)
            if value.width_ms is not None:
                self.pulse_width_ms = value.width_ms
            self._set_rate(value.function, value.frequency_hz)
        elif isinstance(value, (Pattern227, Pattern251)):
            name = "SetSpecialWave227" if isinstance(value, Pattern227) else "SetSpecialWave251"
            self._set(name, int(value.index))
            self._api.SetStandardWaveformLoop(bool(value.loop))
        elif isinstance(value, Pattern247):
            self._set("SetSpecialWave247", int(value.pattern))
            self._api.SetStandardWaveformLoop(bool(value.loop))
        elif isinstance(value, Ane20000):
            self._set("SetANE20000Lead", int(value.lead))
            self._api.SetStandardWaveformLoop(bool(value.loop))
        elif isinstance(value, LoadedData):
            self._api.HSIMEnableLoop(bool(value.loop))
        self._select(value)

    def _set_rate(self, function: OutputFunction, hz: float) -> None:
        # While a pulse function plays, the library refuses more than 5 Hz;
        # the new function is selected first then (its start waits for the end
        # of the running cycle, which the rate reaches as well).
        if hz > 5.0 and self._get("HSIMGetOutputFunction") in (
                OutputFunction.RECTANGULAR_PULSE, OutputFunction.TRIANGULAR_PULSE):
            self._set("HSIMSetOutputFunction", int(function))
        self._set_parameter("frequency", hz)

    def _select(self, value: Output) -> None:
        self._set("HSIMSetOutputFunction", int(value.function))
        self._selected = value
        self._want_playing = value.function != OutputFunction.OFF

    @property
    def output_function(self) -> OutputFunction:
        """The output function the library has selected now (0 when stopped)."""
        return OutputFunction(self._get("HSIMGetOutputFunction"))

    @property
    def playing(self) -> bool:
        return bool(self._api.HSIMIsPlaying())

    def start(self) -> None:
        """Plays the selected output again after :meth:`stop`."""
        if self._selected.function == OutputFunction.OFF:
            raise StateError("no output selected: assign sim.output first", 0,
                             "HSIMSetOutputFunction")
        self._select(self._selected)

    def stop(self) -> None:
        """Stops the output; the selection is kept for :meth:`start`."""
        self._want_playing = False
        self._set("HSIMSetOutputFunction", 0)

    def play(self, seconds: float) -> None:
        """Plays the selected output for ``seconds`` (starting it when it is
        stopped), then stops it."""
        if not self.playing:
            self.start()
        try:
            time.sleep(seconds)
        finally:
            self.stop()

    def reset(self) -> None:
        """HSIMReset: waveform, pacing, beat, noise, drift, scans, DC offset,
        impedance and pattern loop back to their defaults; stops the output."""
        if not self.connected:
            raise DeviceError("HSIMReset needs a device", -1, "HSIMReset")
        self._api.HSIMReset()
        self._want_playing = False
        self._pacing_synchronized = False

    # ---------------------------------------------------------------- pacing

    @property
    def pacing(self) -> Optional[Pacing]:
        """Pacing in force, None when off. Assign a :class:`Pacing` or None."""
        values = {field: self.get(name) for field, name in PACING_FIELDS.items()}
        if values["amplitude_mv"] == 0:
            return None
        if self._pacing_synchronized:
            values["rate_ppm"] = None
        return Pacing(**values)

    @pacing.setter
    def pacing(self, value: Optional[Pacing]) -> None:
        if value is None:
            self._set_parameter(PACING_FIELDS["amplitude_mv"], 0.0)
            return
        for field, name in PACING_FIELDS.items():
            given = getattr(value, field)
            if field == "rate_ppm" and given is None:  # one pulse per beat
                self._set("HSIMSetPacingRateSynchronized")
                self._pacing_synchronized = True
            elif given is not None:
                self._set_parameter(name, given)
                if field == "rate_ppm":
                    self._pacing_synchronized = False

    # ------------------------------------------------- respiration and tests

    @property
    def respiration(self) -> Optional[Respiration]:
        """The respiration model last assigned (the library keeps no getter)."""
        return self._respiration

    @respiration.setter
    def respiration(self, value: Optional[Respiration]) -> None:
        model = value or Respiration(15, 1, 0, 0, 0, 0)  # None: no modulation depth
        ok = self._api.SetRespireAlgorithmParam(model.breaths_per_minute, model.ratio,
                                                model.apnea_s, model.baseline_percent,
                                                model.amplitude_percent, model.frequency_percent)
        if not ok:
            if self.connected:
                raise ArgumentError("SetRespireAlgorithmParam: breaths_per_minute and ratio"
                                    " must be at least 1", 0, "SetRespireAlgorithmParam",
                                    "breaths_per_minute")
            raise DeviceError("SetRespireAlgorithmParam: no device", 0, "SetRespireAlgorithmParam")
        self._respiration = value

    @property
    def noise(self) -> Optional[Noise]:
        mode = self.noise_mode
        return Noise(mode, self.noise_mv) if mode else None

    @noise.setter
    def noise(self, value: Optional[Noise]) -> None:
        if value is None:
            self.set("noise", 0)
            return
        # The mode is a choice of the parameter noise: checked here, so that
        # the amplitude is stored with it or not at all.
        noise = _parameters.find("noise")
        mode = noise.encode(value.mode, "mode")
        if not noise.accepts(mode):
            raise noise.refused(value.mode, "mode", function="SetECG2_27_Noise")
        self._set("SetECG2_27_Noise", int(mode), float(value.mv))

    @property
    def drift(self) -> Optional[Drift]:
        if not self.drift_on:
            return None
        return Drift(**{field: self.get(name) for field, name in DRIFT_FIELDS.items()})

    @drift.setter
    def drift(self, value: Optional[Drift]) -> None:
        if value is not None:
            for field, name in DRIFT_FIELDS.items():
                self._set_parameter(name, getattr(value, field))
        self.drift_on = value is not None

    @property
    def dynamic_range(self) -> Optional[DynamicRange]:
        if not self._api.HSIMGetDynamicRangeTest():
            return None
        triangle = self.output_function == OutputFunction.TRIANGLE
        return DynamicRange(triangle, self._get("GetDynamicRangeTestAmp"),
                            self._get("GetDynamicRangeTestFreq"))

    @dynamic_range.setter
    def dynamic_range(self, value: Optional[DynamicRange]) -> None:
        if value is None:
            self.set("dynamic-range", 0)  # off; amplitude and frequency are kept
            self._want_playing = False
            return
        code = self._api.HSIMSetDynamicRangeTest(True, bool(value.triangle),
                                                 float(value.amplitude_mv),
                                                 float(value.frequency_hz))
        check("HSIMSetDynamicRangeTest", code,
              value.amplitude_mv if code == -2 else value.frequency_hz)

    @property
    def frequency_scan(self) -> Optional[FrequencyScan]:
        if not self._api.HSIMGetFrequencyScan():
            return None
        return FrequencyScan(self._get("GetFreqScanSineDuration"),
                             self._get("GetFreqScanSineStartFreq"),
                             self._get("GetFreqScanSineStopFreq"))

    @frequency_scan.setter
    def frequency_scan(self, value: Optional[FrequencyScan]) -> None:
        if value is None:  # the scan's settings are kept
            self._set("HSIMSetFrequencyScan", False, self.get("scan-duration"),
                      self.get("scan-start"), self.get("scan-stop"))
            self._want_playing = False
            return
        code = self._api.HSIMSetFrequencyScan(True, int(value.seconds), float(value.start_hz),
                                              float(value.stop_hz))
        shown = {-2: value.start_hz, -3: value.stop_hz, -4: value.seconds}.get(code)
        check("HSIMSetFrequencyScan", code, shown)

    # -------------------------------------------------------------- channels

    # Each channel's front end is the library's parameters of each channel:
    # a channel or value they do not take is refused with their range.

    def set_lead(self, channel: int, lead: OutputLead) -> None:
        """The output lead of a channel (the parameter lead; it cannot be read back)."""
        self._set_parameter("lead", lead, channel, "lead")

    def impedance_mode(self, channel: int) -> int:
        return self.get("impedance", channel)

    def set_impedance_mode(self, channel: int, mode: int) -> None:
        """Input impedance mode of a channel: the parameter impedance."""
        self._set_parameter("impedance", mode, channel, "mode")

    def signal_ground(self, channel: int) -> bool:
        return self.get("signal-ground", channel)

    def set_signal_ground(self, channel: int, on: bool) -> None:
        self._set_parameter("signal-ground", bool(on), channel, "on")

    @property
    def dc_offset_mv(self) -> int:
        """The DC offset (shared by the channels), mV."""
        return self._get("HSIMGetDCOffset")

    def set_dc_offset(self, channel: int, mv: int) -> None:
        """Writes the DC offset through a channel: the parameter dc-offset."""
        self._set_parameter("dc-offset", mv, channel)

    @property
    def dc_variable(self) -> bool:
        return bool(self._api.HSIMGetDCOffsetVariableMode())

    def set_dc_variable(self, channel: int, on: bool) -> None:
        self._set_parameter("dc-variable", bool(on), channel, "on")

    def set_calibration_mode(self, on: bool) -> None:
        self._set("HSIMSetCalibrationMode", bool(on))

    # ------------------------------------------------------------- device info

    @property
    def port(self) -> Optional[int]:
        """The port of the device this Simulator has open; None while none is
        (the device went away, or the Simulator is closed)."""
        port = self._api.raw.HSIMSimGetPort(self._api.handle) if self._api.handle else -1
        return port if port >= 0 else None

    @property
    def serial_number(self) -> str:
        """The device's serial number, as it read it on connecting."""
        raw = self._api.HSIMGetSerialNumber() or b""
        return raw.split(b"\0")[0].decode("ascii", "replace")

    @property
    def device_information(self) -> DeviceInformation:
        info = MODEL_INFORMATION()
        check_flag("HSIMGetDeviceInformation", self._api.HSIMGetDeviceInformation(byref(info)))
        return DeviceInformation(info.Character1, info.Character2, info.Code1, info.Code2,
                                 info.Number1, info.Number2)

    @property
    def hardware_information(self) -> tuple[int, ...]:
        words = (ctypes.c_uint32 * 5)()
        check_flag("HSIMGetHWInformation", self._api.HSIMGetHWInformation(words))
        return tuple(words)

    # ----------------------------------------------------------------- health

    def stream_health(self) -> StreamHealth:
        """The library's stream figures; with an emulated Simulator also the
        device's underruns (``device_underruns``, since the emulator started
        or :meth:`reset_stream_health`), else None there."""
        h = HSIM_STREAM_HEALTH()
        check("HSIMGetStreamHealth", self._api.HSIMGetStreamHealth(byref(h)))
        underruns = None
        if self.emulator is not None:
            underruns = self.emulator.stream_stats().get("underruns")
            if underruns is not None:
                underruns = max(0, underruns - self._device_underruns_base)
        return StreamHealth(h.transfersSent, h.requestsAnswered, h.writeFailures, h.lateAnswers,
                            h.windowWaits, h.windowTimeouts, h.latencySamples, h.lateThresholdMs,
                            h.latencyP50Ms, h.latencyP99Ms, h.latencyMaxMs, h.computeMaxMs,
                            bool(h.realtime), underruns)

    def reset_stream_health(self) -> None:
        """Starts the stream figures afresh, the device's underruns included."""
        self._api.HSIMResetStreamHealth()
        if self.emulator is not None:
            self._device_underruns_base = self.emulator.stream_stats().get("underruns", 0)

    # ---------------------------------------------------------- sample data

    def render(self, seconds: Optional[float] = None, *, samples: Optional[int] = None,
               words: bool = False):
        """What the present settings stream from a start, without a device:
        ``(ac, dc)`` in mV at 40000 samples per second, or with ``words`` the
        words the device receives (ac int16, dc uint16). Shorter when the
        output ends by itself first. Idle levels while no output is selected."""
        return _render(self._api, seconds, samples, words)

    def record(self, seconds: float) -> tuple[np.ndarray, np.ndarray]:
        """Records the streamed samples for ``seconds`` (output must be
        playing): ``(ac, dc)`` in mV, the AC channel divided by the respiration
        attenuation (exact without respiration). Only the samples streamed are
        returned."""
        if not self.playing:
            raise StateError("record: no output is playing", 0, "EnableRecordRaw")
        n = _count(seconds, None)
        ac = np.full(n, np.nan)
        dc = np.full(n, np.nan)
        if not self._api.EnableRecordRaw(_pointer(ac, c_double), _pointer(dc, c_double), n):
            raise StateError("EnableRecordRaw: a recording runs already", 0, "EnableRecordRaw")
        try:
            deadline = time.monotonic() + seconds + 2.0
            while np.isnan(ac[-1]) and time.monotonic() < deadline and self.playing:
                time.sleep(0.02)
        finally:
            self._api.DisableRecordRaw()
        kept = ~np.isnan(ac)
        return ac[kept] / 6400.0, dc[kept]

    def _select_loaded(self, with_dc: bool) -> None:
        """Makes the data just loaded the selected output: start() and play()
        play it, and an output that plays now switches to it (at the end of its
        running cycle). The loop setting of a LoadedData selected before is
        kept."""
        loop = self._selected.loop if isinstance(self._selected, LoadedData) else True
        value = LoadedData(with_dc=with_dc, loop=loop)
        self._api.HSIMEnableLoop(loop)
        if self.playing:
            self._select(value)
        else:
            self._selected = value

    def load(self, ac: Any, dc: Any = None, rate: float = SAMPLE_RATE) -> int:
        """Loads samples (mV) and selects them as the output (:class:`LoadedData`,
        with ``with_dc`` when ``dc`` is given: it drives the DC channel, variable
        DC). Rate 100..40000 per second. Returns the count. Nothing starts
        here: :meth:`play` or :meth:`start` plays the data; an output playing
        now switches to it."""
        ac = _as_doubles(ac, "ac")
        dc_given = dc is not None
        dc = np.zeros_like(ac) if dc is None else _as_doubles(dc, "dc")
        if dc.shape != ac.shape:
            raise ArgumentError("ac and dc differ in length", -1, "HSIMLoadRawData", "dc")
        info = RAW_DATA_INFORMATION(float(rate), len(ac), _pointer(ac, c_double),
                                    _pointer(dc, c_double))
        code = self._api.HSIMLoadRawData(byref(info))
        if code == -2:
            raise ArgumentError(f"HSIMLoadRawData: rate = {rate!r} refused, accepted 100..40000",
                                code, "HSIMLoadRawData", "rate")
        if code < 0:
            raise HsimError("HSIMLoadRawData failed (empty or no memory)", code, "HSIMLoadRawData")
        self._select_loaded(dc_given)
        return code

    def load_record(self, path: PathLike, channel: Union[int, str] = 0) -> int:
        """Loads one signal of a recorded file (WFDB, EDF, CSV, ECG text or
        binary) through the record library, in mV at its own rate, and selects
        it as the output, as :meth:`load` does: ``sim.load_record(path);
        sim.play(10)`` plays the record for 10 s. ``channel`` is an index or a
        signal name."""
        from . import records
        with records.open(path) as record:
            signal = record.signal(channel)
            mv = signal.read()
        return self.load(np.nan_to_num(mv), rate=signal.rate)

    def load_ecg_text(self, path: PathLike, channel: Optional[int] = None) -> int:
        """LoadECGtxt: the simulator's multi-channel text file (channel given)
        or one-channel file (channel None); selects it as :meth:`load` does.
        Returns the samples loaded."""
        raw = str(path).encode()
        if channel is None:
            count = check("LoadECGtxtSingleChannel", self._api.LoadECGtxtSingleChannel(raw))
        else:
            count = check("LoadECGtxt", self._api.LoadECGtxt(raw, int(channel)))
        self._select_loaded(False)
        return count

    def load_ecg_binary(self, path: PathLike) -> int:
        """LoadECGBin; selects the data as :meth:`load` does."""
        count = check("LoadECGBin", self._api.LoadECGBin(str(path)))
        self._select_loaded(False)
        return count


def render(seconds: Optional[float] = None, *, samples: Optional[int] = None,
           words: bool = False):
    """HSIMRenderOutput of the present settings of the library's default
    simulator (see :meth:`Simulator.render`, which renders a Simulator's);
    needs no device."""
    return _render(_capi.load(), seconds, samples, words)


def _render(api: Any, seconds: Optional[float], samples: Optional[int], words: bool):
    n = _count(seconds, samples)
    if words:
        ac, dc = np.empty(n, np.int16), np.empty(n, np.uint16)
        done = api.HSIMRenderOutput(n, None, None, _pointer(ac, c_short), _pointer(dc, c_ushort))
    else:
        ac, dc = np.empty(n), np.empty(n)
        done = api.HSIMRenderOutput(n, _pointer(ac, c_double), _pointer(dc, c_double), None, None)
    check("HSIMRenderOutput", done, n)
    return ac[:done], dc[:done]


def library_version() -> str:
    """The library's version "major.minor.patch.build" (HSIMGetVersion)."""
    v = _capi.load().HSIMGetVersion()
    return f"{v >> 24 & 0xFF}.{v >> 16 & 0xFF}.{v >> 8 & 0xFF}.{v & 0xFF}"


def table_provenance(table: int) -> tuple[bool, str]:
    """Whether a built-in table holds published data, and where it came from."""
    source = c_char_p()
    code = _capi.load().HSIMGetTableProvenance(int(table), byref(source))
    if code < 0:
        raise ArgumentError(f"table = {table!r} refused, accepted 0..2", code,
                            "HSIMGetTableProvenance", "table")
    return bool(code), (source.value or b"").decode()


def pattern(function: OutputFunction, index: int) -> tuple[np.ndarray, int]:
    """A copy of a built-in pattern and its rate: 2-27 and 2-51 as the tables
    hold them (µV), 2-47 as the library computes it."""
    api = _capi.load()
    # function -> its getter and the parameter that selects its index
    getters = {OutputFunction.IEC_2_27: ("GetSpecialWave227Array", "pattern-227"),
               OutputFunction.IEC_2_51: ("GetSpecialWave251Array", "pattern-251"),
               OutputFunction.IEC_2_47: ("GetSpecialWave247Array", "pattern-247")}
    if function not in getters:
        accepted = " or ".join(str(int(f)) for f in getters)
        raise ArgumentError(f"function = {function!r} refused, accepted {accepted}", -2,
                            "pattern", "function")
    getter, row = getters[function]
    length, rate = c_int(), c_int()
    pointer = getattr(api, getter)(int(index), byref(length), byref(rate))
    if not pointer:
        raise ArgumentError(f"index = {index!r} refused for {OutputFunction(function).name},"
                            f" accepted {_parameters.find(row).accepted}", -1, getter, "index")
    return np.ctypeslib.as_array(pointer, shape=(length.value,)).copy(), rate.value
