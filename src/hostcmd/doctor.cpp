// `modrik doctor`: what a start in a prefix needs, checked in the order the
// start needs it, each with the command that mends what is wrong. Nothing
// is changed: the prefix's files and registry are read as they lie on the
// disk (system.reg, modrik-install, modrik.ini), and Wine is asked only for
// its version. The real start is in doctor_start.cpp.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "hostcmd.h"

namespace fs = std::filesystem;

namespace hostcmd {

using modrik::frontends::ReadText;

namespace {

// Where Debian's wine wrapper keeps the 32-bit loader, and where
// dpkg-divert sets it aside.
const char kLoader[] = "/usr/lib/wine/wine";
const char kLoaderAside[] = "/usr/lib/wine/wine.i386-set-aside-by-modrik";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Mode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// The last line of a program's output that says something.
std::string LastLine(const std::string& output) {
  std::istringstream in(output);
  std::string last;
  for (std::string line; std::getline(in, line);)
    if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
  if (!last.empty() && last.back() == '\r') last.pop_back();
  return last;
}

// What is wrong with a folder that must be the user's own, without the
// mode bits `forbidden`; "" when nothing is. A link is not followed.
std::string FolderFault(const std::string& path, mode_t forbidden) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "is missing";
  if (S_ISLNK(st.st_mode)) return "is a link";
  if (!S_ISDIR(st.st_mode)) return "is no folder";
  if (st.st_uid != getuid()) return "belongs to user " + std::to_string(st.st_uid);
  if ((st.st_mode & forbidden) != 0) return "has mode " + Mode(st.st_mode) + ": others may use it";
  return "";
}

// One place of modrik.exe in a prefix, and the registry view that names it.
struct Place {
  std::string folderWin, folder, view, buildArch;
  std::string ExeWin() const { return folderWin + "\\vlc.exe"; }
};

std::vector<Place> PlacesOf(const std::string& prefix, const std::string& arch) {
  std::vector<Place> places = {{"C:\\Program Files\\VideoLAN\\VLC", prefix + "/drive_c/Program Files/VideoLAN/VLC",
                                "Software", BuildArchOf(arch)}};
  if (arch == "win64")
    places.push_back({"C:\\Program Files (x86)\\VideoLAN\\VLC", prefix + "/drive_c/Program Files (x86)/VideoLAN/VLC",
                      "Software\\Wow6432Node", "i686"});
  return places;
}

// vlcpath of a modrik.ini ("" when it has none), nullopt without the file.
std::optional<std::string> PlayerOf(const std::string& ini) {
  const std::optional<std::string> text = ReadText(ini);
  if (!text) return std::nullopt;
  std::istringstream lines(*text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (Lower(line).rfind("vlcpath=", 0) == 0) return line.substr(8);
  }
  return "";
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
    const Check channel = ChannelCheck(ChannelOf(t_, ReadHostFacts()));
    if (prefix) Say(channel);
    if (!o_.start || !prefix) return ok_;
    if (!ok_) {
      Say({"start", "not made: " + std::string(!wine ? "Wine cannot start"
                                                      : !installed ? "modrik is not installed"
                                                      : !channel.Ok() ? "the portal would open the file for real"
                                                                      : "the above comes first"), ""});
      return false;
    }
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
    places_ = PlacesOf(t_.prefix, arch_);
    if (places_[0].buildArch.empty())
      return Say({"prefix", "is a prefix for \"" + arch_ + "\", for which modrik.exe has no build", ""});
    return Say({"prefix", "", "", arch_});
  }

