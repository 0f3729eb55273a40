"""Small value classes for what the simulator plays: output functions, pacing,
respiration and the test modes. Each is immutable; assign one to the matching
:class:`hsim.Simulator` property. Units as in the C interface: mV, Hz, ms, s.

The amplitude is peak to peak for every test waveform: a 1.0 mV sine plays
+-0.5 mV, a 1.0 mV pulse rises from 0 to 1.0 mV. For the ECG beats it is the
QRS from R crest to S trough: the R wave peaks at 0.875 x amplitude, the S wave
at -0.125 x amplitude. An output function plays only the rates of its range
(:func:`rate_range`); a value outside it is refused with ValueError, as the
library would cap it without saying so.
"""
from __future__ import annotations

from dataclasses import dataclass, fields
from typing import ClassVar, Optional

from ._capi import IEC247Pattern, OutputFunction

_F = OutputFunction

# The rates (Hz) each output function plays. When a function starts, the
# library caps a higher rate to the function's maximum without saying so, and
# the biphasic exponential always plays at 1 Hz.
_RATE_RANGES_HZ = {
    _F.SINE: (0.017, 500.0), _F.TRIANGLE: (0.017, 500.0), _F.SQUARE: (0.017, 500.0),
    _F.RECTANGULAR_PULSE: (0.017, 5.0), _F.TRIANGULAR_PULSE: (0.017, 5.0),
    _F.EXPONENTIAL: (0.017, 5.0), _F.ECG_STANDARD: (0.017, 6.0), _F.ECG_CUSTOM: (0.017, 6.0),
    _F.BIPHASIC_EXPONENTIAL: (1.0, 1.0),
}

# The ECG beats clamp their amplitude to this (mV, either sign).
ECG_MAX_AMPLITUDE_MV = 5.0


def rate_range(function: OutputFunction) -> Optional[tuple[float, float]]:
    """(lowest, highest) rate in Hz that ``function`` plays, or None where the
    rate plays no part (the standard patterns and loaded data run at their own
    rates)."""
    return _RATE_RANGES_HZ.get(function)


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
    """A test waveform of frequency_hz and amplitude_mv (peak to peak,
    -10..10 mV); width_ms is the pulse width, 1..300 ms, used by the
    rectangular and triangular pulses (None keeps the width set). Each
    function's rate range is in its own class; a rate outside it raises
    ValueError."""
    frequency_hz: float = 1.0
    amplitude_mv: float = 1.0
    width_ms: Optional[float] = None

    def __post_init__(self):
        refusal = rate_refusal(self.FUNCTION, self.frequency_hz)
        if refusal is not None:
            raise ValueError(f"frequency_hz = {self.frequency_hz!r} refused, {refusal}")


@dataclass(frozen=True)
class Sine(Waveform):
    """Sine of 0.017..500 Hz; a 1.0 mV amplitude plays +-0.5 mV."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.SINE


@dataclass(frozen=True)
class Triangle(Waveform):
    """Triangle of 0.017..500 Hz, from 0 up to +amplitude/2, down to
    -amplitude/2 and back; a 1.0 mV amplitude plays +-0.5 mV."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.TRIANGLE


@dataclass(frozen=True)
class Square(Waveform):
    """Square of 0.017..500 Hz, +amplitude/2 for the first half of the cycle
    and -amplitude/2 for the second; a 1.0 mV amplitude plays +-0.5 mV."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.SQUARE


@dataclass(frozen=True)
class RectangularPulse(Waveform):
    """Rectangular pulse of 0.017..5 Hz: amplitude for width_ms at the start
    of each cycle, 0 for the rest (a 1.0 mV amplitude is a 1.0 mV pulse)."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.RECTANGULAR_PULSE


@dataclass(frozen=True)
class TriangularPulse(Waveform):
    """Triangular pulse of 0.017..5 Hz: rises from 0 to amplitude in
    width_ms / 2 and falls back in as long, 0 for the rest of the cycle; it
    starts 10 ms into the cycle while a pacing amplitude is set."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.TRIANGULAR_PULSE


@dataclass(frozen=True)
class Exponential(Waveform):
    """Exponential decay of 0.017..5 Hz: amplitude at the start of each cycle,
    falling towards 0 with a 50 ms time constant."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.EXPONENTIAL


