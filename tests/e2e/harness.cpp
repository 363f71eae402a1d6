// End-to-end harness: see harness.h.
#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

#ifndef MODRIK_WIN_DIR_PATH
#error "MODRIK_WIN_DIR_PATH must name the Windows build folder"
#endif
#ifndef MODRIK_E2E_USER_NAME
#define MODRIK_E2E_USER_NAME "mdkt"
#endif
#ifndef MODRIK_TOOLS_DIR_PATH
#error "MODRIK_TOOLS_DIR_PATH must name the folder of the Windows test tools"
#endif

namespace e2e {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

long ToLong(const std::optional<std::string>& s, long fallback = -1) {
  if (!s || s->empty()) return fallback;
  return std::strtol(s->c_str(), nullptr, 10);
}

// Keeps letters, digits, '.', '-' and '_'; anything else becomes '_'.
std::string SafeName(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_')) c = '_';
  return out;
}

// Closes every descriptor from 3 up, except `keep`.
void CloseDescriptorsExcept(int keep) {
#ifdef SYS_close_range
  if (keep >= 3 && (keep == 3 || syscall(SYS_close_range, 3u, static_cast<unsigned>(keep - 1), 0u) == 0) &&
      syscall(SYS_close_range, static_cast<unsigned>(keep + 1), ~0u, 0u) == 0)
    return;
#endif
  for (int fd = 3; fd < 4096; fd++)
    if (fd != keep) close(fd);
}

}  // namespace

// ---- build products -----------------------------------------------------------------

bool Win32Prefix() {
  const char* arch = std::getenv("MODRIK_E2E_ARCH");
  return arch && std::string(arch) == "win32";
}
std::string WinBuildDir() { return Win32Prefix() ? MODRIK_WIN32_DIR_PATH : MODRIK_WIN_DIR_PATH; }
std::string ModrikExe() {
  const char* other = std::getenv("MODRIK_E2E_EXE");
  return other && *other ? std::string(other) : WinBuildDir() + "/modrik.exe";
}
std::string ToolExe(const std::string& name) {
  return WinBuildDir() + "/tests/win/" + name + ".exe";
}
std::string HostCommand() {
  const char* other = std::getenv("MODRIK_E2E_HOSTCMD");
  return other && *other ? std::string(other) : MODRIK_HOSTCMD_PATH;
}

// ---- files ----------------------------------------------------------------------------

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return ss.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  MakeDirs(ParentOf(path));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool MakeDirs(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
  return fs::is_directory(path, ec);
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  MakeDirs(ParentOf(to));
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  return !ec;
}

std::optional<std::string> WaitForFile(const std::string& path, int timeoutMs,
                                       bool (*done)(const std::string&)) {
  auto start = Clock::now();
  for (;;) {
    if (auto bytes = ReadFile(path); bytes && (!done || done(*bytes))) return bytes;
    if (ElapsedMs(start) >= timeoutMs) return std::nullopt;
    SleepMs(20);
  }
}

std::string AnsiOf(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); i++) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
      unsigned char d = static_cast<unsigned char>(utf8[++i]);
      out += static_cast<char>(c == 0xC2 ? d : d + 0x40);
    } else {
      out += '?';
      while (i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) i++;
    }
  }
  return out;
}

// ---- field files -------------------------------------------------------------------------

std::string FormatFields(const Fields& fields) {
  std::string out;
  for (const Field& f : fields) {
    out += f.key;
    out += ' ';
    out += std::to_string(f.value.size());
    out += ':';
    out += f.value;
    out += '\n';
  }
  return out;
}

bool ParseFields(const std::string& bytes, Fields* out) {
  out->clear();
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t sp = bytes.find(' ', pos);
    if (sp == std::string::npos || sp == pos) return false;
    size_t colon = bytes.find(':', sp + 1);
    if (colon == std::string::npos || colon == sp + 1) return false;
    size_t n = 0;
    for (size_t i = sp + 1; i < colon; i++) {
      if (bytes[i] < '0' || bytes[i] > '9' || n > (1u << 30)) return false;
      n = n * 10 + static_cast<size_t>(bytes[i] - '0');
    }
    if (bytes.size() - (colon + 1) < n + 1 || bytes[colon + 1 + n] != '\n') return false;
    out->push_back({bytes.substr(pos, sp - pos), bytes.substr(colon + 1, n)});
    pos = colon + 1 + n + 1;
  }
  return true;
}

