// End-to-end harness: runs the real modrik.exe and the Windows-side test tools
// (build/win/tests/win) under Wine for a throwaway user, and reads back what
// they recorded.
//
// Every wait is bounded. Wine's output always goes to files, never to a pipe
// (Wine's background processes inherit it and would keep a pipe open).
// Tests that use the harness share one Wine prefix and must run one at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// ---- build products ---------------------------------------------------------

// True when the run is for a 32-bit prefix (MODRIK_E2E_ARCH=win32 in the
// environment): the prefix is made with WINEARCH=win32, and modrik.exe and
// the test tools are the i686 builds.
bool Win32Prefix();
// The Windows build folder (holds modrik.exe): build/win, or build/win32
// for a 32-bit prefix.
std::string WinBuildDir();
// modrik.exe as built (may not exist yet), or the host path given in the
// environment variable MODRIK_E2E_EXE (to try another build of the program).
std::string ModrikExe();
// Ends the wineserver of the environment's prefix and waits for its end.
// It writes the registry first: `wineserver -k` asks it to end but kills it
// after about 10 s, before it has written what changed, on a busy machine.
inline const std::vector<std::string> kEndWineserver = {"sh", "-c", "wineserver -k15; exec wineserver -w"};
// A Windows test tool by name, e.g. ToolExe("mdkdrive") -> .../tests/win/mdkdrive.exe.
std::string ToolExe(const std::string& name);
// The host command `modrik` as built (build/bin/modrik), or the one named in
// the environment variable MODRIK_E2E_HOSTCMD (an installed package's).
std::string HostCommand();

// ---- files (host paths, exact bytes) ------------------------------------------

// Reads a whole file; nullopt when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path);
// Creates or replaces a file with exactly these bytes (creating its folder);
// false on failure.
bool WriteFile(const std::string& path, const std::string& bytes);
// True when something exists at the path (file, folder or link).
bool Exists(const std::string& path);
// Creates a folder and its parents.
bool MakeDirs(const std::string& path);
// Removes a file or a whole folder tree; no error when it is missing.
void RemoveTree(const std::string& path);
// Copies a file (bytes and permission bits); false on failure.
bool CopyFile(const std::string& from, const std::string& to);
// Waits until the file exists and `done` (if given) accepts its bytes, polling
// every few milliseconds for at most timeoutMs. Returns the bytes, or nullopt.
std::optional<std::string> WaitForFile(const std::string& path, int timeoutMs,
                                       bool (*done)(const std::string& bytes) = nullptr);

// The ANSI (code page 1252) bytes of a UTF-8 text, as a Windows program under
// Wine sees a host file name. Only ASCII and U+00A0..U+00FF are converted
// (they have the same codes in both); anything else becomes '?'.
std::string AnsiOf(const std::string& utf8);

// ---- field files (the tools' job and result format) ---------------------------

// One field: "<key> <byte count>:<bytes>\n".
struct Field {
  std::string key;
  std::string value;
};
using Fields = std::vector<Field>;

// Encodes fields in the tools' format.
std::string FormatFields(const Fields& fields);
// Decodes fields; false when the bytes are not a well-formed field file
// (fields parsed before the fault are kept in *out).
bool ParseFields(const std::string& bytes, Fields* out);
// The value of the first field with this key, or nullopt.
std::optional<std::string> FieldValue(const Fields& fields, const std::string& key);

// ---- processes ------------------------------------------------------------------

// The outcome of a host process run with a bound.
struct RunResult {
  bool started = false;   // false: it could not be started (err says why)
  bool timedOut = false;  // killed at the bound
  int exitCode = -1;      // exit status, or -1 after a signal
  std::string out;        // captured standard output (from a file)
  std::string err;        // captured standard error (from a file)
};

// Runs a host program with the given argv (argv[0] is looked up on PATH) and
// environment, standard input from /dev/null and output to files under
// logBase (logBase + ".out" / ".err"); waits at most timeoutMs, then kills it.
// cwd empty: the current folder. No other descriptor is passed to the child.
RunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& logBase, int timeoutMs, const std::string& cwd = "");

// ---- the Wine environment ------------------------------------------------------

// The Wine set-up of the throwaway test user. The user name is "mdkt" (the
// CMake cache variable MODRIK_E2E_USER) unless the environment variable
// MODRIK_E2E_USER names another: two suites running side by side on one
// machine need two users. MDK_E2E_VERBOSE=1 reports the time of each drive.
class Wine {
 public:
  // The shared environment. The first call in a process takes the suite's lock
  // file, makes sure the prefix exists (creating it when needed) and that a
  // persistent wineserver runs for the current display.
  static Wine& Get();

  const std::string& User() const { return user_; }      // "mdkt"
  const std::string& Home() const { return home_; }      // /home/mdkt
  const std::string& Prefix() const { return prefix_; }  // /home/mdkt/.wine
  std::string DriveC() const { return prefix_ + "/drive_c"; }
  // Host folder for the harness's own logs.
  std::string LogDir() const { return home_ + "/.mdk-e2e-logs"; }
  // The Wine version as Wine reports it to programs ("8.0", "10.0"), from
  // `wine --version`.
  std::string Version();
  // True when the prefix runs 32-bit programs (wine32 is installed, or the
  // prefix is a 32-bit one).
  bool Runs32Bit();

