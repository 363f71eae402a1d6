// Which sandbox this is and how its host commands reach the host: plain
// decisions on what the sandbox shows.
//
//   Flatpak with org.freedesktop.Flatpak   flatpak-spawn --host PLAYER ARGS
//   Steam's container with its service     steam-runtime-launch-client --alongside-steam -- PLAYER ARGS
//   other Flatpaks, umu's container, Snap  xdg-open FILE (the portal: one file, the default player)
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

std::string Joined(const std::vector<std::string>& words, const std::string& between) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : between) + w;
  return out;
}

}  // namespace

const std::vector<std::string>& SandboxVariables() {
  static const std::vector<std::string> names = {
      "container", "FLATPAK_ID", "PRESSURE_VESSEL_RUNTIME", "PRESSURE_VESSEL_RUNTIME_BASE", "STEAM_COMPAT_DATA_PATH",
      "STEAM_COMPAT_CLIENT_INSTALL_PATH", "SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM", "SNAP", "SNAP_NAME",
      "XDG_RUNTIME_DIR"};
  return names;
}

Sandbox DecideSandbox(const SandboxFacts& facts) {
  Sandbox s;
  s.home = facts.home;
  s.runtimeDir = Variable(facts, "XDG_RUNTIME_DIR");
  s.inFlatpak = facts.hasFlatpakInfo || Variable(facts, "container") == "flatpak" ||
                !Variable(facts, "FLATPAK_ID").empty() || facts.containerManager == "flatpak";
  const bool talks = facts.flatpakPolicy == "talk" || facts.flatpakPolicy == "own";
  if (s.inFlatpak) {
    s.appId = !facts.flatpakName.empty() ? facts.flatpakName : Variable(facts, "FLATPAK_ID");
    s.homeVisible = HomeVisible(facts.filesystems);
    s.persistent = Entries(facts.persistent);
  }
  if (facts.containerManager == "pressure-vessel" || !Variable(facts, "PRESSURE_VESSEL_RUNTIME").empty() ||
      !Variable(facts, "PRESSURE_VESSEL_RUNTIME_BASE").empty()) {
    s.kind = SandboxKind::kSteamContainer;
    const bool service = !Variable(facts, "SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM").empty();
    s.channel = service ? HostChannel::kLaunchClient : HostChannel::kPortal;
    // Steam's own Flatpak: its service runs inside the Flatpak, one step short of the host.
    s.alsoFlatpakSpawn = service && s.inFlatpak && talks;
  } else if (s.inFlatpak) {
    s.kind = SandboxKind::kFlatpak;
    s.channel = talks ? HostChannel::kFlatpakSpawn : HostChannel::kPortal;
  } else if (!Variable(facts, "SNAP").empty() || !Variable(facts, "SNAP_NAME").empty()) {
    s.kind = SandboxKind::kSnap;
    s.appId = Variable(facts, "SNAP_NAME");
    s.channel = HostChannel::kPortal;
  }
  return s;
}

std::vector<std::string> HostCommand(const Sandbox& sandbox, const std::vector<std::string>& argv) {
  std::vector<std::string> command;
  switch (sandbox.channel) {
    case HostChannel::kDirect: return argv;
    case HostChannel::kPortal: return {};
    case HostChannel::kFlatpakSpawn: command = {"flatpak-spawn", "--host"}; break;
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
  if (Under(path, "/usr")) return unseen(sandbox.kind == SandboxKind::kSnap ? "the base snap's /usr" : "the Steam Runtime's /usr");
  return path;
}

std::string HostWorkingFolder(const Sandbox& sandbox, const std::string& folder) {
  if (sandbox.channel == HostChannel::kDirect || HostPathOf(sandbox, folder, nullptr) == folder) return folder;
  return sandbox.home.empty() ? "/" : sandbox.home;
}

PrivatePlaces SharedPrivatePlaces(const Sandbox& sandbox, const PrivatePlaces& usual) {
  if (!sandbox.inFlatpak || sandbox.appId.empty()) return usual;
  return {usual.runtime.empty() ? std::string() : usual.runtime + "/app/" + sandbox.appId,
          sandbox.home + "/.var/app/" + sandbox.appId + "/cache"};
}

OpenerPlan PlanOpener(const Sandbox& sandbox, const std::vector<std::string>& playerArgs) {
  OpenerPlan plan;
  std::vector<std::string> options, targets;
  bool onlyTargets = false;
  for (const std::string& arg : playerArgs) {
    if (!onlyTargets && arg == "--") onlyTargets = true;
    else if (!onlyTargets && !arg.empty() && arg[0] == '-') options.push_back(arg);
    else targets.push_back(arg);
  }
  if (targets.empty()) {
    plan.traces.push_back("the desktop's opener takes one file or address, and there is none: nothing is opened");
  } else {
    plan.command = {kDesktopOpener, targets[0]};
    plan.traces.push_back("opening " + targets[0] + " with the desktop's opener, in the default player for its type");
  }
  std::vector<std::string> lost;
  if (!options.empty()) lost.push_back("the player's options " + Joined(options, " "));
  if (targets.size() > 1) lost.push_back(std::to_string(targets.size() - 1) + " more file" + (targets.size() > 2 ? "s" : ""));
  lost.push_back("the wait for the player and its exit code");
  plan.traces.push_back("lost through the desktop's opener: " + Joined(lost, ", "));
  if (sandbox.inFlatpak && sandbox.kind == SandboxKind::kFlatpak)
    plan.traces.push_back("for the full hand-off, let the Flatpak start host commands: flatpak override --user "
                          "--talk-name=org.freedesktop.Flatpak " + sandbox.appId);
  else if (sandbox.kind == SandboxKind::kSteamContainer)
    plan.traces.push_back("for the full hand-off, start the game from Steam, whose container offers its launcher "
                          "service (SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM)");
  else if (sandbox.kind == SandboxKind::kSnap)
    plan.traces.push_back("for the full hand-off, run a Wine that is not a Snap (the distribution's package)");
  return plan;
}

std::string ChannelName(HostChannel channel) {
  switch (channel) {
    case HostChannel::kDirect: return "host commands run directly";
    case HostChannel::kFlatpakSpawn: return "host commands through flatpak-spawn --host";
    case HostChannel::kLaunchClient: return "host commands through steam-runtime-launch-client --alongside-steam";
    case HostChannel::kPortal: return "no host commands: files open with the desktop's opener (xdg-open, the portal)";
  }
  return {};
}

}  // namespace modrik
