// The direct writer must give exactly the JSON library's dump(): checked on
// chosen values and on many random ones, valid and invalid.
#include "events/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "events/tracking_event.h"

using namespace Corvex::Tracking;
using nlohmann::json;

namespace {

std::string written(const json& value) {
    std::string out = "prefix";
    appendJsonValue(out, value);
    EXPECT_EQ(out.compare(0, 6, "prefix"), 0);
    return out.substr(6);
}

// The library's text, or its type error id and message.
std::string dumpOrError(const std::function<std::string()>& make) {
    try {
        return make();
    } catch (const json::exception& e) {
        return "error " + std::to_string(e.id) + ": " + e.what();
    }
}

// Appends a UTF-8 encoded code point.
void appendCodePoint(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

class RandomJson {
public:
    explicit RandomJson(uint32_t seed) : engine(seed) {}

    // Text of ASCII runs (controls, quotes and backslashes included), code
    // points of every length, and now and then a stray byte when allowed.
    std::string text(bool allowInvalid) {
        std::string out;
        const int pieces = pick(0, 6);
        for (int i = 0; i < pieces; ++i) {
            switch (pick(0, 5)) {
                case 0:
                    out.append(static_cast<size_t>(pick(0, 17)),
                               static_cast<char>(pick(0x20, 0x7E)));
                    break;
                case 1: out += static_cast<char>(pick(0, 0x7F)); break;
                case 2: out += "\"\\/"; break;
                case 3: appendCodePoint(out, static_cast<uint32_t>(pick(0x80, 0xD7FF))); break;
                case 4: appendCodePoint(out, static_cast<uint32_t>(pick(0xE000, 0x10FFFF))); break;
                case 5:
                    if (allowInvalid && pick(0, 3) == 0) out += static_cast<char>(pick(0x80, 0xFF));
                    break;
            }
        }
        return out;
    }

    json value(int depth, bool allowInvalid) {
        switch (pick(0, depth > 0 ? 8 : 6)) {
            case 0: return nullptr;
            case 1: return pick(0, 1) == 1;
            case 2: return static_cast<int64_t>(bits()) >> pick(0, 63);
            case 3: return bits() >> pick(0, 63);
            case 4: {
                // Any bit pattern: tiny, huge, integral, negative zero, NaN, infinity.
                const uint64_t pattern = bits();
                double number = 0;
                std::memcpy(&number, &pattern, sizeof number);
                return pick(0, 2) == 0 ? static_cast<double>(pick(-5000, 5000)) / 8 : number;
            }
            case 5: return static_cast<double>(static_cast<float>(pick(0, 100000)) / 100.0f);
            case 6: return text(allowInvalid);
            case 7: {
                json array = json::array();
                for (int i = pick(0, 4); i > 0; --i)
                    array.push_back(value(depth - 1, allowInvalid));
                return array;
            }
            default: {
                json object = json::object();
                for (int i = pick(0, 4); i > 0; --i)
                    object[text(allowInvalid)] = value(depth - 1, allowInvalid);
                return object;
            }
        }
    }

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine); }
    uint64_t bits() { return (static_cast<uint64_t>(engine()) << 32) | engine(); }

private:
    std::mt19937 engine;
};

}  // namespace

TEST(JsonWriter, MatchesTheLibraryOnChosenValues) {
    const json values[] = {
        nullptr,
        true,
        false,
        0,
        -1,
        std::numeric_limits<int64_t>::min(),
        std::numeric_limits<int64_t>::max(),
        std::numeric_limits<uint64_t>::max(),
        0.0,
        -0.0,
        100.0,
        0.1,
        double(0.99f),
        1e21,
        1e-7,
        123456789012345680.0,
        -2.5e-300,
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::denorm_min(),
        NAN,
        INFINITY,
        -INFINITY,
        "",
        "\"\\/\b\f\n\r\t\x01\x1f\x7f",
        "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
        std::string("nul\0inside", 10),
        json::array(),
        json::object(),
        json::parse(R"({"z":[1,{"b":2,"a":[]}],"":{},"\u00e9":"x","A":null})"),
    };
    for (const json& value : values) EXPECT_EQ(written(value), value.dump()) << value.dump();
}

// Texts are checked in words, with a tail gathered differently for each
// length: one byte that needs care, at every place of texts up to 40 long.
TEST(JsonWriter, FindsAByteThatNeedsCareAtEveryPlace) {
    for (const char special : {'"', '\\', '\x1f', '\0', '\x80'}) {
        for (size_t length = 1; length <= 40; ++length) {
            for (size_t at = 0; at < length; ++at) {
                std::string text(length, 'a');
                text[at] = special;
                const std::string expected = dumpOrError([&] { return json(text).dump(); });
                EXPECT_EQ(dumpOrError([&] { return written(text); }), expected)
                    << "length " << length << ", at " << at;
            }
        }
    }
}

