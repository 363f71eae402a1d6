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

TEST(UnixScriptLock, HeldFromWritingTheScriptUntilThePauseHasPassed) {
  fake::FakePlatform sys;
  UnderWine(sys);
  modrik::RunUnixCommand("ls");
  // chmod and sh both start while the lock is held, and it is given back.
  EXPECT_EQ(sys.lockDepthAtStart, (std::vector<int>{1, 1}));
  EXPECT_EQ(sys.lockDepth, 0);
  EXPECT_EQ(sys.lockNames, (std::vector<std::string>{"modrik-dues-guest"}));
  // The start program had ended by the end of the pause: one look, no wait.
  EXPECT_EQ(sys.sleeps, (std::vector<unsigned>{250}));
  ASSERT_EQ(sys.endWaits.size(), 1u);
  EXPECT_EQ(sys.endWaits[0], (std::pair<std::size_t, unsigned>{1u, 0u}));
  EXPECT_EQ(sys.lockDepthAtEndWait, (std::vector<int>{1}));
  EXPECT_EQ(sys.closedProcesses, 1);
}

TEST(UnixScriptLock, SlowStartProgramIsWaitedForWithTheLockHeld) {
  fake::FakePlatform sys;
  UnderWine(sys);
  sys.endsAfterWaits = 1;  // still running when the pause is over
  modrik::RunUnixCommand("ls");
  ASSERT_EQ(sys.endWaits.size(), 2u);
  EXPECT_EQ(sys.endWaits[1], (std::pair<std::size_t, unsigned>{1u, 10000u}));
  EXPECT_EQ(sys.lockDepthAtEndWait, (std::vector<int>{1, 1}));
  // The pause is taken again from the start program's end.
  EXPECT_EQ(sys.sleeps, (std::vector<unsigned>{250, 250}));
  EXPECT_EQ(sys.lockDepth, 0);
  EXPECT_EQ(sys.closedProcesses, 1);
}

TEST(UnixScriptLock, CaptureHoldsItUntilItsLastRead) {
  fake::FakePlatform sys;
  UnderWine(sys);
  EXPECT_EQ(modrik::RunUnixCommandCapture("true"), "");
  ASSERT_EQ(sys.lockDepthAtRead.size(), 12u);
  for (int depth : sys.lockDepthAtRead) EXPECT_EQ(depth, 1);
  EXPECT_EQ(sys.lockDepth, 0);
}

TEST(UnixScriptLock, CommandRunsEvenWhenTheLockCannotBeHad) {
  fake::FakePlatform sys;
  UnderWine(sys);
  sys.lockUnavailable = true;
  modrik::RunUnixCommand("ls");
  EXPECT_EQ(sys.FileBytes("z:\\home\\guest\\dues.sh"), "#!/bin/bash\nls\n");
  EXPECT_EQ(sys.processes.size(), 2u);
  EXPECT_EQ(sys.lockDepth, 0);
}
