using System;
using System.Collections.Generic;
using System.Threading;

namespace Corvex.Tracking
{
    /// <summary>
    /// One tracking manager of the native library: it queues the game's events, saves them in
    /// the save folder and sends them in batches from a worker thread of its own.
    /// </summary>
    /// <remarks>
    /// <para>Threads: every member may be called from any thread, also at the same time. The
    /// native manager is destroyed only once no call on it is running, by <see cref="Dispose"/>
    /// or, for a manager the game forgets, by the finalizer (which then waits as
    /// <see cref="Stop"/> does, on the finalizer thread). A manager still alive when the process
    /// exits, or whose domain is unloaded, is disposed by the binding's handler of
    /// <c>AppDomain.ProcessExit</c> and <c>AppDomain.DomainUnload</c>, since the
    /// runtime may not run finalizers then.</para>
    /// <para>Errors: no member throws, also for null or empty arguments; a null text counts as
    /// empty in a tracking call and is ignored by a setter. After <see cref="Dispose"/> every
    /// member does nothing and <see cref="UserId"/> reads as "". Where the native library
    /// cannot be loaded (a platform without a build of it), the manager does nothing
    /// either.</para>
    /// <para>Waits: no member waits for the tracking service, except <see cref="Stop"/> and
    /// <see cref="Dispose"/> for an HTTP attempt already on the wire. Each Track method waits
    /// for its own append to the queue file and for the queue's lock, and for one sync of the
    /// file only when its append must grow a ring whose entries run round its end (a few times
    /// at most as a queue grows towards 1000 events); a full queue (1000 events) refuses the
    /// event. What the other members wait for is said beside each.</para>
    /// </remarks>
    public sealed class TrackingManager : IDisposable
    {
        // The causes already written to Log, so that each is written once.
        private static readonly HashSet<string> loggedCauses = new HashSet<string>();
        private static Action<string> log;
        // The managers not yet disposed, held weakly so that a forgotten one can
        // still be collected; ProcessExit disposes them, as CoreCLR runs no
        // finalizers at exit and Mono may not reach them all.
        private static readonly List<WeakReference<TrackingManager>> live = new List<WeakReference<TrackingManager>>();
        private static bool exitHooked;
        private readonly TrackingManagerHandle handle;
        private WeakReference<TrackingManager> liveEntry;
        private int disposed;
        // Set by the first call that finds the native library or one of its
        // exports missing: from then on nothing is called.
        private volatile bool inert;

        /// <summary>
        /// Creates the native manager. Waits for the disk: loading the saved queue, one sync of
        /// the queue file (more when a crash left it to be written anew) and writing the
        /// properties file, up to about 100 ms more while another application claims the folder's
        /// queue. The key also names the queue file, so that a queue goes out only under the key
        /// that accepted it.
        /// </summary>
        /// <param name="key">The application's key: the user name of HTTP Basic authentication at the tracking service.</param>
        /// <param name="secret">The application's secret: the password of that authentication.</param>
        /// <param name="data">The settings, read only here; null means the library's defaults, which a new <see cref="InitializationData"/> holds too.</param>
        public TrackingManager(string key, string secret, InitializationData data = null)
        {
            handle = new TrackingManagerHandle();
            try
            {
                IntPtr record = NativeMethods.InitializationData_Create();
                try
                {
                    if (data != null)
                    {
                        Fill(record, data);
                    }
                    handle.Adopt(NativeMethods.TrackingManager_Create(
                        NativeText.ToNative(key), NativeText.ToNative(secret), record));
                    if (!handle.IsInvalid)
                    {
                        AddToLive();
                    }
                }
                finally
                {
                    NativeMethods.InitializationData_Destroy(record);
                }
            }
            catch (Exception error) when (IsLibraryMissing(error))
            {
                inert = true;
                Report(error);
            }
        }

        /// <summary>
        /// Receives one line when the native library or one of its exports is found missing, from
        /// then on tracking nothing; once per cause for the process, on the thread of the call
        /// that found it. Null (the default) writes nothing; a cause found while it is null is
        /// written when found again. What it throws is ignored.
        /// </summary>
        public static Action<string> Log
        {
            get { return Volatile.Read(ref log); }
            set { Volatile.Write(ref log, value); }
        }

