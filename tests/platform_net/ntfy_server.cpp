#include "platform_net/ntfy_server.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <regex>

namespace corvid::testing {

namespace {

using nlohmann::json;

TestServer::Reply error(int status, int code, const std::string& text) {
  return {status, json{{"code", code}, {"http", status}, {"error", text}}.dump()};
}

// ntfy's error for a status it is told to answer.
TestServer::Reply forcedError(int status) {
  switch (status) {
    case 401:
      return error(401, 40101, "unauthorized");
    case 403:
      return error(403, 40301, "forbidden");
    case 429:
      return error(429, 42901, "limit reached: too many requests");
    case 507:
      return error(507, 50701, "insufficient storage");
    default:
      return error(status, status * 100 + 1, status >= 500 ? "internal server error" : "error");
  }
}

std::string headerValue(const TestServer::Received& r, const std::string& name) {
  for (const auto& [n, v] : r.headers) {
    if (g_ascii_strcasecmp(n.c_str(), name.c_str()) == 0) return v;
  }
  return {};
}

}  // namespace

NtfyServer::NtfyServer(GTlsCertificate* certificate) : server_(certificate) {
  server_.handler = [this](const TestServer::Received& r) { return answer(r); };
}

std::optional<TestServer::Reply> NtfyServer::answer(const TestServer::Received& r) {
  if (r.method != "POST" && r.method != "PUT") return error(405, 40501, "method not allowed");
  if (r.path != "/") return error(404, 40401, "page not found");  // publishing to a topic path is another form
  if (failWith) return forcedError(*failWith);

  json body = json::parse(r.body, nullptr, false);
  if (!body.is_object()) return error(400, 40017, "invalid request: request body must be message JSON");
  static const std::regex topicName("[-_A-Za-z0-9]{1,64}");
  auto topic = body.find("topic");
  if (topic == body.end() || !topic->is_string() || !std::regex_match(topic->get<std::string>(), topicName))
    return error(400, 40009, "invalid request: topic invalid");

  if (token && headerValue(r, "Authorization") != "Bearer " + *token) return forcedError(401);
  if (forbidden.contains(topic->get<std::string>())) return forcedError(403);

  Message m;
  m.topic = topic->get<std::string>();
  auto text = [&](const char* key, std::string& out) {
    auto it = body.find(key);
    if (it == body.end()) return true;
    if (!it->is_string()) return false;
    out = it->get<std::string>();
    return true;
  };
  if (!text("title", m.title) || !text("message", m.message) || !text("click", m.click))
    return error(400, 40010, "invalid request: field of the wrong type");
  if (auto tags = body.find("tags"); tags != body.end()) {
    if (!tags->is_array()) return error(400, 40010, "invalid request: tags must be a list");
    for (const auto& t : *tags) {
      if (!t.is_string()) return error(400, 40010, "invalid request: tags must be texts");
      m.tags.push_back(t.get<std::string>());
    }
  }
  if (auto p = body.find("priority"); p != body.end()) {
    if (!p->is_number_integer() || p->get<int>() < 1 || p->get<int>() > 5)
      return error(400, 40007, "invalid request: priority invalid");
    m.priority = p->get<int>();
  }
  if (m.message.empty()) m.message = "triggered";  // ntfy's text for an empty message

  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  json reply{{"id", "msg" + std::to_string(nextId_++)},
             {"time", now},
             {"expires", now + 43200},
             {"event", "message"},
             {"topic", m.topic},
             {"message", m.message}};
  if (!m.title.empty()) reply["title"] = m.title;
  if (!m.tags.empty()) reply["tags"] = m.tags;
  if (!m.click.empty()) reply["click"] = m.click;
  if (m.priority != 3) reply["priority"] = m.priority;
  messages_.push_back(std::move(m));
  return TestServer::Reply{200, reply.dump()};
}

}  // namespace corvid::testing
