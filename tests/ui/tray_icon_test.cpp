#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "ui/tray_icon.h"

using namespace corvid;

namespace {

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

double distanceToCurve(const GlyphCurve& c, GlyphPoint p) {
  double best = 1e9;
  for (int i = 0; i <= 4000; ++i) {
    GlyphPoint q = c.at(i / 4000.0);
    best = std::min(best, std::hypot(p.x - q.x, p.y - q.y));
  }
  return best;
}

class TempFolder {
 public:
  TempFolder() {
    path_ = std::filesystem::temp_directory_path() / ("corvid-ui-test-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

TEST(TrayIcon, OutlinesLieOneHalfLineWidthFromTheirCurve) {
  for (const auto& curve : glyphCurves()) {
    StrokeOutline o = strokeOutline(curve, kGlyphLineWidth / 2, 24);
    ASSERT_EQ(o.left.size(), 25u);
    ASSERT_EQ(o.right.size(), 25u);
    for (const auto* side : {&o.left, &o.right}) {
      for (GlyphPoint p : *side) EXPECT_NEAR(distanceToCurve(curve, p), 3.5, 0.01);
    }
    // The left side runs from the start, the right side back to it.
    EXPECT_NEAR(std::hypot(o.left.front().x - curve.from.x, o.left.front().y - curve.from.y), 3.5, 1e-9);
    EXPECT_NEAR(std::hypot(o.right.back().x - curve.from.x, o.right.back().y - curve.from.y), 3.5, 1e-9);
    EXPECT_NEAR(std::hypot(o.right.front().x - curve.to.x, o.right.front().y - curve.to.y), 3.5, 1e-9);
  }
}

TEST(TrayIcon, SymbolicSvgIsFilledOnlyAndHasTheDotOnlyForAttention) {
  const std::string& plain = trayIconSVG(false);
  const std::string& dot = trayIconSVG(true);
  for (const std::string* svg : {&plain, &dot}) {
    EXPECT_NE(svg->find("viewBox=\"0 0 64 64\""), std::string::npos);
    EXPECT_NE(svg->find("width=\"18\" height=\"18\""), std::string::npos);
    // GTK 3 recolours fills only: no stroke may carry the picture.
    EXPECT_EQ(svg->find("stroke"), std::string::npos);
    EXPECT_NE(svg->find("#bebebe"), std::string::npos);
    EXPECT_NE(svg->find("<title>Corvid</title>"), std::string::npos);
  }
  EXPECT_EQ(plain.find("<circle"), std::string::npos);
  EXPECT_NE(dot.find("<circle cx=\"55\" cy=\"55\" r=\"7\""), std::string::npos);
  // Built once: every call answers the same text.
  EXPECT_EQ(&trayIconSVG(true), &dot);
  EXPECT_EQ(trayIconName(false), "corvid-tray-symbolic");
  EXPECT_EQ(trayIconName(true), "corvid-tray-attention-symbolic");
}

TEST(TrayIcon, FirstUseFromSeveralThreadsBuildsOneText) {
  const std::string* seen[4] = {};
  std::vector<std::thread> threads;
  for (auto& s : seen) threads.emplace_back([&s] { s = &trayIconSVG(true); });
  for (auto& t : threads) t.join();
  for (const auto* s : seen) EXPECT_EQ(s, &trayIconSVG(true));
}

TEST(TrayIcon, WritesBothIconsIntoAnIconThemeFolder) {
  TempFolder tmp;
  std::filesystem::path root = tmp.path() / "icons";
  ASSERT_TRUE(writeTrayIcons(root));
  ASSERT_TRUE(writeTrayIcons(root));  // again: replaced in place
  auto folder = root / "hicolor" / "scalable" / "status";
  EXPECT_EQ(readFile(folder / "corvid-tray-symbolic.svg"), trayIconSVG(false));
  EXPECT_EQ(readFile(folder / "corvid-tray-attention-symbolic.svg"), trayIconSVG(true));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()),
            2);

  // A file where the folder should be: reported, nothing thrown.
  std::ofstream(tmp.path() / "blocked") << "x";
  EXPECT_FALSE(writeTrayIcons(tmp.path() / "blocked"));
}

TEST(AppIcon, DrawsTheSameCurvesInColourWithRoundCaps) {
  std::string svg = appIconSVG();
  EXPECT_NE(svg.find("M32 56C32 43 33 30 34 14"), std::string::npos);
  EXPECT_NE(svg.find("M24 56C23 45 19 37 12 28"), std::string::npos);
  EXPECT_NE(svg.find("M40 56C41 45 46 38 53 30"), std::string::npos);
  EXPECT_NE(svg.find("stroke-linecap=\"round\""), std::string::npos);
  EXPECT_NE(svg.find("stroke-width=\"7\""), std::string::npos);
}
