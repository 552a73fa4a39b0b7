// The station's command line, the remembered set, the children's command lines and the
// reading of a child's log lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_arguments.h"
#include "child_line.h"
#include "station_options.h"

namespace {

StationVerdict read(std::vector<const char*> words)
{
    return read_station_options(int(words.size()), words.data());
}

TEST(StationOptions, Accepted)
{
    ASSERT_EQ(read({"COM21", "com22", "-d", "-t", "120", "-f", "-o", "Партия 7", "-r", "/tmp/r.jsonl"}),
              StationVerdict::Run);
    const StationOptions& o = station_options;
    ASSERT_EQ(o.port_count, 2u);
    EXPECT_EQ(o.ports[0], 21);
    EXPECT_EQ(o.ports[1], 22);
    EXPECT_EQ(o.no_final_command, 1);
    EXPECT_EQ(o.force, 1);
    EXPECT_EQ(o.limit_seconds, 120u);
    EXPECT_STREQ(o.operator_name, "Партия 7");
    EXPECT_STREQ(o.records_path, "/tmp/r.jsonl");
    EXPECT_EQ(read({}), StationVerdict::Run);
    EXPECT_EQ(station_options.port_count, 0u);
    EXPECT_EQ(read({"COM1", "--help", "COM0"}), StationVerdict::Help);
    EXPECT_EQ(read({"--version"}), StationVerdict::Version);
}

struct Refused {
    std::vector<const char*> words;
    const char* says;
};

TEST(StationOptions, RefusedWithAReason)
{
    const Refused rows[] = {
        {{"COM21", "COM21"}, "Порт COM21 назван дважды («COM21»)"},
        {{"COM21", "com21"}, "Порт COM21 назван дважды («com21»)"},
        {{"COM0"}, "Неизвестный порт «COM0»"},
        {{"COM256"}, "Неизвестный порт «COM256»"},
        {{"LPT1"}, "Неизвестный порт «LPT1»"},
        {{"-x"}, "Неизвестный параметр «-x»"},
        {{"-p", "COM3"}, "Неизвестный параметр «-p»"},
        {{"-t"}, "-t: нужно число секунд"},
        {{"-t", "0"}, "-t: нужно число секунд от 1 до 86400, а не «0»"},
        {{"-t", "30s"}, "-t: нужно число секунд"},
        {{"-t", "86401"}, "-t: нужно число секунд"},
        {{"-o", ""}, "-o: нужно имя"},
        {{"-o", "a\"b"}, "-o: нужно имя"},
        {{"-r"}, "-r: нужен путь"},
        {{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "COM10", "COM11", "COM12", "COM13",
          "COM14", "COM15", "COM16", "COM17"},
         "Слишком много портов: не больше 16 (лишний «COM17»)"},
    };
    for (const Refused& r : rows) {
        EXPECT_EQ(read(r.words), StationVerdict::Error) << r.says;
        EXPECT_EQ(std::string(station_options.error).rfind(r.says, 0), 0u) << station_options.error;
    }
}

TEST(StationOptions, RememberedSet)
{
    read({"COM21", "COM3", "COM255"});
    char text[64];
    ASSERT_TRUE(format_port_set(station_options, text, sizeof text));
    EXPECT_STREQ(text, "COM21 COM3 COM255");
    EXPECT_FALSE(format_port_set(station_options, text, 10));
    StationOptions back = {};
    parse_port_set("COM21 COM3,com3  COM0 COMX ttyUSB0 COM9999999999999 COM255\n", back);
    ASSERT_EQ(back.port_count, 3u);
    EXPECT_EQ(back.ports[0], 21);
    EXPECT_EQ(back.ports[1], 3);
    EXPECT_EQ(back.ports[2], 255);
}

TEST(ChildArguments, BothSteps)
{
    read({"COM21", "-d", "-t", "30", "-f", "-o", "Иванов И."});
    ChildArguments a;
    child_arguments(ChildKind::Arrival, 21, "/opt/u", "C:\\My Records\\r.jsonl", a);
    std::string joined;
    for (unsigned i = 0; a.words[i]; ++i)
        joined += std::string(i ? "|" : "") + a.words[i];
    EXPECT_EQ(joined, "/opt/u|-a|-n|-w|-p|COM21|-r|C:\\My Records\\r.jsonl|-d|-t|30|-f|-o|Иванов И.");
    char line[256];
    ASSERT_TRUE(windows_command_line(a, line, sizeof line));
    EXPECT_STREQ(line, "/opt/u -a -n -w -p COM21 -r \"C:\\My Records\\r.jsonl\" -d -t 30 -f -o \"Иванов И.\"");
    EXPECT_FALSE(windows_command_line(a, line, 40));

    read({"COM21"});
    child_arguments(ChildKind::Arrival, 21, "u", "r", a);
    ASSERT_TRUE(windows_command_line(a, line, sizeof line));
    EXPECT_STREQ(line, "u -a -n -w -p COM21 -r r");
    child_arguments(ChildKind::Removal, 7, "u", "r", a);
    ASSERT_TRUE(windows_command_line(a, line, sizeof line));
    EXPECT_STREQ(line, "u -n -g -p COM7");
}

TEST(ChildLine, Fields)
{
    const char text[] = "2026-12-09T15:29:47.766+03:00 COM21 result code=4 text=\"a \\\\ \\\" \\r\\n\\t b\" x=1 flag";
    ChildLine l;
    ASSERT_TRUE(parse_child_line(text, sizeof text - 1, &l));
    EXPECT_STREQ(l.port, "COM21");
    EXPECT_STREQ(l.event, "result");
    EXPECT_STREQ(child_field(l, "text"), "a \\ \" \r\n\t b");
    uint32_t n = 0;
    EXPECT_TRUE(child_field_number(l, "code", &n));
    EXPECT_EQ(n, 4u);
    EXPECT_STREQ(child_field(l, "flag"), "");
    EXPECT_EQ(child_field(l, "nothing"), nullptr);
    EXPECT_FALSE(child_field_number(l, "flag", &n));

    const char* bad[] = {"", "   ", "2026 COM21", "2026 COM21 "};
    for (const char* b : bad)
        EXPECT_FALSE(parse_child_line(b, unsigned(strlen(b)), &l)) << b;
    // An unterminated quote ends with the line; too many fields are dropped, not overrun.
    std::string odd = "t - status text=\"open";
    for (int i = 0; i < 40; ++i)
        odd += " k" + std::to_string(i) + "=" + std::string(400, 'v');
    ASSERT_TRUE(parse_child_line(odd.data(), unsigned(odd.size()), &l));
    EXPECT_EQ(l.field_count, 1u);
    EXPECT_EQ(std::string(child_field(l, "text")).rfind("open k0=vvv", 0), 0u);
    std::string many = "t - e";
    for (int i = 0; i < 40; ++i)
        many += " k" + std::to_string(i) + "=" + std::string(400, 'v');
    ASSERT_TRUE(parse_child_line(many.data(), unsigned(many.size()), &l));
    EXPECT_EQ(l.field_count, CHILD_FIELD_CAPACITY);
    EXPECT_EQ(strlen(child_field(l, "k0")), CHILD_VALUE_CAPACITY - 1);
}

void collect(void* context, const char* line, unsigned length)
{
    static_cast<std::vector<std::string>*>(context)->emplace_back(line, length);
}

TEST(ChildLine, Reader)
{
    LineReader r;
    line_reader_reset(r);
    std::vector<std::string> lines;
    std::string input = "one\r\ntw";
    line_reader_feed(r, input.data(), unsigned(input.size()), collect, &lines);
    input = "o\n" + std::string(5000, 'x') + "\nthree\npartial";
    line_reader_feed(r, input.data(), unsigned(input.size()), collect, &lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"}));
}

}  // namespace
