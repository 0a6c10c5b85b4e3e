#include "platform/linux/glib/login_item.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/glib/paths.h"

namespace corvid::linux_platform {

namespace {

constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;

struct KeyFileFree {
  void operator()(GKeyFile* f) const { g_key_file_free(f); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileFree>;

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using CharPtr = std::unique_ptr<char, GFree>;

LoginItemError fromErrno(int err, const std::string& what) {
  return LoginItemError{g_file_error_from_errno(err), what + ": " + g_strerror(err)};
}

LoginItemError fromGError(GError* error) {
  LoginItemError e{error->code, error->message};
  g_error_free(error);
  return e;
}

// The program an Exec line starts: field codes "%%" undone, then split as
// the desktop-entry quoting rules (a subset of the shell's) say.
std::optional<std::string> execProgram(const char* exec) {
  std::string expanded;
  for (const char* p = exec; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') ++p;
    expanded += *p;
  }
  int argc = 0;
  char** argv = nullptr;
  if (!g_shell_parse_argv(expanded.c_str(), &argc, &argv, nullptr)) return std::nullopt;
  std::string program = argv[0];
  g_strfreev(argv);
  return program;
}

bool isFalse(GKeyFile* f, const char* key) {
  CharPtr v(g_key_file_get_value(f, kGroup, key, nullptr));
  return v && g_strcmp0(g_strstrip(v.get()), "false") == 0;
}

bool isTrue(GKeyFile* f, const char* key) {
  CharPtr v(g_key_file_get_value(f, kGroup, key, nullptr));
  return v && g_strcmp0(g_strstrip(v.get()), "true") == 0;
}

}  // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem()
    : XdgAutostartLoginItem(appPaths().autostartDir, runningExecutable()) {}

XdgAutostartLoginItem::XdgAutostartLoginItem(std::filesystem::path autostartDir,
                                             std::optional<std::filesystem::path> executable)
    : dir_(std::move(autostartDir)), exe_(std::move(executable)) {}

std::optional<std::filesystem::path> XdgAutostartLoginItem::runningExecutable() {
  CharPtr link(g_file_read_link("/proc/self/exe", nullptr));
  if (!link) return std::nullopt;
  std::string path = link.get();
  static constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
  if (!g_path_is_absolute(path.c_str()) || !g_file_test(path.c_str(), G_FILE_TEST_IS_EXECUTABLE) ||
      g_file_test(path.c_str(), G_FILE_TEST_IS_DIR))
    return std::nullopt;
  return std::filesystem::path(path);
}

std::string XdgAutostartLoginItem::execLine(const std::filesystem::path& program) {
  std::string line = "\"";
  for (char c : program.string()) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') line += '\\';
    if (c == '%') line += '%';
    line += c;
  }
  line += '"';
  return line;
}

LoginItemStatus XdgAutostartLoginItem::status() {
  if (!exe_) return LoginItemStatus::notFound;
  KeyFilePtr entry(g_key_file_new());
  if (!g_key_file_load_from_file(entry.get(), entryPath().c_str(), G_KEY_FILE_NONE, nullptr))
    return LoginItemStatus::notRegistered;
  CharPtr exec(g_key_file_get_string(entry.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr));
  if (!exec) return LoginItemStatus::notRegistered;
  auto program = execProgram(exec.get());
  if (!program || *program != exe_->string()) return LoginItemStatus::notRegistered;
  if (isTrue(entry.get(), G_KEY_FILE_DESKTOP_KEY_HIDDEN) || isFalse(entry.get(), "X-GNOME-Autostart-enabled"))
    return LoginItemStatus::requiresApproval;
  return LoginItemStatus::enabled;
}

std::optional<LoginItemError> XdgAutostartLoginItem::registerItem() {
  if (!exe_) return LoginItemError{G_FILE_ERROR_NOENT, "실행 파일의 위치를 알 수 없습니다."};
  if (g_mkdir_with_parents(dir_.c_str(), 0700) != 0) return fromErrno(errno, dir_.string());

  KeyFilePtr entry(g_key_file_new());
  GKeyFile* f = entry.get();
  g_key_file_set_string(f, kGroup, G_KEY_FILE_DESKTOP_KEY_TYPE, G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
  g_key_file_set_string(f, kGroup, G_KEY_FILE_DESKTOP_KEY_NAME, "Corvid");
  g_key_file_set_string(f, kGroup, G_KEY_FILE_DESKTOP_KEY_COMMENT,
                        "새 Instagram Direct 메시지를 iPhone으로 알립니다");
  g_key_file_set_string(f, kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, execLine(*exe_).c_str());
  g_key_file_set_boolean(f, kGroup, G_KEY_FILE_DESKTOP_KEY_TERMINAL, FALSE);
  g_key_file_set_boolean(f, kGroup, "X-GNOME-Autostart-enabled", TRUE);
  gsize length = 0;
  CharPtr data(g_key_file_to_data(f, &length, nullptr));

  GError* error = nullptr;
  if (!g_file_set_contents_full(entryPath().c_str(), data.get(), static_cast<gssize>(length),
                                G_FILE_SET_CONTENTS_CONSISTENT, 0644, &error))
    return fromGError(error);
  return std::nullopt;
}

std::optional<LoginItemError> XdgAutostartLoginItem::unregisterItem() {
  if (g_unlink(entryPath().c_str()) != 0 && errno != ENOENT) return fromErrno(errno, entryPath().string());
  return std::nullopt;
}

void XdgAutostartLoginItem::openSettings() {
  // Tools that edit ~/.config/autostart, the current desktop's first.
  struct Tool {
    const char* desktops;  // ':'-separated XDG_CURRENT_DESKTOP names
    std::vector<const char*> argv;
  };
  const std::vector<Tool> tools = {
      {"GNOME:Unity:ubuntu", {"gnome-session-properties"}},
      {"GNOME", {"gnome-tweaks"}},
      {"XFCE", {"xfce4-session-settings"}},
      {"MATE", {"mate-session-properties"}},
      {"X-Cinnamon:Cinnamon", {"cinnamon-session-properties"}},
      {"LXQt", {"lxqt-config-session"}},
      {"KDE", {"systemsettings", "kcm_autostart"}},
  };
  std::vector<std::string> current;
  if (const char* d = g_getenv("XDG_CURRENT_DESKTOP")) {
    char** names = g_strsplit(d, ":", -1);
    for (char** n = names; *n; ++n) current.emplace_back(*n);
    g_strfreev(names);
  }
  auto forCurrent = [&](const Tool& t) {
    char** names = g_strsplit(t.desktops, ":", -1);
    bool match = false;
    for (char** n = names; *n && !match; ++n)
      for (const auto& c : current) match = match || g_ascii_strcasecmp(c.c_str(), *n) == 0;
    g_strfreev(names);
    return match;
  };
  std::vector<const Tool*> order;
  for (const auto& t : tools)
    if (forCurrent(t)) order.push_back(&t);
  for (const auto& t : tools)
    if (!forCurrent(t)) order.push_back(&t);

  for (const Tool* t : order) {
    CharPtr program(g_find_program_in_path(t->argv[0]));
    if (!program) continue;
    std::vector<char*> argv{program.get()};
    for (std::size_t i = 1; i < t->argv.size(); ++i) argv.push_back(const_cast<char*>(t->argv[i]));
    argv.push_back(nullptr);
    // Without G_SPAWN_DO_NOT_REAP_CHILD GLib reaps the child itself; nothing waits here.
    if (g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_STDIN_FROM_DEV_NULL, nullptr, nullptr, nullptr,
                      nullptr))
      return;
  }

  g_mkdir_with_parents(dir_.c_str(), 0700);
  CharPtr uri(g_filename_to_uri(dir_.c_str(), nullptr, nullptr));
  if (uri) g_app_info_launch_default_for_uri(uri.get(), nullptr, nullptr);
}

}  // namespace corvid::linux_platform
