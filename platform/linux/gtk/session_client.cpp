#include "platform/linux/gtk/session_client.h"

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace corvid::linux_platform {

namespace {

// Every open client, to find the one whose manager went away.
std::set<SessionClient*>& clients() {
  static std::set<SessionClient*> all;
  return all;
}

// ICE connections watched on the main loop: connection → source.
std::map<IceConn, guint>& watched() {
  static std::map<IceConn, guint> all;
  return all;
}

// libICE's and libSM's default handlers end the process when a connection
// fails; a session manager that goes away must not take Corvid with it.
// The message loop below notices the failure and closes the connection.
void ignoreIoError(IceConn) {}
void ignoreError(IceConn, Bool, int, unsigned long, int, int, IcePointer) {}
void ignoreSmcError(SmcConn, Bool, int, unsigned long, int, int, SmPointer) {}

gboolean iceReadable(gint, GIOCondition, gpointer data) {
  auto connection = static_cast<IceConn>(data);
  if (IceProcessMessages(connection, nullptr, nullptr) != IceProcessMessagesIOError) return G_SOURCE_CONTINUE;
  // The manager went away: its client leaves the session, which closes the
  // ICE connection and ends this source's watch.
  std::vector<SessionClient*> owners(clients().begin(), clients().end());
  for (SessionClient* client : owners) client->connectionFailed(connection);
  watched().erase(connection);  // gone already when the close ended the watch
  return G_SOURCE_REMOVE;
}

void iceWatch(IceConn connection, IcePointer, Bool opening, IcePointer*) {
  if (opening) {
    // The descriptor must not leak into the programs Corvid starts.
    fcntl(IceConnectionNumber(connection), F_SETFD, FD_CLOEXEC);
    watched()[connection] =
        g_unix_fd_add(IceConnectionNumber(connection),
                      static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), &iceReadable, connection);
  } else if (auto it = watched().find(connection); it != watched().end()) {
    g_source_remove(it->second);
    watched().erase(it);
  }
}

void installOnce() {
  static const bool installed = [] {
    IceSetIOErrorHandler(&ignoreIoError);
    IceSetErrorHandler(&ignoreError);
    SmcSetErrorHandler(&ignoreSmcError);
    IceAddConnectionWatch(&iceWatch, nullptr);
    return true;
  }();
  (void)installed;
}

SmcConn smc(void* connection) { return static_cast<SmcConn>(connection); }

// One property of the client, as the manager keeps it.
struct Property {
  Property(const char* name, const char* type, std::vector<std::string> values) : strings(std::move(values)) {
    prop.name = const_cast<char*>(name);
    prop.type = const_cast<char*>(type);
    for (std::string& s : strings) {
      vals.push_back(SmPropValue{static_cast<int>(s.size()), s.data()});
    }
    prop.num_vals = static_cast<int>(vals.size());
    prop.vals = vals.data();
  }
  Property(const Property&) = delete;
  std::vector<std::string> strings;
  std::vector<SmPropValue> vals;
  SmProp prop{};
};

}  // namespace

struct SessionClient::Callbacks {
  static void saveYourself(SmcConn, SmPointer self, int /*saveType*/, Bool shutdown, int /*interactStyle*/,
                           Bool fast) {
    auto* client = static_cast<SessionClient*>(self);
    client->savePending_ = true;
    if (client->handlers_.saveYourself) {
      client->handlers_.saveYourself(SessionSave{.shutdown = shutdown != False, .fast = fast != False});
    } else {
      client->saveYourselfDone();
    }
  }
  static void die(SmcConn, SmPointer self) {
    auto* client = static_cast<SessionClient*>(self);
    if (client->handlers_.die) client->handlers_.die();
  }
  static void saveComplete(SmcConn, SmPointer) {}
  static void shutdownCancelled(SmcConn, SmPointer self) {
    auto* client = static_cast<SessionClient*>(self);
    if (client->handlers_.shutdownCancelled) client->handlers_.shutdownCancelled();
  }
};

SessionClient::SessionClient(Handlers handlers, std::string program)
    : handlers_(std::move(handlers)), program_(std::move(program)) {
  const char* manager = g_getenv("SESSION_MANAGER");
  if (!manager || !*manager) return;
  installOnce();

  SmcCallbacks callbacks{};
  callbacks.save_yourself.callback = &Callbacks::saveYourself;
  callbacks.save_yourself.client_data = this;
  callbacks.die.callback = &Callbacks::die;
  callbacks.die.client_data = this;
  callbacks.save_complete.callback = &Callbacks::saveComplete;
  callbacks.save_complete.client_data = this;
  callbacks.shutdown_cancelled.callback = &Callbacks::shutdownCancelled;
  callbacks.shutdown_cancelled.client_data = this;

  // A manager that started Corvid tells it the identifier to take.
  std::string previous;
  if (const char* id = g_getenv("DESKTOP_AUTOSTART_ID"); id && *id) previous = id;
  char* id = nullptr;
  char error[256] = "";
  SmcConn connection = SmcOpenConnection(
      nullptr, this, SmProtoMajor, SmProtoMinor,
      SmcSaveYourselfProcMask | SmcDieProcMask | SmcSaveCompleteProcMask | SmcShutdownCancelledProcMask,
      &callbacks, previous.empty() ? nullptr : previous.c_str(), &id, sizeof error, error);
  if (!connection) {
    g_message("session manager not reachable: %s", error);
    return;
  }
  connection_ = connection;
  clientId_ = id ? id : "";
  free(id);
  clients().insert(this);
  setProperties();
}

SessionClient::~SessionClient() {
  clients().erase(this);
  if (connection_) SmcCloseConnection(smc(connection_), 0, nullptr);
}

void SessionClient::setProperties() {
  const std::string user = g_get_user_name();
  const std::string pid = std::to_string(getpid());
  Property program(SmProgram, SmARRAY8, {program_});
  Property restart(SmRestartCommand, SmLISTofARRAY8, {program_});
  Property clone(SmCloneCommand, SmLISTofARRAY8, {program_});
  Property userId(SmUserID, SmARRAY8, {user});
  Property processId(SmProcessID, SmARRAY8, {pid});
  Property style(SmRestartStyleHint, SmCARD8, {std::string(1, static_cast<char>(SmRestartNever))});
  SmProp* props[] = {&program.prop, &restart.prop, &clone.prop, &userId.prop, &processId.prop, &style.prop};
  SmcSetProperties(smc(connection_), static_cast<int>(std::size(props)), props);
}

void SessionClient::saveYourselfDone(bool success) {
  if (!connection_ || !savePending_) return;
  savePending_ = false;
  SmcSaveYourselfDone(smc(connection_), success ? True : False);
}

void SessionClient::connectionFailed(void* iceConnection) {
  if (!connection_ || SmcGetIceConnection(smc(connection_)) != iceConnection) return;
  SmcCloseConnection(smc(std::exchange(connection_, nullptr)), 0, nullptr);
  clients().erase(this);
  savePending_ = false;
}

}  // namespace corvid::linux_platform
