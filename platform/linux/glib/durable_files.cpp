#include "platform/linux/glib/durable_files.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <memory>

namespace corvid::linux_platform {

namespace {

// "20261206-211957" in local time.
std::string fileTimeStamp() {
  GDateTime* now = g_date_time_new_now_local();
  gchar* text = g_date_time_format(now, "%Y%m%d-%H%M%S");
  g_date_time_unref(now);
  std::string out = text ? text : "unknown";
  g_free(text);
  return out;
}

}  // namespace

std::optional<std::string> replaceFileAtomically(const std::filesystem::path& path, std::string_view data) {
  const std::string folder = path.parent_path().string();
  if (!folder.empty() && g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
    int err = errno;
    return "cannot create " + folder + " (" + g_strerror(err) + ")";
  }
  GError* error = nullptr;
  if (!g_file_set_contents_full(path.c_str(), data.data(), static_cast<gssize>(data.size()),
                                G_FILE_SET_CONTENTS_CONSISTENT, 0600, &error)) {
    std::string why = "cannot write " + path.string() + " (" + error->message + ")";
    g_error_free(error);
    return why;
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> moveFileAside(const std::filesystem::path& path, std::string* error) {
  std::filesystem::path bad = path;
  bad += ".bad-" + fileTimeStamp();
  for (int n = 2; g_file_test(bad.c_str(), G_FILE_TEST_EXISTS) && n < 100; ++n) {
    bad = path;
    bad += ".bad-" + fileTimeStamp() + "-" + std::to_string(n);
  }
  if (g_rename(path.c_str(), bad.c_str()) == 0) return bad;
  int err = errno;
  if (error) *error = g_strerror(err);
  return std::nullopt;
}

StateFile::StateFile(std::filesystem::path path, std::string name, SystemLog& systemLog,
                     ActivityLog& activityLog)
    : path_(std::move(path)), name_(std::move(name)), systemLog_(systemLog), activityLog_(activityLog) {}

std::optional<std::string> StateFile::read() {
  gchar* data = nullptr;
  gsize length = 0;
  GError* error = nullptr;
  if (g_file_get_contents(path_.c_str(), &data, &length, &error)) {
    // Older copies or hand edits may have left message texts readable by others.
    GStatBuf st;
    if (g_stat(path_.c_str(), &st) == 0 && (st.st_mode & 077)) g_chmod(path_.c_str(), 0600);
    std::string text(data, length);
    g_free(data);
    return text;
  }
  const bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
  const std::string why = error->message;
  g_error_free(error);
  if (!missing) keepAside(why);
  return std::nullopt;
}

void StateFile::write(std::string_view text) {
  if (!persist_) return;
  if (auto why = replaceFileAtomically(path_, text)) systemLog_.message(name_ + ": " + *why + "; change not saved");
}

void StateFile::keepAside(std::string_view why) {
  std::string error;
  if (auto bad = moveFileAside(path_, &error)) {
    movedAside_ = *bad;
    systemLog_.message(name_ + ": cannot read " + path_.string() + " (" + std::string(why) + "), moved to " +
                       bad->string() + "; starting empty");
    activityLog_.log("app: " + name_ + " file unreadable, moved to " + bad->filename().string());
  } else {
    persist_ = false;
    systemLog_.message(name_ + ": cannot read " + path_.string() + " (" + std::string(why) +
                       ") nor move it aside (" + error + "); kept in memory only for this run");
    activityLog_.log("app: " + name_ + " file unreadable, not saved this run");
  }
}

}  // namespace corvid::linux_platform