std::optional<std::string> FieldValue(const Fields& fields, const std::string& key) {
  for (const Field& f : fields)
    if (f.key == key) return f.value;
  return std::nullopt;
}

// ---- processes -------------------------------------------------------------------------

RunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& logBase, int timeoutMs, const std::string& cwd) {
  RunResult r;
  if (argv.empty()) return r;
  MakeDirs(ParentOf(logBase));
  const std::string outPath = logBase + ".out", errPath = logBase + ".err";
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  // A close-on-exec pipe tells the parent whether exec failed.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return r;
  pid_t pid = fork();
  if (pid < 0) {
    close(report[0]);
    close(report[1]);
    return r;
  }
  if (pid == 0) {
    // Child: files for output, nothing else inherited.
    int fail = 0;
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) fail = errno;
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!fail && (in < 0 || out < 0 || err < 0)) fail = errno ? errno : EIO;
    if (!fail) {
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      CloseDescriptorsExcept(report[1]);
      execvpe(args[0], args.data(), envp.data());
      fail = errno ? errno : ENOEXEC;
    }
    ssize_t ignored = write(report[1], &fail, sizeof fail);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int childError = 0;
  ssize_t got;
  do got = read(report[0], &childError, sizeof childError);
  while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof childError)) {
    waitpid(pid, nullptr, 0);
    r.err = std::string("cannot start ") + argv[0] + ": " + std::strerror(childError);
    return r;
  }
  r.started = true;
  auto start = Clock::now();
  int status = 0, pause = 1;
  for (;;) {
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) break;
    if (ElapsedMs(start) >= timeoutMs) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      r.timedOut = true;
      break;
    }
    SleepMs(pause);
    if (pause < 20) pause *= 2;
  }
  if (!r.timedOut && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  r.out = ReadFile(outPath).value_or("");
  r.err = ReadFile(errPath).value_or("");
  return r;
}

// ---- the Wine environment -----------------------------------------------------------------

Wine::Wine() {
  const char* u = std::getenv("MODRIK_E2E_USER");
  user_ = (u && *u) ? u : MODRIK_E2E_USER_NAME;
  home_ = "/home/" + user_;
  prefix_ = home_ + "/.wine";
}

Wine& Wine::Get() {
  static Wine* wine = [] {
    auto* w = new Wine();
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
      std::fprintf(stderr, "e2e: DISPLAY is not set; run the tests under `xvfb-run -a dbus-run-session --`\n");
    MakeDirs(w->home_);
    MakeDirs(w->LogDir());
    // One suite at a time per test user: other processes wait here (bounded).
    std::string lockPath = "/tmp/modrik-e2e-" + w->user_ + ".lock";
    w->lockFd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    auto start = Clock::now();
    while (w->lockFd_ >= 0 && flock(w->lockFd_, LOCK_EX | LOCK_NB) != 0 && ElapsedMs(start) < 900000)
      SleepMs(100);
    if (!Exists(w->prefix_ + "/.mdk-e2e-ready") && !w->CreatePrefix())
      std::fprintf(stderr, "e2e: the Wine prefix %s could not be created\n", w->prefix_.c_str());
    if (!w->EnsureServer()) std::fprintf(stderr, "e2e: no wineserver for %s\n", w->prefix_.c_str());
    return w;
  }();
  return *wine;
}

std::vector<std::string> Wine::Environment(const std::vector<std::string>& overrides) const {
  static const char* const kOwn[] = {"USER", "LOGNAME", "HOME", "WINEPREFIX", "LANG",
                                     "WINEDEBUG", "WINEDLLOVERRIDES", "LC_ALL", "WINELOADER",
                                     "WINEARCH", "WINESERVER", "USERNAME", "XDG_DATA_HOME"};
  std::vector<std::string> env;
  for (char** e = environ; *e; e++) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool own = false;
    for (const char* k : kOwn) own = own || name == k;
    if (!own) env.push_back(entry);
  }
  env.push_back("USER=" + user_);
  env.push_back("LOGNAME=" + user_);
  env.push_back("HOME=" + home_);
  env.push_back("WINEPREFIX=" + prefix_);
  env.push_back("LANG=C.UTF-8");
  env.push_back("WINEDEBUG=-all");
  env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
  for (const std::string& entry : overrides) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    env.push_back(entry);
  }
  return env;
}

RunResult Wine::RunTool(const std::vector<std::string>& argv, int timeoutMs) {
  std::string log = LogDir() + "/" + std::to_string(getpid()) + "-" + std::to_string(NextLogId());
  return RunProcess(argv, Environment(), log, timeoutMs);
}

