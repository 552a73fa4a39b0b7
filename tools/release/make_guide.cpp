// Release texts made from the program's own tables, so that the guide cannot drift from them:
//   make_guide version                         the program's version
//   make_guide image                           the embedded firmware image's bytes (for its SHA-256)
//   make_guide placeholder                     exit code 0 when the embedded image is the placeholder
//                                              (its header's type name is TQ734_CPU2_PLACEHOLDER), 1 if not
//   make_guide [--test] firmware SHA256        FIRMWARE.txt: the firmware's version, the image's size,
//                                              header and hash
//   make_guide carries EXE                     exit code 0 when EXE holds exactly this image
//   make_guide [--test] guide TEMPLATE PICTURES  the technician's guide: TEMPLATE with its @...@
//                                              places filled, pictures embedded
// --test marks the texts of a test release at their top; without it the placeholder image is
// refused, so no real release can describe it. Everything goes to stdout; exit code 1 when an
// input is missing or malformed (or the placeholder without --test), 2 on bad usage.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "banner.h"
#include "com_devices.h"
#include "engine_texts.h"
#include "firmware_image.h"
#include "port_selection.h"
#include "release_contacts.h"
#include "tq_version.h"
#include "update_engine.h"

namespace {

struct NamedText {
    const char* name;
    const wchar_t* text;
};

// The program's texts that the guide quotes, by the names the template uses.
const NamedText PROGRAM_TEXTS[] = {
    {"STATUS_PRESS_START", STATUS_PRESS_START},
    {"STATUS_PORT_UNUSABLE", STATUS_PORT_UNUSABLE},
    {"STATUS_WAITING", STATUS_WAITING},
    {"STATUS_EXCHANGING", STATUS_EXCHANGING},
    {"STATUS_UPDATING", STATUS_UPDATING},
    {"STATUS_COMPLETED", STATUS_COMPLETED},
    {"STATUS_ERROR", STATUS_ERROR},
    {"INFO_NO_REPLY", INFO_NO_REPLY},
    {"INFO_SUCCESS", INFO_SUCCESS},
    {"INFO_WRONG_DEVICE", INFO_WRONG_DEVICE},
    {"CAPTION_INFORMATION", CAPTION_INFORMATION},
    {"TEXT_UPDATE_SUCCEEDED", TEXT_UPDATE_SUCCEEDED},
    {"TEXT_WRONG_DEVICE_BOX", TEXT_WRONG_DEVICE_BOX},
};

struct NamedCode {
    const char* name;
    unsigned value;
};

const NamedCode EXIT_CODES[] = {
    {"UPDATED", EXIT_UPDATED},
    {"WRONG_DEVICE", EXIT_WRONG_DEVICE},
    {"NO_UPDATE", EXIT_NO_UPDATE},
};

const char HEADER_TYPE[] = "TypFirmware=";
// The committed stand-in image's type name (tools/make_placeholder_image.cpp): the one rule by
// which every release step tells a test image from a firmware release.
const char PLACEHOLDER_TYPE[] = "TQ734_CPU2_PLACEHOLDER";
const char HEADER_CRC[] = "CRC_FIRMWARE=";
constexpr size_t MAX_TYPE_NAME = 64;

// What a test release says at the top of the guide and of FIRMWARE.txt.
const char TEST_NOTICE_TITLE[] = "ТЕСТОВЫЙ ВЫПУСК — НЕ ДЛЯ ПРИБОРОВ";
const char* const TEST_NOTICE_LINES[] = {
    "Прошивка внутри этой программы — тестовый образ, а не прошивка прибора TQ734.",
    "Не записывайте её в приборы. Программа из этого архива нужна только для проверки.",
    "Для обновления приборов нужен выпуск с прошивкой прибора, без «TEST» в имени архива и «~test» "
    "в имени пакета: получите его у ответственного за выпуски.",
};

// Month names of the build's date texts ("Feb 11 2025") and their Russian genitive.
const char* const MONTHS_EN[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const MONTHS_RU[] = {"января", "февраля", "марта",    "апреля",  "мая",    "июня",
                                 "июля",   "августа", "сентября", "октября", "ноября", "декабря"};

// Device file stems of the Linux COM table and what a technician knows them as.
struct DeviceKind {
    const char* stem;
    const char* meaning;
};
const DeviceKind DEVICE_KINDS[] = {
    {"ttyS", "COM-порты самого компьютера (разъёмы на плате или платы расширения)"},
    {"ttyUSB", "переходники USB–COM"},
    {"ttyACM", "USB-устройства, которые сами являются COM-портом (класс CDC-ACM)"},
};
constexpr unsigned HIGHEST_COM = 256;

bool test_release = false;

// What to do after each device result code, as the template gives it (@RESULT_ADVICE@): one
// advice per group of codes that share a text.
std::vector<std::string> advices;
int advice_of_code[256];
bool advice_given = false;

// Appends one code point as UTF-8.
void append_utf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// A program text for HTML: UTF-8, markup characters escaped, each \r\n a line break.
std::string html_text(const wchar_t* text)
{
    std::string out;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p == L'\r' && p[1] == L'\n') {
            out += "<br>";
            ++p;
        } else if (*p == L'&') {
            out += "&amp;";
        } else if (*p == L'<') {
            out += "&lt;";
        } else if (*p == L'>') {
            out += "&gt;";
        } else {
            append_utf8(out, uint32_t(*p));
        }
    }
    return out;
}

