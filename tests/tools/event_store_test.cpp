// The collector's database and its terminal forms.
#include "collector/event_store.h"

#include <gtest/gtest.h>

#include <fstream>

#include "collector/event_report.h"
#include "platform/platform.h"
#include "support/temp_folder.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Collector;
using Corvex::Tracking::Testing::TempFolder;
using nlohmann::json;

namespace {

ReceivedEvent event(const std::string& eId, const std::string& name) {
    return {eId, name, json{{"n", eId}}, "session-1", 1700000000000, "default", "1.0"};
}

ReceivedBatch batchOf(std::vector<ReceivedEvent> events) {
    ReceivedBatch batch;
    batch.vxUid = "user-id";
    batch.platform = "Linux";
    batch.events = std::move(events);
    return batch;
}

RequestRecord request(const std::string& user, int status = 200) {
    RequestRecord record;
    record.receivedAtMs = 1700000000123;
    record.user = user;
    record.method = "PUT";
    record.path = "/tracking/v3/event";
    record.transport = "https";
    record.status = status;
    return record;
}

std::vector<std::string> eIds(const std::vector<StoredEvent>& events) {
    std::vector<std::string> ids;
    for (const StoredEvent& stored : events) ids.push_back(stored.event.eId);
    return ids;
}

class EventStoreTest : public ::testing::Test {
protected:
    TempFolder folder{"event_store"};
    std::string path;
    std::unique_ptr<EventStore> store;

    void SetUp() override {
        Platform::makeDirectory(folder.path());
        path = folder.file("collector.sqlite");
        store = std::make_unique<EventStore>(path, EventStore::Mode::Create);
    }
};

}  // namespace

TEST_F(EventStoreTest, KeepsEachEventIdOnceAndCountsTheCopies) {
    const ReceivedBatch first = batchOf({event("e1", "level"), event("e2", "ad")});
    const RecordResult a = store->record(request("alice"), &first);
    EXPECT_EQ(a.newEvents, 2);
    EXPECT_EQ(a.duplicates, 0);

    // A resent event, a new one, and the new one twice in the same body.
    ReceivedBatch second = batchOf({event("e2", "ad"), event("e3", "level"), event("e3", "level")});
    second.events[0].value = "changed";
    const RecordResult b = store->record(request("bob"), &second);
    EXPECT_EQ(b.newEvents, 1);
    EXPECT_EQ(b.duplicates, 2);
    EXPECT_GT(b.requestId, a.requestId);

    const std::vector<StoredEvent> events = store->events({});
    ASSERT_EQ(eIds(events), (std::vector<std::string>{"e1", "e2", "e3"}));
    EXPECT_EQ(events[1].duplicates, 1);
    EXPECT_EQ(events[1].user, "alice");  // the first copy is the one kept
    EXPECT_EQ(events[1].event.value, (json{{"n", "e2"}}));
    EXPECT_EQ(events[1].requestId, a.requestId);
    EXPECT_EQ(events[2].duplicates, 1);
    EXPECT_EQ(events[2].user, "bob");
    EXPECT_EQ(events[0].receivedAtMs, 1700000000123);
    EXPECT_EQ(events[0].event.toJson(), event("e1", "level").toJson());

    const EventStats stats = store->stats();
    EXPECT_EQ(stats.events, 3);
    EXPECT_EQ(stats.duplicates, 2);
    EXPECT_EQ(stats.requests, 2);
    EXPECT_EQ(stats.failures, 0);
    ASSERT_EQ(stats.names.size(), 2u);
    EXPECT_EQ(stats.names[0].name, "level");
    EXPECT_EQ(stats.names[0].events, 2);
    EXPECT_EQ(stats.names[0].duplicates, 1);
}

TEST_F(EventStoreTest, RefusedRequestsCountAsFailuresAndStoreNoEvent) {
    RequestRecord refused = request("mallory", 401);
    refused.reason = "wrong credentials";
    refused.body = std::string("bytes \xFF\0 kept", 13);
    store->record(refused, nullptr);
    const EventStats stats = store->stats();
    EXPECT_EQ(stats.requests, 1);
    EXPECT_EQ(stats.accepted, 0);
    EXPECT_EQ(stats.failures, 1);
    EXPECT_EQ(stats.events, 0);
    EXPECT_TRUE(store->events({}).empty());
}

