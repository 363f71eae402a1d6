// The Unix command runner: a command for the host is written into the
// two-line script dues.sh in the user's home folder, and Wine's `start`
// program has /bin/sh run it. The capture variant sends the command's
// standard output into dues.log and polls that file.
//
// The program holds its text in UTF-8, as the host reads and writes it.
#include <cstddef>

#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

std::string CachedWineVersion;

namespace {

constexpr unsigned kPauseMs = 250;
// The capture reads dues.log at most this many times, kPauseMs apart
// (3 seconds in quarter seconds).
constexpr int kCaptureReads = 12;
// Bound on waiting for another modrik process to finish with dues.sh; past
// it the command runs all the same rather than never.
constexpr unsigned kLockWaitMs = 120000;
// Bound on waiting for Wine's start program to hand the script to the shell.
constexpr unsigned kStartWaitMs = 10000;

// There is one dues.sh (and one dues.log) per user, and several modrik
// processes may run at once when a program opens several files together.
// Each holds this lock from rewriting dues.sh until the pause after starting
// its shell has passed and Wine's start program, which hands the script to
// the shell, has ended; a capture holds it until its last read. So no process
// rewrites the script before the shell of another has opened it.
platform::Handle LockUnixScript() {
  return platform::Sys().LockNamed("modrik-dues-" + UserName(), kLockWaitMs);
}

void FillCachedWineVersion() {
  if (CachedWineVersion.empty()) CachedWineVersion = WineVersion();
}

std::string ScriptWindowsPath() { return WindowsHomeFolder() + "dues.sh"; }
std::string LogWindowsPath() { return WindowsHomeFolder() + "dues.log"; }
std::string ScriptUnixPath() { return StartArgument(UnixHomeFolder() + "/dues.sh"); }

// Where the capture sends its output, for the host shell.
std::string LogRedirect() {
  if (DefaultLocations()) return " > ~/dues.log";
  return " > " + ShellQuote(UnixHomeFolder() + "/dues.log");
}

// "start /unix ..." or "start /exec ...", followed by the program and its
// argument.
std::string StartLine(const std::string& programAndArgument) {
  return "start /" + LaunchSwitch(CachedWineVersion) + " " + programAndArgument;
}

}  // namespace

std::string LaunchSwitch(const std::string&) {
  // Wine's start program takes a Unix path after /unix in every version.
  // /exec takes a Windows program: it looks "/bin/sh" up on the current
  // drive, which finds it only when the current folder is Z:\.
  return "unix";
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

std::string StartArgument(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
  // Wine's start program reads its command line by the Windows rules:
  // double quotes group, and backslashes count only before a quote.
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

std::string UnixCommandLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line = ShellQuote(program);
  for (const std::string& arg : args) line += " " + ShellQuote(arg);
  return line;
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
    return false;
  }
  const std::string chmod = StartLine("/bin/chmod +x " + ScriptUnixPath());
  sys.Trace("host: " + chmod);
  sys.StartHidden(chmod, true);
  return true;
}

HostRun RunUnixCommand(const std::string& command) {
  auto& sys = platform::Sys();
  FillCachedWineVersion();
  const platform::Handle lock = LockUnixScript();
  sys.Trace("host command: " + command);
  if (!WriteUnixScript(command)) {
    sys.UnlockNamed(lock);
    return HostRun::kScriptNotWritten;
  }
  const std::string shell = StartLine("/bin/sh " + ScriptUnixPath());
  sys.Trace("host: " + shell);
  const platform::Handle started = sys.StartHiddenProcess(shell);
  sys.SleepMs(kPauseMs);
  // When Wine's start program is slower than the pause, the shell may not
  // have the script yet: the pause then counts from the start program's end.
  if (!sys.WaitForEnd(started, 0)) {
    sys.WaitForEnd(started, kStartWaitMs);
    sys.SleepMs(kPauseMs);
  }
  sys.CloseProcess(started);
  sys.UnlockNamed(lock);
  return started != 0 ? HostRun::kStarted : HostRun::kNotStarted;
}

std::string RunUnixCommandCapture(const std::string& command) {
  auto& sys = platform::Sys();
  const std::string log = LogWindowsPath();
  const platform::Handle lock = LockUnixScript();
  // An empty log of our own: no earlier output, and no link for the
  // shell's redirection to write through.
  sys.ReplaceWholeFile(log, "");
  std::string output;
  if (RunUnixCommand(command + LogRedirect()) == HostRun::kScriptNotWritten) {
    sys.UnlockNamed(lock);
    return output;
  }
  for (int reads = 0; reads < kCaptureReads; ++reads) {
    sys.SleepMs(kPauseMs);
    output = sys.ReadSharedFile(log);
    if (!output.empty()) break;
  }
  sys.UnlockNamed(lock);
  return output;
}

}  // namespace modrik
