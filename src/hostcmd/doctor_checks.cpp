// The doctor's checks of what a start needs beyond the prefix: Wine's answer,
// the home, ~/dues.sh, the private folder and the channel, each judged as
// the start itself would judge it; and the value names of a registry key.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <sstream>

#include "doctor.h"

namespace hostcmd {

namespace {

// Where Debian's wine wrapper keeps the 32-bit loader, and where
// dpkg-divert sets it aside.
const char kLoader[] = "/usr/lib/wine/wine";
const char kLoaderAside[] = "/usr/lib/wine/wine.i386-set-aside-by-modrik";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Mode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// The last line of a program's output that says something.
std::string LastLine(const std::string& output) {
  std::istringstream in(output);
  std::string last;
  for (std::string line; std::getline(in, line);)
    if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
  if (!last.empty() && last.back() == '\r') last.pop_back();
  return last;
}

// What is wrong with a folder that must be the user's own, without the
// mode bits `forbidden`; "" when nothing is. A link is not followed.
std::string FolderFault(const std::string& path, mode_t forbidden) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "is missing";
  if (S_ISLNK(st.st_mode)) return "is a link";
  if (!S_ISDIR(st.st_mode)) return "is no folder";
  if (st.st_uid != getuid()) return "belongs to user " + std::to_string(st.st_uid);
  if ((st.st_mode & forbidden) != 0) return "has mode " + Mode(st.st_mode) + ": others may use it";
  return "";
}

}  // namespace

std::string Check::Line() const {
  if (Ok()) return name + ": ok" + (note.empty() ? "" : " (" + note + ")");
  return name + ": " + wrong + (mend.empty() ? "" : "; mend: " + mend);
}

Check WineCheck(const std::string& wine, int status, const std::string& output, const std::string& arch,
                int seconds) {
  const std::string lower = Lower(output);
  if (status == -1 && output.empty())
    return {"wine", wine + " gave no answer within " + std::to_string(seconds) + " s, or could not be started", ""};
  if (lower.find("exec format error") != std::string::npos) {
    if (arch == "win32")
      return {"wine", wine + " cannot start: Exec format error: this kernel runs no 32-bit programs, and this prefix is "
                      "32-bit", "none on this kernel: use the prefix on one that runs 32-bit programs"};
    return {"wine", wine + " cannot start: Exec format error: this kernel runs no 32-bit programs, and Debian's wine "
                    "picks the loader of wine32 (" + std::string(kLoader) + ") for 64-bit prefixes too",
            "sudo dpkg-divert --rename --divert " + std::string(kLoaderAside) + " --add " + kLoader};
  }
  if (status != 0)
    return {"wine", wine + " cannot start (exit status " + std::to_string(status) + "): " + LastLine(output), ""};
  const bool no32 = lower.find("wine32 is missing") != std::string::npos;
  if (no32 && arch == "win32")
    return {"wine", "wine32 is missing, which this 32-bit prefix needs",
            "sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install wine32:i386"};
  return {"wine", "", "",
          wine + ": " + LastLine(output) + (no32 ? "; no wine32: 32-bit programs of the prefix cannot start" : "")};
}

