"""chirolink.Calibration: how far each finger is bent, from 0 to 1, through the library's
calibration calls (chirolink_calibration.h), so that Python reads, writes and maps exactly as
C and the chirolink command do."""

import ctypes
import os

from ._library import OK, ChirolinkError, RawFrame, error_text, load_library

CHANNELS = ("finger1", "finger2", "finger3", "finger4", "finger5", "roll", "pitch")
_HANDS = {0: None, 1: "left", 2: "right"}


class RawCalibration(ctypes.Structure):
    """chirolink_calibration."""

    _fields_ = [
        ("low", ctypes.c_uint8 * 7),
        ("high", ctypes.c_uint8 * 7),
        ("hand", ctypes.c_uint8),
        ("reserved", ctypes.c_uint8),
    ]


def _calls():
    library = load_library()
    if not hasattr(library, "_chirolink_calibration"):
        library.chirolink_calibration_load.restype = ctypes.c_int32
        library.chirolink_calibration_load.argtypes = [
            ctypes.c_char_p, ctypes.POINTER(RawCalibration), ctypes.c_char_p, ctypes.c_int32]
        library.chirolink_calibration_save.restype = ctypes.c_int32
        library.chirolink_calibration_save.argtypes = [
            ctypes.c_char_p, ctypes.POINTER(RawCalibration)]
        library.chirolink_calibrate.restype = ctypes.c_int32
        library.chirolink_calibrate.argtypes = [
            ctypes.POINTER(RawCalibration), ctypes.POINTER(RawFrame),
            ctypes.POINTER(ctypes.c_float)]
        library._chirolink_calibration = True
    return library


def _seven(values, name):
    values = tuple(values)
    if len(values) != 7 or not all(isinstance(v, int) and 0 <= v <= 255 for v in values):
        raise ValueError("%s: expected 7 whole numbers from 0 to 255, got %r" % (name, values))
    return values


class Calibration:
    """A glove's calibration: per channel (finger 1..5, roll, pitch) the raw value that means
    0.0 (`low`: an open, flat hand) and the one that means 1.0 (`high`: a fist). `low` above
    `high` is a sensor whose value falls as it bends.

        calibration = Calibration.load("right.json")   # written by `chirolink calibrate`
        calibration.apply(glove.latest())              # (0.0, 0.25, ..., 1.0): 7 floats
    """

    def __init__(self, low, high, hand=None):
        if hand not in (None, "left", "right"):
            raise ValueError("hand: expected 'left', 'right' or None, got %r" % (hand,))
        self._raw = RawCalibration()
        self._raw.low[:] = _seven(low, "low")
        self._raw.high[:] = _seven(high, "high")
        self._raw.hand = {None: 0, "left": 1, "right": 2}[hand]

    @classmethod
    def load(cls, path):
        """Reads a calibration file. Raises ChirolinkError naming the file and what is wrong in
        it ("right.json: line 7: finger2: "high" is 300, not 0..255"), with `code` ERR_FORMAT,
        ERR_MISSING (no such file), ERR_DENIED, ..."""
        library = _calls()
        raw = RawCalibration()
        message = ctypes.create_string_buffer(512)
        result = library.chirolink_calibration_load(
            os.fsencode(path), ctypes.byref(raw), message, len(message))
        if result != OK:
            raise ChirolinkError("%s: %s" % (os.fsdecode(path),
                                             message.value.decode("utf-8", "replace")),
                                 code=result)
        calibration = cls.__new__(cls)
        calibration._raw = raw
        return calibration

    def save(self, path):
        """Writes the file whole, or leaves the one there as it was. Raises ChirolinkError."""
        result = _calls().chirolink_calibration_save(os.fsencode(path), ctypes.byref(self._raw))
        if result != OK:
            text = "no such folder" if result == -2 else error_text(load_library(), result)
            raise ChirolinkError("%s: %s" % (os.fsdecode(path), text), code=result)

    @property
    def low(self):
        return tuple(self._raw.low)

    @property
    def high(self):
        return tuple(self._raw.high)

    @property
    def hand(self):
        """'left', 'right' or None."""
        return _HANDS.get(self._raw.hand)

    def apply(self, frame):
        """The seven values from 0 to 1 of a Frame (or of seven raw values 0..255), as a tuple
        of floats: (raw - low) / (high - low) in single precision, clamped to 0..1; 0.5 where
        low == high."""
        raw = RawFrame()
        raw.values[:] = _seven(getattr(frame, "values", frame), "values")
        out = (ctypes.c_float * 7)()
        _calls().chirolink_calibrate(ctypes.byref(self._raw), ctypes.byref(raw), out)
        return tuple(out)

    def __eq__(self, other):
        return isinstance(other, Calibration) and (self.low, self.high, self.hand) == (
            other.low, other.high, other.hand)

    def __repr__(self):
        return "Calibration(low=%r, high=%r, hand=%r)" % (self.low, self.high, self.hand)
