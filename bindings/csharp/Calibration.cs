// Calibration: per channel, the raw values that mean 0 and 1, and which hand; read from and
// written to the library's calibration files, and applied to frames.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Chirolink
{
    public enum Hand
    {
        Unknown = 0,
        Left = 1,
        Right = 2
    }

    public sealed class Calibration
    {
        private const int Channels = 7;

        // chirolink_calibration as bytes: low[7], high[7], hand, reserved.
        private readonly byte[] raw = new byte[2 * Channels + 2];

        // `low`: per channel (finger 1..5, roll, pitch) the raw value that means 0 (an open,
        // flat hand for a finger); `high`: the one that means 1 (a fist). Low above high is a
        // sensor whose value falls as it bends.
        public Calibration(byte[] low, byte[] high, Hand hand)
        {
            if (low == null || high == null)
            {
                throw new ArgumentNullException(low == null ? "low" : "high");
            }
            if (low.Length != Channels || high.Length != Channels)
            {
                throw new ArgumentException("low and high need 7 values each");
            }
            Buffer.BlockCopy(low, 0, raw, 0, Channels);
            Buffer.BlockCopy(high, 0, raw, Channels, Channels);
            raw[2 * Channels] = (byte)hand;
        }

        private Calibration()
        {
        }

        public byte[] Low
        {
            get { return Slice(0); }
        }

        public byte[] High
        {
            get { return Slice(Channels); }
        }

        public Hand Hand
        {
            get { return (Hand)raw[2 * Channels]; }
        }

        // Reads a calibration file; throws ChirolinkException with the file as Port and the
        // library's account of what is wrong with it as Reason.
        public static Calibration Load(string path)
        {
            if (path == null)
            {
                throw new ArgumentNullException("path");
            }
            var calibration = new Calibration();
            var message = new byte[512];
            int result = NativeMethods.chirolink_calibration_load(path, calibration.raw, message, message.Length);
            if (result != NativeMethods.Ok)
            {
                int end = Array.IndexOf(message, (byte)0);
                string reason = end > 0 ? Encoding.UTF8.GetString(message, 0, end) : NativeMethods.ErrorText(result);
                throw new ChirolinkException(result, reason, path);
            }
            return calibration;
        }

        // Writes the calibration file whole, replacing one that is there.
        public void Save(string path)
        {
            if (path == null)
            {
                throw new ArgumentNullException("path");
            }
            int result = NativeMethods.chirolink_calibration_save(path, raw);
            if (result != NativeMethods.Ok)
            {
                throw ChirolinkException.From(result, path);
            }
        }

        // Fills values[0..6] with the frame's channels calibrated to 0..1. Allocates nothing.
        public void Apply(in Frame frame, float[] values)
        {
            if (values == null)
            {
                throw new ArgumentNullException("values");
            }
            if (values.Length < Channels)
            {
                throw new ArgumentException("values needs room for 7", "values");
            }
            Frame copy = frame;
            int result = NativeMethods.chirolink_calibrate(raw, ref copy, values);
            if (result != NativeMethods.Ok)
            {
                throw ChirolinkException.From(result, null);
            }
        }

        public override string ToString()
        {
            return "Chirolink.Calibration " + Hand + " low " + string.Join(",", Low) + " high " + string.Join(",", High);
        }

        private byte[] Slice(int start)
        {
            var values = new byte[Channels];
            Buffer.BlockCopy(raw, start, values, 0, Channels);
            return values;
        }
    }
}
