// Counts what a test or benchmark executable allocates through operator new:
// the calls made on the current thread, and the bytes alive in the whole
// process. Linking this file replaces the global operator new and delete of
// the executable, so it goes only into programs that measure the heap.
#pragma once

#include <cstdint>

namespace Corvex::Tracking::Testing {

// operator new calls made so far on the calling thread.
int64_t allocationsOnThisThread();
// Bytes requested through operator new and not yet released, all threads.
int64_t liveHeapBytes();

}  // namespace Corvex::Tracking::Testing
