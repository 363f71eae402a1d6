// The arguments a native player receives for the launcher's command tail.
//
// The tail is split into words by the Windows rules, as the player's Windows
// build reads it. Options keep their values, as the caller wrote them; a
// long option is found as the player finds it, also abbreviated. A value
// that names a file or folder, every file, file: URL and disc address, and
// the entries of a playlist written on Windows take their Unix form; options
// that only the Windows build knows are left out. "--" ends the options: the
// words after it are files. Each argument becomes one word for the player.
// All the translations of one start share one listing of the drive links.
#include "common/common.h"
#include "launcher/launcher.h"
#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

namespace {

// The random-play option, passed to the player as a word of its own.
const char kRandomOption[] = "--random";

// A piece of an argument: text as it stands, or made from the Unix form of
// one of the start's Windows paths.
struct Piece {
  enum Kind {
    kText,
    kPath,
    kQuotedPath,  // a path translated with the caller's quotes, which then go
    kFileUrl,
    kDisc,  // a drive's device link, else its folder
    kList,  // a playlist's copy
  } kind = kText;
  std::string text;       // kText: the text; kDisc: the drive
  std::size_t index = 0;  // the Windows path, or (kList) the playlist
};
using Arg = std::vector<Piece>;

Piece Text(const std::string& text) { return {Piece::kText, text}; }

bool IsLongOption(const std::string& word) { return word.size() > 1 && word.rfind("--", 0) == 0; }
bool IsShortOption(const std::string& word) { return word.size() > 1 && word[0] == '-'; }
// ":name=value": an option of the item before it.
bool IsItemOption(const std::string& word) { return word.size() > 1 && word[0] == ':'; }

// A playlist of the start, whose copy the player gets.
struct ListCopy {
  Playlist list;
  std::string windowsPath;
  std::size_t firstPath;  // the paths of its entries follow one another
  Arg asItIs;             // what the player gets when no copy is written
};

// The arguments of one start, their Windows paths collected to be
// translated together.
struct StartArgs {
  std::string folder;  // the caller's working folder
  std::vector<std::string> paths;
  std::vector<Arg> args;
  std::vector<ListCopy> lists;
};

Piece PathPiece(StartArgs& start, const std::string& windowsPath, Piece::Kind kind = Piece::kPath) {
  start.paths.push_back(windowsPath);
  return {kind, std::string(), start.paths.size() - 1};
}

// A value that names a file or folder: a Windows path, a name in the
// working folder, or a file: URL.
Arg Location(StartArgs& start, const std::string& value) {
  const WindowsFileUrl url = ParseWindowsFileUrl(value);
  if (!url.path.empty()) return {PathPiece(start, url.path, Piece::kFileUrl), Text(url.suffix)};
  if (value == "-" || IsUrl(value)) return {Text(value)};
  if (IsWindowsPath(value)) return {PathPiece(start, value)};
  if (IsRelativeName(value)) return {PathPiece(start, InFolder(start.folder, value))};
  return {Text(value)};
}

// An option's value, after `head` ("--name=", ":name=" or nothing); `name`
// is the option's full name.
void AddOptionValue(StartArgs& start, const std::string& head, const std::string& name,
                    const std::string& value) {
  Arg arg = {Text(head)};
  if (!OptionNamesPath(name)) {
    arg.push_back(Text(value));
  } else if (name == "input-slave") {
    // A list of inputs, separated by "#".
    for (std::size_t from = 0;;) {
      const std::size_t mark = value.find('#', from);
      const Arg input =
          Location(start, value.substr(from, mark == std::string::npos ? mark : mark - from));
      arg.insert(arg.end(), input.begin(), input.end());
      if (mark == std::string::npos) break;
      arg.push_back(Text("#"));
      from = mark + 1;
    }
  } else {
    const Arg location = Location(start, value);
    arg.insert(arg.end(), location.begin(), location.end());
  }
  start.args.push_back(arg);
}

// A file, or a playlist whose copy the player gets.
Arg FileOrList(StartArgs& start, const std::string& windowsPath, Arg asItIs) {
  std::optional<Playlist> list = ReadPlaylist(windowsPath);
  if (!list) return asItIs;
  const std::size_t firstPath = start.paths.size();
  for (const PlaylistEntry& entry : list->entries) start.paths.push_back(entry.windowsPath);
  start.lists.push_back({*list, windowsPath, firstPath, asItIs});
  return {{Piece::kList, std::string(), start.lists.size() - 1}};
}

// A file, folder, URL, disc or playlist; `first` for the first of them (or
// one after "--"), `opensTail` when it is the tail's first word.
void AddItem(StartArgs& start, const TailWord& word, bool first, bool opensTail) {
  const std::string& text = word.text;
  const DiscAddress disc = ParseDiscAddress(text);
  if (!disc.scheme.empty()) {
    // The drive itself names its device; a folder on the disc, that folder.
    const bool wholeDrive = disc.path.empty() || disc.path == "\\" || disc.path == "/";
    Piece place = PathPiece(start, disc.drive + (wholeDrive ? "\\" : disc.path));
    if (wholeDrive) {
      place.kind = Piece::kDisc;
      place.text = disc.drive;
    }
    start.args.push_back({Text(disc.scheme), place, Text(disc.suffix)});
    return;
  }
  const WindowsFileUrl url = ParseWindowsFileUrl(text);
  if (!url.path.empty()) {
    start.args.push_back(FileOrList(
        start, url.path, {PathPiece(start, url.path, Piece::kFileUrl), Text(url.suffix)}));
    return;
  }
  if (IsUrl(text) || text.empty()) {
    start.args.push_back({Text(text)});
    return;
  }
  // The first file: a relative name is taken in the working folder, anything
  // else is translated as the caller wrote it; a tail that is one quoted
  // path is translated with its quotes, which reaches the file through its
  // drive's link. A later word: a Windows path in any spelling, or the
  // relative name of something in the working folder, is a file; anything
  // else is passed as it is.
  std::string path;
  Piece::Kind kind = Piece::kPath;
  if (first && IsRelativeName(text)) {
    path = InFolder(start.folder, text);
  } else if (first) {
    path = text;
    if (opensTail && word.source == "\"" + text + "\"") kind = Piece::kQuotedPath;
  } else if (IsWindowsPath(text)) {
    path = text;
  } else if (IsRelativeName(text) && PathExists(InFolder(start.folder, text))) {
    path = InFolder(start.folder, text);
  } else {
    start.args.push_back({Text(text)});
    return;
  }
  const Arg asItIs = {kind == Piece::kQuotedPath ? PathPiece(start, word.source, kind)
                                                 : PathPiece(start, path)};
  start.args.push_back(FileOrList(start, path, asItIs));
}

std::string Render(const StartArgs& start, const Arg& arg,
                   const std::vector<std::string>& unixPaths) {
  std::string out;
  for (const Piece& piece : arg) {
    switch (piece.kind) {
      case Piece::kText:
        out += piece.text;
        break;
      case Piece::kPath:
        out += unixPaths[piece.index];
        break;
      case Piece::kQuotedPath: {
        std::string path = unixPaths[piece.index];
        std::erase(path, '"');
        out += path;
        break;
      }
      case Piece::kFileUrl: {
        // A share the host has not mounted is the player's smb: URL already.
        const std::string& path = unixPaths[piece.index];
        out += !path.empty() && path[0] != '/' ? path : FileUrlOf(path);
        break;
      }
      case Piece::kDisc: {
        const std::string device = DeviceLinkTarget(piece.text[0]);
        out += device.empty() ? unixPaths[piece.index] : device;
        break;
      }
      case Piece::kList: {
        const ListCopy& copy = start.lists[piece.index];
        const std::vector<std::string> entries(
            unixPaths.begin() + copy.firstPath,
            unixPaths.begin() + copy.firstPath + copy.list.entries.size());
        const std::string written =
            WritePlaylistCopy(copy.list, copy.windowsPath, PlaylistCopyBytes(copy.list, entries));
        out += written.empty() ? Render(start, copy.asItIs, unixPaths) : written;
        break;
      }
    }
  }
  return out;
}

std::vector<std::string> Resolve(const StartArgs& start) {
  const std::vector<std::string> unixPaths = WindowsToUnixPaths(start.paths);
  std::vector<std::string> result;
  for (const Arg& arg : start.args) result.push_back(Render(start, arg, unixPaths));
  return result;
}

}  // namespace

