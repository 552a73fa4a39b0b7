#include "port_selection.h"

#include "engine_host.h"
#include "run_platform.h"
#include "script_options.h"
#include "serial_channel.h"
#include "settings_store.h"
#include "update_engine.h"

uint16_t port_number;
ReceiveHandler port_receiver = on_receive;
uint16_t port_chosen;

namespace {

constexpr unsigned HIGHEST_PORT = 256;
constexpr unsigned PORT_TEXT_CAPACITY = 32;
constexpr uint32_t LINE_BAUD = 115200;
constexpr uint16_t RECEIVE_QUEUE = 8192;
constexpr uint16_t TRANSMIT_QUEUE = 1024;
constexpr unsigned NAMED_PORT_ATTEMPTS = 20;   // about 1 s in all, with the pauses
constexpr unsigned NAMED_PORT_PAUSE_MS = 50;

// "COM" and the decimal number, as the list shows ports.
void format_port_text(unsigned n, wchar_t* text)
{
    wchar_t digits[8];
    unsigned count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + n % 10);
        n /= 10;
    } while (n && count < 7);
    text[0] = L'C';
    text[1] = L'O';
    text[2] = L'M';
    unsigned at = 3;
    while (count)
        text[at++] = digits[--count];
    text[at] = 0;
}

// Reads "COM" and an unsigned 16-bit decimal number (kept modulo 65536, as the list
// never holds more than three digits); false when the text does not start that way.
bool parse_port_text(const wchar_t* text, uint16_t* n)
{
    if (text[0] != L'C' || text[1] != L'O' || text[2] != L'M')
        return false;
    const wchar_t* p = text + 3;
    if (*p < L'0' || *p > L'9')
        return false;
    uint16_t value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p)
        value = static_cast<uint16_t>(value * 10 + (*p - L'0'));
    *n = value;
    return true;
}

// The number of the selected list item, 0 when none is selected or it does not parse.
uint16_t selected_port()
{
    wchar_t text[PORT_TEXT_CAPACITY];
    uint16_t n = 0;
    if (!port_list_selected_text(text, PORT_TEXT_CAPACITY))
        return 0;
    return parse_port_text(text, &n) ? n : 0;
}

// Lists the present and busy ports in increasing order, and `kept` among them even when it has
// gone, so that the list never changes under the port in use. With no port found it offers
// COM1 and COM2.
void fill_port_list(uint16_t kept)
{
    bool listed[HIGHEST_PORT + 1] = {};
    bool found = false;
    for (unsigned n = 1; n <= HIGHEST_PORT; ++n)
        if (probe_port(n) != ProbeResult::Absent)
            listed[n] = found = true;
    if (!found)
        listed[1] = listed[2] = true;
    if (kept != 0 && kept <= HIGHEST_PORT)
        listed[kept] = true;
    port_list_clear();
    wchar_t text[PORT_TEXT_CAPACITY];
    for (unsigned n = 1; n <= HIGHEST_PORT; ++n) {
        if (!listed[n])
            continue;
        format_port_text(n, text);
        port_list_add(text);
    }
}

// Selects COM<n> itself: the list runs in increasing order, so COMn is the first item that
// begins with its text (COM9 before COM90). Nothing stays selected when COM<n> is not listed.
void select_listed_port(uint16_t n)
{
    wchar_t text[PORT_TEXT_CAPACITY];
    format_port_text(n, text);
    port_list_select_prefix(text);
    if (selected_port() != n)
        port_list_select_none();
}

}  // namespace

// A present or busy port is listed; with none at all the list offers COM1 and COM2.
void scan_ports()
{
    fill_port_list(0);
}

// The list is being opened: fill it again, the selected item staying selected. Nothing is
// reopened. Not while an update runs (the list is disabled then; this is the guard behind it).
void rescan_ports()
{
    if (update_engine.state == Transferring || update_engine.state == Finishing || update_engine.state == Closing)
        return;
    uint16_t kept = selected_port();
    fill_port_list(kept);
    if (kept != 0)
        select_listed_port(kept);
}

// Programs started side by side each scan every port for a moment, so the named port is
// taken first; a neighbour's scan may hold it for that moment, hence the retries.
static void select_named_port()
{
    uint16_t named = script_options.named_port;
    unsigned attempts = update_engine.auto_mode ? NAMED_PORT_ATTEMPTS : 1;
    for (unsigned attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0)
            pause_ms(NAMED_PORT_PAUSE_MS);
        port_number = port_chosen = named;
        open_port();
        if (port_number != 0 || named == 0)
            break;
    }
    scan_ports();
    if (named != 0)
        select_listed_port(named);
}

// The remembered port when listed (or the first listed port its name begins), else the first item.
void select_initial_port()
{
    if (script_options.port_given) {
        select_named_port();
        return;
    }
    port_number = load_port();
    wchar_t remembered[PORT_TEXT_CAPACITY];
    format_port_text(port_number, remembered);
    scan_ports();
    port_list_select_prefix(remembered);
    port_number = selected_port();
    if (port_number == 0) {
        port_list_select_first();
        port_number = selected_port();
    }
    port_chosen = port_number;
    open_port();
}

// Reopens channel 0 on the current port and shows whether it is usable.
void open_port()
{
    update_engine.state = Idle;
    channel_close(0);
    hide_progress_bars();
    set_info(nullptr, 0);
    if (channel_open(0, static_cast<uint8_t>(port_number & 0xFF), LINE_BAUD, 1, RECEIVE_QUEUE,
                     TRANSMIT_QUEUE, port_receiver)) {
        show_buttons(true);
        set_status(STATUS_PRESS_START, 6);
    } else {
        port_number = 0;
        show_buttons(false);
        set_status(STATUS_PORT_UNUSABLE, 7);
    }
}

// Another port picked: reopen on it. The port already in use is not reopened.
void on_port_list_changed()
{
    uint16_t chosen = selected_port();
    if (chosen == 0 || chosen == port_number)
        return;
    port_number = port_chosen = chosen;
    set_status(nullptr, 0);
    hide_progress_bars();
    hide_start_button();
    open_port();
}
