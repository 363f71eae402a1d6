// The sandbox decisions, one row per environment: what it shows, the channel
// chosen, the host command it gives, where the host sees its paths (and
// where a player started through it works), and what the desktop's opener
// gets and tells the user.
#include <gtest/gtest.h>

#include "launcher/launcher.h"
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

// marks: 's' a Snap's mounts, 'c' /run/.containerenv, 't' /run/.toolboxenv, 'd' /.dockerenv.
SandboxFacts Container(std::map<std::string, std::string> variables, const char* manager, const char* marks = "",
                       std::vector<std::string> wayOuts = {}) {
  SandboxFacts f;
  f.containerManager = manager;
  f.variables = std::move(variables);
  f.home = "/home/u";
  for (const char* m = marks; *m; ++m)
    (*m == 's' ? f.snapMounts : *m == 'c' ? f.containerEnv : *m == 't' ? f.toolboxEnv : f.dockerEnv) = true;
  f.wayOuts = std::move(wayOuts);
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
     "|/home/u/.cache", "Steam's launcher service must answer"},
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
     Container({{"PRESSURE_VESSEL_RUNTIME_BASE", "/x"}, {"STEAM_COMPAT_DATA_PATH", "/g"}}, "pressure-vessel"),
     SandboxKind::kSteamContainer, HostChannel::kPortal, "", {{"/home/u/a.mkv", "/home/u/a.mkv"}}, "|/home/u/.cache",
     "start the game from Steam"},
    {"Wine from a Snap", Container({{"SNAP", "/snap/wine/7"}, {"SNAP_NAME", "wine"}}, "", "s"), SandboxKind::kSnap,
     HostChannel::kPortal, "",
     {{"/var/lib/snapd/hostfs/media/a.mkv", "/media/a.mkv"},
      {"/home/u/snap/wine/7/a.mkv", "/home/u/snap/wine/7/a.mkv"},
      {"/tmp/a.mkv", "!the Snap's own /tmp"}},
     "", "a Wine that is not a Snap"},
    {"variables left over on a plain host, and an image's bare /.dockerenv",
     Container({{"FLATPAK_ID", "org.gnome.Builder"}, {"container", "flatpak"}, {"SNAP", "/snap/code/1"},
                {"SNAP_NAME", "code"}, {"PRESSURE_VESSEL_RUNTIME", "sniper"}, {"SRT_LAUNCHER_SERVICE_ALONGSIDE_STEAM", "1"}},
               "", "d", {"/bin/flatpak-spawn"}),
     SandboxKind::kNone, HostChannel::kDirect, "whereis|vlc", {{"/usr/a.mkv", "/usr/a.mkv"}}, "", ""},
    {"toolbox: its flatpak-spawn first",
     Container({{"container", "oci"}}, "", "ct", {"/bin/distrobox-host-exec", "/usr/bin/flatpak-spawn"}),
     SandboxKind::kContainer, HostChannel::kWayOut, "/usr/bin/flatpak-spawn|--host|whereis|vlc",
     {{"/run/host/media/a.mkv", "/media/a.mkv"}, {"/tmp/a.mkv", "/tmp/a.mkv"}, {"/usr/share/a.mkv", "!the container's /usr"}},
     "", ""},
    {"distrobox: host-spawn before distrobox-host-exec",
     Container({{"container", "podman"}, {"DISTROBOX_ENTER_PATH", "/usr/bin/distrobox-enter"}}, "", "c",
               {"/usr/bin/distrobox-host-exec", "/usr/local/bin/host-spawn"}),
     SandboxKind::kContainer, HostChannel::kWayOut, "/usr/local/bin/host-spawn|whereis|vlc",
     {{"/home/u/a.mkv", "/home/u/a.mkv"}}, "", ""},
    {"distrobox on docker", Container({{"CONTAINER_ID", "box"}}, "", "d", {"/usr/bin/distrobox-host-exec"}),
     SandboxKind::kContainer, HostChannel::kWayOut, "/usr/bin/distrobox-host-exec|whereis|vlc", {}, "", ""},
    {"a container without a way out", Container({}, "", "c"), SandboxKind::kContainer, HostChannel::kDirect,
     "whereis|vlc", {}, "", ""},
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
    // In a container, a player it has is used as on a plain host; one it has not, and the
    // launcher of a Flatpak or a Snap, go through its way out.
    EXPECT_EQ(modrik::ContainersOwnPlayer(s, "/usr/bin/vlc", true), s.kind == SandboxKind::kContainer);
    EXPECT_FALSE(modrik::ContainersOwnPlayer(s, "/usr/bin/vlc", false));
    EXPECT_FALSE(modrik::ContainersOwnPlayer(s, "/home/u/.local/share/flatpak/exports/bin/org.videolan.VLC", true));
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
    EXPECT_EQ(plan.list, "#EXTM3U\n#EXTVLCOPT:fullscreen\n/m/a.mkv\n#EXTVLCOPT:fullscreen\n/m/b.mkv\n"
                         "#EXTVLCOPT:fullscreen\n/m/c.mkv\n");
    ASSERT_GE(plan.traces.size(), 2u);
    EXPECT_EQ(plan.traces[1], "lost through the desktop's opener: the wait for the player and its exit code");
    if (*row.hint) {
      EXPECT_NE(plan.traces.back().find(row.hint), std::string::npos) << plan.traces.back();
    }
  }
}

