"""Small value classes for what the simulator plays: output functions, pacing,
respiration and the test modes. Each is immutable; assign one to the matching
:class:`hsim.Simulator` property. Units as in the C interface: mV, Hz, ms, s.

The amplitude is peak to peak for every test waveform: a 1.0 mV sine plays
+-0.5 mV, a 1.0 mV pulse rises from 0 to 1.0 mV. For the ECG beats it is the
QRS from R crest to S trough: the R wave peaks at 0.875 x amplitude, the S wave
at -0.125 x amplitude. An output function plays only the rates of its range
(:func:`rate_range`); a value outside it is refused with ValueError, as the
library would cap it without saying so.

The fields that are parameters of the library (:func:`hsim.parameters`) take
the range or the choices the library gives for them: the maps and docstrings
below name the parameter of each field, and a value outside its range is
refused when the value is assigned to the Simulator, with that range in the
message.
"""
from __future__ import annotations

from dataclasses import dataclass, fields
from typing import ClassVar, Optional, Union

from ._capi import IEC247Pattern, OutputFunction
from ._parameters import find

_F = OutputFunction

# The output functions whose rate is the frequency parameter; where one plays
# less than the library's range, its highest rate. When a function starts,
# the library caps a higher rate to the function's maximum without saying so,
# and the biphasic exponential always plays at 1 Hz.
_RATE_CAPS_HZ: dict[OutputFunction, Optional[float]] = {
    _F.SINE: None, _F.TRIANGLE: None, _F.SQUARE: None,
    _F.RECTANGULAR_PULSE: 5.0, _F.TRIANGULAR_PULSE: 5.0, _F.EXPONENTIAL: 5.0,
    _F.ECG_STANDARD: 6.0, _F.ECG_CUSTOM: 6.0,
}
_FIXED_RATES_HZ = {_F.BIPHASIC_EXPONENTIAL: 1.0}

# The ECG beats clamp their amplitude to this (mV, either sign).
ECG_MAX_AMPLITUDE_MV = 5.0


def rate_range(function: OutputFunction) -> Optional[tuple[float, float]]:
    """(lowest, highest) rate in Hz that ``function`` plays, or None where the
    rate plays no part (the standard patterns and loaded data run at their own
    rates): the library's frequency range, capped where the function plays
    less."""
    if function in _FIXED_RATES_HZ:
        return _FIXED_RATES_HZ[function], _FIXED_RATES_HZ[function]
    if function not in _RATE_CAPS_HZ:
        return None
    frequency = find("frequency")
    cap = _RATE_CAPS_HZ[function]
    highest = frequency.maximum if cap is None else min(cap, frequency.maximum)
    return frequency.minimum, highest


def rate_refusal(function: OutputFunction, hz: float) -> Optional[str]:
    """None when ``function`` plays ``hz``; else the range it plays, as
    "accepted ... for FUNCTION"."""
    limits = rate_range(function)
    if limits is None or limits[0] <= hz <= limits[1]:
        return None
    name = OutputFunction(function).name
    if function in (_F.ECG_STANDARD, _F.ECG_CUSTOM):
        return (f"accepted {limits[0] * 60:g}..{limits[1] * 60:g} bpm"
                f" ({limits[0]:g}..{limits[1]:g} Hz) for {name}")
    if limits[0] == limits[1]:
        return f"accepted {limits[0]:g} Hz only for {name}"
    return f"accepted {limits[0]:g}..{limits[1]:g} Hz for {name}"


def amplitude_refusal(function: OutputFunction, mv: float) -> Optional[str]:
    """None when ``function`` plays an amplitude of ``mv``; else the range."""
    if function in (_F.ECG_STANDARD, _F.ECG_CUSTOM) and not abs(mv) <= ECG_MAX_AMPLITUDE_MV:
        return (f"accepted -{ECG_MAX_AMPLITUDE_MV:g}..{ECG_MAX_AMPLITUDE_MV:g} mV for"
                f" {OutputFunction(function).name} (the beat is clamped there)")
    return None


