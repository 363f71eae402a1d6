// What the desktop's opener (a sandbox's portal) can carry of the player's
// command line. It opens one file or address in the default player for its
// type: a single file without options goes as it is. Several, or options
// the player takes from a playlist, go as one playlist instead: "#EXTM3U",
// then every entry in the caller's order as the host names it (a host path,
// or a URL), each after the options it is played with as
// "#EXTVLCOPT:NAME=VALUE" lines. The player takes from a playlist only the
// options its modules mark safe, and applies them to the entry that follows
// them: so the options of the command line stand before every entry, an
// entry's own (":NAME=VALUE" after it) before it alone. Whatever cannot go
// in is traced as lost. The playlist is written where the host sees it at
// the same path (modrik's private folder, inside a Flatpak the app's own)
// and kept for a while: the player reads it after the opener has ended.
#include <cstdio>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "sandbox/sandbox.h"
#include "winebridge/winebridge.h"

namespace modrik {

namespace {

// The playlists handed to the desktop's opener are kept this long: the
// player it starts reads them after the opener has ended (and after the
// user has picked one, when the portal asks).
constexpr int kListMinutes = 30;

// One file or address of the command line, with its own options.
struct Entry {
  std::string target;  // as the sandbox names it
  std::string line;    // as the playlist names it for the host; empty when the host cannot see it
  std::vector<std::string> options;
};

std::string Joined(const std::vector<std::string>& words, const std::string& between) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : between) + w;
  return out;
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

class Reader {
 public:
  explicit Reader(const Sandbox& sandbox) : sandbox_(sandbox) {}

  // An option as the player found it, and its value: the playlist's line
  // for it (into `to`), or it is lost.
  void Option(const LongOption& option, const std::string& value, const std::string& written,
              std::vector<std::string>* to) {
    std::string name = option.name, line = value;
    if (option.negated) name.erase(0, name.rfind("no-", 0) == 0 ? 3 : 2);
    if (option.kind != LongOption::kPlayer || !OptionSafeInPlaylist(name) || to == nullptr ||
        (option.takesValue && (value.empty() || HasLineBreak(value)))) {
      lostOptions.push_back(written);
      return;
    }
    if (option.takesValue && OptionNamesPath(name) && !value.empty() && value[0] == '/') {
      std::string why;
      line = HostPathOf(sandbox_, value, &why);
      if (line.empty()) {
        platform::Sys().Trace("left out " + written + ": " + why);
        lostOptions.push_back(written);
        return;
      }
    }
    to->push_back(option.takesValue ? option.name + "=" + line : option.name);
  }

  void Target(const std::string& target) {
    if (target == "-" || target.rfind("fd://", 0) == 0) {
      lost.push_back("the stream on standard input");
      return;
    }
    Entry entry{target, target, {}};
    if (!target.empty() && target[0] == '/') {
      std::string why;
      const std::string host = HostPathOf(sandbox_, target, &why);
      entry.line = HasLineBreak(host) ? FileUrlOf(host) : host;
      if (host.empty()) unseen.push_back(target + ": " + why);
    } else if (!IsUrl(target) || HasLineBreak(target)) {
      lost.push_back(target + " (no file or address)");
      return;
    }
    entries.push_back(entry);
  }

  std::vector<Entry> entries;
  std::vector<std::string> globalOptions, lostOptions, lost, unseen;

 private:
  const Sandbox& sandbox_;
};

}  // namespace

