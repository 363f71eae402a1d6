// The front-ends' prefixes, found in fixture trees laid out as each
// front-end lays out its files; and the KeyValues reader under them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>

#include "frontends/frontends.h"

namespace {

namespace fs = std::filesystem;
using modrik::frontends::Home;
using modrik::frontends::Prefix;

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// "~" in a row stands for the fixture's home.
std::string Expand(const std::string& text, const fs::path& home) {
  std::string out;
  for (char c : text) out += c == '~' ? home.string() : std::string(1, c);
  return out;
}

struct Row {
  const char* what;
  std::map<std::string, std::string> files;  // path under the home -> content
  const char* frontend;
  const char* id;
  const char* path;  // the prefix found
  const char* wine;
  const char* install;
  const char* notReady;  // a part of the message, "" when ready
  const char* name = "";
};

const char kProtonInfo[] = "9.0-100\n~/.local/share/Steam/steamapps/common/Proton 9.0/files/share/fonts/\n";

const Row kRows[] = {
    {"Lutris: the game's runner",
     {{".config/lutris/games/quake-1690000000.yml",
       "game:\n  exe: ~/Games/quake/drive_c/q.exe\n  prefix: ~/Games/quake\nwine:\n  version: lutris-8\nname: Quake\n"},
      {".local/share/lutris/runners/wine/lutris-8/bin/wine", ""},
      {"Games/quake/system.reg", ""}},
     "lutris", "quake", "~/Games/quake", "~/.local/share/lutris/runners/wine/lutris-8/bin/wine", "native", "",
     "Quake"},
    {"Lutris Flatpak: config in its data folder, the Wine runner's default version",
     {{".var/app/net.lutris.Lutris/data/lutris/games/doom-2-1700000000.yml", "game:\n  prefix: ~/Games/doom\n"},
      {".var/app/net.lutris.Lutris/data/lutris/runners/wine.yml", "wine:\n  version: ge-9\n"},
      {".var/app/net.lutris.Lutris/data/lutris/runners/wine/ge-9/bin/wine", ""},
      {"Games/doom/system.reg", ""}},
     "lutris", "doom-2", "~/Games/doom", "~/.var/app/net.lutris.Lutris/data/lutris/runners/wine/ge-9/bin/wine",
     "flatpak", ""},
    {"Lutris: the system's Wine, a prefix not made yet",
     {{".config/lutris/games/gog-1.yml", "game_slug: thief\ngame:\n  prefix: ~/Games/thief\nwine:\n  version: system\n"}},
     "lutris", "thief", "~/Games/thief", "wine", "native", "has not been made yet"},
    {"Bottles: custom_bottles_path and a downloaded runner",
     {{".local/share/bottles/data.yml", "custom_bottles_path: ~/B\n"},
      {"B/Office/bottle.yml", "Name: Office\nArch: win64\nRunner: soda-7.0-9\nPath: Office\n"},
      {"B/Office/system.reg", ""},
      {".local/share/bottles/runners/soda-7.0-9/bin/wine", ""}},
     "bottles", "Office", "~/B/Office", "~/.local/share/bottles/runners/soda-7.0-9/bin/wine", "native", ""},
    {"Bottles Flatpak: the system's Wine runs inside the Flatpak",
     {{".var/app/com.usebottles.bottles/data/bottles/bottles/Games/bottle.yml", "Name: Games\nRunner: sys-wine-9.0\n"},
      {".var/app/com.usebottles.bottles/data/bottles/bottles/Games/system.reg", ""}},
     "bottles", "Games", "~/.var/app/com.usebottles.bottles/data/bottles/bottles/Games", "wine", "flatpak", ""},
    {"Bottles Flatpak: a Proton runner's files/ Wine, not installed",
     {{".var/app/com.usebottles.bottles/data/bottles/bottles/P/bottle.yml", "Name: P\nRunner: Proton-GE-9\n"},
      {".var/app/com.usebottles.bottles/data/bottles/bottles/P/system.reg", ""}},
     "bottles", "P", "~/.var/app/com.usebottles.bottles/data/bottles/bottles/P",
     "~/.var/app/com.usebottles.bottles/data/bottles/runners/Proton-GE-9/files/bin/wine", "flatpak", "is not installed"},
    {"Steam: a second library from libraryfolders.vdf, the Proton of config_info",
     {{".local/share/Steam/steamapps/libraryfolders.vdf",
       "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"~/.local/share/Steam\"\n\t}\n"
       "\t\"1\"\n\t{\n\t\t\"path\"\t\t\"~/lib2\"\n\t\t\"apps\" { \"620\" \"1\" }\n\t}\n}\n"},
      {"lib2/steamapps/appmanifest_620.acf", "\"AppState\"\n{\n\t\"appid\"\t\"620\"\n\t\"name\"\t\"Portal 2\"\n}\n"},
      {"lib2/steamapps/compatdata/620/config_info", kProtonInfo},
      {"lib2/steamapps/compatdata/620/pfx/system.reg", ""},
      {".local/share/Steam/steamapps/common/Proton 9.0/files/bin/wine", ""}},
     "steam", "620", "~/lib2/steamapps/compatdata/620/pfx",
     "~/.local/share/Steam/steamapps/common/Proton 9.0/files/bin/wine", "native", "", "Portal 2"},
    {"Steam Snap: the old libraryfolders form, a game never started",
     {{"snap/steam/common/.local/share/Steam/steamapps/libraryfolders.vdf",
       "\"LibraryFolders\" { \"TimeNextStatsReport\" \"1\" \"1\" \"~/old\" }"},
      {"old/steamapps/compatdata/70/version", "9.0-100\n"}},
     "steam", "70", "~/old/steamapps/compatdata/70/pfx", "", "snap", "start the game once from Steam"},
    {"Steam Flatpak: Proton's path as the Flatpak's home sees it",
     {{".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/440/config_info", kProtonInfo},
      {".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/440/pfx/system.reg", ""},
      {".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/Proton 9.0/files/bin/wine", ""}},
     "steam", "440", "~/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/440/pfx",
     "~/.local/share/Steam/steamapps/common/Proton 9.0/files/bin/wine", "flatpak", ""},
    {"Heroic: a Wine game",
     {{".config/heroic/GamesConfig/Fortnite.json",
       R"({"Fortnite": {"winePrefix": "~/Games/Heroic/Prefixes/F", "wineVersion": {"bin": "/usr/bin/wine", "type": "wine"}}, "version": "v0"})"},
      {"Games/Heroic/Prefixes/F/system.reg", ""}},
     "heroic", "Fortnite", "~/Games/Heroic/Prefixes/F", "/usr/bin/wine", "native", ""},
    {"Heroic Flatpak: a Proton game's pfx and files/bin/wine",
     {{".var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig/abc.json",
       R"({"abc": {"winePrefix": "~/P/abc", "wineVersion": {"bin": "~/GE/proton", "type": "proton"}}})"},
      {"P/abc/pfx/system.reg", ""},
      {"GE/files/bin/wine", ""}},
     "heroic", "abc", "~/P/abc/pfx", "~/GE/files/bin/wine", "flatpak", ""},
};

class FrontendsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("modrik-frontends-" + std::to_string(::getpid()));
    fs::remove_all(home_);
  }
  void TearDown() override { fs::remove_all(home_); }
  void Lay(const Row& row) {
    for (const auto& [name, content] : row.files) {
      const fs::path file = home_ / name;
      fs::create_directories(file.parent_path());
      std::ofstream(file) << Expand(content, home_);
    }
  }
  Home MakeHome() const { return {home_, home_ / ".config", home_ / ".local/share"}; }
  void ExpectRow(const Row& row, const std::vector<Prefix>& found) {
    SCOPED_TRACE(row.what);
    ASSERT_EQ(found.size(), 1u);
    const Prefix& p = found[0];
    EXPECT_EQ(p.frontend, row.frontend);
    EXPECT_EQ(p.id, row.id);
    EXPECT_EQ(p.path.string(), Expand(row.path, home_));
    EXPECT_EQ(p.wine, Expand(row.wine, home_));
    EXPECT_EQ(p.install, row.install);
    EXPECT_EQ(p.name, row.name);
    if (*row.notReady) {
      EXPECT_NE(p.notReady.find(row.notReady), std::string::npos) << p.notReady;
    } else {
      EXPECT_EQ(p.notReady, "");
    }
  }
  fs::path home_;
};

