// Power cuts at every disk operation of a queue-file workload: each crash
// image the simulated disk allows is loaded the way the queue manager loads
// the file, and must hold every synced event and no torn one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "crash_disk.h"
#include "event_queue_file_test_util.h"
#include "events/tracking_event.h"
#include "queue/event_queue_file.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Testing;
using Result = EventQueueFile::OpenResult;

// Random images tried at each crash point besides the systematic ones; the
// sanitizer and Windows builds set fewer.
#ifndef CORVEX_CRASH_RANDOM_IMAGES
#define CORVEX_CRASH_RANDOM_IMAGES 64
#endif
// Steps of the seeded part of the workload.
#ifndef CORVEX_CRASH_RANDOM_STEPS
#define CORVEX_CRASH_RANDOM_STEPS 800
#endif

namespace Corvex::Tracking {

// Names the open results in failure messages.
void PrintTo(EventQueueFile::OpenResult result, std::ostream* out) {
    static const char* const NAMES[] = {"Ready", "Damaged", "Corrupt", "Unavailable"};
    *out << NAMES[static_cast<int>(result)];
}

}  // namespace Corvex::Tracking

namespace {

const std::string PATH = "saves/.event_queue";
constexpr int64_t STILL_LIVE = std::numeric_limits<int64_t>::max();

// Value lengths: events of one value length have texts of one length.
constexpr size_t EQUAL = 300;
constexpr size_t SHORT = 12;
constexpr size_t LONG = 1500;

// Event `index` with a value string of `valueLength` pseudo-random hex digits:
// where two events' sectors mix inside the string, the text still parses.
std::string eventText(int index, size_t valueLength) {
    TrackingEvent event;
    char eId[40];
    std::snprintf(eId, sizeof eId, "%08x-0000-4000-8000-%012x", static_cast<unsigned>(index),
                  static_cast<unsigned>(index) * 2654435761U);
    event.eId = eId;
    event.eventName = "level_end";
    event.id = "user-0001";
    event.timeInMs = 1767225600000 + index;
    event.cfgId = "cfg-7";
    event.appVersion = "2.4.1";
    std::string value(valueLength, '0');
    uint64_t state = static_cast<uint64_t>(index) * 0x9E3779B97F4A7C15 + 1;
    for (char& c : value) {
        state = state * 6364136223846793005 + 1442695040888963407;
        c = "0123456789abcdef"[state >> 60];
    }
    event.setStringValue(value);
    return event.toJsonText();
}

// The entries of an image's chain from its header's first position that
// are, each of them, a text the workload appended: what no loader may drop.
std::vector<int> soundPrefix(const std::string& image,
                             const std::unordered_map<std::string, int>& indexOf) {
    std::vector<int> prefix;
    if (image.size() < 16) return prefix;
    const int64_t length = getInt(image, 0);
    const int64_t count = getInt(image, 4);
    int64_t position = getInt(image, 8);
    if (length < 4096 || length % 4096 != 0 || position < 16 || position >= length) return prefix;
    auto read = [&](int64_t at, int64_t n, std::string& out) {
        out.clear();
        for (int64_t i = 0; i < n; ++i) {
            const int64_t p = at + i < length ? at + i : at + i - length + 16;
            if (p >= static_cast<int64_t>(image.size())) return false;
            out.push_back(image[static_cast<size_t>(p)]);
        }
        return true;
    };
    std::string field, text;
    int64_t total = 0;
    for (int64_t i = 0; i < count; ++i) {
        if (!read(position, 4, field)) break;
        const int64_t n = getInt(field, 0);
        total += 4 + n;
        if (n < 1 || total > length - 16 || !read(position + 4, n, text)) break;
        const auto found = indexOf.find(text);
        if (found == indexOf.end()) break;
        prefix.push_back(found->second);
        position += 4 + n;
        if (position >= length) position = position - length + 16;
    }
    return prefix;
}

// Whether the ring holds bytes other than zeros outside the entries its
// header names: retired bytes a crash left unzeroed. False for a chain that
// does not lie within the ring and the file.
bool hasLeftovers(const std::string& image) {
    const int64_t length = getInt(image, 0);
    const int64_t count = getInt(image, 4);
    const auto size = static_cast<int64_t>(image.size());
    if (length < 4096 || count < 1) return false;
    std::vector<bool> inEntry(static_cast<size_t>(length), false);
    auto at = [&](int64_t p) { return p < length ? p : p - length + 16; };
    int64_t position = getInt(image, 8);
    for (int64_t i = 0; i < count; ++i) {
        std::string field;
        for (int64_t k = 0; k < 4 && at(position + k) < size; ++k) {
            field.push_back(image[static_cast<size_t>(at(position + k))]);
        }
        const int64_t n = field.size() == 4 ? getInt(field, 0) : 0;
        if (n < 1 || n > length) return false;
        for (int64_t k = 0; k < 4 + n; ++k) inEntry[static_cast<size_t>(at(position + k))] = true;
        position = at(position + 4 + n);
    }
    for (int64_t p = 16; p < std::min(length, size); ++p) {
        if (!inEntry[static_cast<size_t>(p)] && image[static_cast<size_t>(p)] != '\0') return true;
    }
    return false;
}

// What the queue manager takes from an image.
struct Loaded {
    Result open = Result::Unavailable;
    std::vector<int> events;           // accepted texts, as indices of appended texts
    std::vector<std::string> foreign;  // accepted texts that were never appended
    std::vector<int> soundPrefix;
};

class EventQueueFileCrash : public ::testing::Test {
protected:
    struct Resumable {
        CrashDisk::Image image;
        std::string label;
    };

