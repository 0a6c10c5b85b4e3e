#include "platform/linux/gtk/application.h"

#include <glib-unix.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/lifecycle.h"
#include "app/session_member.h"
#include "app/window_router.h"
#include "platform/linux/gtk/display_loss.h"
#include "platform/linux/gtk/instagram_window.h"
#include "platform/linux/gtk/main_window.h"
#include "platform/linux/gtk/session_client.h"
#include "platform/linux/gtk/system_quit.h"
#include "platform/linux/gtk/tray.h"
#include "platform/linux/gtk/window_host.h"
#include "ui/main_window_model.h"
#include "ui/menu_model.h"
#include "watcher/watcher.h"

namespace corvid::linux_platform {

namespace {

class MainContent : public WindowContent {
 public:
  explicit MainContent(MainWindowDependencies deps) : content_(std::move(deps)) {}
  GtkWidget* widget() const override { return content_.widget(); }
  void windowShown() override { content_.windowShown(); }

 private:
  MainWindowContent content_;
};

[[noreturn]] void end() {
  std::fflush(nullptr);
  _exit(0);
}

// The command that starts this program, for the session manager.
std::string executablePath() {
  gchar* path = g_file_read_link("/proc/self/exe", nullptr);
  std::string out = path ? path : "corvid";
  g_free(path);
  return out;
}

}  // namespace

// Everything that sits on the services: windows, router, tray, quitting.
struct CorvidApplication::Shell {
  Shell(CorvidApplication& app, AppServices& s)
      : host(app.app_, s.scheduler, s.paths.stateFile,
             [this, &s](AppWindow w) -> std::unique_ptr<WindowContent> {
               if (w == AppWindow::main) {
                 return std::make_unique<MainContent>(MainWindowDependencies{
                     *s.watcher, router, s.scheduler, s.clock, s.loginItem, s.notifier, s.paths.activityLog});
               }
               return std::make_unique<InstagramWindowContent>(*s.watcher, router, s.scheduler, s.webView());
             }),
        link(*s.watcher),
        router(host, s.scheduler, s.activityLog, link),
        tray(TrayIcon::Dependencies{*s.watcher, router, s.scheduler, s.clock, s.systemLog,
                                    [this, &s](MenuAction a) { perform(s, a); }, kApplicationId}),
        quit(QuitController::Dependencies{
            s.scheduler, [&s] { return s.watcher->push().pairings().size(); },
            [&app] { return app.confirmQuit(); }, [&s] { return s.watcher->sendStoppedStatus(); },
            [&app] { app.terminate(); }, [&s] { return s.watcher->sendCurrentStatus(); }}),
        shutdownWatch([&app] { app.requestQuit(true); }),
        sessionMember({quit, [this] { session.saveYourselfDone(); }, [&app] { app.requestQuit(true); }}),
        session({[this](SessionSave save) { sessionMember.saveYourself(save); },
                 [this] { sessionMember.die(); }, [this] { sessionMember.shutdownCancelled(); }},
                executablePath()),
        displayLoss(gdk_display_get_default(), [&app] { app.displayLost(); }) {
    host.setRouter(&router);
  }

  void perform(AppServices& s, MenuAction action) {
    switch (action) {
      case MenuAction::showInstagramLogin:
        router.showInstagram(InstagramMode::login);
        break;
      case MenuAction::retryStatus:
        spawn(s.watcher->sendCurrentStatus());
        break;
      case MenuAction::reloadInbox:
        s.watcher->reload(kMenuReloadReason);
        break;
      case MenuAction::showMain:
        router.showMain();
        break;
      case MenuAction::sendTest:
        // The menu has closed by the time the outcome is known.
        spawn(sendTestFromMenu(s.watcher->push(), s.notifier, s.clock));
        break;
      case MenuAction::quit:
        if (onQuit) onQuit();
        break;
      case MenuAction::none:
        break;
    }
  }

