import ctypes
import re

import pytest

import hsim
from hsim import _capi
from hsim.simulator import _TableProperty
from hsim.values import BEAT_FIELDS, DRIFT_FIELDS, PACING_FIELDS, rate_range

NUMBER, INTEGER, BOOL, CHOICE = 0, 1, 2, 3
READABLE, SELECTS_OUTPUT = 1, 2

# Ranges hsim.h documents for some parameters, checked apart from the table.
DOCUMENTED = {"amplitude": (-10, 10, "mV"), "qrs-duration": (5, 200, "ms"),
              "pacing-rate": (10, 360, "/min"), "drift-frequency": (0.05, 2, "Hz")}
# How a value reads back other than as set: the overshoot keeps its magnitude.
READ_BACK = {"overshoot-amplitude": abs}


def library_table():
    """(name, unit, kind, minimum, maximum, channels, flags, choices) of every
    row, straight from the C table."""
    api, rows = _capi.load(), []
    for index in range(api.HSIMGetParameterCount()):
        info = _capi.HSIM_PARAMETER_INFO()
        assert api.HSIMGetParameterInfo(index, ctypes.byref(info)) == 0
        choices = None
        if info.choices:
            choices = [info.choices[i] and info.choices[i].decode()
                       for i in range(int(info.maximum - info.minimum) + 1)]
        rows.append((info.name.decode(), info.unit.decode(), info.kind, info.minimum,
                     info.maximum, info.channels, info.flags, choices))
    return rows


def names_range(lo, hi, unit):
    shown = [re.escape(f"{x:.10g}") for x in (lo, hi)]
    return rf"accepted {shown[0]}(\.\.| or ){shown[1]} ?{re.escape(unit)}"


def names_choices(choices):
    return "accepted one of " + ".*".join(re.escape(c) for c in choices if c)


def past(kind, lo, hi):
    step = (hi - lo) / 100 if kind == NUMBER else 1
    return lo - step, hi + step


def test_every_parameter_is_reachable_by_name_with_its_range(shared_sim):
    shared_sim.reset()
    shared_sim.output = None
    shared_sim.load([0.0] * 400)  # the file functions play it
    rows = library_table()
    assert [(p.name, p.unit, p.kind, p.minimum, p.maximum, p.channels,
             p.readable + 2 * p.selects_output + 4 * p.asks_device, p.choices and list(p.choices))
            for p in hsim.parameters()] == rows
    assert {n: (lo, hi, unit) for n, unit, _, lo, hi, *_ in rows if n in DOCUMENTED} == DOCUMENTED
    for name, unit, kind, lo, hi, channels, flags, choices in rows:
        accepted = names_choices(choices) if choices else names_range(lo, hi, unit)
        if name == "pacing-synchronized":
            shared_sim.set("frequency", 1.0)  # a beat rate the pulses can follow
        # A choice's upper end by its name, the lower one by its number.
        ends = [(lo, lo), (choices[-1], hi)] if choices else [(lo, lo), (hi, hi)]
        for channel in [0, 3] if channels else [None]:
            for value, number in ends:
                shared_sim.set(name, value, channel)
                if not flags & READABLE:
                    with pytest.raises(hsim.HsimError) as caught:
                        shared_sim.get(name, channel)
                    assert caught.value.code == -3
                    continue
                got = shared_sim.get(name, channel)
                assert isinstance(got, (float, int, bool, int)[kind]), name
                assert got == pytest.approx(READ_BACK.get(name, float)(number), rel=1e-12), name
                if choices:
                    assert got.name == choices[int(number - lo)]
            refused = list(past(kind, lo, hi))
            if choices:
                refused += [lo + choices.index(None)] if None in choices else []
                refused += ["no-such-choice"]
            for value in refused:
                with pytest.raises(hsim.ArgumentError, match=accepted) as caught:
                    shared_sim.set(name, value, channel)
                assert (caught.value.code, caught.value.argument) == (-2, name)
                if flags & READABLE:
                    assert shared_sim.get(name, channel) == \
                        pytest.approx(READ_BACK.get(name, float)(hi)), name
        if channels:
            with pytest.raises(hsim.ArgumentError, match=f"accepted 0..{channels - 1}"):
                shared_sim.set(name, lo, channels)
        if flags & SELECTS_OUTPUT:
            shared_sim.set(name, lo)  # what it started stops before the next row
    shared_sim.reset()