RunResult Wine::RunWine(const std::string& program, const std::vector<std::string>& args,
                        int timeoutMs, const std::string& cwd,
                        const std::vector<std::string>& envOverrides,
                        const std::vector<std::string>& inside) {
  std::vector<std::string> argv = inside;
  argv.insert(argv.end(), {"wine", program});
  argv.insert(argv.end(), args.begin(), args.end());
  std::string log = LogDir() + "/" + std::to_string(getpid()) + "-" + std::to_string(NextLogId());
  return RunProcess(argv, Environment(envOverrides), log, timeoutMs, cwd);
}

bool Wine::Runs32Bit() {
  if (runs32_ < 0) runs32_ = RunWine("C:\\windows\\syswow64\\cmd.exe", {"/c", "exit", "7"}, 60000).exitCode == 7 ||
                             Win32Prefix();
  return runs32_ == 1;
}

std::string Wine::Version() {
  if (version_.empty()) {
    // "wine-10.0 (Debian 10.0~repack-6)" (the last line: Wine may warn first).
    const std::string out = RunTool({"wine", "--version"}, 30000).out;
    std::string line = out.substr(out.rfind("wine-") == std::string::npos ? 0 : out.rfind("wine-") + 5);
    version_ = line.substr(0, line.find_first_of(" \n"));
  }
  return version_;
}

bool Wine::CreatePrefix() {
  Shutdown();
  RemoveTree(prefix_);
  MakeDirs(home_);
  MakeDirs(LogDir());
  // The persistent server first, so the one that wineboot would start (and
  // stop 3 s after the last Wine process) is not used.
  MakeDirs(prefix_);
  RemoveTree(home_ + "/.mdk-e2e-display");
  // A wineserver makes a new prefix of its own architecture: a 32-bit prefix
  // is made by the server that wineboot starts, before the persistent one.
  if (!Win32Prefix() && !EnsureServer()) return false;
  RunResult boot = RunProcess({"wineboot", "-i"}, Environment({Win32Prefix() ? "WINEARCH=win32" : "WINEARCH=win64"}),
                              LogDir() + "/wineboot", 180000);
  if (Win32Prefix() && (RunTool({"wineserver", "-w"}, 60000).exitCode != 0 || !EnsureServer())) return false;
  if (!boot.started || boot.timedOut) {
    std::fprintf(stderr, "e2e: wineboot -i failed (timed out: %d)\n%s", boot.timedOut, boot.err.c_str());
    return false;
  }
  // No window manager under Xvfb: without Managed=N Wine waits ~2 s whenever
  // a window closes. No crash dialog may stay open either.
  const std::string reg =
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n\"Managed\"=\"N\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n\"ShowCrashDialog\"=dword:00000000\r\n";
  const std::string regPath = LogDir() + "/settings.reg";
  WriteFile(regPath, reg);
  RunResult r = RunWine("regedit", {"/S", WindowsPath(regPath)}, 60000);
  if (!r.started || r.timedOut || r.exitCode != 0) {
    std::fprintf(stderr, "e2e: regedit failed\n%s", r.err.c_str());
    return false;
  }
  return WriteFile(prefix_ + "/.mdk-e2e-ready", "");
}

bool Wine::EnsureServer() {
  // A server started for another X display (an earlier run under another
  // Xvfb) would leave the prefix's desktop on a display that is gone.
  const char* d = std::getenv("DISPLAY");
  std::string display = d ? d : "";
  const std::string mark = home_ + "/.mdk-e2e-display";
  if (ReadFile(mark).value_or("\x01") != display) Shutdown();
  RunResult r = RunTool({"wineserver", "-p"}, 30000);
  if (!r.started || r.timedOut) return false;
  return WriteFile(mark, display);
}

void Wine::Shutdown() {
  RunTool(kEndWineserver, 30000);
  RemoveTree(home_ + "/.mdk-e2e-display");
}

std::string Wine::WindowsPath(const std::string& hostPath) const {
  std::string drive = DriveC() + "/";
  std::string out;
  if (hostPath.compare(0, drive.size(), drive) == 0)
    out = "C:\\" + hostPath.substr(drive.size());
  else
    out = "Z:" + hostPath;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

// ---- per-test folders -------------------------------------------------------------------

TestFolder::TestFolder(const std::string& name) {
  host_ = Wine::Get().DriveC() + "/mdk-e2e/" + SafeName(name);
  RemoveTree(host_);
  MakeDirs(host_);
}

TestFolder TestFolder::ForCurrentTest() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return TestFolder(info ? std::string(info->test_suite_name()) + "." + info->name() : "no-test");
}

