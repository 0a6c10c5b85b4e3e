// A scripted HTTP transport on the virtual loop: records every request and
// answers after a virtual latency, or with `cancelled` when the waiting
// task's scope is cancelled first.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/http.h"
#include "base/virtual_loop.h"

namespace corvid::testing {

inline HttpResult answer(int status, std::string body = "{}") {
  HttpResult r;
  r.response = HttpResponse{status, std::move(body)};
  return r;
}

inline HttpResult noAnswer(HttpFailureKind kind, int code = 0) {
  HttpResult r;
  r.failure.kind = kind;
  r.failure.code = code;
  return r;
}

class FakeTransport : public HttpTransport {
 public:
  struct Sent {
    HttpRequest request;
    Time at;
    std::string path() const;
    nlohmann::json json() const { return nlohmann::json::parse(request.body); }
    std::string header(const std::string& name) const {
      for (const auto& [n, v] : request.headers) {
        if (n == name) return v;
      }
      return {};
    }
    bool hasHeader(const std::string& name) const {
      for (const auto& [n, v] : request.headers) {
        if (n == name) return true;
      }
      return false;
    }
  };

  explicit FakeTransport(VirtualLoop& loop) : loop_(loop) {}

  // Answers each request; by default 200 with an empty object.
  std::function<HttpResult(const Sent&)> handler;
  Duration latency = std::chrono::milliseconds(100);
  std::vector<Sent> sent;

  Task<HttpResult> send(HttpRequest request) override {
    sent.push_back({std::move(request), loop_.now()});
    HttpResult result = handler ? handler(sent.back()) : answer(200);
    bool finished = co_await sleepFor(loop_, latency);
    if (!finished) co_return noAnswer(HttpFailureKind::cancelled, 19);
    co_return result;
  }

 private:
  VirtualLoop& loop_;
};

inline std::string FakeTransport::Sent::path() const {
  auto scheme = request.url.find("://");
  auto slash = request.url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  return slash == std::string::npos ? "" : request.url.substr(slash);
}

}  // namespace corvid::testing
