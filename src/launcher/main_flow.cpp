// The main routine: desktop integration, first run, settings, player start.
#include <vector>

#include "desktop/desktop.h"
#include "launcher/launcher.h"
#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

bool UnderWine = false;
std::string SettingsPath;
std::string PlayerPath;

const char kProgramName[] = "modrik";
const char kVersionText[] = "1.3";

namespace {

const char kSettingsFileName[] = "modrik.ini";
const char kHiddenSwitch[] = "/hidden";
// The random-play option, passed to the player as a word of its own.
const char kRandomOption[] = "--random";
const char kShellVerb[] = "open";

bool IsUnixPlayer() { return !PlayerPath.empty() && PlayerPath[0] == '/'; }

// A word of the translated tail that still names a Windows drive ("X:/..."):
// the tail is translated as one path, so only its first word was converted.
bool IsWindowsDrivePath(const std::string& word) {
  return word.size() >= 3 && word[1] == ':' && word[2] == '/' &&
         ((word[0] >= 'a' && word[0] <= 'z') || (word[0] >= 'A' && word[0] <= 'Z'));
}

// Starts the player in the first matching way: hidden, on the Unix host, or
// through the Windows shell.
void StartPlayer() {
  platform::Platform& sys = platform::Sys();
  std::string tail = CommandTail();

  if (sys.LowerAnsi(tail) == kHiddenSwitch) {
    if (IsUnixPlayer()) return;
    sys.ShellStart(kShellVerb, PlayerPath, "", "", platform::kSwShowMinNoActive);
    return;
  }

  if (UnderWine && IsUnixPlayer()) {
    // The arguments the player receives, each one a single word, so that no
    // file name is ever read by the host shell as anything but text.
    std::vector<std::string> args;
    if (tail.empty()) {
      args = {kRandomOption, WindowsToUnixPath(sys.CurrentDirectory())};
    } else if (!CommandParam(1).empty() && CommandParam(1)[0] == '-') {
      args = {CommandParam(1), WindowsToUnixPath(CommandParam(2))};
    } else {
      args = SplitTranslatedTail(WindowsToUnixPath(tail));
      // Several files opened together: each later path is translated too,
      // so that every file reaches the player, not only the first.
      for (std::size_t i = 1; i < args.size(); ++i)
        if (IsWindowsDrivePath(args[i])) args[i] = WindowsToUnixPath(args[i]);
    }
    RunUnixPlayer(PlayerPath, args);
    return;
  }

  sys.ShellStart(kShellVerb, PlayerPath, tail, "", platform::kSwShow);
}

}  // namespace

std::string MessageTitle() { return std::string(kProgramName) + " " + kVersionText; }

std::string FirstRunQuestion() {
  return "This is your first time launching this program.\r\r"
         "Do you want to auto-detect VLC Media Player on your system?";
}

std::string PlayerNotFoundMessage() {
  return "VLC Media Player not found.\r\rPlease manually set the VLC filepath\rinto \"" +
         SettingsPath + "\"";
}

bool PathExists(const std::string& path) {
  std::string used = path.substr(0, 255);
  if (used.find_first_of("*?") != std::string::npos) return false;
  return platform::Sys().FileAttributesExist(used);
}

int MainRoutine() {
  platform::Platform& sys = platform::Sys();

  RegisterAsLinuxApp();
  UnderWine = IsWine() != 0;
  SettingsPath = ExecutableFolder() + kSettingsFileName;

  if (!PathExists(SettingsPath)) {
    int answer = sys.ShowMessage(FirstRunQuestion(), MessageTitle(),
                                 platform::kMbYesNo | platform::kMbIconQuestion);
    if (answer == platform::kIdYes) DetectPlayer();
    WriteSettingsTemplate();
  }

  ReadPlayerPath();

  bool found;
  if (UnderWine && IsUnixPlayer()) {
    found = UnixPathExists(PlayerPath) != 0;
  } else {
    found = PathExists(PlayerPath) && !PlayerPath.empty();
  }
  if (!found) {
    sys.ShowMessage(PlayerNotFoundMessage(), MessageTitle(),
                    platform::kMbOk | platform::kMbIconInformation);
    return 0;
  }

  StartPlayer();
  return 0;
}

}  // namespace modrik