OpenerPlan PlanOpener(const Sandbox& sandbox, const std::vector<std::string>& args) {
  Reader read(sandbox);
  bool onlyTargets = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool valueFollows = i + 1 < args.size();
    if (onlyTargets || arg.size() < 2 || (arg[0] != '-' && arg[0] != ':')) {
      read.Target(arg);
    } else if (arg == "--") {
      onlyTargets = true;
    } else if (arg.rfind("--", 0) == 0) {
      // --name, --name=value, or --name followed by its value.
      const std::size_t equals = arg.find('=');
      const LongOption option = FindLongOption(arg.substr(2, equals == std::string::npos ? equals : equals - 2));
      if (equals != std::string::npos) {
        read.Option(option, arg.substr(equals + 1), arg, &read.globalOptions);
      } else if (option.takesValue && valueFollows) {
        read.Option(option, args[i + 1], arg + " " + args[i + 1], &read.globalOptions);
        ++i;
      } else {
        read.Option(option, "", arg, &read.globalOptions);
      }
    } else if (arg[0] == '-') {
      // -x, or letters run together: each a switch, up to the first that
      // takes a value (the rest of the word, or the next word).
      for (std::size_t k = 1; k < arg.size(); ++k) {
        const std::string name = LetterOptionName(arg[k]);
        LongOption option = name.empty() ? LongOption{} : FindLongOption(name);
        if (!LetterTakesValue(arg[k])) {
          read.Option(option, "", "-" + arg.substr(k, 1), &read.globalOptions);
          continue;
        }
        const bool rest = k + 1 < arg.size();
        const std::string value = rest ? arg.substr(k + 1) : valueFollows ? args[++i] : std::string();
        read.Option(option, value, "-" + arg.substr(k) + (rest || value.empty() ? "" : " " + value),
                    &read.globalOptions);
        break;
      }
    } else {
      // ":name=value", an option of the entry before it, by its full name.
      const std::size_t equals = arg.find('=');
      const std::string name = arg.substr(1, equals == std::string::npos ? equals : equals - 1);
      LongOption option = FindLongOption(name);
      if (option.name != name) option = LongOption{};
      read.Option(option, equals == std::string::npos ? "" : arg.substr(equals + 1), arg,
                  read.entries.empty() ? nullptr : &read.entries.back().options);
    }
  }

  OpenerPlan plan;
  std::vector<Entry> listed;
  std::vector<std::string> carried = read.globalOptions;
  for (const Entry& entry : read.entries) {
    carried.insert(carried.end(), entry.options.begin(), entry.options.end());
    if (!entry.line.empty()) listed.push_back(entry);
  }
  std::vector<std::string> lost;
  if (read.entries.empty()) {
    plan.traces.push_back("the desktop's opener takes a file or address, and there is none: nothing is opened");
  } else if (listed.empty() || (read.entries.size() == 1 && carried.empty())) {
    // The opener hands over the file itself, also one that only the sandbox sees.
    plan.open = read.entries[0].target;
    plan.traces.push_back("opening " + plan.open + " with the desktop's opener, in the default player for its type");
    read.lostOptions.insert(read.lostOptions.end(), carried.begin(), carried.end());
    // More than one only when none lies where the host sees it: no
    // playlist could name them.
    if (read.entries.size() > 1)
      lost.push_back(std::to_string(read.entries.size() - 1) + " more file" + (read.entries.size() > 2 ? "s" : "") +
                     " the host cannot see");
  } else {
    plan.open = listed[0].target;
    plan.list = "#EXTM3U\n";
    for (const Entry& entry : listed) {
      for (const std::string& option : read.globalOptions) plan.list += "#EXTVLCOPT:" + option + "\n";
      for (const std::string& option : entry.options) plan.list += "#EXTVLCOPT:" + option + "\n";
      plan.list += entry.line + "\n";
    }
    std::string what = "opening a playlist of " + std::to_string(listed.size()) + " entr" +
                       (listed.size() == 1 ? "y" : "ies") + " with the desktop's opener, in the default player for its type";
    if (!read.globalOptions.empty()) what += ", with the player's options " + Joined(read.globalOptions, " ");
    plan.traces.push_back(what);
    for (const std::string& why : read.unseen) plan.traces.push_back("left out " + why);
    if (!read.unseen.empty())
      lost.push_back(std::to_string(read.unseen.size()) + " file" + (read.unseen.size() > 1 ? "s" : "") +
                     " the host cannot see");
  }
  if (!read.lostOptions.empty()) lost.insert(lost.begin(), "the player's options " + Joined(read.lostOptions, " "));
  lost.insert(lost.end(), read.lost.begin(), read.lost.end());
  lost.push_back("the wait for the player and its exit code");
  plan.traces.push_back("lost through the desktop's opener: " + Joined(lost, ", "));
  const std::string hint = FullHandOffHint(sandbox);
  if (!hint.empty()) plan.traces.push_back(hint);
  return plan;
}

int OpenWithDesktopOpener(const OpenerPlan& plan) {
  auto& sys = platform::Sys();
  for (const std::string& line : plan.traces) sys.Trace(line);
  std::string target = plan.open, housekeeping;
  if (!plan.list.empty()) {
    // Where the host sees it at the same path (inside a Flatpak, the app's own folder).
    char name[32];
    std::snprintf(name, sizeof(name), "open-%016llx.m3u8", static_cast<unsigned long long>(sys.RandomNumber()));
    const std::string folder = WindowsPrivateFolder();
    if (!folder.empty() && sys.ReplaceWholeFile(folder + name, plan.list)) {
      target = UnixPrivateFolder() + "/" + name;
      sys.Trace("the playlist for the desktop's opener: " + target);
      // Those of earlier starts, once their player has long read them (no link followed).
      housekeeping = "find " + ShellQuote(UnixPrivateFolder()) + " -maxdepth 1 -name 'open-*.m3u8' -type f -mmin +" +
                     std::to_string(kListMinutes) + " -delete 2>/dev/null; ";
    } else {
      sys.Trace("cannot write the playlist for the desktop's opener: only " + target + " is opened");
    }
  }
  if (target.empty()) return 0;
  // The sandbox's own xdg-open hands the file to the portal as a descriptor:
  // the sandbox's path is the one it needs.
  switch (RunUnixCommand(housekeeping + HostCommandLine({kDesktopOpener, target}))) {
    case HostRun::kScriptNotWritten: return kExitScriptNotWritten;
    case HostRun::kNotStarted:
    case HostRun::kFolderUnfit: return kExitNotStarted;
    case HostRun::kStarted: return 0;
  }
  return 0;
}


}  // namespace modrik
