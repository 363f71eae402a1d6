// The real names of a batch of Windows paths (a playlist's entries), from
// one listing per folder through Wine instead of one lookup per path: the
// form Windows opens each in, as CanonicalWindowsPath finds it one by one.
#include <map>

#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

namespace {

// What a batch has learnt of the folders its paths pass through.
struct FolderNames {
  std::string canonical;  // the folder's path with its real names
  bool exists = false;
  bool listed = false;
  std::map<std::string, bool> names;                   // as listed: whether a folder
  std::map<std::string, platform::FoundFile> byLower;  // the first listed of each name in lower case
};

class RealNames {
 public:
  // The path (a plain drive path) with each component that exists in its
  // real name, as Wine finds it: the name itself when it is there, else
  // the one that differs only in case; a name that is not there keeps its
  // spelling. Empty when a listing cannot tell (a short 8.3 name): the
  // caller then asks Wine as for a single path.
  std::string Of(std::string path) {
    // (One drive, whichever case its letter is written in.)
    if (path[0] >= 'a' && path[0] <= 'z') path[0] = static_cast<char>(path[0] - 'a' + 'A');
    bool exists = false;
    return Canonical(path, &exists);
  }

 private:
  static std::string Lower(const std::string& text) {
    for (char c : text)
      if (static_cast<unsigned char>(c) >= 0x80) return platform::Sys().LowerCase(text);
    std::string lower = text;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
  }

  FolderNames& Listed(FolderNames& folder) {
    if (folder.listed || !folder.exists) return folder;
    folder.listed = true;
    for (const platform::FoundFile& entry : platform::Sys().FindFiles(folder.canonical + "\\*")) {
      if (entry.name == "." || entry.name == "..") continue;
      folder.names.emplace(entry.name, entry.directory);
      folder.byLower.emplace(Lower(entry.name), entry);
    }
    return folder;
  }

  // The folder ("X:" is the drive's root), learnt once; null when a
  // listing cannot tell.
  FolderNames* Folder(const std::string& folder) {
    const auto known = folders_.find(folder);
    if (known != folders_.end()) return &known->second;
    FolderNames names;
    if (folder.size() == 2) {
      names.canonical = folder;
      names.exists = platform::Sys().FolderExists(folder + "\\");
    } else {
      bool exists = false;
      names.canonical = Canonical(folder, &exists);
      if (names.canonical.empty()) return nullptr;
      names.exists = exists;
    }
    return &folders_.emplace(folder, names).first->second;
  }

  std::string Canonical(const std::string& path, bool* exists) {
    const std::size_t cut = path.find_last_of('\\');
    if (cut == std::string::npos || cut < 2) return std::string();
    FolderNames* parent = Folder(path.substr(0, cut));
    if (parent == nullptr) return std::string();
    const std::string name = path.substr(cut + 1);
    if (!parent->exists) return parent->canonical + "\\" + name;
    FolderNames& listed = Listed(*parent);
    const auto same = listed.names.find(name);
    if (same != listed.names.end()) {
      *exists = same->second;
      return listed.canonical + "\\" + name;
    }
    const auto found = listed.byLower.find(Lower(name));
    if (found != listed.byLower.end()) {
      *exists = found->second.directory;
      return listed.canonical + "\\" + found->second.name;
    }
    if (name.find('~') != std::string::npos) return std::string();
    return listed.canonical + "\\" + name;
  }

  std::map<std::string, FolderNames> folders_;
};

// A drive path Windows would open as it stands: no "." or ".." component,
// no component ending in a dot or a blank, no forward slash, no doubled
// backslash.
bool PlainDrivePath(const std::string& path) {
  if (!HasDriveLetter(path) || path.size() < 4 || path[2] != '\\' || path.back() == '\\' ||
      path.find_first_of("/\"*?<>|") != std::string::npos || path.find(':', 2) != std::string::npos ||
      path.find("\\\\") != std::string::npos)
    return false;
  for (std::size_t at = 3; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '\\') continue;
    const char last = path[at - 1];
    if (last == '.' || last == ' ') return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> RealNamesOfBatch(const std::vector<std::string>& paths) {
  RealNames names;
  std::vector<std::string> real;
  // Only plain drive paths; any other is left to a single lookup.
  for (const std::string& path : paths) real.push_back(PlainDrivePath(path) ? names.Of(path) : std::string());
  return real;
}

}  // namespace modrik
