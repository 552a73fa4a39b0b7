// The program's only window on GTK 3: the Windows dialog's controls at the positions of its
// template, converted from dialog units with the metrics of the real dialog font.
#include "main_dialog.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "banner.h"
#include "com_devices.h"
#include "engine_host.h"
#include "grid_timer.h"
#include "line_text.h"
#include "port_selection.h"
#include "progress_bar_gtk.h"
#include "resource_ids.h"
#include "script_run.h"
#include "update_engine.h"

static_assert(sizeof(wchar_t) == sizeof(gunichar), "wide texts are UCS-4 here");

// The icon's pictures as the generator draws them (PNG), linked in by icon_data_gtk.S.
extern "C" const unsigned char tq734_icon_png_16[], tq734_icon_png_16_end[];
extern "C" const unsigned char tq734_icon_png_32[], tq734_icon_png_32_end[];
extern "C" const unsigned char tq734_icon_png_40[], tq734_icon_png_40_end[];
extern "C" const unsigned char tq734_icon_png_48[], tq734_icon_png_48_end[];
extern "C" const unsigned char tq734_icon_png_256[], tq734_icon_png_256_end[];

namespace {

GtkWidget* dialog;
GtkWidget *start_button, *poll_button, *exit_button, *status_line, *info_line, *banner, *block_bar,
    *activity_bar, *port_list, *port_group, *port_label;
GMainLoop* dialog_loop;
guint tick_timer, reply_timer;
bool dialog_open;
bool selecting;   // the program itself is changing the list: no selection-change command
bool focus_moved; // the keyboard has moved the focus since start: Enter may press a button
bool pick_changed;   // the selection changed with the latest pick from the open list
bool scanned_for_popup;   // the ports were scanned for the popup that is opening

const char CAPTION[] = "Обновитель TQ734 (CPU2)";
// Windows' own caption of a message box that is given none (Russian system).
const char DEFAULT_MESSAGE_CAPTION[] = "Ошибка";

// The dialog font: Arial 8 pt at 96 dpi is an 11-pixel em; Liberation Sans has Arial's metrics.
const char DIALOG_FONT[] = "Liberation Sans";
constexpr int DIALOG_FONT_PX = 11;

// Dialog base units of the dialog font, as Windows derives them from the font.
struct BaseUnits {
    int x;  // average character width
    int y;  // character height
};
BaseUnits base_units = {6, 12};

// One control of the template: identifier, rectangle in dialog units.
struct Placement {
    int id, x, y, width, height;
};
const Placement PLACEMENTS[] = {
    {IDC_BLOCK_PROGRESS, 5, 149, 203, 10}, {IDC_ACTIVITY, 5, 145, 203, 3}, {IDC_EXIT, 80, 189, 54, 14},
    {IDC_PORT_GROUP, 5, 96, 203, 23},      {IDC_PORT_LABEL, 11, 105, 65, 12}, {IDC_PORT_LIST, 131, 104, 70, 14},
    {IDC_POLL, 5, 143, 203, 14},           {IDC_START, 5, 161, 203, 18},    {IDC_BANNER, 0, 0, 214, 93},
    {IDC_STATUS_LINE, 5, 120, 203, 10},    {IDC_INFO_LINE, 5, 130, 203, 10},
};
constexpr int DIALOG_WIDTH_DLU = 214, DIALOG_HEIGHT_DLU = 208;

// a * b / c rounded to the nearest, as Windows scales dialog units.
int mul_div(int a, int b, int c)
{
    return static_cast<int>((static_cast<long long>(a) * b * 2 + c) / (2LL * c));
}

int dlu_x(int x)
{
    return mul_div(x, base_units.x, 4);
}

int dlu_y(int y)
{
    return mul_div(y, base_units.y, 8);
}

// Measures the dialog font the way Windows does: the average width of the 52 Latin letters
// (rounded) and tmHeight, the font's ascent and descent each scaled to the em and rounded
// (Arial at 11 px: 10 + 2 = 12). The height comes from unhinted metrics, since hinted ones
// are rounded up (10 + 3) and would make the window 26 px taller than Windows makes it.
void measure_dialog_font(GtkWidget* widget)
{
    PangoContext* context = gtk_widget_get_pango_context(widget);
    PangoFontDescription* font = pango_font_description_from_string(DIALOG_FONT);
    pango_font_description_set_absolute_size(font, DIALOG_FONT_PX * PANGO_SCALE);
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    PangoContext* unhinted = pango_font_map_create_context(pango_context_get_font_map(context));
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(unhinted, options);
    PangoFontMetrics* metrics = pango_context_get_metrics(unhinted, font, nullptr);
    int ascent = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics));
    int descent = PANGO_PIXELS(pango_font_metrics_get_descent(metrics));
    if (width > 0 && ascent + descent > 0)
        base_units = {(width / 26 + 1) / 2, ascent + descent};
    pango_font_metrics_unref(metrics);
    cairo_font_options_destroy(options);
    g_object_unref(unhinted);
    g_object_unref(layout);
    pango_font_description_free(font);
}

