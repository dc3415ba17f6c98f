# SPDX-License-Identifier: MIT
"""The Radio object, open() and trace(). Each Radio owns a line handle of
the library (rl_open), so a process may open as many lines as it has
devices. Threads may share a Radio: the library holds the line's lock for
each whole exchange, so calls from several threads take turns on the wire
and each gets its own reply; the Radio only keeps count of the calls in
flight, so that close() waits for them before it frees the handle. The
trace goes to the logging module's logger "radioline", one DEBUG record per
line, once trace(True) has switched it on. Arguments are checked here,
before the library is called, so a bad one raises ValueError or TypeError
and puts nothing on the line; a non-zero result becomes an exception from
errors.py. The library itself is loaded by _native.py; save(), diff() and
apply() of profiles are profile.py's."""
from __future__ import annotations

import ctypes
import logging
import math
import numbers
import operator
import os
import sys
import threading
import weakref
from typing import Any, List, Optional, Tuple, Union

from . import _native
from . import profile as _profile
from .errors import error_for

DEFAULT_BAUD = 19200
DEFAULT_RADIO = 0x20
DEFAULT_CONTROLLER = 0x91
DEFAULT_TIMEOUT = 5.0  # seconds each byte of a reply is waited for
MAX_TIMEOUT_MS = 2**31 - 1  # the library takes milliseconds as an int
MAX_ADDRESS = 252  # addresses are one byte; FD, FE and FF frame the wire
MAX_FREQUENCY = 9_999_999_999  # ten BCD digits
MAX_MODE = 99  # one BCD byte
MAX_TONE_TENTHS = 9999  # four BCD digits of tenths of a hertz
INT32 = (-(2**31), 2**31 - 1)  # offset and split travel as signed 32-bit integers
CODEPLUG_LENGTH = 16
VERSION_LENGTH = 253  # longest text a version reply carries

logger = logging.getLogger("radioline")

_tracing_lock = threading.Lock()
_tracing = False
_open_radios: "weakref.WeakSet[Radio]" = weakref.WeakSet()

PathArg = Union[str, bytes, os.PathLike]


def _integer(name: str, value: Any, low: int, high: int) -> int:
    """`value` as an int from `low` to `high`, else TypeError or ValueError naming `name`."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{name} must be from {low} to {high}, not {number}")
    return number


def _timeout_ms(seconds: Any) -> int:
    """A time-out in seconds as whole milliseconds, 0.001 s and up."""
    if isinstance(seconds, bool) or not isinstance(seconds, numbers.Real):
        raise TypeError(f"timeout must be a number of seconds, not {type(seconds).__name__}")
    scaled = float(seconds) * 1000
    milliseconds = round(scaled) if math.isfinite(scaled) else 0
    if not 1 <= milliseconds <= MAX_TIMEOUT_MS:
        raise ValueError(f"timeout must be 0.001 to {MAX_TIMEOUT_MS // 1000} s, not {seconds!r}")
    return milliseconds


@_native.TRACE_FUNCTION
def _log_trace(_context: Optional[int], text: bytes) -> None:
    """Passes one line of a line's trace to the logger, as one DEBUG record."""
    logger.debug("%s", text.decode("utf-8", "backslashreplace"))


def _tone_tenths(hertz: Any) -> int:
    """A PL tone in Hz as whole tenths of a hertz, 0.0 to 999.9."""
    if isinstance(hertz, bool) or not isinstance(hertz, numbers.Real):
        raise TypeError(f"tone must be a number of Hz, not {type(hertz).__name__}")
    scaled = float(hertz) * 10
    tenths = round(scaled) if math.isfinite(scaled) else -1
    if not 0 <= tenths <= MAX_TONE_TENTHS or abs(scaled - tenths) > 1e-6:
        raise ValueError(f"tone must be 0.0 to 999.9 Hz in steps of 0.1 Hz, not {hertz!r}")
    return tenths


