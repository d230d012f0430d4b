"""The Python programs the documentation shows, run exactly as they stand there.

Each is the ```python block after its marker: "two_gloves.py" in docs/python.md, "first.py" in
README.md. They run in a fresh interpreter with the built library loaded first: the two-glove
program against two emulated gloves (one goes away and comes back) and against a missing port,
the README's first program against one glove and a missing port, its port name
("/dev/ttyUSB0") being the only thing changed.
"""

import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

from emulated import Emulator

ROOT = pathlib.Path(__file__).resolve().parents[2]


def example(page, name):
    """The ```python block after the page's "<!-- name" marker, or None."""
    text = (ROOT / page).read_text()
    marker = "<!-- " + name
    if marker not in text:
        return None
    found = re.search(r"```python\n(.*?)```", text[text.index(marker):], re.S)
    return found.group(1) if found else None


def write(source, name, test):
    """Writes source as a script of that name in a scratch directory that ends with the test."""
    test.assertIsNotNone(source, "no %s example in the documentation" % name)
    directory = tempfile.TemporaryDirectory(prefix="chirolink-example-")
    test.addCleanup(directory.cleanup)
    program = os.path.join(directory.name, name)
    with open(program, "w") as file:
        file.write(source)
    return program


def run(program, *arguments):
    """Runs the example as a script, with the library under test loaded beforehand."""
    start = ("import chirolink, runpy, sys; chirolink.load_library(sys.argv[1]); "
             "sys.argv = sys.argv[2:]; runpy.run_path(sys.argv[0], run_name='__main__')")
    return subprocess.run(
        [sys.executable, "-c", start, os.environ["CHIROLINK_LIBRARY"], program, *arguments],
        capture_output=True, text=True, timeout=30)


class TwoGlovesExampleTest(unittest.TestCase):
    def setUp(self):
        self.program = write(example("docs/python.md", "two_gloves.py"), "two_gloves.py", self)

    def test_two_gloves_every_frame_in_order_gone_and_back(self):
        # The right glove goes away 2 s after its start: the interpreter's start-up on a busy
        # machine can take a second, and the program must have opened it by then.
        with Emulator((1, 2, 3, 4, 5, 6, 7)) as left, \
                Emulator((9, 8, 7, 6, 5, 4, 3), "--unplug-after", "2", "--replug-after", "1") \
                as right:
            done = run(self.program, left.path, right.path, "4")
        self.assertEqual(done.returncode, 0, done.stderr)
        for emulator in (left, right):
            rows = [line.split() for line in done.stdout.splitlines()
                    if line.startswith(emulator.path + " ")]
            self.assertGreater(len(rows), 300)
            self.assertEqual([int(row[1]) for row in rows], list(range(1, len(rows) + 1)))
            times = [float(row[2]) for row in rows]
            self.assertEqual(times, sorted(times))
            self.assertEqual({tuple(int(v) for v in row[3:]) for row in rows}, {emulator.values})
        self.assertEqual(done.stderr.splitlines(),
                         [right.path + " is gone", right.path + " is back"])

    def test_a_failed_open_prints_the_reason(self):
        with Emulator((1, 2, 3, 4, 5, 6, 7), instant=True) as left:
            missing = os.path.join(os.path.dirname(left.path), "nothing")
            done = run(self.program, left.path, missing, "1")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, missing + ": no such device\n")
        self.assertEqual(done.stdout, "")


class FirstExampleTest(unittest.TestCase):
    PORT = "/dev/ttyUSB0"

    def program_on(self, port):
        source = example("README.md", "first.py")
        self.assertIsNotNone(source, "no first.py example in README.md")
        self.assertIn(self.PORT, source)
        return write(source.replace(self.PORT, port), "first.py", self)

    def test_the_values_the_frame_and_its_checksum(self):
        with Emulator((1, 2, 3, 4, 5, 6, 7), instant=True) as glove:
            done = run(self.program_on(glove.path))
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.splitlines()
        self.assertEqual(lines[0], "(1, 2, 3, 4, 5, 6, 7)")
        self.assertRegex(lines[1], r"^01020304050607[0-9a-f]{2} True$")
        self.assertEqual(len(lines), 2)

    def test_a_missing_port_prints_the_error(self):
        with tempfile.TemporaryDirectory() as directory:
            missing = os.path.join(directory, "nothing")
            done = run(self.program_on(missing))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout, missing + ": no such device\n")


if __name__ == "__main__":
    unittest.main()
