"""Emulated gloves for the Python tests: glove-emulator processes behind link paths.

Run by CTest with CHIROLINK_LIBRARY (the built libChirolink.so) and GLOVE_EMULATOR (the
emulator program) in the environment, and python/ on the module path.
"""

import os
import subprocess
import tempfile
import time


class Emulator:
    """A glove-emulator process sending fixed values, at line timing unless `instant`."""

    def __init__(self, values, *options, instant=False):
        self.dir = tempfile.TemporaryDirectory(prefix="chirolink-py-")
        self.path = os.path.join(self.dir.name, "glove")
        self.values = tuple(values)
        self.process = subprocess.Popen(
            [os.environ["GLOVE_EMULATOR"], "--link", self.path, "--quiet",
             "--values", ",".join(str(v) for v in values), *options]
            + (["--instant"] if instant else []),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.process.stdout.readline()  # the device path: it is ready

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()
        self.dir.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def eventually(condition, seconds=3.0):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.01)
    return True
