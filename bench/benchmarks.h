// The benchmark groups, registered by the main function in this order.
#pragma once

namespace Corvex::Tracking::Bench {

// Serialising an event, one write() of its text, and SQLite row inserts.
void registerBaselineBenchmarks();
// One Track call, flat out and paced.
void registerTrackCallBenchmarks();
// Sustained delivery over HTTPS to the local tracking service.
void registerDeliveryBenchmarks();
// Creating a manager that loads a saved queue, and the heap of queued events.
void registerQueueBenchmarks();

}  // namespace Corvex::Tracking::Bench
