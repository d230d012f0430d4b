// GloveSource: a glove for a scene. Opens the glove on its port when enabled and closes it when
// disabled and before the Editor reloads scripts, so that the next Play finds the port free
// (the Editor keeps the native library loaded across Play and Stop, and runs no finalizer in
// between). Update gives the latest frame and its seven calibrated values.
//
// Threads: Unity's main thread runs OnEnable, OnDisable, Update and the reload hook, and owns
// every field but `latest` and `fresh`. One reader thread per open glove takes every frame
// from it and keeps the newest in `latest`, under `gate`; it ends when the glove is disposed.
using System;
using System.Threading;
using UnityEngine;

namespace Chirolink.Unity
{
    [AddComponentMenu("Chirolink/Glove Source")]
    public sealed class GloveSource : MonoBehaviour
    {
        private const int Channels = 7;

        [Tooltip("The glove's serial port: COM3, /dev/ttyUSB0, ...")]
        public string port = "COM1";

        [Tooltip("A calibration file (chirolink calibrate makes one); none: the raw values / 255")]
        public string calibrationFile = "";

        private readonly object gate = new object();
        private readonly float[] values = new float[Channels];
        private Frame latest;
        private bool fresh;
        private Glove glove;
        private Thread reader;
        private string reported;

        // Whether the glove is open.
        public bool IsOpen
        {
            get { return glove != null; }
        }

        // Whether Frame and Values hold a frame yet.
        public bool HasFrame { get; private set; }

        // The latest frame as of this Update.
        public Frame Frame { get; private set; }

        // Its seven values (finger 1..5, roll, pitch) in 0..1, calibrated when a calibration
        // file is set. The same array every time; read it, do not keep it.
        public float[] Values
        {
            get { return values; }
        }

        // The calibration in use; null without a calibration file.
        public Calibration Calibration { get; private set; }

        private void OnEnable()
        {
#if UNITY_EDITOR
            UnityEditor.AssemblyReloadEvents.beforeAssemblyReload += Close;
#endif
            Open();
        }

        private void OnDisable()
        {
#if UNITY_EDITOR
            UnityEditor.AssemblyReloadEvents.beforeAssemblyReload -= Close;
#endif
            Close();
        }

        private void Update()
        {
            Frame frame;
            lock (gate)
            {
                if (!fresh)
                {
                    return;
                }
                frame = latest;
                fresh = false;
            }
            Frame = frame;
            HasFrame = true;
            if (Calibration != null)
            {
                Calibration.Apply(in frame, values);
                return;
            }
            for (int channel = 0; channel < Channels; channel++)
            {
                values[channel] = frame[channel] / 255f;
            }
        }

        private void Open()
        {
            try
            {
                Calibration = string.IsNullOrEmpty(calibrationFile) ? null : Calibration.Load(calibrationFile);
                glove = new Glove(port);
            }
            catch (ChirolinkException e)
            {
                Report(e.Message);
                return;
            }
            catch (DllNotFoundException e)
            {
                Report("the Chirolink library did not load: " + e.Message);
                return;
            }
            reported = null;
            Glove opened = glove;
            reader = new Thread(() => Read(opened)) { IsBackground = true, Name = "Chirolink " + port };
            reader.Start();
        }

        private void Close()
        {
            if (glove == null)
            {
                return;
            }
            glove.Dispose(); // ends the reader's wait
            reader.Join();
            glove = null;
            reader = null;
            HasFrame = false;
        }

        private void Read(Glove from)
        {
            try
            {
                Frame frame;
                while (true)
                {
                    if (from.TryNextFrame(out frame, -1))
                    {
                        lock (gate)
                        {
                            latest = frame;
                            fresh = true;
                        }
                    }
                    else
                    {
                        return; // disposed
                    }
                }
            }
            catch (ObjectDisposedException)
            {
                // Disposed between two frames.
            }
        }

        // Once per reason: a GloveSource that is enabled again and again does not fill the console.
        private void Report(string why)
        {
            if (why != reported)
            {
                Debug.LogError("GloveSource: " + why, this);
                reported = why;
            }
        }
    }
}
