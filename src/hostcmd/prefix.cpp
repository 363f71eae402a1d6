// What the host can tell about a Wine prefix without running Wine.
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "hostcmd.h"

namespace hostcmd {

bool Exists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::string PrefixArch(const std::string& prefix) {
  std::ifstream in(prefix + "/system.reg");
  if (!in) return "";
  std::string line, arch = "win32";  // prefixes older than the line are 32-bit
  // The header: "WINE REGISTRY Version 2", comments, "#arch=win64", a blank line.
  for (int n = 0; n < 10 && std::getline(in, line); n++) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("#arch=", 0) == 0) return line.substr(6);
    if (n > 0 && !line.empty() && line[0] == '[') break;
  }
  return arch;
}

std::string BuildArchOf(const std::string& prefixArch) {
  if (prefixArch == "win64") return "x86_64";
  if (prefixArch == "win32") return "i686";
  return "";
}

bool ServerRunning(const std::string& prefix) {
  // A wineserver keeps a lock on the file "lock" of its folder, named after
  // the prefix's device and inode, for as long as it runs. The folder is in
  // /tmp/.wine-UID, or in a /tmp/wine-XXXXXX of the user's own.
  struct stat st;
  if (stat(prefix.c_str(), &st) != 0) return false;
  char server[64];
  std::snprintf(server, sizeof server, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const std::string patterns[] = {"/tmp/.wine-" + std::to_string(getuid()) + "/" + server + "/lock",
                                  "/tmp/wine-*/" + std::string(server) + "/lock"};
  bool held = false;
  for (const std::string& pattern : patterns) {
    glob_t found;
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
      for (size_t i = 0; i < found.gl_pathc && !held; i++) {
        struct stat ls;
        int fd = open(found.gl_pathv[i], O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        held = fstat(fd, &ls) == 0 && ls.st_uid == getuid() && fcntl(fd, F_GETLK, &fl) == 0 &&
               fl.l_type != F_UNLCK;
        close(fd);
      }
    }
    globfree(&found);
  }
  return held;
}

bool FlatpakRunning(const std::string& app) {
  if (FindOnPath("flatpak").empty()) return false;
  std::istringstream lines(Capture({"flatpak", "ps", "--columns=application"}, 10).value_or(""));
  for (std::string line; std::getline(lines, line);)
    if (line == app) return true;
  return false;
}

std::string WriteError(const std::string& folder) {
  std::string probe = folder + "/.modrik-probe-XXXXXX";
  int fd = mkstemp(probe.data());
  if (fd < 0) return WriteReason(errno);
  close(fd);
  unlink(probe.c_str());
  return "";
}

std::optional<std::string> MachineKeyDefault(const std::string& systemReg, const std::string& key) {
  // Sections are "[Software\\\\VideoLAN\\\\VLC] TIME", backslashes doubled, in any
  // letter case; string values are quoted with \\ and \" escaped.
  std::string section = "\n[";
  for (char c : key) section += c == '\\' ? std::string("\\\\") : std::string(1, c);
  section += "]";
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  const std::string text = lower(systemReg);
  const size_t at = text.find(lower(section)), end = text.find('\n', at + 1);
  if (at == std::string::npos) return std::nullopt;
  std::istringstream lines(end == std::string::npos ? "" : systemReg.substr(end + 1));
  for (std::string line; std::getline(lines, line) && !line.empty() && line[0] != '[';) {
    if (line.rfind("@=\"", 0) != 0) continue;
    std::string value;
    for (size_t i = 3; i < line.size() && line[i] != '"'; i++) {
      if (line[i] == '\\' && i + 1 < line.size()) i++;
      value += line[i];
    }
    return value;
  }
  return "";
}

}  // namespace hostcmd
