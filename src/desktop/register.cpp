// The silent registration as a Linux desktop application, first thing on
// every start. The existing desktop entry is the only record that it has
// happened: deleting the entry makes the next start write it again.
#include "desktop/desktop.h"
#include "common/common.h"
#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

void RegisterAsLinuxApp() {
  if (IsWine() == 0) return;
  const std::string ownPath = platform::Sys().ModulePath();
  // The file manager's icon for the executable, on every start: the
  // executable may have been moved or copied since the last one.
  SetCustomIcon(ownPath, ExportIcon(ownPath));
  if (PathExists(DesktopEntryPath(ownPath))) return;
  WriteDesktopEntry(ownPath);
}

}  // namespace modrik
