// The native player: started on the host through the command runner, and
// waited for. The process lives as long as the player, returns its status,
// passes the caller's stream on standard input to it, and ends it when the
// process itself is ended.
//
// Each start has a folder of its own in the private folder, made by its
// host command:
//   live    a FIFO: modrik holds it open for writing while it waits. Wine
//           gives a program no way to learn its host process id, but when
//           the program ends, by itself or killed, the FIFO loses its writer
//           and the host side sees the end of it.
//   in      a FIFO that the player reads as its standard input, when it
//           reads modrik's (arguments "-" or "fd://0").
//   stdout, stderr
//           FIFOs the player writes its standard output and error into,
//           when modrik's caller gave modrik handles for them: modrik copies
//           them there, as the player's own Windows executable writes.
//   status  the player's exit status, written when the player has ended.
//   lock    held by the host command while it runs, so the next start can
//           tell a folder left behind from one in use.
// modrik looks for these files every 250 ms; no host command is run for it.
#include <cstdio>

#include "platform/platform.h"
#include "sandbox/sandbox.h"
#include "winebridge/host/host_scripts.h"
#include "winebridge/winebridge.h"

namespace modrik {

namespace {

// While the player plays, modrik looks for its recorded end this often, so
// that the caller learns of the end within a small part of a second.
constexpr unsigned kPauseMs = 50;
// Until modrik has taken hold of the start, it looks for the files this
// often for a while (the host command makes them within milliseconds),
// then as often as for the end: many starts at once, their host commands
// waiting for the CPU, would otherwise keep Wine's server busy with
// looking. (The player does not wait for the hold.)
constexpr unsigned kHoldPauseMs = 10;
constexpr unsigned kHoldQuickMs = 100;
// The status file holds a number and a line feed.
constexpr std::size_t kStatusBytes = 16;
// modrik gives up on a host command that has not made the start's files
// this long after the host command's own bound.
constexpr unsigned kHoldMarginMs = 5000;

bool ReadsStandardInput(const std::vector<std::string>& args) {
  for (const std::string& arg : args)
    if (arg == "-" || arg == "fd://0") return true;
  return false;
}

std::string NewStartName() {
  char name[17];
  std::snprintf(name, sizeof(name), "%016llx",
                static_cast<unsigned long long>(platform::Sys().RandomNumber()));
  return name;
}

// Takes hold of the start once its host command has made the files: the
// FIFOs of the streams first, then "live", with one byte to say so. Returns
// the held "live", or 0 when the files are not all there yet.
platform::Handle TakeHold(const std::string& folder, const NativeStart& start) {
  using platform::StandardOutput;
  auto& sys = platform::Sys();
  const platform::Handle input = start.stream ? sys.OpenForWriting(folder + "in") : 0;
  const platform::Handle output = start.output ? sys.OpenForReading(folder + "stdout") : 0;
  const platform::Handle error = start.error ? sys.OpenForReading(folder + "stderr") : 0;
  const platform::Handle live = sys.OpenForWriting(folder + "live");
  if (live == 0 || (start.stream && input == 0) || (start.output && output == 0) || (start.error && error == 0) ||
      !sys.WriteTo(live, "+")) {
    for (const platform::Handle file : {input, output, error, live}) sys.CloseFile(file);
    return 0;
  }
  if (input != 0) sys.ForwardStandardInput(input);
  if (output != 0) sys.ForwardToStandardOutput(output, StandardOutput::kOutput);
  if (error != 0) sys.ForwardToStandardOutput(error, StandardOutput::kError);
  return live;
}

// The exit status the host command recorded ("N" and a line feed).
int StatusOf(const std::string& text) {
  const int status = RecordedStatus(text);
  return status < 0 ? kExitNotStarted : status;
}

int WaitForPlayer(const std::string& folder, const NativeStart& start) {
  auto& sys = platform::Sys();
  const unsigned boundMs = start.holdSeconds * 1000 + kHoldMarginMs;
  platform::Handle live = 0;
  for (unsigned waited = 0;;) {
    if (live == 0) live = TakeHold(folder, start);
    std::string status;
    if (live != 0 && sys.ReadWholeFile(folder + "status", kStatusBytes, &status)) {
      // What the player wrote reaches the caller before its end does.
      sys.FinishForwarding();
      sys.CloseFile(live);
      if (status.rfind("unreachable", 0) == 0) {
        sys.Trace("steam-runtime-launch-client could not start the player: Steam's launcher service is not "
                  "reachable; the start goes to the desktop's opener");
        return kStartWithOpener;
      }
      sys.Trace("the player ended with status " + status.substr(0, status.find('\n')));
      return StatusOf(status);
    }
    if (live == 0 && waited >= boundMs) {
      sys.Trace("the player's host command made no files in " + folder);
      return kExitNotStarted;
    }
    // (Wine reports no attributes for a FIFO: the folder is asked about.)
    if (live != 0 && !sys.FolderExists(folder)) {
      sys.FinishForwarding();
      sys.CloseFile(live);
      sys.Trace("the player's host command ended without recording the player's end");
      return kExitNotStarted;
    }
    const unsigned pause = live == 0 && waited < kHoldQuickMs ? kHoldPauseMs : kPauseMs;
    sys.SleepMs(pause);
    waited += pause;
  }
}

// The player's arguments as the host sees them: a path the sandbox alone
// sees is left out, and the trace says why.
std::vector<std::string> HostArguments(const Sandbox& sandbox, const std::vector<std::string>& args) {
  std::vector<std::string> host;
  for (const std::string& arg : args) {
    if (arg.empty() || arg[0] != '/') {
      host.push_back(arg);
      continue;
    }
    std::string why;
    const std::string path = HostPathOf(sandbox, arg, &why);
    if (path.empty()) {
      platform::Sys().Trace("left out " + arg + ": " + why);
    } else {
      host.push_back(path);
    }
  }
  return host;
}

// The sandbox a start of this player goes through: in a container, one the
// container has is started there, as on a plain host.
const Sandbox& PlayerSandbox(const std::string& playerPath) {
  const Sandbox& sandbox = CurrentSandbox(UnixHomeFolder());
  if (sandbox.kind != SandboxKind::kContainer || !ContainersOwnPlayer(sandbox, playerPath, UnixFileExists(playerPath)))
    return sandbox;
  static const Sandbox plain = [&] {
    platform::Sys().Trace(playerPath + " is the container's own: started there");
    Sandbox s;
    s.home = sandbox.home;
    s.runtimeDir = sandbox.runtimeDir;
    return s;
  }();
  return plain;
}

}  // namespace

std::string HostCommandLine(const std::vector<std::string>& words) {
  if (words.empty()) return std::string();
  return UnixCommandLine(words[0], std::vector<std::string>(words.begin() + 1, words.end()));
}

namespace {

// native_player.sh with its values taken from its first eight words.
std::string NativePlayerBody() {
  return std::string("P=$1 d=$2 cwd=$3 hold=$4 stream=$5 launch=$6 out=$7 err=$8\nshift 8\n") +
         host::native_player_sh;
}

}  // namespace

std::vector<std::string> NativePlayerWords(const std::string& playerPath, const std::vector<std::string>& args,
                                           const NativeStart& start) {
  std::vector<std::string> words = {"/bin/sh",
                                    "-c",
                                    NativePlayerBody(),
                                    "sh",
                                    start.folder,
                                    start.folder + "/" + start.name,
                                    start.workingFolder,
                                    std::to_string(start.holdSeconds),
                                    start.stream ? "1" : "",
                                    start.launchClient ? "1" : "",
                                    start.output ? "1" : "",
                                    start.error ? "1" : ""};
  words.insert(words.end(), start.channel.begin(), start.channel.end());
  words.push_back(playerPath);
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

std::string NativePlayerCommand(const std::string& playerPath, const std::vector<std::string>& args,
                                const NativeStart& start) {
  // The start's own values as shell variables, the player's words, the
  // host side of a start (host/native_player.sh) as the text it runs in
  // the background, and the part modrik waits for (host/launch.sh).
  std::vector<std::string> argv = start.channel;
  argv.push_back(playerPath);
  argv.insert(argv.end(), args.begin(), args.end());
  return "P=" + ShellQuote(start.folder) + " d=" + ShellQuote(start.folder + "/" + start.name) +
         " cwd=" + ShellQuote(start.workingFolder) + " hold=" + std::to_string(start.holdSeconds) +
         " stream=" + (start.stream ? "1" : "") + " launch=" + (start.launchClient ? "1" : "") +
         " out=" + (start.output ? "1" : "") + " err=" + (start.error ? "1" : "") +
         " verify=" + (start.verifyFolder ? "1" : "") + "\nset -- " + HostCommandLine(argv) +
         "\nb=" + ShellQuote(NativePlayerBody()) + "\n" + host::launch_sh;
}

HostPlayer FindHostPlayer(const std::string& playerPath) {
  const Sandbox& sandbox = PlayerSandbox(playerPath);
  // The desktop's opener needs no player.
  if (sandbox.channel == HostChannel::kPortal || playerPath == kDesktopOpener) return HostPlayer::kThere;
  if (sandbox.channel == HostChannel::kDirect)  // a folder is no player
    return UnixFileExists(playerPath) ? HostPlayer::kThere : HostPlayer::kMissing;
  const std::string answer = RunUnixCommandCapture(HostCommandLine(
      HostCommand(sandbox, {"sh", "-c", "if test -f \"$1\"; then echo found; else echo missing; fi", "sh", playerPath})));
  if (answer == "found\n") return HostPlayer::kThere;
  if (!answer.empty() || sandbox.channel != HostChannel::kLaunchClient) return HostPlayer::kMissing;
  platform::Sys().Trace("steam-runtime-launch-client gave no answer: Steam's launcher service is not reachable; "
                        "the start goes to the desktop's opener");
  return HostPlayer::kUnreachable;
}

int RunUnixPlayer(const std::string& playerPath, const std::vector<std::string>& sandboxArgs) {
  auto& sys = platform::Sys();
  const Sandbox& sandbox = PlayerSandbox(playerPath);
  if (sandbox.channel == HostChannel::kPortal) return kStartWithOpener;
  const std::vector<std::string> args = HostArguments(sandbox, sandboxArgs);
  NativeStart start;
  start.folder = UnixPrivateFolder();
  if (start.folder.empty()) {
    sys.Trace("the native player is not started: it needs the private folder");
    // (The host could not be asked for one: dues.sh could not be written.)
    return ScriptNotWritten ? kExitScriptNotWritten : kExitNotStarted;
  }
  start.name = NewStartName();
  start.stream = ReadsStandardInput(args) && sys.StandardInputIsStream();
  start.output = sys.StandardOutputGiven(platform::StandardOutput::kOutput);
  start.error = sys.StandardOutputGiven(platform::StandardOutput::kError);
  // The caller's working folder, where the host has it; else the home.
  start.workingFolder = sys.WineUnixFileName(sys.CurrentDirectory());
  if (start.workingFolder.empty()) start.workingFolder = UnixHomeFolder();
  // Through a channel, the host starts the player in the folder the
  // sandbox's side works in: one the host has at the same path.
  start.workingFolder = HostWorkingFolder(sandbox, start.workingFolder);
  start.channel = HostCommand(sandbox, {});
  start.launchClient = sandbox.channel == HostChannel::kLaunchClient;
  sys.Trace("native player, " + std::to_string(args.size()) +
            " argument(s): " + UnixCommandLine(playerPath, args) + "; start " + start.name +
            (start.stream ? ", reading this process's standard input" : "") +
            (start.output || start.error ? ", writing to this process's " : "") +
            (start.output ? "standard output" : "") + (start.output && start.error ? " and " : "") +
            (start.error ? "standard error" : ""));
  start.verifyFolder = PrivateFolderUnverified;
  switch (RunUnixLaunch(NativePlayerCommand(playerPath, args, start))) {
    case HostRun::kScriptNotWritten:
      return kExitScriptNotWritten;
    case HostRun::kNotStarted:
      return kExitNotStarted;
    case HostRun::kFolderUnfit:
      // Nothing of the earlier start's is used again, the drive links
      // included: the start is made anew.
      sys.Trace("the private folder " + start.folder + " an earlier start chose is unfit now: asked anew");
      ForgetHostState();
      return kStartAnew;
    case HostRun::kStarted:
      break;
  }
  PrivateFolderUnverified = false;
  WriteHostState();
  return WaitForPlayer(WineUnixName(start.folder + "/" + start.name) + "\\", start);
}

}  // namespace modrik
