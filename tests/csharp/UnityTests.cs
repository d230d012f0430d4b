// The package's scripts under stand-ins for Unity, against the real library and an emulated
// glove: the Editor's Play, Stop and script reload, frame by frame.
using System;
using System.IO;
using System.Linq;
using System.Reflection;
using Chirolink.Unity;
using Chirolink.Unity.Samples;
using UnityEngine;

namespace Chirolink.Tests
{
    public static class UnityTests
    {
        static readonly byte[] Steady = { 10, 20, 30, 40, 50, 60, 70 };

        // Unity calls the message methods by name.
        static void Send(object component, string message)
        {
            component.GetType().GetMethod(message, BindingFlags.Instance | BindingFlags.NonPublic).Invoke(component, null);
        }

        static void Frames(GloveSource source, HandModel hand)
        {
            Check.True(Emulator.Eventually(() =>
            {
                Send(source, "Update");
                Send(hand, "LateUpdate");
                return source.HasFrame;
            }, 3), "a frame in Update");
        }

        static void PortIsFree(string port)
        {
            using (new Glove(port))
            {
            }
        }

        [Test]
        public static void TheHandFollowsTheGloveAndEveryStopLetsGoOfThePort()
        {
            UnityEngine.Debug.Errors.Clear();
            string calibration = Path.Combine(Path.GetTempPath(), "chirolink-cs-" + Guid.NewGuid().ToString("N") + ".json");
            using (var emulator = new Emulator(Steady, "--instant"))
            {
                // 0..100 for every channel: the values become Steady / 100.
                new Calibration(new byte[7], Enumerable.Repeat((byte)100, 7).ToArray(), Hand.Right).Save(calibration);
                var hand = new GameObject("Hand");
                GloveSource source = hand.AddComponent<GloveSource>();
                HandModel model = hand.AddComponent<HandModel>();
                source.port = emulator.Port;
                source.calibrationFile = calibration;
                Send(source, "OnEnable");
                File.Delete(calibration);
                Send(model, "Start");
                Frames(source, model);
                Check.True(Enumerable.Range(0, 7).All(c => source.Frame[c] == Steady[c]), "the frame " + source.Frame);
                Check.True(Enumerable.Range(0, 7).All(c => Math.Abs(source.Values[c] - Steady[c] / 100f) < 1e-6),
                           "calibrated values " + string.Join(" ", source.Values));
                Check.Equal(source.Values[4] * model.jointBend, model.Joint(4, 2).localRotation.eulerAngles.x, "finger 5's bend");
                Check.Equal((source.Values[6] - 0.5f) * 2f * model.wristTurn, model.Wrist.localRotation.eulerAngles.x, "the wrist's pitch");

                // Stop, then a script reload while playing: both let go of the port, and the next
                // Play opens it again, here without a calibration: raw values / 255.
                Send(source, "OnDisable");
                source.calibrationFile = "";
                Check.True(!source.IsOpen && !source.HasFrame, "closed by OnDisable");
                PortIsFree(emulator.Port);
                Send(source, "OnEnable");
                Frames(source, model);
                Check.True(Enumerable.Range(0, 7).All(c => source.Values[c] == Steady[c] / 255f), "raw values / 255");
                UnityEditor.AssemblyReloadEvents.Reload();
                Check.True(!source.IsOpen, "closed before the reload");
                PortIsFree(emulator.Port);
                Send(source, "OnDisable");
                Check.Equal(0, UnityEngine.Debug.Errors.Count, "console errors: " + string.Join("; ", UnityEngine.Debug.Errors));
            }
        }

        [Test]
        public static void APortThatDoesNotOpenIsReportedOnce()
        {
            UnityEngine.Debug.Errors.Clear();
            GloveSource source = new GameObject("Hand").AddComponent<GloveSource>();
            source.port = "/dev/chirolink-missing";
            for (int play = 0; play < 3; play++)
            {
                Send(source, "OnEnable");
                Send(source, "Update");
                Check.True(!source.IsOpen && !source.HasFrame, "open without a port");
                Send(source, "OnDisable");
            }
            Check.Equal("GloveSource: /dev/chirolink-missing: no such device", string.Join("; ", UnityEngine.Debug.Errors), "the console");
            UnityEngine.Debug.Errors.Clear();
        }
    }
}
