# SPDX-License-Identifier: MIT
# The Python package: operations round-trip through radiosim, errors map to their classes, arguments are checked before sending.
import errno
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import pytest

import radioline

PLUG = bytes(range(16))

# Each case: calls of (method, arguments, keyword arguments, result) and the radio's log of them.
ROUND_TRIPS = {
    "frequency": ([("set_frequency", (145_500_000,), {}, None)], ["VFO set to 145.500000 MHz"]),
    "mode slots": ([("select_mode", (3,), {}, None), ("store_vfo", (), {}, None),
                    ("recall_mode", (), {}, None)],
                   ["mode 3 selected", "mode 3 stored", "mode 3 recalled"]),
    "duplex": ([("set_duplex", (0x11,), {}, None)], ["duplex set to 11"]),
    "tones": ([("set_pl_tone", (88.5,), {}, None), ("set_pl_tone", (100,), {"rx": True}, None)],
              ["tx PL set to 88.5", "rx PL set to 100.0"]),
    "codeplug": ([("set_codeplug", (PLUG,), {}, None), ("get_codeplug", (), {}, PLUG)],
                 ["codeplug set to " + " ".join(f"{b:02x}" for b in PLUG), "codeplug read"]),
    "version": ([("get_version", (), {}, "radiosim 1.0")], ["version read"]),
    "config": ([("set_config", (0x12, 0x34), {}, None), ("get_config", (), {}, (0x12, 0x34))],
               ["config set to 12 34", "config read"]),
    "offset": ([("set_tx_offset", (-600_000,), {}, None), ("get_tx_offset", (), {}, -600_000)],
               ["tx offset set to -600000", "tx offset read"]),
    "split": ([("set_vco_split", (), {"tx": 1000, "rx": 2000}, None),
               ("get_vco_split", (), {}, (1000, 2000))],
              ["VCO split set to rx 2000 tx 1000", "VCO split read"]),
}


@pytest.mark.parametrize("calls, log", ROUND_TRIPS.values(), ids=ROUND_TRIPS.keys())
def test_operation_round_trips_through_the_radio(sim, radio, calls, log):
    for method, args, kwargs, result in calls:
        assert getattr(radio, method)(*args, **kwargs) == result
    assert [sim.heard() for _ in log] == log


BAD_ARGUMENTS = [
    ("set_frequency", (-1,), ValueError), ("set_frequency", (10**10,), ValueError),
    ("set_frequency", (1.5,), TypeError), ("select_mode", (100,), ValueError),
    ("select_mode", (True,), TypeError), ("set_duplex", (256,), ValueError),
    ("set_pl_tone", (88.55,), ValueError), ("set_pl_tone", (1000,), ValueError),
    ("set_pl_tone", (float("nan"),), ValueError), ("set_pl_tone", ("88.5",), TypeError),
    ("set_codeplug", (bytes(15),), ValueError), ("set_codeplug", ("0" * 16,), TypeError),
    ("set_config", (0, -1), ValueError), ("set_tx_offset", (2**31,), ValueError),
    ("set_vco_split", (0, -(2**31) - 1), ValueError),
]


def test_bad_arguments_raise_before_sending(sim, radio):
    for method, args, error in BAD_ARGUMENTS:
        with pytest.raises(error):
            getattr(radio, method)(*args)
    with pytest.raises(ValueError, match="broadcast"):
        radioline.open(sim.path, controller=0)
    radio.get_version()
    assert sim.heard() == "version read"


@pytest.mark.parametrize("options, hang_up, error, code", [
    (["--refuse-every", "1"], False, radioline.RadioRefused, errno.EINVAL),
    (["--silent-every", "1"], False, radioline.RadioTimeout, errno.ETIMEDOUT),
    ([], True, radioline.LineLost, errno.EIO),
], ids=["refused", "silent_waits_out_the_timeout", "hung_up"])
def test_line_fault_raises_its_error_class(sim_with, options, hang_up, error, code):
    sim = sim_with(*options)
    with radioline.open(sim.path) as radio:
        if hang_up:
            radioline.stop_simulator(sim.path)
        with pytest.raises(error) as raised:
            radio.set_frequency(145_500_000)
    assert raised.value.errno == code and isinstance(raised.value, OSError)
    text = f"[Errno {code}] {os.strerror(code)}: '{sim.path}'"
    assert str(raised.value) == ("the radio refused set_frequency" if code == errno.EINVAL
                                 else f"set_frequency: {text}")


def test_a_second_open_line_is_refused(sim, radio):
    with pytest.raises(RuntimeError, match=sim.path):
        radioline.open(sim.path)


def test_close_twice_leaves_a_closed_radio(radio):
    radio.close()
    radio.close()
    with pytest.raises(ValueError):
        radio.get_version()


def test_a_with_block_closes_its_radio(sim):
    with radioline.open(sim.path) as radio:
        assert radio.get_version() == "radiosim 1.0"
    assert radio.closed


def test_the_simulator_serves_until_stopped(sim):
    radioline.open(sim.path).close()
    radioline.stop_simulator()
    assert not os.path.exists(sim.path)


@pytest.mark.parametrize("device, baud, code", [
    ("/nonexistent/tty", 19200, errno.ENOENT), ("/dev/null", 19200, errno.ENOTTY),
    (None, 12345, errno.EINVAL)])
def test_failed_open_leaves_no_line_open(sim, device, baud, code):
    with pytest.raises(radioline.RadioError) as raised:
        radioline.open(device or sim.path, baud=baud)
    assert type(raised.value) is radioline.RadioError and raised.value.errno == code
    radioline.open(sim.path).close()


def test_threads_sharing_a_radio_get_consistent_results(radio):
    def hammer(write, read, value):
        for _ in range(100):
            write(*value)
            assert read() == value

    with ThreadPoolExecutor(2) as pool:
        jobs = [pool.submit(hammer, radio.set_vco_split, radio.get_vco_split, (1000, 2000)),
                pool.submit(hammer, radio.set_config, radio.get_config, (1, 2))]
    for job in jobs:
        job.result()  # re-raises what failed in the thread


def test_trace_switches_the_library_trace(radio, capfd):
    for on in (True, False):
        radioline.trace(on)
        radio.get_version()
        assert ("getversion: calling sendcmd\n" in capfd.readouterr().err) == on


@pytest.mark.skipif("RADIOLINE_BUILD_DIR" not in os.environ, reason="no build tree to install")
def test_installed_package_runs_from_its_own_tree(tmp_path):
    env = {k: v for k, v in os.environ.items() if not k.startswith("RADIOLINE_")}
    subprocess.run([os.environ["RADIOLINE_CMAKE"], "--install", os.environ["RADIOLINE_BUILD_DIR"]],
                   env=dict(env, DESTDIR=str(tmp_path)), check=True, stdout=subprocess.DEVNULL)
    site = str(tmp_path) + os.environ["RADIOLINE_PYTHON_SITE"]
    script = ("import radioline, radioline._native as n\n"
              "with radioline.open(radioline.simulate()) as r: print(n.library_path(), r.get_version())")
    out = subprocess.run([sys.executable, "-c", script], env=dict(env, PYTHONPATH=site),
                         check=True, capture_output=True, text=True).stdout
    assert out.startswith(str(tmp_path)) and out.endswith(" radiosim 1.0\n")
