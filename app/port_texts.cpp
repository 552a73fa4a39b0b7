// Status texts of port selection: one table for the program and the technician's guide.
#include "port_selection.h"

const wchar_t STATUS_PRESS_START[] = L"Нажмите \"Старт\"";
const wchar_t STATUS_PORT_UNUSABLE[] = L"Порт занят или отсутствует";
