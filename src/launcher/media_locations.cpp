// Locations as callers write them: Windows paths, names taken in a folder,
// URLs, file: URLs of Windows paths and the addresses of disc drives.
#include <algorithm>
#include <cctype>

#include "common/common.h"
#include "launcher/launcher.h"
#include "winebridge/winebridge.h"

namespace modrik {

bool IsDrivePath(const std::string& word) {
  return HasDriveLetter(word) && word.size() >= 3 && (word[2] == '\\' || word[2] == '/');
}

bool IsWindowsPath(const std::string& word) {
  if (IsDrivePath(word)) return true;
  if (word.rfind("\\\\", 0) != 0) return false;
  std::string rest = word.substr(2);
  if (rest.rfind("?\\", 0) == 0 || rest.rfind(".\\", 0) == 0) {
    const bool longPath = rest[0] == '?';
    rest = rest.substr(2);
    if (IsDrivePath(rest) || (longPath && StartsWithNoCase(rest, "unix\\") && rest.size() > 5))
      return true;
    if (!StartsWithNoCase(rest, "unc\\")) return false;
    rest = rest.substr(4);
  }
  // server\share: both named.
  const std::size_t mark = rest.find('\\');
  return mark != std::string::npos && mark > 0 && mark + 1 < rest.size() && rest[mark + 1] != '\\';
}

bool IsRelativeName(const std::string& word) {
  return !word.empty() && word.find(':') == std::string::npos && word.rfind("\\\\", 0) != 0 &&
         word.rfind("//", 0) != 0;
}

std::string InFolder(const std::string& folder, const std::string& name) {
  if (name[0] == '\\' || name[0] == '/')
    return folder.size() >= 2 && folder[1] == ':' ? folder.substr(0, 2) + name : name;
  const bool separated = folder.empty() || folder.back() == '\\' || folder.back() == '/';
  return folder + (separated ? "" : "\\") + name;
}

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

std::string PercentDecoded(const std::string& text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string FileUrlOf(const std::string& unixPath) { return "file://" + PercentEncoded(unixPath, "/"); }

WindowsFileUrl ParseWindowsFileUrl(const std::string& word) {
  WindowsFileUrl url;
  if (!StartsWithNoCase(word, "file://")) return url;
  const bool localhost = StartsWithNoCase(word.substr(7), "localhost/");
  std::size_t at = localhost ? 16 : 7;
  if (at < word.size() && word[at] == '/') ++at;
  // Else a share: file://server/share/..., or with four or five slashes.
  const std::size_t slashes = word.find_first_not_of('/', 7) - 7;
  const bool share =
      !localhost && !HasDriveLetter(word.substr(at)) && (slashes == 0 || slashes == 2 || slashes == 3);
  if (share) {
    at = 7 + slashes;
    const std::size_t server = word.find('/', at);
    if (server == std::string::npos || server == at || server + 1 >= word.size() || word[server + 1] == '/') return url;
  } else if (!HasDriveLetter(word.substr(at))) {
    return url;
  }
  // A query or fragment stays as the caller wrote it: no Windows file name
  // holds "?", and "#" starts the player's title and chapter.
  const std::size_t end = word.find_first_of("?#", at);
  url.path =
      PercentDecoded(word.substr(at, end == std::string::npos ? std::string::npos : end - at));
  if (share) {
    std::replace(url.path.begin(), url.path.end(), '/', '\\');
    url.path = "\\\\" + url.path;
  }
  if (end != std::string::npos) url.suffix = word.substr(end);
  return url;
}

DiscAddress ParseDiscAddress(const std::string& word) {
  DiscAddress disc;
  for (const char* scheme : {"dvd", "vcd", "cdda", "bluray"}) {
    const std::string start = std::string(scheme) + "://";
    if (!StartsWithNoCase(word, start)) continue;
    std::size_t at = start.size();
    if (at < word.size() && word[at] == '/') ++at;
    if (!HasDriveLetter(word.substr(at))) return disc;
    const std::size_t end = word.find('#', at);
    disc.scheme = word.substr(0, start.size());
    disc.drive = word.substr(at, 2);
    disc.path = word.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
    if (end != std::string::npos) disc.suffix = word.substr(end);
    return disc;
  }
  return disc;
}

}  // namespace modrik
