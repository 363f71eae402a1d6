// The drive map and the translation between Windows and Unix paths.
//
// A Windows path is first made the one Windows opens (full, every existing
// component in its real name). Drives c and z then have fixed places (the
// prefix's drive_c and the Unix root). Every other drive is looked up in the
// drive map, learnt once from a listing of the prefix's dosdevices folder on
// the host; a drive without an entry is reached through its link in
// dosdevices. A network path goes through Wine's dosdevices/unc folder when
// the share is there, else to the player's own SMB address.
#include "platform/platform.h"
#include "platform/utf8.h"
#include "winebridge/winebridge.h"

namespace modrik {

std::vector<std::string> DriveMap;
std::vector<DriveLink> DriveLinks;
bool DriveMapLoaded = false;

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  std::size_t at = 0;
  while ((at = text.find(from, at)) != std::string::npos) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

// The parts of a text between separators, empty parts left out.
std::vector<std::string> PartsOf(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? separator : "") + parts[i];
  return text;
}

bool Holds(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

std::string PercentEncoded(const std::string& text, const std::string& alsoKept) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
        b == '.' || b == '_' || b == '~' || alsoKept.find(c) != std::string::npos) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    }
  }
  return out;
}

std::string DosdevicesFolder() { return PrefixFolder() + "/dosdevices/"; }

std::string DriveListingCommand() {
  // The name and the target of every link, each ended by a NUL byte: exact
  // whatever they hold (blanks, " -> ", line feeds, quotes) and whatever the
  // user's environment asks of ls (QUOTING_STYLE, colours).
  const std::string folder =
      DefaultLocations() ? "~/.wine/dosdevices/" : ShellQuote(PrefixFolder() + "/dosdevices/");
  return "find " + folder + " -maxdepth 1 -type l -printf '%f\\0%l\\0'";
}

std::vector<DriveLink> DriveLinksOf(const std::string& listing) {
  std::vector<DriveLink> links;
  std::size_t start = 0;
  while (true) {
    const std::size_t nameEnd = listing.find('\0', start);
    if (nameEnd == std::string::npos) break;
    const std::size_t targetEnd = listing.find('\0', nameEnd + 1);
    // A listing cut short ends with a link whose target is not all there.
    if (targetEnd == std::string::npos) break;
    if (nameEnd > start)
      links.push_back({listing.substr(start, nameEnd - start),
                       listing.substr(nameEnd + 1, targetEnd - nameEnd - 1)});
    start = targetEnd + 1;
  }
  return links;
}

std::vector<std::string> DriveLinkMap(const std::vector<DriveLink>& links) {
  std::vector<std::string> entries;
  for (const DriveLink& link : links) {
    // Drives c and z have their fixed places, and devices are no folders.
    // Whatever names "c:" or "z:" anywhere is left to its link as well.
    const std::string& name = link.name;
    const std::string& target = link.target;
    if (Holds(name, "/dev/") || Holds(name, "c:") || Holds(name, "z:") || Holds(target, "/dev/") ||
        Holds(target, "c:") || Holds(target, "z:"))
      continue;
    std::string drive = name;
    ReplaceAll(drive, "::", ":");
    entries.push_back(drive + target);
  }
  return entries;
}

std::vector<std::string> ParseDriveListing(const std::string& listing) {
  return DriveLinkMap(DriveLinksOf(listing));
}

void LoadDriveMap() {
  // The links an earlier start listed, while the folder has not changed.
  if (!HostStateRead && !DriveMapLoaded) {
    ReadHostState();
    if (DriveMapLoaded) return;
  }
  DriveMapLoaded = true;
  DriveMap.clear();
  // (Read before the listing: a change during it shows next time.)
  DriveListingTime = DosdevicesChangeTime();
  DriveLinks = DriveLinksOf(RunUnixCommandCapture(DriveListingCommand()));
  DriveMap = DriveLinkMap(DriveLinks);
}

