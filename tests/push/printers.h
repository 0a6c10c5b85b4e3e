// Readable test output for the push client's values. Pairings print
// without their secrets.
#pragma once

#include <chrono>
#include <ostream>

#include "push/push_client.h"

namespace corvid {

inline void PrintTo(const PushClient::Pairing& p, std::ostream* os) {
  *os << "Pairing{secret: (" << p.secret.size() << " characters), " << p.deviceModel << ", " << p.environment
      << ", " << std::chrono::duration_cast<std::chrono::milliseconds>(p.pairedAt.time_since_epoch()).count()
      << " ms}";
}

inline void PrintTo(const PushClient::Note& n, std::ostream* os) {
  *os << "Note{\"" << n.text << "\"" << (n.isError ? ", error" : "") << "}";
}

inline void PrintTo(const RelayError& e, std::ostream* os) {
  *os << "RelayError{" << e.domain << ", " << e.code << ", \"" << e.message << "\"}";
}

}  // namespace corvid
