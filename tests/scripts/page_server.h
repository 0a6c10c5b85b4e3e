// Starts the test inbox server (tests/pages/server.mjs) on 127.0.0.1 for a
// test or benchmark, and stops it again.
//
// The server runs as a child process whose standard input is a pipe from
// this process: it exits when the pipe closes, so it also dies with a test
// that crashes. The destructor closes the pipe, waits for the child and
// only then, if it is still running, sends SIGTERM to that checked PID.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace corvid::testing {

class PageServer {
 public:
  // Extra command-line options, e.g. {"--threads", "40"}. Throws when the
  // server does not report its port within 30 seconds.
  explicit PageServer(const std::vector<std::string>& options = {});
  ~PageServer();
  PageServer(const PageServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // Queues a page event: the server's model takes it at once, the page on
  // its next update.
  void sendEvent(const nlohmann::json& event);

 private:
  void stop();
  pid_t pid_ = -1;
  int input_ = -1;
  int port_ = 0;
};

}  // namespace corvid::testing
