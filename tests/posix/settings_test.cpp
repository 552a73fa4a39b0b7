// The remembered port in its per-user file, under a private XDG_CONFIG_HOME.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "settings_store.h"

namespace {

namespace fs = std::filesystem;

struct SettingsFile : ::testing::Test {
    std::string home;
    std::string file() const { return home + "/config/tq734-updater/settings"; }
    void SetUp() override
    {
        char templ[] = "/tmp/tq734-settings-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        home = templ;
        setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        setenv("HOME", home.c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(home, ignored);
    }
    void plant(const std::string& text)
    {
        fs::create_directories(home + "/config/tq734-updater");
        std::ofstream(file(), std::ios::binary) << text;
    }
    std::string contents() const
    {
        std::ifstream in(file(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(SettingsFile, NothingStoredLoadsZero)
{
    EXPECT_EQ(load_port(), 0);
    fs::create_directories(home + "/config/tq734-updater");
    EXPECT_EQ(load_port(), 0);  // the folder without the file
}

TEST_F(SettingsFile, RememberedPortIsOneLineInTheUsersConfigFolder)
{
    remember_port(7);
    EXPECT_EQ(contents(), "COMport=7\n");
    EXPECT_EQ(load_port(), 7);
    EXPECT_EQ(fs::status(home + "/config/tq734-updater").permissions() & fs::perms::all, fs::perms::owner_all);
    remember_port(65535);
    EXPECT_EQ(contents(), "COMport=65535\n");
    EXPECT_EQ(load_port(), 65535);
    remember_port(33);
    EXPECT_EQ(load_port(), 33);
}

TEST_F(SettingsFile, WithoutXdgConfigHomeTheFileIsUnderDotConfig)
{
    for (const char* xdg : {static_cast<const char*>(nullptr), "", "relative/path"}) {
        if (xdg)
            setenv("XDG_CONFIG_HOME", xdg, 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        remember_port(12);
        EXPECT_TRUE(fs::exists(home + "/.config/tq734-updater/settings")) << (xdg ? xdg : "unset");
        EXPECT_EQ(load_port(), 12);
        fs::remove_all(home + "/.config");
    }
}

TEST_F(SettingsFile, TheLow16BitsOfA32BitNumberCount)
{
    const struct {
        const char* text;
        uint16_t port;
    } rows[] = {
        {"COMport=7", 7},           {"COMport=7\n", 7},          {"COMport=7\r\n", 7},
        {"COMport=327687", 7},      {"COMport=4294901760", 0},   {"COMport=4294967295\n", 65535},
        {"COMport=0007", 7},        {"COMport=0", 0},
    };
    for (const auto& row : rows) {
        plant(row.text);
        EXPECT_EQ(load_port(), row.port) << row.text;
    }
}

TEST_F(SettingsFile, AMalformedFileReadsAsNothingStored)
{
    for (const char* text : {"", "\n", "COMport=", "COMport=x", "COMport=-5", "COMport=+5", "COMport= 5",
                             "comport=5", " COMport=5", "COMport=5 ", "COMport=5\n\n", "COMport=5\nmore",
                             "COMport=4294967296", "COMport=99999999999999999999",
                             "\xff\xfe\x00\x05"}) {
        plant(text);
        EXPECT_EQ(load_port(), 0) << text;
    }
    plant("COMport=" + std::string(200, '1'));
    EXPECT_EQ(load_port(), 0);
    plant(std::string("COMport=5\0", 10));
    EXPECT_EQ(load_port(), 0);
}

TEST_F(SettingsFile, AFileThatCannotBeReadAsOneReadsAsNothingStored)
{
    fs::create_directories(file());  // a folder where the file should be
    EXPECT_EQ(load_port(), 0);
    remember_port(9);  // cannot replace a folder: ignored, nothing else happens
    EXPECT_EQ(load_port(), 0);
    fs::remove(file());
    ASSERT_EQ(mkfifo(file().c_str(), 0600), 0);  // would block a plain read
    EXPECT_EQ(load_port(), 0);
    fs::remove(file());
    plant("COMport=6");
    fs::rename(file(), home + "/real");
    fs::create_symlink(home + "/real", file());  // not followed
    EXPECT_EQ(load_port(), 0);
}

// A crash mid-write must never leave half a file: the new one is complete before it
// replaces the old, which a second name of the old file still shows whole.
TEST_F(SettingsFile, RememberingReplacesTheFileByRenaming)
{
    remember_port(5);
    ASSERT_EQ(link(file().c_str(), (home + "/old").c_str()), 0);
    remember_port(61);
    EXPECT_EQ(contents(), "COMport=61\n");
    std::ifstream old(home + "/old");
    std::string before;
    std::getline(old, before);
    EXPECT_EQ(before, "COMport=5");
    int entries = 0;
    for (const auto& e : fs::directory_iterator(home + "/config/tq734-updater")) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);  // no temporary file left behind
}

TEST_F(SettingsFile, AnUnwritableFolderIsIgnored)
{
    setenv("XDG_CONFIG_HOME", (home + "/file-not-folder").c_str(), 1);
    std::ofstream(home + "/file-not-folder") << "x";
    remember_port(4);
    EXPECT_EQ(load_port(), 0);
}

}  // namespace

// The station's port set lives beside the port, in a file of its own: neither touches the other.
TEST_F(SettingsFile, StationPortsBesideThePort)
{
    char text[STATION_PORTS_CAPACITY];
    EXPECT_FALSE(load_station_ports(text, sizeof text));
    remember_port(7);
    remember_station_ports("COM21 COM22");
    EXPECT_EQ(contents(), "COMport=7\n");
    std::ifstream in(home + "/config/tq734-updater/station-ports", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_EQ(s.str(), "StationPorts=COM21 COM22\n");
    ASSERT_TRUE(load_station_ports(text, sizeof text));
    EXPECT_STREQ(text, "COM21 COM22");
    EXPECT_EQ(load_port(), 7);
    std::ofstream(home + "/config/tq734-updater/station-ports", std::ios::binary) << "COMport=3\n";
    EXPECT_FALSE(load_station_ports(text, sizeof text));
}