// A wide text as UTF-8; the caller frees it with g_free.
char* utf8_of(const wchar_t* text)
{
    char* utf8 = g_ucs4_to_utf8(reinterpret_cast<const gunichar*>(text ? text : L""), -1, nullptr, nullptr, nullptr);
    return utf8 ? utf8 : g_strdup("");
}

// A colour of the theme, or the Windows default where the theme has no counterpart.
GdkRGBA theme_colour(GtkStyleContext* style, const char* const* names, const char* fallback)
{
    GdkRGBA rgba;
    for (; *names; ++names)
        if (gtk_style_context_lookup_color(style, *names, &rgba))
            return rgba;
    gdk_rgba_parse(&rgba, fallback);
    return rgba;
}

// A colour as the style sheet writes it.
void css_colour(const GdkRGBA& rgba, char* css, size_t capacity)
{
    char* text = gdk_rgba_to_string(&rgba);
    g_strlcpy(css, text, capacity);
    g_free(text);
}

// Fonts, the four system colours' counterparts and compact controls, for this window only;
// the progress bars take the same highlight.
void apply_style()
{
    GtkStyleContext* style = gtk_widget_get_style_context(dialog);
    static const char* const HIGHLIGHT[] = {"theme_selected_bg_color", "selected_bg_color", nullptr};
    static const char* const BTNFACE[] = {"theme_bg_color", "bg_color", nullptr};
    static const char* const INFOBK[] = {"theme_tooltip_bg_color", "tooltip_bg_color", nullptr};
    static const char* const GRAYTEXT[] = {"insensitive_fg_color", "unfocused_insensitive_color", nullptr};
    static const char* const TROUGH[] = {"theme_base_color", "base_color", nullptr};
    static const char* const BORDER[] = {"borders", nullptr};
    GdkRGBA highlight_rgba = theme_colour(style, HIGHLIGHT, "#0078d7");
    progress_bar_colours(theme_colour(style, TROUGH, "#ffffff"), theme_colour(style, BORDER, "#bcbcbc"),
                         highlight_rgba);
    char highlight[64], btnface[64], infobk[64], graytext[64];
    css_colour(highlight_rgba, highlight, sizeof highlight);
    css_colour(theme_colour(style, BTNFACE, "#f0f0f0"), btnface, sizeof btnface);
    css_colour(theme_colour(style, INFOBK, "#ffffe1"), infobk, sizeof infobk);
    css_colour(theme_colour(style, GRAYTEXT, "#6d6d6d"), graytext, sizeof graytext);
    char* css = g_strdup_printf(
        "#tq734, #tq734 * { font-family: \"%s\", Arial, sans-serif; font-size: %dpx; }\n"
        "#tq734 { background-color: %s; }\n"
        "#tq734 button { padding: 0 4px; min-height: 0; min-width: 0; }\n"
        "#tq734 combobox button { padding: 0 2px 0 4px; }\n"
        "#tq734 combobox arrow { min-height: 0; min-width: 12px; }\n"
        "#c112 label { font-weight: bold; font-size: 13px; }\n"
        "#c117 { font-weight: bold; font-size: 13px; color: %s; background-color: %s; }\n"
        "#c118 { font-weight: bold; font-size: 16px; color: %s; background-color: %s; }\n"
        "#c116, #c116 text { background-color: %s; color: @theme_fg_color; }\n"
        "#c116-border border { border: 1px solid black; }\n",
        DIALOG_FONT, DIALOG_FONT_PX, btnface, highlight, btnface, infobk, graytext, btnface);
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(dialog), GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
    g_free(css);
}

