using System;
using System.Runtime.CompilerServices;

// The tests drive the state machine through its internal constructor.
[assembly: InternalsVisibleTo("CorvexTrackingTests")]

namespace Corvex.Tracking
{
    /// <summary>
    /// Turns the game's focus and pause changes into <see cref="TrackingManager.OnPause"/> and
    /// <see cref="TrackingManager.OnResume"/> calls, and quitting into
    /// <see cref="TrackingManager.Dispose"/>: forward <c>OnApplicationFocus</c>,
    /// <c>OnApplicationPause</c> and <c>OnApplicationQuit</c> to it.
    /// </summary>
    /// <remarks>
    /// <para>The game counts as present from the start (the manager's <see cref="TrackingManager.Start"/>
    /// opened the session), away from the first focus loss or pause, and present again from the
    /// first focus gain or unpause. Only these transitions reach the manager: losing focus and then
    /// pausing (a desktop player without "Run In Background") is one pause, coming back one resume,
    /// and the focus gain and unpause of start-up call nothing. A resume without a pause before it
    /// would count the time away from the session's opening and could split the session.</para>
    /// <para>After <see cref="Quit"/> every member does nothing. Members may be called from any
    /// thread; the calls on the manager are made one at a time, in the order of the changes.</para>
    /// </remarks>
    public sealed class ApplicationLifecycle
    {
        private readonly object gate = new object();
        private readonly Action pause;
        private readonly Action resume;
        private readonly Action quit;
        private bool away;
        private bool hasQuit;

        /// <summary>
        /// Follows the game for this manager, which the game has started; a null manager gives a
        /// state machine that does nothing.
        /// </summary>
        public ApplicationLifecycle(TrackingManager manager)
            : this(manager == null ? (Action)null : manager.OnPause,
                   manager == null ? (Action)null : manager.OnResume,
                   manager == null ? (Action)null : manager.Dispose)
        {
        }

        // The calls the transitions make; a null one is skipped.
        internal ApplicationLifecycle(Action pause, Action resume, Action quit)
        {
            this.pause = pause;
            this.resume = resume;
            this.quit = quit;
        }

        /// <summary>From <c>OnApplicationFocus</c>: losing focus pauses, regaining it resumes.</summary>
        public void FocusChanged(bool focused)
        {
            Change(!focused);
        }

        /// <summary>From <c>OnApplicationPause</c>: pausing pauses, unpausing resumes.</summary>
        public void PauseChanged(bool paused)
        {
            Change(paused);
        }

        /// <summary>
        /// From <c>OnApplicationQuit</c> (or when the owner of the manager goes): disposes the
        /// manager, which stops its worker and keeps unsent events saved. A second call does nothing.
        /// </summary>
        public void Quit()
        {
            lock (gate)
            {
                if (hasQuit)
                {
                    return;
                }
                hasQuit = true;
                Invoke(quit);
            }
        }

        private void Change(bool goingAway)
        {
            lock (gate)
            {
                if (hasQuit || goingAway == away)
                {
                    return;
                }
                away = goingAway;
                Invoke(goingAway ? pause : resume);
            }
        }

        private static void Invoke(Action call)
        {
            if (call != null)
            {
                call();
            }
        }
    }
}
