#include <gtest/gtest.h>

#include "fake_platform.h"
#include "winebridge/winebridge.h"

namespace {

void UnderWine(fake::FakePlatform& sys) {
  sys.wineExport = true;
  sys.wineVersionText = "8.0";
  sys.AddFolder("z:\\home\\guest");
}

}  // namespace

TEST(UnixScriptLock, HeldFromWritingTheScriptUntilTheHostHasReadIt) {
  fake::FakePlatform sys;
  UnderWine(sys);
  modrik::RunUnixCommand("ls");
  // The host program (which ends once it has read the script) starts while
  // the lock is held, and it is given back; nothing pauses.
  EXPECT_EQ(sys.lockDepthAtStart, (std::vector<int>{1}));
  EXPECT_EQ(sys.lockDepth, 0);
  EXPECT_EQ(sys.lockNames, (std::vector<std::string>{"modrik-dues-guest"}));
  EXPECT_TRUE(sys.sleeps.empty());
}

TEST(UnixScriptLock, CaptureHoldsItUntilItsRead) {
  fake::FakePlatform sys;
  UnderWine(sys);
  EXPECT_EQ(modrik::RunUnixCommandCapture("true"), "");
  EXPECT_EQ(sys.lockDepthAtRead, (std::vector<int>{1}));
  EXPECT_EQ(sys.lockDepth, 0);
}

TEST(UnixScriptLock, CommandRunsEvenWhenTheLockCannotBeHad) {
  fake::FakePlatform sys;
  UnderWine(sys);
  sys.lockUnavailable = true;
  modrik::RunUnixCommand("ls");
  EXPECT_EQ(sys.FileBytes("z:\\home\\guest\\dues.sh"), "#!/bin/bash\nls\n");
  EXPECT_EQ(sys.processes.size(), 1u);
  EXPECT_EQ(sys.lockDepth, 0);
}

// A start's launch shares no file with other starts: it takes no lock,
// writes nothing in the home, and hands the host its command as a word.
TEST(UnixScriptLock, LaunchTakesNoneAndWritesNothing) {
  fake::FakePlatform sys;
  UnderWine(sys);
  EXPECT_EQ(modrik::RunUnixLaunch("echo x"), modrik::HostRun::kStarted);
  EXPECT_TRUE(sys.lockNames.empty());
  EXPECT_EQ(sys.lockDepthAtStart, (std::vector<int>{0}));
  EXPECT_FALSE(sys.HasFile("z:\\home\\guest\\dues.sh"));
  ASSERT_EQ(sys.processes.size(), 1u);
  EXPECT_EQ(sys.processes[0].argv.back(), "echo x");
  EXPECT_EQ(sys.processes[0].argv[5], "launch");
  // Its status 3: the private folder it was to use is unfit; 77: the home.
  sys.hostStatus = 3;
  EXPECT_EQ(modrik::RunUnixLaunch("echo x"), modrik::HostRun::kFolderUnfit);
  sys.hostStatus = 77;
  EXPECT_EQ(modrik::RunUnixLaunch("echo x"), modrik::HostRun::kNotStarted);
  EXPECT_EQ(modrik::Home, modrik::HomeState::kRefused);
  EXPECT_EQ(modrik::RunUnixLaunch("echo x"), modrik::HostRun::kNotStarted);
  EXPECT_EQ(sys.processes.size(), 3u);  // none once the home is refused
  // Without Wine's own spawn it goes through dues.sh, as any command.
  modrik::Home = modrik::HomeState::kUnchecked;
  sys.hostSpawnWaits = false;
  sys.hostStatus = 0;
  EXPECT_EQ(modrik::RunUnixLaunch("echo x"), modrik::HostRun::kStarted);
  EXPECT_EQ(sys.FileBytes("z:\\home\\guest\\dues.sh"), "#!/bin/bash\necho x\n");
}