def test_value_classes_and_properties_refuse_with_the_tables_range(shared_sim):
    shared_sim.reset()
    shared_sim.output = None
    table = {name: (unit, kind, lo, hi, choices)
             for name, unit, kind, lo, hi, _, _, choices in library_table()}
    sim = shared_sim
    attempts = [(f, n, lambda v, f=f: setattr(sim, "output", hsim.Ecg(custom=True, **{f: v})))
                for f, n in BEAT_FIELDS.items()]
    attempts += [(f, n, lambda v, f=f: setattr(sim, "pacing", hsim.Pacing(**{f: v})))
                 for f, n in PACING_FIELDS.items()]
    attempts += [(f, n, lambda v, f=f: setattr(sim, "drift", hsim.Drift(**{f: v})))
                 for f, n in DRIFT_FIELDS.items()]
    attempts += [(a, d.name, lambda v, a=a: setattr(sim, a, v))
                 for a, d in vars(hsim.Simulator).items() if isinstance(d, _TableProperty)]
    values = {"noise": lambda v: hsim.Noise(v, 0.1), "noise-amplitude": lambda v: hsim.Noise(1, v),
              "dynamic-range-amplitude": lambda v: hsim.DynamicRange(True, v, 1.0),
              "dynamic-range-frequency": lambda v: hsim.DynamicRange(True, 1.0, v),
              "scan-duration": lambda v: hsim.FrequencyScan(v, 1.0, 2.0),
              "scan-start": lambda v: hsim.FrequencyScan(10, v, 2.0),
              "scan-stop": lambda v: hsim.FrequencyScan(10, 1.0, v),
              "pattern-227": lambda v: hsim.Pattern227(v),
              "pattern-251": lambda v: hsim.Pattern251(v),
              "pattern-247": lambda v: hsim.Pattern247(v), "ane-lead": lambda v: hsim.Ane20000(v)}
    kinds = {hsim.Noise: "noise", hsim.DynamicRange: "dynamic_range",
             hsim.FrequencyScan: "frequency_scan"}
    attempts += [(n, n, lambda v, n=n: setattr(sim, kinds.get(type(values[n](v)), "output"),
                                               values[n](v))) for n in values]
    attempts += [(n, n, lambda v, f=f: f(3, v)) for n, f in [
        ("impedance", sim.set_impedance_mode), ("dc-offset", sim.set_dc_offset),
        ("lead", sim.set_lead)]]
    wrong = []
    for field, name, attempt in attempts:
        unit, kind, lo, hi, choices = table[name]
        if kind == BOOL:  # a bool property takes any value as true or false
            continue
        with pytest.raises(hsim.ArgumentError) as caught:
            attempt(past(kind, lo, hi)[1])
        accepted = names_choices(choices) if choices else names_range(lo, hi, unit)
        if not re.search(accepted, str(caught.value)):
            wrong.append((field, str(caught.value)))
    assert wrong == [] and len(attempts) >= 45
    frequency = table["frequency"]
    assert rate_range(hsim.OutputFunction.SINE) == frequency[2:4]
    assert rate_range(hsim.OutputFunction.ECG_CUSTOM)[0] == frequency[2]
    shared_sim.reset()


def test_names_unknown_to_the_library_are_refused_with_the_known_ones(shared_sim):
    with pytest.raises(hsim.ArgumentError, match="did you mean qrs-duration") as caught:
        shared_sim.set("qrs_duration", 100)
    assert caught.value.code == -20
    with pytest.raises(hsim.ArgumentError) as caught:
        shared_sim.get("heart-rate")
    assert all(name in str(caught.value) for name, *_ in library_table())
    with pytest.raises(AttributeError):
        shared_sim.parameter.heart_rate
    shared_sim.parameter.qrs_duration = 120
    assert (shared_sim.parameter.qrs_duration, shared_sim.qrs_ms) == (120.0, 120.0)
    assert "overshoot_time_constant" in dir(shared_sim.parameter)


class LibraryWithATone:
    """The loaded library with one more row in its table: "tone", a choice of
    two channels whose value 1 is none, held here as the library holds it."""

    NAMES = (ctypes.c_char_p * 3)(b"low", None, b"high")

    def __init__(self, real):
        self.real, self.tone = real, [0, 0]

    def __getattr__(self, name):
        return getattr(self.real, name)

    def HSIMGetParameterCount(self):
        return self.real.HSIMGetParameterCount() + 1

    def HSIMGetParameterInfo(self, index, info):
        if index < self.real.HSIMGetParameterCount():
            return self.real.HSIMGetParameterInfo(index, info)
        info._obj.__init__(b"tone", b"", CHOICE, 1, 0, 2, 0, 2, READABLE,
                           ctypes.cast(self.NAMES, ctypes.POINTER(ctypes.c_char_p)))
        return 0

    def HSIMSetChannelParameter(self, name, channel, value):
        if name != b"tone":
            return self.real.HSIMSetChannelParameter(name, channel, value)
        if value not in (0, 2):
            return -2
        for c in range(2) if channel == -1 else [channel]:
            self.tone[c] = int(value)
        return 0

    def HSIMGetChannelParameter(self, name, channel, value):
        if name != b"tone":
            return self.real.HSIMGetChannelParameter(name, channel, value)
        value._obj.value = self.tone[channel]
        return 0


def test_a_row_added_to_the_librarys_table_is_a_parameter_in_python(shared_sim, monkeypatch):
    from hsim import _parameters
    from hsim.simulator import _BoundApi
    fake = LibraryWithATone(_capi.load())
    monkeypatch.setattr(_capi, "_api", fake)
    monkeypatch.setattr(_parameters, "_table", None)
    monkeypatch.setattr(shared_sim, "_api", _BoundApi(fake, shared_sim._api.handle))
    assert hsim.parameters()[-1] == hsim.Parameter(
        "tone", "", hsim.ParameterKind.CHOICE, 0, 2, 0, hsim.ParameterApply.IMMEDIATE, 2, True,
        False, ("low", None, "high"))
    shared_sim.parameter.tone[1] = "high"
    assert shared_sim.get("tone") == (0, 2) and shared_sim.get("tone", 1).name == "high"
    shared_sim.set("tone", 2)
    assert [v.name for v in shared_sim.parameter.tone] == ["high", "high"]
    for value, channel in [(1, None), ("mid", 0), (3, 1)]:
        with pytest.raises(hsim.ArgumentError, match=r"accepted one of low \(0\), high \(2\)"):
            shared_sim.set("tone", value, channel)
    with pytest.raises(hsim.ArgumentError, match=r"channel = 2 refused, accepted 0\.\.1"):
        shared_sim.parameter.tone[2] = "low"
    assert shared_sim.get("tone") == (2, 2) and "tone" in dir(shared_sim.parameter)
    assert shared_sim.get("qrs-duration") == shared_sim.qrs_ms  # the library's rows as before
