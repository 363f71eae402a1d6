// The hidden desktop entry that ties the program's windows to its icon.
//
// Wine's X11 driver gives a program's windows the class of its lower-cased
// executable file name; StartupWMClass names that class, Icon names the
// exported PNG, and NoDisplay keeps the entry out of the application menu.
// There is no Exec key: the entry only lends the window an icon.
#include "desktop/desktop.h"
#include "common/common.h"
#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

std::string FileNameOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FolderOf(const std::string& path) {
  const std::size_t cut = path.find_last_of('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool MakeDesktopFolder(const std::string& folder) {
  // Within a home that exists: a home is never made here.
  if (!platform::Sys().FolderExists(WindowsHomeFolder())) return false;
  return MakeFolders(folder);
}

std::string FileNameWithoutExtension(const std::string& path) {
  const std::string name = FileNameOf(path);
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

namespace {

// A value as the entry must hold it to be read back unchanged: a line break
// would end the line (and could start a key of its own), and leading blanks
// would be dropped by the parser. Other text stays as it is.
std::string EntryValue(const std::string& text) {
  std::string out;
  bool leading = true;
  for (char c : text) {
    leading = leading && (c == ' ' || c == '\t');
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (leading)
      out += c == ' ' ? "\\s" : "\\t";
    else
      out += c;
  }
  return out;
}

}  // namespace

std::string DesktopEntryPath(const std::string& exePath) {
  return WindowsDataFolder() + "applications\\wine-" + DesktopName(exePath) +
         ".desktop";
}

std::string DesktopEntryText(const std::string& exePath, const std::string& iconPath) {
  auto& sys = platform::Sys();
  const std::string lines[] = {
      "[Desktop Entry]",
      "Name=" + EntryValue(FileNameWithoutExtension(exePath)),
      "StartupWMClass=" + EntryValue(sys.LowerCase(FileNameOf(exePath))),
      "NoDisplay=true",
      "Type=Application",
      "Terminal=false",
      "StartupNotify=true",
      "Icon=" + EntryValue(FileNameWithoutExtension(iconPath)),
  };
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  // UTF-8, as the program holds it: GLib reads no other value.
  return text;
}

int WriteDesktopEntry(const std::string& exePath) {
  const std::string iconPath = ExportIcon(exePath);
  SetCustomIcon(exePath, iconPath);
  const std::string entryPath = DesktopEntryPath(exePath);
  MakeDesktopFolder(FolderOf(entryPath));
  platform::Sys().WriteWholeFile(entryPath, DesktopEntryText(exePath, iconPath));
  SetCustomIcon(entryPath, iconPath);
  return 1;
}

}  // namespace modrik
