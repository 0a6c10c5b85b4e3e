#include "ui/symbols.h"

#include <array>

namespace corvid {

namespace {

struct SymbolEntry {
  Symbol symbol;
  std::string_view designName;
  std::string_view iconName;
};

// The one place where pictures get their names. Icon names were chosen by
// meaning among the symbolic icons of the Adwaita theme; other themes that
// lack one fall back along the dash-separated name (GTK's generic fallback).
constexpr std::array<SymbolEntry, 9> kSymbols{{
    {Symbol::loginProblem, "person.crop.circle.badge.exclamationmark", "avatar-default-symbolic"},
    {Symbol::serverProblem, "exclamationmark.icloud", "network-error-symbolic"},
    {Symbol::offline, "wifi.slash", "network-offline-symbolic"},
    {Symbol::warning, "exclamationmark.triangle.fill", "dialog-warning-symbolic"},
    {Symbol::connectPhone, "iphone.radiowaves.left.and.right", "phone-symbolic"},
    {Symbol::ok, "checkmark.circle.fill", "emblem-ok-symbolic"},
    {Symbol::inspecting, "eye", "view-reveal-symbolic"},
    {Symbol::person, "person.crop.circle", "avatar-default-symbolic"},
    {Symbol::phone, "iphone", "phone-apple-iphone-symbolic"},
}};

const SymbolEntry& entry(Symbol s) {
  for (const auto& e : kSymbols) {
    if (e.symbol == s) return e;
  }
  return kSymbols[3];  // unreachable: every Symbol has a row
}

}  // namespace

std::string_view iconName(Symbol symbol) { return entry(symbol).iconName; }
std::string_view designName(Symbol symbol) { return entry(symbol).designName; }

}  // namespace corvid
