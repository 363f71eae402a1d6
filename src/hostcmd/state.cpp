// The files of an install that must survive a cut (SIGKILL, a power cut):
// each written whole or not at all, and the journal of the change under way,
// from which the next command knows what is left to do.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "hostcmd.h"

namespace hostcmd {

namespace {

const std::vector<std::string> kInstallSteps = {"keep", "files", "registry", "settings", "record"};
const std::vector<std::string> kUninstallSteps = {"files", "registry", "desktop", "state"};

// Flushes a folder, so that a rename in it is on the disk.
void SyncFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::string WriteReason(int error) {
  if (error == ENOSPC || error == EDQUOT) return "no space left on the device";
  return std::strerror(error);
}

std::string WriteWhole(const std::string& path, const std::string& bytes, unsigned mode) {
  const std::string temp = path + ".modrik-new";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return "cannot write " + path + ": " + WriteReason(errno);
  int error = fchmod(fd, mode) == 0 ? 0 : errno;
  for (size_t at = 0; error == 0 && at < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
    if (n < 0 && errno != EINTR) error = errno;
    if (n > 0) at += static_cast<size_t>(n);
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temp.c_str());
    return "cannot write " + path + ": " + WriteReason(error);
  }
  SyncFolder(path);
  return "";
}

std::string CopyWhole(const std::string& from, const std::string& to) {
  struct stat st;
  std::optional<std::string> bytes = modrik::frontends::ReadText(from);
  if (!bytes || stat(from.c_str(), &st) != 0) return "cannot read " + from;
  return WriteWhole(to, *bytes, st.st_mode & 07777);
}

bool Journal::Done(const std::string& step) const {
  return std::find(done.begin(), done.end(), step) != done.end();
}

Journal ParseJournal(const std::string& text) {
  Journal journal;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("operation=", 0) == 0) journal.operation = line.substr(10);
    if (line.rfind("done=", 0) == 0) journal.done.push_back(line.substr(5));
  }
  return journal;
}

std::string JournalText(const Journal& journal) {
  std::string text = "operation=" + journal.operation + "\n";
  for (const std::string& step : journal.done) text += "done=" + step + "\n";
  return text;
}

std::vector<std::string> StepsOf(const std::string& command, const Journal& pending) {
  std::vector<std::string> steps;
  auto add = [&](const std::string& operation, bool finishing) {
    for (const std::string& step : operation == "install" ? kInstallSteps : kUninstallSteps)
      if (!finishing || !pending.Done(step)) steps.push_back(operation + ":" + step);
  };
  if (pending.operation == "uninstall") add("uninstall", true);
  if (command == "install") add("install", false);
  if (command == "uninstall" && pending.operation != "uninstall") add("uninstall", false);
  return steps;
}

}  // namespace hostcmd