// Each layout alone gives its prefix and its Wine, and side by side with
// all the others still once; `--all` finds them all.
TEST_F(FrontendsTest, EachLayoutGivesItsPrefixAndWine) {
  for (const Row& row : kRows) {
    fs::remove_all(home_);
    Lay(row);
    EXPECT_EQ(modrik::frontends::FindAllPrefixes(MakeHome()).size(), 1u) << row.what;
  }
  for (const Row& row : kRows) Lay(row);
  for (const Row& row : kRows) ExpectRow(row, modrik::frontends::FindPrefix(MakeHome(), row.frontend, row.id));
  EXPECT_EQ(modrik::frontends::FindAllPrefixes(MakeHome()).size(), std::size(kRows));
  // Lutris by its title as well as its slug.
  EXPECT_EQ(modrik::frontends::FindPrefix(MakeHome(), "lutris", "Quake").size(), 1u);
  EXPECT_TRUE(modrik::frontends::FindPrefix(MakeHome(), "steam", "999").empty());
}

// The command line's choice: by name, all of them, each once, and a name
// that matches nothing said.
TEST_F(FrontendsTest, Selection) {
  for (const Row& row : kRows) Lay(row);
  std::vector<std::string> errors;
  const auto picked = modrik::frontends::SelectPrefixes(
      MakeHome(), {{{"steam", "620"}, {"lutris", "Quake"}, {"lutris", "quake"}, {"bottles", "Nope"}}, false}, &errors);
  ASSERT_EQ(picked.size(), 2u);
  EXPECT_EQ(modrik::frontends::Describe(picked[0]), "Steam game 620 (Portal 2)");
  EXPECT_EQ(modrik::frontends::Describe(picked[1]), "Lutris game quake (Quake)");
  EXPECT_EQ(errors, std::vector<std::string>{"no Bottles bottle Nope found"});
  errors.clear();
  EXPECT_EQ(modrik::frontends::SelectPrefixes(MakeHome(), {{{"heroic", "abc"}}, true}, &errors).size(), std::size(kRows));
  EXPECT_TRUE(errors.empty());
}