std::string html_escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

// A number with its digits in groups of three, as Russian text writes it: "314 912"; space is
// what separates the groups (a no-break space in HTML, a plain one in FIRMWARE.txt).
std::string grouped(unsigned long value, const char* space)
{
    std::string digits = std::to_string(value), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += space;
        out += digits[i];
    }
    return out;
}

// The text "Опросить" shows for the firmware the banner names, in the program's own format.
std::string expected_version_reply()
{
    wchar_t text[32];
    format_version_text(text, sizeof text / sizeof text[0], TQ_FIRMWARE_VERSION_MAJOR, TQ_FIRMWARE_VERSION_MINOR);
    return html_text(text);
}

// "Feb 11 2025 в 17:30:32" as the guide's own Russian sentence writes it: "11 февраля 2025 г. в
// 17:30:32". False when the text is not in the compiler's date format.
bool russian_date(const char* made, std::string& out)
{
    char month[4];
    unsigned day = 0, year = 0;
    int used = 0;
    if (std::sscanf(made, "%3s %u %u%n", month, &day, &year, &used) != 3 || day < 1 || day > 31)
        return false;
    for (size_t m = 0; m < 12; ++m)
        if (std::strcmp(month, MONTHS_EN[m]) == 0) {
            out += std::to_string(day) + "&nbsp;" + MONTHS_RU[m] + " " + std::to_string(year) + "&nbsp;г." +
                   html_escape(made + used);
            return true;
        }
    return false;
}

// The release zip's name, as tools/build_release.sh makes it.
std::string zip_file_name()
{
    return std::string("tq734-updater-") + TQ_VERSION_TEXT + (test_release ? "-TEST" : "") + ".zip";
}

// The Linux package's name, as CPack makes it (a test package's version ends in ~test).
std::string deb_file_name()
{
    return std::string("tq734-updater_") + TQ_VERSION_TEXT + (test_release ? "~test" : "") + "_" + TQ_DEB_ARCH +
           ".deb";
}

bool read_file(const std::string& path, std::string& content)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::perror(path.c_str());
        return false;
    }
    char buffer[65536];
    size_t n;
    content.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        content.append(buffer, n);
    std::fclose(f);
    return true;
}

std::string base64(const std::string& data)
{
    static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        uint32_t v = uint32_t(uint8_t(data[i])) << 16 | uint32_t(uint8_t(data[i + 1])) << 8 | uint8_t(data[i + 2]);
        for (int k = 18; k >= 0; k -= 6)
            out += ALPHABET[(v >> k) & 63];
    }
    if (i < data.size()) {
        uint32_t v = uint32_t(uint8_t(data[i])) << 16;
        if (i + 1 < data.size())
            v |= uint32_t(uint8_t(data[i + 1])) << 8;
        out += ALPHABET[(v >> 18) & 63];
        out += ALPHABET[(v >> 12) & 63];
        out += i + 1 < data.size() ? ALPHABET[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

uint32_t big_endian32(const std::string& s, size_t at)
{
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 | uint32_t(uint8_t(s[at + 2])) << 8 |
           uint8_t(s[at + 3]);
}

// <img> of one PNG from the pictures folder, as a data URI with its own size.
bool picture(const std::string& folder, const std::string& name, std::string& out)
{
    std::string png;
    if (!read_file(folder + "/" + name + ".png", png))
        return false;
    if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) != 0 || png.compare(12, 4, "IHDR") != 0) {
        std::fprintf(stderr, "%s.png: not a PNG picture\n", name.c_str());
        return false;
    }
    out += "<img src=\"data:image/png;base64," + base64(png) + "\" width=\"" +
           std::to_string(big_endian32(png, 16)) + "\" height=\"" + std::to_string(big_endian32(png, 20)) + "\">";
    return true;
}

