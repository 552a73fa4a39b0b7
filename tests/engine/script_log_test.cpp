// The log for scripts against a recorded engine run: every line's exact form, in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine_test.h"
#include "firmware_image.h"
#include "device_watch.h"
#include "line_text.h"
#include "port_selection.h"
#include "record_file.h"
#include "run_platform.h"
#include "script_options.h"
#include "script_run.h"

void (*line_text_observer)(TextLine line, const wchar_t* text);

namespace {

uint32_t clock_ms;
std::vector<std::string> lines;
std::vector<std::string> records;       // lines appended to the records file
std::string record_path_used;
bool record_file_fails;
bool port_can_open = true;              // what the next open_port() finds
unsigned port_opens;

}  // namespace

ReceiveHandler port_receiver = on_receive;

// Port selection's reopening, over the fake channel.
void open_port()
{
    ++port_opens;
    update_engine.state = Idle;
    world.channel_open = port_can_open;
    if (!port_can_open)
        port_number = 0;
}

bool record_file_append(const char* path, const char* line, unsigned length)
{
    if (record_file_fails)
        return false;
    record_path_used = path;
    records.emplace_back(line, length);
    return true;
}
bool default_record_path(char*, unsigned) { return false; }
void record_host_name(char* out, unsigned) { std::strcpy(out, "rig"); }

uint32_t monotonic_ms() { return clock_ms; }
LocalTime local_time_now() { return LocalTime{2026, 12, 9, 7, 5, 3, int(clock_ms % 1000), 180}; }
void pause_ms(unsigned ms) { clock_ms += ms; }
bool log_output_open() { return true; }
void log_output_write(const char* bytes, unsigned length) { lines.emplace_back(bytes, length); }

namespace {

struct ScriptLogTest : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        lines.clear();
        records.clear();
        record_path_used.clear();
        record_file_fails = false;
        port_can_open = true;
        port_opens = 0;
        port_receiver = on_receive;
        clock_ms = 1000;
        script_options = ScriptOptions();
        world.line_written = [](bool status, const wchar_t* text) {
            line_text_observer(status ? StatusLine : InfoLine, text);
        };
        world.during_message = [] {
            const Event& box = world.events.back();
            script_run_message(box.text.c_str(), box.has_caption ? box.caption.c_str() : nullptr, box.message_kind);
        };
    }
    // The lines without their time, which the first test checks.
    std::vector<std::string> events() const
    {
        std::vector<std::string> out;
        for (const std::string& l : lines)
            out.push_back(l.substr(l.find(' ') + 1));
        return out;
    }
};

std::string start_line(const char* rest)
{
    char type[TYPE_NAME_CAPACITY];
    uint32_t crc = 0;
    EXPECT_TRUE(firmware_header(type, sizeof type, &crc));
    char crc_text[16];
    std::snprintf(crc_text, sizeof crc_text, "0x%08X", unsigned(crc));
    return std::string("COM7 start version=9.8.7 firmware_size=314912 firmware_type=") + type + " crc_firmware=" + crc_text +
           " sha256=" + FIRMWARE_SHA256 + rest;
}