TEST(SandboxChannel, OpenerWithOneFileOrNone) {
  const modrik::Sandbox snap = modrik::DecideSandbox(kRows[6].facts);
  modrik::OpenerPlan one = modrik::PlanOpener(snap, {"--", "/m/-odd name.mkv"});
  EXPECT_EQ(one.open + "|" + one.list, "/m/-odd name.mkv|");
  EXPECT_EQ(one.traces[0], "opening /m/-odd name.mkv with the desktop's opener, in the default player for its type");
  EXPECT_EQ(one.traces[1], "lost through the desktop's opener: the wait for the player and its exit code");
  modrik::OpenerPlan none = modrik::PlanOpener(snap, {"--random"});
  EXPECT_EQ(none.open + none.list, "");
  EXPECT_EQ(none.traces[0], "the desktop's opener takes a file or address, and there is none: nothing is opened");
}

// What the portal gets from the player's arguments (inside Bottles' Flatpak):
// the file itself, or one playlist with every entry the host sees, each
// after the options the player takes from a playlist; the rest is lost.
TEST(SandboxChannel, OpenerPlaylist) {
  const char* const kEach = "#EXTVLCOPT:fullscreen\n#EXTVLCOPT:sub-file=/s.srt\n#EXTVLCOPT:start-time=5\n";
  const struct { std::vector<std::string> args; std::string open, list, lost; } kCases[] = {
      // One file, also one only the Flatpak sees: the opener hands it over by a descriptor.
      {{"/home/u/Videos/a.mkv"}, "/home/u/Videos/a.mkv", "", ""},
      {{"--qt-minimal-view", "/d/a.mkv"}, "/d/a.mkv", "", "the player's options --qt-minimal-view, "},
      {{"-f", "--sub-file", "/run/host/s.srt", "--start-tim", "5", "--qt-minimal-view", "-I", "dummy", "/d/a b.mkv",
        ":stop-time=9", ":video-filter=x", "-", "/tmp/inside.mkv", "--", "https://h/v.mp4", "/d/new\nline.mkv"},
       "/d/a b.mkv",
       std::string("#EXTM3U\n") + kEach + "#EXTVLCOPT:stop-time=9\n/d/a b.mkv\n" + kEach + "https://h/v.mp4\n" + kEach +
           "file:///d/new%0Aline.mkv\n",
       "the player's options --qt-minimal-view -I dummy :video-filter=x, 1 file the host cannot see, "
       "the stream on standard input, "},
      {{"--start-time=1", "/tmp/a.mkv", "/tmp/b.mkv"}, "/tmp/a.mkv", "", "the player's options start-time=1, 1 more file the host cannot see, "},
  };
  const modrik::Sandbox bottles = modrik::DecideSandbox(kRows[2].facts);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args[0]);
    const modrik::OpenerPlan plan = modrik::PlanOpener(bottles, c.args);
    EXPECT_EQ(plan.open, c.open);
    EXPECT_EQ(plan.list, c.list);
    ASSERT_GE(plan.traces.size(), 3u);
    EXPECT_EQ(plan.traces[plan.traces.size() - 2],
              "lost through the desktop's opener: " + c.lost + "the wait for the player and its exit code");
  }
}


}  // namespace
