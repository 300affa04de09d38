// The tests' CONNECT proxy is the one the local services share.
#pragma once

#include "service/connect_proxy.h"

namespace Corvex::Tracking::Testing {

using ConnectProxy = Service::ConnectProxy;

}  // namespace Corvex::Tracking::Testing
