// Host programs run by the command (Wine, wineserver, sha256sum), and the
// signals that would interrupt it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "hostcmd.h"

extern char** environ;

namespace hostcmd {

namespace {

volatile sig_atomic_t firstSignal = 0, signalCount = 0;

void Note(int signal) {
  if (firstSignal == 0) firstSignal = signal;
  signalCount = signalCount + 1;
}

}  // namespace

void CatchSignals() {
  struct sigaction action = {};
  action.sa_handler = Note;  // no SA_RESTART: a wait for a program returns at once
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

int Interrupted() { return firstSignal; }
int Interruptions() { return signalCount; }

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(signal);
  }
}

int Run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& log, int timeoutSeconds, const std::string& input, bool stopOnSignal) {
  std::vector<std::string> envs;
  for (char** e = environ; *e; e++) {
    std::string entry = *e, name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const auto& o : env) replaced = replaced || o.rfind(name, 0) == 0;
    if (!replaced) envs.push_back(entry);
  }
  envs.insert(envs.end(), env.begin(), env.end());
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (auto& e : envs) envp.push_back(e.data());
  envp.push_back(nullptr);

  // Output to a file, never a pipe: Wine's background processes inherit
  // it. The log lies in a prefix: it is written through no link, and not
  // when it is a second name of another file.
  const int out = open(log.empty() ? "/dev/null" : log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
  struct stat st;
  if (out < 0 || fstat(out, &st) != 0 || (S_ISREG(st.st_mode) && st.st_nlink != 1)) {
    if (out >= 0) close(out);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, out, 2);
  // A process group of its own: the terminal's Ctrl-C does not cut a
  // registry import short; this command decides what happens then.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(out);
  if (rc != 0) return -1;
  int status = 0;
  // Looked at every 0.1 s at most: for its end, the time bound and interruptions.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (int looks = 0;; looks++) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (Interruptions() >= 2 || (stopOnSignal && Interrupted()) || (timeoutSeconds > 0 && std::chrono::steady_clock::now() >= deadline)) {
      kill(-pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return -1;
    }
    usleep(looks < 7 ? 1000 << looks : 100000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    std::string full = (dir.empty() ? "." : dir) + "/" + name;
    struct stat st;
    if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(full.c_str(), X_OK) == 0) return full;
  }
  return "";
}

std::optional<std::string> Capture(const std::vector<std::string>& argv, int timeoutSeconds,
                                   const std::string& input) {
  char out[] = "/tmp/modrik-output-XXXXXX";
  int fd = mkstemp(out);
  if (fd < 0) return std::nullopt;
  close(fd);
  std::optional<std::string> text;
  if (Run(argv, {}, out, timeoutSeconds, input) == 0) text = modrik::frontends::ReadText(out);
  unlink(out);
  return text;
}

std::string Sha256(const std::string& path) {
  // Named on its command line, a path with a backslash or a line feed would
  // come back escaped ("\\5a36..."); as its input it is "-".
  const std::string sum = Capture({"sha256sum"}, 0, path).value_or("");
  if (sum.size() < 64 || sum.find_first_not_of("0123456789abcdef") != 64) return "";
  return sum.substr(0, 64);
}

std::string PlayerError(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "does not exist";
  if (S_ISDIR(st.st_mode)) return "is a folder";
  if (!S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0) return "is not an executable file";
  return "";
}

}  // namespace hostcmd
