# SPDX-License-Identifier: MIT
"""Radio profiles: a radio's settings as a dict in radioctl's value forms
(Hz, tones in Hz with one decimal, plain integers), saved from a radio,
compared with one and applied to one, behind Radio.save(), Radio.diff()
and Radio.apply(). A profile is checked against the schema (schema.py)
before anything is sent. The radio reports only its offset, split,
config and codeplug; the rest is always set, never compared. apply() sets
in a safe order (the channels' mode slots before the VFO values they would
overwrite, the codeplug last), leaves a readable value that is already
right alone, reads back each one it sets, and stops at the first failure,
saying what it applied before it."""
from __future__ import annotations

from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, List, NamedTuple, Optional, Tuple

from . import schema
from .errors import RadioError

if TYPE_CHECKING:
    from .radio import Radio

Setter = Callable[["Radio", Any], None]


def _signed(hertz: int) -> str:
    return f"{int(hertz):+d} Hz" if hertz else "0 Hz"


def _hex_bytes(data: Any) -> str:
    return " ".join(f"{int(byte):02x}" for byte in data)


class _Readable(NamedTuple):
    """A key the radio reports: how it is read and set, and how its value is written."""

    read: Callable[["Radio"], Any]
    write: Setter
    shown: Callable[[Any], str]


_READABLE: Dict[str, _Readable] = {
    "offset": _Readable(lambda radio: radio.get_tx_offset(),
                        lambda radio, hertz: radio.set_tx_offset(int(hertz)), _signed),
    "split": _Readable(lambda radio: dict(zip(("tx", "rx"), radio.get_vco_split())),
                       lambda radio, pair: radio.set_vco_split(int(pair["tx"]), int(pair["rx"])),
                       lambda pair: f"tx {_signed(pair['tx'])} rx {_signed(pair['rx'])}"),
    "config": _Readable(lambda radio: list(radio.get_config()),
                        lambda radio, data: radio.set_config(*map(int, data)), _hex_bytes),
    "codeplug": _Readable(lambda radio: list(radio.get_codeplug()),
                          lambda radio, data: radio.set_codeplug(bytes(map(int, data))), _hex_bytes),
}

# The setters of the keys the radio cannot report, in the order a channel and a profile set them.
_VFO: Dict[str, Setter] = {
    "frequency": lambda radio, hertz: radio.set_frequency(int(hertz)),
    "duplex": lambda radio, code: radio.set_duplex(int(code)),
    "tx_tone": lambda radio, hertz: radio.set_pl_tone(hertz),
    "rx_tone": lambda radio, hertz: radio.set_pl_tone(hertz, rx=True),
    "offset": _READABLE["offset"].write,
}
_ORDER = ("frequency", "duplex", "tx_tone", "rx_tone", "offset", "split", "config", "codeplug")


class _ReadBack(Exception):
    """A value read back is not the one set."""


def _plain(value: Any) -> Any:
    """`value` with its tuples as lists, as JSON would hold it, in a copy of its own."""
    if isinstance(value, (list, tuple)):
        return [_plain(item) for item in value]
    return {key: _plain(item) for key, item in value.items()} if isinstance(value, dict) else value


def checked(profile: Any, radio: Radio) -> dict:
    """A copy of `profile` once the schema finds nothing wrong; else ValueError naming the key.

    A profile with readable keys needs replies, so a broadcast radio is refused.
    """
    found = schema.problem(profile)
    if found:
        raise ValueError(found)
    if radio.radio == 0 and any(key in _READABLE for key in profile):
        raise ValueError("a profile with readable keys needs replies, "
                         "and radio address 0 is a broadcast")
    return _plain(profile)


def _program(radio: Radio, channel: dict) -> None:
    """Stores a channel into its slot: select it, set the channel's values, store the VFO."""
    radio.select_mode(int(channel["slot"]))
    for key, write in _VFO.items():
        if key in channel:
            write(radio, channel[key])
    radio.store_vfo()


def _steps(profile: dict) -> Iterator[Tuple[str, Optional[Setter], Optional[_Readable], Any]]:
    """The keys to apply in a safe order: (key, setter, how it reads, the value wanted).

    A profile with channels and no mode leaves the last channel's slot
    selected: no setter, and that slot as the value."""
    channels = sorted(profile.get("channels", ()), key=lambda channel: channel["slot"])
    for channel in channels:
        yield f"channel {channel['slot']}", _program, None, channel
    if "mode" in profile:
        yield "mode", lambda radio, slot: radio.select_mode(int(slot)), None, profile["mode"]
    elif channels:
        yield "mode", None, None, channels[-1]["slot"]
    for key in _ORDER:
        if key in profile:
            readable = _READABLE.get(key)
            yield key, readable.write if readable else _VFO[key], readable, profile[key]


def save(radio: Radio) -> dict:
    """What the radio reports, as a profile: its version (informative) and the readable keys."""
    profile: Dict[str, Any] = {"radio": {"version": radio.get_version(),
                                         "address": f"0x{radio.radio:02x}"}}
    for key, readable in _READABLE.items():
        profile[key] = readable.read(radio)
    return profile


def diff(radio: Radio, profile: Any) -> List[dict]:
    """The keys of `profile` that differ on the radio or cannot be read, in the profile's order."""
    entries = []
    for key, wanted in checked(profile, radio).items():
        if key == "channels":
            entries += [{"key": f"channel {channel['slot']}", "readable": False, "profile": channel}
                        for channel in wanted]
        elif key in _READABLE:
            current = _READABLE[key].read(radio)
            if current != wanted:
                entries.append({"key": key, "radio": current, "profile": wanted})
        elif key != "radio":
            entries.append({"key": key, "readable": False, "profile": wanted})
    return entries


def _run(radio: Radio, write: Setter, readable: Optional[_Readable], wanted: Any,
         dry_run: bool) -> str:
    """Sets one key unless a reading shows it already holds; its result, or RadioError."""
    if readable and readable.read(radio) == wanted:
        return "unchanged"
    if dry_run:
        return "would set"
    write(radio, wanted)
    if readable:
        back = readable.read(radio)
        if back != wanted:
            raise _ReadBack(f"read back {readable.shown(back)}, wanted {readable.shown(wanted)}")
    return "set"


def apply(radio: Radio, profile: Any, dry_run: bool = False) -> dict:
    """Applies `profile`: {"ok": ..., "keys": [{"key": ..., "result": ...}], "applied": [...]}."""
    keys: List[dict] = []
    applied: List[str] = []
    for key, write, readable, wanted in _steps(checked(profile, radio)):
        if write is None:
            keys.append({"key": key, "result": "left", "slot": wanted})
            continue
        try:
            result = _run(radio, write, readable, wanted, dry_run)
        except (RadioError, _ReadBack) as failure:
            keys.append({"key": key, "result": "failed", "error": str(failure)})
            return {"ok": False, "keys": keys, "applied": applied}
        keys.append({"key": key, "result": result})
        if result == "set":
            applied.append(key)
    return {"ok": True, "keys": keys, "applied": applied}