std::string TestFolder::WinDir() const { return Wine::Get().WindowsPath(host_); }
std::string TestFolder::Host(const std::string& rel) const { return host_ + "/" + rel; }
std::string TestFolder::Win(const std::string& rel) const {
  return Wine::Get().WindowsPath(Host(rel));
}

std::string TestFolder::InstallModrik(const std::string& rel) const {
  if (!CopyFile(ModrikExe(), Host(rel))) ADD_FAILURE() << "cannot copy " << ModrikExe();
  return Win(rel);
}

std::string TestFolder::InstallTool(const std::string& tool, const std::string& rel) const {
  if (!CopyFile(ToolExe(tool), Host(rel))) ADD_FAILURE() << "cannot copy " << ToolExe(tool);
  return Win(rel);
}

std::string TestFolder::MakeNativePlayer(const std::string& rel, const std::string& printed,
                                         const NativePlayerActs& acts) const {
  const std::string path = Host(rel);
  // Single-quoted for the shell.
  auto quote = [](const std::string& text) {
    std::string quoted;
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted;
  };
  const std::string quoted = quote(path + ".rec");
  const std::string ended = " $(date +%s%3N)\" >> '" + quote(path + ".end") + "'";
  MakeDirs(ParentOf(path));
  WriteFile(path,
            "#!/bin/sh\n"
            "# Fake native player: records $0, its folder and every argument,\n"
            "# each ended by a NUL byte, between REC and END markers.\n"
            "printf '%s\\0' REC \"$0\" \"$(pwd)\" \"$#\" \"$@\" END >> '" + quoted + "'\n" +
                (acts.keepsEnvironment ? "env > '" + quote(path + ".env") + "'\n" : "") +
                (printed.empty() ? "" : "printf '%s' '" + quote(printed) + "'\n") +
                (acts.printedToError.empty() ? "" : "printf '%s' '" + quote(acts.printedToError) + "' >&2\n") +
                (acts.keepsInput ? "cat > '" + quote(path + ".in") + "'\n" : "") +
                (acts.playSeconds > 0 ? "trap 'kill $! 2>/dev/null; echo \"TERM" + ended +
                                            "; exit 143' TERM\nsleep " +
                                            std::to_string(acts.playSeconds) + " & wait $!\n"
                                      : "") +
                "echo \"done" + ended + "\nexit " + std::to_string(acts.status) + "\n");
  chmod(path.c_str(), 0755);
  return path;
}

PathFirst::PathFirst(const std::string& folder) {
  const char* path = std::getenv("PATH");
  old_ = path ? path : "";
  setenv("PATH", (folder + ":" + old_).c_str(), 1);
}

PathFirst::~PathFirst() { setenv("PATH", old_.c_str(), 1); }

// ---- driving a program ---------------------------------------------------------------