  bool Wine() {
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
    const std::string cut = ParseJournal(ReadText(t_.prefix + "/modrik-install/journal").value_or("")).operation;
    if (cut == "install")
      Say({"changes", "modrik is half-installed: an install was cut short",
           "modrik install " + option_ + " (modrik uninstall " + option_ + " takes it back)"});
    else if (cut == "uninstall")
      Say({"changes", "modrik is half-removed: an uninstall was cut short", "modrik uninstall " + option_});
    else
      Say({"changes", "", "", cut.empty() ? "none cut short" : "a change \"" + cut + "\" of no known kind"});
    halfDone_ = !cut.empty();
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
      const std::string exe = p.folder + "/vlc.exe", shipped = ShippedExe(p.buildArch);
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
      const auto named = MachineKeyDefault(systemReg_, p.view + "\\VideoLAN\\VLC");
      if (!named || *named != p.ExeWin()) wrong.push_back("HKLM\\" + p.view + "\\VideoLAN\\VLC does not name " + p.ExeWin());
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
    const std::string state = Lower(ReadText(t_.prefix + "/modrik-install/registry.keys").value_or("") +
                                    ReadText(t_.prefix + "/modrik-install/registry.saved").value_or(""));
    const std::string app = "Software\\Classes\\Applications\\vlc.exe";
    const bool asked = state.find("\\classes\\vlc.") != std::string::npos ||
                       state.find("\\classes\\applications\\vlc.exe") != std::string::npos ||
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
      Say({"associations", "asked for, but HKLM\\" + app + " names no media types", "modrik install " + option_ + " --associate"});
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
    const std::optional<std::string> set = places_.empty() ? std::nullopt : PlayerOf(places_[0].folder + "/modrik.ini");
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

std::string Check::Line() const {
  if (Ok()) return name + ": ok" + (note.empty() ? "" : " (" + note + ")");
  return name + ": " + wrong + (mend.empty() ? "" : "; mend: " + mend);
}

Check WineCheck(const std::string& wine, int status, const std::string& output, const std::string& arch,
                int seconds) {
  const std::string lower = Lower(output);
  if (status == -1 && output.empty())
    return {"wine", wine + " gave no answer within " + std::to_string(seconds) + " s, or could not be started", ""};
  if (lower.find("exec format error") != std::string::npos) {
    if (arch == "win32")
      return {"wine", wine + " cannot start: Exec format error: this kernel runs no 32-bit programs, and this prefix is "
                      "32-bit", "none on this kernel: use the prefix on one that runs 32-bit programs"};
    return {"wine", wine + " cannot start: Exec format error: this kernel runs no 32-bit programs, and Debian's wine "
                    "picks the loader of wine32 (" + std::string(kLoader) + ") for 64-bit prefixes too",
            "sudo dpkg-divert --rename --divert " + std::string(kLoaderAside) + " --add " + kLoader};
  }
  if (status != 0)
    return {"wine", wine + " cannot start (exit status " + std::to_string(status) + "): " + LastLine(output), ""};
  const bool no32 = lower.find("wine32 is missing") != std::string::npos;
  if (no32 && arch == "win32")
    return {"wine", "wine32 is missing, which this 32-bit prefix needs",
            "sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install wine32:i386"};
  return {"wine", "", "", wine + ": " + LastLine(output) + (no32 ? "; no wine32: 32-bit programs of the prefix cannot start" : "")};
}

Check HomeCheck(const std::string& home) {
  struct stat st;
  if (home.empty() || home[0] != '/' || stat(home.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return {"home", "$HOME (" + home + ") is no folder: every start is refused (126)", ""};
  if (st.st_uid != getuid())
    return {"home", home + " belongs to user " + std::to_string(st.st_uid) + ": every start is refused (126)",
            "sudo chown \"$USER\" " + ShellWord(home)};
  if ((st.st_mode & 022) != 0)
    return {"home", home + " has mode " + Mode(st.st_mode) + ": others may write it, and every start is refused (126)",
            "chmod go-w " + ShellWord(home)};
  return {"home", "", "", home + ", mode " + Mode(st.st_mode)};
}

Check DuesCheck(const std::string& home) {
  const std::string dues = home + "/dues.sh";
  struct stat st;
  if (lstat(dues.c_str(), &st) != 0) return {"dues.sh", "", "", "none yet: a start writes it"};
  if (S_ISLNK(st.st_mode))
    return {"dues.sh", dues + " is a link: no start writes its host command there", "rm " + ShellWord(dues)};
  if (S_ISDIR(st.st_mode))
    return {"dues.sh", dues + " is a folder: no start can write its host command there",
            "mv " + ShellWord(dues) + " " + ShellWord(dues + ".folder")};
  if (!S_ISREG(st.st_mode) || st.st_uid != getuid())
    return {"dues.sh", dues + " is not a file of yours: no start can write its host command there",
            "rm " + ShellWord(dues)};
  return {"dues.sh", "", "", dues};
}

Check PrivateFolderCheck(const std::string& runtime, const std::string& home) {
  // As a start chooses it: modrik in the runtime folder (the user's alone),
  // else in ~/.cache (writable by the user alone); modrik's own folder,
  // made when missing, the user's alone.
  std::vector<std::string> faults, faulty;
  const struct {
    std::string path;
    mode_t forbidden;
  } places[] = {{runtime, 077}, {home + "/.cache", 022}};
  for (const auto& place : places) {
    if (place.path.empty() || place.path[0] != '/') continue;
    std::string fault = FolderFault(place.path, place.forbidden), path = place.path;
    if (fault == "is missing" && place.forbidden == 022) fault = "";  // a start makes ~/.cache
    if (fault.empty() && Exists(place.path + "/modrik")) {
      path = place.path + "/modrik";
      fault = FolderFault(path, 077);
    }
    if (fault.empty()) return {"private folder", "", "", place.path + "/modrik"};
    faults.push_back(path + " " + fault);
    faulty.push_back(path);
  }
  std::string text;
  for (const std::string& f : faults) text += (text.empty() ? "" : "; ") + f;
  return {"private folder", "none is fit (" + text + "): the player is not started (126)",
          "chmod go-rwx " + ShellWord(faulty.empty() ? home + "/.cache" : faulty.back())};
}

Check ChannelCheck(const std::string& channel) {
  const bool lost = channel.rfind("portal", 0) == 0 || channel.rfind("none", 0) == 0 ||
                    channel.find("but none is here") != std::string::npos ||
                    channel.find("may not start host programs") != std::string::npos;
  if (!lost) return {"channel", "", "", channel};
  // The words of `list` hold the remedy after "the whole hand-off: ".
  const std::string marker = "the whole hand-off: ";
  const size_t at = channel.find(marker);
  if (at == std::string::npos) return {"channel", channel, ""};
  std::string wrong = channel.substr(0, at);
  while (!wrong.empty() && (wrong.back() == ' ' || wrong.back() == ';' || wrong.back() == ',')) wrong.pop_back();
  return {"channel", wrong, channel.substr(at + marker.size())};
}

std::vector<std::string> MachineKeyValueNames(const std::string& systemReg, const std::string& key) {
  std::string section = "\n[";
  for (char c : key) section += c == '\\' ? std::string("\\\\") : std::string(1, c);
  section += "]";
  const size_t at = Lower(systemReg).find(Lower(section));
  const size_t end = at == std::string::npos ? at : systemReg.find('\n', at + 1);
  std::vector<std::string> names;
  if (end == std::string::npos) return names;
  std::istringstream lines(systemReg.substr(end + 1, 1 << 20));
  for (std::string line; std::getline(lines, line) && !line.empty() && line[0] != '[' && names.size() < 4096;) {
    if (line.rfind("@=", 0) == 0) names.push_back("");
    if (line[0] != '"') continue;
    std::string name;
    size_t i = 1;
    for (; i < line.size() && line[i] != '"'; i++) {
      if (line[i] == '\\' && i + 1 < line.size()) i++;
      name += line[i];
    }
    if (i < line.size()) names.push_back(name);
  }
  return names;
}

int Doctor(const std::vector<Target>& targets, const DoctorOptions& options) {
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