std::string DeviceLinkTarget(char drive) {
  if (DriveLinks.empty() && !DriveMapLoaded) LoadDriveMap();
  if (drive >= 'A' && drive <= 'Z') drive = static_cast<char>(drive - 'A' + 'a');
  const std::string name = std::string(1, drive) + "::";
  for (const DriveLink& link : DriveLinks) {
    if (!StartsWithNoCase(link.name, name) || link.name.size() != name.size() || link.target.empty())
      continue;
    // A relative target is relative to the dosdevices folder that holds it.
    return link.target[0] == '/' ? link.target : DosdevicesFolder() + link.target;
  }
  return std::string();
}

namespace {

// "\\?\unix\...": Wine's own name for a host path.
bool IsUnixNamespace(const std::string& path) { return StartsWithNoCase(path, "\\\\?\\unix\\"); }

bool IsNetworkPath(const std::string& path) {
  return path.size() > 2 && path[0] == '\\' && path[1] == '\\';
}

// The path without the mark of Windows' long-path or device namespace:
// "\\?\C:\..." and "\\.\C:\..." name C:\..., "\\?\UNC\server\..." names
// \\server\....
std::string WithoutNamespaceMark(const std::string& path) {
  if (!StartsWithNoCase(path, "\\\\?\\") && !StartsWithNoCase(path, "\\\\.\\")) return path;
  const std::string rest = path.substr(4);
  if (HasDriveLetter(rest)) return rest;
  if (StartsWithNoCase(rest, "unc\\")) return "\\\\" + rest.substr(4);
  return path;
}

// The full path with every component after its root (rootLength
// characters) in the name Wine finds for it on the host: Wine looks a
// Windows path up component by component, so the last components of its
// answer are the real names of the path's own. When it finds nothing (a
// folder on the way does not exist) the path keeps its spelling.
std::string WithRealNames(const std::string& path, std::size_t rootLength) {
  const std::string found = platform::Sys().WineUnixFileName(path);
  const std::vector<std::string> own = PartsOf(path.substr(rootLength), '\\');
  const std::vector<std::string> real = PartsOf(found, '/');
  if (found.empty() || real.size() < own.size()) return path;
  std::vector<std::string> names(real.end() - static_cast<std::ptrdiff_t>(own.size()), real.end());
  const bool folderMark = !own.empty() && path.back() == '\\';
  return path.substr(0, rootLength) + Joined(names, "\\") + (folderMark ? "\\" : "");
}

// The path as Windows opens it: without a namespace mark, full (".", "..",
// trailing dots and blanks, a drive-relative "C:media" resolved), and each
// component that exists in its real name (letter case, the long form of an
// 8.3 name). Names that do not exist yet keep their spelling.
std::string CanonicalWindowsPath(const std::string& path) {
  if (path.empty() || IsUnixNamespace(path)) return path;
  const std::string unmarked = WithoutNamespaceMark(path);
  std::string full = platform::Sys().FullPathName(unmarked);
  if (full.empty()) full = unmarked;
  if (StartsWithNoCase(full, "\\\\.\\") && !StartsWithNoCase(unmarked, "\\\\.\\")) {
    // A file named like a DOS device ("aux.mp3", "con") is one to Windows,
    // but on the host it is a file like any other: its folder is made
    // canonical, its name kept.
    const std::size_t cut = unmarked.find_last_of("\\/");
    if (cut == std::string::npos || cut == 0) return unmarked;
    return CanonicalWindowsPath(unmarked.substr(0, cut)) + "\\" + unmarked.substr(cut + 1);
  }
  if (IsNetworkPath(full)) return WithRealNames(full, 2);
  if (HasDriveLetter(full) && full.size() >= 3 && full[2] == '\\') return WithRealNames(full, 3);
  return full;
}

// \\server\share\...: through Wine's dosdevices/unc folder when the share
// is there on the host (as Wine itself opens it), else the player's own
// SMB address.
std::string NetworkPathToUnixPath(const std::string& path) {
  const std::vector<std::string> parts = PartsOf(path.substr(2), '\\');
  const std::string folderMark = path.back() == '\\' ? "/" : "";
  if (parts.size() >= 2 &&
      !platform::Sys().WineUnixFileName("\\\\" + parts[0] + "\\" + parts[1]).empty())
    return DosdevicesFolder() + "unc/" + Joined(parts, "/") + folderMark;
  std::vector<std::string> encoded;
  for (const std::string& part : parts) encoded.push_back(PercentEncoded(part));
  return "smb://" + Joined(encoded, "/") + folderMark;
}

// The translation with the drive map as it stands; `canonical` when the
// path is already the one Windows opens.
std::string TranslatedWithMap(const std::string& windowsPath, bool canonical = false) {
  // No Windows name holds a double quote: quotes are the caller's grouping.
  std::string unquoted = windowsPath;
  std::erase(unquoted, '"');
  std::string path = canonical ? unquoted : CanonicalWindowsPath(unquoted);
  if (IsUnixNamespace(path)) {
    path = path.substr(8);
    ReplaceAll(path, "\\", "/");
    return path;
  }
  if (IsNetworkPath(path)) return NetworkPathToUnixPath(path);
  // Text the caller quoted is translated as the caller wrote it, quotes and
  // all (so through the drive links); only its spelling is made canonical.
  if (unquoted.size() != windowsPath.size()) path = "\"" + path + "\"";

  ReplaceAll(path, "\\", "/");
  const std::string head = platform::Sys().LowerCase(platform::Utf8Left(path, 3));

  if (head == "z:/") return path.substr(2);
  if (head == "c:/") return PrefixFolder() + "/drive_c/" + path.substr(3);

  for (const std::string& entry : DriveMap) {
    if (entry.size() < 2 || entry.substr(0, 2) + "/" != head) continue;
    const std::string target = entry.substr(2);
    // A link without a target is no help: reach the drive through its link.
    if (target.empty()) break;
    // A relative link target is relative to the dosdevices folder that
    // holds the link, not to whatever folder the host command runs in.
    if (target[0] != '/') return DosdevicesFolder() + target + path.substr(2);
    return target + path.substr(2);
  }

  std::string linked = DosdevicesFolder() + path;
  const std::size_t colon = linked.find(':');
  if (colon != std::string::npos && colon >= 1) {
    // Drive letters are ASCII; any other byte before the colon stays as it is.
    char& letter = linked[colon - 1];
    if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
  }
  return linked;
}

}  // namespace