namespace {

DriveResult DriveOnce(const TestFolder& folder, const std::string& commandLine,
                      const DriveOptions& options) {
  static int counter = 0;
  Wine& wine = Wine::Get();
  const std::string base = ".mdk/drive-" + std::to_string(++counter);
  Fields job{{"cmd", commandLine}, {"timeout_ms", std::to_string(options.timeoutMs)}};
  if (!options.cwd.empty()) job.push_back({"cwd", options.cwd});
  for (int a : options.answers) job.push_back({"answer", std::to_string(a)});
  for (const auto& u : options.unsetEnv) job.push_back({"unset", u});
  for (const auto& s : options.setEnv) job.push_back({"set", s});
  if (!options.stdinFile.empty()) job.push_back({"stdin", wine.WindowsPath(options.stdinFile)});
  for (const auto& [key, to] : {std::pair{"stdout", options.stdoutTo}, {"stderr", options.stderrTo}})
    if (!to.empty()) job.push_back({key, to == "pipe" || to == "closed" ? to : wine.WindowsPath(to)});
  if (!options.terminateWhen.empty()) {
    job.push_back({"terminate_when", wine.WindowsPath(options.terminateWhen)});
    job.push_back({"terminate_ms", std::to_string(options.terminateAfterMs)});
  }
  MakeDirs(folder.Host(".mdk"));
  WriteFile(folder.Host(base + ".job"), FormatFields(job));
  RemoveTree(folder.Host(base + ".res"));

  DriveResult d;
  auto t0 = Clock::now();
  RunResult r = wine.RunWine(ToolExe("mdkdrive"), {folder.Win(base + ".job"), folder.Win(base + ".res")},
                             options.timeoutMs + 30000, "", options.hostEnv, options.inside);
  if (std::getenv("MDK_E2E_VERBOSE"))
    std::fprintf(stderr, "e2e: drive %s: %ld ms\n", base.c_str(), ElapsedMs(t0));
  d.wineErr = r.err;
  auto bytes = ReadFile(folder.Host(base + ".res"));
  if (!bytes) {
    d.raw = "no result; mdkdrive exit " + std::to_string(r.exitCode) +
            (r.timedOut ? " (timed out)" : "") + "\n" + r.err;
    return d;
  }
  d.raw = *bytes;
  Fields f;
  if (!ParseFields(*bytes, &f)) return d;
  d.ran = true;
  for (size_t i = 0; i < f.size(); i++) {
    const Field& x = f[i];
    if (x.key == "started") d.started = x.value == "1";
    else if (x.key == "error") d.error = ToLong(x.value);
    else if (x.key == "exit") d.exitCode = ToLong(x.value);
    else if (x.key == "timeout") d.timedOut = x.value == "1";
    else if (x.key == "ms") d.ms = ToLong(x.value);
    else if (x.key == "end_at") d.endAt = std::strtoll(x.value.c_str(), nullptr, 10);
    else if (x.key == "terminated_at") d.terminatedAt = std::strtoll(x.value.c_str(), nullptr, 10);
    else if (x.key == "stdout") d.out = x.value;
    else if (x.key == "stderr") d.err = x.value;
    else if (x.key == "box") d.boxes.emplace_back();
    else if (!d.boxes.empty()) {
      Box& b = d.boxes.back();
      if (x.key == "title") b.title = x.value;
      else if (x.key == "text") b.text = x.value;
      else if (x.key == "buttons") b.buttons = x.value;
      else if (x.key == "icon") b.icon = x.value;
      else if (x.key == "answer") b.answer = static_cast<int>(ToLong(x.value));
    }
  }
  return d;
}

}  // namespace

DriveResult Drive(const TestFolder& folder, const std::string& commandLine,
                  const DriveOptions& options) {
  DriveResult d = DriveOnce(folder, commandLine, options);
  // Now and then Wine fails to start a process with ERROR_INTERNAL_ERROR
  // before any of its code runs; that start is tried once more.
  constexpr long kErrorInternalError = 1359;
  if (d.ran && !d.started && d.error == kErrorInternalError) d = DriveOnce(folder, commandLine, options);
  return d;
}

// ---- records of the fake players ---------------------------------------------------

std::vector<WinPlayerRecord> ParseWinPlayerRecords(const std::string& bytes) {
  std::vector<WinPlayerRecord> out;
  Fields f;
  ParseFields(bytes, &f);  // a half-written tail is simply not used
  WinPlayerRecord cur;
  bool open = false;
  for (const Field& x : f) {
    if (x.key == "rec") {
      cur = WinPlayerRecord();
      open = true;
    } else if (!open) {
      continue;
    } else if (x.key == "cmdline") cur.cmdline = x.value;
    else if (x.key == "wcmdline") cur.wcmdline = x.value;
    else if (x.key == "flags") cur.flags = ToLong(x.value);
    else if (x.key == "show") cur.show = ToLong(x.value);
    else if (x.key == "cwd") cur.cwd = x.value;
    else if (x.key == "username") cur.username = x.value;
    else if (x.key == "end") {
      out.push_back(cur);
      open = false;
    }
  }
  return out;
}

std::vector<NativePlayerRecord> ParseNativePlayerRecords(const std::string& bytes) {
  std::vector<std::string> tok;
  size_t pos = 0;
  for (size_t nul; (nul = bytes.find('\0', pos)) != std::string::npos; pos = nul + 1)
    tok.push_back(bytes.substr(pos, nul - pos));
  std::vector<NativePlayerRecord> out;
  size_t i = 0;
  while (i + 5 <= tok.size() && tok[i] == "REC") {
    NativePlayerRecord r;
    r.argv0 = tok[i + 1];
    r.cwd = tok[i + 2];
    char* end = nullptr;
    unsigned long n = std::strtoul(tok[i + 3].c_str(), &end, 10);
    if (tok[i + 3].empty() || *end || i + 4 + n >= tok.size() || tok[i + 4 + n] != "END") break;
    r.args.assign(tok.begin() + static_cast<long>(i + 4), tok.begin() + static_cast<long>(i + 4 + n));
    out.push_back(r);
    i += 5 + n;
  }
  return out;
}