        /// <summary>The native library's version, such as "0.0.1-cpp"; "" where it cannot be loaded.</summary>
        public static string Version
        {
            get
            {
                try
                {
                    return NativeText.TakeFromNative(NativeMethods.TrackingManager_GetVersion());
                }
                catch (Exception error) when (IsLibraryMissing(error))
                {
                    Report(error);
                    return "";
                }
            }
        }

        /// <summary>
        /// The player's id. Reading it waits for short locks only; setting it waits for writing
        /// the properties file, while other calls go on. Setting null is ignored.
        /// </summary>
        public string UserId
        {
            get
            {
                IntPtr text = IntPtr.Zero;
                Call(h => text = NativeMethods.TrackingManager_GetUserId(h));
                return NativeText.TakeFromNative(text);
            }
            set
            {
                byte[] text = NativeText.ToNative(value);
                Call(h => NativeMethods.TrackingManager_SetUserId(h, text));
            }
        }

        /// <summary>Replaces the configuration id of the coming events; null is ignored.</summary>
        public void SetConfigId(string configId)
        {
            byte[] text = NativeText.ToNative(configId);
            Call(h => NativeMethods.TrackingManager_SetConfigId(h, text));
        }

        /// <summary>
        /// Starts the worker and opens a session. Waits for reading the network adapters (the
        /// open event's local address) and for the open event's append.
        /// </summary>
        public void Start()
        {
            Call(h => NativeMethods.TrackingManager_Start(h));
        }

        /// <summary>
        /// Stops the worker, waiting for an HTTP attempt already on the wire, up to about 5 s, then
        /// for one sync of the queue file. Queued events stay saved, on stable storage, for a later
        /// <see cref="Start"/> or the next run.
        /// </summary>
        public void Stop()
        {
            Call(h => NativeMethods.TrackingManager_Stop(h));
        }

        /// <summary>Notes that the game lost focus (from <c>OnApplicationPause(true)</c> or <c>OnApplicationFocus(false)</c>).</summary>
        public void OnPause()
        {
            Call(h => NativeMethods.TrackingManager_OnPause(h));
        }

        /// <summary>
        /// Notes that the game is back; opens a new session after more than 30 s away, and then
        /// waits as <see cref="Start"/> does.
        /// </summary>
        public void OnResume()
        {
            Call(h => NativeMethods.TrackingManager_OnResume(h));
        }

        /// <summary>
        /// Stops the worker as <see cref="Stop"/> does, then destroys the native manager once no
        /// other call on it runs. Unsent events stay saved for the next run. A second call does
        /// nothing.
        /// </summary>
        public void Dispose()
        {
            if (Interlocked.Exchange(ref disposed, 1) != 0)
            {
                return;
            }
            lock (live)
            {
                live.Remove(liveEntry);
            }
            if (!inert)
            {
                try
                {
                    NativeMethods.TrackingManager_Stop(handle);
                }
                catch (Exception error) when (IsLibraryMissing(error))
                {
                    Report(error);
                }
            }
            handle.Dispose();
        }

        /// <summary>Logs the transport's exchanges on the library's side (libcurl's verbose output).</summary>
        public void SetSendVerbose(bool verbose)
        {
            Call(h => NativeMethods.TrackingManager_SetSendVerbose(h, verbose ? 1 : 0));
        }

        /// <summary>Sends through this proxy, such as "http://127.0.0.1:8470", from the next request on; null is ignored.</summary>
        public void SetSendProxy(string proxy)
        {
            byte[] text = NativeText.ToNative(proxy);
            Call(h => NativeMethods.TrackingManager_SetSendProxy(h, text));
        }

        /// <summary>Checks an HTTPS proxy against the certificate authorities of this PEM file; null is ignored.</summary>
        public void SetSendProxyCertificateAuthority(string caFilePath)
        {
            byte[] text = NativeText.ToNative(caFilePath);
            Call(h => NativeMethods.TrackingManager_SetSendProxyCertificateAuthority(h, text));
        }

