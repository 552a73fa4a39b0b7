#include "station_texts.h"

#include <cstdio>
#include <cstring>

#include "banner.h"
#include "firmware_image.h"

const char STATION_CAPTION[] = "Станция обновления TQ734 (CPU2)";
const char TEST_RELEASE_TEXT[] = "ТЕСТОВЫЙ ВЫПУСК";

namespace {
const char PLACEHOLDER_TYPE[] = "TQ734_CPU2_PLACEHOLDER";
}

bool firmware_line(char* out, unsigned capacity)
{
    char type[TYPE_NAME_CAPACITY] = "";
    uint32_t crc = 0;
    bool header = firmware_header(type, sizeof type, &crc);
    char crc_text[16] = "нет";
    if (header)
        std::snprintf(crc_text, sizeof crc_text, "0x%08X", unsigned(crc));
    std::snprintf(out, capacity, "Прошивка %s  ·  %s  ·  CRC_FIRMWARE %s  ·  SHA-256 %.16s", TQ_FIRMWARE_VERSION_TEXT,
                  header ? type : "без заголовка", crc_text, FIRMWARE_SHA256);
    return header && std::strcmp(type, PLACEHOLDER_TYPE) == 0;
}

void counters_line(char* out, unsigned capacity)
{
    const StationCounters& c = station_counters;
    std::snprintf(out, capacity, "Обновлено: %u     Ошибки: %u     Всего: %u", c.updated, c.failed, c.total);
}

void records_line(const char* path, char* out, unsigned capacity)
{
    if (records_status.failing)
        std::snprintf(out, capacity, "Журнал НЕ записывается (%s): %s", records_status.reason, path);
    else
        std::snprintf(out, capacity, "Журнал: %s", path);
}

const char* tile_colour_word(TileColour colour)
{
    static const char* const WORDS[] = {"waiting", "updating", "done", "failed", "up_to_date"};
    return WORDS[static_cast<unsigned>(colour)];
}
