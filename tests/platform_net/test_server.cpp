#include "test_server.h"

#include <arpa/inet.h>
#include <glib/gstdio.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace corvid::testing {

namespace {

int bindLoopback(int* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    throw std::runtime_error("bind failed");
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
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
  int options = certificate ? SOUP_SERVER_LISTEN_HTTPS : 0;
  GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
  g_object_unref(loopback);
  bool ok = soup_server_listen(server_, address, static_cast<SoupServerListenOptions>(options), &error);
  g_object_unref(address);
  if (!ok) {
    std::string why = error->message;
    g_error_free(error);
    g_object_unref(server_);
    throw std::runtime_error("test server cannot listen: " + why);
  }
  GSList* uris = soup_server_get_uris(server_);
  int port = g_uri_get_port(static_cast<GUri*>(uris->data));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
  origin_ = std::string(certificate ? "https" : "http") + "://127.0.0.1:" + std::to_string(port);
}

TestServer::~TestServer() {
  soup_server_disconnect(server_);
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
  const char* name = nullptr;
  const char* value = nullptr;
  while (soup_message_headers_iter_next(&iter, &name, &value)) r.headers.emplace_back(name, value);
  SoupMessageBody* body = soup_server_message_get_request_body(message);
  if (body && body->data) r.body.assign(body->data, static_cast<std::size_t>(body->length));
  Reply reply = server->handler ? server->handler(r) : Reply{};
  server->received.push_back(std::move(r));
  soup_server_message_set_status(message, static_cast<guint>(reply.status), nullptr);
  SoupMessageHeaders* out = soup_server_message_get_response_headers(message);
  for (const auto& [n, v] : reply.headers) soup_message_headers_append(out, n.c_str(), v.c_str());
  if (!reply.body.empty()) {
    soup_server_message_set_response(message, "application/json", SOUP_MEMORY_COPY, reply.body.data(),
                                     reply.body.size());
  }
}

SilentListener::SilentListener() {
  fd_ = bindLoopback(&port_);
  if (listen(fd_, 16) != 0) {
    close(fd_);
    throw std::runtime_error("listen failed");
  }
}

SilentListener::~SilentListener() {
  if (fd_ >= 0) close(fd_);
}

HangingUpListener::HangingUpListener() {
  service_ = g_socket_service_new();
  GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
  g_object_unref(loopback);
  GSocketAddress* bound = nullptr;
  GError* error = nullptr;
  bool ok = g_socket_listener_add_address(G_SOCKET_LISTENER(service_), address, G_SOCKET_TYPE_STREAM,
                                          G_SOCKET_PROTOCOL_TCP, nullptr, &bound, &error);
  g_object_unref(address);
  if (!ok) {
    std::string why = error->message;
    g_error_free(error);
    g_object_unref(service_);
    throw std::runtime_error("cannot listen: " + why);
  }
  port_ = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
  g_object_unref(bound);
  g_signal_connect(
      service_, "incoming",
      G_CALLBACK(+[](GSocketService*, GSocketConnection* connection, GObject*, gpointer) -> gboolean {
        g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        return TRUE;
      }),
      nullptr);
  g_socket_service_start(service_);
}

HangingUpListener::~HangingUpListener() {
  g_socket_service_stop(service_);
  g_socket_listener_close(G_SOCKET_LISTENER(service_));
  g_object_unref(service_);
}

std::string closedPortOrigin() {
  int port = 0;
  int fd = bindLoopback(&port);
  close(fd);
  return "http://127.0.0.1:" + std::to_string(port);
}

SelfSignedCertificate::SelfSignedCertificate() {
  GError* error = nullptr;
  char* dir = g_dir_make_tmp("corvid-cert-XXXXXX", &error);
  if (!dir) {
    error_ = error->message;
    g_error_free(error);
    return;
  }
  dir_ = dir;
  g_free(dir);
  std::string key = dir_ + "/key.pem";
  std::string cert = dir_ + "/cert.pem";
  const char* argv[] = {"openssl",
                        "req",
                        "-x509",
                        "-newkey",
                        "ec",
                        "-pkeyopt",
                        "ec_paramgen_curve:prime256v1",
                        "-nodes",
                        "-keyout",
                        key.c_str(),
                        "-out",
                        cert.c_str(),
                        "-days",
                        "2",
                        "-subj",
                        "/CN=127.0.0.1",
                        "-addext",
                        "subjectAltName=IP:127.0.0.1",
                        nullptr};
  int status = 0;
  char* err = nullptr;
  if (!g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr,
                    static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL), nullptr,
                    nullptr, nullptr, &err, &status, &error) ||
      !g_spawn_check_wait_status(status, nullptr)) {
    error_ = std::string("openssl failed: ") + (error ? error->message : "") + (err ? err : "");
    g_clear_error(&error);
    g_free(err);
    return;
  }
  g_free(err);
  certificate_ = g_tls_certificate_new_from_files(cert.c_str(), key.c_str(), &error);
  if (!certificate_) {
    error_ = error->message;
    g_clear_error(&error);
    return;
  }
  database_ = g_tls_file_database_new(cert.c_str(), &error);
  if (!database_) {
    error_ = error->message;
    g_clear_error(&error);
  }
}

SelfSignedCertificate::~SelfSignedCertificate() {
  if (certificate_) g_object_unref(certificate_);
  if (database_) g_object_unref(database_);
  if (!dir_.empty()) {
    g_remove((dir_ + "/key.pem").c_str());
    g_remove((dir_ + "/cert.pem").c_str());
    g_rmdir(dir_.c_str());
  }
}

}  // namespace corvid::testing
