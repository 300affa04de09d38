#pragma once

namespace Corvex::Tracking {

// Asked by the worker before each flush whether sending is possible.
class QueueManagerMonitor {
public:
    virtual bool canSend() = 0;

protected:
    ~QueueManagerMonitor() = default;
};

}  // namespace Corvex::Tracking
