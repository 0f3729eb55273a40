import os
import threading
import time

import numpy as np
import pytest

import hsim
from hsim.plot import ecg_paper, find_pacing_pulses
from waiting import wait_until


def threads():
    return len(os.listdir("/proc/self/task"))


def test_render_equals_what_the_emulator_played():
    with hsim.Simulator.emulated() as sim:  # played at the sample rate
        render_and_compare(sim)


def render_and_compare(sim):
    sim.output = hsim.Ecg(rate_bpm=78, amplitude_mv=1.2, qrs_ms=80)
    sim.pacing = hsim.Pacing(amplitude_mv=2.0, width_ms=2.0, rate_ppm=80)
    sim.stop()
    count = 80000
    sim.start()
    ac, dc = sim.render(samples=count, words=True)
    sim.stop()
    sim.emulator.clear_played()
    sim.start()
    assert wait_until(lambda: len(sim.emulator.played()) >= count, 20)
    sim.stop()
    played = sim.emulator.played()
    assert np.array_equal(played["ac"][:count], ac)
    assert np.array_equal(played["dc"][:count], dc)
    edges = np.flatnonzero(np.diff(dc.astype(int)) > 0)
    assert len(edges) >= 2 and np.allclose(np.diff(edges), 30000, atol=40)  # 80 a minute


def test_render_words_are_the_millivolts_on_the_device_scale(sim):
    sim.output = hsim.Sine(frequency_hz=10.0, amplitude_mv=1.5)
    sim.pacing = hsim.Pacing(amplitude_mv=2.0, width_ms=1.0, rate_ppm=120)
    ac, dc = sim.render(seconds=0.5)
    ac_words, dc_words = sim.render(seconds=0.5, words=True)
    assert len(ac) == 20000 and dc.max() == pytest.approx(2.0)
    assert np.array_equal(ac_words, np.trunc(ac * 6400).astype(np.int16))
    assert np.array_equal(dc_words, np.trunc((dc + 1000) / 2000 * 65535 + 0.5).astype(np.uint16))


def test_callbacks_are_called_and_their_exceptions_stay_in_python(sim):
    times = []
    sim.on_signal = lambda t, mv: times.append(t)
    sim.on_pacing = lambda t, mv: 1 / 0
    sim.output = hsim.Ecg(rate_bpm=120)
    sim.pacing = hsim.Pacing(amplitude_mv=1.0, width_ms=1.0, rate_ppm=300)
    assert wait_until(lambda: len(times) > 1000 and sim.callback_errors, 10)
    assert np.allclose(np.diff(times[:100]), 10 / 40000)
    assert isinstance(sim.callback_errors[0], ZeroDivisionError)
    before = sim.stream_health().transfers_sent
    assert wait_until(lambda: sim.stream_health().transfers_sent > before + 10, 5)
    sim.on_signal = None
    count = len(times)
    time.sleep(0.2)
    assert len(times) == count


def test_callbacks_never_run_on_the_streaming_thread_and_a_busy_interpreter_cannot_delay_it():
    # A pure-Python thread that never lets go of the interpreter for long: a
    # callback run on the library's streaming thread would wait for it at
    # every tenth sample.
    with hsim.Simulator.emulated(emulator_args=("--realtime",)) as sim:
        threads_seen, times, events = set(), [], []
        sim.on_signal = lambda t, mv: (threads_seen.add(threading.current_thread().name),
                                       times.append(t))
        sim.on_frequency = events.append
        stop = threading.Event()

        def busy():
            count = 0
            while not stop.is_set():
                count += 1

        worker = threading.Thread(target=busy)
        worker.start()
        try:
            sim.output = hsim.Sine(frequency_hz=5.0, amplitude_mv=1.0)
            sim.reset_stream_health()
            time.sleep(3)
            health = sim.stream_health()
            device = sim.emulator.stream_stats()
            sim.frequency_scan = hsim.FrequencyScan(start_hz=20.0, stop_hz=100.0, seconds=10)
            assert wait_until(lambda: len(events) >= 10, 5)
        finally:
            stop.set()
            worker.join()
        assert threads_seen == {"hsim-tap"}
        assert len(times) > 3 * 4000 * 0.8 and np.all(np.diff(times[:2000]) > 0)
        assert health.late_answers == 0, str(health)
        assert device["underruns"] == 0 and device["late"] == 0, device
        assert 20.0 <= events[0] < events[9] < 100.0, events[:10]


def unplug_and_replug(sim):
    sim.emulator.unplug()
    assert sim.wait_connected(False, timeout=10)
    sim.emulator.replug()
    assert sim.wait_connected(True, timeout=10)


def test_stream_survives_unplug_and_replug():
    events = []
    with hsim.Simulator.emulated() as sim:
        sim.on_connection = events.append
        sim.output = hsim.Sine(frequency_hz=5.0, amplitude_mv=1.0)
        unplug_and_replug(sim)
        assert wait_until(lambda: sim.playing, 5)
        sim.emulator.clear_played()
        time.sleep(0.5)
        played = sim.emulator.played()
        assert len(played) > 0.3 * 40000 and np.ptp(played["ac"]) > 6000
        assert events == [False, True]
        # An output stopped by name stays stopped through a reconnect.
        sim.set("output-function", "off")
        unplug_and_replug(sim)
        time.sleep(0.5)
        assert not sim.playing


