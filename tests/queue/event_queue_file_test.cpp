#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "event_queue_file_test_util.h"
#include "queue/event_queue_file.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Testing;
namespace fs = std::filesystem;
using Texts = std::vector<std::string>;
using Result = EventQueueFile::OpenResult;

namespace {

void appendText(EventQueueFile& file, const std::string& text) {
    ASSERT_TRUE(file.append(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

TEST(EventQueueFileFormat, NewFileAndFirstEntry) {
    TempFolder folder("first", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    EventQueueFile file(path);
    ASSERT_EQ(file.open(), Result::Ready);
    EXPECT_TRUE(file.isOpen());
    EXPECT_EQ(file.elementCount(), 0);
    EXPECT_EQ(file.fileLength(), 4096);
    const std::string fresh = readBytes(path);
    ASSERT_EQ(fresh.size(), 4096u);
    EXPECT_EQ(fresh.substr(0, 16), std::string("\0\0\x10\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(fresh, freshImage());
#ifndef _WIN32
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);

    const std::string text(100, 't');
    appendText(file, text);
    std::string expected = fresh;
    putHeader(expected, 4096, 1, 16, 16);
    putRing(expected, 4096, 16, entryBytes(text));
    const std::string image = readBytes(path);
    EXPECT_EQ(image.substr(0, 20),
              std::string("\0\0\x10\0\0\0\0\x01\0\0\0\x10\0\0\0\x10\0\0\0\x64", 20));
    EXPECT_EQ(image, expected);
    EXPECT_EQ(loadTexts(path), Texts{text});
}

TEST(EventQueueFileFormat, LargeFirstEntryDoublesTheRingBeforeTheFileGrows) {
    TempFolder folder("large", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    EventQueueFile file(path);
    ASSERT_EQ(file.open(), Result::Ready);
    const std::string text(5000, 'x');
    appendText(file, text);
    EXPECT_EQ(file.fileLength(), 8192);
    std::string expected(5020, '\0');
    putHeader(expected, 8192, 1, 16, 16);
    putRing(expected, 8192, 16, entryBytes(text));
    EXPECT_EQ(readBytes(path), expected);
    // A file shorter on disk than its header's length is sound.
    EXPECT_EQ(loadTexts(path), Texts{text});
}

TEST(EventQueueFileFormat, LengthSplitAtTheRingEndAndRemovalZeroesAcrossIt) {
    TempFolder folder("split", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    EventQueueFile file(path);
    ASSERT_EQ(file.open(), Result::Ready);
    ASSERT_TRUE(makeSplitState(file));
    std::string expected = freshImage();
    putHeader(expected, 4096, 2, 2020, 4094);
    putRing(expected, 4096, 2020, entryBytes(SPLIT_B));
    putRing(expected, 4096, 4094, entryBytes(SPLIT_C));
    std::string image = readBytes(path);
    EXPECT_EQ(image, expected);
    EXPECT_EQ(image.substr(4094, 2), std::string(2, '\0'));
    EXPECT_EQ(image.substr(16, 2), std::string("\0\x0a", 2));
    EXPECT_EQ(image.substr(18, 10), SPLIT_C);
    EXPECT_EQ(loadTexts(path), (Texts{SPLIT_B, SPLIT_C}));

    // Removing B and the split C zeroes both stretches, before and after the
    // end, once the header that removed them is synced.
    const std::string e(100, 'e');
    appendText(file, e);
    ASSERT_TRUE(file.removeFirst(2));
    EXPECT_EQ(readBytes(path).substr(16, 12), image.substr(16, 12));
    ASSERT_TRUE(settle(file));
    expected = freshImage();
    putHeader(expected, 4096, 1, 28, 28);
    putRing(expected, 4096, 28, entryBytes(e));
    EXPECT_EQ(readBytes(path), expected);
    EXPECT_EQ(loadTexts(path), Texts{e});
}

TEST(EventQueueFileFormat, GrowingAWrappedRingCopiesTheWrappedPartBehindTheOldEnd) {
    const std::string d(3000, 'd');
    const std::string e(100, 'e');
    {
        SCOPED_TRACE("only the newest entry's tail wraps: the new entry follows it at 4108");
        TempFolder folder("grow_tail", TempFolder::Create::Now);
        const std::string path = folder.file(".event_queue");
        EventQueueFile file(path);
        ASSERT_EQ(file.open(), Result::Ready);
        ASSERT_TRUE(makeSplitState(file));
        const std::string before = readBytes(path);
        appendText(file, d);
        std::string expected = before;
        putHeader(expected, 8192, 3, 2020, 4108);
        expected += before.substr(16, 12) + entryBytes(d);
        EXPECT_EQ(readBytes(path), expected);
        EXPECT_EQ(loadTexts(path), (Texts{SPLIT_B, SPLIT_C, d}));
    }
    {
        SCOPED_TRACE("the newest entry lies in the wrapped part: it moves by 4080 to 4108");
        TempFolder folder("grow_wrapped", TempFolder::Create::Now);
        const std::string path = folder.file(".event_queue");
        EventQueueFile file(path);
        ASSERT_EQ(file.open(), Result::Ready);
        ASSERT_TRUE(makeSplitState(file));
        appendText(file, e);  // at 28
        const std::string before = readBytes(path);
        appendText(file, d);
        std::string expected = before;
        putHeader(expected, 8192, 4, 2020, 4108 + 104);
        expected += before.substr(16, 116) + entryBytes(d);
        EXPECT_EQ(readBytes(path), expected);
        EXPECT_EQ(loadTexts(path), (Texts{SPLIT_B, SPLIT_C, e, d}));
    }
}

TEST(EventQueueFileFormat, RemovalZeroesTheOldestAndEmptyingLeavesAFreshFile) {
    TempFolder folder("remove", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    EventQueueFile file(path);
    ASSERT_EQ(file.open(), Result::Ready);
    const Texts texts{std::string(30, 'x'), std::string(40, 'y'), std::string(50, 'z')};
    for (const std::string& text : texts) appendText(file, text);
    ASSERT_TRUE(file.removeFirst(1));
    // Until a sync has made the new header durable, the removed bytes stay.
    EXPECT_EQ(readBytes(path).substr(16, 34), entryBytes(texts[0]));
    ASSERT_TRUE(file.sync());
    std::string expected = freshImage();
    putHeader(expected, 4096, 2, 50, 94);
    putRing(expected, 4096, 50, entryBytes(texts[1]));
    putRing(expected, 4096, 94, entryBytes(texts[2]));
    EXPECT_EQ(readBytes(path), expected);

    // A grown ring shrinks back to 4096 bytes once emptied and synced; asking
    // for more entries than there are removes them all.
    ASSERT_TRUE(file.sync());
    appendText(file, std::string(6000, 'g'));
    ASSERT_EQ(file.fileLength(), 8192);
    ASSERT_TRUE(file.removeFirst(10));
    EXPECT_EQ(file.elementCount(), 0);
    EXPECT_EQ(file.fileLength(), 8192);
    ASSERT_TRUE(settle(file));
    EXPECT_EQ(file.fileLength(), 4096);
    EXPECT_EQ(readBytes(path), freshImage());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
    appendText(file, "again");
    EXPECT_EQ(loadTexts(path), Texts{"again"});
}

TEST(EventQueueFileLoad, FilesLoadWhateverTheirFreeBytesHold) {
    TempFolder folder("garbage", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    // Another writer's 8192-byte ring full of noise, holding P, then Q with its
    // length split across the end, then R.
    std::mt19937 random(7);
    std::string image(8192, '\0');
    for (char& c : image) c = static_cast<char>(random());
    const std::string p(3186, 'p'), q(200, 'q'), r(50, 'r');
    putHeader(image, 8192, 3, 5000, 218);
    putRing(image, 8192, 5000, entryBytes(p));
    putRing(image, 8192, 8190, entryBytes(q));
    putRing(image, 8192, 218, entryBytes(r));
    writeBytes(path, image);
    EXPECT_EQ(loadTexts(path), (Texts{p, q, r}));
    {
        EventQueueFile file(path);
        ASSERT_EQ(file.open(), Result::Ready);
        appendText(file, "s");
        ASSERT_TRUE(file.removeFirst(2));
    }
    EXPECT_EQ(loadTexts(path), (Texts{r, "s"}));
}

TEST(EventQueueFileLoad, EntriesOfAnyLengthRoundTrip) {
    TempFolder folder("lengths", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    // 4076 bytes fill a fresh ring exactly; the others exceed any fixed buffer.
    const Texts texts{std::string(4076, 'f'), "1", std::string(9000, 'n'), std::string(70000, 's')};
    {
        EventQueueFile file(path);
        ASSERT_EQ(file.open(), Result::Ready);
        appendText(file, texts[0]);
        EXPECT_EQ(file.fileLength(), 4096);
        for (size_t i = 1; i < texts.size(); ++i) appendText(file, texts[i]);
    }
    EXPECT_EQ(loadTexts(path), texts);
    EventQueueFile file(path);
    ASSERT_EQ(file.open(), Result::Ready);
    ASSERT_TRUE(file.rewrite({texts[3], texts[0]}));
    EXPECT_EQ(file.fileLength(), 131072);
    EXPECT_EQ(loadTexts(path), (Texts{texts[3], texts[0]}));
}

TEST(EventQueueFileLoad, ManyEntriesLoadAcrossTheRingsEndAndAShortFile) {
    TempFolder folder("many", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    auto text = [](int n) {
        return std::to_string(n) + std::string(250, static_cast<char>('a' + n % 26));
    };
    Texts expected;
    {
        EventQueueFile file(path);
        ASSERT_EQ(file.open(), Result::Ready);
        for (int n = 0; n < 1500; ++n) appendText(file, text(n));
        ASSERT_TRUE(file.removeFirst(1000));
        ASSERT_TRUE(settle(file));
        for (int n = 1500; n < 2500; ++n) appendText(file, text(n));
        EXPECT_EQ(file.fileLength(), 524288);
    }
    for (int n = 1000; n < 2500; ++n) expected.push_back(text(n));
    EXPECT_EQ(loadTexts(path), expected);

    // A ring whose file ends right after its last entry still loads.
    std::string image(8192, '\0');
    putHeader(image, 8192, 2, 16, 20 + 3000);
    putRing(image, 8192, 16, entryBytes(std::string(3000, 'x')));
    putRing(image, 8192, 3020, entryBytes("end"));
    image.resize(3027);
    writeBytes(path, image);
    EXPECT_EQ(loadTexts(path), (Texts{std::string(3000, 'x'), "end"}));
}

TEST(EventQueueFileLoad, TheOpenFileNoLongerMatchesOnceDeletedReplacedOrCut) {
    TempFolder folder("disk", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    const auto opened = [&] {
        auto file = std::make_unique<EventQueueFile>(path);
        EXPECT_EQ(file->open(), Result::Ready);
        appendText(*file, std::string(300, 'a'));
        return file;
    };
    auto file = opened();
    EXPECT_TRUE(file->matchesDisk());
    fs::resize_file(path, 200);  // cut inside the entry
    EXPECT_FALSE(file->matchesDisk());

    fs::remove(path);
    file = opened();
    fs::remove(path);
    EXPECT_FALSE(file->matchesDisk());
    writeBytes(path, std::string(8192, 'x'));  // another file takes the name
    EXPECT_FALSE(file->matchesDisk());
}

// Appends after a cut write the file out to its old length again; only reading
// back what was written since the last check shows the hole.
TEST(EventQueueFileLoad, ACutThatLaterAppendsExtendAgainIsStillFound) {
    TempFolder folder("refilled", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    // Cut in the oldest entry or in the newest, then one append or as many as
    // make the ring grow; 1016-byte entries fill the first ring exactly.
    const std::pair<int, int> cases[] = {
        {300, 100}, {300, 16 + 3 * 304 + 150}, {1016, 100}, {1016, 16 + 3 * 1020 + 150}};
    for (const auto& [size, cut] : cases) {
        for (const int appends : {1, 12}) {
            fs::remove(path);
            EventQueueFile file(path);
            ASSERT_EQ(file.open(), Result::Ready);
            for (int i = 0; i < 3; ++i) appendText(file, std::string(size, 'a'));
            EXPECT_TRUE(file.matchesDisk());
            appendText(file, std::string(size, 'b'));
            fs::resize_file(path, cut);
            // An append may find the cut itself and fail; the check must then fail too.
            const std::string text(size, 'c');
            for (int i = 0; i < appends && file.append(text.data(), size); ++i) {
            }
            EXPECT_FALSE(file.matchesDisk()) << size << " cut at " << cut << ", " << appends;
        }
    }
    // Without a cut, checks between appends, removals and growth all pass,
    // also after a ring filled exactly has grown.
    fs::remove(path);
    EventQueueFile file(path);
    ASSERT_EQ(file.open(), Result::Ready);
    for (int i = 0; i < 6; ++i) appendText(file, std::string(1016, 'e'));
    EXPECT_TRUE(file.matchesDisk());
    EXPECT_TRUE(file.removeFirst(6));
    for (int i = 0; i < 40; ++i) {
        appendText(file, std::string(100 + i * 10, 'd'));
        if (i % 3 == 0) {
            EXPECT_TRUE(file.matchesDisk()) << i;
        }
        if (i % 7 == 6) {
            EXPECT_TRUE(file.removeFirst(2)) << i;
        }
    }
    EXPECT_TRUE(file.matchesDisk());
}

// A header that is not sound loses the file; a chain that breaks off keeps
// the entries before the break, and the file is written anew from them.
TEST(EventQueueFileLoad, UnsoundHeadersAreCorruptAndBrokenChainsKeepTheirStart) {
    auto ring = [](int64_t length, int64_t count, int64_t first, int64_t last) {
        std::string image(4096, '\0');
        putHeader(image, length, count, first, last);
        return image;
    };
    auto withEntries = [](std::string image, int64_t position, const Texts& texts) {
        for (const std::string& text : texts) {
            putRing(image, 4096, position, entryBytes(text));
            position += 4 + static_cast<int64_t>(text.size());
        }
        return image;
    };
    std::string zeroLength = withEntries(ring(4096, 3, 16, 44), 16, {"0123456789", "abcdefghij"});
    std::string tooLong = withEntries(ring(4096, 2, 16, 21), 16, {"a"});
    putInt(tooLong, 21, 4077);
    std::string pastDisk = withEntries(ring(4096, 2, 16, 21), 16, {"a", std::string(100, 'x')});
    pastDisk.resize(60);
    struct Case {
        const char* name;
        std::string image;
        Result result;
        Texts kept;
    };
    const Case cases[] = {
        {"empty file", "", Result::Corrupt, {}},
        {"shorter than a header", std::string(10, '\0'), Result::Corrupt, {}},
        {"zero-filled", std::string(4096, '\0'), Result::Corrupt, {}},
        {"length not a multiple of 4096", ring(5000, 0, 0, 0), Result::Corrupt, {}},
        {"negative count", ring(4096, -1, 0, 0), Result::Corrupt, {}},
        {"empty ring naming an entry", ring(4096, 0, 16, 16), Result::Corrupt, {}},
        {"count without a first position",
         withEntries(ring(4096, 2, 0, 0), 16, {"ab", "cd"}),
         Result::Corrupt,
         {}},
        {"position inside the header", ring(4096, 1, 8, 8), Result::Corrupt, {}},
        {"position past the ring", ring(4096, 1, 4096, 4096), Result::Corrupt, {}},
        {"third entry of length 0", zeroLength, Result::Damaged, {"0123456789", "abcdefghij"}},
        {"length that cannot fit the ring", tooLong, Result::Damaged, {"a"}},
        {"walk past the last position",
         withEntries(ring(4096, 2, 16, 16), 16, {"ab", "cd"}),
         Result::Damaged,
         {"ab"}},
        {"entry past the end on disk", pastDisk, Result::Damaged, {"a"}},
    };
    TempFolder folder("unsound", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    for (const auto& [name, image, result, kept] : cases) {
        SCOPED_TRACE(name);
        writeBytes(path, image);
        EventQueueFile file(path);
        ASSERT_EQ(file.open(), result);
        EXPECT_TRUE(file.isOpen());
        EXPECT_FALSE(file.append("x", 1));
        Texts read;
        EXPECT_EQ(file.readEntries([&](std::string&& text) { read.push_back(text); }),
                  result == Result::Corrupt ? EventQueueFile::ReadResult::Corrupt
                                            : EventQueueFile::ReadResult::Ok);
        EXPECT_EQ(read, kept);
        EXPECT_EQ(readBytes(path), image);
        std::vector<std::string_view> views(kept.begin(), kept.end());
        ASSERT_TRUE(file.rewrite(views));
        appendText(file, "x");
        read = kept;
        read.push_back("x");
        EXPECT_EQ(loadTexts(path), read);
    }
}

TEST(EventQueueFileLoad, AFileThatCannotBeOpenedIsLeftAlone) {
    TempFolder folder("unavailable", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    fs::create_directory(path);  // cannot be opened as a file, even by root
    EventQueueFile file(path);
    EXPECT_EQ(file.open(), Result::Unavailable);
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.append("x", 1));
    EXPECT_FALSE(file.rewrite({"x"}));
    EXPECT_FALSE(file.recreate());
    EXPECT_TRUE(fs::is_directory(path));

    EventQueueFile nowhere((fs::path(folder.file("missing")) / ".event_queue").string());
    EXPECT_EQ(nowhere.open(), Result::Unavailable);
    EXPECT_FALSE(fs::exists(folder.file("missing")));
}
