#include "platform/linux/gtk/file_reveal.h"

#include <gio/gio.h>

#include <string>

namespace corvid::linux_platform {

namespace {

constexpr const char* kFileManagerName = "org.freedesktop.FileManager1";
constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";
// Long enough for a file manager that D-Bus starts on demand.
constexpr int kCallTimeoutMs = 10000;

void openFolder(const std::filesystem::path& folder) {
  if (!g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR)) return;
  gchar* uri = g_filename_to_uri(folder.c_str(), nullptr, nullptr);
  if (!uri) return;
  g_app_info_launch_default_for_uri_async(uri, nullptr, nullptr, nullptr, nullptr);
  g_free(uri);
}

struct Request {
  std::filesystem::path file;
  std::string uri;
};

void showItemsDone(GObject* source, GAsyncResult* result, gpointer data) {
  auto* request = static_cast<Request*>(data);
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (reply) {
    g_variant_unref(reply);
  } else {
    g_error_free(error);
    openFolder(request->file.parent_path());
  }
  delete request;
}

void busReady(GObject*, GAsyncResult* result, gpointer data) {
  auto* request = static_cast<Request*>(data);
  GDBusConnection* bus = g_bus_get_finish(result, nullptr);
  if (!bus) {
    openFolder(request->file.parent_path());
    delete request;
    return;
  }
  GVariantBuilder uris;
  g_variant_builder_init(&uris, G_VARIANT_TYPE("as"));
  g_variant_builder_add(&uris, "s", request->uri.c_str());
  g_dbus_connection_call(bus, kFileManagerName, kFileManagerPath, kFileManagerName, "ShowItems",
                         g_variant_new("(ass)", &uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                         nullptr, showItemsDone, request);
  g_object_unref(bus);
}

}  // namespace

void revealInFileManager(const std::filesystem::path& file) {
  if (!g_file_test(file.c_str(), G_FILE_TEST_EXISTS)) {
    openFolder(file.parent_path());
    return;
  }
  gchar* uri = g_filename_to_uri(file.c_str(), nullptr, nullptr);
  if (!uri) return;
  auto* request = new Request{file, uri};
  g_free(uri);
  g_bus_get(G_BUS_TYPE_SESSION, nullptr, busReady, request);
}

}  // namespace corvid::linux_platform
