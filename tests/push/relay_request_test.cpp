// The relay request: endpoint, request shape and the classification of
// every answer and failure.
#include <gtest/gtest.h>

#include "push/push_fixture.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

// The problem texts a case starts from, left by two earlier requests.
const std::string kPriorConnection = "알림 서버에 문제가 있습니다 (HTTP 599).";
const std::string kPriorDelivery = "iPhone으로 알림을 전달하지 못했습니다 (Apple: prior).";

enum class Expect { unchanged, cleared, set };
struct Problem {
  Expect expect;
  std::string text = {};
};

struct Case {
  const char* name;
  std::string path;
  HttpResult reply;
  bool ok;
  int code;  // when !ok
  std::string message;
  Problem connection;
  Problem delivery;
};

class RelayRequest : public PushFixture {
 protected:
  void prime() {
    PushClient& c = push();
    transport.handler = [](const FakeTransport::Sent&) { return answer(502, R"({"reason":"prior"})"); };
    run(c.request("/v1/push", "POST", "s", {}));
    transport.handler = [](const FakeTransport::Sent&) { return answer(599); };
    run(c.request("/v1/status", "POST", "s", {}));
    ASSERT_EQ(c.connectionProblem(), kPriorConnection);
    ASSERT_EQ(c.deliveryProblem(), kPriorDelivery);
  }

  static void check(const std::optional<std::string>& actual, const Problem& p, const std::string& prior,
                    const char* what, const char* name) {
    switch (p.expect) {
      case Expect::unchanged:
        EXPECT_EQ(actual, prior) << name << ": " << what;
        break;
      case Expect::cleared:
        EXPECT_EQ(actual, std::nullopt) << name << ": " << what;
        break;
      case Expect::set:
        EXPECT_EQ(actual, p.text) << name << ": " << what;
        break;
    }
  }
};

const std::string kConnTimeout = "알림 서버에 연결할 수 없습니다 (시간 초과).";

}  // namespace

