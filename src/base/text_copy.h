// Refilling a reused string with a text of the same length, which is what
// the fields of a recycled event record mostly get.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

namespace Corvex::Tracking {

// Copies the text over `to`. A text of the same length is copied in place:
// std::string's assignment is a call into the shared C++ library, which on
// the Track path, run with caches a system call has just emptied, costs more
// than the copy itself.
inline void copyText(std::string& to, std::string_view text) {
    if (to.size() == text.size()) {
        if (!text.empty()) std::memcpy(to.data(), text.data(), text.size());
    } else {
        to.assign(text.data(), text.size());
    }
}

}  // namespace Corvex::Tracking
