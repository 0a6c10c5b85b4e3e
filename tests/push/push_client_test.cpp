// The push client over the fake transport, in virtual time: every request
// takes 100 ms.
#include <gtest/gtest.h>

#include <map>

#include "base/korean_time.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/virtual_loop.h"
#include "push/printers.h"
#include "push/push_client.h"
#include "support/fake_platform.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

struct Push : ::testing::Test {
  VirtualLoop loop;
  MemorySettings settings;
  MemoryLog log;
  FakeTransport transport{loop};
  KoreanTimeFormat utc{"UTC"};
  std::unique_ptr<PushClient> client;

  PushClient& make() {
    transport.delay = 100ms;
    client = std::make_unique<PushClient>(PushClient::Dependencies{settings, log, loop, transport,
                                                                   [] { return std::string("테스트 PC"); },
                                                                   "https://relay.test", 15s, &utc});
    return *client;
  }
  // Pairing answers 200 and `pairBody` (unless empty); others `reply` or, by
  // Authorization header, `byAuth`.
  void relay(std::string pairBody, HttpResult reply = answer(200),
             std::map<std::string, HttpResult> byAuth = {}) {
    transport.respond = [=](const HttpRequest& r) {
      if (pathOf(r) == "/v1/pair" && !pairBody.empty()) return answer(200, pairBody);
      auto it = byAuth.find(headerOf(r, "Authorization"));
      return it == byAuth.end() ? reply : it->second;
    };
  }
  Json lastBody() const { return jsonOf(transport.requests.back()); }
  std::vector<PushClient::Pairing> stored() const {
    return PushClient::decodePairings(*settings.stringValue("pushPairings")).value();
  }
  static PushClient::Pairing pairing(std::string secret) {
    return {std::move(secret), "iPhone15,2", "production", VirtualLoop::defaultStart()};
  }
};

}  // namespace

TEST_F(Push, PairingsAreStoredAsSecondsSince2001AndDecodeAllOrNothing) {
  PushClient::Pairing a{"s-a", "iPhone15,2", "production", Time{} + 1772442000s + 250ms};
  make().setPairings({a, pairing("s-b")});
  EXPECT_DOUBLE_EQ(Json::parse(*settings.stringValue("pushPairings"))[0]["pairedAt"].get<double>(),
                   1772442000.25 - 978307200);
  EXPECT_EQ(make().pairings().at(1), pairing("s-b"));

  const char* oneBad = R"([{"secret":"s","deviceModel":"i","environment":"e","pairedAt":0},
                           {"secret":"t","deviceModel":"i","environment":"e"}])";
  for (const char* text : {oneBad, R"([{"secret":1,"deviceModel":"i","environment":"e","pairedAt":0}])",
                           R"({"secret":"s"})", "not json"}) {
    EXPECT_FALSE(PushClient::decodePairings(text)) << text;
  }
  settings.setString("pushPairings", oneBad);
  EXPECT_TRUE(make().pairings().empty());
  // Dates beyond the clock's range are kept at its edge, not overflowed.
  auto far = PushClient::decodePairings(
      R"([{"secret":"s","deviceModel":"m","environment":"e","pairedAt":0},
          {"secret":"s","deviceModel":"m","environment":"e","pairedAt":1e300}])");
  ASSERT_TRUE(far);
  EXPECT_EQ((*far)[0].pairedAt, Time{} + 978307200s);  // 2001-01-01 00:00:00 UTC
  EXPECT_GT((*far)[1].pairedAt, Time{} + std::chrono::hours(24 * 365 * 200));
}