// "8, 13–255": the codes that share one text, runs written as ranges.
std::string code_list(const std::vector<unsigned>& codes)
{
    std::string out;
    for (size_t i = 0; i < codes.size();) {
        size_t j = i;
        while (j + 1 < codes.size() && codes[j + 1] == codes[j] + 1)
            ++j;
        if (!out.empty())
            out += ", ";
        out += std::to_string(codes[i]);
        if (j > i)
            out += (j == i + 1 ? ", " : "–") + std::to_string(codes[j]);
        i = j + 1;
    }
    return out;
}

// The device's result codes 1..255 grouped by their text, in the order of the codes.
struct CodeGroups {
    std::vector<const wchar_t*> texts;
    std::vector<std::vector<unsigned>> codes;
};

CodeGroups result_code_groups()
{
    CodeGroups groups;
    for (unsigned code = 1; code <= 255; ++code) {
        const wchar_t* text = result_code_text(uint8_t(code));
        size_t k = 0;
        while (k < groups.texts.size() && groups.texts[k] != text)
            ++k;
        if (k == groups.texts.size()) {
            groups.texts.push_back(text);
            groups.codes.emplace_back();
        }
        groups.codes[k].push_back(code);
    }
    return groups;
}

// "4 7 9: text": the advice for the groups of these codes, given before the table.
bool add_advice(const std::string& arg)
{
    size_t colon = arg.find(':');
    size_t text = colon == std::string::npos ? colon : arg.find_first_not_of(" \n", colon + 1);
    if (text == std::string::npos) {
        std::fprintf(stderr, "template: @RESULT_ADVICE %s@ is not \"CODES: TEXT\"\n", arg.c_str());
        return false;
    }
    if (!advice_given)
        std::fill(std::begin(advice_of_code), std::end(advice_of_code), -1);
    advice_given = true;
    // One line per table row, however the template wraps the advice.
    std::string advice = arg.substr(text);
    std::replace(advice.begin(), advice.end(), '\n', ' ');
    advices.push_back(advice);
    CodeGroups groups = result_code_groups();
    const char* p = arg.c_str();
    const char* end = p + colon;
    while (p < end) {
        char* after;
        unsigned long code = std::strtoul(p, &after, 10);
        if (after == p || code < 1 || code > 255) {
            std::fprintf(stderr, "template: not a result code in @RESULT_ADVICE %s@\n", arg.c_str());
            return false;
        }
        p = after;
        while (p < end && *p == ' ')
            ++p;
        // The advice belongs to every code that shows the same text.
        for (size_t k = 0; k < groups.texts.size(); ++k) {
            if (std::find(groups.codes[k].begin(), groups.codes[k].end(), unsigned(code)) == groups.codes[k].end())
                continue;
            for (unsigned member : groups.codes[k]) {
                if (advice_of_code[member] != -1) {
                    std::fprintf(stderr, "template: result code %u has two advices\n", member);
                    return false;
                }
                advice_of_code[member] = int(advices.size() - 1);
            }
        }
    }
    return true;
}

// Rows of the device's result codes, one per distinct text, with the template's advice when it
// gives any; then every code must have one.
bool result_code_rows(std::string& out)
{
    CodeGroups groups = result_code_groups();
    for (size_t k = 0; k < groups.texts.size(); ++k) {
        out += "<tr><td class=\"code\">" + code_list(groups.codes[k]) + "</td><td>" + html_text(groups.texts[k]) +
               "</td>";
        if (advice_given) {
            int advice = advice_of_code[groups.codes[k][0]];
            if (advice < 0) {
                std::fprintf(stderr, "template: no @RESULT_ADVICE@ for result code %u\n", groups.codes[k][0]);
                return false;
            }
            out += "<td>" + advices[size_t(advice)] + "</td>";
        }
        out += "</tr>\n";
    }
    return true;
}

