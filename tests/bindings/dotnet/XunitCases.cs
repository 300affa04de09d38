using System;
using System.Collections.Generic;
using System.Linq;
using System.Reflection;
using System.Runtime.ExceptionServices;
using System.Runtime.InteropServices;
using Xunit;

// The groups share the test service and the run's folders: one at a time.
[assembly: CollectionBehavior(DisableTestParallelization = true)]

namespace Corvex.Tracking.Tests
{
    // What TestRunner.Main does around a group, once for the run. The
    // runner's options come from CORVEX_TEST_SERVICE, CORVEX_TEST_PACKAGE
    // and CORVEX_TEST_EXPORTS.
    public sealed class HarnessFixture : IDisposable
    {
        public HarnessFixture()
        {
            TestRunner.SetOptions(new[]
            {
                "--service", Environment.GetEnvironmentVariable("CORVEX_TEST_SERVICE"),
                "--package", Environment.GetEnvironmentVariable("CORVEX_TEST_PACKAGE"),
                "--exports", Environment.GetEnvironmentVariable("CORVEX_TEST_EXPORTS"),
            });
            Harness.Begin();
            // CoreCLR keeps Environment.SetEnvironmentVariable to itself; the
            // library reads LOCALAPPDATA from the process's environment.
            setenv("LOCALAPPDATA", Harness.DefaultFolderRoot, 1);
        }

        public void Dispose()
        {
            Harness.End();
        }

        [DllImport("libc")]
        private static extern int setenv(string name, string value, int overwrite);
    }

    [CollectionDefinition("binding")]
    public sealed class BindingCollection : ICollectionFixture<HarnessFixture>
    {
    }

    // Each [Test] method of a group, as TestRunner finds them, is a case of
    // the group's theory. WithoutLibraryTests is left to the Mono runner: the
    // package always brings the library here.
    [Collection("binding")]
    public sealed class BindingTests
    {
        public BindingTests(HarnessFixture harness)
        {
        }

        public static IEnumerable<object[]> Tests(string group)
        {
            return Group(group).GetMethods(BindingFlags.Public | BindingFlags.Static)
                .Where(test => test.GetCustomAttribute<TestAttribute>() != null)
                .Select(test => new object[] { test.Name });
        }

        [Theory]
        [MemberData(nameof(Tests), "EventTests")]
        public void EventTests(string test)
        {
            Run("EventTests", test);
        }

        [Theory]
        [MemberData(nameof(Tests), "TextTests")]
        public void TextTests(string test)
        {
            Run("TextTests", test);
        }

        [Theory]
        [MemberData(nameof(Tests), "LifecycleTests")]
        public void LifecycleTests(string test)
        {
            Run("LifecycleTests", test);
        }

        [Theory]
        [MemberData(nameof(Tests), "ApplicationLifecycleTests")]
        public void ApplicationLifecycleTests(string test)
        {
            Run("ApplicationLifecycleTests", test);
        }

        [Theory]
        [MemberData(nameof(Tests), "SourceTests")]
        public void SourceTests(string test)
        {
            Run("SourceTests", test);
        }

        private static Type Group(string name)
        {
            return typeof(TestRunner).Assembly.GetType("Corvex.Tracking.Tests." + name, true);
        }

        // The test's own exception, not the reflection wrapper.
        private static void Run(string group, string test)
        {
            try
            {
                Group(group).GetMethod(test).Invoke(null, null);
            }
            catch (TargetInvocationException error)
            {
                ExceptionDispatchInfo.Capture(error.InnerException).Throw();
            }
        }
    }
}
