#include "core/storage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/save_folder.h"
#include "support/temp_folder.h"

using Corvex::Tracking::Storage;
using Corvex::Tracking::Testing::fileText;
using Corvex::Tracking::Testing::TempFolder;

namespace {

Storage loaded(const TempFolder& folder, const std::string& contents) {
    folder.create();
    Corvex::Tracking::Platform::replaceFileContents(folder.file(".properties"), contents);
    Storage storage(folder.path());
    storage.setFileName(".properties");
    storage.load();
    return storage;
}

}  // namespace

TEST(Storage, ReadsTheStringUnderAKeyOnlyFromAnObject) {
    TempFolder folder("storage_read");
    EXPECT_EQ(loaded(folder, "{\"userId\":\"abc\"}\n").getString("userId"), "abc");
    EXPECT_EQ(loaded(folder, "\xEF\xBB\xBF {\"userId\":\"bom\"} \r\n").getString("userId"), "bom");
    for (const char* contents :
         {"", "not json", "[1]", "{\"userId\":5}", "{\"userId\":null}", "{\"other\":\"x\"}",
          "{\"userId\":\"a\"} trailing", "/*c*/{\"userId\":\"a\"}", "\"userId\""}) {
        EXPECT_EQ(loaded(folder, contents).getString("userId"), "") << contents;
    }
    Storage missing(folder.file("nowhere"));
    missing.load();
    EXPECT_EQ(missing.getString("userId"), "");
}

TEST(Storage, SaveWritesCompactSortedObjectAndLineFeedKeepingOtherMembers) {
    TempFolder folder("storage_write");
    Storage storage = loaded(folder, R"({"zeta":[1,2], "other": 1})");
    storage.setString("userId", "id-1");
    ASSERT_TRUE(storage.save());
    EXPECT_EQ(fileText(folder.file(".properties")),
              "{\"other\":1,\"userId\":\"id-1\",\"zeta\":[1,2]}\n");
    struct stat st {};
    ASSERT_EQ(::stat(folder.file(".properties").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);
}

TEST(Storage, WritesOnlyWhenAValueChanged) {
    TempFolder folder("storage_dirty");
    Storage storage = loaded(folder, "{\"userId\":\"same\"}");
    storage.setString("userId", "same");
    ASSERT_TRUE(storage.save());
    EXPECT_EQ(fileText(folder.file(".properties")), "{\"userId\":\"same\"}");  // untouched

    Storage replaced = loaded(folder, "[1,2]");  // not an object: replaced by one
    replaced.setString("userId", "new");
    ASSERT_TRUE(replaced.save());
    EXPECT_EQ(fileText(folder.file(".properties")), "{\"userId\":\"new\"}\n");
}

TEST(Storage, AFolderThatCannotBeWrittenLeavesNothingBehind) {
    TempFolder folder("storage_fail");
    Storage storage(folder.file("missing/deeper"));
    storage.setFileName(".properties");
    storage.load();
    storage.setString("userId", "x");
    EXPECT_FALSE(storage.save());
    EXPECT_FALSE(std::filesystem::exists(folder.path()));
}
