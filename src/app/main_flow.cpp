// The main routine: desktop integration, first run, settings, player start.
#include "app/app.h"
#include "common/common.h"
#include "desktop/desktop.h"
#include "launcher/launcher.h"
#include "platform/platform.h"
#include "sandbox/sandbox.h"
#include "winebridge/winebridge.h"

namespace modrik {

const char kProgramName[] = "modrik";
const char kVersionText[] = "1.5";

namespace {

const char kSettingsFileName[] = "modrik.ini";
const char kHiddenSwitch[] = "/hidden";
const char kShellVerb[] = "open";
// `modrik doctor` names a recorder here for one start: it stands in for the
// player, and the start asks nothing and writes no settings file, desktop
// entry or icon.
const char kDoctorPlayer[] = "MODRIK_DOCTOR_PLAYER";

// A player on the host: a Unix path, or (in a sandbox that offers only
// that) the desktop's opener.
bool IsUnixPlayer() { return (!PlayerPath.empty() && PlayerPath[0] == '/') || PlayerPath == kDesktopOpener; }

// Starts a Windows player through the shell and waits for it; returns its
// exit code.
int RunWindowsPlayer(const std::string& parameters, int show) {
  platform::Platform& sys = platform::Sys();
  platform::Handle process = 0;
  if (!sys.ShellStart(kShellVerb, PlayerPath, parameters, "", show, &process))
    return kExitNotStarted;
  // The shell may have handed the work to a player that was running already.
  if (process == 0) return 0;
  sys.WaitForEnd(process, platform::kNoTimeout);
  const int code = sys.ProcessExitCode(process);
  sys.CloseProcess(process);
  sys.Trace("the player ended with exit code " + std::to_string(code));
  return code;
}

// Starts the player in the first matching way (hidden, on the Unix host, or
// through the Windows shell) and waits for it; returns the exit code.
int StartPlayer() {
  platform::Platform& sys = platform::Sys();
  const std::string tail = CommandTail();

  if (sys.LowerCase(tail) == kHiddenSwitch) {
    if (IsUnixPlayer()) return 0;
    return RunWindowsPlayer("", platform::kSwShowMinNoActive);
  }

  if (UnderWine && IsUnixPlayer()) {
    std::vector<std::string> args = UnixPlayerArguments(tail, sys.CurrentDirectory());
    if (PlayerPath != kDesktopOpener) {
      int status = RunUnixPlayer(PlayerPath, args);
      if (status == kStartAnew) {
        // What an earlier start kept proved unfit: the paths are translated anew.
        args = UnixPlayerArguments(tail, sys.CurrentDirectory());
        status = RunUnixPlayer(PlayerPath, args);
        if (status == kStartAnew) status = kExitNotStarted;
      }
      if (status != kStartWithOpener) return status;
    }
    return OpenWithDesktopOpener(PlanOpener(CurrentSandbox(UnixHomeFolder()), args));
  }

  return RunWindowsPlayer(tail, platform::kSwShow);
}

}  // namespace

std::string MessageTitle() { return std::string(kProgramName) + " " + kVersionText; }

std::string FirstRunQuestion() {
  return "This is your first time launching this program.\r\r"
         "Do you want to auto-detect VLC Media Player on your system?";
}

std::string PlayerNotFoundMessage() {
  return "VLC Media Player not found.\r\rPlease manually set the VLC filepath\rinto \"" +
         SettingsPath + "\"";
}

namespace {

int Run() {
  platform::Platform& sys = platform::Sys();
  const std::string doctorPlayer = sys.EnvironmentVariable(kDoctorPlayer);

  if (doctorPlayer.empty()) RegisterAsLinuxApp();
  UnderWine = IsWine() != 0;
  SettingsPath = ExecutableFolder() + kSettingsFileName;
  if (UnderWine)
    sys.Trace("under Wine " + WineVersion() + ", prefix " + PrefixFolder() + ", home " +
              UnixHomeFolder());
  else
    sys.Trace("not under Wine");
  if (UnderWine) CurrentSandbox(UnixHomeFolder());
  sys.Trace("settings file " + SettingsPath);

  if (doctorPlayer.empty() && !PathExists(SettingsPath)) {
    int answer = sys.ShowMessage(FirstRunQuestion(), MessageTitle(),
                                 platform::kMbYesNo | platform::kMbIconQuestion);
    if (answer == platform::kIdYes) DetectPlayer();
    // The host could not be asked (a home it refuses): the first run is
    // not over, and no settings file says it is.
    if (answer == platform::kIdYes && Home == HomeState::kRefused) return kExitNotStarted;
    WriteSettingsTemplate();
  }

  ReadPlayerPath();
  if (!doctorPlayer.empty()) PlayerPath = doctorPlayer;
  sys.Trace("player " + PlayerPath);

  bool found;
  if (UnderWine && IsUnixPlayer()) {
    const HostPlayer player = FindHostPlayer(PlayerPath);
    found = player != HostPlayer::kMissing;
    // Steam's launch client did not answer: the desktop's opener instead.
    if (player == HostPlayer::kUnreachable) PlayerPath = kDesktopOpener;
  } else {
    found = PathExists(PlayerPath) && !PlayerPath.empty();
  }
  if (!found) {
    sys.Trace("no player at " + PlayerPath);
    sys.ShowMessage(PlayerNotFoundMessage(), MessageTitle(),
                    platform::kMbOk | platform::kMbIconInformation);
    return kExitNoPlayer;
  }

  return StartPlayer();
}

}  // namespace

int MainRoutine() {
  const int code = Run();
  platform::Sys().Trace("host programs run by this start: " + std::to_string(HostProgramsRun));
  // (The file-manager icon's gio ran on beside the start.)
  TraceIconComplaints();
  return code;
}

}  // namespace modrik
