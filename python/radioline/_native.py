# SPDX-License-Identifier: MIT
"""The shared library and its prototypes. Finds libradioline.so: the path in
RADIOLINE_LIBRARY, else the library this package was installed with (its
place relative to the package is recorded in _paths at install time), else
whatever the dynamic loader finds under the soname. Loads it once, on first
use, so that importing the package never fails, and declares the argument
types of the line-handle calls it binds: rl_open, rl_close, rl_settimeout,
rl_settrace and the radio commands, each taking the line first. Knows
nothing about radios: checks and errors are radio.py's."""
from __future__ import annotations

import ctypes
import os
import threading
from ctypes import POINTER, c_char_p, c_int, c_long, c_ubyte, c_void_p
from typing import Optional

try:
    from . import _paths
except ImportError:  # not installed: only the environment or the loader's search path
    _paths = None

LIBRARY_VARIABLE = "RADIOLINE_LIBRARY"
SONAME = "libradioline.so.0"

# A trace callback: the context given to rl_settrace and one line of text.
TRACE_FUNCTION = ctypes.CFUNCTYPE(None, c_void_p, c_char_p)

# Argument types of each bound function; every one of them returns an int.
# The radio commands take the line (a radioline_line *) before these.
_COMMANDS = {
    "setvfofreq": (c_int, c_int, c_long),
    "setmode": (c_int, c_int, c_long),
    "storevfotomode": (c_int, c_int),
    "storemodetovfo": (c_int, c_int),
    "setduplex": (c_int, c_int, c_long),
    "setpl": (c_int, c_int, c_long, c_int),
    "getvfocodeplug": (c_int, c_int, POINTER(c_ubyte), c_int),
    "setvfocodeplug": (c_int, c_int, c_char_p),
    "getversion": (c_int, c_int, POINTER(c_ubyte), c_int),
    "getconfig": (c_int, c_int, POINTER(c_ubyte), c_int),
    "setconfig": (c_int, c_int, c_ubyte, c_ubyte),
    "gettxoffset": (c_int, c_int, POINTER(c_long)),
    "settxoffset": (c_int, c_int, c_long),
    "getvcosplitfreq": (c_int, c_int, POINTER(c_long), POINTER(c_long)),
    "setvcosplit": (c_int, c_int, c_long, c_long),
}
_PROTOTYPES = {
    "rl_open": (c_char_p, c_int, POINTER(c_void_p)),
    "rl_close": (c_void_p,),
    "rl_settimeout": (c_void_p, c_int),
    "rl_settrace": (c_void_p, TRACE_FUNCTION, c_void_p),
    **{"rl_" + name: (c_void_p, *arguments) for name, arguments in _COMMANDS.items()},
}

_loaded: Optional[ctypes.CDLL] = None
_loading = threading.Lock()


def installed(relative: Optional[str]) -> Optional[str]:
    """The path `relative` to this package names, when it exists."""
    if not relative:
        return None
    path = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), relative))
    return path if os.path.exists(path) else None


def library_path() -> str:
    """The library to load: the environment's choice, the installed one, or the soname."""
    return (os.environ.get(LIBRARY_VARIABLE) or installed(getattr(_paths, "LIBRARY", None))
            or SONAME)


def library() -> ctypes.CDLL:
    """The loaded library with its prototypes declared; loads it on the first call."""
    global _loaded
    with _loading:
        if _loaded is None:
            lib = ctypes.CDLL(library_path(), use_errno=True)
            for name, arguments in _PROTOTYPES.items():
                function = getattr(lib, name)
                function.argtypes = arguments
                function.restype = c_int
            _loaded = lib
        return _loaded