std::string WindowsToUnixPath(const std::string& windowsPath) {
  if (DriveMap.empty() && !DriveMapLoaded) LoadDriveMap();
  return TranslatedWithMap(windowsPath);
}

std::vector<std::string> WindowsToUnixPaths(const std::vector<std::string>& windowsPaths) {
  if (!windowsPaths.empty() && DriveMap.empty() && !DriveMapLoaded) LoadDriveMap();
  std::vector<std::string> unixPaths;
  // From this many paths on (a long playlist), the real names come from one
  // listing per folder instead of one lookup through Wine per path.
  constexpr std::size_t kBulkPaths = 200;
  if (windowsPaths.size() < kBulkPaths) {
    for (const std::string& path : windowsPaths) unixPaths.push_back(TranslatedWithMap(path));
    return unixPaths;
  }
  const std::vector<std::string> real = RealNamesOfBatch(windowsPaths);
  for (std::size_t i = 0; i < windowsPaths.size(); ++i)
    unixPaths.push_back(TranslatedWithMap(real[i].empty() ? windowsPaths[i] : real[i], !real[i].empty()));
  return unixPaths;
}

bool UnixFileExists(const std::string& unixPath) {
  return UnixPathExists(unixPath) != 0 && !platform::Sys().FolderExists(WineUnixName(unixPath));
}

std::int32_t UnixPathExists(const std::string& unixPath) {
  // Through Wine's own name for the host path: no drive is needed, and a
  // quote, a blank or a '$' is a character of the name. A wildcard never
  // names a file here, and a backslash cannot be named so: such a path is
  // taken as missing, rather than as some other file.
  if (unixPath.empty() || unixPath[0] != '/' || unixPath.find_first_of("*?\\") != std::string::npos)
    return 0;
  return platform::Sys().FileAttributesExist(WineUnixName(unixPath)) ? -1 : 0;
}

}  // namespace modrik
