// The binding against the real library and emulated gloves.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Threading;

namespace Chirolink.Tests
{
    public static class GloveTests
    {
        static readonly byte[] Steady = { 10, 20, 30, 40, 50, 60, 70 };
        static readonly byte[] Other = { 11, 22, 33, 44, 55, 66, 77 };

        static double Now()
        {
            return (double)Stopwatch.GetTimestamp() / Stopwatch.Frequency;
        }

        static byte[] Values(Frame frame)
        {
            return Enumerable.Range(0, 7).Select(channel => frame[channel]).ToArray();
        }

        [Test]
        public static void TwoGlovesGiveEveryFrameInOrder()
        {
            const int count = 150;
            using (var left = new Emulator(Steady))
            using (var right = new Emulator(Other))
            using (var first = new Glove(left.Port))
            using (var second = new Glove(right.Port))
            {
                var got = new Dictionary<Glove, List<Frame>>();
                var readers = new[] { first, second }.Select(glove =>
                {
                    var frames = new List<Frame>();
                    got[glove] = frames;
                    var reader = new Thread(() =>
                    {
                        Frame frame;
                        while (frames.Count < count && glove.TryNextFrame(out frame, 2000))
                        {
                            frames.Add(frame);
                        }
                    });
                    reader.Start();
                    return reader;
                }).ToList();
                readers.ForEach(reader => reader.Join());

                foreach (var pair in new[] { Tuple.Create(first, left), Tuple.Create(second, right) })
                {
                    List<Frame> frames = got[pair.Item1];
                    Check.Equal(pair.Item2.Port, pair.Item1.Port, "Port");
                    Check.True(frames.Select(f => f.Sequence).SequenceEqual(Enumerable.Range(1, count).Select(n => (ulong)n)),
                               "sequence numbers 1.." + count + ": " + string.Join(" ", frames.Select(f => f.Sequence)));
                    Check.True(frames.All(f => Values(f).SequenceEqual(pair.Item2.Values) && f.ChecksumOk),
                               "values and checksums");
                    Check.True(frames.Zip(frames.Skip(1), (a, b) => a.MonotonicSeconds < b.MonotonicSeconds).All(x => x),
                               "monotonic times rise");
                    // The frame's time is the runtime's monotonic clock's.
                    Check.True(frames[count - 1].MonotonicSeconds <= Now() && frames[count - 1].MonotonicSeconds > Now() - 5,
                               "monotonic time " + frames[count - 1].MonotonicSeconds + " vs " + Now());
                    double wall = (DateTime.UtcNow - new DateTime(1970, 1, 1)).TotalSeconds;
                    Check.True(Math.Abs(frames[count - 1].WallSeconds - wall) < 60, "wall time");
                }
                // At line timing 150 frames take about 0.8 s: the two ran side by side.
                Check.True(got[first][0].MonotonicSeconds < got[second][count - 1].MonotonicSeconds &&
                           got[second][0].MonotonicSeconds < got[first][count - 1].MonotonicSeconds,
                           "the gloves ran at once");
                Check.Throws<IndexOutOfRangeException>(() => { var x = got[first][0][7]; }, "channel 7");
                Check.Throws<IndexOutOfRangeException>(() => { var x = got[first][0][-1]; }, "channel -1");
            }
        }

        [Test]
        public static void AFailedOpenSaysWhy()
        {
            using (var held = new Emulator(Steady, "--instant"))
            using (var silent = new Emulator(Steady, "--silent"))
            using (new Glove(held.Port))
            {
                var cases = new[]
                {
                    Tuple.Create("", -1, "invalid argument"),
                    Tuple.Create("/dev/chirolink-missing", -2, "no such device"),
                    Tuple.Create("/dev/null", -3, "not a serial port"),
                    Tuple.Create(held.Port, -4, "busy"),
                    Tuple.Create(silent.Port, -6, "no glove answered"),
                };
                foreach (var c in cases)
                {
                    var e = Check.Throws<ChirolinkException>(() => new Glove(c.Item1), "opening '" + c.Item1 + "'");
                    Check.Equal(c.Item2, e.Code, c.Item1 + ": Code");
                    Check.True(e.Reason.Contains(c.Item3), c.Item1 + ": Reason " + e.Reason);
                    Check.Equal(c.Item1, e.Port, "Port");
                    Check.Equal(c.Item1 + ": " + e.Reason, e.Message, "Message");
                }
                Check.Throws<ArgumentNullException>(() => new Glove(null), "a null port");
                Check.Throws<ArgumentException>(() => new Glove("/dev/tty\0S0"), "a NUL in the port");
            }
        }