        /// <summary>Checks the tracking service against the certificate authorities of this PEM file; null is ignored.</summary>
        public void SetSendCertificateAuthority(string caFilePath)
        {
            byte[] text = NativeText.ToNative(caFilePath);
            Call(h => NativeMethods.TrackingManager_SetSendCertificateAuthority(h, text));
        }

        /// <summary>The game started booting.</summary>
        public void TrackBootStart()
        {
            Call(h => NativeMethods.TrackingManager_TrackBootStart(h));
        }

        /// <summary>The game finished booting; the event holds the time since <see cref="TrackBootStart"/>.</summary>
        public void TrackBootEnd()
        {
            Call(h => NativeMethods.TrackingManager_TrackBootEnd(h));
        }

        /// <summary>The player started a level.</summary>
        public void TrackLevelStart(int level, string label)
        {
            byte[] labelText = NativeText.ToNative(label);
            Call(h => NativeMethods.TrackingManager_TrackLevelStart(h, level, labelText));
        }

        /// <summary>The player completed or failed a level.</summary>
        public void TrackLevelEnd(int level, string label, bool completed)
        {
            byte[] labelText = NativeText.ToNative(label);
            Call(h => NativeMethods.TrackingManager_TrackLevelEnd(h, level, labelText, completed ? 1 : 0));
        }

        /// <summary>An ad was loaded. <see cref="AdPlacement.Automatic"/> lets the library report the placement.</summary>
        public void TrackAdLoad(string adUnit, AdPlacementType type, AdPlacement placement = AdPlacement.Automatic)
        {
            TrackAd(adUnit, type, placement,
                (h, unit, kind) => NativeMethods.TrackingManager_TrackAdLoad(h, unit, kind),
                (h, unit, kind, place) => NativeMethods.TrackingManager_TrackAdLoad2(h, unit, kind, place));
        }

        /// <summary>An ad was closed. <see cref="AdPlacement.Automatic"/> lets the library report the placement.</summary>
        public void TrackAdClose(string adUnit, AdPlacementType type, AdPlacement placement = AdPlacement.Automatic)
        {
            TrackAd(adUnit, type, placement,
                (h, unit, kind) => NativeMethods.TrackingManager_TrackAdClose(h, unit, kind),
                (h, unit, kind, place) => NativeMethods.TrackingManager_TrackAdClose2(h, unit, kind, place));
        }

        /// <summary>An ad was clicked. <see cref="AdPlacement.Automatic"/> lets the library report the placement.</summary>
        public void TrackAdClick(string adUnit, AdPlacementType type, AdPlacement placement = AdPlacement.Automatic)
        {
            TrackAd(adUnit, type, placement,
                (h, unit, kind) => NativeMethods.TrackingManager_TrackAdClick(h, unit, kind),
                (h, unit, kind, place) => NativeMethods.TrackingManager_TrackAdClick2(h, unit, kind, place));
        }

        /// <summary>An ad was shown. <see cref="AdPlacement.Automatic"/> lets the library report the placement.</summary>
        public void TrackAdImpression(string adUnit, AdPlacementType type, AdPlacement placement = AdPlacement.Automatic)
        {
            TrackAd(adUnit, type, placement,
                (h, unit, kind) => NativeMethods.TrackingManager_TrackAdImpression(h, unit, kind),
                (h, unit, kind, place) => NativeMethods.TrackingManager_TrackAdImpression2(h, unit, kind, place));
        }

        /// <summary>The in-app purchase system started, or failed to.</summary>
        public void TrackIAPInitialization(bool success)
        {
            Call(h => NativeMethods.TrackingManager_TrackIAPInitialization(h, success ? 1 : 0));
        }

        /// <summary>The player restored their purchases.</summary>
        public void TrackIAPRestorePurchase()
        {
            Call(h => NativeMethods.TrackingManager_TrackIAPRestorePurchase(h));
        }