    // --- the workload's steps; each keeps the ledger in step with the file

    void openFresh() {
        attach(std::make_unique<CrashDisk>());
        step("open a new file");
        ASSERT_EQ(file->open(), Result::Ready);
    }

    void append(int n, size_t valueLength) {
        for (int i = 0; i < n; ++i) {
            const int index = static_cast<int>(texts.size());
            texts.push_back(eventText(index, valueLength));
            indexOf[texts.back()] = index;
            retiredAt.push_back(STILL_LIVE);
            step("append event " + std::to_string(index) + " (" +
                 std::to_string(texts.back().size()) + " bytes)");
            const bool wrapped = ringWraps();
            const int32_t before = file->fileLength();
            ASSERT_TRUE(
                file->append(texts.back().data(), static_cast<int32_t>(texts.back().size())));
            if (wrapped && file->fileLength() > before) grewWhileWrapped = true;
            live.push_back(index);
        }
    }

    void retire(int n) {
        step("removeFirst(" + std::to_string(n) + ")");
        for (int i = 0; i < n; ++i) {
            retiredAt[static_cast<size_t>(live.front())] = clock;
            live.pop_front();
        }
        ASSERT_TRUE(file->removeFirst(n));
    }

    void retireAll() { retire(static_cast<int>(live.size())); }

    // beginSync, `before` (appends and removals the sync does not cover), the
    // handle's sync, `after`, finishSync.
    void syncCycle(const std::function<void()>& before = {},
                   const std::function<void()>& after = {}) {
        step("beginSync");
        const int64_t began = clock;
        const std::vector<int> snapshot(live.begin(), live.end());
        EventQueueFile::PendingSync pending = file->beginSync();
        if (before) {
            ASSERT_NO_FATAL_FAILURE(before());
        }
        step("handle sync");
        const bool synced = !pending.handle || pending.handle->sync();
        ASSERT_TRUE(synced);
        completedSync(began, snapshot);
        if (after) {
            ASSERT_NO_FATAL_FAILURE(after());
        }
        step("finishSync");
        ASSERT_TRUE(file->finishSync(pending, synced));
    }

    void syncAll() {
        step("sync");
        const int64_t began = clock;
        const std::vector<int> snapshot(live.begin(), live.end());
        ASSERT_TRUE(file->sync());
        completedSync(began, snapshot);
    }

    void rebuild() {
        step("rewrite with the " + std::to_string(live.size()) + " pending events");
        const int64_t began = clock;
        const std::vector<int> snapshot(live.begin(), live.end());
        std::vector<std::string_view> views;
        for (int index : live) views.emplace_back(texts[static_cast<size_t>(index)]);
        ASSERT_TRUE(file->rewrite(views));
        completedSync(began, snapshot);
    }

    void reopen() {
        step("close and open again");
        file->close();
        ASSERT_EQ(file->open(), Result::Ready);
        ASSERT_EQ(readBack(), std::vector<int>(live.begin(), live.end()));
    }

