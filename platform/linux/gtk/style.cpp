#include "platform/linux/gtk/style.h"

#include "platform/linux/gtk/tint.h"

#include <array>
#include <string>

namespace corvid::linux_platform {

namespace {

// The colours are those of tint.h; the row subtitle of libhandy is dimmed
// by its own style, so a coloured caption there must show at full strength.
constexpr const char* kStyleSheet = R"css(
.corvid-title { font-size: 1.25em; font-weight: 600; }
.corvid-headline { font-weight: 600; }
.corvid-step { font-size: 0.85em; font-weight: 600; }
.corvid-callout { font-size: 0.93em; }
.corvid-caption, row label.subtitle.corvid-caption { font-size: 0.85em; }
.corvid-badge {
  font-size: 0.72em;
  font-weight: 500;
  padding: 1px 5px;
  border-radius: 999px;
  background-color: alpha(currentColor, 0.18);
}
.corvid-digits { font-feature-settings: "tnum"; }
button.corvid-prominent { padding: 6px 18px; font-size: 1.05em; }
.corvid-subtitle-secondary label.subtitle { opacity: 0.55; }
.corvid-subtitle-red label.subtitle { color: #c01c28; opacity: 1; }
.corvid-subtitle-orange label.subtitle { color: #e66100; opacity: 1; }
)css";

constexpr std::array<Tint, 7> kTints{Tint::none, Tint::secondary, Tint::tertiary, Tint::accent,
                                     Tint::red,  Tint::orange,    Tint::green};

const char* tintName(Tint t) {
  switch (t) {
    case Tint::none:
      return nullptr;
    case Tint::secondary:
      return "secondary";
    case Tint::tertiary:
      return "tertiary";
    case Tint::accent:
      return "accent";
    case Tint::red:
      return "red";
    case Tint::orange:
      return "orange";
    case Tint::green:
      return "green";
  }
  return nullptr;
}

}  // namespace

void installCorvidStyles() { addScreenStyleSheet(kStyleSheet); }

std::vector<std::pair<int, int>> koreanWordRanges(std::string_view text) {
  std::vector<std::pair<int, int>> ranges;
  auto isHangul = [](gunichar c) {
    return (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x1100 && c <= 0x11FF) || (c >= 0x3130 && c <= 0x318F);
  };
  const char* begin = text.data();
  const char* end = begin + text.size();
  const char* run = nullptr;
  bool hangul = false;
  for (const char* p = begin; p < end;) {
    gunichar c = g_utf8_get_char_validated(p, end - p);
    if (c == gunichar(-1) || c == gunichar(-2)) break;  // malformed: leave the rest alone
    const char* next = g_utf8_next_char(p);
    if (g_unichar_isspace(c)) {
      if (run && hangul) ranges.emplace_back(int(run - begin), int(p - begin));
      run = nullptr;
      hangul = false;
    } else {
      if (!run) run = p;
      hangul = hangul || isHangul(c);
    }
    p = next;
  }
  if (run && hangul) ranges.emplace_back(int(run - begin), int(end - begin));
  return ranges;
}

void keepKoreanWordsTogether(GtkWidget* label) {
  PangoAttrList* attrs = pango_attr_list_new();
  for (auto [start, end] : koreanWordRanges(gtk_label_get_text(GTK_LABEL(label)))) {
    PangoAttribute* a = pango_attr_allow_breaks_new(FALSE);
    a->start_index = guint(start);
    a->end_index = guint(end);
    pango_attr_list_insert(attrs, a);
  }
  gtk_label_set_attributes(GTK_LABEL(label), attrs);
  pango_attr_list_unref(attrs);
}

void setStyleClass(GtkWidget* widget, const char* name, bool on) {
  GtkStyleContext* context = gtk_widget_get_style_context(widget);
  bool has = gtk_style_context_has_class(context, name);
  if (on && !has) gtk_style_context_add_class(context, name);
  if (!on && has) gtk_style_context_remove_class(context, name);
}

void setTint(GtkWidget* widget, Tint tint, bool subtitleOnly) {
  if (!subtitleOnly) {
    applyTint(widget, tint);
    return;
  }
  for (Tint t : kTints) {
    if (const char* name = tintName(t))
      setStyleClass(widget, (std::string("corvid-subtitle-") + name).c_str(), t == tint);
  }
}

}  // namespace corvid::linux_platform
