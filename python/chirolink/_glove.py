"""Glove: one glove on one port, a link of its own, over the glove API.

Threads: a Glove has no thread of its own (the library polls the glove on its own thread).
Its methods run on whichever threads call them, any number at once. One condition, `_lock`,
guards the C handle, the closing flag and the list of threads inside a call. The C handle may
be closed only while no thread is inside a call on it, so close() marks the glove closing and
waits for those calls to leave; a waiting call waits in short slices and leaves at the end of
the slice in which the glove began to close. Whichever thread leaves last, or close() itself
when none is inside, closes the handle.
"""

import collections
import contextlib
import ctypes
import math
import os
import threading
import time
import weakref

from . import _library
from ._library import ChirolinkError

# Longest single wait inside the library: how long close() may wait for a blocked reader, and
# how soon a waiting main thread sees Ctrl+C.
_SLICE_MS = 50
# How long values(), frame() and checksum_ok() wait for a glove's first frame.
_FIRST_FRAME_WAIT_S = 1.0

Frame = collections.namedtuple(
    "Frame", ["values", "checksum", "checksum_ok", "sequence", "monotonic", "wall"])
Frame.__doc__ = """One frame as the glove sent it, stamped when its last byte was read.

values: (finger1, ..., finger5, roll, pitch), raw 0..255; checksum: the byte as received;
checksum_ok: whether it matches the values; sequence: 1 for the link's first frame, then +1
per frame (a gap means frames were missed); monotonic: seconds on the monotonic clock, the
same as time.monotonic() on Linux; wall: seconds since 1970-01-01 UTC, as time.time()."""

Status = collections.namedtuple(
    "Status",
    ["state", "frames", "bad_checksums", "lost_replies", "reopens", "missed", "last_frame_age"])
Status.__doc__ = """What a glove's link is doing and what it has counted since it was opened.

state: "running", "reopening" (the port went away; the link tries to open it again) or
"stopped"; frames: frames received; bad_checksums: of those, frames whose checksum did not
match; lost_replies: requests that got no whole frame in time; reopens: times the port went
away and came back; missed: frames dropped because this Glove's reader fell more than 4096
frames behind; last_frame_age: seconds since the latest frame, None before the first."""

# Every open Glove, and what a forked child is to see of each: its latest frame and status,
# taken just before the fork. A child may not call the library on its parent's handles: the
# library's threads and the parent's threads inside calls do not exist in the child, and what
# they held there may stay held (a lock, a condition variable that a vanished thread waited
# on).
_open_gloves = weakref.WeakSet()
_fork_snapshots = {}


def _snapshot_before_fork():
    for glove in list(_open_gloves):
        try:
            _fork_snapshots[id(glove)] = (glove.latest(), glove.status())
        except ChirolinkError:  # closed meanwhile
            pass


def _inherit_after_fork():
    for glove in list(_open_gloves):
        glove._after_fork_in_child(_fork_snapshots.get(id(glove)))
    _fork_snapshots.clear()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(before=_snapshot_before_fork, after_in_parent=_fork_snapshots.clear,
                        after_in_child=_inherit_after_fork)


def _frame(raw):
    return Frame(tuple(raw.values), raw.checksum, bool(raw.checksum_ok), raw.sequence,
                 raw.monotonic_s, raw.wall_s)


def _deadline(timeout):
    if timeout is None or timeout == math.inf:
        return None
    if not timeout >= 0:  # NaN included
        raise ValueError("timeout must be None or at least 0, not %r" % (timeout,))
    return time.monotonic() + timeout


