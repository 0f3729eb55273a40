"""The library's parameters: every single-valued setting of the output (the
waveform's amplitude and frequency, pacing, the beat, drift, noise, the test
modes, the pattern selections, the output function) and of each channel of
the front end (DC offset, impedance, signal ground, lead), with its unit, kind,
accepted range or named choices, initial value, channels and how a change
applies, as the library describes them (HSIMGetParameterInfo). Nothing of
that is written down here: a parameter the library has is reachable by its
name (:meth:`Simulator.get`, :meth:`Simulator.set`, ``Simulator.parameter``)
and a refusal names the range or the choices the library gives.

A choice is set by its name (``"random"``) or its number and reads back as a
member of the parameter's :attr:`Parameter.choice` IntEnum, built from the
library's names: it equals its number and ``.name`` is the library's name. A
parameter of each channel is read and set per channel (``channel=``);
without a channel, setting sets every channel and reading gives a tuple of
the channels' values.

What the table does not describe are the couplings between settings (the
frequency a pulse function plays, a scan or the baseline-reset test that
holds a setting); their meanings are below, by the code the setter returns.
"""
from __future__ import annotations

import difflib
import enum
import functools
import operator
from ctypes import byref, c_double
from dataclasses import dataclass
from typing import Any, Optional, Union

from . import _capi
from ._capi import (HSIM_ERROR_UNKNOWN_PARAMETER, HSIM_PARAMETER_INFO, PARAMETER_ASKS_DEVICE,
                    PARAMETER_READABLE, PARAMETER_SELECTS_OUTPUT, ParameterApply, ParameterKind)
from .errors import ArgumentError, HsimError, StateError, error_for

Value = Union[float, int, bool, enum.IntEnum]


def _number(x: float) -> str:
    return f"{x:.10g}"


@functools.lru_cache(maxsize=None)
def _choice_enum(name: str, minimum: int, choices: tuple[Optional[str], ...]) -> type:
    return enum.IntEnum(name, [(choice, minimum + i) for i, choice in enumerate(choices)
                               if choice is not None])


@dataclass(frozen=True)
class Parameter:
    """One parameter as the library describes it. ``minimum`` and
    ``maximum`` are what its setter accepts, both included; ``initial`` is the
    value the library starts with (it may lie outside the range); ``apply``
    says when an accepted value takes effect. ``channels`` is 0 for a single
    value, else the number of channels with a value each; ``readable`` is
    False for a value that cannot be read back; ``selects_output`` says that
    setting it selects, starts or stops the output. ``choices`` names the
    values minimum..maximum of a choice (None for a value that is none), and
    is None for the other kinds. ``asks_device`` says that reading it is an
    exchange with the device; the others are read from the library."""
    name: str
    unit: str
    kind: ParameterKind
    minimum: float
    maximum: float
    initial: float
    apply: ParameterApply
    channels: int = 0
    readable: bool = True
    selects_output: bool = False
    choices: Optional[tuple[Optional[str], ...]] = None
    asks_device: bool = False

    @property
    def accepted(self) -> str:
        """The range as a refusal names it: "<minimum>..<maximum> <unit>", with
        ", whole numbers" for an integer, "0 or 1" for a bool, the names and
        numbers for a choice ("off (0), 50hz (1), ...")."""
        if self.kind == ParameterKind.CHOICE:
            return "one of " + ", ".join(f"{m.name} ({m.value})" for m in self.choice)
        if self.kind == ParameterKind.BOOL:
            return f"{_number(self.minimum)} or {_number(self.maximum)}"
        unit = self.unit if self.unit.startswith("/") or not self.unit else " " + self.unit
        text = f"{_number(self.minimum)}..{_number(self.maximum)}{unit}"
        return text + ", whole numbers" if self.kind == ParameterKind.INTEGER else text

    @property
    def choice(self) -> Optional[type]:
        """For a choice, the IntEnum of its named values (the library's names;
        ``choice["random"]``); None for the other kinds."""
        if self.choices is None:
            return None
        return _choice_enum(self.name, int(self.minimum), self.choices)

    @property
    def argument(self) -> str:
        """What the library's own setter calls the value: "mv", "hz", "ms",
        "per_minute" after the unit, "value" without one."""
        return {"/min": "per_minute", "": "value"}.get(self.unit, self.unit.lower())

    def accepts(self, value: float) -> bool:
        """Whether the library takes ``value`` (a number): in the range, a
        whole number unless the kind is a number, a named one for a choice."""
        if not self.minimum <= value <= self.maximum:  # NaN too
            return False
        if self.kind == ParameterKind.NUMBER:
            return True
        if value != int(value):
            return False
        return self.choices is None or self.choices[int(value - self.minimum)] is not None

    def encode(self, value: Any, argument: Optional[str] = None) -> float:
        """The number the library is given for ``value``: a choice's name
        becomes its number (a bool is 0 or 1). A name that is none of the choices,
        or a text for a parameter without choices, raises ArgumentError."""
        if isinstance(value, str):
            member = self.choice.__members__.get(value) if self.choice is not None else None
            if member is None:
                raise self.refused(value, argument)
            return float(member)
        return float(value)

    def refused(self, value: Any, argument: Optional[str] = None, channel: Optional[int] = None,
                function: str = "HSIMSetParameter", code: int = -2,
                also: str = "") -> ArgumentError:
        """The ArgumentError for a value outside what this parameter takes,
        naming its range or choices."""
        where = f"[{channel}]" if channel is not None else ""
        shown = f"{self.name}{where}: {argument} = {value!r}" if argument else \
            f"{self.name}{where} = {value!r}"
        return ArgumentError(f"{shown} refused: accepted {self.accepted}{also} (code {code})",
                             code, function, argument or self.name)

    def python(self, value: float) -> Value:
        """A value read from the library as its kind: float, int, bool, or a
        member of :attr:`choice` (the number itself for one without a name)."""
        if self.kind == ParameterKind.BOOL:
            return bool(value)
        if self.kind == ParameterKind.CHOICE:
            try:
                return self.choice(int(value))
            except ValueError:
                return int(value)
        if self.kind == ParameterKind.INTEGER:
            return int(value)
        return float(value)


