// The sandbox imitations: a bubblewrap root made of the host's folders, less
// the host's player, plus each sandbox's own marks, bus and channel.
#include "sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <chrono>
#include <thread>

namespace e2e {

namespace {

const char kSpawn[] = "/usr/libexec/flatpak-xdg-utils/flatpak-spawn";
const char kXdgOpen[] = "/usr/libexec/flatpak-xdg-utils/xdg-open";
const char kSessionHelper[] = "/usr/libexec/flatpak-session-helper";

std::string StandIn(const std::string& name) {
  return std::string(MODRIK_SOURCE_DIR_PATH) + "/tests/e2e/sandbox/" + name;
}

std::vector<std::string> SortedNames(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A file, folder or link of the host (or of the runtime's root), as it is,
// at `path` inside.
void Keep(const std::string& root, const std::string& path, std::vector<std::string>& args) {
  const std::string source = root + path;
  struct stat st;
  if (lstat(source.c_str(), &st) != 0) return;
  if (S_ISLNK(st.st_mode)) {
    char target[4096];
    const ssize_t n = readlink(source.c_str(), target, sizeof target - 1);
    if (n > 0) args.insert(args.end(), {"--symlink", std::string(target, n), path});
  } else {
    args.insert(args.end(), {S_ISDIR(st.st_mode) ? "--bind" : "--ro-bind", source, path});
  }
}

// Each entry of a folder but some.
void KeepEntries(const std::string& root, const std::string& folder, const std::vector<std::string>& except,
                 std::vector<std::string>& args) {
  args.insert(args.end(), {"--dir", folder});
  for (const std::string& name : SortedNames(root + folder))
    if (std::find(except.begin(), except.end(), name) == except.end()) Keep(root, folder + "/" + name, args);
}

// What a runtime gives a sandbox in place of the host's.
const std::vector<std::string> kSystem = {"usr", "etc", "bin", "sbin", "lib", "lib32", "lib64", "libx32"};

bool WaitFor(const std::string& path, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (Exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

const std::vector<SandboxKind>& SandboxKinds() {
  static const std::vector<SandboxKind> kinds = {
      // Lutris's Flatpak: the home, and the permission to start host commands.
      {"flatpak_host", Channel::kFlatpakSpawn, "net.lutris.Lutris", true, "flatpak", {}},
      // Bottles' (and Heroic's) Flatpak as installed: neither.
      {"flatpak", Channel::kPortal, "com.usebottles.bottles", false, "flatpak", {}},
      // Proton in Steam's container, with Steam's launcher service.
      {"steam", Channel::kLaunchClient, "", true, "pressure-vessel",
       {"PRESSURE_VESSEL_RUNTIME=sniper", "STEAM_COMPAT_CLIENT_INSTALL_PATH=/home/steam-root",
        "STEAM_COMPAT_DATA_PATH=/home/steam-root/steamapps/compatdata/620", "SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM=1"}},
      // Proton in the same container started by umu-launcher: no service.
      {"umu", Channel::kPortal, "", true, "pressure-vessel",
       {"PRESSURE_VESSEL_RUNTIME=sniper", "STEAM_COMPAT_DATA_PATH=/home/umu/Games/umu", "UMU_ID=umu-0"}},
      // Wine from a Snap.
      {"snap", Channel::kPortal, "", true, "", {"SNAP=/snap/wine-platform/7", "SNAP_NAME=wine-platform"}},
      // Proton in Steam's container, where the current client's launcher service does not answer.
      {"steam_noservice", Channel::kLaunchFails, "", true, "pressure-vessel",
       {"PRESSURE_VESSEL_RUNTIME=sniper", "SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM=1", "MDK_LAUNCH_FAILS=1"}},
      // A toolbox and a distrobox without a player: the host's, through their way out.
      {"toolbox", Channel::kFlatpakSpawn, "", true, "", {"container=oci"}, {"/run/.containerenv", "/run/.toolboxenv"}},
      {"distrobox", Channel::kHostExec, "", true, "",
       {"container=podman", "DISTROBOX_ENTER_PATH=/usr/bin/distrobox-enter", "CONTAINER_ID=box"}, {"/run/.containerenv"}},
      // A plain host with a variable left over (a Flatpak's, a Snap's terminal; Steam's).
      {"left_flatpak_id", Channel::kNone, "", true, "", {"FLATPAK_ID=org.gnome.Builder"}},
      {"left_snap", Channel::kNone, "", true, "", {"SNAP=/snap/code/7", "SNAP_NAME=code"}},
      {"left_pressure_vessel", Channel::kNone, "", true, "", {"PRESSURE_VESSEL_RUNTIME=sniper"}},
  };
  return kinds;
}

const std::vector<Runtime>& Runtimes() {
  static const std::vector<Runtime> runtimes = [] {
    const char* root = std::getenv("MODRIK_WINE10_ROOT");
    return std::vector<Runtime>{{"host", ""}, {"debian13", root && *root ? root : "/var/cache/modrik/debian13-wine10"}};
  }();
  return runtimes;
}

std::string SandboxMissing() {
  static const std::string missing = [] {
    for (const char* tool : {"/usr/bin/bwrap", kSpawn, kXdgOpen, kSessionHelper, "/usr/bin/dbus-daemon"})
      if (access(tool, X_OK) != 0) return std::string(tool) + " is missing (scripts/deps.sh installs it)";
    // A root where bubblewrap cannot make a mount namespace (some chroots).
    RunResult probe = RunProcess({"bwrap", "--dev-bind", "/", "/", "true"}, {}, "/var/tmp/mdk-sandbox-probe", 10000);
    return probe.exitCode == 0 ? std::string() : "bubblewrap cannot make a sandbox here: " + probe.err;
  }();
  return missing;
}

Sandbox::Sandbox(const SandboxKind& kind, const std::string& testDir, const std::string& hostOnly,
                 const std::string& runtime)
    : kind_(kind), runtime_(runtime), testDir_(testDir), hostOnly_(hostOnly) {
  Wine& wine = Wine::Get();
  dir_ = "/var/tmp/mdk-sandbox-" + wine.User() + "/" + kind.name;
  bus_ = dir_ + "/bus";
  prefix_ = kind.home ? wine.Home() + "/.mdk-sandbox/" + kind.name + "/pfx"
                      : wine.Home() + "/.var/app/" + kind.flatpakId + "/data/mdk-pfx";
  if (!(error_ = SandboxMissing()).empty()) return;
  if (!runtime_.empty() && !Exists(runtime_ + "/usr/bin/wine")) {
    error_ = "no runtime at " + runtime_;
    return;
  }
  RemoveTree(dir_);
  MakeDirs(dir_);
  MakeDirs(hostOnly_);
  // Flatpak makes the app's own folders in the home on every run.
  if (*kind.flatpakId)
    for (const char* own : {"cache", "config", "data"}) MakeDirs(wine.Home() + "/.var/app/" + kind.flatpakId + "/" + own);
  std::string info = std::string("[Application]\nname=") + kind.flatpakId +
                     "\nruntime=runtime/org.freedesktop.Platform/x86_64/23.08\n\n[Context]\nshared=network;ipc;\n"
                     "sockets=x11;pulseaudio;\nfilesystems=" + (kind.home ? "home;" : "xdg-download;") + "\n";
  if (kind.channel == Channel::kFlatpakSpawn) info += "\n[Session Bus Policy]\norg.freedesktop.Flatpak=talk\n";
  WriteFile(dir_ + "/flatpak-info", info);
  WriteFile(dir_ + "/container-manager", std::string(kind.manager) + "\n");
  WriteFile(dir_ + "/mark", "");
  if (!StartServices()) {
    if (error_.empty()) error_ = "the sandbox's services did not start";
    return;
  }
  // The sandbox's own prefix, a copy with a wineserver of its own: of the
  // suite's, or for a runtime's Wine of one it made once (an older Wine's
  // prefix would be updated in place, through the copy's links).
  std::string base = wine.Prefix();
  if (!runtime_.empty()) {
    // Where every sandbox sees it.
    base = "/var/tmp/mdk-sandbox-" + wine.User() + "/base-" + std::to_string(std::hash<std::string>()(runtime_));
    // Made again when the runtime's packages change (its Wine may then not start an older prefix).
    const std::string packages = ReadFile(runtime_ + "/.modrik-packages").value_or("");
    if (ReadFile(base + "/.ready") != packages) {
      RemoveTree(base);
      const std::string settings = dir_ + "/settings.reg";
      WriteFile(settings, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n\"Managed\"=\"N\"\r\n");
      const std::vector<std::string> env = {"WINEPREFIX=" + base};
      // In one sandbox: a Flatpak's /tmp, where the wineserver listens, is its own.
      RunProcess(Command({"sh", "-c", "wineboot -i && wine regedit /S \"$1\"; wineserver -w", "sh", "Z:" + settings}),
                 wine.Environment(env), dir_ + "/base", 300000);
      if (!Exists(base + "/system.reg") || !WriteFile(base + "/.ready", packages)) {
        error_ = "the runtime's Wine made no prefix";
        return;
      }
    }
  }
  RemoveTree(prefix_);
  MakeDirs(prefix_.substr(0, prefix_.rfind('/')));
  RunResult copy = RunProcess({"cp", "-al", base, prefix_}, wine.Environment(), dir_ + "/copy", 60000);
  for (const char* name : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"})
    RunProcess({"cp", "--remove-destination", base + "/" + name, prefix_ + "/" + name}, wine.Environment(),
               dir_ + "/copy-reg", 30000);
  if (!copy.started || copy.exitCode != 0) {
    error_ = "the prefix could not be copied: " + copy.err;
    return;
  }
  // The tests' folders: the suite's, also through the copy's drive C.
  const std::string tests = wine.DriveC() + "/mdk-e2e";
  MakeDirs(tests);
  RemoveTree(prefix_ + "/drive_c/mdk-e2e");
  if (symlink(tests.c_str(), (prefix_ + "/drive_c/mdk-e2e").c_str()) != 0) {
    error_ = "no link to the tests' folders in the copy";
    return;
  }
}

Sandbox::~Sandbox() {
  if (!prefix_.empty() && Exists(prefix_)) Run({"wineserver", "-k"}, 30000);
  for (int pid : pids_) kill(pid, SIGTERM);
  for (int pid : pids_) waitpid(pid, nullptr, 0);
  RemoveTree(prefix_);
}

std::vector<std::string> Sandbox::WineEnv() const {
  std::vector<std::string> env = {"WINEPREFIX=" + prefix_};
  if (kind_.channel == Channel::kNone) env.insert(env.end(), kind_.variables.begin(), kind_.variables.end());
  return env;
}

int Sandbox::Background(const std::vector<std::string>& argv, const std::string& log) {
  std::vector<std::string> env = Wine::Get().Environment({"DBUS_SESSION_BUS_ADDRESS=unix:path=" + bus_});
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    closefrom(3);  // no lock of the run's is held by a service a failed test leaves behind
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  if (pid > 0) pids_.push_back(pid);
  return pid;
}

bool Sandbox::StartServices() {
  // A bus of the sandbox's own that starts no service on demand: only what
  // the sandbox offers answers there.
  WriteFile(dir_ + "/bus.conf",
            "<busconfig><type>session</type><listen>unix:path=" + bus_ + "</listen><auth>EXTERNAL</auth>"
            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
  if (Background({"/usr/bin/dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--nofork"}, dir_ + "/bus.log") <= 0 ||
      !WaitFor(bus_, 10000)) {
    error_ = "no session bus: " + ReadFile(dir_ + "/bus.log").value_or("");
    return false;
  }
  if (kind_.channel == Channel::kNone) return true;
  if (kind_.channel == Channel::kPortal || kind_.channel == Channel::kLaunchFails) {
    Background({"/usr/bin/python3", StandIn("portal.py"), dir_ + "/portal.rec"}, dir_ + "/portal.log");
    if (!WaitFor(dir_ + "/READY", 10000)) {
      error_ = "the portal stand-in did not start: " + ReadFile(dir_ + "/portal.log").value_or("");
      return false;
    }
    return true;
  }
  // Flatpak's own session helper serves flatpak-spawn --host, and behind the
  // launch client stand-in it is Steam's launcher service.
  Background({kSessionHelper}, dir_ + "/helper.log");
  RunResult wait = RunProcess({"gdbus", "wait", "--session", "--timeout", "10", "org.freedesktop.Flatpak"},
                              Wine::Get().Environment({"DBUS_SESSION_BUS_ADDRESS=unix:path=" + bus_}),
                              dir_ + "/helper-wait", 15000);
  if (wait.exitCode != 0) error_ = "flatpak-session-helper did not start: " + ReadFile(dir_ + "/helper.log").value_or("");
  return wait.exitCode == 0;
}

std::vector<std::string> Sandbox::BwrapArgs() const {
  if (kind_.channel == Channel::kNone) return {};
  const std::string home = Wine::Get().Home();
  const bool flatpak = *kind_.flatpakId != 0;
  std::vector<std::string> a = {"bwrap"};
  // The host's root folder by folder, so that nothing made for the sandbox
  // lands on the host.
  std::vector<std::string> names = SortedNames("/");
  if (!runtime_.empty()) {
    std::erase_if(names, [](const std::string& n) { return std::find(kSystem.begin(), kSystem.end(), n) != kSystem.end(); });
    for (const std::string& n : SortedNames(runtime_))
      if (std::find(kSystem.begin(), kSystem.end(), n) != kSystem.end()) names.push_back(n);
  }
  for (const std::string& name : names) {
    const std::string path = "/" + name;
    const bool system = std::find(kSystem.begin(), kSystem.end(), name) != kSystem.end();
    const std::string root = system ? runtime_ : "";
    if (name == "old_root" || name == "lost+found") continue;
    if (name == "proc") a.insert(a.end(), {"--proc", "/proc"});
    else if (name == "dev") a.insert(a.end(), {"--dev-bind", "/dev", "/dev"});
    else if (name == "tmp" && flatpak) {
      // A Flatpak's own /tmp, with the X server's socket and key.
      a.insert(a.end(), {"--tmpfs", "/tmp", "--bind", "/tmp/.X11-unix", "/tmp/.X11-unix"});
      const char* xauth = std::getenv("XAUTHORITY");
      if (xauth && std::string(xauth).rfind("/tmp/", 0) == 0) a.insert(a.end(), {"--ro-bind", xauth, xauth});
    } else if (name == "run") a.insert(a.end(), {"--tmpfs", "/run"});
    else if (name == "var") a.insert(a.end(), {"--tmpfs", "/var", "--bind", "/var/tmp", "/var/tmp"});
    else if (name == "usr") {
      KeepEntries(root, "/usr", {"bin", "local"}, a);
      // A /usr without the host's player, and the sandbox's own tools first.
      KeepEntries(root, "/usr/bin", {"vlc", "cvlc", "nvlc", "qvlc", "rvlc", "svlc"}, a);
      a.insert(a.end(), {"--dir", "/usr/local/bin"});
    } else Keep(root, path, a);
  }
  if (!kind_.home) {
    const std::string own = home + "/.var/app/" + kind_.flatpakId;
    a.insert(a.end(), {"--tmpfs", home, "--bind", own, own, "--bind", testDir_, testDir_});
  }
  // The tests' own programs, wherever the tree was checked out (a
  // Flatpak's /tmp and home are its own).
  a.insert(a.end(), {"--bind", MODRIK_SOURCE_DIR_PATH, MODRIK_SOURCE_DIR_PATH, "--bind", MODRIK_WIN_DIR_PATH,
                     MODRIK_WIN_DIR_PATH});
  a.insert(a.end(), {"--tmpfs", hostOnly_});
  std::string busInside = bus_;
  if (flatpak) {
    busInside = "/run/flatpak/bus";
    a.insert(a.end(), {"--ro-bind", dir_ + "/flatpak-info", "/.flatpak-info", "--bind", bus_, busInside,
                       "--ro-bind", kSpawn, "/usr/local/bin/flatpak-spawn", "--setenv", "container", "flatpak",
                       "--setenv", "FLATPAK_ID", kind_.flatpakId});
  }
  if (*kind_.manager)
    a.insert(a.end(), {"--ro-bind", dir_ + "/container-manager", "/run/host/container-manager"});
  if (std::string(kind_.manager) == "pressure-vessel") a.insert(a.end(), {"--ro-bind", "/usr", "/run/host/usr"});
  if (std::string(kind_.name) == "snap") a.insert(a.end(), {"--ro-bind", "/usr", "/var/lib/snapd/hostfs/usr"});
  for (const std::string& mark : kind_.marks) a.insert(a.end(), {"--ro-bind", dir_ + "/mark", mark});
  // A toolbox's flatpak-spawn, where Fedora's images have it.
  if (kind_.channel == Channel::kFlatpakSpawn && !flatpak) a.insert(a.end(), {"--ro-bind", kSpawn, "/usr/bin/flatpak-spawn"});
  if (kind_.channel == Channel::kPortal || kind_.channel == Channel::kLaunchFails)
    a.insert(a.end(), {"--ro-bind", kXdgOpen, "/usr/local/bin/xdg-open"});
  if (kind_.channel == Channel::kLaunchClient || kind_.channel == Channel::kLaunchFails || kind_.channel == Channel::kHostExec)
    a.insert(a.end(), {"--ro-bind", StandIn("steam-runtime-launch-client"),
                       kind_.channel == Channel::kHostExec ? "/usr/bin/distrobox-host-exec"
                                                           : "/usr/local/bin/steam-runtime-launch-client",
                       "--ro-bind", kSpawn, "/usr/local/libexec/flatpak-spawn",
                       "--setenv", "MDK_LAUNCH_RECORD", dir_ + "/launch.rec"});
  a.insert(a.end(), {"--setenv", "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + busInside, "--setenv", "PATH",
                     "/usr/local/bin:/usr/bin:/bin"});
  for (const std::string& v : kind_.variables) a.insert(a.end(), {"--setenv", v.substr(0, v.find('=')), v.substr(v.find('=') + 1)});
  a.push_back("--");
  return a;
}

std::vector<std::string> Sandbox::Command(const std::vector<std::string>& argv) const {
  std::vector<std::string> all = BwrapArgs();
  all.insert(all.end(), argv.begin(), argv.end());
  return all;
}

RunResult Sandbox::Run(const std::vector<std::string>& argv, int timeoutMs, const std::vector<std::string>& env) {
  static int runs = 0;
  const std::vector<std::string> all = Command(argv);
  std::vector<std::string> overrides = WineEnv();
  overrides.insert(overrides.end(), env.begin(), env.end());
  return RunProcess(all, Wine::Get().Environment(overrides), dir_ + "/run-" + std::to_string(++runs), timeoutMs);
}

std::string Sandbox::PortalRecords() const { return ReadFile(dir_ + "/portal.rec").value_or(""); }
std::string Sandbox::LaunchRecords() const { return ReadFile(dir_ + "/launch.rec").value_or(""); }

}  // namespace e2e
