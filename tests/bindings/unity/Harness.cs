using System;
using System.Collections.Generic;
using System.IO;

namespace Corvex.Tracking.Tests
{
    // One tracking call and the event the library makes of it; a null Value is
    // checked by the test itself.
    internal sealed class Expected
    {
        internal readonly Action<TrackingManager> Call;
        internal readonly string Name;
        internal readonly string Value;

        // value is written with ' for ", to keep the table readable.
        internal Expected(Action<TrackingManager> call, string name, string value)
        {
            Call = call;
            Name = name;
            Value = value == null ? null : value.Replace('\'', '"');
        }
    }

    // What the tests share: a folder of their own for the run, the test
    // service, managers aimed at it, and every call of the binding.
    internal static class Harness
    {
        internal const string Secret = "s3cret";
        private static string root;
        private static TestService service;

        internal static TestService Service
        {
            get { return service ?? (service = new TestService(TestRunner.Option("service"))); }
        }

        // The default save folder is under LOCALAPPDATA when it is set: this
        // run's own, so that no test touches the user's folder.
        internal static void Begin()
        {
            root = Path.Combine(Path.GetTempPath(), "corvex-csharp-tests-" + System.Diagnostics.Process.GetCurrentProcess().Id);
            Directory.CreateDirectory(root);
            Environment.SetEnvironmentVariable("LOCALAPPDATA", DefaultFolderRoot);
        }

        internal static void End()
        {
            if (service != null)
            {
                service.Dispose();
            }
            Directory.Delete(root, true);
        }

        internal static string DefaultFolderRoot
        {
            get { return Path.Combine(root, "local-app-data"); }
        }

        internal static string Folder(string name)
        {
            return Path.Combine(root, name);
        }

        // Short intervals, so that events leave within milliseconds.
        internal static InitializationData Settings(string folderName)
        {
            return new InitializationData
            {
                SavePath = Folder(folderName),
                QueueCheckInterval = 10,
                SendDelay = 50,
                InitialRetryInterval = 20,
            };
        }

        internal static TrackingManager Create(string key, InitializationData data, string secret = Secret)
        {
            var manager = new TrackingManager(key, secret, data);
            manager.SetSendProxy(Service.ProxyUrl);
            manager.SetSendCertificateAuthority(Service.CaFile);
            return manager;
        }

        internal static List<JsonValue> WaitForEvents(string key, int count, string secret = Secret)
        {
            return Service.WaitForEvents(key, secret, count);
        }

