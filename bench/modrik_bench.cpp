// Launch-time benchmark: how long a double-click takes to reach the native
// player through modrik.exe under a warm Wine, compared with Wine starting
// the same player directly (`wine start /unix PLAYER FILE`), as a ratio
// measured in one run; also a start with 100 files, a start with a
// 20,000-entry playlist, the first run's detection of the player, 8 and 32
// starts at once (32 beside 32 of Wine's own), the host programs a start
// runs, and a soak of mixed starts that counts those that never reached
// the player.
//
// The common case: settings file and desktop entry present, default prefix
// (no drive links but c: and z:).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& log, const std::string& input = "/dev/null") {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int in = open(input.c_str(), O_RDONLY);
  int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(in, 0);
  dup2(out, 1);
  dup2(out, 2);
  std::vector<char*> a, e;
  for (auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
  e.push_back(nullptr);
  execvpe(a[0], a.data(), e.data());
  _exit(127);
}

// A /proc file's text; empty when the process has gone meanwhile.
std::string ProcText(const std::string& path) {
  std::string text;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(fd);
  return text;
}

// Peak resident memory (VmHWM, kB) of the live processes whose command line
// mentions `needle` in its first two words; 0 when there is none.
long PeakKbOf(const std::string& needle) {
  long peak = 0;
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  while (dirent* d = readdir(proc)) {
    if (d->d_name[0] < '0' || d->d_name[0] > '9') continue;
    std::string base = std::string("/proc/") + d->d_name;
    // The program itself names it in its first two words (Wine's loader,
    // then the program); a host command may name it later (gio).
    const std::string line = ProcText(base + "/cmdline");
    const std::size_t second = line.find('\0', line.find('\0') + 1);
    if (line.substr(0, second).find(needle) == std::string::npos) continue;
    std::istringstream status(ProcText(base + "/status"));
    std::string row;
    while (std::getline(status, row)) {
      if (row.rfind("VmHWM:", 0) == 0) peak = std::max(peak, std::atol(row.c_str() + 6));
    }
  }
  closedir(proc);
  return peak;
}

// The time in ms (system clock) the player script wrote into its record.
double WaitForStamp(const std::string& rec, double bound) {
  while (NowMs() < bound) {
    auto bytes = ReadFile(rec);
    if (bytes && !bytes->empty() && bytes->back() == '\n') return std::atof(bytes->c_str()) / 1e6;
    usleep(2000);
  }
  return -1;
}

struct Run {
  double ms = -1;
  long peakKb = 0;
};

