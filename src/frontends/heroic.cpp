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

// A game's settings file: the object under its app name; nothing, with
// *why set when the file cannot be read (the parser's byte and cause), or
// empty when it holds no settings of the game.
std::optional<nlohmann::json> LoadSettings(const fs::path& file, const std::string& app, std::string* why) {
  const std::optional<std::string> text = source::ReadFile(file, why);
  if (!text) return std::nullopt;
  nlohmann::json config;
  try {
    config = nlohmann::json::parse(*text);
  } catch (const nlohmann::json::parse_error& e) {
    // what() is "[json.exception.parse_error.101] parse error at …: CAUSE".
    const std::string what = e.what();
    const size_t at = what.find(": ", what.find("parse error"));
    *why = "byte " + std::to_string(e.byte) + ": " + (at == std::string::npos ? what : what.substr(at + 2));
    return std::nullopt;
  }
  if (!config.is_object()) {
    *why = "not an object";
  } else if (config.contains(app) && !config[app].is_object()) {
    *why = "\"" + app + "\" is not an object";
  } else if (config.contains(app)) {
    return config[app];
  }
  return std::nullopt;
}

void FindIn(const fs::path& gamesConfig, const std::string& install, const std::string& flatpakApp,
            std::vector<Prefix>& found) {
  for (const fs::path& file : source::SortedEntries(gamesConfig)) {
    if (file.extension() != ".json") continue;
    const std::string app = file.stem().string();
    std::string why;
    const std::optional<nlohmann::json> settings = LoadSettings(file, app, &why);
    if (!settings) {
      if (!why.empty()) source::AddUnreadable({"heroic", app, "", install, flatpakApp, file, "", ""}, why, found);
      continue;
    }
    const std::string winePrefix = Text(*settings, "winePrefix");
    if (winePrefix.empty()) continue;  // a native game
    const nlohmann::json wineVersion =
        settings->contains("wineVersion") ? (*settings)["wineVersion"] : nlohmann::json::object();
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
