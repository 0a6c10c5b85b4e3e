// Shows a file selected in the desktop's file manager.
#pragma once

#include <filesystem>

namespace corvid::linux_platform {

// Asks the file manager over the session bus (org.freedesktop.FileManager1
// ShowItems with the file's URI) to show `file` selected. Without a file
// manager that answers, or when the file does not exist, the folder that
// holds it is opened with the default handler for folders. Returns at once;
// every step runs asynchronously on the main loop and failures are dropped.
void revealInFileManager(const std::filesystem::path& file);

}  // namespace corvid::linux_platform
