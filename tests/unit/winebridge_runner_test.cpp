// The Unix command runner: dues.sh bytes, the host program that runs it and
// its words, the capture read at the command's end and its bound, Wine
// without its own spawn, and the text conversion at the host boundary.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "fake_platform.h"
#include "host_shell.h"
#include "winebridge/host/host_scripts.h"
#include "winebridge/winebridge.h"
#include "winebridge_fake_host.h"

namespace {

using fake::FakeHost;

// host_command.sh's words for dues.sh in a mode, waited for by Wine.
std::vector<std::string> HostCommand(const std::string& script, const std::string& mode) {
  return {"/bin/sh", "-c", modrik::host::host_command_sh, "sh", script, mode, "child", ""};
}

TEST(UnixScript, ScriptBytesForTwoLetterCommand) {
  FakeHost host;
  host.wineExport = true;
  host.wineVersionText = "9.0";
  host.AddFile(FakeHost::kScript, "#!/bin/bash\nsomething much longer than ls\n");

  modrik::WriteUnixScript("ls");

  const std::string script = host.FileBytes(FakeHost::kScript);
  EXPECT_EQ(script, std::string("#!/bin/bash\nls\n"));
  EXPECT_EQ(script.size(), 15u);
  // The host program that runs it marks it executable: nothing starts here.
  EXPECT_TRUE(host.processes.empty());
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

// One host program, no Windows process, no pause.
TEST(UnixCommand, HostProgramReadsTheScriptAndStartsIt) {
  FakeHost host;
  host.wineExport = true;
  host.wineVersionText = "10.0";

  EXPECT_EQ(modrik::RunUnixCommand("/usr/bin/true"), modrik::HostRun::kStarted);

  ASSERT_EQ(host.processes.size(), 1u);
  EXPECT_EQ(host.processes[0].argv, HostCommand("/home/guest/dues.sh", "start"));
  EXPECT_TRUE(host.sleeps.empty());
  ASSERT_EQ(host.scriptsRun.size(), 1u);
  EXPECT_EQ(host.scriptsRun[0], "#!/bin/bash\n/usr/bin/true\n");
  // The host found the home fit: it need not look again for this process.
  modrik::RunUnixCommand("/usr/bin/true");
  EXPECT_EQ(host.processes.at(1).argv.back(), "checked");
}

TEST(UnixCommand, VersionIsCachedOnceKnownAndAskedAgainWhileEmpty) {
  FakeHost host;
  // Outside Wine: empty version, nothing cached.
  modrik::RunUnixCommand("a");
  EXPECT_EQ(modrik::CachedWineVersion, "");

  host.wineExport = true;
  host.wineVersionText = "11.0";
  modrik::RunUnixCommand("b");
  EXPECT_EQ(modrik::CachedWineVersion, "11.0");

  // Once cached, the version is not asked again.
  host.wineVersionText = "10.0";
  modrik::RunUnixCommand("c");
  EXPECT_EQ(modrik::CachedWineVersion, "11.0");
  EXPECT_EQ(host.processes.size(), 3u);
}

TEST(UnixCommand, EmptyUserNameLeavesAnEmptySegment) {
  FakeHost host;
  host.environment.erase("USERNAME");
  host.AddFolder("z:\\home\\");
  ASSERT_EQ(modrik::RunUnixCommand("ls"), modrik::HostRun::kStarted);
  ASSERT_EQ(host.processes.size(), 1u);
  EXPECT_EQ(host.processes[0].argv, HostCommand("/home//dues.sh", "start"));
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

// A Wine without its own spawn: host_command.sh goes through CreateProcessW,
// which gives nothing to wait for; it leaves its status in a file beside
// dues.sh, where modrik looks for it (and removes it), within a bound.
TEST(UnixCommand, WithoutWinesSpawnTheStatusFileIsAwaited) {
  struct Row {
    bool leavesStatus;
    int status;
    modrik::HostRun expected;
    std::size_t polls;
  };
  for (const Row& row : {Row{true, 0, modrik::HostRun::kStarted, 0},
                         Row{true, 126, modrik::HostRun::kNotStarted, 0},
                         Row{false, 0, modrik::HostRun::kNotStarted, 600}}) {
    FakeHost host;
    host.hostSpawnWaits = false;
    host.leavesStatus = row.leavesStatus;
    host.hostStatus = row.status;
    EXPECT_EQ(modrik::RunUnixCommand("ls"), row.expected);
    std::vector<std::string> words = HostCommand("/home/guest/dues.sh", "start");
    words[6] = "";
    words[7] = "/home/guest/.dues-0000000000005eed";
    ASSERT_EQ(host.processes.size(), 1u);
    EXPECT_EQ(host.processes[0].argv, words);
    EXPECT_FALSE(host.HasFile("z:\\home\\guest\\.dues-0000000000005eed"));
    EXPECT_EQ(host.sleeps, std::vector<unsigned>(row.polls, 10));
    EXPECT_EQ(host.lockDepth, 0);
    EXPECT_TRUE(modrik::Home != modrik::HomeState::kFit);  // a status file in the home proves nothing
  }
}

TEST(Capture, RedirectsIntoLogAndReadsItWhenTheCommandEnds) {
  FakeHost host;
  host.command = "whereis vlc";
  host.output = "vlc: /usr/bin/vlc /usr/share/vlc\n";

  EXPECT_EQ(modrik::RunUnixCommandCapture("whereis vlc"), "vlc: /usr/bin/vlc /usr/share/vlc\n");
  EXPECT_EQ(host.scriptsRun.back(), "#!/bin/bash\nwhereis vlc > ~/dues.log\n");
  ASSERT_EQ(host.processes.size(), 1u);
  EXPECT_EQ(host.processes[0].argv, HostCommand("/home/guest/dues.sh", "capture"));
  EXPECT_TRUE(host.sleeps.empty());
}

// A host program that cannot be started or cannot read the script (126)
// starts nothing. A captured command's output counts only when it ended
// well: one that failed, or that was ended at its bound (timeout's 124, or
// 137 when it had to be killed), gives none. The trace says which.
TEST(Capture, FailedOrEndlessCommandsAreTracedAndGiveNoOutput) {
  for (int status : {124, 137, 1, 126, platform::kHostNotStarted}) {
    FakeHost host;
    host.command = "x";
    host.output = "partial\n";
    host.hostStatus = status;
    if (status < 0) host.onStart = [](const std::string&) { return false; };
    const std::string code = std::to_string(status);
    EXPECT_EQ(modrik::RunUnixCommandCapture("x"), "") << status;
    EXPECT_EQ(host.traces.back(),
              "the host command failed or did not end within 3 s (status " + code + "): no output");
    if (status == 126 || status < 0) {
      EXPECT_EQ(modrik::RunUnixCommand("ls"), modrik::HostRun::kNotStarted);
      EXPECT_EQ(host.traces.back(), "the host command was not started (status " + code + ")");
    }
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(host.lockDepth, 0);
  }
}

TEST(Capture, EmptyCommandLeavesEmptyLog) {
  FakeHost host;
  EXPECT_EQ(modrik::RunUnixCommandCapture(""), "");
  EXPECT_EQ(host.FileBytes(FakeHost::kScript), "#!/bin/bash\n > ~/dues.log\n");
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

// host_command.sh itself, run by the host's /bin/sh on a dues.sh: its
// status, how long it takes, what the command learns, and the status file.
TEST(HostCommandProgram, RunsTheScriptAsAskedWithinItsBound) {
  struct Row {
    const char* command;
    const char* mode;
    const char* child;
    bool statusFile;
    int status;
    int maxMs;
    const char* recorded;  // what the command wrote into "out" ("" none)
  };
  const Row rows[] = {
      {"echo ok >\"$D/out\"", "capture", "child", false, 0, 2000, "ok\n"},
      // The script is read as it is: backslashes, blanks, lines.
      {"printf '%s\\n' 'a\\b  c' \\\n  'd' >\"$D/out\"", "capture", "", false, 0, 2000, "a\\b  c\nd\n"},
      {"exit 3", "capture", "child", false, 3, 2000, ""},
      // An endless command is ended at 3 s (TERM, then KILL a second later).
      {"trap '' TERM; sleep 20", "capture", "child", false, 137, 4800, ""},
      {"sleep 20", "capture", "child", false, 124, 3800, ""},
      // A start ends as soon as the script is read; the command runs on and
      // learns modrik's process (this test's) only when a child of it.
      {"sleep 1; echo \"$MODRIK_PARENT\" >\"$D/out\"", "start", "child", false, 0, 500, "PARENT\n"},
      {"sleep 1; echo \"${MODRIK_PARENT-unset}\" >\"$D/out\"", "start", "", true, 0, 500, "unset\n"},
      // A home that others may write (here 0777) is refused: nothing is read, marked or run.
      {"echo ran >\"$D/out\"", "capture", "", true, 77, 2000, ""},
  };
  for (const Row& row : rows) {
    ScratchFolder folder;
    const std::string script = folder.path() + "/dues.sh";
    WriteAll(script, "#!/bin/bash\nD='" + folder.path() + "'; " + row.command + "\n");
    if (row.status == 77) chmod(folder.path().c_str(), 0777);
    const std::string status = row.statusFile ? folder.path() + "/status" : "";
    const auto start = std::chrono::steady_clock::now();
    const pid_t shell = fork();
    if (shell == 0) {
      execl("/bin/sh", "sh", "-c", modrik::host::host_command_sh, "sh", script.c_str(), row.mode,
            row.child, status.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int wstatus = 0;
    waitpid(shell, &wstatus, 0);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(WEXITSTATUS(wstatus), row.status) << row.command;
    EXPECT_LT(ms, row.maxMs) << row.command;
    // (Marked executable beside the reading.)
    struct stat st {};
    for (int i = 0; i < 100 && stat(script.c_str(), &st) == 0 && !(st.st_mode & S_IXUSR); ++i)
      usleep(10000);
    EXPECT_EQ((st.st_mode & S_IXUSR) != 0, row.status != 77) << row.command;
    if (row.statusFile) {
      EXPECT_EQ(ReadAll(status), std::to_string(row.status) + "\n");
    }
    std::string expected = row.recorded;
    if (expected == "PARENT\n") expected = std::to_string(getpid()) + "\n";
    if (!expected.empty()) {
      for (int i = 0; i < 300 && ReadAll(folder.path() + "/out").empty(); ++i) usleep(10000);
      EXPECT_EQ(ReadAll(folder.path() + "/out"), expected) << row.command;
    }
  }
}

}  // namespace
