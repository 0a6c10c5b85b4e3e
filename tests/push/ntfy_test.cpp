// ntfy delivery over the fake transport, in virtual time: the topic URL
// rules, the topic generator, the fan-out after the pairings with its
// bodies, and what failures show.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "base/korean_time.h"
#include "base/log.h"
#include "base/durable_file.h"
#include "base/settings.h"
#include "base/virtual_loop.h"
#include "push/ntfy.h"
#include "push/push_client.h"
#include "support/fake_platform.h"

using namespace corvid;
using namespace corvid::testing;
using namespace std::chrono_literals;

namespace {

constexpr const char* kTopic = "https://ntfy.test/corvid-abc123";

struct Ntfy : ::testing::Test {
  VirtualLoop loop;
  MemorySettings settings;
  MemoryLog log;
  FakeTransport transport{loop};
  KoreanTimeFormat utc{"UTC"};
  MemoryDurableFile outbox;
  std::unique_ptr<PushClient> client;

  // With `durable`, passing failures wait in `outbox` and are sent again.
  PushClient& make(std::vector<std::string> secrets = {}, bool durable = false) {
    transport.delay = 100ms;
    PushClient::Dependencies deps{settings, log, loop, transport, [] { return std::string("테스트 PC"); },
                                  "https://relay.test", 15s, &utc};
    deps.serviceOrigin = "https://ig.test";
    if (durable) {
      deps.scheduler = &loop;
      deps.outboxFile = &outbox;
      deps.random = [] { return 0.5; };
    }
    client = std::make_unique<PushClient>(std::move(deps));
    std::vector<PushClient::Pairing> pairings;
    for (auto& s : secrets) pairings.push_back({s, "iPhone", "production", loop.now()});
    client->setPairings(pairings);
    return *client;
  }
  // Answers by host: the relay with `relay`, ntfy with `ntfy`.
  void answers(HttpResult relay, HttpResult ntfy) {
    transport.respond = [=](const HttpRequest& r) { return r.url.starts_with("https://ntfy.test") ? ntfy : relay; };
  }
  int push(std::string kind, std::string title = "Friend", std::string body = "안녕", std::string key = "k1") {
    return runTask(loop, client->push(kind, title, body, key, "friend", 2, "m-1"));
  }
  std::vector<std::string> urls() const {
    std::vector<std::string> out;
    for (const auto& r : transport.requests) out.push_back(r.url);
    return out;
  }
};

}  // namespace

TEST(NtfyTopic, OnlyHttpsOrLoopbackHttpWithAValidTopicIsUsable) {
  using ntfy::Topic;
  EXPECT_EQ(ntfy::parseTopicURL(" https://ntfy.sh/corvid-7q2m\n"), (Topic{"https://ntfy.sh/", "corvid-7q2m"}));
  EXPECT_EQ(ntfy::parseTopicURL("HTTPS://user:pw@push.example:8443/ntfy/My_Topic/"),
            (Topic{"https://push.example:8443/ntfy/", "My_Topic"}));
  EXPECT_EQ(ntfy::parseTopicURL("http://127.0.0.9:8080/t"), (Topic{"http://127.0.0.9:8080/", "t"}));
  EXPECT_EQ(ntfy::parseTopicURL("http://[::1]:80/t"), (Topic{"http://[::1]:80/", "t"}));
  EXPECT_TRUE(ntfy::parseTopicURL("http://LocalHost/t"));
  for (const char* bad :
       {"", "ntfy.sh/topic", "ftp://ntfy.sh/t", "http://ntfy.sh/t", "http://127.0.0.1.example/t",
        "http://10.0.0.1/t", "https://ntfy.sh/", "https://ntfy.sh", "https://ntfy.sh/t?auth=x",
        "https://ntfy.sh/t#x", "https://ntfy.sh/bad.topic", "https:///t",
        "https://ntfy.sh/01234567890123456789012345678901234567890123456789012345678901234"}) {
    EXPECT_FALSE(ntfy::parseTopicURL(bad)) << bad;
  }
}

TEST(NtfyTopic, NewTopicsAreTwentyCharactersOfLowerCaseLettersAndDigitsFromTheRandomSource) {
  const std::regex shape("https://ntfy\\.sh/corvid-[a-z0-9]{20}");
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string url = ntfy::newTopicURL();
    EXPECT_TRUE(std::regex_match(url, shape)) << url;
    EXPECT_TRUE(ntfy::parseTopicURL(url));
    seen.insert(url);
  }
  EXPECT_EQ(seen.size(), 50u);
  // Bytes of 252 and above are drawn again, so each character is equally
  // likely; the rest map onto the 36 characters in order (32 bytes a draw).
  int calls = 0;
  auto bytes = [&](unsigned char* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = calls == 0 ? static_cast<unsigned char>(252 + i % 4) : static_cast<unsigned char>(i);
    ++calls;
  };
  EXPECT_EQ(ntfy::randomTopicName(37, bytes), "abcdefghijklmnopqrstuvwxyz012345abcde");
  EXPECT_EQ(calls, 3);
}

