// The Wine prefixes that the game front-ends keep, found on the host the way
// each front-end itself finds them: Lutris game configs, Bottles' bottles,
// Steam's Proton prefixes and Heroic's game settings, in their native,
// Flatpak and (for Steam) Snap data folders. Host-side code of the `modrik`
// command; nothing here runs inside Wine.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace modrik::frontends {

namespace fs = std::filesystem;

// Where a front-end's files are looked for. From the environment by
// default; tests give a fixture tree instead.
struct Home {
  fs::path home;        // $HOME
  fs::path configHome;  // $XDG_CONFIG_HOME, else ~/.config
  fs::path dataHome;    // $XDG_DATA_HOME, else ~/.local/share
  static Home FromEnvironment();
};

// One prefix of a front-end, and the Wine that runs it.
struct Prefix {
  std::string frontend;  // "lutris", "bottles", "steam", "heroic"
  std::string id;        // the slug, bottle name, app id or app name
  std::string name;      // the front-end's own title, when it has one
  std::string install;   // "native", "flatpak" or "snap": which copy of the front-end
  std::string flatpakApp;  // the Flatpak's id when the front-end is one
  fs::path path;         // the prefix: the folder that holds system.reg (the front-end's file, when
                         // that cannot be read or names no usable prefix)
  std::string wine;      // the Wine program that runs it ("wine" for the system's), as
                         // the front-end sees it (inside its Flatpak for a Flatpak's)
  // Empty when the prefix can be worked on; else why not, for the user.
  std::string notReady;
  // Why the front-end's file `path` cannot be read (its parser's line and
  // column, "not a mapping", the system's reason); "" when it was read. Such
  // a file is listed as a prefix that is not ready: by the name its file
  // gives it (a Lutris slug, a bottle's folder, a Heroic app), or with no id
  // for a file of the front-end's own (Bottles' data.yml, Steam's
  // libraryfolders.vdf).
  std::string unreadable = {};
};

// Every prefix of one front-end, in a stable order.
std::vector<Prefix> FindLutris(const Home& home);
std::vector<Prefix> FindBottles(const Home& home);
std::vector<Prefix> FindSteam(const Home& home);
std::vector<Prefix> FindHeroic(const Home& home);

// The front-ends by name, in the order `--all` and `list` use.
const std::vector<std::string>& FrontendNames();
std::vector<Prefix> FindPrefixes(const Home& home, const std::string& frontend);
std::vector<Prefix> FindAllPrefixes(const Home& home);

// The prefixes of `frontend` whose id (or title) is `id`: more than one when
// several copies of the front-end (native and Flatpak) have it.
std::vector<Prefix> FindPrefix(const Home& home, const std::string& frontend, const std::string& id);

// What `--lutris SLUG`, `--bottle NAME`, `--steam APPID`, `--heroic APP`
// (each as often as wanted) and `--all` ask for.
struct Selection {
  std::vector<std::pair<std::string, std::string>> wanted;  // front-end, id
  bool all = false;
};
// The prefixes selected, in the order asked (all of them for `all`), each
// once; a name that matches nothing adds a message to *errors, naming the
// front-end's files that cannot be read.
std::vector<Prefix> SelectPrefixes(const Home& home, const Selection& selection, std::vector<std::string>* errors);
// The user's words for a front-end's prefix: "Lutris game quake".
std::string Describe(const Prefix& prefix);

// ---- readers shared by the front-ends --------------------------------------

// The bounds of every reader of a front-end's files: a front-end's file is a
// few kilobytes and nests a few levels; more is refused with why.
constexpr int kNestingLimit = 256;
constexpr std::size_t kSizeLimit = 16 << 20;
constexpr std::size_t kYamlSizeLimit = 1 << 20;  // YAML files: their parser needs far more memory

// Valve's KeyValues text (libraryfolders.vdf, appmanifest_*.acf): a tree of
// quoted keys, each with a quoted value or a braced block.
struct KeyValues {
  std::string key;
  std::string value;
  std::vector<KeyValues> children;
  bool block = false;
  // The first child whose key matches, ignoring case as Steam does.
  const KeyValues* Find(const std::string& childKey) const;
  std::string Get(const std::string& childKey) const;
};

// Parses a whole file's text. Returns nothing and sets `error` (line and
// cause) when the text is no KeyValues.
std::optional<KeyValues> ParseKeyValues(const std::string& text, std::string* error = nullptr);

// A whole regular file's bytes, or nothing when it cannot be read, is no
// regular file (a FIFO is not waited on) or is larger than kTextLimit (a
// prefix's system.reg is a few MiB).
constexpr std::size_t kTextLimit = 256u << 20;
std::optional<std::string> ReadText(const fs::path& file);

}  // namespace modrik::frontends