TEST_F(RelayRequest, ClassifiesEveryAnswerAndFailure) {
  const Case cases[] = {
      {"200 push",
       "/v1/push",
       answer(200, R"({"ok":true})"),
       true,
       0,
       "",
       {Expect::cleared},
       {Expect::cleared}},
      {"200 status", "/v1/status", answer(200), true, 0, "", {Expect::cleared}, {Expect::unchanged}},
      {"200 non-object body",
       "/v1/push",
       answer(200, "[1,2]"),
       true,
       0,
       "",
       {Expect::cleared},
       {Expect::cleared}},
      {"503 push",
       "/v1/push",
       answer(503, "{}"),
       false,
       503,
       "HTTP 503",
       {Expect::set, "알림 서버에 문제가 있습니다 (HTTP 503)."},
       {Expect::unchanged}},
      {"500 array body",
       "/v1/status",
       answer(500, R"(["x"])"),
       false,
       500,
       "HTTP 500",
       {Expect::set, "알림 서버에 문제가 있습니다 (HTTP 500)."},
       {Expect::unchanged}},
      {"502 push with reason",
       "/v1/push",
       answer(502, R"({"reason":"BadDeviceToken"})"),
       false,
       502,
       "BadDeviceToken",
       {Expect::cleared},
       {Expect::set, "iPhone으로 알림을 전달하지 못했습니다 (Apple: BadDeviceToken)."}},
      {"502 push without reason",
       "/v1/push",
       answer(502, R"({"reason":7})"),
       false,
       502,
       "HTTP 502",
       {Expect::cleared},
       {Expect::set, "iPhone으로 알림을 전달하지 못했습니다 (Apple: 오류)."}},
      {"502 status with reason",
       "/v1/status",
       answer(502, R"({"reason":"BadDeviceToken"})"),
       false,
       502,
       "BadDeviceToken",
       {Expect::cleared},
       {Expect::unchanged}},
      {"502 status without reason",
       "/v1/status",
       answer(502, ""),
       false,
       502,
       "HTTP 502",
       {Expect::cleared},
       {Expect::unchanged}},
      {"404 not JSON",
       "/v1/pair",
       answer(404, "<html>Not Found</html>"),
       false,
       404,
       "HTTP 404",
       {Expect::cleared},
       {Expect::unchanged}},
      {"400 error and reason",
       "/v1/push",
       answer(400, R"({"error":"E","reason":"R"})"),
       false,
       400,
       "E",
       {Expect::cleared},
       {Expect::unchanged}},
      {"400 reason only",
       "/v1/push",
       answer(400, R"({"error":null,"reason":"R"})"),
       false,
       400,
       "R",
       {Expect::cleared},
       {Expect::unchanged}},
      {"201 is a failure",
       "/v1/push",
       answer(201, "{}"),
       false,
       201,
       "HTTP 201",
       {Expect::cleared},
       {Expect::unchanged}},
      {"204 is a failure",
       "/v1/pair",
       answer(204, ""),
       false,
       204,
       "HTTP 204",
       {Expect::cleared},
       {Expect::unchanged}},
      {"time-out",
       "/v1/push",
       noAnswer(HttpFailureKind::timedOut),
       false,
       -1,
       kConnTimeout,
       {Expect::set, kConnTimeout},
       {Expect::unchanged}},
      {"not connected",
       "/v1/push",
       noAnswer(HttpFailureKind::notConnected),
       false,
       -1,
       "알림 서버에 연결할 수 없습니다 (인터넷 연결 없음).",
       {Expect::set, "알림 서버에 연결할 수 없습니다 (인터넷 연결 없음)."},
       {Expect::unchanged}},
      {"no host",
       "/v1/status",
       noAnswer(HttpFailureKind::cannotFindHost),
       false,
       -1,
       "알림 서버에 연결할 수 없습니다 (서버를 찾을 수 없음).",
       {Expect::set, "알림 서버에 연결할 수 없습니다 (서버를 찾을 수 없음)."},
       {Expect::unchanged}},
      {"tls",
       "/v1/pair",
       noAnswer(HttpFailureKind::secureConnection),
       false,
       -1,
       "알림 서버에 연결할 수 없습니다 (보안 연결 실패).",
       {Expect::set, "알림 서버에 연결할 수 없습니다 (보안 연결 실패)."},
       {Expect::unchanged}},
      {"other",
       "/v1/push",
       noAnswer(HttpFailureKind::other, 42),
       false,
       -1,
       "알림 서버에 연결할 수 없습니다 (네트워크 오류 42).",
       {Expect::set, "알림 서버에 연결할 수 없습니다 (네트워크 오류 42)."},
       {Expect::unchanged}},
      {"unclassified",
       "/v1/push",
       noAnswer(HttpFailureKind::unclassified, 3),
       false,
       -1,
       "알림 서버에 연결할 수 없습니다 (네트워크 오류).",
       {Expect::set, "알림 서버에 연결할 수 없습니다 (네트워크 오류)."},
       {Expect::unchanged}},
      {"cancelled",
       "/v1/push",
       noAnswer(HttpFailureKind::cancelled, 19),
       false,
       -1,
       "알림 서버에 연결할 수 없습니다 (네트워크 오류 19).",
       {Expect::unchanged},
       {Expect::unchanged}},
  };
  for (const auto& c : cases) {
    make();
    prime();
    transport.handler = [&](const FakeTransport::Sent&) { return c.reply; };
    RelayResult result = run(push().request(c.path, "POST", "s", {}));
    ASSERT_EQ(result.ok(), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(nlohmann::json(result.body()), nlohmann::json::parse(c.reply.response->body).is_object()
                                                   ? nlohmann::json::parse(c.reply.response->body)
                                                   : nlohmann::json::object())
          << c.name;
    } else {
      EXPECT_EQ(result.error(), (RelayError{"push", c.code, c.message})) << c.name;
    }
    check(push().connectionProblem(), c.connection, kPriorConnection, "connection problem", c.name);
    check(push().deliveryProblem(), c.delivery, kPriorDelivery, "delivery problem", c.name);
  }
}

