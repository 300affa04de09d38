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
    }
}
