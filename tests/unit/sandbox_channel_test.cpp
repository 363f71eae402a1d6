// The sandbox decisions, one row per environment: what it shows, the channel
// chosen, the host command it gives, where the host sees its paths (and
// where a player started through it works), and what the desktop's opener
// tells the user.
#include <gtest/gtest.h>

#include "sandbox/sandbox.h"

namespace {

using modrik::HostChannel;
using modrik::SandboxFacts;
using modrik::SandboxKind;

struct PathCase {
  const char* inside;
  const char* host;  // "!" + a part of the reason when the host cannot see it
};

struct Row {
  const char* what;
  SandboxFacts facts;
  SandboxKind kind;
  HostChannel channel;
  const char* whereis;  // the host command for "whereis vlc", words joined by "|"
  std::vector<PathCase> paths;
  const char* places;   // the private folder's places, runtime|cache
  const char* hint;     // a part of the opener's last trace
};

SandboxFacts Flatpak(const char* name, const char* policy, const char* filesystems, const char* persistent = "") {
  SandboxFacts f;
  f.hasFlatpakInfo = true;
  f.flatpakName = name;
  f.flatpakPolicy = policy;
  f.filesystems = filesystems;
  f.persistent = persistent;
  f.containerManager = "flatpak";
  f.variables = {{"container", "flatpak"}, {"FLATPAK_ID", name}, {"XDG_RUNTIME_DIR", "/run/user/1000"}};
  f.home = "/home/u";
  return f;
}

SandboxFacts Container(std::map<std::string, std::string> variables, const char* manager) {
  SandboxFacts f;
  f.containerManager = manager;
  f.variables = std::move(variables);
  f.home = "/home/u";
  return f;
}

const Row kRows[] = {
    {"plain host", Container({{"STEAM_COMPAT_DATA_PATH", "/s/compatdata/1"}}, ""), SandboxKind::kNone,
     HostChannel::kDirect, "whereis|vlc", {{"/tmp/a.mkv", "/tmp/a.mkv"}, {"/run/host/x", "/run/host/x"}}, "", ""},
    {"Lutris's Flatpak: the permission and the home",
     Flatpak("net.lutris.Lutris", "talk", "home;xdg-run/gamescope:ro"), SandboxKind::kFlatpak,
     HostChannel::kFlatpakSpawn, "flatpak-spawn|--host|whereis|vlc",
     {{"/home/u/Videos/a b.mkv", "/home/u/Videos/a b.mkv"},
      {"/run/host/usr/share/a.mkv", "/usr/share/a.mkv"},
      {"/tmp/a.mkv", "!the Flatpak's own /tmp"},
      {"/app/share/a.mkv", "!the Flatpak's runtime"}},
     "/run/user/1000/app/net.lutris.Lutris|/home/u/.var/app/net.lutris.Lutris/cache", ""},
    {"Bottles' Flatpak: no permission, no home",
     Flatpak("com.usebottles.bottles", "", "xdg-download;home:ro;!home"), SandboxKind::kFlatpak, HostChannel::kPortal,
     "",
     {{"/home/u/.var/app/com.usebottles.bottles/data/x.mkv", "/home/u/.var/app/com.usebottles.bottles/data/x.mkv"},
      {"/home/u/Videos/a.mkv", "!the Flatpak's own home"},
      {"/home/u2/a.mkv", "/home/u2/a.mkv"}},
     "/run/user/1000/app/com.usebottles.bottles|/home/u/.var/app/com.usebottles.bottles/cache",
     "flatpak override --user --talk-name=org.freedesktop.Flatpak com.usebottles.bottles"},
    {"Steam's container with its launcher service",
     Container({{"PRESSURE_VESSEL_RUNTIME", "sniper"}, {"SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM", "1"}}, "pressure-vessel"),
     SandboxKind::kSteamContainer, HostChannel::kLaunchClient, "steam-runtime-launch-client|--alongside-steam|--|whereis|vlc",
     {{"/run/host/media/a.mkv", "/media/a.mkv"}, {"/tmp/a.mkv", "/tmp/a.mkv"}, {"/usr/share/a.mkv", "!the Steam Runtime's /usr"}},
     "", ""},
    {"Steam's Flatpak: its container, its Flatpak, then the host",
     [] {
       SandboxFacts f = Flatpak("com.valvesoftware.Steam", "talk", "xdg-music:ro;xdg-pictures:ro", ".");
       f.containerManager = "pressure-vessel";
       f.variables["SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM"] = "1";
       return f;
     }(),
     SandboxKind::kSteamContainer, HostChannel::kLaunchClient,
     "steam-runtime-launch-client|--alongside-steam|--|flatpak-spawn|--host|whereis|vlc",
     {{"/home/u/.local/share/Steam/a.mkv", "/home/u/.var/app/com.valvesoftware.Steam/.local/share/Steam/a.mkv"}},
     "/run/user/1000/app/com.valvesoftware.Steam|/home/u/.var/app/com.valvesoftware.Steam/cache", ""},
    {"umu: the container without the service",
     Container({{"PRESSURE_VESSEL_RUNTIME_BASE", "/x"}, {"STEAM_COMPAT_DATA_PATH", "/g"}}, ""),
     SandboxKind::kSteamContainer, HostChannel::kPortal, "", {{"/home/u/a.mkv", "/home/u/a.mkv"}}, "",
     "start the game from Steam"},
    {"Wine from a Snap", Container({{"SNAP", "/snap/wine/7"}, {"SNAP_NAME", "wine"}}, ""), SandboxKind::kSnap,
     HostChannel::kPortal, "",
     {{"/var/lib/snapd/hostfs/media/a.mkv", "/media/a.mkv"},
      {"/home/u/snap/wine/7/a.mkv", "/home/u/snap/wine/7/a.mkv"},
      {"/tmp/a.mkv", "!the Snap's own /tmp"}},
     "", "a Wine that is not a Snap"},
};

std::string Joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : "|") + w;
  return out;
}

