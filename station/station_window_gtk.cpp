// The station's window on GTK 3, in the updater's style: Liberation Sans (Arial's metrics),
// bold texts, the theme's button face; every size scaled with the screen's dpi.
#include "station_window.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include "station_platform.h"
#include "station_run.h"
#include "station_texts.h"

namespace {

struct Tile {
    GtkWidget *box, *name, *bar, *version, *time, *state;
};
Tile tiles[STATION_MAX_PORTS];
GtkWidget *window, *firmware_label, *counters_label, *records_label;
GMainLoop* loop;
bool closing;

const char* const COLOUR_CLASSES[] = {"waiting", "updating", "done", "failed", "uptodate"};

// Names a widget for the style sheet and for accessibility tools.
void name_widget(GtkWidget* widget, const char* name)
{
    gtk_widget_set_name(widget, name);
    atk_object_set_accessible_id(gtk_widget_get_accessible(widget), name);
}

GtkWidget* label(const char* style_class, const char* name)
{
    GtkWidget* l = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(l), 0);
    gtk_style_context_add_class(gtk_widget_get_style_context(l), style_class);
    name_widget(l, name);
    return l;
}

// The screen's dpi as a multiple of 96, never less than 1.
double screen_scale()
{
    double scale = gdk_screen_get_resolution(gdk_screen_get_default()) / 96.0;
    return scale < 1 ? 1 : scale;
}

// Sizes at 96 dpi, scaled: a screen of 144 dpi gets text half as large again.
void apply_style(double scale)
{
    static GtkCssProvider* provider;
    auto px = [scale](int size) { return static_cast<int>(size * scale + 0.5); };
    char* css = g_strdup_printf(
        "#station, #station * { font-family: \"Liberation Sans\", Arial, sans-serif; font-size: %dpx; }\n"
        "#station { background-color: @theme_bg_color; }\n"
        "#station .firmware { font-weight: bold; font-size: %dpx; }\n"
        "#station .test-release { color: #d00000; font-weight: bold; font-size: %dpx; }\n"
        "#station .counters { font-weight: bold; font-size: %dpx; }\n"
        "#station .records { font-size: %dpx; }\n"
        "#station .records.failing { color: #c00000; font-weight: bold; }\n"
        "#station .tile { border-radius: 6px; padding: %dpx; }\n"
        "#station .tile-name { font-weight: bold; font-size: %dpx; }\n"
        "#station .tile-state { font-weight: bold; font-size: %dpx; }\n"
        "#station .tile progressbar trough { min-height: %dpx; background-color: rgba(0,0,0,0.18); border: none; }\n"
        "#station .tile progressbar progress { min-height: %dpx; border: none; }\n"
        "#station .waiting { background-color: #d4d4d4; color: #1a1a1a; }\n"
        "#station .waiting progressbar progress { background-color: #808080; }\n"
        "#station .updating { background-color: #1856c0; color: #ffffff; }\n"
        "#station .done { background-color: #1b8a36; color: #ffffff; }\n"
        "#station .failed { background-color: #c8201e; color: #ffffff; }\n"
        "#station .uptodate { background-color: #6b3fa0; color: #ffffff; }\n"
        "#station .updating progressbar progress, #station .done progressbar progress,"
        " #station .failed progressbar progress, #station .uptodate progressbar progress"
        " { background-color: #ffffff; }\n",
        px(13), px(15), px(15), px(18), px(12), px(8), px(20), px(16), px(12), px(12));
    if (!provider) {
        provider = gtk_css_provider_new();
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    g_free(css);
}

// The multiple of the 96-dpi sizes that shows every tile with all its lines on the screen's work
// area: the screen's dpi, or less (never below 1) on a screen too small for it. Estimated from
// the style's sizes (a line 1.25 times its font, three lines of state, the caption's 40 pixels)
// before the window is built: GTK measures it only once it is shown.
double fitting_scale(unsigned columns, unsigned rows)
{
    double scale = screen_scale();
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor)
        monitor = gdk_display_get_monitor(display, 0);
    if (!monitor || rows == 0)
        return scale;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    const double line = 1.25;
    double header = 8 + (15 + 18 + 12) * line + 2 * 4 + 8;
    double tile = 2 * 8 + (20 + 12 + 3 * 16) * line + 8 + 3 * 4;
    double high = header + rows * tile + (rows - 1) * 6 + 8;
    // A tile is 244 pixels wide per unit (its state line of 24 characters), never under 300;
    // the firmware line with its test-release mark about 1,020.
    double tile_room = (area.width - 2 * 8 - (columns - 1) * 6.0) / columns;
    double fits = std::min({(area.height - 40) / high, tile_room / 244, area.width / 1020.0});
    return std::max(1.0, std::min(scale, fits));
}

