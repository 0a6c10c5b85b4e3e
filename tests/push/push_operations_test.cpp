// Pairing, fan-out, unpairing and the test notification over the fake
// transport, in virtual time.
#include <gtest/gtest.h>

#include "push/push_fixture.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

// Answers pairing with `pairBody` and every push with `pushReply`.
auto relayServer(std::string pairBody, HttpResult pushReply = answer(200)) {
  return [pairBody, pushReply](const FakeTransport::Sent& s) {
    return s.path() == "/v1/pair" ? answer(200, pairBody) : pushReply;
  };
}

const char* kGone = "iPhone 등록이 사라졌습니다(앱 삭제 등). iPhone을 다시 연결하세요.";

}  // namespace

using PushOperations = PushFixture;

TEST_F(PushOperations, PairingKeepsTheTypedDigitsAndRefusesOtherCounts) {
  PushClient& c = make();
  transport.handler = relayServer(R"({"secret":"sec-1"})");
  EXPECT_FALSE(run(c.pair("12345")));
  EXPECT_FALSE(run(c.pair("1234567")));
  EXPECT_FALSE(run(c.pair("①②③④⑤⑥")));  // numbers, but not decimal digits
  EXPECT_FALSE(run(c.pair("")));
  EXPECT_TRUE(transport.sent.empty());
  EXPECT_FALSE(c.pairNote());

  EXPECT_TRUE(run(c.pair(" 12 3-456\n")));
  ASSERT_EQ(transport.sent.size(), 2u);  // the pairing and its confirmation
  EXPECT_EQ(transport.sent[0].path(), "/v1/pair");
  EXPECT_EQ(transport.sent[0].json(), (nlohmann::json{{"code", "123456"}, {"label", "테스트 PC"}}));
  EXPECT_FALSE(transport.sent[0].hasHeader("Authorization"));

  EXPECT_TRUE(run(c.pair("１２３ ４５６")));  // full-width digits are sent as typed
  EXPECT_EQ(transport.sent[2].json()["code"], "１２３４５６");
}

TEST_F(PushOperations, PairingStoresThePairingAndConfirmsIt) {
  PushClient& c = make();
  transport.handler = relayServer(R"({"secret":"sec-1"})");
  loop.advance(5s);
  EXPECT_TRUE(run(c.pair("123456")));

  ASSERT_EQ(c.pairings().size(), 1u);
  const auto& p = c.pairings()[0];
  EXPECT_TRUE(p.secret == "sec-1");
  EXPECT_EQ(p.deviceModel, "iPhone");
  EXPECT_EQ(p.environment, "development");
  EXPECT_EQ(p.pairedAt, VirtualLoop::defaultStart() + 5s + 100ms);  // when the answer came
  EXPECT_EQ(PushClient::decodePairings(*settings.stringValue("pushPairings")), c.pairings());

  ASSERT_EQ(transport.sent.size(), 2u);
  const auto& confirm = transport.sent[1];
  EXPECT_EQ(confirm.path(), "/v1/push");
  EXPECT_TRUE(confirm.header("Authorization") == "Bearer sec-1")
      << "confirmation not sent with the new secret";
  EXPECT_EQ(confirm.json(),
            (nlohmann::json{{"kind", "paired"},
                            {"title", "Corvid 연결 완료"},
                            {"body", "테스트 PC에서 알림을 보낼게요. 이제 폰은 내려놔도 돼요."},
                            {"threadKey", ""},
                            {"username", ""}}));
  EXPECT_EQ(c.pairNote(), (PushClient::Note{"연결되었습니다. iPhone에 확인 알림을 보냈습니다.", false}));
  EXPECT_FALSE(c.isPairing());
  EXPECT_EQ(c.sentCount(), 1);
  EXPECT_FALSE(c.lastPushAt());  // only message notifications move it
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"push: paired, pairings 1", "push: paired sent 1/1 badge -1"}));

  // The server's model and environment are kept; the same secret twice
  // gives two entries, and unpairing one removes both.
  transport.handler =
      relayServer(R"({"secret":"sec-1","deviceModel":"iPhone16,1","environment":"production"})");
  EXPECT_TRUE(run(c.pair("654321")));
  ASSERT_EQ(c.pairings().size(), 2u);
  EXPECT_EQ(c.pairings()[1].deviceModel, "iPhone16,1");
  EXPECT_EQ(c.pairings()[1].environment, "production");
  run(c.unpair(c.pairings()[0]));
  EXPECT_TRUE(c.pairings().empty());
  EXPECT_EQ(transport.sent.back().path(), "/v1/unpair");
  EXPECT_EQ(transport.sent.back().request.body, "{}");
  EXPECT_EQ(c.pairNote(), (PushClient::Note{"연결을 해제했습니다.", false}));
  EXPECT_EQ(log.lines.back(), "push: unpaired, pairings 0");
  EXPECT_EQ(settings.stringValue("pushPairings"), "[]");
  expectNoSecretInLog("sec-1");
}