@dataclass(frozen=True)
class BiphasicExponential(Waveform):
    """Biphasic exponential at 1 Hz only (the library sets 1 Hz and a 50 ms
    width for it): +amplitude/2 at the start of the cycle and -amplitude/2 at
    its middle, each decaying towards 0 with a 50 ms time constant."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.BIPHASIC_EXPONENTIAL


# Beat fields of Ecg -> (C setter, C getter). The standard beat uses the first
# two; the custom beat all of them.
BEAT_FIELDS = {
    "qrs_ms": ("HSIMSetQRSDuration", "HSIMGetQRSDuration"),
    "t_wave_mv": ("HSIMSetTWave", "HSIMGetTWave"),
    "p_width_ms": ("HSIMSetPDuration", "HSIMGetPDuration"),
    "pr_ms": ("HSIMSetPRInterval", "HSIMGetPRInterval"),
    "qt_ms": ("HSIMSetQTInterval", "HSIMGetQTInterval"),
    "p_wave_mv": ("HSIMSetPWave", "HSIMGetPWave"),
    "st_mv": ("HSIMSetSTDeviation", "HSIMGetSTDeviation"),
    "st_segment_ms": ("HSIMSetSTSegment", "HSIMGetSTSegment"),
    "t_duration_ms": ("HSIMSetTDuration", "HSIMGetTDuration"),
}
STANDARD_BEAT_FIELDS = ("qrs_ms", "t_wave_mv")
CUSTOM_BEAT_FIELDS = tuple(name for name in BEAT_FIELDS if name not in STANDARD_BEAT_FIELDS)


@dataclass(frozen=True)
class Ecg(Output):
    """An ECG at rate_bpm beats per minute, 1.02..360 (0.017..6 Hz).

    amplitude_mv is the QRS from R crest to S trough, -5..5 mV: the R wave
    peaks at 0.875 x amplitude and the S wave at -0.125 x amplitude (1.0 mV
    plays +0.875 / -0.125 mV). A rate or amplitude outside these ranges raises
    ValueError (the library would play 360 bpm or 5 mV instead).

    The standard beat (function 7) plays unless ``custom`` is True. Both
    beats take qrs_ms (5..200 ms) and t_wave_mv (0..5 mV); the custom beat
    (function 8, ``custom=True``) also takes the P wave (p_width_ms
    50..100 ms, p_wave_mv 0..2 mV), pr_ms (0..200 ms), qt_ms (100..900 ms),
    st_mv (ST deviation, -2..2 mV) and the weights of the ST segment and T
    wave in the rest of the QT interval (st_segment_ms, t_duration_ms,
    100..900). Giving one of those without ``custom=True`` raises
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
    """IEC 60601-2-27 test ECG index 0..9."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.IEC_2_27
    index: int = 0
    loop: bool = True


@dataclass(frozen=True)
class Pattern251(Output):
    """IEC 60601-2-51 calibration ECG index 0..15."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.IEC_2_51
    index: int = 0
    loop: bool = True


@dataclass(frozen=True)
class Pattern247(Output):
    """IEC 60601-2-47 pattern."""
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.IEC_2_47
    pattern: IEC247Pattern = IEC247Pattern.PULSE_TRAIN
    loop: bool = True


@dataclass(frozen=True)
class Ane20000(Output):
    """ANE20000 test ECG, lead 0..8."""
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
    """Pacemaker pulses on the DC channel: amplitude -700..700 mV (0 is off),
    width 0.1..3 ms, rate 10..360 per minute or None for one pulse per beat,
    overshoot time constant 0..100 ms and amplitude |mv| <= 5 (None keeps
    what is set), pulse mode any value."""
    amplitude_mv: float = 2.0
    width_ms: float = 1.0
    rate_ppm: Optional[int] = 70
    mode: int = 0
    overshoot_ms: Optional[int] = None
    overshoot_mv: Optional[float] = None


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
    """Mains or random noise on the ECG: mode 1 = 50 Hz, 3 = random, other
    non-zero = 60 Hz; 0.01..5 mV peak to peak."""
    mode: int = 1
    mv: float = 0.1


@dataclass(frozen=True)
class Drift:
    """Triangular baseline drift: 1..8 mV peak to peak, 0.05..2 Hz."""
    mv: float = 1.0
    hz: float = 0.1


@dataclass(frozen=True)
class DynamicRange:
    """Dynamic-range test: a triangle (or square) of 0..10 mV at 1..60 Hz."""
    triangle: bool = True
    amplitude_mv: float = 1.0
    frequency_hz: float = 1.0


@dataclass(frozen=True)
class FrequencyScan:
    """Sine scan from start_hz to stop_hz (0.67..500 Hz) in seconds (10..180)."""
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