// Columns for this many tiles: 16 fit 1366 × 768 in four rows of four.
unsigned columns_for(unsigned count)
{
    return count <= 2 ? count : count <= 4 ? 2 : count <= 6 ? 3 : 4;
}

GtkWidget* make_tile(unsigned slot)
{
    Tile& t = tiles[slot];
    char id[32];
    unsigned port = port_slots[slot].port;
    t.box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_style_context_add_class(gtk_widget_get_style_context(t.box), "tile");
    std::snprintf(id, sizeof id, "COM%u-tile", port);
    name_widget(t.box, id);
    std::snprintf(id, sizeof id, "COM%u-name", port);
    t.name = label("tile-name", id);
    char name[48];
    port_display_name(uint16_t(port), name, sizeof name);
    gtk_label_set_text(GTK_LABEL(t.name), name);
    t.bar = gtk_progress_bar_new();
    std::snprintf(id, sizeof id, "COM%u-progress", port);
    name_widget(t.bar, id);
    std::snprintf(id, sizeof id, "COM%u-version", port);
    t.version = label("tile-version", id);
    std::snprintf(id, sizeof id, "COM%u-time", port);
    t.time = label("tile-time", id);
    std::snprintf(id, sizeof id, "COM%u-state", port);
    t.state = label("tile-state", id);
    gtk_label_set_line_wrap(GTK_LABEL(t.state), TRUE);
    gtk_label_set_yalign(GTK_LABEL(t.state), 0);
    gtk_label_set_max_width_chars(GTK_LABEL(t.state), 24);
    gtk_widget_set_vexpand(t.state, TRUE);
    GtkWidget* facts = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_box_pack_start(GTK_BOX(facts), t.version, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(facts), t.time, FALSE, FALSE, 0);
    for (GtkWidget* w : {t.name, t.bar, facts, t.state})
        gtk_box_pack_start(GTK_BOX(t.box), w, w == t.state, w == t.state, 0);
    gtk_widget_set_size_request(t.box, 300, -1);
    return t.box;
}

GtkWidget* make_header()
{
    GtkWidget* header = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    GtkWidget* first = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    firmware_label = label("firmware", "firmware");
    char text[HEADER_TEXT_CAPACITY];
    bool test_release = firmware_line(text, sizeof text);
    gtk_label_set_text(GTK_LABEL(firmware_label), text);
    gtk_box_pack_start(GTK_BOX(first), firmware_label, FALSE, FALSE, 0);
    if (test_release) {
        GtkWidget* test = label("test-release", "test-release");
        gtk_label_set_text(GTK_LABEL(test), TEST_RELEASE_TEXT);
        gtk_box_pack_start(GTK_BOX(first), test, FALSE, FALSE, 0);
    }
    counters_label = label("counters", "counters");
    records_label = label("records", "records");
    gtk_label_set_ellipsize(GTK_LABEL(records_label), PANGO_ELLIPSIZE_MIDDLE);
    gtk_box_pack_start(GTK_BOX(header), first, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(header), counters_label, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(header), records_label, FALSE, FALSE, 0);
    return header;
}