// One picture of the icon from its PNG bytes.
GdkPixbuf* icon_picture(const unsigned char* begin, const unsigned char* end)
{
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    GdkPixbuf* picture = nullptr;
    if (loader && gdk_pixbuf_loader_write(loader, begin, static_cast<gsize>(end - begin), nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
        picture = gdk_pixbuf_loader_get_pixbuf(loader);
        if (picture)
            g_object_ref(picture);
    }
    if (loader)
        g_object_unref(loader);
    return picture;
}

// Every size the icon has; the window manager picks the one it needs.
void set_window_icon()
{
    const unsigned char* pictures[][2] = {
        {tq734_icon_png_16, tq734_icon_png_16_end},   {tq734_icon_png_32, tq734_icon_png_32_end},
        {tq734_icon_png_40, tq734_icon_png_40_end},   {tq734_icon_png_48, tq734_icon_png_48_end},
        {tq734_icon_png_256, tq734_icon_png_256_end},
    };
    GList* list = nullptr;
    for (auto& p : pictures)
        if (GdkPixbuf* picture = icon_picture(p[0], p[1]))
            list = g_list_append(list, picture);
    gtk_window_set_icon_list(GTK_WINDOW(dialog), list);
    g_list_free_full(list, g_object_unref);
}

// Names a control for the style sheet and for accessibility tools ("c" and its identifier).
void name_control(GtkWidget* widget, int id)
{
    char name[16];
    std::snprintf(name, sizeof name, "c%d", id);
    gtk_widget_set_name(widget, name);
    atk_object_set_accessible_id(gtk_widget_get_accessible(widget), name);
}

// Puts a control (or the frame that holds it) at its template rectangle; top_inset pixels
// of the rectangle stay empty.
void place(GtkWidget* fixed, GtkWidget* widget, int id, GtkWidget* holder = nullptr, int top_inset = 0)
{
    GtkWidget* outer = holder ? holder : widget;
    for (const Placement& p : PLACEMENTS)
        if (p.id == id) {
            gtk_widget_set_size_request(outer, dlu_x(p.width), dlu_y(p.height) - top_inset);
            gtk_fixed_put(GTK_FIXED(fixed), outer, dlu_x(p.x), dlu_y(p.y) + top_inset);
        }
    name_control(widget, id);
    gtk_widget_show(widget);
    gtk_widget_show(outer);
}

// Shows or hides one control.
void show_control(GtkWidget* control, bool visible)
{
    gtk_widget_set_visible(control, visible);
}

// Stops both timers and ends the modal loop once; the port ends with the process.
void close_dialog()
{
    if (!dialog_open)
        return;
    dialog_open = false;
    if (reply_timer)
        g_source_remove(reply_timer);
    if (tick_timer)
        g_source_remove(tick_timer);
    reply_timer = tick_timer = 0;
    gtk_widget_hide(dialog);
    g_main_loop_quit(dialog_loop);
}

// Timers may fire again while their own call runs a message box, as dialog timers do on Windows.
guint add_timer(unsigned milliseconds, GSourceFunc routine)
{
    guint id = g_timeout_add(milliseconds, routine, nullptr);
    g_source_set_can_recurse(g_main_context_find_source_by_id(nullptr, id), TRUE);
    return id;
}

// Timer 1: the engine's automatic start and end.
gboolean on_tick_timer(gpointer)
{
    script_run_tick();
    on_tick();
    return G_SOURCE_CONTINUE;
}

// Timer 2: the engine's retransmission.
gboolean on_reply_timer_expired(gpointer)
{
    on_reply_timer();
    return G_SOURCE_CONTINUE;
}

// The three buttons.
void on_button(GtkButton* button, gpointer)
{
    GtkWidget* b = GTK_WIDGET(button);
    if (b == poll_button)
        poll_device();
    else if (b == start_button)
        start_update();
    else if (b == exit_button)
        close_dialog();
}

// The technician picked another item; the program's own selections do not count.
void on_port_list_selection(GtkComboBox*, gpointer)
{
    if (selecting)
        return;
    pick_changed = true;
    on_port_list_changed();
}

// An item of the open list was chosen. The combo box reports a change only when the selection
// really changes; picking the selected item again must still retry a port that failed to open
// (on_port_list_changed() compares with the port number, which is 0 then), as on Windows.
void on_port_list_pick(GtkWidget*, const char*, gpointer)
{
    if (!pick_changed)
        on_port_list_changed();
    pick_changed = false;
}

// The popup's own activation signal tells every pick, the same item too. The combo box may
// make its popup anew (on a theme change), so this is checked each time the popup opens;
// a popup of another kind (a tree view) gives no such signal and only changes count then.
void follow_popup_picks()
{
    AtkObject* accessible = gtk_combo_box_get_popup_accessible(GTK_COMBO_BOX(port_list));
    GtkWidget* popup = GTK_IS_ACCESSIBLE(accessible) ? gtk_accessible_get_widget(GTK_ACCESSIBLE(accessible)) : nullptr;
    if (!popup || !g_signal_lookup("menu-activate", G_OBJECT_TYPE(popup)))
        return;
    if (!g_signal_handler_find(popup, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                               reinterpret_cast<gpointer>(on_port_list_pick), nullptr))
        g_signal_connect(popup, "menu-activate", G_CALLBACK(on_port_list_pick), nullptr);
}

// The ports are scanned again before the popup takes its size and place from the items.
void scan_before_popup()
{
    rescan_ports();
    scanned_for_popup = true;
}

// Opening by the keyboard, by an accessibility tool, or by the button toggled: the combo box's
// own signal, before it opens the popup.
void on_port_list_popup_request(GtkComboBox*, gpointer)
{
    scan_before_popup();
}

// A click opens the popup from the list's button before any signal of the combo box: the
// button's first look at the event comes earlier still.
gboolean on_port_list_button_event(GtkWidget*, GdkEvent* event, gpointer)
{
    if (event->type == GDK_BUTTON_PRESS && event->button.button == GDK_BUTTON_PRIMARY)
        scan_before_popup();
    return FALSE;
}

// The list's inner button, at any depth of the combo box's own children.
void find_port_list_button(GtkWidget* child, gpointer found)
{
    if (GTK_IS_TOGGLE_BUTTON(child))
        *static_cast<GtkWidget**>(found) = child;
    else if (GTK_IS_CONTAINER(child))
        gtk_container_forall(GTK_CONTAINER(child), find_port_list_button, found);
}

// The list's popup opened: picks from it are followed; if it opened by a way not seen above,
// the ports are scanned now (the open menu may keep its size until it opens again).
void on_port_list_popup(GObject*, GParamSpec*, gpointer)
{
    gboolean shown = FALSE;
    g_object_get(port_list, "popup-shown", &shown, nullptr);
    if (!shown)
        return;
    pick_changed = false;
    follow_popup_picks();
    if (!scanned_for_popup)
        rescan_ports();
    scanned_for_popup = false;
}

// Enter as in the Windows dialog, which has no default push button: it presses the focused
// button only once the keyboard has moved the focus there, never the "Выход" focused at start.
gboolean on_key_press(GtkWidget*, GdkEventKey* event, gpointer)
{
    switch (event->keyval) {
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
    case GDK_KEY_KP_Tab:
    case GDK_KEY_Left:
    case GDK_KEY_Right:
    case GDK_KEY_Up:
    case GDK_KEY_Down:
        focus_moved = true;
        return FALSE;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        return !focus_moved;
    default:
        return FALSE;
    }
}

// The window's close command ends the program like "Выход".
gboolean on_delete(GtkWidget*, GdkEvent*, gpointer)
{
    close_dialog();
    return TRUE;
}

// A push button with its caption.
GtkWidget* make_button(const char* caption)
{
    GtkWidget* b = gtk_button_new_with_label(caption);
    g_signal_connect(b, "clicked", G_CALLBACK(on_button), nullptr);
    return b;
}

// A one-line text field, aligned as the template says, its text at the top.
GtkWidget* make_line(float xalign)
{
    GtkWidget* label = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(label), xalign);
    gtk_label_set_yalign(GTK_LABEL(label), 0);
    gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
    return label;
}

