// The Wine bridge: Wine detection, the Unix command runner, the drive map
// and the translation between Windows and Unix paths.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace modrik {

// ---- Wine detection ----
// -1 when the process runs under Wine, 0 otherwise.
std::int32_t IsWine();
// Wine's version text, empty outside Wine.
std::string WineVersion();

// ---- the user's home and the Wine prefix ----
std::string UserName();  // value of USERNAME, empty when unset
// True when the text begins with lowerStart, ASCII letters compared
// without regard to case.
bool StartsWithNoCase(const std::string& text, const std::string& lowerStart);
// A Unix path without the slashes at its end ("/" stays as it is).
std::string WithoutTrailingSlashes(std::string path);
// True when the text begins with a drive letter and a colon.
bool HasDriveLetter(const std::string& path);
// Every byte but letters, digits, "-._~" and those of alsoKept as %XX, as
// a URL holds it.
std::string PercentEncoded(const std::string& text, const std::string& alsoKept = "");
// The Unix path an NT path of Wine's names: "\??\Z:\..." and
// "\??\unix\..." directly, any other drive as Wine finds it; empty when
// it names none.
std::string NtPathToUnixPath(const std::string& ntPath);
// The host home and the prefix (Unix paths, no trailing slash): Wine's own
// WINEHOMEDIR and WINEPREFIX or WINECONFIGDIR, else "/home/" + user and
// its ".wine".
std::string UnixHomeFolder();
std::string PrefixFolder();
// True for the home /home/USER with the prefix ~/.wine: host commands then
// name them through "~".
bool DefaultLocations();
// The home in the Windows view, with a trailing backslash: the drive that
// maps it ("H:\"), else its host path on drive Z.
std::string WindowsHomeFolder();
// The freedesktop data folder ($XDG_DATA_HOME, else ~/.local/share): its
// Unix path, and its Windows view with a trailing backslash.
std::string UnixDataFolder();
std::string WindowsDataFolder();
// Wine's own name for a host path: "\\?\unix" and the path with
// backslashes. It needs no drive, and its names may hold any character but
// NUL (a drive's refuses '"', '*', '?', '<', '>' and '|'); a backslash in a
// host name cannot be named so.
std::string WineUnixName(const std::string& unixPath);

// ---- the private folder ----
// modrik's own folder on the host, for the files of each start and the
// playlists' copies: "modrik" in $XDG_RUNTIME_DIR, else in ~/.cache, made
// by modrik, mode 0700. A place is used only when the host shows it is the
// user's own: an absolute path, a folder and no link, owned by the user, and
// no access for others (~/.cache itself: no writing by others).
// The host's output for the command below ("missing" or "UID MODE KIND" for
// the runtime folder, its "modrik", ~/.cache and its "modrik", after the
// user's id), judged: the folder to use, or empty when no place is fit;
// each place refused adds a line to `refusals`.
std::string ChoosePrivateFolder(const std::string& runtime, const std::string& cache,
                                const std::string& hostFacts, std::vector<std::string>* refusals);
// The host command that makes the folders where that is safe and prints
// what stands there (runtime empty when there is none).
std::string PrivateFolderCommand(const std::string& runtime, const std::string& cache);
// Chosen on the first call (one captured host command) and kept: its Unix
// path, empty when no place is fit (the trace says why), and its Windows
// view with a trailing backslash (empty then too).
extern std::optional<std::string> PrivateFolder;
std::string UnixPrivateFolder();
std::string WindowsPrivateFolder();
// A folder of the private folder (the copies of a playlist), made by the
// host (mode 0700) where nothing stands, and used only as the host shows it
// right before: the user's own folder, no link, no access for others.
// The command that makes it and tells the user's id and what stands there,
// the fault found in its answer (empty: none), and the two together: the
// folder's Windows view with a trailing backslash, or empty (the trace
// says why) when it is unfit or there is no private folder.
std::string OwnFolderCommand(const std::string& path);
std::string OwnFolderFault(const std::string& path, const std::string& hostFacts);
std::string PrivateSubfolder(const std::string& name);