@dataclass(frozen=True)
class Output:
    """Base of the output functions."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.OFF

    @property
    def function(self) -> OutputFunction:
        return self.FUNCTION


@dataclass(frozen=True)
class Off(Output):
    """No output (function 0)."""


@dataclass(frozen=True)
class Waveform(Output):
    """A test waveform of frequency_hz and amplitude_mv (peak to peak; the
    parameters frequency and amplitude); width_ms is the pulse width
    (pulse-width), used by the rectangular and triangular pulses (None keeps
    the width set). A rate outside what the function plays
    (:func:`rate_range`) raises ValueError."""
    frequency_hz: float = 1.0
    amplitude_mv: float = 1.0
    width_ms: Optional[float] = None

    def __post_init__(self):
        refusal = rate_refusal(self.FUNCTION, self.frequency_hz)
        if refusal is not None:
            raise ValueError(f"frequency_hz = {self.frequency_hz!r} refused, {refusal}")


@dataclass(frozen=True)
class Sine(Waveform):
    """Sine over the whole frequency range; a 1.0 mV amplitude plays +-0.5 mV."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.SINE


@dataclass(frozen=True)
class Triangle(Waveform):
    """Triangle over the whole frequency range, from 0 up to +amplitude/2, down to
    -amplitude/2 and back; a 1.0 mV amplitude plays +-0.5 mV."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.TRIANGLE


@dataclass(frozen=True)
class Square(Waveform):
    """Square over the whole frequency range, +amplitude/2 for the first half of the cycle
    and -amplitude/2 for the second; a 1.0 mV amplitude plays +-0.5 mV."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.SQUARE


@dataclass(frozen=True)
class RectangularPulse(Waveform):
    """Rectangular pulse of at most 5 Hz: amplitude for width_ms at the start
    of each cycle, 0 for the rest (a 1.0 mV amplitude is a 1.0 mV pulse)."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.RECTANGULAR_PULSE


@dataclass(frozen=True)
class TriangularPulse(Waveform):
    """Triangular pulse of at most 5 Hz: rises from 0 to amplitude in
    width_ms / 2 and falls back in as long, 0 for the rest of the cycle; it
    starts 10 ms into the cycle while a pacing amplitude is set."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.TRIANGULAR_PULSE


@dataclass(frozen=True)
class Exponential(Waveform):
    """Exponential decay of at most 5 Hz: amplitude at the start of each cycle,
    falling towards 0 with a 50 ms time constant."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.EXPONENTIAL


@dataclass(frozen=True)
class BiphasicExponential(Waveform):
    """Biphasic exponential at 1 Hz only (the library sets 1 Hz and a 50 ms
    width for it): +amplitude/2 at the start of the cycle and -amplitude/2 at
    its middle, each decaying towards 0 with a 50 ms time constant."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.BIPHASIC_EXPONENTIAL


# Beat fields of Ecg -> the library's parameter. The standard beat uses the
# first two; the custom beat all of them.
BEAT_FIELDS = {
    "qrs_ms": "qrs-duration",
    "t_wave_mv": "t-wave",
    "p_width_ms": "p-duration",
    "pr_ms": "pr-interval",
    "qt_ms": "qt-interval",
    "p_wave_mv": "p-wave",
    "st_mv": "st-deviation",
    "st_segment_ms": "st-segment",
    "t_duration_ms": "t-duration",
}
STANDARD_BEAT_FIELDS = ("qrs_ms", "t_wave_mv")
CUSTOM_BEAT_FIELDS = tuple(name for name in BEAT_FIELDS if name not in STANDARD_BEAT_FIELDS)


