// The computer's user-visible name, as the push client shows it to the
// paired phones.
#pragma once

#include <string>

namespace corvid::linux_platform {

// systemd-hostnamed's pretty host name ("철수의 노트북") from the system
// bus when one is set, else the host name. Empty only when neither is
// available as UTF-8 text. Asks the bus on every call (the user may rename
// the computer while Corvid runs); a bus that does not answer within a
// second counts as no pretty name.
std::string systemComputerName();

}  // namespace corvid::linux_platform
