"""Small value classes for what the simulator plays: output functions, pacing,
respiration and the test modes. Each is immutable; assign one to the matching
:class:`hsim.Simulator` property. Units as in the C interface: mV, Hz, ms, s.
"""
from __future__ import annotations

from dataclasses import dataclass, fields
from typing import ClassVar, Optional

from ._capi import IEC247Pattern, OutputFunction


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
    """A test waveform: frequency 0.017..500 Hz (at most 5 Hz for the pulse
    functions), amplitude -10..10 mV, pulse width 1..300 ms (pulses only;
    None keeps the width set)."""
    frequency_hz: float = 1.0
    amplitude_mv: float = 1.0
    width_ms: Optional[float] = None


@dataclass(frozen=True)
class Sine(Waveform):
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.SINE


@dataclass(frozen=True)
class Triangle(Waveform):
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.TRIANGLE


@dataclass(frozen=True)
class Square(Waveform):
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.SQUARE


@dataclass(frozen=True)
class RectangularPulse(Waveform):
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.RECTANGULAR_PULSE


@dataclass(frozen=True)
class TriangularPulse(Waveform):
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.TRIANGULAR_PULSE


@dataclass(frozen=True)
class Exponential(Waveform):
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.EXPONENTIAL


@dataclass(frozen=True)
class BiphasicExponential(Waveform):
    FUNCTION: ClassVar[OutputFunction] = OutputFunction.BIPHASIC_EXPONENTIAL


# Beat fields of Ecg -> (C setter, C getter).
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


@dataclass(frozen=True)
class Ecg(Output):
    """An ECG at rate_bpm beats per minute (1.02..30000, as 0.017..500 Hz).

    Without beat fields the standard beat plays (function 7); any beat field
    selects the custom beat (function 8), the other fields keeping what is
    set. Ranges: QRS 5..200 ms, T wave 0..5 mV, P width 50..100 ms, PR
    0..200 ms, QT 100..900 ms, P wave 0..2 mV, ST deviation -2..2 mV, ST and T
    weights 100..900 ms.
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
    custom: Optional[bool] = None  # None: custom when a beat field is given

    @property
    def function(self) -> OutputFunction:
        custom = self.custom
        if custom is None:
            custom = any(getattr(self, name) is not None for name in BEAT_FIELDS)
        return OutputFunction.ECG_CUSTOM if custom else OutputFunction.ECG_STANDARD


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
    """Plays the loaded data (Simulator.load, load_record, ...); with_dc also
    drives the DC channel from it (function 18)."""
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
    connection or reset."""
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

    def __str__(self) -> str:
        return (f"{self.transfers_sent} transfers, {self.late_answers} late, "
                f"{self.write_failures} failed writes, latency p50 {self.latency_p50_ms:.2f} ms "
                f"p99 {self.latency_p99_ms:.2f} ms max {self.latency_max_ms:.2f} ms, "
                f"compute max {self.compute_max_ms:.2f} ms")


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
