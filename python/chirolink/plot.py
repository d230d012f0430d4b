"""Draws a recording made by `chirolink record` as a picture.

    python3 -m chirolink.plot REC.csv [-o OUT.png] [--glove NAME] [--calibration FILE.json]

One panel per glove: the seven traces (Finger 1 to 5, Roll, Pitch) against the seconds from the
recording's start, in the colours of Chiroscope's live plot. Frames further apart than 50 ms
are not joined by a line; frames with a bad checksum are marked under the traces. Without -o
the picture opens in a window.

Reading a recording needs only the standard library; drawing needs matplotlib (Debian package
python3-matplotlib), which is imported only when a picture is drawn. This module uses nothing
from the rest of the chirolink package, except with --calibration: the traces are then drawn
from 0 to 1 as chirolink.Calibration (the library's calibration calls) makes them.
"""

import argparse
import csv
import math
import sys

__all__ = ["GloveFrames", "RecordingError", "TRACES", "GAP_S", "read_recording", "draw", "main"]

HEADER = ["glove", "sequence", "monotonic_s", "wall_time", "finger1", "finger2", "finger3",
          "finger4", "finger5", "roll", "pitch", "checksum", "checksum_ok"]
_VALUE_FIELDS = range(4, 12)  # finger1 .. pitch, then the checksum byte

# Name and colour of each trace, in sample order: the same as the live plot's
# (demo/plot_traces.h; tests/python/test_plot.py checks that they agree).
TRACES = (
    ("Finger 1", "#1f77b4"),
    ("Finger 2", "#ff7f0e"),
    ("Finger 3", "#2ca02c"),
    ("Finger 4", "#d62728"),
    ("Finger 5", "#9467bd"),
    ("Roll", "#8c564b"),
    ("Pitch", "#bcbd22"),
)

GAP_S = 0.05  # frames further apart than this are not joined
_PANEL_HEIGHT_IN = 2.8
_BAD_MARK_Y = -8  # the row under the traces where bad frames are marked


class RecordingError(Exception):
    """The file is not a chirolink recording; the text names the line, as the emulator's
    replay does."""


class GloveFrames:
    """One glove's frames from a recording, in file order."""

    def __init__(self, name):
        self.name = name
        self.times = []      # monotonic_s of each frame
        self.values = []     # seven values 0..255 of each frame
        self.bad = []        # indices of frames whose checksum did not match

    def duration(self):
        return self.times[-1] - self.times[0]

    def rate(self):
        """Frames a second between the first and the last frame; 0 with fewer than two."""
        duration = self.duration()
        return (len(self.times) - 1) / duration if duration > 0 else 0.0


def _whole(text, maximum, name, line):
    # Counted before int() is asked: Python refuses to convert more than 4300 digits.
    digits = text.lstrip("0") or "0"
    if not (text.isascii() and text.isdigit()) or len(digits) > len(str(maximum)) \
            or int(digits) > maximum:
        raise RecordingError("line %d: %s: expected a whole number up to %d, got '%s'"
                             % (line, name, maximum, _shown(text)))
    return int(digits)


def _shown(text):
    """A field as a one-line message shows it: at most 40 characters."""
    return text if len(text) <= 40 else text[:37] + "..."


def _seconds(text, line):
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not math.isfinite(value) or value < 0 or not text.strip():
        raise RecordingError("line %d: monotonic_s: expected seconds, got '%s'"
                             % (line, _shown(text)))
    return value


def read_recording(path):
    """The gloves of the recording at `path`, in the order they first appear: a dict from the
    glove's name to its GloveFrames. Raises RecordingError for a file that is not a recording
    (OSError when it cannot be read at all)."""
    gloves = {}
    with open(path, newline="", encoding="utf-8") as file:
        rows = csv.reader(file, strict=True)
        line = 0
        try:
            for row in rows:
                line = rows.line_num
                if line == 1:
                    if row != HEADER:
                        raise RecordingError(
                            "line 1: not a chirolink recording: expected the header row '%s'"
                            % ",".join(HEADER))
                    continue
                if not row:
                    continue
                _add_row(gloves, row, line)
        except csv.Error as error:
            raise RecordingError("line %d: %s" % (rows.line_num, error)) from None
        except UnicodeDecodeError:
            raise RecordingError("line %d: not text (UTF-8)" % (line + 1)) from None
    if line == 0:
        raise RecordingError("empty file: not a chirolink recording")
    if not gloves:
        raise RecordingError("the recording holds no frames")
    return gloves