TEST_F(PushOperations, ASecondPairingWhileOneIsInFlightIsRefused) {
  PushClient& c = make();
  transport.handler = relayServer(R"({"secret":"sec-1"})");
  std::optional<bool> first;
  spawn([](PushClient& c, std::optional<bool>& out) -> Task<void> { out = co_await c.pair("123456"); }(
                                                        c, first));
  EXPECT_TRUE(c.isPairing());
  EXPECT_FALSE(c.pairNote());
  EXPECT_FALSE(run(c.pair("654321")));
  EXPECT_EQ(transport.sent.size(), 1u);
  loop.advance(1s);
  EXPECT_EQ(first, true);
  EXPECT_FALSE(c.isPairing());
}

TEST_F(PushOperations, PairingFailuresBecomeNotes) {
  struct Case {
    HttpResult reply;
    std::string note;
    std::string logLine;
  };
  const Case cases[] = {
      {answer(404, R"({"error":"not_found"})"),
       "코드가 맞지 않거나 만료되었습니다. iPhone에서 새 코드를 받아 다시 입력하세요.",
       "push: pair failed 404"},
      {answer(429), "시도가 너무 많습니다. 1분 뒤에 다시 해 주세요.", "push: pair failed 429"},
      {answer(400, R"({"error":"bad code"})"), "연결하지 못했습니다: bad code", "push: pair failed 400"},
      {noAnswer(HttpFailureKind::cannotFindHost),
       "연결하지 못했습니다: 알림 서버에 연결할 수 없습니다 (서버를 찾을 수 없음).", "push: pair failed -1"},
      // An answer without a usable secret.
      {answer(200, R"({"deviceModel":"iPhone"})"), "연결하지 못했습니다: 서버 응답이 올바르지 않습니다.", ""},
      {answer(200, R"({"secret":42})"), "연결하지 못했습니다: 서버 응답이 올바르지 않습니다.", ""},
      {answer(200, R"({"secret":""})"), "연결하지 못했습니다: 서버 응답이 올바르지 않습니다.", ""},
      {answer(200, R"({"secret":"abc\r\nX-Other: 1"})"),
       "연결하지 못했습니다: 서버 응답이 올바르지 않습니다.", ""},
  };
  for (const auto& k : cases) {
    PushClient& c = make();
    log.lines.clear();
    transport.handler = [&](const FakeTransport::Sent&) { return k.reply; };
    EXPECT_FALSE(run(c.pair("123456"))) << k.note;
    EXPECT_EQ(c.pairNote(), (PushClient::Note{k.note, true}));
    EXPECT_FALSE(c.isPairing());
    EXPECT_TRUE(c.pairings().empty());
    EXPECT_EQ(log.lines,
              k.logLine.empty() ? std::vector<std::string>{} : std::vector<std::string>{k.logLine});
  }

  computerName = "";
  make();
  run(push().pair("123456"));
  EXPECT_EQ(transport.sent.back().json()["label"], "Mac");
}