TEST_F(RelayRequest, BuildsOneCompactJsonPostOnTheServerOrigin) {
  PushClient& c = make();
  c.setServerURL("  https://relay.test:8443/base/path?x=1 \n");
  transport.handler = [](const FakeTransport::Sent&) { return answer(200, R"({"secret":"abc"})"); };
  RelayResult r = run(c.request("/v1/push", "POST", "the-secret", {{"kind", "message"}, {"badge", 3}}));
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(transport.sent.size(), 1u);
  const auto& sent = transport.sent[0];
  EXPECT_EQ(sent.request.url, "https://relay.test:8443/v1/push");
  EXPECT_EQ(sent.request.method, "POST");
  EXPECT_EQ(sent.request.timeout, 15s);
  EXPECT_EQ(sent.request.body, R"({"badge":3,"kind":"message"})");
  ASSERT_EQ(sent.request.headers.size(), 2u);
  EXPECT_EQ(sent.request.headers[0],
            (std::pair<std::string, std::string>{"Content-Type", "application/json"}));
  EXPECT_EQ(sent.request.headers[1].first, "Authorization");
  EXPECT_TRUE(sent.request.headers[1].second == "Bearer the-secret") << "bearer header differs";

  c.setServerURL("\u3000http://127.0.0.1:9000\u3000");  // ideographic spaces around it
  run(c.request("/v1/pair", "POST", std::nullopt, {}));
  EXPECT_EQ(transport.sent.back().request.url, "http://127.0.0.1:9000/v1/pair");
  EXPECT_EQ(transport.sent.back().request.body, "{}");
  EXPECT_FALSE(transport.sent.back().hasHeader("Authorization"));
}

TEST_F(RelayRequest, AnUnusableServerURLOrBodySendsNothingAndKeepsTheProblems) {
  PushClient& c = make();
  // A request still in flight when the URL changes sets its problem after
  // the change; the unusable URL must then leave it alone.
  transport.handler = [](const FakeTransport::Sent&) { return answer(503); };
  spawn([](PushClient& c) -> Task<void> { co_await c.request("/v1/status", "POST", "s", {}); }(c));
  c.setServerURL("relay.test");
  loop.advance(1s);
  const std::string prior = "알림 서버에 문제가 있습니다 (HTTP 503).";
  ASSERT_EQ(c.connectionProblem(), prior);

  std::size_t before = transport.sent.size();
  for (const char* url : {"relay.test", "relay.test:8443", "ftp://relay.test", "https://", "", " \n",
                          "https://exa mple.test", "mailto:relay@example.test"}) {
    if (c.serverURL() != url) c.setServerURL(url);
    RelayResult r = run(c.request("/v1/push", "POST", "s", {}));
    ASSERT_FALSE(r.ok()) << url;
    EXPECT_EQ(r.error(), (RelayError{"push", -2, "알림 서버 주소가 올바르지 않습니다"})) << url;
    if (std::string(url) == "relay.test") {
      EXPECT_EQ(c.connectionProblem(), prior);
    }
  }
  EXPECT_EQ(transport.sent.size(), before);

  // A body that does not serialise fails with the serialiser's error.
  make().setServerURL("https://relay.test");
  prime();
  before = transport.sent.size();
  RelayResult r = run(push().request("/v1/push", "POST", "s", {{"title", "\xff\xfe"}}));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().domain, "json");
  EXPECT_EQ(transport.sent.size(), before);
  EXPECT_EQ(push().connectionProblem(), kPriorConnection);
  EXPECT_EQ(push().deliveryProblem(), kPriorDelivery);
}