// Files that cannot be read are named with why, as prefixes that are not
// ready (by the name their file gives them), and nothing throws.
TEST_F(FrontendsTest, BrokenFilesAreNamedWithWhy) {
  Lay({"broken",
       {{".config/lutris/games/x-1.yml", "game: [unclosed\n"},
        {".config/lutris/games/y-2.yml", "game:\n  prefix: ~/Y\n"},  // its Wine is the runner's default
        {".config/lutris/runners/wine.yml", "- a list\n"},
        {".local/share/bottles/bottles/B/bottle.yml", "just text"},
        {".local/share/bottles/bottles/C/bottle.yml", std::string("Name: \0\x01", 8)},
        {".local/share/bottles/data.yml", "custom_bottles_path: ~/missing\n"},
        {".local/share/Steam/steamapps/libraryfolders.vdf", "\"libraryfolders\" { \"0\" { \"path\" "},
        {".config/heroic/GamesConfig/e.json", ""},
        {".config/heroic/GamesConfig/g.json", "{\"g\": "},
        {".config/heroic/GamesConfig/h.json", "{\"h\": {\"winePrefix\": 7}}"},
        {".config/heroic/GamesConfig/i.json", "{\"i\": 5}"},
        // Deep, large and of any shape: each named with why, the rest still read.
        {".config/lutris/games/zd-4.yml", "game: " + std::string(100000, '[') + "\n"},
        {".config/lutris/games/zk-5.yml", "game: " + Repeat("[ \"]\", ", 300)},  // quoted brackets close nothing
        {".config/lutris/games/zl-6.yml", Repeat("- ", 100000) + "x\n"},
        {".config/lutris/games/zn-7.yml", "name: Linux game\ngame:\n  exe: /usr/bin/true\n"},
        {".config/lutris/games/zp-8.yml", "game:\n  prefix: [a]\n"},
        {".local/share/bottles/bottles/E/system.reg", ""},
        {".config/heroic/GamesConfig/j.json",
         "{\"j\": {\"winePrefix\": \"~/J\", \"x\": " + Repeat("[", 254) + Repeat("]", 254) + "}}"},
        {".config/heroic/GamesConfig/k.json", "{\"k\": {\"x\": " + Repeat("[", 100000) + "}}"},
        {".config/heroic/GamesConfig/m.json", "{\"m\": {\"winePrefix\": \"~/M\", \"wineVersion\": {\"bin\": []}}}"},
        {".config/heroic/GamesConfig/n.json", "{\"n\": {}}"},
        {".config/heroic/GamesConfig/o.json", "{\"other\": {}}"}},
       "", "", "", "", "", ""});
  // What is in a file's place is looked at before a byte is read: a FIFO
  // without a writer would otherwise read as empty, or hold the command.
  ASSERT_EQ(mkfifo((home_ / ".config/lutris/games/zf-3.yml").c_str(), 0600), 0);
  fs::create_symlink("/dev/null", home_ / ".config/lutris/games/zg-3.yml");
  fs::create_symlink(home_ / "gone", home_ / ".config/lutris/games/zh-3.yml");
  fs::create_directories(home_ / ".local/share/bottles/bottles/D/bottle.yml");
  fs::create_directories(home_ / ".local/share/Steam/steamapps/compatdata/30/pfx");
  ASSERT_EQ(mkfifo((home_ / ".local/share/Steam/steamapps/compatdata/30/config_info").c_str(), 0600), 0);
  {
    std::ofstream(home_ / ".config/heroic/GamesConfig/l.json") << "{}";
    fs::resize_file(home_ / ".config/heroic/GamesConfig/l.json", modrik::frontends::kSizeLimit + 1);
    std::ofstream(home_ / ".config/lutris/games/zq-9.yml") << "game: [" << Repeat("a,", 1 << 19) << "a]\n";
  }
  const std::string deep = "nested more than 256 levels deep";
  // The front-end, the id, the path, why the file cannot be read, and
  // (when it can) why the prefix is not ready.
  const std::vector<std::array<std::string, 5>> expected = {
      {"lutris", "", "~/.config/lutris/runners/wine.yml", "not a mapping"},
      {"lutris", "x", "~/.config/lutris/games/x-1.yml", "line 2, column 1: end of sequence flow not found"},
      {"lutris", "y", "~/Y", ""},
      {"lutris", "zd", "~/.config/lutris/games/zd-4.yml", "line 1, column 263: " + deep},
      {"lutris", "zf", "~/.config/lutris/games/zf-3.yml", "not a regular file: a FIFO"},
      {"lutris", "zg", "~/.config/lutris/games/zg-3.yml", "not a regular file: a device"},
      {"lutris", "zh", "~/.config/lutris/games/zh-3.yml", "a link to a file that is not there"},
      {"lutris", "zk", "~/.config/lutris/games/zk-5.yml", "line 1, column 1799: " + deep},
      {"lutris", "zl", "~/.config/lutris/games/zl-6.yml", "line 1, column 513: " + deep},
      {"lutris", "zn", "~/.config/lutris/games/zn-7.yml", "",
       "~/.config/lutris/games/zn-7.yml: no \"prefix\" under \"game\": not a Wine game, or one in Wine's default "
       "prefix"},
      {"lutris", "zp", "~/.config/lutris/games/zp-8.yml", "",
       "~/.config/lutris/games/zp-8.yml: \"prefix\" under \"game\" is not a string"},
      {"lutris", "zq", "~/.config/lutris/games/zq-9.yml", "larger than 1 MiB: no front-end's YAML file"},
      {"bottles", "B", "~/.local/share/bottles/bottles/B/bottle.yml", "not a mapping"},
      {"bottles", "C", "~/.local/share/bottles/bottles/C/bottle.yml", "a binary file (it holds NUL bytes), not text"},
      {"bottles", "D", "~/.local/share/bottles/bottles/D/bottle.yml", "not a regular file: a folder"},
      {"bottles", "E", "~/.local/share/bottles/bottles/E/bottle.yml", "",
       "~/.local/share/bottles/bottles/E/bottle.yml: there is no such file: not a bottle, or one not made yet"},
      {"steam", "", "~/.local/share/Steam/steamapps/libraryfolders.vdf", "line 1: the key \"path\" has no value"},
      {"steam", "30", "~/.local/share/Steam/steamapps/compatdata/30/pfx", "",
       "its Proton is unknown: ~/.local/share/Steam/steamapps/compatdata/30/config_info cannot be read: not a regular "
       "file: a FIFO"},
      {"heroic", "e", "~/.config/heroic/GamesConfig/e.json", "the file is empty"},
      {"heroic", "g", "~/.config/heroic/GamesConfig/g.json",
       "byte 7: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal"},
      {"heroic", "h", "~/.config/heroic/GamesConfig/h.json", "",
       "~/.config/heroic/GamesConfig/h.json: \"winePrefix\" is a number, not a string"},
      {"heroic", "i", "~/.config/heroic/GamesConfig/i.json", "\"i\" is not an object"},
      {"heroic", "j", "~/J", "", "the prefix ~/J has not been made yet"},  // 256 levels: read
      {"heroic", "k", "~/.config/heroic/GamesConfig/k.json", deep},
      {"heroic", "l", "~/.config/heroic/GamesConfig/l.json", "larger than 16 MiB: no front-end's file"},
      {"heroic", "m", "~/M", "",
       "its Wine is unknown: ~/.config/heroic/GamesConfig/m.json: \"wineVersion.bin\" is an array, not a string"},
      {"heroic", "n", "~/.config/heroic/GamesConfig/n.json", "",
       "~/.config/heroic/GamesConfig/n.json: no \"winePrefix\": not a Windows game, or one not set up yet"},
      {"heroic", "o", "~/.config/heroic/GamesConfig/o.json", "",
       "~/.config/heroic/GamesConfig/o.json: it holds no settings of \"o\""},
  };
  const std::vector<Prefix> found = modrik::frontends::FindAllPrefixes(MakeHome());
  ASSERT_EQ(found.size(), expected.size());
  for (size_t i = 0; i < found.size(); i++) {
    const auto& [frontend, id, path, why, notReady] = expected[i];
    EXPECT_EQ(found[i].frontend + " " + found[i].id + " " + found[i].path.string() + ": " + found[i].unreadable,
              frontend + " " + id + " " + Expand(path, home_) + ": " + why);
    if (!why.empty()) {
      EXPECT_EQ(found[i].notReady, Expand(path, home_) + " cannot be read: " + why);
    }
    if (!notReady.empty()) {
      EXPECT_EQ(found[i].notReady, Expand(notReady, home_));
    }
  }
  EXPECT_EQ(found[2].notReady, "its Wine is unknown: " + Expand(expected[0][2], home_) + " cannot be read: not a mapping");
  // A name that matches no readable file is said with the files that cannot be read.
  std::vector<std::string> errors;
  EXPECT_TRUE(modrik::frontends::SelectPrefixes(MakeHome(), {{{"steam", "1"}}, false}, &errors).empty());
  const auto libraries =
      std::find_if(found.begin(), found.end(),
                   [](const Prefix& p) { return p.path.filename() == "libraryfolders.vdf"; });
  EXPECT_EQ(errors, std::vector<std::string>{"no Steam game 1 found; " + libraries->notReady});
}

