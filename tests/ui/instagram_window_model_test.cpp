#include <gtest/gtest.h>

#include "ui/instagram_window_model.h"

using namespace corvid;

TEST(InstagramWindow, BannerAndTitlePerModeAndLogin) {
  const char* inspectBody =
      "여기서 대화를 열면 읽음으로 바뀌어 iPhone 알림이 오지 않을 수 있습니다. 창을 닫으면 받은편지함으로 "
      "돌아갑니다.";
  // Inspect mode ignores the login: same banner logged in or out.
  for (bool loggedIn : {false, true}) {
    EXPECT_EQ(
        instagramBanner(InstagramMode::inspect, loggedIn),
        (InstagramBanner{Symbol::inspecting, Tint::secondary, "Corvid가 지켜보는 화면", inspectBody, true}));
  }
  EXPECT_EQ(instagramBanner(InstagramMode::login, false),
            (InstagramBanner{Symbol::person, Tint::accent, "Instagram에 로그인하세요",
                             "로그인하면 Corvid가 이 Mac에서 받은편지함을 지켜보기 시작하고, 이 창은 저절로 "
                             "닫힙니다. 로그인 정보는 이 Mac에만 저장됩니다.",
                             false}));
  EXPECT_EQ(instagramBanner(InstagramMode::login, true),
            (InstagramBanner{Symbol::ok, Tint::green, "로그인되었습니다",
                             "받은편지함을 지켜보기 시작했습니다. 이 창은 곧 닫힙니다.", false}));
  EXPECT_EQ(iconName(Symbol::inspecting), "view-reveal-symbolic");
  EXPECT_EQ(instagramWindowTitle(InstagramMode::login), "Instagram 로그인");
  EXPECT_EQ(instagramWindowTitle(InstagramMode::inspect), "Instagram 화면");
}
