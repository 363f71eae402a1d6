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

// A game's settings file: the object under its app name, null when it has
// none; nothing, with *why set, when the file cannot be read (the parser's
// byte and cause, or not of the shape Heroic writes).
std::optional<nlohmann::json> LoadSettings(const fs::path& file, const std::string& app, std::string* why) {
  std::optional<nlohmann::json> config = source::LoadJson(file, why);
  if (!config) return std::nullopt;
  const auto settings = config->is_object() ? config->find(app) : config->end();
  if (!config->is_object()) {
    *why = "not an object";
  } else if (settings != config->end() && !settings->is_object()) {
    *why = "\"" + app + "\" is not an object";
  } else {
    return settings != config->end() ? std::move(*settings) : nlohmann::json();
  }
  return std::nullopt;
}

// A value's kind, for the user: "a number", "an array".
std::string KindOf(const nlohmann::json& value) {
  const std::string name = value.type_name();
  return (name == "array" || name == "object" ? "an " : "a ") + name;
}

// The text of a setting; "" when it is not there. Another kind of value
// (a number, a list) sets *why, naming the setting by its `path`.
std::string Text(const nlohmann::json& object, const char* key, const std::string& path, std::string* why) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return {};
  if (it->is_string()) return it->get<std::string>();
  if (why->empty()) *why = "\"" + path + "\" is " + KindOf(*it) + ", not a string";
  return {};
}

void FindIn(const fs::path& gamesConfig, const std::string& install, const std::string& flatpakApp,
            std::vector<Prefix>& found) {
  for (const fs::path& file : source::SortedEntries(gamesConfig)) {
    if (file.extension() != ".json") continue;
    const std::string app = file.stem().string();
    const Prefix game = {"heroic", app, "", install, flatpakApp, file, "", ""};
    std::string why;
    const std::optional<nlohmann::json> settings = LoadSettings(file, app, &why);
    if (!settings) {
      if (!why.empty()) source::AddUnreadable(game, why, found);  // else gone since the folder was read
      continue;
    }
    if (settings->is_null()) {
      source::AddUnusable(game, "it holds no settings of \"" + app + "\"", found);
      continue;
    }
    const std::string winePrefix = Text(*settings, "winePrefix", "winePrefix", &why);
    if (!why.empty()) {
      source::AddUnusable(game, why, found);
      continue;
    }
    if (winePrefix.empty()) {
      source::AddUnusable(game, "no \"winePrefix\": not a Windows game, or one not set up yet", found);
      continue;
    }
    const auto version = settings->find("wineVersion");
    const bool versioned = version != settings->end() && version->is_object();
    if (version != settings->end() && !version->is_null() && !versioned)
      why = "\"wineVersion\" is " + KindOf(*version) + ", not an object";
    const std::string bin = versioned ? Text(*version, "bin", "wineVersion.bin", &why) : "";
    const std::string type = versioned ? Text(*version, "type", "wineVersion.type", &why) : "";
    fs::path path = winePrefix, wine = bin;
    if (type == "proton") {
      path /= "pfx";
      wine = source::ProtonFolderWine(fs::path(bin).parent_path());
    }
    source::Add({"heroic", app, "", install, flatpakApp, path, "", ""}, wine, found);
    if (!why.empty()) found.back().notReady = "its Wine is unknown: " + file.string() + ": " + why;
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
