"""The picture of a recording, python3 -m chirolink.plot, on recordings written here.

Run by CTest with python/ on the module path; needs matplotlib (python3-matplotlib).
"""

import math
import os
import re
import subprocess
import sys
import tempfile
import unittest

from matplotlib.figure import Figure
import matplotlib.image

from chirolink import plot

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HEADER = ("glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,"
          "pitch,checksum,checksum_ok\n")


def row(glove, sequence, time, values, ok=True):
    checksum = 0
    for value in values:
        checksum ^= value
    if not ok:
        checksum ^= 0xFF
    return "%s,%d,%.6f,2026-01-01T00:00:00.000000Z,%s,%d,%d\n" % (
        glove, sequence, time, ",".join(str(v) for v in values), checksum, 1 if ok else 0)


def recording():
    """Two gloves for 2 s at 200 frames a second. "left" (a name with a comma, as the recorder
    quotes it) has no frames from 1.0 s to 1.3 s, and its frame 50 has a bad checksum."""
    rows = [HEADER]
    sequence = {"\"left,1\"": 0, "right": 0}
    for i in range(400):
        time = 1000.0 + i * 0.005
        for glove in sequence:
            if glove.startswith("\"left") and 1.0 <= i * 0.005 < 1.3:
                continue
            sequence[glove] += 1
            values = [(i + 30 * k) % 256 for k in range(7)]
            bad = glove != "right" and sequence[glove] == 50
            rows.append(row(glove, sequence[glove], time, values, ok=not bad))
    return "".join(rows)


def run_plot(*args, env=None):
    return subprocess.run([sys.executable, "-m", "chirolink.plot", *args], capture_output=True,
                          text=True, timeout=60, env=env)


class PlotTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="chirolink-plot-")
        self.csv = os.path.join(self.dir.name, "session.csv")
        with open(self.csv, "w") as file:
            file.write(recording())

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, text):
        path = os.path.join(self.dir.name, name)
        with open(path, "w") as file:
            file.write(text)
        return path

    def test_panels_leave_gaps_open_and_mark_bad_frames(self):
        gloves = plot.read_recording(self.csv)
        self.assertEqual(list(gloves), ["left,1", "right"])
        figure = plot.draw(Figure(), list(gloves.values()))
        left, right = figure.axes
        self.assertEqual(left.get_title(loc="left"),
                         "left,1: 2.0 s, 340 frames, 169.9 frames/s")
        self.assertEqual([line.get_label() for line in left.lines],
                         [name for name, _ in plot.TRACES] + ["bad checksum (1)"])
        for line, (name, colour) in zip(left.lines, plot.TRACES):
            self.assertEqual(line.get_color(), colour, name)
            xs = list(line.get_xdata())
            gaps = [i for i, x in enumerate(xs) if math.isnan(x)]
            # One break, between the frame at 0.995 s and the one at 1.3 s.
            self.assertEqual(len(gaps), 1, name)
            self.assertAlmostEqual(xs[gaps[0] - 1], 0.995, places=6)
            self.assertAlmostEqual(xs[gaps[0] + 1], 1.3, places=6)
        bad = left.lines[-1]
        self.assertEqual(len(bad.get_xdata()), 1)
        self.assertAlmostEqual(bad.get_xdata()[0], 0.245, places=6)
        # The other glove: no gap, no bad frame, its values as recorded.
        self.assertEqual(len(right.lines), 7)
        self.assertFalse(any(math.isnan(x) for x in right.lines[0].get_xdata()))
        self.assertEqual(list(right.lines[1].get_ydata()[:3]), [30, 31, 32])

    def test_writes_a_png_in_the_live_plots_colours(self):
        out = os.path.join(self.dir.name, "session.png")
        result = run_plot(self.csv, "-o", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        image = matplotlib.image.imread(out)
        pixels = {tuple(round(c * 255) for c in pixel[:3]) for pixel in image.reshape(-1, 4)}
        for name, colour in plot.TRACES:
            rgb = tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))
            self.assertIn(rgb, pixels, name)
        # One glove only: one panel, so a shorter picture of the same width.
        one = os.path.join(self.dir.name, "right.png")
        self.assertEqual(run_plot(self.csv, "-o", one, "--glove", "right").returncode, 0)
        single = matplotlib.image.imread(one)
        self.assertEqual(single.shape[1], image.shape[1])
        self.assertLess(single.shape[0], image.shape[0] * 0.7)

    def test_a_bad_file_gets_one_line_naming_the_line_and_status_1(self):
        good = recording().splitlines(keepends=True)
        cases = {
            "header": ("glove,time\n" + "".join(good[1:]), "line 1: not a chirolink recording"),
            "fields": ("".join(good[:3]) + "right,3,1000.01,x,1,2,3\n",
                       "line 4: expected 13 fields, got 7"),
            "value": ("".join(good[:2]) + good[2].replace(",30,", ",256,", 1),
                      "line 3: finger2: expected a whole number up to 255, got '256'"),
            "backwards": ("".join(good[:5]) + row("right", 9, 999.0, [0] * 7),
                          "line 6: monotonic_s goes backwards for glove 'right'"),
            "empty": ("", "empty file"),
            # More digits than Python converts to an int.
            "digits": ("".join(good[:2]) + good[2].replace(",1,", ",%s," % ("9" * 5000), 1),
                       "line 3: sequence: expected a whole number up to %d, got '%s...'"
                       % (2**64 - 1, "9" * 37)),
        }
        for name, (text, message) in cases.items():
            with self.subTest(name):
                path = self.write(name + ".csv", text)
                out = os.path.join(self.dir.name, name + ".png")
                result = run_plot(path, "-o", out)
                self.assertEqual(result.returncode, 1)
                self.assertTrue(result.stderr.startswith("chirolink.plot: %s: %s" % (path, message)),
                                result.stderr)
                self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
                self.assertFalse(os.path.exists(out))

    def test_reads_recordings_without_matplotlib_and_says_what_drawing_needs(self):
        # matplotlib made unimportable for this process only.
        code = ("import sys; sys.modules['matplotlib'] = None; "
                "import chirolink, chirolink.plot as p; "
                "print(len(p.read_recording(sys.argv[1])['right'].times)); "
                "sys.exit(p.main([sys.argv[1], '-o', sys.argv[2]]))")
        out = os.path.join(self.dir.name, "none.png")
        result = subprocess.run([sys.executable, "-c", code, self.csv, out], capture_output=True,
                                text=True, timeout=60)
        self.assertEqual(result.stdout, "400\n")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "chirolink.plot: drawing needs matplotlib "
                                        "(Debian package python3-matplotlib)\n")

    def test_colours_are_the_live_plots(self):
        with open(os.path.join(ROOT, "demo", "plot_traces.h")) as header:
            live = re.findall(r'\{"([^"]+)",\s*0x([0-9A-Fa-f]{6})\}', header.read())
        self.assertEqual([(name, "#" + rgb.lower()) for name, rgb in live], list(plot.TRACES))


if __name__ == "__main__":
    unittest.main()
