#!/usr/bin/env python3
"""Python reading gloves in threads, a thread per glove, at line timing.

Starts one glove emulator per glove (animated values, real line timing), opens a
chirolink.Glove on each and reads every frame with frames() in a thread of its own for the
given time; then closes the gloves from the main thread, which ends the readers. Reports per
glove the frames, their rate, gaps in the sequence numbers, the frames the queue dropped
(status().missed), how long frames waited before Python had them (from the frame's monotonic
time to the reader's), and the reader thread's CPU time; and the whole process's CPU time,
the library's acquisition threads included. Exits 1 when a glove shows a gap or a miss.

Threads: the main thread starts the emulators, opens and closes the gloves and reports; each
reader thread owns its Reader's counts until the main thread has joined it.

Usage: two_gloves_bench.py [--duration SECONDS] [--gloves N] [--library PATH]
                           [--emulator PATH]
The library and the emulator default to those of build/test (after scripts/test.sh).
"""

import argparse
import os
import pathlib
import resource
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))

import chirolink  # noqa: E402  (from this tree, after the path above)


class Reader:
    """Reads every frame of one glove in a thread of its own."""

    def __init__(self, glove):
        self.glove = glove
        self.frames = 0
        self.gaps = 0
        self.first = self.last = None
        self.lags = []
        self.cpu = 0.0
        self.thread = threading.Thread(target=self._run)

    def _run(self):
        previous = None
        for frame in self.glove.frames(timeout=2):
            self.lags.append(time.monotonic() - frame.monotonic)
            if previous is not None and frame.sequence != previous + 1:
                self.gaps += 1
            previous = frame.sequence
            self.frames += 1
            self.first = frame.monotonic if self.first is None else self.first
            self.last = frame.monotonic
        self.cpu = time.thread_time()


def start_emulator(program, path):
    process = subprocess.Popen([program, "--link", path, "--quiet"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    process.stdout.readline()  # the device path: it is ready
    return process


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))] if ordered else 0.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--duration", type=float, default=60.0)
    parser.add_argument("--gloves", type=int, default=2)
    parser.add_argument("--library", default=str(ROOT / "build/test/driver/libChirolink.so.1"))
    parser.add_argument("--emulator",
                        default=str(ROOT / "build/test/tools/glove-emulator/glove-emulator"))
    options = parser.parse_args()
    chirolink.load_library(options.library)

    with tempfile.TemporaryDirectory(prefix="chirolink-bench-") as scratch:
        paths = [os.path.join(scratch, "glove%d" % (n + 1)) for n in range(options.gloves)]
        emulators = [start_emulator(options.emulator, path) for path in paths]
        try:
            gloves = [chirolink.Glove(path) for path in paths]
            readers = [Reader(glove) for glove in gloves]
            usage = resource.getrusage(resource.RUSAGE_SELF)
            started = time.monotonic()
            for reader in readers:
                reader.thread.start()
            time.sleep(options.duration)
            statuses = [glove.status() for glove in gloves]
            for glove in gloves:
                glove.close()
            for reader in readers:
                reader.thread.join()
            elapsed = time.monotonic() - started
            after = resource.getrusage(resource.RUSAGE_SELF)
        finally:
            for emulator in emulators:
                emulator.terminate()
                emulator.wait()
                emulator.stdout.close()

    print("chirolink %s, Python %s, %d gloves, %.1f s, a reader thread each"
          % (chirolink.__version__, sys.version.split()[0], options.gloves, elapsed))
    failed = False
    for n, (reader, status) in enumerate(zip(readers, statuses), 1):
        span = (reader.last - reader.first) if reader.frames > 1 else 0.0
        rate = (reader.frames - 1) / span if span > 0 else 0.0
        print("glove %d: %d frames, %.1f/s, %d gaps, %d missed, %d lost replies, "
              "%d bad checksums; to Python after %.2f ms median, %.2f ms 99%%, %.2f ms max; "
              "reader thread CPU %.2f %% of a core"
              % (n, reader.frames, rate, reader.gaps, status.missed, status.lost_replies,
                 status.bad_checksums, 1000 * percentile(reader.lags, 0.5),
                 1000 * percentile(reader.lags, 0.99), 1000 * max(reader.lags, default=0),
                 100 * reader.cpu / elapsed))
        failed |= reader.gaps > 0 or status.missed > 0 or reader.frames == 0
    cpu = (after.ru_utime - usage.ru_utime) + (after.ru_stime - usage.ru_stime)
    print("process CPU (Python readers and the library's acquisition threads): %.2f %% of a core"
          % (100 * cpu / elapsed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
