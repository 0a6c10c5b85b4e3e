// Corvid's GTK application: the single-instance entry point that builds
// every platform service and the Watcher, and runs the main loop.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

namespace corvid::linux_platform {

struct AppServices;

// The watched service's web origin: "https://www.instagram.com", or the
// value of CORVID_SERVICE_ORIGIN (tests and local test pages) without a
// trailing slash.
std::string serviceOrigin();

class CorvidApplication {
 public:
  CorvidApplication();
  ~CorvidApplication();
  CorvidApplication(const CorvidApplication&) = delete;
  CorvidApplication& operator=(const CorvidApplication&) = delete;

  // Runs the application; a second start hands over to the running one.
  int run(int argc, char** argv);

  static constexpr const char* kApplicationId = "io.github.corvid.Corvid";

 private:
  static void onStartup(GApplication* app, gpointer self);
  static void onActivate(GApplication* app, gpointer self);
  static void onShutdown(GApplication* app, gpointer self);
  void startup();
  void activate();

  GtkApplication* app_ = nullptr;
  std::unique_ptr<AppServices> services_;
  bool launched_ = false;
};

}  // namespace corvid::linux_platform
