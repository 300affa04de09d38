using System;
using System.Runtime.InteropServices;

namespace Corvex.Tracking
{
    // Owns a native manager. The runtime releases it once, after the last call
    // that holds a reference on it has returned: from Dispose, or from the
    // finalizer for a manager the game forgot.
    internal sealed class TrackingManagerHandle : SafeHandle
    {
        internal TrackingManagerHandle() : base(IntPtr.Zero, true)
        {
        }

        public override bool IsInvalid
        {
            get { return handle == IntPtr.Zero; }
        }

        // Made before the native manager, so that nothing can fail between its
        // creation and its owner taking it.
        internal void Adopt(IntPtr manager)
        {
            SetHandle(manager);
        }

        // Stops the worker (waiting for an HTTP attempt on the wire, up to about
        // 5 s) and frees the manager; its unsent events stay saved.
        protected override bool ReleaseHandle()
        {
            NativeMethods.TrackingManager_Destroy(handle);
            return true;
        }
    }
}
