// Helpers shared by the tests and benchmarks of the Linux adapters: waiting
// on the default main context, temporary folders, our own child processes,
// a private message bus and stand-ins for D-Bus services on it.
#pragma once

#include <gio/gio.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace corvid::testing {

using namespace std::chrono_literals;

// Iterates the default main context until `done` holds or `limit` passes;
// answers whether `done` held.
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s);
void spinFor(std::chrono::milliseconds d);

std::string readFile(const std::filesystem::path& file);

// A fresh folder, removed with everything below it (read-only folders
// too) when the object goes.
class TempDir {
 public:
  explicit TempDir(const char* prefix = "corvid-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& p) const { return path_ / p; }

 private:
  std::filesystem::path path_;
};

// Processes below this one (at any depth) whose command name is `name`,
// e.g. WebKit's "WebKitWebProces".
std::set<pid_t> descendantsNamed(const std::string& name);

// A private message bus: a dbus-daemon of our own, stopped again by the
// destructor (and when the test process dies).
class PrivateBus {
 public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  const std::string& address() const { return address_; }

 private:
  GSubprocess* daemon_ = nullptr;
  std::string address_;
};

// A connection of its own to the message bus at `address`; nullptr on failure.
GDBusConnection* connectTo(const std::string& address);

// logind's manager interface as far as Corvid uses it.
extern const char* const kLogindManagerXml;

// A stand-in for a D-Bus service: exports the first interface of `xml` at
// `path` and owns `name` on the bus at `address`. It serves from a thread
// of its own, so that the code under test may block on it. Every method
// call is recorded; `method` answers it (by default with no value).
class BusStub {
 public:
  struct Call {
    std::string sender;
    std::string method;
    std::string args;  // as g_variant_print writes them: ('a', 1)
  };
  struct Reply {
    Reply(GVariant* v = nullptr) : value(v) {}
    // Handle 0 with `fd`, which the stub closes after sending.
    static Reply descriptor(int fd) {
      Reply r;
      r.fd = fd;
      return r;
    }
    // An AccessDenied error with this text.
    static Reply refusal(std::string text) {
      Reply r;
      r.error = std::move(text);
      return r;
    }
    GVariant* value = nullptr;  // floating references are taken
    int fd = -1;
    std::string error;
  };
  using Method = std::function<Reply(const std::string& method, GVariant* args)>;
  using Property = std::function<GVariant*(const std::string& name)>;

  BusStub(std::string address, std::string name, std::string path, std::string xml, Method method = {},
          Property property = {});
  ~BusStub();
  BusStub(const BusStub&) = delete;
  BusStub& operator=(const BusStub&) = delete;

  // Takes the name (done at start) or gives it up again; answers whether
  // the stub is its primary owner.
  bool own();
  void release();
  bool owned() const { return owned_; }

  std::vector<Call> calls() const;
  // Emits a signal of the interface from the stub's connection.
  void emit(const char* signal, GVariant* args);
  GDBusConnection* connection() const { return connection_; }

 private:
  void stop();
  static void onCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                     GVariant* args, GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* onGet(GDBusConnection*, const char*, const char*, const char*, const char* property,
                         GError**, gpointer self);

  std::string address_, name_, path_, xml_, interface_;
  Method method_;
  Property property_;
  GDBusConnection* connection_ = nullptr;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  bool owned_ = false;
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  std::thread thread_;
};

}  // namespace corvid::testing
