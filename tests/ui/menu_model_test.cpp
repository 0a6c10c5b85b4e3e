#include "ui/menu_model.h"

#include <gtest/gtest.h>

#include "ui/status.h"

using namespace corvid;

namespace {

using Kind = MenuItem::Kind;

MenuItem text(std::string label) { return {Kind::text, std::move(label), false, MenuAction::none, {}}; }
MenuItem sep() { return {Kind::separator, {}, false, MenuAction::none, {}}; }
MenuItem button(std::string label, MenuAction a, bool enabled = true, std::string accel = {}) {
  return {Kind::button, std::move(label), enabled, a, std::move(accel)};
}

// `head`, then the items every menu ends with.
std::vector<MenuItem> withTail(std::vector<MenuItem> head, bool hasPairing) {
  for (auto item : {button("시험 알림 보내기", MenuAction::sendTest, hasPairing), sep(),
                    button("설정…", MenuAction::showMain, true, "<Control>comma"),
                    button("Corvid 종료", MenuAction::quit, true, "<Control>q")}) {
    head.push_back(item);
  }
  return head;
}

}  // namespace

TEST(MenuModel, OkWithOnePhoneShowsItsStatusLinesWithoutDetailOrFixItItem) {
  EXPECT_EQ(
      menuItems({Health::ok(), {"받은편지함 확인 방금", "iPhone 1대 연결됨"}, true}),
      withTail({text("지켜보는 중"), text("받은편지함 확인 방금"), text("iPhone 1대 연결됨"), sep()}, true));
}

TEST(MenuModel, EachProblemOffersItsFix) {
  struct Case {
    Health health;
    MenuAction fix;
    const char* label;
  };
  const Case cases[] = {
      {Health::loginNeeded(true), MenuAction::showInstagramLogin, "Instagram 로그인…"},
      {Health::loginNeeded(false), MenuAction::showInstagramLogin, "다시 로그인…"},
      {Health::serverProblem("서버 오류"), MenuAction::retryStatus, "다시 시도"},
      {Health::readProblem(), MenuAction::reloadInbox, "받은편지함 다시 불러오기"},
      {Health::noPhone(), MenuAction::showMain, "iPhone 연결…"},
      {Health::offline(), MenuAction::none, ""},  // offline and starting: nothing to fix
      {Health::starting(), MenuAction::none, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(statusTitle(c.health));
    std::vector<MenuItem> head = {text(statusTitle(c.health)), text(*menuDetail(c.health)), sep()};
    if (c.fix != MenuAction::none) head.push_back(button(c.label, c.fix));
    EXPECT_EQ(menuItems({c.health, {}, false}), withTail(head, false));
  }
}
