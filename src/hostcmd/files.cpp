// The files the host command writes in a prefix or a home, and those it
// reads back from there: each written whole or not at all, and none of them
// reached through a link.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hostcmd.h"

namespace hostcmd {

namespace {

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

std::string SpaceShortage(const std::string& path) {
  struct statvfs fs;
  if (statvfs(path.c_str(), &fs) != 0) return "";
  return static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < (1u << 20) ? "no space left on the device" : "";
}

std::string WriteWhole(const std::string& path, const std::string& bytes, unsigned mode) {
  const std::string temp = path + ".modrik-new";
  // Made afresh: whatever stands at the temporary name (a link, a second
  // name of another file) goes first, and O_EXCL makes no other.
  unlink(temp.c_str());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
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

std::optional<std::string> ReadOwnFile(const std::string& path, std::string* why, size_t maxBytes) {
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    return std::nullopt;
  };
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(errno == ELOOP ? "it is a link" : std::strerror(errno));
  struct stat st;
  std::string bytes;
  std::string problem = fstat(fd, &st) != 0 ? std::strerror(errno)
                        : !S_ISREG(st.st_mode) ? "it is not a regular file"
                        : static_cast<size_t>(st.st_size) > maxBytes ? "it is larger than " + std::to_string(maxBytes) + " bytes"
                                                                      : "";
  char buffer[65536];
  while (problem.empty()) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) problem = std::strerror(errno);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > maxBytes) problem = "it is larger than " + std::to_string(maxBytes) + " bytes";
  }
  close(fd);
  if (!problem.empty()) return fail(problem);
  return bytes;
}

std::string CopyWhole(const std::string& from, const std::string& to) {
  struct stat st;
  std::string why;
  std::optional<std::string> bytes = ReadOwnFile(from, &why);
  if (!bytes || lstat(from.c_str(), &st) != 0) return "cannot read " + from + (why.empty() ? "" : ": " + why);
  return WriteWhole(to, *bytes, st.st_mode & 07777);
}

std::string OwnFolderProblem(const std::string& folder) {
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISLNK(st.st_mode)) return "is a link";
  if (!S_ISDIR(st.st_mode)) return "is not a folder";
  if (st.st_uid != geteuid()) return "belongs to another user";
  return "";
}

std::string LinkBelow(const std::string& base, const std::string& path) {
  if (path.compare(0, base.size(), base) != 0) return "";
  for (size_t at = base.size(); at < path.size();) {
    const size_t end = path.find('/', at + 1);
    const std::string part = path.substr(0, end);
    struct stat st;
    if (lstat(part.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return part;
    if (end == std::string::npos) break;
    at = end;
  }
  return "";
}

}  // namespace hostcmd
