// Counts what the benchmark executable allocates through operator new: the
// calls made on the current thread, and the bytes alive in the whole process.
#pragma once

#include <cstdint>

namespace Corvex::Tracking::Bench {

// operator new calls made so far on the calling thread.
int64_t allocationsOnThisThread();
// Bytes requested through operator new and not yet released, all threads.
int64_t liveHeapBytes();

}  // namespace Corvex::Tracking::Bench
