// `modrik doctor`: what a start in a prefix needs, checked in the order the
// start needs it, each with the command that mends what is wrong. Nothing
// is changed: the prefix's files and registry are read as they lie on the
// disk (system.reg, modrik-install, modrik.ini), and Wine is asked only for
// its version. The checks that need no prefix are in doctor_checks.cpp, the
// real start in doctor_start.cpp.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "change.h"
#include "doctor.h"

namespace fs = std::filesystem;

namespace hostcmd {

using modrik::frontends::ReadText;

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The checks of one prefix; each adds its line. The start needs them all.
class Examination {
 public:
  Examination(const Target& t, const DoctorOptions& o) : t_(t), o_(o), option_(OptionOf(t)) {}

  bool Run() {
    std::cout << t_.prefix << " (" << t_.Name() << "):\n";
    if (!t_.unreadable.empty()) return Say({"front-end", "its file cannot be read: " + t_.unreadable, ""});
    if (!t_.notReady.empty()) return Say({"front-end", "not ready: " + t_.notReady, ""});
    const bool prefix = Prefix(), wine = prefix && Wine();
    bool installed = false;
    if (prefix) {
      Server();
      Changes();
      installed = Modrik();
      if (installed) Registry();
      if (installed) Associations();
      Player();
    }
    Say(HomeCheck(home_));
    Say(DuesCheck(home_));
    Say(PrivateFolderCheck(Env("XDG_RUNTIME_DIR"), home_));
    if (!prefix) return ok_;
    const Check channel = ChannelCheck(ChannelOf(t_, ReadHostFacts()));
    Say(channel);
    if (!o_.start) return ok_;
    if (!ok_) {
      Say({"start", "not made: " + std::string(!wine ? "Wine cannot start"
                                                      : !installed ? "modrik is not installed"
                                                      : !channel.Ok() ? "the portal would open the file for real"
                                                                      : "the above comes first"), ""});
      return false;
    }
    if (!player_.empty() && player_[0] != '/')
      return Say({"start", "", "", "not made: a Windows player gets the command line as it is, through Wine"});
    std::vector<std::string> details;
    Say(RealStart(t_, places_[0].ExeWin(), player_, o_, &details));
    for (const std::string& line : details) std::cout << "    " << line << "\n";
    return ok_;
  }

 private:
  bool Say(const Check& check) {
    std::cout << "  " << check.Line() << "\n";
    ok_ = ok_ && check.Ok();
    return check.Ok();
  }

