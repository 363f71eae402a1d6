// Installing modrik.exe into a prefix as the player's executable, undoing it,
// and listing it. In a 64-bit prefix there are two of everything, one for
// each registry view: the 64-bit build in C:\Program Files\VideoLAN\VLC,
// named by the 64-bit view, and the 32-bit build in
// C:\Program Files (x86)\VideoLAN\VLC, named by the 32-bit view
// (HKLM\SOFTWARE\Wow6432Node), as the player's own installers of each build
// would have it. App Paths is one key for both views: it names the 64-bit build. A 32-bit prefix has
// the 32-bit build in C:\Program Files and one view.
//
// The state of an install is kept in PREFIX/modrik-install:
//   installed                 version=..., sha256=... of each build installed
//   registry.keys             the keys uninstall deletes (below HKLM\SOFTWARE,
//                             both views; the highest key an install created)
//   registry.saved            what uninstall imports again (as they were)
//   [x86-]vlc.exe.replaced    a player executable that was there (--force)
//   [x86-]modrik.ini.replaced a settings file that was there
//   [x86-]vlc.exe.absent      there was no vlc.exe
//   created-files             desktop files modrik makes that were not there
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
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

bool WriteAll(const std::string& path, const std::string& bytes, bool append = false) {
  std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  out << bytes;
  return static_cast<bool>(out.flush());
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

bool CopyKeepingMode(const std::string& from, const std::string& to) {
  std::error_code ec;
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
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
    }
  }
  ~Registry() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  // The lines of an export of HKLM\SOFTWARE; empty when it failed.
  std::vector<std::string> Export() {
    const std::string file = dir_ + "/export.reg";
    std::vector<std::string> lines;
    if (dir_.empty()) return lines;
    Reg({"export", kSoftware, dirWin_ + "\\export.reg", "/y"}, [&] { return Exists(file); });
    lines = RegFileLines(ReadText(file).value_or(""));
    return lines;
  }

  // Imports a .reg body (UTF-8, without header).
  bool Import(const std::string& body) {
    const std::string file = dir_ + "/import.reg";
    if (dir_.empty() || !WriteAll(file, RegFileBytes(body))) return false;
    return Reg({"import", dirWin_ + "\\import.reg"}, [] { return true; });
  }

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
  std::string dir_, dirWin_;
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
    for (int i = 0; i < waitSeconds * 5 && ServerRunning(t.prefix); i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
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
  WriteAll(state + "/registry.keys", std::string(kSoftware) + "\\VideoLAN\\VLC\n");
  std::string saved;
  if (auto old = ReadText(state + "/registry.reg")) {
    std::vector<std::string> lines = RegFileLines(*old);
    for (size_t i = 1; i < lines.size(); i++) saved += lines[i] + "\n";
    fs::remove(state + "/registry.reg");
  }
  WriteAll(state + "/registry.saved", saved);
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
  for (const Place& p : places) {
    if (Exists(p.Exe()) && !IsModrik(p.Exe()) && !o.force) {
      std::cerr << "modrik: " << p.ExeWin() << " is a real player executable; nothing changed.\n"
                << "modrik: run again with --force to replace it (it is kept and restored by uninstall).\n";
      return 3;
    }
  }

  const std::string state = StateOf(t);
  const bool first = !Exists(state + "/installed");
  std::error_code ec;
  fs::create_directories(state, ec);
  // A first install that cannot go on leaves the prefix as it was.
  auto giveUp = [&](int status) {
    if (first) fs::remove_all(state, ec);
    return status;
  };
  UpgradeState(state);

  PrefixWine wine(t, state);
  Registry registry(wine, t.prefix, arch == "win64");
  std::vector<std::string> wanted;
  for (const Place& p : places) {
    std::vector<std::string> keys = WantedKeys(p, o.associate);
    wanted.insert(wanted.end(), keys.begin(), keys.end());
  }
  std::vector<std::string> exported = registry.Export();
  if (exported.empty()) {
    // The state folder goes with the refusal: what Wine said is shown here.
    Refuse("cannot read the registry of " + t.prefix + " with " + t.wine);
    ShowEnd(wine.Log());
    return giveUp(1);
  }
  SavedKeys saved = SaveKeys(exported, kSoftware, wanted, ReadLines(state + "/registry.keys"));
  std::string listed;
  for (const auto& k : saved.listed) listed += k + "\n";
  if (!WriteAll(state + "/registry.saved", saved.sections, true) ||
      !WriteAll(state + "/registry.keys", listed, true)) {
    Refuse("cannot write to " + state);
    return giveUp(1);
  }

  for (const Place& p : places) {
    if (Exists(p.Exe()) && !IsModrik(p.Exe())) {
      CopyKeepingMode(p.Exe(), state + "/" + p.keep + "vlc.exe.replaced");
      std::cout << "kept the player executable that was there: " << state << "/" << p.keep
                << "vlc.exe.replaced\n";
    }
    if (first) {
      if (Exists(p.Ini())) CopyKeepingMode(p.Ini(), state + "/" + p.keep + "modrik.ini.replaced");
      if (!Exists(p.Exe())) WriteAll(state + "/" + p.keep + "vlc.exe.absent", "");
    }
  }
  if (first) {
    // The desktop entry and icons modrik makes for itself under the name vlc:
    // removed by uninstall unless they were there before.
    std::string created;
    for (const auto& f : DesktopFiles())
      if (!Exists(f)) created += f + "\n";
    WriteAll(state + "/created-files", created);
  }

  std::string body, record = "version=" + std::string(MODRIK_VERSION) + "\n";
  for (const Place& p : places) {
    fs::create_directories(p.folder, ec);
    if (!CopyKeepingMode(p.exe, p.Exe())) {
      std::cerr << "modrik: cannot write " << p.Exe() << "\n";
      return 1;
    }
    std::cout << "installed modrik as " << p.ExeWin()
              << (p.keep.empty() ? "" : " (the 32-bit build, for 32-bit programs)") << "\n";
    body += InstallBody(p, o.associate);
    record += "sha256." + p.buildArch + "=" + Sha256(p.Exe()) + "\n";
  }
  if (!registry.Import(body)) {
    std::cerr << "modrik: writing the registry of " << t.prefix << " failed (see " << wine.Log() << ")\n";
    return 1;
  }
  for (const Place& p : places) {
    const std::string view = p.software.substr(std::string(kSoftware).size());
    std::cout << "set HKLM\\SOFTWARE" << view << "\\VideoLAN\\VLC: (default) = " << p.ExeWin()
              << ", InstallDir = " << p.folderWin << "\n";
    if (p.keep.empty())
      std::cout << "set HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe (both views): (default) = "
                << p.ExeWin() << ", Path = " << p.folderWin << "\n";
    if (o.associate) {
      std::cout << "associated with " << p.ExeWin() << ":";
      for (const auto& type : MediaTypes()) std::cout << " ." << type;
      std::cout << "\n";
    }
  }

  const std::string player = o.player ? *o.player : FindOnPath("vlc");
  for (const Place& p : places) {
    if (!player.empty()) {
      WriteAll(p.Ini(), SettingsFor(player));
      std::cout << "wrote " << p.folderWin << "\\modrik.ini: vlcpath=" << player << "\n";
    } else {
      fs::remove(p.Ini(), ec);
    }
  }
  if (player.empty())
    std::cout << "no native player found on this host: modrik offers to look for one on its first start\n";
  WriteAll(state + "/installed", record);
  wine.Settle();
  return 0;
}

