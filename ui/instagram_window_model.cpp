#include "ui/instagram_window_model.h"

namespace corvid {

std::string_view modeName(InstagramMode mode) { return mode == InstagramMode::inspect ? "inspect" : "login"; }

std::string instagramWindowTitle(InstagramMode mode) {
  return mode == InstagramMode::inspect ? "Instagram 화면" : "Instagram 로그인";
}

InstagramBanner instagramBanner(InstagramMode mode, bool loggedIn) {
  if (mode == InstagramMode::inspect) {
    return {
        Symbol::inspecting, Tint::secondary, "Corvid가 지켜보는 화면",
        "여기서 대화를 열면 읽음으로 바뀌어 iPhone 알림이 오지 않을 수 있습니다. 창을 닫으면 받은편지함으로 "
        "돌아갑니다.",
        true};
  }
  if (!loggedIn) {
    return {Symbol::person, Tint::accent, "Instagram에 로그인하세요",
            "로그인하면 Corvid가 이 컴퓨터에서 받은편지함을 지켜보기 시작하고, 이 창은 저절로 닫힙니다. 로그인 "
            "정보는 "
            "이 컴퓨터에만 저장됩니다.",
            false};
  }
  return {Symbol::ok, Tint::green, "로그인되었습니다",
          "받은편지함을 지켜보기 시작했습니다. 이 창은 곧 닫힙니다.", false};
}

}  // namespace corvid
