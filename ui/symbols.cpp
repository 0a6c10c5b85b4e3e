#include "ui/symbols.h"

#include <array>

namespace corvid {

namespace {

struct SymbolEntry {
  Symbol symbol;
  std::string_view iconName;
};

// The one place where pictures get their names. Icon names were chosen by
// meaning among the symbolic icons of the Adwaita theme (the comment names
// the picture of the original design); other themes that lack one fall back
// along the dash-separated name (GTK's generic fallback).
constexpr std::array<SymbolEntry, 9> kSymbols{{
    {Symbol::loginProblem, "avatar-default-symbolic"},  // person.crop.circle.badge.exclamationmark
    {Symbol::serverProblem, "network-error-symbolic"},  // exclamationmark.icloud
    {Symbol::offline, "network-offline-symbolic"},      // wifi.slash
    {Symbol::warning, "dialog-warning-symbolic"},       // exclamationmark.triangle.fill
    {Symbol::connectPhone, "phone-symbolic"},           // iphone.radiowaves.left.and.right
    {Symbol::ok, "emblem-ok-symbolic"},                 // checkmark.circle.fill
    {Symbol::inspecting, "view-reveal-symbolic"},       // eye
    {Symbol::person, "avatar-default-symbolic"},        // person.crop.circle
    {Symbol::phone, "phone-apple-iphone-symbolic"},     // iphone
}};

const SymbolEntry& entry(Symbol s) {
  for (const auto& e : kSymbols) {
    if (e.symbol == s) return e;
  }
  return kSymbols[3];  // unreachable: every Symbol has a row
}

}  // namespace

std::string_view iconName(Symbol symbol) { return entry(symbol).iconName; }

}  // namespace corvid
