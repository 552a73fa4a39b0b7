// Without ports on the command line and none remembered: the scanned ports as a checklist.
#include <gtk/gtk.h>

#include "port_selection.h"
#include "station_options.h"
#include "station_platform.h"
#include "station_texts.h"

constexpr unsigned SCANNED_PORTS = 256;

bool choose_ports()
{
    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), STATION_CAPTION);
    atk_object_set_accessible_id(gtk_widget_get_accessible(dialog), "port-chooser");
    GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_container_set_border_width(GTK_CONTAINER(area), 12);
    gtk_box_set_spacing(GTK_BOX(area), 6);
    GtkWidget* checks[SCANNED_PORTS] = {};
    unsigned found = 0;
    for (unsigned n = 1; n <= SCANNED_PORTS; ++n)
        if (probe_port(n) != ProbeResult::Absent)
            ++found;
    GtkWidget* prompt = gtk_label_new(found ? "Отметьте порты станции (до 16):"
                                            : "Порты не найдены. Подключите адаптеры и запустите станцию снова.");
    gtk_label_set_xalign(GTK_LABEL(prompt), 0);
    gtk_box_pack_start(GTK_BOX(area), prompt, FALSE, FALSE, 0);
    for (unsigned n = 1; n <= SCANNED_PORTS; ++n) {
        ProbeResult p = probe_port(n);
        if (p == ProbeResult::Absent)
            continue;
        char name[48], text[96], id[16];
        port_display_name(uint16_t(n), name, sizeof name);
        g_snprintf(text, sizeof text, "%s%s", name, p == ProbeResult::Busy ? " (занят)" : "");
        g_snprintf(id, sizeof id, "choose-COM%u", n);
        checks[n - 1] = gtk_check_button_new_with_label(text);
        atk_object_set_accessible_id(gtk_widget_get_accessible(checks[n - 1]), id);
        gtk_box_pack_start(GTK_BOX(area), checks[n - 1], FALSE, FALSE, 0);
    }
    gtk_dialog_add_button(GTK_DIALOG(dialog), found ? "Отмена" : "Закрыть", GTK_RESPONSE_CANCEL);
    if (found)
        gtk_dialog_add_button(GTK_DIALOG(dialog), "Начать", GTK_RESPONSE_ACCEPT);
    gtk_widget_show_all(dialog);
    bool chosen = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
    if (chosen)
        for (unsigned n = 1; n <= SCANNED_PORTS; ++n)
            if (checks[n - 1] && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(checks[n - 1])))
                station_add_port(station_options, uint16_t(n));
    gtk_widget_destroy(dialog);
    return chosen && station_options.port_count > 0;
}
