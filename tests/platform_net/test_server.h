// Real servers on 127.0.0.1 for the adapter and end-to-end tests: a libsoup
// HTTP(S) server answering from a handler (or never), a port where nobody
// listens, and a throw-away self-signed certificate. The server lives on
// the default main context; iterate it while waiting.
#pragma once

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform_glib/test_support.h"

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
    std::string contentType = "application/json";
  };
  // The answer to a request; nothing: the request is never answered (its
  // connection stays open until the client gives up or the server goes).
  using Handler = std::function<std::optional<Reply>(const Received&)>;

  // Plain http; https with `certificate`. Listens on 127.0.0.1, a free port.
  explicit TestServer(GTlsCertificate* certificate = nullptr);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT".
  const std::string& origin() const { return origin_; }
  std::string url(const std::string& path) const { return origin_ + path; }

  // A fixed answer for `path`, before the handler is asked.
  void route(const std::string& path, Reply reply) { routes_[path] = std::move(reply); }
  Handler handler;                 // default: 200 "{}"
  std::vector<Received> received;  // every request, in order

 private:
  static void serve(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer self);
  SoupServer* server_ = nullptr;
  std::string origin_;
  std::map<std::string, Reply> routes_;
  std::vector<SoupServerMessage*> held_;
};

// An origin on 127.0.0.1 whose port was in use a moment ago and has nobody
// listening now.
std::string closedPortOrigin();

// A self-signed certificate for 127.0.0.1 made with the openssl tool;
// throws when it cannot be made.
class SelfSignedCertificate {
 public:
  SelfSignedCertificate();
  ~SelfSignedCertificate();
  SelfSignedCertificate(const SelfSignedCertificate&) = delete;
  SelfSignedCertificate& operator=(const SelfSignedCertificate&) = delete;

  GTlsCertificate* certificate() const { return certificate_; }
  // A database that trusts this certificate alone.
  GTlsDatabase* trustingDatabase() const { return database_; }

 private:
  TempDir dir_{"corvid-cert"};
  GTlsCertificate* certificate_ = nullptr;
  GTlsDatabase* database_ = nullptr;
};

}  // namespace corvid::testing
