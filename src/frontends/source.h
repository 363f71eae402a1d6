// What the readers of the front-ends' files share.
#pragma once

#include <nlohmann/json.hpp>
#include <yaml-cpp/yaml.h>

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

// A front-end's file: its bytes, or nothing, with *why empty when it is not
// there and else saying why it cannot be read (the system's reason, "not a
// regular file: a FIFO" and the like, empty, binary, larger than
// kSizeLimit).
std::optional<std::string> ReadFile(const fs::path& file, std::string* why);
// A YAML file whose top is a mapping; nothing, with *why as for ReadFile, or
// the parser's line and column and cause (also for a collection nested
// deeper than kNestingLimit), or "not a mapping".
std::optional<YAML::Node> LoadYaml(const fs::path& file, std::string* why);
// A JSON file; nothing, with *why as for ReadFile, or the parser's byte and
// cause, or "nested more than 256 levels deep".
std::optional<nlohmann::json> LoadJson(const fs::path& file, std::string* why);
// Adds a front-end's file that cannot be read (prefix.path), with why, as a
// prefix that is not ready.
void AddUnreadable(Prefix prefix, const std::string& why, std::vector<Prefix>& found);

// Adds a front-end's game (or bottle) whose file (prefix.path) gives no
// prefix that can be worked on, with why, as a prefix that is not ready:
// no game is left out without a word.
void AddUnusable(Prefix prefix, const std::string& why, std::vector<Prefix>& found);

bool IsFile(const fs::path& path);
bool IsDirectory(const fs::path& path);

// The entries of a folder, sorted by name; none when it cannot be read.
std::vector<fs::path> SortedEntries(const fs::path& folder);

}  // namespace modrik::frontends::source
