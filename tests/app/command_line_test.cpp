#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "command_line.h"
#include "script_options.h"

namespace {

struct Token {
    std::wstring text;
    unsigned length;
    const wchar_t* after;
};

Token read(const wchar_t* at)
{
    wchar_t buffer[TOKEN_CAPACITY + 1];
    Token t;
    t.after = next_token(at, buffer, TOKEN_CAPACITY, &t.length);
    t.text = buffer;
    return t;
}

std::vector<std::wstring> all_tokens(const wchar_t* line)
{
    std::vector<std::wstring> out;
    for (const wchar_t* at = line;;) {
        Token t = read(at);
        if (t.length == 0 || t.after == at)
            return out;
        out.push_back(t.text);
        at = t.after;
    }
}

struct Options {
    uint8_t auto_mode = 0;
    uint8_t final_command = 1;
};

Options options_of(const wchar_t* line)
{
    Options o;
    apply_options(line, &o.auto_mode, &o.final_command);
    return o;
}

TEST(NextToken, SeparatorsTabsAndEmptyQuotePairsBeforeATokenAreSkipped)
{
    Token t = read(L" \t \"\"  \"\"\t-a rest");
    EXPECT_EQ(t.text, L"-a");
    EXPECT_EQ(t.length, 2u);
    EXPECT_EQ(std::wstring(t.after), L" rest");
    EXPECT_EQ(all_tokens(L"\x01\x1f x\t\ty"), (std::vector<std::wstring>{L"x", L"y"}));
}

TEST(NextToken, QuotesAreRemovedAndAQuotedSpaceStaysInsideTheToken)
{
    EXPECT_EQ(all_tokens(L"\"C:\\Program Files\\tq734-updater.exe\" -d"),
              (std::vector<std::wstring>{L"C:\\Program Files\\tq734-updater.exe", L"-d"}));
    EXPECT_EQ(all_tokens(L"ab\"c d\"e f"), (std::vector<std::wstring>{L"abc de", L"f"}));
    // An unclosed quote runs to the end of the text.
    EXPECT_EQ(all_tokens(L"x \"open to\tthe end"), (std::vector<std::wstring>{L"x", L"open to\tthe end"}));
    // An empty pair inside a token just disappears.
    EXPECT_EQ(all_tokens(L"-\"\"a"), (std::vector<std::wstring>{L"-a"}));
}

TEST(NextToken, EndOfTextGivesLengthZeroWithoutAdvancing)
{
    const wchar_t* line = L"   \"\"  ";
    Token t = read(line);
    EXPECT_EQ(t.length, 0u);
    EXPECT_EQ(t.text, L"");
    EXPECT_EQ(*t.after, L'\0');
    Token again = read(t.after);
    EXPECT_EQ(again.after, t.after);
}

TEST(NextToken, LongTokenIsCutToCapacityAndTheNextTokenIsReadWhole)
{
    std::wstring long_token;
    for (int i = 0; i < 150; ++i)
        long_token += wchar_t(L'a' + i % 26);
    std::wstring line = L"prog " + long_token + L" -a";
    const wchar_t* at = read(line.c_str()).after;
    Token t = read(at);
    EXPECT_EQ(t.length, 100u);
    EXPECT_EQ(t.text, long_token.substr(0, 100));
    Token next = read(t.after);
    EXPECT_EQ(next.text, L"-a");
    EXPECT_EQ(options_of(line.c_str()).auto_mode, 1);
}

TEST(NextToken, CyrillicIsCountedInWideUnits)
{
    Token t = read(L"  Выход\u0301 x");
    EXPECT_EQ(t.length, 6u);
    EXPECT_EQ(t.text, L"Выход\u0301");
}

TEST(Options, NoneMeansInteractiveWithFinalCommand)
{
    Options o = options_of(L"C:\\tq734-updater.exe");
    EXPECT_EQ(o.auto_mode, 0);
    EXPECT_EQ(o.final_command, 1);
    o = options_of(L"");
    EXPECT_EQ(o.auto_mode, 0);
    EXPECT_EQ(o.final_command, 1);
}

TEST(Options, DashAAndDashDTogetherInAnyOrder)
{
    Options o = options_of(L"tq734-updater.exe -d -a");
    EXPECT_EQ(o.auto_mode, 1);
    EXPECT_EQ(o.final_command, 0);
    o = options_of(L"tq734-updater.exe\t\"-a\" \"\" -d");
    EXPECT_EQ(o.auto_mode, 1);
    EXPECT_EQ(o.final_command, 0);
}

TEST(Options, LookAlikesAreIgnored)
{
    for (const wchar_t* line : {L"x -A", L"x -aa", L"x --a", L"x -D", L"x -dd", L"x a", L"x /a", L"x -", L"x -a-"}) {
        Options o = options_of(line);
        EXPECT_EQ(o.auto_mode, 0) << std::wstring(line).c_str();
        EXPECT_EQ(o.final_command, 1);
    }
}

TEST(Options, TheProgramPathIsTestedLikeAnyToken)
{
    EXPECT_EQ(options_of(L"-a").auto_mode, 1);
}

TEST(Options, ReadingStopsAtTheFirstEmptyToken)
{
    // After the trailing empty quotes nothing is left: no endless loop, no stray option.
    Options o = options_of(L"x \"\"");
    EXPECT_EQ(o.auto_mode, 0);
    o = options_of(L"x -d \"\"");
    EXPECT_EQ(o.final_command, 0);
}

Options options_of_words(std::vector<const char*> words)
{
    Options o;
    apply_option_words(static_cast<int>(words.size()), words.data(), &o.auto_mode, &o.final_command);
    return o;
}

TEST(OptionWords, EachArgumentIsTestedWholeAndCaseSensitively)
{
    const struct {
        std::vector<const char*> words;
        uint8_t auto_mode, final_command;
    } rows[] = {
        {{"tq734-updater"}, 0, 1},
        {{}, 0, 1},
        {{"tq734-updater", "-d", "-a"}, 1, 0},
        {{"-a"}, 1, 1},  // the program's own name counts too
        {{"x", "-A", "-aa", "--a", "-D", "-dd", "a", "/a", "-", "-a-", "", "-a "}, 0, 1},
        {{"x", "-d", nullptr, "-a"}, 1, 0},
    };
    for (const auto& row : rows) {
        Options o = options_of_words(row.words);
        EXPECT_EQ(o.auto_mode, row.auto_mode) << row.words.size();
        EXPECT_EQ(o.final_command, row.final_command) << row.words.size();
    }
}

struct ScriptRow {
    std::vector<const char*> words;
    uint8_t port_given;
    uint16_t named_port;
    uint8_t limit_given;
    uint32_t limit_seconds;
    uint8_t auto_mode;
};

// -p and -t: each value follows its option; a value that is one of the options is none.
TEST(OptionWords, PortAndSilenceLimit)
{
    const ScriptRow rows[] = {
        {{"x", "-p", "COM9"}, 1, 9, 0, 0, 0},
        {{"x", "-p", "com255", "-a"}, 1, 255, 0, 0, 1},
        {{"x", "-p", "cOm1"}, 1, 1, 0, 0, 0},
        {{"x", "-p", "COM007"}, 1, 7, 0, 0, 0},
        {{"x", "-p", "COM0"}, 1, 0, 0, 0, 0},
        {{"x", "-p", "COM256"}, 1, 0, 0, 0, 0},
        {{"x", "-p", "COMx"}, 1, 0, 0, 0, 0},
        {{"x", "-p", "COM"}, 1, 0, 0, 0, 0},
        {{"x", "-p", "COM 5"}, 1, 0, 0, 0, 0},
        {{"x", "-p", "COM5x"}, 1, 0, 0, 0, 0},
        {{"x", "-p", "COM4294967301"}, 1, 0, 0, 0, 0},
        {{"x", "-p", ""}, 1, 0, 0, 0, 0},
        {{"x", "-a", "-p"}, 1, 0, 0, 0, 1},
        {{"x", "-p", "-a"}, 1, 0, 0, 0, 1},         // the forgotten value: -a still counts
        {{"x", "-p", "COM1", "-p", "COM2"}, 1, 2, 0, 0, 0},
        {{"x", "-pCOM5", "-P", "COM5", "--p", "COM6", "-p5"}, 0, 0, 0, 0, 0},
        {{"x", "-t", "30", "-a"}, 0, 0, 1, 30, 1},
        {{"x", "-t", "1"}, 0, 0, 1, 1, 0},
        {{"x", "-t", "86400"}, 0, 0, 1, 86400, 0},
        {{"x", "-t", "000000030"}, 0, 0, 1, 30, 0},
        {{"x", "-t", "0000000030"}, 0, 0, 1, 30, 0},                        // zeros are not digits
        {{"x", "-t", "00000000000000000000000000000086400"}, 0, 0, 1, 86400, 0},  // longer than the log keeps
        {{"x", "-t", "00000000000000000000000000000086401"}, 0, 0, 1, 0, 0},
        {{"x", "-t", "0000000000"}, 0, 0, 1, 0, 0},
        {{"x", "-t", "0001000000000"}, 0, 0, 1, 0, 0},
        {{"x", "-t", "0"}, 0, 0, 1, 0, 0},
        {{"x", "-t", "86401"}, 0, 0, 1, 0, 0},
        {{"x", "-t", "-0"}, 0, 0, 1, 0, 0},
        {{"x", "-t", "1e3"}, 0, 0, 1, 0, 0},
        {{"x", "-t", "99999999999"}, 0, 0, 1, 0, 0},
        {{"x", "-t", "30s"}, 0, 0, 1, 0, 0},
        {{"x", "-t", " 30"}, 0, 0, 1, 0, 0},
        {{"x", "-t", ""}, 0, 0, 1, 0, 0},
        {{"x", "-t"}, 0, 0, 1, 0, 0},
        {{"x", "-t", "-a", "-p", "COM3"}, 1, 3, 1, 0, 1},
        {{"x", "-t30", "-T", "30"}, 0, 0, 0, 0, 0},
        {{"x", "-p", "COM3", "-t", "5", "-d", "-a"}, 1, 3, 1, 5, 1},
    };
    for (const auto& row : rows) {
        script_options = ScriptOptions();
        Options o = options_of_words(row.words);
        std::string line;
        for (const char* w : row.words)
            line += std::string("[") + w + "]";
        EXPECT_EQ(script_options.port_given, row.port_given) << line;
        EXPECT_EQ(script_options.named_port, row.named_port) << line;
        EXPECT_EQ(script_options.limit_given, row.limit_given) << line;
        EXPECT_EQ(script_options.limit_seconds, row.limit_seconds) << line;
        EXPECT_EQ(o.auto_mode, row.auto_mode) << line;
    }
}

// The Windows command line: quotes are removed, an empty pair before a token is skipped.
TEST(Options, PortAndSilenceLimitFromTheCommandLine)
{
    const struct {
        const wchar_t* line;
        uint8_t port_given;
        uint16_t named_port;
        uint32_t limit_seconds;
    } rows[] = {
        {L"x.exe -a -p COM9 -t 30", 1, 9, 30},
        {L"x.exe -p \"COM12\" -t \"3\"", 1, 12, 3},
        {L"x.exe -p", 1, 0, 0},
        {L"x.exe -p \"\"", 1, 0, 0},
        {L"x.exe -p \"\" COM4", 1, 4, 0},
        {L"x.exe -p COM5\u0301", 1, 0, 0},
        {L"x.exe -p COM1234567890123456789012345", 1, 0, 0},
        {L"x.exe -t 0000000030", 0, 0, 30},
        // 100 units fill the token reader: it may have cut a longer value, so it is no limit.
        {L"x.exe -t 0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000030", 0, 0, 0},
        {L"x.exe -t 000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000030", 0, 0, 30},
    };
    for (const auto& row : rows) {
        script_options = ScriptOptions();
        options_of(row.line);
        EXPECT_EQ(script_options.port_given, row.port_given) << std::wstring(row.line).size();
        EXPECT_EQ(script_options.named_port, row.named_port) << std::wstring(row.line).size();
        EXPECT_EQ(script_options.limit_seconds, row.limit_seconds) << std::wstring(row.line).size();
    }
}


// -n, -w, -f, -g are flags; -r and -o take the next word, which may be long and not ASCII.
TEST(OptionWords, StationOptions)
{
    const struct {
        std::vector<const char*> words;
        uint8_t no_window, wait_device, force, until_gone, record_given, record_valid;
        const char* record_path;
        const char* operator_name;
        uint8_t auto_mode;
    } rows[] = {
        {{"x", "-a", "-n", "-w", "-p", "COM3", "-r", "/tmp/r.jsonl"}, 1, 1, 0, 0, 1, 1, "/tmp/r.jsonl", "", 1},
        {{"x", "-n", "-g", "-p", "ttyUSB0"}, 1, 0, 0, 1, 0, 0, "", "", 0},
        {{"x", "-f", "-o", "Иванов И."}, 0, 0, 1, 0, 0, 0, "", "Иванов И.", 0},
        {{"x", "-r", "/data/записи.jsonl", "-o", "партия 7"}, 0, 0, 0, 0, 1, 1, "/data/записи.jsonl", "партия 7", 0},
        {{"x", "-r"}, 0, 0, 0, 0, 1, 0, "", "", 0},
        {{"x", "-r", ""}, 0, 0, 0, 0, 1, 0, "", "", 0},
        {{"x", "-r", "-a"}, 0, 0, 0, 0, 1, 0, "", "", 1},          // the forgotten value
        {{"x", "-o", "-n"}, 1, 0, 0, 0, 0, 0, "", "", 0},
        {{"x", "-r", "a", "-r", "b"}, 0, 0, 0, 0, 1, 1, "b", "", 0},
        {{"x", "-o", "bad\xff" "byte"}, 0, 0, 0, 0, 0, 0, "", "bad\xef\xbf\xbd" "byte", 0},
        {{"x", "-N", "-W", "--f", "-gg", "-R", "f", "-oNAME"}, 0, 0, 0, 0, 0, 0, "", "", 0},
    };
    for (const auto& row : rows) {
        script_options = ScriptOptions();
        Options o = options_of_words(row.words);
        std::string line;
        for (const char* w : row.words)
            line += std::string("[") + w + "]";
        EXPECT_EQ(script_options.no_window, row.no_window) << line;
        EXPECT_EQ(script_options.wait_device, row.wait_device) << line;
        EXPECT_EQ(script_options.force, row.force) << line;
        EXPECT_EQ(script_options.until_gone, row.until_gone) << line;
        EXPECT_EQ(script_options.record_given, row.record_given) << line;
        EXPECT_EQ(script_options.record_valid, row.record_valid) << line;
        EXPECT_STREQ(script_options.record_path, row.record_path) << line;
        EXPECT_STREQ(script_options.operator_name, row.operator_name) << line;
        EXPECT_EQ(o.auto_mode, row.auto_mode) << line;
    }
}

// A records path longer than the dialog's 100-unit words is read whole; one too long to be
// read whole is refused rather than cut. An operator's name is cut to fit.
TEST(Options, LongRecordPathsAndNames)
{
    std::wstring folder(300, L'd');
    script_options = ScriptOptions();
    options_of((L"x.exe -a -r \"C:\\Records and more\\" + folder + L"\\r.jsonl\" -d").c_str());
    EXPECT_EQ(script_options.record_valid, 1);
    EXPECT_EQ(std::string(script_options.record_path),
              "C:\\Records and more\\" + std::string(300, 'd') + "\\r.jsonl");
    EXPECT_EQ(options_of((L"x.exe -r " + folder + L" -d").c_str()).final_command, 0);

    script_options = ScriptOptions();
    options_of((L"x.exe -r " + std::wstring(2000, L'p') + L" -a").c_str());
    EXPECT_EQ(script_options.record_given, 1);
    EXPECT_EQ(script_options.record_valid, 0);
    EXPECT_STREQ(script_options.record_path, "");

    script_options = ScriptOptions();
    std::string long_word(2000, 'p');
    options_of_words({"x", "-r", long_word.c_str(), "-a"});
    EXPECT_EQ(script_options.record_valid, 0);

    script_options = ScriptOptions();
    options_of((L"x.exe -o " + std::wstring(200, L'Я') + L" -n").c_str());
    EXPECT_EQ(script_options.no_window, 1);
    // Whole characters only: 63 of two bytes fit in 127.
    EXPECT_EQ(std::strlen(script_options.operator_name), 126u);
    // A pair of UTF-16 surrogates is one character; a lone one is replaced.
    script_options = ScriptOptions();
    options_of(L"x.exe -o \xD83D\xDE00-\xD800-");
    EXPECT_STREQ(script_options.operator_name, "\xf0\x9f\x98\x80-\xef\xbf\xbd-");
}

}  // namespace
