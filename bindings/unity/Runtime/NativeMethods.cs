using System;
using System.Runtime.InteropServices;

namespace Corvex.Tracking
{
    // The library's C exports, declared so that Mono, .NET and IL2CPP all
    // marshal them alike: texts go in as NUL-terminated UTF-8 byte arrays,
    // returned texts come back as IntPtr, and the manager is passed as its
    // SafeHandle, on which the marshaller holds a reference during the call.
    internal static class NativeMethods
    {
        private const string Library = "corvex_tracking";

        // ---- Configuration record ----
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr InitializationData_Create();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_Destroy(IntPtr data);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetSavePath(IntPtr data, byte[] path);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetUserId(IntPtr data, byte[] userId);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetConfigId(IntPtr data, byte[] configId);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetAppVersion(IntPtr data, byte[] appVersion);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetAppBuildNumber(IntPtr data, byte[] appBuildNumber);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetBundleId(IntPtr data, byte[] bundleId);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetCountry(IntPtr data, byte[] country);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetDeviceModel(IntPtr data, byte[] deviceModel);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetStoreType(IntPtr data, int storeType);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetMaxRetries(IntPtr data, int maxRetries);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetInitialRetryInterval(IntPtr data, int milliseconds);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetFlushQueueSize(IntPtr data, int events);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetFlushSendSize(IntPtr data, int events);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetQueueCheckInterval(IntPtr data, int milliseconds);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetSendDelay(IntPtr data, int milliseconds);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetEnableSave(IntPtr data, int enable);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetCustomUserId(IntPtr data, int custom);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void InitializationData_SetCustomConfigId(IntPtr data, int custom);

        // ---- Lifecycle and identity ----
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr TrackingManager_Create(byte[] user, byte[] password, IntPtr data);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_Destroy(IntPtr manager);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_Start(TrackingManagerHandle manager);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_Stop(TrackingManagerHandle manager);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_OnPause(TrackingManagerHandle manager);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_OnResume(TrackingManagerHandle manager);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_SetUserId(TrackingManagerHandle manager, byte[] userId);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr TrackingManager_GetUserId(TrackingManagerHandle manager);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_SetConfigId(TrackingManagerHandle manager, byte[] configId);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr TrackingManager_GetVersion();

        // ---- Transport options ----
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_SetSendVerbose(TrackingManagerHandle manager, int verbose);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_SetSendProxy(TrackingManagerHandle manager, byte[] proxy);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_SetSendProxyCertificateAuthority(TrackingManagerHandle manager, byte[] caFilePath);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_SetSendCertificateAuthority(TrackingManagerHandle manager, byte[] caFilePath);

        // ---- Typed events ----
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackBootStart(TrackingManagerHandle manager);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackBootEnd(TrackingManagerHandle manager);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackLevelStart(TrackingManagerHandle manager, int level, byte[] label);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackLevelEnd(TrackingManagerHandle manager, int level, byte[] label, int result);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAdLoad(TrackingManagerHandle manager, byte[] adUnit, int placementType);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAdLoad2(TrackingManagerHandle manager, byte[] adUnit, int placementType, int placement);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAdClose(TrackingManagerHandle manager, byte[] adUnit, int placementType);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAdClose2(TrackingManagerHandle manager, byte[] adUnit, int placementType, int placement);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAdClick(TrackingManagerHandle manager, byte[] adUnit, int placementType);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAdClick2(TrackingManagerHandle manager, byte[] adUnit, int placementType, int placement);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAdImpression(TrackingManagerHandle manager, byte[] adUnit, int placementType);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAdImpression2(TrackingManagerHandle manager, byte[] adUnit, int placementType, int placement);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackIAPInitialization(TrackingManagerHandle manager, int result);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackIAPRestorePurchase(TrackingManagerHandle manager);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackIAPBuyStart(TrackingManagerHandle manager, byte[] pack, float price, int amount, byte[] currency);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackIAPBuyEnd(TrackingManagerHandle manager, byte[] pack, float price, int amount, byte[] currency, int result);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackFacebookLogin(TrackingManagerHandle manager, byte[] facebookId);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackFacebookLogout(TrackingManagerHandle manager, byte[] facebookId);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackUpdateGame(TrackingManagerHandle manager, byte[] newVersion);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackRateGame(TrackingManagerHandle manager);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackSoundMode(TrackingManagerHandle manager, byte[] soundMode);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAuthorizationTrackingStatus(TrackingManagerHandle manager, int status);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAccountLogin(TrackingManagerHandle manager, byte[] id, byte[] type);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAccountLogout(TrackingManagerHandle manager, byte[] id, byte[] type);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAccountLink(TrackingManagerHandle manager, byte[] id, byte[] type);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackAccountUnlink(TrackingManagerHandle manager, byte[] id, byte[] type);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackWalletLink(TrackingManagerHandle manager, byte[] wallet);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackWalletLink2(TrackingManagerHandle manager, byte[] wallet, byte[] chain);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackWalletUnlink(TrackingManagerHandle manager, byte[] wallet);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackWalletUnlink2(TrackingManagerHandle manager, byte[] wallet, byte[] chain);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackCryptoPayment(TrackingManagerHandle manager, byte[] pack, float price, int amount);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackCryptoPayment2(TrackingManagerHandle manager, byte[] pack, float price, int amount, byte[] currency);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackCryptoPayment3(TrackingManagerHandle manager, byte[] pack, float price, int amount, byte[] currency, byte[] chain);

        // ---- Custom events ----
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_Track(TrackingManagerHandle manager, byte[] name);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackWithIntValue(TrackingManagerHandle manager, byte[] name, int value);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackWithStringValue(TrackingManagerHandle manager, byte[] name, byte[] value);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void TrackingManager_TrackWithJsonValue(TrackingManagerHandle manager, byte[] name, byte[] json);

        // ---- The C runtime's free, for the texts the library returns ----
        // Those texts come from the library's malloc and must go back to the same
        // C runtime: a string or MarshalAs return type would make the .NET
        // marshaller release them with CoTaskMemFree, another heap on Windows, and
        // corrupt the game's memory. On Windows the library's C runtime is the UCRT.
        [DllImport("ucrtbase", EntryPoint = "free", CallingConvention = CallingConvention.Cdecl)]
        private static extern void FreeWithUcrt(IntPtr memory);
        [DllImport("libc.so.6", EntryPoint = "free", CallingConvention = CallingConvention.Cdecl)]
        private static extern void FreeWithLibc(IntPtr memory);

        private static readonly bool OnWindows = Environment.OSVersion.Platform == PlatformID.Win32NT;

        internal static void Free(IntPtr memory)
        {
            if (OnWindows)
            {
                FreeWithUcrt(memory);
            }
            else
            {
                FreeWithLibc(memory);
            }
        }
    }
}
