#pragma once

namespace Corvex::Tracking {

// The library's version, sent in every request, every open event and the
// user agent.
inline constexpr const char* SDK_VERSION = "0.0.1-cpp";

}  // namespace Corvex::Tracking
