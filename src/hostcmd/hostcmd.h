// The host command `modrik`: installs modrik.exe into Wine prefixes as the
// media player's stand-in, undoes that, and lists what is installed where.
// It runs on the Linux host and reaches a prefix's registry through that
// prefix's own Wine (`reg import` / `reg export`).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "frontends/frontends.h"

namespace hostcmd {

// ---- targets: the prefixes to work on -------------------------------------

// One prefix with the Wine that runs it and the front-end that made it
// known ("wine": given on the command line or by the environment).
struct Target {
  std::string prefix;      // host path
  std::string wine;        // the `wine` program that runs it, as its runner sees it
  std::string frontend;    // "wine", "lutris", "bottles", "steam", "heroic"
  std::string flatpakApp;  // the Flatpak whose Wine runs it, "" for the host's
  std::string title;       // the user's words for a front-end's prefix, "" for "wine"
  std::string notReady;    // why it cannot be worked on, "" when it can
  std::string id = {};          // the front-end's name of it (a slug, a bottle's name), "" for "wine"
  std::string unreadable = {};  // why the front-end's file (then `prefix`) cannot be read
  // What `list` and the messages call it: "wine", "Steam game 620 (Portal 2)".
  std::string Name() const { return title.empty() ? frontend : title; }
};

// What the command line says about targets.
struct TargetOptions {
  std::string prefix;  // --prefix, "" when not given
  std::string wine;    // --wine, "" when not given
  modrik::frontends::Selection frontends;  // --lutris, --bottle, --steam, --heroic, --all
};

// The targets named by the options and the environment: the prefix
// defaults to $WINEPREFIX, else ~/.wine; the Wine to $WINE, else "wine".
std::vector<Target> WineTargets(const TargetOptions& options);
// A front-end's prefix as a target.
Target FrontendTarget(const modrik::frontends::Prefix& prefix);
// The targets of a command: the front-ends' prefixes asked for, with the
// plain prefix when --prefix or --wine is given or no front-end is named;
// `--all` adds the plain prefix only when it exists. `list` with no target
// named lists them all. A front-end's name that matches nothing is an error
// in *errors.
std::vector<Target> SelectTargets(const TargetOptions& options, bool listing, std::vector<std::string>* errors);

// How a Wine program of the target's runner is run: the argv, and the
// variables to add to the environment (WINEPREFIX, and quiet defaults). A
// Flatpak's Wine runs inside it, by `flatpak run --command`, its variables
// as --env options.
struct WineCommand {
  std::vector<std::string> argv;
  std::vector<std::string> env;
};
WineCommand WineCommandOf(const Target& target, const std::string& program, const std::vector<std::string>& args);

// ---- prefixes ---------------------------------------------------------------

// "win64", "win32", another `#arch=` value, or "" when the prefix has no
// readable system.reg.
std::string PrefixArch(const std::string& prefix);
// The build folder name of an architecture ("x86_64", "i686"), "" for none.
std::string BuildArchOf(const std::string& prefixArch);
// True when something stands at the path (a link is not followed).
bool Exists(const std::filesystem::path& path);
// True when a wineserver of this user serves the prefix now.
bool ServerRunning(const std::string& prefix);
// True when the Flatpak app has a running instance (`flatpak ps`): its Wine
// may serve a prefix from inside, where the host sees no wineserver.
bool FlatpakRunning(const std::string& app);
// "" when files can be created in the folder, else why not (WriteReason).
std::string WriteError(const std::string& folder);
// The default value of a key of HKEY_LOCAL_MACHINE ("Software\\VideoLAN\\VLC")
// in the text of a prefix's system.reg, as Wine saves it; nullopt when the
// key is not there.
std::optional<std::string> MachineKeyDefault(const std::string& systemReg, const std::string& key);

// ---- processes --------------------------------------------------------------

// Runs argv (argv[0] looked up on PATH) in a process group of its own (a
// Ctrl-C at the terminal reaches this command only), with the environment
// plus `env` ("NAME=VALUE" entries), standard input from the file `input`
// (by default /dev/null) and both outputs to the file `log` (appended).
// Returns the exit status, -1 when it could not run, ended by a signal, was
// killed after timeoutSeconds (0: no bound) or on a second interruption
// (with stopOnSignal, on the first: a program that only reads). The log is
// opened without following a link, and refused when it has other names.
int Run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& log, int timeoutSeconds = 0, const std::string& input = "", bool stopOnSignal = false);
// What argv writes to its standard output and error, when it exits with 0.
std::optional<std::string> Capture(const std::vector<std::string>& argv, int timeoutSeconds = 0,
                                   const std::string& input = "");
