// The look of Corvid's own widgets: font sizes of the texts (title, callout,
// caption), the semantic colours (`Tint`) as CSS classes over the theme's
// named colours, the "개발용" badge. One style sheet for the whole screen.
#pragma once

#include <gtk/gtk.h>

#include <string_view>
#include <utility>
#include <vector>

#include "ui/symbols.h"

namespace corvid::linux_platform {

// Adds the style sheet to the default screen (once per process).
void installCorvidStyles();

// Text roles, as style classes.
inline constexpr const char* kTitleClass = "corvid-title";        // status title: larger, semibold
inline constexpr const char* kHeadlineClass = "corvid-headline";  // semibold
inline constexpr const char* kStepClass = "corvid-step";          // caption, semibold
inline constexpr const char* kCalloutClass = "corvid-callout";    // a little smaller than body
inline constexpr const char* kCaptionClass = "corvid-caption";    // smaller
inline constexpr const char* kBadgeClass = "corvid-badge";        // tiny text on a capsule
inline constexpr const char* kDigitsClass = "corvid-digits";      // tabular (monospaced) digits
inline constexpr const char* kProminentClass = "corvid-prominent";

// Gives `widget` the colour of `tint` (applyTint of tint.h, shared with the
// other windows), or, with `subtitleOnly`, colours only the subtitle of an
// HdyActionRow.
void setTint(GtkWidget* widget, Tint tint, bool subtitleOnly = false);

// Korean is wrapped between words, not between any two syllables (which
// Pango's default line breaking allows): every run of non-space characters
// that holds Hangul is kept on one line. Call after each change of the
// label's text; the text itself stays as it is.
void keepKoreanWordsTogether(GtkWidget* label);

// The byte ranges [start, end) of the runs that keepKoreanWordsTogether
// keeps unbroken in `text` (UTF-8).
std::vector<std::pair<int, int>> koreanWordRanges(std::string_view text);

// Adds or removes one style class.
void setStyleClass(GtkWidget* widget, const char* name, bool on = true);

}  // namespace corvid::linux_platform
