using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Reflection;

namespace Corvex.Tracking.Tests
{
    // Marks a test: a public static method without parameters of a group class.
    [AttributeUsage(AttributeTargets.Method)]
    internal sealed class TestAttribute : Attribute
    {
    }

    internal sealed class CheckFailed : Exception
    {
        internal CheckFailed(string message) : base(message)
        {
        }
    }

    internal static class Check
    {
        internal static void True(bool condition, string what)
        {
            if (!condition)
            {
                throw new CheckFailed(what);
            }
        }

        internal static void Equal<T>(T expected, T actual, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(expected, actual))
            {
                throw new CheckFailed(what + ": expected <" + expected + ">, got <" + actual + ">");
            }
        }
    }

    // Runs the tests of one group (the class named by --group) and ends with
    // the line "N passed, N failed"; exits non-zero when one failed or none ran.
    //   mono CorvexTrackingTests.exe --group NAME [--service PROGRAM]
    //        [--sources DIR] [--exports FILE]
    // With --exit-without-dispose FOLDER it is the program of
    // LifecycleTests.LeaveUndisposedAtExit instead.
    internal static class TestRunner
    {
        private static readonly Dictionary<string, string> Options = new Dictionary<string, string>();

        internal static string Option(string name)
        {
            string value;
            if (!Options.TryGetValue(name, out value))
            {
                throw new CheckFailed("the runner needs --" + name);
            }
            return value;
        }

        // Sets the options as the command line does: "--name value" pairs.
        internal static void SetOptions(string[] args)
        {
            for (int i = 0; i + 1 < args.Length; i += 2)
            {
                Options[args[i].TrimStart('-')] = args[i + 1];
            }
        }

        private static int Main(string[] args)
        {
            SetOptions(args);
            if (Options.ContainsKey("exit-without-dispose"))
            {
                return LifecycleTests.LeaveUndisposedAtExit(Option("exit-without-dispose"));
            }
            Type group = typeof(TestRunner).Assembly.GetType("Corvex.Tracking.Tests." + Option("group"));
            if (group == null)
            {
                Console.WriteLine("no test group " + Option("group"));
                return 2;
            }
            int passed = 0;
            int failed = 0;
            Harness.Begin();
            foreach (MethodInfo test in group.GetMethods(BindingFlags.Public | BindingFlags.Static))
            {
                if (test.GetCustomAttribute<TestAttribute>() == null)
                {
                    continue;
                }
                string name = group.Name + "." + test.Name;
                Stopwatch clock = Stopwatch.StartNew();
                try
                {
                    test.Invoke(null, null);
                    ++passed;
                    Console.WriteLine("ok     " + name + " (" + clock.ElapsedMilliseconds + " ms)");
                }
                catch (TargetInvocationException error)
                {
                    ++failed;
                    Exception cause = error.InnerException;
                    Console.WriteLine("FAILED " + name + ": " + (cause is CheckFailed ? cause.Message : cause.ToString()));
                }
            }
            Harness.End();
            Console.WriteLine(passed + " passed, " + failed + " failed");
            return failed == 0 && passed > 0 ? 0 : 1;
        }
    }
}
