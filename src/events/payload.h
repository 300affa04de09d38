#pragma once

#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string_view>

namespace Corvex::Tracking {

// Fills a payload object with exactly the given members. A recycled record
// whose payload has the same members keeps them and their string buffers, so
// that refilling it allocates nothing; any other value is replaced.
class Payload {
public:
    // The keys come in the object's own (sorted) order, so one pass over its
    // members compares them.
    Payload(nlohmann::json& value, std::initializer_list<const char*> keys) : value(value) {
        bool same = value.is_object() && value.size() == keys.size();
        if (same) {
            auto key = keys.begin();
            for (auto member = value.items().begin(); same && key != keys.end(); ++member, ++key) {
                same = member.key() == *key;
            }
        }
        if (!same) value = nlohmann::json::object();
    }

    void setText(const char* key, std::string_view text) {
        nlohmann::json& slot = member(key);
        if (slot.is_string()) {
            slot.get_ref<std::string&>().assign(text.data(), text.size());
        } else {
            slot = std::string(text);
        }
    }

    template <typename Number>
    void setNumber(const char* key, Number number) {
        member(key) = number;
    }

private:
    // operator[] would make a map node even for a key that exists.
    nlohmann::json& member(const char* key) {
        const auto found = value.find(key);
        return found != value.end() ? *found : value[key];
    }

    nlohmann::json& value;
};

}  // namespace Corvex::Tracking
