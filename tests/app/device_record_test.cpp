// The record of an update attempt: its exact JSON line, the escaping of what the device and the
// command line put in it, and the appending of whole lines to a records file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "device_record.h"
#include "record_file.h"
#include "sample_record.h"

namespace {

std::string line_of(const DeviceRecord& r)
{
    char out[DEVICE_RECORD_CAPACITY];
    unsigned n = format_device_record(r, out, sizeof out);
    return std::string(out, n);
}

TEST(DeviceRecord, ASuccessfulUpdateIsExactlyThisLine)
{
    EXPECT_EQ(line_of(sample_record()),
              "{\"start\":\"2026-12-09T15:29:47.066+03:00\",\"end\":\"2026-12-09T15:31:02.005+03:00\","
              "\"host\":\"line-3\",\"port\":\"COM21\",\"station\":null,\"updater\":\"1.4.0\","
              "\"firmware\":{\"type\":\"TQ734_CPU2\",\"crc\":\"0x0A1B2C3D\","
              "\"sha256\":\"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08\",\"size\":314912},"
              "\"device\":{\"id\":\"TQ\",\"version_before\":\"2.384\"},"
              "\"result\":\"ok\",\"code\":0,\"text\":\"Обновление ПО произведено успешно.\",\"exit\":0,"
              "\"seconds\":74.939,\"blocks\":1231,\"resends\":2,\"final_command\":true,\"operator\":null}\n");
}

TEST(DeviceRecord, WhatIsUnknownIsNull)
{
    // A port that could not be opened: nothing came from a device, no header in the image.
    DeviceRecord r = sample_record();
    r.start.offset_minutes = -150;
    r.port = 0;
    r.firmware_type[0] = 0;
    r.firmware_crc_known = 0;
    r.device_id_known = 0;
    r.version_before = RecordVersion::Unknown;
    r.result = RecordResult::PortUnusable;
    r.code_known = 0;
    r.text[0] = 0;
    r.exit_known = 0;
    r.milliseconds = 5;
    r.blocks = 0;
    r.resends = 0;
    r.final_command = 0;
    strcpy(r.station, "1.5.0");
    strcpy(r.operator_name, "batch 7");
    std::string line = line_of(r);
    EXPECT_NE(line.find("\"start\":\"2026-12-09T15:29:47.066-02:30\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"port\":null,\"station\":\"1.5.0\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"firmware\":{\"type\":null,\"crc\":null,"), std::string::npos) << line;
    EXPECT_NE(line.find("\"device\":{\"id\":null,\"version_before\":null}"), std::string::npos) << line;
    EXPECT_NE(line.find("\"result\":\"port_unusable\",\"code\":null,\"text\":null,\"exit\":null,"
                        "\"seconds\":0.005,\"blocks\":0,\"resends\":0,\"final_command\":false,"
                        "\"operator\":\"batch 7\"}\n"),
              std::string::npos)
        << line;
    r.version_before = RecordVersion::None;
    EXPECT_NE(line_of(r).find("\"version_before\":\"none\""), std::string::npos);
}

TEST(DeviceRecord, EveryResultHasItsWord)
{
    const std::pair<RecordResult, const char*> rows[] = {
        {RecordResult::Ok, "ok"},
        {RecordResult::UpToDate, "up_to_date"},
        {RecordResult::DeviceError, "device_error"},
        {RecordResult::NotTq734, "not_tq734"},
        {RecordResult::NoAnswer, "no_answer"},
        {RecordResult::PortUnusable, "port_unusable"},
        {RecordResult::Interrupted, "interrupted"},
        {RecordResult::Crashed, "crashed"},
    };
    for (const auto& row : rows) {
        DeviceRecord r = sample_record();
        r.result = row.first;
        EXPECT_NE(line_of(r).find(std::string("\"result\":\"") + row.second + "\""), std::string::npos) << row.second;
    }
}

// What a device or a command line puts in a string never breaks the line or the JSON.
TEST(DeviceRecord, StringsAreEscapedAndBadUtf8Replaced)
{
    struct Row {
        const char* given;
        const char* written;
    } rows[] = {
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"line\r\nnext\ttab", "\"line\\r\\nnext\\ttab\""},
        {"\x01\x1f\x7f", "\"\\u0001\\u001f\\u007f\""},
        {"Иванов", "\"Иванов\""},
        {"\xe2\x82\xac \xf0\x9f\x98\x80", "\"\xe2\x82\xac \xf0\x9f\x98\x80\""},   // 3- and 4-byte forms stay
        {"x\xff", "\"x\\ufffd\""},                                                // not UTF-8 at all
        {"\xc3", "\"\\ufffd\""},                                                  // cut sequence
        {"\xc0\xaf", "\"\\ufffd\\ufffd\""},                                       // overlong '/'
        {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},                            // a surrogate
        {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},                 // past U+10FFFF
        {"\xd0\x98" "\xd0", "\"И\\ufffd\""},
    };
    for (const Row& row : rows) {
        DeviceRecord r = sample_record();
        strcpy(r.operator_name, row.given);
        strcpy(r.host, row.given);
        std::string line = line_of(r);
        EXPECT_NE(line.find(std::string("\"operator\":") + row.written + "}\n"), std::string::npos) << line;
        EXPECT_NE(line.find(std::string("\"host\":") + row.written + ","), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), line.size() - 1);
    }
}

