using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Threading;

namespace Corvex.Tracking.Tests
{
    // Dispose, the finalizer, and threads racing them.
    internal static class LifecycleTests
    {
        [Test]
        public static void DisposeTwiceAndEveryCallAfterItDoNothing()
        {
            TrackingManager manager = Harness.Create("disposed", Harness.Settings("disposed"));
            manager.Dispose();
            manager.Dispose();
            Harness.CallEveryMember(manager);
            Check.Equal("", manager.UserId, "user id after dispose");
            manager.Dispose();
        }

        // Mono scans stacks conservatively: the manager is made on a thread
        // that ends, so that no stack of the test still points at it.
        [Test]
        public static void AForgottenManagerIsDestroyedByTheFinalizerAndItsEventsGoOutWithTheNextRun()
        {
            WeakReference forgotten = null;
            var thread = new Thread(() =>
            {
                TrackingManager manager = Harness.Create("finalized", Harness.Settings("finalized"));
                for (int i = 0; i < 5; ++i)
                {
                    manager.TrackWithIntValue("forgotten", i);
                }
                forgotten = new WeakReference(manager);
            });
            thread.Start();
            thread.Join();
            for (int round = 0; round < 100 && forgotten.IsAlive; ++round)
            {
                GC.Collect();
                GC.WaitForPendingFinalizers();
                Thread.Sleep(10);
            }
            Check.True(!forgotten.IsAlive, "the forgotten manager was collected");
            GC.Collect();
            GC.WaitForPendingFinalizers();

            // Had the native manager not been destroyed, it would still hold the
            // queue file's lock and the next one would not see the saved events.
            TrackingManager next = Harness.Create("finalized", Harness.Settings("finalized"));
            next.Start();
            List<JsonValue> events = Harness.WaitForEvents("finalized", 6);
            next.Dispose();
            Check.Equal(6, events.Count, "events delivered");
            Check.Equal("forgotten:0,1,2,3,4 vxsdk_open", Summary(events), "events");
        }

        // A child process of this runtime tracks into the folder and returns
        // from Main without Dispose; its own ProcessExit handler, added after
        // the binding's, sees whether the manager was disposed by then.
        [Test]
        public static void AManagerLeftAtExitIsDisposedAndItsEventsGoOutWithTheNextRun()
        {
            string folder = Harness.Folder("exit");
            string output = RunChild("--exit-without-dispose " + Quote(folder));
            Check.Equal("user id at exit: ''", output.Trim(), "the child's report");

            TrackingManager next = Harness.Create("exit", Harness.Settings("exit"));
            next.Start();
            List<JsonValue> events = Harness.WaitForEvents("exit", 6);
            next.Dispose();
            Check.Equal(6, events.Count, "events delivered");
            Check.Equal("left:0,1,2,3,4 vxsdk_open", Summary(events), "events");
        }

        internal static int LeaveUndisposedAtExit(string folder)
        {
            var manager = new TrackingManager("exit", Harness.Secret, new InitializationData { SavePath = folder });
            for (int i = 0; i < 5; ++i)
            {
                manager.TrackWithIntValue("left", i);
            }
            AppDomain.CurrentDomain.ProcessExit += (sender, args) =>
                Console.WriteLine("user id at exit: '" + manager.UserId + "'");
            return 0;
        }

        // Runs this program again on the runtime running it (mono, or the
        // dotnet host that DOTNET_HOST_PATH names) and returns its output.
        private static string RunChild(string arguments)
        {
            string program = typeof(TestRunner).Assembly.Location;
            string host = Type.GetType("Mono.Runtime") != null
                ? Process.GetCurrentProcess().MainModule.FileName
                : Environment.GetEnvironmentVariable("DOTNET_HOST_PATH") ?? "dotnet";
            var start = new ProcessStartInfo(host, Quote(program) + " " + arguments)
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
            };
            using (Process child = Process.Start(start))
            {
                string output = child.StandardOutput.ReadToEnd();
                Check.True(child.WaitForExit(60000), "the child exited");
                Check.Equal(0, child.ExitCode, "the child's exit code (output: " + output + ")");
                return output;
            }
        }

        private static string Quote(string text)
        {
            return "\"" + text + "\"";
        }

