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
//   status  the player's exit status, written when the player has ended.
//   lock    held by the host command while it runs, so the next start can
//           tell a folder left behind from one in use.
// modrik looks for these files every 250 ms; no host command is run for it.
#include <cstdio>

#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

namespace {

constexpr unsigned kPauseMs = 250;
// The status file holds a number and a line feed.
constexpr std::size_t kStatusBytes = 16;
// modrik gives up on a host command that has not made the start's files
// this long after the host command's own bound.
constexpr unsigned kHoldMarginMs = 5000;

// The host side of a start, in POSIX sh. The player runs in the background
// with the start's FIFOs closed; a watcher waits (bounded) for modrik's byte
// on "live", then for modrik to let go of it, and tells the main shell
// (USR1), which ends the player if it still plays. The player's status is
// written whole (a move) before anything is removed, and the folder is
// removed only once modrik has let go of it.
std::string HostScript(const NativeStart& start) {
  const std::string in = start.stream ? " 5<>\"$d/in\"" : "";
  const std::string input = start.stream ? "\"$d/in\"" : "/dev/null";
  return "[ -d \"$P\" ] || mkdir -p -m 700 \"$P\"\n"
         "mkdir -m 700 \"$d\" && mkfifo \"$d/live.new\"" +
         std::string(start.stream ? " \"$d/in\"" : "") + " || exit 126\n"
         "exec 3<>\"$d/live.new\"" + in + "\n"
         "trap '[ -z \"$p\" ] || kill -TERM \"$p\" 2>/dev/null' USR1 HUP INT TERM\n"
         "\"$@\" <" + input + " 3>&- 5>&- &\n"
         "p=$!\n"
         "(if timeout " + std::to_string(start.holdSeconds) +
         " head -c1 <&3 >/dev/null 2>&1; then exec 4<\"$d/live\" 3>&- 5>&-;"
         " cat <&4 >/dev/null 2>&1; fi; kill -USR1 $$ 2>/dev/null) &\n"
         "w=$!\n"
         "exec 3>&- 5>&-\n"
         "mv \"$d/live.new\" \"$d/live\"\n"
         "exec 9>\"$d/lock.new\" && flock 9 && mv \"$d/lock.new\" \"$d/lock\"\n"
         "for l in \"$P\"/*/lock; do [ ! -e \"$l\" ] || [ \"$l\" = \"$d/lock\" ] ||"
         " flock -n \"$l\" rm -rf \"${l%/lock}\"; done\n"
         "wait \"$p\"; s=$?\n"
         "if kill -0 \"$p\" 2>/dev/null; then wait \"$p\"; s=$?; fi\n"
         "p=\n"
         "echo \"$s\" > \"$d/status.new\" && mv \"$d/status.new\" \"$d/status\"\n"
         "wait \"$w\"; while [ $? -gt 128 ] && kill -0 \"$w\" 2>/dev/null; do wait \"$w\"; done\n"
         "rm -rf \"$d\"";
}

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
// stream's FIFO first, then "live", with one byte to say so. Returns the
// held "live", or 0 when the files are not there yet.
platform::Handle TakeHold(const std::string& folder, bool stream) {
  auto& sys = platform::Sys();
  const platform::Handle input = stream ? sys.OpenForWriting(folder + "in") : 0;
  const platform::Handle live = sys.OpenForWriting(folder + "live");
  if (live == 0 || !sys.WriteTo(live, "+")) {
    sys.CloseFile(input);
    sys.CloseFile(live);
    return 0;
  }
  if (input != 0) sys.ForwardStandardInput(input);
  return live;
}

// The exit status the host command recorded ("N" and a line feed).
int StatusOf(const std::string& text) {
  int status = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && i < 3; ++i)
    status = status * 10 + (text[i] - '0');
  return i == 0 || status > 255 ? kExitNotStarted : status;
}

int WaitForPlayer(const std::string& folder, const NativeStart& start) {
  auto& sys = platform::Sys();
  const unsigned boundMs = start.holdSeconds * 1000 + kHoldMarginMs;
  platform::Handle live = 0;
  for (unsigned waited = 0;; waited += kPauseMs) {
    if (live == 0) live = TakeHold(folder, start.stream);
    std::string status;
    if (live != 0 && sys.ReadWholeFile(folder + "status", kStatusBytes, &status)) {
      sys.CloseFile(live);
      sys.Trace("the player ended with status " + status.substr(0, status.find('\n')));
      return StatusOf(status);
    }
    if (live == 0 && waited >= boundMs) {
      sys.Trace("the player's host command made no files in " + folder);
      return kExitNotStarted;
    }
    // (Wine reports no attributes for a FIFO: the folder is asked about.)
    if (live != 0 && !sys.FolderExists(folder)) {
      sys.CloseFile(live);
      sys.Trace("the player's host command ended without recording the player's end");
      return kExitNotStarted;
    }
    sys.SleepMs(kPauseMs);
  }
}

}  // namespace

std::string NativePlayerCommand(const std::string& playerPath, const std::vector<std::string>& args,
                                const NativeStart& start) {
  return "P=" + ShellQuote(UnixPrivateFolder()) + " d=" +
         ShellQuote(UnixPrivateFolder() + "/" + start.name) + "\nset -- " +
         UnixCommandLine(playerPath, args) + "\n" + HostScript(start);
}

int RunUnixPlayer(const std::string& playerPath, const std::vector<std::string>& args) {
  auto& sys = platform::Sys();
  NativeStart start;
  start.name = NewStartName();
  start.stream = ReadsStandardInput(args) && sys.StandardInputIsStream();
  sys.Trace("native player, " + std::to_string(args.size()) +
            " argument(s): " + UnixCommandLine(playerPath, args) + "; start " + start.name +
            (start.stream ? ", reading this process's standard input" : ""));
  switch (RunUnixCommand(NativePlayerCommand(playerPath, args, start))) {
    case HostRun::kScriptNotWritten:
      return kExitScriptNotWritten;
    case HostRun::kNotStarted:
      return kExitNotStarted;
    case HostRun::kStarted:
      break;
  }
  return WaitForPlayer(WindowsPrivateFolder() + start.name + "\\", start);
}

}  // namespace modrik
