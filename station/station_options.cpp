#include "station_options.h"

#include <cstdio>
#include <cstring>

#include "script_options.h"

StationOptions station_options;

const char STATION_HELP_TEXT[] =
    "Использование: tq734-station [ПАРАМЕТРЫ] [ПОРТ...]\n"
    "Обновляет устройства TQ734 на нескольких портах без участия оператора:\n"
    "каждое подключённое устройство обновляется один раз и записывается в журнал.\n"
    "\n"
    "  ПОРТ          COM1-COM255 (в Linux COM1-COM96, а также ttyUSB0 или /dev/ttyUSB0);\n"
    "                до 16 портов.\n"
    "                Без портов: порты прошлого запуска или выбор из списка.\n"
    "  -d            не посылать устройству завершающую команду\n"
    "  -t СЕКУНДЫ    прекратить обновление, если устройство молчит дольше (1-86400)\n"
    "  -f            обновлять и устройства, в которых уже эта прошивка\n"
    "  -o ИМЯ        оператор или партия, в каждую запись журнала\n"
    "  -r ФАЙЛ       журнал устройств (JSON Lines) вместо места по умолчанию\n"
    "  --help        эта справка\n"
    "  --version     версия программы и прошивки\n";

namespace {

// Decimal digits only, at most 9 of them: the updater's rule for -t.
bool parse_seconds(const char* text, uint32_t* value)
{
    uint32_t v = 0;
    unsigned digits = 0;
    for (; *text; ++text, ++digits) {
        if (*text < '0' || *text > '9' || digits >= 9)
            return false;
        v = v * 10 + uint32_t(*text - '0');
    }
    if (digits == 0 || v < 1 || v > SILENCE_LIMIT_MAX_S)
        return false;
    *value = v;
    return true;
}

void fail(StationOptions& o, const char* format, const char* word)
{
    std::snprintf(o.error, sizeof o.error, format, word);
}

// A value the updater's command line carries whole: on Windows it has no escape for '"'.
bool passable(const char* value)
{
    return std::strchr(value, '"') == nullptr;
}

}  // namespace

bool station_add_port(StationOptions& options, uint16_t port)
{
    for (unsigned i = 0; i < options.port_count; ++i)
        if (options.ports[i] == port)
            return false;
    if (options.port_count >= STATION_MAX_PORTS)
        return false;
    options.ports[options.port_count++] = port;
    return true;
}

StationVerdict read_station_options(int count, const char* const* words)
{
    StationOptions& o = station_options;
    o = StationOptions{};
    for (int i = 0; i < count; ++i) {
        const char* w = words[i];
        const char* value = i + 1 < count ? words[i + 1] : nullptr;
        if (std::strcmp(w, "--help") == 0)
            return StationVerdict::Help;
        if (std::strcmp(w, "--version") == 0)
            return StationVerdict::Version;
        if (std::strcmp(w, "-d") == 0) {
            o.no_final_command = 1;
        } else if (std::strcmp(w, "-f") == 0) {
            o.force = 1;
        } else if (std::strcmp(w, "-t") == 0) {
            if (!value || !parse_seconds(value, &o.limit_seconds)) {
                fail(o, "-t: нужно число секунд от 1 до 86400, а не «%s»", value ? value : "");
                return StationVerdict::Error;
            }
            ++i;
        } else if (std::strcmp(w, "-o") == 0) {
            if (!value || !*value || !passable(value) || std::strlen(value) >= sizeof o.operator_name) {
                fail(o, "-o: нужно имя оператора или партии (до 63 байт, без кавычек), а не «%s»", value ? value : "");
                return StationVerdict::Error;
            }
            std::snprintf(o.operator_name, sizeof o.operator_name, "%s", value);
            ++i;
        } else if (std::strcmp(w, "-r") == 0) {
            if (!value || !*value || !passable(value) || std::strlen(value) >= sizeof o.records_path) {
                fail(o, "-r: нужен путь к файлу журнала, а не «%s»", value ? value : "");
                return StationVerdict::Error;
            }
            std::snprintf(o.records_path, sizeof o.records_path, "%s", value);
            ++i;
        } else if (w[0] == '-' && w[1] != 0 && w[1] != '/') {
            fail(o, "Неизвестный параметр «%s» (справка: --help)", w);
            return StationVerdict::Error;
        } else {
            uint16_t port = port_of_option(w);
            if (port == 0) {
                fail(o, "Неизвестный порт «%s»: нужен COM1-COM255 или имя устройства", w);
                return StationVerdict::Error;
            }
            if (!station_add_port(o, port)) {
                if (o.port_count >= STATION_MAX_PORTS)
                    fail(o, "Слишком много портов: не больше 16 (лишний «%s»)", w);
                else
                    std::snprintf(o.error, sizeof o.error, "Порт COM%u назван дважды («%s»)", unsigned(port), w);
                return StationVerdict::Error;
            }
        }
    }
    return StationVerdict::Run;
}

bool format_port_set(const StationOptions& options, char* out, unsigned capacity)
{
    unsigned used = 0;
    out[0] = 0;
    for (unsigned i = 0; i < options.port_count; ++i) {
        int n = std::snprintf(out + used, capacity - used, "%sCOM%u", i ? " " : "", unsigned(options.ports[i]));
        if (n < 0 || used + unsigned(n) >= capacity)
            return false;
        used += unsigned(n);
    }
    return true;
}

void parse_port_set(const char* text, StationOptions& options)
{
    char word[16];
    while (*text) {
        while (*text == ' ' || *text == ',' || *text == '\n' || *text == '\r' || *text == '\t')
            ++text;
        unsigned n = 0;
        bool fits = true;
        for (; *text && *text != ' ' && *text != ',' && *text != '\n' && *text != '\r' && *text != '\t'; ++text) {
            if (n + 1 < sizeof word)
                word[n++] = *text;
            else
                fits = false;
        }
        word[n] = 0;
        if (n == 0 || !fits || (word[0] != 'C' && word[0] != 'c'))
            continue;
        if (uint16_t port = port_of_option(word))
            station_add_port(options, port);
    }
}
