import math
import re

import numpy as np
import pytest

import hsim

# (property, value within the documented range, value read back)
ROUND_TRIPS = [
    ("amplitude_mv", -2.5, -2.5), ("frequency_hz", 1.25, 1.25), ("pulse_width_ms", 40.0, 40.0),
    ("qrs_ms", 120.0, 120.0), ("t_wave_mv", 0.4, 0.4), ("p_width_ms", 80.0, 80.0),
    ("pr_ms", 150.0, 150.0), ("qt_ms", 400.0, 400.0), ("p_wave_mv", 0.3, 0.3),
    ("st_mv", -0.5, -0.5), ("st_segment_ms", 200.0, 200.0), ("t_duration_ms", 300.0, 300.0),
    ("pacing_mode", 2, 2), ("pacing_amplitude_mv", -5.0, -5.0), ("pacing_width_ms", 2.0, 2.0),
    ("pacing_rate_ppm", 120, 120), ("overshoot_ms", 50, 50),
    ("overshoot_mv", -3.0, 3.0),  # kept as its magnitude
    ("drift_mv", 4.0, 4.0), ("drift_hz", 0.5, 0.5), ("drift_on", True, True),
    ("dc_common_mode", True, True),
    ("output", hsim.Pattern227(index=3), hsim.Pattern227(index=3)),
    ("output", hsim.Pattern251(index=15), hsim.Pattern251(index=15)),
    ("output", hsim.Ane20000(lead=8), hsim.Ane20000(lead=8)),
    ("output", hsim.Square(frequency_hz=2.0, amplitude_mv=0.5, width_ms=20.0),
     hsim.Square(frequency_hz=2.0, amplitude_mv=0.5, width_ms=20.0)),
    ("pacing", hsim.Pacing(3.0, 0.5, 90, 1, 10, 1.0), hsim.Pacing(3.0, 0.5, 90, 1, 10, 1.0)),
    ("noise", hsim.Noise(3, 0.2), hsim.Noise(3, 0.2)),
    ("drift", hsim.Drift(2.0, 0.25), hsim.Drift(2.0, 0.25)),
    ("dynamic_range", hsim.DynamicRange(False, 5.0, 10.0), hsim.DynamicRange(False, 5.0, 10.0)),
    ("frequency_scan", hsim.FrequencyScan(20, 5.0, 1.0), hsim.FrequencyScan(20, 5.0, 1.0)),
]


@pytest.mark.parametrize("name, value, expected", ROUND_TRIPS,
                         ids=[f"{r[0]}-{i}" for i, r in enumerate(ROUND_TRIPS)])
def test_setter_getter_round_trip(shared_sim, name, value, expected):
    setattr(shared_sim, name, value)
    got = getattr(shared_sim, name)
    if isinstance(expected, float):
        assert got == pytest.approx(expected, rel=1e-9)
    else:
        assert got == expected
    shared_sim.stop()


def test_ecg_output_reads_back_rate_and_beat(shared_sim):
    shared_sim.output = hsim.Ecg(rate_bpm=75, amplitude_mv=1.5, qrs_ms=90, st_mv=0.25, custom=True)
    got = shared_sim.output
    assert (got.function, got.rate_bpm, got.amplitude_mv, got.qrs_ms, got.st_mv) == \
        (hsim.OutputFunction.ECG_CUSTOM, pytest.approx(75), 1.5, 90, 0.25)
    assert shared_sim.playing
    shared_sim.stop()
    assert not shared_sim.playing and shared_sim.output_function == hsim.OutputFunction.OFF


@pytest.mark.parametrize("channel", [0, 3])
def test_channel_settings_round_trip(shared_sim, channel):
    shared_sim.set_impedance_mode(channel, 2)
    shared_sim.set_signal_ground(channel, True)
    shared_sim.set_dc_offset(channel, -250)
    assert (shared_sim.impedance_mode(channel), shared_sim.signal_ground(channel),
            shared_sim.dc_offset_mv) == (2, True, -250)


