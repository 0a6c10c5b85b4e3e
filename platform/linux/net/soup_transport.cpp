#include "platform/linux/net/soup_transport.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>

namespace corvid::linux_platform {

namespace {

// Header names are tokens; values may not break the header line.
bool validHeader(std::string_view name, std::string_view value) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c <= 0x20 || c >= 0x7F || c == ':') return false;
  }
  for (unsigned char c : value) {
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
  }
  return true;
}

HttpResult failure(HttpFailureKind kind, std::string detail) {
  HttpResult r;
  r.failure.kind = kind;
  r.failure.detail = std::move(detail);
  return r;
}

// One request in flight. Shared by the libsoup callback (which always
// comes, also after cancellation) and the waiting task's guard.
struct Exchange {
  explicit Exchange(Resumer<HttpResult> r) : resume(std::move(r)) {}
  ~Exchange() {
    if (timeoutSource) g_source_remove(timeoutSource);
    if (queueSource) g_source_remove(queueSource);
    if (message) {
      g_signal_handlers_disconnect_by_data(message, this);
      g_object_unref(message);
    }
    g_object_unref(cancellable);
  }
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  Resumer<HttpResult> resume;
  SoupMessage* message = nullptr;
  GCancellable* cancellable = g_cancellable_new();
  guint timeoutSource = 0;  // the request's own time-out, from the hand-over to the network
  guint queueSource = 0;    // the bound on waiting for a connection at all
  guint timeout = 0;        // milliseconds
  bool timedOut = false;
  bool finished = false;
  bool abandoned = false;  // the waiting task is gone: answer nobody
};

// Kept by the waiting task until it resumes: unhooks the cancellation and,
// should the task go away first, stops the request.
struct Guard {
  std::shared_ptr<Exchange> exchange;
  CancelRegistration onCancel;
  Guard(std::shared_ptr<Exchange> e, CancelRegistration r) : exchange(std::move(e)), onCancel(std::move(r)) {}
  Guard(Guard&&) = default;
  Guard& operator=(Guard&&) = default;
  ~Guard() {
    if (exchange && !exchange->finished) {
      exchange->abandoned = true;
      g_cancellable_cancel(exchange->cancellable);
    }
  }
};

gboolean onTimeout(gpointer data) {
  auto* exchange = static_cast<Exchange*>(data);
  exchange->timeoutSource = 0;
  exchange->timedOut = true;
  g_cancellable_cancel(exchange->cancellable);
  return G_SOURCE_REMOVE;
}

gboolean onQueueTimeout(gpointer data) {
  auto* exchange = static_cast<Exchange*>(data);
  exchange->queueSource = 0;
  if (exchange->timeoutSource) return G_SOURCE_REMOVE;  // on the network by now: its own time-out runs
  exchange->timedOut = true;
  g_cancellable_cancel(exchange->cancellable);
  return G_SOURCE_REMOVE;
}

// The request reaches the network: a connection is being opened for it
// ("network-event") or it is being written on one ("starting"). Its time-out
// runs from the first of these, so time spent queued behind other requests
// to the same host does not count against it.
void armTimeout(Exchange* exchange) {
  if (exchange->timeoutSource || exchange->finished || exchange->timedOut) return;
  exchange->timeoutSource = g_timeout_add(exchange->timeout, onTimeout, exchange);
}

void onNetworkEvent(SoupMessage*, GSocketClientEvent, GIOStream*, gpointer data) {
  armTimeout(static_cast<Exchange*>(data));
}

void onStarting(SoupMessage*, gpointer data) { armTimeout(static_cast<Exchange*>(data)); }

