#include "ui/menu_model.h"

#include "ui/status.h"
#include "watcher/watcher.h"

namespace corvid {

namespace {

MenuItem text(std::string label) {
  return {MenuItem::Kind::text, std::move(label), false, MenuAction::none, {}};
}
MenuItem separator() { return {MenuItem::Kind::separator, {}, false, MenuAction::none, {}}; }
MenuItem button(std::string label, MenuAction action, bool enabled = true, std::string accelerator = {}) {
  return {MenuItem::Kind::button, std::move(label), enabled, action, std::move(accelerator)};
}

}  // namespace

MenuInputs menuInputs(const Watcher& watcher, Time now) {
  const PushClient& push = watcher.push();
  return {watcher.health(), statusLines(statusLineInputs(watcher), now),
          !push.pairings().empty() || push.hasNtfyTopic()};
}

std::vector<MenuItem> menuItems(const MenuInputs& in) {
  using Kind = Health::Kind;
  const Health& h = in.health;
  std::vector<MenuItem> items;
  items.push_back(text(statusTitle(h)));
  if (auto detail = menuDetail(h)) items.push_back(text(*detail));
  for (const auto& line : in.statusLines) items.push_back(text(line));
  items.push_back(separator());
  switch (h.kind) {
    case Kind::loginNeeded:
      items.push_back(
          button(h.firstTime ? "Instagram 로그인…" : "다시 로그인…", MenuAction::showInstagramLogin));
      break;
    case Kind::serverProblem:
      items.push_back(button("다시 시도", MenuAction::retryStatus));
      break;
    case Kind::readProblem:
      items.push_back(button("받은편지함 다시 불러오기", MenuAction::reloadInbox));
      break;
    case Kind::noPhone:
      items.push_back(button("iPhone 연결…", MenuAction::showMain));
      break;
    case Kind::starting:
    case Kind::offline:
    case Kind::ok:
      break;
  }
  items.push_back(button("시험 알림 보내기", MenuAction::sendTest, in.hasPairing));
  items.push_back(separator());
  items.push_back(button("설정…", MenuAction::showMain, true, "<Control>comma"));
  items.push_back(button("Corvid 종료", MenuAction::quit, true, "<Control>q"));
  return items;
}

}  // namespace corvid