REFUSALS = [  # (property, value, exception, argument, code)
    ("amplitude_mv", 10.5, hsim.ArgumentError, "mv", -2),
    ("amplitude_mv", math.nan, hsim.ArgumentError, "mv", -2),
    ("frequency_hz", 501.0, hsim.ArgumentError, "hz", -2),
    ("qrs_ms", 4.0, hsim.ArgumentError, "ms", -2),
    ("pacing_amplitude_mv", 701.0, hsim.ArgumentError, "mv", -2),
    ("pacing_rate_ppm", 361, hsim.ArgumentError, "per_minute", -2),
    ("drift_hz", 2.5, hsim.ArgumentError, "hz", -2),
    ("output", hsim.Pattern227(index=10), hsim.ArgumentError, "index", -1),
    ("output", hsim.Ane20000(lead=9), hsim.ArgumentError, "lead", -1),
    ("frequency_scan", hsim.FrequencyScan(5, 1.0, 2.0), hsim.ArgumentError, "seconds", -4),
    ("frequency_scan", hsim.FrequencyScan(20, 1.0, 501.0), hsim.ArgumentError, "stop_hz", -3),
    ("dynamic_range", hsim.DynamicRange(True, 1.0, 61.0), hsim.ArgumentError, "frequency_hz", -3),
    ("noise", hsim.Noise(1, 6.0), hsim.ArgumentError, "mv", -2),
]


@pytest.mark.parametrize("name, value, error, argument, code", REFUSALS,
                         ids=[f"{r[0]}-{r[3]}-{i}" for i, r in enumerate(REFUSALS)])
def test_refusal_raises_and_stores_nothing(shared_sim, name, value, error, argument, code):
    before = getattr(shared_sim, name)
    with pytest.raises(error) as caught:
        setattr(shared_sim, name, value)
    assert (caught.value.argument, caught.value.code) == (argument, code)
    assert argument in str(caught.value)
    assert getattr(shared_sim, name) == before
    shared_sim.stop()


def test_frequency_refused_while_a_scan_runs(shared_sim):
    shared_sim.frequency_scan = hsim.FrequencyScan(20, 10.0, 20.0)
    with pytest.raises(hsim.StateError) as caught:
        shared_sim.frequency_hz = 5.0
    assert caught.value.code == -3
    shared_sim.frequency_scan = None
    assert shared_sim.frequency_scan is None and not shared_sim.playing


def test_a_second_simulator_looking_elsewhere_for_ports_is_refused(shared_sim):
    with pytest.raises(hsim.StateError, match="same for every simulator of the process"):
        hsim.Simulator(port=0, timeout=0.1)  # /dev/ttyACM0, not the emulator's directory
    assert shared_sim.connected


def rising_edges(ac, level):
    """Sample indices where ac first reaches level on its way up."""
    return np.flatnonzero((ac[1:] >= level) & (ac[:-1] < level)) + 1


# (output, its period in s, or the refusal's accepted range) at the bounds of
# each function's rate and one step past them.
RATES = [
    (lambda: hsim.Ecg(rate_bpm=360), 60 / 360, None),
    (lambda: hsim.Ecg(rate_bpm=361), None, "1.02..360 bpm"),
    (lambda: hsim.Ecg(rate_bpm=600, custom=True), None, "1.02..360 bpm"),
    (lambda: hsim.Ecg(rate_bpm=1.02), 60 / 1.02, None),
    (lambda: hsim.Ecg(rate_bpm=1.0), None, "1.02..360 bpm"),
    (lambda: hsim.RectangularPulse(frequency_hz=5.0, width_ms=20), 0.2, None),
    (lambda: hsim.RectangularPulse(frequency_hz=5.5), None, "0.017..5 Hz"),
    (lambda: hsim.TriangularPulse(frequency_hz=5.5), None, "0.017..5 Hz"),
    (lambda: hsim.Exponential(frequency_hz=5.5), None, "0.017..5 Hz"),
    (lambda: hsim.Sine(frequency_hz=500.0), 1 / 500, None),
    (lambda: hsim.Sine(frequency_hz=500.5), None, "0.017..500 Hz"),
    (lambda: hsim.Square(frequency_hz=0.016), None, "0.017..500 Hz"),
    (lambda: hsim.BiphasicExponential(frequency_hz=2.0), None, "1 Hz only"),
]


@pytest.mark.parametrize("make, period, accepted", RATES, ids=[str(i) for i in range(len(RATES))])
def test_each_function_plays_its_rate_or_refuses_it(shared_sim, make, period, accepted):
    if accepted is not None:
        with pytest.raises(ValueError, match=re.escape(accepted)):
            make()
        return
    shared_sim.reset()
    shared_sim.output = make()
    seconds = min(3 * period, 2.0)
    ac, _ = shared_sim.render(seconds=seconds)
    shared_sim.stop()
    edges = rising_edges(ac, 0.5 * ac.max())
    if period > 1.0:  # one beat within the first 2 s, none after it
        assert len(edges) == 1
    else:
        assert len(edges) >= 2 and np.allclose(np.diff(edges) / 40000, period, atol=2 / 40000)


