// The web engine on Linux: WebKitGTK 4.1.
//
// Decisions (figures and commands in BENCHMARKS.md, "Web engine"):
//
// - Website data. All persistent views share ONE WebKitWebsiteDataManager
//   made with explicit base data and cache folders (the app passes
//   $XDG_DATA_HOME/corvid/web and $XDG_CACHE_HOME/corvid/web) and a
//   WebKitWebContext on it; cookies go to an SQLite file in the data folder,
//   which is the only way WebKitGTK keeps them across restarts. The default
//   context is never used. A non-persistent view is ephemeral: it gets a
//   data manager of its own that never writes to disk.
//
// - Views in no window. A WebKitWebView outside any window is 0 × 0 pixels
//   and hidden: the page lays out in a zero viewport, its timers are
//   throttled to 1–2 a second and animation frames stop. So a view lives in
//   a GtkOffscreenWindow of its frame size whenever no window hosts it; the
//   page then counts as visible and keeps full-rate timers. Hidden-page DOM
//   timer throttling is also turned off, so that timers keep their rate
//   while the view sits in a window that is minimised or hidden.
//   `hostIn()` moves the same widget into a window's container and
//   `unhost()` back into its off-screen window; neither reloads the page.
//   A host container that is destroyed hands the view back first.
//
// - Rendering. Hardware acceleration is off (policy NEVER): the view is
//   looked at rarely, and its web process needs about 165 MB instead of
//   242 MB (RSS, measured under Xvfb), as much as disabling the DMA-BUF
//   renderer saves, without a process-wide environment variable.
//
// - Sandbox. WebKitGTK 4.1 leaves the bubblewrap sandbox of the web
//   processes off unless asked; it is switched on. It works as root under
//   Xvfb on Debian 12 too; tools/test turns it off (with WebKit's own
//   environment variable) only when run as root where bubblewrap cannot
//   make its namespaces, as in some containers.
//
// - Script calls. See script_call.h for the wrapper. A call pending while
//   the page navigates may never answer, so every call has its own time-out
//   (20 s by default, above the longest page script of 12 s) after which it
//   fails; cancelling the awaiting task ends the wait too. Late answers are
//   dropped, also after the view or the awaiting task is gone.
//
// - Loads. WebKitGTK has no per-request time-out. `load()` arms a watchdog
//   that stops the load when it has made no progress (no load event, no
//   change of the estimated progress) for the load time-out, 60 s by
//   default, like an idle request time-out.
//
// - Message handlers. WebKitGTK's script-message signal does not say which
//   world posted. Each (name, world) pair is registered under an internal
//   channel name of its own in that world only, and a document-start script
//   in that world makes window.webkit.messageHandlers.<name> that channel.
//   So a message always names the right world, and a page-world script
//   cannot post as another world: that world's channel does not exist in
//   the page world.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <string>

#include "base/time.h"
#include "watcher/web_engine.h"

namespace corvid::linux_platform {

struct WebKitEngineOptions {
  // Folders of the persistent website data store; created (mode 0700) when
  // missing.
  std::string dataDirectory;
  std::string cacheDirectory;
  // After this a script call (or cookie listing) without an answer fails.
  Duration scriptTimeout = std::chrono::seconds(20);
  // A load that makes no progress for this long is stopped.
  Duration loadTimeout = std::chrono::seconds(60);
};

class WebKitView;

// Needs an initialised GTK (a display). Main thread only.
class WebKitEngine : public WebEngine {
 public:
  explicit WebKitEngine(WebKitEngineOptions options);
  ~WebKitEngine() override;
  WebKitEngine(const WebKitEngine&) = delete;
  WebKitEngine& operator=(const WebKitEngine&) = delete;

  std::unique_ptr<WebView> createWebView(const WebViewConfiguration& configuration, int width,
                                         int height) override;
  // The same, typed for the GTK windows.
  std::unique_ptr<WebKitView> createWebKitView(const WebViewConfiguration& configuration, int width,
                                               int height);

  const WebKitEngineOptions& options() const { return options_; }
  // The web context of every view of this engine.
  WebKitWebContext* context() const { return context_; }

 private:
  WebKitEngineOptions options_;
  WebKitWebsiteDataManager* dataManager_ = nullptr;
  WebKitWebContext* context_ = nullptr;
};

class WebKitView : public WebView {
 public:
  ~WebKitView() override;
  WebKitView(const WebKitView&) = delete;
  WebKitView& operator=(const WebKitView&) = delete;

  void load(const std::string& url) override;
  void loadHTML(const std::string& html, const std::optional<std::string>& baseURL) override;
  std::optional<std::string> url() const override;
  bool isLoading() const override;
  Task<ScriptResult> callAsyncJavaScript(std::string_view body, const Json& arguments,
                                         const std::string& world = kPageWorld) override;
  Task<std::vector<Cookie>> allCookies() override;
  Task<void> removeAllWebsiteData() override;
  void addUserScript(const UserScript& script) override;
  void addScriptMessageHandler(const std::string& name, const std::string& world,
                               std::function<void(const ScriptMessage&)> handler) override;
  void setDelegate(WebViewDelegate* delegate) override;

  // For the GTK windows.
  GtkWidget* widget() const;
  WebKitWebView* webKitView() const;
  // Shows the view in `container` (added with gtk_container_add, expanding),
  // taking it out of wherever it was; the page, its state and its web
  // process stay as they are.
  void hostIn(GtkContainer* container);
  // Takes the view out of its host container and back into its off-screen
  // window. Call it when the hosting window closes or hides: a view left in
  // a hidden window counts as hidden.
  void unhost();
  bool hosted() const;

  // The channel that carries messages of `name` from `world`; exposed for
  // tests that check that no other world can reach it.
  static std::string messageChannel(const std::string& name, const std::string& world);

  struct State;

 private:
  friend class WebKitEngine;
  WebKitView(WebKitEngine& engine, const WebViewConfiguration& configuration, int width, int height);

  std::shared_ptr<State> state_;
};

}  // namespace corvid::linux_platform
