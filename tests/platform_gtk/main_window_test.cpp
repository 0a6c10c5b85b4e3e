// The main window's content over a Watcher on fakes and virtual time, in a
// real GTK window under Xvfb: the code field, and the focus while the user
// types elsewhere.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "app/window_router.h"
#include "platform/linux/gtk/main_window.h"
#include "platform/linux/gtk/window_host.h"
#include "tests/watcher/fake_inbox.h"
#include "tests/watcher/harness.h"

using namespace corvid;
using namespace corvid::testing;
using namespace corvid::linux_platform;
using namespace std::chrono_literals;

namespace {

GtkWidget* findByName(GtkWidget* w, const char* name) {
  if (g_strcmp0(gtk_widget_get_name(w), name) == 0) return w;
  if (!GTK_IS_CONTAINER(w)) return nullptr;
  GtkWidget* found = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(w));
  for (GList* c = children; c && !found; c = c->next) found = findByName(GTK_WIDGET(c->data), name);
  g_list_free(children);
  return found;
}

struct MainWindow : ::testing::Test {
  static void SetUpTestSuite() { gtk_init(nullptr, nullptr); }

  WatcherHarness h;
  FakeInbox page;
  GtkWindowHost host{nullptr, h.loop, "/nonexistent/state.ini", [](AppWindow) { return nullptr; }};
  std::unique_ptr<WatcherRouterLink> link;
  std::unique_ptr<WindowRouter> router;
  std::unique_ptr<MainWindowContent> content;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);

  // Shows the main window over a Watcher that has read the inbox once.
  Watcher& open() {
    Watcher& w = h.make();
    page.rows = {FakeInbox::thread("1", "m1", unixMillis(h.loop.now()) - 60000, Json::array())};
    page.attach(h.web());
    h.web().currentURL = "https://www.instagram.com/direct/inbox/";
    h.loop.advance(2s);
    link = std::make_unique<WatcherRouterLink>(w);
    router = std::make_unique<WindowRouter>(host, h.loop, h.log, *link);
    content = std::make_unique<MainWindowContent>(MainWindowDependencies{
        w, *router, h.loop, h.loop, h.loginItem, h.notifier, "/nonexistent/watch.log"});
    gtk_container_add(GTK_CONTAINER(window), content->widget());
    content->windowShown();
    gtk_widget_show(window);
    settle();
    return w;
  }
  void TearDown() override {
    content.reset();
    gtk_widget_destroy(window);
  }
  void settle() {
    for (int i = 0; i < 3; ++i) {
      h.loop.runDue();
      while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    }
  }
  GtkWidget* widget(const char* name) { return findByName(content->widget(), name); }
  std::string text(const char* name) { return gtk_entry_get_text(GTK_ENTRY(widget(name))); }
};

}  // namespace

TEST_F(MainWindow, TheCodeFieldHasTheFocusTakesSixDigitsAndPairsOnceAtTheSixth) {
  h.transport.delay = 1h;  // the pairing request stays in flight
  open();
  GtkWidget* code = widget("code-entry");
  ASSERT_TRUE(code);
  EXPECT_TRUE(gtk_widget_is_focus(code));          // no phone yet: the code field has the focus
  gtk_entry_set_text(GTK_ENTRY(code), "12 34 5");  // pasted with spaces
  EXPECT_EQ(text("code-entry"), "12345");
  // Shown again, the window focuses the field without selecting the code.
  gtk_widget_grab_focus(widget("connect"));
  content->windowShown();
  EXPECT_TRUE(gtk_widget_is_focus(code));
  EXPECT_FALSE(gtk_editable_get_selection_bounds(GTK_EDITABLE(code), nullptr, nullptr));
  gtk_widget_activate(code);  // Return with five digits does nothing
  EXPECT_TRUE(h.transport.requests.empty());
  // Typed into the middle: the first six digits of "1" "9x8" "2345".
  int position = 1;
  gtk_editable_insert_text(GTK_EDITABLE(code), "9x8", 3, &position);
  EXPECT_EQ(text("code-entry"), "198234");
  ASSERT_EQ(h.transport.requests.size(), 1u);
  EXPECT_TRUE(h.transport.requests[0].url.ends_with("/v1/pair"));
  // More digits, Return and "연결" while the request is in flight send nothing.
  gtk_entry_buffer_set_text(gtk_entry_get_buffer(GTK_ENTRY(code)), "65a43210", -1);  // bypasses insert-text
  EXPECT_EQ(text("code-entry"), "654321");
  gtk_widget_activate(code);
  gtk_button_clicked(GTK_BUTTON(widget("connect")));
  EXPECT_EQ(h.transport.requests.size(), 1u);
}

TEST_F(MainWindow, RenderingLeavesTheServerFieldAloneWhileTheUserTypesThere) {
  h.storePairing("s1");
  Watcher& w = open();
  GtkWidget* server = widget("server-entry");
  gtk_widget_grab_focus(server);
  gtk_entry_set_text(GTK_ENTRY(server), "https://relay.example.test");
  gtk_editable_set_position(GTK_EDITABLE(server), 8);
  EXPECT_EQ(w.push().serverURL(), "https://relay.example.test");  // bound on every edit
  h.loop.advance(12s);                                            // ticks and the relative-time renderings
  settle();
  EXPECT_EQ(text("server-entry"), "https://relay.example.test");
  EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(server)), 8);
  // Losing the last phone while the user types here keeps the focus here.
  w.push().setPairings({});
  settle();
  ASSERT_EQ(w.health(), Health::noPhone());
  EXPECT_TRUE(gtk_widget_is_focus(server));
}
