#include "page_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace corvid::testing {

PageServer::PageServer(const std::vector<std::string>& options) {
  ::signal(SIGPIPE, SIG_IGN);  // a write to a server that died must fail, not end the test process
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv = {CORVID_NODE, CORVID_TEST_PAGES_DIR "/server.mjs", "--port", "0"};
  argv.insert(argv.end(), options.begin(), options.end());
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  input_ = in[1];
  // "PORT <n>\n", each piece within 30 seconds.
  std::string line;
  char buf[128];
  pollfd p{out[0], POLLIN, 0};
  for (ssize_t n = 1; n > 0 && line.find('\n') == std::string::npos && ::poll(&p, 1, 30000) > 0;) {
    if ((n = ::read(out[0], buf, sizeof buf)) > 0) line.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
  if (port_ <= 0) {
    stop();
    throw std::runtime_error("test page server did not start: " + line);
  }
}

PageServer::~PageServer() { stop(); }

void PageServer::stop() {
  if (input_ >= 0) ::close(input_);  // the server exits when its input closes
  input_ = -1;
  for (int i = 0; pid_ > 0 && i < 50; i++, std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
  }
  if (pid_ > 0) {  // our own child, not yet reaped: the PID is still its own
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

void PageServer::sendEvent(const nlohmann::json& event) {
  const std::string line = event.dump() + "\n";
  for (size_t done = 0; done < line.size();) {
    ssize_t n = ::write(input_, line.data() + done, line.size() - done);
    if (n <= 0) throw std::runtime_error("test page server gone");
    done += static_cast<size_t>(n);
  }
}

}  // namespace corvid::testing
