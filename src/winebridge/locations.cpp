// Where things are on the host: the user's home folder and the Wine prefix.
//
// Wine gives every Windows process its own locations: WINEHOMEDIR is the
// host home and WINECONFIGDIR the prefix, both as NT paths through the first
// drive that maps the place: "\??\Z:\home\u\games\pfx" on drive Z,
// "\??\H:\Games\pfx" when h: maps the home, or Wine's own Unix form
// ("\??\unix\home\u\games\pfx") when no drive does. WINEPREFIX, which
// Wine passes on only when the user set it, is the prefix's host path
// itself. Game launchers and per-program setups run their prefix elsewhere
// than ~/.wine, and not every home is /home/USER: these are the places to
// use. Without them (outside Wine, or a Wine that does not give them) the
// home is /home/USER and the prefix .wine in it, and the trace says so.
#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

namespace {

std::string WithSlashes(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return WithoutTrailingSlashes(path);
}

bool IsDriveZ(const std::string& path) { return StartsWithNoCase(path, "z:"); }

// The NT path after its "\??\" (or "\\?\") mark; empty when it has none.
std::string NtBody(const std::string& ntPath) {
  if (ntPath.rfind("\\??\\", 0) == 0 || ntPath.rfind("\\\\?\\", 0) == 0) return ntPath.substr(4);
  return std::string();
}

std::string LocationFrom(const char* variable, const std::string& fallback) {
  const std::string ntPath = platform::Sys().EnvironmentVariable(variable);
  const std::string unixPath = NtPathToUnixPath(ntPath);
  if (!unixPath.empty()) return unixPath;
  platform::Sys().Trace(std::string(variable) +
                        (ntPath.empty() ? " is not set" : " \"" + ntPath + "\" names no host folder") +
                        ": taking " + fallback);
  return fallback;
}

}  // namespace

bool StartsWithNoCase(const std::string& text, const std::string& lowerStart) {
  if (text.size() < lowerStart.size()) return false;
  for (std::size_t i = 0; i < lowerStart.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerStart[i]) return false;
  }
  return true;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool HasDriveLetter(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string NtPathToUnixPath(const std::string& ntPath) {
  const std::string body = NtBody(ntPath);
  if (StartsWithNoCase(body, "unix\\")) return WithSlashes(body.substr(4));
  if (StartsWithNoCase(body, "z:\\")) return WithSlashes(body.substr(2));
  if (StartsWithNoCase(body, "z:") && body.size() == 2) return "/";
  if (!HasDriveLetter(body)) return std::string();
  // Any other drive (h: mapping the home, another drive mapping "/"): Wine
  // itself knows where it leads.
  return WithoutTrailingSlashes(platform::Sys().WineUnixFileName(ntPath));
}

std::string UserName() { return platform::Sys().EnvironmentVariable("USERNAME"); }

std::string UnixHomeFolder() { return LocationFrom("WINEHOMEDIR", "/home/" + UserName()); }

std::string PrefixFolder() {
  const std::string prefix = platform::Sys().EnvironmentVariable("WINEPREFIX");
  if (!prefix.empty() && prefix[0] == '/') return WithoutTrailingSlashes(prefix);
  return LocationFrom("WINECONFIGDIR", UnixHomeFolder() + "/.wine");
}

bool DefaultLocations() {
  const std::string home = UnixHomeFolder();
  return home == "/home/" + UserName() && PrefixFolder() == home + "/.wine";
}

std::string UnixToWindowsPath(const std::string& unixPath) {
  // A prefix without drive Z reaches the host through Wine's own Unix form.
  const bool noDriveZ = StartsWithNoCase(NtBody(platform::Sys().EnvironmentVariable("WINECONFIGDIR")), "unix\\");
  std::string path = (noDriveZ ? "\\\\?\\unix" : "z:") + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string WindowsHomeFolder() {
  // A home that Wine names through a drive other than Z is that drive's
  // path ("H:\"); Wine's Unix form and drive Z are the host path itself.
  const std::string ntPath = platform::Sys().EnvironmentVariable("WINEHOMEDIR");
  const std::string body = NtBody(ntPath);
  if (HasDriveLetter(body) && !IsDriveZ(body) && !NtPathToUnixPath(ntPath).empty())
    return body.back() == '\\' ? body : body + "\\";
  return UnixToWindowsPath(UnixHomeFolder()) + "\\";
}

std::string UnixDataFolder() {
  // XDG_DATA_HOME when it is set (and absolute), else .local/share in the home.
  const std::string data = platform::Sys().EnvironmentVariable("XDG_DATA_HOME");
  if (data.empty() || data[0] != '/') return UnixHomeFolder() + "/.local/share";
  return WithSlashes(data);
}

std::string WindowsDataFolder() {
  const std::string data = platform::Sys().EnvironmentVariable("XDG_DATA_HOME");
  const std::string home = WindowsHomeFolder();
  if (data.empty() || data[0] != '/') return home + ".local\\share\\";
  // Where the home is reached through another drive, drive Z may be
  // missing: Wine's own Unix form reaches the folder in every prefix.
  return (IsDriveZ(home) ? UnixToWindowsPath(UnixDataFolder()) : WineUnixName(UnixDataFolder())) + "\\";
}

std::string WineUnixName(const std::string& unixPath) {
  std::string name = "\\\\?\\unix" + unixPath;
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

}  // namespace modrik
