// The Unix command runner: dues.sh bytes, the start lines and their switch,
// the pauses, the capture poll, and the text conversion at the host boundary.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "winebridge/winebridge.h"
#include "winebridge_fake_host.h"

namespace {

using fake::FakeHost;

const char kChmodLine[] = " /bin/chmod +x /home/guest/dues.sh";
const char kShLine[] = " /bin/sh /home/guest/dues.sh";

// Wine's start runs a Unix program after /unix in every version; /exec
// looks it up as a Windows path on the current drive and fails from C:.
TEST(LaunchSwitch, IsUnixForEveryWineVersion) {
  for (const char* version : {"8.0", "9.0", "10.0", "10.12", "11.0", "1.8", "", "\xE9"})
    EXPECT_EQ(modrik::LaunchSwitch(version), "unix") << version;
}

TEST(UnixScript, ScriptBytesAndChmodForTwoLetterCommand) {
  FakeHost host;
  host.wineExport = true;
  host.wineVersionText = "9.0";
  host.AddFile(FakeHost::kScript, "#!/bin/bash\nsomething much longer than ls\n");

  modrik::WriteUnixScript("ls");

  const std::string script = host.FileBytes(FakeHost::kScript);
  EXPECT_EQ(script, std::string("#!/bin/bash\nls\n"));
  EXPECT_EQ(script.size(), 15u);
  ASSERT_EQ(host.processes.size(), 1u);
  EXPECT_EQ(host.processes[0].commandLine, std::string("start /unix") + kChmodLine);
  EXPECT_TRUE(host.processes[0].waited);
  EXPECT_TRUE(host.sleeps.empty());
  EXPECT_EQ(modrik::CachedWineVersion, "9.0");
}

TEST(UnixScript, CommandIsWrittenUnchangedExceptForItsEncoding) {
  FakeHost host;
  modrik::WriteUnixScript("");
  EXPECT_EQ(host.FileBytes(FakeHost::kScript), std::string("#!/bin/bash\n\n"));

  modrik::WriteUnixScript("echo \"a\\b\" 'c'\nls");
  EXPECT_EQ(host.FileBytes(FakeHost::kScript), std::string("#!/bin/bash\necho \"a\\b\" 'c'\nls\n"));

  // UTF-8 inside the program and on the host.
  modrik::WriteUnixScript("ls 'vid\xC3\xA9o \xE2\x82\xAC.mkv'");
  EXPECT_EQ(host.FileBytes(FakeHost::kScript),
            std::string("#!/bin/bash\nls 'vid\xC3\xA9o \xE2\x82\xAC.mkv'\n"));
}

TEST(UnixCommand, WaitsForChmodThenStartsShellAndPauses) {
  FakeHost host;
  host.wineExport = true;
  host.wineVersionText = "10.0";

  modrik::RunUnixCommand("/usr/bin/true");

  ASSERT_EQ(host.processes.size(), 2u);
  EXPECT_EQ(host.processes[0].commandLine, std::string("start /unix") + kChmodLine);
  EXPECT_TRUE(host.processes[0].waited);
  EXPECT_EQ(host.processes[1].commandLine, std::string("start /unix") + kShLine);
  EXPECT_FALSE(host.processes[1].waited);  // never waited for without a bound
  EXPECT_EQ(host.sleeps, std::vector<unsigned>({250}));
  ASSERT_EQ(host.scriptsRun.size(), 1u);
  EXPECT_EQ(host.scriptsRun[0], "#!/bin/bash\n/usr/bin/true\n");
}

TEST(UnixCommand, VersionIsCachedOnceKnownAndAskedAgainWhileEmpty) {
  FakeHost host;
  // Outside Wine: empty version, nothing cached.
  modrik::RunUnixCommand("a");
  EXPECT_EQ(modrik::CachedWineVersion, "");
  EXPECT_EQ(host.processes[1].commandLine, std::string("start /unix") + kShLine);

  host.wineExport = true;
  host.wineVersionText = "11.0";
  modrik::RunUnixCommand("b");
  EXPECT_EQ(modrik::CachedWineVersion, "11.0");
  EXPECT_EQ(host.processes[3].commandLine, std::string("start /unix") + kShLine);

  // Once cached, the version is not asked again.
  host.wineVersionText = "10.0";
  modrik::RunUnixCommand("c");
  EXPECT_EQ(host.processes[4].commandLine, std::string("start /unix") + kChmodLine);
  EXPECT_EQ(host.processes[5].commandLine, std::string("start /unix") + kShLine);
}

TEST(UnixCommand, EmptyUserNameLeavesAnEmptySegment) {
  FakeHost host;
  host.environment.erase("USERNAME");
  host.AddFolder("z:\\home\\");
  ASSERT_EQ(modrik::RunUnixCommand("ls"), modrik::HostRun::kStarted);
  ASSERT_EQ(host.processes.size(), 2u);
  EXPECT_EQ(host.processes[0].commandLine, "start /unix /bin/chmod +x /home//dues.sh");
  EXPECT_EQ(host.processes[1].commandLine, "start /unix /bin/sh /home//dues.sh");
}

TEST(UnixCommand, FailedStartsDoNotStopTheSequence) {
  FakeHost host;
  host.onStart = [](const std::string&) { return false; };
  modrik::RunUnixCommand("ls");
  EXPECT_EQ(host.processes.size(), 2u);
  EXPECT_EQ(host.sleeps, std::vector<unsigned>({250}));
}

// Only a script written whole as a new file runs: with no home folder, or
// with anything left in its place that cannot be removed, nothing starts and
// the trace says why.
TEST(UnixCommand, ScriptThatCannotBeWrittenAnewRunsNothing) {
  for (bool stale : {false, true}) {
    FakeHost host;
    if (stale) {
      host.AddFile(FakeHost::kScript, "#!/bin/bash\nstale\n");
      host.readOnlyFolders["z:\\home\\guest"] = true;
    } else {
      host.folders.clear();
    }
    EXPECT_EQ(modrik::RunUnixCommand("ls"), modrik::HostRun::kScriptNotWritten);
    EXPECT_EQ(modrik::RunUnixCommandCapture("ls"), "");
    EXPECT_TRUE(host.processes.empty());
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(host.lockDepth, 0);
    ASSERT_FALSE(host.traces.empty());
    EXPECT_EQ(host.traces.back(), "cannot write z:\\home\\guest\\dues.sh anew: the host command is not run");
  }
}

TEST(Capture, RedirectsIntoLogAndReturnsFirstNonEmptyRead) {
  FakeHost host;
  host.command = "whereis vlc";
  host.output = "vlc: /usr/bin/vlc /usr/share/vlc\n";

  EXPECT_EQ(modrik::RunUnixCommandCapture("whereis vlc"), "vlc: /usr/bin/vlc /usr/share/vlc\n");
  EXPECT_EQ(host.scriptsRun.back(), "#!/bin/bash\nwhereis vlc > ~/dues.log\n");
  // One pause inside RunUnixCommand, one before the first read.
  EXPECT_EQ(host.sleeps, std::vector<unsigned>({250, 250}));
}

TEST(Capture, PollsTwelveTimesAndNoMore) {
  {
    // Output appearing just before the twelfth read is seen.
    FakeHost host;
    host.command = "x";
    host.output = "late\n";
    host.appearsAfterPause = 13;  // pause 1 is RunUnixCommand's, 2..13 precede the reads
    EXPECT_EQ(modrik::RunUnixCommandCapture("x"), "late\n");
    EXPECT_EQ(host.sleeps.size(), 13u);
  }
  {
    // Output appearing after the twelfth read is not.
    FakeHost host;
    host.command = "x";
    host.output = "too late\n";
    host.appearsAfterPause = 14;
    EXPECT_EQ(modrik::RunUnixCommandCapture("x"), "");
    EXPECT_EQ(host.sleeps, std::vector<unsigned>(13, 250));
  }
  {
    // A run that stops early reads once per pause after the first.
    FakeHost host;
    host.command = "x";
    host.output = "y";
    host.appearsAfterPause = 5;
    EXPECT_EQ(modrik::RunUnixCommandCapture("x"), "y");
    EXPECT_EQ(host.sleeps.size(), 5u);
  }
}

TEST(Capture, EmptyCommandLeavesEmptyLogAfterTwelveReads) {
  FakeHost host;
  EXPECT_EQ(modrik::RunUnixCommandCapture(""), "");
  EXPECT_EQ(host.FileBytes(FakeHost::kScript), "#!/bin/bash\n > ~/dues.log\n");
  EXPECT_EQ(host.sleeps.size(), 13u);
  EXPECT_TRUE(host.HasFile(FakeHost::kLog));
  EXPECT_EQ(host.FileBytes(FakeHost::kLog), "");
}

TEST(Capture, StaleLogOfAnEarlierCommandIsNeverReturned) {
  FakeHost host;
  host.AddFile(FakeHost::kLog, "output of an earlier command\n");
  EXPECT_EQ(modrik::RunUnixCommandCapture("true"), "");
}

TEST(Capture, CommandAndOutputInAnyScriptPassUnchanged) {
  FakeHost host;
  host.command = "ls '\xD0\xA4 vid\xC3\xA9o'";
  host.output = "\xD0\xA4 vid\xC3\xA9o \xE2\x82\xAC\n";
  EXPECT_EQ(modrik::RunUnixCommandCapture("ls '\xD0\xA4 vid\xC3\xA9o'"), "\xD0\xA4 vid\xC3\xA9o \xE2\x82\xAC\n");
}

}  // namespace
