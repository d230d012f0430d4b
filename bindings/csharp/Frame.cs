// Frame: one frame as the glove sent it, stamped when its last byte was read; laid out as the
// library's chirolink_frame, so that the library writes it in place.
using System;
using System.Runtime.InteropServices;

namespace Chirolink
{
    [StructLayout(LayoutKind.Sequential)]
    public struct Frame
    {
        // Raw values 0..255, then the checksum byte as received.
        public byte Finger1, Finger2, Finger3, Finger4, Finger5, Roll, Pitch, Checksum;

        // 1 for the link's first frame, then +1 per frame received: a gap means frames were
        // missed.
        public ulong Sequence;

        // When the frame's last byte was read: the monotonic clock (CLOCK_MONOTONIC on Linux,
        // QueryPerformanceCounter on Windows) in seconds, and the same moment in seconds since
        // 1970-01-01 UTC.
        public double MonotonicSeconds, WallSeconds;

        private int checksumOk;
        private int reserved;

        // Whether the checksum matches the seven values.
        public bool ChecksumOk
        {
            get { return checksumOk != 0; }
        }

        // The values by channel: 0..4 the fingers, 5 roll, 6 pitch.
        public byte this[int channel]
        {
            get
            {
                switch (channel)
                {
                    case 0: return Finger1;
                    case 1: return Finger2;
                    case 2: return Finger3;
                    case 3: return Finger4;
                    case 4: return Finger5;
                    case 5: return Roll;
                    case 6: return Pitch;
                    default: throw new IndexOutOfRangeException("channel " + channel + " is not 0..6");
                }
            }
        }

        public override string ToString()
        {
            return string.Format("#{0} {1} {2} {3} {4} {5} {6} {7}{8}", Sequence, Finger1, Finger2,
                                 Finger3, Finger4, Finger5, Roll, Pitch,
                                 ChecksumOk ? "" : " (bad checksum)");
        }
    }
}
