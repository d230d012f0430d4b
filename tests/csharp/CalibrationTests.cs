// Calibration files through the library, and calibrated values of real frames.
using System;
using System.IO;
using System.Linq;

namespace Chirolink.Tests
{
    public static class CalibrationTests
    {
        // Finger 1..5, roll, pitch: rising, falling (low above high), and one with low == high.
        static readonly byte[] Low = { 0, 0, 40, 100, 0, 60, 0 };
        static readonly byte[] High = { 100, 200, 20, 200, 50, 60, 255 };
        static readonly byte[] Values = { 10, 20, 30, 40, 50, 60, 70 };
        static readonly float[] Expected = { 0.1f, 0.1f, 0.5f, 0f, 1f, 0.5f, 70f / 255f };

        [Test]
        public static void ACalibrationSavedLoadsBackAndCalibratesFramesWithoutAllocating()
        {
            string file = Path.Combine(Path.GetTempPath(), "chirolink-cs-" + Guid.NewGuid().ToString("N") + ".json");
            try
            {
                new Calibration(Low, High, Hand.Right).Save(file);
                Calibration loaded = Calibration.Load(file);
                Check.True(loaded.Low.SequenceEqual(Low) && loaded.High.SequenceEqual(High), "low and high: " + loaded);
                Check.Equal(Hand.Right, loaded.Hand, "Hand");

                using (var emulator = new Emulator(Values, "--instant"))
                using (var glove = new Glove(emulator.Port))
                {
                    Frame frame;
                    Check.True(glove.TryNextFrame(out frame, 2000), "a frame");
                    var values = new float[7];
                    loaded.Apply(in frame, values);
                    Check.True(values.Zip(Expected, (got, want) => Math.Abs(got - want) < 1e-6).All(x => x),
                               "calibrated: " + string.Join(" ", values));
                    long before = GC.GetAllocatedBytesForCurrentThread();
                    for (int i = 0; i < 10000; i++)
                    {
                        loaded.Apply(in frame, values);
                    }
                    Check.Equal(0L, GC.GetAllocatedBytesForCurrentThread() - before, "bytes allocated by Apply");
                    Check.Throws<ArgumentException>(() => loaded.Apply(in frame, new float[6]), "six values");
                }
            }
            finally
            {
                File.Delete(file);
            }
        }

        [Test]
        public static void AFileThatIsNoCalibrationSaysWhere()
        {
            string file = Path.Combine(Path.GetTempPath(), "chirolink-cs-" + Guid.NewGuid().ToString("N") + ".json");
            try
            {
                File.WriteAllText(file, "{\n  \"format\": \"chirolink-calibration\",\n  \"version\": 1,\n  \"channels\": 7\n}\n");
                var bad = Check.Throws<ChirolinkException>(() => Calibration.Load(file), "a file without channels");
                Check.Equal(-9, bad.Code, "Code");
                Check.Equal(file, bad.Port, "Port");
                Check.True(bad.Reason.Contains("line") && bad.Reason.Contains("channels"), "Reason: " + bad.Reason);
                var missing = Check.Throws<ChirolinkException>(() => Calibration.Load(file + ".missing"), "no file");
                Check.Equal(-2, missing.Code, "Code of a missing file");
                var folder = Check.Throws<ChirolinkException>(
                    () => new Calibration(Low, High, Hand.Left).Save(Path.Combine(file + ".missing", "c.json")), "no folder");
                Check.Equal(-2, folder.Code, "Code of a missing folder");
            }
            finally
            {
                File.Delete(file);
            }
        }
    }
}
