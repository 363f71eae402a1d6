// `modrik list`: what is installed in each prefix, read from the prefix
// without running Wine and without waiting for a change under way.
#include <iostream>

#include "change.h"

namespace hostcmd {

int List(const std::vector<Target>& targets) {
  for (const Target& t : targets) {
    std::cout << t.prefix << " (" << t.Name() << "): ";
    const std::string arch = PrefixArch(t.prefix);
    if (!t.notReady.empty()) {
      std::cout << "not ready: " << t.notReady << "\n";
      continue;
    }
    if (arch.empty()) {
      std::cout << "no Wine prefix\n";
      continue;
    }
    const bool inUse = ServerRunning(t.prefix);
    std::cout << arch << (inUse ? ", in use" : "");
    // A change under way holds the lock: `list` does not wait for it.
    if (PrefixLock::Busy(t.prefix)) {
      std::cout << ", a change is under way (modrik install or uninstall)\n";
      continue;
    }
    const InstallState state = ReadInstallState(t.prefix, DesktopFiles());
    if (!state.refused.empty() || !state.damaged.empty()) {
      std::cout << ", modrik's state cannot be trusted: "
                << (state.refused.empty() ? state.damaged[0] : state.refused)
                << " (modrik uninstall takes modrik's files and keys away)\n";
      continue;
    }
    const std::string cutShort = state.journal.operation;
    if (cutShort == "install") {
      std::cout << ", modrik half-installed (modrik install finishes it, modrik uninstall takes it back)\n";
      continue;
    }
    if (cutShort == "uninstall") {
      std::cout << ", modrik half-removed (modrik uninstall finishes it)\n";
      continue;
    }
    // What is there: each place's vlc.exe, and the key of its registry view
    // (as saved on the disk: not while the prefix is in use).
    const bool installed = state.installed;
    const std::string systemReg = inUse ? "" : ReadOwnFile(t.prefix + "/system.reg").value_or("");
    std::vector<std::string> found;
    bool current = true;
    for (const Place& p : Places(t.prefix, arch)) {
      const bool there = Exists(p.Exe()), modrik = there && IsModrik(p.Exe());
      const std::optional<std::string> named =
          MachineKeyDefault(systemReg, std::string("Software") + (p.keep.empty() ? "" : "\\Wow6432Node") + "\\VideoLAN\\VLC");
      const bool namesIt = inUse || (named && *named == p.ExeWin());
      if (installed) {
        if (!there) found.push_back(p.ExeWin() + " is missing");
        if (there && !modrik) found.push_back(p.ExeWin() + " is not modrik");
        if (!namesIt) found.push_back("the registry does not name " + p.ExeWin());
        const std::string shipped = ShippedExe(p.buildArch);
        current = current && modrik && !shipped.empty() && Sha256(shipped) == Sha256(p.Exe());
      } else {
        if (modrik) found.push_back(p.ExeWin() + " is modrik");
        if (!inUse && namesIt && !there) found.push_back("the registry names " + p.ExeWin() + ", which is missing");
      }
    }
    std::string notes;
    for (const std::string& f : found) notes += (notes.empty() ? "" : "; ") + f;
    if (!installed) {
      std::cout << ", modrik not installed" << (notes.empty() ? "" : ": " + notes) << "\n";
      continue;
    }
    const std::string& version = state.version;
    std::cout << ", modrik " << (version.empty() ? "(version unknown)" : version);
    if (!notes.empty())
      std::cout << ", not current: " << notes << " (modrik install repairs it)\n";
    else
      std::cout << (current && version == MODRIK_VERSION ? ", current\n" : ", not current (modrik install updates it)\n");
  }
  return 0;
}

}  // namespace hostcmd