@dataclass(frozen=True)
class Ecg(Output):
    """An ECG at rate_bpm beats per minute: 60 x the lowest frequency the
    library takes, up to 360 (6 Hz).

    amplitude_mv is the QRS from R crest to S trough, -5..5 mV: the R wave
    peaks at 0.875 x amplitude and the S wave at -0.125 x amplitude (1.0 mV
    plays +0.875 / -0.125 mV). A rate or amplitude outside these ranges raises
    ValueError (the library would play 360 bpm or 5 mV instead).

    The standard beat (function 7) plays unless ``custom`` is True. Both
    beats take qrs_ms and t_wave_mv; the custom beat (function 8,
    ``custom=True``) also takes the P wave (p_width_ms, p_wave_mv), pr_ms,
    qt_ms, st_mv (ST deviation) and the weights of the ST segment and T wave
    in the rest of the QT interval (st_segment_ms, t_duration_ms). Each is a
    parameter of the library (:data:`BEAT_FIELDS` names it) and takes its
    range. Giving one of the custom beat's without ``custom=True`` raises
    ValueError. A field left None keeps what is set.
    """
    rate_bpm: float = 60.0
    amplitude_mv: float = 1.0
    qrs_ms: Optional[float] = None
    t_wave_mv: Optional[float] = None
    p_width_ms: Optional[float] = None
    pr_ms: Optional[float] = None
    qt_ms: Optional[float] = None
    p_wave_mv: Optional[float] = None
    st_mv: Optional[float] = None
    st_segment_ms: Optional[float] = None
    t_duration_ms: Optional[float] = None
    custom: bool = False

    def __post_init__(self):
        given = [name for name in CUSTOM_BEAT_FIELDS if getattr(self, name) is not None]
        if given and not self.custom:
            raise ValueError(f"{', '.join(given)} shape{'s' if len(given) == 1 else ''} only the"
                             " custom beat: give custom=True to play it (the standard beat takes"
                             " rate_bpm, amplitude_mv, qrs_ms and t_wave_mv)")
        refusal = rate_refusal(self.function, self.rate_bpm / 60.0)
        if refusal is not None:
            raise ValueError(f"rate_bpm = {self.rate_bpm!r} refused, {refusal}")
        refusal = amplitude_refusal(self.function, self.amplitude_mv)
        if refusal is not None:
            raise ValueError(f"amplitude_mv = {self.amplitude_mv!r} refused, {refusal}")

    @property
    def function(self) -> OutputFunction:
        return OutputFunction.ECG_CUSTOM if self.custom else OutputFunction.ECG_STANDARD


@dataclass(frozen=True)
class Pattern227(Output):
    """IEC 60601-2-27 test ECG: index as the parameter pattern-227 takes it."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.IEC_2_27
    index: int = 0
    loop: bool = True


@dataclass(frozen=True)
class Pattern251(Output):
    """IEC 60601-2-51 calibration ECG: index as the parameter pattern-251 takes it."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.IEC_2_51
    index: int = 0
    loop: bool = True


@dataclass(frozen=True)
class Pattern247(Output):
    """IEC 60601-2-47 pattern (the parameter pattern-247)."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.IEC_2_47
    pattern: IEC247Pattern = IEC247Pattern.PULSE_TRAIN
    loop: bool = True


@dataclass(frozen=True)
class Ane20000(Output):
    """ANE20000 test ECG: lead as the parameter ane-lead takes it."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.ANE20000
    lead: int = 0
    loop: bool = True


@dataclass(frozen=True)
class LoadedData(Output):
    """Plays the loaded data (Simulator.load, load_record, ...) at its own
    rate, in mV as loaded; with_dc also drives the DC channel from it
    (function 18). Loading selects it by itself."""
    with_dc: bool = False
    loop: bool = True

    @property
    def function(self) -> OutputFunction:
        return OutputFunction.ECG_FILE_WITH_DC if self.with_dc else OutputFunction.ECG_FILE


@dataclass(frozen=True)
class Pacing:
    """Pacemaker pulses on the DC channel: amplitude (0 is off), width, rate
    per minute or None for one pulse per beat, pulse mode, overshoot time
    constant and amplitude (None keeps what is set; the overshoot's sign
    follows the pulse). Each is a parameter of the library
    (:data:`PACING_FIELDS` names it) and takes its range."""
    amplitude_mv: float = 2.0
    width_ms: float = 1.0
    rate_ppm: Optional[int] = 70
    mode: int = 0
    overshoot_ms: Optional[int] = None
    overshoot_mv: Optional[float] = None


