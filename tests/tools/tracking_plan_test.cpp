// The tracking plan: each rule a value can break, named exactly; the plans
// that are refused and where; and `corvex-collector check`'s exit codes and
// JSON shape against a real store.
#include "collector/tracking_plan.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "collector/event_store.h"
#include "support/temp_folder.h"

using namespace Corvex::Tracking::Collector;
using Corvex::Tracking::Testing::TempFolder;
using nlohmann::json;

namespace {

const json PLAN = json::parse(R"({
  "events": {
    "purchase": {"required": true, "schema": {
      "type": "object", "required": ["item", "price"], "additionalProperties": false,
      "properties": {"item": {"type": "string"}, "price": {"type": "number"},
                     "tags": {"type": "array", "items": {"type": "string"}}}}},
    "tutorial_done": {"required": true},
    "vxsdk_level_attempt": {"schema": {"properties": {"level": {"minimum": 1}}}}
  },
  "allow": ["^debug_"]
})");

std::vector<json> asJson(const std::vector<Violation>& violations) {
    std::vector<json> list;
    for (const Violation& violation : violations) list.push_back(violation.toJson());
    return list;
}

std::string planError(const std::string& text) {
    try {
        TrackingPlan::fromJson(json::parse(text), "plan.json");
    } catch (const PlanError& error) {
        return error.what();
    }
    return "accepted";
}

}  // namespace

TEST(TrackingPlanTest, NamesEachBrokenRuleWithItsPathAndValue) {
    const TrackingPlan plan = TrackingPlan::fromJson(PLAN, "plan.json");
    EXPECT_TRUE(plan.check("purchase", {{"item", "sword"}, {"price", 2.5}}).empty());
    EXPECT_EQ(
        asJson(plan.check("purchase", {{"item", "sword"}, {"price", "2.5"}})),
        (std::vector<json>{{{"path", "/price"},
                            {"rule", "Value type not permitted by 'type' constraint (got string)"},
                            {"value", "\"2.5\""}}}));
    EXPECT_EQ(
        asJson(plan.check("purchase", {{"item", "sword"}, {"price", 1}, {"tags", {"a", 3}}})),
        (std::vector<json>{{{"path", "/tags/1"},
                            {"rule", "Value type not permitted by 'type' constraint (got integer)"},
                            {"value", "3"}}}));
    EXPECT_EQ(asJson(plan.check("purchase", {{"item", "sword"}})),
              (std::vector<json>{{{"path", ""},
                                  {"rule", "Missing required property 'price'"},
                                  {"value", "{\"item\":\"sword\"}"}}}));
    EXPECT_EQ(asJson(plan.check("purchase", {{"item", "a"}, {"price", 1}, {"coupon", "x"}})),
              (std::vector<json>{
                  {{"path", ""},
                   {"rule",
                    "Object contains a property that could not be validated using 'properties' "
                    "or 'additionalProperties' constraints: 'coupon'"},
                   {"value", "{\"coupon\":\"x\",\"item\":\"a\",\"price\":1}"}}}));
    // Unknown names; allowed ones and the library's own pass.
    const std::string longName(300, 'n');
    EXPECT_EQ(asJson(plan.check(longName, 1)),
              (std::vector<json>{{{"path", ""},
                                  {"rule", "not in the plan"},
                                  {"value", longName.substr(0, 80) + "..."}}}));
    EXPECT_TRUE(plan.check("debug_fps", "anything").empty());
    EXPECT_TRUE(plan.check("vxsdk_boot_start", nullptr).empty());
    EXPECT_EQ(plan.requiredEvents(), (std::vector<std::string>{"purchase", "tutorial_done"}));
}

TEST(TrackingPlanTest, APlanEntryNarrowsTheLibrarysOwnShape) {
    const TrackingPlan plan = TrackingPlan::fromJson(PLAN, "plan.json");
    EXPECT_TRUE(plan.check("vxsdk_level_attempt", {{"level", 1}, {"label", "m"}}).empty());
    EXPECT_EQ(asJson(plan.check("vxsdk_level_attempt", {{"level", 0}, {"label", "m"}})),
              (std::vector<json>{{{"path", "/level"},
                                  {"rule", "Expected number greater than or equal to 1.000000"},
                                  {"value", "0"}}}));
    // The built-in shape still applies under the plan's narrower one.
    EXPECT_EQ(asJson(plan.check("vxsdk_level_attempt", {{"level", 2}})),
              (std::vector<json>{{{"path", ""},
                                  {"rule", "Missing required property 'label'"},
                                  {"value", "{\"level\":2}"}}}));
    // Without a plan entry, the built-in shape alone.
    EXPECT_EQ(plan.check("vxsdk_fb_login", {{"facebook_id", 7}}).size(), 1u);
}