// The codes that share one text ("8, 13–255"), or that text on one line: what a technician
// cannot tell apart in the window. False when every code has a text of its own.
bool shared_codes(bool want_text, std::string& out)
{
    CodeGroups groups = result_code_groups();
    for (size_t k = 0; k < groups.texts.size(); ++k) {
        if (groups.codes[k].size() < 2)
            continue;
        if (!want_text) {
            out += code_list(groups.codes[k]);
            return true;
        }
        std::string text = html_text(groups.texts[k]);
        for (size_t at; (at = text.find("<br>")) != std::string::npos;)
            text.replace(at, 4, " ");
        out += text;
        return true;
    }
    std::fprintf(stderr, "template: no result codes share a text\n");
    return false;
}

// What a technician knows a device file stem as; null for a stem the guide does not explain.
const char* device_kind_meaning(const std::string& stem)
{
    for (const DeviceKind& kind : DEVICE_KINDS)
        if (stem == kind.stem)
            return kind.meaning;
    return nullptr;
}

// The stem of a device file name: "ttyUSB" of "ttyUSB0".
std::string device_stem(const char* name)
{
    std::string stem = name;
    while (!stem.empty() && stem.back() >= '0' && stem.back() <= '9')
        stem.pop_back();
    return stem;
}

// Rows of the Linux COM table from the program's own numbering: one row per run of numbers
// with the same kind of device file, then the numbers that have none.
bool com_table_rows(std::string& out)
{
    unsigned port = 1;
    while (port <= HIGHEST_COM) {
        char first_name[16], name[16];
        if (!com_device_name(port, first_name, sizeof first_name)) {
            out += "<tr><td class=\"nowrap\">COM" + std::to_string(port) + "–COM" + std::to_string(HIGHEST_COM) +
                   "</td><td>—</td><td>таких портов нет, в списке они не появляются</td></tr>\n";
            break;
        }
        std::string stem = device_stem(first_name), last_name = first_name;
        const char* meaning = device_kind_meaning(stem);
        if (!meaning) {
            std::fprintf(stderr, "the guide does not explain the device files %s\n", stem.c_str());
            return false;
        }
        unsigned last = port;
        while (last + 1 <= HIGHEST_COM && com_device_name(last + 1, name, sizeof name) && device_stem(name) == stem) {
            ++last;
            last_name = name;
        }
        out += "<tr><td class=\"nowrap\">COM" + std::to_string(port) + "–COM" + std::to_string(last) + "</td><td class=\"nowrap\">/dev/" +
               first_name + " – /dev/" + last_name + "</td><td>" + meaning + "</td></tr>\n";
        port = last + 1;
    }
    return true;
}

// A port list item as the Linux window shows it: "COM33 (ttyUSB0)".
bool com_item(const std::string& number, std::string& out)
{
    char name[16];
    unsigned port = unsigned(std::strtoul(number.c_str(), nullptr, 10));
    if (!com_device_name(port, name, sizeof name)) {
        std::fprintf(stderr, "template: COM%s has no device file\n", number.c_str());
        return false;
    }
    out += "COM" + std::to_string(port) + " (" + name + ")";
    return true;
}

// The notice at the top of a test release's guide; nothing in a firmware release.
std::string test_notice_html()
{
    if (!test_release)
        return "";
    std::string out = std::string("<div class=\"test-release\"><b>") + TEST_NOTICE_TITLE + "</b><br>";
    for (const char* line : TEST_NOTICE_LINES)
        out += std::string(line) + " ";
    return out + "</div>";
}

