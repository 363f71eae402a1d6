// Bottles: <data>/bottles/bottles/<bottle>/bottle.yml, or the folder that
// data.yml's custom_bottles_path names when it exists. A bottle's Runner is
// a folder of <data>/bottles/runners (bin/wine; files/ or dist/ first for a
// Proton runner), a path, or "sys-…" for the system's Wine. The Flatpak
// keeps its data in ~/.var/app/com.usebottles.bottles/data.
#include <yaml-cpp/yaml.h>

#include "frontends/source.h"

namespace modrik::frontends {

namespace {

const char kFlatpakId[] = "com.usebottles.bottles";

std::string Scalar(const YAML::Node& map, const char* key) {
  const YAML::Node node = map[key];
  return node && node.IsScalar() ? node.Scalar() : std::string();
}

// The Wine of a runner, as Bottles itself resolves it.
fs::path RunnerWine(const fs::path& runners, const std::string& runner) {
  if (runner.rfind("sys-", 0) == 0) return {};
  const fs::path dir = runner.front() == '/' ? fs::path(runner) : runners / runner;
  if (runner.rfind("Proton", 0) == 0 || runner.rfind("proton", 0) == 0) return source::ProtonFolderWine(dir);
  return dir / "bin/wine";
}

void FindIn(const fs::path& base, const std::string& install, const std::string& flatpakApp,
            std::vector<Prefix>& found) {
  fs::path bottles = base / "bottles";
  std::string why;
  if (std::optional<YAML::Node> data = source::LoadYaml(base / "data.yml", &why)) {
    const std::string custom = Scalar(*data, "custom_bottles_path");
    if (!custom.empty() && source::IsDirectory(custom)) bottles = custom;
  } else if (!why.empty()) {
    // Its custom_bottles_path is unknown: the bottles there are not seen.
    source::AddUnreadable({"bottles", "", "", install, flatpakApp, base / "data.yml", "", ""}, why, found);
  }
  for (const fs::path& dir : source::SortedEntries(bottles)) {
    const Prefix bottle = {"bottles", dir.filename().string(), "", install, flatpakApp, dir / "bottle.yml", "", ""};
    const std::optional<YAML::Node> config = source::LoadYaml(bottle.path, &why);
    if (!config && !why.empty()) {
      source::AddUnreadable(bottle, why, found);
    } else if (!config && source::IsDirectory(dir)) {
      source::AddUnusable(bottle, "there is no such file: not a bottle, or one not made yet", found);
    }
    if (!config) continue;
    if (Scalar(*config, "Environment") == "Steam") continue;  // Steam's own prefixes, listed with Steam
    // Known by its name; by its folder's when it has none.
    std::string id = Scalar(*config, "Name");
    if (id.empty()) id = dir.filename().string();
    const std::string runner = Scalar(*config, "Runner");
    if (runner.empty()) {
      found.push_back({"bottles", id, "", install, flatpakApp, dir, "wine", "the bottle names no runner"});
      continue;
    }
    source::Add({"bottles", id, "", install, flatpakApp, dir, "", ""}, RunnerWine(base / "runners", runner), found);
  }
}

}  // namespace

std::vector<Prefix> FindBottles(const Home& home) {
  std::vector<Prefix> found;
  FindIn(home.dataHome / "bottles", "native", "", found);
  FindIn(source::FlatpakHome(home, kFlatpakId) / "data/bottles", "flatpak", kFlatpakId, found);
  return found;
}

}  // namespace modrik::frontends
