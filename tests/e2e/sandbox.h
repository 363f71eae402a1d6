// The sandboxes that Windows programs run in, imitated with bubblewrap: each
// has the marks a program inside can read (/.flatpak-info, /run/host, a
// container's files, variables), a /usr without the host's player, its own
// session bus and the channel it offers to the host, and a copy of the
// suite's prefix for a Wine of its own inside. A plain host with variables
// left over runs that Wine on the host itself.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

enum class Channel {
  kFlatpakSpawn,  // flatpak-spawn --host, through the real flatpak-session-helper
  kLaunchClient,  // steam-runtime-launch-client --alongside-steam (a stand-in)
  kPortal,        // the portal's OpenURI.OpenFile (a stand-in), through the sandbox's xdg-open
  kLaunchFails,   // a launch client whose service does not answer, as a current Steam's; the portal
  kHostExec,      // distrobox-host-exec (the launch client's stand-in)
  kNone,          // no sandbox: the host itself
};

struct SandboxKind {
  const char* name;         // as in test names: "flatpak_host", "flatpak", "steam", "umu", "snap"
  Channel channel;
  const char* flatpakId;    // a Flatpak's app id, "" for the others
  bool home;                // the user's home is visible (else only ~/.var/app/<id>)
  const char* manager;      // /run/host/container-manager, "" when absent
  std::vector<std::string> variables;  // NAME=VALUE set inside
  std::vector<std::string> marks = {};  // empty files inside (/run/.containerenv)
};

// Test names and failure messages show a sandbox by its name.
inline void PrintTo(const SandboxKind& kind, std::ostream* out) { *out << kind.name; }

// The table of sandboxes the e2e cases run in.
const std::vector<SandboxKind>& SandboxKinds();
// The runtimes the sandboxes run on: the host's own /usr (Wine 8), and the
// Debian 13 root of scripts/wine10.sh (Wine 10) where it exists.
struct Runtime {
  const char* name;
  std::string root;
};
const std::vector<Runtime>& Runtimes();
inline void PrintTo(const Runtime& runtime, std::ostream* out) { *out << runtime.name; }

// The reason sandboxes cannot be imitated here (bubblewrap or the Flatpak
// tools missing), or "".
std::string SandboxMissing();

class Sandbox {
 public:
  // testDir: the test's folder in the suite's prefix, seen by the sandbox's
  // Wine as the same C:\ folder; hostOnly: a folder the sandbox does not
  // see (the host's player goes there).
  // runtime: a root folder whose /usr and /etc the sandbox runs on instead
  // of the host's (the Debian 13 root: its Wine is 10), "" for the host's.
  Sandbox(const SandboxKind& kind, const std::string& testDir, const std::string& hostOnly,
          const std::string& runtime = "");
  ~Sandbox();  // stops the sandbox's Wine and the services started for it
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // "" when the sandbox is ready; else what failed.
  const std::string& Error() const { return error_; }
  const SandboxKind& Kind() const { return kind_; }
  // The sandbox's Wine prefix (a copy of the suite's), as the host sees it.
  const std::string& Prefix() const { return prefix_; }
  // A host folder the sandbox does not see: the host's player lives there.
  const std::string& HostOnly() const { return hostOnly_; }
  // The command that runs a program inside, and the host environment
  // overrides its Wine needs (DriveOptions' inside and hostEnv).
  std::vector<std::string> Inside() const { return BwrapArgs(); }
  std::vector<std::string> WineEnv() const;
  // Runs argv inside with the test user's Wine environment and `env` added.
  RunResult Run(const std::vector<std::string>& argv, int timeoutMs, const std::vector<std::string>& env = {});
  // What the portal stand-in was handed ("file PATH" / "uri URI" lines), and
  // the launch client's calls (arguments NUL-ended, one call per line).
  std::string PortalRecords() const;
  std::string LaunchRecords() const;

 private:
  bool StartServices();
  int Background(const std::vector<std::string>& argv, const std::string& log);
  std::vector<std::string> BwrapArgs() const;
  std::vector<std::string> Command(const std::vector<std::string>& argv) const;

  SandboxKind kind_;
  std::string runtime_, error_, dir_, bus_, prefix_, testDir_, hostOnly_;
  std::vector<int> pids_;
};

}  // namespace e2e