        [Test]
        public static void WaitsEndWhenTheirTimeOutPasses()
        {
            // The glove answers the handshake and then drops every request: no frame comes.
            using (var emulator = new Emulator(Steady, "--drop-every", "1", "--instant"))
            using (var glove = new Glove(emulator.Port))
            {
                Frame frame;
                Check.True(!glove.TryGetLatest(out frame), "no latest frame before the first");
                Check.Equal(null, glove.GetStatus().LastFrameAgeSeconds, "age before the first frame");
                foreach (int timeout in new[] { 0, 300 })
                {
                    Stopwatch watch = Stopwatch.StartNew();
                    Check.True(!glove.TryNextFrame(out frame, timeout), "a frame came");
                    Check.True(watch.ElapsedMilliseconds >= timeout && watch.ElapsedMilliseconds < timeout + 500,
                               "waited " + watch.ElapsedMilliseconds + " ms for " + timeout);
                }
            }
        }

        [Test]
        public static void AGloveGoneAndBackShowsInStatusAndItsFramesCountOn()
        {
            using (var emulator = new Emulator(Steady, "--unplug-after", "0.8", "--replug-after", "0.8"))
            {
                var glove = new Glove(emulator.Port);
                var frames = new List<Frame>();
                var reader = new Thread(() =>
                {
                    Frame frame;
                    try
                    {
                        while (glove.TryNextFrame(out frame, 3000))
                        {
                            frames.Add(frame);
                        }
                    }
                    catch (ObjectDisposedException)
                    {
                        // Disposed between two waits.
                    }
                });
                reader.Start();
                var states = new List<GloveState>();
                Check.True(Emulator.Eventually(() =>
                {
                    GloveState state = glove.GetStatus().State;
                    if (states.Count == 0 || states[states.Count - 1] != state)
                    {
                        states.Add(state);
                    }
                    return states.Count >= 2 && states[states.Count - 2] == GloveState.Reopening &&
                           states[states.Count - 1] == GloveState.Running;
                }, 6), "states: " + string.Join(" ", states));
                GloveStatus status = glove.GetStatus();
                Check.Equal(1UL, status.Reopens, "Reopens");
                Check.True(Emulator.Eventually(() =>
                {
                    GloveStatus now = glove.GetStatus();
                    return now.Frames > status.Frames && now.LastFrameAgeSeconds < 0.5;
                }, 3), "fresh frames after the return");
                glove.Dispose();
                reader.Join();
                Check.True(frames.Select(f => f.Sequence).SequenceEqual(Enumerable.Range(1, frames.Count).Select(n => (ulong)n)),
                           "sequence numbers without a gap");
                Check.True(frames[frames.Count - 1].MonotonicSeconds - frames[0].MonotonicSeconds > 0.8, "frames after the gap");
            }
        }

