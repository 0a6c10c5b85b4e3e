// The computer's user-visible name, as the push client shows it to the
// paired phones.
#pragma once

#include <memory>
#include <string>

namespace corvid::linux_platform {

// systemd-hostnamed's pretty host name ("철수의 노트북") from the system
// bus when one is set, else the host name. The bus is asked asynchronously,
// at construction and again after each use (the user may rename the
// computer while Corvid runs), so a bus or hostnamed that is slow or never
// answers holds up nothing: until an answer comes, the name is the host
// name. Main thread only; the answers arrive on the default main context.
class ComputerName {
 public:
  ComputerName();
  ~ComputerName();
  ComputerName(const ComputerName&) = delete;
  ComputerName& operator=(const ComputerName&) = delete;

  // The pretty name last answered, else the host name; empty only when
  // neither is available as UTF-8 text. Never waits.
  std::string current();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace corvid::linux_platform