TEST_F(ScriptLogTest, AWholeAutomaticUpdateWithOneSilence)
{
    update_engine.auto_mode = 1;
    script_options.port_given = 1;
    script_options.named_port = 7;
    std::strcpy(script_options.port_text, "com7");
    script_options.limit_given = 1;
    script_options.limit_seconds = 30;
    std::strcpy(script_options.limit_text, "30");
    script_run_start("9.8.7");
    start_update();
    for (unsigned k = 0; k <= 1230; ++k) {
        clock_ms += 50;
        if (k == 400) {
            for (int resend = 0; resend < 3; ++resend) {
                clock_ms += 1000;
                on_reply_timer();
            }
        }
        deliver(ack_frame(k));
        if (k == 1)
            deliver(device_frame({0x54, 0x51, 0x01, 0x02, 0x81, 0x01}));
    }
    clock_ms += 2500;
    deliver(finish_reply_frame(0));
    script_run_exit(update_engine.exit_code);

    EXPECT_EQ(lines.front().substr(0, 35), "2026-12-09T07:05:03.000+03:00 COM7 ");
    std::vector<std::string> expected = {
        start_line(" auto=yes final_command=yes port=named p=com7 t=30 silence_limit_s=30\n"),
        "COM7 status text=\"Ожидание\"\n",
        "COM7 info text=\"Успешно\"\n",
        "COM7 status text=\"Обмен информацией\"\n",
        "COM7 device version=2.385\n",
        "COM7 info text=\"Версия : 2.385\"\n",
    };
    for (unsigned tenth = 1; tenth <= 3; ++tenth)
        expected.push_back("COM7 progress percent=" + std::to_string(tenth * 10) + " blocks=" +
                           std::to_string((1231 * tenth + 9) / 10) + " of=1231\n");
    expected.insert(expected.end(), {
        "COM7 info text=\"Нет ответа\"\n",
        "COM7 silence phase=transfer block=400 resends=3 ms=3050 ended=reply\n",
        "COM7 info text=\"Версия : 2.385\"\n",
    });
    for (unsigned tenth = 4; tenth <= 10; ++tenth)
        expected.push_back("COM7 progress percent=" + std::to_string(tenth * 10) + " blocks=" +
                           std::to_string((1231 * tenth + 9) / 10) + " of=1231\n");
    expected.insert(expected.end(), {
        "COM7 status text=\"Обновление\"\n",
        "COM7 result code=0 text=\"Обновление ПО произведено успешно.\"\n",
        "COM7 status text=\"ЗАВЕРШЕНО\"\n",
        "COM7 final_command sent\n",
        "COM7 exit code=0 seconds=67.050\n",
    });
    EXPECT_EQ(events(), expected);
}

// Interactive: an identification, a device error in its box, -d, the port in use.
TEST_F(ScriptLogTest, ADeviceErrorWithoutTheFinalCommand)
{
    update_engine.final_command_flag = 0;
    script_run_start("9.8.7");
    poll_device();
    deliver(device_frame({'I', 'D', 'T', 'Q'}));
    deliver(device_frame({0x54, 0x51, 0x01}));
    reach_finishing();
    deliver(finish_reply_frame(8));
    clock_ms += 12345;
    script_run_exit(update_engine.exit_code);
    std::vector<std::string> expected = {
        start_line(" auto=no final_command=no port=remembered\n"),
        "COM7 status text=\"Ожидание\"\n",
        "COM7 device id=TQ tq734=yes\n",
        "COM7 device version=none\n",
        "COM7 info text=\"Успешно\"\n",
        "COM7 status text=\"\"\n",
        "COM7 status text=\"Ожидание\"\n",
        "COM7 progress percent=100 blocks=1231 of=1231\n",
        "COM7 status text=\"Обновление\"\n",
        "COM7 result code=8 text=\"Ошибка загрузки прошивки.\\r\\nОбновление не произведено.\"\n",
        "COM7 status text=\"ОШИБКА!\"\n",
        "COM7 message kind=error text=\"Ошибка загрузки прошивки.\\r\\nОбновление не произведено.\"\n",
        "COM7 final_command not_sent reason=option_d\n",
        "COM7 exit code=8 seconds=12.345\n",
    };
    EXPECT_EQ(events(), expected);
}

// -t: silent while transferring, or while waiting for the result; a bad value with -a.
TEST_F(ScriptLogTest, SilenceLimit)
{
    const struct {
        const char* name;
        bool reach_finish;
        unsigned silent_ms;     // after the last word from the device
        bool gives_up;
        const char* silence;
    } rows[] = {
        {"transfer, just short", false, 2900, false, nullptr},
        {"transfer", false, 3000, true, "COM7 silence phase=transfer block=0 resends=3 ms=3000 ended=gave_up\n"},
        {"finish", true, 3000, true, "COM7 silence phase=finish block=1230 resends=0 ms=3000 ended=gave_up\n"},
    };
    for (const auto& row : rows) {
        reset_world();
        lines.clear();
        clock_ms = 5000;
        script_options = ScriptOptions();
        update_engine.auto_mode = 1;
        script_options.limit_given = 1;
        script_options.limit_seconds = 3;
        script_run_start("9.8.7");
        if (row.reach_finish)
            reach_finishing();
        else
            start_update();
        for (unsigned t = 0; t < row.silent_ms; t += 100) {
            clock_ms += 100;
            if (!row.reach_finish && t % 1000 == 900)
                on_reply_timer();
            script_run_tick();
        }
        EXPECT_EQ(update_engine.state == Closing, row.gives_up) << row.name;
        EXPECT_EQ(update_engine.exit_code, 127) << row.name;
        if (!row.gives_up)
            continue;
        std::vector<std::string> e = events();
        ASSERT_GE(e.size(), 3u) << row.name;
        EXPECT_EQ(e[e.size() - 3], row.silence) << row.name;
        EXPECT_EQ(e[e.size() - 2], "COM7 give_up reason=silence_limit limit_s=3\n") << row.name;
        EXPECT_EQ(e.back(), "COM7 final_command not_sent reason=gave_up\n") << row.name;
        EXPECT_FALSE(world.channel_open) << row.name;
        EXPECT_TRUE(events_of(Ev::Message).empty()) << row.name;
    }

    reset_world();
    script_options = ScriptOptions();
    script_options.limit_given = 1;
    EXPECT_FALSE(script_run_refuses_options());   // ignored without -a
    update_engine.auto_mode = 1;
    EXPECT_TRUE(script_run_refuses_options());
}