# Fields of Pacing -> the library's parameter, in the order they are set: the
# amplitude, which switches the pulses on, last.
PACING_FIELDS = {
    "width_ms": "pacing-width",
    "rate_ppm": "pacing-rate",
    "overshoot_ms": "overshoot-time-constant",
    "overshoot_mv": "overshoot-amplitude",
    "mode": "pacing-mode",
    "amplitude_mv": "pacing-amplitude",
}


@dataclass(frozen=True)
class Respiration:
    """Respiration modulation of the ECG: breaths per minute and inhale :
    exhale = 1 : ratio (both at least 1), apnoea seconds, and the depths of the
    baseline, amplitude and rate modulation in percent of the amplitude and
    rate set at the moment of assignment."""
    breaths_per_minute: int = 15
    ratio: int = 2
    apnea_s: int = 0
    baseline_percent: int = 0
    amplitude_percent: int = 10
    frequency_percent: int = 0


@dataclass(frozen=True)
class Noise:
    """Mains or random noise on the ECG: ``mode`` is one of the choices of
    the parameter noise, by its name ("random") or its number (0 is off), and
    ``mv`` the peak-to-peak amplitude (the parameter noise-amplitude). Read
    back, the mode is the choice's IntEnum member."""
    mode: Union[int, str] = 1
    mv: float = 0.1


@dataclass(frozen=True)
class Drift:
    """Triangular baseline drift, mv peak to peak at hz: the parameters
    drift-amplitude and drift-frequency (:data:`DRIFT_FIELDS`)."""
    mv: float = 1.0
    hz: float = 0.1


DRIFT_FIELDS = {"mv": "drift-amplitude", "hz": "drift-frequency"}


@dataclass(frozen=True)
class DynamicRange:
    """Dynamic-range test: a triangle (or square) of amplitude_mv at
    frequency_hz (the parameters dynamic-range-amplitude and
    dynamic-range-frequency)."""
    triangle: bool = True
    amplitude_mv: float = 1.0
    frequency_hz: float = 1.0


@dataclass(frozen=True)
class FrequencyScan:
    """Sine scan from start_hz to stop_hz in seconds (the parameters
    scan-start, scan-stop and scan-duration)."""
    seconds: int = 10
    start_hz: float = 1.0
    stop_hz: float = 100.0


@dataclass(frozen=True)
class StreamHealth:
    """How well the stream keeps up (HSIM_STREAM_HEALTH), since the last
    connection or reset. ``device_underruns`` is what the device side
    reports: the times its play-out queue ran dry, from the emulator of an
    emulated Simulator (since it started or the last reset), None where no
    such count is available."""
    transfers_sent: int
    requests_answered: int
    write_failures: int
    late_answers: int
    window_waits: int
    window_timeouts: int
    latency_samples: int
    late_threshold_ms: float
    latency_p50_ms: float
    latency_p99_ms: float
    latency_max_ms: float
    compute_max_ms: float
    realtime: bool
    device_underruns: Optional[int] = None

    def __str__(self) -> str:
        underruns = "" if self.device_underruns is None else \
            f", {self.device_underruns} device underruns"
        return (f"{self.transfers_sent} transfers, {self.late_answers} late, "
                f"{self.write_failures} failed writes, latency p50 {self.latency_p50_ms:.2f} ms "
                f"p99 {self.latency_p99_ms:.2f} ms max {self.latency_max_ms:.2f} ms, "
                f"compute max {self.compute_max_ms:.2f} ms{underruns}")


@dataclass(frozen=True)
class DeviceInformation:
    """Identity of the device (MODEL_INFORMATION)."""
    character1: int
    character2: int
    code1: int
    code2: int
    number1: int
    number2: int


def field_names(cls) -> list[str]:
    return [f.name for f in fields(cls)]
