// GloveStatus: what a glove's link is doing and what it has counted since it was opened.
namespace Chirolink
{
    public enum GloveState
    {
        Running = 1,   // the port is open and the glove is polled
        Reopening = 2, // the port went away; the link tries to open it again
        Stopped = 3    // no link runs
    }

    public struct GloveStatus
    {
        public GloveState State;

        // Frames received, whatever their checksum; of those, frames whose checksum did not
        // match; requests that got no whole frame in time; times the port went away and came
        // back; frames dropped because this Glove's reader fell more than 4096 frames behind.
        public ulong Frames, BadChecksums, LostReplies, Reopens, Missed;

        // Seconds since the latest frame; null before the first.
        public double? LastFrameAgeSeconds;
    }
}
