// Glove: one glove on one port, a link of its own, over the library's glove calls.
//
// Threads: a Glove has no thread of its own (the library polls the glove on its own thread).
// Its members run on whichever threads call them, any number at once, Dispose included. The
// monitor of `gate` guards `handle`, `disposing` and `inside` (the calls in progress). The
// library's handle may be closed only while no call is inside it, so Dispose marks the glove
// disposing and waits for those calls to leave; a waiting TryNextFrame waits in slices of at
// most SliceMs and leaves at the end of the slice in which the glove began to be disposed.
// Whichever thread leaves last, or Dispose itself when none is inside, closes the handle.
using System;
using System.Diagnostics;
using System.Threading;

namespace Chirolink
{
    public sealed class Glove : IDisposable
    {
        // Longest single wait inside the library: how long Dispose may wait for a waiting reader.
        private const int SliceMs = 50;

        private readonly object gate = new object();
        private GloveHandle handle;
        private bool disposing;
        private int inside;

        // Opens the glove on `port` ("COM1", "/dev/ttyUSB0", ...) with a link of its own;
        // throws ChirolinkException with the library's reason when that fails.
        public Glove(string port)
        {
            if (port == null)
            {
                throw new ArgumentNullException("port");
            }
            if (port.IndexOf('\0') >= 0)
            {
                throw new ArgumentException("a port name with a NUL character", "port");
            }
            Port = port;
            GloveHandle opened;
            int result = NativeMethods.chirolink_open(port, out opened);
            if (result != NativeMethods.Ok)
            {
                opened.Dispose();
                throw ChirolinkException.From(result, port);
            }
            handle = opened;
        }

        public string Port { get; }

        // The library's package version, such as "1.1.0".
        public static string LibraryVersion
        {
            get { return System.Runtime.InteropServices.Marshal.PtrToStringAnsi(NativeMethods.chirolink_version()); }
        }

        // Takes the oldest frame not taken yet: every frame, in order. Waits up to `timeoutMs`
        // (0: not at all; negative: until one comes) and gives false when none came in time,
        // or when the glove was disposed meanwhile. Allocates nothing.
        public bool TryNextFrame(out Frame frame, int timeoutMs)
        {
            long deadline = timeoutMs < 0 ? long.MaxValue
                                          : Stopwatch.GetTimestamp() + timeoutMs * Stopwatch.Frequency / 1000;
            GloveHandle glove = Enter();
            try
            {
                while (true)
                {
                    int wait = SliceMs;
                    if (timeoutMs >= 0)
                    {
                        long left = deadline - Stopwatch.GetTimestamp();
                        long leftMs = (left * 1000 + Stopwatch.Frequency - 1) / Stopwatch.Frequency;
                        wait = (int)Math.Max(0, Math.Min(SliceMs, leftMs));
                    }
                    int result = NativeMethods.chirolink_next_frame(glove, out frame, wait);
                    if (result == NativeMethods.Ok)
                    {
                        return true;
                    }
                    if (result != NativeMethods.ErrTimeout)
                    {
                        throw ChirolinkException.From(result, Port);
                    }
                    if (Volatile.Read(ref disposing) || wait == 0 ||
                        (timeoutMs >= 0 && Stopwatch.GetTimestamp() >= deadline))
                    {
                        return false;
                    }
                }
            }
            finally
            {
                Leave();
            }
        }

        // The newest frame, whole, without taking anything from TryNextFrame's queue; false
        // before the first frame. Allocates nothing.
        public bool TryGetLatest(out Frame frame)
        {
            GloveHandle glove = Enter();
            try
            {
                int result = NativeMethods.chirolink_latest_frame(glove, out frame);
                if (result == NativeMethods.ErrTimeout)
                {
                    return false;
                }
                if (result != NativeMethods.Ok)
                {
                    throw ChirolinkException.From(result, Port);
                }
                return true;
            }
            finally
            {
                Leave();
            }
        }

        public GloveStatus GetStatus()
        {
            RawStatus raw;
            GloveHandle glove = Enter();
            try
            {
                int result = NativeMethods.chirolink_get_status(glove, out raw);
                if (result != NativeMethods.Ok)
                {
                    throw ChirolinkException.From(result, Port);
                }
            }
            finally
            {
                Leave();
            }
            GloveStatus status;
            status.State = (GloveState)raw.State;
            status.Frames = raw.Frames;
            status.BadChecksums = raw.BadChecksums;
            status.LostReplies = raw.LostReplies;
            status.Reopens = raw.Reopens;
            status.Missed = raw.Missed;
            status.LastFrameAgeSeconds = raw.LastFrameAgeSeconds < 0 ? (double?)null : raw.LastFrameAgeSeconds;
            return status;
        }

        // Stops the link and lets go of the port: when it returns, the port may be opened again
        // (also when another thread's Dispose did it). Waits on other threads end within SliceMs
        // (TryNextFrame gives false); later calls throw ObjectDisposedException. Disposing
        // again does nothing.
        public void Dispose()
        {
            lock (gate)
            {
                disposing = true;
                while (inside > 0)
                {
                    Monitor.Wait(gate);
                }
                Release();
            }
        }

        public override string ToString()
        {
            return "Chirolink.Glove " + Port + (Volatile.Read(ref disposing) ? " (disposed)" : "");
        }

        private GloveHandle Enter()
        {
            lock (gate)
            {
                if (disposing)
                {
                    throw new ObjectDisposedException("Chirolink.Glove", Port + ": the glove is disposed");
                }
                inside++;
                return handle;
            }
        }

        private void Leave()
        {
            lock (gate)
            {
                inside--;
                if (disposing && inside == 0)
                {
                    Release();
                    Monitor.PulseAll(gate);
                }
            }
        }

        private void Release() // with gate held and no call inside
        {
            if (handle != null)
            {
                handle.Dispose();
                handle = null;
            }
        }
    }
}