TEST_F(EventStoreTest, FiltersByPositionNameUserAndCount) {
    const ReceivedBatch first = batchOf({event("e1", "level"), event("e2", "ad")});
    const ReceivedBatch second = batchOf({event("e3", "level"), event("e4", "level")});
    store->record(request("alice"), &first);
    store->record(request("bob"), &second);
    const std::vector<StoredEvent> all = store->events({});
    ASSERT_EQ(all.size(), 4u);

    EXPECT_EQ(eIds(store->events({all[1].id, "", "", 0})), (std::vector<std::string>{"e3", "e4"}));
    EXPECT_EQ(eIds(store->events({0, "level", "", 0})),
              (std::vector<std::string>{"e1", "e3", "e4"}));
    EXPECT_EQ(eIds(store->events({0, "level", "alice", 0})), (std::vector<std::string>{"e1"}));
    EXPECT_EQ(eIds(store->events({0, "", "bob", 1})), (std::vector<std::string>{"e3"}));
    EXPECT_TRUE(store->events({all[3].id, "", "", 0}).empty());
}

TEST_F(EventStoreTest, AnotherProcessReadsWhileTheServiceWrites) {
    const ReceivedBatch first = batchOf({event("e1", "level")});
    store->record(request("alice"), &first);
    // WAL mode: the write-ahead log sits beside the open database.
    EXPECT_TRUE(Platform::fileExists(path + "-wal"));

    const EventStore reader(path, EventStore::Mode::Existing);
    EXPECT_EQ(reader.events({}).size(), 1u);
    const ReceivedBatch second = batchOf({event("e2", "level")});
    store->record(request("alice"), &second);
    EXPECT_EQ(reader.events({}).size(), 2u);

    store.reset();
    EXPECT_EQ(EventStore(path, EventStore::Mode::Existing).stats().events, 2);
}

TEST_F(EventStoreTest, OpensOnlyAnExistingCollectorDatabaseWhenAsked) {
    EXPECT_THROW(EventStore(folder.file("missing.sqlite"), EventStore::Mode::Existing),
                 std::runtime_error);
    EXPECT_FALSE(Platform::fileExists(folder.file("missing.sqlite")));
    std::ofstream(folder.file("other.sqlite")) << "not a database, just text that is long enough";
    EXPECT_THROW(EventStore(folder.file("other.sqlite"), EventStore::Mode::Create),
                 std::runtime_error);
}

TEST_F(EventStoreTest, ServesLineCountsOnlyNewBadEventsAndGivesTheirReasons) {
    const TrackingPlan plan =
        TrackingPlan::fromJson(json::parse(R"({"events": {"level": {"schema": {"type": "object",
            "properties": {"n": {"type": "integer"}}}}}})"),
                               "test plan");
    const ReceivedBatch first = batchOf({event("a", "level")});  // {"n": "a"}: bad
    store->record(request("u"), &first);
    const ReceivedBatch second = batchOf({event("a", "level"), event("b", "level")});
    const RecordResult result = store->record(request("u"), &second);
    EXPECT_EQ(result.newEventIndexes, std::vector<size_t>{1});

    const std::string line = formatAccepted(result, second, &plan);
    EXPECT_EQ(line.substr(0, line.find('\n')), "1 new, 1 bad, 1 duplicates");
    EXPECT_EQ(line.find("\n    bad level  /n: "), line.find('\n')) << line;
    EXPECT_EQ(line.find("\n", line.find('\n') + 1), std::string::npos);  // one reason
    EXPECT_EQ(formatAccepted(result, second, nullptr), "1 new, 1 duplicates");
}

TEST(EventReport, AlignsColumnsByCharactersAndDefusesControlBytes) {
    StoredEvent first;
    first.id = 9;
    first.receivedAtMs = 1700000000123;
    first.user = "caf\xC3\xA9";
    first.event = event("e1", "level\x1B[31m");
    StoredEvent second = first;
    second.id = 10;
    second.user = "bob";
    second.event = event("e2", "ad\xC2\x9B");
    second.duplicates = 2;
    const std::string table = formatEventTable({first, second}, true);

    std::vector<std::string> lines;
    std::istringstream stream(table);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind(" #  received", 0), 0u) << lines[0];
    // "café" and "bob" end their cells at the same column.
    EXPECT_NE(lines[1].find("caf\xC3\xA9  session"), std::string::npos);
    EXPECT_NE(lines[2].find("bob   session"), std::string::npos);
    EXPECT_NE(lines[1].find("level?[31m"), std::string::npos);
    EXPECT_NE(lines[2].find("ad? "), std::string::npos);
    EXPECT_EQ(table.find('\x1B'), std::string::npos);

    EXPECT_EQ(terminalCell("abcdef", 6), "abcdef");
    EXPECT_EQ(terminalCell("abcdefg", 6), "abcde\xE2\x80\xA6");
    EXPECT_EQ(terminalCell("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xE2\x80\xA6");
}
