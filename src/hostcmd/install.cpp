// Installing modrik.exe into a prefix as the player's executable, undoing it,
// and listing it. In a 64-bit prefix there are two of everything, one for
// each registry view: the 64-bit build in C:\Program Files\VideoLAN\VLC,
// named by the 64-bit view, and the 32-bit build in
// C:\Program Files (x86)\VideoLAN\VLC, named by the 32-bit view
// (HKLM\SOFTWARE\Wow6432Node), as the player's own installers of each build
// would have it. App Paths is one key for both views: it names the 64-bit build. A 32-bit prefix has
// the 32-bit build in C:\Program Files and one view.
//
// The state of an install is kept in PREFIX/modrik-install, each file
// written whole or not at all:
//   journal                   the change under way (see Journal), while it is
//   installed                 version=..., sha256=... of each build installed
//   registry.keys             the keys uninstall deletes (below HKLM\SOFTWARE,
//                             both views; the highest key an install created)
//   registry.saved            what uninstall imports again (as they were)
//   [x86-]vlc.exe.replaced    a player executable that was there (--force)
//   [x86-]modrik.ini.replaced a settings file that was there
//   [x86-]vlc.exe.absent      there was no vlc.exe
//   created-files             desktop files modrik makes that were not there
// An uninstall removes the folder last, after the registry is restored: until
// then a cut-short uninstall can be finished.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "hostcmd.h"

namespace fs = std::filesystem;