TEST_F(Ntfy, TheTopicIsStoredOnlyWhenUsableAndClearedByAnEmptyText) {
  PushClient& c = make();
  EXPECT_FALSE(c.setNtfyTopicURL("http://ntfy.sh/corvid"));
  EXPECT_FALSE(settings.contains("ntfyTopicURL"));
  EXPECT_TRUE(c.setNtfyTopicURL(std::string(" ") + kTopic));
  EXPECT_EQ(settings.stringValue("ntfyTopicURL"), kTopic);
  c.setNtfyAccessToken(" tk_secret ");
  EXPECT_EQ(settings.stringValue("ntfyAccessToken"), "tk_secret");
  EXPECT_FALSE(c.setNtfyTopicURL("https://"));  // half typed: the stored topic stays
  EXPECT_TRUE(make().hasNtfyTopic());
  EXPECT_EQ(client->ntfyAccessToken(), "tk_secret");
  EXPECT_TRUE(client->setNtfyTopicURL(""));
  client->setNtfyAccessToken("");
  EXPECT_FALSE(settings.contains("ntfyTopicURL"));
  EXPECT_FALSE(settings.contains("ntfyAccessToken"));
  EXPECT_FALSE(client->hasNtfyTopic());
}

TEST_F(Ntfy, FanOutGoesToThePairingsThenToNtfyWithTheJsonBodyOfEachKind) {
  settings.setString("ntfyTopicURL", kTopic);
  settings.setString("ntfyAccessToken", "tk_abc");
  make({"s1", "s2"});
  EXPECT_EQ(push("message", "Friend 1", "안녕, \"잘\" 지내?", "340282366"), 3);
  EXPECT_EQ(urls(), (std::vector<std::string>{"https://relay.test/v1/push", "https://relay.test/v1/push",
                                              "https://ntfy.test/"}));
  const HttpRequest& publish = transport.requests[2];
  EXPECT_EQ(publish.method, "POST");
  EXPECT_EQ(headerOf(publish, "Content-Type"), "application/json");
  EXPECT_EQ(headerOf(publish, "Authorization"), "Bearer tk_abc");
  EXPECT_EQ(jsonOf(publish), Json::parse(R"({"topic":"corvid-abc123","title":"Friend 1",
      "message":"안녕, \"잘\" 지내?","tags":["speech_balloon"],"click":"https://ig.test/direct/t/340282366/"})"));
  EXPECT_EQ(log.lines.back(), "push: message sent 3/3 badge 2");
  EXPECT_EQ(client->sentCount(), 3);

  // The inbox when the thread has no key; the other kinds carry their
  // texts alone; badge and paired never go to ntfy, nor a push to one pairing.
  transport.requests.clear();
  push("message", "새 메시지", "새 메시지", "");
  EXPECT_EQ(jsonOf(transport.requests.back())["click"], "https://ig.test/direct/inbox/");
  for (const char* kind : {"logged_out", "resumed", "test"}) {
    transport.requests.clear();
    push(kind, "제목", "본문");
    ASSERT_EQ(transport.requests.size(), 3u) << kind;
    EXPECT_EQ(jsonOf(transport.requests[2]), (Json{{"topic", "corvid-abc123"}, {"title", "제목"}, {"message", "본문"}}));
  }
  transport.requests.clear();
  push("badge");
  push("paired");
  runTask(loop, client->push("message", "t", "b", "k", "u", -1, "", client->pairings()[0]));
  for (const auto& u : urls()) EXPECT_TRUE(u.starts_with("https://relay.test")) << u;

  // With a topic alone, ntfy is the whole fan-out, and the tests reach it.
  client->setPairings({});
  client->setNtfyAccessToken("");
  transport.requests.clear();
  EXPECT_EQ(push("message"), 1);
  EXPECT_EQ(headerOf(transport.requests[0], "Authorization"), "");
  EXPECT_EQ(log.lines.back(), "push: message sent 1/1 badge 2");
  runTask(loop, client->sendTest());
  EXPECT_EQ(jsonOf(transport.requests.back())["message"], "테스트 PC에서 보낸 시험 알림입니다");
  EXPECT_FALSE(client->testNote()->isError);
}