  bool Prefix() {
    arch_ = PrefixArch(t_.prefix);
    struct stat st;
    if (stat(t_.prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return Say({"prefix", "there is no folder " + t_.prefix,
                  t_.frontend == "wine" ? "WINEPREFIX=" + ShellWord(t_.prefix) + " wineboot -i" : ""});
    if (arch_.empty())
      return Say({"prefix", "is no Wine prefix (it has no system.reg)",
                  t_.frontend == "wine" ? "WINEPREFIX=" + ShellWord(t_.prefix) + " wineboot -i" : ""});
    if (st.st_uid != getuid())
      return Say({"prefix", "belongs to user " + std::to_string(st.st_uid) + ", not to you (" +
                                std::to_string(getuid()) + ")",
                  "sudo chown -R \"$USER\" " + ShellWord(t_.prefix)});
    places_ = Places(t_.prefix, arch_);
    if (places_[0].buildArch.empty())
      return Say({"prefix", "is a prefix for \"" + arch_ + "\", for which modrik.exe has no build", ""});
    return Say({"prefix", "", "", arch_});
  }

  bool Wine() {
    // The host's Wine (a Flatpak's is looked for inside it).
    const std::string program = t_.flatpakApp.empty() ? t_.wine : "flatpak";
    if (program.find('/') == std::string::npos ? FindOnPath(program).empty() : !PlayerError(program).empty())
      return Say({"wine", program + " is not installed here" + (program == t_.wine ? "" : " (for " + t_.Name() + ")"),
                  t_.frontend == "wine" && program == "wine" ? "sudo apt-get install wine" : ""});
    char log[] = "/tmp/modrik-doctor-wine-XXXXXX";
    const int fd = mkstemp(log);
    if (fd >= 0) close(fd);
    WineCommand c = WineCommandOf(t_, t_.wine, {"--version"});
    // Debian's wrapper says "wine32 is missing" unless WINEDEBUG turns it off.
    c.env.erase(std::remove_if(c.env.begin(), c.env.end(),
                               [](const std::string& e) { return e.rfind("WINEDEBUG=", 0) == 0; }),
                c.env.end());
    if (t_.flatpakApp.empty()) c.env.push_back("WINEDEBUG=fixme-all");
    const int status = fd < 0 ? -1 : hostcmd::Run(c.argv, c.env, log, o_.seconds);
    const std::string output = ReadText(log).value_or("");
    unlink(log);
    return Say(WineCheck(t_.wine, status, output, arch_, o_.seconds));
  }

  void Server() {
    if (!t_.flatpakApp.empty() && FlatpakRunning(t_.flatpakApp)) {
      Say({"wineserver", "", "", "the Flatpak " + t_.flatpakApp + " runs: its Wine may serve the prefix"});
    } else {
      inUse_ = ServerRunning(t_.prefix);
      Say({"wineserver", "", "", inUse_ ? "running: Windows programs of the prefix are open (a start that "
                                          "hangs names it stuck)"
                                        : "none running"});
    }
  }

  void Changes() {
    // The state folder read as `list` reads it: through no link, checked
    // against what modrik writes there, without waiting for a change.
    if (PrefixLock::Busy(t_.prefix)) {
      Say({"changes", "a change is under way (modrik install or uninstall)",
           "wait for it to end, then run modrik doctor " + option_ + " again"});
      halfDone_ = true;
      return;
    }
    const InstallState state = ReadInstallState(t_.prefix, DesktopFiles());
    const std::string cut = state.journal.operation;
    if (!state.refused.empty() || !state.damaged.empty())
      Say({"changes", "modrik's state cannot be trusted: " + (state.refused.empty() ? state.damaged[0] : state.refused),
           "modrik uninstall " + option_ + " (it takes modrik's files and keys away), then modrik install " + option_});
    else if (cut == "install")
      Say({"changes", "modrik is half-installed: an install was cut short",
           "modrik install " + option_ + " (modrik uninstall " + option_ + " takes it back)"});
    else if (cut == "uninstall")
      Say({"changes", "modrik is half-removed: an uninstall was cut short", "modrik uninstall " + option_});
    else
      Say({"changes", "", "", "none cut short"});
    halfDone_ = !cut.empty() || !state.refused.empty() || !state.damaged.empty();
  }

  bool Modrik() {
    const std::string state = t_.prefix + "/modrik-install";
    if (!Exists(state + "/installed")) {
      if (!halfDone_) Say({"modrik", "is not installed in this prefix", "modrik install " + option_});
      return false;
    }
    std::string version;
    std::istringstream record(ReadText(state + "/installed").value_or(""));
    for (std::string line; std::getline(record, line);)
      if (line.rfind("version=", 0) == 0) version = line.substr(8);
    std::vector<std::string> wrong;
    for (const Place& p : places_) {
      const std::string exe = p.Exe(), shipped = ShippedExe(p.buildArch);
      if (!Exists(exe))
        wrong.push_back(p.ExeWin() + " is missing");
      else if (!IsModrik(exe))
        wrong.push_back(p.ExeWin() + " is not modrik");
      else if (!shipped.empty() && Sha256(shipped) != Sha256(exe))
        wrong.push_back(p.ExeWin() + " is not the build shipped with this command (" + shipped + ")");
    }
    if (version != MODRIK_VERSION) wrong.push_back("version " + (version.empty() ? "unknown" : version) + " installed");
    std::string text;
    for (const std::string& w : wrong) text += (text.empty() ? "" : "; ") + w;
    Say({"modrik", text.empty() ? "" : "not current: " + text, "modrik install " + option_,
         std::string(MODRIK_VERSION) + ", current"});
    return true;
  }

  void Registry() {
    if (inUse_) {
      Say({"registry", "", "", "not read: the prefix is in use, and its registry on the disk may be behind"});
      return;
    }
    systemReg_ = ReadText(t_.prefix + "/system.reg").value_or("");
    std::vector<std::string> wrong;
    for (const Place& p : places_) {
      const std::string view = p.keep.empty() ? "Software" : "Software\\Wow6432Node";
      const auto named = MachineKeyDefault(systemReg_, view + "\\VideoLAN\\VLC");
      if (!named || *named != p.ExeWin()) wrong.push_back("HKLM\\" + view + "\\VideoLAN\\VLC does not name " + p.ExeWin());
    }
    const auto path = MachineKeyDefault(systemReg_, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe");
    if (!path || *path != places_[0].ExeWin()) wrong.push_back("App Paths\\vlc.exe does not name " + places_[0].ExeWin());
    std::string text;
    for (const std::string& w : wrong) text += (text.empty() ? "" : "; ") + w;
    Say({"registry", text, "modrik install " + option_, "names " + places_[0].ExeWin()});
  }

  // Asked for when the install wrote or kept keys of the classes (its
  // state says so), or the registry has modrik's application entry.
  void Associations() {
    if (inUse_) return;
    const std::string state = ReadText(t_.prefix + "/modrik-install/registry.keys").value_or("") +
                              ReadText(t_.prefix + "/modrik-install/registry.saved").value_or("");
    auto holds = [&](const std::string& words) {
      return std::search(state.begin(), state.end(), words.begin(), words.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
             }) != state.end();
    };
    const std::string app = "Software\\Classes\\Applications\\vlc.exe";
    const bool asked = holds("\\Classes\\VLC.") || holds("\\Classes\\Applications\\vlc.exe") ||
                       MachineKeyDefault(systemReg_, app + "\\shell\\Open\\command");
    if (!asked) {
      Say({"associations", "", "", "not asked for"});
      return;
    }
    std::vector<std::string> types;
    for (const std::string& name : MachineKeyValueNames(systemReg_, app + "\\SupportedTypes"))
      if (name.size() > 1 && name[0] == '.') types.push_back(name.substr(1));
    std::string broken;
    size_t count = 0;
    for (const std::string& type : types) {
      const auto id = MachineKeyDefault(systemReg_, "Software\\Classes\\." + type);
      const auto open = id ? MachineKeyDefault(systemReg_, "Software\\Classes\\" + *id + "\\shell\\Open\\command")
                           : std::nullopt;
      if (open && open->find(places_[0].ExeWin()) != std::string::npos) continue;
      if (++count <= 5) broken += " ." + type;
    }
    if (types.empty())
      Say({"associations", "asked for, but HKLM\\" + app + " names no media types",
           "modrik install " + option_ + " --associate"});
    else if (count > 0)
      Say({"associations", std::to_string(count) + " of " + std::to_string(types.size()) +
                               " media types do not open with modrik:" + broken + (count > 5 ? " ..." : ""),
           "modrik install " + option_ + " --associate"});
    else
      Say({"associations", "", "", std::to_string(types.size()) + " media types open with modrik"});
  }

  // The player of the 64-bit place's modrik.ini (the one a start by name
  // and by association runs), checked here on the host, where every
  // channel but the portal starts it.
  void Player() {
    const std::optional<std::string> set = places_.empty() ? std::nullopt : SettingsPlayer(places_[0].Ini());
    const std::string found = FindOnPath("vlc");
    const std::string mend = "modrik install " + option_ + " --player " + (found.empty() ? "/usr/bin/vlc" : found);
    if (!set || set->empty()) {
      player_ = found;
      if (found.empty())
        Say({"player", std::string(set ? "modrik.ini names no player" : "there is no modrik.ini") +
                           ", and no vlc is on PATH to be found",
             "sudo apt-get install vlc, then " + mend});
      else
        Say({"player", "", "", std::string(set ? "modrik.ini names none" : "no modrik.ini") +
                                   ": the first start's detection finds " + found});
      return;
    }
    player_ = *set;
    if ((*set)[0] != '/') {
      Say({"player", "", "", "vlcpath=" + *set + ", a Windows player: started through Wine"});
      return;
    }
    const std::string why = PlayerError(*set);
    Say({"player", why.empty() ? "" : "vlcpath=" + *set + " " + why + " on the host", mend,
         "vlcpath=" + *set + ", an executable file on the host"});
  }

  const Target& t_;
  const DoctorOptions& o_;
  const std::string option_;
  const std::string home_ = Env("HOME");
  std::string arch_, systemReg_, player_;
  std::vector<Place> places_;
  bool inUse_ = false, halfDone_ = false, ok_ = true;
};

}  // namespace

int Doctor(const std::vector<Target>& targets, const DoctorOptions& options) {
  if (targets.empty()) return 1;  // said by the caller
  int found = 0;
  for (const Target& t : targets) {
    if (Interrupted()) return 128 + Interrupted();
    if (!Examination(t, options).Run()) found++;
  }
  if (found == 0) {
    std::cout << "modrik doctor: every start will work.\n";
    return 0;
  }
  std::cout << "modrik doctor: " << found << " of " << targets.size()
            << (targets.size() == 1 ? " prefix has" : " prefixes have") << " a start that will not work.\n";
  return kDoctorFound;
}

}  // namespace hostcmd
