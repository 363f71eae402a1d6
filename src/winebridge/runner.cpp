// The Unix command runner: a command for the host is written into the
// two-line script dues.sh in the user's home folder, and the host program
// host_command.sh (started through Wine's own spawn, no Windows process in
// between) reads and runs it. The capture variant sends the command's
// standard output into dues.log and reads that file when the command ends.
//
// The program holds its text in UTF-8, as the host reads and writes it.
#include <cstddef>
#include <cstdio>

#include "platform/platform.h"
#include "winebridge/host/host_scripts.h"
#include "winebridge/winebridge.h"

namespace modrik {

std::string CachedWineVersion;
HomeState Home = HomeState::kUnchecked;
int HostProgramsRun = 0;
bool ScriptNotWritten = false;

namespace {

// Bound on waiting for another modrik process to finish with dues.sh; past
// it the command runs all the same rather than never.
constexpr unsigned kLockWaitMs = 120000;
// Without Wine's own spawn, host_command.sh is not waited for: it leaves its
// status in a file, looked for this often, within this bound (above the
// 3 s, and the second for ending, that it gives a captured command).
constexpr unsigned kStatusPollMs = 10;
constexpr unsigned kStatusBoundMs = 6000;
constexpr std::size_t kStatusBytes = 16;
// host_command.sh's status for a home that is not the user's alone: it
// neither read nor ran dues.sh.
constexpr int kHomeRefused = 77;
// A launch's status when its command found the private folder unfit.
constexpr int kLaunchFolderUnfit = 3;
// A launch's command goes to the host as one word of its own; a longer one
// (the host takes at most 128 KiB in a word) goes through dues.sh.
constexpr std::size_t kLaunchWordBytes = 96 * 1024;

// There is one dues.sh (and one dues.log) per user, and several modrik
// processes may run at once when a program opens several files together.
// Each holds this lock from rewriting dues.sh until host_command.sh has read
// it (a few milliseconds); a capture holds it until it has read dues.log.
platform::Handle LockUnixScript() {
  return platform::Sys().LockNamed("modrik-dues-" + UserName(), kLockWaitMs);
}

void FillCachedWineVersion() {
  if (CachedWineVersion.empty()) CachedWineVersion = WineVersion();
}

std::string ScriptWindowsPath() { return WindowsHomeFolder() + "dues.sh"; }
std::string LogWindowsPath() { return WindowsHomeFolder() + "dues.log"; }

// Where the capture sends its output, for the host shell.
std::string LogRedirect() {
  if (DefaultLocations()) return " > ~/dues.log";
  return " > " + ShellQuote(UnixHomeFolder() + "/dues.log");
}

// host_command.sh's words, for the script in the given mode; with a status
// file when modrik cannot wait for it, and "checked" once the home is fit.
std::vector<std::string> HostCommandArguments(const std::string& mode, const std::string& statusFile,
                                              const std::string& command = std::string()) {
  std::vector<std::string> words = {"/bin/sh", "-c",  host::host_command_sh, "sh", UnixHomeFolder() + "/dues.sh",
                                    mode,      statusFile.empty() ? "child" : "", statusFile};
  if (Home == HomeState::kFit || !command.empty()) words.push_back(Home == HomeState::kFit ? "checked" : "");
  if (!command.empty()) words.push_back(command);
  return words;
}

// Starts a host program through Wine's spawn, and counts it.
int SpawnCounted(const std::vector<std::string>& words) {
  ++HostProgramsRun;
  return platform::Sys().SpawnOnHost(words);
}

// Runs dues.sh through host_command.sh; its status (0: the command was
// started, or, captured, ended well), or platform::kHostNotStarted.
int RunUnixScript(const std::string& mode) {
  auto& sys = platform::Sys();
  if (sys.HostSpawnWaits()) {
    // (Only the status of a program waited for says the home is fit: one
    // left in a file of the home proves nothing.)
    const int status = SpawnCounted(HostCommandArguments(mode, ""));
    if (status >= 0 && status != kHomeRefused) Home = HomeState::kFit;
    return status;
  }
  // The status file lives beside dues.sh for as long as modrik looks for it.
  char name[24];
  std::snprintf(name, sizeof(name), ".dues-%016llx",
                static_cast<unsigned long long>(sys.RandomNumber()));
  const std::string statusFile = WindowsHomeFolder() + name;
  const int started = SpawnCounted(HostCommandArguments(mode, UnixHomeFolder() + "/" + name));
  if (started != platform::kHostUnwaited) return started;
  for (unsigned waited = 0; waited < kStatusBoundMs; waited += kStatusPollMs) {
    std::string status;
    if (sys.ReadWholeFile(statusFile, kStatusBytes, &status)) {
      sys.DeleteFileAt(statusFile);
      const int recorded = RecordedStatus(status);
      return recorded < 0 ? platform::kHostNotStarted : recorded;
    }
    sys.SleepMs(kStatusPollMs);
  }
  sys.Trace("host_command.sh left no status in " + statusFile);
  return platform::kHostNotStarted;
}

// The host has refused the home: kept, and traced.
void RefuseHome() {
  Home = HomeState::kRefused;
  platform::Sys().Trace("the home " + UnixHomeFolder() +
                        " is not the user's alone (another user's, or others may write it): dues.sh "
                        "is not run there, nor any host command");
}

}  // namespace

int RecordedStatus(const std::string& text) {
  int status = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && i < 3; ++i)
    status = status * 10 + (text[i] - '0');
  return i == 0 || status > 255 ? -1 : status;
}

