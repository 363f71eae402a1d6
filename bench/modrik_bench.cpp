// Launch-time benchmark: how long a double-click takes to reach the native
// player through modrik.exe under a warm Wine, compared with Wine starting
// the same player directly, and with the pauses and polls that modrik's own
// design imposes on that path.
//
// The common case: settings file and desktop entry present, default prefix
// (no drive links but c: and z:, so the drive map stays empty and every path
// translation lists the drive links again).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
            const std::string& log) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int in = open("/dev/null", O_RDONLY);
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
// mentions `needle`; 0 when there is none.
long PeakKbOf(const std::string& needle) {
  long peak = 0;
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  while (dirent* d = readdir(proc)) {
    if (d->d_name[0] < '0' || d->d_name[0] > '9') continue;
    std::string base = std::string("/proc/") + d->d_name;
    if (ProcText(base + "/cmdline").find(needle) == std::string::npos) continue;
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
  const std::vector<std::string> viaModrik = {"wine", dir.Host("modrik.exe"), file};
  const std::vector<std::string> direct = {"wine", "start", "/unix", player, dir.Host("clip.mkv")};
  // One caller opening 100 files at once.
  std::vector<std::string> viaModrik100 = {"wine", dir.Host("modrik.exe")};
  for (int i = 0; i < 100; ++i) viaModrik100.push_back(dir.Win("clip.mkv"));

  // Warm up: Wine's server and caches, the desktop entry and icon files.
  TimeStart(viaModrik, rec, "", wine.LogDir() + "/bench-warm.log");
  TimeStart(direct, rec, "", wine.LogDir() + "/bench-warm2.log");

  std::vector<double> modrikMs, directMs, modrik100Ms, freshMs;
  long peakKb = 0;
  for (int i = 0; i < runs; ++i) {
    Run m = TimeStart(viaModrik, rec, "modrik.exe", wine.LogDir() + "/bench-m.log");
    Run d = TimeStart(direct, rec, "", wine.LogDir() + "/bench-d.log");
    if (m.ms >= 0) modrikMs.push_back(m.ms);
    if (d.ms >= 0) directMs.push_back(d.ms);
    Run many = TimeStart(viaModrik100, rec, "", wine.LogDir() + "/bench-100.log");
    if (many.ms >= 0) modrik100Ms.push_back(many.ms);
    peakKb = std::max(peakKb, m.peakKb);
    // A fresh home (a new XDG_DATA_HOME): the first start registers the
    // program, the second is timed.
    if (i < 5) {
      const std::string fresh = dir.Host("fresh home");
      RemoveTree(fresh);
      const std::vector<std::string> env = {"XDG_DATA_HOME=" + fresh + "/data"};
      TimeStart(viaModrik, rec, "", wine.LogDir() + "/bench-fresh1.log", env);
      Run second = TimeStart(viaModrik, rec, "", wine.LogDir() + "/bench-fresh2.log", env);
      if (second.ms >= 0) freshMs.push_back(second.ms);
    }
  }

  // The pauses and polls on this path before the player starts: each of the
  // three path translations (executable and icon for the file-manager icon,
  // then the file) lists the drive links, since an empty map is listed
  // again; a listing is one run (its 250 ms pause) plus at least one 250 ms
  // poll. Between them, the gio command's run ends with its 250 ms pause.
  // The player's own run pauses only after the player has started.
  const double floorMs = 3 * (250 + 250) + 250;
  struct stat st{};
  stat(ModrikExe().c_str(), &st);
  const double m = Median(modrikMs), d = Median(directMs);
  std::printf("runs                          : %d\n", runs);
  std::printf("modrik.exe -> player (median) : %.0f ms\n", m);
  std::printf("modrik.exe, 100 files (median): %.0f ms\n", Median(modrik100Ms));
  std::printf("fresh home, 2nd start (median): %.0f ms (%zu runs)\n", Median(freshMs), freshMs.size());
  std::printf("wine start /unix (median)     : %.0f ms\n", d);
  std::printf("pauses and polls on the path  : %.0f ms\n", floorMs);
  std::printf("floor + direct start          : %.0f ms\n", floorMs + d);
  std::printf("modrik over that              : %+.0f ms (%+.1f%%)\n", m - (floorMs + d),
              100.0 * (m - (floorMs + d)) / (floorMs + d));
  std::printf("modrik / (floor + direct)     : %.2f\n", m / (floorMs + d));
  std::printf("modrik peak memory (VmHWM)    : %ld kB\n", peakKb);
  std::printf("modrik.exe size               : %lld bytes\n", static_cast<long long>(st.st_size));
  wine.Shutdown();
  return modrikMs.empty() || directMs.empty() ? 1 : 0;
}