TEST_F(Ntfy, FailuresShowTheirTextsKeepTheTopicAndClearOnSuccess) {
  settings.setString("ntfyTopicURL", kTopic);
  make({"s1"});
  const std::pair<HttpResult, std::string> cases[] = {
      {answer(401, R"({"code":40101,"http":401,"error":"unauthorized"})"), std::string(ntfy::kUnauthorizedText)},
      {answer(403, R"({"code":40301,"http":403,"error":"forbidden"})"), std::string(ntfy::kUnauthorizedText)},
      {answer(429, R"({"code":42901,"http":429,"error":"limit reached: too many requests"})"),
       "너무 자주 보냈습니다. 잠시 뒤 다시 시도하세요."},
      {answer(507, R"({"code":50701,"http":507,"error":"insufficient storage"})"), "insufficient storage"},
      {noAnswer(HttpFailureKind::timedOut), "알림 서버에 연결할 수 없습니다 (시간 초과)."},
  };
  for (const auto& [reply, text] : cases) {
    answers(answer(200), reply);
    EXPECT_EQ(push("message"), 1) << text;
    EXPECT_EQ(client->lastFailure(), text);
    EXPECT_EQ(client->ntfyProblem(), text);
    EXPECT_EQ(log.lines.back(), "push: message sent 1/2 badge 2 failures 1");
    EXPECT_EQ(client->ntfyTopicURL(), kTopic);
    EXPECT_EQ(settings.stringValue("ntfyTopicURL"), kTopic);
  }
  // The relay's own problem texts are untouched by ntfy's failures.
  EXPECT_FALSE(client->connectionProblem());
  EXPECT_FALSE(client->deliveryProblem());
  answers(answer(200), answer(200));
  runTask(loop, client->sendNtfyTest());
  EXPECT_EQ(transport.requests.back().url, "https://ntfy.test/");
  EXPECT_EQ(client->ntfyTestNote(), (PushClient::Note{"보냈습니다 (" + utc.clockTime(loop.now()) + ")", false}));
  EXPECT_FALSE(client->ntfyProblem());
}

TEST_F(Ntfy, PassingFailuresWaitInTheOutboxUnderTheirOwnNameAndGoOutInOrderOnRecovery) {
  settings.setString("ntfyTopicURL", kTopic);
  settings.setString("ntfyAccessToken", "tk_secret");
  make({"s1"}, true);
  answers(answer(200), answer(503, R"({"code":50301,"http":503,"error":"service unavailable"})"));
  EXPECT_EQ(push("message", "F", "하나"), 1);  // the pairing has it; ntfy waits
  EXPECT_EQ(push("message", "F", "둘"), 1);
  EXPECT_EQ(client->waitingCount(), 2);
  EXPECT_EQ(client->ntfyProblem(), "service unavailable");
  // Named by a reference that carries neither the topic nor the token.
  ASSERT_TRUE(outbox.text);
  EXPECT_NE(outbox.text->find(R"("target":"ntfy")"), std::string::npos) << *outbox.text;
  EXPECT_EQ(outbox.text->find("tk_secret"), std::string::npos);
  EXPECT_EQ(outbox.text->find("corvid-abc123"), std::string::npos);

  // A refusal is not tried again and never costs the topic.
  answers(answer(200), answer(403, R"({"code":40301,"http":403,"error":"forbidden"})"));
  loop.advance(70s);
  EXPECT_EQ(client->waitingCount(), 0);
  EXPECT_GE(std::count(log.lines.begin(), log.lines.end(), "push: dropped message HTTP 403"), 1);
  EXPECT_TRUE(client->hasNtfyTopic());

  // Down again, then back: everything waiting arrives once, in order.
  answers(answer(200), noAnswer(HttpFailureKind::timedOut));
  push("message", "F", "셋");
  push("message", "F", "넷");
  loop.advance(5s);
  answers(answer(200), answer(200));
  transport.requests.clear();
  loop.advance(70s);
  std::vector<std::string> published;
  for (const auto& r : transport.requests) {
    if (r.url.starts_with("https://ntfy.test")) published.push_back(jsonOf(r)["message"]);
  }
  EXPECT_EQ(published, (std::vector<std::string>{"셋", "넷"}));
  EXPECT_EQ(client->waitingCount(), 0);
  EXPECT_FALSE(client->ntfyProblem());

  // Turning ntfy off drops what waits for it.
  answers(answer(200), answer(500));
  push("message", "F", "다섯");
  EXPECT_EQ(client->waitingCount(), 1);
  client->setNtfyTopicURL("");
  EXPECT_EQ(client->waitingCount(), 0);
}
