// What an install writes into a prefix and a home: the places of the
// stand-in, its registry keys (the only keys an uninstall deletes), its
// settings, and the desktop files the stand-in makes for itself.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <set>
#include <sstream>

#include "change.h"

namespace hostcmd {

const char kSoftware[] = "HKEY_LOCAL_MACHINE\\SOFTWARE";

namespace {

const char kMediaTypes[] =
    "3g2 3gp aac ac3 aif aiff amr ape asf au avi divx dv f4v flac flv m2ts m2v m4a m4v mka mkv mov mp2 "
    "mp3 mp4 mpeg mpg mts mxf oga ogg ogm ogv opus ra rm rmvb ts vob wav webm wma wmv";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool Take(std::string& rest, const std::string& head) {
  if (rest.compare(0, head.size(), head) != 0) return false;
  rest = rest.substr(head.size());
  return true;
}

// The key as system.reg names it: below HKEY_LOCAL_MACHINE.
std::string MachinePart(const std::string& key) { return key.substr(key.find('\\') + 1); }

// The names of a key's subkeys in the text of system.reg (lowercase).
std::set<std::string> Subkeys(const std::string& lowerSystemReg, const std::string& key) {
  std::string section = "\n[";
  for (char c : Lower(MachinePart(key))) section += c == '\\' ? std::string("\\\\") : std::string(1, c);
  section += "\\\\";
  std::set<std::string> names;
  for (size_t at = lowerSystemReg.find(section); at != std::string::npos; at = lowerSystemReg.find(section, at + 1)) {
    const size_t from = at + section.size(), end = lowerSystemReg.find_first_of("\\]\n", from);
    if (end != std::string::npos) names.insert(lowerSystemReg.substr(from, end - from));
  }
  return names;
}

}  // namespace

std::vector<std::string> MediaTypes() {
  std::istringstream in(kMediaTypes);
  std::vector<std::string> types;
  for (std::string t; in >> t;) types.push_back(t);
  return types;
}

std::vector<Place> Places(const std::string& prefix, const std::string& arch) {
  const std::string sw = kSoftware;
  std::vector<Place> places;
  places.push_back({"C:\\Program Files\\VideoLAN\\VLC", prefix + "/drive_c/Program Files/VideoLAN/VLC", sw,
                    sw + "\\Classes", BuildArchOf(arch), "", ""});
  if (arch == "win64")
    places.push_back({"C:\\Program Files (x86)\\VideoLAN\\VLC", prefix + "/drive_c/Program Files (x86)/VideoLAN/VLC",
                      sw + "\\Wow6432Node", sw + "\\Classes\\Wow6432Node", "i686", "x86-", ""});
  return places;
}

std::string StateOf(const Target& t) { return t.prefix + "/modrik-install"; }

std::string SettingsFor(const std::string& player) {
  return "[modrik]\r\n"
         "# Replace the following with any 'vlc.exe' filepath you want to use:\r\n"
         "# If you are running under Unix/Wine, Unix paths also work e.g. /usr/bin/vlc\r\n"
         "vlcpath=" + player + "\r\n";
}

std::optional<std::string> SettingsPlayer(const std::string& ini) {
  const std::optional<std::string> text = modrik::frontends::ReadText(ini);
  if (!text) return std::nullopt;
  std::istringstream lines(*text);
  for (std::string line; std::getline(lines, line);)
    if (strncasecmp(line.c_str(), "vlcpath=", 8) == 0) return Trim(line.substr(8));
  return "";
}

std::string InstallBody(const Place& p, bool associate) {
  const std::string exe = p.ExeWin();
  const std::string open = "\"" + exe + "\" --started-from-file \"%1\"";
  std::string b;
  b += "[" + p.software + "\\VideoLAN\\VLC]\n@=" + RegString(exe) + "\n\"InstallDir\"=" + RegString(p.folderWin) + "\n\n";
  if (p.keep.empty())
    b += "[" + p.software + "\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe]\n@=" + RegString(exe) +
         "\n\"Path\"=" + RegString(p.folderWin) + "\n\n";
  if (!associate) return b;
  const std::string app = p.classes + "\\Applications\\vlc.exe";
  b += "[" + app + "\\shell\\Open\\command]\n@=" + RegString(open) + "\n\n";
  b += "[" + app + "\\SupportedTypes]\n";
  for (const auto& t : MediaTypes()) b += "\"." + t + "\"=\"\"\n";
  b += "\n";
  for (const auto& t : MediaTypes()) {
    const std::string ext = p.classes + "\\." + t, id = p.classes + "\\VLC." + t;
    b += "[" + ext + "]\n@=\"VLC." + t + "\"\n\n";
    b += "[" + ext + "\\OpenWithProgids]\n\"VLC." + t + "\"=\"\"\n\n";
    b += "[" + id + "]\n@=\"VLC media file (." + t + ")\"\n\n";
    b += "[" + id + "\\DefaultIcon]\n@=" + RegString(exe + ",0") + "\n\n";
    b += "[" + id + "\\shell]\n@=\"Open\"\n\n";
    b += "[" + id + "\\shell\\Open\\command]\n@=" + RegString(open) + "\n\n";
  }
  return b;
}

std::vector<std::string> WantedKeys(const Place& p, bool associate) {
  std::vector<std::string> keys = {p.software + "\\VideoLAN\\VLC"};
  if (p.keep.empty()) keys.push_back(p.software + "\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe");
  if (!associate) return keys;
  keys.push_back(p.classes + "\\Applications\\vlc.exe");
  for (const auto& t : MediaTypes()) {
    keys.push_back(p.classes + "\\." + t);
    keys.push_back(p.classes + "\\VLC." + t);
  }
  return keys;
}

bool IsModrikKey(const std::string& key) {
  std::string rest = Lower(key);
  if (!Take(rest, "hkey_local_machine\\software\\")) return false;
  if (rest == "microsoft\\windows\\currentversion\\app paths\\vlc.exe") return true;  // one key for both views
  if (Take(rest, "classes\\")) {
    Take(rest, "wow6432node\\");
    if (rest == "applications" || rest == "applications\\vlc.exe") return true;
    for (const auto& t : MediaTypes())
      if (rest == "." + t || rest == "vlc." + t) return true;
    return false;
  }
  Take(rest, "wow6432node\\");
  return rest == "videolan" || rest == "videolan\\vlc";
}

std::vector<std::string> KeysToDelete(const std::vector<std::string>& listed, const std::string& systemReg) {
  const std::string lower = Lower(systemReg);
  std::vector<std::string> keys;
  for (const std::string& key : listed) {
    const std::string last = Lower(key.substr(key.rfind('\\') + 1));
    const std::string child = last == "videolan" ? "vlc" : last == "applications" ? "vlc.exe" : "";
    std::set<std::string> others = child.empty() ? std::set<std::string>() : Subkeys(lower, key);
    others.erase(child);
    keys.push_back(others.empty() ? key : key + "\\" + (last == "videolan" ? "VLC" : "vlc.exe"));
  }
  return keys;
}

std::vector<std::string> KeysNamingModrik(const std::vector<Place>& places, const std::string& systemReg) {
  std::vector<std::string> keys;
  auto names = [&](const std::string& key, const std::string& value, bool whole) {
    const std::optional<std::string> now = MachineKeyDefault(systemReg, MachinePart(key));
    return now && (whole ? *now == value : now->find(value) != std::string::npos);
  };
  for (const Place& p : places) {
    const std::string exe = p.ExeWin();
    const std::string appPaths = p.software + "\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe";
    if (names(p.software + "\\VideoLAN\\VLC", exe, true)) keys.push_back(p.software + "\\VideoLAN\\VLC");
    if (p.keep.empty() && names(appPaths, exe, true)) keys.push_back(appPaths);
    const std::string app = p.classes + "\\Applications\\vlc.exe";
    if (names(app + "\\shell\\Open\\command", exe, false)) keys.push_back(app);
    for (const auto& t : MediaTypes()) {
      if (names(p.classes + "\\VLC." + t + "\\shell\\Open\\command", exe, false)) keys.push_back(p.classes + "\\VLC." + t);
      if (names(p.classes + "\\." + t, "VLC." + t, true)) keys.push_back(p.classes + "\\." + t);
    }
  }
  return keys;
}

std::vector<std::string> DesktopFiles() {
  const char* x = std::getenv("XDG_DATA_HOME");
  const char* h = std::getenv("HOME");
  const std::string d = x && x[0] == '/' ? std::string(x) : std::string(h ? h : "") + "/.local/share";
  return {d + "/applications/wine-vlc.desktop", d + "/icons/vlc.ico", d + "/icons/vlc.png"};
}

bool StillModriks(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) return false;
  const std::string bytes = ReadOwnFile(path, nullptr, 16u << 20).value_or("");
  const std::string ext = path.substr(path.rfind('.') + 1);
  if (ext == "desktop")
    return bytes.rfind("[Desktop Entry]\r\n", 0) == 0 && bytes.find("\r\nStartupWMClass=vlc.exe\r\n") != std::string::npos &&
           bytes.find("\r\nNoDisplay=true\r\n") != std::string::npos && bytes.find("\nExec") == std::string::npos;
  if (ext == "png") return bytes.rfind("\x89PNG\r\n", 0) == 0;
  return ext == "ico" && bytes.compare(0, 4, std::string("\0\0\1\0", 4)) == 0;
}

}  // namespace hostcmd
