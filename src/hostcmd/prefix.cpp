// What the host can tell about a Wine prefix without running Wine.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "hostcmd.h"

namespace hostcmd {

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
  // the prefix's device and inode, for as long as it runs.
  struct stat st;
  if (stat(prefix.c_str(), &st) != 0) return false;
  char lock[128];
  std::snprintf(lock, sizeof lock, "/tmp/.wine-%u/server-%llx-%llx/lock", static_cast<unsigned>(getuid()),
                static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino));
  int fd = open(lock, O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  bool held = fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  close(fd);
  return held;
}

std::string WriteError(const std::string& folder) {
  std::string probe = folder + "/.modrik-probe-XXXXXX";
  int fd = mkstemp(probe.data());
  if (fd < 0) return std::strerror(errno);
  close(fd);
  unlink(probe.c_str());
  return "";
}

}  // namespace hostcmd
