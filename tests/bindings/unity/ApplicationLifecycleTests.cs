using System.Collections.Generic;
using System.Threading;

namespace Corvex.Tracking.Tests
{
    // The focus and pause state machine. Whether a resume opens a new session
    // is the library's choice, by the wall clock after 30 s away: the calls the
    // state machine makes are checked here, and one short absence against a
    // real manager.
    internal static class ApplicationLifecycleTests
    {
        // Sequences of F+ F- (focus gained, lost), P+ P- (paused, unpaused)
        // and Q (quit) from a player, and the calls they must make.
        [Test]
        public static void FocusAndPauseChangesMakeOnePauseAndOneResumePerAbsence()
        {
            string[,] cases =
            {
                // Start-up: the manager's Start opened the session already.
                { "F+ P-", "" },
                // Switching away and back with Run In Background on, then off.
                { "F+ P- F- F+", "pause resume" },
                { "F+ P- F- P+ P- F+", "pause resume" },
                { "F- P+ F+ P-", "pause resume" },
                // Two absences, each reported once.
                { "F- P+ P- F+ F- P+ P- F+", "pause resume pause resume" },
                // No resume without a pause, however often the player repeats itself.
                { "F+ F+ P- P- F+", "" },
                { "F- F- P+ P+", "pause" },
                // Quitting disposes once, and nothing follows it.
                { "F+ P- Q", "quit" },
                { "F- Q F+ P- F- Q", "pause quit" },
            };
            for (int i = 0; i < cases.GetLength(0); ++i)
            {
                var calls = new List<string>();
                var lifecycle = new ApplicationLifecycle(
                    () => calls.Add("pause"), () => calls.Add("resume"), () => calls.Add("quit"));
                foreach (string change in cases[i, 0].Split(' '))
                {
                    switch (change)
                    {
                        case "F+": lifecycle.FocusChanged(true); break;
                        case "F-": lifecycle.FocusChanged(false); break;
                        case "P+": lifecycle.PauseChanged(true); break;
                        case "P-": lifecycle.PauseChanged(false); break;
                        case "Q": lifecycle.Quit(); break;
                    }
                }
                Check.Equal(cases[i, 1], string.Join(" ", calls), cases[i, 0]);
            }
        }

        // Start-up, a short absence with both callbacks, and quitting, as a
        // player without Run In Background makes them: one session, then a
        // disposed manager that ignores what follows.
        [Test]
        public static void AShortAbsenceKeepsTheSessionAndQuittingDisposes()
        {
            TrackingManager manager = Harness.Create("app-lifecycle", Harness.Settings("app-lifecycle"));
            manager.Start();
            var lifecycle = new ApplicationLifecycle(manager);
            lifecycle.FocusChanged(true);
            lifecycle.PauseChanged(false);
            lifecycle.FocusChanged(false);
            lifecycle.PauseChanged(true);
            Thread.Sleep(200);
            lifecycle.PauseChanged(false);
            lifecycle.FocusChanged(true);
            manager.Track("marker");
            // A second open event would have been queued before the marker.
            List<JsonValue> events = Harness.WaitForEvents("app-lifecycle", 2);
            var names = new List<string>();
            foreach (JsonValue e in events)
            {
                names.Add(e["eventName"].Text);
            }
            Check.Equal("vxsdk_first_open marker", string.Join(" ", names), "events");

            lifecycle.Quit();
            Check.Equal("", manager.UserId, "user id after quitting (the manager is disposed)");
            lifecycle.FocusChanged(false);
            lifecycle.PauseChanged(true);
            lifecycle.Quit();
            new ApplicationLifecycle(null).FocusChanged(false);
        }
    }
}