def _add_row(gloves, row, line):
    if len(row) != len(HEADER):
        raise RecordingError("line %d: expected %d fields, got %d" % (line, len(HEADER), len(row)))
    _whole(row[1], 2**64 - 1, "sequence", line)
    time = _seconds(row[2], line)
    values = tuple(_whole(row[i], 255, HEADER[i], line) for i in _VALUE_FIELDS)
    checksum_ok = _whole(row[12], 1, "checksum_ok", line)
    glove = gloves.setdefault(row[0], GloveFrames(row[0]))
    if glove.times and time < glove.times[-1]:
        raise RecordingError("line %d: monotonic_s goes backwards for glove '%s'" % (line, row[0]))
    if not checksum_ok:
        glove.bad.append(len(glove.times))
    glove.times.append(time)
    glove.values.append(values[:7])


def _with_gaps(times, values, start):
    """Times from `start` and values, with a NaN between frames further apart than GAP_S, so
    that no line is drawn across a gap."""
    xs, ys = [], []
    previous = None
    for time, value in zip(times, values):
        if previous is not None and time - previous > GAP_S:
            xs.append(math.nan)
            ys.append(math.nan)
        xs.append(time - start)
        ys.append(value)
        previous = time
    return xs, ys


def title(glove):
    return "%s: %.1f s, %d frames, %.1f frames/s" % (
        glove.name, glove.duration(), len(glove.times), glove.rate())


def draw(figure, gloves, calibration=None):
    """Draws `gloves` (GloveFrames, one panel each) into the matplotlib `figure`; times count
    from the first of their frames. With a chirolink.Calibration, the values from 0 to 1."""
    start = min(glove.times[0] for glove in gloves)
    scale = 1 / 255 if calibration is not None else 1  # of the axis: 0..1 instead of 0..255
    axes = figure.subplots(len(gloves), 1, sharex=True, squeeze=False)[:, 0]
    for ax, glove in zip(axes, gloves):
        values = glove.values if calibration is None else [
            calibration.apply(v) for v in glove.values]
        for trace, (name, colour) in enumerate(TRACES):
            xs, ys = _with_gaps(glove.times, (v[trace] for v in values), start)
            ax.plot(xs, ys, color=colour, linewidth=0.9, label=name)
        if glove.bad:
            ax.plot([glove.times[i] - start for i in glove.bad],
                    [_BAD_MARK_Y * scale] * len(glove.bad),
                    linestyle="none", marker="x", markersize=5, color="black",
                    label="bad checksum (%d)" % len(glove.bad))
        ax.set_title(title(glove), fontsize=10, loc="left")
        ax.set_ylim(-16 * scale, 263 * scale)
        ax.set_yticks([0, 0.25, 0.5, 0.75, 1] if calibration else [0, 64, 128, 192, 255])
        ax.grid(True, color="#d0d0d0", linewidth=0.6)
        ax.set_ylabel("calibrated" if calibration else "value")
        ax.legend(loc="upper left", bbox_to_anchor=(1.005, 1.0), fontsize=8, frameon=False)
    axes[-1].set_xlabel("seconds from the start")
    figure.set_size_inches(11, 0.7 + _PANEL_HEIGHT_IN * len(gloves))
    figure.tight_layout()
    return figure


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m chirolink.plot",
        description="Draw a `chirolink record` file: one panel per glove, seven traces.")
    parser.add_argument("recording", metavar="REC.csv")
    parser.add_argument("-o", "--output", metavar="OUT.png",
                        help="write the picture to this file (PNG, SVG, PDF by its name) "
                             "instead of opening a window")
    parser.add_argument("--glove", metavar="NAME", help="draw this glove only")
    parser.add_argument("--calibration", metavar="FILE.json",
                        help="draw the values from 0 to 1 as this calibration (chirolink "
                             "calibrate) makes them")
    args = parser.parse_args(argv)

    def fail(text):
        print("chirolink.plot: %s" % text, file=sys.stderr)
        return 1

    calibration = None
    if args.calibration is not None:
        from ._calibration import Calibration
        from ._library import ChirolinkError
        try:
            calibration = Calibration.load(args.calibration)
        except ChirolinkError as error:
            return fail(str(error))
    try:
        gloves = read_recording(args.recording)
    except RecordingError as error:
        return fail("%s: %s" % (args.recording, error))
    except OSError as error:
        return fail("%s: %s" % (args.recording, error.strerror or error))
    if args.glove is not None:
        if args.glove not in gloves:
            return fail("%s: no frames of glove '%s' in the recording" % (args.recording, args.glove))
        gloves = {args.glove: gloves[args.glove]}

    try:
        if args.output is not None:
            from matplotlib.figure import Figure
            figure = Figure()
        else:
            from matplotlib import pyplot
            figure = pyplot.figure()
    except ImportError:
        return fail("drawing needs matplotlib (Debian package python3-matplotlib)")
    draw(figure, list(gloves.values()), calibration)
    if args.output is None:
        figure.canvas.manager.set_window_title(args.recording)
        pyplot.show()
        return 0
    try:
        figure.savefig(args.output, dpi=100)
    except (OSError, ValueError) as error:
        return fail("%s: %s" % (args.output, error))
    return 0


if __name__ == "__main__":
    sys.exit(main())
