import math

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
    shared_sim.output = hsim.Ecg(rate_bpm=75, amplitude_mv=1.5, qrs_ms=90, st_mv=0.25)
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


def test_a_second_simulator_is_refused(shared_sim):
    with pytest.raises(hsim.StateError, match="one device per process"):
        hsim.Simulator(port=0, timeout=0.1)