        [Test]
        public static void FourThreadsTrackingAtOnceDeliverEveryEventOnce()
        {
            const int perThread = 50;
            TrackingManager manager = Harness.Create("threads", Harness.Settings("threads"));
            manager.Start();
            RunThreads(4, n =>
            {
                for (int i = 0; i < perThread; ++i)
                {
                    manager.TrackWithIntValue("thread" + n, i);
                }
            });
            List<JsonValue> events = Harness.WaitForEvents("threads", 4 * perThread + 1);
            manager.Dispose();
            Check.Equal(4 * perThread + 1, events.Count, "events delivered");
            string all = string.Join(",", Enumerable.Range(0, perThread));
            Check.Equal("thread0:" + all + " thread1:" + all + " thread2:" + all + " thread3:" + all + " vxsdk_first_open",
                Summary(events), "events");
        }

        // What was tracked before the Dispose is delivered once (by the next
        // run), and nothing after it: each thread's events are a prefix.
        [Test]
        public static void DisposeWhileFourThreadsTrackLosesAndRepeatsNothing()
        {
            const int perThread = 200;
            TrackingManager manager = Harness.Create("dispose-race", Harness.Settings("dispose-race"));
            manager.Start();
            int tracked = 0;
            int trackedBeforeDispose = 0;
            RunThreads(5, n =>
            {
                if (n == 4)
                {
                    SpinWait.SpinUntil(() => Volatile.Read(ref tracked) >= 40, TimeSpan.FromSeconds(30));
                    trackedBeforeDispose = Volatile.Read(ref tracked);
                    manager.Dispose();
                    return;
                }
                for (int i = 0; i < perThread; ++i)
                {
                    manager.TrackWithIntValue("thread" + n, i);
                    Interlocked.Increment(ref tracked);
                    Check.True(manager.UserId != null, "a user id");
                }
            });
            Check.Equal("", manager.UserId, "user id after dispose");

            TrackingManager next = Harness.Create("dispose-race", Harness.Settings("dispose-race"));
            next.Start();
            // Every saved event and the next run's open event, then a marker.
            next.Track("marker");
            List<JsonValue> events = new List<JsonValue>();
            for (int round = 0; round < 3000 && !events.Any(e => e["eventName"].Text == "marker"); ++round)
            {
                Thread.Sleep(20);
                events = Harness.Service.EventsOf("dispose-race", Harness.Secret);
            }
            next.Dispose();
            var values = new Dictionary<string, List<int>>();
            foreach (JsonValue e in events.Where(e => e["eventName"].Text.StartsWith("thread", StringComparison.Ordinal)))
            {
                string name = e["eventName"].Text;
                if (!values.ContainsKey(name))
                {
                    values[name] = new List<int>();
                }
                values[name].Add(int.Parse(e["value"]["value"].Raw));
            }
            Check.True(values.Values.Sum(v => v.Count) >= trackedBeforeDispose,
                "the " + trackedBeforeDispose + " events tracked before the Dispose were delivered");
            foreach (KeyValuePair<string, List<int>> thread in values)
            {
                List<int> sorted = thread.Value.OrderBy(v => v).ToList();
                Check.True(sorted.SequenceEqual(Enumerable.Range(0, sorted.Count)),
                    thread.Key + " delivered " + string.Join(",", thread.Value));
            }
        }

        // The events by name in name order, each with its values in arrival
        // order: "name:1,2 other".
        private static string Summary(List<JsonValue> events)
        {
            return string.Join(" ", events
                .GroupBy(e => e["eventName"].Text)
                .OrderBy(g => g.Key, StringComparer.Ordinal)
                .Select(g => g.Key + (g.First()["value"]["value"] == null
                    ? ""
                    : ":" + string.Join(",", g.Select(e => e["value"]["value"].Raw)))));
        }

        // Runs body(0) .. body(count - 1) on threads of their own; fails on
        // the first exception of any of them.
        private static void RunThreads(int count, Action<int> body)
        {
            Exception failure = null;
            Thread[] threads = Enumerable.Range(0, count).Select(n => new Thread(() =>
            {
                try
                {
                    body(n);
                }
                catch (Exception error)
                {
                    Interlocked.CompareExchange(ref failure, error, null);
                }
            })).ToArray();
            foreach (Thread thread in threads)
            {
                thread.Start();
            }
            foreach (Thread thread in threads)
            {
                Check.True(thread.Join(TimeSpan.FromSeconds(120)), "a thread ended");
            }
            Check.True(failure == null, "no thread threw: " + failure);
        }
    }
}
