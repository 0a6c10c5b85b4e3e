// HTTP transport for the relay client: one request, one answer.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/task.h"
#include "base/time.h"

namespace corvid {

// One request. `url` is absolute (http or https). The transport sends the
// given headers and the ones HTTP itself needs (Host, Content-Length), no
// cookies and no credentials of its own, and does not follow redirects.
// `timeout` bounds the whole exchange, from the moment the request is handed
// to the network (a connection is being opened or used for it) to the last
// byte of the answer; time spent waiting in the transport's own queue does
// not count.
struct HttpRequest {
  std::string method = "POST";
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  Duration timeout = std::chrono::seconds(15);
};

// Why no response arrived. The relay client turns these into its network
// texts; the transport maps its library's errors onto them.
enum class HttpFailureKind {
  notConnected,  // not connected, network unreachable, connection lost
  timedOut,
  cannotFindHost,    // host not found, connection refused, DNS failure
  secureConnection,  // any TLS failure, untrusted or expired certificate
  cancelled,         // the calling task was cancelled
  other,             // another transport error; `code` says which
  unclassified,      // an error from outside the network stack; no code
};

struct HttpFailure {
  HttpFailureKind kind = HttpFailureKind::other;
  int code = 0;        // the library's error code (shown for `other`)
  std::string detail;  // for the system log only
};

struct HttpResponse {
  int status = 0;  // 0 when the answer was not HTTP
  std::string body;
  // The response headers that callers read (names in lower case):
  // "retry-after".
  std::vector<std::pair<std::string, std::string>> headers = {};
};

struct HttpResult {
  std::optional<HttpResponse> response;  // set when an answer arrived
  HttpFailure failure;                   // meaningful when there is none
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // Sends `request` and waits for the answer or the failure. Cancelling the
  // calling task's scope stops the request (failure kind `cancelled`).
  virtual Task<HttpResult> send(HttpRequest request) = 0;
};

}  // namespace corvid
