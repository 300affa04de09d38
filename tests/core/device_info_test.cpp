#include "core/device_info.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>
#include <vector>

using Corvex::Tracking::makeUuid;

namespace {
const std::regex UUID_V4("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
}

TEST(MakeUuid, EveryTextIsAVersion4UuidAndDigitsAreUniform) {
    std::set<std::string> seen;
    int counts[16] = {};
    int variants[4] = {};
    const int draws = 20000;
    for (int i = 0; i < draws; ++i) {
        const std::string uuid = makeUuid();
        ASSERT_TRUE(std::regex_match(uuid, UUID_V4)) << uuid;
        seen.insert(uuid);
        for (size_t k = 0; k < uuid.size(); ++k) {
            if (k == 8 || k == 13 || k == 14 || k == 18 || k == 19 || k == 23) continue;
            const char c = uuid[k];
            ++counts[c <= '9' ? c - '0' : c - 'a' + 10];
        }
        const char v = uuid[19];
        ++variants[v <= '9' ? v - '8' : v - 'a' + 2];
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(draws));
    // 30 free digits per text: each value expects 1/16 of them; allow a wide margin.
    const double expected = draws * 30 / 16.0;
    for (int count : counts) {
        EXPECT_GT(count, expected * 0.95);
        EXPECT_LT(count, expected * 1.05);
    }
    for (int count : variants) EXPECT_GT(count, draws / 4 * 0.9);
}

TEST(MakeUuid, ConcurrentCallersGetDistinctWellFormedIds) {
    constexpr int THREADS = 8, PER_THREAD = 5000;
    std::vector<std::vector<std::string>> results(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&results, t] {
            for (int i = 0; i < PER_THREAD; ++i) results[t].push_back(makeUuid());
        });
    }
    for (auto& thread : threads) thread.join();
    std::set<std::string> all;
    for (const auto& list : results) {
        for (const auto& uuid : list) {
            ASSERT_TRUE(std::regex_match(uuid, UUID_V4)) << uuid;
            all.insert(uuid);
        }
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(THREADS * PER_THREAD));
}