    // Carries on from a crash image met earlier, as the next process would:
    // what loads is pending again and nothing else may come back; a damaged
    // file is rewritten with what loaded, as the queue manager does.
    void resumeFrom(const std::optional<Resumable>& crash, Result expectedOpen) {
        ASSERT_TRUE(crash.has_value()) << "no crash image met to resume from";
        const Loaded expected = load(crash->image);
        file.reset();
        attach(std::make_unique<CrashDisk>(PATH, crash->image));
        step("open the crash image (" + crash->label + ")");
        for (int64_t& at : retiredAt) at = clock - 1;
        live.assign(expected.events.begin(), expected.events.end());
        for (int index : live) retiredAt[static_cast<size_t>(index)] = STILL_LIVE;
        completedSync(clock, expected.events);
        ASSERT_EQ(file->open(), expectedOpen);
        ASSERT_EQ(readBack(), expected.events);
        if (expectedOpen == Result::Damaged) {
            ASSERT_NO_FATAL_FAILURE(rebuild());
        }
        ++resumed;
    }

    // A seeded mix of the steps above.
    void randomSteps(int n, uint64_t seed) {
        std::mt19937_64 random(seed);
        auto pick = [&](size_t k) { return static_cast<int>(random() % k); };
        auto valueLength = [&] {
            const int kind = pick(10);
            return kind < 7 ? EQUAL : kind == 7 ? SHORT : kind == 8 ? LONG : 1 + random() % 900;
        };
        auto changes = [&] {
            for (int k = pick(3); k > 0; --k) {
                if (pick(3) == 0 && !live.empty()) {
                    retire(1 + pick(std::min<size_t>(3, live.size())));
                } else {
                    append(1 + pick(2), valueLength());
                }
            }
        };
        for (int i = 0; i < n && !HasFatalFailure(); ++i) {
            const int kind = pick(16);
            if (kind < 5) {
                append(1 + pick(4), valueLength());
            } else if (kind < 8 && !live.empty()) {
                retire(1 + pick(std::min<size_t>(live.size() > 30 ? 12 : 4, live.size())));
            } else if (kind < 12) {
                syncCycle(pick(2) == 0 ? changes : std::function<void()>(),
                          pick(3) == 0 ? changes : std::function<void()>());
            } else if (kind == 12) {
                syncAll();
            } else if (kind == 13) {
                retireAll();
            } else if (kind == 14) {
                rebuild();
            } else if (kind == 15) {
                reopen();
            }
        }
    }

    // The events the open file gives, as the queue manager accepts them
    // (-1: a text never appended; -2: the read failed).
    std::vector<int> readBack() {
        std::vector<int> read;
        const auto result = file->readEntries([&](std::string&& text) {
            TrackingEvent event;
            const auto found = indexOf.find(text);
            if (event.restoreFromSavedText(text)) {
                read.push_back(found == indexOf.end() ? -1 : found->second);
            }
        });
        if (result != EventQueueFile::ReadResult::Ok) read.push_back(-2);
        return read;
    }

    // Reports also when the workload stopped early.
    void TearDown() override {
        std::printf("crash images: %lld, synced events lost: %lld\n",
                    static_cast<long long>(images), static_cast<long long>(lost));
        std::printf("(%lld crash points, %zu distinct images, %zu events appended, %d resumed)\n",
                    static_cast<long long>(crashPoints), loads.size(), texts.size(), resumed);
        RecordProperty("crash_images", static_cast<int>(images));
        if (HasFatalFailure() && faultyImages > 0) {
            std::printf("%lld faulty images; the first:\n%s", static_cast<long long>(faultyImages),
                        firstFault.c_str());
        }
    }

    // --- crash points

    void attach(std::unique_ptr<CrashDisk> layer) {
        disk = layer.get();
        disk->onChange([this](const std::string& what) { crashAt(what); });
        file = std::make_unique<EventQueueFile>(PATH, std::move(layer));
    }

    void step(const std::string& what) {
        ++clock;
        steps.push_back(what);
    }

    void completedSync(int64_t began, const std::vector<int>& snapshot) {
        syncBegan = began;
        synced = snapshot;
        crashAt("the sync's return");
    }

