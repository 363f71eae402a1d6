// The Unix command runner: a command for the host is written into the
// two-line script dues.sh in the user's home folder, and Wine's `start`
// program has /bin/sh run it. The capture variant sends the command's
// standard output into dues.log and polls that file.
//
// The program holds its text in UTF-8, as the host reads and writes it.
#include <algorithm>
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
std::string ScriptUnixPath() { return UnixHomeFolder() + "/dues.sh"; }

// "start /unix ..." or "start /exec ...", followed by the program and its
// argument.
std::string StartLine(const std::string& programAndArgument) {
  return "start /" + LaunchSwitch(CachedWineVersion) + " " + programAndArgument;
}

}  // namespace

std::string UserName() { return platform::Sys().EnvironmentVariable("USERNAME"); }
std::string WindowsHomeFolder() { return "z:\\home\\" + UserName() + "\\"; }
std::string UnixHomeFolder() { return "/home/" + UserName(); }

std::string LaunchSwitch(const std::string& wineVersion) {
  // A plain text comparison on unsigned byte values, not a numeric one:
  // "9.0" is above "11", "10.12" below it.
  static const std::string kFirstUnixSwitchVersion = "11";
  const std::size_t common = std::min(wineVersion.size(), kFirstUnixSwitchVersion.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto a = static_cast<unsigned char>(wineVersion[i]);
    const auto b = static_cast<unsigned char>(kFirstUnixSwitchVersion[i]);
    if (a != b) return a > b ? "unix" : "exec";
  }
  return wineVersion.size() >= kFirstUnixSwitchVersion.size() ? "unix" : "exec";
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

void WriteUnixScript(const std::string& command) {
  auto& sys = platform::Sys();
  FillCachedWineVersion();
  const std::string script = ScriptWindowsPath();
  sys.DeleteFileAt(script);
  sys.WriteWholeFile(script, UnixScriptText(command));
  sys.StartHidden(StartLine("/bin/chmod +x " + ScriptUnixPath()), true);
}

void RunUnixCommand(const std::string& command) {
  auto& sys = platform::Sys();
  FillCachedWineVersion();
  const platform::Handle lock = LockUnixScript();
  WriteUnixScript(command);
  const platform::Handle started = sys.StartHiddenProcess(StartLine("/bin/sh " + ScriptUnixPath()));
  sys.SleepMs(kPauseMs);
  // When Wine's start program is slower than the pause, the shell may not
  // have the script yet: the pause then counts from the start program's end.
  if (!sys.WaitForEnd(started, 0)) {
    sys.WaitForEnd(started, kStartWaitMs);
    sys.SleepMs(kPauseMs);
  }
  sys.CloseProcess(started);
  sys.UnlockNamed(lock);
}

std::string RunUnixCommandCapture(const std::string& command) {
  auto& sys = platform::Sys();
  const std::string log = LogWindowsPath();
  const platform::Handle lock = LockUnixScript();
  sys.DeleteFileAt(log);
  RunUnixCommand(command + " > ~/dues.log");
  std::string output;
  for (int reads = 0; reads < kCaptureReads; ++reads) {
    sys.SleepMs(kPauseMs);
    output = sys.ReadSharedFile(log);
    if (!output.empty()) break;
  }
  sys.UnlockNamed(lock);
  return output;
}

void RunUnixPlayer(const std::string& playerPath, const std::vector<std::string>& args) {
  RunUnixCommand(UnixCommandLine(playerPath, args));
}

}  // namespace modrik
