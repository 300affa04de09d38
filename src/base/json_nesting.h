// The nesting limit of JSON texts read from outside the process.
#pragma once

#include <string_view>

namespace Corvex::Tracking {

// Arrays and objects nested deeper than this are refused wherever a JSON text
// is read (host payloads, the properties file; in the queue file, below the
// record's own object): copying, writing and comparing a value recurse once
// per level, so a deeper value could exhaust the stack of the thread that
// handles it.
constexpr int MAX_JSON_DEPTH = 256;

// True when the text opens more than `limit` arrays and objects without
// closing them; brackets inside strings do not count.
bool nestsTooDeep(std::string_view text, int limit = MAX_JSON_DEPTH);

}  // namespace Corvex::Tracking