// The banner: read-only, bordered, tab stops every 32 dialog units as in an edit control.
GtkWidget* make_banner()
{
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 1);
    gtk_text_view_set_top_margin(GTK_TEXT_VIEW(view), 0);
    gtk_widget_set_can_focus(view, FALSE);
    PangoTabArray* tabs = pango_tab_array_new_with_positions(1, TRUE, PANGO_TAB_LEFT, dlu_x(32));
    gtk_text_view_set_tabs(GTK_TEXT_VIEW(view), tabs);
    pango_tab_array_free(tabs);
    return view;
}

// Builds the window and every control in template order, all shown, as the template has them.
void create_controls()
{
    dialog = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_name(dialog, "tq734");
    measure_dialog_font(dialog);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, dlu_x(DIALOG_WIDTH_DLU), dlu_y(DIALOG_HEIGHT_DLU));
    gtk_container_add(GTK_CONTAINER(dialog), fixed);
    gtk_widget_show(fixed);

    block_bar = progress_bar_new(1231);
    place(fixed, block_bar, IDC_BLOCK_PROGRESS);
    activity_bar = progress_bar_new(15);
    place(fixed, activity_bar, IDC_ACTIVITY);
    exit_button = make_button("Выход");
    place(fixed, exit_button, IDC_EXIT);
    // A group box draws its line half a character below the top of its rectangle.
    port_group = gtk_frame_new(nullptr);
    place(fixed, port_group, IDC_PORT_GROUP, nullptr, base_units.y / 2);
    port_label = make_line(0);
    gtk_label_set_text(GTK_LABEL(port_label), "COM-порт");
    place(fixed, port_label, IDC_PORT_LABEL);
    port_list = gtk_combo_box_text_new();
    g_signal_connect(port_list, "changed", G_CALLBACK(on_port_list_selection), nullptr);
    g_signal_connect(port_list, "popup", G_CALLBACK(on_port_list_popup_request), nullptr);
    g_signal_connect(port_list, "notify::popup-shown", G_CALLBACK(on_port_list_popup), nullptr);
    GtkWidget* list_button = nullptr;
    gtk_container_forall(GTK_CONTAINER(port_list), find_port_list_button, &list_button);
    if (list_button)
        g_signal_connect(list_button, "event", G_CALLBACK(on_port_list_button_event), nullptr);
    place(fixed, port_list, IDC_PORT_LIST);
    poll_button = make_button("Опросить");
    place(fixed, poll_button, IDC_POLL);
    start_button = make_button("СТАРТ");
    place(fixed, start_button, IDC_START);
    banner = make_banner();
    GtkWidget* border = gtk_frame_new(nullptr);
    gtk_widget_set_name(border, "c116-border");
    gtk_container_add(GTK_CONTAINER(border), banner);
    place(fixed, banner, IDC_BANNER, border);
    status_line = make_line(0.5f);
    place(fixed, status_line, IDC_STATUS_LINE);
    info_line = make_line(0.5f);
    place(fixed, info_line, IDC_INFO_LINE);

    // Tab goes through "Выход", the port list, "Опросить", "СТАРТ" (template order), not by position.
    GList* chain = nullptr;
    for (GtkWidget* w : {exit_button, port_list, poll_button, start_button})
        chain = g_list_append(chain, w);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(fixed), chain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(chain);
    g_signal_connect(dialog, "delete-event", G_CALLBACK(on_delete), nullptr);
    g_signal_connect(dialog, "key-press-event", G_CALLBACK(on_key_press), nullptr);
}

