// Which sandbox this is and how its host commands reach the host: plain
// decisions on what the sandbox shows.
//
//   Flatpak with org.freedesktop.Flatpak   flatpak-spawn --host PLAYER ARGS
//   Steam's container with its service     steam-runtime-launch-client --alongside-steam -- PLAYER ARGS
//   toolbox, distrobox (no player inside)  WAY-OUT PLAYER ARGS (flatpak-spawn --host, host-spawn, distrobox-host-exec)
//   other Flatpaks, umu's container, Snap  xdg-open FILE-OR-PLAYLIST (the portal, the default player)
#include <algorithm>

#include "sandbox/sandbox.h"

namespace modrik {

const char kDesktopOpener[] = "xdg-open";

namespace {

std::string Variable(const SandboxFacts& facts, const std::string& name) {
  const auto it = facts.variables.find(name);
  return it == facts.variables.end() ? std::string() : it->second;
}

std::vector<std::string> Entries(const std::string& list) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(';', start), list.size());
    if (end > start) entries.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

// "home", "host" (or "~") among the Flatpak's filesystems, with or without
// ":ro"/":rw"/":create", and not taken back by a later "!home".
bool HomeVisible(const std::string& filesystems) {
  bool visible = false;
  for (std::string entry : Entries(filesystems)) {
    entry = entry.substr(0, entry.find(':'));
    const bool negated = !entry.empty() && entry[0] == '!';
    if (negated) entry.erase(0, 1);
    if (entry == "home" || entry == "host" || entry == "~" || entry == "~/") visible = !negated;
  }
  return visible;
}

bool Under(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            (folder.back() == '/' || path[folder.size()] == '/'));
}

std::string Rest(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() ? path.substr(folder.size() + 1) : std::string();
}

}  // namespace

const std::vector<std::string>& SandboxVariables() {
  static const std::vector<std::string> names = {
      "container", "FLATPAK_ID", "SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM", "SNAP_NAME", "TOOLBOX_PATH",
      "DISTROBOX_ENTER_PATH", "CONTAINER_ID", "XDG_RUNTIME_DIR"};
  return names;
}

const std::vector<std::string>& WayOutNames() {
  static const std::vector<std::string> names = {"flatpak-spawn", "host-spawn", "distrobox-host-exec"};
  return names;
}

Sandbox DecideSandbox(const SandboxFacts& facts) {
  Sandbox s;
  s.home = facts.home;
  s.runtimeDir = Variable(facts, "XDG_RUNTIME_DIR");
  s.inFlatpak = facts.hasFlatpakInfo || facts.containerManager == "flatpak";
  const bool talks = facts.flatpakPolicy == "talk" || facts.flatpakPolicy == "own";
  if (s.inFlatpak) {
    s.appId = !facts.flatpakName.empty() ? facts.flatpakName : Variable(facts, "FLATPAK_ID");
    s.homeVisible = HomeVisible(facts.filesystems);
    s.persistent = Entries(facts.persistent);
  }
  const bool distrobox = !Variable(facts, "DISTROBOX_ENTER_PATH").empty() || !Variable(facts, "CONTAINER_ID").empty();
  if (facts.containerManager == "pressure-vessel") {
    s.kind = SandboxKind::kSteamContainer;
    const bool service = !Variable(facts, "SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM").empty();
    s.channel = service ? HostChannel::kLaunchClient : HostChannel::kPortal;
    // Steam's own Flatpak: its service runs inside the Flatpak, one step short of the host.
    s.alsoFlatpakSpawn = service && s.inFlatpak && talks;
  } else if (s.inFlatpak) {
    s.kind = SandboxKind::kFlatpak;
    s.channel = talks ? HostChannel::kFlatpakSpawn : HostChannel::kPortal;
  } else if (facts.snapMounts) {
    s.kind = SandboxKind::kSnap;
    s.appId = Variable(facts, "SNAP_NAME");
    s.channel = HostChannel::kPortal;
  } else if (facts.containerEnv || facts.toolboxEnv || (facts.dockerEnv && distrobox)) {
    // (A bare /.dockerenv is how some machines' images are built, no container Wine is kept in.)
    s.kind = SandboxKind::kContainer;
    s.appId = facts.toolboxEnv || !Variable(facts, "TOOLBOX_PATH").empty() ? "toolbox"
              : distrobox                                                   ? "distrobox"
                                                                            : Variable(facts, "container");
    for (const std::string& name : WayOutNames())
      for (const std::string& path : facts.wayOuts)
        if (s.wayOut.empty() && path.substr(path.rfind('/') + 1) == name) s.wayOut = {path};
    if (!s.wayOut.empty() && s.wayOut[0].ends_with("/flatpak-spawn")) s.wayOut.push_back("--host");
    s.channel = s.wayOut.empty() ? HostChannel::kDirect : HostChannel::kWayOut;
  }
  return s;
}

bool ContainersOwnPlayer(const Sandbox& sandbox, const std::string& playerPath, bool inside) {
  return sandbox.kind == SandboxKind::kContainer && inside && playerPath.find("/flatpak/exports/bin/") == std::string::npos &&
         playerPath.find("/snap/bin/") == std::string::npos;
}

