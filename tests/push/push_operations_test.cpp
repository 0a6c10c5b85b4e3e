// Pairing, fan-out, unpairing and the test notification over the fake
// transport, in virtual time.
#include <gtest/gtest.h>

#include <map>

#include "push/push_fixture.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

// Answers pairing with `pairBody` and every push with `pushReply`.
auto relayServer(std::string pairBody, HttpResult pushReply = answer(200)) {
  return [pairBody, pushReply](const HttpRequest& r) {
    return pathOf(r) == "/v1/pair" ? answer(200, pairBody) : pushReply;
  };
}

// Answers by the request's bearer secret; 200 for the others.
auto bySecret(std::map<std::string, HttpResult> replies) {
  return [replies](const HttpRequest& r) {
    std::string auth = headerOf(r, "Authorization");
    auto it = replies.find(auth.size() > 7 ? auth.substr(7) : auth);
    return it == replies.end() ? answer(200) : it->second;
  };
}

}  // namespace

using PushOperations = PushFixture;

TEST_F(PushOperations, PairingSendsTheTypedDigitsAndRefusesOtherCounts) {
  PushClient& c = make();
  transport.respond = relayServer(R"({"secret":"sec-1"})");
  for (const char* code : {"12345", "1234567", "①②③④⑤⑥", ""}) EXPECT_FALSE(run(c.pair(code))) << code;
  EXPECT_TRUE(transport.requests.empty());
  EXPECT_FALSE(c.pairNote());

  EXPECT_TRUE(run(c.pair(" 12 3-456\n")));
  ASSERT_EQ(transport.requests.size(), 2u);  // the pairing and its confirmation
  EXPECT_EQ(pathOf(transport.requests[0]), "/v1/pair");
  EXPECT_EQ(jsonOf(transport.requests[0]), (Json{{"code", "123456"}, {"label", "테스트 PC"}}));
  EXPECT_EQ(transport.requests[0].headers.size(), 1u);  // no Authorization

  EXPECT_TRUE(run(c.pair("１２３ ４５６")));  // full-width digits are sent as typed
  EXPECT_EQ(jsonOf(transport.requests[2])["code"], "１２３４５６");
}

TEST_F(PushOperations, PairingStoresThePairingAndConfirmsIt) {
  PushClient& c = make();
  transport.respond = relayServer(R"({"secret":"sec-1"})");
  EXPECT_TRUE(run(c.pair("123456")));
  ASSERT_EQ(c.pairings().size(), 1u);
  EXPECT_EQ(c.pairings()[0],
            (PushClient::Pairing{"sec-1", "iPhone", "development", VirtualLoop::defaultStart() + 100ms}));
  EXPECT_EQ(PushClient::decodePairings(*settings.stringValue("pushPairings")), c.pairings());

  const HttpRequest& confirm = transport.requests.at(1);
  EXPECT_TRUE(headerOf(confirm, "Authorization") == "Bearer sec-1")
      << "confirmation not sent with the new secret";
  EXPECT_EQ(jsonOf(confirm), (Json{{"kind", "paired"},
                                   {"title", "Corvid 연결 완료"},
                                   {"body", "테스트 PC에서 알림을 보낼게요. 이제 폰은 내려놔도 돼요."},
                                   {"threadKey", ""},
                                   {"username", ""}}));
  EXPECT_EQ(c.pairNote(), (PushClient::Note{"연결되었습니다. iPhone에 확인 알림을 보냈습니다.", false}));
  EXPECT_FALSE(c.lastPushAt());  // only message notifications move it
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"push: paired, pairings 1", "push: paired sent 1/1 badge -1"}));

  // The server's model and environment are kept; the same secret twice
  // gives two entries, and unpairing one removes both.
  transport.respond =
      relayServer(R"({"secret":"sec-1","deviceModel":"iPhone16,1","environment":"production"})");
  EXPECT_TRUE(run(c.pair("654321")));
  ASSERT_EQ(c.pairings().size(), 2u);
  EXPECT_EQ(c.pairings()[1].deviceModel, "iPhone16,1");
  EXPECT_EQ(c.pairings()[1].environment, "production");
  run(c.unpair(c.pairings()[0]));
  EXPECT_TRUE(c.pairings().empty());
  EXPECT_EQ(pathOf(transport.requests.back()), "/v1/unpair");
  EXPECT_EQ(settings.stringValue("pushPairings"), "[]");
  expectNoSecretInLog("sec-1");
}