TEST_F(Push, ClassifiesEveryAnswerAndFailure) {
  const std::string same = "=";  // the problem text left by the two earlier requests
  struct Case {
    std::string path;
    HttpResult reply;
    std::string result;  // "ok" and the body, or the error's code and message
    std::string connection, delivery;
  };
  const std::string timeout = "알림 서버에 연결할 수 없습니다 (시간 초과).";
  const Case cases[] = {
      {"/v1/push", answer(200, R"({"ok":true})"), R"(ok {"ok":true})", "", ""},
      {"/v1/push", answer(503), "503 HTTP 503", "알림 서버에 문제가 있습니다 (HTTP 503).", same},
      {"/v1/push", answer(502, R"({"reason":"Bad"})"), "502 Bad", "",
       "iPhone으로 알림을 전달하지 못했습니다 (Apple: Bad)."},
      {"/v1/status", answer(502, R"({"reason":"Bad"})"), "502 Bad", "", same},
      {"/v1/pair", answer(404, "<html>Not Found</html>"), "404 HTTP 404", "", same},
      {"/v1/push", answer(400, R"({"error":"E","reason":"R"})"), "400 E", "", same},
      {"/v1/push", answer(400, R"({"error":null,"reason":"R"})"), "400 R", "", same},
      {"/v1/push", answer(201, "[1]"), "201 HTTP 201", "", same},
      {"/v1/push", noAnswer(HttpFailureKind::timedOut), "-1 " + timeout, timeout, same},
      // A cancelled request says nothing about the server.
      {"/v1/push", noAnswer(HttpFailureKind::cancelled, 19),
       "-1 알림 서버에 연결할 수 없습니다 (네트워크 오류 19).", same, same},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.result);
    PushClient& client = make();
    relay("", answer(502, R"({"reason":"prior"})"));
    runTask(loop, client.request("/v1/push", "POST", "s", {}));
    relay("", answer(599));
    runTask(loop, client.request("/v1/status", "POST", "s", {}));
    const auto prior = std::pair(client.connectionProblem(), client.deliveryProblem());
    relay("", c.reply);
    RelayResult r = runTask(loop, client.request(c.path, "POST", "s", {}));
    EXPECT_EQ(r ? "ok " + Json(r.body()).dump() : std::to_string(r.error().code) + " " + r.error().message,
              c.result);
    auto expected = [&](const std::string& text, std::optional<std::string> old) {
      return text == same ? old : text.empty() ? std::nullopt : std::optional(text);
    };
    EXPECT_EQ(client.connectionProblem(), expected(c.connection, prior.first));
    EXPECT_EQ(client.deliveryProblem(), expected(c.delivery, prior.second));
  }
}

TEST_F(Push, RequestsGoToTheTrimmedServerOriginAndAnUnusableOneSendsNothing) {
  PushClient& c = make();
  c.setServerURL("\u3000 https://relay.test:8443/base/path?x=1 \n");
  runTask(loop, c.request("/v1/push", "POST", "the-secret", {{"kind", "message"}, {"badge", 3}}));
  const HttpRequest& sent = transport.requests.at(0);
  EXPECT_EQ(sent.url, "https://relay.test:8443/v1/push");
  EXPECT_EQ(sent.body, R"({"badge":3,"kind":"message"})");
  EXPECT_EQ(headerOf(sent, "Content-Type") + ", " + headerOf(sent, "Authorization"),
            "application/json, Bearer the-secret");

  // A body that does not serialise fails with the serialiser's error.
  EXPECT_EQ(runTask(loop, c.request("/v1/push", "POST", "s", {{"title", "\xff\xfe"}})).error().domain,
            "json");

  // Problems stay with the same URL and go with another one.
  relay("", answer(503));
  runTask(loop, c.request("/v1/status", "POST", "s", {}));
  c.setServerURL("\u3000 https://relay.test:8443/base/path?x=1 \n");
  EXPECT_TRUE(c.connectionProblem());
  for (const char* url : {"relay.test", "relay.test:8443", "ftp://relay.test", "https://", ""}) {
    c.setServerURL(url);
    EXPECT_FALSE(c.connectionProblem()) << url;
    RelayResult r = runTask(loop, c.request("/v1/push", "POST", "s", {}));
    EXPECT_EQ(r.error(), (RelayError{"push", -2, "알림 서버 주소가 올바르지 않습니다"})) << url;
  }
  EXPECT_EQ(transport.requests.size(), 2u);
  EXPECT_EQ(settings.stringValue("pushServerURL"), "");
}

