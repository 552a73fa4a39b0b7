// A progress bar as a drawing area of its own window, with an accessible that reports a value.
#include "progress_bar_gtk.h"

#include <gdk/gdkx.h>
#include <gtk/gtk-a11y.h>

struct TqProgressBar {
    GtkDrawingArea parent;
    int position;
    int maximum;
};
struct TqProgressBarClass {
    GtkDrawingAreaClass parent_class;
};
struct TqProgressBarAccessible {
    GtkWidgetAccessible parent;
};
struct TqProgressBarAccessibleClass {
    GtkWidgetAccessibleClass parent_class;
};

static void tq_progress_bar_accessible_value_init(AtkValueIface* iface);

G_DEFINE_TYPE_WITH_CODE(TqProgressBarAccessible, tq_progress_bar_accessible, GTK_TYPE_WIDGET_ACCESSIBLE,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_VALUE, tq_progress_bar_accessible_value_init))
G_DEFINE_TYPE(TqProgressBar, tq_progress_bar, GTK_TYPE_DRAWING_AREA)

namespace {

// The trough, its border and the filled part, as the window's style gives them.
struct BarColours {
    GdkRGBA trough, border, fill;
};
BarColours colours = {{1, 1, 1, 1}, {0.74, 0.74, 0.74, 1}, {0, 0.47, 0.84, 1}};

TqProgressBar* bar_of(GtkWidget* widget)
{
    return reinterpret_cast<TqProgressBar*>(widget);
}

// The position as the accessibility interface reads it, 0 to 1.
double fraction_of(GtkWidget* widget)
{
    const TqProgressBar* bar = bar_of(widget);
    return bar->maximum > 0 ? static_cast<double>(bar->position) / bar->maximum : 0.0;
}

// Pixels of the trough's inner width that a position fills.
int filled_width(const TqProgressBar* bar, int position, int inner)
{
    return bar->maximum > 0 && inner > 0 ? static_cast<int>(static_cast<long long>(inner) * position / bar->maximum) : 0;
}

// Border, trough and the filled part from the left, as a smooth Windows progress bar draws.
void paint(GtkWidget* widget, cairo_t* cr)
{
    const TqProgressBar* bar = bar_of(widget);
    int width = gtk_widget_get_allocated_width(widget), height = gtk_widget_get_allocated_height(widget);
    gdk_cairo_set_source_rgba(cr, &colours.border);
    cairo_paint(cr);
    if (width <= 2 || height <= 2)
        return;
    int inner = width - 2;
    int filled = filled_width(bar, bar->position, inner);
    gdk_cairo_set_source_rgba(cr, &colours.fill);
    cairo_rectangle(cr, 1, 1, filled, height - 2);
    cairo_fill(cr);
    gdk_cairo_set_source_rgba(cr, &colours.trough);
    cairo_rectangle(cr, 1 + filled, 1, inner - filled, height - 2);
    cairo_fill(cr);
}

// GTK's own redraws: the window shown, uncovered, or moved back into view.
gboolean draw_bar(GtkWidget* widget, cairo_t* cr)
{
    paint(widget, cr);
    return TRUE;
}

// Paints the bar into its window at once, outside GTK's frame cycle. That shows at once only
// on X; other backends put a drawing on screen with the next frame, so they get one.
void paint_now(GtkWidget* widget)
{
    GdkWindow* window = gtk_widget_get_window(widget);
    if (!window || !gtk_widget_get_has_window(widget) || !GDK_IS_X11_DISPLAY(gtk_widget_get_display(widget))) {
        gtk_widget_queue_draw(widget);
        return;
    }
    cairo_rectangle_int_t whole = {0, 0, gtk_widget_get_allocated_width(widget),
                                   gtk_widget_get_allocated_height(widget)};
    cairo_region_t* region = cairo_region_create_rectangle(&whole);
    GdkDrawingContext* context = gdk_window_begin_draw_frame(window, region);
    if (context) {
        paint(widget, gdk_drawing_context_get_cairo_context(context));
        gdk_window_end_draw_frame(window, context);
    }
    cairo_region_destroy(region);
}

GtkWidget* widget_of(AtkValue* value)
{
    return gtk_accessible_get_widget(GTK_ACCESSIBLE(value));
}

void current_value(AtkValue* value, GValue* out)
{
    g_value_init(out, G_TYPE_DOUBLE);
    GtkWidget* widget = widget_of(value);
    g_value_set_double(out, widget ? fraction_of(widget) : 0.0);
}

void minimum_value(AtkValue*, GValue* out)
{
    g_value_init(out, G_TYPE_DOUBLE);
    g_value_set_double(out, 0.0);
}

void maximum_value(AtkValue*, GValue* out)
{
    g_value_init(out, G_TYPE_DOUBLE);
    g_value_set_double(out, 1.0);
}

void value_and_text(AtkValue* value, gdouble* current, gchar** text)
{
    GtkWidget* widget = widget_of(value);
    *current = widget ? fraction_of(widget) : 0.0;
    if (text)
        *text = nullptr;
}

AtkRange* value_range(AtkValue*)
{
    return atk_range_new(0.0, 1.0, nullptr);
}

void initialise_accessible(AtkObject* object, gpointer data)
{
    ATK_OBJECT_CLASS(tq_progress_bar_accessible_parent_class)->initialize(object, data);
    atk_object_set_role(object, ATK_ROLE_PROGRESS_BAR);
}

}  // namespace

static void tq_progress_bar_accessible_value_init(AtkValueIface* iface)
{
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    iface->get_current_value = current_value;
    iface->get_minimum_value = minimum_value;
    iface->get_maximum_value = maximum_value;
    G_GNUC_END_IGNORE_DEPRECATIONS
    iface->get_value_and_text = value_and_text;
    iface->get_range = value_range;
}

static void tq_progress_bar_accessible_init(TqProgressBarAccessible*) {}

static void tq_progress_bar_accessible_class_init(TqProgressBarAccessibleClass* cls)
{
    ATK_OBJECT_CLASS(cls)->initialize = initialise_accessible;
}

static void tq_progress_bar_init(TqProgressBar*) {}

static void tq_progress_bar_class_init(TqProgressBarClass* cls)
{
    GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(cls);
    widget_class->draw = draw_bar;
    gtk_widget_class_set_accessible_type(widget_class, tq_progress_bar_accessible_get_type());
}

GtkWidget* progress_bar_new(int maximum)
{
    GtkWidget* widget = GTK_WIDGET(g_object_new(tq_progress_bar_get_type(), nullptr));
    bar_of(widget)->maximum = maximum;
    return widget;
}

void progress_bar_set(GtkWidget* widget, int position)
{
    TqProgressBar* bar = bar_of(widget);
    if (position < 0)
        position = 0;
    if (position > bar->maximum)
        position = bar->maximum;
    if (position == bar->position)
        return;
    int inner = gtk_widget_get_allocated_width(widget) - 2;
    bool moved = filled_width(bar, position, inner) != filled_width(bar, bar->position, inner);
    bar->position = position;
    g_object_notify(G_OBJECT(gtk_widget_get_accessible(widget)), "accessible-value");
    // 1,231 blocks over some 300 pixels: most blocks change no pixel of the block bar.
    if (moved && gtk_widget_is_drawable(widget))
        paint_now(widget);
}

void progress_bar_colours(const GdkRGBA& trough, const GdkRGBA& border, const GdkRGBA& fill)
{
    colours = {trough, border, fill};
}
