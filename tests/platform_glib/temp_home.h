// A private HOME and XDG folders for the whole test binary, set before
// main() runs, i.e. before GLib reads and caches them. Removed at exit.
#pragma once

#include <filesystem>

namespace corvid::testing {

// The root folder holding home/, config/, data/, cache/ and state/.
const std::filesystem::path& tempRoot();

// A fresh empty folder under the root, for one test.
std::filesystem::path freshFolder(const char* name);

// Gives the owner full access again under `p` (tests that make folders
// read-only), then removes it.
void removeTree(const std::filesystem::path& p);

}  // namespace corvid::testing