void onFinished(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::shared_ptr<Exchange>> holder(static_cast<std::shared_ptr<Exchange>*>(data));
  Exchange& exchange = **holder;
  GError* error = nullptr;
  GBytes* bytes = soup_session_send_and_read_finish(SOUP_SESSION(source), result, &error);
  exchange.finished = true;
  for (guint* source : {&exchange.timeoutSource, &exchange.queueSource}) {
    if (*source) g_source_remove(*source);
    *source = 0;
  }
  HttpResult answer;
  if (bytes) {
    gsize size = 0;
    const auto* data_ = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    answer.response = HttpResponse{static_cast<int>(soup_message_get_status(exchange.message)),
                                   std::string(data_ ? data_ : "", size)};
    SoupMessageHeaders* headers = soup_message_get_response_headers(exchange.message);
    if (const char* retryAfter = soup_message_headers_get_one(headers, "Retry-After")) {
      answer.response->headers.emplace_back("retry-after", retryAfter);
    }
    g_bytes_unref(bytes);
  } else {
    answer.failure = classifyTransportError(error, exchange.timedOut);
    g_clear_error(&error);
  }
  if (!exchange.abandoned) exchange.resume(std::move(answer));
}

// Builds the message, or says why it cannot be built.
SoupMessage* buildMessage(const HttpRequest& request, std::string* why) {
  GError* error = nullptr;
  GUri* uri = g_uri_parse(request.url.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), &error);
  if (!uri) {
    *why = std::string("unusable URL: ") + error->message;
    g_error_free(error);
    return nullptr;
  }
  const char* scheme = g_uri_get_scheme(uri);
  const char* host = g_uri_get_host(uri);
  bool http = scheme && (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0);
  if (!http || !host || !*host) {
    g_uri_unref(uri);
    *why = "not an http or https URL";
    return nullptr;
  }
  SoupMessage* message = soup_message_new_from_uri(request.method.c_str(), uri);
  g_uri_unref(uri);
  if (!message) {
    *why = "unusable request";
    return nullptr;
  }
  SoupMessageHeaders* headers = soup_message_get_request_headers(message);
  for (const auto& [name, value] : request.headers) {
    if (!validHeader(name, value)) {
      g_object_unref(message);
      *why = "header not allowed: " + name;  // the value may be a secret: never shown
      return nullptr;
    }
    soup_message_headers_append(headers, name.c_str(), value.c_str());
  }
  if (!request.body.empty() || request.method == "POST") {
    GBytes* body = g_bytes_new(request.body.data(), request.body.size());
    soup_message_set_request_body_from_bytes(message, nullptr, body);  // Content-Type comes from the headers
    g_bytes_unref(body);
  }
  soup_message_set_flags(message, SOUP_MESSAGE_NO_REDIRECT);
  return message;
}

// How many time-outs a request may wait for a connection before it is
// given up (on top of its own time-out).
constexpr int kQueueBoundFactor = 3;

guint timeoutMillis(Duration d) {
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
  return static_cast<guint>(std::clamp<decltype(ms)>(ms, 1, std::numeric_limits<guint>::max()));
}

}  // namespace

HttpFailure classifyTransportError(const GError* error, bool timedOut) {
  HttpFailure f;
  if (!error) {
    f.kind = HttpFailureKind::unclassified;
    return f;
  }
  f.code = error->code;
  f.detail = std::string(g_quark_to_string(error->domain)) + " " + std::to_string(error->code) + ": " +
             (error->message ? error->message : "");
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CANCELLED:
        f.kind = timedOut ? HttpFailureKind::timedOut : HttpFailureKind::cancelled;
        return f;
      case G_IO_ERROR_TIMED_OUT:
        f.kind = HttpFailureKind::timedOut;
        return f;
      case G_IO_ERROR_NETWORK_UNREACHABLE:
      case G_IO_ERROR_NOT_CONNECTED:
      case G_IO_ERROR_CONNECTION_CLOSED:  // also broken pipe
      case G_IO_ERROR_PARTIAL_INPUT:      // the server hung up before its answer ended
        f.kind = HttpFailureKind::notConnected;
        return f;
      case G_IO_ERROR_HOST_NOT_FOUND:
      case G_IO_ERROR_HOST_UNREACHABLE:
      case G_IO_ERROR_CONNECTION_REFUSED:
        f.kind = HttpFailureKind::cannotFindHost;
        return f;
      default:
        f.kind = HttpFailureKind::other;
        return f;
    }
  }
  if (error->domain == G_RESOLVER_ERROR) {
    f.kind = HttpFailureKind::cannotFindHost;
    return f;
  }
  if (error->domain == G_TLS_ERROR) {
    f.kind = HttpFailureKind::secureConnection;
    return f;
  }
  if (error->domain == SOUP_SESSION_ERROR) {
    f.kind = HttpFailureKind::other;
    return f;
  }
  f.kind = HttpFailureKind::unclassified;
  return f;
}