// Asks before stopping updates; stops every child, then ends once they have all ended.
void close_station()
{
    if (!closing) {
        closing = true;
        station_stop_all();
    }
    if (station_all_stopped())
        g_main_loop_quit(loop);
}

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer)
{
    char ports[STATION_MAX_PORTS * 8];
    if (!closing && station_updating_ports(ports, sizeof ports) > 0) {
        GtkWidget* ask = gtk_message_dialog_new(GTK_WINDOW(window), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                                GTK_BUTTONS_NONE, "Идёт обновление: %s.", ports);
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(ask),
                                                 "Прервать обновление и закрыть станцию? Прерванные устройства "
                                                 "придётся обновить заново.");
        gtk_dialog_add_buttons(GTK_DIALOG(ask), "Продолжить", GTK_RESPONSE_CANCEL, "Прервать и закрыть",
                               GTK_RESPONSE_ACCEPT, nullptr);
        gtk_dialog_set_default_response(GTK_DIALOG(ask), GTK_RESPONSE_CANCEL);
        gtk_window_set_title(GTK_WINDOW(ask), STATION_CAPTION);
        atk_object_set_accessible_id(gtk_widget_get_accessible(ask), "close-question");
        int answer = gtk_dialog_run(GTK_DIALOG(ask));
        gtk_widget_destroy(ask);
        if (answer != GTK_RESPONSE_ACCEPT)
            return TRUE;
    }
    close_station();
    return TRUE;
}

// Told to end by the system (logout, kill): no question, the updates are interrupted.
gboolean on_terminate(gpointer)
{
    close_station();
    return G_SOURCE_CONTINUE;
}

gboolean on_tick(gpointer)
{
    station_tick();
    if (closing)
        close_station();
    return G_SOURCE_CONTINUE;
}

}  // namespace

void view_tile_changed(unsigned slot)
{
    if (!window || slot >= port_slot_count)
        return;
    const PortSlot& s = port_slots[slot];
    Tile& t = tiles[slot];
    GtkStyleContext* style = gtk_widget_get_style_context(t.box);
    for (const char* c : COLOUR_CLASSES)
        gtk_style_context_remove_class(style, c);
    gtk_style_context_add_class(style, COLOUR_CLASSES[static_cast<unsigned>(s.colour)]);
    atk_object_set_description(gtk_widget_get_accessible(t.state), tile_colour_word(s.colour));
    gtk_label_set_text(GTK_LABEL(t.state), s.state_text);
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(t.bar), double(s.blocks) / BLOCKS_IN_ALL);
    char text[64];
    tile_version_text(s, text, sizeof text);
    gtk_label_set_text(GTK_LABEL(t.version), text);
    tile_time_text(s, text, sizeof text);
    gtk_label_set_text(GTK_LABEL(t.time), text);
    if (closing && station_all_stopped())
        g_main_loop_quit(loop);
}

void view_header_changed()
{
    if (!window)
        return;
    char text[HEADER_TEXT_CAPACITY];
    counters_line(text, sizeof text);
    gtk_label_set_text(GTK_LABEL(counters_label), text);
    records_line(records_path, text, sizeof text);
    gtk_label_set_text(GTK_LABEL(records_label), text);
    GtkStyleContext* style = gtk_widget_get_style_context(records_label);
    if (records_status.failing)
        gtk_style_context_add_class(style, "failing");
    else
        gtk_style_context_remove_class(style, "failing");
}

bool station_window_open()
{
    unsigned columns = columns_for(port_slot_count ? port_slot_count : 1);
    apply_style(fitting_scale(columns, (port_slot_count + columns - 1) / columns));
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    name_widget(window, "station");
    gtk_window_set_title(GTK_WINDOW(window), STATION_CAPTION);
    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_set_border_width(GTK_CONTAINER(outer), 8);
    gtk_box_pack_start(GTK_BOX(outer), make_header(), FALSE, FALSE, 0);
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_row_homogeneous(GTK_GRID(grid), TRUE);
    gtk_grid_set_column_homogeneous(GTK_GRID(grid), TRUE);
    gtk_widget_set_vexpand(grid, TRUE);
    for (unsigned i = 0; i < port_slot_count; ++i)
        gtk_grid_attach(GTK_GRID(grid), make_tile(i), int(i % columns), int(i / columns), 1, 1);
    gtk_box_pack_start(GTK_BOX(outer), grid, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), outer);
    g_signal_connect(window, "delete-event", G_CALLBACK(on_delete), nullptr);
    for (unsigned i = 0; i < port_slot_count; ++i)
        view_tile_changed(i);
    view_header_changed();
    gtk_widget_show_all(window);
    return true;
}

void station_window_run()
{
    loop = g_main_loop_new(nullptr, FALSE);
    g_timeout_add(1000, on_tick, nullptr);
    g_unix_signal_add(SIGTERM, on_terminate, nullptr);
    g_unix_signal_add(SIGINT, on_terminate, nullptr);
    g_main_loop_run(loop);
}