// The full path of a program found on PATH, "" when none.
std::string FindOnPath(const std::string& name);
// The lowercase hex SHA-256 of a file (`sha256sum` reading it as its input,
// so that no file name is escaped), "" when unreadable.
std::string Sha256(const std::string& path);
// "" for an executable file, else what it is instead: "does not exist",
// "is a folder", "is not an executable file".
std::string PlayerError(const std::string& path);

// SIGINT, SIGTERM and SIGHUP are noted, not acted on at once: a change to a
// prefix checks for them between its steps. A second one also ends the Wine
// program under way (Run).
void CatchSignals();
int Interrupted();      // the first signal received, 0 for none
int Interruptions();    // how many were received
std::string SignalName(int signal);  // "SIGINT"

// ---- files that survive a cut, written through no link (files.cpp) ---------

// Why a write failed, for a message: ENOSPC and EDQUOT are "no space left
// on the device", others strerror's text.
std::string WriteReason(int error);
// "no space left on the device" when the file system of the path has less
// than a MiB left, else "": what a Wine that failed to write was short of.
std::string SpaceShortage(const std::string& path);
// Writes a file whole or not at all: a new file beside it (PATH.modrik-new,
// made afresh, no link followed), flushed to the disk, renamed over PATH, the
// folder flushed. "" when done, else "cannot write PATH: REASON".
std::string WriteWhole(const std::string& path, const std::string& bytes, unsigned mode = 0644);
// The same with a copy of a file (read as ReadOwnFile reads it), keeping its mode.
std::string CopyWhole(const std::string& from, const std::string& to);
// A regular file's bytes, opened without following a link and without
// waiting on a FIFO, up to maxBytes; nullopt and *why when it is no such file.
std::optional<std::string> ReadOwnFile(const std::string& path, std::string* why = nullptr,
                                       size_t maxBytes = 64u << 20);
// "" when the folder is one of this user's own, reached through no link,
// else what it is instead: "is a link", "is not a folder", "belongs to
// another user", or why it cannot be looked at.
std::string OwnFolderProblem(const std::string& folder);
// The first link on the way from `base` (trusted) down to `path` below it,
// "" when there is none.
std::string LinkBelow(const std::string& base, const std::string& path);

// ---- the change under way, one at a time (transaction.cpp) -----------------

// The change under way in a prefix (PREFIX/modrik-install/journal): written
// before its first step, each step added when done, gone when the change is
// complete. One that is still there was cut short (SIGKILL, a power cut).
struct Journal {
  std::string operation;          // "install", "uninstall"; "" for none
  std::vector<std::string> done;  // the steps done, in order
  bool Done(const std::string& step) const;
};
// A journal's text; *problem says what in it is not modrik's ("" when all is).
Journal ParseJournal(const std::string& text, std::string* problem = nullptr);
std::string JournalText(const Journal& journal);
// The steps a command runs, as "OPERATION:STEP", given the change that was
// cut short there (`pending`): an uninstall cut short is run again first,
// whole (each of its steps can be, and its journal's word is not taken for
// what is done), then the command's own operation follows. An install's
// steps are all run again too; an uninstall takes back whatever an install
// cut short had done.
//   install:   keep files registry settings record
//   uninstall: files registry desktop state
std::vector<std::string> StepsOf(const std::string& command, const Journal& pending);

// One change at a time per prefix: an exclusive flock(2) on the prefix's
// folder, held as long as the object lives. Take() waits up to waitSeconds
// (saying so on standard output) and stops early on a signal.
class PrefixLock {
 public:
  explicit PrefixLock(const std::string& prefix) : prefix_(prefix) {}
  ~PrefixLock();
  PrefixLock(const PrefixLock&) = delete;
  PrefixLock& operator=(const PrefixLock&) = delete;
  enum Result { kTaken, kBusy, kInterrupted, kFailed };
  Result Take(int waitSeconds);
  // True when a change holds the lock now (for `list`, which does not wait).
  static bool Busy(const std::string& prefix);

