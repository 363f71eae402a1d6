// The sandbox imitations hold before anything relies on them: Wine runs
// inside and does not see the host's player, the sandbox shows its marks,
// and its channel reaches the host from a shell inside.
#include <gtest/gtest.h>

#include "sandbox.h"

using namespace e2e;

namespace {

class SandboxKit : public ::testing::TestWithParam<SandboxKind> {};

TEST_P(SandboxKit, ImitationHolds) {
  if (const std::string missing = SandboxMissing(); !missing.empty()) GTEST_SKIP() << missing;
  Sandbox box(GetParam());
  ASSERT_EQ(box.Error(), "");
  const SandboxKind& kind = box.Kind();
  const std::string player = box.HostOnly() + "/vlc";
  ASSERT_TRUE(WriteFile(player, "#!/bin/sh\n"));

  // Its marks, and no player.
  RunResult marks = box.Run({"sh", "-c",
                             "for p in /usr/bin/vlc " + player + "; do [ -e \"$p\" ] && echo \"sees $p\"; done;"
                             "cat /run/host/container-manager 2>/dev/null; [ -e /.flatpak-info ] && echo info;"
                             "echo \"$container|$FLATPAK_ID\""},
                            30000);
  std::string expected = *kind.manager ? std::string(kind.manager) + "\n" : "";
  expected += *kind.flatpakId ? std::string("info\nflatpak|") + kind.flatpakId + "\n" : "|\n";
  EXPECT_EQ(marks.out, expected) << marks.err;

  // The channel, from a shell inside: the host sees the player.
  const std::string onHost = "test -e " + player + " && exit 7";
  if (kind.channel == Channel::kFlatpakSpawn) {
    EXPECT_EQ(box.Run({"flatpak-spawn", "--host", "sh", "-c", onHost}, 30000).exitCode, 7);
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

  // Wine runs inside, and does not see the player either.
  RunResult wine = box.Run({"wine", "cmd", "/c", "if exist Z:\\usr\\bin\\vlc (echo sees) else echo hidden"}, 120000);
  EXPECT_EQ(wine.out.substr(0, 6), "hidden") << wine.out << wine.err;
}

INSTANTIATE_TEST_SUITE_P(Sandboxes, SandboxKit, ::testing::ValuesIn(SandboxKinds()),
                         [](const ::testing::TestParamInfo<SandboxKind>& info) { return std::string(info.param.name); });

}  // namespace
