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

// Makes a folder and every missing folder above it, each for its owner
// alone (mode 0700 on the host, as the XDG base directory rules ask of a
// missing data folder). True when the folder is there afterwards.
bool MakeFolders(const std::string& folder);

// The value of a hexadecimal digit (either case), or -1 for any other
// character.
int HexDigitValue(char c);

}  // namespace modrik
