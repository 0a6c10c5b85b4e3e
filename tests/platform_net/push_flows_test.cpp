// The push client's flows over the real libsoup transport and a relay
// stand-in on 127.0.0.1.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/korean_time.h"
#include "base/log.h"
#include "base/settings.h"
#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/net/soup_transport.h"
#include "push/printers.h"
#include "push/push_client.h"
#include "platform_net/test_server.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

class PushFlows : public ::testing::Test {
 protected:
  MemorySettings settings;
  MemoryLog log;
  SystemClock clock;
  SoupTransport transport;
  KoreanTimeFormat utc{"UTC"};
  TestServer server;
  std::unique_ptr<PushClient> client;

  PushClient& make(const std::string& serverURL) {
    client = std::make_unique<PushClient>(PushClient::Dependencies{settings, log, clock, transport,
                                                                   [] { return std::string("연구실 PC"); },
                                                                   "https://relay.corvid.invalid", 2s, &utc});
    client->setServerURL(serverURL);
    return *client;
  }

  static PushClient::Pairing pairing(std::string secret) {
    return {std::move(secret), "iPhone15,2", "production", Time{} + std::chrono::seconds(1772442000)};
  }

  static std::string bearer(const TestServer::Received& r) {
    std::string auth = r.header("Authorization");
    return auth.rfind("Bearer ", 0) == 0 ? auth.substr(7) : std::string();
  }

  void expectNoSecretInLog(const std::string& secret) {
    for (const auto& line : log.lines)
      EXPECT_EQ(line.find(secret), std::string::npos) << "a log line carries a secret";
  }
};

}  // namespace

TEST_F(PushFlows, AFanOutPastAGonePhoneStillReachesTheNext) {
  PushClient& c = make(" " + server.origin() + "/relay/ignored\n");
  c.setPairings({pairing("first-secret"), pairing("second-secret")});
  server.handler = [](const TestServer::Received& r) {
    return bearer(r) == "first-secret" ? TestServer::Reply{410, R"({"error":"Unregistered"})"}
                                       : TestServer::Reply{};
  };
  int reached = runOnMainLoop(c.push("message", "친구", "안녕하세요", "t-1", "friend", -1, ""));
  EXPECT_EQ(reached, 1);

  ASSERT_EQ(server.received.size(), 2u);
  EXPECT_TRUE(bearer(server.received[1]) == "second-secret") << "the second target was not reached";
  EXPECT_EQ(server.received[1].path, "/v1/push");
  EXPECT_EQ(server.received[1].body,
            R"({"body":"안녕하세요","kind":"message","threadKey":"t-1","title":"친구","username":"friend"})");
  ASSERT_EQ(c.pairings().size(), 1u);
  auto stored = PushClient::decodePairings(settings.stringValue("pushPairings").value_or(""));
  EXPECT_TRUE(stored && *stored == c.pairings()) << "the removal was not persisted";
  EXPECT_EQ(c.lastFailure(), "iPhone 등록이 사라졌습니다(앱 삭제 등). iPhone을 다시 연결하세요.");
  EXPECT_EQ(log.lines.back(), "push: message sent 1/2 badge -1 failures 1");
  expectNoSecretInLog("first-secret");
  expectNoSecretInLog("second-secret");
}

TEST_F(PushFlows, AConfirmationAnsweredGoneUndoesTheNewPairing) {
  PushClient& c = make(server.origin());
  server.handler = [](const TestServer::Received& r) {
    if (r.path == "/v1/pair")
      return TestServer::Reply{200, R"({"secret":"fresh-secret","deviceModel":"iPhone16,1"})"};
    return TestServer::Reply{410, "{}"};
  };
  EXPECT_TRUE(runOnMainLoop(c.pair("12 34 56")));
  ASSERT_EQ(server.received.size(), 2u);
  EXPECT_EQ(nlohmann::json::parse(server.received[0].body),
            (nlohmann::json{{"code", "123456"}, {"label", "연구실 PC"}}));
  EXPECT_TRUE(bearer(server.received[1]) == "fresh-secret") << "confirmation went out without the new secret";
  EXPECT_EQ(nlohmann::json::parse(server.received[1].body)["kind"], "paired");
  EXPECT_TRUE(c.pairings().empty());
  EXPECT_EQ(settings.stringValue("pushPairings"), "[]");
  ASSERT_TRUE(c.pairNote());
  EXPECT_EQ(c.pairNote()->text,
            "연결은 되었지만 확인 알림을 보내지 못했습니다: iPhone 등록이 사라졌습니다(앱 삭제 등). iPhone을 "
            "다시 연결하세요.");
  EXPECT_TRUE(c.pairNote()->isError);
  expectNoSecretInLog("fresh-secret");
}

TEST_F(PushFlows, UnpairingAnUnreachableServerStillEndsThePairing) {
  PushClient& c = make(closedPortOrigin());
  c.setPairings({pairing("old-secret"), pairing("kept-secret")});
  runOnMainLoop(c.unpair(pairing("old-secret")));
  ASSERT_EQ(c.pairings().size(), 1u);
  EXPECT_TRUE(c.pairings()[0].secret == "kept-secret");
  EXPECT_EQ(c.pairNote(), (PushClient::Note{"연결을 해제했습니다.", false}));
  EXPECT_EQ(log.lines.back(), "push: unpaired, pairings 1");
}

TEST_F(PushFlows, UnreachableServersGiveTheirProblemText) {
  SelfSignedCertificate cert;
  TestServer https(cert.certificate());
  TestServer silent;  // runs into the client's time-out (2 s here)
  silent.handler = [](const TestServer::Received&) { return std::nullopt; };
  const std::pair<std::string, std::string> cases[] = {
      {closedPortOrigin(), "서버를 찾을 수 없음"}, {silent.origin(), "시간 초과"}, {https.origin(), "보안 연결 실패"}};
  PushClient& c = make(server.origin());
  for (const auto& [origin, cause] : cases) {
    c.setServerURL(origin);
    RelayResult r = runOnMainLoop(c.request("/v1/status", "POST", "kept-secret", {{"status", "ok"}}));
    ASSERT_FALSE(r.ok()) << origin;
    EXPECT_EQ(r.error().message, "알림 서버에 연결할 수 없습니다 (" + cause + ").");
    EXPECT_EQ(c.connectionProblem(), r.error().message);
  }
  EXPECT_TRUE(https.received.empty());
}
