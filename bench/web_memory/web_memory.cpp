// Memory of the web content process of one off-screen view, per rendering
// configuration: the hardware acceleration policy and WebKit's
// WEBKIT_DISABLE_DMABUF_RENDERER switch. Each configuration runs in fresh
// child processes (the switch is read when WebKit starts); the parent prints
// the median of the runs.
//
//   bench_web_memory [runs]       (default 3 runs per configuration)
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/web/webkit_engine.h"
#include "platform_glib/test_support.h"

using namespace corvid;
using namespace corvid::linux_platform;

namespace {

// An inbox-like page: 400 rows with an avatar, a name, a preview and a
// time, rounded corners and shadows, a fixed header, a spinning loader.
std::string page() {
  std::string html = R"(<!doctype html><meta charset="utf-8"><style>
    body { margin: 0; font: 14px sans-serif; }
    header { position: fixed; top: 0; left: 0; right: 0; height: 48px; background: #fff;
             box-shadow: 0 1px 4px rgba(0,0,0,.2); z-index: 2; }
    main { padding-top: 56px; }
    .row { display: flex; align-items: center; gap: 12px; padding: 8px 16px; }
    .row:hover { background: #eee; }
    .avatar { width: 44px; height: 44px; border-radius: 50%; box-shadow: 0 0 0 2px #c13584; }
    .text { flex: 1; min-width: 0; } .name { font-weight: 600; }
    .preview { color: #737373; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }
    .spinner { width: 24px; height: 24px; margin: 12px auto; border: 3px solid #ddd;
               border-top-color: #333; border-radius: 50%; animation: spin 1s linear infinite; }
    @keyframes spin { to { transform: rotate(360deg); } }
  </style><header><div class="spinner"></div></header><main>)";
  for (int i = 0; i < 400; ++i) {
    std::string n = std::to_string(i);
    html += "<div class=row role=button><svg class=avatar viewBox='0 0 44 44'><circle cx=22 cy=22 r=22 fill='hsl(" +
            std::to_string(i * 37 % 360) + ",60%,60%)'/></svg><div class=text><div class=name>user_" + n +
            "</div><div class=preview>message preview number " + n +
            " · a longer text that needs an ellipsis at the end</div></div><time>" + std::to_string(i % 59) +
            "m</time></div>";
  }
  return html + "</main>";
}

std::map<std::string, long> smapsRollup(pid_t pid) {
  std::map<std::string, long> kb;
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string key;
  long value;
  std::string unit;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    if (l >> key >> value >> unit && key.back() == ':') kb[key.substr(0, key.size() - 1)] = value;
  }
  return kb;
}

int child(const std::string& policy) {
  if (!gtk_init_check(nullptr, nullptr)) return 2;
  char* dir = g_dir_make_tmp("corvid-mem-XXXXXX", nullptr);
  std::string root = dir;
  g_free(dir);
  {
    WebKitEngine engine({root + "/data", root + "/cache"});
    auto view = engine.createWebKitView({}, 420, 800);
    WebKitSettings* settings = webkit_web_view_get_settings(view->webKitView());
    if (policy == "always") {
      webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_ALWAYS);
    } else if (policy == "on-demand") {
      webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_ON_DEMAND);
    }  // "never" is the engine's own setting
    view->loadHTML(page(), std::string("http://127.0.0.1/"));
    // Let it load, lay out, paint and settle; scroll once to paint more.
    auto settle = [](int ms) {
      gint64 end = g_get_monotonic_time() + ms * 1000;
      while (g_get_monotonic_time() < end) g_main_context_iteration(nullptr, FALSE) || (g_usleep(2000), true);
    };
    settle(3000);
    runOnMainLoop(view->callAsyncJavaScript("window.scrollTo(0, 4000); return 1;", {}));
    settle(3000);
    long pss = 0, rss = 0;
    for (pid_t pid : corvid::testing::descendantsNamed("WebKitWebProces")) {
      auto kb = smapsRollup(pid);
      pss += kb["Pss"];
      rss += kb["Rss"];
    }
    auto self = smapsRollup(getpid());
    std::printf("%ld %ld %ld\n", pss, rss, self["Rss"]);
    std::fflush(stdout);
  }
  std::filesystem::remove_all(root);
  return 0;
}

long median(std::vector<long> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--child") return child(argv[2]);
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  struct Config {
    const char* policy;
    bool noDmabuf;
  };
  const Config configs[] = {{"on-demand", false}, {"always", false}, {"never", false},
                            {"on-demand", true},  {"always", true},  {"never", true}};
  std::printf("| acceleration policy | WEBKIT_DISABLE_DMABUF_RENDERER | web process PSS | web process RSS | UI process RSS |\n");
  std::printf("|---|---|---|---|---|\n");
  for (const auto& c : configs) {
    std::vector<long> pss, rss, ui;
    for (int i = 0; i < runs; ++i) {
      gchar** env = g_get_environ();
      env = c.noDmabuf ? g_environ_setenv(env, "WEBKIT_DISABLE_DMABUF_RENDERER", "1", TRUE)
                       : g_environ_unsetenv(env, "WEBKIT_DISABLE_DMABUF_RENDERER");
      const gchar* args[] = {argv[0], "--child", c.policy, nullptr};
      gchar* out = nullptr;
      gint status = 0;
      GError* error = nullptr;
      if (!g_spawn_sync(nullptr, const_cast<gchar**>(args), env, G_SPAWN_DEFAULT, nullptr, nullptr, &out, nullptr,
                        &status, &error)) {
        std::fprintf(stderr, "spawn failed: %s\n", error->message);
        return 1;
      }
      long p = 0, r = 0, u = 0;
      if (std::sscanf(out ? out : "", "%ld %ld %ld", &p, &r, &u) == 3) {
        pss.push_back(p);
        rss.push_back(r);
        ui.push_back(u);
      }
      g_free(out);
      g_strfreev(env);
    }
    std::printf("| %s | %s | %ld MB | %ld MB | %ld MB |\n", c.policy, c.noDmabuf ? "1" : "unset",
                median(pss) / 1024, median(rss) / 1024, median(ui) / 1024);
    std::fflush(stdout);
  }
  return 0;
}
