#include "ui/tray_icon.h"

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace corvid {

GlyphPoint GlyphCurve::at(double t) const {
  double u = 1 - t;
  double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
  return {a * from.x + b * control1.x + c * control2.x + d * to.x,
          a * from.y + b * control1.y + c * control2.y + d * to.y};
}

GlyphPoint GlyphCurve::tangent(double t) const {
  double u = 1 - t;
  double a = 3 * u * u, b = 6 * u * t, c = 3 * t * t;
  return {a * (control1.x - from.x) + b * (control2.x - control1.x) + c * (to.x - control2.x),
          a * (control1.y - from.y) + b * (control2.y - control1.y) + c * (to.y - control2.y)};
}

const std::array<GlyphCurve, 3>& glyphCurves() {
  static const std::array<GlyphCurve, 3> curves{{
      {{32, 56}, {32, 43}, {33, 30}, {34, 14}},
      {{24, 56}, {23, 45}, {19, 37}, {12, 28}},
      {{40, 56}, {41, 45}, {46, 38}, {53, 30}},
  }};
  return curves;
}

StrokeOutline strokeOutline(const GlyphCurve& curve, double halfWidth, int steps) {
  StrokeOutline out;
  out.left.reserve(steps + 1);
  out.right.reserve(steps + 1);
  for (int i = 0; i <= steps; ++i) {
    double t = double(i) / steps;
    GlyphPoint p = curve.at(t);
    GlyphPoint d = curve.tangent(t);
    double len = std::hypot(d.x, d.y);
    // The curves of the glyph never stand still, so the length is never 0.
    double nx = -d.y / len * halfWidth, ny = d.x / len * halfWidth;
    out.left.push_back({p.x + nx, p.y + ny});
    out.right.push_back({p.x - nx, p.y - ny});
  }
  std::reverse(out.right.begin(), out.right.end());
  return out;
}

namespace {

constexpr int kOutlineSteps = 24;

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  std::string s(buf);
  // Trim "12.50" to "12.5" and "12.00" to "12".
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

std::string pt(GlyphPoint p) { return num(p.x) + " " + num(p.y); }

// A quarter-circle arc of radius r to `p`, counter-clockwise on screen.
std::string arcTo(double r, GlyphPoint p) { return "A" + num(r) + " " + num(r) + " 0 0 0 " + pt(p); }

// One filled outline per curve: left side, round cap at the end (two
// quarter arcs through the point one half width beyond the end), right side
// back, round cap at the start.
std::string outlinePath() {
  double h = kGlyphLineWidth / 2;
  std::string d;
  for (const auto& c : glyphCurves()) {
    StrokeOutline o = strokeOutline(c, h, kOutlineSteps);
    GlyphPoint te = c.tangent(1), ts = c.tangent(0);
    double le = std::hypot(te.x, te.y), ls = std::hypot(ts.x, ts.y);
    GlyphPoint beyondEnd{c.to.x + te.x / le * h, c.to.y + te.y / le * h};
    GlyphPoint beforeStart{c.from.x - ts.x / ls * h, c.from.y - ts.y / ls * h};
    d += "M" + pt(o.left.front());
    for (std::size_t i = 1; i < o.left.size(); ++i) d += "L" + pt(o.left[i]);
    d += arcTo(h, beyondEnd) + arcTo(h, o.right.front());
    for (std::size_t i = 1; i < o.right.size(); ++i) d += "L" + pt(o.right[i]);
    d += arcTo(h, beforeStart) + arcTo(h, o.left.front()) + "Z";
  }
  return d;
}

std::string dotCircle(std::string_view attributes) {
  double r = kDotSize / 2;
  return "<circle cx=\"" + num(kDotX + r) + "\" cy=\"" + num(kDotY + r) + "\" r=\"" + num(r) + "\" " +
         std::string(attributes) + "/>";
}

// The glyph's centre lines as stroked SVG path data, for the full-colour icon.
std::string centreLinePath() {
  std::string d;
  for (const auto& c : glyphCurves()) {
    d += "M" + pt(c.from) + "C" + pt(c.control1) + " " + pt(c.control2) + " " + pt(c.to);
  }
  return d;
}

std::string buildTrayIcon(bool attention) {
  // Fill in #bebebe, the colour GTK's symbolic loader replaces; the class
  // and currentColor let Plasma's stylesheet recolour it the same way.
  const char* paint = "fill=\"currentColor\" class=\"ColorScheme-Text\"";
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"18\" height=\"18\" viewBox=\"0 0 64 64\">\n"
      "<title>Corvid</title>\n"
      "<style id=\"current-color-scheme\" type=\"text/css\">.ColorScheme-Text{color:#bebebe;}</style>\n"
      "<path ";
  svg += paint;
  svg += " fill-rule=\"nonzero\" d=\"" + outlinePath() + "\"/>\n";
  if (attention) svg += dotCircle(paint) + "\n";
  svg += "</svg>\n";
  return svg;
}

}  // namespace

const std::string& trayIconSVG(bool attention) {
  static const std::string plain = buildTrayIcon(false);
  static const std::string withDot = buildTrayIcon(true);
  return attention ? withDot : plain;
}

std::string_view trayIconName(bool attention) {
  return attention ? "corvid-tray-attention-symbolic" : "corvid-tray-symbolic";
}

bool writeFileAtomically(const std::filesystem::path& file, std::string_view text) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) return false;
  std::filesystem::path tmp = file;
  tmp += ".tmp-" + std::to_string(::getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(tmp, ec);
      return false;
    }
  }
  std::filesystem::rename(tmp, file, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return false;
  }
  return true;
}

bool writeTrayIcons(const std::filesystem::path& themeRoot) {
  std::filesystem::path folder = themeRoot / "hicolor" / "scalable" / "status";
  bool ok = true;
  for (bool attention : {false, true}) {
    std::filesystem::path file = folder / (std::string(trayIconName(attention)) + ".svg");
    ok = writeFileAtomically(file, trayIconSVG(attention)) && ok;
  }
  return ok;
}

std::string appIconSVG() {
  // The glyph, scaled to three quarters around the centre, in white on a
  // rounded square with a dark ink-blue gradient.
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 64 64\">\n"
         "<title>Corvid</title>\n"
         "<defs><linearGradient id=\"ink\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
         "<stop offset=\"0\" stop-color=\"#4b4f7a\"/><stop offset=\"1\" stop-color=\"#1f2140\"/>"
         "</linearGradient></defs>\n"
         "<rect x=\"2\" y=\"2\" width=\"60\" height=\"60\" rx=\"13\" fill=\"url(#ink)\"/>\n"
         "<g transform=\"translate(32 33) scale(0.72) translate(-32 -35)\">\n"
         "<path d=\"" +
         centreLinePath() + "\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\"" + num(kGlyphLineWidth) +
         "\" stroke-linecap=\"round\"/>\n"
         "</g>\n"
         "</svg>\n";
}

}  // namespace corvid
