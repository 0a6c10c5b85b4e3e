// Real servers on 127.0.0.1 for the network adapter tests: a libsoup HTTP(S)
// server answering from a handler, a listener that never answers, a port
// where nobody listens, and a throw-away self-signed certificate.
#pragma once

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace corvid::testing {

class TestServer {
 public:
  struct Received {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
    std::string body;
    // The value of a header, or "" (names compare case-insensitively).
    std::string header(const std::string& name) const;
  };
  struct Reply {
    int status = 200;
    std::string body = "{}";
    std::vector<std::pair<std::string, std::string>> headers = {};
  };
  using Handler = std::function<Reply(const Received&)>;

  // Plain http; https with `certificate`. Listens on 127.0.0.1, a free port.
  explicit TestServer(GTlsCertificate* certificate = nullptr);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT".
  const std::string& origin() const { return origin_; }

  Handler handler;                 // default: 200 "{}"
  std::vector<Received> received;  // every request, in order

 private:
  static void serve(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer self);
  SoupServer* server_ = nullptr;
  std::string origin_;
};

// Accepts TCP connections (the kernel does, through the backlog) and never
// reads or answers.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Accepts each connection and closes it at once, before any answer.
class HangingUpListener {
 public:
  HangingUpListener();
  ~HangingUpListener();
  HangingUpListener(const HangingUpListener&) = delete;
  HangingUpListener& operator=(const HangingUpListener&) = delete;
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  GSocketService* service_ = nullptr;
  int port_ = 0;
};

// An origin on 127.0.0.1 whose port was free a moment ago and has nobody
// listening.
std::string closedPortOrigin();

// A self-signed certificate for 127.0.0.1 made with the openssl tool in a
// temporary folder, removed again by the destructor.
class SelfSignedCertificate {
 public:
  SelfSignedCertificate();
  ~SelfSignedCertificate();
  SelfSignedCertificate(const SelfSignedCertificate&) = delete;
  SelfSignedCertificate& operator=(const SelfSignedCertificate&) = delete;

  GTlsCertificate* certificate() const { return certificate_; }
  // A database that trusts this certificate alone.
  GTlsDatabase* trustingDatabase() const { return database_; }
  const std::string& error() const { return error_; }  // empty when made

 private:
  std::string dir_;
  GTlsCertificate* certificate_ = nullptr;
  GTlsDatabase* database_ = nullptr;
  std::string error_;
};

}  // namespace corvid::testing