// The decision after a TQ734's version reply: only this firmware's own version is left alone.
TEST(WaitForDevice, VersionVerdicts)
{
    const struct {
        bool has_version;
        uint8_t major;
        uint16_t minor;
        bool force;
        VersionVerdict verdict;
    } rows[] = {
        {true, 2, 385, false, VersionVerdict::UpToDate},
        {true, 2, 385, true, VersionVerdict::Update},     // -f: a repair
        {true, 2, 384, false, VersionVerdict::Update},
        {true, 2, 386, false, VersionVerdict::Update},    // newer is not "this firmware"
        {true, 3, 385, false, VersionVerdict::Update},
        {true, 0, 0, false, VersionVerdict::Update},
        {false, 2, 385, false, VersionVerdict::Update},   // no version fields: always updated
    };
    for (const auto& row : rows) {
        Reply r = {};
        r.kind = ReplyKind::VersionReply;
        r.has_version = row.has_version;
        r.major = row.major;
        r.minor = row.minor;
        EXPECT_EQ(judge_version(r, row.force), row.verdict) << int(row.major) << "." << row.minor << " " << row.force;
    }
}

const Bytes VERSION_2_384 = {0x54, 0x51, 0x01, 0x02, 0x80, 0x01};
const Bytes VERSION_2_385 = {0x54, 0x51, 0x01, 0x02, 0x81, 0x01};
const Bytes IDENTIFY_TQ = {'I', 'D', 'T', 'Q'};

// -a -w -p COM7 -r FILE, as a station runs it: the port opened, the tick driving the wait.
struct WaitTest : ScriptLogTest {
    void begin(bool port_there = true)
    {
        update_engine.auto_mode = 1;
        script_options.port_given = 1;
        script_options.named_port = 7;
        std::strcpy(script_options.port_text, "COM7");
        script_options.wait_device = 1;
        script_options.record_given = 1;
        script_options.record_valid = 1;
        std::strcpy(script_options.record_path, "/records.jsonl");
        script_run_start("9.8.7");
        port_can_open = port_there;
        open_port();
        if (port_there)
            port_number = 7;
        script_run_after_initial_port(false);
    }
    // Time passes in ticks; the reply timer fires as the engine armed it.
    void run_ms(unsigned ms)
    {
        for (unsigned t = 0; t < ms; t += 100) {
            clock_ms += 100;
            if (world.timer_armed && (t + 100) % world.timer_period == 0)
                on_reply_timer();
            script_run_tick();
        }
    }
    std::vector<std::string> matching(const std::string& what) const
    {
        std::vector<std::string> out;
        for (const std::string& e : events())
            if (e.find(what) != std::string::npos)
                out.push_back(e);
        return out;
    }
};

