# SPDX-License-Identifier: MIT
"""The exceptions a failing call raises. The library answers every call with
0 or an errno value; this module turns a non-zero one into RadioError, an
OSError carrying that errno and its system message, or into the subclass a
caller can catch for the three failures that call for different handling:
silence, refusal and a device that went away."""
from __future__ import annotations

import errno
import os
from typing import Optional


class RadioError(OSError):
    """A radio operation failed; `errno` holds the library's result code.

    `strerror` is the system's text for that code, `filename` the device and
    `operation` the name of the method that failed.
    """

    operation: str = ""

    def __str__(self) -> str:
        return f"{self.operation}: {super().__str__()}" if self.operation else super().__str__()


class RadioTimeout(RadioError, TimeoutError):
    """The radio fell silent: no byte came within the library's 5-second time-out."""


class RadioRefused(RadioError):
    """The radio answered but did not accept the request, or answered something else.

    `errno` is EINVAL, which the library returns for both; the text says so:
    "the radio refused set_duplex or answered another command".
    """

    def __str__(self) -> str:
        return str(self.strerror)


class LineLost(RadioError):
    """The device went away or hung up; close the radio and open the line again."""


_LOST = frozenset({errno.EPIPE, errno.EIO, errno.ENXIO, errno.EBADF})


def error_for(code: int, operation: str, device: Optional[str], exchange: bool = True) -> RadioError:
    """The exception for result `code` of `operation` on `device`.

    Only an exchange with the radio can be refused, time out or lose its
    line; opening the device fails with a plain RadioError.
    """
    kind = RadioError
    if exchange and code == errno.ETIMEDOUT:
        kind = RadioTimeout
    elif exchange and code == errno.EINVAL:
        kind = RadioRefused
    elif exchange and code in _LOST:
        kind = LineLost
    text = (f"the radio refused {operation} or answered another command" if kind is RadioRefused
            else os.strerror(code))
    error = kind(code, text, device)
    error.operation = operation
    return error
