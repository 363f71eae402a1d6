// modrik's private folder on the host. A Windows program cannot read a host
// file's owner and mode, and Wine follows links without saying so: the host
// makes the folders where that is safe and tells what stands there
// (host/private_folder.sh, one captured command per process), and modrik
// judges it here. Whatever stands in a place that is not the user's alone
// may have been planted by another user: such a place is never used, and
// nothing in it is made, written or removed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "sandbox/sandbox.h"
#include "winebridge/host/host_scripts.h"
#include "winebridge/winebridge.h"

namespace modrik {

std::optional<std::string> PrivateFolder;

namespace {

// What the host tells of one path ("missing", or "UID MODE KIND"), a link
// not followed.
struct HostEntry {
  bool exists = false;
  unsigned long owner = 0;
  unsigned long mode = 0;  // permission bits
  std::string kind;        // "directory", "symbolic link", ...
};

HostEntry EntryOf(const std::string& line) {
  HostEntry entry;
  char* end = nullptr;
  entry.owner = std::strtoul(line.c_str(), &end, 10);
  if (end == line.c_str() || *end != ' ') return entry;
  const char* modeAt = end + 1;
  entry.mode = std::strtoul(modeAt, &end, 8);
  if (end == modeAt || *end != ' ') return entry;
  entry.kind = end + 1;
  entry.exists = true;
  return entry;
}

// Why `path` may not hold modrik's files for the user, or empty when it may:
// it must be an absolute path to a folder (no link) of the user's own,
// without any of the `forbidden` mode bits.
std::string Fault(const std::string& path, const HostEntry& entry, unsigned long user,
                  unsigned long forbidden) {
  if (path.empty() || path[0] != '/') return "is no absolute path";
  if (!entry.exists) return "is missing";
  if (entry.kind == "symbolic link") return "is a link";
  if (entry.kind != "directory") return "is no folder (" + entry.kind + ")";
  if (entry.owner != user) return "belongs to user " + std::to_string(entry.owner) + ", not " + std::to_string(user);
  if ((entry.mode & forbidden) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof(mode), "%04lo", entry.mode);
    return std::string("has mode ") + mode + ": others may use it";
  }
  return std::string();
}

// $XDG_RUNTIME_DIR as the environment gives it.
std::string RuntimeVariable() {
  return WithoutTrailingSlashes(platform::Sys().EnvironmentVariable("XDG_RUNTIME_DIR"));
}

// Only an absolute path is handed to the host.
std::string Absolute(const std::string& path) { return !path.empty() && path[0] == '/' ? path : ""; }

// The host's lines of facts, when there are `count` of them and the first
// is the user's id (then in *user).
std::vector<std::string> FactLines(const std::string& hostFacts, std::size_t count, unsigned long* user) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < hostFacts.size();) {
    const std::size_t end = std::min(hostFacts.find('\n', at), hostFacts.size());
    lines.push_back(hostFacts.substr(at, end - at));
    at = end + 1;
  }
  char* end = nullptr;
  *user = lines.empty() ? 0 : std::strtoul(lines[0].c_str(), &end, 10);
  if (lines.size() != count || end == lines[0].c_str() || *end != '\0') return {};
  return lines;
}

}  // namespace

std::string ChoosePrivateFolder(const std::string& runtime, const std::string& cache,
                                const std::string& hostFacts, std::vector<std::string>* refusals) {
  unsigned long user = 0;
  const std::vector<std::string> lines = FactLines(hostFacts, 5, &user);
  if (lines.empty()) {
    refusals->push_back("the host did not tell what stands in " + runtime + " and " + cache);
    return std::string();
  }
  // The runtime folder is the user's alone (mode 0700, as the XDG rules
  // ask); the cache folder, in the home, may be readable by others but
  // writable by the user alone; modrik's own is the user's alone in each.
  const struct {
    const char* what;
    std::string path;
    unsigned long forbidden;
  } places[] = {{"runtime folder", runtime, 077}, {"cache folder", cache, 022}};
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string own = places[i].path + "/modrik";
    std::string fault = Fault(places[i].path, EntryOf(lines[1 + 2 * i]), user, places[i].forbidden);
    std::string faulty = places[i].path;
    if (fault.empty()) {
      fault = Fault(own, EntryOf(lines[2 + 2 * i]), user, 077);
      faulty = own;
    }
    if (fault.empty()) return own;
    if (i == 0 && places[i].path.empty()) continue;  // no runtime folder: nothing to say
    refusals->push_back("the " + std::string(places[i].what) + " " + faulty + " " + fault + ": not used");
  }
  return std::string();
}

std::string PrivateFolderCommand(const std::string& runtime, const std::string& cache) {
  // One group, so that the capture takes all of its output.
  return "set -- " + ShellQuote(Absolute(runtime)) + " " + ShellQuote(cache) + "\n{\n" +
         host::private_folder_sh + "}";
}

std::string UnixPrivateFolder() {
  auto& sys = platform::Sys();
  if (PrivateFolder) return *PrivateFolder;
  // The one an earlier start chose (its host command checks it again).
  ReadHostState();
  if (PrivateFolder) return *PrivateFolder;
  // Inside a Flatpak, the places that the host sees at the same path.
  const PrivatePlaces places =
      SharedPrivatePlaces(CurrentSandbox(UnixHomeFolder()), {RuntimeVariable(), UnixHomeFolder() + "/.cache"});
  const std::string runtime = places.runtime, cache = places.cache;
  std::vector<std::string> refusals;
  PrivateFolder = ChoosePrivateFolder(
      runtime, cache, RunUnixCommandCapture(PrivateFolderCommand(runtime, cache)), &refusals);
  for (const std::string& refusal : refusals) sys.Trace(refusal);
  sys.Trace(PrivateFolder->empty() ? "no private folder: nothing that needs one is done"
                                   : "private folder " + *PrivateFolder);
  return *PrivateFolder;
}

std::string WindowsPrivateFolder() {
  const std::string folder = UnixPrivateFolder();
  return folder.empty() ? std::string() : WineUnixName(folder) + "\\";
}

std::string OwnFolderCommand(const std::string& path) {
  // mkdir makes nothing where anything stands, a link included.
  return "d=" + ShellQuote(path) +
         "\n{ mkdir -m 700 \"$d\" 2>/dev/null; id -u; stat -c '%u %a %F' -- \"$d\" 2>/dev/null || echo missing; }";
}

std::string OwnFolderFault(const std::string& path, const std::string& hostFacts) {
  unsigned long user = 0;
  const std::vector<std::string> lines = FactLines(hostFacts, 2, &user);
  if (lines.empty()) return "is not told of by the host";
  return Fault(path, EntryOf(lines[1]), user, 077);
}

std::string PrivateSubfolder(const std::string& name) {
  const std::string folder = UnixPrivateFolder();
  if (folder.empty()) return std::string();
  const std::string path = folder + "/" + name;
  const std::string fault = OwnFolderFault(path, RunUnixCommandCapture(OwnFolderCommand(path)));
  if (fault.empty()) return WineUnixName(path) + "\\";
  platform::Sys().Trace("the folder " + path + " " + fault + ": nothing is written there");
  return std::string();
}

}  // namespace modrik