// What the Windows dialog does when it is created: icon, bars, texts, the port, the tick.
void initialise()
{
    set_window_icon();
    apply_style();
    show_control(block_bar, false);
    show_control(activity_bar, false);
    gtk_window_set_title(GTK_WINDOW(dialog), CAPTION);
    char* text = utf8_of(BANNER_TEXT);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(banner)), text, -1);
    g_free(text);

    select_initial_port();
    script_run_after_initial_port(true);
    // On the channel's grid: the tick and every other poll wake the program together.
    tick_timer = grid_timer_add(100, on_tick_timer, nullptr);
}

}  // namespace

// Modal: returns when the close procedure ends it. The instance is not used on this platform.
void run_main_dialog(void*)
{
    create_controls();
    initialise();
    dialog_open = true;
    gtk_widget_show(dialog);
    // The focus starts on "Выход", the first control of the template that can take it.
    gtk_widget_grab_focus(exit_button);
    dialog_loop = g_main_loop_new(nullptr, FALSE);
    if (dialog_open)
        g_main_loop_run(dialog_loop);
    g_main_loop_unref(dialog_loop);
    dialog_loop = nullptr;
    gtk_widget_destroy(dialog);
    dialog = nullptr;
}

// The status or info line's control.
void write_line_control(TextLine line, const wchar_t* text)
{
    char* utf8 = utf8_of(text);
    GtkLabel* label = GTK_LABEL(line == StatusLine ? status_line : info_line);
    // The version line is written again on every version reply; the same text would still
    // cost GTK a new layout of the whole window.
    if (std::strcmp(gtk_label_get_text(label), utf8) != 0)
        gtk_label_set_text(label, utf8);
    g_free(utf8);
}

