#include "port_cycle.h"

#include <cstdio>
#include <cstring>

#include "banner.h"
#include "station_options.h"

StationCounters station_counters;
RecordsStatus records_status;

namespace {

const char TEXT_WAITING[] = "Ожидание устройства";
const char TEXT_PORT_UNUSABLE[] = "Порт занят или отсутствует";
const char TEXT_ANSWERED[] = "Устройство отвечает";
const char TEXT_UPDATING[] = "Идёт обновление";
const char TEXT_SILENT[] = "Нет ответа, повторяю";
const char TEXT_FINISHING[] = "Устройство записывает прошивку";
const char TEXT_DONE[] = "Обновлено";
const char TEXT_UP_TO_DATE[] = "Уже версия " TQ_FIRMWARE_VERSION_TEXT;
const char TEXT_NO_ANSWER[] = "Нет ответа";
const char TEXT_NOT_CONFIRMED[] = "Устройство не подтвердило запись";
const char TEXT_CRASHED[] = "Сбой программы обновления";
const char TEXT_INTERRUPTED[] = "Прервано";
const char TEXT_NOT_STARTED[] = "Программа обновления не запускается";
const char TEXT_REMOVE[] = "Снимите устройство";

bool is(const ChildLine& line, const char* event)
{
    return std::strcmp(line.event, event) == 0;
}

bool field_is(const ChildLine& line, const char* key, const char* value)
{
    const char* v = child_field(line, key);
    return v && std::strcmp(v, value) == 0;
}

void copy(char* out, unsigned capacity, const char* text)
{
    std::snprintf(out, capacity, "%s", text ? text : "");
}

void show(PortSlot& slot, TileColour colour, const char* text)
{
    slot.colour = colour;
    copy(slot.state_text, sizeof slot.state_text, text);
}

// A finished device's tile: the result, then the request to take the device away.
void show_result(PortSlot& slot, TileColour colour, const char* text)
{
    slot.colour = colour;
    std::snprintf(slot.state_text, sizeof slot.state_text, "%s\n%s", text, TEXT_REMOVE);
}

// The device's text with its line breaks as spaces: a tile has room for lines, not for breaks.
const char* one_line(const char* text)
{
    static char out[256];
    unsigned n = 0;
    for (; *text && n + 1 < sizeof out; ++text) {
        if (*text == '\r')
            continue;
        out[n++] = *text == '\n' ? ' ' : *text;
    }
    out[n] = 0;
    return out;
}

void stop_clock(PortSlot& slot, uint32_t now_ms)
{
    if (slot.timing)
        slot.elapsed_ms = now_ms - slot.started_ms;
    slot.timing = false;
}

// What the arrival child's device came to, from what it logged and how it ended.
Outcome judge(const PortSlot& slot, uint32_t exit_code)
{
    if (slot.device_heard && !slot.tq734)
        return Outcome::NotTq734;
    if (slot.result_seen)
        return slot.result_code == 0 && exit_code == 0 ? Outcome::Ok : Outcome::DeviceError;
    if (slot.up_to_date && exit_code == 0)
        return Outcome::UpToDate;
    if (std::strcmp(slot.give_up, "port_unusable") == 0)
        return Outcome::PortUnusable;
    return Outcome::NoAnswer;
}

void show_outcome(PortSlot& slot, Outcome outcome, uint32_t exit_code)
{
    char text[STATE_TEXT_CAPACITY];
    switch (outcome) {
    case Outcome::Ok:
        show_result(slot, TileColour::Done, TEXT_DONE);
        slot.blocks = BLOCKS_IN_ALL;
        return;
    case Outcome::UpToDate:
        show_result(slot, TileColour::UpToDate, TEXT_UP_TO_DATE);
        return;
    case Outcome::NotTq734:
        std::snprintf(text, sizeof text, "Не TQ734 (ответ «%s»)", slot.device_id);
        break;
    case Outcome::DeviceError:
        if (slot.result_code == 0)   // the device said yes, the updater did not end with 0
            std::snprintf(text, sizeof text, "%s (код выхода %u)", TEXT_NOT_CONFIRMED, unsigned(exit_code));
        else
            std::snprintf(text, sizeof text, "Код %u: %s", unsigned(slot.result_code), one_line(slot.result_text));
        break;
    case Outcome::PortUnusable:
        copy(text, sizeof text, TEXT_PORT_UNUSABLE);
        break;
    case Outcome::Crashed:
        copy(text, sizeof text, TEXT_CRASHED);
        break;
    case Outcome::Interrupted:
        copy(text, sizeof text, TEXT_INTERRUPTED);
        break;
    default:
        copy(text, sizeof text, TEXT_NO_ANSWER);
        break;
    }
    show_result(slot, TileColour::Failed, text);
}

// One more device handled: the header's counters.
void count(Outcome outcome)
{
    ++station_counters.total;
    if (outcome == Outcome::Ok)
        ++station_counters.updated;
    else if (outcome != Outcome::UpToDate)
        ++station_counters.failed;
}

void forget_device(PortSlot& slot)
{
    slot.device_heard = slot.tq734 = slot.result_seen = slot.up_to_date = false;
    slot.final_sent = slot.record_logged = false;
    slot.device_id[0] = slot.result_text[0] = slot.give_up[0] = 0;
    slot.result_code = slot.resends = 0;
}

// The arrival child heard its device's identification.
void on_device(PortSlot& slot, const ChildLine& line, uint32_t now_ms)
{
    if (const char* id = child_field(line, "id")) {
        slot.device_heard = true;
        copy(slot.device_id, sizeof slot.device_id, id);
        slot.tq734 = field_is(line, "tq734", "yes");
        slot.blocks = 0;
        slot.version_before[0] = 0;
        slot.timing = true;
        slot.started_ms = now_ms;
        slot.elapsed_ms = 0;
        if (slot.tq734)
            show(slot, TileColour::Updating, TEXT_ANSWERED);
    } else if (const char* version = child_field(line, "version")) {
        // The first reply is the version before the update; later ones (during it) are not.
        if (!slot.version_before[0]) {
            copy(slot.version_before, sizeof slot.version_before, version);
            // This firmware's own version is left alone (up_to_date follows) unless -f.
            if (slot.tq734 && (std::strcmp(version, TQ_FIRMWARE_VERSION_TEXT) != 0 || station_options.force))
                show(slot, TileColour::Updating, TEXT_UPDATING);
        }
    }
}

}  // namespace