        /// <summary>The player started buying a pack.</summary>
        public void TrackIAPBuyStart(string pack, float price, int amount, string currency)
        {
            byte[] packText = NativeText.ToNative(pack);
            byte[] currencyText = NativeText.ToNative(currency);
            Call(h => NativeMethods.TrackingManager_TrackIAPBuyStart(h, packText, price, amount, currencyText));
        }

        /// <summary>A purchase went through or failed.</summary>
        public void TrackIAPBuyEnd(string pack, float price, int amount, string currency, bool success)
        {
            byte[] packText = NativeText.ToNative(pack);
            byte[] currencyText = NativeText.ToNative(currency);
            Call(h => NativeMethods.TrackingManager_TrackIAPBuyEnd(
                h, packText, price, amount, currencyText, success ? 1 : 0));
        }

        /// <summary>The player logged in with a social account.</summary>
        public void TrackFacebookLogin(string facebookId)
        {
            byte[] id = NativeText.ToNative(facebookId);
            Call(h => NativeMethods.TrackingManager_TrackFacebookLogin(h, id));
        }

        /// <summary>The player logged out of a social account.</summary>
        public void TrackFacebookLogout(string facebookId)
        {
            byte[] id = NativeText.ToNative(facebookId);
            Call(h => NativeMethods.TrackingManager_TrackFacebookLogout(h, id));
        }

        /// <summary>The player chose to update the game to a new version.</summary>
        public void TrackUpdateGame(string newVersion)
        {
            byte[] version = NativeText.ToNative(newVersion);
            Call(h => NativeMethods.TrackingManager_TrackUpdateGame(h, version));
        }

        /// <summary>The player chose to rate the game in its store.</summary>
        public void TrackRateGame()
        {
            Call(h => NativeMethods.TrackingManager_TrackRateGame(h));
        }

        /// <summary>The player changed the sound mode.</summary>
        public void TrackSoundMode(string soundMode)
        {
            byte[] mode = NativeText.ToNative(soundMode);
            Call(h => NativeMethods.TrackingManager_TrackSoundMode(h, mode));
        }

        /// <summary>The player answered the system's tracking request.</summary>
        public void TrackAuthorizationTrackingStatus(TrackingAuthorizationStatus status)
        {
            Call(h => NativeMethods.TrackingManager_TrackAuthorizationTrackingStatus(h, (int)status));
        }

        /// <summary>The player logged in to an account of the given type.</summary>
        public void TrackAccountLogin(string id, string type)
        {
            byte[] idText = NativeText.ToNative(id);
            byte[] typeText = NativeText.ToNative(type);
            Call(h => NativeMethods.TrackingManager_TrackAccountLogin(h, idText, typeText));
        }

        /// <summary>The player logged out of an account of the given type.</summary>
        public void TrackAccountLogout(string id, string type)
        {
            byte[] idText = NativeText.ToNative(id);
            byte[] typeText = NativeText.ToNative(type);
            Call(h => NativeMethods.TrackingManager_TrackAccountLogout(h, idText, typeText));
        }

        /// <summary>The player linked an account of the given type.</summary>
        public void TrackAccountLink(string id, string type)
        {
            byte[] idText = NativeText.ToNative(id);
            byte[] typeText = NativeText.ToNative(type);
            Call(h => NativeMethods.TrackingManager_TrackAccountLink(h, idText, typeText));
        }

        /// <summary>The player unlinked an account of the given type.</summary>
        public void TrackAccountUnlink(string id, string type)
        {
            byte[] idText = NativeText.ToNative(id);
            byte[] typeText = NativeText.ToNative(type);
            Call(h => NativeMethods.TrackingManager_TrackAccountUnlink(h, idText, typeText));
        }

        /// <summary>The player linked a wallet; a null chain lets the library report its default chain.</summary>
        public void TrackWalletLink(string wallet, string chain = null)
        {
            TrackWallet(wallet, chain,
                (h, address) => NativeMethods.TrackingManager_TrackWalletLink(h, address),
                (h, address, network) => NativeMethods.TrackingManager_TrackWalletLink2(h, address, network));
        }

