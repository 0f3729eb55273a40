import ctypes
import os
import re
import subprocess
import sys

import pytest

from hsim import _capi
from conftest import REPO


def test_every_exported_c_function_is_bound_or_deliberately_left_out():
    names = [line.strip() for line in (REPO / "api/exported_symbols.txt").read_text().splitlines()
             if line.strip() and not line.startswith("#") and not line.startswith("_Z")]
    unaccounted = [n for n in names
                   if n not in _capi.PROTOTYPES and n not in _capi.NOT_BOUND and n not in _capi.DATA]
    assert unaccounted == []
    api = _capi.load()
    assert all(callable(getattr(api, n)) for n in _capi.PROTOTYPES)


@pytest.mark.parametrize("c_enum, py_enum, prefix, header", [
    ("OutputFunction", _capi.OutputFunction, "OUTPUT_", "hsim_types.h"),
    ("OutputLead", _capi.OutputLead, "OUTPUT_LEAD_", "hsim_types.h"),
    ("IEC247_PATTERN", _capi.IEC247Pattern, "IEC247_", "hsim_types.h"),
    ("HSIM_TABLE", _capi.Table, "HSIM_TABLE_", "hsim_types.h"),
    ("HSIM_PARAMETER_KIND", _capi.ParameterKind, "HSIM_PARAMETER_", "hsim_ext.h"),
    ("HSIM_PARAMETER_APPLY", _capi.ParameterApply, "HSIM_APPLY_", "hsim_ext.h"),
])
def test_enumerations_match_the_header(c_enum, py_enum, prefix, header):
    text = (REPO / "include/hsim" / header).read_text()
    body = re.search(r"typedef enum %s \{(.*?)\}" % c_enum, text, re.S).group(1)
    pairs = {name[len(prefix):]: int(value)
             for name, value in re.findall(r"(\w+)\s*=\s*(-?\d+)", body)}
    assert pairs == {m.name: m.value for m in py_enum}


def test_causes_match_the_header():
    text = (REPO / "include/hsim/hsim_ext.h").read_text()
    pairs = {name: int(value) for name, value in re.findall(r"HSIM_CAUSE_(\w+) = (\d+)", text)}
    assert pairs == {m.name: m.value for m in _capi.Cause}


@pytest.mark.parametrize("record, size", [
    (_capi.MODEL_INFORMATION, 12), (_capi.DEVICE_CONTROL_SETTING, 64),
    (_capi.HSIM_PARAMETER_INFO, 64)])  # pointers 3 x 8, ints 4 x 4, doubles 3 x 8
def test_records_have_the_documented_size(record, size):
    assert ctypes.sizeof(record) == size


def test_package_version_is_the_librarys(tmp_path):
    """hsim.__version__ is HSIMGetVersion() both from this checkout and as
    setup.py writes it into an installed package."""
    import hsim
    assert hsim.__version__ == hsim.library_version()
    env = dict(os.environ, HSIM_BUNDLE="none")  # the Python code alone
    subprocess.run([sys.executable, "setup.py", "-q", "build_py", "--build-lib", str(tmp_path)],
                   cwd=REPO / "python", env=env, check=True, capture_output=True)
    written = {}
    exec((tmp_path / "hsim" / "_version.py").read_text(), written)
    assert written["version"] == hsim.library_version()
