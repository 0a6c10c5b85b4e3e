#include "platform_net/test_server.h"

#include <cstdlib>
#include <stdexcept>

namespace corvid::testing {

namespace {

void serve(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
  auto& self = *static_cast<TestServer*>(data);
  TestServer::Received r{soup_server_message_get_method(message), path, "", {}};
  SoupMessageHeadersIter iter;
  soup_message_headers_iter_init(&iter, soup_server_message_get_request_headers(message));
  const char *name = nullptr, *value = nullptr;
  while (soup_message_headers_iter_next(&iter, &name, &value)) r.headers[name] = value;
  if (SoupMessageBody* b = soup_server_message_get_request_body(message); b->data)
    r.body.assign(b->data, b->length);
  auto route = self.routes.find(r.path);
  std::optional<TestServer::Reply> reply = route != self.routes.end() ? route->second
                                           : self.handler             ? self.handler(r)
                                                                      : TestServer::Reply{};
  self.received.push_back(std::move(r));
  if (!reply) {
    soup_server_message_pause(message);  // the server frees it with its connection
  } else if (reply->hangUp) {
    GIOStream* connection = soup_server_message_steal_connection(message);
    g_io_stream_close(connection, nullptr, nullptr);
    g_object_unref(connection);
  } else {
    soup_server_message_set_status(message, static_cast<guint>(reply->status), nullptr);
    SoupMessageHeaders* out = soup_server_message_get_response_headers(message);
    for (const auto& [n, v] : reply->headers) soup_message_headers_append(out, n.c_str(), v.c_str());
    soup_server_message_set_response(message, reply->contentType.c_str(), SOUP_MEMORY_COPY,
                                     reply->body.data(), reply->body.size());
  }
}

}  // namespace

TestServer::TestServer(GTlsCertificate* certificate) {
  server = soup_server_new("tls-certificate", certificate, nullptr);
  soup_server_add_handler(server, nullptr, serve, this, nullptr);
  auto options = static_cast<SoupServerListenOptions>(SOUP_SERVER_LISTEN_IPV4_ONLY |
                                                      (certificate ? SOUP_SERVER_LISTEN_HTTPS : 0));
  if (!soup_server_listen_local(server, 0, options, nullptr)) {
    g_object_unref(server);
    throw std::runtime_error("test server cannot listen");
  }
  GSList* uris = soup_server_get_uris(server);
  int port = g_uri_get_port(static_cast<GUri*>(uris->data));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
  origin = std::string(certificate ? "https" : "http") + "://127.0.0.1:" + std::to_string(port);
}

TestServer::~TestServer() {
  soup_server_disconnect(server);
  g_object_unref(server);
}

std::string closedPortOrigin() { return TestServer().origin; }

SelfSignedCertificate::SelfSignedCertificate() {
  const std::string key = dir / "key.pem", cert = dir / "cert.pem";
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1"
      " -addext subjectAltName=IP:127.0.0.1 -keyout " +
      key + " -out " + cert + " 2>/dev/null";
  if (std::system(command.c_str()) == 0)
    certificate = g_tls_certificate_new_from_files(cert.c_str(), key.c_str(), nullptr);
  if (!certificate) throw std::runtime_error("no self-signed certificate from openssl");
}

SelfSignedCertificate::~SelfSignedCertificate() { g_object_unref(certificate); }

}  // namespace corvid::testing
