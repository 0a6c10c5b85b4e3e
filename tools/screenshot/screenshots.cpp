// Renders the main window in every health case, over in-memory fakes and
// virtual time, and writes it as PNG files (and the tray menu as text):
//
//   corvid_screenshots [FOLDER]      (default: screenshots)
//
// Needs a display (tools/screenshots runs it under Xvfb). Each case builds
// a fresh Watcher over the fakes, drives it to its state with the fake
// inbox page and relay, puts a MainWindowContent into a window, lets it
// render and draws the window into an image.
#include <gtk/gtk.h>
#include <handy.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/window_router.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/virtual_loop.h"
#include "platform/linux/gtk/main_window.h"
#include "platform/linux/gtk/style.h"
#include "platform/linux/gtk/window_snapshot.h"
#include "push/push_client.h"
#include "tests/support/fake_platform.h"
#include "tests/watcher/fake_inbox.h"
#include "ui/menu_model.h"
#include "watcher/watcher.h"

using namespace corvid;
using namespace corvid::testing;
using namespace corvid::linux_platform;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr const char* kInbox = "https://www.instagram.com/direct/inbox/";
constexpr const char* kLoginPage = "https://www.instagram.com/accounts/login/";

// The router's toolkit side does nothing here: the tool shows the
// content, not the window management.
class NoWindows : public WindowHost {
 public:
  void createWindow(AppWindow, const WindowParameters&) override {}
  void setTitle(AppWindow, const std::string&) override {}
  void present(AppWindow) override {}
  void close(AppWindow) override {}
  bool isVisible(AppWindow) const override { return false; }
  void setActivationPolicy(ActivationPolicy) override {}
};

// One Watcher over the fakes, in virtual time.
struct Scene {
  VirtualLoop loop;
  MemorySettings settings;
  MemoryLog log;
  FakeWebEngine engine{loop};
  FakeNetworkMonitor network;
  FakeProcessActivity activity;
  FakeLoginItem loginItem;
  FakeTransport transport{loop};
  FakeNotifier notifier;
  FakeInbox page;
  NoWindows host;
  std::unique_ptr<Watcher> watcher;
  std::unique_ptr<WatcherRouterLink> link;
  std::unique_ptr<WindowRouter> router;
  double t0 = 0;

  // Pairings as the settings file holds them, paired some days ago.
  void storePairings(bool withDevelopmentPhone) {
    double now =
        std::chrono::duration<double>(loop.now().time_since_epoch()).count() - kReferenceDateUnixSeconds;
    Json list = Json::array({Json{{"secret", "s1"},
                                  {"deviceModel", "iPhone 15 Pro"},
                                  {"environment", "production"},
                                  {"pairedAt", now - 3 * 86400 - 5400}}});
    if (withDevelopmentPhone) {
      list.push_back(Json{{"secret", "s2"},
                          {"deviceModel", "iPhone 13 mini"},
                          {"environment", "development"},
                          {"pairedAt", now - 86400 * 12}});
    }
    settings.setString("pushPairings", list.dump());
  }

  Watcher& make() {
    watcher = std::make_unique<Watcher>(WatcherDependencies{
        loop, loop, settings, log, log, engine, network, activity, loginItem, transport, notifier,
        [] { return std::string("데스크톱"); }, "https://relay.corvid.invalid", "https://www.instagram.com"});
    link = std::make_unique<WatcherRouterLink>(*watcher);
    router = std::make_unique<WindowRouter>(host, loop, log, *link);
    t0 = unixMillis(loop.now()) - 600000;
    return *watcher;
  }

  // An inbox with a few conversations, two of them unread.
  void fillInbox() {
    page.viewer = "corvid.user";
    page.badge = 2;
    page.rows = {
        FakeInbox::thread("1", "m1", t0, Json::array({FakeInbox::message("m1", t0, "내일 봐요")}),
                          {{"unread", true}}),
        FakeInbox::thread("2", "n1", t0 - 5000, Json::array(), {{"unread", true}}),
        FakeInbox::thread("3", "o1", t0 - 90000, Json::array()),
        FakeInbox::thread("4", "p1", t0 - 400000, Json::array()),
    };
    page.attach(*engine.last);
    engine.last->currentURL = kInbox;
  }
};