  GtkWindowHost host;
  WatcherRouterLink link;
  WindowRouter router;
  TrayIcon tray;
  QuitController quit;
  ShutdownWatch shutdownWatch;
  SessionMember sessionMember;
  SessionClient session;
  DisplayLossWatch displayLoss;
  std::function<void()> onQuit;
  GtkWidget* quitDialog = nullptr;  // while the confirmation shows
  guint logoutInhibit = 0;
  guint signalSources[2] = {0, 0};
};

CorvidApplication::CorvidApplication() {
  app_ = gtk_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS);
  // Register with the session manager, so that the end of the session
  // arrives as query-end.
  g_object_set(app_, "register-session", TRUE, nullptr);
  g_signal_connect(app_, "startup", G_CALLBACK(+[](GApplication*, gpointer self) {
                     static_cast<CorvidApplication*>(self)->startup();
                   }),
                   this);
  g_signal_connect(app_, "activate", G_CALLBACK(+[](GApplication*, gpointer self) {
                     static_cast<CorvidApplication*>(self)->activate();
                   }),
                   this);
  g_signal_connect(app_, "shutdown", G_CALLBACK(+[](GApplication*, gpointer self) {
                     static_cast<CorvidApplication*>(self)->shutdown();
                   }),
                   this);
  g_signal_connect(app_, "query-end", G_CALLBACK(+[](GtkApplication*, gpointer self) {
                     static_cast<CorvidApplication*>(self)->requestQuit(true);
                   }),
                   this);
}

CorvidApplication::~CorvidApplication() {
  shutdown();
  g_clear_object(&app_);
}

int CorvidApplication::run(int argc, char** argv) {
  return g_application_run(G_APPLICATION(app_), argc, argv);
}

void CorvidApplication::startup() {
  // Corvid keeps running with no window open.
  g_application_hold(G_APPLICATION(app_));
  // Launch: the desktop notifications' click routing exists before the
  // Watcher (AppServices makes the notifier first), then the Watcher.
  services_ = std::make_unique<AppServices>();
  shell_ = std::make_unique<Shell>(*this, *services_);
  shell_->onQuit = [this] { requestQuit(false); };
  WindowRouter& router = shell_->router;
  services_->watcher->onSessionOK = [&router] { router.sessionBecameOK(); };
  services_->notificationClicked = [&router](const std::string& id) { openForNotification(router, id); };
  addActions();

  auto onSignal = [](gpointer self) -> gboolean {
    static_cast<CorvidApplication*>(self)->requestQuit(true);
    return G_SOURCE_CONTINUE;
  };
  shell_->signalSources[0] = g_unix_signal_add(SIGTERM, onSignal, this);
  shell_->signalSources[1] = g_unix_signal_add(SIGINT, onSignal, this);
}

void CorvidApplication::activate() {
  if (!shell_) return;
  if (launched_) {
    // The reopen: launching Corvid again always brings the main window.
    shell_->router.showMain();
    return;
  }
  launched_ = true;
  Watcher& watcher = *services_->watcher;
  services_->activityLog.log(launchLine(watcher));
  if (opensMainWindowAtLaunch(isSetupComplete(watcher))) shell_->router.showMain();
}

void CorvidApplication::shutdown() {
  if (shell_) {
    for (guint& source : shell_->signalSources) {
      if (source) g_source_remove(source);
      source = 0;
    }
    if (services_) services_->watcher->onSessionOK = nullptr;
    if (services_) services_->notificationClicked = nullptr;
  }
  // Windows and tray first: they borrow the Watcher's web view.
  shell_.reset();
  services_.reset();
}

void CorvidApplication::addActions() {
  struct Entry {
    const char* name;
    const GVariantType* parameter;
    void (*run)(CorvidApplication&, GVariant*);
  };
  static const Entry entries[] = {
      {"show-main", nullptr, [](CorvidApplication& a, GVariant*) { a.shell_->router.showMain(); }},
      {"show-instagram", G_VARIANT_TYPE_STRING,
       [](CorvidApplication& a, GVariant* p) {
         std::string mode = g_variant_get_string(p, nullptr);
         if (mode == "login") a.shell_->router.showInstagram(InstagramMode::login);
         if (mode == "inspect") a.shell_->router.showInstagram(InstagramMode::inspect);
       }},
      {"send-test", nullptr,
       [](CorvidApplication& a, GVariant*) { spawn(a.services_->watcher->push().sendTest()); }},
      // From the main loop: the confirmation is modal and must not hold up
      // the caller (a D-Bus call, a key press).
      {"quit", nullptr,
       [](CorvidApplication& a, GVariant*) {
         a.services_->scheduler.post([&a] {
           if (a.shell_) a.requestQuit(false);
         });
       }},
  };
  for (const Entry& e : entries) {
    GSimpleAction* action = g_simple_action_new(e.name, e.parameter);
    g_signal_connect(action, "activate",
                     G_CALLBACK(+[](GSimpleAction* act, GVariant* parameter, gpointer self) {
                       auto& app = *static_cast<CorvidApplication*>(self);
                       if (!app.shell_) return;
                       const char* name = g_action_get_name(G_ACTION(act));
                       for (const Entry& entry : entries) {
                         if (g_strcmp0(entry.name, name) == 0) entry.run(app, parameter);
                       }
                     }),
                     this);
    g_action_map_add_action(G_ACTION_MAP(app_), G_ACTION(action));
    g_object_unref(action);
  }
  const char* settingsAccels[] = {"<Control>comma", nullptr};
  const char* quitAccels[] = {"<Control>q", nullptr};
  gtk_application_set_accels_for_action(app_, "app.show-main", settingsAccels);
  gtk_application_set_accels_for_action(app_, "app.quit", quitAccels);
}

