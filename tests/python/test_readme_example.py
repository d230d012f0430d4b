"""The two-glove Python example, run exactly as the documentation shows it.

The example is the ```python block after the "two_gloves.py" marker in README.md. It runs in a fresh interpreter with the built
library loaded first, against two emulated gloves (one goes away and comes back) and against a
missing port.
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
MARKER = "<!-- two_gloves.py"


def example():
    text = (ROOT / "README.md").read_text()
    if MARKER not in text:
        return None
    found = re.search(r"```python\n(.*?)```", text[text.index(MARKER):], re.S)
    return found.group(1) if found else None


def run(program, *arguments):
    """Runs the example as a script, with the library under test loaded beforehand."""
    start = ("import chirolink, runpy, sys; chirolink.load_library(sys.argv[1]); "
             "sys.argv = sys.argv[2:]; runpy.run_path(sys.argv[0], run_name='__main__')")
    return subprocess.run(
        [sys.executable, "-c", start, os.environ["CHIROLINK_LIBRARY"], program, *arguments],
        capture_output=True, text=True, timeout=30)


class ReadmeExampleTest(unittest.TestCase):
    def setUp(self):
        source = example()
        self.assertIsNotNone(source, "no two_gloves.py example in README.md")
        directory = tempfile.TemporaryDirectory(prefix="chirolink-example-")
        self.addCleanup(directory.cleanup)
        self.program = os.path.join(directory.name, "two_gloves.py")
        with open(self.program, "w") as file:
            file.write(source)

    def test_two_gloves_every_frame_in_order_gone_and_back(self):
        with Emulator((1, 2, 3, 4, 5, 6, 7)) as left, \
                Emulator((9, 8, 7, 6, 5, 4, 3), "--unplug-after", "1", "--replug-after", "1") \
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


if __name__ == "__main__":
    unittest.main()