TEST_F(PushOperations, ASecondPairingWhileOneIsInFlightIsRefused) {
  PushClient& c = make();
  transport.respond = relayServer(R"({"secret":"sec-1"})");
  spawn([](PushClient& c) -> Task<void> { co_await c.pair("123456"); }(c));
  EXPECT_TRUE(c.isPairing());
  EXPECT_FALSE(run(c.pair("654321")));
  EXPECT_EQ(transport.requests.size(), 1u);
  loop.advance(1s);
  EXPECT_FALSE(c.isPairing());
  EXPECT_EQ(c.pairings().size(), 1u);
}

TEST_F(PushOperations, PairingFailuresBecomeNotes) {
  struct Case {
    HttpResult reply;
    std::string note;
    std::string logLine;
  };
  const std::string badAnswer = "연결하지 못했습니다: 서버 응답이 올바르지 않습니다.";
  const Case cases[] = {
      {answer(404, R"({"error":"not_found"})"),
       "코드가 맞지 않거나 만료되었습니다. iPhone에서 새 코드를 받아 다시 입력하세요.",
       "push: pair failed 404"},
      {answer(429), "시도가 너무 많습니다. 1분 뒤에 다시 해 주세요.", "push: pair failed 429"},
      {answer(400, R"({"error":"bad code"})"), "연결하지 못했습니다: bad code", "push: pair failed 400"},
      {noAnswer(HttpFailureKind::cannotFindHost),
       "연결하지 못했습니다: 알림 서버에 연결할 수 없습니다 (서버를 찾을 수 없음).", "push: pair failed -1"},
      // Answers without a secret that can travel in a header.
      {answer(200, R"({"secret":42})"), badAnswer, ""},
      {answer(200, R"({"secret":""})"), badAnswer, ""},
      {answer(200, R"({"secret":"abc\r\nX-Other: 1"})"), badAnswer, ""},
  };
  for (const auto& k : cases) {
    PushClient& c = make();
    log.lines.clear();
    replyAll(k.reply);
    EXPECT_FALSE(run(c.pair("123456"))) << k.note;
    EXPECT_EQ(c.pairNote(), (PushClient::Note{k.note, true}));
    EXPECT_FALSE(c.isPairing());
    EXPECT_TRUE(c.pairings().empty());
    EXPECT_EQ(log.lines,
              k.logLine.empty() ? std::vector<std::string>{} : std::vector<std::string>{k.logLine});
  }

  computerName = "";
  run(make().pair("123456"));
  EXPECT_EQ(lastBody()["label"], "Mac");
}

TEST_F(PushOperations, AFailedConfirmationKeepsThePairingUnlessTheServerSaysItIsGone) {
  PushClient& c = make();
  const std::string prefix = "연결은 되었지만 확인 알림을 보내지 못했습니다: ";
  transport.respond = relayServer(R"({"secret":"sec-1"})", noAnswer(HttpFailureKind::notConnected));
  EXPECT_TRUE(run(c.pair("123456")));
  EXPECT_EQ(c.pairNote(),
            (PushClient::Note{prefix + "알림 서버에 연결할 수 없습니다 (인터넷 연결 없음).", true}));

  transport.respond = relayServer(R"({"secret":"sec-2"})", answer(410));
  EXPECT_TRUE(run(c.pair("123456")));
  ASSERT_EQ(c.pairings().size(), 1u);
  EXPECT_TRUE(c.pairings()[0].secret == "sec-1");
  EXPECT_EQ(
      c.pairNote(),
      (PushClient::Note{prefix + "iPhone 등록이 사라졌습니다(앱 삭제 등). iPhone을 다시 연결하세요.", true}));
}

