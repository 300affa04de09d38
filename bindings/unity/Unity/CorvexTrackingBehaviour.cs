using System.IO;
using UnityEngine;

namespace Corvex.Tracking.Unity
{
    /// <summary>
    /// The tracking manager of a scene object: made and started in <c>Awake</c> with the settings
    /// of the inspector, told of focus and pause changes through an
    /// <see cref="ApplicationLifecycle"/>, and disposed when the game quits or the object goes.
    /// One per game: a second one removes itself. It also writes the binding's diagnostics
    /// (<see cref="TrackingManager.Log"/>) to the console as warnings.
    /// </summary>
    public sealed class CorvexTrackingBehaviour : MonoBehaviour
    {
        private static CorvexTrackingBehaviour instance;
        private static string autoStartKey;
        private static string autoStartSecret;

        [SerializeField, Tooltip("The application's key.")]
        private string appKey = "";

        [SerializeField, Tooltip("The application's secret.")]
        private string appSecret = "";

        [SerializeField, Tooltip("The save folder, under Application.persistentDataPath.")]
        private string saveFolder = "CorvexTracking";

        [SerializeField, Tooltip("The store the game is sold in.")]
        private StoreType storeType = StoreType.Other;

        [SerializeField, Tooltip("The configuration id of the events; empty for default.")]
        private string configId = "";

        [SerializeField, Tooltip("The country of the player, such as FR; empty to leave it to the library.")]
        private string country = "";

        [SerializeField, Tooltip("Keeps the object, and so the session, across scene loads.")]
        private bool keepAcrossScenes = true;

        private ApplicationLifecycle lifecycle;

        /// <summary>
        /// The manager of the last object woken; null before. After quitting it is disposed and
        /// does nothing.
        /// </summary>
        public static TrackingManager Manager { get; private set; }

        /// <summary>
        /// Makes the game create an object with this component after its first scene loads, with
        /// these credentials and the inspector's defaults otherwise, unless an object of the scene
        /// has one already. Off unless called, for instance from a method of the game marked
        /// <c>[RuntimeInitializeOnLoadMethod(RuntimeInitializeLoadType.BeforeSceneLoad)]</c>.
        /// </summary>
        public static void EnableAutoStart(string key, string secret)
        {
            autoStartKey = key;
            autoStartSecret = secret;
        }

        // Statics survive play sessions when the editor does not reload the
        // domain: each session starts from a clean state.
        [RuntimeInitializeOnLoadMethod(RuntimeInitializeLoadType.SubsystemRegistration)]
        private static void ResetStatics()
        {
            instance = null;
            Manager = null;
            autoStartKey = null;
            autoStartSecret = null;
            TrackingManager.Log = Debug.LogWarning;
        }

        [RuntimeInitializeOnLoadMethod(RuntimeInitializeLoadType.AfterSceneLoad)]
        private static void AutoStart()
        {
            if (autoStartKey == null || instance != null)
            {
                return;
            }
            // Inactive until its credentials are set: Awake runs on activation.
            var owner = new GameObject("Corvex Tracking");
            owner.SetActive(false);
            CorvexTrackingBehaviour component = owner.AddComponent<CorvexTrackingBehaviour>();
            component.appKey = autoStartKey;
            component.appSecret = autoStartSecret;
            owner.SetActive(true);
        }

        private void Awake()
        {
            if (instance != null && instance != this)
            {
                Debug.LogWarning("Corvex Tracking: a second CorvexTrackingBehaviour on " + name + " was removed.");
                Destroy(this);
                return;
            }
            instance = this;
            if (keepAcrossScenes)
            {
                DontDestroyOnLoad(gameObject);
            }
            Manager = new TrackingManager(appKey, appSecret, new InitializationData
            {
                SavePath = Path.Combine(Application.persistentDataPath, saveFolder),
                AppVersion = Application.version,
                BundleId = Application.identifier,
                StoreType = storeType,
                ConfigId = configId,
                Country = country,
            });
            Manager.Start();
            lifecycle = new ApplicationLifecycle(Manager);
        }

        private void OnApplicationFocus(bool focused)
        {
            if (lifecycle != null)
            {
                lifecycle.FocusChanged(focused);
            }
        }

        private void OnApplicationPause(bool paused)
        {
            if (lifecycle != null)
            {
                lifecycle.PauseChanged(paused);
            }
        }

        // Also when play mode ends in the editor: the editor keeps native
        // plug-ins loaded, and a live manager would keep the queue file's lock.
        private void OnApplicationQuit()
        {
            if (lifecycle != null)
            {
                lifecycle.Quit();
            }
        }

        private void OnDestroy()
        {
            if (lifecycle != null)
            {
                lifecycle.Quit();
            }
            if (instance == this)
            {
                instance = null;
            }
        }
    }
}
