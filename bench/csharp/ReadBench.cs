// Reads one emulated glove at line timing through Glove.TryNextFrame for a while, as a game's
// reader thread would, and reports: frames a second, gaps in the sequence numbers and frames the
// queue dropped (GetStatus().Missed), the time from a frame's arrival (its MonotonicSeconds) to
// the return of the TryNextFrame that waited for it (p50, p99, max; CLOCK_MONOTONIC read through
// clock_gettime), the garbage collections and the bytes this thread allocated meanwhile.
// Exits 1 when a frame was missed or a collection ran.
//
// Usage: mono ReadBench.exe --emulator PATH [--seconds N]
using System;
using System.Diagnostics;
using System.IO;
using System.Runtime.InteropServices;
using Chirolink;

static class ReadBench
{
    [StructLayout(LayoutKind.Sequential)]
    struct Timespec
    {
        public long Seconds, Nanoseconds;
    }

    [DllImport("libc", EntryPoint = "clock_gettime")]
    static extern int ClockGetTime(int clock, out Timespec time);

    const int ClockMonotonic = 1;

    static double Monotonic()
    {
        Timespec now;
        ClockGetTime(ClockMonotonic, out now);
        return now.Seconds + now.Nanoseconds * 1e-9;
    }

    static int Main(string[] args)
    {
        string emulator = null;
        double seconds = 60;
        for (int i = 0; i + 1 < args.Length; i += 2)
        {
            if (args[i] == "--emulator")
            {
                emulator = args[i + 1];
            }
            else if (args[i] == "--seconds")
            {
                seconds = double.Parse(args[i + 1], System.Globalization.CultureInfo.InvariantCulture);
            }
        }
        if (emulator == null)
        {
            Console.Error.WriteLine("usage: ReadBench.exe --emulator PATH [--seconds N]");
            return 2;
        }
        string link = Path.Combine(Path.GetTempPath(), "chirolink-bench-" + Process.GetCurrentProcess().Id);
        var process = Process.Start(new ProcessStartInfo(emulator, "--quiet --link " + link)
        {
            UseShellExecute = false,
            RedirectStandardOutput = true,
        });
        process.StandardOutput.ReadLine();
        try
        {
            return Run(link, seconds);
        }
        finally
        {
            process.Kill();
            process.WaitForExit();
        }
    }

    static int Run(string port, double seconds)
    {
        var lags = new double[(int)(seconds * 300) + 1000];
        int frames = 0, gaps = 0;
        ulong previous = 0;
        double first = 0, last = 0;
        // The monotonic clocks of Stopwatch and clock_gettime, side by side (the second pair,
        // once both calls are bound).
        double offset = 0;
        for (int i = 0; i < 2; i++)
        {
            double stopwatch = (double)Stopwatch.GetTimestamp() / Stopwatch.Frequency;
            offset = Monotonic() - stopwatch;
        }
        using (var glove = new Glove(port))
        {
            Frame frame;
            glove.TryNextFrame(out frame, 2000); // the first frame, and the code paths compiled
            previous = frame.Sequence;
            int[] collections = { GC.CollectionCount(0), GC.CollectionCount(1), GC.CollectionCount(2) };
            long allocated = GC.GetAllocatedBytesForCurrentThread();
            double end = Monotonic() + seconds;
            while (frames < lags.Length && glove.TryNextFrame(out frame, 1000))
            {
                double now = Monotonic();
                lags[frames++] = now - frame.MonotonicSeconds;
                if (frame.Sequence != previous + 1)
                {
                    gaps++;
                }
                previous = frame.Sequence;
                first = first == 0 ? frame.MonotonicSeconds : first;
                last = frame.MonotonicSeconds;
                if (now >= end)
                {
                    break;
                }
            }
            allocated = GC.GetAllocatedBytesForCurrentThread() - allocated;
            int[] ran = { GC.CollectionCount(0) - collections[0], GC.CollectionCount(1) - collections[1],
                          GC.CollectionCount(2) - collections[2] };
            ulong missed = glove.GetStatus().Missed;
            Array.Sort(lags, 0, frames);
            Func<double, double> at = p => lags[Math.Min(frames - 1, (int)(p * frames))] * 1e6;
            Console.WriteLine("Mono {0}, Chirolink {1}",
                              Type.GetType("Mono.Runtime").GetMethod("GetDisplayName",
                                  System.Reflection.BindingFlags.NonPublic | System.Reflection.BindingFlags.Static).Invoke(null, null),
                              Glove.LibraryVersion);
            Console.WriteLine("frames {0} in {1:F1} s: {2:F1} a second; gaps {3}, missed {4}",
                              frames, last - first, (frames - 1) / (last - first), gaps, missed);
            Console.WriteLine("arrival to TryNextFrame's return: p50 {0:F0} us, p99 {1:F0} us, max {2:F0} us",
                              at(0.5), at(0.99), lags[frames - 1] * 1e6);
            Console.WriteLine("garbage collections: gen0 {0}, gen1 {1}, gen2 {2}; bytes allocated by the reader: {3}",
                              ran[0], ran[1], ran[2], allocated);
            Console.WriteLine("Stopwatch vs CLOCK_MONOTONIC: {0:F6} s apart", offset);
            return gaps == 0 && missed == 0 && ran[0] + ran[1] + ran[2] == 0 ? 0 : 1;
        }
    }
}
