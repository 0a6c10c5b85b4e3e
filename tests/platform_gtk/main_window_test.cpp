// The main window's content over a Watcher on fakes and virtual time, in a
// real GTK window under Xvfb: the code field, the confirmations, the
// server field while the user types, and the Korean line breaking.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>

#include "app/window_router.h"
#include "platform/linux/gtk/main_window.h"
#include "platform/linux/gtk/style.h"
#include "tests/watcher/fake_inbox.h"
#include "tests/watcher/harness.h"

using namespace corvid;
using namespace corvid::testing;
using namespace corvid::linux_platform;
using namespace std::chrono_literals;

namespace {

class NoWindows : public WindowHost {
 public:
  void createWindow(AppWindow, const WindowParameters&) override {}
  void setTitle(AppWindow, const std::string&) override {}
  void present(AppWindow) override {}
  void close(AppWindow) override {}
  bool isVisible(AppWindow) const override { return false; }
  void setActivationPolicy(ActivationPolicy) override {}
};

GtkWidget* findByName(GtkWidget* w, const char* name) {
  if (g_strcmp0(gtk_widget_get_name(w), name) == 0) return w;
  if (!GTK_IS_CONTAINER(w)) return nullptr;
  GtkWidget* found = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(w));
  for (GList* c = children; c && !found; c = c->next) found = findByName(GTK_WIDGET(c->data), name);
  g_list_free(children);
  return found;
}

GtkDialog* openDialog() {
  GtkDialog* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* t = toplevels; t; t = t->next)
    if (GTK_IS_MESSAGE_DIALOG(t->data) && gtk_widget_get_visible(GTK_WIDGET(t->data)))
      found = GTK_DIALOG(t->data);
  g_list_free(toplevels);
  return found;
}

struct MainWindow : ::testing::Test {
  WatcherHarness h;
  FakeInbox page;
  NoWindows host;
  std::unique_ptr<WatcherRouterLink> link;
  std::unique_ptr<WindowRouter> router;
  std::unique_ptr<MainWindowContent> content;
  GtkWidget* window = nullptr;

  static void SetUpTestSuite() { gtk_init(nullptr, nullptr); }

  // A Watcher that has read the inbox once.
  Watcher& watching() {
    Watcher& w = h.make();
    page.rows = {FakeInbox::thread("1", "m1", unixMillis(h.loop.now()) - 60000, Json::array())};
    page.attach(h.web());
    h.web().currentURL = "https://www.instagram.com/direct/inbox/";
    h.loop.advance(2s);
    return w;
  }

  void open() {
    link = std::make_unique<WatcherRouterLink>(*h.watcher);
    router = std::make_unique<WindowRouter>(host, h.loop, h.log, *link);
    content = std::make_unique<MainWindowContent>(MainWindowDependencies{
        *h.watcher, *router, h.loop, h.loop, h.loginItem, h.notifier, "/nonexistent/watch.log"});
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 520, 720);
    gtk_container_add(GTK_CONTAINER(window), content->widget());
    content->windowShown();
    gtk_widget_show(window);
    settle();
  }

  void TearDown() override {
    content.reset();
    if (window) gtk_widget_destroy(window);
    settle();
  }

  void settle() {
    for (int i = 0; i < 3; ++i) {
      h.loop.runDue();
      while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    }
  }

  GtkWidget* widget(const char* name) {
    GtkWidget* w = findByName(content->widget(), name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::string entryText(const char* name) { return gtk_entry_get_text(GTK_ENTRY(widget(name))); }

  int requests(const std::string& path) const {
    return int(std::count_if(h.transport.requests.begin(), h.transport.requests.end(),
                             [&](const HttpRequest& r) { return r.url.ends_with(path); }));
  }
};

}  // namespace