  // The environment for every Wine command: ours with USER, LOGNAME, HOME,
  // WINEPREFIX, LANG, WINEDEBUG and WINEDLLOVERRIDES set for the test user,
  // then the "NAME=VALUE" overrides (replacing a variable of the same name).
  std::vector<std::string> Environment(const std::vector<std::string>& overrides = {}) const;

  // Runs `wine program args...` (program: host or Windows path) with output to
  // files, waiting at most timeoutMs. cwd: host folder to start in (Wine makes
  // it the Windows current folder), empty for the test's own.
  // inside: the command the wine command runs under (a sandbox), if any.
  RunResult RunWine(const std::string& program, const std::vector<std::string>& args,
                    int timeoutMs, const std::string& cwd = "",
                    const std::vector<std::string>& envOverrides = {},
                    const std::vector<std::string>& inside = {});
  // Runs a Wine tool such as "wineserver" or "wineboot" with the test user's
  // environment, waiting at most timeoutMs.
  RunResult RunTool(const std::vector<std::string>& argv, int timeoutMs);

  // Deletes the prefix and creates it anew (wineboot -i, Managed=N for the X11
  // driver, ShowCrashDialog=0), then starts a persistent wineserver.
  bool CreatePrefix();
  // Stops the wineserver and every Wine process of the prefix.
  void Shutdown();

  // The Windows path of a host path: C:\... inside drive_c, else Z:\...
  std::string WindowsPath(const std::string& hostPath) const;

 private:
  Wine();
  bool EnsureServer();
  int NextLogId() { return ++logId_; }

  std::string user_, home_, prefix_, version_;
  int lockFd_ = -1;
  int runs32_ = -1;
  int logId_ = 0;
};

// What the fake native player does after recording its start. Its end is
// a line "done MS" or "TERM MS" (Unix time in ms) in rel + ".end".
struct NativePlayerActs {
  int status = 0;          // the exit status it ends with
  bool keepsInput = false; // copies its standard input to rel + ".in"
  int playSeconds = 0;     // plays this long, unless it is ended (SIGTERM)
  bool keepsEnvironment = false;  // writes its environment (env) to rel + ".env"
  std::string printedToError = std::string();  // printed on its standard error after `printed`
};

// ---- per-test folders --------------------------------------------------------------

// A fresh folder for one test inside the prefix's drive C:
// C:\mdk-e2e\<name>. Created empty (an old one of the same name is removed).
class TestFolder {
 public:
  explicit TestFolder(const std::string& name);
  // Named after the running GoogleTest test ("Suite.Test").
  static TestFolder ForCurrentTest();

  const std::string& HostDir() const { return host_; }
  std::string WinDir() const;  // without trailing backslash
  // Host and Windows paths of a relative path inside the folder ('/' separated).
  std::string Host(const std::string& rel) const;
  std::string Win(const std::string& rel) const;

  // Copies modrik.exe to rel (default "modrik.exe"); returns its Windows path.
  std::string InstallModrik(const std::string& rel = "modrik.exe") const;
  // Copies a Windows test tool (e.g. "fakeplayer") to rel; returns its Windows path.
  std::string InstallTool(const std::string& tool, const std::string& rel) const;
  // Writes an executable fake native player script at rel; it appends its
  // records to rel + ".rec", then prints `printed` on its standard output,
  // then does what `acts` says and appends how and when it ended to
  // rel + ".end". Returns the script's host path.
  std::string MakeNativePlayer(const std::string& rel, const std::string& printed = "",
                               const NativePlayerActs& acts = {}) const;

 private:
  std::string host_;
};

// Puts a host folder first on the PATH of the host commands started from now
// on, until it goes out of scope. Wine passes the PATH of the `wine` command
// on to the Unix programs it starts, so a fake command there (e.g. `whereis`)
// is the one that the program's host commands run.
class PathFirst {
 public:
  explicit PathFirst(const std::string& folder);
  ~PathFirst();
  PathFirst(const PathFirst&) = delete;
  PathFirst& operator=(const PathFirst&) = delete;

 private:
  std::string old_;
};

// ---- driving a program: message boxes, exit code ----------------------------------

// One message box seen by mdkdrive.
struct Box {
  std::string title;
  std::string text;     // exact, CR characters kept
  std::string buttons;  // ids of its buttons, e.g. "6,7" (Yes, No) or "1" (OK)
  std::string icon;     // "shown", or "none" when the box shows no icon
  int answer = 0;       // the button id pressed
};

