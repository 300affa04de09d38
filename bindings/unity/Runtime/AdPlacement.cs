namespace Corvex.Tracking
{
    /// <summary>Where an ad shows on the screen. Another (cast) number is passed on as it is.</summary>
    public enum AdPlacement
    {
        /// <summary>No placement given: the library reports bottom for banners, fullscreen for the others.</summary>
        Automatic = -1,
        /// <summary>At the bottom of the screen.</summary>
        Bottom = 0,
        /// <summary>At the top of the screen.</summary>
        Top = 1,
        /// <summary>On the left of the screen.</summary>
        Left = 2,
        /// <summary>On the right of the screen.</summary>
        Right = 3,
        /// <summary>Over the whole screen.</summary>
        Fullscreen = 4,
    }
}
