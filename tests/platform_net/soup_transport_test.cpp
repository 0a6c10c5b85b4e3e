// The libsoup transport against real servers on 127.0.0.1.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/net/soup_transport.h"
#include "platform_net/test_server.h"
#include "push/relay.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;
using K = HttpFailureKind;

namespace {

HttpRequest post(const std::string& url, Duration timeout = 15s) {
  return HttpRequest{"POST", url, {{"Content-Type", "application/json"}}, "{}", timeout};
}

HttpResult send(SoupTransport& transport, HttpRequest request) {
  return runOnMainLoop(transport.send(std::move(request)), 20s);
}

}  // namespace

TEST(SoupTransport, SendsExactlyTheGivenRequestWithoutCookiesOrRedirects) {
  TestServer server;
  server.handler = [](const TestServer::Received& r) {
    if (r.path == "/v1/push") return TestServer::Reply{410, "gone", {{"Set-Cookie", "a=b; Path=/"}}};
    return TestServer::Reply{302, "", {{"Location", "/elsewhere"}}};
  };
  SoupTransport transport;
  HttpRequest request{"POST",
                      server.url("/v1/push"),
                      {{"Content-Type", "application/json"}, {"Authorization", "Bearer test-token"}},
                      R"({"label":"노트북"})",
                      15s};
  HttpResult result = send(transport, std::move(request));
  ASSERT_TRUE(result.response) << result.failure.detail;
  EXPECT_EQ(result.response->status, 410);  // a failure status is an answer like any other
  EXPECT_EQ(result.response->body, "gone");
  result = send(transport, post(server.url("/v1/status")));  // not followed to /elsewhere
  EXPECT_EQ(result.response.value_or(HttpResponse{}).status, 302) << result.failure.detail;

  // Nothing of the library's own beyond what HTTP needs: no cookie (though
  // one was set), user agent, content codings or credentials.
  ASSERT_EQ(server.received.size(), 2u);
  EXPECT_EQ(server.received[0].method + " " + server.received[0].body, R"(POST {"label":"노트북"})");
  EXPECT_EQ(server.received[0].headers["Authorization"], "Bearer test-token");
  std::string names;
  for (const auto& got : server.received)
    for (const auto& [name, value] : got.headers) names += name + " ";
  EXPECT_EQ(names,
            "Authorization Connection Content-Length Content-Type Host Connection Content-Length "
            "Content-Type Host ");
  // A header value that would end the header line is refused before sending.
  for (const std::string& bad :
       {std::string("x\r\nX-Evil: 1"), std::string("x\ny"), std::string("x\0y", 3)}) {
    HttpRequest injected = post(server.url("/v1/push"));
    injected.headers.emplace_back("Authorization", bad);
    EXPECT_EQ(send(transport, std::move(injected)).failure.kind, K::unclassified)
        << ::testing::PrintToString(bad);
  }
  EXPECT_EQ(server.received.size(), 2u);
}