// Starts argv, samples the memory of the process named by `needle` until it
// ends, and returns the time from the start until the player's record.
Run TimeStart(const std::vector<std::string>& argv, const std::string& rec,
              const std::string& needle, const std::string& log,
              const std::vector<std::string>& envOverrides = {}) {
  Wine& wine = Wine::Get();
  RemoveTree(rec);
  Run run;
  double t0 = NowMs();
  pid_t pid = Spawn(argv, wine.Environment(envOverrides), log);
  double stamp = -1;
  bool exited = false;
  while (NowMs() < t0 + 60000) {
    if (!needle.empty()) run.peakKb = std::max(run.peakKb, PeakKbOf(needle));
    int status;
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
    if (stamp < 0) {
      auto bytes = ReadFile(rec);
      if (bytes && !bytes->empty() && bytes->back() == '\n') stamp = std::atof(bytes->c_str()) / 1e6;
    }
    if (exited && stamp >= 0 && (needle.empty() || PeakKbOf(needle) == 0)) break;
    usleep(needle.empty() ? 2000 : 5000);
  }
  if (!exited) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  if (stamp < 0) stamp = WaitForStamp(rec, NowMs() + 5000);
  run.ms = stamp < 0 ? -1 : stamp - t0;
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  if (v.empty()) return -1;
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The times (ms after t0) of the first `count` lines of a stamp file,
// waiting for them within the bound; fewer when they did not all come.
std::vector<double> Stamps(const std::string& rec, double t0, size_t count, double bound) {
  std::vector<double> stamps;
  while (NowMs() < bound) {
    stamps.clear();
    std::istringstream lines(ReadFile(rec).value_or(""));
    std::string line;
    while (std::getline(lines, line))
      if (!line.empty()) stamps.push_back(std::atof(line.c_str()) / 1e6 - t0);
    if (stamps.size() >= count) break;
    usleep(5000);
  }
  std::sort(stamps.begin(), stamps.end());
  return stamps;
}

// `count` starts of argvs at once; the times of the first and the last
// player.
std::pair<double, double> TimeTogether(const std::vector<std::vector<std::string>>& argvs,
                                       const std::string& rec, const std::string& log) {
  Wine& wine = Wine::Get();
  RemoveTree(rec);
  const double t0 = NowMs();
  std::vector<pid_t> pids;
  for (size_t i = 0; i < argvs.size(); ++i)
    pids.push_back(Spawn(argvs[i], wine.Environment(), log + std::to_string(i)));
  const std::vector<double> stamps = Stamps(rec, t0, argvs.size(), t0 + 60000);
  for (pid_t pid : pids) waitpid(pid, nullptr, 0);
  if (stamps.size() < argvs.size()) return {-1, -1};
  return {stamps.front(), stamps.back()};
}

// The soak: mixed starts of a player that records its words, one line per
// start. Counted are the starts whose caller was not ended: each must reach
// the player (its id in the record). Returns {lost, counted, started}.
struct Soak {
  int lost = 0, counted = 0, started = 0;
};

// The Wine loader that runs the executable as one Windows process, as a
// Windows caller's CreateProcess does. Debian's `wine` prefers the 32-bit
// loader, which starts a 64-bit program through a Windows process of its
// own first (start.exe /exec): a cost no caller of vlc.exe pays.
std::string LoaderFor(const std::string& exe) {
  const std::string bytes = ReadFile(exe).value_or("");
  std::uint32_t header = 0;
  std::uint16_t machine = 0;
  if (bytes.size() >= 0x40) std::memcpy(&header, bytes.data() + 0x3c, sizeof(header));
  if (header != 0 && header + 6 <= bytes.size()) std::memcpy(&machine, bytes.data() + header + 4, sizeof(machine));
  if (machine == 0x8664)
    for (const char* loader : {"/usr/lib/wine/wine64", "/usr/lib64/wine/wine64", "/usr/lib/x86_64-linux-gnu/wine/wine64"})
      if (access(loader, X_OK) == 0) return loader;
  return "wine";
}

Soak RunSoak(TestFolder& dir, const std::string& exe, int rounds) {
  Wine& wine = Wine::Get();
  const std::string rec = dir.Host("soak.rec"), log = wine.LogDir() + "/bench-soak";
  RemoveTree(rec);
  Soak soak;
  std::vector<std::string> ids;
  int next = 0;
  std::string current;  // the id of the last start made
  auto argvFor = [&](const std::string& kind, bool counted) {
    const std::string id = "soak" + std::to_string(next++) + kind;
    if (counted) ids.push_back(id);
    current = id;
    ++soak.started;
    WriteFile(dir.Host(id + ".mkv"), "x");
    if (kind == "-in") return std::vector<std::string>{"wine", exe, "--meta-title=" + id, "-"};
    return std::vector<std::string>{"wine", exe, dir.Win(id + ".mkv")};
  };
  WriteFile(dir.Host("stream.ts"), std::string(64 * 1024, 'G'));
  // Each start's trace, in a file of its own.
  const std::vector<std::string> traced = wine.Environment({"WINEDEBUG=+debugstr"});
  unsigned seed = 7;
  for (int round = 0; round < rounds; ++round) {
    // Sequential starts, one of which leaves a child behind and one reads a stream.
    for (int i = 0; i < 10; ++i) {
      const std::string kind = i == 3 ? "-leave" : i == 6 ? "-in" : "";
      const std::vector<std::string> argv = argvFor(kind, true);
      const pid_t pid =
          Spawn(argv, traced, log + "-" + current, kind == "-in" ? dir.Host("stream.ts") : "/dev/null");
      waitpid(pid, nullptr, 0);
    }
    // Starts ended 0-300 ms in, each followed at once by another.
    for (int i = 0; i < 4; ++i) {
      const std::vector<std::string> endedArgv = argvFor("-ended", false);
      const pid_t ended = Spawn(endedArgv, traced, log + "-" + current);
      seed = seed * 1103515245 + 12345;
      usleep(((seed >> 8) % 301) * 1000);
      kill(ended, SIGKILL);
      waitpid(ended, nullptr, 0);
      const std::vector<std::string> afterArgv = argvFor("", true);
      const pid_t after = Spawn(afterArgv, traced, log + "-" + current);
      waitpid(after, nullptr, 0);
    }
    // 8 at once, then 32 at once.
    for (int together : {8, 32}) {
      std::vector<pid_t> pids;
      for (int i = 0; i < together; ++i) {
        const std::vector<std::string> argv = argvFor(i == 1 ? "-leave" : "", true);
        pids.push_back(Spawn(argv, traced, log + "-" + current));
      }
      for (pid_t pid : pids) waitpid(pid, nullptr, 0);
    }
  }
  usleep(2000 * 1000);
  const std::string recorded = ReadFile(rec).value_or("");
  for (const std::string& id : ids) {
    ++soak.counted;
    // (An id ends where the next character is no digit.)
    bool found = false;
    for (std::size_t at = recorded.find(id); at != std::string::npos && !found; at = recorded.find(id, at + 1)) {
      const char after = at + id.size() < recorded.size() ? recorded[at + id.size()] : '\n';
      found = after < '0' || after > '9';
    }
    if (!found) {
      ++soak.lost;
      std::fprintf(stderr, "bench: %s never reached the player (its output: %s-%s)\n", id.c_str(), log.c_str(),
                   id.c_str());
    }
  }
  return soak;
}

// The host programs one start ran, as its trace counts them; -1 when the
// build does not say.
int HostProgramsOfAStart(const std::vector<std::string>& argv, const std::string& rec, const std::string& log) {
  TimeStart(argv, rec, "", log, {"WINEDEBUG=+debugstr"});
  const std::string text = ReadFile(log).value_or("");
  const std::string mark = "host programs run by this start: ";
  const std::size_t at = text.rfind(mark);
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + mark.size());
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  Wine& wine = Wine::Get();
  TestFolder dir("bench");
  dir.InstallModrik();
  const std::string rec = dir.Host("player.rec");
  const std::string player = dir.Host("bin/player");
  MakeDirs(dir.Host("bin"));
  WriteFile(player, "#!/bin/sh\ndate +%s%N >> '" + rec + "'\n");
  chmod(player.c_str(), 0755);
  WriteFile(dir.Host("modrik.ini"), "[modrik]\r\nvlcpath=" + player + "\r\n");
  WriteFile(dir.Host("clip.mkv"), "x");
  MakeDirs(wine.Home() + "/.local/share/icons");
  MakeDirs(wine.Home() + "/.local/share/applications");

  const std::string file = dir.Win("clip.mkv");
  const std::string loader = LoaderFor(dir.Host("modrik.exe"));
  const std::vector<std::string> viaModrik = {loader, dir.Host("modrik.exe"), file};
  // As before 1.5's benchmark: through `wine`, whichever loader it picks.
  const std::vector<std::string> viaWine = {"wine", dir.Host("modrik.exe"), file};
  const std::vector<std::string> direct = {"wine", "start", "/unix", player, dir.Host("clip.mkv")};
  // One caller opening 100 files at once.
  std::vector<std::string> viaModrik100 = {loader, dir.Host("modrik.exe")};
  for (int i = 0; i < 100; ++i) viaModrik100.push_back(dir.Win("clip.mkv"));
  // A playlist of 20,000 entries, in folders that do not exist.
  std::string list;
  for (int i = 0; i < 20000; ++i)
    list += "C:\\missing\\folder " + std::to_string(i) + "\\clip " + std::to_string(i) + ".mkv\r\n";
  WriteFile(dir.Host("long.m3u"), list);
  const std::vector<std::string> viaModrikList = {loader, dir.Host("modrik.exe"), dir.Win("long.m3u")};
  // Eight callers at once, each with a file of its own.
  std::vector<std::vector<std::string>> eight;
  for (int i = 0; i < 8; ++i) {
    WriteFile(dir.Host("clip" + std::to_string(i) + ".mkv"), "x");
    eight.push_back({loader, dir.Host("modrik.exe"), dir.Win("clip" + std::to_string(i) + ".mkv")});
  }
  // 32 callers at once through modrik, and 32 of Wine's own starts.
  std::vector<std::vector<std::string>> thirtyTwo, thirtyTwoDirect;
  for (int i = 0; i < 32; ++i) {
    const std::string name = "many" + std::to_string(i) + ".mkv";
    WriteFile(dir.Host(name), "x");
    thirtyTwo.push_back({loader, dir.Host("modrik.exe"), dir.Win(name)});
    thirtyTwoDirect.push_back({"wine", "start", "/unix", player, dir.Host(name)});
  }
  // The soak's player: it records its words, reads a stream it is given,
  // and leaves a child behind for a file named so.
  TestFolder soakDir("bench-soak");
  soakDir.InstallModrik();
  MakeDirs(soakDir.Host("bin"));
  WriteFile(soakDir.Host("bin/player"),
            "#!/bin/sh\necho \"$*\" >> '" + soakDir.Host("soak.rec") + "'\n"
            "case \"$*\" in *-in*) cat >/dev/null ;; *-leave*) sleep 3 </dev/null >/dev/null 2>&1 & ;; esac\n");
  chmod(soakDir.Host("bin/player").c_str(), 0755);
  WriteFile(soakDir.Host("modrik.ini"), "[modrik]\r\nvlcpath=" + soakDir.Host("bin/player") + "\r\n");
  // The first run: no settings file; the question is answered Yes, and the
  // host's whereis (a stand-in first on the PATH) names the player.
  const std::string whereis = dir.Host("tools/whereis");
  MakeDirs(dir.Host("tools"));
  WriteFile(whereis, "#!/bin/sh\nprintf 'vlc: %s\\n' '" + player + "'\n");
  chmod(whereis.c_str(), 0755);
  TestFolder first("bench-first");
  first.InstallModrik();

  // "soak": the soak alone.
  if (argc > 2 && std::string(argv[2]) == "soak") {
    TimeStart({"wine", soakDir.Host("modrik.exe"), soakDir.Win("modrik.ini")}, soakDir.Host("soak.rec"), "",
              wine.LogDir() + "/bench-soak-warm.log");
    const Soak soak = RunSoak(soakDir, soakDir.Host("modrik.exe"), runs);
    std::printf("lost: %d of %d (%d starts)\n", soak.lost, soak.counted, soak.started);
    wine.Shutdown();
    return soak.lost == 0 ? 0 : 1;
  }

  // Warm up: Wine's server and caches, the desktop entry and icon files.
  // A build that never reaches the player would only wait out every bound.
  if (TimeStart(viaModrik, rec, "", wine.LogDir() + "/bench-warm.log").ms < 0) {
    std::fprintf(stderr, "bench: %s did not start the player within 65 s; its output is in %s\n",
                 ModrikExe().c_str(), (wine.LogDir() + "/bench-warm.log").c_str());
    wine.Shutdown();
    return 1;
  }
  TimeStart(direct, rec, "", wine.LogDir() + "/bench-warm2.log");

  std::vector<double> modrikMs, viaWineMs, directMs, modrik100Ms, listMs, freshMs, firstRunMs, firstOfEight,
      lastOfEight, firstOf32, lastOf32, firstOf32Direct, lastOf32Direct;
  long peakKb = 0;
  for (int i = 0; i < runs; ++i) {
    Run m = TimeStart(viaModrik, rec, "", wine.LogDir() + "/bench-m.log");
    Run d = TimeStart(direct, rec, "", wine.LogDir() + "/bench-d.log");
    if (m.ms >= 0) modrikMs.push_back(m.ms);
    if (d.ms >= 0) directMs.push_back(d.ms);
    Run w = TimeStart(viaWine, rec, "", wine.LogDir() + "/bench-w.log");
    if (w.ms >= 0) viaWineMs.push_back(w.ms);
    Run many = TimeStart(viaModrik100, rec, "", wine.LogDir() + "/bench-100.log");
    if (many.ms >= 0) modrik100Ms.push_back(many.ms);
    if (i < 5) {
      Run longList = TimeStart(viaModrikList, rec, "", wine.LogDir() + "/bench-list.log");
      if (longList.ms >= 0) listMs.push_back(longList.ms);
      // A fresh home (a new XDG_DATA_HOME): the first start registers the
      // program, the second is timed.
      const std::string fresh = dir.Host("fresh home");
      RemoveTree(fresh);
      const std::vector<std::string> env = {"XDG_DATA_HOME=" + fresh + "/data"};
      TimeStart(viaModrik, rec, "", wine.LogDir() + "/bench-fresh1.log", env);
      Run second = TimeStart(viaModrik, rec, "", wine.LogDir() + "/bench-fresh2.log", env);
      if (second.ms >= 0) freshMs.push_back(second.ms);
    }
    if (i < 3) {
      const auto together = TimeTogether(eight, rec, wine.LogDir() + "/bench-8-");
      if (together.first >= 0) {
        firstOfEight.push_back(together.first);
        lastOfEight.push_back(together.second);
      }
      const auto many = TimeTogether(thirtyTwo, rec, wine.LogDir() + "/bench-32-");
      const auto manyDirect = TimeTogether(thirtyTwoDirect, rec, wine.LogDir() + "/bench-32d-");
      if (many.first >= 0 && manyDirect.first >= 0) {
        firstOf32.push_back(many.first);
        lastOf32.push_back(many.second);
        firstOf32Direct.push_back(manyDirect.first);
        lastOf32Direct.push_back(manyDirect.second);
      }
      RemoveTree(first.Host("modrik.ini"));
      RemoveTree(rec);
      PathFirst tools(dir.Host("tools"));
      DriveOptions yes;
      yes.answers = {6};
      const double t0 = NowMs();
      Drive(first, "\"" + first.Win("modrik.exe") + "\" " + file, yes);
      const std::vector<double> stamp = Stamps(rec, t0, 1, NowMs() + 5000);
      if (!stamp.empty()) firstRunMs.push_back(stamp.front());
    }
  }

  const int hostPrograms = HostProgramsOfAStart(viaModrik, rec, wine.LogDir() + "/bench-traced.log");
  const Soak soak = RunSoak(soakDir, soakDir.Host("modrik.exe"), std::max(10, runs));

  // Memory is sampled in runs of their own: the sampling takes the time the
  // timed runs measure.
  for (int i = 0; i < 3; ++i)
    peakKb = std::max(peakKb, TimeStart(viaModrik, rec, "modrik.exe", wine.LogDir() + "/bench-mem.log").peakKb);
  struct stat st{};
  stat(ModrikExe().c_str(), &st);
  const double m = Median(modrikMs), d = Median(directMs);
  std::printf("runs                                : %d\n", runs);
  std::printf("modrik.exe -> player (median)       : %.0f ms\n", m);
  std::printf("wine start /unix (median)           : %.0f ms\n", d);
  std::printf("modrik / wine start                 : %.2f (goal 0.5, at most 0.75)\n", m / d);
  std::printf("modrik.exe started by                : %s\n", loader.c_str());
  std::printf("through wine (median)               : %.0f ms (%.2f of wine start)\n", Median(viaWineMs),
              Median(viaWineMs) / d);
  std::printf("modrik.exe, 100 files (median)      : %.0f ms\n", Median(modrik100Ms));
  std::printf("20,000-entry playlist (median)      : %.0f ms (%zu runs; one file: %.0f ms)\n",
              Median(listMs), listMs.size(), m);
  std::printf("first run, detection (median)       : %.0f ms (%zu runs, from a Windows caller)\n",
              Median(firstRunMs), firstRunMs.size());
  std::printf("8 at once, first / last player      : %.0f / %.0f ms (medians of %zu rounds)\n",
              Median(firstOfEight), Median(lastOfEight), lastOfEight.size());
  std::printf("32 at once, first / last player      : %.0f / %.0f ms (medians of %zu rounds)\n",
              Median(firstOf32), Median(lastOf32), lastOf32.size());
  std::printf("32 wine start /unix, first / last   : %.0f / %.0f ms\n", Median(firstOf32Direct),
              Median(lastOf32Direct));
  std::printf("32 at once, last player / wine start's: %.2f (goal 1.0 or less, at most 1.25)\n",
              Median(lastOf32) / Median(lastOf32Direct));
  std::printf("20,000-entry list, over one file: %.0f ms (at most 200)\n", Median(listMs) - m);
  if (hostPrograms >= 0)
    std::printf("host programs per start             : %d\n", hostPrograms);
  else
    std::printf("host programs per start             : (not traced by this build)\n");
  std::printf("fresh home, 2nd start (median)      : %.0f ms (%zu runs)\n", Median(freshMs), freshMs.size());
  std::printf("modrik peak memory (VmHWM)          : %ld kB\n", peakKb);
  std::printf("modrik.exe size                     : %lld bytes\n", static_cast<long long>(st.st_size));
  std::printf("soak: %d starts (sequential, 8 and 32 at once, ended 0-300 ms in, children left behind, streams)\n",
              soak.started);
  std::printf("lost: %d of %d\n", soak.lost, soak.counted);
  wine.Shutdown();
  return modrikMs.empty() || directMs.empty() ? 1 : 0;
}
