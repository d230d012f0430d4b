"""Read a Chirolink data glove from Python.

A thin layer over libChirolink's three calls, with ctypes from the standard library:

    from chirolink import Glove
    glove = Glove("COM1")          # or a device path such as "/dev/ttyUSB0"
    print(glove.values())          # (finger1, ..., finger5, roll, pitch), 0..255 each

The library holds one glove link per process: a second Glove stops the first one's link and
starts afresh on its own port.
"""

import ctypes
import ctypes.util
import struct

__all__ = ["ChirolinkError", "Glove", "load_library", "FINGERS", "SENSORS"]

FINGERS = 5
SENSORS = 7  # five fingers, roll, pitch

_library = None


class ChirolinkError(Exception):
    """The library could not be loaded, or no glove answered on the port."""


def load_library(path=None):
    """Loads libChirolink (once per process): from `path` when given, else by the usual search
    (ctypes.util.find_library, then the library's SONAME)."""
    global _library
    if _library is not None and path is None:
        return _library
    names = [path] if path else [ctypes.util.find_library("Chirolink"), "libChirolink.so.1"]
    errors = []
    for name in names:
        if not name:
            continue
        try:
            library = ctypes.CDLL(name)
        except OSError as error:
            errors.append(str(error))
            continue
        library.GloveInit.argtypes = [ctypes.c_char_p]
        library.GloveInit.restype = ctypes.c_int32
        library.GloveGetDataPtr.argtypes = []
        library.GloveGetDataPtr.restype = ctypes.c_void_p
        library.GloveGetData.argtypes = [ctypes.c_int32]
        library.GloveGetData.restype = ctypes.c_ubyte
        _library = library
        return library
    raise ChirolinkError("cannot load libChirolink" + (": " + "; ".join(errors) if errors else
                                                        " (is the libchirolink1 package installed?)"))


class Glove:
    """The glove on `port` ("COM1", "/dev/ttyUSB0", ...), polled by the library's own thread.

    Raises ChirolinkError when no glove answers there (a missing, busy or non-serial port, or
    nothing answering the handshake).
    """

    def __init__(self, port, library=None):
        self._lib = load_library(library)
        self.port = port
        if self._lib.GloveInit(port.encode()) != 1:
            raise ChirolinkError(
                "no glove on %s (missing or busy port, not a serial port, or no answer)" % port)
        # One aligned 64-bit word: read whole, it never mixes two frames.
        self._word = ctypes.c_uint64.from_address(self._lib.GloveGetDataPtr())

    def frame(self):
        """The 8 bytes of the latest frame (seven values, then their checksum), in one read."""
        return struct.pack("=Q", self._word.value)

    def values(self):
        """The seven values of the latest frame: five fingers, roll, pitch."""
        return tuple(self.frame()[:SENSORS])

    def checksum_ok(self):
        """Whether the latest frame's checksum matches its seven values."""
        frame = self.frame()
        checksum = 0
        for byte in frame[:SENSORS]:
            checksum ^= byte
        return checksum == frame[SENSORS]

    def close(self):
        """Stops the library's link (and with it any other Glove's: there is one per process)."""
        self._lib.GloveInit(None)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