_table: Optional[dict[str, Parameter]] = None


def _rows() -> dict[str, Parameter]:
    global _table
    if _table is None:
        api = _capi.load()
        rows = {}
        for index in range(api.HSIMGetParameterCount()):
            info = HSIM_PARAMETER_INFO()
            if api.HSIMGetParameterInfo(index, byref(info)) != 0:
                raise HsimError(f"HSIMGetParameterInfo refused index {index}", -2,
                                "HSIMGetParameterInfo")
            name = info.name.decode()
            choices = None
            if info.kind == ParameterKind.CHOICE and info.choices:
                count = int(info.maximum - info.minimum) + 1
                choices = tuple(None if info.choices[i] is None else info.choices[i].decode()
                                for i in range(count))
            rows[name] = Parameter(name, info.unit.decode(), ParameterKind(info.kind),
                                   info.minimum, info.maximum, info.initial,
                                   ParameterApply(info.apply), info.channels,
                                   bool(info.flags & PARAMETER_READABLE),
                                   bool(info.flags & PARAMETER_SELECTS_OUTPUT), choices,
                                   bool(info.flags & PARAMETER_ASKS_DEVICE))
        _table = rows
    return _table


def parameters() -> tuple[Parameter, ...]:
    """The library's parameters, in the library's order; needs no device."""
    return tuple(_rows().values())


def _unknown(name: object, function: str) -> ArgumentError:
    known = list(_rows())
    close = difflib.get_close_matches(str(name).replace("_", "-"), known, n=3, cutoff=0.6)
    if close:
        names = f"did you mean {' or '.join(close)}? (hsim.parameters() lists them all)"
    else:
        names = f"the library's parameters are {', '.join(known)}"
    return ArgumentError(f"no parameter {name!r}: {names}", HSIM_ERROR_UNKNOWN_PARAMETER,
                         function, "name")


def find(name: str) -> Parameter:
    """The parameter called ``name``; ArgumentError naming the close or all
    known names when there is none."""
    parameter = _rows().get(name) if isinstance(name, str) else None
    if parameter is None:
        raise _unknown(name, "HSIMGetParameterInfo")
    return parameter


