#include "platform/linux/gtk/tint.h"

#include <set>
#include <string>

namespace corvid::linux_platform {

namespace {

constexpr const char* kClasses[] = {"corvid-accent", "corvid-red",      "corvid-orange",
                                    "corvid-green",  "corvid-tertiary", GTK_STYLE_CLASS_DIM_LABEL};

// Colours close to the GNOME palette; the accent is the theme's selection
// colour.
constexpr const char* kStyleSheet =
    ".corvid-accent { color: @theme_selected_bg_color; }\n"
    ".corvid-red { color: #c01c28; }\n"
    ".corvid-orange { color: #e66100; }\n"
    ".corvid-green { color: #26a269; }\n"
    ".corvid-tertiary { opacity: 0.45; }\n";

const char* classOf(Tint tint) {
  switch (tint) {
    case Tint::accent:
      return "corvid-accent";
    case Tint::red:
      return "corvid-red";
    case Tint::orange:
      return "corvid-orange";
    case Tint::green:
      return "corvid-green";
    case Tint::secondary:
      return GTK_STYLE_CLASS_DIM_LABEL;
    case Tint::tertiary:
      return "corvid-tertiary";
    case Tint::none:
      break;
  }
  return nullptr;
}

}  // namespace

void addScreenStyleSheet(const char* css) {
  static std::set<const char*> added;
  GdkScreen* screen = gdk_screen_get_default();
  if (!screen || !added.insert(css).second) return;
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css, -1, nullptr);
  gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

void applyTint(GtkWidget* widget, Tint tint) {
  addScreenStyleSheet(kStyleSheet);
  GtkStyleContext* style = gtk_widget_get_style_context(widget);
  for (const char* c : kClasses) gtk_style_context_remove_class(style, c);
  if (tint == Tint::tertiary) gtk_style_context_add_class(style, GTK_STYLE_CLASS_DIM_LABEL);
  if (const char* c = classOf(tint)) gtk_style_context_add_class(style, c);
}

void setSymbol(GtkImage* image, Symbol symbol, int pixelSize, Tint tint) {
  gtk_image_set_from_icon_name(image, std::string(iconName(symbol)).c_str(), GTK_ICON_SIZE_BUTTON);
  gtk_image_set_pixel_size(image, pixelSize);
  applyTint(GTK_WIDGET(image), tint);
}

GtkWidget* symbolImage(Symbol symbol, int pixelSize, Tint tint) {
  GtkWidget* image = gtk_image_new();
  setSymbol(GTK_IMAGE(image), symbol, pixelSize, tint);
  return image;
}

}  // namespace corvid::linux_platform
