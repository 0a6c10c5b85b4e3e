#include "ui/instagram_window_model.h"

#include <gtest/gtest.h>

using namespace corvid;

TEST(InstagramWindow, BannerAndTitlePerModeAndLogin) {
  // Inspect mode ignores the login and offers the way back to the inbox.
  EXPECT_EQ(instagramBanner(InstagramMode::inspect, false), instagramBanner(InstagramMode::inspect, true));
  EXPECT_EQ(instagramBanner(InstagramMode::inspect, true).title, "Corvid가 지켜보는 화면");
  EXPECT_TRUE(instagramBanner(InstagramMode::inspect, true).showsInboxButton);
  InstagramBanner out = instagramBanner(InstagramMode::login, false);
  InstagramBanner in = instagramBanner(InstagramMode::login, true);
  EXPECT_EQ(out.title, "Instagram에 로그인하세요");
  EXPECT_EQ(in.title, "로그인되었습니다");
  EXPECT_EQ(in.symbol, Symbol::ok);
  EXPECT_FALSE(out.showsInboxButton || in.showsInboxButton);
  EXPECT_EQ(instagramWindowTitle(InstagramMode::login), "Instagram 로그인");
  EXPECT_EQ(instagramWindowTitle(InstagramMode::inspect), "Instagram 화면");
}
