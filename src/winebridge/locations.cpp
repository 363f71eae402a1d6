// Where things are on the host: the user's home folder and the Wine prefix.
//
// Wine gives every Windows process its own locations: WINEHOMEDIR is the
// host home and WINECONFIGDIR the prefix, both as NT paths, on drive Z
// ("\??\Z:\home\u\games\pfx") or, in a prefix without drive Z, in Wine's own
// Unix form ("\??\unix\home\u\games\pfx"). Game launchers and per-program
// setups run their prefix elsewhere than ~/.wine, and not every home is
// /home/USER: these are the places to use. Without them (outside Wine, or
// a Wine that does not give them) the home is /home/USER and the prefix
// .wine in it.
#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

namespace {

std::string WithSlashes(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool StartsWithNoCase(const std::string& text, const std::string& start) {
  if (text.size() < start.size()) return false;
  for (std::size_t i = 0; i < start.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != start[i]) return false;
  }
  return true;
}

// The NT path after its "\??\" (or "\\?\") mark; empty when it has none.
std::string NtBody(const std::string& ntPath) {
  if (ntPath.rfind("\\??\\", 0) == 0 || ntPath.rfind("\\\\?\\", 0) == 0) return ntPath.substr(4);
  return std::string();
}

std::string LocationFrom(const char* variable, const std::string& fallback) {
  const std::string unixPath = NtPathToUnixPath(platform::Sys().EnvironmentVariable(variable));
  return unixPath.empty() ? fallback : unixPath;
}

}  // namespace

std::string NtPathToUnixPath(const std::string& ntPath) {
  const std::string body = NtBody(ntPath);
  if (StartsWithNoCase(body, "unix\\")) return WithSlashes(body.substr(4));
  if (StartsWithNoCase(body, "z:\\")) return WithSlashes(body.substr(2));
  if (StartsWithNoCase(body, "z:") && body.size() == 2) return "/";
  return std::string();
}

std::string UserName() { return platform::Sys().EnvironmentVariable("USERNAME"); }

std::string UnixHomeFolder() { return LocationFrom("WINEHOMEDIR", "/home/" + UserName()); }

std::string PrefixFolder() { return LocationFrom("WINECONFIGDIR", UnixHomeFolder() + "/.wine"); }

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

std::string WindowsHomeFolder() { return UnixToWindowsPath(UnixHomeFolder()) + "\\"; }

std::string UnixDataFolder() {
  // XDG_DATA_HOME when it is set (and absolute), else .local/share in the home.
  const std::string data = platform::Sys().EnvironmentVariable("XDG_DATA_HOME");
  if (data.empty() || data[0] != '/') return UnixHomeFolder() + "/.local/share";
  return WithSlashes(data);
}

std::string WindowsDataFolder() { return UnixToWindowsPath(UnixDataFolder()) + "\\"; }

std::string UnixPrivateFolder() {
  // XDG_RUNTIME_DIR when it is set (and absolute), else .cache in the home.
  const std::string runtime = platform::Sys().EnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtime.empty() || runtime[0] != '/') return UnixHomeFolder() + "/.cache/modrik";
  return WithSlashes(runtime) + "/modrik";
}

std::string WindowsPrivateFolder() {
  auto& sys = platform::Sys();
  const std::string folder = UnixToWindowsPath(UnixPrivateFolder());
  if (!sys.FolderExists(folder)) {
    const std::string parent = folder.substr(0, folder.find_last_of('\\'));
    if (!sys.FolderExists(parent)) sys.MakeFolder(parent, true);
    if (!sys.MakeFolder(folder, true)) sys.Trace("cannot make the folder " + folder);
  }
  return folder + "\\";
}

}  // namespace modrik