        [Test]
        public static void DisposeEndsWaitsOnOtherThreadsAndFreesThePort()
        {
            using (var emulator = new Emulator(Steady, "--drop-every", "1", "--instant"))
            {
                var glove = new Glove(emulator.Port);
                var returned = new double[2];
                var results = new bool[2];
                var waiters = new[] { -1, 10000 }.Select((timeout, i) =>
                {
                    var waiter = new Thread(() =>
                    {
                        Frame frame;
                        results[i] = glove.TryNextFrame(out frame, timeout);
                        returned[i] = Now();
                    });
                    waiter.Start();
                    return waiter;
                }).ToList();
                Thread.Sleep(300);
                double disposing = Now();
                glove.Dispose();
                double disposed = Now();
                // The port is free when Dispose returns.
                using (var again = new Glove(emulator.Port))
                {
                }
                waiters.ForEach(waiter => waiter.Join());
                Check.True(results.All(got => !got), "a wait gave a frame");
                Check.True(returned.All(t => t - disposing < 0.25), "waits ended " +
                           string.Join(", ", returned.Select(t => ((t - disposing) * 1000).ToString("F0"))) + " ms after Dispose");
                Check.True(disposed - disposing < 0.25, "Dispose took " + (disposed - disposing) * 1000 + " ms");
                Frame none;
                Check.Throws<ObjectDisposedException>(() => glove.TryNextFrame(out none, 0), "TryNextFrame after Dispose");
                Check.Throws<ObjectDisposedException>(() => glove.TryGetLatest(out none), "TryGetLatest after Dispose");
                Check.Throws<ObjectDisposedException>(() => glove.GetStatus(), "GetStatus after Dispose");
                glove.Dispose();
            }
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        static void OpenAndDrop(string port)
        {
            new Glove(port);
        }

        [Test]
        public static void ADroppedGloveIsClosedByItsFinalizer()
        {
            using (var emulator = new Emulator(Steady, "--instant"))
            {
                OpenAndDrop(emulator.Port);
                var busy = Check.Throws<ChirolinkException>(() => new Glove(emulator.Port), "the port while the dropped glove lives");
                Check.Equal(-4, busy.Code, "Code");
                GC.Collect();
                GC.WaitForPendingFinalizers();
                using (var again = new Glove(emulator.Port))
                {
                    Frame frame;
                    Check.True(again.TryNextFrame(out frame, 2000), "a frame after the finalizer closed the first");
                }
            }
        }

        [Test]
        public static void TryNextFrameAndTryGetLatestAllocateNothing()
        {
            using (var emulator = new Emulator(Steady, "--instant"))
            using (var glove = new Glove(emulator.Port))
            {
                Frame frame;
                Check.True(glove.TryNextFrame(out frame, 2000) && glove.TryGetLatest(out frame), "a first frame");
                int frames = 0;
                long before = GC.GetAllocatedBytesForCurrentThread();
                for (int i = 0; i < 10000; i++)
                {
                    if (glove.TryNextFrame(out frame, 0))
                    {
                        frames++;
                    }
                    if (glove.TryGetLatest(out frame))
                    {
                        frames++;
                    }
                }
                long allocated = GC.GetAllocatedBytesForCurrentThread() - before;
                Check.True(frames > 10000 + 100, "only " + frames + " frames among 20000 calls");
                Check.Equal(0L, allocated, "bytes allocated over 20000 calls");
            }
        }

        [Test]
        public static void TheLayoutAndVersionAreTheLibrarys()
        {
            // The C sizes of chirolink_frame, chirolink_status and chirolink_calibration: "40 56 16".
            var program = Process.Start(new ProcessStartInfo(Environment.GetEnvironmentVariable("C_SIZES_PROGRAM"))
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
            });
            string[] sizes = program.StandardOutput.ReadToEnd().Trim().Split(' ');
            program.WaitForExit();
            Check.Equal(int.Parse(sizes[0]), Marshal.SizeOf(typeof(Frame)), "the size of Frame");
            Type status = typeof(Glove).Assembly.GetType("Chirolink.RawStatus", true);
            Check.Equal(int.Parse(sizes[1]), Marshal.SizeOf(status), "the size of chirolink_status");
            var calibration = (byte[])typeof(Calibration).GetField("raw", BindingFlags.Instance | BindingFlags.NonPublic)
                                                         .GetValue(new Calibration(new byte[7], new byte[7], Hand.Left));
            Check.Equal(int.Parse(sizes[2]), calibration.Length, "the size of chirolink_calibration");
            Check.Equal(Environment.GetEnvironmentVariable("CHIROLINK_VERSION"), Glove.LibraryVersion, "LibraryVersion");
        }
    }
}