std::vector<std::string> HostCommand(const Sandbox& sandbox, const std::vector<std::string>& argv) {
  std::vector<std::string> command;
  switch (sandbox.channel) {
    case HostChannel::kDirect: return argv;
    case HostChannel::kPortal: return {};
    case HostChannel::kFlatpakSpawn: command = {"flatpak-spawn", "--host"}; break;
    case HostChannel::kWayOut: command = sandbox.wayOut; break;
    case HostChannel::kLaunchClient:
      command = {"steam-runtime-launch-client", "--alongside-steam", "--"};
      if (sandbox.alsoFlatpakSpawn) command.insert(command.end(), {"flatpak-spawn", "--host"});
      break;
  }
  command.insert(command.end(), argv.begin(), argv.end());
  return command;
}

std::string HostPathOf(const Sandbox& sandbox, const std::string& path, std::string* why) {
  if (sandbox.kind == SandboxKind::kNone && !sandbox.inFlatpak) return path;
  // The host's own files, where containers show them.
  if (Under(path, "/run/host")) return path == "/run/host" ? "/" : path.substr(9);
  if (sandbox.kind == SandboxKind::kSnap && Under(path, "/var/lib/snapd/hostfs"))
    return path == "/var/lib/snapd/hostfs" ? "/" : path.substr(21);
  auto unseen = [&](const std::string& reason) {
    if (why) *why = path + " is in " + reason + ", which the host cannot see";
    return std::string();
  };
  if (sandbox.inFlatpak) {
    if (Under(path, "/tmp")) return unseen("the Flatpak's own /tmp");
    if (Under(path, "/app") || Under(path, "/usr")) return unseen("the Flatpak's runtime");
    if (Under(path, sandbox.home)) {
      const std::string rest = Rest(path, sandbox.home);
      const std::string own = ".var/app/" + sandbox.appId;
      if (Under(rest, own)) return path;
      for (const std::string& kept : sandbox.persistent)
        if (kept == "." || Under(rest, kept)) return sandbox.home + "/" + own + "/" + rest;
      if (!sandbox.homeVisible) return unseen("the Flatpak's own home");
    }
    return path;
  }
  if (sandbox.kind == SandboxKind::kSnap && Under(path, "/tmp")) return unseen("the Snap's own /tmp");
  if (Under(path, "/usr"))
    return unseen(sandbox.kind == SandboxKind::kSnap        ? "the base snap's /usr"
                  : sandbox.kind == SandboxKind::kContainer ? "the container's /usr"
                                                            : "the Steam Runtime's /usr");
  return path;
}

std::string HostWorkingFolder(const Sandbox& sandbox, const std::string& folder) {
  if (sandbox.channel == HostChannel::kDirect || HostPathOf(sandbox, folder, nullptr) == folder) return folder;
  return sandbox.home.empty() ? "/" : sandbox.home;
}

PrivatePlaces SharedPrivatePlaces(const Sandbox& sandbox, const PrivatePlaces& usual) {
  // Steam's container has a /run of its own: only the home is the host's.
  if (!sandbox.inFlatpak && sandbox.kind == SandboxKind::kSteamContainer) return {std::string(), usual.cache};
  if (!sandbox.inFlatpak || sandbox.appId.empty()) return usual;
  return {usual.runtime.empty() ? std::string() : usual.runtime + "/app/" + sandbox.appId,
          sandbox.home + "/.var/app/" + sandbox.appId + "/cache"};
}

std::string FullHandOffHint(const Sandbox& sandbox) {
  if (sandbox.inFlatpak && sandbox.kind == SandboxKind::kFlatpak)
    return "for the full hand-off, let the Flatpak start host commands: flatpak override --user "
           "--talk-name=org.freedesktop.Flatpak " + sandbox.appId;
  if (sandbox.kind == SandboxKind::kSteamContainer && sandbox.channel == HostChannel::kLaunchClient)
    return "for the full hand-off, Steam's launcher service must answer steam-runtime-launch-client "
           "--alongside-steam (it runs beside the Steam client)";
  if (sandbox.kind == SandboxKind::kSteamContainer)
    return "for the full hand-off, start the game from Steam, whose container offers its launcher "
           "service (SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM)";
  if (sandbox.kind == SandboxKind::kSnap)
    return "for the full hand-off, run a Wine that is not a Snap (the distribution's package)";
  return std::string();
}

std::string ChannelName(HostChannel channel) {
  switch (channel) {
    case HostChannel::kDirect: return "host commands run directly";
    case HostChannel::kFlatpakSpawn: return "host commands through flatpak-spawn --host";
    case HostChannel::kLaunchClient: return "host commands through steam-runtime-launch-client --alongside-steam";
    case HostChannel::kPortal: return "no host commands: files open with the desktop's opener (xdg-open, the portal)";
    case HostChannel::kWayOut: return "host commands through the container's way out";
  }
  return {};
}

}  // namespace modrik
