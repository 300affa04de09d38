using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Text.RegularExpressions;

namespace Corvex.Tracking.Tests
{
    // What the binding's calls and settings become at the test service.
    internal static class EventTests
    {
        [Test]
        public static void EveryTrackingMethodSendsItsEventWithItsExactPayload()
        {
            InitializationData data = Harness.Settings("every-event");
            data.StoreType = StoreType.GooglePlay;
            data.AppVersion = "3.2.1";
            TrackingManager manager = Harness.Create("every-event", data);
            manager.Start();
            foreach (Expected expected in Harness.EveryEvent)
            {
                expected.Call(manager);
            }
            List<JsonValue> events = Harness.WaitForEvents("every-event", Harness.EveryEvent.Length + 1);
            manager.Dispose();

            Check.Equal(Harness.EveryEvent.Length + 1, events.Count, "events delivered");
            Check.Equal("vxsdk_first_open", events[0]["eventName"].Text, "the first event");
            for (int i = 0; i < Harness.EveryEvent.Length; ++i)
            {
                Expected expected = Harness.EveryEvent[i];
                JsonValue delivered = events[i + 1];
                Check.Equal(expected.Name, delivered["eventName"].Text, "event " + i);
                string value = delivered["value"].Raw;
                if (expected.Value != null)
                {
                    Check.Equal(expected.Value, value, "payload of " + expected.Name);
                }
                else
                {
                    Check.True(Regex.IsMatch(value, "^{\"boot_time\":[0-9]+}$"), "payload of " + expected.Name + ": " + value);
                }
            }
        }

        [Test]
        public static void EverySettingReachesTheLibrary()
        {
            var data = new InitializationData
            {
                SavePath = Harness.Folder("settings-never-made"),
                UserId = "player-7",
                ConfigId = "cfg-s",
                AppVersion = "5.1",
                AppBuildNumber = "77",
                BundleId = "com.example.cs",
                Country = "FR",
                DeviceModel = "Rig",
                StoreType = StoreType.MicrosoftStore,
                QueueCheckInterval = 10,
                SendDelay = 50,
                FlushSendSize = 1,
                EnableSave = false,
            };
            TrackingManager manager = Harness.Create("settings", data);
            manager.Start();
            manager.TrackRateGame();
            manager.Track("last");
            List<JsonValue> events = Harness.WaitForEvents("settings", 3);
            List<JsonValue> requests = Harness.Service.RequestsOf("settings", Harness.Secret);
            manager.Dispose();

            Check.Equal(3, events.Count, "events delivered");
            Check.Equal(3, requests.Count, "requests of one event each");
            JsonValue body = TestService.Body(requests[0]);
            Check.Equal("player-7", body["vxUid"].Text, "vxUid");
            Check.Equal("com.example.cs", body["bundleId"].Text, "bundleId");
            Check.Equal("FR", body["country"].Text, "country");
            Check.Equal("Rig", body["device"].Text, "device");
            JsonValue open = events[0]["value"];
            Check.Equal("5.1", open["app_version"].Text, "app_version");
            Check.Equal("77", open["build_number"].Text, "build_number");
            Check.Equal("cfg-s", open["cfg_id"].Text, "cfg_id");
            Check.Equal("{\"store_type\":\"microsoft_store\"}", events[1]["value"].Raw, "store type");
            Check.Equal("cfg-s", events[2]["cfgId"].Text, "cfgId");
            Check.Equal("5.1", events[2]["appVersion"].Text, "appVersion");
            Check.True(!Directory.Exists(data.SavePath), "nothing saved with EnableSave off");

            var custom = new TrackingManager("k", "s", new InitializationData { EnableSave = false, CustomUserId = true });
            Check.Equal("", custom.UserId, "user id left empty with CustomUserId");
            custom.Dispose();
        }

        // A new InitializationData must hold the library's own defaults: with
        // it, the constructor sets all 18 fields, without it none. The 51 events
        // tracked before the start show the store type and the batch size too.
        [Test]
        public static void NullDataAndANewInitializationDataMakeTheSameRequests()
        {
            string withNull = Requests("defaults-null", null);
            Check.True(Directory.Exists(Path.Combine(Harness.DefaultFolderRoot, "Corvex", "Tracking")), "the default folder was used");
            Directory.Delete(Harness.DefaultFolderRoot, true);
            string withNew = Requests("defaults-new", new InitializationData());
            Check.Equal(withNull, withNew, "requests");
        }

        private static readonly Regex Varying = new Regex("\"(eId|id|vxUid)\":\"[^\"]+\"|\"timeInMs\":[0-9]+");

        // The request bodies, with their ids and times replaced by fixed texts.
        private static string Requests(string key, InitializationData data)
        {
            TrackingManager manager = Harness.Create(key, data);
            manager.TrackRateGame();
            for (int i = 0; i < 50; ++i)
            {
                manager.TrackWithIntValue("before-start", i);
            }
            manager.Start();
            List<JsonValue> events = Harness.WaitForEvents(key, 52);
            List<JsonValue> requests = Harness.Service.RequestsOf(key, Harness.Secret);
            manager.Dispose();
            Check.Equal(52, events.Count, "events delivered to " + key);
            return string.Join("\n", requests.Select(request => Varying.Replace(TestService.Body(request).Raw, "<$1>")));
        }
    }
}
