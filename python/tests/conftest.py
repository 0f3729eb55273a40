import os
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
import hsim  # noqa: E402

REPO = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def shared_sim():
    """One emulated simulator (fast pacing) for a module's tests."""
    with hsim.Simulator.emulated(fast=True) as sim:
        yield sim


@pytest.fixture
def sim():
    with hsim.Simulator.emulated(fast=True) as sim:
        yield sim


@pytest.fixture
def records_library():
    """libhsimrecords; the test is skipped when no record library was built
    (EDFlib missing) and $HSIM_RECORDS_LIBRARY does not name one."""
    try:
        return hsim.records.library()
    except OSError as error:
        if os.environ.get("HSIM_RECORDS_LIBRARY"):
            raise
        pytest.skip(f"no record library: {error}")


def pytest_report_header(config):
    return f"HSIM_LIBRARY={os.environ.get('HSIM_LIBRARY')} HSIM_EMULATOR={os.environ.get('HSIM_EMULATOR')}"
