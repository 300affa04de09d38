#pragma once

#include <array>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "base/text_copy.h"

namespace Corvex::Tracking {

// Fills a payload object with exactly the given members. A recycled record
// whose payload has the same members keeps them and their string buffers, so
// that refilling it allocates nothing; any other value is replaced.
template <size_t N>
class Payload {
public:
    // The keys come in the object's own (sorted) order, so one pass over its
    // members compares them. Each member's place is kept, so that setting it
    // walks no map: the object's nodes stay where they are as members are set.
    Payload(nlohmann::json& value, const std::string_view (&names)[N]) {
        for (size_t i = 0; i < N; ++i) keys[i] = names[i];
        if (!refill(value)) {
            value = nlohmann::json::object();
            for (size_t i = 0; i < N; ++i) slots[i] = &value[std::string(keys[i])];
        }
    }

    void setText(std::string_view key, std::string_view text) {
        nlohmann::json& slot = member(key);
        if (slot.is_string()) {
            copyText(slot.get_ref<std::string&>(), text);
        } else {
            slot = std::string(text);
        }
    }

    template <typename Number>
    void setNumber(std::string_view key, Number number) {
        member(key) = number;
    }

private:
    // True, with the members' places taken, when the value already holds
    // exactly these members.
    bool refill(nlohmann::json& value) {
        if (!value.is_object() || value.size() != N) return false;
        size_t i = 0;
        for (auto& [key, member] : value.get_ref<nlohmann::json::object_t&>()) {
            if (std::string_view(key) != keys[i]) return false;
            slots[i++] = &member;
        }
        return true;
    }

    nlohmann::json& member(std::string_view key) {
        for (size_t i = 0; i + 1 < N; ++i) {
            if (keys[i] == key) return *slots[i];
        }
        return *slots[N - 1];  // the builders set only the keys they named
    }

    std::array<std::string_view, N> keys{};
    std::array<nlohmann::json*, N> slots{};
};

}  // namespace Corvex::Tracking