TEST_F(WaitTest, AnAbsentPortIsTriedEverySecondAndADeviceIsUpdatedWhenItAnswers)
{
    begin(false);
    run_ms(3500);
    EXPECT_EQ(port_opens, 1u + 3u);   // the first choice, then once a second
    EXPECT_TRUE(writes().empty());
    EXPECT_NE(update_engine.state, Closing);
    port_can_open = true;
    run_ms(1000);
    EXPECT_EQ(port_number, 7);
    EXPECT_EQ(matching(" port state="), (std::vector<std::string>{"COM7 port state=unusable\n", "COM7 port state=open\n"}));
    // Nothing but the identification request, every 500 ms, until a device answers.
    run_ms(5000);
    std::vector<Bytes> sent = writes();
    ASSERT_GE(sent.size(), 10u);
    for (const Bytes& frame : sent)
        EXPECT_EQ(frame, WIRE_IDENTIFY);
    world.events.clear();
    deliver(device_frame(IDENTIFY_TQ));
    EXPECT_EQ(writes(), (std::vector<Bytes>{WIRE_VERSION_REQUEST}));
    deliver(device_frame(VERSION_2_384));
    run_ms(100);
    ASSERT_EQ(writes().size(), 2u);
    EXPECT_EQ(sent_block_index(writes()[1]), 0);
    EXPECT_EQ(update_engine.state, Transferring);
    reach_finishing();
    deliver(finish_reply_frame(0));
    script_run_exit(update_engine.exit_code);
    EXPECT_EQ(update_engine.exit_code, 0);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(record_path_used, "/records.jsonl");
    const std::string& r = records[0];
    EXPECT_NE(r.find("\"host\":\"rig\",\"port\":\"COM7\",\"station\":null,\"updater\":\"9.8.7\""), std::string::npos) << r;
    EXPECT_NE(r.find("\"device\":{\"id\":\"TQ\",\"version_before\":\"2.384\"},\"result\":\"ok\",\"code\":0,"
                     "\"text\":\"Обновление ПО произведено успешно.\",\"exit\":0,"),
              std::string::npos)
        << r;
    EXPECT_NE(r.find("\"blocks\":1231,\"resends\":0,\"final_command\":true,\"operator\":null}\n"), std::string::npos) << r;
    std::vector<std::string> e = events();
    ASSERT_GE(e.size(), 2u);
    EXPECT_EQ(e[e.size() - 2], "COM7 record written=yes\n");
    EXPECT_EQ(e.back().substr(0, 16), "COM7 exit code=0");
}

TEST_F(WaitTest, ADeviceWithThisFirmwareIsLeftAsItIs)
{
    std::strcpy(script_options.operator_name, "shift 2");
    begin();
    run_ms(1200);
    clock_ms = 20000;   // the attempt's times begin with the device's first answer
    deliver(device_frame(IDENTIFY_TQ));
    clock_ms += 20;
    deliver(device_frame(VERSION_2_385));
    run_ms(100);
    EXPECT_EQ(update_engine.state, Closing);
    EXPECT_EQ(update_engine.exit_code, 0);
    EXPECT_FALSE(world.channel_open);
    std::vector<Bytes> sent = writes();
    EXPECT_EQ(sent.back(), WIRE_VERSION_REQUEST);   // nothing after the version request
    script_run_exit(update_engine.exit_code);
    std::vector<std::string> e = events();
    ASSERT_GE(e.size(), 3u);
    EXPECT_EQ(e[e.size() - 3], "COM7 up_to_date version=2.385\n");
    EXPECT_EQ(e[e.size() - 2], "COM7 record written=yes\n");
    EXPECT_EQ(e.back(), "COM7 exit code=0 seconds=19.120\n");
    char type[TYPE_NAME_CAPACITY];
    uint32_t crc = 0;
    ASSERT_TRUE(firmware_header(type, sizeof type, &crc));
    char crc_text[16];
    std::snprintf(crc_text, sizeof crc_text, "0x%08X", unsigned(crc));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], std::string("{\"start\":\"2026-12-09T07:05:03.000+03:00\",\"end\":\"2026-12-09T07:05:03.120+03:00\","
                                      "\"host\":\"rig\",\"port\":\"COM7\",\"station\":null,\"updater\":\"9.8.7\","
                                      "\"firmware\":{\"type\":\"") +
                              type + "\",\"crc\":\"" + crc_text + "\",\"sha256\":\"" + FIRMWARE_SHA256 +
                              "\",\"size\":314912},\"device\":{\"id\":\"TQ\",\"version_before\":\"2.385\"},"
                              "\"result\":\"up_to_date\",\"code\":null,\"text\":null,\"exit\":0,\"seconds\":0.120,"
                              "\"blocks\":0,\"resends\":0,\"final_command\":false,\"operator\":\"shift 2\"}\n");
}