 private:
  std::string prefix_;
  int fd_ = -1;
};

// ---- the state folder, read as input (state.cpp) ---------------------------

// The registry keys modrik writes, below HKEY_LOCAL_MACHINE\SOFTWARE in
// either view (any letter case): the player's key VideoLAN\VLC, App
// Paths\vlc.exe, and in Classes (and Classes\Wow6432Node) the class
// Applications\vlc.exe and each associated type's .TYPE and VLC.TYPE; with
// the folders above the player's key and the class (VideoLAN,
// Applications), which an install makes when they are missing. An install
// lists no other key; an uninstall deletes no other.
bool IsModrikKey(const std::string& key);

// PREFIX/modrik-install as an install left it, read through no link and
// checked against what modrik writes there: every entry that is not
// modrik's is set aside (in `foreign`), a file that does not parse or does
// not match the install's record is named (in `damaged`).
struct InstallState {
  std::string folder;
  std::string refused;     // why the folder cannot be used at all ("" when it can)
  bool installed = false;  // the record "installed" is there
  std::string version;     // the version it names
  Journal journal;
  std::vector<std::string> keys;     // registry.keys: modrik's keys
  std::string saved;                 // registry.saved: its sections below those keys
  std::vector<std::string> created;  // created-files: modrik's desktop files
  bool registryDamaged = false;      // registry.keys or registry.saved cannot be trusted
  bool desktopDamaged = false;       // created-files cannot be read
  bool journalDamaged = false;
  std::vector<std::string> damaged;  // "FILE is damaged: REASON"
  std::vector<std::string> foreign;  // "FILE names X, which is not modrik's: left alone"
  bool Exists() const { return installed || !journal.operation.empty() || !damaged.empty(); }
};
// `desktopFiles`: the desktop entry and icons by the names modrik gives them.
InstallState ReadInstallState(const std::string& prefix, const std::vector<std::string>& desktopFiles);
// Why a saved registry's text is no .reg body as an install writes it
// (sections of values, each line whole), "" when it is one.
std::string SavedProblem(const std::string& text);
// The line of registry.sums for a file of the state folder: "NAME SIZE SHA256".
std::string SumLine(const std::string& folder, const std::string& name);
// The desktop entry and icons modrik makes under the user's data home.
std::vector<std::string> DesktopFiles();
// True when the desktop file at the path is still one modrik writes: a
// regular file of this user, not a link, with modrik's entry or icon in it.
bool StillModriks(const std::string& path);

// ---- registry files ---------------------------------------------------------

// A text as a quoted .reg string value.
std::string RegString(const std::string& text);
// The UTF-8 lines of a .reg file as `reg export` writes it (UTF-16LE with a
// byte-order mark, CR LF), without line ends.
std::vector<std::string> RegFileLines(const std::string& bytes);
// A .reg file body (UTF-8, LF) as `reg import` reads it: UTF-16LE, byte-order
// mark, version header, CR LF.
std::string RegFileBytes(const std::string& body);

// What an install must keep of the registry before it writes `wanted` keys.
struct SavedKeys {
  std::vector<std::string> listed;  // keys uninstall deletes
  std::string sections;             // sections uninstall imports again
};
// From an export of `root` (its lines), the keys to list for `wanted`:
// each wanted key, or its highest missing ancestor below `root` that is
// one of modrik's keys (IsModrikKey), unless
// it (or an ancestor) is in `done` already (listed by an earlier install);
// and the exported sections of each listed key and its subkeys.
SavedKeys SaveKeys(const std::vector<std::string>& exportLines, const std::string& root,
                   const std::vector<std::string>& wanted, const std::vector<std::string>& done);

// ---- installing ---------------------------------------------------------------

struct InstallOptions {
  bool associate = false;
  bool force = false;
  std::optional<std::string> player;  // --player; nullopt: vlc found on PATH
  std::string exe;                    // --exe: the build to install, "" for the shipped ones
  int waitSeconds = 10;               // for a running wineserver to end
};

