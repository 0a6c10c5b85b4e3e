// The libsoup transport against real servers on 127.0.0.1.
#include <gtest/gtest.h>

#include <set>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/net/soup_transport.h"
#include "test_server.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

HttpRequest post(const std::string& url, std::string body = "{}", Duration timeout = 15s) {
  HttpRequest r;
  r.url = url;
  r.body = std::move(body);
  r.timeout = timeout;
  r.headers = {{"Content-Type", "application/json"}};
  return r;
}

HttpResult sendOnLoop(SoupTransport& transport, HttpRequest request) {
  return runOnMainLoop(transport.send(std::move(request)), 20s);
}

std::string lower(std::string s) {
  for (char& c : s) c = g_ascii_tolower(c);
  return s;
}

const char* kindName(HttpFailureKind k) {
  switch (k) {
    case HttpFailureKind::notConnected:
      return "notConnected";
    case HttpFailureKind::timedOut:
      return "timedOut";
    case HttpFailureKind::cannotFindHost:
      return "cannotFindHost";
    case HttpFailureKind::secureConnection:
      return "secureConnection";
    case HttpFailureKind::cancelled:
      return "cancelled";
    case HttpFailureKind::other:
      return "other";
    case HttpFailureKind::unclassified:
      return "unclassified";
  }
  return "?";
}

}  // namespace

TEST(SoupTransport, SendsExactlyTheGivenRequestAndReturnsAnyStatusAsAnAnswer) {
  TestServer server;
  server.handler = [](const TestServer::Received& r) {
    return r.path == "/v1/push" ? TestServer::Reply{410, R"({"error":"gone"})"}
                                : TestServer::Reply{200, R"({"ok":1})"};
  };
  SoupTransport transport;
  HttpRequest request = post(server.origin() + "/v1/pair", R"({"code":"123456","label":"노트북"})");
  request.headers.emplace_back("Authorization", "Bearer test-token");
  HttpResult result = sendOnLoop(transport, std::move(request));
  ASSERT_TRUE(result.response) << result.failure.detail;
  EXPECT_EQ(result.response->status, 200);
  EXPECT_EQ(result.response->body, R"({"ok":1})");

  ASSERT_EQ(server.received.size(), 1u);
  const auto& got = server.received[0];
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.path, "/v1/pair");
  EXPECT_EQ(got.body, R"({"code":"123456","label":"노트북"})");
  EXPECT_EQ(got.header("Content-Type"), "application/json");
  EXPECT_TRUE(got.header("Authorization") == "Bearer test-token")
      << "the bearer header did not arrive intact";
  // Nothing of the library's own beyond what HTTP needs: no cookies, no
  // user agent, no content codings, no credentials.
  std::set<std::string> names;
  for (const auto& [n, v] : got.headers) names.insert(lower(n));
  std::set<std::string> allowed{"host", "content-type", "content-length", "authorization", "connection"};
  for (const auto& n : names) EXPECT_TRUE(allowed.count(n)) << "unexpected header " << n;
  if (names.count("connection")) {
    EXPECT_EQ(lower(got.header("Connection")), "keep-alive");
  }

  // A failure status is an answer like any other; redirects are not followed.
  result = sendOnLoop(transport, post(server.origin() + "/v1/push"));
  ASSERT_TRUE(result.response);
  EXPECT_EQ(result.response->status, 410);
  EXPECT_EQ(result.response->body, R"({"error":"gone"})");
  server.handler = [](const TestServer::Received&) {
    return TestServer::Reply{302, "", {{"Location", "http://127.0.0.1:1/elsewhere"}}};
  };
  result = sendOnLoop(transport, post(server.origin() + "/v1/status"));
  ASSERT_TRUE(result.response) << result.failure.detail;
  EXPECT_EQ(result.response->status, 302);
  EXPECT_EQ(server.received.size(), 3u);
}

TEST(SoupTransport, HttpsTrustsOnlyItsCertificateStore) {
  SelfSignedCertificate cert;
  ASSERT_TRUE(cert.error().empty()) << cert.error();
  TestServer server(cert.certificate());

  // The system store does not know the self-signed certificate.
  SoupTransport system;
  HttpResult result = sendOnLoop(system, post(server.origin() + "/v1/status"));
  ASSERT_FALSE(result.response);
  EXPECT_EQ(result.failure.kind, HttpFailureKind::secureConnection) << result.failure.detail;
  EXPECT_TRUE(server.received.empty());

  // With a store that trusts it, the same server answers over TLS.
  SoupTransport trusting({cert.trustingDatabase()});
  result = sendOnLoop(trusting, post(server.origin() + "/v1/status"));
  ASSERT_TRUE(result.response) << result.failure.detail;
  EXPECT_EQ(result.response->status, 200);
  ASSERT_EQ(server.received.size(), 1u);
  EXPECT_EQ(server.received[0].body, "{}");
}