struct Case {
  std::string name;
  std::function<void(Scene&)> setup;
  // Extra steps on the finished content (expand a group, open a dialog).
  bool advancedOpen = false;
  int height = 720;
  bool logoutDialog = false;
  // Typed into the ntfy topic field once the window shows.
  std::string ntfyTyped = {};
};

void iterate() {
  // Layout, drawing and the expander row's reveal animation take a few turns.
  iterateUntil([] { return false; }, 600);
}

bool writePNG(GtkWidget* window, const fs::path& file) {
  iterate();
  std::string error = saveWindowPng(GTK_WINDOW(window), file);
  std::printf("%s%s\n", file.c_str(), error.empty() ? "" : (": " + error).c_str());
  return error.empty();
}

GtkWidget* findByName(GtkWidget* w, const char* name) {
  if (g_strcmp0(gtk_widget_get_name(w), name) == 0) return w;
  if (!GTK_IS_CONTAINER(w)) return nullptr;
  GtkWidget* found = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(w));
  for (GList* c = children; c && !found; c = c->next) found = findByName(GTK_WIDGET(c->data), name);
  g_list_free(children);
  return found;
}

std::string menuText(const Watcher& watcher, Time now) {
  std::string out;
  for (const MenuItem& item : menuItems(menuInputs(watcher, now))) {
    switch (item.kind) {
      case MenuItem::Kind::separator:
        out += "────────\n";
        break;
      case MenuItem::Kind::text:
        out += "  " + item.label + "\n";
        break;
      case MenuItem::Kind::button:
        out += (item.enabled ? "▸ " : "▹ ") + item.label;
        if (!item.accelerator.empty()) out += "    [" + item.accelerator + "]";
        if (!item.enabled) out += "    (꺼짐)";
        out += "\n";
        break;
    }
  }
  return out;
}

