// The push client publishing to the ntfy stand-in over real https on
// 127.0.0.1, through the libsoup transport.
#include <gtest/gtest.h>

#include "base/log.h"
#include "base/settings.h"
#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/net/soup_transport.h"
#include "platform_net/ntfy_server.h"
#include "push/push_client.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;

TEST(NtfyPublish, MessagesArriveAsJsonOverHttpsAndRefusalsBecomeTheirTexts) {
  SelfSignedCertificate cert;
  GTlsDatabase* trusted = g_tls_file_database_new((cert.dir / "cert.pem").c_str(), nullptr);
  ASSERT_TRUE(trusted);
  SoupTransport transport({trusted});
  NtfyServer ntfy(cert.certificate);
  ntfy.token = "tk_right";
  ntfy.forbidden = {"someone-elses"};
  MemorySettings settings;
  MemoryLog log;
  SystemClock clock;
  PushClient::Dependencies deps{settings, log, clock, transport, [] { return std::string("노트북"); },
                                "https://relay.invalid"};
  deps.serviceOrigin = "https://ig.test";
  PushClient client(std::move(deps));
  ASSERT_TRUE(client.setNtfyTopicURL(ntfy.topicURL("corvid-abc")));
  client.setNtfyAccessToken("tk_right");
  auto push = [&] {
    return runOnMainLoop(client.push("message", "친구", "안녕 👋", "42", "friend", 1, "m-1"), 20s);
  };

  EXPECT_EQ(push(), 1);
  ASSERT_EQ(ntfy.messages().size(), 1u);
  const NtfyServer::Message& m = ntfy.messages()[0];
  EXPECT_EQ(m.topic, "corvid-abc");
  EXPECT_EQ(m.title, "친구");
  EXPECT_EQ(m.message, "안녕 👋");
  EXPECT_EQ(m.click, "https://ig.test/direct/t/42/");
  EXPECT_EQ(m.tags, std::vector<std::string>{"speech_balloon"});
  EXPECT_EQ(ntfy.requests()[0].headers.at("Authorization"), "Bearer tk_right");

  const std::string token = "ntfy 주제에 보낼 권한이 없습니다. 토큰을 확인하세요.";
  struct Case {
    std::function<void()> set;
    std::string failure;
  } cases[] = {
      {[&] { client.setNtfyAccessToken("tk_wrong"); }, token},
      {[&] {
         client.setNtfyAccessToken("tk_right");
         client.setNtfyTopicURL(ntfy.topicURL("someone-elses"));
       },
       token},
      {[&] { ntfy.failWith = 429; }, "너무 자주 보냈습니다. 잠시 뒤 다시 시도하세요."},
      {[&] { ntfy.failWith = 503; }, "internal server error"},
  };
  for (auto& c : cases) {
    c.set();
    EXPECT_EQ(push(), 0) << c.failure;
    EXPECT_EQ(client.lastFailure(), c.failure);
    EXPECT_EQ(client.ntfyProblem(), c.failure);
    EXPECT_TRUE(client.hasNtfyTopic());  // the user's topic stays
  }
  EXPECT_EQ(ntfy.messages().size(), 1u);
  g_object_unref(trusted);
}
