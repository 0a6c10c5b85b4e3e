// The libsoup transport against real servers on 127.0.0.1.
#include <gtest/gtest.h>

#include <set>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/net/soup_transport.h"
#include "platform_net/test_server.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;

namespace {

HttpRequest post(const std::string& url, Duration timeout = 15s) {
  return HttpRequest{"POST", url, {{"Content-Type", "application/json"}}, "{}", timeout};
}

HttpResult sendOnLoop(SoupTransport& transport, HttpRequest request) {
  return runOnMainLoop(transport.send(std::move(request)), 20s);
}

}  // namespace

TEST(SoupTransport, SendsExactlyTheGivenRequestAndReturnsAnyStatusAsAnAnswer) {
  TestServer server;
  server.handler = [](const TestServer::Received& r) {
    return r.path == "/v1/push" ? TestServer::Reply{410, R"({"error":"gone"})"}
                                : TestServer::Reply{302, "", {{"Location", "http://127.0.0.1:1/elsewhere"}}};
  };
  SoupTransport transport;
  HttpRequest request = post(server.url("/v1/push"));
  request.body = R"({"code":"123456","label":"노트북"})";
  request.headers.emplace_back("Authorization", "Bearer test-token");
  HttpResult result = sendOnLoop(transport, std::move(request));
  ASSERT_TRUE(result.response) << result.failure.detail;
  EXPECT_EQ(result.response->status, 410);  // a failure status is an answer like any other
  EXPECT_EQ(result.response->body, R"({"error":"gone"})");

  ASSERT_EQ(server.received.size(), 1u);
  const auto& got = server.received[0];
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.body, R"({"code":"123456","label":"노트북"})");
  EXPECT_EQ(got.header("Content-Type"), "application/json");
  EXPECT_TRUE(got.header("Authorization") == "Bearer test-token") << "the bearer header did not arrive intact";
  // Nothing of the library's own beyond what HTTP needs: no cookies, no
  // user agent, no content codings, no credentials.
  const std::set<std::string> allowed{"host", "content-type", "content-length", "authorization", "connection"};
  for (auto [name, value] : got.headers) {
    for (char& c : name) c = g_ascii_tolower(c);
    EXPECT_TRUE(allowed.count(name)) << "unexpected header " << name;
  }

  // Redirects are not followed.
  result = sendOnLoop(transport, post(server.url("/v1/status")));
  ASSERT_TRUE(result.response) << result.failure.detail;
  EXPECT_EQ(result.response->status, 302);
  EXPECT_EQ(server.received.size(), 2u);
}

TEST(SoupTransport, HttpsTrustsOnlyItsCertificateStore) {
  SelfSignedCertificate cert;
  TestServer server(cert.certificate());
  SoupTransport system;  // the system store does not know the certificate
  HttpResult result = sendOnLoop(system, post(server.url("/v1/status")));
  ASSERT_FALSE(result.response);
  EXPECT_EQ(result.failure.kind, HttpFailureKind::secureConnection) << result.failure.detail;
  EXPECT_TRUE(server.received.empty());

  SoupTransport trusting({cert.trustingDatabase()});
  result = sendOnLoop(trusting, post(server.url("/v1/status")));
  ASSERT_TRUE(result.response) << result.failure.detail;
  EXPECT_EQ(result.response->status, 200);
}

TEST(SoupTransport, FailuresHaveTheirKind) {
  SoupTransport transport;
  TestServer silent;
  silent.handler = [](const TestServer::Received&) { return std::nullopt; };
  HttpResult late = sendOnLoop(transport, post(silent.url("/v1/push"), 300ms));
  EXPECT_EQ(late.failure.kind, HttpFailureKind::timedOut) << late.failure.detail;
  EXPECT_EQ(sendOnLoop(transport, post(closedPortOrigin())).failure.kind, HttpFailureKind::cannotFindHost);
  EXPECT_EQ(sendOnLoop(transport, post("ftp://127.0.0.1/v1/push")).failure.kind, HttpFailureKind::unclassified);

  // A header value that would end the header line is refused before sending.
  HttpRequest injected = post(silent.url("/v1/push"));
  injected.headers.emplace_back("Authorization", "Bearer x\r\nX-Evil: 1");
  HttpResult refused = sendOnLoop(transport, std::move(injected));
  ASSERT_FALSE(refused.response);
  EXPECT_EQ(refused.failure.kind, HttpFailureKind::unclassified);
  EXPECT_EQ(silent.received.size(), 1u);
}

TEST(SoupTransport, CancellingTheWaitingTaskCancelsTheRequest) {
  SoupTransport transport;
  TestServer silent;
  silent.handler = [](const TestServer::Received&) { return std::nullopt; };
  GLibScheduler scheduler;
  HttpResult result;
  auto race = [&]() -> Task<std::size_t> {
    auto request = [&]() -> Task<void> { result = co_await transport.send(post(silent.url("/"), 10s)); };
    auto sleeper = [&]() -> Task<void> { co_await sleepFor(scheduler, 200ms); };
    std::vector<Task<void>> tasks;
    tasks.push_back(request());
    tasks.push_back(sleeper());
    co_return co_await firstOf(std::move(tasks));
  };
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runOnMainLoop(race(), 20s), 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(result.failure.kind, HttpFailureKind::cancelled) << result.failure.detail;
}

TEST(SoupTransport, ErrorDomainsMapOntoFailureKinds) {
  using K = HttpFailureKind;
  const struct {
    GQuark domain;
    int code;
    bool timedOut;
    HttpFailureKind kind;
  } cases[] = {
      {G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, false, K::notConnected},
      {G_IO_ERROR, G_IO_ERROR_NOT_CONNECTED, false, K::notConnected},
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_CLOSED, false, K::notConnected},
      {G_IO_ERROR, G_IO_ERROR_PARTIAL_INPUT, false, K::notConnected},
      {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, false, K::timedOut},
      {G_IO_ERROR, G_IO_ERROR_CANCELLED, true, K::timedOut},
      {G_IO_ERROR, G_IO_ERROR_CANCELLED, false, K::cancelled},
      {G_IO_ERROR, G_IO_ERROR_HOST_NOT_FOUND, false, K::cannotFindHost},
      {G_IO_ERROR, G_IO_ERROR_HOST_UNREACHABLE, false, K::cannotFindHost},
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, false, K::cannotFindHost},
      {G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, false, K::cannotFindHost},
      {G_RESOLVER_ERROR, G_RESOLVER_ERROR_TEMPORARY_FAILURE, false, K::cannotFindHost},
      {G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE, false, K::secureConnection},
      {G_TLS_ERROR, G_TLS_ERROR_NOT_TLS, false, K::secureConnection},
      {G_TLS_ERROR, G_TLS_ERROR_HANDSHAKE, false, K::secureConnection},
      {G_IO_ERROR, G_IO_ERROR_PROXY_FAILED, false, K::other},
      {SOUP_SESSION_ERROR, SOUP_SESSION_ERROR_PARSING, false, K::other},
      {G_FILE_ERROR, G_FILE_ERROR_NOENT, false, K::unclassified},
  };
  for (const auto& c : cases) {
    GError* error = g_error_new_literal(c.domain, c.code, "test");
    HttpFailure f = classifyTransportError(error, c.timedOut);
    EXPECT_EQ(f.kind, c.kind) << g_quark_to_string(c.domain) << " " << c.code;
    EXPECT_EQ(f.code, c.code);
    g_error_free(error);
  }
}
