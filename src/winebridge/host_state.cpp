// What the host told an earlier start, kept for the later ones: the
// private folder, the prefix's drive links and the file-manager icons set.
// One file per prefix in the private folder, written by modrik alone, read
// back only
//   - from a place the private folder may be in, naming that very folder,
//     which the start's own host command then checks before it uses it;
//   - for the drive links, while the dosdevices folder's change time is the
//     one read right before they were listed (a link made, removed or
//     pointed elsewhere changes it);
// and every part bounded. Whatever does not hold is asked of the host again.
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "sandbox/sandbox.h"
#include "winebridge/winebridge.h"

namespace modrik {

bool PrivateFolderUnverified = false;
bool HostStateRead = false;
std::uint64_t DriveListingTime = 0;
std::vector<std::string> IconsSet;

namespace {

const char kMagic[] = "modrik host state 1";
constexpr std::size_t kStateBytes = 1024 * 1024;
constexpr std::size_t kMaxEntries = 4096;
constexpr std::size_t kMaxIcons = 64;

// What the file held when it was read (or last written): written again only
// when this process has learnt something new.
std::string StateAsRead;

}  // namespace

std::string HostStateFileName() {
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (char c : PrefixFolder()) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char name[32];
  std::snprintf(name, sizeof(name), "state-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

namespace {

// The places the private folder may be in, as UnixPrivateFolder names them.
std::vector<std::string> PrivateFolderPlaces() {
  const std::string runtime = WithoutTrailingSlashes(platform::Sys().EnvironmentVariable("XDG_RUNTIME_DIR"));
  const PrivatePlaces places =
      SharedPrivatePlaces(CurrentSandbox(UnixHomeFolder()), {runtime, UnixHomeFolder() + "/.cache"});
  std::vector<std::string> folders;
  if (!places.runtime.empty() && places.runtime[0] == '/') folders.push_back(places.runtime + "/modrik");
  if (!places.cache.empty() && places.cache[0] == '/') folders.push_back(places.cache + "/modrik");
  return folders;
}

// The NUL-ended fields of a text, at most `limit` of them.
std::vector<std::string> FieldsOf(const std::string& text, std::size_t limit) {
  std::vector<std::string> fields;
  for (std::size_t at = 0; at < text.size() && fields.size() < limit;) {
    const std::size_t end = text.find('\0', at);
    if (end == std::string::npos) break;
    fields.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return fields;
}

// A count field: digits only, at most `limit`.
bool CountOf(const std::string& field, std::size_t limit, std::size_t* count) {
  if (field.empty() || field.size() > 6 || field.find_first_not_of("0123456789") != std::string::npos) return false;
  *count = std::strtoul(field.c_str(), nullptr, 10);
  return *count <= limit;
}

}  // namespace

std::uint64_t DosdevicesChangeTime() {
  const std::vector<platform::FoundFile> found =
      platform::Sys().FindFiles(WineUnixName(WithoutTrailingSlashes(DosdevicesFolder())));
  return found.size() == 1 && found[0].directory ? found[0].writeTime : 0;
}

std::string HostStateText(const HostState& state) {
  std::string text = std::string(kMagic) + '\0' + state.folder + '\0' + state.prefix + '\0' +
                     std::to_string(state.dosdevicesTime) + '\0' + std::to_string(state.links.size()) + '\0';
  for (const DriveLink& link : state.links) text += link.name + '\0' + link.target + '\0';
  text += std::to_string(state.icons.size()) + '\0';
  for (const std::string& icon : state.icons) text += icon + '\0';
  return text;
}

bool ParseHostState(const std::string& text, HostState* state) {
  const std::vector<std::string> fields = FieldsOf(text, 2 * kMaxEntries + kMaxIcons + 8);
  std::size_t at = 0, links = 0, icons = 0;
  auto next = [&](std::string* field) {
    if (at >= fields.size()) return false;
    *field = fields[at++];
    return true;
  };
  std::string magic, time, count;
  if (!next(&magic) || magic != kMagic || !next(&state->folder) || !next(&state->prefix) || !next(&time) ||
      time.empty() || time.size() > 20 || time.find_first_not_of("0123456789") != std::string::npos ||
      !next(&count) || !CountOf(count, kMaxEntries, &links))
    return false;
  state->dosdevicesTime = std::strtoull(time.c_str(), nullptr, 10);
  state->links.clear();
  for (std::size_t i = 0; i < links; ++i) {
    DriveLink link;
    if (!next(&link.name) || !next(&link.target)) return false;
    state->links.push_back(link);
  }
  if (!next(&count) || !CountOf(count, kMaxIcons, &icons)) return false;
  state->icons.clear();
  for (std::size_t i = 0; i < icons; ++i) {
    std::string icon;
    if (!next(&icon)) return false;
    state->icons.push_back(icon);
  }
  return at == fields.size();
}

void ReadHostState() {
  if (HostStateRead) return;
  HostStateRead = true;
  auto& sys = platform::Sys();
  for (const std::string& folder : PrivateFolderPlaces()) {
    std::string text;
    if (!sys.ReadWholeFile(WineUnixName(folder + "/" + HostStateFileName()), kStateBytes, &text)) {
      // A place before the one the state is in may be fit now (or may be
      // made): the host is asked. One whose folder is missing is none.
      if (sys.FolderExists(WineUnixName(folder.substr(0, folder.rfind('/'))))) return;
      continue;
    }
    HostState state;
    if (!ParseHostState(text, &state) || state.folder != folder || state.prefix != PrefixFolder()) {
      sys.Trace("the host state in " + folder + " is not this prefix's, or not whole: not used");
      continue;
    }
    StateAsRead = text;
    if (!PrivateFolder) {
      PrivateFolder = folder;
      PrivateFolderUnverified = true;
    }
    IconsSet = state.icons;
    const std::uint64_t now = DosdevicesChangeTime();
    if (!DriveMapLoaded && now != 0 && now == state.dosdevicesTime) {
      DriveLinks = state.links;
      DriveMap = DriveLinkMap(DriveLinks);
      DriveMapLoaded = true;
      DriveListingTime = now;
    } else {
      sys.Trace("the prefix's drive links may have changed since they were listed: listed again");
    }
    sys.Trace("host state kept in " + folder);
    return;
  }
}

void WriteHostState() {
  auto& sys = platform::Sys();
  if (!PrivateFolder || PrivateFolder->empty() || !DriveMapLoaded || DriveListingTime == 0) return;
  HostState state;
  state.folder = *PrivateFolder;
  state.prefix = PrefixFolder();
  state.dosdevicesTime = DriveListingTime;
  state.links = DriveLinks;
  state.icons = IconsSet;
  if (state.icons.size() > kMaxIcons) state.icons.erase(state.icons.begin(), state.icons.end() - kMaxIcons);
  const std::string text = HostStateText(state);
  if (text == StateAsRead) return;
  if (sys.ReplaceWholeFile(WineUnixName(state.folder + "/" + HostStateFileName()), text))
    StateAsRead = text;
  else
    sys.Trace("cannot keep the host state in " + state.folder);
}

void ForgetHostState() {
  PrivateFolder.reset();
  PrivateFolderUnverified = false;
  StateAsRead.clear();
  DriveMap.clear();
  DriveLinks.clear();
  DriveMapLoaded = false;
  DriveListingTime = 0;
  IconsSet.clear();
}

}  // namespace modrik
