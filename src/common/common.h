// Small helpers shared by the launcher and the desktop integration.
#pragma once

#include <string>

namespace modrik {

// True when the file system reports attributes for the path (file or
// folder). A path with "*" or "?" is never asked about; only its first 255
// characters are used.
bool PathExists(const std::string& path);

// The folder of the running executable, with its trailing backslash.
std::string ExecutableFolder();

}  // namespace modrik
