"""The Python module against the real library and the glove emulator program.

Run by CTest with CHIROLINK_LIBRARY (the built libChirolink.so) and GLOVE_EMULATOR (the
emulator program) in the environment, and python/ on the module path.
"""

import os
import subprocess
import tempfile
import time
import unittest

import chirolink


class Emulator:
    """A glove-emulator process answering at once with fixed values, behind a link path."""

    def __init__(self, values, *options):
        self.dir = tempfile.TemporaryDirectory(prefix="chirolink-py-")
        self.path = os.path.join(self.dir.name, "glove")
        self.process = subprocess.Popen(
            [os.environ["GLOVE_EMULATOR"], "--link", self.path, "--instant", "--quiet",
             "--values", ",".join(str(v) for v in values), *options],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.process.stdout.readline()  # the device path: it is ready

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()
        self.dir.cleanup()


def eventually(condition, seconds=3.0):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.01)
    return True


class GloveTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        chirolink.load_library(os.environ["CHIROLINK_LIBRARY"])

    def test_values_frame_and_checksum_follow_the_glove(self):
        emulator = Emulator([10, 20, 30, 40, 50, 60, 70])
        try:
            with chirolink.Glove(emulator.path) as glove:
                self.assertTrue(eventually(lambda: glove.values() == (10, 20, 30, 40, 50, 60, 70)))
                frame = glove.frame()
                self.assertEqual(len(frame), 8)
                self.assertEqual(frame[7], 10 ^ 20 ^ 30 ^ 40 ^ 50 ^ 60 ^ 70)
                self.assertTrue(glove.checksum_ok())
        finally:
            emulator.close()

    def test_a_bad_checksum_is_reported(self):
        emulator = Emulator([1, 2, 3, 4, 5, 6, 7], "--bad-checksum-every", "1")
        try:
            with chirolink.Glove(emulator.path) as glove:
                self.assertTrue(eventually(lambda: glove.values() == (1, 2, 3, 4, 5, 6, 7)))
                self.assertFalse(glove.checksum_ok())
        finally:
            emulator.close()

    def test_no_glove_raises_with_the_port_in_the_message(self):
        with self.assertRaises(chirolink.ChirolinkError) as raised:
            chirolink.Glove("/dev/chirolink-missing")
        self.assertIn("/dev/chirolink-missing", str(raised.exception))

    def test_an_unloadable_library_raises(self):
        with self.assertRaises(chirolink.ChirolinkError):
            chirolink.load_library("/nonexistent/libChirolink.so.1")


if __name__ == "__main__":
    unittest.main()
