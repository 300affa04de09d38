namespace Corvex.Tracking
{
    /// <summary>The store the game was installed from, reported with the purchase and store events.</summary>
    public enum StoreType
    {
        /// <summary>Reported as "other", as is any number outside this list.</summary>
        Other = -1,
        /// <summary>Reported as "app_store".</summary>
        AppStore = 0,
        /// <summary>Reported as "google_play".</summary>
        GooglePlay = 1,
        /// <summary>Reported as "amazon_store".</summary>
        AmazonStore = 2,
        /// <summary>Reported as "microsoft_store".</summary>
        MicrosoftStore = 3,
    }
}
