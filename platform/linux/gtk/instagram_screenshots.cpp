// Renders the Instagram window to PNG files, in login mode (before and after
// the session is read as logged in) and in inspect mode, over the local
// test inbox page:
//
//   CORVID_SERVICE_ORIGIN=http://127.0.0.1:PORT corvid_instagram_screenshots OUTDIR
//
// tools/instagram-screenshots starts the test page, Xvfb and a private HOME
// and runs this. Only loopback origins are accepted, so the tool never
// loads the real service.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/window_router.h"
#include "platform/linux/gtk/app_services.h"
#include "platform/linux/gtk/instagram_window.h"
#include "platform/linux/gtk/window_host.h"
#include "platform/linux/gtk/window_snapshot.h"

using namespace corvid;
using namespace corvid::linux_platform;

namespace {

class NoContent : public WindowContent {
 public:
  NoContent() : label_(g_object_ref_sink(gtk_label_new(""))) {}
  ~NoContent() override { g_object_unref(label_); }
  GtkWidget* widget() const override { return label_; }

 private:
  GtkWidget* label_;
};

bool shoot(GtkWindowHost& host, const std::string& file) {
  // Give the page and the banner a moment to paint.
  iterateUntil([] { return false; }, 1500);
  std::string error = saveWindowPng(host.window(AppWindow::instagram), file);
  if (!error.empty()) {
    std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
    return false;
  }
  std::printf("%s\n", file.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: CORVID_SERVICE_ORIGIN=http://127.0.0.1:PORT %s OUTDIR\n", argv[0]);
    return 2;
  }
  const std::string origin = serviceOrigin();
  if (origin.rfind("http://127.0.0.1:", 0) != 0) {
    std::fprintf(stderr, "CORVID_SERVICE_ORIGIN must be a loopback test page (http://127.0.0.1:PORT)\n");
    return 2;
  }
  const std::string out = argv[1];
  gtk_init(&argc, &argv);

  AppServices services;
  WindowRouter* routerPtr = nullptr;
  GtkWindowHost host(nullptr, services.scheduler, services.paths.stateFile,
                     [&](AppWindow w) -> std::unique_ptr<WindowContent> {
                       if (w == AppWindow::main) return std::make_unique<NoContent>();
                       return std::make_unique<InstagramWindowContent>(
                           *services.watcher, *routerPtr, services.scheduler, services.webView());
                     });
  WatcherRouterLink link(*services.watcher);
  WindowRouter router(host, services.scheduler, services.activityLog, link);
  routerPtr = &router;
  host.setRouter(&router);

  router.showInstagram(InstagramMode::login);
  WebKitView& view = services.webView();
  bool loaded = iterateUntil([&] { return view.url() && !view.isLoading(); }, 30000);
  bool ok = loaded;
  const bool loggedInEarly = services.watcher->sessionState() == "ok";
  ok = shoot(host, out + (loggedInEarly ? "/instagram-login-done.png" : "/instagram-login.png")) && ok;
  if (iterateUntil([&] { return services.watcher->sessionState() == "ok"; }, 30000)) {
    if (!loggedInEarly) ok = shoot(host, out + "/instagram-login-done.png") && ok;
  } else {
    std::fprintf(stderr, "the test page was not read as logged in\n");
    ok = false;
  }
  router.showInstagram(InstagramMode::inspect);
  ok = shoot(host, out + "/instagram-inspect.png") && ok;
  return ok ? 0 : 1;
}
