#include "platform/linux/glib/key_file_settings.h"

#include "platform/linux/glib/durable_files.h"

#include <glib/gstdio.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>

namespace corvid::linux_platform {

namespace {

struct GErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using CharPtr = std::unique_ptr<char, GFree>;

}  // namespace

KeyFileSettings::KeyFileSettings(std::filesystem::path file, SystemLog& systemLog, ActivityLog& activityLog)
    : path_(std::move(file)), systemLog_(systemLog), activityLog_(activityLog), file_(g_key_file_new()) {
  load();
}

KeyFileSettings::~KeyFileSettings() { g_key_file_free(file_); }

void KeyFileSettings::load() {
  GError* raw = nullptr;
  if (g_key_file_load_from_file(file_, path_.c_str(), G_KEY_FILE_KEEP_COMMENTS, &raw)) {
    // Older copies or hand edits may have left the secrets readable by others.
    struct stat st;
    if (::stat(path_.c_str(), &st) == 0 && (st.st_mode & 077)) g_chmod(path_.c_str(), 0600);
    return;
  }
  ErrorPtr error(raw);
  if (g_error_matches(raw, G_FILE_ERROR, G_FILE_ERROR_NOENT)) return;  // first start

  // Something is there that we cannot use. Keep it for the user, start empty.
  g_key_file_free(file_);
  file_ = g_key_file_new();
  std::string moveError;
  if (auto bad = moveFileAside(path_, &moveError)) {
    movedAside_ = *bad;
    systemLog_.message("settings: cannot read " + path_.string() + " (" + raw->message + "), moved to " +
                       bad->string() + "; starting with no settings");
    activityLog_.log("app: settings file unreadable, moved to " + bad->filename().string());
  } else {
    persist_ = false;
    systemLog_.message("settings: cannot read " + path_.string() + " (" + raw->message +
                       ") nor move it aside (" + moveError + "); settings are kept in memory only for this run");
    activityLog_.log("app: settings file unreadable, settings not saved this run");
  }
}

bool KeyFileSettings::validKey(std::string_view key) const {
  // Key names of the key file: no '=', '[', ']', line breaks or outer spaces.
  bool ok = !key.empty() && key.front() != ' ' && key.back() != ' ';
  for (char c : key) ok = ok && c != '=' && c != '[' && c != ']' && c != '\n' && c != '\r' && c != '\0';
  if (!ok) systemLog_.message("settings: invalid key name ignored: " + std::string(key));
  return ok;
}

bool KeyFileSettings::contains(std::string_view key) const {
  const std::string k(key);
  return g_key_file_has_key(file_, kGroup, k.c_str(), nullptr);
}

std::optional<bool> KeyFileSettings::boolValue(std::string_view key) const {
  const std::string k(key);
  CharPtr raw(g_key_file_get_value(file_, kGroup, k.c_str(), nullptr));
  if (!raw) return std::nullopt;
  std::string_view text(raw.get());
  if (text == "true") return true;
  if (text == "false") return false;
  return std::nullopt;
}

std::optional<std::string> KeyFileSettings::stringValue(std::string_view key) const {
  const std::string k(key);
  CharPtr text(g_key_file_get_string(file_, kGroup, k.c_str(), nullptr));
  if (!text) return std::nullopt;
  return std::string(text.get());
}

void KeyFileSettings::setBool(std::string_view key, bool value) {
  if (!validKey(key)) return;
  const std::string k(key);
  g_key_file_set_boolean(file_, kGroup, k.c_str(), value);
  save();
}

void KeyFileSettings::setString(std::string_view key, std::string_view value) {
  if (!validKey(key)) return;
  const std::string k(key);
  const std::string v(value);
  if (v.size() != std::strlen(v.c_str())) {
    systemLog_.message("settings: value of " + k + " holds a NUL byte; not stored");
    return;
  }
  g_key_file_set_string(file_, kGroup, k.c_str(), v.c_str());
  save();
}

void KeyFileSettings::remove(std::string_view key) {
  const std::string k(key);
  if (!g_key_file_has_key(file_, kGroup, k.c_str(), nullptr)) return;
  g_key_file_remove_key(file_, kGroup, k.c_str(), nullptr);
  save();
}

void KeyFileSettings::save() {
  if (!persist_) return;
  gsize length = 0;
  CharPtr data(g_key_file_to_data(file_, &length, nullptr));
  if (auto why = replaceFileAtomically(path_, std::string_view(data.get(), length))) {
    systemLog_.message("settings: " + *why + "; change not saved");
  }
}

}  // namespace corvid::linux_platform
