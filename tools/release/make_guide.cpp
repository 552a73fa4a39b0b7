// Release texts made from the program's own tables, so that the guide cannot drift from them:
//   make_guide version                        the program's version
//   make_guide image                          the embedded firmware image's bytes (for its SHA-256)
//   make_guide firmware SHA256                FIRMWARE.txt: the image's size, header and hash
//   make_guide carries EXE                    exit code 0 when EXE holds exactly this image
//   make_guide guide TEMPLATE PICTURES FACTS  the technician's guide: TEMPLATE with its @...@
//                                             places filled, pictures embedded, FACTS quoted
// Everything goes to stdout; exit code 1 when an input is missing or malformed, 2 on bad usage.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine_texts.h"
#include "firmware_image.h"
#include "port_selection.h"
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
const char HEADER_CRC[] = "CRC_FIRMWARE=";
constexpr size_t MAX_TYPE_NAME = 64;

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

// Rows of the device's result codes 1..255, one per distinct text, in the order of the codes.
std::string result_code_rows()
{
    std::vector<const wchar_t*> texts;
    std::vector<std::vector<unsigned>> codes;
    for (unsigned code = 1; code <= 255; ++code) {
        const wchar_t* text = result_code_text(uint8_t(code));
        size_t k = 0;
        while (k < texts.size() && texts[k] != text)
            ++k;
        if (k == texts.size()) {
            texts.push_back(text);
            codes.emplace_back();
        }
        codes[k].push_back(code);
    }
    std::string out;
    for (size_t k = 0; k < texts.size(); ++k)
        out += "<tr><td class=\"code\">" + code_list(codes[k]) + "</td><td>" + html_text(texts[k]) + "</td></tr>\n";
    return out;
}

// Replaces every @NAME ARG@ of the template (@@ is a plain @); an unknown name is an error,
// not a silent gap.
bool fill(const std::string& page, const std::string& pictures, const std::string& facts, std::string& out)
{
    size_t at = 0;
    while (at < page.size()) {
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
        if (word == "VERSION") {
            out += TQ_VERSION_TEXT;
            known = true;
        } else if (word == "IMAGE_SIZE") {
            out += std::to_string(IMAGE_SIZE);
            known = true;
        } else if (word == "RESULT_CODES") {
            out += result_code_rows();
            known = true;
        } else if (word == "FACTS") {
            out += html_escape(facts);
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
    return true;
}

int make_guide(const char* template_path, const char* pictures, const char* facts_path)
{
    std::string page, facts, out;
    if (!read_file(template_path, page) || !read_file(facts_path, facts) || !fill(page, pictures, facts, out))
        return 1;
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

// The type name and CRC_FIRMWARE value from the image's header; false when it has none.
bool read_header(std::string& type_name, uint32_t& crc)
{
    const char* image = reinterpret_cast<const char*>(FirmwareImage);
    size_t type_length = std::strlen(HEADER_TYPE), crc_length = std::strlen(HEADER_CRC);
    if (std::memcmp(image, HEADER_TYPE, type_length) != 0)
        return false;
    type_name.clear();
    for (size_t i = type_length; i < type_length + MAX_TYPE_NAME; ++i) {
        if (std::memcmp(image + i, HEADER_CRC, crc_length) == 0) {
            const uint8_t* value = FirmwareImage + i + crc_length;
            crc = uint32_t(value[0]) | uint32_t(value[1]) << 8 | uint32_t(value[2]) << 16 | uint32_t(value[3]) << 24;
            return !type_name.empty();
        }
        if (image[i] < 0x21 || image[i] > 0x7E)
            return false;
        type_name += image[i];
    }
    return false;
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
    out += "Прошивка CPU2, встроенная в tq734-updater " TQ_VERSION_TEXT "\r\n";
    out += "(tq734-updater.exe и x64/tq734-updater.exe несут один и тот же образ)\r\n\r\n";
    out += "Версия программы: " TQ_VERSION_TEXT "\r\n";
    out += "Размер образа:    " + std::to_string(IMAGE_SIZE) + " байт\r\n";
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

}  // namespace

int main(int argc, char** argv)
{
    std::string command = argc >= 2 ? argv[1] : "";
    if (command == "version" && argc == 2) {
        std::printf("%s\n", TQ_VERSION_TEXT);
        return 0;
    }
    if (command == "image" && argc == 2)
        return std::fwrite(FirmwareImage, 1, IMAGE_SIZE, stdout) == IMAGE_SIZE ? 0 : 1;
    if (command == "firmware" && argc == 3)
        return make_firmware_text(argv[2]);
    if (command == "carries" && argc == 3)
        return check_carries(argv[2]);
    if (command == "guide" && argc == 5)
        return make_guide(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: make_guide version | image | firmware SHA256 | carries EXE | guide TEMPLATE PICTURES FACTS\n");
    return 2;
}