    void crashAt(const std::string& what) {
        ++crashPoints;
        const uint64_t seed = 0xC0FFEE + static_cast<uint64_t>(crashPoints);
        disk->forEachCrashImage(
            PATH, seed, CORVEX_CRASH_RANDOM_IMAGES,
            [&](uint64_t key, const std::function<CrashDisk::Image()>& build,
                const std::function<std::string()>& describe) {
                ++images;
                auto known = loads.find(key);
                if (known == loads.end()) {
                    const CrashDisk::Image image = build();
                    known = loads.emplace(key, load(image)).first;
                    const Loaded& loaded = known->second;
                    if (wantResumable && loaded.events.size() >= 3) {
                        if (!damaged && loaded.open == Result::Damaged) {
                            damaged = Resumable{image, describe()};
                        }
                        if (!leftovers && loaded.open == Result::Ready &&
                            loaded.events == loaded.soundPrefix && hasLeftovers(image.bytes)) {
                            leftovers = Resumable{image, describe()};
                        }
                    }
                }
                const std::string problems = check(known->second);
                if (!problems.empty() && ++faultyImages == 1) {
                    firstFault = "crash after: " + what + "\nin step: " + steps.back() +
                                 "\nimage: " + describe() + "\n" + problems +
                                 "changes since the last sync:\n" + disk->pendingChanges(PATH) +
                                 "steps:\n";
                    for (size_t i = 0; i < steps.size(); ++i) {
                        firstFault += "  " + std::to_string(i + 1) + ". " + steps[i] + "\n";
                    }
                }
                return true;
            });
    }

    Loaded load(const CrashDisk::Image& image) const {
        Loaded loaded;
        EventQueueFile reader(PATH, std::make_unique<CrashDisk>(PATH, image));
        loaded.open = reader.open();
        if (loaded.open == Result::Ready || loaded.open == Result::Damaged) {
            std::vector<std::string> read;
            const auto result =
                reader.readEntries([&](std::string&& text) { read.push_back(std::move(text)); });
            TrackingEvent event;
            // A read that fails discards the whole file, as the manager does.
            for (size_t i = 0; result == EventQueueFile::ReadResult::Ok && i < read.size(); ++i) {
                if (!event.restoreFromSavedText(read[i])) continue;
                const auto found = indexOf.find(read[i]);
                if (found == indexOf.end()) {
                    loaded.foreign.push_back(read[i]);
                } else {
                    loaded.events.push_back(found->second);
                }
            }
        }
        if (image.exists) loaded.soundPrefix = soundPrefix(image.bytes, indexOf);
        return loaded;
    }

    // What is wrong with loading this image now; counts the synced events lost.
    std::string check(const Loaded& loaded) {
        std::string problems;
        for (const std::string& text : loaded.foreign) {
            problems += "loaded a text never appended (" + std::to_string(text.size()) +
                        " bytes): " + text.substr(0, 120) + "\n";
        }
        if (!std::is_sorted(loaded.events.begin(), loaded.events.end(), std::less_equal<>())) {
            problems += "loaded out of append order or twice:" + list(loaded.events) + "\n";
        }
        if (loaded.events.size() < loaded.soundPrefix.size() ||
            !std::equal(loaded.soundPrefix.begin(), loaded.soundPrefix.end(),
                        loaded.events.begin())) {
            problems += "dropped a sound prefix of the chain:" + list(loaded.soundPrefix) +
                        "; loaded:" + list(loaded.events) + "\n";
        }
        const std::set<int> got(loaded.events.begin(), loaded.events.end());
        std::vector<int> missing;
        for (int index : synced) {
            if (retiredAt[static_cast<size_t>(index)] == STILL_LIVE && got.count(index) == 0) {
                missing.push_back(index);
            }
        }
        if (!missing.empty()) {
            lost += static_cast<int64_t>(missing.size());
            problems += "synced events lost:" + list(missing) + " (open gave " +
                        ::testing::PrintToString(loaded.open) + ")\n";
        }
        std::vector<int> back;
        for (int index : loaded.events) {
            if (retiredAt[static_cast<size_t>(index)] < syncBegan) back.push_back(index);
        }
        if (!back.empty()) {
            problems +=
                "events retired before the last completed sync came back:" + list(back) + "\n";
        }
        return problems;
    }

    static std::string list(const std::vector<int>& indices) {
        std::string text;
        for (int index : indices) text += " " + std::to_string(index);
        return text;
    }

    // Whether the newest entry lies before the oldest in the file's header.
    bool ringWraps() {
        char header[16];
        return file->elementCount() > 1 && disk->readAt(0, header, 16) &&
               getInt(std::string(header, 16), 12) < getInt(std::string(header, 16), 8);
    }

    // --- state

    CrashDisk* disk = nullptr;
    std::unique_ptr<EventQueueFile> file;