TEST(JsonWriter, MatchesTheLibraryOnRandomValues) {
    RandomJson random(20241208);
    for (int i = 0; i < 20000; ++i) {
        const json value = random.value(3, false);
        ASSERT_EQ(written(value), value.dump());
    }
}

TEST(JsonWriter, FailsExactlyAsTheLibraryOnInvalidUtf8) {
    RandomJson random(7);
    int failures = 0;
    for (int i = 0; i < 20000; ++i) {
        const json value = random.value(2, true);
        const std::string expected = dumpOrError([&] { return value.dump(); });
        const std::string actual = dumpOrError([&] {
            std::string out;
            appendJsonValue(out, value);
            return out;
        });
        ASSERT_EQ(actual, expected);
        failures += expected.rfind("error 316", 0) == 0;
    }
    EXPECT_GT(failures, 1000);  // the invalid cases were really exercised
}

TEST(JsonWriter, EventTextIsTheDumpOfItsObject) {
    RandomJson random(99);
    for (int i = 0; i < 5000; ++i) {
        TrackingEvent event;
        const bool invalid = i % 4 == 0;
        event.eId = random.text(invalid);
        event.eventName = random.text(invalid);
        event.id = random.text(invalid);
        event.timeInMs = static_cast<int64_t>(random.pick(-1000000, 1000000)) * 1000003;
        event.cfgId = random.text(invalid);
        event.appVersion = random.text(invalid);
        event.value = random.value(2, invalid);
        if (i % 2 == 1) {
            // Plain texts, which a buffer with room takes in one step.
            for (std::string* text :
                 {&event.eId, &event.eventName, &event.id, &event.cfgId, &event.appVersion}) {
                text->assign(static_cast<size_t>(random.pick(0, 40)),
                             static_cast<char>(random.pick('0', 'z')));
            }
        }
        const std::string expected = dumpOrError([&] { return event.toJson().dump(); });
        ASSERT_EQ(dumpOrError([&] { return event.toJsonText(); }), expected);
        ASSERT_EQ(dumpOrError([&] {
                      std::string reused;
                      reused.reserve(4096);
                      event.appendJsonText(reused);
                      return reused;
                  }),
                  expected);
    }
}

namespace {

// The record's fields after reading the text, or the library's error id: the
// direct reading of the library's own texts must agree with the general one.
std::string readResult(const std::string& text, bool general) {
    TrackingEvent event;
    event.eId = "old";
    event.value = 7;
    std::string outcome;
    try {
        if (general) {
            event.fromJson(json::parse(text));
        } else {
            event.fromJsonText(text.c_str());
        }
    } catch (const json::exception& e) {
        outcome = "error " + std::to_string(e.id) + " ";
    }
    return outcome + event.toJson().dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

TEST(JsonWriter, EventTextsReadBackAsTheGeneralParserReadsThem) {
    RandomJson random(5);
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i) {
        TrackingEvent event;
        event.eId = random.text(false);
        event.eventName = random.text(false);
        event.id = random.text(false);
        event.timeInMs = static_cast<int64_t>(random.bits());
        event.cfgId = random.text(false);
        event.appVersion = random.text(false);
        event.value = random.value(2, false);
        texts.push_back(event.toJsonText());
    }
    const std::string base =
        R"({"appVersion":"1.4","cfgId":"c","eId":"e","eventName":"n","id":"s","timeInMs":12,"value":{"a":1}})";
    const auto variant = [&](const std::string& from, const std::string& to) {
        std::string text = base;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    for (const char* time : {"0", "-0", "007", "-12", "1.5", "1e3", "-9223372036854775808",
                             "9223372036854775808", "18446744073709551615", "\"12\"", ""}) {
        texts.push_back(variant("12", time));
    }
    texts.push_back(variant("{\"appVersion\"", "{ \"appVersion\""));
    texts.push_back(variant("\"e\"", "\"\\u0065\""));
    texts.push_back(variant("\"n\"", "\"n\x01\""));
    texts.push_back(variant("\"s\"", "\"\xC3\""));
    texts.push_back(variant("\"c\"", "5"));
    texts.push_back(variant("{\"a\":1}}", "{\"a\":1},\"eId\":\"again\"}"));
    texts.push_back(variant("{\"a\":1}}", "{\"a\":1} }"));
    texts.push_back(variant("{\"a\":1}}", "1 2}"));
    texts.push_back(variant("{\"a\":1}}", "}"));
    texts.push_back(variant("{\"a\":1}}", "{\"a\":1}}x"));
    texts.push_back(variant(",\"value\":{\"a\":1}", ""));
    texts.push_back(R"({"eId":"first","appVersion":"1"})");
    texts.push_back("[1,2]");
    for (const std::string& text : texts) {
        ASSERT_EQ(readResult(text, false), readResult(text, true)) << text;
    }
}