TEST_F(MainWindow, TheSixthDigitPairsOnceAndSuccessEmptiesTheField) {
  Watcher& w = watching();
  ASSERT_EQ(w.health(), Health::noPhone());
  h.transport.delay = 3s;
  h.transport.respond = [](const HttpRequest& r) {
    if (r.url.ends_with("/v1/pair"))
      return HttpResult{
          HttpResponse{200, R"({"secret":"sec-1","deviceModel":"iPhone 15","environment":"development"})"},
          {}};
    return HttpResult{HttpResponse{200, "{}"}, {}};
  };
  open();
  GtkWidget* code = widget("code-entry");
  EXPECT_TRUE(gtk_widget_is_focus(code));  // no phone yet: the code field has the focus

  gtk_entry_set_text(GTK_ENTRY(code), "12 34 5");  // pasted with spaces
  EXPECT_EQ(entryText("code-entry"), "12345");
  EXPECT_EQ(requests("/v1/pair"), 0);
  gtk_widget_activate(code);  // Return with five digits does nothing
  EXPECT_EQ(requests("/v1/pair"), 0);

  // Typed into the middle: the first six digits of "1" "9x8" "2345".
  int position = 1;
  gtk_editable_insert_text(GTK_EDITABLE(code), "9x8", 3, &position);
  EXPECT_EQ(entryText("code-entry"), "198234");
  EXPECT_EQ(requests("/v1/pair"), 1);
  settle();

  // More digits, Return and "연결" while the request is in flight send nothing.
  gtk_entry_set_text(GTK_ENTRY(code), "1234567");
  EXPECT_EQ(entryText("code-entry"), "123456");
  gtk_entry_buffer_set_text(gtk_entry_get_buffer(GTK_ENTRY(code)), "65a4321", -1);  // bypasses insert-text
  EXPECT_EQ(entryText("code-entry"), "654321");
  gtk_widget_activate(code);
  gtk_button_clicked(GTK_BUTTON(widget("connect")));
  EXPECT_EQ(requests("/v1/pair"), 1);

  h.loop.advance(10s);  // the pairing and its confirmation push
  settle();
  EXPECT_EQ(w.push().pairings().size(), 1u);
  EXPECT_EQ(entryText("code-entry"), "");
  EXPECT_EQ(h.notifier.authorizationRequests, 1);
}

TEST_F(MainWindow, ConfirmationsRunTheirOperationOnlyWhenConfirmed) {
  h.storePairing("s1");
  watching();
  open();
  auto answer = [&](const char* button, GtkResponseType response) {
    gtk_button_clicked(GTK_BUTTON(widget(button)));
    GtkDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr) << button;
    gtk_dialog_response(dialog, response);
    h.loop.advance(1s);
    settle();
    EXPECT_EQ(openDialog(), nullptr);
  };
  answer("account", GTK_RESPONSE_DELETE_EVENT);  // "로그아웃…", closed without a choice
  answer("unpair", GTK_RESPONSE_CANCEL);
  EXPECT_EQ(h.web().dataRemovals, 0);
  EXPECT_EQ(requests("/v1/unpair"), 0);

  answer("unpair", GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(requests("/v1/unpair"), 1);
  EXPECT_TRUE(h.watcher->push().pairings().empty());
  EXPECT_TRUE(gtk_widget_is_focus(widget("code-entry")));  // no phone any more
  answer("account", GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(h.web().dataRemovals, 1);
}

TEST_F(MainWindow, RenderingLeavesTheServerFieldAloneWhileTheUserTypes) {
  h.storePairing("s1");
  Watcher& w = watching();
  open();
  GtkWidget* server = widget("server-entry");
  EXPECT_EQ(entryText("server-entry"), "https://relay.test.invalid");
  gtk_widget_grab_focus(server);
  gtk_entry_set_text(GTK_ENTRY(server), "https://relay.example.test");
  gtk_editable_set_position(GTK_EDITABLE(server), 8);
  EXPECT_EQ(w.push().serverURL(), "https://relay.example.test");  // bound on every edit
  EXPECT_EQ(h.settings.stringValue("pushServerURL"), "https://relay.example.test");
  h.loop.advance(12s);  // ticks and the relative-time renderings
  settle();
  EXPECT_EQ(entryText("server-entry"), "https://relay.example.test");
  EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(server)), 8);
  // Losing the last phone while the user types here keeps the focus here.
  h.watcher->push().setPairings({});
  settle();
  ASSERT_EQ(w.health(), Health::noPhone());
  EXPECT_TRUE(gtk_widget_is_focus(server));
}

TEST(KoreanLineBreaking, KeepsEachRunWithHangulTogether) {
  // "Mac에서" and "6자리" are runs with Hangul; "https://…" and "·" are not.
  std::string text = "이 Mac에서 https://a.b · 6자리";
  auto ranges = koreanWordRanges(text);
  std::vector<std::string> runs;
  for (auto [start, end] : ranges) runs.push_back(text.substr(start, end - start));
  EXPECT_EQ(runs, (std::vector<std::string>{"이", "Mac에서", "6자리"}));
  EXPECT_TRUE(koreanWordRanges("\xff 가").empty());  // malformed text is left alone
}
