// Stand-ins for the parts of UnityEngine and UnityEditor that the package's scripts use, so
// that the scripts compile here and run under the tests (no Unity on this machine). They keep
// what the tests look at: components on objects, transforms, the console's messages.
using System;
using System.Collections.Generic;

namespace UnityEngine
{
    public class Object
    {
        public string name;
    }

    public class Component : Object
    {
        public GameObject gameObject { get; internal set; }

        public Transform transform
        {
            get { return gameObject.transform; }
        }

        public T GetComponent<T>() where T : Component
        {
            return gameObject.GetComponent<T>();
        }
    }

    public class Behaviour : Component
    {
    }

    public class MonoBehaviour : Behaviour
    {
    }

    public sealed class Transform : Component
    {
        public Transform parent;
        public Vector3 localPosition;
        public Quaternion localRotation;
        public Vector3 localScale = new Vector3(1f, 1f, 1f);

        public void SetParent(Transform newParent, bool worldPositionStays)
        {
            parent = newParent;
        }
    }

    public enum PrimitiveType
    {
        Sphere,
        Capsule,
        Cylinder,
        Cube,
        Plane,
        Quad
    }

    public sealed class GameObject : Object
    {
        private readonly List<Component> components = new List<Component>();

        public GameObject(string name)
        {
            this.name = name;
            transform = AddComponent<Transform>();
        }

        public Transform transform { get; private set; }

        public PrimitiveType? Primitive { get; private set; }

        public static GameObject CreatePrimitive(PrimitiveType type)
        {
            return new GameObject(type.ToString()) { Primitive = type };
        }

        public T AddComponent<T>() where T : Component, new()
        {
            var component = new T { gameObject = this };
            components.Add(component);
            return component;
        }

        public T GetComponent<T>() where T : Component
        {
            return (T)components.Find(c => c is T);
        }
    }

    public struct Vector3
    {
        public float x, y, z;

        public Vector3(float x, float y, float z)
        {
            this.x = x;
            this.y = y;
            this.z = z;
        }
    }

    public struct Quaternion
    {
        // The stand-in keeps the Euler angles it was made from.
        public Vector3 eulerAngles;

        public static Quaternion Euler(float x, float y, float z)
        {
            return new Quaternion { eulerAngles = new Vector3(x, y, z) };
        }
    }

    public static class Debug
    {
        public static readonly List<string> Errors = new List<string>();

        public static void LogError(object message, Object context)
        {
            Errors.Add(message.ToString());
        }
    }

    [AttributeUsage(AttributeTargets.Field)]
    public sealed class TooltipAttribute : Attribute
    {
        public TooltipAttribute(string tooltip)
        {
        }
    }

    [AttributeUsage(AttributeTargets.Class)]
    public sealed class AddComponentMenu : Attribute
    {
        public AddComponentMenu(string menuName)
        {
        }
    }

    [AttributeUsage(AttributeTargets.Class, AllowMultiple = true)]
    public sealed class RequireComponent : Attribute
    {
        public RequireComponent(Type requiredComponent)
        {
        }
    }
}

namespace UnityEditor
{
    public static class AssemblyReloadEvents
    {
        public delegate void AssemblyReloadCallback();

        public static event AssemblyReloadCallback beforeAssemblyReload;

        // What the Editor does before it reloads the scripts.
        public static void Reload()
        {
            if (beforeAssemblyReload != null)
            {
                beforeAssemblyReload();
            }
        }
    }
}
