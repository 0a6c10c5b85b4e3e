// Revealing a file: the file manager on the session bus (a stand-in on a
// private bus here) is asked to show it selected.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/linux/gtk/file_reveal.h"
#include "platform_glib/test_support.h"

using namespace corvid::testing;

TEST(FileReveal, AsksTheFileManagerToShowTheFileSelected) {
  PrivateBus bus;
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);  // before anything here used the session bus
  BusStub fileManager(
      bus.address(), "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
      "<node><interface name='org.freedesktop.FileManager1'><method name='ShowItems'>"
      "<arg type='as' direction='in'/><arg type='s' direction='in'/></method></interface></node>");
  TempDir dir("corvid-reveal");
  std::filesystem::create_directories(dir / "a folder");
  std::ofstream(dir / "a folder" / "watch.log") << "app: launched\n";

  corvid::linux_platform::revealInFileManager(dir / "a folder" / "watch.log");
  ASSERT_TRUE(spinUntil([&] { return !fileManager.calls().empty(); }));
  gchar* uri = g_filename_to_uri((dir / "a folder" / "watch.log").c_str(), nullptr, nullptr);
  EXPECT_EQ(fileManager.calls()[0].args, "(['" + std::string(uri) + "'], '')");  // the space as %20
  g_free(uri);
}
