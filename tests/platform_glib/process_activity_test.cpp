// The logind idle inhibitor against a stand-in logind on a private bus.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "platform/linux/glib/process_activity.h"
#include "platform_glib/test_support.h"

using namespace corvid;
using namespace corvid::linux_platform;
using namespace corvid::testing;

namespace {

class IdleInhibitor : public ::testing::Test {
 protected:
  IdleInhibitor() { EXPECT_EQ(pipe(pipe_), 0); }
  ~IdleInhibitor() override {
    for (int fd : pipe_)
      if (fd >= 0) close(fd);
  }
  // logind: Inhibit hands out the write end of our pipe, or refuses with `refusal`.
  std::unique_ptr<BusStub> startLogind(const std::string& refusal = {}) {
    return std::make_unique<BusStub>(bus_.address(), "org.freedesktop.login1", "/org/freedesktop/login1",
                                     kLogindManagerXml, [this, refusal](const std::string&, GVariant*) {
                                       return refusal.empty() ? BusStub::Reply::descriptor(dup(pipe_[1]))
                                                              : BusStub::Reply::refusal(refusal);
                                     });
  }
  // The read end sees a hang-up once every copy of the write end is closed.
  bool writeEndOpen() {
    pollfd p{pipe_[0], POLLIN, 0};
    return poll(&p, 1, 0) == 0;
  }
  void settle(LogindIdleInhibitor& inhibitor) {
    EXPECT_TRUE(spinUntil([&] { return inhibitor.settled(); }));
    spinFor(50ms);
  }

  PrivateBus bus_;
  MemoryLog log_;
  int pipe_[2] = {-1, -1};
};

TEST_F(IdleInhibitor, HoldsTheDescriptorForItsWholeLife) {
  auto logind = startLogind();
  {
    LogindIdleInhibitor inhibitor(log_, bus_.address());
    inhibitor.begin("Instagram DM watcher");
    inhibitor.begin("again");  // only the first call asks
    settle(inhibitor);
    ASSERT_EQ(logind->calls().size(), 1u);
    EXPECT_EQ(logind->calls()[0].args, "('idle:sleep', 'Corvid', 'Instagram DM watcher', 'block')");
    EXPECT_TRUE(log_.lines.empty());
    close(pipe_[1]);  // only the inhibitor's copy is left
    pipe_[1] = -1;
    EXPECT_TRUE(writeEndOpen());
  }
  EXPECT_FALSE(writeEndOpen());
}

TEST_F(IdleInhibitor, SkipsWithOneLineWithoutBusLogindOrPermission) {
  struct Case {
    std::string address;
    bool logind;
    std::string cause;  // empty: any
  };
  const Case cases[] = {{"unix:path=/nonexistent/corvid-test-bus", false, ""},
                        {bus_.address(), false, ""},
                        {bus_.address(), true, "Permission denied"}};
  for (const auto& c : cases) {
    auto logind = c.logind ? startLogind(c.cause) : nullptr;
    MemoryLog log;
    LogindIdleInhibitor inhibitor(log, c.address);
    inhibitor.begin("Instagram DM watcher");
    settle(inhibitor);
    ASSERT_EQ(log.lines.size(), 1u) << c.address;
    EXPECT_EQ(log.lines[0].rfind("app: no idle inhibitor (", 0), 0u) << log.lines[0];
    if (!c.cause.empty()) {
      EXPECT_EQ(log.lines[0], "app: no idle inhibitor (" + c.cause + ")");
    }
    EXPECT_EQ(inhibitor.fd(), -1);
  }
}

TEST_F(IdleInhibitor, GoingAwayDuringTheCallIsHarmless) {
  auto logind = startLogind();
  {
    LogindIdleInhibitor inhibitor(log_, bus_.address());
    inhibitor.begin("Instagram DM watcher");
    spinFor(1ms);
  }
  spinFor(200ms);  // the late answers find nobody
  EXPECT_TRUE(log_.lines.empty());
}

}  // namespace
