// A loopback stand-in for an ntfy server, built from ntfy's documented JSON
// publish: POST (or PUT) to the server's root with a JSON object whose
// "topic" names the topic, and "title", "message", "tags", "click" and
// "priority" as optional fields. It answers like ntfy: 200 with the message
// object it made, or an error object {"code", "http", "error"} with 400 for
// a malformed publish, 401 without the right access token, 403 for a topic
// the token may not write, and any status it is told to answer (429, 5xx).
// It runs on TestServer (127.0.0.1, http, or https with a certificate).
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform_net/test_server.h"

namespace corvid::testing {

class NtfyServer {
 public:
  struct Message {
    std::string topic, title, message, click;
    std::vector<std::string> tags;
    int priority = 3;
  };

  explicit NtfyServer(GTlsCertificate* certificate = nullptr);

  const std::string& origin() const { return server_.origin; }
  // The URL a phone subscribes to.
  std::string topicURL(const std::string& topic) const { return server_.origin + "/" + topic; }

  // Access control: with a token set, publishing needs "Bearer <token>"
  // (401 otherwise), and topics in `forbidden` answer 403 even with it.
  std::optional<std::string> token;
  std::set<std::string> forbidden;
  // Every publish is answered with this status and ntfy's error object for
  // it (for example 429 or 503) until cleared.
  std::optional<int> failWith;

  // Every request as received, and the messages accepted.
  const std::vector<TestServer::Received>& requests() const { return server_.received; }
  const std::vector<Message>& messages() const { return messages_; }

 private:
  std::optional<TestServer::Reply> answer(const TestServer::Received& request);

  TestServer server_;
  std::vector<Message> messages_;
  int nextId_ = 1;
};

}  // namespace corvid::testing
