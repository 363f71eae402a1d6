// Playlists written on Windows: an .m3u, .m3u8, .pls or .xspf file whose
// entries name Windows paths (drive paths, names relative to the list,
// file: URLs with a drive letter) means nothing to a native player as it
// stands. The player gets a copy instead, in the user's private folder, with
// each such entry in its Unix form and everything else as it was: the
// list's name, encoding and line ends, comments, and entries that are URLs.
// The original is never touched.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "winebridge/winebridge.h"

namespace modrik {

namespace {

// A list larger than this is passed as it stands.
constexpr std::size_t kMaxListBytes = 16 * 1024 * 1024;
const char kUtf8Mark[] = "\xEF\xBB\xBF";
const char kUtf16LeMark[] = "\xFF\xFE";

std::string LowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Extension(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  return LowerAscii(path.substr(dot));
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The text between `from` and `to` without blanks at either end.
void Trim(const std::string& text, std::size_t* from, std::size_t* to) {
  while (*from < *to && IsBlank(text[*from])) ++*from;
  while (*to > *from && IsBlank(text[*to - 1])) --*to;
}

// The five named entities and the character references of XML.
std::string XmlUnescaped(const std::string& text) {
  static const std::pair<const char*, char> kNamed[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool done = false;
    for (const auto& [name, c] : kNamed) {
      if (text.compare(i, std::string(name).size(), name) != 0) continue;
      out += c;
      i += std::string(name).size() - 1;
      done = true;
      break;
    }
    if (done) continue;
    // A character reference is short: its end is looked for among the next
    // few characters only.
    const std::size_t end = text.compare(i, 2, "&#") == 0 ? std::string_view(text).substr(i, 12).find(';')
                                                           : std::string::npos;
    if (end != std::string::npos) {
      const std::size_t semicolon = i + end;
      const bool hex = text[i + 2] == 'x' || text[i + 2] == 'X';
      const std::size_t digits = i + (hex ? 3 : 2);
      const unsigned long code =
          std::strtoul(text.substr(digits, semicolon - digits).c_str(), nullptr, hex ? 16 : 10);
      // A character's number: not 0, not a UTF-16 surrogate, not beyond
      // Unicode; anything else stays as it is written.
      if (code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
        out += platform::Utf8OfCodePoint(static_cast<char32_t>(code));
        i = semicolon;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// The Windows path an entry names, in any spelling (a drive path, a network
// path, a name relative to the list in `listFolder`); empty for an entry that
// is not a Windows path (a URL, a Unix path).
PlaylistEntry EntryOf(const std::string& value, const std::string& listFolder, bool uriReference) {
  PlaylistEntry entry;
  const WindowsFileUrl url = ParseWindowsFileUrl(value);
  if (!url.path.empty()) {
    entry.windowsPath = url.path;
    entry.suffix = url.suffix;
    entry.asUrl = true;
    return entry;
  }
  if (IsWindowsPath(value)) {
    entry.windowsPath = value;
  } else if (IsRelativeName(value) && value[0] != '/') {
    entry.windowsPath = InFolder(listFolder, uriReference ? PercentDecoded(value) : value);
  }
  entry.asUrl = uriReference;
  return entry;
}

void AddEntry(Playlist* list, const std::string& text, std::size_t from, std::size_t to,
              bool uriReference) {
  Trim(text, &from, &to);
  if (from == to) return;
  const std::string value = text.substr(from, to - from);
  PlaylistEntry entry =
      EntryOf(uriReference ? XmlUnescaped(value) : value, list->folder, uriReference);
  if (entry.windowsPath.empty()) return;
  entry.at = from;
  entry.length = to - from;
  list->entries.push_back(entry);
}

// Where the entry of a line starts, or npos for a line without one; the
// line runs from `from` (its first character that is not a blank) to `end`.
using EntryStart = std::size_t (*)(const std::string& text, std::size_t from, std::size_t end);

// .m3u and .m3u8: the line is the entry; lines starting with "#" are
// comments and directives.
std::size_t M3uEntry(const std::string& text, std::size_t from, std::size_t) {
  return text[from] == '#' ? std::string::npos : from;
}

// .pls: the entries are the values of the keys File1, File2, ...
std::size_t PlsEntry(const std::string& text, std::size_t from, std::size_t end) {
  const std::size_t equals = std::string_view(text).substr(0, end).find('=', from);
  if (equals >= end || equals <= from + 4 || LowerAscii(text.substr(from, 4)) != "file")
    return std::string::npos;
  for (std::size_t i = from + 4; i < equals; ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::string::npos;
  return equals + 1;
}

void FindLineEntries(Playlist* list, EntryStart entryStart) {
  const std::string& text = list->text;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::size_t from = start;
    while (from < end && IsBlank(text[from])) ++from;
    const std::size_t at = from < end ? entryStart(text, from, end) : std::string::npos;
    if (at != std::string::npos) AddEntry(list, text, at, end, false);
    start = end + 1;
  }
}

// .xspf: the entries are the <location> elements, URI references.
void FindXspfEntries(Playlist* list) {
  const std::string& text = list->text;
  const std::string open = "<location>", close = "</location>";
  for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
    const std::size_t from = at + open.size(), to = text.find(close, from);
    if (to == std::string::npos) break;
    AddEntry(list, text, from, to, true);
    at = to + close.size();
  }
}

// The folder of the copies of one list: named after the list's path, so a
// list played again replaces its own copy and two lists of one name do not
// meet.
std::string CopyFolderName(const std::string& windowsPath) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : platform::Sys().LowerCase(windowsPath)) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char name[22];
  std::snprintf(name, sizeof(name), "list-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace

bool IsPlaylistName(const std::string& path) {
  const std::string extension = Extension(path);
  return extension == ".m3u" || extension == ".m3u8" || extension == ".pls" || extension == ".xspf";
}

std::optional<Playlist> ReadPlaylist(const std::string& windowsPath) {
  auto& sys = platform::Sys();
  std::string bytes;
  if (!IsPlaylistName(windowsPath) || !sys.ReadWholeFile(windowsPath, kMaxListBytes, &bytes))
    return std::nullopt;
  Playlist list;
  const std::size_t slash = windowsPath.find_last_of("\\/");
  list.folder = slash == std::string::npos ? std::string() : windowsPath.substr(0, slash);
  list.name = windowsPath.substr(slash == std::string::npos ? 0 : slash + 1);
  if (bytes.rfind(kUtf8Mark, 0) == 0) {
    list.encoding = PlaylistEncoding::kUtf8WithMark;
    list.text = bytes.substr(3);
  } else if (bytes.rfind(kUtf16LeMark, 0) == 0) {
    list.encoding = PlaylistEncoding::kUtf16Le;
    list.text = sys.DecodeText(bytes.substr(2), platform::TextEncoding::kUtf16Le);
  } else if (platform::IsValidUtf8(bytes)) {
    list.encoding = PlaylistEncoding::kUtf8;
    list.text = bytes;
  } else {
    list.encoding = PlaylistEncoding::kAnsi;
    list.text = sys.DecodeText(bytes, platform::TextEncoding::kAnsi);
  }
  const std::string extension = Extension(windowsPath);
  if (extension == ".xspf")
    FindXspfEntries(&list);
  else
    FindLineEntries(&list, extension == ".pls" ? PlsEntry : M3uEntry);
  if (list.entries.empty()) return std::nullopt;
  return list;
}

std::string PlaylistCopyBytes(const Playlist& list, const std::vector<std::string>& unixPaths) {
  // The text between the entries as it is, each entry in its Unix form.
  std::string text;
  std::size_t from = 0;
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    const PlaylistEntry& entry = list.entries[i];
    const std::string& path = unixPaths[i];
    // A share the host has not mounted becomes the player's own smb: URL.
    const bool asFileUrl = entry.asUrl && !path.empty() && path[0] == '/';
    text.append(list.text, from, entry.at - from);
    text += (asFileUrl ? FileUrlOf(path) : path) + entry.suffix;
    from = entry.at + entry.length;
  }
  text.append(list.text, from);
  auto& sys = platform::Sys();
  std::string bytes;
  switch (list.encoding) {
    case PlaylistEncoding::kUtf8:
      return text;
    case PlaylistEncoding::kUtf8WithMark:
      return kUtf8Mark + text;
    case PlaylistEncoding::kUtf16Le:
      sys.EncodeText(text, platform::TextEncoding::kUtf16Le, &bytes);
      return kUtf16LeMark + bytes;
    case PlaylistEncoding::kAnsi:
      if (sys.EncodeText(text, platform::TextEncoding::kAnsi, &bytes)) return bytes;
      // A Unix path the code page cannot spell: the whole copy in UTF-8,
      // marked as such, which the player reads as well.
      sys.Trace("the copy of " + list.name + " is written in UTF-8: the code page cannot spell it");
      return kUtf8Mark + text;
  }
  return text;
}

std::string WritePlaylistCopy(const Playlist& list, const std::string& windowsPath,
                              const std::string& bytes) {
  auto& sys = platform::Sys();
  // (Copies not written for a day are removed by the native player's start,
  // on the host, where a link is seen as one.)
  // Written only into a folder the host has just shown to be the user's
  // alone, as a new file moved into place: never through a link.
  const std::string copyFolder = CopyFolderName(windowsPath);
  const std::string folder = PrivateSubfolder(copyFolder);
  if (folder.empty() || !sys.ReplaceWholeFile(folder + list.name, bytes)) {
    sys.Trace("cannot write a copy of " + windowsPath + ": the player gets the list as it is");
    return std::string();
  }
  const std::string unixCopy = UnixPrivateFolder() + "/" + copyFolder + "/" + list.name;
  sys.Trace("playlist " + windowsPath + " translated into " + unixCopy);
  return unixCopy;
}

}  // namespace modrik
