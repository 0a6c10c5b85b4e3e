#include "platform_net/test_server.h"

#include <stdexcept>

namespace corvid::testing {

namespace {

// Takes the error: throws its text after `what`.
[[noreturn]] void fail(const std::string& what, GError* error) {
  std::string why = what + ": " + (error ? error->message : "failed");
  g_clear_error(&error);
  throw std::runtime_error(why);
}

}  // namespace

std::string TestServer::Received::header(const std::string& name) const {
  for (const auto& [n, v] : headers) {
    if (g_ascii_strcasecmp(n.c_str(), name.c_str()) == 0) return v;
  }
  return {};
}

TestServer::TestServer(GTlsCertificate* certificate) {
  server_ = certificate ? soup_server_new("tls-certificate", certificate, nullptr)
                        : soup_server_new(nullptr, nullptr);
  soup_server_add_handler(server_, nullptr, &TestServer::serve, this, nullptr);
  GError* error = nullptr;
  auto options = static_cast<SoupServerListenOptions>(SOUP_SERVER_LISTEN_IPV4_ONLY |
                                                      (certificate ? SOUP_SERVER_LISTEN_HTTPS : 0));
  if (!soup_server_listen_local(server_, 0, options, &error)) {
    g_object_unref(server_);
    fail("test server cannot listen", error);
  }
  GSList* uris = soup_server_get_uris(server_);
  int port = g_uri_get_port(static_cast<GUri*>(uris->data));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
  origin_ = std::string(certificate ? "https" : "http") + "://127.0.0.1:" + std::to_string(port);
}

TestServer::~TestServer() {
  soup_server_disconnect(server_);
  for (auto* m : held_) g_object_unref(m);
  g_object_unref(server_);
}

void TestServer::serve(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*,
                       gpointer self) {
  auto* server = static_cast<TestServer*>(self);
  Received r;
  r.method = soup_server_message_get_method(message);
  r.path = path;
  SoupMessageHeadersIter iter;
  soup_message_headers_iter_init(&iter, soup_server_message_get_request_headers(message));
  const char *name = nullptr, *value = nullptr;
  while (soup_message_headers_iter_next(&iter, &name, &value)) r.headers.emplace_back(name, value);
  SoupMessageBody* body = soup_server_message_get_request_body(message);
  if (body && body->data) r.body.assign(body->data, static_cast<std::size_t>(body->length));
  auto route = server->routes_.find(r.path);
  std::optional<Reply> reply = route != server->routes_.end() ? route->second
                               : server->handler           ? server->handler(r)
                                                           : Reply{};
  server->received.push_back(std::move(r));
  if (!reply) {
    soup_server_message_pause(message);
    server->held_.push_back(static_cast<SoupServerMessage*>(g_object_ref(message)));
    return;
  }
  soup_server_message_set_status(message, static_cast<guint>(reply->status), nullptr);
  SoupMessageHeaders* out = soup_server_message_get_response_headers(message);
  for (const auto& [n, v] : reply->headers) soup_message_headers_append(out, n.c_str(), v.c_str());
  if (!reply->body.empty()) {
    soup_server_message_set_response(message, reply->contentType.c_str(), SOUP_MEMORY_COPY,
                                     reply->body.data(), reply->body.size());
  }
}

std::string closedPortOrigin() { return TestServer().origin(); }

SelfSignedCertificate::SelfSignedCertificate() {
  const std::string key = (dir_ / "key.pem").string(), cert = (dir_ / "cert.pem").string();
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1"
      " -addext subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + cert;
  GError* error = nullptr;
  int status = 0;
  if (!g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, &status, &error) ||
      !g_spawn_check_wait_status(status, &error))
    fail("openssl", error);
  certificate_ = g_tls_certificate_new_from_files(cert.c_str(), key.c_str(), &error);
  if (!certificate_) fail("certificate", error);
  database_ = g_tls_file_database_new(cert.c_str(), &error);
  if (!database_) fail("certificate database", error);
}

SelfSignedCertificate::~SelfSignedCertificate() {
  if (certificate_) g_object_unref(certificate_);
  if (database_) g_object_unref(database_);
}

}  // namespace corvid::testing
