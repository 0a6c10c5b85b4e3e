#include "ui/qr_code.h"

#include <qrencode.h>

#include <memory>

namespace corvid {

std::optional<QrCode> qrCode(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
      QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0,
                        QR_ECLEVEL_M),
      &QRcode_free);
  if (!code) return std::nullopt;
  QrCode out;
  out.size = code->width;
  out.modules.resize(static_cast<std::size_t>(code->width) * static_cast<std::size_t>(code->width));
  // The lowest bit of each byte tells a dark module; the others describe
  // what the module is part of.
  for (std::size_t i = 0; i < out.modules.size(); ++i) out.modules[i] = (code->data[i] & 1) != 0;
  return out;
}

}  // namespace corvid
