// Repair of host texts that are not valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace Corvex::Tracking {

// True when the text is well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF). Runs of ASCII are checked eight bytes at a time.
bool isValidUtf8(std::string_view text);

// The text with each invalid UTF-8 sequence replaced by U+FFFD (the maximal
// subpart rule: a truncated sequence counts once, every other bad byte once).
// Overlong forms, surrogates and code points above U+10FFFF are invalid.
std::string repairUtf8(std::string_view text);

// A host text (null counts as empty), repaired.
std::string textFromHost(const char* text);

}  // namespace Corvex::Tracking