const char* result_word(Outcome outcome)
{
    static const char* const WORDS[] = {"",   "ok",           "up_to_date", "device_error", "not_tq734",
                                        "no_answer", "port_unusable", "interrupted", "crashed"};
    return WORDS[static_cast<unsigned>(outcome)];
}

void cycle_begin(PortSlot& slot, uint16_t port)
{
    slot = PortSlot{};
    slot.port = port;
    show(slot, TileColour::Waiting, TEXT_WAITING);
}

void cycle_child_started(PortSlot& slot, ChildKind kind, uint32_t, const LocalTime& now)
{
    slot.child = kind;
    if (kind != ChildKind::Arrival)
        return;
    forget_device(slot);
    slot.outcome = Outcome::None;
    slot.start_time = now;
    slot.blocks = 0;
    slot.version_before[0] = 0;
    slot.timing = false;
    slot.elapsed_ms = 0;
    show(slot, TileColour::Waiting, TEXT_WAITING);
}

CycleAction cycle_child_not_started(PortSlot& slot)
{
    ChildKind retry = slot.child == ChildKind::None ? ChildKind::Arrival : slot.child;
    slot.child = ChildKind::None;
    show(slot, TileColour::Failed, TEXT_NOT_STARTED);
    return {retry, CHILD_RETRY_MS, Outcome::None};
}

void cycle_child_line(PortSlot& slot, const ChildLine& line, uint32_t now_ms)
{
    if (is(line, "record")) {
        slot.record_logged = true;
        note_record_written(field_is(line, "written", "yes"), child_field(line, "reason"));
        return;
    }
    if (slot.child != ChildKind::Arrival || slot.stopping)
        return;
    if (is(line, "port") && !slot.device_heard) {
        show(slot, TileColour::Waiting, field_is(line, "state", "unusable") ? TEXT_PORT_UNUSABLE : TEXT_WAITING);
    } else if (is(line, "device")) {
        on_device(slot, line, now_ms);
    } else if (is(line, "progress")) {
        uint32_t blocks = 0;
        if (child_field_number(line, "blocks", &blocks) && blocks <= BLOCKS_IN_ALL)
            slot.blocks = blocks;
        if (slot.device_heard && slot.tq734)
            show(slot, TileColour::Updating, TEXT_UPDATING);
    } else if (is(line, "info") && slot.device_heard && slot.tq734 && !slot.result_seen) {
        if (field_is(line, "text", "Нет ответа"))
            show(slot, TileColour::Updating, TEXT_SILENT);
    } else if (is(line, "status") && slot.device_heard && slot.tq734 && !slot.result_seen) {
        if (field_is(line, "text", "Обновление"))
            show(slot, TileColour::Updating, TEXT_FINISHING);
        else if (field_is(line, "text", "Обмен информацией") && slot.colour == TileColour::Updating)
            show(slot, TileColour::Updating, TEXT_UPDATING);
    } else if (is(line, "silence")) {
        uint32_t resends = 0;
        if (child_field_number(line, "resends", &resends))
            slot.resends += resends;
    } else if (is(line, "result")) {
        uint32_t code = 0;
        if (child_field_number(line, "code", &code)) {
            slot.result_seen = true;
            slot.result_code = code;
            copy(slot.result_text, sizeof slot.result_text, child_field(line, "text"));
        }
    } else if (is(line, "up_to_date")) {
        slot.up_to_date = true;
        show(slot, TileColour::UpToDate, TEXT_UP_TO_DATE);
        if (const char* version = child_field(line, "version"))
            if (!slot.version_before[0])
                copy(slot.version_before, sizeof slot.version_before, version);
    } else if (is(line, "give_up")) {
        copy(slot.give_up, sizeof slot.give_up, child_field(line, "reason"));
    } else if (is(line, "final_command")) {
        slot.final_sent = child_field(line, "sent") != nullptr;
    }
}