TEST(SandboxChannel, EachEnvironment) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    const modrik::Sandbox s = modrik::DecideSandbox(row.facts);
    EXPECT_EQ(s.kind, row.kind);
    EXPECT_EQ(s.channel, row.channel);
    EXPECT_EQ(Joined(modrik::HostCommand(s, {"whereis", "vlc"})), row.whereis);
    for (const PathCase& p : row.paths) {
      std::string why;
      const std::string host = modrik::HostPathOf(s, p.inside, &why);
      if (p.host[0] == '!') {
        EXPECT_EQ(host, "") << p.inside;
        EXPECT_EQ(why, std::string(p.inside) + " is in " + (p.host + 1) + ", which the host cannot see");
      } else {
        EXPECT_EQ(host, p.host);
      }
      // A player works in such a folder only where the host has it at the same path; else in the home.
      EXPECT_EQ(modrik::HostWorkingFolder(s, p.inside), std::string(p.host) == p.inside ? p.inside : "/home/u");
    }
    const modrik::PrivatePlaces places = modrik::SharedPrivatePlaces(s, {"/run/user/1000", "/home/u/.cache"});
    EXPECT_EQ(places.runtime + "|" + places.cache, *row.places ? row.places : "/run/user/1000|/home/u/.cache");
    const modrik::OpenerPlan plan = modrik::PlanOpener(s, {"--fullscreen", "/m/a.mkv", "/m/b.mkv", "/m/c.mkv"});
    EXPECT_EQ(Joined(plan.command), "xdg-open|/m/a.mkv");
    ASSERT_GE(plan.traces.size(), 2u);
    EXPECT_EQ(plan.traces[1],
              "lost through the desktop's opener: the player's options --fullscreen, 2 more files, "
              "the wait for the player and its exit code");
    if (*row.hint) {
      EXPECT_NE(plan.traces.back().find(row.hint), std::string::npos) << plan.traces.back();
    }
  }
}

TEST(SandboxChannel, OpenerWithOneFileOrNone) {
  const modrik::Sandbox snap = modrik::DecideSandbox(kRows[6].facts);
  modrik::OpenerPlan one = modrik::PlanOpener(snap, {"--", "-odd name.mkv"});
  EXPECT_EQ(Joined(one.command), "xdg-open|-odd name.mkv");
  EXPECT_EQ(one.traces[0], "opening -odd name.mkv with the desktop's opener, in the default player for its type");
  EXPECT_EQ(one.traces[1], "lost through the desktop's opener: the wait for the player and its exit code");
  modrik::OpenerPlan none = modrik::PlanOpener(snap, {"--random"});
  EXPECT_TRUE(none.command.empty());
  EXPECT_EQ(none.traces[0], "the desktop's opener takes one file or address, and there is none: nothing is opened");
}

}  // namespace