# Refusals by couplings with other settings, which the table does not
# describe: parameter -> {code: what refused it}. A -2 text adds to the range.
_COUPLINGS: dict[str, dict[int, str]] = {
    "amplitude": {-3: "the baseline-reset test runs"},
    "frequency": {-2: "at most 5 Hz for the pulse functions", -3: "a frequency scan runs",
                  -4: "the baseline-reset test runs"},
    "pacing-synchronized": {-2: "one pulse per beat needs a beat rate of 10..360 per minute"},
}


def refusal(name: str, code: int, value: object, argument: Optional[str] = None,
            channel: Optional[int] = None) -> HsimError:
    """The exception for a failure code of HSIMSetParameter (or
    HSIMSetChannelParameter for a ``channel``). ``argument`` names the value
    in the message and the error ("mv" for a property whose value is the
    amplitude); without it, the parameter's name does."""
    function = "HSIMSetParameter" if channel is None else "HSIMSetChannelParameter"
    if code == HSIM_ERROR_UNKNOWN_PARAMETER:
        return _unknown(name, function)
    if code == -1 or code < -4:
        return error_for(function, code, value)
    parameter = find(name)
    coupling = _COUPLINGS.get(name, {}).get(code)
    if code == -2:
        return parameter.refused(value, argument, channel, function,
                                 also=f", {coupling}" if coupling else "")
    where = f"[{channel}]" if channel is not None else ""
    shown = f"{name}{where}: {argument} = {value!r}" if argument else f"{name}{where} = {value!r}"
    why = coupling or "a setting it depends on does not allow it now"
    return StateError(f"{shown} refused: {why} (code {code})", code, function, argument or name)


def _channel(parameter: Parameter, channel: Optional[int], function: str) -> int:
    """The library's channel argument: -1 for none (a single value, or every
    channel); ArgumentError for a channel the parameter does not have."""
    if channel is None:
        return -1
    if parameter.channels == 0:
        raise ArgumentError(f"{parameter.name} has a single value: give no channel"
                            f" (channel = {channel!r} refused)", -2, function, "channel")
    try:
        number = operator.index(channel)
    except TypeError:
        number = -1
    if isinstance(channel, bool) or not 0 <= number < parameter.channels:
        raise ArgumentError(f"{parameter.name}: channel = {channel!r} refused, accepted"
                            f" 0..{parameter.channels - 1}", -2, function, "channel")
    return number


def read(name: str, api=None, channel: Optional[int] = None) -> Any:
    """The value of a parameter, as its kind (HSIMGetChannelParameter), read
    through ``api`` (a Simulator's, else the library's default simulator);
    needs no device unless the device holds it. For a parameter of each
    channel, ``channel`` None reads a tuple of every channel's value."""
    function = "HSIMGetChannelParameter"
    parameter = find(name) if isinstance(name, str) else None
    if parameter is None:
        raise _unknown(name, function)
    if parameter.channels and channel is None:
        return tuple(read(name, api, c) for c in range(parameter.channels))
    value = c_double()
    api = _capi.load() if api is None else api
    code = api.HSIMGetChannelParameter(name.encode(), _channel(parameter, channel, function),
                                       byref(value))
    if code == HSIM_ERROR_UNKNOWN_PARAMETER:
        raise _unknown(name, function)
    if code == -3:
        raise HsimError(f"{name} cannot be read back: the library cannot report it (code -3)",
                        code, function, name)
    if code != 0:
        raise error_for(function, code, channel)
    return parameter.python(value.value)


def write(name: str, value: Any, argument: Optional[str] = None, api=None,
          channel: Optional[int] = None) -> None:
    """Sets a parameter (HSIMSetChannelParameter) through ``api`` (as
    :func:`read`): a choice by its name or number; for a parameter of each
    channel, ``channel`` None sets every channel. A refusal raises
    :func:`refusal`'s exception and stores nothing."""
    function = "HSIMSetChannelParameter"
    parameter = find(name) if isinstance(name, str) else None
    if parameter is None:
        raise _unknown(name, "HSIMSetParameter")
    number = parameter.encode(value, argument)
    api = _capi.load() if api is None else api
    code = api.HSIMSetChannelParameter(name.encode(), _channel(parameter, channel, function),
                                       number)
    if code != 0:
        raise refusal(name, code, value, argument, channel)


__all__ = ["Parameter", "parameters", "find", "read", "write", "refusal"]