TEST_F(WaitTest, ForcedOrWithoutVersionFieldsTheDeviceIsUpdated)
{
    for (bool force : {true, false}) {
        SetUp();
        script_options.force = force;
        begin();
        deliver(device_frame(IDENTIFY_TQ));
        deliver(device_frame(force ? VERSION_2_385 : Bytes{0x54, 0x51, 0x01}));
        run_ms(100);
        EXPECT_EQ(update_engine.state, Transferring) << force;
        EXPECT_TRUE(matching("up_to_date").empty()) << force;
    }
}

TEST_F(WaitTest, AnotherDeviceGetsNothingWritten)
{
    // Run by a station, which names its version in the environment.
    static char station[] = "TQ734_STATION_VERSION=2.1.0\n\"x";
    putenv(station);
    begin();
    static char no_station[] = "TQ734_STATION_VERSION=";
    putenv(no_station);
    deliver(device_frame({'I', 'D', 'X', 'Y'}));
    run_ms(200);
    EXPECT_EQ(update_engine.exit_code, 126);
    for (const Bytes& frame : writes())
        EXPECT_EQ(frame, WIRE_IDENTIFY);
    script_run_exit(update_engine.exit_code);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"station\":\"2.1.0\\\"x\","), std::string::npos) << records[0];
    EXPECT_NE(records[0].find("\"device\":{\"id\":\"XY\",\"version_before\":null},\"result\":\"not_tq734\",\"code\":null,"
                              "\"text\":\"ОШИБКА!\\r\\nПодключенное устройство не TQ734\",\"exit\":126,"),
              std::string::npos)
        << records[0];
}

TEST_F(WaitTest, TheLimitCountsFromTheDevicesFirstAnswer)
{
    script_options.limit_given = 1;
    script_options.limit_seconds = 3;
    begin();
    run_ms(60000);   // nobody there: waiting is not silence
    EXPECT_NE(update_engine.state, Closing);
    deliver(device_frame(IDENTIFY_TQ));   // then it falls silent before its version
    run_ms(2900);
    EXPECT_NE(update_engine.state, Closing);
    run_ms(200);
    EXPECT_EQ(update_engine.state, Closing);
    EXPECT_EQ(update_engine.exit_code, 127);
    script_run_exit(update_engine.exit_code);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"result\":\"no_answer\",\"code\":null,\"text\":null,\"exit\":127,"), std::string::npos)
        << records[0];
}

TEST_F(WaitTest, NoDeviceNoRecordAndARecordThatCannotBeWrittenChangesNothing)
{
    begin();
    run_ms(3000);
    script_run_exit(update_engine.exit_code);   // the station stopped it
    EXPECT_TRUE(records.empty());
    EXPECT_TRUE(matching("record ").empty());

    SetUp();
    record_file_fails = true;
    begin();
    deliver(device_frame(IDENTIFY_TQ));
    deliver(device_frame(VERSION_2_385));
    run_ms(100);
    script_run_exit(update_engine.exit_code);
    EXPECT_EQ(matching("record "), (std::vector<std::string>{"COM7 record written=no reason=write_failed\n"}));
    EXPECT_EQ(events().back().substr(0, 16), "COM7 exit code=0");
}

// -g: the identification request every 500 ms and nothing else, until the device is gone.
struct RemovalTest : WaitTest {
    void begin_removal(bool port_there = true)
    {
        script_options.port_given = 1;
        script_options.named_port = 7;
        script_options.until_gone = 1;
        script_run_start("9.8.7");
        port_can_open = port_there;
        open_port();
        if (port_there)
            port_number = 7;
        reset_receiver();
        script_run_after_initial_port(false);
    }
    // A device that answers every identification request at once.
    void answer_while(unsigned ms)
    {
        for (unsigned t = 0; t < ms; t += 100) {
            size_t before = writes().size();
            run_ms(100);
            if (writes().size() > before)
                port_receiver(device_frame(IDENTIFY_TQ).data(), uint16_t(device_frame(IDENTIFY_TQ).size()));
        }
    }
};

