using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;

namespace Corvex.Tracking.Tests
{
    // Texts both ways: UTF-8 made from C# strings, returned texts read and
    // released, null strings.
    internal static class TextTests
    {
        private const string Unicode = "é 東京 🎮";

        [Test]
        public static void TextsCrossAsUtf8ByteForByte()
        {
            const string key = "clé-東京";
            const string secret = "🎮 secret";
            InitializationData data = Harness.Settings("utf8");
            data.UserId = "joueur " + Unicode;
            TrackingManager manager = Harness.Create(key, data, secret);
            Check.Equal("joueur " + Unicode, manager.UserId, "user id read back");
            manager.Start();
            manager.TrackLevelStart(1, Unicode);
            // A lone surrogate has no UTF-8 form.
            manager.TrackWithStringValue("a\uD800b", "\uDC00");
            // Matched by the Authorization header: the credentials went as UTF-8.
            List<JsonValue> events = Harness.WaitForEvents(key, 3, secret);
            List<JsonValue> requests = Harness.Service.RequestsOf(key, secret);
            manager.UserId = "second " + Unicode;
            Check.Equal("second " + Unicode, manager.UserId, "user id set and read back");
            manager.Dispose();

            Check.Equal(3, events.Count, "events delivered");
            Check.Equal("joueur " + Unicode, TestService.Body(requests[0])["vxUid"].Text, "vxUid");
            Check.Equal("{\"label\":\"" + Unicode + "\",\"level\":1}", events[1]["value"].Raw, "label");
            Check.Equal("a\uFFFDb", events[2]["eventName"].Text, "name with a lone high surrogate");
            Check.Equal("{\"value\":\"\uFFFD\"}", events[2]["value"].Raw, "value of a lone low surrogate");
        }

        [StructLayout(LayoutKind.Sequential)]
        private struct MallocInfo
        {
            internal UIntPtr Arena, Ordblks, Smblks, Hblks, Hblkhd, Usmblks, Fsmblks, Uordblks, Fordblks, Keepcost;
        }

        [DllImport("libc.so.6")]
        private static extern MallocInfo mallinfo2();

        // Each read is a fresh copy of the library's: the C heap in use must
        // not grow with the reads (20000 kept copies would hold over 600 kB).
        [Test]
        public static void ReturnedTextsAreReadAndReleased()
        {
            Check.Equal("0.0.1-cpp", TrackingManager.Version, "version");
            ulong before = (ulong)mallinfo2().Uordblks;
            for (int i = 0; i < 20000; ++i)
            {
                Check.Equal("0.0.1-cpp", TrackingManager.Version, "version");
            }
            long grown = (long)((ulong)mallinfo2().Uordblks - before);
            Check.True(grown < 300000, "the C heap grew by " + grown + " bytes");
        }

        [Test]
        public static void NullStringsCountAsEmptyOrAreIgnored()
        {
            InitializationData data = Harness.Settings("null-texts");
            data.UserId = "kept";
            data.ConfigId = "cfg-n";
            data.AppVersion = null;
            TrackingManager manager = Harness.Create(null, data, null);
            manager.UserId = null;
            manager.SetConfigId(null);
            manager.SetSendProxy(null);
            manager.SetSendCertificateAuthority(null);
            manager.SetSendProxyCertificateAuthority(null);
            Check.Equal("kept", manager.UserId, "user id after setting null");
            manager.Start();
            manager.Track(null);
            manager.TrackLevelStart(2, null);
            manager.TrackWithStringValue(null, null);
            manager.TrackWithJsonValue("json", null);
            manager.TrackAccountLogin(null, null);
            manager.TrackWalletLink(null);
            manager.TrackCryptoPayment(null, 1f, 1, null, "polygon");
            List<JsonValue> events = Harness.WaitForEvents(null, 8, null);
            manager.Dispose();

            var expected = new[]
            {
                new Expected(null, "", "null"),
                new Expected(null, "vxsdk_level_attempt", "{'label':'','level':2}"),
                new Expected(null, "", "{'value':''}"),
                new Expected(null, "json", "null"),
                new Expected(null, "vxsdk_account_login", "{'id':'','type':''}"),
                new Expected(null, "vxsdk_account_link_wallet", "{'type':'ethereum','wallet':''}"),
                new Expected(null, "vxsdk_crypto_payment", "{'amount':1,'chain':'polygon','currency':'ETH','pack':'','price':1.0}"),
            };
            Check.Equal(expected.Length + 1, events.Count, "events delivered");
            for (int i = 0; i < expected.Length; ++i)
            {
                Check.Equal(expected[i].Name, events[i + 1]["eventName"].Text, "event " + i);
                Check.Equal(expected[i].Value, events[i + 1]["value"].Raw, "payload of event " + i);
            }
            Check.Equal("cfg-n", events[1]["cfgId"].Text, "config id after setting null");
            // A null setting leaves the record's default.
            Check.Equal("0.0.1", events[1]["appVersion"].Text, "app version");
        }
    }
}
