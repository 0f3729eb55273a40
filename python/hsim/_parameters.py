"""The library's parameters: every single-valued setting of the output (the
waveform's amplitude and frequency, pacing, the beat, drift) with its unit,
kind, accepted range, initial value and how a change applies, as the library
describes them (HSIMGetParameterInfo). Nothing of that is written down here: a
parameter the library has is reachable by its name (:meth:`Simulator.get`,
:meth:`Simulator.set`, ``Simulator.parameter``) and a refusal names the range
the library gives.

What the table does not describe are the couplings between settings (the
frequency a pulse function plays, a scan or the baseline-reset test that
holds a setting); their meanings are below, by the code the setter returns.
"""
from __future__ import annotations

import difflib
from ctypes import byref, c_double
from dataclasses import dataclass
from typing import Optional, Union

from . import _capi
from ._capi import HSIM_ERROR_UNKNOWN_PARAMETER, HSIM_PARAMETER_INFO, ParameterApply, ParameterKind
from .errors import ArgumentError, HsimError, StateError, error_for

Value = Union[float, int, bool]


def _number(x: float) -> str:
    return f"{x:.10g}"


@dataclass(frozen=True)
class Parameter:
    """One parameter as the library describes it. ``minimum`` and
    ``maximum`` are what its setter accepts, both included; ``initial`` is the
    value the library starts with (it may lie outside the range); ``apply``
    says when an accepted value takes effect."""
    name: str
    unit: str
    kind: ParameterKind
    minimum: float
    maximum: float
    initial: float
    apply: ParameterApply

    @property
    def accepted(self) -> str:
        """The range as a refusal names it: "<minimum>..<maximum> <unit>", with
        ", whole numbers" for an integer, "0 or 1" for a bool."""
        if self.kind == ParameterKind.BOOL:
            return f"{_number(self.minimum)} or {_number(self.maximum)}"
        unit = self.unit if self.unit.startswith("/") or not self.unit else " " + self.unit
        text = f"{_number(self.minimum)}..{_number(self.maximum)}{unit}"
        return text + ", whole numbers" if self.kind == ParameterKind.INTEGER else text

    @property
    def argument(self) -> str:
        """What the library's own setter calls the value: "mv", "hz", "ms",
        "per_minute" after the unit, "value" without one."""
        return {"/min": "per_minute", "": "value"}.get(self.unit, self.unit.lower())

    def python(self, value: float) -> Value:
        """A value read from the library as its kind: float, int or bool."""
        if self.kind == ParameterKind.BOOL:
            return bool(value)
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
            rows[name] = Parameter(name, info.unit.decode(), ParameterKind(info.kind),
                                   info.minimum, info.maximum, info.initial,
                                   ParameterApply(info.apply))
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
}


def refusal(name: str, code: int, value: object, argument: Optional[str] = None) -> HsimError:
    """The exception for a failure code of HSIMSetParameter. ``argument``
    names the value in the message and the error ("mv" for a property whose
    value is the amplitude); without it, the parameter's name does."""
    function = "HSIMSetParameter"
    if code == HSIM_ERROR_UNKNOWN_PARAMETER:
        return _unknown(name, function)
    if code == -1 or code < -4:
        return error_for(function, code, value)
    parameter = find(name)
    coupling = _COUPLINGS.get(name, {}).get(code)
    shown = f"{name}: {argument} = {value!r}" if argument else f"{name} = {value!r}"
    if code == -2:
        also = f", {coupling}" if coupling else ""
        return ArgumentError(f"{shown} refused: accepted {parameter.accepted}{also} (code -2)",
                             code, function, argument or name)
    why = coupling or "a setting it depends on does not allow it now"
    return StateError(f"{shown} refused: {why} (code {code})", code, function, argument or name)


def read(name: str, api=None) -> Value:
    """The value of a parameter, as its kind (HSIMGetParameter), read through
    ``api`` (a Simulator's, else the library's default simulator); needs no
    device."""
    value = c_double()
    api = _capi.load() if api is None else api
    code = api.HSIMGetParameter(name.encode() if isinstance(name, str) else None, byref(value))
    if code != 0:
        raise _unknown(name, "HSIMGetParameter")
    return find(name).python(value.value)


def write(name: str, value: Value, argument: Optional[str] = None, api=None) -> None:
    """Sets a parameter (HSIMSetParameter) through ``api`` (as :func:`read`);
    a refusal raises :func:`refusal`'s exception and stores nothing."""
    api = _capi.load() if api is None else api
    code = api.HSIMSetParameter(name.encode() if isinstance(name, str) else None, float(value))
    if code != 0:
        raise refusal(name, code, value, argument)


__all__ = ["Parameter", "parameters", "find", "read", "write", "refusal"]