// What to do while driving a program.
struct DriveOptions {
  std::string cwd;                   // Windows working folder; empty: inherited
  std::vector<int> answers;          // buttons to press, box by box
  std::vector<std::string> unsetEnv; // variables removed from its environment
  std::vector<std::string> setEnv;   // "NAME=VALUE" entries set in it
  std::vector<std::string> hostEnv;  // "NAME=VALUE" overrides for the host's wine command
  int timeoutMs = 90000;             // bound on the program's run
  std::string stdinFile;             // host file fed to the program's standard input (a pipe)
  // "pipe": the program's standard output (error) is a pipe read to its
  // end, into DriveResult's out (err); "closed": a pipe nobody reads once
  // the program has started; else a host file made for it.
  std::string stdoutTo, stderrTo;
  std::string terminateWhen;         // host path: the program is terminated once it exists,
  int terminateAfterMs = 0;          //   this much later
  std::vector<std::string> inside;   // the command Wine runs under (a sandbox), if any
};

// The outcome of driving a program.
struct DriveResult {
  bool ran = false;        // mdkdrive ran and wrote a well-formed result
  bool started = false;    // the program was started
  long error = 0;          // CreateProcessA's error when not started
  std::vector<Box> boxes;  // in the order they appeared
  long exitCode = -1;
  bool timedOut = false;   // it hung and was killed
  long ms = 0;             // its run time
  long long endAt = 0;     // Unix time in ms of its end
  long long terminatedAt = 0;  // Unix time in ms of TerminateProcess, 0 if not
  std::string out, err;    // what its output pipes gave
  std::string raw;         // the result file's bytes, for failure messages
  std::string wineErr;     // Wine's standard error (with WINEDEBUG=+debugstr: the trace)
};

// Starts the exact Windows command line with mdkdrive.exe under Wine, answers
// message boxes, waits (bounded) for the end. Job and result files live in
// the folder's ".mdk" subfolder.
DriveResult Drive(const TestFolder& folder, const std::string& commandLine,
                  const DriveOptions& options = {});

// ---- records of the fake players ---------------------------------------------------

// One start of fakeplayer.exe.
struct WinPlayerRecord {
  std::string cmdline;   // GetCommandLineA
  std::string wcmdline;  // GetCommandLineW, in UTF-8
  long flags = 0;       // STARTUPINFO dwFlags
  long show = 0;        // STARTUPINFO wShowWindow
  std::string cwd;
  std::optional<std::string> username;  // nullopt: USERNAME was unset
};
// Parses fakeplayer.exe's record file (complete records only).
std::vector<WinPlayerRecord> ParseWinPlayerRecords(const std::string& bytes);

// One start of the fake native player.
struct NativePlayerRecord {
  std::string argv0;              // $0
  std::string cwd;                // its working folder
  std::vector<std::string> args;  // every argument, exact
};
// Parses the native fake player's record file (complete records only).
std::vector<NativePlayerRecord> ParseNativePlayerRecords(const std::string& bytes);

// Waits at most timeoutMs until the record file holds at least `count`
// complete records of the Windows (or native) fake player; returns what it
// holds then (possibly fewer).
std::vector<WinPlayerRecord> WaitForWinPlayer(const std::string& recHostPath, int timeoutMs,
                                              size_t count = 1);
std::vector<NativePlayerRecord> WaitForNativePlayer(const std::string& recHostPath,
                                                    int timeoutMs, size_t count = 1);

// ---- calling modrik.exe's exports ----------------------------------------------------

// A text argument of an export: nullopt stands for a null BSTR.
using Text = std::optional<std::string>;
constexpr std::uint32_t kHkcu = 0x80000001u;
constexpr std::uint32_t kHklm = 0x80000002u;

// A list of calls for mdkexports.exe, made in order.
class ExportCalls {
 public:
  ExportCalls& GetIniS(const Text& file, const Text& section, const Text& key);
  ExportCalls& GetIniV(const Text& file, const Text& section, const Text& key);
  ExportCalls& DelRegKey(std::uint32_t root, const Text& subkey);
  // Helpers done by mdkexports itself with advapi32: create a key, test one.
  ExportCalls& RegCreate(std::uint32_t root, const std::string& subkey);
  ExportCalls& RegExists(std::uint32_t root, const std::string& subkey);
  const Fields& JobFields() const { return fields_; }

 private:
  ExportCalls& Arg(const Text& t);
  Fields fields_;
};

// The outcome of an ExportCalls run.
struct ExportResult {
  bool ran = false;      // mdkexports ran and wrote a well-formed result
  bool loaded = false;   // LoadLibraryA succeeded
  long bound = 0;        // import slots written
  std::vector<std::string> unbound;
  bool hasGetIniS = false, hasGetIniV = false, hasDelRegKey = false;
  bool crashed = false;
  Fields results;        // one field per call: key = call name (GETINIS.null for null)
  std::string raw;
};

// Loads the executable at exeWinPath into mdkexports.exe (copied to
// folder/callerRel, run with that folder as its current folder) and makes
// the calls.
ExportResult CallExports(const TestFolder& folder, const std::string& exeWinPath,
                         const ExportCalls& calls, const std::string& callerRel = "caller/mdkexports.exe",
                         int timeoutMs = 30000);

}  // namespace e2e
