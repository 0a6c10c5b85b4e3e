// QR codes, for the ntfy topic that a phone's camera or the ntfy app opens.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace corvid {

// The module matrix of one QR code, without its quiet zone.
struct QrCode {
  int size = 0;               // modules per side
  std::vector<bool> modules;  // row by row; true is dark
  bool dark(int x, int y) const { return modules[static_cast<std::size_t>(y * size + x)]; }
};

// `text` as bytes in the smallest version that holds it at error-correction
// level M. Nothing for an empty text or one too long for any version.
std::optional<QrCode> qrCode(std::string_view text);

// Modules of light border that readers need around the code.
inline constexpr int kQrQuietZone = 4;

}  // namespace corvid