        /// <summary>The player unlinked a wallet; a null chain lets the library report its default chain.</summary>
        public void TrackWalletUnlink(string wallet, string chain = null)
        {
            TrackWallet(wallet, chain,
                (h, address) => NativeMethods.TrackingManager_TrackWalletUnlink(h, address),
                (h, address, network) => NativeMethods.TrackingManager_TrackWalletUnlink2(h, address, network));
        }

        /// <summary>
        /// The player paid in a crypto currency. A null currency or chain lets the library report
        /// its default ("ETH" on "ethereum").
        /// </summary>
        public void TrackCryptoPayment(string pack, float price, int amount, string currency = null, string chain = null)
        {
            byte[] packText = NativeText.ToNative(pack);
            byte[] currencyText = NativeText.ToNative(currency);
            byte[] chainText = NativeText.ToNative(chain);
            if (chain != null)
            {
                Call(h => NativeMethods.TrackingManager_TrackCryptoPayment3(h, packText, price, amount, currencyText, chainText));
            }
            else if (currency != null)
            {
                Call(h => NativeMethods.TrackingManager_TrackCryptoPayment2(h, packText, price, amount, currencyText));
            }
            else
            {
                Call(h => NativeMethods.TrackingManager_TrackCryptoPayment(h, packText, price, amount));
            }
        }

        /// <summary>An event of the game's own, without a value.</summary>
        public void Track(string name)
        {
            byte[] nameText = NativeText.ToNative(name);
            Call(h => NativeMethods.TrackingManager_Track(h, nameText));
        }

        /// <summary>An event of the game's own with a number, sent as {"value":N}.</summary>
        public void TrackWithIntValue(string name, int value)
        {
            byte[] nameText = NativeText.ToNative(name);
            Call(h => NativeMethods.TrackingManager_TrackWithIntValue(h, nameText, value));
        }

        /// <summary>An event of the game's own with a text, sent as {"value":"..."}.</summary>
        public void TrackWithStringValue(string name, string value)
        {
            byte[] nameText = NativeText.ToNative(name);
            byte[] valueText = NativeText.ToNative(value);
            Call(h => NativeMethods.TrackingManager_TrackWithStringValue(h, nameText, valueText));
        }

        /// <summary>An event of the game's own whose value is this JSON text; text that does not parse gives a null value.</summary>
        public void TrackWithJsonValue(string name, string json)
        {
            byte[] nameText = NativeText.ToNative(name);
            byte[] jsonText = NativeText.ToNative(json);
            Call(h => NativeMethods.TrackingManager_TrackWithJsonValue(h, nameText, jsonText));
        }

        // Every setter, so that the record holds exactly the managed settings.
        private static void Fill(IntPtr record, InitializationData data)
        {
            NativeMethods.InitializationData_SetSavePath(record, NativeText.ToNative(data.SavePath));
            NativeMethods.InitializationData_SetUserId(record, NativeText.ToNative(data.UserId));
            NativeMethods.InitializationData_SetConfigId(record, NativeText.ToNative(data.ConfigId));
            NativeMethods.InitializationData_SetAppVersion(record, NativeText.ToNative(data.AppVersion));
            NativeMethods.InitializationData_SetAppBuildNumber(record, NativeText.ToNative(data.AppBuildNumber));
            NativeMethods.InitializationData_SetBundleId(record, NativeText.ToNative(data.BundleId));
            NativeMethods.InitializationData_SetCountry(record, NativeText.ToNative(data.Country));
            NativeMethods.InitializationData_SetDeviceModel(record, NativeText.ToNative(data.DeviceModel));
            NativeMethods.InitializationData_SetStoreType(record, (int)data.StoreType);
            NativeMethods.InitializationData_SetMaxRetries(record, data.MaxRetries);
            NativeMethods.InitializationData_SetInitialRetryInterval(record, data.InitialRetryInterval);
            NativeMethods.InitializationData_SetFlushQueueSize(record, data.FlushQueueSize);
            NativeMethods.InitializationData_SetFlushSendSize(record, data.FlushSendSize);
            NativeMethods.InitializationData_SetQueueCheckInterval(record, data.QueueCheckInterval);
            NativeMethods.InitializationData_SetSendDelay(record, data.SendDelay);
            NativeMethods.InitializationData_SetEnableSave(record, data.EnableSave ? 1 : 0);
            NativeMethods.InitializationData_SetCustomUserId(record, data.CustomUserId ? 1 : 0);
            NativeMethods.InitializationData_SetCustomConfigId(record, data.CustomConfigId ? 1 : 0);
        }

