"""Read Chirolink data gloves from Python.

A layer over libChirolink's glove API with ctypes from the standard library:

    from chirolink import Glove
    with Glove("/dev/ttyUSB0") as glove:       # or "COM1", or a pathlib.Path
        print(glove.values())                  # (finger1, ..., finger5, roll, pitch), 0..255
        for frame in glove.frames(timeout=1):  # every frame, in order, with its times
            print(frame.sequence, frame.monotonic, frame.values)

Each Glove has a link of its own: open as many as there are gloves, one per port, and read
them from as many threads as you like. A port that another Glove (or another program, or
GloveInit) holds gives ChirolinkError with code ERR_BUSY; every failed open says why in
`reason` ("no such device", "no glove answered", ...).

Reading:
- latest(): the newest frame, whole (values and checksum always from one frame), or None
  before the first frame.
- next_frame(timeout=None), frames(timeout=None): every frame in order, each exactly once per
  Glove. A Glove queues the latest 4096 frames (about 20 s) that its reader has not taken; a
  reader that falls further behind loses the oldest, status().missed counts them and the
  sequence numbers show the gap. A blocking wait lets other Python threads run.
- values(), frame(), checksum_ok(): the latest frame's values, 8 bytes, checksum test.
- status(): the link's state ("running", "reopening" while the port is away, "stopped") and
  counters. A glove that goes away and comes back shows "reopening", then "running" again,
  with its frames flowing on and its sequence numbers counting on.

The first frame: the open returns once the glove has answered the handshake, and the first
frame lands a few milliseconds later. Until then latest() gives None, next_frame() waits for
it, and values(), frame() and checksum_ok() wait up to 1 s for it, then raise ChirolinkError
(code ERR_TIMEOUT). They never show the handshake's answer as a reading.

Closing: close() (or the end of a with block) stops the link and lets go of the port, which
may be opened again at once. It may be called from any thread, also while other threads wait
in next_frame() or frames(): those end within 50 ms (next_frame() gives None, frames() ends),
and close() returns after them. Any later call raises ChirolinkError. A Glove that is
garbage-collected unclosed is closed then.

Processes: a child made by fork() inherits no link, and Python's multiprocessing forks by
default on Linux. A Glove the child inherits shows what it had at the fork, frozen: latest(),
values(), frame() and checksum_ok() the last frame before the fork, status() the counters
then with the state "stopped"; next_frame() and frames() wait their time-out and get nothing;
close() only marks it closed (the port is the parent's). A child that wants a glove opens its
own Glove, once the parent has closed its Glove on that port (a port is held by one link at a
time).

Calibration: Calibration.load("right.json") reads a file written by `chirolink calibrate`;
its apply(frame) gives the seven values from 0 (open hand) to 1 (fist), as the C call
chirolink_calibrate does.

Which port is the glove on? list_ports() gives the machine's serial ports (named tuples with
the name to open, the stable by-id name, a description and the USB ids), scan(ports=None)
the names of those where a glove answers the hello, all probed at once:

    import chirolink
    for port in chirolink.list_ports():
        print(port.name, port.description)
    print(chirolink.scan())   # ["/dev/ttyUSB0"]; sends the hello to every port it probes

The library is found by the usual search (ctypes.util.find_library, then the SONAME
libChirolink.so.1); load_library(path) loads it from a path instead, before the first Glove.
`__version__` is the library's version.
"""

from ._calibration import Calibration
from ._glove import Frame, Glove, Status
from ._ports import Port, list_ports, scan
from ._library import (ERR_ARG, ERR_BUSY, ERR_DENIED, ERR_FORMAT, ERR_MISSING, ERR_NO_GLOVE,
                       ERR_NOT_SERIAL, ERR_SYSTEM, ERR_TIMEOUT, ChirolinkError, load_library)

__all__ = ["Calibration", "ChirolinkError", "Frame", "Glove", "Status", "load_library",
           "FINGERS", "SENSORS", "Port", "list_ports", "scan",
           "ERR_ARG", "ERR_MISSING", "ERR_NOT_SERIAL", "ERR_BUSY", "ERR_DENIED", "ERR_NO_GLOVE",
           "ERR_TIMEOUT", "ERR_SYSTEM", "ERR_FORMAT"]

FINGERS = 5
SENSORS = 7  # five fingers, roll, pitch


def __getattr__(name):
    # __version__ asks the library, loading it on first use.
    if name == "__version__":
        return load_library().chirolink_version().decode("ascii")
    raise AttributeError("module %r has no attribute %r" % (__name__, name))