class Glove:
    """The glove on `port` ("COM1", "/dev/ttyUSB0", ... a str or os.PathLike), with a link of
    its own: any number of Gloves may be open at once, one per port.

    Raises ChirolinkError when the port cannot be opened or no glove answers there, with the
    reason and the library's code. `library`: a path to load libChirolink from for this
    glove only, instead of the one load_library() found.
    """

    def __init__(self, port, library=None):
        self._handle = None
        self._lock = threading.Condition()
        self._closing = False
        self._callers = []  # thread idents, one entry per call in progress
        self._inherited = None  # in a forked child: (latest frame, status) at the fork
        self._slots = threading.local()  # per thread: see _wait_for_frame()
        self._lib = _library.load_library() if library is None else _library.load(library)
        self.port = os.fsdecode(port)
        name = os.fsencode(port)
        if b"\0" in name:
            raise ValueError("port name with a NUL character: %r" % (self.port,))
        handle = ctypes.c_void_p()
        try:
            result = self._lib.chirolink_open(name, ctypes.byref(handle))
            if result != _library.OK:
                raise self._error(result)
            self._handle = handle.value
            _open_gloves.add(self)
        except BaseException:
            # Ctrl+C comes as the call returns: the link is open, but no caller will ever
            # have this Glove to close it. Marked closed first, so that __del__ does not close
            # it again.
            if handle.value is not None:
                self._closing = True
                self._handle = None
                self._lib.chirolink_close(handle)
                _open_gloves.discard(self)
            raise

    def latest(self):
        """The newest frame, whole, or None before the first frame. Takes nothing from the
        queue that next_frame() and frames() read."""
        raw = _library.RawFrame()
        with self._call() as handle:
            if self._inherited is not None:
                return self._inherited[0]
            result = self._lib.chirolink_latest_frame(handle, ctypes.byref(raw))
        if result == _library.ERR_TIMEOUT:
            return None
        if result != _library.OK:
            raise self._error(result)
        return _frame(raw)

    def next_frame(self, timeout=None):
        """The oldest frame not taken yet: every frame, in order. Waits up to `timeout`
        seconds (None or math.inf: until one comes; 0: not at all) and gives None when none
        came, or when the glove was closed meanwhile."""
        slot = self._wait_for_frame(_deadline(timeout))
        if slot is None:
            return None
        frame = _frame(slot)
        slot.sequence = 0  # handed out: nothing can interrupt between this and the return
        return frame

    def frames(self, timeout=None):
        """Every frame in order, as an iterator. It ends when `timeout` seconds pass without a
        frame (None: never) or when the glove is closed, from any thread."""
        _deadline(timeout)
        self._check_open()
        return self._frames(timeout)

    def _frames(self, timeout):
        while True:
            try:
                slot = self._wait_for_frame(_deadline(timeout))
            except ChirolinkError:
                if self._closing:  # closed between two frames
                    return
                raise
            if slot is None:
                return
            frame = _frame(slot)
            slot.sequence = 0  # as in next_frame(): handed out with the yield
            yield frame

    def _wait_for_frame(self, deadline):
        """This thread's slot, holding the oldest frame not handed out yet; None when none
        came by `deadline` or the glove was closed meanwhile.

        The library writes each frame it takes from the queue into the slot, which keeps it
        until the caller clears the sequence number as it hands the frame out. Ctrl+C (or any
        exception from a signal handler) comes as a call returns, so it may end a read
        between the two: the frame then waits in the slot for this thread's next read.
        """
        slot = getattr(self._slots, "frame", None)
        if slot is None:
            slot = self._slots.frame = _library.RawFrame()
        with self._call() as handle:
            while not slot.sequence:  # sequence numbers start at 1
                if deadline is None:
                    wait_ms = _SLICE_MS
                else:
                    left_ms = math.ceil((deadline - time.monotonic()) * 1000)
                    wait_ms = max(0, min(_SLICE_MS, left_ms))
                if self._inherited is not None:  # no frame comes
                    time.sleep(wait_ms / 1000)
                    result = _library.ERR_TIMEOUT
                else:
                    result = self._lib.chirolink_next_frame(handle, ctypes.byref(slot), wait_ms)
                if result == _library.OK:
                    continue  # in the slot, unless a signal handler on this thread read it
                if result != _library.ERR_TIMEOUT:
                    raise self._error(result)
                if self._closing or (deadline is not None and time.monotonic() >= deadline):
                    return None
        return slot

    def values(self):
        """The seven values of the latest frame: five fingers, roll, pitch."""
        return self._first_or_latest().values

    def frame(self):
        """The 8 bytes of the latest frame: seven values, then their checksum."""
        frame = self._first_or_latest()
        return bytes(frame.values + (frame.checksum,))

    def checksum_ok(self):
        """Whether the latest frame's checksum matches its seven values."""
        return self._first_or_latest().checksum_ok

    def status(self):
        """The link's state and counters, as a Status."""
        raw = _library.RawStatus()
        with self._call() as handle:
            if self._inherited is not None:
                return self._inherited[1]._replace(state="stopped")
            result = self._lib.chirolink_get_status(handle, ctypes.byref(raw))
        if result != _library.OK:
            raise self._error(result)
        return Status(_library.STATES.get(raw.state, "unknown"), raw.frames, raw.bad_checksums,
                      raw.lost_replies, raw.reopens, raw.missed,
                      None if raw.last_frame_age_s < 0 else raw.last_frame_age_s)

    def close(self):
        """Stops the link and lets go of the port; the port may be opened again at once.
        Calls that wait on other threads end within 50 ms (next_frame() gives None, frames()
        ends); later calls raise ChirolinkError. Closing twice does nothing."""
        with self._lock:
            self._closing = True
            if threading.get_ident() in self._callers:
                # A signal handler on a thread that is inside a call: that call closes the
                # handle as it leaves, within one slice.
                return
            while self._callers:
                self._lock.wait()
            self._release()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:  # at interpreter exit the modules it needs may be gone already
            pass

    def __repr__(self):
        return "<chirolink.Glove %r%s>" % (self.port, " closed" if self._closing else "")

    def _first_or_latest(self):
        deadline = time.monotonic() + _FIRST_FRAME_WAIT_S
        while True:
            frame = self.latest()
            if frame is not None:
                return frame
            if time.monotonic() >= deadline:
                raise self._error(_library.ERR_TIMEOUT)
            time.sleep(0.005)

    @contextlib.contextmanager
    def _call(self):
        me = threading.get_ident()
        with self._lock:
            self._check_open()
            self._callers.append(me)
            handle = self._handle
        try:
            yield handle
        finally:
            with self._lock:
                self._callers.remove(me)
                if self._closing and not self._callers:
                    self._release()
                    self._lock.notify_all()

    def _check_open(self):
        if self._closing or self._handle is None:
            raise ChirolinkError("the glove is closed", self.port)

    def _release(self):  # with _lock held and no thread inside a call
        if self._handle is not None:
            handle, self._handle = self._handle, None
            _open_gloves.discard(self)
            if self._inherited is None:  # a parent's handle is the parent's to close
                self._lib.chirolink_close(handle)

    def _after_fork_in_child(self, snapshot):
        # The parent's threads do not exist here: their calls will never leave.
        self._lock = threading.Condition()
        self._callers = []
        self._slots = threading.local()  # a frame the parent had taken is the parent's
        self._inherited = snapshot
        if snapshot is None:  # opened or closed while the fork was under way
            self._closing = True
            self._handle = None

    def _error(self, code):
        return ChirolinkError(_library.error_text(self._lib, code), self.port, code)
