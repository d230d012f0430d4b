// A small test runner: runs every public static method marked [Test] in the program's
// assembly (or those whose names contain one of the arguments), each on its own, and prints a
// line per test and a closing "N passed, N failed"; exits 1 when any failed.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Reflection;

namespace Chirolink.Tests
{
    [AttributeUsage(AttributeTargets.Method)]
    public sealed class TestAttribute : Attribute
    {
    }

    public sealed class CheckFailed : Exception
    {
        public CheckFailed(string message) : base(message)
        {
        }
    }

    public static class Check
    {
        public static void True(bool condition, string what)
        {
            if (!condition)
            {
                throw new CheckFailed(what);
            }
        }

        public static void Equal<T>(T expected, T actual, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(expected, actual))
            {
                throw new CheckFailed(what + ": expected " + expected + ", got " + actual);
            }
        }

        public static TException Throws<TException>(Action action, string what) where TException : Exception
        {
            try
            {
                action();
            }
            catch (TException expected)
            {
                return expected;
            }
            catch (Exception other)
            {
                throw new CheckFailed(what + ": expected " + typeof(TException).Name + ", got " + other);
            }
            throw new CheckFailed(what + ": expected " + typeof(TException).Name + ", nothing thrown");
        }
    }

    public static class Runner
    {
        public static int Main(string[] filters)
        {
            IEnumerable<MethodInfo> tests =
                from type in Assembly.GetExecutingAssembly().GetTypes()
                from method in type.GetMethods(BindingFlags.Public | BindingFlags.Static)
                where method.GetCustomAttributes(typeof(TestAttribute), false).Length > 0
                where filters.Length == 0 || filters.Any(f => (type.Name + "." + method.Name).Contains(f))
                orderby type.Name, method.Name
                select method;
            int passed = 0, failed = 0;
            foreach (MethodInfo test in tests)
            {
                string name = test.DeclaringType.Name + "." + test.Name;
                Stopwatch watch = Stopwatch.StartNew();
                try
                {
                    test.Invoke(null, null);
                    passed++;
                    Console.WriteLine("PASS {0} ({1} ms)", name, watch.ElapsedMilliseconds);
                }
                catch (TargetInvocationException e)
                {
                    failed++;
                    Console.WriteLine("FAIL {0} ({1} ms): {2}", name, watch.ElapsedMilliseconds, e.InnerException);
                }
            }
            Console.WriteLine("{0} passed, {1} failed", passed, failed);
            return failed == 0 && passed > 0 ? 0 : 1;
        }
    }
}
