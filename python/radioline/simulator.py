# SPDX-License-Identifier: MIT
"""radiosim as a child process, for trying the package out and for tests.
simulate() starts radiosim (the one installed with this package, or the one
RADIOLINE_RADIOSIM names, or the first on PATH) on a pseudo-terminal, reads
the device path from its first line and hands the rest of its output, one
line per request it heard, to a thread that passes it on or drops it, so the
simulator never blocks on a full pipe. Simulators are stopped by their
process id, by stop_simulator() or when the interpreter exits."""
from __future__ import annotations

import atexit
import os
import shutil
import subprocess
import threading
from typing import Dict, Optional, Protocol, Tuple

from . import _native

RADIOSIM_VARIABLE = "RADIOLINE_RADIOSIM"


class LineSink(Protocol):
    """Anything with a write(str) method, such as sys.stdout or an open text file."""

    def write(self, text: str) -> object:
        """Takes one line of radiosim's log, newline included."""


_running: Dict[str, Tuple[subprocess.Popen, threading.Thread]] = {}
_guard = threading.Lock()


def radiosim_path() -> str:
    """The radiosim program simulate() runs; RuntimeError when there is none."""
    path = (os.environ.get(RADIOSIM_VARIABLE)
            or _native.installed(getattr(_native._paths, "RADIOSIM", None))
            or shutil.which("radiosim"))
    if not path:
        raise RuntimeError(f"radiosim not found: install it or set {RADIOSIM_VARIABLE}")
    return path


def _relay(process: subprocess.Popen, log: Optional[LineSink]) -> None:
    """Passes radiosim's log lines to `log` (or drops them) until radiosim ends."""
    for line in process.stdout:
        if log is not None:
            log.write(line)


def simulate(*options: str, log: Optional[LineSink] = None) -> str:
    """Starts a simulated radio and returns the path of its serial device.

    The radio answers at bus address 0x20 and keeps serving as lines are
    opened and closed, until stop_simulator() or the end of the interpreter.
    `options` are passed on to radiosim (for example "--refuse-every", "3");
    `log`, when given, receives radiosim's log, one line per request heard.
    Raises RuntimeError when radiosim is missing or does not start.
    """
    process = subprocess.Popen([radiosim_path(), "--stay", *options], stdout=subprocess.PIPE,
                               stdin=subprocess.DEVNULL, text=True)
    device = process.stdout.readline().rstrip("\n")
    if not device:
        process.wait()
        process.stdout.close()
        raise RuntimeError(f"radiosim did not start (exit status {process.returncode})")
    relay = threading.Thread(target=_relay, args=(process, log), daemon=True,
                             name=f"radiosim {device}")
    relay.start()
    with _guard:
        _running[device] = (process, relay)
    return device


def stop_simulator(device: Optional[str] = None) -> None:
    """Stops the simulated radio on `device`, or every one simulate() started.

    Each ends by its own process id; its log is complete when this returns.
    """
    with _guard:
        chosen = [device] if device is not None else list(_running)
        stopping = [_running.pop(path) for path in chosen if path in _running]
    for process, relay in stopping:
        process.terminate()
        process.wait()
        relay.join()
        process.stdout.close()


atexit.register(stop_simulator)
