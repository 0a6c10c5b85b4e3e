#include "platform_glib/temp_home.h"

#include <stdlib.h>

#include <atomic>
#include <stdexcept>
#include <string>

namespace corvid::testing {

namespace fs = std::filesystem;

namespace {

struct TempHome {
  fs::path root;
  TempHome() {
    std::string tmpl = (fs::temp_directory_path() / "corvid-glib-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root = tmpl;
    const std::pair<const char*, const char*> vars[] = {{"HOME", "home"},
                                                        {"XDG_CONFIG_HOME", "config"},
                                                        {"XDG_DATA_HOME", "data"},
                                                        {"XDG_CACHE_HOME", "cache"},
                                                        {"XDG_STATE_HOME", "state"}};
    for (auto [var, sub] : vars) {
      fs::create_directories(root / sub);
      setenv(var, (root / sub).c_str(), 1);
    }
  }
  ~TempHome() { removeTree(root); }
};

TempHome& home() {
  static TempHome h;
  return h;
}

// Runs before main(), so before any GLib call of the tests.
const bool kInstalled = (home(), true);

}  // namespace

const fs::path& tempRoot() { return home().root; }

fs::path freshFolder(const char* name) {
  static std::atomic<int> n{0};
  fs::path p = tempRoot() / "tests" / (std::string(name) + "-" + std::to_string(++n));
  fs::create_directories(p);
  return p;
}

void removeTree(const fs::path& p) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(p, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(p, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(p, ec);
}

}  // namespace corvid::testing
