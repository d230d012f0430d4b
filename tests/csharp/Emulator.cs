// Emulated gloves for the tests: a glove-emulator process (GLOVE_EMULATOR in the environment)
// behind a link path in a scratch directory, sending fixed values.
using System;
using System.Diagnostics;
using System.IO;
using System.Threading;

namespace Chirolink.Tests
{
    public sealed class Emulator : IDisposable
    {
        private readonly Process process;
        private readonly string directory;

        // Options such as "--instant", "--silent", "--unplug-after", "0.8".
        public Emulator(byte[] values, params string[] options)
        {
            Values = values;
            directory = Path.Combine(Path.GetTempPath(), "chirolink-cs-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(directory);
            Port = Path.Combine(directory, "glove");
            var start = new ProcessStartInfo(Environment.GetEnvironmentVariable("GLOVE_EMULATOR"))
            {
                Arguments = "--link " + Port + " --quiet --values " + string.Join(",", values) + " " +
                            string.Join(" ", options),
                UseShellExecute = false,
                RedirectStandardOutput = true,
            };
            process = Process.Start(start);
            process.StandardOutput.ReadLine(); // the device path: it is ready
        }

        public string Port { get; }

        public byte[] Values { get; }

        public void Dispose()
        {
            if (!process.HasExited)
            {
                process.Kill();
            }
            process.WaitForExit();
            process.Dispose();
            Directory.Delete(directory, true);
        }

        public static bool Eventually(Func<bool> condition, double seconds)
        {
            Stopwatch watch = Stopwatch.StartNew();
            while (!condition())
            {
                if (watch.Elapsed.TotalSeconds > seconds)
                {
                    return false;
                }
                Thread.Sleep(10);
            }
            return true;
        }
    }
}
