// The channel a start in a prefix takes to the host's player, as `list`
// shows it, and the permission that `--grant-host` gives a Flatpak front-end
// for the whole hand-off: org.freedesktop.Flatpak=talk in the user's own
// override of the app (~/.local/share/flatpak/overrides/APP-ID, group
// [Session Bus Policy]), which lets the app start any program on the host.
//
// What a grant added is recorded in ~/.local/share/modrik/flatpak-grants/
// APP-ID, shared by the prefixes of that app that asked for it:
//   prefixes       the prefixes installed with --grant-host
//   before         the override file as the user had it (its mode too)
//   before.absent  there was no override file
//   folder.absent  the highest of its folders that was not there
//   after          the override file as the grant left it
// Taking it back when the last of them is uninstalled writes `before` again
// (or removes the file) when the file is still as the grant left it; else
// only the line the grant added goes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "change.h"

namespace fs = std::filesystem;

namespace hostcmd {

using modrik::frontends::ReadText;

namespace {

const char kGroup[] = "Session Bus Policy";
const char kKey[] = "org.freedesktop.Flatpak";

}  // namespace

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

namespace {


std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Flatpak's installations: the user's ($FLATPAK_USER_DIR, else
// $XDG_DATA_HOME/flatpak) and the system's ($FLATPAK_SYSTEM_DIR, else
// /var/lib/flatpak).
fs::path UserInstallation() {
  const std::string dir = Env("FLATPAK_USER_DIR");
  return !dir.empty() ? fs::path(dir) : modrik::frontends::Home::FromEnvironment().dataHome / "flatpak";
}

fs::path SystemInstallation() {
  const std::string dir = Env("FLATPAK_SYSTEM_DIR");
  return !dir.empty() ? fs::path(dir) : fs::path("/var/lib/flatpak");
}

fs::path RecordOf(const std::string& app) {
  return modrik::frontends::Home::FromEnvironment().dataHome / "modrik/flatpak-grants" / app;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

mode_t ModeOf(const fs::path& file, mode_t otherwise) {
  struct stat st;
  return stat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : otherwise;
}

// The native player a start in the prefix uses, when this system has it:
// vlcpath of its modrik.ini, else vlc on PATH.
std::string PlayerHere(const Target& t) {
  const std::string value =
      SettingsPlayer(t.prefix + "/drive_c/Program Files/VideoLAN/VLC/modrik.ini").value_or("");
  if (!value.empty() && value[0] == '/') return access(value.c_str(), X_OK) == 0 ? value : "";
  return FindOnPath("vlc");
}

// The prefixes a grant was made for: one a line, "\\" and "\n" escaped.
std::vector<std::string> RecordedPrefixes(const fs::path& record) {
  std::vector<std::string> prefixes;
  for (const std::string& line : Lines(ReadText(record / "prefixes").value_or(""))) {
    std::string prefix;
    for (size_t i = 0; i < line.size(); i++)
      prefix += line[i] == '\\' && i + 1 < line.size() ? (line[++i] == 'n' ? '\n' : line[i]) : line[i];
    prefixes.push_back(prefix);
  }
  return prefixes;
}

bool WritePrefixes(const fs::path& record, const std::vector<std::string>& prefixes) {
  std::string text;
  for (const std::string& prefix : prefixes) {
    for (char c : prefix) text += c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
    text += "\n";
  }
  return WriteWhole((record / "prefixes").string(), text, 0644).empty();
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

std::string ShellWord(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-/=:") ==
                           std::string::npos)
    return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string OptionOf(const Target& t) {
  static const std::pair<const char*, const char*> options[] = {
      {"lutris", "--lutris"}, {"bottles", "--bottle"}, {"steam", "--steam"}, {"heroic", "--heroic"}};
  for (const auto& [frontend, option] : options)
    if (t.frontend == frontend) return std::string(option) + " " + ShellWord(t.id);
  return "--prefix " + ShellWord(t.prefix);
}

// ---- the permission ------------------------------------------------------------

std::string UserOverride(const std::string& app) { return (UserInstallation() / "overrides" / app).string(); }

FlatpakPermission FlatpakPermissionOf(const std::string& app) {
  FlatpakPermission p;
  auto apply = [&](const fs::path& file) {
    const std::optional<std::string> text = ReadText(file);
    const std::optional<std::string> value = text ? KeyfileValue(*text, kGroup, kKey) : std::nullopt;
    if (!value) return;
    p.talks = *value == "talk" || *value == "own";
    p.decidedBy = file.string();
  };
  // The app's metadata, then the overrides: the system's, then the user's,
  // each the global one, then the app's own; the last word counts.
  for (const fs::path& installation : {UserInstallation(), SystemInstallation()}) {
    const fs::path metadata = installation / "app" / app / "current/active/metadata";
    if (!modrik::frontends::ReadText(metadata)) continue;
    p.installed = true;
    apply(metadata);
    break;
  }
  for (const fs::path& installation : {SystemInstallation(), UserInstallation()})
    for (const std::string& name : {std::string("global"), app}) apply(installation / "overrides" / name);
  return p;
}

// ---- the channel -----------------------------------------------------------------

HostFacts ReadHostFacts() {
  HostFacts facts;
  facts.inContainer = Exists("/run/.toolboxenv") || Exists("/run/.containerenv");
  for (const char* tool : {"flatpak-spawn", "host-spawn", "distrobox-host-exec"})
    if (facts.wayOut.empty() && !FindOnPath(tool).empty()) facts.wayOut = tool;
  return facts;
}

std::string ChannelOf(const Target& t, const HostFacts& facts) {
  const std::string grant = "modrik install " + OptionOf(t) + " --grant-host";
  if (t.frontend == "steam") {
    std::string text = "launch client (steam-runtime-launch-client --alongside-steam)";
    if (!t.flatpakApp.empty() && !FlatpakPermissionOf(t.flatpakApp).talks)
      text += ", inside " + t.flatpakApp + ", which may not start host programs; the whole hand-off: " + grant;
    return text;
  }
  if (!t.flatpakApp.empty()) {
    const FlatpakPermission p = FlatpakPermissionOf(t.flatpakApp);
    if (!p.installed) return "none: the Flatpak " + t.flatpakApp + " is not installed";
    if (p.talks) {
      const bool ours = HasLine(RecordedPrefixes(RecordOf(t.flatpakApp)), t.prefix);
      return "flatpak-spawn (" + t.flatpakApp + " may start host programs: " + p.decidedBy +
             (ours ? ", granted by modrik install --grant-host" : "") + ")";
    }
    return "portal (" + t.flatpakApp + " may not start host programs); lost: the player's options beyond what a "
           "playlist carries, the wait for the player and its exit code; the whole hand-off: " +
           (t.frontend == "bottles" || t.frontend == "heroic"
                ? grant
                : "flatpak override --user --talk-name=org.freedesktop.Flatpak " + t.flatpakApp);
  }
  if (!facts.inContainer) return "host";
  const std::string player = PlayerHere(t);
  if (!player.empty()) return "host (the container's own player " + player + ")";
  if (facts.wayOut.empty())
    return "container way out, but none is here (flatpak-spawn, host-spawn, distrobox-host-exec): the host's "
           "player cannot be reached";
  return "container way out (" + facts.wayOut + "): the host's player";
}

int ListWithChannels(const std::vector<Target>& targets) {
  const HostFacts facts = ReadHostFacts();
  int status = 0;
  for (const Target& t : targets) {
    if (!t.unreadable.empty()) {
      std::cout << t.prefix << " (" << t.Name() << "): cannot be read: " << t.unreadable << "\n";
      continue;
    }
    const int s = List({t});
    if (status == 0) status = s;
    if (!PrefixArch(t.prefix).empty()) std::cout << "    channel: " << ChannelOf(t, facts) << "\n";
  }
  return status;
}

// ---- granting and taking back ------------------------------------------------------

std::string GrantProblem(const Target& t) {
  if (t.flatpakApp.empty()) return "";
  const fs::path file = UserOverride(t.flatpakApp);
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(file, ec)))
    return file.string() + " is a link: modrik writes neither through nor over it";
  if (Exists(file)) {
    const std::optional<std::string> text = ReadText(file);
    if (!text) return file.string() + " cannot be read (" + std::strerror(errno) + ")";
    const std::string problem = KeyfileProblem(*text);
    if (!problem.empty()) return file.string() + " cannot be read: " + problem;
  }
  return "";
}

int Grant(const Target& t) {
  if (t.flatpakApp.empty()) {
    std::cout << "--grant-host: " << t.Name() << " runs outside a Flatpak: there is nothing to grant\n";
    return 0;
  }
  const std::string app = t.flatpakApp;
  const fs::path file = UserOverride(app), record = RecordOf(app);
  std::error_code ec;
  const std::optional<std::string> current = ReadText(file);
  const bool ours = Exists(record / "prefixes");
  if (ours && current && KeyfileValue(*current, kGroup, kKey) == std::optional<std::string>("talk")) {
    // Granted by an earlier --grant-host: this prefix uses it too.
    std::vector<std::string> prefixes = RecordedPrefixes(record);
    if (!HasLine(prefixes, t.prefix)) prefixes.push_back(t.prefix);
    if (!WritePrefixes(record, prefixes)) {
      std::cerr << "modrik: cannot write " << record.string() << "; the permission is not recorded for this prefix.\n";
      return 1;
    }
    std::cout << "--grant-host: the Flatpak " << app << " may already start host programs (granted by modrik "
              << "install --grant-host)\n";
    return 0;
  }
  if (ours) fs::remove_all(record, ec);  // the user took that grant away since
  const FlatpakPermission permission = FlatpakPermissionOf(app);
  if (permission.talks) {
    std::cout << "--grant-host: the Flatpak " << app << " may already start host programs (" << permission.decidedBy
              << "): nothing added\n";
    return 0;
  }
  std::cout << "--grant-host: the Flatpak " << app << " may then start any program on the host, as you can: "
            << kKey << "=talk in " << file.string() << "\n";
  // The record first: an interrupted grant is taken back from it.
  auto fail = [&](const std::string& why) {
    std::cerr << "modrik: cannot grant " << app << " the permission: " << why
              << "; modrik is installed, the permission is not given.\n";
    fs::remove_all(record, ec);
    return 1;
  };
  fs::path missing;
  for (fs::path folder = file.parent_path(); !folder.empty() && !Exists(folder); folder = folder.parent_path())
    missing = folder;
  fs::create_directories(record, ec);
  // Each file of the record written whole, through no link.
  std::string error = OwnFolderProblem(record.string()).empty() ? "" : "cannot write " + record.string();
  if (error.empty() && !missing.empty()) error = WriteWhole((record / "folder.absent").string(), missing.string());
  if (error.empty())
    error = current ? CopyWhole(file.string(), (record / "before").string()) : WriteWhole((record / "before.absent").string(), "");
  if (!error.empty() || !WritePrefixes(record, {t.prefix})) return fail(error.empty() ? "cannot write " + record.string() : error);
  // flatpak's own override, where the user has Flatpak's user installation
  // (else it would make one); the same line written here otherwise.
  bool written = false;
  if (!FindOnPath("flatpak").empty() && Exists(UserInstallation() / "repo")) {
    char log[] = "/tmp/modrik-flatpak-XXXXXX";
    const int fd = mkstemp(log);
    if (fd >= 0) close(fd);
    written = Run({"flatpak", "override", "--user", std::string("--talk-name=") + kKey, app}, {}, log, 30) == 0;
    if (!written) std::cout << "flatpak override failed (" << Trim(ReadText(log).value_or("")) << "): modrik writes the line\n";
    unlink(log);
  }
  if (!written) {
    fs::create_directories(file.parent_path(), ec);
    error = WriteWhole(file.string(), KeyfileSet(current.value_or(""), kGroup, kKey, "talk"), ModeOf(file, 0644));
    if (!error.empty()) return fail(error);
  }
  const std::optional<std::string> after = ReadText(file);
  if (!after || KeyfileValue(*after, kGroup, kKey) != std::optional<std::string>("talk")) {
    TakeBack(t, false);
    return fail(file.string() + " does not hold it afterwards");
  }
  error = WriteWhole((record / "after").string(), *after);
  if (!error.empty()) {
    TakeBack(t, false);
    return fail(error);
  }
  std::cout << "granted: " << file.string() << " holds " << kKey << "=talk in [" << kGroup
            << "]; modrik uninstall takes it away\n";
  return 0;
}

int TakeBack(const Target& t, bool said) {
  if (t.flatpakApp.empty()) {
    if (said) std::cout << "--grant-host: " << t.Name() << " runs outside a Flatpak: there is nothing to take back\n";
    return 0;
  }
  const std::string app = t.flatpakApp;
  const fs::path file = UserOverride(app), record = RecordOf(app);
  std::vector<std::string> prefixes = RecordedPrefixes(record);
  if (!HasLine(prefixes, t.prefix)) {
    if (said) std::cout << "--grant-host: modrik gave " << app << " no permission for " << t.prefix << ": nothing taken away\n";
    return 0;
  }
  // The others that asked for it keep it, unless their prefix is gone.
  std::vector<std::string> others;
  for (const std::string& p : prefixes)
    if (p != t.prefix && Exists(p)) others.push_back(p);
  std::error_code ec;
  if (!others.empty()) {
    if (!WritePrefixes(record, others)) {
      std::cerr << "modrik: cannot write " << (record / "prefixes").string() << "\n";
      return 1;
    }
    std::cout << "the Flatpak " << app << " keeps the permission to start host programs: " << others.size()
              << " more prefix" << (others.size() > 1 ? "es" : "") << " of it asked for it (" << others[0] << ")\n";
    return 0;
  }
  const bool wasAbsent = Exists(record / "before.absent");
  const std::optional<std::string> current = ReadText(file), after = ReadText(record / "after");
  bool ok = true;
  const bool exact = current && after && *current == *after;
  if (exact) {
    // As the grant left it: back to what the user had, byte for byte.
    ok = wasAbsent ? fs::remove(file, ec)
                   : WriteWhole(file.string(), ReadText(record / "before").value_or(""), ModeOf(record / "before", 0644)).empty();
  } else if (current) {
    // Changed since: only the line the grant added goes.
    const std::optional<std::string> before = ReadText(record / "before");
    const std::optional<std::string> had = before ? KeyfileValue(*before, kGroup, kKey) : std::nullopt;
    std::string edited = *current;
    if (KeyfileValue(edited, kGroup, kKey) == std::optional<std::string>("talk"))
      edited = had ? KeyfileSet(edited, kGroup, kKey, *had) : KeyfileRemove(edited, kGroup, kKey, !KeyfileHasGroup(before, kGroup));
    if (wasAbsent && Trim(edited).empty())
      ok = fs::remove(file, ec);
    else if (edited != *current)
      ok = WriteWhole(file.string(), edited, ModeOf(file, 0644)).empty();
  }
  if (!ok) {
    std::cerr << "modrik: cannot take back the permission of " << app << " in " << file.string() << " ("
              << (ec ? ec.message() : std::strerror(errno)) << "); run the uninstall again\n";
    return 1;
  }
  // The record and the folders the grant made go, each folder only when empty.
  const std::string missing = ReadText(record / "folder.absent").value_or("");
  fs::remove_all(record, ec);
  fs::remove(record.parent_path(), ec);
  fs::remove(record.parent_path().parent_path(), ec);
  for (fs::path folder = file.parent_path(); !missing.empty() && folder.string().size() >= missing.size();
       folder = folder.parent_path())
    if (!fs::remove(folder, ec)) break;
  std::cout << "took away the permission modrik had given the Flatpak " << app << ": " << file.string()
            << (!exact ? ", changed since, holds all but its line\n" : wasAbsent ? " is gone again\n" : " is as before\n");
  return 0;
}

}  // namespace hostcmd
