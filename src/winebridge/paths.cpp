// The drive map and the translation between Windows and Unix paths.
//
// Drives c and z have fixed places (the prefix's drive_c and the Unix
// root). Every other drive is looked up in the drive map, learnt once from a
// listing of the prefix's dosdevices folder on the host; a drive without an
// entry is reached through its link in dosdevices.
#include "platform/platform.h"
#include "platform/utf8.h"
#include "winebridge/winebridge.h"

namespace modrik {

std::vector<std::string> DriveMap;

namespace {

const std::string kArrow = " -> ";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  std::size_t at = 0;
  while ((at = text.find(from, at)) != std::string::npos) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

// The drive-map entry one listing line yields, or empty for none.
std::string DriveEntryOf(const std::string& line) {
  const std::size_t arrow = line.find(kArrow);
  if (arrow == std::string::npos) return std::string();
  // The link name starts after the last blank before the arrow, so the
  // colon of the time column does not matter.
  std::string kept = line;
  if (arrow > 0) {
    const std::size_t blank = line.rfind(' ', arrow - 1);
    if (blank != std::string::npos) kept = line.substr(blank + 1);
  }
  if (kept.find("/dev/") != std::string::npos || kept.find("c:") != std::string::npos ||
      kept.find("z:") != std::string::npos)
    return std::string();
  ReplaceAll(kept, kArrow, "");
  ReplaceAll(kept, "::", ":");
  return kept;
}

}  // namespace

std::string DosdevicesFolder() { return PrefixFolder() + "/dosdevices/"; }

std::string DriveListingCommand() {
  if (DefaultLocations()) return "ls -al ~/.wine/dosdevices";
  return "ls -al " + ShellQuote(PrefixFolder() + "/dosdevices");
}

std::vector<std::string> ParseDriveListing(const std::string& listing) {
  std::vector<std::string> entries;
  if (listing.empty()) return entries;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = listing.find('\n', start);
    const std::string field =
        listing.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string entry = DriveEntryOf(field);
    if (!entry.empty()) entries.push_back(entry);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return entries;
}

void LoadDriveMap() {
  DriveMap.clear();
  const std::string listing = RunUnixCommandCapture(DriveListingCommand());
  DriveMap = ParseDriveListing(listing);
  DeviceLinks = ParseDeviceLinks(listing);
}

namespace {

// The translation with the drive map as it stands.
std::string TranslatedWithMap(const std::string& windowsPath) {
  std::string path = windowsPath;
  ReplaceAll(path, "\\", "/");
  const std::string head = platform::Sys().LowerCase(platform::Utf8Left(path, 3));

  if (head == "z:/") return path.substr(2);
  if (head == "c:/") return PrefixFolder() + "/drive_c/" + path.substr(3);

  for (const std::string& entry : DriveMap) {
    if (entry.substr(0, 2) + "/" != head) continue;
    const std::string target = entry.substr(2);
    // A link without a target is no help, and a "?" may stand for a
    // character that the listing could not show: reach the drive through
    // its link instead.
    if (target.empty() || target.find('?') != std::string::npos) break;
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
  if (DriveMap.empty()) LoadDriveMap();
  return TranslatedWithMap(windowsPath);
}

std::vector<std::string> WindowsToUnixPaths(const std::vector<std::string>& windowsPaths) {
  if (!windowsPaths.empty() && DriveMap.empty()) LoadDriveMap();
  std::vector<std::string> unixPaths;
  for (const std::string& path : windowsPaths) unixPaths.push_back(TranslatedWithMap(path));
  return unixPaths;
}

bool UnixFileExists(const std::string& unixPath) {
  return UnixPathExists(unixPath) != 0 && !platform::Sys().FolderExists(UnixToWindowsPath(unixPath));
}

std::int32_t UnixPathExists(const std::string& unixPath) {
  const std::string path = UnixToWindowsPath(unixPath);
  if (path.find_first_of("*?") != std::string::npos) return 0;
  return platform::Sys().FileAttributesExist(path) ? -1 : 0;
}

}  // namespace modrik
