// The front-ends together: the home they are looked for in, the Wine
// command of a prefix, and the lookups by front-end and id.
#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "frontends/frontends.h"
#include "frontends/source.h"

namespace modrik::frontends {

Home Home::FromEnvironment() {
  Home h;
  const char* home = std::getenv("HOME");
  h.home = home && *home ? fs::path(home) : fs::path("/");
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* data = std::getenv("XDG_DATA_HOME");
  // An XDG variable that is not an absolute path is invalid and ignored.
  h.configHome = config && *config == '/' ? fs::path(config) : h.home / ".config";
  h.dataHome = data && *data == '/' ? fs::path(data) : h.home / ".local/share";
  return h;
}

const std::vector<std::string>& FrontendNames() {
  static const std::vector<std::string> names = {"lutris", "bottles", "steam", "heroic"};
  return names;
}

std::vector<Prefix> FindPrefixes(const Home& home, const std::string& frontend) {
  if (frontend == "lutris") return FindLutris(home);
  if (frontend == "bottles") return FindBottles(home);
  if (frontend == "steam") return FindSteam(home);
  if (frontend == "heroic") return FindHeroic(home);
  return {};
}

std::vector<Prefix> FindAllPrefixes(const Home& home) {
  std::vector<Prefix> all;
  for (const std::string& name : FrontendNames()) {
    std::vector<Prefix> found = FindPrefixes(home, name);
    all.insert(all.end(), found.begin(), found.end());
  }
  return all;
}

std::vector<Prefix> FindPrefix(const Home& home, const std::string& frontend, const std::string& id) {
  std::vector<Prefix> matches;
  for (Prefix& prefix : FindPrefixes(home, frontend))
    if (prefix.id == id || (!prefix.name.empty() && prefix.name == id)) matches.push_back(std::move(prefix));
  return matches;
}

std::string Describe(const Prefix& prefix) {
  static const std::pair<const char*, const char*> kinds[] = {
      {"lutris", "Lutris game"}, {"bottles", "Bottles bottle"}, {"steam", "Steam game"}, {"heroic", "Heroic game"}};
  std::string kind = prefix.frontend;
  for (const auto& [name, words] : kinds)
    if (prefix.frontend == name) kind = words;
  // A file of the front-end's own is the front-end's: "Steam".
  std::string text = prefix.id.empty() ? kind.substr(0, kind.find(' ')) : kind + " " + prefix.id;
  if (!prefix.name.empty() && prefix.name != prefix.id) text += " (" + prefix.name + ")";
  if (prefix.install != "native") text += " [" + prefix.install + "]";
  return text;
}

std::vector<Prefix> SelectPrefixes(const Home& home, const Selection& selection, std::vector<std::string>* errors) {
  std::vector<Prefix> selected = selection.all ? FindAllPrefixes(home) : std::vector<Prefix>();
  for (const auto& [frontend, id] : selection.wanted) {
    std::vector<Prefix> found, unreadable;
    for (Prefix& prefix : FindPrefixes(home, frontend)) {
      if (!prefix.unreadable.empty()) unreadable.push_back(prefix);
      if (prefix.id == id || (!prefix.name.empty() && prefix.name == id)) found.push_back(std::move(prefix));
    }
    if (found.empty() && errors) {
      // The game may be in a file that cannot be read: each is named.
      std::string error = "no " + Describe(Prefix{frontend, id, "", "native", "", {}, "", ""}) + " found";
      for (const Prefix& p : unreadable) error += "; " + p.notReady;
      errors->push_back(error);
    }
    for (Prefix& prefix : found) {
      const bool twice = std::any_of(selected.begin(), selected.end(), [&](const Prefix& p) { return p.path == prefix.path; });
      if (!twice) selected.push_back(std::move(prefix));
    }
  }
  return selected;
}

namespace source {

fs::path FlatpakHome(const Home& home, const std::string& appId) { return home.home / ".var/app" / appId; }

fs::path ProtonFolderWine(const fs::path& proton) {
  return (IsDirectory(proton / "dist") ? proton / "dist" : proton / "files") / "bin/wine";
}

bool IsFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

std::vector<fs::path> SortedEntries(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    entries.push_back(it->path());
  std::sort(entries.begin(), entries.end());
  return entries;
}

void AddUnreadable(Prefix prefix, const std::string& why, std::vector<Prefix>& found) {
  prefix.unreadable = why;
  prefix.notReady = prefix.path.string() + " cannot be read: " + why;
  found.push_back(std::move(prefix));
}

void AddUnusable(Prefix prefix, const std::string& why, std::vector<Prefix>& found) {
  prefix.notReady = prefix.path.string() + ": " + why;
  found.push_back(std::move(prefix));
}

void CheckReady(Prefix& prefix, const fs::path& wineHostPath) {
  if (!IsFile(prefix.path / "system.reg")) {
    prefix.notReady = "the prefix " + prefix.path.string() + " has not been made yet";
  } else if (!wineHostPath.empty() && !IsFile(wineHostPath)) {
    prefix.notReady = "its Wine " + wineHostPath.string() + " is not installed";
  }
}

void Add(Prefix prefix, const fs::path& wine, std::vector<Prefix>& found) {
  prefix.wine = wine.empty() ? "wine" : wine.string();
  CheckReady(prefix, wine);
  found.push_back(std::move(prefix));
}

}  // namespace source

}  // namespace modrik::frontends