TEST(DeviceRecord, TheDeviceTagIsEscapedByteForByte)
{
    const struct {
        uint8_t tag[2];
        const char* written;
    } rows[] = {
        {{'X', 'Y'}, "\"id\":\"XY\""},
        {{0, '"'}, "\"id\":\"\\u0000\\\"\""},
        {{0xD0, 0x98}, "\"id\":\"И\""},
        {{0xFF, '\n'}, "\"id\":\"\\ufffd\\n\""},
    };
    for (const auto& row : rows) {
        DeviceRecord r = sample_record();
        memcpy(r.device_id, row.tag, 2);
        EXPECT_NE(line_of(r).find(row.written), std::string::npos) << row.written;
    }
}

TEST(DeviceRecord, ALineThatDoesNotFitIsNotWrittenAtAll)
{
    DeviceRecord r = sample_record();
    // Every field at its longest, every byte escaped: the documented capacity holds it.
    memset(r.host, 0x01, sizeof r.host - 1);
    r.host[sizeof r.host - 1] = 0;
    memset(r.text, 0xFF, sizeof r.text - 1);
    r.text[sizeof r.text - 1] = 0;
    memset(r.operator_name, '"', sizeof r.operator_name - 1);
    r.operator_name[sizeof r.operator_name - 1] = 0;
    memset(r.station, 0x1F, sizeof r.station - 1);
    r.station[sizeof r.station - 1] = 0;
    memset(r.updater, 0x1F, sizeof r.updater - 1);
    r.updater[sizeof r.updater - 1] = 0;
    memset(r.firmware_type, 0x1F, sizeof r.firmware_type - 1);
    r.firmware_type[sizeof r.firmware_type - 1] = 0;
    r.milliseconds = 0xFFFFFFFF;
    char out[DEVICE_RECORD_CAPACITY];
    unsigned full = format_device_record(r, out, sizeof out);
    ASSERT_GT(full, 0u);
    EXPECT_EQ(out[full - 1], '\n');
    // A string not terminated within its array is read no further than the array.
    memset(r.host, 'h', sizeof r.host);
    EXPECT_GT(format_device_record(r, out, sizeof out), 0u);
    unsigned exact = format_device_record(r, out, sizeof out);
    EXPECT_EQ(format_device_record(r, out, exact), exact);
    EXPECT_EQ(format_device_record(r, out, exact - 1), 0u);
    EXPECT_EQ(format_device_record(r, out, 0), 0u);
}

TEST(DeviceRecord, TimesAreWrittenAsTheLogWritesThem)
{
    char out[40];
    ASSERT_EQ(format_record_time(LocalTime{2027, 1, 2, 3, 4, 5, 6, 0}, out, sizeof out), 29u);
    EXPECT_EQ(std::string(out, 29), "2027-01-02T03:04:05.006+00:00");
    ASSERT_EQ(format_record_time(LocalTime{2027, 1, 2, 3, 4, 5, 6, -345}, out, sizeof out), 29u);
    EXPECT_EQ(std::string(out, 29), "2027-01-02T03:04:05.006-05:45");
    EXPECT_EQ(format_record_time(LocalTime{2027, 1, 2, 3, 4, 5, 6, 0}, out, 28), 0u);
}

struct RecordFile : ::testing::Test {
    std::string path;
    void SetUp() override
    {
        path = std::string(::testing::TempDir()) + "tq734-records-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".jsonl";
        std::remove(path.c_str());
    }
    void TearDown() override { std::remove(path.c_str()); }
    std::string contents() const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
};

TEST_F(RecordFile, LinesAreAppendedWholeToACreatedFile)
{
    std::string first = line_of(sample_record());
    DeviceRecord other = sample_record();
    other.port = 22;
    std::string second = line_of(other);
    ASSERT_TRUE(record_file_append(path.c_str(), first.data(), unsigned(first.size())));
    ASSERT_TRUE(record_file_append(path.c_str(), second.data(), unsigned(second.size())));
    EXPECT_EQ(contents(), first + second);
}

// A writer killed in the middle of its line left a fragment: the next record starts on a new
// line, so that it is whole for a reader that reads lines.
TEST_F(RecordFile, AnUnfinishedLineIsEndedBeforeTheNextRecord)
{
    { std::ofstream(path, std::ios::binary) << "{\"start\":\"2026"; }
    std::string line = line_of(sample_record());
    ASSERT_TRUE(record_file_append(path.c_str(), line.data(), unsigned(line.size())));
    ASSERT_TRUE(record_file_append(path.c_str(), line.data(), unsigned(line.size())));
    EXPECT_EQ(contents(), "{\"start\":\"2026\n" + line + line);
    std::remove(path.c_str());
    { std::ofstream(path, std::ios::binary) << std::string(1, '\0'); }
    ASSERT_TRUE(record_file_append(path.c_str(), line.data(), unsigned(line.size())));
    EXPECT_EQ(contents(), std::string(1, '\0') + "\n" + line);
}

TEST_F(RecordFile, AFolderThatIsNotThereIsAFailure)
{
    std::string missing = std::string(::testing::TempDir()) + "tq734-no-such-folder/records.jsonl";
    EXPECT_FALSE(record_file_append(missing.c_str(), "{}\n", 3));
}

TEST(RecordHost, TheHostHasAName)
{
    char name[RECORD_HOST_CAPACITY];
    record_host_name(name, sizeof name);
    EXPECT_GT(strlen(name), 0u);
    char tiny[4];
    record_host_name(tiny, sizeof tiny);
    EXPECT_LT(strlen(tiny), sizeof tiny);
}

}  // namespace