TEST_F(RemovalTest, ASilentDeviceIsGoneAfterTwoSeconds)
{
    begin_removal();
    answer_while(10000);
    EXPECT_NE(update_engine.state, Closing);
    run_ms(1900);
    EXPECT_NE(update_engine.state, Closing);
    run_ms(200);
    EXPECT_EQ(update_engine.state, Closing);
    EXPECT_EQ(update_engine.exit_code, 0);
    std::vector<Bytes> sent = writes();
    EXPECT_GE(sent.size(), 23u);
    EXPECT_LE(sent.size(), 26u);
    for (const Bytes& frame : sent)
        EXPECT_EQ(frame, WIRE_IDENTIFY);
    script_run_exit(update_engine.exit_code);
    EXPECT_EQ(matching(" gone "), (std::vector<std::string>{"COM7 gone reason=silent\n"}));
    EXPECT_TRUE(records.empty());
}

TEST_F(RemovalTest, APortThatGoesOrIsNotThereIsRemoval)
{
    begin_removal();
    answer_while(1000);
    world.channel_open = false;   // the device's own USB port went away
    run_ms(100);
    EXPECT_EQ(update_engine.state, Closing);
    EXPECT_EQ(matching(" gone "), (std::vector<std::string>{"COM7 gone reason=removed\n"}));

    SetUp();
    begin_removal(false);
    EXPECT_EQ(update_engine.state, Closing);
    EXPECT_EQ(update_engine.exit_code, 0);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(matching(" gone "), (std::vector<std::string>{"COM7 gone reason=removed\n"}));
}

}  // namespace