    // The ledger: every appended text by index, the events pending in order,
    // when each was retired, and the last completed sync.
    std::vector<std::string> texts;
    std::unordered_map<std::string, int> indexOf;
    std::deque<int> live;
    std::vector<int64_t> retiredAt;
    int64_t clock = 0;
    int64_t syncBegan = 0;
    std::vector<int> synced;  // pending when the last completed sync began
    std::vector<std::string> steps;

    std::unordered_map<uint64_t, Loaded> loads;  // by image content
    // Crash images to resume from: one whose chain breaks, and one that is
    // sound but holds bytes outside its entries that are not zeros.
    bool wantResumable = false;
    std::optional<Resumable> damaged;
    std::optional<Resumable> leftovers;
    int resumed = 0;
    bool grewWhileWrapped = false;

    int64_t crashPoints = 0;
    int64_t images = 0;
    int64_t faultyImages = 0;
    int64_t lost = 0;
    std::string firstFault;
};

// The bytes as runs, "a512 b100": readable in a failure message.
std::string runs(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size();) {
        size_t j = i;
        while (j < bytes.size() && bytes[j] == bytes[i]) ++j;
        text += (text.empty() ? "" : " ") + std::string(1, bytes[i] == '\0' ? '0' : bytes[i]) +
                std::to_string(j - i);
        i = j;
    }
    return text.empty() ? "empty" : text;
}

// Collects the distinct images a crash now may leave at the path.
std::set<std::string> imagesAt(const CrashDisk& disk, const std::string& path) {
    std::set<std::string> found;
    disk.forEachCrashImage(path, 7, 64,
                           [&](uint64_t, const std::function<CrashDisk::Image()>& build,
                               const std::function<std::string()>&) {
                               const CrashDisk::Image image = build();
                               found.insert(image.exists ? runs(image.bytes) : "none");
                               return true;
                           });
    return found;
}

}  // namespace

TEST(CrashDisk, SectorsTearIndependentlyAndAHandleSyncsOnlyTheWritesBeforeIt) {
    CrashDisk disk;
    ASSERT_TRUE(disk.open("f", true));
    ASSERT_TRUE(disk.syncFolderOf("f"));
    ASSERT_TRUE(disk.writeAt(0, std::string(1024, 'a').data(), 1024));
    ASSERT_TRUE(disk.sync());
    ASSERT_TRUE(disk.writeAt(0, std::string(1024, 'b').data(), 1024));
    EXPECT_EQ(imagesAt(disk, "f"),
              (std::set<std::string>{"a1024", "a512 b512", "b512 a512", "b1024"}));

    auto handle = disk.duplicate();
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(disk.writeAt(1024, std::string(100, 'c').data(), 100));
    ASSERT_TRUE(handle->sync());
    EXPECT_EQ(imagesAt(disk, "f"), (std::set<std::string>{"b1024", "b1024 0100", "b1024 c100"}));

    // A cut reads as zeros in the sectors it shortens, or not at all.
    ASSERT_TRUE(disk.sync());
    ASSERT_TRUE(disk.truncate(600));
    ASSERT_TRUE(disk.truncate(1124));
    EXPECT_EQ(imagesAt(disk, "f"), (std::set<std::string>{"b1024 c100", "b1024 0100", "b600",
                                                          "b600 0524", "b600 0424 c100"}));
}

TEST(CrashDisk, NamesAreDurableOnlyAfterTheFolderSync) {
    CrashDisk disk;
    ASSERT_TRUE(disk.open("f.new", true));
    ASSERT_TRUE(disk.syncFolderOf("f.new"));
    ASSERT_TRUE(disk.writeAt(0, "xyz", 3));
    ASSERT_TRUE(disk.sync());
    disk.close();
    ASSERT_TRUE(disk.renameFile("f.new", "f"));
    EXPECT_EQ(imagesAt(disk, "f"), (std::set<std::string>{"none", "x1 y1 z1"}));
    EXPECT_EQ(imagesAt(disk, "f.new"), (std::set<std::string>{"x1 y1 z1", "none"}));
    ASSERT_TRUE(disk.syncFolderOf("f"));
    EXPECT_EQ(imagesAt(disk, "f"), (std::set<std::string>{"x1 y1 z1"}));
    EXPECT_EQ(imagesAt(disk, "f.new"), (std::set<std::string>{"none"}));
    // A disk made from an image holds it durably.
    CrashDisk copy("f", CrashDisk::Image{true, "xyz"});
    EXPECT_EQ(imagesAt(copy, "f"), (std::set<std::string>{"x1 y1 z1"}));
}