TEST_F(PushOperations, AFailedConfirmationKeepsThePairingUnlessTheServerSaysItIsGone) {
  PushClient& c = make();
  transport.handler = relayServer(R"({"secret":"sec-1"})", noAnswer(HttpFailureKind::notConnected));
  EXPECT_TRUE(run(c.pair("123456")));
  EXPECT_EQ(c.pairings().size(), 1u);
  EXPECT_EQ(c.pairNote(),
            (PushClient::Note{"연결은 되었지만 확인 알림을 보내지 못했습니다: 알림 서버에 연결할 수 없습니다 "
                              "(인터넷 연결 없음).",
                              true}));

  transport.handler = relayServer(R"({"secret":"sec-2"})", answer(410));
  EXPECT_TRUE(run(c.pair("123456")));
  ASSERT_EQ(c.pairings().size(), 1u);
  EXPECT_TRUE(c.pairings()[0].secret == "sec-1");
  EXPECT_EQ(c.pairNote(),
            (PushClient::Note{std::string("연결은 되었지만 확인 알림을 보내지 못했습니다: ") + kGone, true}));
}

TEST_F(PushOperations, FanOutGoesToEachPairingInTurnAndCountsWhatArrived) {
  PushClient& c = make();
  c.setPairings({pairing("a"), pairing("b"), pairing("c")});
  transport.handler = [](const FakeTransport::Sent& s) {
    std::string auth = s.header("Authorization");
    if (auth == "Bearer a") return answer(502, R"({"reason":"BadDeviceToken"})");
    if (auth == "Bearer b") return answer(404);
    return answer(200);
  };
  EXPECT_EQ(run(c.push("message", "친구", "안녕", "thread-1", "friend", 3, "m-1")), 1);
  ASSERT_EQ(transport.sent.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(transport.sent[i].at, VirtualLoop::defaultStart() + i * 100ms) << "one request at a time";
    EXPECT_EQ(transport.sent[i].json(), (nlohmann::json{{"kind", "message"},
                                                        {"title", "친구"},
                                                        {"body", "안녕"},
                                                        {"threadKey", "thread-1"},
                                                        {"username", "friend"},
                                                        {"badge", 3},
                                                        {"collapseId", "m-1"}}));
  }
  EXPECT_EQ(c.pairings().size(), 3u);  // 502 and 404 keep the pairing
  EXPECT_EQ(c.lastFailure(), "Apple 푸시가 거절했습니다 (BadDeviceToken).");
  EXPECT_EQ(c.sentCount(), 1);
  EXPECT_EQ(c.lastPushAt(), VirtualLoop::defaultStart() + 300ms);
  EXPECT_EQ(log.lines.back(), "push: message sent 1/3 badge 3 failures 2");

  // Badge 0 is sent; a negative badge and an empty collapse id are not.
  transport.handler = nullptr;
  run(c.push("badge", "t", "b", "", "", 0, "", pairing("c")));
  EXPECT_EQ(transport.sent.back().json()["badge"], 0);
  EXPECT_FALSE(transport.sent.back().json().contains("collapseId"));
  run(c.push("resumed", "t", "b", "", "", -1, "", pairing("c")));
  EXPECT_FALSE(transport.sent.back().json().contains("badge"));
  EXPECT_EQ(c.lastFailure(), std::nullopt);
  EXPECT_EQ(c.lastPushAt(), VirtualLoop::defaultStart() + 300ms);  // not a message
  EXPECT_EQ(c.sentCount(), 3);
  EXPECT_EQ(log.lines.back(), "push: resumed sent 1/1 badge -1");
}