std::string UnixScriptText(const std::string& command) {
  return "#!/bin/bash\n" + command + "\n";
}

std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += "'";
  return quoted;
}

std::string UnixCommandLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line = ShellQuote(program);
  for (const std::string& arg : args) line += " " + ShellQuote(arg);
  return line;
}

std::optional<std::vector<std::string>> ShellWords(const std::string& line) {
  static const std::string kActs("\\\"$`|&;<>(){}*?[~#!\n\0", 21);
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\'') {
      const std::size_t close = line.find('\'', i + 1);
      if (close == std::string::npos) return std::nullopt;
      word += line.substr(i + 1, close - i - 1);
      i = close;
    } else if (c == '\\' && i + 1 < line.size() && line[i + 1] != '\n') {
      word += line[++i];
    } else if (kActs.find(c) != std::string::npos) {
      return std::nullopt;
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

bool WriteUnixScript(const std::string& command) {
  auto& sys = platform::Sys();
  FillCachedWineVersion();
  const std::string script = ScriptWindowsPath();
  // Only a script written whole, as a new file, is run: never a stale one
  // left in place, and never through a link to some other file. (Deleting
  // the old one first would delete the target of a link.)
  if (!sys.ReplaceWholeFile(script, UnixScriptText(command))) {
    sys.Trace("cannot write " + script + " anew: the host command is not run");
    ScriptNotWritten = true;
    return false;
  }
  ScriptNotWritten = false;
  return true;
}

HostRun RunUnixCommand(const std::string& command) {
  auto& sys = platform::Sys();
  const platform::Handle lock = LockUnixScript();
  sys.Trace("host command: " + command);
  if (Home == HomeState::kRefused) {
    sys.UnlockNamed(lock);
    return HostRun::kNotStarted;
  }
  if (!WriteUnixScript(command)) {
    sys.UnlockNamed(lock);
    return HostRun::kScriptNotWritten;
  }
  const int status = RunUnixScript("start");
  sys.UnlockNamed(lock);
  if (status == 0) return HostRun::kStarted;
  if (status == kHomeRefused)
    RefuseHome();
  else
    sys.Trace("the host command was not started (status " + std::to_string(status) + ")");
  return HostRun::kNotStarted;
}

HostRun RunUnixLaunch(const std::string& command) {
  auto& sys = platform::Sys();
  if (!sys.HostSpawnWaits() || command.size() > kLaunchWordBytes) return RunUnixCommand(command);
  sys.Trace("host command: " + command);
  if (Home == HomeState::kRefused) return HostRun::kNotStarted;
  FillCachedWineVersion();
  // Nothing is written or shared: no lock, and nothing to wait for but the
  // program itself.
  const int status = SpawnCounted(HostCommandArguments("launch", "", command));
  if (status >= 0 && status != kHomeRefused) Home = HomeState::kFit;
  if (status == 0) return HostRun::kStarted;
  if (status == kLaunchFolderUnfit) return HostRun::kFolderUnfit;
  if (status == kHomeRefused)
    RefuseHome();
  else
    sys.Trace("the host command was not started (status " + std::to_string(status) + ")");
  return HostRun::kNotStarted;
}

std::string RunUnixCommandCapture(const std::string& command) {
  auto& sys = platform::Sys();
  const std::string log = LogWindowsPath();
  const platform::Handle lock = LockUnixScript();
  sys.Trace("host command: " + command);
  if (Home == HomeState::kRefused) {
    sys.UnlockNamed(lock);
    return std::string();
  }
  // An empty log of our own: no earlier output, and no link for the
  // shell's redirection to write through.
  sys.ReplaceWholeFile(log, "");
  std::string output;
  if (WriteUnixScript(command + LogRedirect())) {
    const int status = RunUnixScript("capture");
    if (status == 0)
      output = sys.ReadSharedFile(log);
    else if (status == kHomeRefused)
      RefuseHome();
    else
      sys.Trace("the host command failed or did not end within 3 s (status " +
                std::to_string(status) + "): no output");
  }
  sys.UnlockNamed(lock);
  return output;
}

}  // namespace modrik
