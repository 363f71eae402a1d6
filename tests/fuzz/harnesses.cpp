// Fuzz harnesses of the program's parsers and rules, against the scripted
// platform of the unit tests. Each program runs the function that
// MODRIK_FUZZ_HARNESS names (cmake/fuzz.cmake); a rule broken traps.
// Inputs that hold several texts separate them with NUL bytes.
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "fake_platform.h"
#include "frontends/frontends.h"
#include "launcher/launcher.h"
#include "platform/utf8.h"
#include "sandbox/sandbox.h"
#include "winebridge/host/host_scripts.h"
#include "winebridge/winebridge.h"

#define CHECK(condition) \
  if (!(condition)) __builtin_trap()

using namespace modrik;
using Words = std::vector<std::string>;

namespace {

// The text up to the first NUL byte, and the text after it.
std::pair<std::string, std::string> Cut(const std::string& data) {
  const std::size_t nul = std::min(data.find('\0'), data.size());
  return {data.substr(0, nul), data.substr(std::min(nul + 1, data.size()))};
}

}  // namespace

namespace harness {

void command_line(const std::string& data) {
  const std::string tail = CommandTailOf(data);
  CHECK(data.size() >= tail.size() && data.compare(data.size() - tail.size(), tail.size(), tail) == 0);
  CommandParamsOf(tail);
  std::size_t at = 0;  // each word stands in the tail, in order
  for (const TailWord& word : SplitTailWords(tail)) {
    at = tail.find(word.source, at);
    CHECK(at != std::string::npos && !word.source.empty());
    at += word.source.size();
  }
}

void options(const std::string& data) {
  const LongOption option = FindLongOption(data);
  const bool found = option.kind == LongOption::kPlayer || option.kind == LongOption::kWindowsOnly;
  CHECK(found == !option.name.empty());
  // The full name an abbreviation stands for names that same option.
  if (found) CHECK(FindLongOption(option.name).name == option.name);
  OptionNamesPath(data);
  LetterTakesValue(data.empty() ? 0 : data[0]);
}

void locations(const std::string& data) {
  ParseWindowsFileUrl(data);
  ParseDiscAddress(data);
  IsUrl(data);
  IsWindowsPath(data);
  if (IsRelativeName(data)) InFolder("C:\\Apps", data);
  CHECK(PercentDecoded(FileUrlOf(data).substr(7)) == data);
}

void playlists(const std::string& data) {
  fake::FakePlatform sys;
  for (const char* name : {"C:\\a.m3u", "C:\\a.m3u8", "C:\\a.pls", "C:\\a.xspf"}) {
    sys.AddFile(name, data);
    const std::optional<Playlist> list = ReadPlaylist(name);
    if (!list) continue;
    Words paths;
    for (const PlaylistEntry& entry : list->entries) {
      CHECK(entry.at + entry.length <= list->text.size());
      paths.push_back(entry.windowsPath);
    }
    PlaylistCopyBytes(*list, WindowsToUnixPaths(paths));
  }
}

void settings(const std::string& data) {
  fake::FakePlatform sys;
  sys.AddFile("C:\\Apps\\modrik.ini", data);
  SettingsPath = "C:\\Apps\\modrik.ini";
  ReadPlayerPath();
  GetIniNumber("modrik.ini", "modrik", "vlcpath");
  IniTextToNumber(data);
}

// The path; Wine's host name for any path; the listing of the drive links.
void paths(const std::string& data) {
  struct Answering : fake::FakePlatform {
    std::string answer;
    std::string WineUnixFileName(const std::string&) override { return answer; }
  } sys;
  const auto [path, rest] = Cut(data);
  std::string listing;
  std::tie(sys.answer, listing) = Cut(rest);
  DriveLinks = DriveLinksOf(listing);
  DriveMap = ParseDriveListing(listing);
  DriveMapLoaded = true;
  const std::string unixPath = WindowsToUnixPath(path);
  CHECK(platform::IsValidUtf8(unixPath) || !platform::IsValidUtf8(data));
  UnixToWindowsPath(path);
  NtPathToUnixPath(path);
  UnixPathExists(path);
  if (!path.empty()) DeviceLinkTarget(path[0]);
}

void host_answers(const std::string& data) {
  ParseDriveListing(data);
  PlayerFromWhereis(data);
  RecordedStatus(data);
  Words refusals;
  ChoosePrivateFolder("/run/user/1000", "/home/guest/.cache", data, &refusals);
}

// /.flatpak-info; /run/host/container-manager; a path; NAME=value variables
// (WINEHOMEDIR gives the home).
void sandbox(const std::string& data) {
  fake::FakePlatform sys;
  auto [info, rest] = Cut(data);
  auto [manager, more] = Cut(rest);
  auto [path, variables] = Cut(more);
  if (!info.empty()) sys.AddFile("\\\\?\\unix\\.flatpak-info", info);
  sys.AddFile("\\\\?\\unix\\run\\host\\container-manager", manager);
  for (std::string variable; !variables.empty();) {
    std::tie(variable, variables) = Cut(variables);
    const std::size_t equals = std::min(variable.find('='), variable.size());
    sys.environment[variable.substr(0, equals)] = variable.substr(std::min(equals + 1, variable.size()));
  }
  const Sandbox box = DecideSandbox(ReadSandboxFacts(UnixHomeFolder()));
  std::string why;
  CHECK(!HostPathOf(box, path, &why).empty() || !why.empty() || path.empty());
  HostWorkingFolder(box, path);
  SharedPrivatePlaces(box, {"/run/user/1000", "/home/guest/.cache"});
  HostCommand(box, {"/usr/bin/vlc", path});
  PlanOpener(box, {"--fullscreen", path});
}

void keyvalues(const std::string& data) {
  std::string error;
  const std::optional<frontends::KeyValues> values = frontends::ParseKeyValues(data, &error);
  // A refusal names its line and its cause.
  CHECK(values || (error.rfind("line ", 0) == 0 && error.find(": ") + 2 < error.size()));
  if (values) values->Get("libraryfolders");
}

// The same bytes in every file that a front-end's prefixes are read from,
// in a home made in $TMPDIR (scripts/fuzz.sh gives one in build-fuzz/).
void frontends(const std::string& data) {
  namespace fs = std::filesystem;
  static const fs::path home = [] {
    std::string folder = fs::temp_directory_path() / "modrik-fuzz-XXXXXX";
    CHECK(mkdtemp(folder.data()));
    return fs::path(folder);
  }();
  for (const char* file :
       {".config/lutris/games/quake-1.yml", ".config/lutris/runners/wine.yml", ".local/share/bottles/data.yml",
        ".local/share/bottles/bottles/b/bottle.yml", ".config/heroic/GamesConfig/app.json",
        ".local/share/Steam/steamapps/libraryfolders.vdf", ".local/share/Steam/steamapps/appmanifest_10.acf",
        ".local/share/Steam/steamapps/compatdata/10/config_info"}) {
    const fs::path path = home / file;
    fs::create_directories(path.parent_path());
    fs::remove(path);  // (a file cut short and written again is flushed on close)
    std::ofstream(path, std::ios::binary) << data;
  }
  // Each game's file gives one entry, whatever it holds: a prefix, or why
  // there is none; a file that cannot be read says why.
  std::size_t lutris = 0, heroic = 0, steam = 0;
  for (const frontends::Prefix& p : frontends::FindAllPrefixes({home, home / ".config", home / ".local/share"})) {
    CHECK(p.unreadable.empty() || p.notReady.find(p.unreadable) != std::string::npos);
    lutris += p.frontend == "lutris" && p.path != home / ".config/lutris/runners/wine.yml";
    heroic += p.frontend == "heroic";
    steam += p.frontend == "steam" && p.id == "10";
  }
  CHECK(lutris == 1 && heroic == 1 && steam == 1);
}

// What holds for any command tail: each word reaches the player's arguments
// or is traced as left out; the arguments are UTF-8; and the host command
// that runs the player, read by the shell, gives the player and exactly
// these arguments.
void player_args(const std::string& tail) {
  if (!platform::IsValidUtf8(tail) || tail.find('\0') != std::string::npos) return;  // no command tail
  fake::FakePlatform sys;
  sys.AddFile("C:\\Apps\\a.mkv", "");
  sys.AddFile("C:\\Apps\\a.m3u", "a.mkv\r\nD:\\b.mkv\r\n");
  DriveLinks = {{"d:", "/media/d"}, {"e::", "/dev/sr0"}};
  DriveMap = {"d:/media/d"};
  DriveMapLoaded = true;
  PrivateFolder = "/run/user/1000/modrik";
  const Words args = UnixPlayerArguments(tail, "C:\\Apps");
  const std::vector<TailWord> words = SplitTailWords(tail);
  std::size_t leftOut = 0;
  for (const std::string& line : sys.traces) {
    if (line.rfind("left out ", 0) != 0) continue;
    const std::string named = line.substr(9, line.rfind(": only the player's Windows build") - 9);
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (words[i].text == named) leftOut += 1;
      else if (i + 1 < words.size() && words[i].text + " " + words[i + 1].text == named) leftOut += 2;
      else continue;
      break;
    }
  }
  CHECK(args.size() + leftOut == (tail.empty() ? 2 : words.size()));
  Words argv = {"/usr/bin/vlc"};
  argv.insert(argv.end(), args.begin(), args.end());
  for (const std::string& arg : argv) CHECK(platform::IsValidUtf8(arg));
  NativeStart start;
  start.folder = *PrivateFolder;
  start.name = "0123456789abcdef";
  const std::string command = NativePlayerCommand(argv[0], args, start);
  const std::size_t from = command.find("\nset -- ") + 8;
  // (The player's words end where the host side's text begins: a quote
  // right after "b=" is none of a quoted word's.)
  const std::size_t to = command.find("\nb='P=$1 d=$2 ", from);
  CHECK(from > 8 && to != std::string::npos && to >= from && platform::IsValidUtf8(command));
  CHECK(ShellWords(command.substr(from, to - from)) == argv);
}

}  // namespace harness

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  harness::MODRIK_FUZZ_HARNESS(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
