# SPDX-License-Identifier: MIT
# Profiles through radiosim: checked before anything is sent, applied in a safe order with read-back,
# nothing readable left to differ, a refusal half-way reported with what was applied before it.
import json
import os

import pytest

import radioline

PLUG = list(range(16))
FULL = {"radio": {"version": "radiosim 1.0"}, "offset": 600_000, "frequency": 433_920_000,
        "channels": [{"slot": 7, "tx_tone": 100}, {"slot": 2, "frequency": 145_500_000, "duplex": 17,
                                                   "rx_tone": 88.5, "offset": -600_000}],
        "tx_tone": 67.0, "split": {"rx": -100, "tx": 100}, "config": [1, 2], "codeplug": PLUG}
# What radiosim hears applying FULL to a fresh radio: channels by slot, then the safe order.
FULL_HEARD = ["mode 2 selected", "VFO set to 145.500000 MHz", "duplex set to 11", "rx PL set to 88.5",
              "tx offset set to -600000", "mode 2 stored", "mode 7 selected", "tx PL set to 100.0", "mode 7 stored",
              "VFO set to 433.920000 MHz", "tx PL set to 67.0",
              "tx offset read", "tx offset set to 600000", "tx offset read",
              "VCO split read", "VCO split set to rx -100 tx 100", "VCO split read",
              "config read", "config set to 01 02", "config read",
              "codeplug read", "codeplug set to " + " ".join(f"{b:02x}" for b in PLUG), "codeplug read"]

with open(os.path.join(os.path.dirname(__file__), os.pardir, "profile_checks.json")) as checks:
    CHECKS = json.load(checks)  # the panel's test reads the same rows


def test_bad_profiles_raise_naming_the_key_before_sending(sim, radio):
    for profile, message in CHECKS[1:]:
        with pytest.raises(ValueError) as raised:
            radio.apply(profile)
        assert str(raised.value) == message
    with radioline.open(sim.path, radio=0) as broadcast, pytest.raises(ValueError, match="broadcast"):
        broadcast.apply({"frequency": 1, "offset": 0})  # no frequency sent before the offset read fails
    assert [entry["key"] for entry in radio.diff(CHECKS[0][0])] == ["tx_tone", "rx_tone", "offset", "mode", "channel 1"]
    assert sim.heard() == "tx offset read"  # the first request radiosim heard


def test_apply_leaves_no_readable_key_differing(sim, radio):
    result = radio.apply(FULL)
    assert [sim.heard() for _ in FULL_HEARD] == FULL_HEARD
    keys = ["channel 2", "channel 7", "mode", "frequency", "tx_tone", "offset", "split", "config", "codeplug"]
    assert result == {"ok": True, "keys": [{"key": key, "result": "set"} for key in keys[:2]] + [
        {"key": "mode", "result": "left", "slot": 7}] + [{"key": key, "result": "set"} for key in keys[3:]],
        "applied": keys[:2] + keys[3:]}
    assert radio.diff(FULL) == [{"key": "frequency", "readable": False, "profile": 433_920_000},
                                {"key": "channel 7", "readable": False, "profile": FULL["channels"][0]},
                                {"key": "channel 2", "readable": False, "profile": FULL["channels"][1]},
                                {"key": "tx_tone", "readable": False, "profile": 67.0}]
    assert radio.save() == {"radio": {"version": "radiosim 1.0", "address": "0x20"}, "offset": 600_000,
                            "split": {"tx": 100, "rx": -100}, "config": [1, 2], "codeplug": PLUG}
    again = radio.apply({"offset": 600_000, "split": {"tx": 0, "rx": 0}, "frequency": 1}, dry_run=True)
    assert again["keys"] == [{"key": "frequency", "result": "would set"},
                             {"key": "offset", "result": "unchanged"}, {"key": "split", "result": "would set"}]


# The 7th request is set-split's: mode, frequency, offset read, set, read back, split read, set.
@pytest.mark.parametrize("sim", [["--refuse-every", "7"]], indirect=True)
def test_refused_setter_stops_with_what_was_applied(sim, radio):
    result = radio.apply({"codeplug": PLUG, "split": {"tx": 1, "rx": 2}, "offset": 5, "frequency": 1, "mode": 3})
    assert result == {"ok": False, "applied": ["mode", "frequency", "offset"], "keys": [
        {"key": "mode", "result": "set"}, {"key": "frequency", "result": "set"}, {"key": "offset", "result": "set"},
        {"key": "split", "result": "failed",
         "error": "the radio refused set_vco_split or answered another command"}]}
    heard = [sim.heard() for _ in range(7)]
    radio.get_version()
    assert heard[-1] == "refused: every 7th command" and sim.heard() == "version read"