TEST_F(EventQueueFileCrash, SyncedEventsSurviveAPowerCutAtEveryStep) {
    ASSERT_NO_FATAL_FAILURE(openFresh());
    // Retirements inside and outside sync cycles.
    ASSERT_NO_FATAL_FAILURE(append(6, EQUAL));
    ASSERT_NO_FATAL_FAILURE(syncCycle());
    ASSERT_NO_FATAL_FAILURE(retire(2));
    ASSERT_NO_FATAL_FAILURE(append(2, EQUAL));
    ASSERT_NO_FATAL_FAILURE(syncCycle([&] {
        append(1, EQUAL);
        retire(1);
    }));
    ASSERT_NO_FATAL_FAILURE(syncCycle({}, [&] {
        retire(1);
        append(1, SHORT);
    }));

    // The ring wraps as the front is retired, then grows while it wraps.
    for (int round = 0; round < 8; ++round) {
        ASSERT_NO_FATAL_FAILURE(append(2, EQUAL));
        if (round % 3 == 1) {
            ASSERT_NO_FATAL_FAILURE(append(1, SHORT));
        }
        ASSERT_NO_FATAL_FAILURE(retire(round % 3 == 1 ? 3 : 2));
        if (round % 2 == 0) {
            ASSERT_NO_FATAL_FAILURE(syncCycle([&] {
                append(1, EQUAL);
                retire(1);
            }));
        } else {
            ASSERT_NO_FATAL_FAILURE(syncCycle());
        }
    }
    wantResumable = true;
    ASSERT_NO_FATAL_FAILURE(append(8, EQUAL));
    ASSERT_NO_FATAL_FAILURE(syncCycle());
    ASSERT_NO_FATAL_FAILURE(append(2, LONG));
    ASSERT_NO_FATAL_FAILURE(retire(3));
    ASSERT_NO_FATAL_FAILURE(syncCycle([&] { append(2, EQUAL); }));
    ASSERT_NO_FATAL_FAILURE(syncAll());
    EXPECT_TRUE(grewWhileWrapped) << "no append grew a wrapped ring";

    // Emptied, then filled with entries of equal length at the same places.
    ASSERT_NO_FATAL_FAILURE(retireAll());
    ASSERT_NO_FATAL_FAILURE(syncCycle());
    ASSERT_NO_FATAL_FAILURE(append(6, EQUAL));
    ASSERT_NO_FATAL_FAILURE(syncCycle());
    ASSERT_NO_FATAL_FAILURE(retireAll());
    ASSERT_NO_FATAL_FAILURE(append(6, EQUAL));
    ASSERT_NO_FATAL_FAILURE(syncCycle());
    ASSERT_NO_FATAL_FAILURE(syncCycle());

    // Rebuilt, then used on; closed and opened again.
    ASSERT_NO_FATAL_FAILURE(append(3, EQUAL));
    ASSERT_NO_FATAL_FAILURE(rebuild());
    ASSERT_NO_FATAL_FAILURE(append(2, EQUAL));
    ASSERT_NO_FATAL_FAILURE(retire(2));
    ASSERT_NO_FATAL_FAILURE(syncCycle());
    ASSERT_NO_FATAL_FAILURE(retire(1));
    ASSERT_NO_FATAL_FAILURE(reopen());
    ASSERT_NO_FATAL_FAILURE(append(2, EQUAL));
    ASSERT_NO_FATAL_FAILURE(syncAll());

    ASSERT_NO_FATAL_FAILURE(randomSteps(CORVEX_CRASH_RANDOM_STEPS, 2024));
    wantResumable = false;

    // The next process after a crash: a salvage of a broken chain, and a
    // sound file whose retired bytes the crash left unzeroed.
    ASSERT_NO_FATAL_FAILURE(resumeFrom(damaged, Result::Damaged));
    ASSERT_NO_FATAL_FAILURE(append(3, EQUAL));
    ASSERT_NO_FATAL_FAILURE(retire(2));
    ASSERT_NO_FATAL_FAILURE(syncCycle([&] { append(1, EQUAL); }));
    ASSERT_NO_FATAL_FAILURE(syncAll());
    ASSERT_NO_FATAL_FAILURE(resumeFrom(leftovers, Result::Ready));
    ASSERT_NO_FATAL_FAILURE(randomSteps(CORVEX_CRASH_RANDOM_STEPS / 4, 77));

    EXPECT_EQ(lost, 0);
    EXPECT_EQ(faultyImages, 0) << "first faulty image:\n" << firstFault;
}