// ---- Unix command runner ----
extern std::string CachedWineVersion;
// The home (dues.sh's folder) as the host has found it in this process:
// not looked at yet; fit (the user's own, writable by nobody else: later
// commands need no look, as only its owner can change that); or refused
// (another user's, or one that others may write): no later host command
// of the process writes dues.sh there or runs at all.
enum class HomeState { kUnchecked, kFit, kRefused };
extern HomeState Home;
// An exit status a host command recorded in a file ("N" and a line feed):
// 0 to 255, or -1 when the text holds none.
int RecordedStatus(const std::string& text);
// The bytes of dues.sh for a command (already in the host's encoding).
std::string UnixScriptText(const std::string& command);
// One word for the host shell: single-quoted, inner single quotes as '\''.
// Whatever the word holds, the program receives it unchanged.
std::string ShellQuote(const std::string& word);
// A host command line: the program and every argument, each a quoted word.
std::string UnixCommandLine(const std::string& program, const std::vector<std::string>& args);
// The words the host shell reads in a command line of literal words:
// blank-separated, of single-quoted text, backslash-escaped characters and
// characters the shell takes as they are. Nothing when the line holds
// anything else the shell acts on (an expansion, a pattern, an operator, a
// double quote, a comment, a line end outside quotes, an open quote).
std::optional<std::vector<std::string>> ShellWords(const std::string& line);
// Writes dues.sh anew (the host program that runs it marks it executable);
// false (and nothing run) when the script could not be written whole as a
// new file.
bool WriteUnixScript(const std::string& command);
// What became of a host command.
enum class HostRun { kStarted, kScriptNotWritten, kNotStarted, kFolderUnfit };
// The host programs this process has started so far.
extern int HostProgramsRun;
// True when the last dues.sh of this process could not be written.
extern bool ScriptNotWritten;
// Runs the command on the host, without waiting for it to end: returns
// once the host shell has the script.
HostRun RunUnixCommand(const std::string& command);
// Runs the command on the host as one word of host_command.sh's (mode
// "launch": no dues.sh, no lock) and waits for it: kStarted when it ended
// with 0, kFolderUnfit with 3 (the private folder it was to use is unfit).
// The command puts whatever runs on in the background itself. Without
// Wine's own spawn, or for a command too long for one word, it goes
// through dues.sh as RunUnixCommand does.
HostRun RunUnixLaunch(const std::string& command);
// Runs the command on the host and returns its standard output once it has
// ended; empty when it failed or ran longer than 3 s.
std::string RunUnixCommandCapture(const std::string& command);

// ---- the native player ----
// The process's exit code when the start did not reach the player (else it
// is the player's own status: 0 to 255, or 128 + the signal that ended it).
constexpr int kExitScriptNotWritten = 125;  // dues.sh could not be written
constexpr int kExitNotStarted = 126;        // the player's start failed, or no private folder
constexpr int kExitNoPlayer = 127;          // no player configured, or not there
// No exit code: the start goes to the desktop's opener instead (the
// sandbox offers only that, or Steam's launcher service did not answer).
constexpr int kStartWithOpener = -1;
// No exit code: what an earlier start kept proved unfit and is forgotten;
// the start is to be made once more from the beginning.
constexpr int kStartAnew = -2;
// The files of one start, in its own folder of the private folder.
struct NativeStart {
  std::string folder;   // the private folder (Unix path)
  std::string name;     // the start's folder's name in it
  bool stream = false;  // the player reads modrik's standard input
  // The player writes its standard output, and its standard error, to
  // modrik's (the handles modrik's caller gave it), through modrik.
  bool output = false;
  bool error = false;
  std::string workingFolder;  // the player's, on the host
  // Bound on modrik taking hold of the start (the host command gives up on
  // it, and ends the player, after this long).
  unsigned holdSeconds = 20;
  // The channel's words before the player (none on a plain host), and
  // whether they are Steam's launch client, whose own failure before the
  // player starts is then recorded as such.
  std::vector<std::string> channel;
  bool launchClient = false;
  // The private folder is an earlier process's choice: checked first.
  bool verifyFolder = false;
};
// The host command that runs the player with exactly these arguments and
// records its end: the player's status in the start's "status" file
// ("unreachable" when Steam's launch client failed before the player
// started); while modrik holds the FIFO "live" (and writes the stream into
// the FIFO "in", and copies what it writes into "stdout" and "stderr"),
// the player plays; when modrik lets go of "live", or its
// process on the host (when known) ends before it took hold, the player is
// ended. The start's folder is removed at the end, and those of earlier
// starts whose host command is gone.
// It checks the private folder when asked (status 3 when unfit), puts
// that work in the background and ends (host/launch.sh); the work itself
// is this program with these words, which the host command starts.
std::string NativePlayerCommand(const std::string& playerPath, const std::vector<std::string>& args,
                                const NativeStart& start);