// Block progress bar position, 0..1231.
void set_block_progress(int position)
{
    progress_bar_set(block_bar, position);
}

// Activity bar position, 0..15.
void set_activity(int position)
{
    progress_bar_set(activity_bar, position);
}

// The transfer's view: list locked, buttons away, bars in their place.
void enter_transfer_view()
{
    gtk_widget_set_sensitive(port_list, FALSE);
    show_control(poll_button, false);
    show_control(start_button, false);
    show_control(block_bar, true);
    show_control(activity_bar, true);
}

// Modal message box over the dialog with one OK button; timers keep running in its loop.
void show_message(const wchar_t* text, const wchar_t* caption, MessageKind kind)
{
    script_run_message(text, caption, kind);
    char* body = utf8_of(text);
    GtkMessageType type = kind == MessageKind::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO;
    GtkWidget* box = gtk_message_dialog_new(dialog && dialog_open ? GTK_WINDOW(dialog) : nullptr,
                                            GTK_DIALOG_MODAL, type, GTK_BUTTONS_OK, "%s", body);
    g_free(body);
    char* title = caption ? utf8_of(caption) : g_strdup(DEFAULT_MESSAGE_CAPTION);
    gtk_window_set_title(GTK_WINDOW(box), title);
    // Screen readers (and the tests) read the caption, not GTK's generic "Error".
    atk_object_set_name(gtk_widget_get_accessible(box), title);
    g_free(title);
    gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
    // GTK 3 draws no icon in a message box by itself; Windows shows one for each kind.
    GtkWidget* icon = gtk_image_new_from_icon_name(kind == MessageKind::Error ? "dialog-error" : "dialog-information",
                                                   GTK_ICON_SIZE_DIALOG);
    gtk_widget_show(icon);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(box), icon);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_window_present(GTK_WINDOW(box));
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

