// The window's two progress bars on GTK: drawn by the program itself, so that a new position is
// painted there and then instead of costing a frame of GTK's layout and style machinery on every
// block; screen readers still read them as progress bars with a value from 0 to 1.
#pragma once
#include <gtk/gtk.h>

// A bar that shows position / maximum, at 0 to start with.
GtkWidget* progress_bar_new(int maximum);
// Moves the bar; an unchanged position draws nothing.
void progress_bar_set(GtkWidget* bar, int position);
// The colours of every bar: trough, its 1-pixel border, and the filled part.
void progress_bar_colours(const GdkRGBA& trough, const GdkRGBA& border, const GdkRGBA& fill);
