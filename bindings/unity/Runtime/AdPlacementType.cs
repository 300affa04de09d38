namespace Corvex.Tracking
{
    /// <summary>The kind of ad of an ad event. Another (cast) number is passed on as it is.</summary>
    public enum AdPlacementType
    {
        /// <summary>A banner.</summary>
        Banner = 0,
        /// <summary>A full-screen ad between two moments of play.</summary>
        Interstitial = 1,
        /// <summary>A video the player watches for a reward.</summary>
        RewardedVideo = 2,
    }
}
