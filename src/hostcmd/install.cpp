// The commands that change a prefix, `install` and `uninstall`: what they
// check before anything changes (the prefix, its state folder, the lock),
// then the change itself (Change, in transaction.cpp and steps.cpp).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "change.h"

namespace fs = std::filesystem;

namespace hostcmd {

using modrik::frontends::ReadText;

void Refuse(const std::string& text) { std::cerr << "modrik: " << text << "; nothing changed.\n"; }

std::string StoppedText() { return "interrupted by " + SignalName(Interrupted()); }

namespace {

// The status of a command interrupted before it changed anything.
int Stopped() {
  Refuse(StoppedText());
  return 128 + Interrupted();
}

// The folder this program lives in.
std::string OwnFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
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
  if (!OwnFolderProblem(state).empty() || !Exists(state + "/installed") || Exists(state + "/registry.keys")) return;
  std::string saved;
  if (auto old = ReadOwnFile(state + "/registry.reg")) {
    std::vector<std::string> lines = RegFileLines(*old);
    for (size_t i = 1; i < lines.size(); i++) saved += lines[i] + "\n";
  }
  if (WriteWhole(state + "/registry.saved", saved).empty() &&
      WriteWhole(state + "/registry.keys", std::string(kSoftware) + "\\VideoLAN\\VLC\n").empty())
    fs::remove(state + "/registry.reg");
}

// Which front-end's prefix the lines that follow are about.
void Announce(const Target& t) {
  if (!t.title.empty()) std::cout << t.title << ": " << t.prefix << std::endl;
}

// One change at a time: the lock on the prefix, waited for up to
// waitSeconds. Returns 0 or the exit status of the refusal.
int Lock(PrefixLock& lock, const Target& t, int waitSeconds) {
  switch (lock.Take(waitSeconds)) {
    case PrefixLock::kTaken: return 0;
    case PrefixLock::kInterrupted: return Stopped();
    case PrefixLock::kBusy:
      Refuse("another modrik command is still changing " + t.prefix + "; try again once it has ended");
      return 4;
    default:
      Refuse("cannot open " + t.prefix + " to lock it");
      return 1;
  }
}

// The state folder read, each entry that is not modrik's and each damage
// named. Returns 0, or 6 when the folder itself cannot be used.
int ReadState(const Target& t, InstallState* state) {
  UpgradeState(StateOf(t));
  *state = ReadInstallState(t.prefix, DesktopFiles());
  if (!state->refused.empty()) {
    Refuse(state->refused);
    return 6;
  }
  for (const std::string& line : state->foreign) std::cerr << "modrik: " << line << "\n";
  for (const std::string& line : state->damaged) std::cerr << "modrik: " << line << "\n";
  return 0;
}

// A home that others may write: modrik.exe runs no host command from there.
void WarnOfHome() {
  const char* home = std::getenv("HOME");
  struct stat st;
  if (!home || !*home || stat(home, &st) != 0 || ((st.st_mode & 022) == 0 && st.st_uid == geteuid())) return;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  std::cerr << "modrik: warning: your home " << home << " is not yours alone (mode " << mode
            << "): modrik.exe starts no native player from a home that others may write; `chmod go-w " << home
            << "` mends it\n";
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
  PrefixLock lock(t.prefix);
  if (int refused = Lock(lock, t, o.waitSeconds)) return refused;
  if (int refused = CheckPrefix(t, o.waitSeconds)) return refused;
  InstallState state;
  if (int refused = ReadState(t, &state)) return refused;
  if (!state.damaged.empty()) {
    Refuse("the state of the install in " + t.prefix + " cannot be trusted: `modrik uninstall` takes modrik's files "
           "and keys away, then install again");
    return 6;
  }
  WarnOfHome();
  // A player executable that an uninstall cut short has put back is in the
  // way as much as one that was always there.
  const bool uninstalling = state.journal.operation == "uninstall";
  for (const Place& p : places) {
    const bool real = (Exists(p.Exe()) && !IsModrik(p.Exe())) ||
                      (uninstalling && Exists(StateOf(t) + "/" + p.keep + "vlc.exe.replaced"));
    if (real && !o.force) {
      std::cerr << "modrik: " << p.ExeWin() << " is a real player executable; nothing changed.\n"
                << "modrik: run again with --force to replace it (it is kept and restored by uninstall).\n";
      return 3;
    }
  }
  return Change(t, arch, places, o, state).Make("install");
}

int Uninstall(const Target& t, int waitSeconds) {
  Announce(t);
  if (int refused = CheckReady(t)) return refused;
  const std::string arch = PrefixArch(t.prefix);
  if (arch.empty()) {
    Refuse(t.prefix + " is no Wine prefix (it has no system.reg)");
    return 1;
  }
  PrefixLock lock(t.prefix);
  if (int refused = Lock(lock, t, waitSeconds)) return refused;
  InstallState state;
  if (Exists(StateOf(t)) && !OwnFolderProblem(StateOf(t)).empty()) return ReadState(t, &state);
  if (!ReadInstallState(t.prefix, {}).Exists()) {
    std::cout << "modrik is not installed in " << t.prefix << "; nothing changed.\n";
    return 0;
  }
  if (int refused = CheckPrefix(t, waitSeconds)) return refused;
  if (int refused = ReadState(t, &state)) return refused;
  const int status = Change(t, arch, Places(t.prefix, arch), InstallOptions(), state).Make("uninstall");
  if (status == 0 && (!state.damaged.empty() || !state.foreign.empty())) {
    std::cerr << "modrik: the state folder of " << t.prefix << " was not all modrik's: what modrik made is removed, "
                 "the rest is left alone\n";
    return 6;
  }
  return status;
}

int InstallAndGrant(const Target& t, const InstallOptions& options, bool grantHost) {
  if (grantHost) {
    const std::string problem = GrantProblem(t);
    if (!problem.empty()) {
      std::cerr << "modrik: cannot grant " << t.flatpakApp << " the permission: " << problem << "; nothing changed.\n";
      return 1;
    }
  }
  const int status = Install(t, options);
  return status != 0 || !grantHost ? status : Grant(t);
}

int UninstallAndTakeBack(const Target& t, int waitSeconds, bool grantOnly) {
  if (grantOnly) {
    if (!t.title.empty()) std::cout << t.title << ": " << t.prefix << std::endl;
    if (!t.unreadable.empty()) {
      std::cerr << "modrik: " << t.Name() << " is not ready: " << t.notReady << "; nothing changed.\n";
      return 5;
    }
    return TakeBack(t, true);
  }
  // Modrik gone, though not all of the state was its own (6): the grant goes too.
  const int status = Uninstall(t, waitSeconds);
  if (status != 0 && status != 6) return status;
  const int back = TakeBack(t, false);
  return back != 0 ? back : status;
}

}  // namespace hostcmd
