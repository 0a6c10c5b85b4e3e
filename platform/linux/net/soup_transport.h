// The relay client's HTTP transport on libsoup 3, driven by the GLib main
// loop of the main thread.
#pragma once

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <vector>

#include "base/http.h"

namespace corvid::linux_platform {

// One shared libsoup session for all relay requests. It carries no cookie
// jar, no authentication manager (so no credentials, and a 401 comes back
// as it is), no content decoder (so no Accept-Encoding) and no User-Agent;
// redirects are not followed. Plain http and https both work; https trusts
// the system's CA certificates and nothing else. The system proxy settings
// apply, as for any other program of the desktop.
class SoupTransport : public HttpTransport {
 public:
  struct Options {
    // The certificates to trust for https. None: the system's CA store.
    // Only tests set another one.
    GTlsDatabase* tlsDatabase = nullptr;
    // Connections the session may open to one host: enough that a few
    // requests the server never answers do not hold up the rest.
    int maxConnectionsPerHost = 8;
  };

  SoupTransport();
  explicit SoupTransport(const Options& options);
  ~SoupTransport() override;
  SoupTransport(const SoupTransport&) = delete;
  SoupTransport& operator=(const SoupTransport&) = delete;

  // Sends one request and reads the whole answer. The request's time-out
  // runs from the moment it reaches the network (a connection is opened or
  // written for it) to the end of the answer; a request that never gets a
  // connection ends after four time-outs. Cancelling the calling task's
  // scope cancels the request (failure kind `cancelled`). Every answer with
  // an HTTP status is a response, whatever the status; of its headers,
  // "retry-after" is passed on.
  Task<HttpResult> send(HttpRequest request) override;

  // From now on requests run on the calling thread's thread-default main
  // context (pushed by the caller), on a fresh session; requests under way
  // on the old one are left to the old context. For the last report once
  // the default context can no longer run.
  void moveToThreadDefaultContext();

 private:
  static SoupSession* newSession(const Options& options);

  Options options_;
  SoupSession* session_ = nullptr;
  std::vector<SoupSession*> retired_;
};

// How a libsoup, GIO, resolver or TLS error maps onto the transport's
// failure kinds. `timedOut` says that the request's own time-out cancelled
// it (a cancellation then counts as a time-out).
HttpFailure classifyTransportError(const GError* error, bool timedOut);

}  // namespace corvid::linux_platform