namespace hostcmd {

using modrik::frontends::ReadText;

namespace {

const char kSoftware[] = "HKEY_LOCAL_MACHINE\\SOFTWARE";
const char kMediaTypes[] =
    "3g2 3gp aac ac3 aif aiff amr ape asf au avi divx dv f4v flac flv m2ts m2v m4a m4v mka mkv mov mp2 "
    "mp3 mp4 mpeg mpg mts mxf oga ogg ogm ogv opus ra rm rmvb ts vob wav webm wma wmv";

// One place the stand-in goes, and the registry view that names it.
struct Place {
  std::string folderWin;  // C:\Program Files\VideoLAN\VLC
  std::string folder;     // its host path
  std::string software;   // HKLM\SOFTWARE of the view
  std::string classes;    // HKEY_CLASSES_ROOT of the view
  std::string buildArch;  // the build it gets
  std::string keep;       // prefix of its state files
  std::string exe;        // the build to copy there
  std::string ExeWin() const { return folderWin + "\\vlc.exe"; }
  std::string Exe() const { return folder + "/vlc.exe"; }
  std::string Ini() const { return folder + "/modrik.ini"; }
};

std::vector<Place> Places(const std::string& prefix, const std::string& arch) {
  const std::string sw = kSoftware;
  std::vector<Place> places;
  places.push_back({"C:\\Program Files\\VideoLAN\\VLC", prefix + "/drive_c/Program Files/VideoLAN/VLC", sw,
                    sw + "\\Classes", BuildArchOf(arch), "", ""});
  if (arch == "win64")
    places.push_back({"C:\\Program Files (x86)\\VideoLAN\\VLC",
                      prefix + "/drive_c/Program Files (x86)/VideoLAN/VLC", sw + "\\Wow6432Node",
                      sw + "\\Classes\\Wow6432Node", "i686", "x86-", ""});
  return places;
}

std::vector<std::string> MediaTypes() {
  std::istringstream in(kMediaTypes);
  std::vector<std::string> types;
  for (std::string t; in >> t;) types.push_back(t);
  return types;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// The folder this program lives in.
std::string OwnFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

// Wine as the target runs it, with its output in the state folder.
class PrefixWine {
 public:
  PrefixWine(const Target& t, const std::string& state) : t_(t), log_(state + "/wine.log") {}

  int Wine(const std::vector<std::string>& args) { return Run(t_.wine, args); }
  // Waits until the prefix's wineserver ends (after our own Wine processes):
  // everything written is on disk then. A server that another program made
  // persistent meanwhile is not waited for long.
  void Settle() {
    std::string server = "wineserver";
    if (t_.wine.find('/') != std::string::npos) {
      std::string beside = fs::path(t_.wine).parent_path().string() + "/wineserver";
      if (!t_.flatpakApp.empty() || access(beside.c_str(), X_OK) == 0) server = beside;
    }
    const WineCommand c = WineCommandOf(t_, server, {"-w"});
    hostcmd::Run(c.argv, c.env, log_, 15);
  }
  const std::string& Log() const { return log_; }

 private:
  int Run(const std::string& program, const std::vector<std::string>& args) {
    const WineCommand c = WineCommandOf(t_, program, args);
    return hostcmd::Run(c.argv, c.env, log_);
  }

  Target t_;
  std::string log_;
};

// The registry below HKLM\SOFTWARE, both views of it: `reg` of the prefix's
// own Wine in its 64-bit view, where the 32-bit view is
// HKLM\SOFTWARE\Wow6432Node (and HKLM\SOFTWARE\Classes\Wow6432Node). It must be
// the 64-bit `reg`: a 32-bit one (Debian's `wine` runs it when wine32 is
// installed) deletes the keys of an import in its own view. A 32-bit `cmd`
// starts the 64-bit one as C:\windows\sysnative\reg.exe; a 64-bit Wine has no
// such folder, and its own `reg` is the 64-bit one. The .reg files live in a
// folder of their own in the prefix's C:\windows\temp: every Wine that runs
// the prefix sees it there, a Flatpak's too, and its path has no blank for
// `cmd` to split.
class Registry {
 public:
  Registry(PrefixWine& wine, const std::string& prefix, bool win64) : wine_(wine), win64_(win64) {
    const std::string temp = prefix + "/drive_c/windows/temp";
    std::error_code ec;
    fs::create_directories(temp, ec);
    std::string dir = temp + "/modrik-reg-XXXXXX";
    if (mkdtemp(dir.data())) {
      dir_ = dir;
      dirWin_ = "C:\\windows\\temp\\" + fs::path(dir).filename().string();
    } else {
      error_ = "cannot write " + temp + ": " + WriteReason(errno);
    }
  }
  ~Registry() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  // The lines of an export of HKLM\SOFTWARE; empty when it failed. Wine
  // writes it, and the registry again when it ends: without `room` bytes
  // for that it fails without saying why, so they are asked for first.
  std::vector<std::string> Export(off_t room) {
    const std::string file = dir_ + "/export.reg";
    std::vector<std::string> lines;
    if (dir_.empty()) return lines;
    int fd = open((dir_ + "/room").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int error = fd < 0 ? errno : posix_fallocate(fd, 0, room);
    if (fd >= 0) close(fd);
    unlink((dir_ + "/room").c_str());
    if (error != 0) {
      error_ = "cannot write " + dir_ + ": " + WriteReason(error);
      return lines;
    }
    Reg({"export", kSoftware, dirWin_ + "\\export.reg", "/y"}, [&] { return Exists(file); });
    lines = RegFileLines(ReadText(file).value_or(""));
    return lines;
  }

  // Imports a .reg body (UTF-8, without header).
  bool Import(const std::string& body) {
    if (dir_.empty() || !(error_ = WriteWhole(dir_ + "/import.reg", RegFileBytes(body))).empty()) return false;
    return Reg({"import", dirWin_ + "\\import.reg"}, [] { return true; });
  }
  // Why the folder could not be made or a file written there, "" otherwise.
  const std::string& Error() const { return error_; }

 private:
  template <typename Done>
  bool Reg(const std::vector<std::string>& args, Done done) {
    std::vector<std::vector<std::string>> tools = {{"reg"}};
    if (win64_) tools.insert(tools.begin(), {"cmd", "/c", "C:\\windows\\sysnative\\reg.exe"});
    if (!tool_.empty()) tools = {tool_};  // the first that worked, for every later call
    for (const auto& tool : tools) {
      std::vector<std::string> argv = tool;
      argv.insert(argv.end(), args.begin(), args.end());
      if (win64_) argv.push_back("/reg:64");
      if (wine_.Wine(argv) == 0 && done()) {
        tool_ = tool;
        return true;
      }
    }
    return false;
  }

  PrefixWine& wine_;
  bool win64_;
  std::vector<std::string> tool_;
  std::string dir_, dirWin_, error_;
};

std::string DataHome() {
  const char* x = std::getenv("XDG_DATA_HOME");
  if (x && x[0] == '/') return x;
  const char* h = std::getenv("HOME");
  return std::string(h ? h : "") + "/.local/share";
}

std::vector<std::string> DesktopFiles() {
  const std::string d = DataHome();
  return {d + "/applications/wine-vlc.desktop", d + "/icons/vlc.ico", d + "/icons/vlc.png"};
}

std::string SettingsFor(const std::string& player) {
  return "[modrik]\r\n"
         "# Replace the following with any 'vlc.exe' filepath you want to use:\r\n"
         "# If you are running under Unix/Wine, Unix paths also work e.g. /usr/bin/vlc\r\n"
         "vlcpath=" + player + "\r\n";
}

// The .reg body that makes a place the player: its key, App Paths and,
// with associate, the media types.
std::string InstallBody(const Place& p, bool associate) {
  const std::string exe = p.ExeWin();
  const std::string open = "\"" + exe + "\" --started-from-file \"%1\"";
  std::string b;
  b += "[" + p.software + "\\VideoLAN\\VLC]\n@=" + RegString(exe) + "\n\"InstallDir\"=" +
       RegString(p.folderWin) + "\n\n";
  if (p.keep.empty())
    b += "[" + p.software + "\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe]\n@=" + RegString(exe) +
         "\n\"Path\"=" + RegString(p.folderWin) + "\n\n";
  if (!associate) return b;
  const std::string app = p.classes + "\\Applications\\vlc.exe";
  b += "[" + app + "\\shell\\Open\\command]\n@=" + RegString(open) + "\n\n";
  b += "[" + app + "\\SupportedTypes]\n";
  for (const auto& t : MediaTypes()) b += "\"." + t + "\"=\"\"\n";
  b += "\n";
  for (const auto& t : MediaTypes()) {
    const std::string ext = p.classes + "\\." + t, id = p.classes + "\\VLC." + t;
    b += "[" + ext + "]\n@=\"VLC." + t + "\"\n\n";
    b += "[" + ext + "\\OpenWithProgids]\n\"VLC." + t + "\"=\"\"\n\n";
    b += "[" + id + "]\n@=\"VLC media file (." + t + ")\"\n\n";
    b += "[" + id + "\\DefaultIcon]\n@=" + RegString(exe + ",0") + "\n\n";
    b += "[" + id + "\\shell]\n@=\"Open\"\n\n";
    b += "[" + id + "\\shell\\Open\\command]\n@=" + RegString(open) + "\n\n";
  }
  return b;
}

std::vector<std::string> WantedKeys(const Place& p, bool associate) {
  std::vector<std::string> keys = {p.software + "\\VideoLAN\\VLC"};
  if (p.keep.empty()) keys.push_back(p.software + "\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe");
  if (!associate) return keys;
  keys.push_back(p.classes + "\\Applications\\vlc.exe");
  for (const auto& t : MediaTypes()) {
    keys.push_back(p.classes + "\\." + t);
    keys.push_back(p.classes + "\\VLC." + t);
  }
  return keys;
}

void Refuse(const std::string& text) { std::cerr << "modrik: " << text << "; nothing changed.\n"; }

// The status of a command interrupted before it changed anything.
int Stopped() {
  Refuse("interrupted by " + SignalName(Interrupted()));
  return 128 + Interrupted();
}

// A front-end's prefix that cannot be worked on yet (its Wine or the prefix
// itself not there): refused, with the front-end's reason. Returns 0 or 5.
int CheckReady(const Target& t) {
  if (t.notReady.empty()) return 0;
  Refuse(t.Name() + " is not ready: " + t.notReady);
  return 5;
}

// The checks before anything is changed in a prefix: a prefix, not in use,
// writable. Returns 0 or the exit status of the refusal.
int CheckPrefix(const Target& t, int waitSeconds) {
  if (PrefixArch(t.prefix).empty()) {
    Refuse(t.prefix + " is no Wine prefix (it has no system.reg)");
    return 1;
  }
  // A Flatpak's Wine serves the prefix from inside, where the host sees no
  // wineserver: while the Flatpak runs, the prefix may be in use.
  if (!t.flatpakApp.empty() && FlatpakRunning(t.flatpakApp)) {
    Refuse(t.Name() + " may be in use: the Flatpak " + t.flatpakApp + " is running; close it and try again");
    return 4;
  }
  if (ServerRunning(t.prefix)) {
    std::cout << "modrik: Windows programs of " << t.prefix << " are running: waiting up to " << waitSeconds
              << " s for its wineserver to end" << std::endl;
    for (int i = 0; i < waitSeconds * 5 && ServerRunning(t.prefix) && !Interrupted(); i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (Interrupted()) return Stopped();
    if (ServerRunning(t.prefix)) {
      Refuse("the wineserver of " + t.prefix +
             " is still running: close its Windows programs (or run `WINEPREFIX=" + t.prefix +
             " wineserver -k`) and try again");
      return 4;
    }
  }
  for (const std::string& folder : {t.prefix, t.prefix + "/drive_c"}) {
    std::string why = WriteError(folder);
    if (!why.empty()) {
      Refuse("cannot write to " + folder + " (" + why + ")");
      return 1;
    }
  }
  return 0;
}

// An install made before the registry was saved this way kept only the
// player's key, exported on its own (or nothing when it was missing).
void UpgradeState(const std::string& state) {
  if (!Exists(state + "/installed") || Exists(state + "/registry.keys")) return;
  std::string saved;
  if (auto old = ReadText(state + "/registry.reg")) {
    std::vector<std::string> lines = RegFileLines(*old);
    for (size_t i = 1; i < lines.size(); i++) saved += lines[i] + "\n";
  }
  if (WriteWhole(state + "/registry.saved", saved).empty() &&
      WriteWhole(state + "/registry.keys", std::string(kSoftware) + "\\VideoLAN\\VLC\n").empty())
    fs::remove(state + "/registry.reg");
}

std::string StateOf(const Target& t) { return t.prefix + "/modrik-install"; }

// The last lines of a log, on standard error.
void ShowEnd(const std::string& log) {
  std::vector<std::string> lines = ReadLines(log);
  if (lines.empty()) return;
  std::cerr << "modrik: the end of Wine's output:\n";
  for (size_t i = lines.size() > 10 ? lines.size() - 10 : 0; i < lines.size(); i++) std::cerr << "  " << lines[i] << "\n";
}

// Which front-end's prefix the lines that follow are about.
void Announce(const Target& t) {
  if (!t.title.empty()) std::cout << t.title << ": " << t.prefix << std::endl;
}

}  // namespace

std::string ShippedExe(const std::string& buildArch) {
  const std::string own = OwnFolder();
  const std::string buildDir = buildArch == "i686" ? "win32" : "win";
  for (const std::string& candidate : {own + "/../share/modrik/" + buildArch + "/modrik.exe",
                                       own + "/../" + buildDir + "/modrik.exe"}) {
    if (Exists(candidate)) return fs::path(candidate).lexically_normal().string();
  }
  return "";
}

std::string BuildArchOfExe(const std::string& path) {
  // The machine field of the PE header, which the DOS header points to.
  const std::string bytes = ReadText(path).value_or("");
  auto word = [&](size_t at, int size) {
    unsigned long value = 0;
    for (int i = size - 1; i >= 0; i--) value = value * 256 + static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) return "";
  const unsigned long pe = word(0x3c, 4);
  if (pe + 6 > bytes.size() || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return "";
  switch (word(pe + 4, 2)) {
    case 0x8664: return "x86_64";
    case 0x14c: return "i686";
    default: return "";
  }
}

bool IsModrik(const std::string& path) {
  std::optional<std::string> bytes = ReadText(path);
  return bytes && bytes->find("modrik.ini") != std::string::npos &&
         bytes->find("DELREGKEY") != std::string::npos;
}


namespace {

// One change to a prefix, made in the steps StepsOf names, under its
// journal. Every step can be run again: a change cut short is finished by
// running its steps again (an uninstall's, those not done yet).
class Change {
 public:
  Change(const Target& t, const std::string& arch, std::vector<Place> places, const InstallOptions& o)
      : t_(t), arch_(arch), state_(StateOf(t)), places_(std::move(places)), o_(o) {}

  // Runs the command's steps; the exit status.
  int Make(const std::string& command) {
    const Journal pending = ParseJournal(ReadText(state_ + "/journal").value_or(""));
    bool changed = false;  // this run changed the prefix
    std::string begun;     // the operation whose changes have begun
    for (const std::string& s : StepsOf(command, pending)) {
      const std::string operation = s.substr(0, s.find(':')), step = s.substr(s.find(':') + 1);
      // Interrupted: an operation that has not changed the prefix yet stops
      // here (the journal of an install that only kept goes again); one that
      // has is finished.
      if (Interrupted() && begun != operation) {
        if (journal_.operation == operation && pending.operation != operation) Forget();
        return changed ? Finished(begun) : Stopped();
      }
      if (journal_.operation != operation) {
        if (int status = Begin(operation, pending)) return status;
      }
      if (int status = Step(operation, step)) {
        if (operation == "install" && step == "keep" && pending.operation != "install") Forget();
        else HalfDone(operation);
        if (Interruptions() < 2) return status;
        std::cerr << "modrik: interrupted twice by " << SignalName(Interrupted()) << ".\n";
        return 128 + Interrupted();
      }
      if (!journal_.Done(step)) journal_.done.push_back(step);
      if (step != "record" && step != "state") {
        const std::string error = WriteWhole(state_ + "/journal", JournalText(journal_));
        if (!error.empty()) {
          std::cerr << "modrik: " << error << "\n";
          HalfDone(operation);
          return 1;
        }
      }
      if (s != "install:keep") changed = true, begun = operation;
      if (Interruptions() >= 2 && (step == "record" || step == "state")) break;
      if (Interruptions() >= 2) {
        HalfDone(operation);
        std::cerr << "modrik: interrupted twice by " << SignalName(Interrupted()) << ".\n";
        return 128 + Interrupted();
      }
    }
    return Interrupted() ? Finished(begun) : 0;
  }

 private:
  // Starts an operation: the journal, before its first change.
  int Begin(const std::string& operation, const Journal& pending) {
    const bool cutShort = pending.operation == operation;
    journal_ = {operation, cutShort ? pending.done : std::vector<std::string>{}};
    if (pending.operation == "uninstall" && operation == "uninstall")
      std::cout << "finishing the uninstall that was cut short in " << t_.prefix << "\n";
    if (pending.operation == "install")
      std::cout << (operation == "install" ? "finishing" : "taking back") << " the install that was cut short in "
                << t_.prefix << "\n";
    if (operation == "install") {
      first_ = !Exists(state_ + "/installed") && !(cutShort && pending.Done("keep"));
      std::error_code ec;
      fs::create_directories(state_, ec);
      if (ec) {
        Refuse("cannot write " + state_ + ": " + WriteReason(ec.value()));
        return 1;
      }
    }
    UpgradeState(state_);
    std::error_code ec;
    fs::remove_all(state_ + ".removed", ec);  // left by a removal cut short
    const std::string error = WriteWhole(state_ + "/journal", JournalText(journal_));
    if (!error.empty()) {
      Refuse(error);
      if (operation == "install" && first_ && !cutShort) RemoveFolder(state_);
      return 1;
    }
    return 0;
  }

  int Step(const std::string& operation, const std::string& step) {
    if (operation == "install") {
      if (step == "keep") return Keep();
      if (step == "files") return CopyFiles();
      if (step == "registry") return WriteRegistry();
      if (step == "settings") return WriteSettings();
      return Record();
    }
    if (step == "files") return RestoreFiles();
    if (step == "registry") return RestoreRegistry();
    if (step == "desktop") return RemoveDesktopFiles();
    return RemoveState();
  }

  // An install that has not changed the prefix: its journal goes, and the
  // state folder of a first install with it.
  void Forget() {
    if (first_) {
      RemoveFolder(state_);
    } else {
      std::error_code ec;
      fs::remove(state_ + "/journal", ec);
    }
    journal_ = {};
  }

  int Finished(const std::string& operation) {
    std::cerr << "modrik: interrupted by " << SignalName(Interrupted()) << ": the " << operation << " under way in "
              << t_.prefix << " was finished first.\n";
    return 128 + Interrupted();
  }

  void HalfDone(const std::string& operation) {
    std::cerr << "modrik: " << t_.prefix << " is "
              << (operation == "install" ? "half-installed: `modrik install` finishes it, `modrik uninstall` takes it back.\n"
                                         : "half-removed: `modrik uninstall` finishes it.\n");
  }

  PrefixWine& Wine() {
    if (!wine_) wine_ = std::make_unique<PrefixWine>(t_, state_);
    return *wine_;
  }
  Registry& Reg() {
    if (!registry_) registry_ = std::make_unique<Registry>(Wine(), t_.prefix, arch_ == "win64");
    return *registry_;
  }

  // Says what failed; 1.
  int Failed(const std::string& what) {
    std::cerr << "modrik: " << what << "\n";
    return 1;
  }

  // ---- install: keep what is there, copy, name in the registry, settings, record

  int Keep() {
    std::vector<std::string> wanted;
    for (const Place& p : places_) {
      std::vector<std::string> keys = WantedKeys(p, o_.associate);
      wanted.insert(wanted.end(), keys.begin(), keys.end());
    }
    std::error_code ec;
    const auto registrySize = fs::file_size(t_.prefix + "/system.reg", ec);
    std::vector<std::string> exported = Reg().Export(3 * static_cast<off_t>(ec ? 0 : registrySize) + (1 << 20));
    if (exported.empty()) {
      if (!Reg().Error().empty()) {
        Refuse(Reg().Error());
      } else {
        // The state folder goes with the refusal: what Wine said is shown here.
        Refuse("cannot read the registry of " + t_.prefix + " with " + t_.wine);
        ShowEnd(Wine().Log());
      }
      return 1;
    }
    SavedKeys saved = SaveKeys(exported, kSoftware, wanted, ReadLines(state_ + "/registry.keys"));
    std::string listed = ReadText(state_ + "/registry.keys").value_or("");
    for (const auto& k : saved.listed) listed += k + "\n";
    // The sections first: keys listed without them would be deleted and
    // not put back.
    std::string error = WriteWhole(state_ + "/registry.saved",
                                   ReadText(state_ + "/registry.saved").value_or("") + saved.sections);
    if (error.empty()) error = WriteWhole(state_ + "/registry.keys", listed);
    for (const Place& p : places_) {
      const std::string kept = state_ + "/" + p.keep;
      if (error.empty() && Exists(p.Exe()) && !IsModrik(p.Exe())) {
        error = CopyWhole(p.Exe(), kept + "vlc.exe.replaced");
        if (error.empty()) std::cout << "kept the player executable that was there: " << kept << "vlc.exe.replaced\n";
      }
      if (error.empty() && first_ && Exists(p.Ini())) error = CopyWhole(p.Ini(), kept + "modrik.ini.replaced");
      if (error.empty() && first_ && !Exists(p.Exe())) error = WriteWhole(kept + "vlc.exe.absent", "");
    }
    if (error.empty() && first_) {
      // The desktop entry and icons modrik makes for itself under the name
      // vlc: removed by uninstall unless they were there before.
      std::string created;
      for (const auto& f : DesktopFiles())
        if (!Exists(f)) created += f + "\n";
      error = WriteWhole(state_ + "/created-files", created);
    }
    if (!error.empty()) Refuse(error);
    return error.empty() ? 0 : 1;
  }

  int CopyFiles() {
    for (const Place& p : places_) {
      std::error_code ec;
      fs::create_directories(p.folder, ec);
      const std::string error = CopyWhole(p.exe, p.Exe());
      if (!error.empty()) return Failed(error);
      std::cout << "installed modrik as " << p.ExeWin()
                << (p.keep.empty() ? "" : " (the 32-bit build, for 32-bit programs)") << "\n";
    }
    return 0;
  }

  int WriteRegistry() {
    std::string body;
    for (const Place& p : places_) body += InstallBody(p, o_.associate);
    if (!Reg().Import(body)) {
      return Failed(Reg().Error().empty() ? "writing the registry of " + t_.prefix + " failed (see " + Wine().Log() + ")"
                                          : Reg().Error());
    }
    for (const Place& p : places_) {
      const std::string view = p.software.substr(std::string(kSoftware).size());
      std::cout << "set HKLM\\SOFTWARE" << view << "\\VideoLAN\\VLC: (default) = " << p.ExeWin()
                << ", InstallDir = " << p.folderWin << "\n";
      if (p.keep.empty())
        std::cout << "set HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe (both views): (default) = "
                  << p.ExeWin() << ", Path = " << p.folderWin << "\n";
      if (o_.associate) {
        std::cout << "associated with " << p.ExeWin() << ":";
        for (const auto& type : MediaTypes()) std::cout << " ." << type;
        std::cout << "\n";
      }
    }
    return 0;
  }

  int WriteSettings() {
    const std::string player = o_.player ? *o_.player : FindOnPath("vlc");
    for (const Place& p : places_) {
      if (!player.empty()) {
        const std::string error = WriteWhole(p.Ini(), SettingsFor(player));
        if (!error.empty()) return Failed(error);
        std::cout << "wrote " << p.folderWin << "\\modrik.ini: vlcpath=" << player << "\n";
      } else {
        std::error_code ec;
        fs::remove(p.Ini(), ec);
      }
    }
    if (player.empty())
      std::cout << "no native player found on this host: modrik offers to look for one on its first start\n";
    return 0;
  }

  // The registry on the disk first (the wineserver writes it when it ends),
  // then the record; the journal goes last.
  int Record() {
    Wine().Settle();
    std::string record = "version=" + std::string(MODRIK_VERSION) + "\n";
    for (const Place& p : places_) record += "sha256." + p.buildArch + "=" + Sha256(p.Exe()) + "\n";
    const std::string error = WriteWhole(state_ + "/installed", record);
    if (!error.empty()) return Failed(error);
    std::error_code ec;
    fs::remove(state_ + "/journal", ec);
    return 0;
  }

  // ---- uninstall: put the files back, then the registry; the state goes last

  int RestoreFiles() {
    std::error_code ec;
    for (const Place& p : places_) {
      const std::string kept = state_ + "/" + p.keep;
      for (const std::string& left : {p.Exe(), p.Ini()}) fs::remove(left + ".modrik-new", ec);
      if (Exists(kept + "vlc.exe.replaced")) {
        const std::string error = CopyWhole(kept + "vlc.exe.replaced", p.Exe());
        if (!error.empty()) return Failed(error);
        std::cout << "restored the player executable " << p.ExeWin() << "\n";
      } else if (Exists(p.Exe()) && IsModrik(p.Exe())) {
        fs::remove(p.Exe(), ec);
        std::cout << "removed " << p.ExeWin() << "\n";
      }
      if (Exists(kept + "modrik.ini.replaced")) {
        const std::string error = CopyWhole(kept + "modrik.ini.replaced", p.Ini());
        if (!error.empty()) return Failed(error);
        std::cout << "restored " << p.folderWin << "\\modrik.ini\n";
      } else {
        fs::remove(p.Ini(), ec);
      }
    }
    return 0;
  }

  // Every key the installs wrote: deleted, then imported again as it was.
  int RestoreRegistry() {
    std::vector<std::string> keys = ReadLines(state_ + "/registry.keys");
    std::string body;
    for (const auto& k : keys) body += "[-" + k + "]\n\n";
    body += ReadText(state_ + "/registry.saved").value_or("");
    if (!body.empty() && !Reg().Import(body)) {
      return Failed((Reg().Error().empty() ? "" : Reg().Error() + ": ") + "restoring the registry of " + t_.prefix +
                    " failed (see " + Wine().Log() + "); run the uninstall again");
    }
    std::cout << "restored the registry keys the install had written (" << keys.size() << " keys)\n";
    return 0;
  }

  int RemoveDesktopFiles() {
    std::error_code ec;
    for (const auto& f : ReadLines(state_ + "/created-files")) fs::remove(f, ec);
    for (const Place& p : places_) {
      fs::remove(p.folder, ec);  // only when empty
      fs::remove(fs::path(p.folder).parent_path(), ec);
    }
    return 0;
  }

  int RemoveState() {
    if (wine_) wine_->Settle();
    registry_.reset();
    wine_.reset();
    RemoveFolder(state_);
    return 0;
  }

  // A folder goes at once, by its name, or not: renamed aside first (a
  // removal cut short leaves only that), then removed.
  static void RemoveFolder(const std::string& folder) {
    const std::string aside = folder + ".removed";
    std::error_code ec;
    fs::remove_all(aside, ec);
    if (rename(folder.c_str(), aside.c_str()) == 0) fs::remove_all(aside, ec);
  }

  const Target& t_;
  std::string arch_, state_;
  std::vector<Place> places_;
  const InstallOptions o_;
  Journal journal_;
  bool first_ = false;
  std::unique_ptr<PrefixWine> wine_;
  std::unique_ptr<Registry> registry_;
};

}  // namespace

int Install(const Target& t, const InstallOptions& o) {
  Announce(t);
  if (int refused = CheckReady(t)) return refused;
  const std::string arch = PrefixArch(t.prefix);
  if (arch.empty()) {
    Refuse(t.prefix + " is no Wine prefix (it has no system.reg)");
    return 1;
  }
  std::vector<Place> places = Places(t.prefix, arch);
  if (places[0].buildArch.empty()) {
    Refuse(t.prefix + " is a prefix for \"" + arch +
           "\", for which modrik.exe has no build (it has builds for win64 and win32 prefixes)");
    return 1;
  }
  for (size_t i = 0; i < places.size(); i++) {
    Place& p = places[i];
    p.exe = i == 0 && !o.exe.empty() ? o.exe : ShippedExe(p.buildArch);
    if (p.exe.empty() || !Exists(p.exe)) {
      Refuse("no " + p.buildArch + " build of modrik.exe " +
             (p.exe.empty() ? "next to " + OwnFolder() : "at " + p.exe));
      return 1;
    }
    if (!IsModrik(p.exe)) {
      Refuse(p.exe + " is not modrik.exe");
      return 1;
    }
    // A build for the other architecture would not start there (a 32-bit
    // prefix cannot run an x86-64 program).
    const std::string built = BuildArchOfExe(p.exe);
    if (built != p.buildArch) {
      Refuse(p.exe + " is a build for " + (built.empty() ? "no known architecture" : built) + "; " + t.prefix +
             " needs the " + p.buildArch + " build");
      return 1;
    }
  }
  if (int refused = CheckPrefix(t, o.waitSeconds)) return refused;
  // A player executable that an uninstall cut short has put back is in the
  // way as much as one that was always there.
  const bool uninstalling = ParseJournal(ReadText(StateOf(t) + "/journal").value_or("")).operation == "uninstall";
  for (const Place& p : places) {
    const bool real = (Exists(p.Exe()) && !IsModrik(p.Exe())) ||
                      (uninstalling && Exists(StateOf(t) + "/" + p.keep + "vlc.exe.replaced"));
    if (real && !o.force) {
      std::cerr << "modrik: " << p.ExeWin() << " is a real player executable; nothing changed.\n"
                << "modrik: run again with --force to replace it (it is kept and restored by uninstall).\n";
      return 3;
    }
  }
  return Change(t, arch, places, o).Make("install");
}

int Uninstall(const Target& t, int waitSeconds) {
  Announce(t);
  if (int refused = CheckReady(t)) return refused;
  const std::string state = StateOf(t);
  const std::string arch = PrefixArch(t.prefix);
  if (arch.empty()) {
    Refuse(t.prefix + " is no Wine prefix (it has no system.reg)");
    return 1;
  }
  if (!Exists(state + "/installed") && !Exists(state + "/journal")) {
    std::cout << "modrik is not installed in " << t.prefix << "; nothing changed.\n";
    return 0;
  }
  if (int refused = CheckPrefix(t, waitSeconds)) return refused;
  return Change(t, arch, Places(t.prefix, arch), InstallOptions()).Make("uninstall");
}

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
    const std::string state = StateOf(t);
    const std::string cutShort = ParseJournal(ReadText(state + "/journal").value_or("")).operation;
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
    const bool installed = Exists(state + "/installed");
    const std::string systemReg = inUse ? "" : ReadText(t.prefix + "/system.reg").value_or("");
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
    std::string version;
    for (const auto& line : ReadLines(state + "/installed"))
      if (line.rfind("version=", 0) == 0) version = line.substr(8);
    std::cout << ", modrik " << (version.empty() ? "(version unknown)" : version);
    if (!notes.empty())
      std::cout << ", not current: " << notes << " (modrik install repairs it)\n";
    else
      std::cout << (current && version == MODRIK_VERSION ? ", current\n" : ", not current (modrik install updates it)\n");
  }
  return 0;
}

}  // namespace hostcmd