// Replaces every @NAME ARG@ of the template (@@ is a plain @); an unknown name is an error,
// not a silent gap. Text between @IF_TEST@ (or @IF_RELEASE@) and @END_IF@ is kept only in a test
// release (or only in a firmware release); its places are checked either way.
bool fill(const std::string& page, const std::string& pictures, std::string& kept)
{
    std::string dropped;
    bool in_condition = false, dropping = false;
    size_t at = 0;
    while (at < page.size()) {
        std::string& out = dropping ? dropped : kept;
        size_t open = page.find('@', at);
        if (open == std::string::npos) {
            out.append(page, at, std::string::npos);
            break;
        }
        size_t close = page.find('@', open + 1);
        if (close == std::string::npos) {
            std::fprintf(stderr, "template: unclosed @ at offset %zu\n", open);
            return false;
        }
        out.append(page, at, open - at);
        if (close == open + 1) {   // @@ is one @
            out += '@';
            at = close + 1;
            continue;
        }
        std::string place = page.substr(open + 1, close - open - 1);
        std::string word = place.substr(0, place.find(' '));
        std::string arg = place.find(' ') == std::string::npos ? "" : place.substr(place.find(' ') + 1);
        bool known = false;
        if (word == "IF_TEST" || word == "IF_RELEASE") {
            if (in_condition) {
                std::fprintf(stderr, "template: @%s@ inside another condition\n", word.c_str());
                return false;
            }
            in_condition = true;
            dropping = test_release != (word == "IF_TEST");
            known = true;
        } else if (word == "END_IF") {
            if (!in_condition) {
                std::fprintf(stderr, "template: @END_IF@ without @IF_TEST@ or @IF_RELEASE@\n");
                return false;
            }
            in_condition = dropping = false;
            known = true;
        } else if (word == "VERSION") {
            out += TQ_VERSION_TEXT;
            known = true;
        } else if (word == "IMAGE_SIZE") {
            out += grouped(IMAGE_SIZE, "&nbsp;");
            known = true;
        } else if (word == "BLOCK_COUNT") {
            out += grouped(BLOCK_COUNT, "&nbsp;");
            known = true;
        } else if (word == "FIRMWARE_VERSION") {
            out += TQ_FIRMWARE_VERSION_TEXT;
            known = true;
        } else if (word == "FIRMWARE_MADE") {
            out += html_escape(TQ_FIRMWARE_MADE_TEXT);
            known = true;
        } else if (word == "FIRMWARE_MADE_RU") {
            if (!russian_date(TQ_FIRMWARE_MADE_TEXT, out)) {
                std::fprintf(stderr, "template: the firmware's date \"%s\" is not \"Mmm dd yyyy ...\"\n",
                             TQ_FIRMWARE_MADE_TEXT);
                return false;
            }
            known = true;
        } else if (word == "ZIP_FILE") {
            out += zip_file_name();
            known = true;
        } else if (word == "DEB_FILE") {
            out += deb_file_name();
            known = true;
        } else if (word == "SUPPORT_CONTACT") {
            out += html_escape(TQ_SUPPORT_CONTACT);
            known = true;
        } else if (word == "SIGNER") {
            out += html_escape(TQ_SIGNER_NAME);
            known = true;
        } else if (word == "VERSION_REPLY") {
            out += expected_version_reply();
            known = true;
        } else if (word == "TEST_NOTICE") {
            out += test_notice_html();
            known = true;
        } else if (word == "RESULT_ADVICE") {
            if (!add_advice(arg))
                return false;
            known = true;
        } else if (word == "RESULT_CODES") {
            if (!result_code_rows(out))
                return false;
            known = true;
        } else if (word == "SHARED_CODES" || word == "SHARED_TEXT") {
            if (!shared_codes(word == "SHARED_TEXT", out))
                return false;
            known = true;
        } else if (word == "COM_TABLE") {
            if (!com_table_rows(out))
                return false;
            known = true;
        } else if (word == "COM_ITEM") {
            if (!com_item(arg, out))
                return false;
            known = true;
        } else if (word == "PICTURE") {
            if (!picture(pictures, arg, out))
                return false;
            known = true;
        } else if (word == "TEXT") {
            for (const NamedText& t : PROGRAM_TEXTS)
                if (arg == t.name) {
                    out += html_text(t.text);
                    known = true;
                }
        } else if (word == "EXIT") {
            for (const NamedCode& c : EXIT_CODES)
                if (arg == c.name) {
                    out += std::to_string(c.value);
                    known = true;
                }
        }
        if (!known) {
            std::fprintf(stderr, "template: unknown place @%s@\n", place.c_str());
            return false;
        }
        at = close + 1;
    }
    if (in_condition) {
        std::fprintf(stderr, "template: @IF_TEST@ or @IF_RELEASE@ without its @END_IF@\n");
        return false;
    }
    return true;
}

