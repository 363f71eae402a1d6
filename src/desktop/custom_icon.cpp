// The file manager's custom icon: GIO metadata set on the host with gio.
#include "desktop/desktop.h"
#include "winebridge/winebridge.h"

namespace modrik {

std::string CustomIconCommand(const std::string& unixTarget, const std::string& unixIcon) {
  // Each path is one single-quoted word, so blanks, quotes and any other
  // character of a file name reach gio as they are and nothing in them is
  // run by the shell. The icon's path follows "file://" unencoded.
  return "/bin/gio set -t 'string' " + ShellQuote(unixTarget) + " 'metadata::custom-icon' " +
         ShellQuote("file://" + unixIcon);
}

void SetCustomIcon(const std::string& targetPath, const std::string& iconPath) {
  const std::string unixTarget = WindowsToUnixPath(targetPath);
  const std::string unixIcon = WindowsToUnixPath(iconPath);
  RunUnixCommand(CustomIconCommand(unixTarget, unixIcon));
}

}  // namespace modrik
