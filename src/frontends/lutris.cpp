// Lutris: one YAML file per game, <config>/games/<slug>-<time>.yml, where
// <config> is ~/.config/lutris, or ~/.local/share/lutris once the former is
// gone. A Wine game's file names its prefix (game.prefix) and its Wine
// (wine.version: a runner in <data>/runners/wine/<version>/bin/wine, or
// "system"); without one, the Wine runner's own wine.yml names it. The
// Flatpak keeps the same tree under ~/.var/app/net.lutris.Lutris.
#include <yaml-cpp/yaml.h>

#include <cctype>
#include <initializer_list>

#include "frontends/source.h"

namespace modrik::frontends {

namespace {

const char kFlatpakId[] = "net.lutris.Lutris";

// The text at a path of mapping keys, empty when any step is absent or of
// another kind. Indexing const nodes only: it never adds to the document.
std::string ScalarAt(const YAML::Node& node, const char* const* key, const char* const* end) {
  if (!node) return {};
  if (key == end) return node.IsScalar() ? node.Scalar() : std::string();
  if (!node.IsMap()) return {};
  const YAML::Node child = node[*key];
  return ScalarAt(child, key + 1, end);
}

std::string Scalar(const YAML::Node& root, std::initializer_list<const char*> keys) {
  return ScalarAt(root, keys.begin(), keys.end());
}

// The slug of a game file named <slug>-<digits>.yml.
std::string SlugOfFile(const fs::path& file) {
  const std::string stem = file.stem().string();
  const size_t dash = stem.rfind('-');
  if (dash == std::string::npos || dash == 0 || dash + 1 == stem.size()) return stem;
  for (size_t i = dash + 1; i < stem.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(stem[i]))) return stem;
  return stem.substr(0, dash);
}

void FindIn(const fs::path& configDir, const fs::path& dataDir, const std::string& install,
            const std::string& flatpakApp, std::vector<Prefix>& found) {
  std::string defaultVersion, runnerWhy;
  const fs::path runnerFile = configDir / "runners/wine.yml";
  if (std::optional<YAML::Node> runner = source::LoadYaml(runnerFile, &runnerWhy))
    defaultVersion = Scalar(*runner, {"wine", "version"});
  else if (!runnerWhy.empty())
    source::AddUnreadable({"lutris", "", "", install, flatpakApp, runnerFile, "", ""}, runnerWhy, found);
  for (const fs::path& file : source::SortedEntries(configDir / "games")) {
    if (file.extension() != ".yml") continue;
    std::string why;
    const std::optional<YAML::Node> config = source::LoadYaml(file, &why);
    if (!config) {
      if (!why.empty()) source::AddUnreadable({"lutris", SlugOfFile(file), "", install, flatpakApp, file, "", ""}, why, found);
      continue;
    }
    std::string slug = Scalar(*config, {"game_slug"});
    if (slug.empty()) slug = SlugOfFile(file);
    const std::string prefixPath = Scalar(*config, {"game", "prefix"});
    if (prefixPath.empty()) {
      const YAML::Node game = (*config)["game"];
      const YAML::Node given = game && game.IsMap() ? game["prefix"] : YAML::Node();
      const bool other = given && !given.IsNull() && !given.IsScalar();  // a list, a mapping
      source::AddUnusable({"lutris", slug, Scalar(*config, {"name"}), install, flatpakApp, file, "", ""},
                          other ? "\"prefix\" under \"game\" is not a string"
                                : "no \"prefix\" under \"game\": not a Wine game, or one in Wine's default prefix",
                          found);
      continue;
    }
    std::string version = Scalar(*config, {"wine", "version"});
    if (version.empty()) version = defaultVersion;
    const fs::path wine = version.empty() || version == "system" ? fs::path() : dataDir / "runners/wine" / version / "bin/wine";
    source::Add({"lutris", slug, Scalar(*config, {"name"}), install, flatpakApp, prefixPath, "", ""}, wine, found);
    // Its Wine is the runner's default, which cannot be read.
    if (version.empty() && !runnerWhy.empty())
      found.back().notReady = "its Wine is unknown: " + runnerFile.string() + " cannot be read: " + runnerWhy;
  }
}

// Lutris's own choice of its configuration folder.
fs::path ConfigDir(const fs::path& configHome, const fs::path& dataHome) {
  const fs::path config = configHome / "lutris";
  return source::IsDirectory(config) ? config : dataHome / "lutris";
}

}  // namespace

std::vector<Prefix> FindLutris(const Home& home) {
  std::vector<Prefix> found;
  FindIn(ConfigDir(home.configHome, home.dataHome), home.dataHome / "lutris", "native", "", found);
  const fs::path flatpak = source::FlatpakHome(home, kFlatpakId);
  FindIn(ConfigDir(flatpak / "config", flatpak / "data"), flatpak / "data/lutris", "flatpak", kFlatpakId, found);
  return found;
}

}  // namespace modrik::frontends