Check HomeCheck(const std::string& home) {
  struct stat st;
  if (home.empty() || home[0] != '/' || stat(home.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return {"home", "$HOME (" + home + ") is no folder: every start is refused (126)", ""};
  if (st.st_uid != getuid())
    return {"home", home + " belongs to user " + std::to_string(st.st_uid) + ": every start is refused (126)",
            "sudo chown \"$USER\" " + ShellWord(home)};
  if ((st.st_mode & 022) != 0)
    return {"home", home + " has mode " + Mode(st.st_mode) + ": others may write it, and every start is refused (126)",
            "chmod go-w " + ShellWord(home)};
  return {"home", "", "", home + ", mode " + Mode(st.st_mode)};
}

Check DuesCheck(const std::string& home) {
  const std::string dues = home + "/dues.sh";
  struct stat st;
  if (lstat(dues.c_str(), &st) != 0) return {"dues.sh", "", "", "none yet: a start writes it"};
  if (S_ISLNK(st.st_mode))
    return {"dues.sh", dues + " is a link: no start writes its host command there", "rm " + ShellWord(dues)};
  if (S_ISDIR(st.st_mode))
    return {"dues.sh", dues + " is a folder: no start can write its host command there",
            "mv " + ShellWord(dues) + " " + ShellWord(dues + ".folder")};
  if (!S_ISREG(st.st_mode) || st.st_uid != getuid())
    return {"dues.sh", dues + " is not a file of yours: no start can write its host command there",
            "rm " + ShellWord(dues)};
  return {"dues.sh", "", "", dues};
}

Check PrivateFolderCheck(const std::string& runtime, const std::string& home) {
  // As a start chooses it: modrik in the runtime folder (the user's alone),
  // else in ~/.cache (writable by the user alone); modrik's own folder,
  // made when missing, the user's alone.
  std::vector<std::string> faults, faulty;
  const struct {
    std::string path;
    mode_t forbidden;
  } places[] = {{runtime, 077}, {home + "/.cache", 022}};
  for (const auto& place : places) {
    if (place.path.empty() || place.path[0] != '/') continue;
    std::string fault = FolderFault(place.path, place.forbidden), path = place.path;
    if (fault == "is missing" && place.forbidden == 022) fault = "";  // a start makes ~/.cache
    if (fault.empty() && Exists(place.path + "/modrik")) {
      path = place.path + "/modrik";
      fault = FolderFault(path, 077);
    }
    if (fault.empty()) return {"private folder", "", "", place.path + "/modrik"};
    faults.push_back(path + " " + fault);
    faulty.push_back(path);
  }
  std::string text;
  for (const std::string& f : faults) text += (text.empty() ? "" : "; ") + f;
  return {"private folder", "none is fit (" + text + "): the player is not started (126)",
          "chmod go-rwx " + ShellWord(faulty.empty() ? home + "/.cache" : faulty.back())};
}

Check ChannelCheck(const std::string& channel) {
  const bool lost = channel.rfind("portal", 0) == 0 || channel.rfind("none", 0) == 0 ||
                    channel.find("but none is here") != std::string::npos ||
                    channel.find("may not start host programs") != std::string::npos;
  if (!lost) return {"channel", "", "", channel};
  // The words of `list` hold the remedy after "the whole hand-off: ".
  const std::string marker = "the whole hand-off: ";
  const size_t at = channel.find(marker);
  if (at == std::string::npos) return {"channel", channel, ""};
  std::string wrong = channel.substr(0, at);
  while (!wrong.empty() && (wrong.back() == ' ' || wrong.back() == ';' || wrong.back() == ',')) wrong.pop_back();
  return {"channel", wrong, channel.substr(at + marker.size())};
}

std::vector<std::string> MachineKeyValueNames(const std::string& systemReg, const std::string& key) {
  std::string section = "\n[";
  for (char c : key) section += c == '\\' ? std::string("\\\\") : std::string(1, c);
  section += "]";
  const size_t at = Lower(systemReg).find(Lower(section));
  const size_t end = at == std::string::npos ? at : systemReg.find('\n', at + 1);
  std::vector<std::string> names;
  if (end == std::string::npos) return names;
  std::istringstream lines(systemReg.substr(end + 1, 1 << 20));
  for (std::string line; std::getline(lines, line) && !line.empty() && line[0] != '[' && names.size() < 4096;) {
    if (line.rfind("@=", 0) == 0) names.push_back("");
    if (line[0] != '"') continue;
    std::string name;
    size_t i = 1;
    for (; i < line.size() && line[i] != '"'; i++) {
      if (line[i] == '\\' && i + 1 < line.size()) i++;
      name += line[i];
    }
    if (i < line.size()) names.push_back(name);
  }
  return names;
}

}  // namespace hostcmd