void CorvidApplication::requestQuit(bool systemQuit) {
  if (!shell_) return;
  if (shell_->quitDialog) {
    if (systemQuit) {
      // The system does not wait for an answer: close the question (as
      // "취소") and take the system's quit once it has returned.
      gtk_dialog_response(GTK_DIALOG(shell_->quitDialog), GTK_RESPONSE_CANCEL);
      services_->scheduler.post([this] { requestQuit(true); });
    } else {
      gtk_window_present(GTK_WINDOW(shell_->quitDialog));
    }
    return;
  }
  switch (shell_->quit.shouldTerminate(systemQuit)) {
    case QuitReply::terminateNow:
      terminate();
      break;
    case QuitReply::terminateCancel:
      break;
    case QuitReply::terminateLater:
      // Ask the session to wait for the stop sequence (only while the
      // session manager is ending the session does this matter).
      if (!shell_->logoutInhibit) {
        shell_->logoutInhibit = gtk_application_inhibit(app_, nullptr, GTK_APPLICATION_INHIBIT_LOGOUT,
                                                        "Telling the paired iPhones that watching stops");
      }
      break;
  }
}

bool CorvidApplication::confirmQuit() {
  GtkWindow* parent = shell_->host.visibleWindow();
  GtkWidget* dialog = gtk_message_dialog_new(
      parent, parent ? GTK_DIALOG_DESTROY_WITH_PARENT : GtkDialogFlags{}, GTK_MESSAGE_QUESTION,
      GTK_BUTTONS_NONE, "%s", std::string(kQuitAlert.message).c_str());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                           std::string(kQuitAlert.informative).c_str());
  // GTK lays the buttons out in the order they are added, the affirmative
  // one last (rightmost), as the confirmation's first, default button.
  gtk_dialog_add_button(GTK_DIALOG(dialog), std::string(kQuitAlert.cancelButton).c_str(),
                        GTK_RESPONSE_CANCEL);
  gtk_dialog_add_button(GTK_DIALOG(dialog), std::string(kQuitAlert.confirmButton).c_str(),
                        GTK_RESPONSE_ACCEPT);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  gtk_window_set_title(GTK_WINDOW(dialog), "Corvid");
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  if (!parent) gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  shell_->quitDialog = dialog;
  gtk_window_present(GTK_WINDOW(dialog));
  int answer = gtk_dialog_run(GTK_DIALOG(dialog));
  shell_->quitDialog = nullptr;
  gtk_widget_destroy(dialog);
  return answer == GTK_RESPONSE_ACCEPT;
}

void CorvidApplication::displayLost() {
  // From inside Xlib's error handler: GTK and the default main context must
  // not run again. The stopped report runs on a main context of its own,
  // within the usual limit; settings and the activity log are written as
  // they change, so the process can end right after.
  Watcher& watcher = *services_->watcher;
  if (quitStep(watcher.push().pairings().size(), true) == QuitStep::quitNow || shell_->quit.phonesTold())
    end();
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  services_->transport.moveToThreadDefaultContext();
  bool done = false;
  auto report = [](Watcher& w, bool& finished) -> Task<void> {
    co_await w.sendStoppedStatus();
    finished = true;
  };
  auto scope = spawn(report(watcher, done));
  const gint64 limit = std::chrono::duration_cast<std::chrono::microseconds>(kStoppedReportLimit).count();
  const gint64 deadline = g_get_monotonic_time() + limit;
  GSource* wake = g_timeout_source_new(static_cast<guint>(limit / 1000));
  g_source_set_callback(
      wake, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
  g_source_attach(wake, context);
  g_source_unref(wake);
  while (!done && g_get_monotonic_time() < deadline) g_main_context_iteration(context, TRUE);
  end();
}

void CorvidApplication::terminate() {
  if (shell_) shell_->host.saveFrames();
  g_application_quit(G_APPLICATION(app_));
}

}  // namespace corvid::linux_platform
