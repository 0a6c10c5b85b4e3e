// The tray icon and the application icon, drawn by code from one glyph:
// three upward strokes on a 64 × 64 unit grid (line width 7 units, round
// caps), and, for the attention variant, a dot in the lower right corner.
//
// The tray icon is a symbolic SVG: panels recolour it for light and dark
// themes and for highlighting, like a template image. GTK 3 recolours a
// "-symbolic.svg" icon by forcing the fill of every path, rect and circle to
// the foreground colour (strokes are not recoloured before GTK 3.24.50), so
// the strokes are emitted as filled outlines in the conventional #bebebe.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace corvid {

struct GlyphPoint {
  double x = 0, y = 0;
};

// One cubic Bézier curve, in grid units with the origin at the top left.
struct GlyphCurve {
  GlyphPoint from, control1, control2, to;
  GlyphPoint at(double t) const;
  GlyphPoint tangent(double t) const;  // derivative, not normalised
};

inline constexpr double kGlyphGrid = 64;
inline constexpr double kGlyphLineWidth = 7;
// The attention dot: the circle in the square at (48, 48) of size 14.
inline constexpr double kDotX = 48, kDotY = 48, kDotSize = 14;

const std::array<GlyphCurve, 3>& glyphCurves();

// The outline of `curve` stroked with `halfWidth` on both sides: the left
// side from start to end, then the right side from end back to start, with
// `steps` segments per side (the caps join the two sides).
struct StrokeOutline {
  std::vector<GlyphPoint> left;
  std::vector<GlyphPoint> right;
};
StrokeOutline strokeOutline(const GlyphCurve& curve, double halfWidth, int steps);

// The tray icon as symbolic SVG text, one per attention value, built on
// first use and kept for the process (thread-safe).
const std::string& trayIconSVG(bool attention);

// The icon names under which writeTrayIcons stores them:
// "corvid-tray-symbolic" and "corvid-tray-attention-symbolic".
std::string_view trayIconName(bool attention);

// The accessible name of the tray item.
inline constexpr std::string_view kTrayAccessibleName = "Corvid";

// Writes both tray icons into the icon theme folder `themeRoot` (a folder
// to hand to the indicator as its icon theme path) as
// themeRoot/hicolor/scalable/status/<name>.svg, each replaced atomically.
// Answers false when a folder or file cannot be written.
bool writeTrayIcons(const std::filesystem::path& themeRoot);

// The full-colour application icon (for the desktop entry), drawn from
// the same glyph on a rounded square.
std::string appIconSVG();

// Writes `text` to `file` through a temporary file in the same folder and a
// rename, creating missing folders. Answers false on any error.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view text);

}  // namespace corvid