TEST_F(Push, PairingTakesSixUnicodeDigitsStoresThePairingAndConfirmsIt) {
  PushClient& c = make();
  relay(R"({"secret":"sec-1"})");
  for (const char* code : {"12345", "1234567", "①②③④⑤⑥", ""})
    EXPECT_FALSE(runTask(loop, c.pair(code))) << code;
  EXPECT_TRUE(transport.requests.empty());

  EXPECT_TRUE(runTask(loop, c.pair(" 12 3-456\n")));
  EXPECT_EQ(jsonOf(transport.requests[0]), (Json{{"code", "123456"}, {"label", "테스트 PC"}}));
  EXPECT_EQ(c.pairings(), (std::vector<PushClient::Pairing>{
                              {"sec-1", "iPhone", "development", VirtualLoop::defaultStart() + 100ms}}));
  EXPECT_EQ(stored(), c.pairings());
  EXPECT_TRUE(headerOf(transport.requests.at(1), "Authorization") == "Bearer sec-1") << "confirmed elsewise";
  EXPECT_EQ(jsonOf(transport.requests[1])["kind"], "paired");
  EXPECT_EQ(c.pairNote(), (PushClient::Note{"연결되었습니다. iPhone에 확인 알림을 보냈습니다.", false}));

  // Full-width digits are sent as typed; a 410 on the confirmation takes the new pairing away again.
  relay(R"({"secret":"sec-2"})", answer(410));
  EXPECT_TRUE(runTask(loop, c.pair("１２３ ４５６")));
  EXPECT_EQ(jsonOf(transport.requests[2])["code"], "１２３４５６");
  EXPECT_EQ(stored(), c.pairings());
  EXPECT_EQ(c.pairings().size(), 1u);

  // A second pairing while one is in flight is refused. An unreachable relay fails the
  // confirmation but keeps the pairing, with the server's model and environment.
  relay(R"({"secret":"sec-3","deviceModel":"iPhone16,1","environment":"production"})",
        noAnswer(HttpFailureKind::notConnected));
  spawn([](PushClient& c) -> Task<void> { co_await c.pair("123456"); }(c));
  EXPECT_TRUE(c.isPairing());
  EXPECT_FALSE(runTask(loop, c.pair("654321")));
  loop.advance(1s);
  EXPECT_FALSE(c.isPairing());
  EXPECT_EQ(transport.requests.size(), 6u);
  EXPECT_EQ(c.pairings().at(1).deviceModel + " " + c.pairings()[1].environment, "iPhone16,1 production");
  EXPECT_TRUE(c.pairNote()->isError);
}

TEST_F(Push, PairingFailuresBecomeNotes) {
  const std::string badAnswer = "연결하지 못했습니다: 서버 응답이 올바르지 않습니다.";
  const std::pair<HttpResult, std::string> cases[] = {
      {answer(404, R"({"error":"not_found"})"),
       "코드가 맞지 않거나 만료되었습니다. iPhone에서 새 코드를 받아 다시 입력하세요."},
      {answer(400, R"({"error":"bad code"})"), "연결하지 못했습니다: bad code"},
      // Answers without a secret that can travel in a header.
      {answer(200, R"({"secret":""})"), badAnswer},
      {answer(200, R"({"secret":"abc\r\nX-Other: 1"})"), badAnswer},
  };
  for (const auto& [reply, note] : cases) {
    PushClient& c = make();
    relay("", reply);
    EXPECT_FALSE(runTask(loop, c.pair("123456"))) << note;
    EXPECT_EQ(c.pairNote(), (PushClient::Note{note, true}));
    EXPECT_TRUE(c.pairings().empty());
  }
}

TEST_F(Push, FanOutUnpairingAndTheTestNotification) {
  PushClient& c = make();
  c.setPairings({pairing("a"), pairing("b"), pairing("a"), pairing("d"), pairing("e")});
  relay("", answer(200), {{"Bearer a", answer(410)}, {"Bearer d", answer(401)}, {"Bearer e", answer(429)}});
  EXPECT_EQ(runTask(loop, c.push("message", "친구", "안녕", "thread-1", "friend", 3, "m-1")), 1);
  EXPECT_EQ(loop.now(), VirtualLoop::defaultStart() + 500ms) << "one at a time, to every one of the snapshot";
  EXPECT_EQ(lastBody(), Json::parse(R"({"kind":"message","title":"친구","body":"안녕","threadKey":"thread-1",
                                        "username":"friend","badge":3,"collapseId":"m-1"})"));
  EXPECT_EQ(c.pairings(), (std::vector<PushClient::Pairing>{pairing("b"), pairing("e")}));
  EXPECT_EQ(stored(), c.pairings());
  EXPECT_EQ(c.lastFailure(), "iPhone 등록이 사라졌습니다(앱 삭제 등). iPhone을 다시 연결하세요.");
  for (const auto& line : log.lines) EXPECT_EQ(line.find("Bearer"), std::string::npos) << line;

  // Badge 0 is sent; a negative badge and an empty collapse id are not.
  relay("");
  runTask(loop, c.push("badge", "t", "b", "", "", 0, "", pairing("b")));
  EXPECT_EQ(lastBody()["badge"], 0);
  EXPECT_FALSE(lastBody().contains("collapseId"));
  runTask(loop, c.push("resumed", "t", "b", "", "", -1, "", pairing("b")));
  EXPECT_FALSE(lastBody().contains("badge"));
  EXPECT_EQ(c.lastPushAt(), VirtualLoop::defaultStart() + 500ms);  // the message, not the others
  EXPECT_EQ(c.sentCount(), 3);

  c.setPairings({});
  runTask(loop, c.sendTest());
  EXPECT_EQ(c.testNote(), (PushClient::Note{"연결된 iPhone이 없습니다.", true}));

  // Unpairing while the relay is unreachable still ends the pairing.
  c.setPairings({pairing("a"), pairing("b")});
  relay("", noAnswer(HttpFailureKind::timedOut));
  runTask(loop, c.unpair(pairing("a")));
  EXPECT_EQ(stored(), (std::vector<PushClient::Pairing>{pairing("b")}));
  EXPECT_EQ(pathOf(transport.requests.back()), "/v1/unpair");

  relay("");
  loop.advanceTo(Time{} + 1772467020s - 100ms);  // answer at 2026-03-02 15:57:00 UTC
  runTask(loop, c.sendTest());
  EXPECT_EQ(c.testNote(), (PushClient::Note{"보냈습니다 (오후 3:57)", false}));
  relay("", answer(429));
  runTask(loop, c.sendTest());
  EXPECT_EQ(c.testNote(), (PushClient::Note{"너무 자주 보냈습니다. 잠시 뒤 다시 시도하세요.", true}));
}

