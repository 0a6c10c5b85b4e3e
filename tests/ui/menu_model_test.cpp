#include <gtest/gtest.h>

#include "ui/menu_model.h"

using namespace corvid;

namespace {

using Kind = MenuItem::Kind;

MenuItem text(std::string label) { return {Kind::text, std::move(label), false, MenuAction::none, {}}; }
MenuItem sep() { return {Kind::separator, {}, false, MenuAction::none, {}}; }
MenuItem button(std::string label, MenuAction a, bool enabled = true, std::string accel = {}) {
  return {Kind::button, std::move(label), enabled, a, std::move(accel)};
}

std::vector<MenuItem> tail(bool hasPairing) {
  return {button("시험 알림 보내기", MenuAction::sendTest, hasPairing), sep(),
          button("설정…", MenuAction::showMain, true, "<Control>comma"),
          button("Corvid 종료", MenuAction::quit, true, "<Control>q")};
}

std::vector<MenuItem> concat(std::vector<MenuItem> a, const std::vector<MenuItem>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(MenuModel, OkWithOnePhoneHasNoDetailAndNoFixItItem) {
  auto items =
      menuItems({Health::ok(), {"받은편지함 확인 방금 · 안 읽은 대화 2", "iPhone 1대 연결됨"}, true});
  EXPECT_EQ(items, concat({text("지켜보는 중"), text("받은편지함 확인 방금 · 안 읽은 대화 2"),
                           text("iPhone 1대 연결됨"), sep()},
                          tail(true)));
}

TEST(MenuModel, EachProblemOffersItsFix) {
  struct Case {
    Health health;
    bool hasPairing;
    std::vector<MenuItem> head;
  };
  const Case cases[] = {
      // First launch: no status lines at all.
      {Health::loginNeeded(true),
       false,
       {text("Instagram에 로그인하세요"), text("로그인하면 지켜보기 시작합니다"), sep(),
        button("Instagram 로그인…", MenuAction::showInstagramLogin)}},
      {Health::loginNeeded(false),
       true,
       {text("Instagram 로그인이 풀렸습니다"), text("다시 로그인할 때까지 알림이 멈춥니다"), sep(),
        button("다시 로그인…", MenuAction::showInstagramLogin)}},
      {Health::serverProblem("서버 오류"),
       true,
       {text("알림을 보내지 못하고 있습니다"), text("서버 오류"), sep(),
        button("다시 시도", MenuAction::retryStatus)}},
      {Health::readProblem(),
       true,
       {text("받은편지함을 읽지 못하고 있습니다"), text("자동으로 다시 불러오는 중"), sep(),
        button("받은편지함 다시 불러오기", MenuAction::reloadInbox)}},
      {Health::noPhone(),
       false,
       {text("iPhone을 연결하세요"), text("iPhone의 Corvid 앱에서 코드를 받아 연결하세요"), sep(),
        button("iPhone 연결…", MenuAction::showMain)}},
      // Offline and starting: title and detail, no fix-it item.
      {Health::offline(),
       true,
       {text("인터넷에 연결되어 있지 않습니다"), text("연결되면 자동으로 다시 지켜봅니다"), sep()}},
      {Health::starting(), false, {text("시작하는 중"), text("받은편지함을 여는 중"), sep()}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.head.front().label);
    EXPECT_EQ(menuItems({c.health, {}, c.hasPairing}), concat(c.head, tail(c.hasPairing)));
  }
}
