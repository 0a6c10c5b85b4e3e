// The main window's content over a Watcher on fakes and virtual time, in a
// real GTK window under Xvfb: the code field, the focus while the user
// types elsewhere, and the ntfy topic with its QR code read back by zbar.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <zbar.h>

#include <regex>

#include "app/window_router.h"
#include "platform/linux/gtk/main_window.h"
#include "platform/linux/gtk/window_host.h"
#include "platform_glib/test_support.h"
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

namespace {

// The QR codes zbar finds in what `w` draws.
std::vector<std::string> decodeQr(GtkWidget* w) {
  using namespace zbar;
  const int width = gtk_widget_get_allocated_width(w), height = gtk_widget_get_allocated_height(w);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  gtk_widget_draw(w, cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  std::vector<unsigned char> gray(static_cast<std::size_t>(width * height));
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const unsigned char* p = data + y * stride + x * 4;
      gray[static_cast<std::size_t>(y * width + x)] = static_cast<unsigned char>((p[0] + p[1] + p[2]) / 3);
    }
  cairo_surface_destroy(surface);

  zbar_image_scanner_t* scanner = zbar_image_scanner_create();
  zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
  zbar_image_t* image = zbar_image_create();
  zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
  zbar_image_set_size(image, static_cast<unsigned>(width), static_cast<unsigned>(height));
  zbar_image_set_data(image, gray.data(), gray.size(), nullptr);
  zbar_scan_image(scanner, image);
  std::vector<std::string> found;
  for (const zbar_symbol_t* s = zbar_image_first_symbol(image); s; s = zbar_symbol_next(s))
    found.emplace_back(zbar_symbol_get_data(s));
  zbar_image_destroy(image);
  zbar_image_scanner_destroy(scanner);
  return found;
}

}  // namespace

TEST_F(MainWindow, ANewTopicFillsTheFieldAndItsQrCodeReadsBackToTheUrl) {
  Watcher& w = open();
  ASSERT_EQ(w.health(), Health::noPhone());
  GtkWidget* qr = widget("ntfy-qr");
  EXPECT_FALSE(gtk_widget_is_visible(qr));
  gtk_button_clicked(GTK_BUTTON(widget("new-ntfy-topic")));
  settle();
  const std::string url = text("ntfy-topic-entry");
  EXPECT_TRUE(std::regex_match(url, std::regex("https://ntfy\\.sh/corvid-[a-z0-9]{20}"))) << url;
  EXPECT_EQ(h.settings.stringValue("ntfyTopicURL"), url);
  EXPECT_EQ(w.health(), Health::ok());  // the topic counts as a phone
  EXPECT_TRUE(gtk_widget_get_sensitive(widget("send-test")));
  ASSERT_TRUE(gtk_widget_is_visible(qr));
  // Drawn once laid out at the code's full size.
  GdkPixbuf* shown = gtk_image_get_pixbuf(GTK_IMAGE(qr));
  ASSERT_TRUE(shown);
  ASSERT_TRUE(spinUntil(
      [&] {
        settle();
        return gtk_widget_get_allocated_width(qr) >= gdk_pixbuf_get_width(shown) &&
               gtk_widget_get_allocated_height(qr) >= gdk_pixbuf_get_height(shown);
      },
      10s));
  EXPECT_EQ(decodeQr(qr), std::vector<std::string>{url});

  // Plain http to another computer: kept as typed, marked, not stored.
  gtk_entry_set_text(GTK_ENTRY(widget("ntfy-topic-entry")), "http://ntfy.sh/corvid-plain");
  h.loop.advance(6s);
  settle();
  EXPECT_EQ(text("ntfy-topic-entry"), "http://ntfy.sh/corvid-plain");
  EXPECT_TRUE(gtk_widget_is_visible(widget("ntfy-topic-caption")));
  EXPECT_EQ(gtk_label_get_text(GTK_LABEL(widget("ntfy-topic-caption"))), std::string("주소가 올바르지 않습니다"));
  EXPECT_EQ(h.settings.stringValue("ntfyTopicURL"), url);
  EXPECT_FALSE(gtk_widget_is_visible(qr));

  gtk_switch_set_active(GTK_SWITCH(widget("desktop-messages")), TRUE);
  EXPECT_EQ(h.settings.boolValue("desktopMessageNotifications"), true);
}
