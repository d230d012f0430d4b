// HandModel: a hand of primitives driven by the GloveSource on the same object. Its five
// fingers bend with the calibrated finger values (0: straight, 1: fully bent) and its wrist
// turns with roll and pitch (0.5: level).
using UnityEngine;

namespace Chirolink.Unity.Samples
{
    [RequireComponent(typeof(GloveSource))]
    [AddComponentMenu("Chirolink/Hand Model")]
    public sealed class HandModel : MonoBehaviour
    {
        private const int Fingers = 5;
        private const int Joints = 3;

        [Tooltip("Degrees each finger joint bends at a finger value of 1")]
        public float jointBend = 80f;

        [Tooltip("Degrees the wrist turns at a roll or pitch of 0 or 1")]
        public float wristTurn = 60f;

        private readonly Transform[] joints = new Transform[Fingers * Joints];
        private GloveSource source;
        private Transform wrist;

        public Transform Wrist
        {
            get { return wrist; }
        }

        // Finger 0..4 (thumb first), joint 0..2 (from the palm out).
        public Transform Joint(int finger, int joint)
        {
            return joints[finger * Joints + joint];
        }

        private void Start()
        {
            source = GetComponent<GloveSource>();
            wrist = new GameObject("Wrist").transform;
            wrist.SetParent(transform, false);
            Part(PrimitiveType.Cube, wrist, new Vector3(0f, 0f, 0.5f), new Vector3(0.9f, 0.2f, 1f));
            for (int finger = 0; finger < Fingers; finger++)
            {
                bool thumb = finger == 0;
                float length = thumb ? 0.22f : 0.28f;
                Transform parent = wrist;
                Vector3 root = thumb ? new Vector3(-0.5f, 0f, 0.35f) : new Vector3(-0.33f + 0.22f * (finger - 1), 0f, 1f);
                for (int joint = 0; joint < Joints; joint++)
                {
                    Transform pivot = new GameObject("Finger " + (finger + 1) + " joint " + (joint + 1)).transform;
                    pivot.SetParent(parent, false);
                    pivot.localPosition = joint == 0 ? root : new Vector3(0f, 0f, length);
                    Part(PrimitiveType.Cube, pivot, new Vector3(0f, 0f, length / 2f), new Vector3(0.14f, 0.14f, length * 0.9f));
                    joints[finger * Joints + joint] = pivot;
                    parent = pivot;
                }
            }
        }

        private void LateUpdate()
        {
            if (!source.HasFrame)
            {
                return;
            }
            float[] values = source.Values;
            for (int finger = 0; finger < Fingers; finger++)
            {
                Quaternion bend = Quaternion.Euler(values[finger] * jointBend, 0f, 0f);
                for (int joint = 0; joint < Joints; joint++)
                {
                    joints[finger * Joints + joint].localRotation = bend;
                }
            }
            // Pitch turns the hand about its side-to-side axis, roll about its length.
            wrist.localRotation = Quaternion.Euler((values[6] - 0.5f) * 2f * wristTurn, 0f, (0.5f - values[5]) * 2f * wristTurn);
        }

        private static void Part(PrimitiveType shape, Transform parent, Vector3 position, Vector3 scale)
        {
            Transform part = GameObject.CreatePrimitive(shape).transform;
            part.SetParent(parent, false);
            part.localPosition = position;
            part.localScale = scale;
        }
    }
}
