// The doctor's real start: the prefix's vlc.exe started by the prefix's Wine
// with a file, as a Windows program starts it, and a recorder in the
// player's place for that one start (MODRIK_DOCTOR_PLAYER, which the start
// honours by asking nothing and writing no settings file, desktop entry or
// icon). The recorder, the record, the test file and Wine's output live in
// a folder of the doctor's own, removed afterwards: in /tmp, or for a
// Flatpak's Wine, which sees only its own /tmp, beside drive_c in the
// prefix. The files of the home a start writes, ~/dues.sh (and the dues.log
// of its host commands), are put back as they were, and the folders of a
// first start's private folder taken away again.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "doctor.h"

namespace fs = std::filesystem;

namespace hostcmd {

using modrik::frontends::ReadText;

namespace {

// The doctor's own test file: a name with blanks, accents and a quote.
const char kTestFile[] = "modrik doctor vid\xC3\xA9o d'\xC3\xA9t\xC3\xA9.mkv";
const char kDirectChannel[] = "host commands run directly";

// A file of the home as it was: its bytes and mode, or nothing there.
struct Kept {
  std::string path;
  bool there = false;
  std::string bytes;
  mode_t mode = 0644;
};

Kept Keep(const std::string& path) {
  Kept k;
  k.path = path;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return k;
  const std::optional<std::string> bytes = ReadText(path);
  if (!bytes) return k;
  k.there = true;
  k.bytes = *bytes;
  k.mode = st.st_mode & 07777;
  return k;
}

// Puts a kept file back; only a file the start wrote (no link, no folder)
// is replaced or removed.
void PutBack(const Kept& k) {
  struct stat st;
  if (lstat(k.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (!k.there) {
    unlink(k.path.c_str());
  } else if (ReadText(k.path).value_or("") != k.bytes || (st.st_mode & 07777) != k.mode) {
    WriteWhole(k.path, k.bytes, k.mode);
  }
}

// Sets a variable for the Wine of a command: in its environment, or as
// flatpak run's --env option.
void SetVariable(WineCommand* c, const std::string& name, const std::string& value) {
  const std::string entry = name + "=" + value;
  if (!c->argv.empty() && c->argv[0] == "flatpak") {
    for (size_t i = 0; i < c->argv.size(); i++)
      if (c->argv[i].rfind("--env=" + name + "=", 0) == 0) c->argv.erase(c->argv.begin() + i--);
    c->argv.insert(c->argv.begin() + 2, "--env=" + entry);
    return;
  }
  for (size_t i = 0; i < c->env.size(); i++)
    if (c->env[i].rfind(name + "=", 0) == 0) c->env.erase(c->env.begin() + i--);
  c->env.push_back(entry);
}

// The Windows name of a host path in the prefix: through drive Z when it
// maps the root, else Wine's own "\\?\unix" name.
std::string WindowsNameOf(const std::string& prefix, const std::string& path) {
  std::error_code ec;
  const fs::path z = fs::read_symlink(prefix + "/dosdevices/z:", ec);
  std::string name = !ec && z == "/" ? "Z:" + path : "\\\\?\\unix" + path;
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

// The wineserver command that ends a prefix's Windows programs.
std::string ServerKill(const Target& t) {
  if (!t.flatpakApp.empty()) return "flatpak kill " + t.flatpakApp;
  return "WINEPREFIX=" + ShellWord(t.prefix) + " wineserver -k";
}

// The last lines of modrik's trace, for a start that failed.
std::vector<std::string> TraceEnd(const std::string& trace) {
  std::vector<std::string> lines;
  size_t at = 0;
  const std::string mark = "OutputDebugStringA \"modrik: ";
  while ((at = trace.find(mark, at)) != std::string::npos) {
    at += mark.size();
    const size_t end = trace.find('\n', at);
    std::string line = trace.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (!line.empty() && line.back() == '"') line.pop_back();
    lines.push_back("trace: " + line);
  }
  if (lines.size() > 6) lines.erase(lines.begin(), lines.end() - 6);
  return lines;
}

}  // namespace

std::vector<std::string> RecordLines(const std::string& record, const std::string& player) {
  std::vector<std::string> words;
  for (size_t at = 0; at < record.size();) {
    const size_t end = record.find('\0', at);
    if (end == std::string::npos) return {};  // cut short
    words.push_back(record.substr(at, end - at));
    at = end + 1;
  }
  if (words.empty()) return {};
  std::string argv = ShellWord(player);
  for (size_t i = 1; i < words.size(); i++) argv += " " + ShellWord(words[i]);
  return {"the player would get: " + argv, "in the working folder: " + words[0]};
}

std::string ChannelTaken(const std::string& trace) {
  const std::string mark = "\"modrik: in a sandbox (";
  const size_t at = trace.find(mark);
  if (at == std::string::npos) return kDirectChannel;
  const size_t from = trace.find("): ", at), end = trace.find('\n', at);
  if (from == std::string::npos || from > end) return kDirectChannel;
  std::string channel = trace.substr(from + 3, end == std::string::npos ? std::string::npos : end - from - 3);
  if (!channel.empty() && channel.back() == '"') channel.pop_back();
  return channel + " (" + trace.substr(at + mark.size(), from - at - mark.size()) + ")";
}

Check RealStart(const Target& t, const std::string& exeWin, const std::string& player, const DoctorOptions& o,
                std::vector<std::string>* details) {
  std::error_code ec;
  const std::string given = o.file.empty() ? "" : fs::absolute(o.file, ec).lexically_normal().string();
  if (!given.empty() && !Exists(given)) return {"start", "not made: there is no file " + given, ""};
  std::string folder = (t.flatpakApp.empty() ? std::string("/tmp") : t.prefix) + "/modrik-doctor-XXXXXX";
  if (!mkdtemp(folder.data())) return {"start", "not made: cannot make " + folder + ": " + WriteReason(errno), ""};
  std::string file = given;
  if (file.empty()) {
    file = folder + "/" + kTestFile;
    WriteWhole(file, "modrik doctor: a test file, not a video\n");
  }
  const std::string record = folder + "/record", recorder = folder + "/recorder", log = folder + "/wine.log";
  WriteWhole(recorder,
             "#!/bin/sh\n# modrik doctor's stand-in for the player: its working folder and arguments, each ended by NUL.\n"
             "{ printf '%s\\0' \"$PWD\"; for a; do printf '%s\\0' \"$a\"; done; } >" + ShellWord(record + ".new") +
                 " && mv -f " + ShellWord(record + ".new") + " " + ShellWord(record) + "\n",
             0700);
  WineCommand c = WineCommandOf(t, t.wine, {exeWin, WindowsNameOf(t.prefix, file)});
  SetVariable(&c, "MODRIK_DOCTOR_PLAYER", recorder);
  SetVariable(&c, "WINEDEBUG", "-all,+debugstr");

  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const Kept kept[] = {Keep(home + "/dues.sh"), Keep(home + "/dues.log")};
  // The folders a first start makes for its private folder, deepest first.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::vector<std::string> made;
  for (const std::string& path : {runtime && runtime[0] == '/' ? std::string(runtime) + "/modrik" : std::string(),
                                  home + "/.cache/modrik", home + "/.cache"})
    if (!path.empty() && !Exists(path)) made.push_back(path);
  const auto begin = std::chrono::steady_clock::now();
  const int status = Run(c.argv, c.env, log, o.seconds);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  for (const Kept& k : kept) PutBack(k);
  // Taken away again once empty: the host side removes a start's own
  // folder in it right after the start.
  for (int tries = 0; tries < 20 && !made.empty(); tries++) {
    if (tries > 0) usleep(100000);
    for (size_t i = 0; i < made.size(); i++)
      if (rmdir(made[i].c_str()) == 0 || errno == ENOENT) made.erase(made.begin() + i--);
      else if (errno != ENOTEMPTY && errno != EEXIST) made.clear();
  }
  const std::string trace = ReadText(log).value_or("");
  const std::vector<std::string> got = RecordLines(ReadText(record).value_or(""), player);
  fs::remove_all(folder, ec);

  char took[32];
  std::snprintf(took, sizeof took, "%.1f s", seconds);
  if (!got.empty()) {
    *details = got;
    details->push_back("channel taken: " + ChannelTaken(trace));
    return {"start", "", "", std::string("in ") + took};
  }
  *details = TraceEnd(trace);
  if (status == -1 && seconds >= o.seconds)
    return {"start", std::string("Wine did not end within ") + std::to_string(o.seconds) +
                         " s: a hung Wine, or a wineserver that does not answer",
            ServerKill(t)};
  std::string why = "the player was not started (exit status " + std::to_string(status) + ")";
  if (status == 125) why += ": ~/dues.sh could not be written";
  if (status == 126) why += ": the start was refused or its host command failed";
  if (status == 127) why += ": no player was found";
  return {"start", why + ", after " + took, ""};
}

}  // namespace hostcmd
