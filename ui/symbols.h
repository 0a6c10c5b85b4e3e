// Symbols and colours the views show, as plain values.
//
// The statuses and banners name their pictures by meaning (`Symbol`); one
// table turns each into a freedesktop symbolic icon name that the Adwaita
// theme ships, so every view draws the same picture for the same meaning.
#pragma once

#include <string_view>

namespace corvid {

// A semantic colour; the view maps it to the theme's colours.
enum class Tint { none, secondary, tertiary, accent, red, orange, green };

enum class Symbol {
  loginProblem,   // a person with an exclamation mark: the login is missing
  serverProblem,  // the relay server cannot be reached or refuses
  offline,        // no network path
  warning,        // something cannot be read
  connectPhone,   // an iPhone waiting to be connected
  ok,             // a check mark in a circle
  inspecting,     // an eye: looking at the watched page
  person,         // a person in a circle: log in
  phone,          // one paired iPhone
};

// The freedesktop icon name of `symbol`, for example "dialog-warning-symbolic".
std::string_view iconName(Symbol symbol);

}  // namespace corvid
