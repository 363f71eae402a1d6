// Wine as a prefix's runner runs it, and the registry below HKLM\SOFTWARE
// through it: `reg` of the prefix's own Wine in its 64-bit view, where the
// 32-bit view is HKLM\SOFTWARE\Wow6432Node (and
// HKLM\SOFTWARE\Classes\Wow6432Node). It must be the 64-bit `reg`: a 32-bit
// one (Debian's `wine` runs it when wine32 is installed) deletes the keys of
// an import in its own view. A 32-bit `cmd` starts the 64-bit one as
// C:\windows\sysnative\reg.exe; a 64-bit Wine has no such folder, and its own
// `reg` is the 64-bit one. The .reg files live in a folder of their own in
// the prefix's C:\windows\temp: every Wine that runs the prefix sees it
// there, a Flatpak's too, and its path has no blank for `cmd` to split.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "change.h"

namespace fs = std::filesystem;

namespace hostcmd {

int PrefixWine::Wine(const std::vector<std::string>& args, bool stopOnSignal) {
  const WineCommand c = WineCommandOf(t_, t_.wine, args);
  return hostcmd::Run(c.argv, c.env, log_, 0, "", stopOnSignal);
}

void PrefixWine::Settle() {
  std::string server = "wineserver";
  if (t_.wine.find('/') != std::string::npos) {
    std::string beside = fs::path(t_.wine).parent_path().string() + "/wineserver";
    if (!t_.flatpakApp.empty() || access(beside.c_str(), X_OK) == 0) server = beside;
  }
  const WineCommand c = WineCommandOf(t_, server, {"-w"});
  hostcmd::Run(c.argv, c.env, log_, 15);
}

Registry::Registry(PrefixWine& wine, const std::string& prefix, bool win64)
    : wine_(wine), win64_(win64), prefix_(prefix) {
  const std::string temp = prefix + "/drive_c/windows/temp";
  std::error_code ec;
  fs::create_directories(temp, ec);
  const std::string link = LinkBelow(prefix, temp);
  std::string dir = temp + "/modrik-reg-XXXXXX";
  if (!link.empty()) {
    error_ = "cannot write " + temp + ": " + link + " is a link";
  } else if (mkdtemp(dir.data())) {
    dir_ = dir;
    dirWin_ = "C:\\windows\\temp\\" + fs::path(dir).filename().string();
  } else {
    error_ = "cannot write " + temp + ": " + WriteReason(errno);
  }
}

Registry::~Registry() {
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

std::vector<std::string> Registry::Export(off_t room) {
  const std::string file = dir_ + "/export.reg";
  std::vector<std::string> lines;
  if (dir_.empty()) return lines;
  // Wine writes the export, and the registry again when it ends: without
  // `room` bytes for that it fails without saying why, so they are asked
  // for first.
  int fd = open((dir_ + "/room").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  const int error = fd < 0 ? errno : posix_fallocate(fd, 0, room);
  if (fd >= 0) close(fd);
  unlink((dir_ + "/room").c_str());
  if (error != 0) {
    error_ = "cannot write " + dir_ + ": " + WriteReason(error);
    return lines;
  }
  // Only a whole export counts: one that failed or was stopped may have
  // been cut anywhere, and a key missing from it would seem not there.
  if (!Reg({"export", kSoftware, dirWin_ + "\\export.reg", "/y"}, true, file)) {
    const std::string space = SpaceShortage(dir_);
    if (!space.empty()) error_ = "cannot export the registry of " + prefix_ + ": " + space;
    return lines;
  }
  return RegFileLines(ReadOwnFile(file).value_or(""));
}

bool Registry::Import(const std::string& body) {
  if (dir_.empty() || !(error_ = WriteWhole(dir_ + "/import.reg", RegFileBytes(body))).empty()) return false;
  if (Reg({"import", dirWin_ + "\\import.reg"}, false, "")) return true;
  const std::string space = SpaceShortage(prefix_);
  if (!space.empty()) error_ = "cannot write the registry of " + prefix_ + ": " + space;
  return false;
}

bool Registry::Reg(const std::vector<std::string>& args, bool readOnly, const std::string& made) {
  std::vector<std::vector<std::string>> tools = {{"reg"}};
  if (win64_) tools.insert(tools.begin(), {"cmd", "/c", "C:\\windows\\sysnative\\reg.exe"});
  if (!tool_.empty()) tools = {tool_};  // the first that worked, for every later call
  for (const auto& tool : tools) {
    if (readOnly && Interrupted()) return false;
    std::vector<std::string> argv = tool;
    argv.insert(argv.end(), args.begin(), args.end());
    if (win64_) argv.push_back("/reg:64");
    if (wine_.Wine(argv, readOnly) == 0 && (made.empty() || Exists(made))) {
      tool_ = tool;
      return true;
    }
  }
  return false;
}

}  // namespace hostcmd
