// The Instagram window's banner and title. The window shows the Watcher's
// own web view, for logging in (login mode) or for looking at the watched
// inbox page (inspect mode); the banner above the page says which.
#pragma once

#include <string>
#include <string_view>

#include "ui/symbols.h"

namespace corvid {

enum class InstagramMode { login, inspect };

// "login" or "inspect", as the activity log writes it.
std::string_view modeName(InstagramMode mode);

// "Instagram 로그인" in login mode, "Instagram 화면" in inspect mode.
std::string instagramWindowTitle(InstagramMode mode);

struct InstagramBanner {
  Symbol symbol = Symbol::person;
  Tint tint = Tint::accent;
  std::string title;
  std::string body;
  bool showsInboxButton = false;  // "받은편지함으로", inspect mode only
  bool operator==(const InstagramBanner&) const = default;
};
// `loggedIn` is the Watcher's sessionState being "ok"; it matters only in
// login mode.
InstagramBanner instagramBanner(InstagramMode mode, bool loggedIn);

inline constexpr std::string_view kInboxButton = "받은편지함으로";
// The reload reason of "받은편지함으로": the Watcher reloads the inbox page.
inline constexpr const char* kInspectInboxReason = "inspect inbox";

}  // namespace corvid
