"""The Python module against the real library and the glove emulator program."""

import math
import multiprocessing
import os
import pathlib
import pickle
import signal
import threading
import time
import unittest

import chirolink
from emulated import Emulator, eventually

STEADY = (10, 20, 30, 40, 50, 60, 70)
OTHER = (11, 22, 33, 44, 55, 66, 77)


def xor(values):
    result = 0
    for value in values:
        result ^= value
    return result


class GloveTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        chirolink.load_library(os.environ["CHIROLINK_LIBRARY"])

    def test_values_frame_and_checksum_come_from_the_latest_frame(self):
        with Emulator(STEADY, instant=True) as good, \
                Emulator(OTHER, "--bad-checksum-every", "1", instant=True) as bad:
            with chirolink.Glove(pathlib.Path(good.path)) as glove, \
                    chirolink.Glove(bad.path) as corrupt:
                self.assertEqual(glove.port, good.path)
                self.assertEqual(glove.values(), STEADY)
                self.assertEqual(glove.frame(), bytes(STEADY + (xor(STEADY),)))
                self.assertTrue(glove.checksum_ok())
                self.assertEqual(corrupt.values(), OTHER)
                self.assertFalse(corrupt.checksum_ok())
                self.assertFalse(corrupt.latest().checksum_ok)
                self.assertGreater(corrupt.status().bad_checksums, 0)

    def test_two_gloves_at_once_give_every_frame_in_order_with_its_time(self):
        count = 150
        frames = {}

        def read(glove):
            frames[glove.port] = [f for f, _ in zip(glove.frames(timeout=2), range(count))]

        with Emulator(STEADY) as steady, Emulator(OTHER) as other:
            opened = time.monotonic()
            with chirolink.Glove(steady.path) as left, chirolink.Glove(other.path) as right:
                readers = [threading.Thread(target=read, args=(g,)) for g in (left, right)]
                for reader in readers:
                    reader.start()
                for reader in readers:
                    reader.join()
            for emulator in (steady, other):
                got = frames[emulator.path]
                self.assertEqual([f.sequence for f in got], list(range(1, count + 1)))
                self.assertEqual({f.values for f in got}, {emulator.values})
                self.assertTrue(all(f.checksum_ok for f in got))
                times = [f.monotonic for f in got]
                self.assertEqual(times, sorted(times))
                self.assertGreater(times[0], opened)
                self.assertLess(times[-1], time.monotonic())
                self.assertLess(abs(got[-1].wall - time.time()), 60)
            # At line timing 150 frames take about 0.8 s: the two ran side by side.
            left_times = [f.monotonic for f in frames[steady.path]]
            right_times = [f.monotonic for f in frames[other.path]]
            self.assertLess(max(left_times[0], right_times[0]), min(left_times[-1], right_times[-1]))

    def test_a_failed_open_says_why(self):
        with Emulator(STEADY, instant=True) as held, Emulator(STEADY, "--silent") as silent:
            with chirolink.Glove(held.path):
                cases = [
                    ("/dev/chirolink-missing", chirolink.ERR_MISSING, "no such device"),
                    ("/dev/null", chirolink.ERR_NOT_SERIAL, "not a serial port"),
                    (held.path, chirolink.ERR_BUSY, "busy"),
                    (silent.path, chirolink.ERR_NO_GLOVE, "no glove answered"),
                    (pathlib.Path("/dev/chirolink-missing"), chirolink.ERR_MISSING, "no such"),
                ]
                for port, code, reason in cases:
                    with self.subTest(port=port), self.assertRaises(chirolink.ChirolinkError) as e:
                        chirolink.Glove(port)
                    self.assertEqual((e.exception.port, e.exception.code), (str(port), code))
                    self.assertIn(reason, e.exception.reason)
                    self.assertEqual(str(e.exception), "%s: %s" % (port, e.exception.reason))
                    copy = pickle.loads(pickle.dumps(e.exception))
                    self.assertEqual((copy.port, copy.reason, copy.code),
                                     (e.exception.port, e.exception.reason, e.exception.code))
            with chirolink.Glove(held.path) as again:  # closed: the port is free at once
                self.assertEqual(again.values(), STEADY)
            chirolink.Glove(held.path)  # dropped unclosed: closed by the garbage collector
            with chirolink.Glove(held.path) as again:
                self.assertEqual(again.values(), STEADY)

    def test_waits_end_when_their_time_out_passes(self):
        with Emulator(STEADY, "--stop-after", "30", instant=True) as emulator, \
                chirolink.Glove(emulator.path) as glove:
            # Infinity waits for ever; NaN is refused at the call.
            self.assertEqual(glove.next_frame(timeout=math.inf).sequence, 1)
            self.assertEqual(next(glove.frames(timeout=math.inf)).sequence, 2)
            for wait in (glove.next_frame, glove.frames):
                with self.assertRaisesRegex(ValueError, "not nan"):
                    wait(timeout=math.nan)
            self.assertEqual([f.sequence for f in glove.frames(timeout=0.5)], list(range(3, 31)))
            for timeout in (0, 0.3):
                started = time.monotonic()
                self.assertIsNone(glove.next_frame(timeout=timeout))
                waited = time.monotonic() - started
                self.assertGreaterEqual(waited, timeout)
                self.assertLess(waited, timeout + 0.5)
            with self.assertRaises(ValueError):
                glove.next_frame(timeout=-1)

    def test_before_the_first_frame_nothing_is_shown_as_a_reading(self):
        # The glove answers the handshake and then drops every request.
        with Emulator(STEADY, "--drop-every", "1", instant=True) as emulator, \
                chirolink.Glove(emulator.path) as glove:
            self.assertIsNone(glove.latest())
            self.assertIsNone(glove.status().last_frame_age)
            started = time.monotonic()
            with self.assertRaises(chirolink.ChirolinkError) as raised:
                glove.values()
            self.assertEqual(raised.exception.code, chirolink.ERR_TIMEOUT)
            self.assertGreaterEqual(time.monotonic() - started, 0.9)

    def test_a_glove_gone_and_back_shows_in_status_and_its_frames_count_on(self):
        with Emulator(STEADY, "--unplug-after", "0.8", "--replug-after", "0.8") as emulator, \
                chirolink.Glove(emulator.path) as glove:
            states = []
            frames = []
            reader = threading.Thread(target=lambda: frames.extend(glove.frames(timeout=3)))
            reader.start()

            def back():
                state = glove.status().state
                if not states or states[-1] != state:
                    states.append(state)
                return states[-2:] == ["reopening", "running"]

            self.assertTrue(eventually(back, 6), states)
            status = glove.status()
            self.assertEqual(status.reopens, 1)
            self.assertTrue(eventually(lambda: glove.status().frames > status.frames))
            glove.close()
            reader.join()
            self.assertEqual([f.sequence for f in frames], list(range(1, len(frames) + 1)))
            self.assertGreater(frames[-1].monotonic - frames[0].monotonic, 0.8)

    def test_close_from_another_thread_ends_blocked_waits(self):
        with Emulator(STEADY, "--drop-every", "1", instant=True) as emulator:
            glove = chirolink.Glove(emulator.path)
            results = {}
            waiters = [
                threading.Thread(target=lambda: results.update(next=glove.next_frame())),
                threading.Thread(target=lambda: results.update(frames=list(glove.frames()))),
            ]
            for waiter in waiters:
                waiter.start()
            time.sleep(0.3)
            started = time.monotonic()
            glove.close()
            for waiter in waiters:
                waiter.join(timeout=5)
            self.assertLess(time.monotonic() - started, 1.0)
            self.assertEqual(results, {"next": None, "frames": []})
            with self.assertRaises(chirolink.ChirolinkError) as raised:
                glove.next_frame(timeout=0)
            self.assertIn("closed", raised.exception.reason)

    def test_close_from_a_signal_handler_ends_the_wait_it_interrupted(self):
        with Emulator(STEADY, "--drop-every", "1", instant=True) as emulator:
            glove = chirolink.Glove(emulator.path)
            previous = signal.signal(signal.SIGALRM, lambda *_: glove.close())
            try:
                signal.setitimer(signal.ITIMER_REAL, 0.2)
                started = time.monotonic()
                self.assertIsNone(glove.next_frame(timeout=5))
                self.assertLess(time.monotonic() - started, 1.0)
            finally:
                signal.setitimer(signal.ITIMER_REAL, 0)
                signal.signal(signal.SIGALRM, previous)
            with chirolink.Glove(emulator.path):  # the port was let go
                pass

    def test_ctrl_c_in_an_open_or_a_read_leaks_no_link_and_loses_no_frame(self):
        previous = signal.signal(signal.SIGALRM, signal.default_int_handler)  # as Ctrl+C
        got = []
        try:
            # The first hello goes unanswered: the open is in the library for over 0.2 s.
            with Emulator(STEADY, "--answer-hello-from", "2") as emulator:
                signal.setitimer(signal.ITIMER_REAL, 0.1)
                with self.assertRaises(KeyboardInterrupt):
                    chirolink.Glove(emulator.path)
                with chirolink.Glove(emulator.path) as glove:
                    # At line timing a reader waits in the library nearly all the time.
                    signal.setitimer(signal.ITIMER_REAL, 0.3)
                    with self.assertRaises(KeyboardInterrupt):
                        for frame in glove.frames(timeout=2):
                            got.append(frame.sequence)
                    got.extend(f.sequence for f, _ in zip(glove.frames(timeout=2), range(5)))
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, previous)
        self.assertEqual(got, list(range(1, len(got) + 1)))

    def test_a_forked_child_sees_frozen_values_and_opens_its_own_glove(self):
        with Emulator(STEADY) as emulator:
            glove = chirolink.Glove(emulator.path)
            glove.values()  # the first frame is in
            reader = threading.Thread(target=lambda: sum(1 for _ in glove.frames()))
            reader.start()  # inside next_frame nearly all the time, also at the fork
            child_end, parent_end = multiprocessing.Pipe()
            released = multiprocessing.get_context("fork").Event()

            def child():
                before = glove.latest()
                time.sleep(0.3)
                frozen = (glove.latest() == before and glove.next_frame(timeout=0.1) is None
                          and glove.status().state == "stopped")
                glove.close()  # must not wait for the parent's reader
                try:
                    chirolink.Glove(emulator.path)
                    busy = None
                except chirolink.ChirolinkError as error:
                    busy = error.code
                released.wait(10)
                with chirolink.Glove(emulator.path) as own:
                    child_end.send((frozen, busy, own.next_frame(timeout=2) is not None))

            process = multiprocessing.get_context("fork").Process(target=child)
            process.start()
            time.sleep(0.8)
            glove.close()
            reader.join()
            released.set()
            got = parent_end.recv() if parent_end.poll(10) else None
            process.join(timeout=10)
            if process.is_alive():
                process.kill()
            self.assertEqual(got, (True, chirolink.ERR_BUSY, True))

    def test_the_version_is_the_librarys(self):
        self.assertEqual(chirolink.__version__, os.environ["CHIROLINK_VERSION"])

    def test_a_library_loads_from_a_path_for_all_gloves_or_for_one(self):
        with self.assertRaises(chirolink.ChirolinkError):
            chirolink.load_library("/nonexistent/libChirolink.so.1")
        default = chirolink.load_library()
        with Emulator(STEADY, instant=True) as emulator, \
                chirolink.Glove(emulator.path, library=os.environ["CHIROLINK_LIBRARY"]) as glove:
            self.assertEqual(glove.values(), STEADY)
        self.assertIs(chirolink.load_library(), default)


if __name__ == "__main__":
    unittest.main()
