// Player auto-detection on a first run.
#include "launcher/launcher.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "sandbox/sandbox.h"
#include "winebridge/host/host_scripts.h"
#include "winebridge/winebridge.h"

namespace modrik {

namespace {

const char kPlayerKey[] = "SOFTWARE\\VideoLAN\\VLC";
const char kInstallDirValue[] = "InstallDir";
const char kPlayerFile[] = "vlc.exe";
const char* const kInstallFolders[] = {"C:\\Program Files (x86)\\VideoLAN\\VLC\\",
                                       "C:\\Program Files\\VideoLAN\\VLC\\"};

// The player file in a folder, as a plain file (not a folder, not hidden,
// not a system file), named with the letter case stored on disk.
std::string ProbeFolder(const std::string& folder) {
  for (const platform::FoundFile& entry : platform::Sys().FindFiles(folder + kPlayerFile)) {
    if (entry.directory || entry.hidden || entry.system) continue;
    if (entry.name == "." || entry.name == "..") continue;
    return folder + entry.name;
  }
  return std::string();
}

}  // namespace

std::vector<std::string> PackagedPlayerLocations() {
  return {"/var/lib/flatpak/exports/bin/org.videolan.VLC",
          UnixDataFolder() + "/flatpak/exports/bin/org.videolan.VLC", "/snap/bin/vlc"};
}

std::string PlayerFromWhereis(const std::string& output) {
  std::size_t colon = output.find(':');
  std::string rest = colon == std::string::npos ? output : output.substr(colon + 1);
  std::size_t first = rest.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  std::size_t last = rest.find_last_not_of(' ');
  rest = rest.substr(first, last - first + 1);
  std::size_t space = rest.find(' ');
  return space == std::string::npos ? rest : rest.substr(0, space);
}

std::string ReadRegistryString(std::uint32_t root, const std::string& subkey,
                               const std::string& valueName) {
  return platform::Sys().RegistryValueText(root, platform::Utf8Left(subkey, 299),
                                           platform::Utf8Left(valueName, 255));
}

void DetectPlayer() {
  if (UnderWine) {
    // Inside a sandbox, the host is asked through its channel; a sandbox
    // that offers only the desktop's opener has no player path to detect.
    const Sandbox& sandbox = CurrentSandbox(UnixHomeFolder());
    if (sandbox.channel == HostChannel::kPortal) {
      PlayerPath = kDesktopOpener;
      platform::Sys().Trace("files open with the desktop's opener: " + PlayerPath);
      return;
    }
    // A container's own player first; else the host's, through its way out.
    if (sandbox.channel == HostChannel::kWayOut) {
      PlayerPath = PlayerFromWhereis(RunUnixCommandCapture("whereis vlc"));
      if (UnixFileExists(PlayerPath)) return;
      platform::Sys().Trace("no player in the container: the host is asked");
    }
    // Through a channel, one host command looks everywhere: each call
    // through it costs a round trip.
    const std::string answer = RunUnixCommandCapture(
        sandbox.channel == HostChannel::kDirect
            ? "whereis vlc"
            : HostCommandLine(HostCommand(sandbox, {"sh", "-c", host::find_player_sh})));
    if (answer.empty() && sandbox.channel == HostChannel::kLaunchClient) {
      PlayerPath = kDesktopOpener;
      platform::Sys().Trace("steam-runtime-launch-client gave no answer: Steam's launcher service is not reachable; "
                            "files open with the desktop's opener: " + PlayerPath);
      return;
    }
    PlayerPath = PlayerFromWhereis(answer);
    if (sandbox.channel != HostChannel::kDirect) return;
    if (PlayerPath.find_first_not_of(" \t\r\n") != std::string::npos) return;
    // Players installed as a Flatpak (system-wide, then for this user) or
    // as a Snap, which whereis does not see.
    for (const std::string& location : PackagedPlayerLocations()) {
      if (UnixFileExists(location)) {
        PlayerPath = location;
        return;
      }
    }
    return;
  }

  PlayerPath = ReadRegistryString(platform::kHkeyLocalMachine, kPlayerKey, "");
  if (!PlayerPath.empty()) return;

  PlayerPath = ReadRegistryString(platform::kHkeyLocalMachine, kPlayerKey, kInstallDirValue);
  if (!PlayerPath.empty()) {
    PlayerPath += "\\";
    PlayerPath += kPlayerFile;
    return;
  }

  for (const char* folder : kInstallFolders) {
    PlayerPath = ProbeFolder(folder);
    if (!PlayerPath.empty()) return;
  }
  PlayerPath.clear();
}

}  // namespace modrik