int make_guide(const char* template_path, const char* pictures)
{
    std::string page, out;
    if (!read_file(template_path, page) || !fill(page, pictures, out))
        return 1;
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

// The type name and CRC_FIRMWARE value from the image's header, read as the program reads
// them for its log; false when it has none.
bool read_header(std::string& type_name, uint32_t& crc)
{
    char name[MAX_TYPE_NAME + 1];
    if (!firmware_header(name, sizeof name, &crc))
        return false;
    type_name = name;
    return true;
}

// FIRMWARE.txt, in UTF-8 with a byte-order mark and CRLF line ends, as Notepad reads it everywhere.
int make_firmware_text(const char* sha256)
{
    std::string type_name;
    uint32_t crc = 0;
    if (!read_header(type_name, crc)) {
        std::fprintf(stderr, "the firmware image has no \"%sNAME%s\" header\n", HEADER_TYPE, HEADER_CRC);
        return 1;
    }
    if (std::strlen(sha256) != 64 || std::strspn(sha256, "0123456789abcdef") != 64) {
        std::fprintf(stderr, "not a SHA-256: %s\n", sha256);
        return 1;
    }
    char crc_text[16];
    std::snprintf(crc_text, sizeof crc_text, "0x%08X", unsigned(crc));
    std::string out = "\xEF\xBB\xBF";
    if (test_release) {
        out += std::string("ВНИМАНИЕ: ") + TEST_NOTICE_TITLE + "\r\n";
        for (const char* line : TEST_NOTICE_LINES)
            out += std::string(line) + "\r\n";
        out += "\r\n";
    }
    wchar_t reply[32];
    format_version_text(reply, sizeof reply / sizeof reply[0], TQ_FIRMWARE_VERSION_MAJOR, TQ_FIRMWARE_VERSION_MINOR);
    std::string reply_text;
    for (const wchar_t* p = reply; *p; ++p)
        append_utf8(reply_text, uint32_t(*p));
    out += "Прошивка CPU2, встроенная в tq734-updater " TQ_VERSION_TEXT "\r\n";
    out += "(в tq734-updater.exe и x64/tq734-updater.exe один и тот же образ)\r\n\r\n";
    out += "Версия прошивки:  " TQ_FIRMWARE_VERSION_TEXT ", создана " TQ_FIRMWARE_MADE_TEXT "   (как в окне программы)\r\n";
    out += "После обновления кнопка \"Опросить\" показывает: " + reply_text + "\r\n";
    out += "Версия программы: " TQ_VERSION_TEXT "\r\n";
    out += "Размер образа:    " + grouped(IMAGE_SIZE, " ") + " байт\r\n";
    out += "Тип прошивки:     " + type_name + "   (TypFirmware= в заголовке образа)\r\n";
    out += std::string("CRC_FIRMWARE:     ") + crc_text + "   (4 байта после CRC_FIRMWARE=, младший байт первым)\r\n";
    out += std::string("SHA-256 образа:   ") + sha256 + "\r\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

// The programs and FIRMWARE.txt must describe the same image: it is searched for in EXE.
int check_carries(const char* path)
{
    std::string exe;
    if (!read_file(path, exe))
        return 1;
    const char* image = reinterpret_cast<const char*>(FirmwareImage);
    if (std::search(exe.begin(), exe.end(), image, image + IMAGE_SIZE) == exe.end()) {
        std::fprintf(stderr, "%s does not carry this firmware image\n", path);
        return 1;
    }
    return 0;
}

// True when the embedded image is the committed placeholder, by its header's type name.
bool image_is_placeholder()
{
    std::string type_name;
    uint32_t crc = 0;
    return read_header(type_name, crc) && type_name == PLACEHOLDER_TYPE;
}

// A release text of the placeholder image is always a test release's.
bool refuse_placeholder()
{
    if (test_release || !image_is_placeholder())
        return false;
    std::fprintf(stderr,
                 "the embedded firmware is the placeholder (TypFirmware=%s): only a test release (--test) may "
                 "describe it\n",
                 PLACEHOLDER_TYPE);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--test") == 0) {
        test_release = true;
        --argc;
        ++argv;
    }
    std::string command = argc >= 2 ? argv[1] : "";
    if (command == "version" && argc == 2) {
        std::printf("%s\n", TQ_VERSION_TEXT);
        return 0;
    }
    if (command == "image" && argc == 2)
        return std::fwrite(FirmwareImage, 1, IMAGE_SIZE, stdout) == IMAGE_SIZE ? 0 : 1;
    if (command == "placeholder" && argc == 2)
        return image_is_placeholder() ? 0 : 1;
    if (command == "firmware" && argc == 3)
        return refuse_placeholder() ? 1 : make_firmware_text(argv[2]);
    if (command == "carries" && argc == 3)
        return check_carries(argv[2]);
    if (command == "guide" && argc == 4)
        return refuse_placeholder() ? 1 : make_guide(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: make_guide version | image | placeholder | [--test] firmware SHA256 | carries EXE | "
                 "[--test] guide TEMPLATE PICTURES\n");
    return 2;
}
