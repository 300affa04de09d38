#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "event_queue_file_test_util.h"
#include "queue/event_queue_file.h"
#include "queue/queue_file_layer.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Testing;
using Texts = std::vector<std::string>;

namespace {

// Once armed, fails its k-th changing step: an open, a write, a truncation, a
// rename or a removal. A failing write longer than a header first transfers
// half of its bytes, as a full disk can.
class FailingLayer : public QueueFileLayer {
public:
    void arm(int k) {
        failAt = k;
        steps = 0;
        injected = false;
    }
    void disarm() { failAt = 0; }
    bool hasInjected() const { return injected; }

    bool open(const std::string& path, bool create) override {
        return step() && QueueFileLayer::open(path, create);
    }
    bool writeAt(int64_t offset, const void* buffer, size_t n) override {
        if (step()) return QueueFileLayer::writeAt(offset, buffer, n);
        if (n > EventQueueFile::HEADER_LENGTH) QueueFileLayer::writeAt(offset, buffer, n / 2);
        return false;
    }
    bool truncate(int64_t size) override { return step() && QueueFileLayer::truncate(size); }
    bool renameFile(const std::string& from, const std::string& to) override {
        return step() && QueueFileLayer::renameFile(from, to);
    }
    bool removeFile(const std::string& path) override {
        return step() && QueueFileLayer::removeFile(path);
    }

private:
    bool step() {
        if (failAt == 0 || ++steps != failAt) return true;
        injected = true;
        return false;
    }

    int failAt = 0;
    int steps = 0;
    bool injected = false;
};

struct Scenario {
    const char* name;
    std::function<bool(EventQueueFile&)> setup;
    Texts before;
    std::function<bool(EventQueueFile&)> operation;
    Texts after;
};

struct Totals {
    int faults = 0;
    int loadedBefore = 0;
    int loadedAfter = 0;
};

std::function<bool(EventQueueFile&)> appending(std::string text) {
    return [text](EventQueueFile& file) {
        return file.append(text.data(), static_cast<int32_t>(text.size()));
    };
}

std::function<bool(EventQueueFile&)> appendingAll(Texts texts) {
    return [texts](EventQueueFile& file) {
        for (const std::string& text : texts) {
            if (!file.append(text.data(), static_cast<int32_t>(text.size()))) return false;
        }
        return true;
    };
}

std::vector<std::string_view> views(const Texts& texts) {
    return std::vector<std::string_view>(texts.begin(), texts.end());
}

// For k = 1, 2, ... until the operation runs without a fault: rebuilds the
// state before, fails the operation's k-th step, then checks that a new reader
// sees the state before or after, that the failed object writes nothing more,
// and that a rewrite from the caller's list brings it back.
void runScenario(const Scenario& scenario, Totals& totals) {
    SCOPED_TRACE(scenario.name);
    TempFolder folder("fault", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    for (int k = 1;; ++k) {
        SCOPED_TRACE("failing step " + std::to_string(k));
        std::filesystem::remove(path);
        {
            EventQueueFile setup(path);
            ASSERT_EQ(setup.open(), EventQueueFile::OpenResult::Ready);
            ASSERT_TRUE(scenario.setup(setup));
        }
        ASSERT_EQ(loadTexts(path), scenario.before);

        auto layer = std::make_unique<FailingLayer>();
        FailingLayer& failing = *layer;
        EventQueueFile file(path, std::move(layer));
        ASSERT_EQ(file.open(), EventQueueFile::OpenResult::Ready);
        failing.arm(k);
        const bool succeeded = scenario.operation(file);
        failing.disarm();
        if (!failing.hasInjected()) {
            EXPECT_TRUE(succeeded);
            EXPECT_EQ(loadTexts(path), scenario.after);
            EXPECT_GT(k, 1);
            return;
        }
        ++totals.faults;
        EXPECT_FALSE(succeeded);
        const auto loaded = loadTexts(path);
        if (loaded == scenario.before) {
            ++totals.loadedBefore;
        } else if (loaded == scenario.after) {
            ++totals.loadedAfter;
        } else {
            ADD_FAILURE() << "the file holds neither the state before nor the state after";
        }

        const std::string image = readBytes(path);
        EXPECT_FALSE(file.append("late", 4));
        EXPECT_FALSE(file.removeFirst(1));
        EXPECT_EQ(readBytes(path), image);
        ASSERT_TRUE(file.rewrite(views(scenario.after)));
        ASSERT_TRUE(file.append("late", 4));
        Texts expected = scenario.after;
        expected.push_back("late");
        EXPECT_EQ(loadTexts(path), expected);
    }
}

}  // namespace

TEST(EventQueueFileFaults, EveryFailedStepLeavesTheStateBeforeOrAfter) {
    const std::string a(300, 'a'), b(300, 'b'), c(300, 'c');
    const std::string big(5000, 'g'), d(3000, 'd'), e(100, 'e');
    const Texts thousands{std::string(1000, 'x'), std::string(1000, 'y'), std::string(1000, 'z')};
    const std::string wide(2000, 'w');
    auto nothing = [](EventQueueFile&) { return true; };
    auto split = [](EventQueueFile& file) { return makeSplitState(file); };
    auto splitThenE = [e](EventQueueFile& file) {
        return makeSplitState(file) && file.append(e.data(), 100);
    };
    const Texts splitTexts{SPLIT_B, SPLIT_C};
    const Texts splitE{SPLIT_B, SPLIT_C, e};
    const Texts rewritten{std::string(6000, 'r'), "tail"};

    const Scenario scenarios[] = {
        {"append to an empty file", nothing, {}, appending(a), {a}},
        {"append", appendingAll({a, b}), {a, b}, appending(c), {a, b, c}},
        {"append growing an empty ring", nothing, {}, appending(big), {big}},
        {"append growing a ring that does not wrap",
         appendingAll(thousands),
         thousands,
         appending(wide),
         {thousands[0], thousands[1], thousands[2], wide}},
        {"append growing a ring whose newest entry's tail wraps",
         split,
         splitTexts,
         appending(d),
         {SPLIT_B, SPLIT_C, d}},
        {"append growing a ring whose newest entry wraps",
         splitThenE,
         splitE,
         appending(d),
         {SPLIT_B, SPLIT_C, e, d}},
        {"removal across the ring's end",
         splitThenE,
         splitE,
         [](EventQueueFile& file) { return file.removeFirst(2); },
         {e}},
        {"removal of every entry",
         splitThenE,
         splitE,
         [](EventQueueFile& file) { return file.removeFirst(3); },
         {}},
        {"rewrite", split, splitTexts,
         [&](EventQueueFile& file) { return file.rewrite(views(rewritten)); }, rewritten},
        {"recreate", split, splitTexts, [](EventQueueFile& file) { return file.recreate(); }, {}},
    };
    Totals totals;
    for (const Scenario& scenario : scenarios) runScenario(scenario, totals);
    std::printf(
        "[ fault injection ] %zu operations, %d failed steps, %d files loaded "
        "(%d as before, %d as after)\n",
        std::size(scenarios), totals.faults, totals.loadedBefore + totals.loadedAfter,
        totals.loadedBefore, totals.loadedAfter);
}