// (Re)arms dialog timer 2.
void start_reply_timer(unsigned milliseconds)
{
    if (reply_timer)
        g_source_remove(reply_timer);
    reply_timer = add_timer(milliseconds, on_reply_timer_expired);
}

// Stops dialog timer 2.
void stop_reply_timer()
{
    if (reply_timer)
        g_source_remove(reply_timer);
    reply_timer = 0;
}

// The engine's end of the program: the close procedure.
void end_dialog()
{
    close_dialog();
}

// Empties the port list.
void port_list_clear()
{
    selecting = true;
    gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(port_list));
    selecting = false;
}

// Appends one item, with the device file beside the number: "COM33 (ttyUSB0)".
void port_list_add(const wchar_t* text)
{
    char* utf8 = utf8_of(text);
    unsigned n = 0;
    char device[16];
    char* item = std::sscanf(utf8, "COM%u", &n) == 1 && com_device_name(n, device, sizeof device)
                     ? g_strdup_printf("%s (%s)", utf8, device)
                     : g_strdup(utf8);
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(port_list), item);
    g_free(item);
    g_free(utf8);
}

// Case-insensitive prefix search from the top; no match keeps the selection.
void port_list_select_prefix(const wchar_t* text)
{
    char* prefix_utf8 = utf8_of(text);
    char* prefix = g_utf8_casefold(prefix_utf8, -1);
    g_free(prefix_utf8);
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(port_list));
    GtkTreeIter iter;
    int index = 0;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more;
         more = gtk_tree_model_iter_next(model, &iter), ++index) {
        gchar* item = nullptr;
        gtk_tree_model_get(model, &iter, 0, &item, -1);
        char* folded = g_utf8_casefold(item ? item : "", -1);
        bool match = g_str_has_prefix(folded, prefix);
        g_free(folded);
        g_free(item);
        if (match) {
            selecting = true;
            gtk_combo_box_set_active(GTK_COMBO_BOX(port_list), index);
            selecting = false;
            break;
        }
    }
    g_free(prefix);
}

// Selects the first item.
void port_list_select_first()
{
    selecting = true;
    gtk_combo_box_set_active(GTK_COMBO_BOX(port_list), 0);
    selecting = false;
}

// Leaves no item selected.
void port_list_select_none()
{
    selecting = true;
    gtk_combo_box_set_active(GTK_COMBO_BOX(port_list), -1);
    selecting = false;
}

// The selected item's text; false when nothing is selected or it would not fit.
bool port_list_selected_text(wchar_t* buffer, unsigned capacity)
{
    gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(port_list));
    if (!text)
        return false;
    glong length = 0;
    gunichar* wide = g_utf8_to_ucs4(text, -1, nullptr, &length, nullptr);
    g_free(text);
    bool fits = wide && length >= 0 && static_cast<unsigned long>(length) < capacity;
    if (fits)
        std::memcpy(buffer, wide, (static_cast<size_t>(length) + 1) * sizeof(wchar_t));
    g_free(wide);
    return fits;
}

// "Опросить" and "СТАРТ" together.
void show_buttons(bool visible)
{
    show_control(start_button, visible);
    show_control(poll_button, visible);
}

// "СТАРТ" alone.
void hide_start_button()
{
    show_control(start_button, false);
}

// Both progress bars.
void hide_progress_bars()
{
    show_control(block_bar, false);
    show_control(activity_bar, false);
}
