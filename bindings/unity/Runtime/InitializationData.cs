namespace Corvex.Tracking
{
    /// <summary>
    /// The settings a <see cref="TrackingManager"/> is created with: a plain managed object that
    /// holds no native memory. A new object holds the library's defaults; the manager reads it
    /// only in its constructor, so it may be changed or reused afterwards.
    /// </summary>
    public sealed class InitializationData
    {
        /// <summary>
        /// The folder of the saved queue and of the user id. "" means the library's per-user
        /// folder, which every program on the machine that uses the library shares: a game should
        /// give a folder of its own, such as one under <c>Application.persistentDataPath</c>.
        /// </summary>
        public string SavePath { get; set; } = "";

        /// <summary>The player's id. "" keeps the saved id, or makes a new one unless <see cref="CustomUserId"/> is set.</summary>
        public string UserId { get; set; } = "";

        /// <summary>The configuration id sent with every event. "" means "default" unless <see cref="CustomConfigId"/> is set.</summary>
        public string ConfigId { get; set; } = "";

        /// <summary>The game's version, "0.0.1" by default.</summary>
        public string AppVersion { get; set; } = "0.0.1";

        /// <summary>The game's build number, "1" by default.</summary>
        public string AppBuildNumber { get; set; } = "1";

        /// <summary>The game's bundle id, sent with every request.</summary>
        public string BundleId { get; set; } = "";

        /// <summary>The player's country, sent with every request and in the session's open event.</summary>
        public string Country { get; set; } = "";

        /// <summary>The device's model, sent with every request and in the session's open event.</summary>
        public string DeviceModel { get; set; } = "";

        /// <summary>The store the game was installed from, <see cref="Tracking.StoreType.Other"/> by default.</summary>
        public StoreType StoreType { get; set; } = StoreType.Other;

        /// <summary>How many times a failed request is tried again before the batch waits for a later round, 3 by default.</summary>
        public int MaxRetries { get; set; } = 3;

        /// <summary>The wait before the first retry in milliseconds, 500 by default; each later wait is three times longer.</summary>
        public int InitialRetryInterval { get; set; } = 500;

        /// <summary>The number of queued events that sends a request at once, 3 by default.</summary>
        public int FlushQueueSize { get; set; } = 3;

        /// <summary>The largest number of events in one request, 50 by default.</summary>
        public int FlushSendSize { get; set; } = 50;

        /// <summary>How often the worker looks at the queue in milliseconds, 100 by default.</summary>
        public int QueueCheckInterval { get; set; } = 100;

        /// <summary>How long a shorter queue waits before it is sent in milliseconds, 1000 by default.</summary>
        public int SendDelay { get; set; } = 1000;

        /// <summary>Whether the queue and the user id are saved in <see cref="SavePath"/>, true by default.</summary>
        public bool EnableSave { get; set; } = true;

        /// <summary>When set, an empty <see cref="UserId"/> stays empty instead of a new id being made.</summary>
        public bool CustomUserId { get; set; }

        /// <summary>When set, an empty <see cref="ConfigId"/> stays empty instead of becoming "default".</summary>
        public bool CustomConfigId { get; set; }
    }
}
