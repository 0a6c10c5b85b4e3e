#include "ui/tray_icon.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>

using namespace corvid;

namespace {

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(TrayIcon, OutlinesLieOneHalfLineWidthFromTheirCurve) {
  for (const auto& curve : glyphCurves()) {
    StrokeOutline o = strokeOutline(curve, kGlyphLineWidth / 2, 24);
    ASSERT_EQ(o.left.size(), 25u);
    for (const auto* side : {&o.left, &o.right}) {
      for (GlyphPoint p : *side) {
        double nearest = 1e9;
        for (int i = 0; i <= 4000; ++i) {
          GlyphPoint q = curve.at(i / 4000.0);
          nearest = std::min(nearest, std::hypot(p.x - q.x, p.y - q.y));
        }
        EXPECT_NEAR(nearest, kGlyphLineWidth / 2, 0.01);
      }
    }
    // The left side runs from the start, the right side back to it.
    EXPECT_NEAR(std::hypot(o.right.back().x - curve.from.x, o.right.back().y - curve.from.y), 3.5, 1e-9);
  }
}

TEST(TrayIcon, SymbolicSvgIsFilledOnlyAndHasTheDotOnlyForAttention) {
  const std::string& plain = trayIconSVG(false);
  const std::string& dot = trayIconSVG(true);
  for (const std::string* svg : {&plain, &dot}) {
    // GTK 3 recolours fills only: no stroke may carry the picture.
    EXPECT_EQ(svg->find("stroke"), std::string::npos);
    EXPECT_NE(svg->find("#bebebe"), std::string::npos);
  }
  EXPECT_EQ(plain.find("<circle"), std::string::npos);
  EXPECT_NE(dot.find("<circle cx=\"55\" cy=\"55\" r=\"7\""), std::string::npos);
  EXPECT_NE(trayIconName(false), trayIconName(true));
}

TEST(TrayIcon, WritesBothIconsIntoAnIconThemeFolder) {
  auto tmp = std::filesystem::temp_directory_path() / ("corvid-ui-test-" + std::to_string(::getpid()));
  std::filesystem::remove_all(tmp);
  ASSERT_TRUE(writeTrayIcons(tmp / "icons"));
  ASSERT_TRUE(writeTrayIcons(tmp / "icons"));  // again: replaced in place
  auto folder = tmp / "icons" / "hicolor" / "scalable" / "status";
  EXPECT_EQ(readFile(folder / "corvid-tray-symbolic.svg"), trayIconSVG(false));
  EXPECT_EQ(readFile(folder / "corvid-tray-attention-symbolic.svg"), trayIconSVG(true));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()),
            2);

  // A file where the folder should be: reported, nothing thrown.
  std::ofstream(tmp / "blocked") << "x";
  EXPECT_FALSE(writeTrayIcons(tmp / "blocked"));
  std::filesystem::remove_all(tmp);
}