        // Automatic calls the export without a placement, any other value the one with.
        private void TrackAd(string adUnit, AdPlacementType type, AdPlacement placement,
            Action<TrackingManagerHandle, byte[], int> withoutPlacement,
            Action<TrackingManagerHandle, byte[], int, int> withPlacement)
        {
            byte[] unit = NativeText.ToNative(adUnit);
            if (placement == AdPlacement.Automatic)
            {
                Call(h => withoutPlacement(h, unit, (int)type));
            }
            else
            {
                Call(h => withPlacement(h, unit, (int)type, (int)placement));
            }
        }

        // A null chain calls the export without a chain.
        private void TrackWallet(string wallet, string chain,
            Action<TrackingManagerHandle, byte[]> withoutChain, Action<TrackingManagerHandle, byte[], byte[]> withChain)
        {
            byte[] walletText = NativeText.ToNative(wallet);
            byte[] chainText = NativeText.ToNative(chain);
            if (chain == null)
            {
                Call(h => withoutChain(h, walletText));
            }
            else
            {
                Call(h => withChain(h, walletText, chainText));
            }
        }

        // Hooks the end of the process and of the domain with the first manager
        // (Mono, as in Unity's editor, unloads the scripts' domain on a reload
        // while the process goes on; CoreCLR never unloads its one domain), and
        // drops the entries of managers collected since.
        private void AddToLive()
        {
            lock (live)
            {
                if (!exitHooked)
                {
                    AppDomain.CurrentDomain.ProcessExit += DisposeLive;
                    AppDomain.CurrentDomain.DomainUnload += DisposeLive;
                    exitHooked = true;
                }
                live.RemoveAll(entry =>
                {
                    TrackingManager manager;
                    return !entry.TryGetTarget(out manager);
                });
                liveEntry = new WeakReference<TrackingManager>(this);
                live.Add(liveEntry);
            }
        }

        // Disposes outside the lock, which each Dispose takes.
        private static void DisposeLive(object sender, EventArgs args)
        {
            var managers = new List<TrackingManager>();
            lock (live)
            {
                foreach (WeakReference<TrackingManager> entry in live)
                {
                    TrackingManager manager;
                    if (entry.TryGetTarget(out manager))
                    {
                        managers.Add(manager);
                    }
                }
            }
            foreach (TrackingManager manager in managers)
            {
                manager.Dispose();
            }
        }

        // Runs one call on the native manager unless it is disposed or inert. A
        // Dispose on another thread between the check and the call makes the
        // marshaller refuse the closed handle, which is taken as "disposed".
        private void Call(Action<TrackingManagerHandle> call)
        {
            if (inert || Volatile.Read(ref disposed) != 0)
            {
                return;
            }
            try
            {
                call(handle);
            }
            catch (ObjectDisposedException)
            {
            }
            catch (Exception error) when (IsLibraryMissing(error))
            {
                inert = true;
                Report(error);
            }
        }

        private static bool IsLibraryMissing(Exception error)
        {
            return error is DllNotFoundException || error is EntryPointNotFoundException;
        }

        // Writes the cause of a missing library or export to Log, unless it was
        // written before. The runtime's message names the library or the export.
        private static void Report(Exception error)
        {
            Action<string> host = Log;
            if (host == null)
            {
                return;
            }
            string cause = error.GetType().Name + ": " + error.Message;
            lock (loggedCauses)
            {
                if (!loggedCauses.Add(cause))
                {
                    return;
                }
            }
            string what = error is DllNotFoundException
                ? "the native library could not be loaded"
                : "the native library lacks an export";
            try
            {
                host("Corvex Tracking: " + what + " (" + cause + "); tracking is off.");
            }
            catch (Exception)
            {
            }
        }
    }
}
