// The engine's texts and the version text; decimal formatting is done by hand so that
// every platform (MinGW's swprintf included) produces the same text.
#include "engine_texts.h"

#include "update_engine.h"

const wchar_t STATUS_WAITING[] = L"Ожидание";
const wchar_t STATUS_EXCHANGING[] = L"Обмен информацией";
const wchar_t STATUS_UPDATING[] = L"Обновление";
const wchar_t STATUS_COMPLETED[] = L"ЗАВЕРШЕНО";
const wchar_t STATUS_ERROR[] = L"ОШИБКА!";
const wchar_t INFO_NO_REPLY[] = L"Нет ответа";
const wchar_t INFO_SUCCESS[] = L"Успешно";
const wchar_t INFO_WRONG_DEVICE[] = L"Подключенное устройство не TQ734";
const wchar_t CAPTION_INFORMATION[] = L"Информация";
const wchar_t TEXT_UPDATE_SUCCEEDED[] = L"Обновление ПО произведено успешно.";
const wchar_t TEXT_WRONG_DEVICE_BOX[] = L"ОШИБКА!\r\nПодключенное устройство не TQ734";

namespace {
const wchar_t GENERIC_LOADING_ERROR[] = L"Ошибка загрузки прошивки.\r\nОбновление не произведено.";

// Texts of the device's result codes 1 to 12; code 8 has no text of its own.
const wchar_t* const RESULT_TEXTS[] = {
    nullptr,
    L"Ошибка в принятых данных.\r\nБольшая прошивка.\r\nОбновление не произведено.",
    L"Ошибка загрузки прошивки.\r\nОшибка записи в flash.\r\nОбновление не произведено.",
    L"Ошибка загрузки прошивки.\r\nОшибка стирания flash.\r\nОбновление не произведено.",
    L"Ошибка в принятых данных.\r\nОшибка проверки crc.\r\nОбновление не произведено.",
    L"Ошибка в принятых данных.\r\nОшибка поиска типа прошивки.\r\nОбновление не произведено.",
    L"Ошибка загрузки прошивки.\r\nПамять flash защищена от записи.\r\nОбновление не произведено.",
    L"Ошибка загрузки прошивки.\r\nПамять flash находится в занятом режиме.\r\nОбновление не произведено.",
    GENERIC_LOADING_ERROR,
    L"Ошибка загрузки прошивки.\r\nЗанят Spi.\r\nОбновление не произведено.",
    L"Ошибка загрузки прошивки.\r\nНеизвестная микросхема flash.\r\nОбновление не произведено.",
    L"Ошибка в принятых данных.\r\nОшибка распаковки прошивки.\r\nОбновление не произведено.",
    L"Ошибка в принятых данных.\r\nОшибка проверки crc firmware.\r\nОбновление не произведено.",
};
constexpr unsigned RESULT_TEXT_COUNT = sizeof RESULT_TEXTS / sizeof RESULT_TEXTS[0];
}

// Unknown codes (and 0, which never reaches a message box) get the generic loading error.
const wchar_t* result_code_text(uint8_t code)
{
    if (code < RESULT_TEXT_COUNT && RESULT_TEXTS[code] != nullptr)
        return RESULT_TEXTS[code];
    return GENERIC_LOADING_ERROR;
}

// Appends text while room for the terminator remains; returns the new end.
static unsigned append_text(wchar_t* buffer, unsigned capacity, unsigned at, const wchar_t* text)
{
    for (; *text != 0 && at + 1 < capacity; ++text)
        buffer[at++] = *text;
    return at;
}

// Appends value in decimal, most significant digit first.
static unsigned append_decimal(wchar_t* buffer, unsigned capacity, unsigned at, unsigned value)
{
    wchar_t digits[12];
    unsigned count = 0;
    do {
        digits[count++] = wchar_t(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0 && at + 1 < capacity)
        buffer[at++] = digits[--count];
    return at;
}

void format_version_text(wchar_t* buffer, unsigned capacity, unsigned major, unsigned minor)
{
    if (capacity == 0)
        return;
    unsigned at = append_text(buffer, capacity, 0, L"Версия : ");
    at = append_decimal(buffer, capacity, at, major);
    at = append_text(buffer, capacity, at, L".");
    at = append_decimal(buffer, capacity, at, minor);
    buffer[at] = 0;
}
