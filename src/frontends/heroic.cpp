// Heroic: one JSON file per game, <config>/heroic/GamesConfig/<app>.json,
// holding {"<app>": {"winePrefix": …, "wineVersion": {"bin", "type"}}}. A
// Proton game's prefix is winePrefix/pfx and its Wine is dist/ or files/
// bin/wine beside the proton script that "bin" names. The Flatpak keeps it
// under ~/.var/app/com.heroicgameslauncher.hgl/config.
#include <nlohmann/json.hpp>

#include "frontends/source.h"

namespace modrik::frontends {

namespace {

const char kFlatpakId[] = "com.heroicgameslauncher.hgl";

std::string Text(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return {};
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

void FindIn(const fs::path& gamesConfig, const std::string& install, const std::string& flatpakApp,
            std::vector<Prefix>& found) {
  for (const fs::path& file : source::SortedEntries(gamesConfig)) {
    if (file.extension() != ".json") continue;
    const std::string app = file.stem().string();
    const std::optional<std::string> text = ReadText(file);
    if (!text) continue;
    const nlohmann::json config = nlohmann::json::parse(*text, nullptr, false);
    if (config.is_discarded() || !config.is_object() || !config.contains(app)) continue;
    const nlohmann::json& settings = config[app];
    const std::string winePrefix = Text(settings, "winePrefix");
    if (winePrefix.empty()) continue;  // a native game
    const nlohmann::json wineVersion = settings.is_object() && settings.contains("wineVersion")
                                           ? settings["wineVersion"]
                                           : nlohmann::json::object();
    const std::string bin = Text(wineVersion, "bin");
    fs::path path = winePrefix, wine = bin;
    if (Text(wineVersion, "type") == "proton") {
      path /= "pfx";
      wine = source::ProtonFolderWine(fs::path(bin).parent_path());
    }
    source::Add({"heroic", app, "", install, flatpakApp, path, "", ""}, wine, found);
  }
}

}  // namespace

std::vector<Prefix> FindHeroic(const Home& home) {
  std::vector<Prefix> found;
  FindIn(home.configHome / "heroic/GamesConfig", "native", "", found);
  FindIn(source::FlatpakHome(home, kFlatpakId) / "config/heroic/GamesConfig", "flatpak", kFlatpakId, found);
  return found;
}

}  // namespace modrik::frontends
