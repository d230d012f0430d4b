"""chirolink.Calibration over the library's calibration calls, and chirolink.plot --calibration.

Run by CTest with python/ on the module path, CHIROLINK_LIBRARY and GLOVE_EMULATOR set.
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

import chirolink
from chirolink import plot
from emulated import Emulator

# The example every program that writes the file is to follow, byte for byte (the C++ tests
# read the same file).
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib",
                       "calibration-example.json"), encoding="utf-8") as _example:
    EXAMPLE = _example.read()


def single(x):
    """`x` in single precision, as C computes the mapping."""
    return struct.unpack("f", struct.pack("f", x))[0]


class CalibrationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        chirolink.load_library(os.environ["CHIROLINK_LIBRARY"])

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="chirolink-calibration-")
        self.path = os.path.join(self.dir.name, "right.json")
        with open(self.path, "w") as file:
            file.write(EXAMPLE)

    def tearDown(self):
        self.dir.cleanup()

    def test_loads_saves_and_applies_as_the_library_does(self):
        calibration = chirolink.Calibration.load(self.path)
        self.assertEqual(calibration.low, (41, 212, 38, 44, 50, 20, 31))
        self.assertEqual(calibration.high, (190, 35, 201, 187, 176, 235, 222))
        self.assertEqual(calibration.hand, "right")
        values = calibration.apply((115, 35, 0, 255, 113, 20, 31))
        self.assertEqual(values, (single(74 / 149), 1.0, 0.0, 1.0, 0.5, 0.0, 0.0))
        self.assertTrue(all(type(v) is float for v in values))

        copy = os.path.join(self.dir.name, "copy.json")
        calibration.save(copy)
        with open(copy) as file:
            self.assertEqual(file.read(), EXAMPLE)
        left = chirolink.Calibration((0,) * 7, (255,) * 7, hand="left")
        left.save(copy)
        self.assertEqual(chirolink.Calibration.load(copy), left)
        self.assertEqual(chirolink.Calibration.load(copy).hand, "left")

        # A frame of a glove, as Glove gives it.
        with Emulator((41, 212, 120, 187, 50, 235, 222), instant=True) as emulated:
            with chirolink.Glove(emulated.path) as glove:
                frame = glove.next_frame(timeout=5)
                self.assertEqual(calibration.apply(frame),
                                 (0.0, 0.0, single(82 / 163), 1.0, 0.0, 1.0, 1.0))

    def test_a_file_that_cannot_be_read_raises_with_its_line(self):
        with open(self.path, "w") as file:
            file.write(EXAMPLE.replace('"high": 35}', '"high": 300}'))
        with self.assertRaises(chirolink.ChirolinkError) as raised:
            chirolink.Calibration.load(self.path)
        self.assertEqual(raised.exception.code, chirolink.ERR_FORMAT)
        self.assertEqual(str(raised.exception),
                         self.path + ': line 7: finger2: "high" is 300, not 0..255')
        with self.assertRaises(chirolink.ChirolinkError) as raised:
            chirolink.Calibration.load(os.path.join(self.dir.name, "none.json"))
        self.assertEqual(raised.exception.code, chirolink.ERR_MISSING)
        with self.assertRaises(chirolink.ChirolinkError) as raised:
            chirolink.Calibration((0,) * 7, (1,) * 7).save(os.path.join(self.dir.name, "no", "x"))
        self.assertEqual(raised.exception.code, chirolink.ERR_MISSING)
        with self.assertRaises(ValueError):
            chirolink.Calibration((0,) * 7, (256,) * 7)

    def test_plot_draws_the_calibrated_values(self):
        csv = os.path.join(self.dir.name, "rec.csv")
        with open(csv, "w") as file:
            file.write(",".join(plot.HEADER) + "\n")
            for n in range(1, 46):
                values = [(41 + 5 * n) % 256] + [212 - 4 * n] + [38 + 4 * n] * 5
                checksum = 0
                for v in values:
                    checksum ^= v
                file.write("g,%d,%.6f,2026-01-01T00:00:00.000000Z,%s,%d,1\n" % (
                    n, 10 + n * 0.01, ",".join(map(str, values)), checksum))
        from matplotlib.figure import Figure
        figure = plot.draw(Figure(), list(plot.read_recording(csv).values()),
                           chirolink.Calibration.load(self.path))
        lines = figure.axes[0].get_lines()
        for line in lines[:7]:
            self.assertTrue(all(0 <= y <= 1 for y in line.get_ydata()), line.get_label())
        self.assertEqual(lines[1].get_ydata()[-1], 1.0)  # finger2 falls as it bends
        # The program finds the library by the usual search, as where it is installed.
        env = dict(os.environ, MPLBACKEND="Agg",
                   LD_LIBRARY_PATH=os.path.dirname(os.environ["CHIROLINK_LIBRARY"]))
        png = os.path.join(self.dir.name, "rec.png")
        done = subprocess.run([sys.executable, "-m", "chirolink.plot", csv, "-o", png,
                               "--calibration", self.path], capture_output=True, text=True,
                              timeout=60, env=env)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(os.path.getsize(png) > 1000)
        done = subprocess.run([sys.executable, "-m", "chirolink.plot", csv, "-o", png,
                               "--calibration", csv], capture_output=True, text=True,
                              timeout=60, env=env)
        self.assertEqual(done.returncode, 1)
        self.assertTrue(done.stderr.startswith("chirolink.plot: %s: line 1: not JSON" % csv),
                        done.stderr)


if __name__ == "__main__":
    unittest.main()