int Uninstall(const Target& t, int waitSeconds) {
  Announce(t);
  if (int refused = CheckReady(t)) return refused;
  const std::string state = StateOf(t);
  if (PrefixArch(t.prefix).empty()) {
    Refuse(t.prefix + " is no Wine prefix (it has no system.reg)");
    return 1;
  }
  if (!Exists(state + "/installed")) {
    std::cout << "modrik is not installed in " << t.prefix << "; nothing changed.\n";
    return 0;
  }
  if (int refused = CheckPrefix(t, waitSeconds)) return refused;
  const std::string arch = PrefixArch(t.prefix);
  UpgradeState(state);
  std::error_code ec;
  for (const Place& p : Places(t.prefix, arch)) {
    const std::string kept = state + "/" + p.keep;
    if (Exists(kept + "vlc.exe.replaced")) {
      CopyKeepingMode(kept + "vlc.exe.replaced", p.Exe());
      std::cout << "restored the player executable " << p.ExeWin() << "\n";
    } else if (Exists(p.Exe()) && IsModrik(p.Exe())) {
      fs::remove(p.Exe(), ec);
      std::cout << "removed " << p.ExeWin() << "\n";
    }
    if (Exists(kept + "modrik.ini.replaced")) {
      CopyKeepingMode(kept + "modrik.ini.replaced", p.Ini());
      std::cout << "restored " << p.folderWin << "\\modrik.ini\n";
    } else {
      fs::remove(p.Ini(), ec);
    }
  }
  // Every key the installs wrote: deleted, then imported again as it was.
  std::vector<std::string> keys = ReadLines(state + "/registry.keys");
  std::string body;
  for (const auto& k : keys) body += "[-" + k + "]\n\n";
  body += ReadText(state + "/registry.saved").value_or("");
  PrefixWine wine(t, state);
  Registry registry(wine, t.prefix, arch == "win64");
  if (!registry.Import(body)) {
    std::cerr << "modrik: restoring the registry of " << t.prefix << " failed (see " << wine.Log()
              << "); run the uninstall again\n";
    return 1;
  }
  std::cout << "restored the registry keys the install had written (" << keys.size() << " keys)\n";
  for (const auto& f : ReadLines(state + "/created-files")) fs::remove(f, ec);
  for (const Place& p : Places(t.prefix, arch)) {
    fs::remove(p.folder, ec);  // only when empty
    fs::remove(fs::path(p.folder).parent_path(), ec);
  }
  wine.Settle();
  fs::remove_all(state, ec);
  return 0;
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
    std::cout << arch << (ServerRunning(t.prefix) ? ", in use" : "");
    const std::string state = StateOf(t);
    if (!Exists(state + "/installed")) {
      std::cout << ", modrik not installed\n";
      continue;
    }
    std::string version;
    bool current = true, recorded = false;
    for (const auto& line : ReadLines(state + "/installed")) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "version") version = value;
      if (key.rfind("sha256.", 0) == 0) {
        recorded = true;
        const std::string shipped = ShippedExe(key.substr(7));
        current = current && !shipped.empty() && Sha256(shipped) == value;
      }
    }
    std::cout << ", modrik " << (version.empty() ? "(version unknown)" : version);
    std::cout << (recorded && current && version == MODRIK_VERSION ? ", current\n"
                                                                    : ", not current (modrik install updates it)\n");
  }
  return 0;
}

}  // namespace hostcmd