std::vector<std::string> UnixPlayerArguments(const std::string& tail,
                                             const std::string& currentDirectory) {
  StartArgs start;
  start.folder = currentDirectory;
  if (tail.empty()) {
    start.args = {{Text(kRandomOption)}, {PathPiece(start, currentDirectory)}};
    return Resolve(start);
  }
  const std::vector<TailWord> words = SplitTailWords(tail);
  bool firstItem = true, optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i].text;
    const bool valueFollows = i + 1 < words.size();
    if (word == "--" && !optionsEnded) {
      // The words after it are files, whatever they begin with.
      start.args.push_back({Text(word)});
      optionsEnded = true;
    } else if (IsLongOption(word) && !optionsEnded) {
      // --name, --name=value, or --name followed by its value.
      const std::size_t equals = word.find('=');
      const LongOption option =
          FindLongOption(word.substr(2, equals == std::string::npos ? equals : equals - 2));
      const bool separateValue = equals == std::string::npos && option.takesValue && valueFollows;
      if (option.kind == LongOption::kWindowsOnly) {
        platform::Sys().Trace("left out " + word + (separateValue ? " " + words[i + 1].text : "") +
                              ": only the player's Windows build knows it");
        if (separateValue) ++i;
      } else if (option.kind != LongOption::kPlayer) {
        // The player refuses it, as it stands.
        if (option.kind == LongOption::kAmbiguous)
          platform::Sys().Trace(word + " names several of the player's options");
        start.args.push_back({Text(word)});
      } else if (equals != std::string::npos) {
        AddOptionValue(start, word.substr(0, equals + 1), option.name, word.substr(equals + 1));
      } else {
        start.args.push_back({Text(word)});
        if (separateValue) AddOptionValue(start, "", option.name, words[++i].text);
      }
    } else if (IsShortOption(word) && !optionsEnded) {
      // -x, or letters run together (-fZ): the first letter that takes a
      // value takes the rest of the word, or the next word.
      start.args.push_back({Text(word)});
      for (std::size_t k = 1; k < word.size(); ++k) {
        if (!LetterTakesValue(word[k])) continue;
        if (k + 1 == word.size() && valueFollows) start.args.push_back({Text(words[++i].text)});
        break;
      }
    } else if (IsItemOption(word) && word.find('=') != std::string::npos) {
      const std::size_t equals = word.find('=');
      AddOptionValue(start, word.substr(0, equals + 1), word.substr(1, equals - 1),
                     word.substr(equals + 1));
    } else if (word == "-" || IsItemOption(word)) {
      start.args.push_back({Text(word)});  // standard input; a switch for the item before
    } else {
      AddItem(start, words[i], firstItem || optionsEnded, i == 0);
      firstItem = false;
    }
  }
  return Resolve(start);
}

}  // namespace modrik