std::vector<WinPlayerRecord> WaitForWinPlayer(const std::string& recHostPath, int timeoutMs,
                                              size_t count) {
  auto start = Clock::now();
  for (;;) {
    auto recs = ParseWinPlayerRecords(ReadFile(recHostPath).value_or(""));
    if (recs.size() >= count || ElapsedMs(start) >= timeoutMs) return recs;
    SleepMs(20);
  }
}

std::vector<NativePlayerRecord> WaitForNativePlayer(const std::string& recHostPath, int timeoutMs,
                                                    size_t count) {
  auto start = Clock::now();
  for (;;) {
    auto recs = ParseNativePlayerRecords(ReadFile(recHostPath).value_or(""));
    if (recs.size() >= count || ElapsedMs(start) >= timeoutMs) return recs;
    SleepMs(20);
  }
}

// ---- calling modrik.exe's exports ----------------------------------------------------

ExportCalls& ExportCalls::Arg(const Text& t) {
  fields_.push_back(t ? Field{"s", *t} : Field{"n", ""});
  return *this;
}

ExportCalls& ExportCalls::GetIniS(const Text& file, const Text& section, const Text& key) {
  fields_.push_back({"GETINIS", ""});
  return Arg(file).Arg(section).Arg(key);
}

ExportCalls& ExportCalls::GetIniV(const Text& file, const Text& section, const Text& key) {
  fields_.push_back({"GETINIV", ""});
  return Arg(file).Arg(section).Arg(key);
}

static std::string RootText(std::uint32_t root) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", root);
  return buf;
}

ExportCalls& ExportCalls::DelRegKey(std::uint32_t root, const Text& subkey) {
  fields_.push_back({"DELREGKEY", ""});
  fields_.push_back({"root", RootText(root)});
  return Arg(subkey);
}

ExportCalls& ExportCalls::RegCreate(std::uint32_t root, const std::string& subkey) {
  fields_.push_back({"regcreate", ""});
  fields_.push_back({"root", RootText(root)});
  return Arg(subkey);
}

ExportCalls& ExportCalls::RegExists(std::uint32_t root, const std::string& subkey) {
  fields_.push_back({"regexists", ""});
  fields_.push_back({"root", RootText(root)});
  return Arg(subkey);
}

ExportResult CallExports(const TestFolder& folder, const std::string& exeWinPath,
                         const ExportCalls& calls, const std::string& callerRel, int timeoutMs) {
  static int counter = 0;
  Wine& wine = Wine::Get();
  const std::string base = ".mdk/exports-" + std::to_string(++counter);
  Fields job{{"exe", exeWinPath}};
  job.insert(job.end(), calls.JobFields().begin(), calls.JobFields().end());
  MakeDirs(folder.Host(".mdk"));
  WriteFile(folder.Host(base + ".job"), FormatFields(job));
  RemoveTree(folder.Host(base + ".res"));
  folder.InstallTool("mdkexports", callerRel);

  ExportResult e;
  RunResult r = wine.RunWine(folder.Win(callerRel), {folder.Win(base + ".job"), folder.Win(base + ".res")},
                             timeoutMs, ParentOf(folder.Host(callerRel)));
  auto bytes = ReadFile(folder.Host(base + ".res"));
  if (!bytes) {
    e.raw = "no result; mdkexports exit " + std::to_string(r.exitCode) +
            (r.timedOut ? " (timed out)" : "") + "\n" + r.err;
    return e;
  }
  e.raw = *bytes;
  Fields f;
  if (!ParseFields(*bytes, &f)) return e;
  e.ran = true;
  for (const Field& x : f) {
    if (x.key == "load") e.loaded = x.value == "1";
    else if (x.key == "bound") e.bound = ToLong(x.value);
    else if (x.key == "unbound") e.unbound.push_back(x.value);
    else if (x.key == "export.GETINIS") e.hasGetIniS = x.value == "1";
    else if (x.key == "export.GETINIV") e.hasGetIniV = x.value == "1";
    else if (x.key == "export.DELREGKEY") e.hasDelRegKey = x.value == "1";
    else if (x.key == "crash") e.crashed = true;
    else if (x.key != "error") e.results.push_back(x);
  }
  return e;
}

}  // namespace e2e