// The shipped build of modrik.exe for a build architecture ("x86_64",
// "i686"), next to this program: "" when there is none.
std::string ShippedExe(const std::string& buildArch);
// The build architecture of a Windows program ("x86_64", "i686"), from its
// PE header; "" for another or none.
std::string BuildArchOfExe(const std::string& path);
// True when the file is a build of modrik.exe.
bool IsModrik(const std::string& path);

// Each prints what it does on standard output and why it refuses on
// standard error, and returns the exit status.
// A change is made in steps (StepsOf) and finishes one cut short first.
// Interrupted (Interrupted()) before it changes the prefix, it stops there
// (nothing changed); later, it finishes the change. Either way it returns
// 128 + the signal's number.
// One change at a time: each holds the prefix's lock (PrefixLock), waited
// for up to waitSeconds (then 4). The state folder is read first
// (ReadInstallState); one that is not all modrik's, or damaged, ends an
// uninstall with 6 once modrik's own files and keys are gone, and refuses
// an install (6).
int Install(const Target& target, const InstallOptions& options);
int Uninstall(const Target& target, int waitSeconds);
// One line per target: prefix, architecture, and what is there: the version
// installed and whether it is current, a change cut short (half-installed,
// half-removed), or what is missing or left over (the vlc.exe files, the
// registry key that names them).
int List(const std::vector<Target>& targets);

// ---- the channel of a start, and the Flatpak permission (channel.cpp) ------

// Whether a Flatpak app may start host programs (talk to
// org.freedesktop.Flatpak): its metadata's [Session Bus Policy], then the
// system's and the user's overrides, each the global one, then the app's.
struct FlatpakPermission {
  bool installed = false;  // its metadata was found
  bool talks = false;
  std::string decidedBy;   // the file whose line decides it, "" when none says
};
FlatpakPermission FlatpakPermissionOf(const std::string& app);
// The user's own override file of an app, as `flatpak override --user` has it.
std::string UserOverride(const std::string& app);

// Where the command runs: a toolbox or distrobox container, and the first
// of its ways out to the host that is here.
struct HostFacts {
  bool inContainer = false;
  std::string wayOut;
};
HostFacts ReadHostFacts();
// The channel a start in the prefix takes to the host's player, as `list`
// says it: host, flatpak-spawn, launch client, container way out, or
// portal with what is lost and the command that gives the whole hand-off.
std::string ChannelOf(const Target& target, const HostFacts& facts);
// A word of a shell command line, quoted when it holds more than letters,
// digits and . _ - / = :; and the option that names the target's prefix on
// modrik's command line ("--bottle Office", "--prefix /home/u/.wine").
std::string ShellWord(const std::string& word);
std::string OptionOf(const Target& target);
// `list`: each target's line, and its channel under a prefix; a front-end's
// file that cannot be read, with why.
int ListWithChannels(const std::vector<Target>& targets);

// Key files, as GLib reads them: "" or "line N: what is wrong"; a key's
// value in a group; the text with the key set (its line replaced, else
// added to the group, else in a new group at the end), or without its line
// (and without the group when nothing is left in it and dropGroup).
std::string KeyfileProblem(const std::string& text);
std::optional<std::string> KeyfileValue(const std::string& text, const std::string& group, const std::string& key);
std::string KeyfileSet(const std::string& text, const std::string& group, const std::string& key,
                       const std::string& value);
std::string KeyfileRemove(const std::string& text, const std::string& group, const std::string& key, bool dropGroup);
// True when the text (when there is one) has the group.
bool KeyfileHasGroup(const std::optional<std::string>& text, const std::string& group);
// The text without the blanks and line ends around it.
std::string Trim(const std::string& text);

// --grant-host: what would keep the permission from being given ("" when
// nothing would); giving it to the target's Flatpak after an install; and
// taking it back (only when no other prefix of the app asked for it; `said`
// reports also when there is nothing to take back).
std::string GrantProblem(const Target& target);
int Grant(const Target& target);
int TakeBack(const Target& target, bool said);
// Install, then grant with --grant-host (refused before anything changes
// when the grant could not be made). Uninstall, then take back; with
// --grant-host only take the permission back, modrik staying installed.
int InstallAndGrant(const Target& target, const InstallOptions& options, bool grantHost);
int UninstallAndTakeBack(const Target& target, int waitSeconds, bool grantOnly);

}  // namespace hostcmd
