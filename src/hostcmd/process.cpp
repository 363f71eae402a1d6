// Host programs run by the command: Wine, wineserver, sha256sum.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "hostcmd.h"

extern char** environ;

namespace hostcmd {

int Run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& log, int timeoutSeconds) {
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

  // Output to a file, never a pipe: Wine's background processes inherit it.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.empty() ? "/dev/null" : log.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  for (int waited = 0;; waited++) {
    pid_t done = waitpid(pid, &status, timeoutSeconds > 0 ? WNOHANG : 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (timeoutSeconds > 0 && waited >= timeoutSeconds * 10) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    if (timeoutSeconds > 0) usleep(100000);
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

std::optional<std::string> Capture(const std::vector<std::string>& argv, int timeoutSeconds) {
  char out[] = "/tmp/modrik-output-XXXXXX";
  int fd = mkstemp(out);
  if (fd < 0) return std::nullopt;
  close(fd);
  std::optional<std::string> text;
  if (Run(argv, {}, out, timeoutSeconds) == 0) text = modrik::frontends::ReadText(out);
  unlink(out);
  return text;
}

std::string Sha256(const std::string& path) {
  const std::string sum = Capture({"sha256sum", "--", path}).value_or("");
  return sum.size() >= 64 ? sum.substr(0, 64) : "";
}

}  // namespace hostcmd
