# SPDX-License-Identifier: MIT
# The Python package: operations round-trip through radiosim, errors map to their classes, arguments are checked before sending.
import errno
import logging
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import pytest

import radioline

PLUG = bytes(range(16))

# Each row, run in this order: a method, its arguments, what it returns and the radio's log line.
ROUND_TRIPS = [
    ("set_frequency", (145_500_000,), None, "VFO set to 145.500000 MHz"),
    ("select_mode", (3,), None, "mode 3 selected"),
    ("store_vfo", (), None, "mode 3 stored"),
    ("recall_mode", (), None, "mode 3 recalled"),
    ("set_duplex", (0x11,), None, "duplex set to 11"),
    ("set_pl_tone", (88.5,), None, "tx PL set to 88.5"),
    ("set_pl_tone", (100, True), None, "rx PL set to 100.0"),
    ("set_codeplug", (PLUG,), None, "codeplug set to " + " ".join(f"{b:02x}" for b in PLUG)),
    ("get_codeplug", (), PLUG, "codeplug read"),
    ("get_version", (), "radiosim 1.0", "version read"),
    ("set_config", (0x12, 0x34), None, "config set to 12 34"),
    ("get_config", (), (0x12, 0x34), "config read"),
    ("set_tx_offset", (-600_000,), None, "tx offset set to -600000"),
    ("get_tx_offset", (), -600_000, "tx offset read"),
    ("set_vco_split", (1000, 2000), None, "VCO split set to rx 2000 tx 1000"),
    ("get_vco_split", (), (1000, 2000), "VCO split read"),
]


def test_operations_round_trip_through_the_radio(sim, radio):
    for method, args, result, heard in ROUND_TRIPS:
        assert getattr(radio, method)(*args) == result, method
        assert sim.heard() == heard


BAD_ARGUMENTS = [
    ("set_frequency", (10**10,), ValueError), ("set_frequency", (1.5,), TypeError),
    ("select_mode", (100,), ValueError), ("select_mode", (True,), TypeError),
    ("set_duplex", (256,), ValueError), ("set_pl_tone", (88.55,), ValueError),
    ("set_pl_tone", (1000,), ValueError), ("set_pl_tone", (float("nan"),), ValueError),
    ("set_pl_tone", ("88.5",), TypeError), ("set_codeplug", (bytes(15),), ValueError),
    ("set_codeplug", ("0" * 16,), TypeError), ("set_config", (0, -1), ValueError),
    ("set_tx_offset", (2**31,), ValueError), ("set_vco_split", (0, -(2**31) - 1), ValueError),
]


def test_bad_calls_raise_before_sending(sim, radio):
    for method, args, error in BAD_ARGUMENTS:
        with pytest.raises(error):
            getattr(radio, method)(*args)
    with pytest.raises(ValueError, match="broadcast"):
        radioline.open(sim.path, controller=0)
    with pytest.raises(ValueError, match="timeout"):
        radioline.Radio(sim.path, timeout=0)
    radio.get_version()
    assert sim.heard() == "version read"


# The hung-up radio's simulator is stopped once the line is open; the silent
# one is given up on after the line's own time-out.
@pytest.mark.parametrize("sim, error, code", [
    (["--refuse-every", "1"], radioline.RadioRefused, errno.EINVAL),
    (["--silent-every", "1"], radioline.RadioTimeout, errno.ETIMEDOUT),
    ([], radioline.LineLost, errno.EIO),
], ids=["refused", "silent", "hung_up"], indirect=["sim"])
def test_line_fault_raises_its_error_class(sim, radio, error, code):
    if error is radioline.LineLost:
        radioline.stop_simulator(sim.path)
    with pytest.raises(error) as raised:
        radio.set_frequency(145_500_000)
    assert raised.value.errno == code and isinstance(raised.value, OSError)
    assert str(raised.value) == ("the radio refused set_frequency or answered another command" if code == errno.EINVAL else
                                 f"set_frequency: [Errno {code}] {os.strerror(code)}: '{sim.path}'")


# The fixture's with block closes the radio once more, and the next test's open shows it did.
def test_a_closed_radio_refuses_calls(radio):
    radio.close()
    radio.close()  # a second close does nothing
    with pytest.raises(ValueError):
        radio.get_version()


@pytest.mark.parametrize("device, baud, code", [
    ("/nonexistent/tty", 19200, errno.ENOENT), ("/dev/null", 19200, errno.ENOTTY),
    (None, 12345, errno.EINVAL)])
def test_failed_open_leaves_no_line_open(sim, device, baud, code):
    with pytest.raises(radioline.RadioError) as raised:
        radioline.open(device or sim.path, baud=baud)
    assert type(raised.value) is radioline.RadioError and raised.value.errno == code
    radioline.open(sim.path).close()


# Two threads share one radio while a third drives a second radio.
def test_threads_and_radios_side_by_side_get_consistent_results(radio):
    def hammer(write, read, value):
        for _ in range(100):
            write(*value)
            assert read() == value

    with radioline.open(radioline.simulate()) as other, ThreadPoolExecutor(3) as pool:
        list(pool.map(hammer, (radio.set_vco_split, radio.set_config, other.set_config),  # re-raises
                      (radio.get_vco_split, radio.get_config, other.get_config), [(1, 2)] * 3))


def test_trace_goes_to_the_logging_module(radio, caplog):
    for on in (True, False):
        radioline.trace(on)
        caplog.clear()
        radio.get_version()
        assert (("radioline", logging.DEBUG, "getversion: calling sendcmd") in caplog.record_tuples) == on


# Where logging is not configured the records go to standard error, a line each.
def test_trace_without_logging_writes_standard_error(sim):
    script = f"import radioline; radioline.trace(); radioline.open({sim.path!r}).get_version()"
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert "\ngetversion: calling sendcmd\n" in run.stderr
