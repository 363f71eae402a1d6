// The arguments a native player receives for the launcher's command tail.
//
// A caller hands over Windows paths (quoted or not), relative names, player
// options and locations the player reaches by itself (URLs). Each argument
// becomes one word for the player: Windows paths are translated into Unix
// paths, everything else reaches the player as the caller wrote it. All the
// translations of one start share one listing of the drive links.
#include <cctype>

#include "common/common.h"
#include "launcher/launcher.h"
#include "winebridge/winebridge.h"

namespace modrik {

namespace {

// The random-play option, passed to the player as a word of its own.
const char kRandomOption[] = "--random";

// One argument on its way to the player: a Windows path still to be
// translated, or a word passed as it is.
struct PendingArg {
  std::string text;
  bool windowsPath = false;
  bool dropQuotes = false;  // the translated text keeps the caller's quotes
};

bool IsOption(const std::string& word) { return !word.empty() && word[0] == '-'; }

// "X:\..." or "X:/...".
bool IsDrivePath(const std::string& word) {
  return word.size() >= 3 && std::isalpha(static_cast<unsigned char>(word[0])) &&
         word[1] == ':' && (word[2] == '\\' || word[2] == '/');
}

// "scheme://...": a location the player opens by itself.
bool IsUrl(const std::string& word) {
  const std::size_t mark = word.find("://");
  if (mark == std::string::npos || mark < 2 || !std::isalpha(static_cast<unsigned char>(word[0])))
    return false;
  for (std::size_t i = 1; i < mark; ++i) {
    const unsigned char c = word[i];
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// A name taken in the working folder, as Windows takes it: no drive, no
// network share, not an option. A name rooted with a slash is on the
// working folder's drive.
bool IsRelativeName(const std::string& word) {
  return !word.empty() && !IsOption(word) && word.find(':') == std::string::npos &&
         word.rfind("\\\\", 0) != 0 && word.rfind("//", 0) != 0;
}

std::string InFolder(const std::string& folder, const std::string& name) {
  if (name[0] == '\\' || name[0] == '/')
    return folder.size() >= 2 && folder[1] == ':' ? folder.substr(0, 2) + name : name;
  const bool separated = folder.empty() || folder.back() == '\\' || folder.back() == '/';
  return folder + (separated ? "" : "\\") + name;
}

// The first file of a tail (or the one after a leading option): a relative
// name is taken in the working folder, anything else is translated as the
// caller wrote it.
PendingArg FirstFile(const std::string& text, const std::string& source,
                     const std::string& folder) {
  if (IsUrl(text)) return {text};
  if (IsRelativeName(text)) return {InFolder(folder, text), true};
  return {source, true, source != text};
}

// Any later word: a drive path, or the relative name of something that
// exists in the working folder, is a file; anything else is passed as it is.
PendingArg LaterWord(const std::string& text, const std::string& folder) {
  if (IsDrivePath(text)) return {text, true};
  if (IsRelativeName(text) && PathExists(InFolder(folder, text)))
    return {InFolder(folder, text), true};
  return {text};
}

std::vector<std::string> Resolve(const std::vector<PendingArg>& pending) {
  std::vector<std::string> windowsPaths;
  for (const PendingArg& arg : pending)
    if (arg.windowsPath) windowsPaths.push_back(arg.text);
  const std::vector<std::string> unixPaths = WindowsToUnixPaths(windowsPaths);
  std::vector<std::string> args;
  std::size_t next = 0;
  for (const PendingArg& arg : pending) {
    if (!arg.windowsPath) {
      args.push_back(arg.text);
      continue;
    }
    std::string path = unixPaths[next++];
    if (arg.dropQuotes) std::erase(path, '"');
    args.push_back(path);
  }
  return args;
}

}  // namespace

std::vector<std::string> UnixPlayerArguments(const std::string& tail,
                                             const std::string& currentDirectory) {
  std::vector<PendingArg> pending;
  if (tail.empty()) {
    pending = {{kRandomOption}, {currentDirectory, true}};
  } else if (IsOption(CommandParamOf(tail, 1))) {
    // Options first: the player's own option, then a second option or the
    // file, then every later word on its own.
    const std::vector<std::string> params = CommandParamsOf(tail);
    const std::string second = params.size() > 1 ? params[1] : std::string();
    pending.push_back({params[0]});
    pending.push_back(IsOption(second) ? PendingArg{second}
                                       : FirstFile(second, second, currentDirectory));
    for (std::size_t i = 2; i < params.size(); ++i)
      pending.push_back(LaterWord(params[i], currentDirectory));
  } else {
    const std::vector<TailWord> words = SplitTailWords(tail);
    for (std::size_t i = 0; i < words.size(); ++i)
      pending.push_back(i == 0 ? FirstFile(words[0].text, words[0].source, currentDirectory)
                               : LaterWord(words[i].text, currentDirectory));
  }
  return Resolve(pending);
}

}  // namespace modrik
