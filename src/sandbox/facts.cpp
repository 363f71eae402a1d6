// What this process can read about its sandbox, through Wine: the files
// /.flatpak-info and /run/host/container-manager by their host paths (Wine's
// \\?\unix\ form needs no drive), and the variables Wine passes on.
#include "platform/platform.h"
#include "sandbox/sandbox.h"

namespace modrik {

namespace {

const char kFlatpakInfo[] = "\\\\?\\unix\\.flatpak-info";
const char kContainerManager[] = "\\\\?\\unix\\run\\host\\container-manager";

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
  return facts;
}

const Sandbox& CurrentSandbox(const std::string& home) {
  static const Sandbox sandbox = [&] {
    Sandbox s = DecideSandbox(ReadSandboxFacts(home));
    if (s.kind != SandboxKind::kNone || s.inFlatpak)
      platform::Sys().Trace("in a sandbox (" + (s.appId.empty() ? std::string("container") : s.appId) + "): " +
                            ChannelName(s.channel));
    return s;
  }();
  return sandbox;
}

}  // namespace modrik