CycleAction cycle_child_ended(PortSlot& slot, ChildEnd how, uint32_t code, uint32_t now_ms)
{
    ChildKind ended = slot.child;
    slot.child = ChildKind::None;
    stop_clock(slot, now_ms);
    if (slot.stopping) {
        // Closing: a device that was being updated is recorded as interrupted; nothing restarts.
        if (ended == ChildKind::Arrival && slot.device_heard && slot.outcome == Outcome::None) {
            slot.outcome = Outcome::Interrupted;
            count(slot.outcome);
            show_outcome(slot, slot.outcome, code);
            return {ChildKind::None, 0, slot.record_logged ? Outcome::None : Outcome::Interrupted};
        }
        return {ChildKind::None, 0, Outcome::None};
    }
    if (ended == ChildKind::Removal) {
        // Gone (or the watcher failed: watch again, never update the same device twice).
        if (how == ChildEnd::Exited && code == 0)
            return {ChildKind::Arrival, 0, Outcome::None};
        return {ChildKind::Removal, CHILD_RETRY_MS, Outcome::None};
    }
    if (ended != ChildKind::Arrival)
        return {ChildKind::Arrival, 0, Outcome::None};
    if (how == ChildEnd::Signalled) {
        slot.outcome = Outcome::Crashed;
        if (slot.device_heard)
            count(slot.outcome);
        show_outcome(slot, slot.outcome, code);
        return {ChildKind::Removal, 0, slot.record_logged ? Outcome::None : Outcome::Crashed};
    }
    if (!slot.device_heard) {
        // Ended without a device (it should wait for one): say so, and wait again later.
        char text[STATE_TEXT_CAPACITY];
        std::snprintf(text, sizeof text, "Программа обновления завершилась без устройства (код %u)", unsigned(code));
        show(slot, TileColour::Failed, text);
        return {ChildKind::Arrival, CHILD_RETRY_MS, Outcome::None};
    }
    slot.outcome = judge(slot, code);
    count(slot.outcome);
    show_outcome(slot, slot.outcome, code);
    return {ChildKind::Removal, 0, Outcome::None};
}

void cycle_stop(PortSlot& slot)
{
    slot.stopping = true;
}

bool cycle_updating(const PortSlot& slot)
{
    return slot.child == ChildKind::Arrival && slot.device_heard && slot.tq734 && !slot.up_to_date;
}

bool cycle_tick(PortSlot& slot, uint32_t now_ms)
{
    if (!slot.timing)
        return false;
    uint32_t before = slot.elapsed_ms / 1000;
    slot.elapsed_ms = now_ms - slot.started_ms;
    return slot.elapsed_ms / 1000 != before;
}

void note_record_written(bool ok, const char* reason)
{
    records_status.failing = !ok;
    copy(records_status.reason, sizeof records_status.reason, ok ? "" : reason ? reason : "unknown");
}

void tile_version_text(const PortSlot& slot, char* out, unsigned capacity)
{
    if (!slot.version_before[0])
        std::snprintf(out, capacity, "Версия до: —");
    else if (std::strcmp(slot.version_before, "none") == 0)
        std::snprintf(out, capacity, "Версия до: не сообщает");
    else
        std::snprintf(out, capacity, "Версия до: %s", slot.version_before);
}

void tile_time_text(const PortSlot& slot, char* out, unsigned capacity)
{
    if (!slot.timing && slot.elapsed_ms == 0) {
        std::snprintf(out, capacity, "Время: —");
        return;
    }
    unsigned seconds = slot.elapsed_ms / 1000;
    std::snprintf(out, capacity, "Время: %u:%02u", seconds / 60, seconds % 60);
}