class Radio:
    """An open serial line to one radio: Radio(device, ...) or radioline.open(device, ...).

    Every method sends one request and waits for the radio's reply, at most
    `timeout` seconds for each byte, and raises RadioError (or a subclass)
    when the radio is silent, refuses or the line goes away. Methods check
    their arguments first and raise ValueError or TypeError without sending
    anything. Threads may share the object: the library lets one exchange
    at a time onto the line, and each caller gets its own reply. Use it as
    a context manager, or call close() when done.
    """

    def __init__(self, device: PathArg, baud: int = DEFAULT_BAUD, radio: int = DEFAULT_RADIO,
                 controller: int = DEFAULT_CONTROLLER, timeout: float = DEFAULT_TIMEOUT) -> None:
        """Opens the serial line `device` at `baud` bits per second.

        `radio` and `controller` are the bus addresses (radio 0 to 252, where
        0 is a broadcast, which setters may use but readers cannot;
        controller 1 to 252, as a broadcast address would await no reply).
        `timeout` is how long each byte of a reply is waited for, in seconds
        (0.001 and up). Each Radio is a line of its own: open as many as
        there are devices. A device that cannot be opened, or a speed the
        system does not know, raises RadioError with the system's errno, and
        leaves nothing open.
        """
        path = os.fsencode(device)
        if not path or b"\0" in path:
            raise ValueError(f"not a device path: {device!r}")
        rate = _integer("baud", baud, 1, 2**31 - 1)
        self.device: str = os.fsdecode(path)
        self.radio: int = _integer("radio address", radio, 0, MAX_ADDRESS)
        self.controller: int = _integer("controller address", controller, 0, MAX_ADDRESS)
        if self.controller == 0:
            raise ValueError("controller address 0 is the broadcast address; "
                             "the controller needs an address of its own")
        milliseconds = _timeout_ms(timeout)
        self.timeout: float = milliseconds / 1000
        self._lib = _native.library()
        self._line = ctypes.c_void_p()
        self._guard = threading.Condition()
        self._calls = 0  # library calls running on the line
        self._closed = True
        code = self._lib.rl_open(path, rate, ctypes.byref(self._line))
        if code:
            raise error_for(code, "open", self.device, exchange=False)
        self._closed = False
        self._lib.rl_settimeout(self._line, milliseconds)
        with _tracing_lock:
            _open_radios.add(self)
            if _tracing:
                self._trace(True)

    def __repr__(self) -> str:
        state = "closed" if self._closed else "open"
        return (f"<radioline.Radio {self.device!r} radio=0x{self.radio:02x} "
                f"controller=0x{self.controller:02x} {state}>")

    def __enter__(self) -> Radio:
        """Returns the Radio itself for the `with` block."""
        return self

    def __exit__(self, *exc_info: Any) -> None:
        """Closes the line at the end of the `with` block."""
        self.close()

    def __del__(self) -> None:
        """Closes a line nobody closed, so that its device is not left open."""
        if not getattr(self, "_closed", True):  # no call runs: none holds the Radio
            self._closed = True
            self._lib.rl_close(self._line)

    @property
    def closed(self) -> bool:
        """True once close() has been called."""
        return self._closed

    def close(self) -> None:
        """Closes the line once the calls running on it have returned.

        Closing a closed Radio does nothing.
        """
        with self._guard:
            if self._closed:
                return
            self._closed = True
            self._guard.wait_for(lambda: self._calls == 0)
        code = self._lib.rl_close(self._line)
        if code:
            raise error_for(code, "close", self.device, exchange=False)

    def _trace(self, on: bool) -> None:
        """Sends the line's trace to the logger, or nowhere."""
        self._run("trace", "rl_settrace", _log_trace if on else _native.TRACE_FUNCTION(), None)

    def _run(self, operation: str, function: str, *arguments: Any) -> int:
        """Runs the library's `function` on this line; its result code."""
        with self._guard:
            if self._closed:
                raise ValueError(f"{operation} on a closed radio ({self.device})")
            self._calls += 1
        try:
            return getattr(self._lib, function)(self._line, *arguments)
        finally:
            with self._guard:
                self._calls -= 1
                self._guard.notify_all()

    def _call(self, operation: str, function: str, *arguments: Any) -> None:
        """Runs one radio command on this line and raises on a non-zero result."""
        code = self._run(operation, "rl_" + function, self.radio, self.controller, *arguments)
        if code:
            raise error_for(code, operation, self.device)

    def _read(self, operation: str, function: str, *arguments: Any) -> None:
        """A reader's _call: a broadcast gets no reply, so it is refused up front."""
        if self.radio == 0:
            raise ValueError(f"{operation} needs a reply, and radio address 0 is a broadcast")
        self._call(operation, function, *arguments)

    def set_frequency(self, hertz: int) -> None:
        """Tunes the VFO to `hertz` (0 to 9 999 999 999 Hz)."""
        self._call("set_frequency", "setvfofreq", _integer("frequency", hertz, 0, MAX_FREQUENCY))

    def select_mode(self, slot: int) -> None:
        """Selects mode slot `slot` (0 to 99)."""
        self._call("select_mode", "setmode", _integer("mode slot", slot, 0, MAX_MODE))

    def store_vfo(self) -> None:
        """Stores the VFO's settings into the current mode slot."""
        self._call("store_vfo", "storevfotomode")

    def recall_mode(self) -> None:
        """Recalls the current mode slot into the VFO."""
        self._call("recall_mode", "storemodetovfo")

    def set_duplex(self, code: int) -> None:
        """Sets the radio's duplex code (0 to 255)."""
        self._call("set_duplex", "setduplex", _integer("duplex code", code, 0, 255))

    def set_pl_tone(self, hertz: float, rx: bool = False) -> None:
        """Sets the transmit PL tone, or the receive one with rx=True (0.0 to 999.9 Hz)."""
        self._call("set_pl_tone", "setpl", _tone_tenths(hertz), 1 if rx else 0)

    def set_codeplug(self, plug: bytes) -> None:
        """Writes the VFO codeplug: `plug` is exactly 16 bytes (bytes, bytearray, ...)."""
        try:
            data = bytes(memoryview(plug))
        except TypeError:
            raise TypeError(f"codeplug must be bytes, not {type(plug).__name__}") from None
        if len(data) != CODEPLUG_LENGTH:
            raise ValueError(f"codeplug must be {CODEPLUG_LENGTH} bytes, not {len(data)}")
        text = ctypes.create_string_buffer(" ".join(f"{byte:02x}" for byte in data).encode())
        self._call("set_codeplug", "setvfocodeplug", text)

    def get_codeplug(self) -> bytes:
        """Reads the 16-byte VFO codeplug."""
        buffer = (ctypes.c_ubyte * CODEPLUG_LENGTH)()
        self._read("get_codeplug", "getvfocodeplug", buffer, CODEPLUG_LENGTH)
        return bytes(buffer)

    def get_version(self) -> str:
        """Reads the firmware version text (bytes that are not UTF-8 read as U+FFFD)."""
        buffer = (ctypes.c_ubyte * VERSION_LENGTH)()
        self._read("get_version", "getversion", buffer, VERSION_LENGTH)
        return bytes(buffer).split(b"\0", 1)[0].decode("utf-8", "replace")

    def set_config(self, data0: int, data1: int) -> None:
        """Writes the two configuration bytes (0 to 255 each)."""
        self._call("set_config", "setconfig", _integer("data0", data0, 0, 255),
                   _integer("data1", data1, 0, 255))

    def get_config(self) -> Tuple[int, int]:
        """Reads the two configuration bytes as (data0, data1)."""
        buffer = (ctypes.c_ubyte * 2)()
        self._read("get_config", "getconfig", buffer, 2)
        return buffer[0], buffer[1]

    def set_tx_offset(self, hertz: int) -> None:
        """Sets the transmit offset in Hz, signed 32-bit (-600_000 for minus 600 kHz)."""
        self._call("set_tx_offset", "settxoffset", _integer("offset", hertz, *INT32))

    def get_tx_offset(self) -> int:
        """Reads the transmit offset in Hz."""
        offset = ctypes.c_long()
        self._read("get_tx_offset", "gettxoffset", ctypes.byref(offset))
        return offset.value

    def set_vco_split(self, tx: int, rx: int) -> None:
        """Writes the VCO split pair, each a signed 32-bit value."""
        self._call("set_vco_split", "setvcosplit", _integer("tx split", tx, *INT32),
                   _integer("rx split", rx, *INT32))

    def get_vco_split(self) -> Tuple[int, int]:
        """Reads the VCO split pair as (tx, rx)."""
        tx, rx = ctypes.c_long(), ctypes.c_long()
        self._read("get_vco_split", "getvcosplitfreq", ctypes.byref(tx), ctypes.byref(rx))
        return tx.value, rx.value

    def save(self) -> dict:
        """Reads the radio's profile: its version under "radio", offset, split, config, codeplug."""
        return _profile.save(self)

    def diff(self, profile: dict) -> List[dict]:
        """What differs between `profile` and the radio, one entry per key.

        In the profile's order: {"key": "offset", "radio": -600000, "profile":
        600000} for a readable key that differs, {"key": "frequency",
        "readable": False, "profile": ...} for one the radio cannot report
        ("channel 3" for each channel). Empty when nothing differs. A bad
        profile raises ValueError naming the key, before anything is sent.
        """
        return _profile.diff(self, profile)

    def apply(self, profile: dict, dry_run: bool = False) -> dict:
        """Sets what `profile` holds and the radio does not; the per-key results.

        Order: the channels by slot (select the slot, set the channel's
        values, store the VFO), the mode (or, when the profile has channels
        but no mode, "left at slot N"), frequency, duplex, tones, offset,
        split, config, codeplug. A readable key already right is
        "unchanged" and not sent; one set is read back. Returns {"ok": bool,
        "keys": [{"key": ..., "result": "set" | "unchanged" | "failed",
        "error": ...}], "applied": [keys set]}: the run stops at the first
        failure. dry_run=True reads but sets nothing ("would set"). A bad
        profile raises ValueError naming the key, before anything is sent.
        """
        return _profile.apply(self, profile, dry_run)


def open(device: PathArg, baud: int = DEFAULT_BAUD, radio: int = DEFAULT_RADIO,
         controller: int = DEFAULT_CONTROLLER, timeout: float = DEFAULT_TIMEOUT) -> Radio:
    """Opens the serial line `device` and returns its Radio: Radio(device, ...)."""
    return Radio(device, baud, radio, controller, timeout)


def trace(on: bool = True) -> None:
    """Switches the library's line-by-line trace of every Radio on or off.

    Each trace line becomes one DEBUG record of the logger "radioline",
    whose level this sets to DEBUG (and back to unset when switched off).
    When no handler would show them (logging is not configured), the
    records go to standard error, one line each, as the trace always has.
    """
    global _tracing
    with _tracing_lock:
        _tracing = on
        logger.setLevel(logging.DEBUG if on else logging.NOTSET)
        if on and not logger.hasHandlers():
            handler = logging.StreamHandler(sys.stderr)
            handler.setFormatter(logging.Formatter("%(message)s"))
            logger.addHandler(handler)
        for radio in list(_open_radios):
            try:
                radio._trace(on)
            except ValueError:
                pass  # closed: it traces nothing any more
