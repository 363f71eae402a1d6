// What the readers of the front-ends' files share.
#pragma once

#include "frontends/frontends.h"

namespace modrik::frontends::source {

// Where a Flatpak keeps an app's own files on the host: ~/.var/app/<id>.
fs::path FlatpakHome(const Home& home, const std::string& appId);

// Marks the prefix not ready when it has no registry yet, or when its Wine
// is not there. `wineHostPath` is where the host sees the Wine program
// (empty for the system's "wine").
void CheckReady(Prefix& prefix, const fs::path& wineHostPath);
// Gives the prefix its Wine (the system's "wine" for an empty path), checks
// it is ready and adds it to `found`.
void Add(Prefix prefix, const fs::path& wine, std::vector<Prefix>& found);

// The Wine of a Proton folder (the one holding the `proton` script):
// dist/bin/wine in older builds, files/bin/wine in newer ones.
fs::path ProtonFolderWine(const fs::path& proton);

bool IsFile(const fs::path& path);
bool IsDirectory(const fs::path& path);

// The entries of a folder, sorted by name; none when it cannot be read.
std::vector<fs::path> SortedEntries(const fs::path& folder);

}  // namespace modrik::frontends::source