SoupTransport::SoupTransport() : SoupTransport(Options{}) {}

SoupTransport::SoupTransport(const Options& options) : options_(options), session_(newSession(options)) {}

SoupSession* SoupTransport::newSession(const Options& options) {
  // libsoup's default of 2 connections per host would let two hung
  // requests hold up every later one (pushes, status reports).
  const int perHost = std::max(1, options.maxConnectionsPerHost);
  SoupSession* session =
      options.tlsDatabase
          ? soup_session_new_with_options("tls-database", options.tlsDatabase, "max-conns-per-host", perHost,
                                          "max-conns", std::max(perHost, 16), nullptr)
          : soup_session_new_with_options("max-conns-per-host", perHost, "max-conns", std::max(perHost, 16),
                                          nullptr);
  // Default features that would add headers or credentials of their own.
  soup_session_remove_feature_by_type(session, SOUP_TYPE_CONTENT_DECODER);
  soup_session_remove_feature_by_type(session, SOUP_TYPE_AUTH_MANAGER);
  soup_session_remove_feature_by_type(session, SOUP_TYPE_COOKIE_JAR);
  return session;
}

void SoupTransport::moveToThreadDefaultContext() {
  retired_.push_back(std::exchange(session_, newSession(options_)));
}

SoupTransport::~SoupTransport() {
  for (SoupSession* session : retired_) g_object_unref(session);
  soup_session_abort(session_);
  g_object_unref(session_);
}

Task<HttpResult> SoupTransport::send(HttpRequest request) {
  SoupSession* session = session_;
  auto start = [session, &request](Resumer<HttpResult> resume, CancelScope& scope) -> std::optional<Guard> {
    if (scope.cancelled()) {
      HttpResult r = failure(HttpFailureKind::cancelled, "cancelled before sending");
      r.failure.code = G_IO_ERROR_CANCELLED;
      resume(std::move(r));
      return std::nullopt;
    }
    std::string why;
    SoupMessage* message = buildMessage(request, &why);
    if (!message) {
      resume(failure(HttpFailureKind::unclassified, why));
      return std::nullopt;
    }
    auto exchange = std::make_shared<Exchange>(resume);
    exchange->message = message;
    exchange->timeout = timeoutMillis(request.timeout);
    g_signal_connect(message, "network-event", G_CALLBACK(onNetworkEvent), exchange.get());
    g_signal_connect(message, "starting", G_CALLBACK(onStarting), exchange.get());
    // Should no connection ever become free, the request still ends.
    exchange->queueSource = g_timeout_add(
        timeoutMillis(request.timeout * kQueueBoundFactor + request.timeout), onQueueTimeout, exchange.get());
    std::weak_ptr<Exchange> weak = exchange;
    auto registration = scope.onCancel([weak] {
      if (auto e = weak.lock()) g_cancellable_cancel(e->cancellable);
    });
    soup_session_send_and_read_async(session, message, G_PRIORITY_DEFAULT, exchange->cancellable, onFinished,
                                     new std::shared_ptr<Exchange>(exchange));
    return Guard(std::move(exchange), std::move(registration));
  };
  co_return co_await suspendUntil<HttpResult>(std::move(start));
}

}  // namespace corvid::linux_platform