TEST_F(Push, PlainHttpOnlyReachesThisMachineAndPairingElsewhereIsRefused) {
  PushClient& c = make();
  c.setPairings({pairing("kept")});
  relay(R"({"secret":"new"})");
  for (const char* url : {"http://relay.example", "HTTP://relay.example:8080/v1", "http://10.0.0.5",
                          "http://128.0.0.1", "http://127.0.0.1.example", "http://localhost.example",
                          "http://[::2]:8080", "http://[::ffff:10.0.0.1]"}) {
    SCOPED_TRACE(url);
    c.setServerURL(url);
    EXPECT_EQ(runTask(loop, c.request("/v1/push", "POST", "kept", {})).error(),
              (RelayError{"push", -2, "알림 서버 주소가 올바르지 않습니다"}));
    EXPECT_FALSE(runTask(loop, c.pair("123456")));
    EXPECT_EQ(c.pairNote(),
              (PushClient::Note{"연결하지 못했습니다: 알림 서버 주소가 올바르지 않습니다", true}));
    EXPECT_EQ(runTask(loop, c.push("message", "t", "b", "", "", -1, "")), 0);
  }
  EXPECT_TRUE(transport.requests.empty());
  EXPECT_EQ(stored(), std::vector<PushClient::Pairing>{pairing("kept")});
  EXPECT_EQ(settings.stringValue("pushServerURL"), "http://[::ffff:10.0.0.1]");

  const std::pair<const char*, const char*> loopback[] = {
      {"http://127.0.0.1:8080/x", "http://127.0.0.1:8080/v1/pair"},
      {"http://127.200.3.4", "http://127.200.3.4/v1/pair"},
      {" http://LocalHost:3000 ", "http://LocalHost:3000/v1/pair"},
      {"http://localhost.:3000", "http://localhost.:3000/v1/pair"},
      {"http://[::1]:9000", "http://[0000:0000:0000:0000:0000:0000:0000:0001]:9000/v1/pair"},
      {"http://[0:0:0:0:0:0:0:1]", "http://[0000:0000:0000:0000:0000:0000:0000:0001]/v1/pair"},
      {"https://relay.example", "https://relay.example/v1/pair"},
  };
  for (const auto& [url, endpoint] : loopback) {
    c.setServerURL(url);
    EXPECT_TRUE(runTask(loop, c.pair("123456"))) << url;
    EXPECT_EQ(transport.requests.at(transport.requests.size() - 2).url, endpoint);
  }
}

TEST_F(Push, ThePairedAndTestPushesCarryTheirTextsAndEveryStepIsLogged) {
  PushClient& c = make();
  relay(R"({"secret":"sec-1"})");
  EXPECT_TRUE(runTask(loop, c.pair("123456")));
  EXPECT_EQ(lastBody(), Json::parse(R"({"kind":"paired","title":"Corvid 연결 완료",
      "body":"테스트 PC에서 알림을 보낼게요. 이제 폰은 내려놔도 돼요.","threadKey":"","username":""})"));
  runTask(loop, c.sendTest());
  EXPECT_EQ(lastBody(), Json::parse(R"({"kind":"test","title":"Corvid 시험 알림",
      "body":"테스트 PC에서 보낸 시험 알림입니다","threadKey":"","username":""})"));
  relay("", answer(404, R"({"error":"not_found"})"));
  EXPECT_FALSE(runTask(loop, c.pair("654321")));
  runTask(loop, c.unpair(pairing("sec-1")));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"push: paired, pairings 1", "push: paired sent 1/1 badge -1",
                                                 "push: test sent 1/1 badge -1", "push: pair failed 404",
                                                 "push: unpaired, pairings 0"}));
}
