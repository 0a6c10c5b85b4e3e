// Helpers shared by the tests and benchmarks of the Linux adapters: waiting
// on the default main context, temporary folders, our own child processes,
// a private message bus and stand-ins for D-Bus services on it.
#pragma once

#include <gio/gio.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace corvid::testing {

using namespace std::chrono_literals;

// Iterates the default main context until `done` holds or `limit` passes;
// answers whether `done` held.
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s);
inline void spinFor(std::chrono::milliseconds d) {
  spinUntil([] { return false; }, d);
}

std::string readFile(const std::filesystem::path& file);

// A fresh folder, removed with everything below it when the object goes.
struct TempDir : std::filesystem::path {
  explicit TempDir(const char* prefix = "corvid-test");
  ~TempDir() { std::filesystem::remove_all(*this); }
  TempDir(const TempDir&) = delete;
  const std::filesystem::path& path() const { return *this; }
};

// Processes below this one (at any depth) whose command name is `name`,
// e.g. WebKit's "WebKitWebProces".
std::set<pid_t> descendantsNamed(const std::string& name);

// A private message bus: a dbus-daemon of our own, without service
// activation (only what the test starts is on it), stopped again by the
// destructor (and when the test process dies).
struct PrivateBus {
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  const std::string& address() const { return address_; }
  GSubprocess* daemon_ = nullptr;
  std::string address_;
};

// logind's manager interface as far as Corvid uses it.
extern const char* const kLogindManagerXml;

// A stand-in for a D-Bus service: answers the method calls for `path` and
// owns `name` on the bus at `address`; its signals belong to the first
// interface of `xml`. It answers from GDBus's own
// thread, so that the code under test may block on it. Every method call
// is recorded; `method` answers it (by default with no value).
class BusStub {
 public:
  struct Call {
    std::string args;  // as g_variant_print writes them: ('a', 1)
  };
  struct Reply {
    Reply(GVariant* v = nullptr, int descriptor = -1) : value(v), fd(descriptor) {}
    // Handle 0 with `fd`, which the stub closes after sending.
    static Reply descriptor(int fd) { return Reply(nullptr, fd); }
    GVariant* value;  // floating references are taken
    int fd;
  };
  // Property reads come as "Get" with ('interface', 'name') and want a
  // ('variant') answer.
  using Method = std::function<Reply(const std::string& method, GVariant* args)>;

  BusStub(const std::string& address, const std::string& name, std::string path, const std::string& xml,
          Method method = {});
  ~BusStub();
  BusStub(const BusStub&) = delete;

  std::vector<Call> calls() const;
  // Emits a signal of the interface from the stub's connection.
  void emit(const char* signal, GVariant* args);

 private:
  static GDBusMessage* filter(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer self);
  std::string path_, interface_;
  Method method_;
  GDBusConnection* connection_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
};

// A desktop notification server (org.freedesktop.Notifications) on the bus
// at `address` with one capability; it numbers the notifications from 1.
std::unique_ptr<BusStub> notificationServer(const std::string& address, const char* capability);

}  // namespace corvid::testing
