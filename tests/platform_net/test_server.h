// Real servers on 127.0.0.1 for the adapter tests: a libsoup HTTP(S) server
// answering from a handler (or never, or by hanging up), a port where nobody
// listens, and a throw-away self-signed certificate. The server lives on the
// default main context; iterate it while waiting.
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

struct TestServer {
  struct Received {
    std::string method, path, body;
    std::map<std::string, std::string> headers;  // names as sent
  };
  struct Reply {
    int status = 200;
    std::string body = "{}";
    std::vector<std::pair<std::string, std::string>> headers = {};
    std::string contentType = "application/json";
    bool hangUp = false;  // close the connection instead of answering
  };

  // Plain http; https with `certificate`. Listens on a free port of 127.0.0.1.
  explicit TestServer(GTlsCertificate* certificate = nullptr);
  ~TestServer();
  std::string url(const std::string& path) const { return origin + path; }

  std::string origin;                   // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT"
  std::map<std::string, Reply> routes;  // fixed answers by path, before the handler is asked
  // The answer to any other request (default: 200 "{}"); nothing: never answered.
  std::function<std::optional<Reply>(const Received&)> handler;
  std::vector<Received> received;  // every request, in order
  SoupServer* server = nullptr;
};

// An origin on 127.0.0.1 whose port was in use a moment ago and has nobody
// listening now.
std::string closedPortOrigin();

// A self-signed certificate for 127.0.0.1 made with the openssl tool; throws
// when it cannot be made.
struct SelfSignedCertificate {
  SelfSignedCertificate();
  ~SelfSignedCertificate();
  TempDir dir{"corvid-cert"};
  GTlsCertificate* certificate = nullptr;
};

}  // namespace corvid::testing