        // Every tracking method, with a manager made with StoreType.GooglePlay
        // and AppVersion "3.2.1".
        internal static readonly Expected[] EveryEvent =
        {
            new Expected(m => m.TrackBootStart(), "vxsdk_boot_start", "null"),
            new Expected(m => m.TrackBootEnd(), "vxsdk_boot_end", null),
            new Expected(m => m.TrackLevelStart(3, "forest"), "vxsdk_level_attempt", "{'label':'forest','level':3}"),
            new Expected(m => m.TrackLevelEnd(3, "forest", true), "vxsdk_level_complete", "{'label':'forest','level':3}"),
            new Expected(m => m.TrackLevelEnd(-2, "cave", false), "vxsdk_level_fail", "{'label':'cave','level':-2}"),
            new Expected(m => m.TrackAdLoad("u1", AdPlacementType.Banner), "vxsdk_ad_load",
                "{'ad_unit':'u1','placement':'bottom','placement_type':'banner'}"),
            new Expected(m => m.TrackAdLoad("u2", AdPlacementType.Interstitial, AdPlacement.Top), "vxsdk_ad_load",
                "{'ad_unit':'u2','placement':'top','placement_type':'interstitial'}"),
            new Expected(m => m.TrackAdClose("u3", (AdPlacementType)7), "vxsdk_ad_close",
                "{'ad_unit':'u3','placement':'fullscreen','placement_type':''}"),
            new Expected(m => m.TrackAdClose("u4", AdPlacementType.RewardedVideo, AdPlacement.Left), "vxsdk_ad_close",
                "{'ad_unit':'u4','placement':'left','placement_type':'rewarded_video'}"),
            new Expected(m => m.TrackAdClick("u5", AdPlacementType.RewardedVideo), "vxsdk_ad_click",
                "{'ad_unit':'u5','placement':'fullscreen','placement_type':'rewarded_video'}"),
            new Expected(m => m.TrackAdClick("u6", AdPlacementType.Interstitial, AdPlacement.Bottom), "vxsdk_ad_click",
                "{'ad_unit':'u6','placement':'bottom','placement_type':'interstitial'}"),
            new Expected(m => m.TrackAdImpression("u7", AdPlacementType.Banner, AdPlacement.Right), "vxsdk_ad_impression",
                "{'ad_unit':'u7','placement':'right','placement_type':'banner'}"),
            new Expected(m => m.TrackAdImpression("u8", AdPlacementType.Banner, AdPlacement.Fullscreen), "vxsdk_ad_impression",
                "{'ad_unit':'u8','placement':'fullscreen','placement_type':'banner'}"),
            new Expected(m => m.TrackAdImpression("u9", AdPlacementType.Banner, (AdPlacement)9), "vxsdk_ad_impression",
                "{'ad_unit':'u9','placement':'','placement_type':'banner'}"),
            new Expected(m => m.TrackIAPInitialization(true), "vxsdk_iap_initialization",
                "{'status':'success','store_type':'google_play'}"),
            new Expected(m => m.TrackIAPInitialization(false), "vxsdk_iap_initialization",
                "{'status':'failed','store_type':'google_play'}"),
            new Expected(m => m.TrackIAPRestorePurchase(), "vxsdk_iap_restore_purchase", "{'store_type':'google_play'}"),
            // 0.99f as a double: the price crosses as a float.
            new Expected(m => m.TrackIAPBuyStart("gems", 0.99f, 100, "USD"), "vxsdk_iap_buy",
                "{'amount':100,'currency':'USD','pack':'gems','price':0.9900000095367432,'store_type':'google_play'}"),
            new Expected(m => m.TrackIAPBuyEnd("gems", 2.5f, 1, "EUR", true), "vxsdk_iap_success_payment",
                "{'amount':1,'currency':'EUR','pack':'gems','price':2.5,'store_type':'google_play'}"),
            new Expected(m => m.TrackIAPBuyEnd("gems", 2.5f, 1, "EUR", false), "vxsdk_iap_fail_payment",
                "{'amount':1,'currency':'EUR','pack':'gems','price':2.5,'store_type':'google_play'}"),
            new Expected(m => m.TrackFacebookLogin("fb1"), "vxsdk_fb_login", "{'facebook_id':'fb1'}"),
            new Expected(m => m.TrackFacebookLogout("fb2"), "vxsdk_fb_logout", "{'facebook_id':'fb2'}"),
            new Expected(m => m.TrackUpdateGame("4.0"), "vxsdk_update_click", "{'current_version':'3.2.1','new_version':'4.0'}"),
            new Expected(m => m.TrackRateGame(), "vxsdk_store_rating_click", "{'store_type':'google_play'}"),
            new Expected(m => m.TrackSoundMode("mute"), "vxsdk_audio_sound_mode", "{'sound_mode':'mute'}"),
            new Expected(m => m.TrackAuthorizationTrackingStatus(TrackingAuthorizationStatus.Restricted),
                "vxsdk_att_authorization_tracking_status", "{'status':'restricted'}"),
            new Expected(m => m.TrackAuthorizationTrackingStatus((TrackingAuthorizationStatus)4),
                "vxsdk_att_authorization_tracking_status", "{'status':'not_determined'}"),
            new Expected(m => m.TrackAccountLogin("a1", "google"), "vxsdk_account_login", "{'id':'a1','type':'google'}"),
            new Expected(m => m.TrackAccountLogout("a2", "google"), "vxsdk_account_logout", "{'id':'a2','type':'google'}"),
            new Expected(m => m.TrackAccountLink("a3", "apple"), "vxsdk_account_link", "{'id':'a3','type':'apple'}"),
            new Expected(m => m.TrackAccountUnlink("a4", "apple"), "vxsdk_account_unlink", "{'id':'a4','type':'apple'}"),
            new Expected(m => m.TrackWalletLink("0x1"), "vxsdk_account_link_wallet", "{'type':'ethereum','wallet':'0x1'}"),
            new Expected(m => m.TrackWalletLink("0x2", "solana"), "vxsdk_account_link_wallet", "{'type':'solana','wallet':'0x2'}"),
            new Expected(m => m.TrackWalletUnlink("0x3"), "vxsdk_account_unlink_wallet", "{'type':'ethereum','wallet':'0x3'}"),
            new Expected(m => m.TrackWalletUnlink("0x4", "polygon"), "vxsdk_account_unlink_wallet", "{'type':'polygon','wallet':'0x4'}"),
            new Expected(m => m.TrackCryptoPayment("p", 1.5f, 2), "vxsdk_crypto_payment",
                "{'amount':2,'chain':'ethereum','currency':'ETH','pack':'p','price':1.5}"),
            new Expected(m => m.TrackCryptoPayment("p", 1.5f, 2, "USDC"), "vxsdk_crypto_payment",
                "{'amount':2,'chain':'ethereum','currency':'USDC','pack':'p','price':1.5}"),
            new Expected(m => m.TrackCryptoPayment("p", 1.5f, 2, "USDC", "polygon"), "vxsdk_crypto_payment",
                "{'amount':2,'chain':'polygon','currency':'USDC','pack':'p','price':1.5}"),
            new Expected(m => m.TrackCryptoPayment("p", 1.5f, 2, chain: "base"), "vxsdk_crypto_payment",
                "{'amount':2,'chain':'base','currency':'ETH','pack':'p','price':1.5}"),
            new Expected(m => m.Track("plain"), "plain", "null"),
            new Expected(m => m.TrackWithIntValue("int", -7), "int", "{'value':-7}"),
            new Expected(m => m.TrackWithStringValue("str", "{\"a\":1}"), "str", "{'value':'{\\'a\\':1}'}"),
            new Expected(m => m.TrackWithJsonValue("obj", "{\"b\":2,\"a\":[1]}"), "obj", "{'a':[1],'b':2}"),
        };

        internal static void CallEveryMember(TrackingManager manager)
        {
            foreach (Expected expected in EveryEvent)
            {
                expected.Call(manager);
            }
            foreach (Action<TrackingManager> call in EveryOtherCall)
            {
                call(manager);
            }
        }

        // Every other member of a manager.
        private static readonly Action<TrackingManager>[] EveryOtherCall =
        {
            m => m.Start(),
            m => m.OnPause(),
            m => m.OnResume(),
            m => m.UserId = "someone",
            m => m.SetConfigId("cfg"),
            m => m.SetSendVerbose(false),
            m => m.SetSendProxy("http://127.0.0.1:9"),
            m => m.SetSendProxyCertificateAuthority("ca.pem"),
            m => m.SetSendCertificateAuthority("ca.pem"),
            m => m.Stop(),
        };
    }
}
