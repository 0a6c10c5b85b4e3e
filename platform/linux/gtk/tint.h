// Semantic colours (ui/symbols.h) on GTK widgets, through style classes of
// one application-wide style sheet: a symbolic icon or a label takes the
// colour as its foreground.
#pragma once

#include <gtk/gtk.h>

#include "ui/symbols.h"

namespace corvid::linux_platform {

// Adds the style sheet `css` (a string constant) to the default screen at
// application priority, once per process; does nothing while there is no
// screen yet, so that a later call adds it.
void addScreenStyleSheet(const char* css);

// Replaces any tint the widget had. `none` leaves the theme's colour;
// `secondary` and `tertiary` use the theme's dim-label style.
void applyTint(GtkWidget* widget, Tint tint);

// A symbolic icon image for `symbol` at `pixelSize`, tinted.
GtkWidget* symbolImage(Symbol symbol, int pixelSize, Tint tint);
void setSymbol(GtkImage* image, Symbol symbol, int pixelSize, Tint tint);

}  // namespace corvid::linux_platform
