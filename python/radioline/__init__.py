# SPDX-License-Identifier: MIT
"""Control a two-way radio over a serial line, through libradioline.

This package is the Python face of the radioline library: it gathers the
public names of radio.py (open, Radio, trace), errors.py (the exceptions)
and simulator.py (simulate, stop_simulator), and binds the installed shared
library through ctypes, so no compiler is needed. RADIOLINE_LIBRARY names
another copy of the library to load.

    import radioline

    with radioline.open("/dev/ttyUSB0", baud=19200, radio=0x20, controller=0x91) as radio:
        radio.set_frequency(145_500_000)
        radio.set_pl_tone(88.5)
        print(radio.get_version())

A radio's settings travel as a profile, a dict that radio.save() returns
and radio.diff(profile) and radio.apply(profile) compare and set.

Try it without a radio: radioline.open(radioline.simulate()).
"""
from .errors import LineLost, RadioError, RadioRefused, RadioTimeout
from .radio import Radio, open, trace
from .simulator import simulate, stop_simulator

for _public in (LineLost, Radio, RadioError, RadioRefused, RadioTimeout):
    _public.__module__ = __name__  # shown as radioline.Radio, not radioline.radio.Radio
del _public

__all__ = [
    "LineLost",
    "Radio",
    "RadioError",
    "RadioRefused",
    "RadioTimeout",
    "open",
    "simulate",
    "stop_simulator",
    "trace",
]