TEST(SoupTransport, FailuresHaveTheirKindAndText) {
  SelfSignedCertificate cert;
  TestServer https(cert.certificate), quiet, hangUp;
  quiet.handler = [](const TestServer::Received&) { return std::nullopt; };
  hangUp.handler = [](const TestServer::Received&) { return TestServer::Reply{.hangUp = true}; };
  const std::tuple<std::string, K, std::string> cases[] = {
      {hangUp.origin, K::notConnected, "인터넷 연결 없음"},
      {quiet.origin, K::timedOut, "시간 초과"},
      {closedPortOrigin(), K::cannotFindHost, "서버를 찾을 수 없음"},
      {https.origin, K::secureConnection, "보안 연결 실패"}};
  SoupTransport transport;
  for (const auto& [origin, kind, text] : cases) {
    HttpResult r = send(transport, post(origin + "/v1/status", 500ms));
    EXPECT_EQ(r.failure.kind, kind) << origin << " " << r.failure.detail;
    EXPECT_EQ(relay::networkText(r.failure), text) << origin;
  }

  // Cancelling the waiting task cancels the request at once.
  std::optional<HttpResult> cancelled;
  auto waiter = [&]() -> Task<void> {
    HttpRequest request = post(quiet.url("/v1/push"), 10s);
    cancelled = co_await transport.send(std::move(request));
  };
  auto scope = spawn(waiter());
  scope->cancel();
  ASSERT_TRUE(spinUntil([&] { return cancelled.has_value(); }, 2s));
  EXPECT_EQ(cancelled->failure.kind, K::cancelled) << cancelled->failure.detail;

  // The other errors GLib and libsoup report.
  const std::tuple<GQuark, int, K> others[] = {
      {G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, K::notConnected},
      {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, K::timedOut},
      {G_IO_ERROR, G_IO_ERROR_HOST_NOT_FOUND, K::cannotFindHost},
      {G_RESOLVER_ERROR, G_RESOLVER_ERROR_TEMPORARY_FAILURE, K::cannotFindHost},
      {G_IO_ERROR, G_IO_ERROR_PROXY_FAILED, K::other},
      {SOUP_SESSION_ERROR, SOUP_SESSION_ERROR_PARSING, K::other},
      {G_FILE_ERROR, G_FILE_ERROR_NOENT, K::unclassified}};
  for (const auto& [domain, code, kind] : others) {
    GError* error = g_error_new_literal(domain, code, "test");
    EXPECT_EQ(classifyTransportError(error, false).kind, kind) << g_quark_to_string(domain) << " " << code;
    g_error_free(error);
  }
}

TEST(SoupTransport, HungRequestsHoldUpNeitherLaterOnesNorTheirTimeOuts) {
  TestServer server;
  server.handler = [](const TestServer::Received& r) -> std::optional<TestServer::Reply> {
    if (r.path == "/hang") return std::nullopt;
    if (r.path == "/busy") return TestServer::Reply{429, "{}", {{"Retry-After", "30"}}};
    return TestServer::Reply{};
  };
  struct InFlight {
    std::shared_ptr<CancelScope> scope;
    std::shared_ptr<std::optional<HttpResult>> result = std::make_shared<std::optional<HttpResult>>();
  };
  auto start = [](SoupTransport& t, HttpRequest r) {
    InFlight f;
    f.scope = spawn([](SoupTransport& t, HttpRequest r, auto out) -> Task<void> {
      *out = co_await t.send(std::move(r));
    }(t, std::move(r), f.result));
    return f;
  };

  // Two requests the server never answers, then one it answers at once.
  SoupTransport transport;
  std::vector<InFlight> hung = {start(transport, post(server.url("/hang"))), start(transport, post(server.url("/hang")))};
  ASSERT_TRUE(spinUntil([&] { return server.received.size() == 2; }));
  const auto began = std::chrono::steady_clock::now();
  HttpResult third = send(transport, post(server.url("/v1/push")));
  EXPECT_LT(std::chrono::steady_clock::now() - began, 1s);
  EXPECT_EQ(third.response.value_or(HttpResponse{}).status, 200) << third.failure.detail;
  for (auto& h : hung) h.scope->cancel();
  ASSERT_TRUE(spinUntil([&] { return *hung[0].result && *hung[1].result; }));
  EXPECT_EQ((*hung[0].result)->failure.kind, K::cancelled);

  // With one connection, a request queued behind a hung one gets its whole
  // time-out once it reaches the network.
  SoupTransport single(SoupTransport::Options{.maxConnectionsPerHost = 1});
  InFlight blocker = start(single, post(server.url("/hang"), 1500ms));
  HttpResult queued = send(single, post(server.url("/busy"), 1s));
  ASSERT_TRUE(queued.response) << queued.failure.detail;
  ASSERT_TRUE(spinUntil([&] { return blocker.result->has_value(); }));
  EXPECT_EQ((*blocker.result)->failure.kind, K::timedOut);
  // The server's Retry-After is passed on.
  EXPECT_EQ(queued.response->headers,
            (std::vector<std::pair<std::string, std::string>>{{"retry-after", "30"}}));
}
