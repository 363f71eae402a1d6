// The sandbox imitations hold before anything relies on them: Wine runs
// inside and does not see the host's player, the sandbox shows its marks,
// and its channel reaches the host from a shell inside.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "sandbox.h"

using namespace e2e;

namespace {

// Each sandbox on each runtime: the host's /usr with its Wine 8, and the
// Debian 13 root's with its Wine 10.
class SandboxKit : public ::testing::TestWithParam<std::tuple<SandboxKind, Runtime>> {
 protected:
  void SetUp() override {
    if (const std::string missing = SandboxMissing(); !missing.empty()) GTEST_SKIP() << missing;
    const Runtime& runtime = std::get<1>(GetParam());
    if (!runtime.root.empty() && !Exists(runtime.root + "/usr/bin/wine")) GTEST_SKIP() << "no runtime at " << runtime.root;
    if (!runtime.root.empty() && std::get<0>(GetParam()).channel == Channel::kNone)
      GTEST_SKIP() << "a plain host runs the host's own Wine";
  }
  std::unique_ptr<Sandbox> Make(const TestFolder& dir) {
    return std::make_unique<Sandbox>(std::get<0>(GetParam()), dir.HostDir(), dir.Host("host-only"),
                                     std::get<1>(GetParam()).root);
  }
};

TEST_P(SandboxKit, ImitationHolds) {
  if (std::get<0>(GetParam()).channel == Channel::kNone) GTEST_SKIP() << "a plain host: nothing is imitated";
  TestFolder dir = TestFolder::ForCurrentTest();
  std::unique_ptr<Sandbox> made = Make(dir);
  Sandbox& box = *made;
  ASSERT_EQ(box.Error(), "");
  const SandboxKind& kind = box.Kind();
  const std::string player = box.HostOnly() + "/vlc";
  ASSERT_TRUE(WriteFile(player, "#!/bin/sh\n"));

  // Its marks, and no player.
  RunResult marks = box.Run({"sh", "-c",
                             "for p in /usr/bin/vlc " + player + "; do [ -e \"$p\" ] && echo \"sees $p\"; done;"
                             "cat /run/host/container-manager 2>/dev/null;"
                             "for m in /.flatpak-info /run/.containerenv /run/.toolboxenv; do [ -e $m ] && echo $m; done;"
                             "echo \"$container|$FLATPAK_ID\""},
                            30000);
  std::string expected = *kind.manager ? std::string(kind.manager) + "\n" : "", container;
  for (const std::string& mark : kind.marks) expected += mark + "\n";
  for (const std::string& v : kind.variables)
    if (v.rfind("container=", 0) == 0) container = v.substr(10);
  expected += *kind.flatpakId ? std::string("/.flatpak-info\nflatpak|") + kind.flatpakId + "\n" : container + "|\n";
  EXPECT_EQ(marks.out, expected) << marks.err;

  // The channel, from a shell inside: the host sees the player.
  const std::string onHost = "test -e " + player + " && exit 7";
  if (kind.channel == Channel::kFlatpakSpawn) {
    EXPECT_EQ(box.Run({"flatpak-spawn", "--host", "sh", "-c", onHost}, 30000).exitCode, 7);
  } else if (kind.channel == Channel::kHostExec) {
    EXPECT_EQ(box.Run({"distrobox-host-exec", "sh", "-c", onHost}, 30000).exitCode, 7);
  } else if (kind.channel == Channel::kLaunchClient) {
    EXPECT_EQ(box.Run({"steam-runtime-launch-client", "--alongside-steam", "--", "sh", "-c", onHost}, 30000).exitCode, 7);
    std::string call;
    for (const std::string& arg : {std::string("--alongside-steam"), std::string("--"), std::string("sh"), std::string("-c"), onHost})
      call += arg + '\0';
    EXPECT_EQ(box.LaunchRecords(), call + "\n");
  } else {
    // No host command: the Flatpak's permission is missing, or there is no flatpak-spawn at all.
    EXPECT_NE(box.Run({"sh", "-c", "flatpak-spawn --host true"}, 30000).exitCode, 0);
    const std::string file = box.Prefix() + "/drive_c/a film.mkv";
    ASSERT_TRUE(WriteFile(file, "x"));
    RunResult open = box.Run({"xdg-open", file}, 30000);
    EXPECT_EQ(open.exitCode, 0) << open.err;
    EXPECT_EQ(box.PortalRecords(), "file " + file + "\n");
  }

  // Wine runs inside, the runtime's, and does not see the player either.
  RunResult version = box.Run({"wine", "--version"}, 30000);
  if (!std::get<1>(GetParam()).root.empty()) {
    EXPECT_EQ(version.out.rfind("wine-10.", 0), 0u) << version.out;
  } else {
    EXPECT_EQ(version.out, RunProcess({"wine", "--version"}, {}, Wine::Get().LogDir() + "/version", 30000).out);
  }
  RunResult wine = box.Run({"wine", "cmd", "/c", "if exist Z:\\usr\\bin\\vlc (echo sees) else echo hidden"}, 120000);
  EXPECT_EQ(wine.out.substr(0, 6), "hidden") << wine.out << wine.err;
}

// modrik.exe inside each sandbox (or on a plain host with a variable left
// over): on its first run it finds the host's player through the channel
// (or settles on the desktop's opener), then plays a file there; through a
// command channel the caller waits for the player, gets its exit code and,
// ending modrik, ends the player. The desktop's opener gets one file as it
// is, and three files with an option as one playlist.
TEST_P(SandboxKit, PlaysThroughItsChannel) {
  const SandboxKind& kind = std::get<0>(GetParam());
  const bool command = kind.channel != Channel::kPortal && kind.channel != Channel::kLaunchFails;
  TestFolder dir = TestFolder::ForCurrentTest();
  const std::string player = dir.MakeNativePlayer("host-only/vlc", "", {.status = 3});
  // The host's whereis finds it; the sandbox's sees no player.
  ASSERT_TRUE(WriteFile(dir.Host("host-bin/whereis"), "#!/bin/sh\necho \"vlc: " + player + " /usr/share/vlc\"\n"));
  chmod(dir.Host("host-bin/whereis").c_str(), 0755);
  PathFirst hostPath(dir.Host("host-bin"));
  std::unique_ptr<Sandbox> made = Make(dir);
  Sandbox& box = *made;
  ASSERT_EQ(box.Error(), "");
  dir.InstallModrik();
  ASSERT_TRUE(WriteFile(dir.Host("a film.mkv"), "x") && WriteFile(dir.Host("b.mkv"), "x") && WriteFile(dir.Host("c.mkv"), "x"));
  // A file of the test as the sandbox's Wine names it (through its prefix's drive C, or its drive_c).
  auto inBox = [&](const std::string& name, const char* drive = "/dosdevices/c:") {
    return box.Prefix() + drive + dir.Host(name).substr(Wine::Get().DriveC().size());
  };
  DriveOptions options;
  options.inside = box.Inside();
  options.hostEnv = box.WineEnv();
  options.hostEnv.push_back("WINEDEBUG=+debugstr");
  options.answers = {6};
  const std::string commandLine = "\"" + dir.Win("modrik.exe") + "\" \"" + dir.Win("a film.mkv") + "\"";
  DriveResult d = Drive(dir, commandLine, options);
  ASSERT_TRUE(d.ran && d.started) << d.raw << d.wineErr;
  EXPECT_EQ(d.boxes.size(), 1u) << d.raw;
  const std::string ini = ReadFile(dir.Host("modrik.ini")).value_or("");
  EXPECT_NE(ini.find("\r\nvlcpath=" + (command ? player : std::string("xdg-open")) + "\r\n"), std::string::npos) << ini;

  if (!command) {
    // Steam's launch client gets no answer: the portal, well before the caller gives up.
    const bool fails = kind.channel == Channel::kLaunchFails;
    const std::string why = "steam-runtime-launch-client gave no answer: Steam's launcher service is not reachable";
    // (The second start's settings name the opener: no launch client is asked.)
    auto portalGets = [&](const DriveResult& d, std::size_t records) {
      EXPECT_EQ(d.exitCode, 0) << d.raw;
      EXPECT_TRUE(!fails || (d.ms < 10000 && (records == 2 || d.wineErr.find(why) != std::string::npos))) << d.wineErr;
      std::string got = box.PortalRecords();
      for (int i = 0; i < 100 && std::count(got.begin(), got.end(), '\n') < long(records); ++i, got = box.PortalRecords())
        usleep(100000);
      return got;
    };
    EXPECT_EQ(portalGets(d, 1), "file " + dir.Host("a film.mkv") + "\n");
    EXPECT_NE(d.wineErr.find("lost through the desktop's opener: the wait for the player and its exit code"),
              std::string::npos) << d.wineErr;
    if (*kind.flatpakId) {
      EXPECT_NE(d.wineErr.find("flatpak override --user --talk-name=org.freedesktop.Flatpak " +
                               std::string(kind.flatpakId)), std::string::npos);
    }
    // Three files and an option: one descriptor, of a playlist the host reads.
    options.answers = {};
    d = Drive(dir, "\"" + dir.Win("modrik.exe") + "\" --start-time=30 \"" + dir.Win("a film.mkv") + "\" \"" +
                       dir.Win("b.mkv") + "\" \"" + dir.Win("c.mkv") + "\"", options);
    const std::string records = portalGets(d, 2);
    const std::size_t second = records.find("\nfile ");
    ASSERT_NE(second, std::string::npos) << records;
    std::string list = "#EXTM3U\n";
    for (const char* name : {"a film.mkv", "b.mkv", "c.mkv"})
      list += "#EXTVLCOPT:start-time=30\n" + inBox(name, "/drive_c") + "\n";
    EXPECT_EQ(ReadFile(records.substr(second + 6, records.size() - second - 7)).value_or(""), list) << records;
    if (fails) {
      // A player named in the settings: the launch client still gives no answer.
      ASSERT_TRUE(WriteFile(dir.Host("modrik.ini"), "[modrik]\r\nvlcpath=" + player + "\r\n"));
      d = Drive(dir, commandLine, options);
      EXPECT_EQ(portalGets(d, 3).substr(records.size()), "file " + dir.Host("a film.mkv") + "\n");
    }
    return;
  }
  // The player got the file as the host sees it, and its status came back.
  EXPECT_EQ(d.exitCode, 3) << d.raw << d.wineErr;
  const std::string film = inBox("a film.mkv");
  const std::vector<NativePlayerRecord> got = WaitForNativePlayer(player + ".rec", 5000);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].args, std::vector<std::string>{film});
  if (kind.channel == Channel::kLaunchClient || kind.channel == Channel::kHostExec) {
    const std::string calls = box.LaunchRecords();
    const std::string last = std::string("--alongside-steam\0--\0", kind.channel == Channel::kLaunchClient ? 21 : 0) +
                             player + '\0' + film + '\0' + '\n';
    EXPECT_TRUE(calls.size() >= last.size() && calls.compare(calls.size() - last.size(), last.size(), last) == 0)
        << calls;
  }
  // Ending modrik ends the player on the host (one the caller inside can
  // watch for).
  const std::string longPlayer = dir.MakeNativePlayer("bin/long", "", {.playSeconds = 120});
  ASSERT_TRUE(WriteFile(dir.Host("modrik.ini"), "[modrik]\r\nvlcpath=" + longPlayer + "\r\n"));
  options.answers = {};
  options.terminateWhen = longPlayer + ".rec";
  options.terminateAfterMs = 1000;
  d = Drive(dir, commandLine, options);
  ASSERT_TRUE(d.ran && d.terminatedAt > 0) << d.raw;
  auto end = WaitForFile(longPlayer + ".end", 10000);
  ASSERT_TRUE(end && end->rfind("TERM ", 0) == 0) << end.value_or("no end");
}

INSTANTIATE_TEST_SUITE_P(Sandboxes, SandboxKit, ::testing::Combine(::testing::ValuesIn(SandboxKinds()), ::testing::ValuesIn(Runtimes())),
                         [](const ::testing::TestParamInfo<std::tuple<SandboxKind, Runtime>>& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
