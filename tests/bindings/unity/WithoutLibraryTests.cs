using System;
using System.Collections.Generic;

namespace Corvex.Tracking.Tests
{
    // Run where the native library cannot be loaded, as in an editor of a
    // platform without a build of it.
    internal static class WithoutLibraryTests
    {
        [Test]
        public static void WithoutTheLibraryEveryMemberDoesNothing()
        {
            Check.Equal("", TrackingManager.Version, "version (the library was found?)");
            var manager = new TrackingManager("k", "s", new InitializationData());
            Harness.CallEveryMember(manager);
            Check.Equal("", manager.UserId, "user id");
            manager.Dispose();
            manager.Dispose();
        }

        // The missing library is one cause, written once however many calls
        // meet it, and a callback that throws disturbs none of them.
        [Test]
        public static void TheMissingLibraryIsLoggedOnceAndAThrowingCallbackIsIgnored()
        {
            var lines = new List<string>();
            TrackingManager.Log = line =>
            {
                lines.Add(line);
                throw new InvalidOperationException("from the host");
            };
            try
            {
                for (int i = 0; i < 2; ++i)
                {
                    Check.Equal("", TrackingManager.Version, "version");
                    var manager = new TrackingManager("k", "s");
                    Harness.CallEveryMember(manager);
                    manager.Dispose();
                }
            }
            finally
            {
                TrackingManager.Log = null;
            }
            Check.Equal(1, lines.Count, "lines logged: " + string.Join(" | ", lines));
            Check.True(lines[0].Contains("could not be loaded") && lines[0].Contains("corvex_tracking"),
                "the line names the cause: " + lines[0]);
        }
    }
}
