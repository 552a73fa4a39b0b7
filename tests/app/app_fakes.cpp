#include "app_fakes.h"

#include <cwctype>

#include "line_text.h"
#include "run_platform.h"
#include "script_options.h"
#include "serial_channel.h"
#include "settings_store.h"
#include "update_engine.h"

FakeWorld world;
UpdateEngine update_engine;

// The engine's handler is only passed along by port selection.
void on_receive(const uint8_t*, uint16_t) {}

void reset_world()
{
    world = FakeWorld();
    script_options = ScriptOptions();
    for (auto& p : world.probes)
        p = ProbeResult::Absent;
    world.selected = -1;
    world.open_succeeds = true;
    world.buttons_visible = world.start_visible = world.bars_visible = true;
    line_tags[StatusLine] = line_tags[InfoLine] = 0;
    port_number = 0;
    update_engine = UpdateEngine();
    update_engine.state = Polling;
}

std::wstring status_text()
{
    return world.status_writes.empty() ? L"" : world.status_writes.back();
}

std::wstring info_text()
{
    return world.info_writes.empty() ? L"" : world.info_writes.back();
}

ProbeResult probe_port(unsigned n)
{
    return n <= 256 ? world.probes[n] : ProbeResult::Absent;
}

uint16_t load_port()
{
    return world.remembered;
}

void remember_port(uint16_t) {}

bool channel_open(uint8_t channel, uint8_t port, uint32_t baud, uint8_t stop_bits, uint16_t receive_size,
                  uint16_t transmit_size, ReceiveHandler handler)
{
    world.channel_calls.push_back("open " + std::to_string(channel) + " " + std::to_string(port));
    world.last_baud = baud;
    world.last_stop_bits = stop_bits;
    world.last_receive_size = receive_size;
    world.last_transmit_size = transmit_size;
    world.handler_is_engine = handler == on_receive;
    world.items_at_last_open = world.items.size();
    if (world.refused_opens > 0) {
        --world.refused_opens;
        return false;
    }
    return world.open_succeeds && port != 0;
}

void channel_close(uint8_t channel)
{
    world.channel_calls.push_back("close " + std::to_string(channel));
}

void write_line_control(TextLine line, const wchar_t* text)
{
    (line == StatusLine ? world.status_writes : world.info_writes).push_back(text);
}

void port_list_clear()
{
    world.items.clear();
    world.selected = -1;
}

void port_list_add(const wchar_t* text)
{
    world.items.push_back(text);
}

// Like the list control's own search: first item from the top, prefix, case ignored.
void port_list_select_prefix(const wchar_t* text)
{
    std::wstring prefix(text);
    for (size_t i = 0; i < world.items.size(); ++i) {
        const std::wstring& item = world.items[i];
        if (item.size() < prefix.size())
            continue;
        bool same = true;
        for (size_t k = 0; k < prefix.size() && same; ++k)
            same = std::towlower(item[k]) == std::towlower(prefix[k]);
        if (same) {
            world.selected = int(i);
            return;
        }
    }
}

void port_list_select_none()
{
    world.selected = -1;
}

// The retries of a named port take no time here; they are counted.
void pause_ms(unsigned milliseconds)
{
    world.paused_ms += milliseconds;
}

void port_list_select_first()
{
    if (!world.items.empty())
        world.selected = 0;
}

bool port_list_selected_text(wchar_t* buffer, unsigned capacity)
{
    if (world.selected < 0)
        return false;
    const std::wstring& item = world.items[size_t(world.selected)];
    if (item.size() >= capacity)
        return false;
    item.copy(buffer, item.size());
    buffer[item.size()] = 0;
    return true;
}

void show_buttons(bool visible)
{
    world.buttons_visible = visible;
    world.start_visible = visible;
}

void hide_start_button()
{
    world.start_visible = false;
}

void hide_progress_bars()
{
    world.bars_visible = false;
}