bool renderMainWindow(const Case& c, const fs::path& folder) {
  Scene scene;
  c.setup(scene);
  Watcher& watcher = *scene.watcher;
  scene.loop.runDue();

  linux_platform::MainWindowContent content(linux_platform::MainWindowDependencies{
      watcher, *scene.router, scene.loop, scene.loop, scene.loginItem, scene.notifier, "/tmp/watch.log"});
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Corvid");
  gtk_window_set_default_size(GTK_WINDOW(window), 520, c.height);
  gtk_container_add(GTK_CONTAINER(window), content.widget());
  content.windowShown();
  gtk_widget_show(window);
  if (c.advancedOpen) {
    hdy_expander_row_set_expanded(HDY_EXPANDER_ROW(findByName(content.widget(), "advanced")), TRUE);
  }
  if (!c.ntfyTyped.empty()) {
    gtk_entry_set_text(GTK_ENTRY(findByName(content.widget(), "ntfy-topic-entry")), c.ntfyTyped.c_str());
  }
  scene.loop.runDue();
  bool ok = writePNG(window, folder / ("main-" + c.name + ".png"));

  if (c.logoutDialog) {
    gtk_button_clicked(GTK_BUTTON(findByName(content.widget(), "account")));
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* t = toplevels; t; t = t->next) {
      if (GTK_IS_MESSAGE_DIALOG(t->data)) {
        ok = writePNG(GTK_WIDGET(t->data), folder / "confirm-logout.png") && ok;
        gtk_dialog_response(GTK_DIALOG(t->data), GTK_RESPONSE_CANCEL);
      }
    }
    g_list_free(toplevels);
  }

  std::ofstream(folder / ("menu-" + c.name + ".txt")) << menuText(watcher, scene.loop.now());
  gtk_widget_destroy(window);
  iterate();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  hdy_init();
  linux_platform::installCorvidStyles();
  fs::path folder = argc > 1 ? argv[1] : "screenshots";
  std::error_code ec;
  fs::create_directories(folder, ec);

  const std::vector<Case> cases = {
      {"first-launch",
       [](Scene& s) {
         s.make();
         s.engine.last->currentURL = kLoginPage;
         s.loop.advance(2s);
       }},
      {"starting",
       [](Scene& s) {
         s.storePairings(false);
         s.make();
       }},
      {"no-phone",
       [](Scene& s) {
         s.make();
         s.fillInbox();
         s.loop.advance(2s);
       }},
      {"ok",
       [](Scene& s) {
         s.storePairings(true);
         s.make();
         s.fillInbox();
         s.loop.advance(2s);  // the baseline read
         // A friend writes; the page's badge follows; one push per phone.
         s.page.rows[2] = FakeInbox::thread(
             "3", "o2", s.t0 + 2000, Json::array({FakeInbox::message("o2", s.t0 + 2000, "사진 보냈어요")}),
             {{"unread", true}});
         s.page.badge = 3;
         s.loop.advance(2s);
         s.loop.advance(20s);
       }},
      {"server-problem",
       [](Scene& s) {
         s.storePairings(false);
         s.transport.respond = [](const HttpRequest&) {
           HttpResult r;
           r.failure.kind = HttpFailureKind::cannotFindHost;
           return r;
         };
         s.make();
         s.fillInbox();
         s.loop.advance(2s);
       }},
      // The relay fails while a message arrives: the message waits in the
      // outbox and the status says so.
      {"waiting",
       [](Scene& s) {
         s.storePairings(false);
         s.make();
         s.fillInbox();
         s.loop.advance(2s);
         s.transport.respond = [](const HttpRequest&) {
           HttpResult r;
           r.response = HttpResponse{503, std::string("{}")};
           return r;
         };
         s.page.rows[2] = FakeInbox::thread(
             "3", "o2", s.t0 + 2000, Json::array({FakeInbox::message("o2", s.t0 + 2000, "사진 보냈어요")}),
             {{"unread", true}});
         s.page.badge = 3;
         s.loop.advance(4s);
       }},
      {"read-problem",
       [](Scene& s) {
         s.storePairings(false);
         s.make();
         s.engine.last->currentURL = kInbox;  // every page script fails
         s.loop.advance(50s);
       }},
      {"offline",
       [](Scene& s) {
         s.storePairings(false);
         s.make();
         s.fillInbox();
         s.loop.advance(2s);
         s.network.update(false);
       }},
      {"logged-out",
       [](Scene& s) {
         s.storePairings(false);
         s.settings.setBool("everWatched", true);
         s.loginItem.current = LoginItemStatus::enabled;
         s.make();
         s.engine.last->currentURL = kLoginPage;
         s.loop.advance(2s);
       }},
      // Everything open: the advanced group, launch at login waiting for
      // approval, a pairing error; tall enough for the whole form.
      {"settings",
       [](Scene& s) {
         s.storePairings(true);
         s.loginItem.current = LoginItemStatus::requiresApproval;
         s.make();
         s.fillInbox();
         s.loop.advance(2s);
         s.transport.respond = [](const HttpRequest& r) {
           HttpResult result;
           if (r.url.ends_with("/v1/pair")) {
             result.response = HttpResponse{404, std::string(R"({"error":"code not found"})")};
           } else {
             result.response = HttpResponse{200, std::string("{}")};
           }
           return result;
         };
         Task<bool> pairing = s.watcher->push().pair("123456");
         runTask(s.loop, std::move(pairing));
       },
       true, 1320, true},
      // A topic alone reaches the phone; a message went out, the test too,
      // and the desktop shows messages as well.
      {"ntfy",
       [](Scene& s) {
         s.settings.setString("ntfyTopicURL", "https://ntfy.sh/corvid-7q2mx8k4p0a9d3vz5w1r");
         s.settings.setBool("desktopMessageNotifications", true);
         s.loginItem.current = LoginItemStatus::enabled;
         s.make();
         s.fillInbox();
         s.loop.advance(2s);
         s.page.rows[2] = FakeInbox::thread(
             "3", "o2", s.t0 + 2000, Json::array({FakeInbox::message("o2", s.t0 + 2000, "사진 보냈어요")}),
             {{"unread", true}});
         s.page.badge = 3;
         s.loop.advance(4s);
         runTask(s.loop, s.watcher->push().sendNtfyTest());
       },
       false, 1400},
      // Plain http to another computer, being typed: marked, not stored.
      {"ntfy-invalid",
       [](Scene& s) {
         s.storePairings(false);
         s.settings.setString("ntfyTopicURL", "https://ntfy.sh/corvid-7q2mx8k4p0a9d3vz5w1r");
         s.make();
         s.fillInbox();
         s.loop.advance(2s);
       },
       false, 1400, false, "http://ntfy.example/corvid-plain"},
  };

  bool ok = true;
  for (const Case& c : cases) ok = renderMainWindow(c, folder) && ok;
  return ok ? 0 : 1;
}
