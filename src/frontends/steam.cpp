// Steam: every library that <root>/steamapps/libraryfolders.vdf lists (and
// the root itself), for each Steam root: the native ~/.local/share/Steam
// (also reached as ~/.steam/steam), the Flatpak's under
// ~/.var/app/com.valvesoftware.Steam and the Snap's under ~/snap/steam. A
// game's Proton prefix is <library>/steamapps/compatdata/<appid>/pfx, made
// by Proton on the game's first run; Proton then writes config_info there,
// whose second line is its share/fonts/ folder, beside bin/wine. The title
// comes from the library's appmanifest_<appid>.acf.
#include <set>
#include <sstream>
#include <system_error>

#include "frontends/source.h"

namespace modrik::frontends {

namespace {

const char kFlatpakId[] = "com.valvesoftware.Steam";

struct Root {
  fs::path path;
  std::string install;
  std::string flatpakApp;
  fs::path insideHome;  // the home as the Flatpak's Steam sees it, when it sees another
};

// A KeyValues file with its top block `top`; nothing, with *why as for
// ReadFile, or the reader's line and cause, or the block missing.
std::optional<KeyValues> LoadVdf(const fs::path& file, const char* top, std::string* why) {
  const std::optional<std::string> text = source::ReadFile(file, why);
  if (!text) return std::nullopt;
  std::optional<KeyValues> vdf = ParseKeyValues(*text, why);
  if (vdf && !vdf->Find(top)) *why = std::string("it has no \"") + top + "\" block";
  return vdf && why->empty() ? vdf : std::nullopt;
}

// The libraries of a root: the root, then each path the file lists, in
// both the current ("0" { "path" "…" }) and the old ("1" "…") form.
std::vector<fs::path> Libraries(const fs::path& root, std::string* why) {
  std::vector<fs::path> libraries = {root};
  const std::optional<KeyValues> vdf = LoadVdf(root / "steamapps/libraryfolders.vdf", "libraryfolders", why);
  if (!vdf) return libraries;
  for (const KeyValues& entry : vdf->Find("libraryfolders")->children) {
    if (entry.key.empty() || entry.key.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string path = entry.block ? entry.Get("path") : entry.value;
    if (!path.empty()) libraries.push_back(path);
  }
  return libraries;
}

// Where the host sees a path that the Flatpak's Steam wrote: its home is
// ~/.var/app/com.valvesoftware.Steam.
fs::path HostPath(const Root& root, const Home& home, const std::string& written) {
  if (root.insideHome.empty()) return written;
  const std::string prefix = home.home.string() + "/";
  if (written.rfind(prefix, 0) == 0 && !source::IsFile(written) && !source::IsDirectory(written))
    return root.insideHome / written.substr(prefix.size());
  return written;
}

// The Wine of the Proton that last ran the prefix, from config_info; ""
// with *why set when that cannot be read.
std::string ProtonWine(const fs::path& compatdata, std::string* why) {
  const std::optional<std::string> info = source::ReadFile(compatdata / "config_info", why);
  if (!info) return {};
  std::istringstream lines(*info);
  std::string version, fonts;
  std::getline(lines, version);
  std::getline(lines, fonts);
  const std::string tail = "share/fonts/";
  if (fonts.size() <= tail.size() || fonts.compare(fonts.size() - tail.size(), tail.size(), tail) != 0) return {};
  return fonts.substr(0, fonts.size() - tail.size()) + "bin/wine";
}

}  // namespace

std::vector<Prefix> FindSteam(const Home& home) {
  const fs::path flatpak = source::FlatpakHome(home, kFlatpakId);
  const std::vector<Root> roots = {
      {home.dataHome / "Steam", "native", "", {}},
      {home.home / ".steam/steam", "native", "", {}},
      {home.home / ".steam/root", "native", "", {}},
      {flatpak / ".local/share/Steam", "flatpak", kFlatpakId, flatpak},
      {flatpak / "data/Steam", "flatpak", kFlatpakId, flatpak},
      {home.home / "snap/steam/common/.local/share/Steam", "snap", "", {}},
  };
  std::vector<Prefix> found;
  std::set<fs::path> seen;  // a library (or a file) reached through several roots or links is listed once
  // A file that cannot be read, once: a prefix that is not ready, of Steam's own.
  auto unreadable = [&](const Root& root, const fs::path& file, const std::string& why) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(file, ec);
    if (seen.insert(ec ? file : canonical).second)
      source::AddUnreadable({"steam", "", "", root.install, root.flatpakApp, file, "", ""}, why, found);
  };
  for (const Root& root : roots) {
    if (!source::IsDirectory(root.path / "steamapps")) continue;
    std::string why;
    const std::vector<fs::path> libraries = Libraries(root.path, &why);
    if (!why.empty()) unreadable(root, root.path / "steamapps/libraryfolders.vdf", why);
    for (const fs::path& listed : libraries) {
      const fs::path library = HostPath(root, home, listed.string());
      std::error_code ec;
      const fs::path canonical = fs::weakly_canonical(library, ec);
      if (!seen.insert(ec ? library : canonical).second) continue;
      for (const fs::path& compatdata : source::SortedEntries(library / "steamapps/compatdata")) {
        const std::string appid = compatdata.filename().string();
        if (appid.empty() || appid.find_first_not_of("0123456789") != std::string::npos || appid == "0") continue;
        Prefix prefix;
        prefix.frontend = "steam";
        prefix.id = appid;
        prefix.install = root.install;
        prefix.flatpakApp = root.flatpakApp;
        prefix.path = compatdata / "pfx";
        // Only the title comes from the manifest: the prefix does without it.
        const fs::path manifestFile = library / "steamapps" / ("appmanifest_" + appid + ".acf");
        if (std::optional<KeyValues> manifest = LoadVdf(manifestFile, "AppState", &why))
          prefix.name = manifest->Find("AppState")->Get("name");
        else if (!why.empty())
          unreadable(root, manifestFile, why);
        prefix.wine = ProtonWine(compatdata, &why);
        if (!why.empty()) {
          prefix.notReady =
              "its Proton is unknown: " + (compatdata / "config_info").string() + " cannot be read: " + why;
        } else if (prefix.wine.empty() || !source::IsFile(prefix.path / "system.reg")) {
          prefix.notReady = "Proton has not made this prefix yet: start the game once from Steam";
        } else {
          source::CheckReady(prefix, HostPath(root, home, prefix.wine));
        }
        found.push_back(std::move(prefix));
      }
    }
  }
  return found;
}

}  // namespace modrik::frontends