TEST_F(PushOperations, FanOutRemovesPairingsTheServerNoLongerKnows) {
  PushClient& c = make();
  c.setPairings({pairing("a"), pairing("b"), pairing("a"), pairing("d")});
  transport.handler = [](const FakeTransport::Sent& s) {
    std::string auth = s.header("Authorization");
    if (auth == "Bearer a") return answer(401);
    if (auth == "Bearer d") return answer(429);
    return answer(200);
  };
  EXPECT_EQ(run(c.push("badge", "t", "b", "", "", 2, "")), 1);
  EXPECT_EQ(transport.sent.size(), 4u);  // the snapshot is not shortened by the removal
  EXPECT_EQ(c.pairings(), (std::vector<PushClient::Pairing>{pairing("b"), pairing("d")}));
  EXPECT_EQ(PushClient::decodePairings(*settings.stringValue("pushPairings")), c.pairings());
  EXPECT_EQ(c.lastFailure(), "서버에서 이 Mac의 연결이 사라졌습니다. iPhone을 다시 연결하세요.");
  EXPECT_EQ(log.lines.back(), "push: badge sent 1/4 badge 2 failures 3");
  expectNoSecretInLog("Bearer");

  // With no pairings nothing happens at all.
  c.setPairings({});
  log.lines.clear();
  auto sent = transport.sent.size();
  EXPECT_EQ(run(c.push("message", "t", "b", "k", "u", 1, "x")), 0);
  EXPECT_EQ(transport.sent.size(), sent);
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(c.lastFailure(), "서버에서 이 Mac의 연결이 사라졌습니다. iPhone을 다시 연결하세요.");
}

TEST_F(PushOperations, UnpairingRemovesThePairingWhateverTheServerSays) {
  PushClient& c = make();
  c.setPairings({pairing("a"), pairing("b")});
  transport.handler = [](const FakeTransport::Sent&) { return noAnswer(HttpFailureKind::timedOut); };
  run(c.unpair(pairing("a")));
  EXPECT_EQ(c.pairings(), (std::vector<PushClient::Pairing>{pairing("b")}));
  EXPECT_EQ(c.pairNote(), (PushClient::Note{"연결을 해제했습니다.", false}));
  EXPECT_EQ(c.connectionProblem(), "알림 서버에 연결할 수 없습니다 (시간 초과).");
  EXPECT_EQ(log.lines.back(), "push: unpaired, pairings 1");
}

TEST_F(PushOperations, TestNotificationReportsItsOutcome) {
  PushClient& c = make();
  run(c.sendTest());
  EXPECT_EQ(c.testNote(), (PushClient::Note{"연결된 iPhone이 없습니다.", true}));
  EXPECT_TRUE(transport.sent.empty());

  c.setPairings({pairing("a")});
  loop.advanceTo(Time{} + std::chrono::seconds(1772467020) - 100ms);  // answer at 2026-03-02 15:57:00 UTC
  spawn(c.sendTest());
  EXPECT_EQ(c.testNote(), (PushClient::Note{"보내는 중…", false}));
  loop.advance(1s);
  EXPECT_EQ(c.testNote(), (PushClient::Note{"보냈습니다 (오후 3:57)", false}));
  EXPECT_EQ(transport.sent.back().json(), (nlohmann::json{{"kind", "test"},
                                                          {"title", "Corvid 시험 알림"},
                                                          {"body", "테스트 PC에서 보낸 시험 알림입니다"},
                                                          {"threadKey", ""},
                                                          {"username", ""}}));
  EXPECT_FALSE(c.lastPushAt());

  transport.handler = [](const FakeTransport::Sent&) { return answer(429); };
  run(c.sendTest());
  EXPECT_EQ(c.testNote(), (PushClient::Note{"너무 자주 보냈습니다. 잠시 뒤 다시 시도하세요.", true}));
  EXPECT_EQ(c.sentCount(), 1);
}

TEST_F(PushOperations, CancellingAFanOutLeavesTheConnectionProblemAlone) {
  PushClient& c = make();
  c.setPairings({pairing("a"), pairing("b")});
  auto scope =
      spawn([](PushClient& c) -> Task<void> { co_await c.push("badge", "t", "b", "", "", 1, ""); }(c));
  loop.advance(50ms);
  scope->cancel();
  loop.advance(1s);
  EXPECT_EQ(c.connectionProblem(), std::nullopt);
  EXPECT_EQ(c.pairings().size(), 2u);
  EXPECT_EQ(log.lines.back(), "push: badge sent 0/2 badge 1 failures 2");
}