TEST_F(PushOperations, FanOutGoesToEachPairingInTurnAndCountsWhatArrived) {
  PushClient& c = make();
  c.setPairings({pairing("a"), pairing("b"), pairing("c")});
  std::vector<Time> answeredAt;
  transport.respond = [&, replies = bySecret({{"a", answer(502, R"({"reason":"BadDeviceToken"})")},
                                              {"b", answer(404)}})](const HttpRequest& r) {
    answeredAt.push_back(loop.now());
    return replies(r);
  };
  EXPECT_EQ(run(c.push("message", "친구", "안녕", "thread-1", "friend", 3, "m-1")), 1);
  Time start = VirtualLoop::defaultStart();
  EXPECT_EQ(answeredAt, (std::vector<Time>{start + 100ms, start + 200ms, start + 300ms})) << "one at a time";
  EXPECT_EQ(lastBody(), (Json{{"kind", "message"},
                              {"title", "친구"},
                              {"body", "안녕"},
                              {"threadKey", "thread-1"},
                              {"username", "friend"},
                              {"badge", 3},
                              {"collapseId", "m-1"}}));
  EXPECT_EQ(c.pairings().size(), 3u);  // 502 and 404 keep the pairing
  EXPECT_EQ(c.lastFailure(), "Apple 푸시가 거절했습니다 (BadDeviceToken).");
  EXPECT_EQ(c.lastPushAt(), start + 300ms);
  EXPECT_EQ(log.lines.back(), "push: message sent 1/3 badge 3 failures 2");

  // Badge 0 is sent; a negative badge and an empty collapse id are not.
  transport.respond = nullptr;
  run(c.push("badge", "t", "b", "", "", 0, "", pairing("c")));
  EXPECT_EQ(lastBody()["badge"], 0);
  EXPECT_FALSE(lastBody().contains("collapseId"));
  run(c.push("resumed", "t", "b", "", "", -1, "", pairing("c")));
  EXPECT_FALSE(lastBody().contains("badge"));
  EXPECT_EQ(c.lastFailure(), std::nullopt);
  EXPECT_EQ(c.lastPushAt(), start + 300ms);  // not a message
  EXPECT_EQ(c.sentCount(), 3);
}

TEST_F(PushOperations, FanOutRemovesPairingsTheServerNoLongerKnows) {
  PushClient& c = make();
  c.setPairings({pairing("a"), pairing("b"), pairing("a"), pairing("d"), pairing("e")});
  transport.respond = bySecret({{"a", answer(410)}, {"d", answer(401)}, {"e", answer(429)}});
  EXPECT_EQ(run(c.push("badge", "t", "b", "", "", 2, "")), 1);
  EXPECT_EQ(transport.requests.size(), 5u);  // the snapshot is not shortened by the removal
  EXPECT_EQ(c.pairings(), (std::vector<PushClient::Pairing>{pairing("b"), pairing("e")}));
  EXPECT_EQ(PushClient::decodePairings(*settings.stringValue("pushPairings")), c.pairings());
  EXPECT_EQ(c.lastFailure(), "iPhone 등록이 사라졌습니다(앱 삭제 등). iPhone을 다시 연결하세요.");
  EXPECT_EQ(log.lines.back(), "push: badge sent 1/5 badge 2 failures 4");
  expectNoSecretInLog("Bearer");

  // With no pairings nothing happens at all.
  c.setPairings({});
  log.lines.clear();
  EXPECT_EQ(run(c.push("message", "t", "b", "k", "u", 1, "x")), 0);
  EXPECT_EQ(transport.requests.size(), 5u);
  EXPECT_TRUE(log.lines.empty());
}

TEST_F(PushOperations, UnpairingRemovesThePairingWhateverTheServerSays) {
  PushClient& c = make();
  c.setPairings({pairing("a"), pairing("b")});
  replyAll(noAnswer(HttpFailureKind::timedOut));
  run(c.unpair(pairing("a")));
  EXPECT_EQ(c.pairings(), (std::vector<PushClient::Pairing>{pairing("b")}));
  EXPECT_EQ(c.pairNote(), (PushClient::Note{"연결을 해제했습니다.", false}));
  EXPECT_EQ(log.lines.back(), "push: unpaired, pairings 1");
}

TEST_F(PushOperations, TestNotificationReportsItsOutcome) {
  PushClient& c = make();
  run(c.sendTest());
  EXPECT_EQ(c.testNote(), (PushClient::Note{"연결된 iPhone이 없습니다.", true}));
  EXPECT_TRUE(transport.requests.empty());

  c.setPairings({pairing("a")});
  loop.advanceTo(Time{} + 1772467020s - 100ms);  // answer at 2026-03-02 15:57:00 UTC
  spawn(c.sendTest());
  EXPECT_EQ(c.testNote(), (PushClient::Note{"보내는 중…", false}));
  loop.advance(1s);
  EXPECT_EQ(c.testNote(), (PushClient::Note{"보냈습니다 (오후 3:57)", false}));
  EXPECT_EQ(lastBody()["body"], "테스트 PC에서 보낸 시험 알림입니다");
  EXPECT_FALSE(c.lastPushAt());

  replyAll(answer(429));
  run(c.sendTest());
  EXPECT_EQ(c.testNote(), (PushClient::Note{"너무 자주 보냈습니다. 잠시 뒤 다시 시도하세요.", true}));
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