namespace {

// A log line's fields after its time, port and event, each "key=word" or "key=\"text\"" as
// a parser reads them; a field that is neither (a stray quote, a control character, a space
// inside a word) makes the result empty.
std::vector<std::string> fields_of(const std::string& line)
{
    std::vector<std::string> fields;
    size_t at = 0;
    for (int skip = 0; skip < 3; ++skip) {
        at = line.find(' ', at);
        if (at == std::string::npos)
            return {};
        ++at;
    }
    const size_t end = line.size() - 1;   // the newline
    if (line[end] != '\n')
        return {};
    while (at < end) {
        size_t eq = line.find('=', at);
        if (eq == std::string::npos || eq >= end)
            return {};
        std::string field = line.substr(at, eq + 1 - at);
        at = eq + 1;
        if (line[at] == '"') {
            field += line[at++];
            for (;; ++at) {
                if (at >= end)
                    return {};
                unsigned char c = static_cast<unsigned char>(line[at]);
                if (c < 32 || c == 127)
                    return {};
                field += line[at];
                if (c == '\\') {
                    if (at + 1 >= end || std::string("\\\"rnt").find(line[at + 1]) == std::string::npos)
                        return {};
                    field += line[++at];
                } else if (c == '"') {
                    ++at;
                    break;
                }
            }
        } else {
            for (; at < end && line[at] != ' '; ++at) {
                char c = line[at];
                if (!is_plain_char(c) && c != '?')
                    return {};
                field += c;
            }
        }
        fields.push_back(field);
        if (at < end && line[at++] != ' ')
            return {};
    }
    return fields;
}

// Values from the device and the command line, each byte 0x00-0xFF in turn: the field stays
// one plain word (or one quoted text), and the line keeps its fields.
TEST_F(ScriptLogTest, OutsideValuesCannotBreakALine)
{
    for (unsigned b = 0; b < 256; ++b) {
        const char plain = b < 128 && is_plain_char(static_cast<char>(b)) ? static_cast<char>(b) : '?';

        // The device's tag.
        reset_world();
        lines.clear();
        script_options = ScriptOptions();
        script_run_start("9.8.7");
        poll_device();
        deliver(device_frame({'I', 'D', static_cast<uint8_t>(b), 'x'}));
        std::vector<std::string> device;
        for (const std::string& l : lines)
            if (l.find(" device id=") != std::string::npos)
                device = fields_of(l);
        EXPECT_EQ(device, (std::vector<std::string>{std::string("id=") + plain + "x", "tq734=no"})) << "id " << b;

        // -p and -t, the byte at both ends and in the middle of the value.
        const wchar_t c = static_cast<wchar_t>(b);
        const wchar_t value[] = {c, L'3', c, L'0', c};
        const std::string expected = std::string(1, plain) + "3" + plain + "0" + plain;
        for (const wchar_t* option : {L"-p", L"-t"}) {
            lines.clear();
            script_options = ScriptOptions();
            script_option_token(option, 2);
            script_option_token(value, 5);
            script_options_end();
            script_run_start("9.8.7");
            ASSERT_EQ(lines.size(), 1u);
            std::vector<std::string> start = fields_of(lines[0]);
            ASSERT_EQ(start.size(), option[1] == L'p' ? 9u : 10u) << "option " << char(option[1]) << " byte " << b
                                                                   << ": " << lines[0];
            EXPECT_EQ(start[8], std::string(1, char(option[1])) + "=" + expected) << b;
        }
    }
}

// The start line says what the program does with -t: nothing without -a.
TEST_F(ScriptLogTest, ASilenceLimitWithoutAutoModeIsIgnored)
{
    for (uint8_t auto_mode : {0, 1}) {
        lines.clear();
        script_options = ScriptOptions();
        update_engine.auto_mode = auto_mode;
        script_options.limit_given = 1;
        script_options.limit_seconds = 30;
        std::strcpy(script_options.limit_text, "30");
        script_run_start("9.8.7");
        std::vector<std::string> start = fields_of(lines.at(0));
        ASSERT_EQ(start.size(), 10u);
        EXPECT_EQ(start[9], auto_mode ? "silence_limit_s=30" : "silence_limit_s=ignored");
    }
}

// A port that cannot be opened at start in auto mode: the window waits for the technician,
// unless the port was named; without a window nobody can pick another, so the run ends.
TEST_F(ScriptLogTest, AnUnusablePortAtStartInAutoMode)
{
    const struct {
        const char* name;
        bool named;
        bool window;
        uint16_t port;      // after the start-up choice
        bool gives_up;
    } rows[] = {
        {"window, remembered port unusable", false, true, 0, false},
        {"window, named port unusable", true, true, 0, true},
        {"no window, remembered port unusable", false, false, 0, true},
        {"no window, named port unusable", true, false, 0, true},
        {"no window, port open", false, false, 7, false},
    };
    for (const auto& row : rows) {
        reset_world(row.port);
        lines.clear();
        script_options = ScriptOptions();
        update_engine.auto_mode = 1;
        script_options.limit_given = 1;
        script_options.limit_seconds = 3;
        if (row.named) {
            script_options.port_given = 1;
            script_options.named_port = 40;
            std::strcpy(script_options.port_text, "COM40");
        }
        script_run_start("9.8.7");
        script_run_after_initial_port(row.window);
        EXPECT_EQ(update_engine.state, row.gives_up ? Closing : AutoStartPending) << row.name;
        EXPECT_EQ(update_engine.exit_code, 127) << row.name;
        if (!row.gives_up)
            continue;
        std::vector<std::string> e = events();
        ASSERT_EQ(e.size(), 3u) << row.name;
        const std::string port = row.named ? "COM40" : "-";
        EXPECT_EQ(e[1], port + " give_up reason=port_unusable\n") << row.name;
        EXPECT_EQ(e[2], port + " final_command not_sent reason=gave_up\n") << row.name;
    }
}

// The port column: the port in use; while none is, the named one until another is picked.
TEST_F(ScriptLogTest, ThePortColumnFollowsThePortInUse)
{
    const struct {
        const char* name;
        uint8_t port_given;
        uint16_t named;
        uint16_t chosen;
        uint16_t in_use;
        const char* column;
    } rows[] = {
        {"before the start-up choice", 1, 5, 0, 0, "COM5"},
        {"the named port in use", 1, 5, 5, 5, "COM5"},
        {"the named port unusable", 1, 5, 5, 0, "COM5"},
        {"an invalid name, then COM7 picked", 1, 0, 7, 7, "COM7"},
        {"a named port, then COM7 picked", 1, 5, 7, 7, "COM7"},
        {"a named port, then COM7 picked and unusable", 1, 5, 7, 0, "-"},
        {"an invalid name", 1, 0, 0, 0, "-"},
        {"remembered, in use", 0, 0, 3, 3, "COM3"},
        {"remembered, unusable", 0, 0, 3, 0, "-"},
    };
    for (const auto& row : rows) {
        lines.clear();
        script_options = ScriptOptions();
        script_options.port_given = row.port_given;
        script_options.named_port = row.named;
        port_chosen = row.chosen;
        port_number = row.in_use;
        script_run_start("9.8.7");
        lines.clear();
        script_run_note("give_up", "port_unusable");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(events()[0], std::string(row.column) + " give_up reason=port_unusable\n") << row.name;
    }
    port_chosen = 0;
}

}  // namespace
