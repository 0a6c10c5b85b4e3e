// A push client over the fake transport, in virtual time: every request
// takes 100 ms.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/korean_time.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/virtual_loop.h"
#include "push/printers.h"
#include "push/push_client.h"
#include "support/fake_platform.h"

namespace corvid::testing {

class PushFixture : public ::testing::Test {
 protected:
  VirtualLoop loop;
  MemorySettings settings;
  MemoryLog log;
  FakeTransport transport{loop};
  KoreanTimeFormat utc{"UTC"};
  std::string computerName = "테스트 PC";
  std::unique_ptr<PushClient> client;

  void SetUp() override { transport.delay = std::chrono::milliseconds(100); }

  PushClient& make() {
    client = std::make_unique<PushClient>(
        PushClient::Dependencies{settings, log, loop, transport, [this] { return computerName; },
                                 "https://relay.test", std::chrono::seconds(15), &utc});
    return *client;
  }

  template <class T>
  T run(Task<T> task) {
    return runTask(loop, std::move(task));
  }
  // Every request answered with `reply`.
  void replyAll(HttpResult reply) {
    transport.respond = [reply](const HttpRequest&) { return reply; };
  }
  Json lastBody() const { return jsonOf(transport.requests.back()); }

  static PushClient::Pairing pairing(std::string secret) {
    return {std::move(secret), "iPhone15,2", "production", VirtualLoop::defaultStart()};
  }

  void expectNoSecretInLog(const std::string& secret) {
    for (const auto& line : log.lines)
      EXPECT_EQ(line.find(secret), std::string::npos) << "a log line carries a secret";
  }
};

}  // namespace corvid::testing
