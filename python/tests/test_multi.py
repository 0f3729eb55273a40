import time

import numpy as np
import pytest

import hsim
from hsim import _capi
from waiting import wait_until

WORDS_PER_MV = 6400  # the device's AC scale


def played_ac(sim, seconds=0.5):
    sim.emulator.clear_played()
    time.sleep(seconds)
    return sim.emulator.played()["ac"]


def assert_plays_square(sim, mv):
    # A square wave of mv peak to peak sits at +-mv/2.
    ac = played_ac(sim)
    assert len(ac) > 0.3 * 40000, len(ac)
    level = mv / 2 * WORDS_PER_MV
    assert set(np.unique(ac)) == {-level, level}


@pytest.mark.parametrize("leave", ["close", "unplug"])
def test_two_simulators_stream_their_own_settings_and_one_leaving_spares_the_other(leave):
    with hsim.Simulator.emulated() as a, hsim.Simulator.emulated() as b:
        assert {a.port, b.port} == {0, 1}
        seen = {a: [], b: []}
        events = {a: [], b: []}
        for sim in (a, b):
            sim.on_signal = lambda t, mv, sim=sim: seen[sim].append(mv)
            sim.on_connection = events[sim].append
        a.output = hsim.Square(frequency_hz=20.0, amplitude_mv=1.0)
        b.output = hsim.Square(frequency_hz=20.0, amplitude_mv=2.5)
        assert (a.amplitude_mv, b.amplitude_mv) == (1.0, 2.5)
        assert_plays_square(a, 1.0)
        assert_plays_square(b, 2.5)
        assert wait_until(lambda: len(seen[a]) > 1000 and len(seen[b]) > 1000, 5)
        assert max(seen[a]) == pytest.approx(0.5) and max(seen[b]) == pytest.approx(1.25)
        # Calls through the Simulators leave this thread on the default simulator.
        assert not _capi.load().HSIMIsConnected()

        if leave == "close":
            emulator = b.emulator
            b.close()
            assert emulator._process.poll() is not None
        else:
            b.emulator.unplug()
            assert b.wait_connected(False, timeout=10)
            assert b.port is None
        assert a.connected and a.playing
        assert_plays_square(a, 1.0)
        assert events[a] == [] and events[b] == ([] if leave == "close" else [False])


def test_simulators_never_share_a_port():
    with hsim.Emulator(count=2) as emulator:
        where = dict(device_path=emulator.device_path, lock_dir=emulator.lock_dir, timeout=3)
        with hsim.Simulator(**where) as first, hsim.Simulator(**where) as second:
            assert {first.port, second.port} == {0, 1}
            assert first.serial_number != second.serial_number
            with pytest.raises(hsim.DeviceError):
                hsim.Simulator(**dict(where, timeout=0.5))
            with pytest.raises(hsim.DeviceError):
                hsim.Simulator(first.port, **dict(where, timeout=0.5))
            assert first.connected and second.connected
        # By serial number, whichever port it is on.
        wanted = None
        with hsim.Simulator(1, **where) as on_one:
            wanted = on_one.serial_number
        with hsim.Simulator(serial=wanted, **where) as by_serial:
            assert by_serial.port == 1 and by_serial.serial_number == wanted
        with pytest.raises(hsim.DeviceError, match="serial number"):
            hsim.Simulator(serial="HSE00-000000", **dict(where, timeout=0.5))
    with hsim.Simulator.emulated(fast=True) as sim:
        with pytest.raises(hsim.StateError, match="has an emulator already"):
            hsim.Simulator.emulated(sim.port, fast=True)


def test_a_simulator_closed_from_its_own_connection_callback_closes():
    sim = hsim.Simulator.emulated(fast=True)
    sim.on_connection = lambda connected: sim.close()
    sim.output = hsim.Sine(frequency_hz=5.0)
    sim.emulator.unplug()
    assert wait_until(lambda: sim.emulator._process.poll() is not None, 10)
    assert sim.closed and sim.port is None and not sim.callback_errors
    with hsim.Simulator.emulated(fast=True) as again:
        assert again.port == 0  # the port, location and directory were given back
