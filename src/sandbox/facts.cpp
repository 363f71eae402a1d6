// What this process can read about its sandbox, through Wine: its files
// (/.flatpak-info, /run/host/container-manager, a Snap's mounts, a
// container's marks and ways out) by their host paths, in Wine's form
// \\?\unix\PATH (which needs no drive), and the variables Wine passes on.
#include "platform/platform.h"
#include "sandbox/sandbox.h"

namespace modrik {

namespace {

const char kUnix[] = "\\\\?\\unix";
const char kFlatpakInfo[] = "\\\\?\\unix\\.flatpak-info";
const char kContainerManager[] = "\\\\?\\unix\\run\\host\\container-manager";
// Where a container keeps the programs that lead out of it.
const char* const kToolFolders[] = {"/usr/local/bin/", "/usr/bin/", "/bin/"};

// Whether something is at a host path (one without backslashes).
bool Exists(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return platform::Sys().FileAttributesExist(kUnix + path);
}

}  // namespace

SandboxFacts ReadSandboxFacts(const std::string& home) {
  platform::Platform& sys = platform::Sys();
  SandboxFacts facts;
  facts.home = home;
  facts.hasFlatpakInfo = sys.FileAttributesExist(kFlatpakInfo);
  if (facts.hasFlatpakInfo) {
    auto value = [&](const char* section, const char* key) {
      return sys.ProfileString(section, key, "", kFlatpakInfo, 4096);
    };
    facts.flatpakName = value("Application", "name");
    facts.flatpakPolicy = value("Session Bus Policy", "org.freedesktop.Flatpak");
    facts.filesystems = value("Context", "filesystems");
    facts.persistent = value("Context", "persistent");
  }
  std::string manager;
  if (sys.ReadWholeFile(kContainerManager, 4096, &manager)) facts.containerManager = manager.substr(0, manager.find('\n'));
  for (const std::string& name : SandboxVariables()) {
    const std::string value = sys.EnvironmentVariable(name);
    if (!value.empty()) facts.variables[name] = value;
  }
  facts.snapMounts = Exists("/meta/snap.yaml") || Exists("/var/lib/snapd/hostfs/usr");
  facts.containerEnv = Exists("/run/.containerenv");
  facts.toolboxEnv = Exists("/run/.toolboxenv");
  facts.dockerEnv = Exists("/.dockerenv");
  // The ways out, in a container (a bare /.dockerenv is none: see DecideSandbox).
  if (facts.containerEnv || facts.toolboxEnv ||
      (facts.dockerEnv && (facts.variables.count("DISTROBOX_ENTER_PATH") || facts.variables.count("CONTAINER_ID"))))
    for (const std::string& name : WayOutNames())
      for (const char* folder : kToolFolders)
        if (Exists(folder + name)) facts.wayOuts.push_back(folder + name);
  return facts;
}

const Sandbox& CurrentSandbox(const std::string& home) {
  static const Sandbox sandbox = [&] {
    Sandbox s = DecideSandbox(ReadSandboxFacts(home));
    if (s.kind != SandboxKind::kNone || s.inFlatpak) {
      std::string channel = ChannelName(s.channel);
      for (const std::string& word : s.wayOut) channel += " " + word;
      platform::Sys().Trace("in a sandbox (" + (s.appId.empty() ? std::string("container") : s.appId) + "): " +
                            channel);
    }
    return s;
  }();
  return sandbox;
}

}  // namespace modrik
