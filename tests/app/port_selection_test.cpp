#include <algorithm>
#include <gtest/gtest.h>

#include "app_fakes.h"
#include "engine_host.h"
#include "port_selection.h"
#include "script_options.h"
#include "update_engine.h"

namespace {

const std::wstring PRESS_START = L"Нажмите \"Старт\"";
const std::wstring PORT_UNUSABLE = L"Порт занят или отсутствует";

class PortSelection : public ::testing::Test {
protected:
    void SetUp() override { reset_world(); }
    std::wstring selected() const { return world.selected < 0 ? L"" : world.items[size_t(world.selected)]; }
};

TEST_F(PortSelection, ScanListsPresentAndBusyPortsInOrderWithDeviceNamesAbove9)
{
    world.probes[3] = ProbeResult::Present;
    world.probes[4] = ProbeResult::Busy;
    world.probes[12] = ProbeResult::Present;
    world.probes[256] = ProbeResult::Busy;
    scan_ports();
    EXPECT_EQ(world.items, (std::vector<std::wstring>{L"COM3", L"COM4", L"COM12", L"COM256"}));
}

TEST_F(PortSelection, NoPortsFallsBackToCom1AndCom2AndTheOpenFails)
{
    world.remembered = 0;
    world.open_succeeds = false;
    select_initial_port();
    EXPECT_EQ(world.items, (std::vector<std::wstring>{L"COM1", L"COM2"}));
    EXPECT_EQ(selected(), L"COM1");
    EXPECT_EQ(world.channel_calls.back(), "open 0 1");
    EXPECT_EQ(port_number, 0);
    EXPECT_EQ(status_text(), PORT_UNUSABLE);
    EXPECT_FALSE(world.buttons_visible);
    EXPECT_FALSE(world.start_visible);
}

TEST_F(PortSelection, NoPortsWithCom2RememberedSelectsCom2)
{
    world.remembered = 2;
    select_initial_port();
    EXPECT_EQ(selected(), L"COM2");
    EXPECT_EQ(port_number, 2);
}

TEST_F(PortSelection, RememberedPortPresentIsSelectedAndOpenedWithTheLineSettings)
{
    world.remembered = 3;
    world.probes[1] = world.probes[3] = world.probes[30] = ProbeResult::Present;
    select_initial_port();
    EXPECT_EQ(selected(), L"COM3");
    EXPECT_EQ(port_number, 3);
    EXPECT_EQ(world.channel_calls, (std::vector<std::string>{"close 0", "open 0 3"}));
    EXPECT_EQ(world.last_baud, 115200u);
    EXPECT_EQ(world.last_stop_bits, 1);
    EXPECT_EQ(world.last_receive_size, 8192);
    EXPECT_EQ(world.last_transmit_size, 1024);
    EXPECT_TRUE(world.handler_is_engine);
    EXPECT_EQ(status_text(), PRESS_START);
    EXPECT_TRUE(world.buttons_visible);
    EXPECT_FALSE(world.bars_visible);
    EXPECT_EQ(update_engine.state, Idle);
}

TEST_F(PortSelection, RememberedPortAbsentSelectsTheFirstPortItsNameBegins)
{
    world.remembered = 3;
    world.probes[1] = world.probes[5] = world.probes[34] = world.probes[35] = ProbeResult::Present;
    select_initial_port();
    EXPECT_EQ(selected(), L"COM34");
    EXPECT_EQ(port_number, 34);
    EXPECT_EQ(world.channel_calls.back(), "open 0 34");
}

TEST_F(PortSelection, RememberedPortWithoutAnyMatchSelectsTheFirstItem)
{
    world.remembered = 3;
    world.probes[5] = world.probes[7] = world.probes[43] = ProbeResult::Present;
    select_initial_port();
    EXPECT_EQ(selected(), L"COM5");
    EXPECT_EQ(port_number, 5);
}

TEST_F(PortSelection, NothingRememberedSelectsTheFirstItem)
{
    world.probes[10] = world.probes[6] = ProbeResult::Present;
    select_initial_port();
    EXPECT_EQ(selected(), L"COM6");
    EXPECT_EQ(port_number, 6);
}

TEST_F(PortSelection, FailingOpenHidesTheButtonsAndForgetsThePort)
{
    world.probes[5] = ProbeResult::Busy;
    world.open_succeeds = false;
    select_initial_port();
    EXPECT_EQ(port_number, 0);
    EXPECT_EQ(status_text(), PORT_UNUSABLE);
    EXPECT_FALSE(world.buttons_visible);
    EXPECT_FALSE(world.bars_visible);
    EXPECT_TRUE(world.info_writes.empty());   // the info line was already clear
}

TEST_F(PortSelection, Com256IsListedButOpensAsPortZero)
{
    world.probes[256] = ProbeResult::Present;
    select_initial_port();
    EXPECT_EQ(world.channel_calls.back(), "open 0 0");
    EXPECT_EQ(port_number, 0);
    EXPECT_EQ(status_text(), PORT_UNUSABLE);
}

TEST_F(PortSelection, ChoosingThePortInUseDoesNothing)
{
    world.probes[5] = world.probes[6] = ProbeResult::Present;
    select_initial_port();
    update_engine.state = Polling;
    size_t calls = world.channel_calls.size(), writes = world.status_writes.size();
    on_port_list_changed();
    EXPECT_EQ(world.channel_calls.size(), calls);
    EXPECT_EQ(world.status_writes.size(), writes);
    EXPECT_EQ(update_engine.state, Polling);
}

TEST_F(PortSelection, ChoosingAnotherPortReopensOnItAndReturnsTheEngineToIdle)
{
    world.probes[5] = world.probes[6] = ProbeResult::Present;
    select_initial_port();
    set_info(L"Версия : 2.385", 4);
    update_engine.state = Polling;
    world.selected = 1;
    on_port_list_changed();
    EXPECT_EQ(port_number, 6);
    EXPECT_EQ(update_engine.state, Idle);
    EXPECT_EQ(world.channel_calls.back(), "open 0 6");
    EXPECT_EQ(world.channel_calls[world.channel_calls.size() - 2], "close 0");
    EXPECT_EQ(info_text(), L"");
    // Cleared first, then the result of the new open.
    ASSERT_GE(world.status_writes.size(), 2u);
    EXPECT_EQ(world.status_writes[world.status_writes.size() - 2], L"");
    EXPECT_EQ(status_text(), PRESS_START);
    EXPECT_TRUE(world.buttons_visible);
}

TEST_F(PortSelection, PickingAFailedPortAgainRetries)
{
    world.probes[5] = ProbeResult::Busy;
    world.open_succeeds = false;
    select_initial_port();
    ASSERT_EQ(port_number, 0);
    world.open_succeeds = true;
    on_port_list_changed();
    EXPECT_EQ(port_number, 5);
    EXPECT_EQ(status_text(), PRESS_START);
    EXPECT_TRUE(world.buttons_visible);
}

TEST_F(PortSelection, NoSelectionIsIgnored)
{
    world.probes[5] = ProbeResult::Present;
    select_initial_port();
    world.selected = -1;
    size_t calls = world.channel_calls.size();
    on_port_list_changed();
    EXPECT_EQ(world.channel_calls.size(), calls);
    EXPECT_EQ(port_number, 5);
}

// A port named with -p: taken before the scan, never replaced by another one.
TEST_F(PortSelection, NamedPort)
{
    const struct {
        const char* name;
        uint16_t named;
        uint8_t auto_mode;
        unsigned refused_opens;
        uint16_t opened;            // port number afterwards
        std::wstring selected;
        unsigned opens, paused_ms;
    } rows[] = {
        {"present, remembered COM5 ignored", 9, 0, 0, 9, L"COM9", 1, 0},
        {"absent: COM110 is not chosen instead", 11, 0, 99, 0, L"", 1, 0},
        {"busy in auto mode for a moment", 9, 1, 3, 9, L"COM9", 4, 150},
        {"busy interactively: one attempt", 9, 0, 3, 0, L"COM9", 1, 0},
        {"unusable in auto mode: about a second", 9, 1, 99, 0, L"COM9", 20, 950},
        {"names no port", 0, 1, 0, 0, L"", 1, 0},
    };
    for (const auto& row : rows) {
        reset_world();
        world.remembered = 5;
        world.probes[5] = world.probes[9] = world.probes[110] = world.probes[111] = ProbeResult::Present;
        world.refused_opens = row.refused_opens;
        update_engine.auto_mode = row.auto_mode;
        script_options.port_given = 1;
        script_options.named_port = row.named;
        select_initial_port();
        EXPECT_EQ(port_number, row.opened) << row.name;
        EXPECT_EQ(selected(), row.selected) << row.name;
        EXPECT_EQ(std::count(world.channel_calls.begin(), world.channel_calls.end(),
                             "open 0 " + std::to_string(row.named & 0xFF)),
                  row.opens)
            << row.name;
        EXPECT_EQ(world.items_at_last_open, 0u) << row.name;   // before the scan
        EXPECT_EQ(world.paused_ms, row.paused_ms) << row.name;
        EXPECT_EQ(world.items.size(), 4u) << row.name;
        EXPECT_EQ(status_text(), row.opened ? PRESS_START : PORT_UNUSABLE) << row.name;
    }
}

// Opening the list scans again; the selected port stays selected, and listed even when gone.
struct RescanRow {
    const char* what;
    std::vector<unsigned> before;   // present at start-up; the first is selected and opened
    std::vector<unsigned> after;    // present when the list is opened
    std::vector<std::wstring> items;
    std::wstring selected;
};

const RescanRow RESCAN_ROWS[] = {
    {"a port plugged in after start is listed", {5}, {5, 7}, {L"COM5", L"COM7"}, L"COM5"},
    {"one plugged in below the selected", {7}, {3, 7}, {L"COM3", L"COM7"}, L"COM7"},
    {"the selected one gone stays listed", {5, 7}, {7}, {L"COM5", L"COM7"}, L"COM5"},
    {"the selected one gone, a new one above", {5}, {40}, {L"COM5", L"COM40"}, L"COM5"},
    {"COM3 is not taken for COM33", {3, 33}, {3, 30, 33}, {L"COM3", L"COM30", L"COM33"}, L"COM3"},
    {"every port gone: the fallback and the selected", {5}, {}, {L"COM1", L"COM2", L"COM5"}, L"COM5"},
    {"the fallback's COM1 selected, nothing plugged in", {}, {}, {L"COM1", L"COM2"}, L"COM1"},
    {"the fallback's COM1 selected, an adapter plugged in", {}, {40}, {L"COM1", L"COM40"}, L"COM1"},
};

TEST_F(PortSelection, RescanKeepsTheSelectionAndReopensNothing)
{
    for (const RescanRow& row : RESCAN_ROWS) {
        SCOPED_TRACE(row.what);
        reset_world();
        for (unsigned n : row.before)
            world.probes[n] = ProbeResult::Present;
        select_initial_port();
        uint16_t opened = port_number;
        update_engine.state = Polling;
        for (auto& p : world.probes)
            p = ProbeResult::Absent;
        for (unsigned n : row.after)
            world.probes[n] = ProbeResult::Present;
        size_t calls = world.channel_calls.size(), writes = world.status_writes.size();
        rescan_ports();
        EXPECT_EQ(world.items, row.items);
        EXPECT_EQ(selected(), row.selected);
        EXPECT_EQ(port_number, opened);
        EXPECT_EQ(world.channel_calls.size(), calls);
        EXPECT_EQ(world.status_writes.size(), writes);
        EXPECT_EQ(update_engine.state, Polling);
    }
}

TEST_F(PortSelection, AGonePortIsDroppedAtTheFirstRescanAfterAnotherIsChosen)
{
    world.probes[5] = world.probes[7] = ProbeResult::Present;
    select_initial_port();
    world.probes[5] = ProbeResult::Absent;
    rescan_ports();
    ASSERT_EQ(world.items, (std::vector<std::wstring>{L"COM5", L"COM7"}));
    world.selected = 1;
    on_port_list_changed();
    ASSERT_EQ(port_number, 7);
    EXPECT_EQ(world.items, (std::vector<std::wstring>{L"COM5", L"COM7"}));   // not under the new open
    rescan_ports();
    EXPECT_EQ(world.items, (std::vector<std::wstring>{L"COM7"}));
    EXPECT_EQ(selected(), L"COM7");
    EXPECT_EQ(port_number, 7);
}

TEST_F(PortSelection, AFailedPortPickedAgainAfterARescanRetries)
{
    world.probes[5] = ProbeResult::Busy;
    world.open_succeeds = false;
    select_initial_port();
    ASSERT_EQ(port_number, 0);
    world.probes[5] = ProbeResult::Present;
    rescan_ports();
    EXPECT_EQ(selected(), L"COM5");
    EXPECT_EQ(port_number, 0);   // the rescan alone opens nothing
    world.open_succeeds = true;
    on_port_list_changed();
    EXPECT_EQ(port_number, 5);
    EXPECT_EQ(status_text(), PRESS_START);
}

TEST_F(PortSelection, NoRescanWhileAnUpdateRunsOrAfterIt)
{
    for (EngineState state : {Transferring, Finishing, Closing}) {
        SCOPED_TRACE(int(state));
        reset_world();
        world.probes[5] = ProbeResult::Present;
        select_initial_port();
        update_engine.state = state;
        world.probes[7] = ProbeResult::Present;
        world.probes[5] = ProbeResult::Absent;
        rescan_ports();
        EXPECT_EQ(world.items, (std::vector<std::wstring>{L"COM5"}));
        EXPECT_EQ(selected(), L"COM5");
        EXPECT_EQ(update_engine.state, state);
    }
}

}  // namespace