def test_close_leaves_no_thread_process_or_directory():
    before = threads()
    sim = hsim.Simulator.emulated(fast=True)
    sim.output = hsim.Ecg()
    emulator = sim.emulator
    assert threads() > before
    sim.close()
    assert wait_until(lambda: threads() == before, 5), threading.enumerate()
    assert emulator._process.poll() is not None and not emulator.directory.exists()
    with hsim.Simulator.emulated(fast=True):
        pass  # and the next one may open


def test_no_device_raises_device_error(tmp_path):
    with pytest.raises(hsim.DeviceError) as caught:
        hsim.Simulator(port=1, timeout=0.3, device_path=str(tmp_path / "ttyACM%d"),
                       lock_dir=str(tmp_path / "lock"))
    assert caught.value.code == -1
    hsim.Simulator.emulated(fast=True).close()  # the refused one is released


def test_device_failures_say_why(sim):
    sim.emulator.command("fault short-answers on")
    with pytest.raises(hsim.IOFailure) as caught:
        sim.set_dc_offset(0, 5)
    sim.emulator.command("fault short-answers off")
    assert caught.value.cause == hsim._capi.Cause.SHORT_READ
    assert "short read (63 of 64 bytes)" in str(caught.value)
    sim.set_dc_offset(0, 0)


def test_record_import_and_playback(sim, tmp_path, records_library):
    path = tmp_path / "two.csv"
    path.write_text("# rate=500\nI,II\n" + "".join(f"{i / 10},{-i / 10}\n" for i in range(20)))
    with hsim.records.open(path) as record:
        assert [(s.name, s.rate, len(s)) for s in record.signals] == [("I", 500, 20),
                                                                      ("II", 500, 20)]
        assert np.allclose(record.signal("II").read(), -np.arange(20) / 10)
    assert sim.load_record(path, "II") == 20
    sim.output = hsim.LoadedData()
    ac, _ = sim.render(samples=1600)
    assert np.allclose(ac[40::80], -np.arange(20) / 10)  # 80 samples per 1/500 s
    with pytest.raises(hsim.records.RecordError) as caught:
        hsim.records.open(tmp_path / "missing.hea")
    assert caught.value.code < 0


def test_pacing_marks_and_paper(tmp_path):
    signal = np.zeros(40000)
    for start in (4000, 20000):
        signal[start:start + 40] = 2.0
    assert np.allclose(find_pacing_pulses(signal, 40000), [0.1, 0.5])
    figure = ecg_paper([signal], 40000, path=str(tmp_path / "p.png"))
    width_mm = figure.get_size_inches()[0] * 25.4
    assert width_mm > 25.0 and (tmp_path / "p.png").stat().st_size > 1000


def test_paper_labels_the_time_axis_every_second(tmp_path):
    figure = ecg_paper([np.zeros(3 * 40000)], 40000, seconds_per_row=2.0)
    ax = figure.axes[0]
    labels = [(t.get_text(), t.get_position()[0]) for t in ax.texts if t.get_text().endswith(" s")]
    # Rows of 0..2 s and 2..3 s at 25 mm/s, after a 10 mm lead-in for the
    # 5 mm calibration pulse.
    assert labels == [("0 s", 10.0), ("1 s", 35.0), ("2 s", 60.0), ("2 s", 10.0), ("3 s", 35.0)]


@pytest.mark.parametrize("playing", [False, True], ids=["stopped", "playing"])
def test_loaded_data_is_what_plays_next(playing):
    with hsim.Simulator.emulated() as sim:  # played at the sample rate
        sim.output = hsim.Ecg(rate_bpm=120, amplitude_mv=1.0)
        if not playing:
            sim.stop()
        sim.load(np.full(4000, 0.5))  # 0.5 mV is 3200 device words
        assert sim.output == hsim.LoadedData()
        time.sleep(0.6)  # a running beat ends its cycle first (0.5 s at 120 bpm)
        sim.emulator.clear_played()
        sim.play(0.3)
        ac = sim.emulator.played()["ac"]
    assert len(ac) > 0.2 * 40000 and np.mean(ac == 3200) > 0.9 and ac.max() == 3200


def test_stream_health_counts_the_emulators_underruns():
    # A device that asks for data only when its last sample plays runs dry
    # before every transfer.
    with hsim.Simulator.emulated(emulator_args=("--threshold", "1")) as sim:
        sim.output = hsim.Sine(frequency_hz=10.0)
        sim.play(0.5)
        assert sim.stream_health().device_underruns > 0
        sim.reset_stream_health()
        health = sim.stream_health()
        assert health.device_underruns == 0 and "0 device underruns" in str(health)
        assert sim.emulator.command("played clear") == "played cleared"  # status read whole
    with hsim.Emulator() as emulator:
        with hsim.Simulator(0, device_path=emulator.device_path,
                            lock_dir=emulator.lock_dir) as sim:
            assert sim.stream_health().device_underruns is None