# (output at 1.0 mV, highest and lowest value played, mV): peak to peak for the
# test waveforms, R crest at +7/8 and S trough at -1/8 of it for the beats.
AMPLITUDES = [
    (hsim.Sine(frequency_hz=10.0), 0.5, -0.5),
    (hsim.Triangle(frequency_hz=10.0), 0.5, -0.5),
    (hsim.Square(frequency_hz=10.0), 0.5, -0.5),
    (hsim.RectangularPulse(frequency_hz=2.0, width_ms=100), 1.0, 0.0),
    (hsim.TriangularPulse(frequency_hz=2.0, width_ms=100), 1.0, 0.0),
    (hsim.Exponential(frequency_hz=1.0), 1.0, 0.0),
    (hsim.BiphasicExponential(), 0.5, -0.5),
    (hsim.Ecg(rate_bpm=60), 0.875, -0.125),
    (hsim.Ecg(rate_bpm=60, custom=True), 0.875, -0.125),
]


@pytest.mark.parametrize("output, high, low", AMPLITUDES,
                         ids=[str(i) for i in range(len(AMPLITUDES))])
def test_amplitude_is_what_the_documentation_says(shared_sim, output, high, low):
    shared_sim.reset()
    shared_sim.output = output
    ac, _ = shared_sim.render(seconds=1.0)
    shared_sim.stop()
    assert (ac.max(), ac.min()) == (pytest.approx(high, abs=2e-3), pytest.approx(low, abs=2e-3))


def test_ecg_amplitude_beyond_the_beats_clamp_is_refused(shared_sim):
    with pytest.raises(ValueError, match=re.escape("-5..5 mV")):
        hsim.Ecg(amplitude_mv=5.5)
    shared_sim.output = hsim.Ecg(amplitude_mv=4.0)
    ac, _ = shared_sim.render(seconds=1.0)
    assert ac.max() == pytest.approx(3.5, abs=2e-3)  # 7/8 of 4 mV, under the clamp
    with pytest.raises(hsim.ArgumentError, match=re.escape("-5..5 mV")) as caught:
        shared_sim.amplitude_mv = 6.0
    assert caught.value.argument == "mv" and shared_sim.amplitude_mv == 4.0
    shared_sim.stop()


@pytest.mark.parametrize("output, hz, accepted", [
    (hsim.Ecg(), 6.5, "1.02..360 bpm"),
    (hsim.RectangularPulse(frequency_hz=1.0), 5.5, "0.017..5 Hz"),
    (hsim.BiphasicExponential(), 2.0, "1 Hz only"),
])
def test_frequency_property_refuses_what_the_selected_output_cannot_play(shared_sim, output, hz,
                                                                        accepted):
    shared_sim.output = output
    before = shared_sim.frequency_hz
    with pytest.raises(hsim.ArgumentError, match=re.escape(accepted)) as caught:
        shared_sim.frequency_hz = hz
    assert caught.value.argument == "hz" and shared_sim.frequency_hz == before
    shared_sim.stop()


def test_a_pulse_that_plays_gives_way_to_a_faster_waveform(shared_sim):
    shared_sim.output = hsim.RectangularPulse(frequency_hz=2.0)
    shared_sim.output = hsim.Sine(frequency_hz=100.0, amplitude_mv=1.0)
    assert shared_sim.output == hsim.Sine(frequency_hz=100.0, amplitude_mv=1.0,
                                          width_ms=shared_sim.pulse_width_ms)
    assert shared_sim.output_function == hsim.OutputFunction.SINE
    shared_sim.stop()


def test_the_beat_is_chosen_explicitly(shared_sim):
    assert hsim.Ecg(rate_bpm=75, qrs_ms=100).function == hsim.OutputFunction.ECG_STANDARD
    assert hsim.Ecg(p_wave_mv=0.3, custom=True).function == hsim.OutputFunction.ECG_CUSTOM
    refused = "p_wave_mv, st_mv shape only the custom beat.*custom=True"
    with pytest.raises(ValueError, match=refused):
        hsim.Ecg(qrs_ms=100, p_wave_mv=0.3, st_mv=0.1)
    shared_sim.output = hsim.Ecg(rate_bpm=75, qrs_ms=120, t_wave_mv=0.4)
    got = shared_sim.output
    assert (got.function, got.qrs_ms, got.t_wave_mv, got.p_wave_mv) == \
        (hsim.OutputFunction.ECG_STANDARD, 120, 0.4, None)
    shared_sim.stop()
