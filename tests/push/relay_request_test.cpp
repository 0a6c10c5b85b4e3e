// The relay request: endpoint, request shape and the classification of
// every answer and failure.
#include <gtest/gtest.h>

#include "push/push_fixture.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

// The problem texts each case starts from, left by two earlier requests.
const std::string kPriorConnection = "알림 서버에 문제가 있습니다 (HTTP 599).";
const std::string kPriorDelivery = "iPhone으로 알림을 전달하지 못했습니다 (Apple: prior).";
// Expected problem texts: kSame for the prior text, "" for none.
const std::string kSame = "=";

class RelayRequest : public PushFixture {
 protected:
  PushClient& primed() {
    PushClient& c = make();
    replyAll(answer(502, R"({"reason":"prior"})"));
    run(c.request("/v1/push", "POST", "s", {}));
    replyAll(answer(599));
    run(c.request("/v1/status", "POST", "s", {}));
    EXPECT_EQ(c.connectionProblem(), kPriorConnection);
    EXPECT_EQ(c.deliveryProblem(), kPriorDelivery);
    return c;
  }
  static std::optional<std::string> expected(const std::string& text, const std::string& prior) {
    if (text == kSame) return prior;
    return text.empty() ? std::nullopt : std::optional(text);
  }
};

}  // namespace

TEST_F(RelayRequest, ClassifiesEveryAnswerAndFailure) {
  struct Case {
    std::string path;
    HttpResult reply;
    int code;             // 0: success
    std::string message;  // the error's message, or on success the body as JSON
    std::string connection, delivery;
  };
  const std::string timeout = "알림 서버에 연결할 수 없습니다 (시간 초과).";
  const std::string other = "알림 서버에 연결할 수 없습니다 (네트워크 오류 42).";
  const Case cases[] = {
      {"/v1/push", answer(200, R"({"ok":true})"), 0, R"({"ok":true})", "", ""},
      {"/v1/status", answer(200), 0, "{}", "", kSame},
      {"/v1/push", answer(200, "[1,2]"), 0, "{}", "", ""},
      {"/v1/push", answer(503), 503, "HTTP 503", "알림 서버에 문제가 있습니다 (HTTP 503).", kSame},
      {"/v1/push", answer(502, R"({"reason":"BadDeviceToken"})"), 502, "BadDeviceToken", "",
       "iPhone으로 알림을 전달하지 못했습니다 (Apple: BadDeviceToken)."},
      {"/v1/push", answer(502, R"({"reason":7})"), 502, "HTTP 502", "",
       "iPhone으로 알림을 전달하지 못했습니다 (Apple: 오류)."},
      {"/v1/status", answer(502, R"({"reason":"BadDeviceToken"})"), 502, "BadDeviceToken", "", kSame},
      {"/v1/status", answer(502, ""), 502, "HTTP 502", "", kSame},
      {"/v1/pair", answer(404, "<html>Not Found</html>"), 404, "HTTP 404", "", kSame},
      {"/v1/push", answer(400, R"({"error":"E","reason":"R"})"), 400, "E", "", kSame},
      {"/v1/push", answer(400, R"({"error":null,"reason":"R"})"), 400, "R", "", kSame},
      {"/v1/push", answer(201), 201, "HTTP 201", "", kSame},
      {"/v1/pair", answer(204, ""), 204, "HTTP 204", "", kSame},
      {"/v1/push", noAnswer(HttpFailureKind::timedOut), -1, timeout, timeout, kSame},
      {"/v1/push", noAnswer(HttpFailureKind::other, 42), -1, other, other, kSame},
      // A cancelled request says nothing about the server.
      {"/v1/push", noAnswer(HttpFailureKind::cancelled, 19), -1,
       "알림 서버에 연결할 수 없습니다 (네트워크 오류 19).", kSame, kSame},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.message);
    PushClient& client = primed();
    replyAll(c.reply);
    RelayResult result = run(client.request(c.path, "POST", "s", {}));
    ASSERT_EQ(result.ok(), c.code == 0);
    if (c.code == 0) {
      EXPECT_EQ(Json(result.body()), Json::parse(c.message));
    } else {
      EXPECT_EQ(result.error(), (RelayError{"push", c.code, c.message}));
    }
    EXPECT_EQ(client.connectionProblem(), expected(c.connection, kPriorConnection));
    EXPECT_EQ(client.deliveryProblem(), expected(c.delivery, kPriorDelivery));
  }
}

TEST_F(RelayRequest, BuildsOneCompactJsonPostOnTheServerOrigin) {
  PushClient& c = make();
  c.setServerURL("  https://relay.test:8443/base/path?x=1 \n");
  run(c.request("/v1/push", "POST", "the-secret", {{"kind", "message"}, {"badge", 3}}));
  const HttpRequest& sent = transport.requests.at(0);
  EXPECT_EQ(sent.url, "https://relay.test:8443/v1/push");
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.timeout, 15s);
  EXPECT_EQ(sent.body, R"({"badge":3,"kind":"message"})");
  ASSERT_EQ(sent.headers.size(), 2u);
  EXPECT_EQ(sent.headers[0], (std::pair<std::string, std::string>{"Content-Type", "application/json"}));
  EXPECT_TRUE(headerOf(sent, "Authorization") == "Bearer the-secret") << "bearer header differs";

  c.setServerURL("\u3000http://127.0.0.1:9000\u3000");  // ideographic spaces around it
  run(c.request("/v1/pair", "POST", std::nullopt, {}));
  EXPECT_EQ(transport.requests.back().url, "http://127.0.0.1:9000/v1/pair");
  EXPECT_EQ(transport.requests.back().headers.size(), 1u);  // no Authorization
}

TEST_F(RelayRequest, AnUnusableServerURLOrBodySendsNothingAndKeepsTheProblems) {
  PushClient& c = primed();
  std::size_t sent = transport.requests.size();
  // A body that does not serialise fails with the serialiser's error.
  RelayResult r = run(c.request("/v1/push", "POST", "s", {{"title", "\xff\xfe"}}));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().domain, "json");
  EXPECT_EQ(c.connectionProblem(), kPriorConnection);
  EXPECT_EQ(c.deliveryProblem(), kPriorDelivery);

  // A request in flight when the URL changes sets its problem after the
  // change; the unusable URL then leaves it alone.
  replyAll(answer(503));
  spawn([](PushClient& c) -> Task<void> { co_await c.request("/v1/status", "POST", "s", {}); }(c));
  c.setServerURL("relay.test");
  loop.advance(1s);
  for (const char* url : {"relay.test", "relay.test:8443", "ftp://relay.test", "https://", ""}) {
    if (c.serverURL() != url) c.setServerURL(url);
    r = run(c.request("/v1/push", "POST", "s", {}));
    ASSERT_FALSE(r.ok()) << url;
    EXPECT_EQ(r.error(), (RelayError{"push", -2, "알림 서버 주소가 올바르지 않습니다"})) << url;
    if (std::string(url) == "relay.test") {
      EXPECT_EQ(c.connectionProblem(), "알림 서버에 문제가 있습니다 (HTTP 503).");
    }
  }
  EXPECT_EQ(transport.requests.size(), sent + 1);
}
