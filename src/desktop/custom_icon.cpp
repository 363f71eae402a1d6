// The file manager's custom icon: GIO metadata set on the host with gio.
#include <algorithm>
#include <cstdio>

#include "desktop/desktop.h"
#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

std::vector<std::string> IconComplaints;

namespace {

// gio says a line or two, if anything.
constexpr std::size_t kComplaintBytes = 4096;

}  // namespace

std::string CustomIconCommand(const std::string& unixTarget, const std::string& unixIcon) {
  // Each path is one single-quoted word, so blanks, quotes and any other
  // character of a file name reach gio as they are and nothing in them is
  // run by the shell. The icon's path follows "file://" unencoded.
  return "/bin/gio set -t 'string' " + ShellQuote(unixTarget) + " 'metadata::custom-icon' " +
         ShellQuote("file://" + unixIcon);
}

std::string CustomIconHostCommand(const std::string& gio, const std::string& privateFolder,
                                  const std::string& name) {
  if (privateFolder.empty()) return gio + " >/dev/null 2>&1";
  // A new file (no link followed: noclobber creates it exclusively), which
  // goes when modrik's process has ended, however it ended; without that
  // process known, such files go a day later.
  const std::string file = ShellQuote(privateFolder + "/" + name);
  return "set -C; " + gio + " >" + file + " 2>&1; if [ -n \"$MODRIK_PARENT\" ]; then tail --pid=\"$MODRIK_PARENT\" " +
         "-f /dev/null 2>/dev/null; rm -f " + file + "; else find " + ShellQuote(privateFolder) +
         " -maxdepth 1 -name 'gio-*' -type f -mmin +1440 -delete 2>/dev/null; fi";
}

void SetCustomIcon(const std::string& targetPath, const std::string& iconPath) {
  const std::string unixTarget = WindowsToUnixPath(targetPath);
  const std::string unixIcon = WindowsToUnixPath(iconPath);
  const std::string gio = CustomIconCommand(unixTarget, unixIcon);
  // Set once for this executable and icon, as an earlier start has kept it:
  // gio runs only for a change. (The registration of a copy made over the
  // executable stays with its path, as the file manager's metadata does.)
  ReadHostState();
  for (const std::string& done : IconsSet)
    if (done == gio) return;
  // gio runs on while the start goes on; what it says is kept for the
  // trace, never shown on the caller's standard error.
  const std::string folder = UnixPrivateFolder();
  char name[21];
  std::snprintf(name, sizeof(name), "gio-%016llx",
                static_cast<unsigned long long>(platform::Sys().RandomNumber()));
  if (RunUnixCommand(CustomIconHostCommand(gio, folder, name)) != HostRun::kStarted) return;
  IconsSet.push_back(gio);
  if (!folder.empty()) IconComplaints.push_back(WineUnixName(folder + "/" + name));
}

void TraceIconComplaints() {
  auto& sys = platform::Sys();
  for (const std::string& file : IconComplaints) {
    std::string said;
    if (sys.ReadWholeFile(file, kComplaintBytes, &said)) {
      for (std::size_t at = 0; at < said.size();) {
        const std::size_t end = std::min(said.find('\n', at), said.size());
        if (end > at) sys.Trace("file-manager icon: " + said.substr(at, end - at));
        at = end + 1;
      }
    }
    sys.DeleteFileAt(file);
  }
  IconComplaints.clear();
}

}  // namespace modrik
