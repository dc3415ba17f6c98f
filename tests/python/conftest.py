# SPDX-License-Identifier: MIT
# Test kit of the Python package: a radiosim per test whose log lines can be read one by one.
import queue

import pytest

import radioline

LOG_WAIT_S = 30  # a safety net for a broken simulator, not a time limit under test


class Sim:
    """A radiosim started with `options`; `path` is its device, `heard()` its next log line."""

    def __init__(self, *options):
        self.lines = queue.Queue()
        self.path = radioline.simulate(*options, log=self)

    def write(self, line):
        self.lines.put(line.rstrip("\n"))

    def heard(self):
        return self.lines.get(timeout=LOG_WAIT_S)


@pytest.fixture
def sim(request):
    """A radiosim started with the test's `sim` parameter as options; stopped after the test."""
    yield Sim(*getattr(request, "param", ()))
    radioline.stop_simulator()


@pytest.fixture
def radio(sim):
    with radioline.open(sim.path, timeout=1) as line:  # radiosim answers in milliseconds
        yield line