std::vector<std::string> NativePlayerWords(const std::string& playerPath, const std::vector<std::string>& args,
                                           const NativeStart& start);
// Starts a native player on the host with exactly these arguments and waits
// for its end; returns its status, or one of the codes above. Inside a
// sandbox, through its channel: the arguments are then the sandbox's paths,
// given to the host as it sees them.
int RunUnixPlayer(const std::string& playerPath, const std::vector<std::string>& args);
// A host command line from its words, each quoted.
std::string HostCommandLine(const std::vector<std::string>& words);
// Whether the player at this host path is there, asked through the
// sandbox's channel (directly on a plain host); kUnreachable when Steam's
// launch client gave no answer at all.
enum class HostPlayer { kThere, kMissing, kUnreachable };
HostPlayer FindHostPlayer(const std::string& playerPath);

// ---- drive map and path translation ----
extern std::vector<std::string> DriveMap;
// One link of the prefix's dosdevices folder, exactly as the host holds
// it: its name ("d:", "d::", "com1") and its target.
struct DriveLink {
  std::string name;
  std::string target;
};
// The links of the last listing, devices ("d::") included.
extern std::vector<DriveLink> DriveLinks;
// Set by the first listing: a start lists the drive links once at most,
// also when they give no drive-map entry (only c: and z:) or the listing
// failed.
extern bool DriveMapLoaded;
// The drive-map entries the links give: the drive's name followed by the
// link's target, in the links' order.
std::vector<std::string> DriveLinkMap(const std::vector<DriveLink>& links);
// The links a listing holds: each name and target ended by a NUL byte.
std::vector<DriveLink> DriveLinksOf(const std::string& listing);
// The drive-map entries a listing yields.
std::vector<std::string> ParseDriveListing(const std::string& listing);
void LoadDriveMap();
// The target of a drive's device link ("d::", such as /dev/sr0) in the
// listing of the drive links (made first when there is none yet), a
// relative one taken in the dosdevices folder; empty when the drive has
// none.
std::string DeviceLinkTarget(char drive);
// The prefix's dosdevices folder, with a trailing slash.
std::string DosdevicesFolder();
// The host command that lists the drive links.
std::string DriveListingCommand();
std::string WindowsToUnixPath(const std::string& path);
// Each path of a batch with its real names, when it is a plain drive path
// ("X:\...", nothing Windows would change) whose real names the listings
// of its folders tell; empty for any other (a short 8.3 name, "..", a
// quote), which a single lookup through Wine makes canonical.
std::vector<std::string> RealNamesOfBatch(const std::vector<std::string>& paths);
// Several paths, with at most one listing of the drive links between them.
std::vector<std::string> WindowsToUnixPaths(const std::vector<std::string>& paths);
std::string UnixToWindowsPath(const std::string& path);
std::int32_t UnixPathExists(const std::string& path);
// True when the Unix path names something that exists and is not a folder.
bool UnixFileExists(const std::string& path);

// ---- what the host told an earlier start ----
// Kept in the private folder, one file per prefix (see host_state.cpp).
struct HostState {
  std::string folder;  // the private folder the file is in
  std::string prefix;
  std::uint64_t dosdevicesTime = 0;  // the folder's change time before the listing
  std::vector<DriveLink> links;
  std::vector<std::string> icons;  // the file-manager icons set (their gio commands)
};
// Its name in the private folder: "state-" and a hash of the prefix's path.
std::string HostStateFileName();
std::string HostStateText(const HostState& state);
bool ParseHostState(const std::string& text, HostState* state);
// True while the private folder is the one an earlier process chose: the
// start's host command checks it before it makes anything there.
extern bool PrivateFolderUnverified;
// The dosdevices folder's change time read right before this process
// listed its links (0: unknown, then nothing is kept).
extern std::uint64_t DriveListingTime;
extern std::vector<std::string> IconsSet;
// The dosdevices folder's change time, as Wine reports it; 0 when unknown.
std::uint64_t DosdevicesChangeTime();
// Reads the file once per process: the private folder (unless chosen
// already), the icons set and, while the dosdevices folder has the same
// change time, the drive links.
void ReadHostState();
extern bool HostStateRead;
// Writes it when this process has learnt something new.
void WriteHostState();
// Drops what was read: the private folder proved unfit.
void ForgetHostState();

}  // namespace modrik
