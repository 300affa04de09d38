#include "base/utf8.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using Corvex::Tracking::isValidUtf8;
using Corvex::Tracking::repairUtf8;
using Corvex::Tracking::textFromHost;

namespace {
const std::string R = "\xEF\xBF\xBD";  // U+FFFD
}

TEST(RepairUtf8, KeepsValidTextUnchanged) {
    for (const std::string& text : {std::string(""), std::string("plain ascii"),
                                    std::string("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
                                    std::string("\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"),
                                    std::string("nul\0inside", 10)}) {
        EXPECT_EQ(repairUtf8(text), text);
    }
}

TEST(RepairUtf8, ReplacesEachInvalidSequenceOnce) {
    EXPECT_EQ(repairUtf8("a\xFF"
                         "b"),
              "a" + R + "b");
    EXPECT_EQ(repairUtf8("\x80\x80"), R + R);                  // lone continuation bytes
    EXPECT_EQ(repairUtf8("\xC0\xAF"), R + R);                  // overlong two-byte form
    EXPECT_EQ(repairUtf8("\xE0\x80\xAF"), R + R + R);          // overlong three-byte form
    EXPECT_EQ(repairUtf8("\xED\xA0\x80"), R + R + R);          // surrogate D800
    EXPECT_EQ(repairUtf8("\xF4\x90\x80\x80"), R + R + R + R);  // above U+10FFFF
    EXPECT_EQ(repairUtf8("\xE2\x82"), R);                      // truncated at the end
    EXPECT_EQ(repairUtf8("\xE2\x82x"), R + "x");               // truncated before ASCII
    EXPECT_EQ(repairUtf8("\xF0\x9F\x98"), R);
    EXPECT_EQ(repairUtf8("\xF5\x80"), R + R);
}

TEST(RepairUtf8, HostTextTreatsNullAsEmpty) {
    EXPECT_EQ(textFromHost(nullptr), "");
    EXPECT_EQ(textFromHost("x\xFE"), "x" + R);
}

TEST(RepairUtf8, ValidityAgreesWithTheJsonLibraryAtEveryOffset) {
    // ASCII runs of every length put each sequence at every position of the
    // eight-byte words that the check reads at once.
    const std::string sequences[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF",
                                     "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82",
                                     "\x80"};
    for (size_t before = 0; before < 17; ++before) {
        for (const std::string& sequence : sequences) {
            for (const std::string& after : {std::string(), std::string("tail-of-ascii-text")}) {
                const std::string text = std::string(before, 'a') + sequence + after;
                bool libraryAccepts = true;
                try {
                    (void)nlohmann::json(text).dump();
                } catch (const nlohmann::json::exception&) {
                    libraryAccepts = false;
                }
                EXPECT_EQ(isValidUtf8(text), libraryAccepts) << before << " " << sequence.size();
                if (libraryAccepts) {
                    EXPECT_EQ(repairUtf8(text), text);
                }
            }
        }
    }
}
