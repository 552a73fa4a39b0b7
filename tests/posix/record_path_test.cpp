// The per-user records file's place under a private HOME and XDG_DATA_HOME.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "record_file.h"

namespace {

namespace fs = std::filesystem;

struct RecordPath : ::testing::Test {
    std::string home;
    void SetUp() override
    {
        char templ[] = "/tmp/tq734-records-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        home = templ;
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_DATA_HOME");
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(home, ignored);
    }
};

TEST_F(RecordPath, XdgDataHomeFirstThenHomeAndTheFolderIsMade)
{
    char path[512];
    ASSERT_TRUE(default_record_path(path, sizeof path));
    EXPECT_EQ(std::string(path), home + "/.local/share/tq734-updater/records.jsonl");
    EXPECT_TRUE(fs::is_directory(home + "/.local/share/tq734-updater"));
    EXPECT_FALSE(fs::exists(path));

    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    ASSERT_TRUE(default_record_path(path, sizeof path));
    EXPECT_EQ(std::string(path), home + "/data/tq734-updater/records.jsonl");
    EXPECT_TRUE(fs::is_directory(home + "/data/tq734-updater"));
    ASSERT_TRUE(record_file_append(path, "{}\n", 3));

    // A relative XDG_DATA_HOME is not used.
    setenv("XDG_DATA_HOME", "data", 1);
    ASSERT_TRUE(default_record_path(path, sizeof path));
    EXPECT_EQ(std::string(path), home + "/.local/share/tq734-updater/records.jsonl");
}

TEST_F(RecordPath, NoPlaceOrNoRoomIsAFailure)
{
    char path[512];
    EXPECT_FALSE(default_record_path(path, 20));
    unsetenv("HOME");
    EXPECT_FALSE(default_record_path(path, sizeof path));
    // A folder that cannot be made (a file in its way).
    setenv("XDG_DATA_HOME", (home + "/file").c_str(), 1);
    ASSERT_TRUE(record_file_append((home + "/file").c_str(), "x", 1));
    EXPECT_FALSE(default_record_path(path, sizeof path));
}

TEST_F(RecordPath, AReadOnlyFolderRefusesTheRecord)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    fs::create_directories(home + "/ro");
    chmod((home + "/ro").c_str(), 0500);
    EXPECT_FALSE(record_file_append((home + "/ro/records.jsonl").c_str(), "{}\n", 3));
    chmod((home + "/ro").c_str(), 0700);
}

}  // namespace
