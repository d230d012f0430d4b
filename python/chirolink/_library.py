"""libChirolink through ctypes: finding and loading it, the glove API's structures and calls,
its results, and ChirolinkError, which carries a result's text."""

import ctypes
import ctypes.util
import os

# Results of the glove API (chirolink_glove.h).
OK = 0
ERR_ARG = -1
ERR_MISSING = -2
ERR_NOT_SERIAL = -3
ERR_BUSY = -4
ERR_DENIED = -5
ERR_NO_GLOVE = -6
ERR_TIMEOUT = -7
ERR_SYSTEM = -8
ERR_FORMAT = -9  # not a calibration file (chirolink_calibration.h)

# chirolink_status.state, as text.
STATES = {1: "running", 2: "reopening", 3: "stopped"}

_library = None


class ChirolinkError(Exception):
    """A glove that could not be opened or read, or a library that could not be loaded.

    `port`: the port as given (a str; None when no port was involved); `reason`: why, in
    words ("no such device", "port busy (held by another program or link)", ...); `code`: the
    library's result (one of the ERR_* numbers), None when the library gave none.
    """

    def __init__(self, reason, port=None, code=None):
        self.reason = reason
        self.port = port
        self.code = code
        super().__init__(reason if port is None else "%s: %s" % (port, reason))

    def __reduce__(self):  # whole across pickling (multiprocessing hands errors on that way)
        return type(self), (self.reason, self.port, self.code)


class RawFrame(ctypes.Structure):
    """chirolink_frame."""

    _fields_ = [
        ("values", ctypes.c_uint8 * 7),
        ("checksum", ctypes.c_uint8),
        ("sequence", ctypes.c_uint64),
        ("monotonic_s", ctypes.c_double),
        ("wall_s", ctypes.c_double),
        ("checksum_ok", ctypes.c_int32),
        ("reserved", ctypes.c_int32),
    ]


class RawStatus(ctypes.Structure):
    """chirolink_status."""

    _fields_ = [
        ("state", ctypes.c_int32),
        ("reserved", ctypes.c_int32),
        ("frames", ctypes.c_uint64),
        ("bad_checksums", ctypes.c_uint64),
        ("lost_replies", ctypes.c_uint64),
        ("reopens", ctypes.c_uint64),
        ("missed", ctypes.c_uint64),
        ("last_frame_age_s", ctypes.c_double),
    ]


def _declare(library):
    handle = ctypes.c_void_p
    calls = {
        "chirolink_open": (ctypes.c_int32, [ctypes.c_char_p, ctypes.POINTER(handle)]),
        "chirolink_close": (None, [handle]),
        "chirolink_next_frame": (
            ctypes.c_int32, [handle, ctypes.POINTER(RawFrame), ctypes.c_int32]),
        "chirolink_latest_frame": (ctypes.c_int32, [handle, ctypes.POINTER(RawFrame)]),
        "chirolink_get_status": (ctypes.c_int32, [handle, ctypes.POINTER(RawStatus)]),
        "chirolink_error_text": (ctypes.c_char_p, [ctypes.c_int32]),
        "chirolink_version": (ctypes.c_char_p, []),
    }
    for name, (restype, argtypes) in calls.items():
        call = getattr(library, name)
        call.restype = restype
        call.argtypes = argtypes


def load_library(path=None):
    """Loads libChirolink: from `path` when given, else by the usual search
    (ctypes.util.find_library, then the library's SONAME), once per process. A Glove uses the
    library loaded last, unless it is given a path of its own."""
    global _library
    if _library is None or path is not None:
        _library = load(path)
    return _library


def load(path=None):
    """Loads libChirolink as load_library() does, leaving the one that Gloves use alone."""
    names = [os.fspath(path)] if path else [ctypes.util.find_library("Chirolink"), "libChirolink.so.1"]
    errors = []
    for name in names:
        if not name:
            continue
        try:
            library = ctypes.CDLL(name)
            _declare(library)
        except (OSError, AttributeError) as error:  # AttributeError: a library without the API
            errors.append(str(error))
            continue
        return library
    raise ChirolinkError("cannot load libChirolink" + (
        ": " + "; ".join(errors) if errors else " (is the libchirolink1 package installed?)"))


def error_text(library, code):
    """The library's text for a result."""
    return library.chirolink_error_text(code).decode("utf-8", "replace")