// Any file read whole from a prefix or a home: only a regular file, and a
// FIFO in its place is not waited on.
TEST_F(FrontendsTest, ReadTextReadsRegularFilesOnly) {
  fs::create_directories(home_ / "folder");
  std::ofstream(home_ / "file") << "text\n";
  std::ofstream(home_ / "empty");
  ASSERT_EQ(mkfifo((home_ / "fifo").c_str(), 0600), 0);
  fs::create_symlink(home_ / "file", home_ / "link");
  const std::pair<const char*, std::optional<std::string>> rows[] = {
      {"file", "text\n"}, {"empty", ""}, {"link", "text\n"}, {"fifo", std::nullopt},
      {"folder", std::nullopt}, {"missing", std::nullopt},
  };
  for (const auto& [name, expected] : rows) EXPECT_EQ(modrik::frontends::ReadText(home_ / name), expected) << name;
  EXPECT_EQ(modrik::frontends::ReadText("/dev/zero"), std::nullopt);
}

TEST(KeyValues, ReadsValvesText) {
  const auto kv = modrik::frontends::ParseKeyValues(
      "// comment\n\"Root\"\n{\n  \"a\\\"b\" \"x\\\\y\\n\" [$WIN32]\n  bare word\n  \"Sub\" { \"k\" \"v\" }\n}\n");
  ASSERT_TRUE(kv);
  const auto* root = kv->Find("root");  // keys ignore case
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Get("A\"B"), "x\\y\n");
  EXPECT_EQ(root->Get("bare"), "word");
  EXPECT_EQ(root->Find("sub")->Get("K"), "v");
  EXPECT_EQ(root->Get("Sub"), "");  // a block has no text value
}

TEST(KeyValues, RefusesBrokenText) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"a\" {\n \"b\" \"c\"\n", "line 3: a block is not closed"},
      {"\"a\" \"b\n", "line 2: a quoted text is not closed"},
      {"\"a\"", "line 1: the key \"a\" has no value"},
      {"}", "line 1: a closing brace without its block"},
      {"{ }", "line 1: a block without its key"},
  };
  for (const auto& [text, message] : cases) {
    std::string error;
    EXPECT_FALSE(modrik::frontends::ParseKeyValues(text, &error)) << text;
    EXPECT_EQ(error, message) << text;
  }
  // 256 levels are read; a level more is refused, also 100,000 levels.
  std::string error;
  EXPECT_TRUE(modrik::frontends::ParseKeyValues(Repeat("\"k\" {", 256) + Repeat("}", 256), &error)) << error;
  for (int levels : {257, 100000}) {
    EXPECT_FALSE(modrik::frontends::ParseKeyValues(Repeat("\"k\" {\n", levels), &error));
    EXPECT_EQ(error, "line 257: blocks nested more than 256 levels deep");
  }
}

}  // namespace
