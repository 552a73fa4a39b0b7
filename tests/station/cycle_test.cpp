// A port's cycle against the lines an updater logs: each row is one arrival child's log and
// how it ended, and what the tile, the counters and the next step must be.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "port_cycle.h"

namespace {

const char T[] = "2026-12-09T15:29:47.766+03:00 COM21 ";

ChildLine line_of(const std::string& rest)
{
    std::string text = T + rest;
    ChildLine line;
    EXPECT_TRUE(parse_child_line(text.data(), unsigned(text.size()), &line)) << text;
    return line;
}

struct Row {
    const char* name;
    std::vector<const char*> lines;
    ChildEnd how;
    uint32_t code;
    TileColour colour;
    const char* text_begins;
    Outcome outcome;
    ChildKind next;
    Outcome record;   // what the station writes itself
    unsigned updated, failed, total;
};

const Row ROWS[] = {
    {"whole update",
     {"port state=open", "device id=TQ tq734=yes", "device version=2.384", "progress percent=10 blocks=124 of=1231",
      "status text=\"Обновление\"", "result code=0 text=\"Обновление ПО произведено успешно.\"", "final_command sent",
      "record written=yes", "exit code=0 seconds=70"},
     ChildEnd::Exited, 0, TileColour::Done, "Обновлено\nСнимите устройство", Outcome::Ok, ChildKind::Removal,
     Outcome::None, 1, 0, 1},
    {"up to date",
     {"device id=TQ tq734=yes", "device version=2.385", "up_to_date version=2.385", "record written=yes",
      "exit code=0 seconds=1"},
     ChildEnd::Exited, 0, TileColour::UpToDate, "Уже версия 2.385", Outcome::UpToDate, ChildKind::Removal,
     Outcome::None, 0, 0, 1},
    {"device error",
     {"device id=TQ tq734=yes", "device version=2.384", "result code=4 text=\"Ошибка \\\"4\\\"\\r\\nстрока\"",
      "record written=yes", "exit code=4 seconds=70"},
     ChildEnd::Exited, 4, TileColour::Failed, "Код 4: Ошибка \"4\" строка\nСнимите", Outcome::DeviceError,
     ChildKind::Removal, Outcome::None, 0, 1, 1},
    {"wrong device", {"device id=XY tq734=no", "record written=yes", "exit code=126 seconds=1"}, ChildEnd::Exited, 126,
     TileColour::Failed, "Не TQ734 (ответ «XY»)", Outcome::NotTq734, ChildKind::Removal, Outcome::None, 0, 1, 1},
    {"silence limit",
     {"device id=TQ tq734=yes", "give_up reason=silence_limit limit_s=5", "final_command not_sent reason=gave_up",
      "record written=yes", "exit code=127 seconds=9"},
     ChildEnd::Exited, 127, TileColour::Failed, "Нет ответа", Outcome::NoAnswer, ChildKind::Removal, Outcome::None, 0,
     1, 1},
    {"success code but exit code not 0: never green",
     {"device id=TQ tq734=yes", "result code=0 text=\"ok\"", "exit code=3"}, ChildEnd::Exited, 3, TileColour::Failed,
     "Устройство не подтвердило запись", Outcome::DeviceError, ChildKind::Removal, Outcome::None, 0, 1, 1},
    {"exit 0 without the device's result: never green", {"device id=TQ tq734=yes", "exit code=0"}, ChildEnd::Exited,
     0, TileColour::Failed, "Нет ответа", Outcome::NoAnswer, ChildKind::Removal, Outcome::None, 0, 1, 1},
    {"up to date claimed with a failing exit", {"device id=TQ tq734=yes", "up_to_date version=2.385", "exit code=127"},
     ChildEnd::Exited, 127, TileColour::Failed, "Нет ответа", Outcome::NoAnswer, ChildKind::Removal, Outcome::None, 0,
     1, 1},
    {"crash mid-update", {"device id=TQ tq734=yes", "progress percent=50 blocks=616 of=1231"}, ChildEnd::Signalled, 11,
     TileColour::Failed, "Сбой программы обновления", Outcome::Crashed, ChildKind::Removal, Outcome::Crashed, 0, 1, 1},
    {"crash after its own record", {"device id=TQ tq734=yes", "result code=0 text=\"ok\"", "record written=yes"},
     ChildEnd::Signalled, 9, TileColour::Failed, "Сбой программы обновления", Outcome::Crashed, ChildKind::Removal,
     Outcome::None, 0, 1, 1},
    {"crash before any device", {"port state=unusable"}, ChildEnd::Signalled, 9, TileColour::Failed,
     "Сбой программы обновления", Outcome::Crashed, ChildKind::Removal, Outcome::Crashed, 0, 0, 0},
    {"ended without a device", {"port state=open", "exit code=127"}, ChildEnd::Exited, 127, TileColour::Failed,
     "Программа обновления завершилась без устройства (код 127)", Outcome::None, ChildKind::Arrival, Outcome::None, 0,
     0, 0},
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

class CycleRows : public ::testing::TestWithParam<Row> {};

TEST_P(CycleRows, TileCountersAndNextStep)
{
    const Row& row = GetParam();
    station_counters = {};
    PortSlot slot;
    cycle_begin(slot, 21);
    cycle_child_started(slot, ChildKind::Arrival, 1000, LocalTime{});
    for (const char* l : row.lines)
        cycle_child_line(slot, line_of(l), 2000);
    CycleAction action = cycle_child_ended(slot, row.how, row.code, 5000);
    EXPECT_EQ(slot.colour, row.colour);
    EXPECT_EQ(std::string(slot.state_text).rfind(row.text_begins, 0), 0u) << slot.state_text;
    EXPECT_EQ(slot.outcome, row.outcome);
    EXPECT_EQ(action.start, row.next);
    EXPECT_EQ(action.record, row.record);
    EXPECT_EQ(station_counters.updated, row.updated);
    EXPECT_EQ(station_counters.failed, row.failed);
    EXPECT_EQ(station_counters.total, row.total);
}

INSTANTIATE_TEST_SUITE_P(Station, CycleRows, ::testing::ValuesIn(ROWS),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string n;
                             for (const char* c = info.param.name; *c; ++c)
                                 n += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return n;
                         });

// What the tile shows while the arrival child runs, line after line.
TEST(Cycle, TileFollowsTheChild)
{
    PortSlot slot;
    cycle_begin(slot, 21);
    cycle_child_started(slot, ChildKind::Arrival, 0, LocalTime{});
    struct Step {
        const char* line;
        TileColour colour;
        const char* text;
        uint32_t blocks;
    } steps[] = {
        {"port state=unusable", TileColour::Waiting, "Порт занят или отсутствует", 0},
        {"port state=open", TileColour::Waiting, "Ожидание устройства", 0},
        {"device id=TQ tq734=yes", TileColour::Updating, "Устройство отвечает", 0},
        {"device version=2.384", TileColour::Updating, "Идёт обновление", 0},
        {"info text=\"Нет ответа\"", TileColour::Updating, "Нет ответа, повторяю", 0},
        {"progress percent=10 blocks=124 of=1231", TileColour::Updating, "Идёт обновление", 124},
        {"device version=2.385", TileColour::Updating, "Идёт обновление", 124},
        {"progress percent=10 blocks=99999 of=1231", TileColour::Updating, "Идёт обновление", 124},
        {"status text=\"Обновление\"", TileColour::Updating, "Устройство записывает прошивку", 124},
    };
    for (const Step& s : steps) {
        cycle_child_line(slot, line_of(s.line), 1000);
        EXPECT_EQ(slot.colour, s.colour) << s.line;
        EXPECT_STREQ(slot.state_text, s.text) << s.line;
        EXPECT_EQ(slot.blocks, s.blocks) << s.line;
    }
    EXPECT_TRUE(cycle_updating(slot));
    char text[64];
    tile_version_text(slot, text, sizeof text);
    EXPECT_STREQ(text, "Версия до: 2.384");
    EXPECT_TRUE(cycle_tick(slot, 3500));
    tile_time_text(slot, text, sizeof text);
    EXPECT_STREQ(text, "Время: 0:02");
    EXPECT_FALSE(cycle_tick(slot, 3600));
}

// A device with this firmware is never shown as being updated.
TEST(Cycle, UpToDateShownAtOnce)
{
    PortSlot slot;
    cycle_begin(slot, 21);
    cycle_child_started(slot, ChildKind::Arrival, 0, LocalTime{});
    cycle_child_line(slot, line_of("device id=TQ tq734=yes"), 0);
    cycle_child_line(slot, line_of("device version=2.385"), 0);
    EXPECT_STREQ(slot.state_text, "Устройство отвечает");
    cycle_child_line(slot, line_of("up_to_date version=2.385"), 0);
    EXPECT_EQ(slot.colour, TileColour::UpToDate);
    EXPECT_FALSE(cycle_updating(slot));
}

// Removal ends, arrival starts again: never the same device twice without a removal between.
TEST(Cycle, RemovalThenArrivalAgain)
{
    station_counters = {};
    PortSlot slot;
    cycle_begin(slot, 21);
    cycle_child_started(slot, ChildKind::Removal, 0, LocalTime{});
    cycle_child_line(slot, line_of("gone reason=silent"), 0);
    EXPECT_EQ(cycle_child_ended(slot, ChildEnd::Exited, 0, 0).start, ChildKind::Arrival);
    cycle_child_started(slot, ChildKind::Removal, 0, LocalTime{});
    CycleAction crashed = cycle_child_ended(slot, ChildEnd::Signalled, 9, 0);
    EXPECT_EQ(crashed.start, ChildKind::Removal);
    EXPECT_GT(crashed.delay_ms, 0u);
    cycle_child_started(slot, ChildKind::Arrival, 0, LocalTime{});
    EXPECT_EQ(slot.colour, TileColour::Waiting);
    EXPECT_STREQ(slot.state_text, "Ожидание устройства");
    EXPECT_EQ(station_counters.total, 0u);
}

// Closing: an update under way is recorded as interrupted; a waiting child ends unrecorded.
TEST(Cycle, StoppedChildren)
{
    station_counters = {};
    PortSlot updating, waiting;
    cycle_begin(updating, 21);
    cycle_begin(waiting, 22);
    cycle_child_started(updating, ChildKind::Arrival, 0, LocalTime{});
    cycle_child_started(waiting, ChildKind::Arrival, 0, LocalTime{});
    cycle_child_line(updating, line_of("device id=TQ tq734=yes"), 0);
    EXPECT_TRUE(cycle_updating(updating));
    EXPECT_FALSE(cycle_updating(waiting));
    cycle_stop(updating);
    cycle_stop(waiting);
    CycleAction a = cycle_child_ended(updating, ChildEnd::Signalled, 15, 0);
    EXPECT_EQ(a.start, ChildKind::None);
    EXPECT_EQ(a.record, Outcome::Interrupted);
    EXPECT_EQ(updating.colour, TileColour::Failed);
    CycleAction b = cycle_child_ended(waiting, ChildEnd::Signalled, 15, 0);
    EXPECT_EQ(b.start, ChildKind::None);
    EXPECT_EQ(b.record, Outcome::None);
    EXPECT_EQ(station_counters.failed, 1u);
}

TEST(Cycle, NotStartedIsRetried)
{
    PortSlot slot;
    cycle_begin(slot, 21);
    slot.child = ChildKind::Removal;
    CycleAction a = cycle_child_not_started(slot);
    EXPECT_EQ(a.start, ChildKind::Removal);
    EXPECT_EQ(a.delay_ms, CHILD_RETRY_MS);
    EXPECT_EQ(slot.colour, TileColour::Failed);
}

// The header's records warning follows the latest writer.
TEST(Cycle, RecordsFileStatus)
{
    PortSlot slot;
    cycle_begin(slot, 21);
    cycle_child_started(slot, ChildKind::Arrival, 0, LocalTime{});
    cycle_child_line(slot, line_of("record written=no reason=open_failed"), 0);
    EXPECT_TRUE(records_status.failing);
    EXPECT_STREQ(records_status.reason, "open_failed");
    cycle_child_line(slot, line_of("record written=yes"), 0);
    EXPECT_FALSE(records_status.failing);
}

}  // namespace