TEST(SoupTransport, UnreachableServersFailWithTheirKind) {
  SoupTransport transport;
  HttpResult refused = sendOnLoop(transport, post(closedPortOrigin() + "/v1/push"));
  ASSERT_FALSE(refused.response);
  EXPECT_EQ(refused.failure.kind, HttpFailureKind::cannotFindHost) << refused.failure.detail;

  HangingUpListener hangingUp;
  HttpResult lost = sendOnLoop(transport, post(hangingUp.origin() + "/v1/push"));
  ASSERT_FALSE(lost.response);
  EXPECT_EQ(lost.failure.kind, HttpFailureKind::notConnected) << lost.failure.detail;

  SilentListener silent;
  auto start = std::chrono::steady_clock::now();
  HttpResult late = sendOnLoop(transport, post(silent.origin() + "/v1/push", "{}", 300ms));
  auto took = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(late.response);
  EXPECT_EQ(late.failure.kind, HttpFailureKind::timedOut) << late.failure.detail;
  EXPECT_GE(took, 300ms);
  EXPECT_LT(took, 5s);

  HttpResult unusable = sendOnLoop(transport, post("ftp://127.0.0.1/v1/push"));
  ASSERT_FALSE(unusable.response);
  EXPECT_EQ(unusable.failure.kind, HttpFailureKind::unclassified);

  // A header value that would end the header line is refused before sending.
  TestServer server;
  HttpRequest injected = post(server.origin() + "/v1/push");
  injected.headers.emplace_back("Authorization", "Bearer x\r\nX-Evil: 1");
  HttpResult refusedHeader = sendOnLoop(transport, std::move(injected));
  ASSERT_FALSE(refusedHeader.response);
  EXPECT_EQ(refusedHeader.failure.kind, HttpFailureKind::unclassified);
  EXPECT_EQ(refusedHeader.failure.detail.find("Evil"), std::string::npos);
  EXPECT_TRUE(server.received.empty());
}

TEST(SoupTransport, CancellingTheWaitingTaskCancelsTheRequest) {
  SoupTransport transport;
  SilentListener silent;
  GLibScheduler scheduler;
  HttpResult result;
  auto race = [&]() -> Task<std::size_t> {
    auto request = [&]() -> Task<void> {
      result = co_await transport.send(post(silent.origin() + "/v1/push", "{}", 10s));
    };
    auto sleeper = [&]() -> Task<void> { co_await sleepFor(scheduler, 200ms); };
    std::vector<Task<void>> tasks;
    tasks.push_back(request());
    tasks.push_back(sleeper());
    co_return co_await firstOf(std::move(tasks));
  };
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runOnMainLoop(race(), 20s), 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  ASSERT_FALSE(result.response);
  EXPECT_EQ(result.failure.kind, HttpFailureKind::cancelled) << result.failure.detail;
}

TEST(SoupTransport, ErrorDomainsMapOntoFailureKinds) {
  struct Case {
    GQuark domain;
    int code;
    bool timedOut;
    HttpFailureKind kind;
  };
  const Case cases[] = {
      {G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, false, HttpFailureKind::notConnected},
      {G_IO_ERROR, G_IO_ERROR_NOT_CONNECTED, false, HttpFailureKind::notConnected},
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_CLOSED, false, HttpFailureKind::notConnected},
      {G_IO_ERROR, G_IO_ERROR_PARTIAL_INPUT, false, HttpFailureKind::notConnected},
      {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, false, HttpFailureKind::timedOut},
      {G_IO_ERROR, G_IO_ERROR_CANCELLED, true, HttpFailureKind::timedOut},
      {G_IO_ERROR, G_IO_ERROR_CANCELLED, false, HttpFailureKind::cancelled},
      {G_IO_ERROR, G_IO_ERROR_HOST_NOT_FOUND, false, HttpFailureKind::cannotFindHost},
      {G_IO_ERROR, G_IO_ERROR_HOST_UNREACHABLE, false, HttpFailureKind::cannotFindHost},
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, false, HttpFailureKind::cannotFindHost},
      {G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, false, HttpFailureKind::cannotFindHost},
      {G_RESOLVER_ERROR, G_RESOLVER_ERROR_TEMPORARY_FAILURE, false, HttpFailureKind::cannotFindHost},
      {G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE, false, HttpFailureKind::secureConnection},
      {G_TLS_ERROR, G_TLS_ERROR_NOT_TLS, false, HttpFailureKind::secureConnection},
      {G_TLS_ERROR, G_TLS_ERROR_HANDSHAKE, false, HttpFailureKind::secureConnection},
      {G_IO_ERROR, G_IO_ERROR_PROXY_FAILED, false, HttpFailureKind::other},
      {SOUP_SESSION_ERROR, SOUP_SESSION_ERROR_PARSING, false, HttpFailureKind::other},
      {G_FILE_ERROR, G_FILE_ERROR_NOENT, false, HttpFailureKind::unclassified},
  };
  for (const auto& c : cases) {
    GError* error = g_error_new_literal(c.domain, c.code, "test");
    HttpFailure f = classifyTransportError(error, c.timedOut);
    EXPECT_EQ(f.kind, c.kind) << g_quark_to_string(c.domain) << " " << c.code << " got " << kindName(f.kind);
    EXPECT_EQ(f.code, c.code);
    g_error_free(error);
  }
}