TEST(TrackingPlanTest, RefusesBadPlansNamingFileAndPlace) {
    EXPECT_EQ(planError(R"({"events": {}, "alow": []})"), "plan.json: /alow: unknown key \"alow\"");
    EXPECT_EQ(planError(R"({"events": {"a/b": {"schema": {}, "optional": true}}})"),
              "plan.json: /events/a~1b/optional: unknown key \"optional\"");
    EXPECT_EQ(
        planError(R"({"events": {"a": {"schema": {"properties": {"x": {"minimum": "1"}}}}}})"),
        "plan.json: /events/a/schema/properties/x/minimum: not a valid draft-07 schema: "
        "Value type not permitted by 'type' constraint (got string)");
    EXPECT_EQ(planError(R"({"events": {"a": {"required": "yes"}}})"),
              "plan.json: /events/a/required: true or false");
    EXPECT_EQ(planError(R"({"allow": ["ok", "("]})")
                  .rfind("plan.json: /allow/1: not a valid regular expression", 0),
              0u);

    TempFolder folder{"tracking_plan", TempFolder::Create::Now};
    std::ofstream(folder.file("broken.json")) << "{\n  \"events\": {,\n}";
    try {
        TrackingPlan::load(folder.file("broken.json"));
        FAIL() << "accepted";
    } catch (const PlanError& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind(folder.file("broken.json") + ": not JSON", 0), 0u) << message;
        EXPECT_NE(message.find("line 2, column 14"), std::string::npos) << message;
    }
}

TEST(TrackingPlanTest, WarnsOfKeywordsTheValidatorDoesNotEnforce) {
    const TrackingPlan plan =
        TrackingPlan::fromJson(json::parse(R"({"events": {"signup": {"schema": {
        "properties": {"mail": {"format": "email"}, "day": {"format": "date"},
                       "photo": {"contentEncoding": "base64"}}}}}})"),
                               "plan.json");
    EXPECT_EQ(plan.warnings(),
              (std::vector<std::string>{
                  "plan.json: /events/signup/schema/properties/mail/format (\"email\"): not "
                  "enforced by the validator, not checked",
                  "plan.json: /events/signup/schema/properties/photo/contentEncoding: not "
                  "enforced by the validator, not checked"}));
    // "date" is enforced.
    EXPECT_EQ(plan.check("signup", {{"day", "2024-13-01"}}).size(), 1u);
}

namespace {

struct CommandRun {
    int status = -1;
    std::string output;
};

CommandRun run(const std::string& arguments) {
    CommandRun result;
    FILE* pipe =
        popen((std::string(CORVEX_COLLECTOR_PROGRAM) + " " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, count);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ReceivedEvent event(const std::string& eId, const std::string& name, json value) {
    ReceivedEvent made;
    made.eId = eId;
    made.eventName = name;
    made.value = std::move(value);
    made.sessionId = "s";
    return made;
}

}  // namespace

TEST(TrackingPlanTest, CheckCommandExitsWithZeroOneOrTwo) {
    TempFolder folder{"plan_check", TempFolder::Create::Now};
    std::ofstream(folder.file("plan.json")) << PLAN.dump();
    std::ofstream(folder.file("bad-plan.json")) << R"({"event": {}})";
    const std::string data = "--data " + folder.file("data") + " ";
    const std::string plan = "--plan " + folder.file("plan.json") + " ";

    EXPECT_EQ(run("check " + plan + "--data " + folder.file("none")).status, 2);
    EXPECT_EQ(run("check " + plan + data + "--colour").status, 2);
    std::filesystem::create_directories(folder.file("data"));
    { EventStore store(folder.file("data/collector.sqlite"), EventStore::Mode::Create); }
    EXPECT_EQ(run("check " + data + "--plan " + folder.file("bad-plan.json")).status, 2);
    EXPECT_EQ(run("check " + plan + data).status, 1);                    // empty
    EXPECT_EQ(run("check " + plan + data + "--allow-empty").status, 1);  // required events

    ReceivedBatch batch;
    batch.events = {event("e1", "purchase", {{"item", "a"}, {"price", 1}}),
                    event("e2", "tutorial_done", nullptr)};
    RequestRecord request;
    request.user = "tester";
    EventStore(folder.file("data/collector.sqlite"), EventStore::Mode::Existing)
        .record(request, &batch);
    const CommandRun good = run("check " + plan + data);
    EXPECT_EQ(good.status, 0) << good.output;

    batch.events = {event("e3", "purchase", {{"item", "a"}, {"price", "1"}}),
                    event("e4", "purchase", {{"item", "b"}, {"price", "2"}}),
                    event("e5", "debug_x", 1), event("e6", "lvl_up", 1)};
    request.user = "other";
    EventStore(folder.file("data/collector.sqlite"), EventStore::Mode::Existing)
        .record(request, &batch);
    EXPECT_EQ(run("check " + plan + data + "--user tester").status, 0);
    const CommandRun bad = run("check " + plan + data + "--json");
    EXPECT_EQ(bad.status, 1);
    const json expected = {
        {"passed", false},
        {"events", 6},
        {"badEvents", 3},
        {"missingRequired", json::array()},
        {"warnings", json::array()},
        {"violations",
         {{{"event", "purchase"},
           {"path", "/price"},
           {"events", 2},
           {"value", "\"1\""},
           {"rule", "Value type not permitted by 'type' constraint (got string)"}},
          {{"event", "lvl_up"},
           {"path", ""},
           {"events", 1},
           {"value", "lvl_up"},
           {"rule", "not in the plan"}}}}};
    EXPECT_EQ(json::parse(bad.output), expected);
    const CommandRun text = run("check " + plan + data);
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.output.find("purchase  /price  Value type not permitted by 'type' constraint "
                               "(got string)\n    e.g. \"1\"  (2 events)\n"),
              std::string::npos)
        << text.output;
}
