// What the player's options are: which take a value, which name a file or
// folder, which a playlist may set, and which only the player's Windows
// build knows; and which of them a long option as a caller writes it names.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "launcher/launcher.h"

namespace modrik {

namespace {

// The long names of the player's options, as its command-line parser holds
// them: those that take a value, and the switches (each also as "noNAME" and
// "no-NAME"). A name two of the player's modules define is there twice. And
// the letters of the one-letter options that take a value; the options the
// player takes from a playlist (those its modules mark safe); the long
// option each one-letter option stands for.
struct LetterOption {
  char letter;
  const char* name;
};
#include "launcher/player_value_options.inc"
#include "launcher/player_option_tables.inc"

// The options whose value names a file or a folder, each as the player's
// full help (`vlc -H`) describes it. Sorted.
const char* const kPathOptions[] = {
    "audiofile-file",        // "File to which the audio samples will be written to"
    "config",                // "use alternate config file"
    "demuxdump-file",        // "Name of the file to which the raw stream will be dumped."
    "input-record-path",     // "Directory where the records will be stored"
    "input-slave",           // "Use a '#' separated list of inputs."
    "input-timeshift-path",  // "Directory used to store the timeshift temporary files."
    "logfile",               // "Specify the log filename."
    "marq-file",             // "File to read the marquee text from."
    "scene-path",            // "Directory path where images files should be saved."
    "skins2-last",           // "Path to the skin to use."
    "snapshot-path",         // "Directory where the video snapshots will be stored."
    "sub-file",              // "Load this subtitle file."
    "vlm-conf",              // "Read a VLM configuration file as soon as VLM is started."
};

// Options that the player's Windows build accepts and the native player
// refuses: given one, the native player says "unknown option" and exits
// before playing (measured with Debian's VLC 3.0.24). Sorted.
struct WindowsOnlyOption {
  const char* name;
  bool takesValue;
};
const WindowsOnlyOption kWindowsOnlyOptions[] = {
    {"dummy-quiet", false},             // dummy interface: no DOS command box
    {"high-priority", false},           // "Increase the priority of the process"
    {"no-crashdump", false},            // the Windows launcher's own: no crash report
    {"qt-disable-volume-keys", false},  // Qt interface: ignore the keyboard's volume keys
    {"qt-updates-days", true},          // Qt interface: days between update checks
    {"qt-updates-notif", false},        // Qt interface: notify of updates
    {"rc-quiet", false},                // rc interface: no DOS command box
};

bool Less(const char* a, const char* b) { return std::strcmp(a, b) < 0; }

bool InSorted(const char* const* begin, const char* const* end, const std::string& name) {
  return std::binary_search(begin, end, name.c_str(), Less);
}

// The entries of a parser's table that a long option as written matches:
// every entry it begins (exactly one, or one it equals, names the option).
struct Matches {
  std::size_t count = 0;
  bool exact = false;
  LongOption found;  // the entry it equals, else the first it begins

  // The entries `head` + NAME, for the names of a sorted table.
  void Add(const std::string& written, const std::string& head, const char* const* begin,
           const char* const* end, bool takesValue) {
    if (written.size() < head.size() ? head.rfind(written, 0) != 0 : written.rfind(head, 0) != 0)
      return;
    const std::string rest = written.size() < head.size() ? "" : written.substr(head.size());
    const char* const* from = std::lower_bound(begin, end, rest.c_str(), Less);
    for (const char* const* name = from;
         name != end && std::strncmp(*name, rest.c_str(), rest.size()) == 0; ++name) {
      const bool same = written == head + *name;
      if (!exact && (count == 0 || same)) found = {LongOption::kPlayer, head + *name, takesValue, !head.empty()};
      exact = exact || same;
      ++count;
    }
  }
  // The result when these are the entries of a parser that finds `kind`.
  LongOption Result(LongOption::Kind kind) const {
    if (!exact && count != 1)
      return {count == 0 ? LongOption::kUnknown : LongOption::kAmbiguous, "", false};
    LongOption option = found;
    option.kind = kind;
    return option;
  }
};

}  // namespace

LongOption FindLongOption(const std::string& written) {
  // As the player's parser finds it: the name itself, else the one name it
  // begins; more than one is an error.
  Matches player;
  player.Add(written, "", std::begin(kValueOptions), std::end(kValueOptions), true);
  for (const char* head : {"", "no", "no-"})
    player.Add(written, head, std::begin(kSwitches), std::end(kSwitches), false);
  if (player.count != 0) return player.Result(LongOption::kPlayer);
  // Else as the Windows build would find one of its own options.
  Matches windows;
  for (const WindowsOnlyOption& option : kWindowsOnlyOptions) {
    const char* const name[] = {option.name};
    windows.Add(written, "", std::begin(name), std::end(name), option.takesValue);
    if (option.takesValue) continue;
    windows.Add(written, "no", std::begin(name), std::end(name), false);
    windows.Add(written, "no-", std::begin(name), std::end(name), false);
  }
  return windows.Result(LongOption::kWindowsOnly);
}

bool LetterTakesValue(char letter) {
  return letter != '\0' && std::strchr(kValueLetters, letter) != nullptr;
}

bool OptionNamesPath(const std::string& name) {
  return InSorted(std::begin(kPathOptions), std::end(kPathOptions), name);
}

bool OptionSafeInPlaylist(const std::string& name) {
  return InSorted(std::begin(kSafeOptions), std::end(kSafeOptions), name);
}

std::string LetterOptionName(char letter) {
  for (const LetterOption& option : kLetterOptions)
    if (option.letter == letter) return option.name;
  return std::string();
}

}  // namespace modrik
