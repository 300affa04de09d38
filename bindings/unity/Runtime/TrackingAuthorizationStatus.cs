namespace Corvex.Tracking
{
    /// <summary>The player's answer to the system's request to track them. Another (cast) number is passed on as it is.</summary>
    public enum TrackingAuthorizationStatus
    {
        /// <summary>Not asked yet.</summary>
        NotDetermined = 0,
        /// <summary>The device does not let the player decide.</summary>
        Restricted = 1,
        /// <summary>The player refused.</summary>
        Denied = 2,
        /// <summary>The player agreed.</summary>
        Authorized = 3,
    }
}
