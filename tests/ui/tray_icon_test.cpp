#include "ui/tray_icon.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "ui/symbols.h"

using namespace corvid;

TEST(Icons, FilledOnlyTrayIconsWrittenIntoAnIconThemeAndSymbolsTheAdwaitaThemeShips) {
  // GTK 3 recolours fills only: no stroke may carry the picture.
  for (bool attention : {false, true}) {
    EXPECT_EQ(trayIconSVG(attention).find("stroke"), std::string::npos);
    EXPECT_EQ(trayIconSVG(attention).find("<circle") != std::string::npos, attention);
  }
  auto tmp = std::filesystem::temp_directory_path() / ("corvid-ui-test-" + std::to_string(::getpid()));
  ASSERT_TRUE(writeTrayIcons(tmp / "icons"));
  ASSERT_TRUE(writeTrayIcons(tmp / "icons"));  // again: replaced in place
  auto dir = tmp / "icons/hicolor/scalable/status";
  EXPECT_EQ(std::filesystem::file_size(dir / "corvid-tray-symbolic.svg"), trayIconSVG(false).size());
  EXPECT_EQ(std::filesystem::file_size(dir / "corvid-tray-attention-symbolic.svg"), trayIconSVG(true).size());
  std::ofstream(tmp / "blocked") << "x";  // a file where the dir should be: reported
  EXPECT_FALSE(writeTrayIcons(tmp / "blocked"));
  std::filesystem::remove_all(tmp);

  // Every symbol names an icon the Adwaita theme ships.
  const std::filesystem::path adwaita = "/usr/share/icons/Adwaita/scalable";
  if (!std::filesystem::exists(adwaita)) GTEST_SKIP() << "no Adwaita theme installed";
  for (int s = 0; s <= static_cast<int>(Symbol::phone); ++s) {
    std::string name(iconName(static_cast<Symbol>(s)));
    bool found = false;
    for (const auto& context : std::filesystem::directory_iterator(adwaita))
      found = found || std::filesystem::exists(context.path() / (name + ".svg"));
    EXPECT_TRUE(found) << name;
  }
}
