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
