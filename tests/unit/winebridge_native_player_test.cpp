// The native player's host command, run by the host's real /bin/sh, in the
// cases the Wine tests do not reach, with the test playing modrik's part as
// Wine does it: "live" opened for reading and writing, one byte to take
// hold, closing to let go.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "fake_platform.h"
#include "host_shell.h"
#include "winebridge/host/host_scripts.h"
#include "winebridge/winebridge.h"

namespace {

// Records its start once it is ready for TERM; "play" plays until it is
// ended (recording TERM), "stubborn" plays on after TERM; "x" ends at once;
// "say TEXT SECONDS STATUS" writes the line on standard error and ends after
// that long; "write OUT ERR" writes OUT on standard output and ERR on
// standard error, and ends.
const char kPlayer[] =
    "#!/bin/sh\n"
    "d=$(dirname \"$0\")\n"
    "trap 'kill $! 2>/dev/null; echo TERM > \"$d/ended\"; exit 143' TERM\n"
    "[ \"$1\" != stubborn ] || trap '' TERM\n"
    "echo \"$@\" > \"$d/argv.new\" && mv \"$d/argv.new\" \"$d/argv\"\n"
    "[ \"$1\" != say ] || { echo \"$2\" >&2; sleep \"$3\"; exit \"$4\"; }\n"
    "[ \"$1\" != write ] || { printf %s \"$2\"; printf %s \"$3\" >&2; exit 0; }\n"
    "[ \"$1\" = x ] || { sleep 30 >/dev/null 2>&1 & wait $!; }\n";

bool Eventually(const std::function<bool()>& done, int boundMs) {
  for (int waited = 0; !done(); waited += 10) {
    if (waited >= boundMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

class HostCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    start.folder = folder.path() + "/run/modrik";
    mkdir((folder.path() + "/run").c_str(), 0700);
    mkdir(start.folder.c_str(), 0700);
    player = folder.path() + "/player";
    WriteAll(player, kPlayer);
    chmod(player.c_str(), 0755);
    start.name = "0123456789abcdef";
  }
  void TearDown() override {
    if (shell > 0) {
      kill(-shell, SIGKILL);
      waitpid(shell, nullptr, 0);
    }
  }

  std::string Start() const { return start.folder + "/" + start.name; }

  // Runs the host side of the start that goes on in the background, in a
  // process group of its own; `parent` stands for modrik's process on the host.
  void Run(const std::vector<std::string>& args, pid_t parent = 0) {
    const std::vector<std::string> words = modrik::NativePlayerWords(player, args, start);
    std::vector<char*> argv;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    shell = fork();
    if (shell == 0) {
      setpgid(0, 0);
      if (parent != 0) setenv("MODRIK_PARENT", std::to_string(parent).c_str(), 1);
      dup2(open((folder.path() + "/stderr").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600), 2);
      dup2(open((folder.path() + "/stdout").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600), 1);
      execv("/bin/sh", argv.data());
      _exit(127);
    }
  }
  // Opens "live" as Wine does, and writes the byte.
  int TakeHold() {
    EXPECT_TRUE(Eventually([&] { return Exists(Start() + "/live"); }, 5000));
    const int live = open((Start() + "/live").c_str(), O_RDWR);
    EXPECT_EQ(write(live, "+", 1), 1);
    return live;
  }
  bool ShellEnds(int boundMs) {
    const bool ended = Eventually([&] { return waitpid(shell, nullptr, WNOHANG) == shell; }, boundMs);
    if (ended) shell = 0;
    return ended;
  }

  ScratchFolder folder;
  fake::FakePlatform sys;
  modrik::NativeStart start;
  std::string player;
  pid_t shell = 0;
};

// modrik never took hold of the start within the bound (it was ended
// before it could): the player is ended and the start removed.
TEST_F(HostCommand, PlayerEndsWhenModrikNeverTakesHold) {
  start.holdSeconds = 1;
  Run({"play"});
  ASSERT_TRUE(Eventually([&] { return Exists(folder.path() + "/argv"); }, 5000));
  EXPECT_TRUE(Eventually([&] { return ReadAll(folder.path() + "/ended") == "TERM\n"; }, 3000));
  EXPECT_TRUE(ShellEnds(2000));
  EXPECT_FALSE(Exists(Start()));
}

// modrik's process ends before it could take hold (it is known to the host
// command, so no bound is waited out): the player gets TERM at once. One
// that plays on gets KILL 5 s later.
TEST_F(HostCommand, PlayerEndsWithModriksProcess) {
  for (const char* act : {"play", "stubborn"}) {
    SCOPED_TRACE(act);
    const pid_t modrik = fork();
    if (modrik == 0) {
      pause();
      _exit(0);
    }
    unlink((folder.path() + "/argv").c_str());
    Run({act}, modrik);
    ASSERT_TRUE(Eventually([&] { return Exists(folder.path() + "/argv"); }, 5000));
    kill(modrik, SIGKILL);
    waitpid(modrik, nullptr, 0);
    const auto ended = std::chrono::steady_clock::now();
    if (std::string(act) == "play") {
      EXPECT_TRUE(Eventually([&] { return ReadAll(folder.path() + "/ended") == "TERM\n"; }, 1000));
      EXPECT_TRUE(ShellEnds(2000));
    } else {
      EXPECT_TRUE(ShellEnds(7000));
      EXPECT_GE(std::chrono::steady_clock::now() - ended, std::chrono::milliseconds(4900));
    }
    EXPECT_FALSE(Exists(Start()));
  }
}

// Steam's launch client failing before the player starts (125 at once, or
// its message) is recorded as "unreachable", its standard error passed on;
// a 125 later, or from a player started without it, is the player's status.
// A player behind it is ended when modrik lets go.
TEST_F(HostCommand, LaunchClientsOwnFailureIsRecorded) {
  const std::string message = "steam-runtime-launch-client[9]: E: Unable to connect to any of the specified bus names";
  const struct {
    bool launch;
    std::string says, seconds, status, recorded;
  } kCases[] = {{true, message, "0", "1", "unreachable\n"}, {true, "-", "0", "125", "unreachable\n"},
                {true, "-", "2.3", "125", "125\n"},        {false, message, "0", "125", "125\n"}};
  std::string said;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.says + " " + c.seconds + " " + c.status);
    start.launchClient = c.launch;
    Run({"say", c.says, c.seconds, c.status});
    const int live = TakeHold();
    EXPECT_TRUE(Eventually([&] { return ReadAll(Start() + "/status") == c.recorded; }, 5000));
    close(live);
    EXPECT_TRUE(ShellEnds(3000));
    said += c.says + "\n";
  }
  EXPECT_EQ(ReadAll(folder.path() + "/stderr"), said);
  start.launchClient = true;
  unlink((folder.path() + "/argv").c_str());
  Run({"play"});
  const int live = TakeHold();
  ASSERT_TRUE(Eventually([&] { return Exists(folder.path() + "/argv"); }, 5000));
  close(live);
  EXPECT_TRUE(Eventually([&] { return ReadAll(folder.path() + "/ended") == "TERM\n"; }, 3000));
  EXPECT_TRUE(ShellEnds(3000));
}

// The player's standard output and error go into the FIFOs modrik reads
// when it asks for them, else where the host command's go. Each FIFO is
// there, held, once "live" is, and ends with the player: the host command
// keeps no copy of its own.
TEST_F(HostCommand, PlayersOutputsGoThroughTheFifosAskedFor) {
  const std::string out = "ligne d'été\n" + std::string(100000, 'o'), err = "an error\n";
  const struct {
    bool output, error;
  } rows[] = {{true, true}, {true, false}, {false, true}, {false, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.output) + std::to_string(row.error));
    start.output = row.output;
    start.error = row.error;
    Run({"write", out, err});
    ASSERT_TRUE(Eventually([&] { return Exists(Start() + "/live"); }, 5000));
    EXPECT_EQ(Exists(Start() + "/stdout"), row.output);
    EXPECT_EQ(Exists(Start() + "/stderr"), row.error);
    // (Opened as Wine opens them: at once, without waiting for a writer.)
    const int fifos[] = {row.output ? open((Start() + "/stdout").c_str(), O_RDONLY | O_NONBLOCK) : -1,
                         row.error ? open((Start() + "/stderr").c_str(), O_RDONLY | O_NONBLOCK) : -1};
    const int live = TakeHold();
    std::string got[2];
    for (int i = 0; i < 2; ++i) {
      if (fifos[i] < 0) continue;
      // To its end, which comes while the host command still runs.
      char buffer[65536];
      pollfd ready = {fifos[i], POLLIN, 0};
      ssize_t n = 1;
      while (n > 0 && poll(&ready, 1, 3000) == 1) {
        n = read(fifos[i], buffer, sizeof(buffer));
        if (n > 0) got[i].append(buffer, n);
      }
      EXPECT_EQ(n, 0) << "no end while modrik holds the start";
      close(fifos[i]);
    }
    EXPECT_EQ(got[0], row.output ? out : "");
    EXPECT_EQ(got[1], row.error ? err : "");
    EXPECT_TRUE(Eventually([&] { return ReadAll(Start() + "/status") == "0\n"; }, 5000));
    close(live);
    EXPECT_TRUE(ShellEnds(3000));
  }
  EXPECT_EQ(ReadAll(folder.path() + "/stdout"), out + out);
  EXPECT_EQ(ReadAll(folder.path() + "/stderr"), err + err);
}

// The folders of earlier starts whose host command is gone are removed;
// those in use (their lock held), and any without a lock, stay. Playlists'
// copies not written for a day go, with their folder once empty. A link
// is never followed: whatever it leads to stays as it was.
TEST_F(HostCommand, LeftoversOfEndedStartsAreRemoved) {
  const std::string in = start.folder + "/", keep = folder.path() + "/keep/";
  mkdir(keep.c_str(), 0700);
  for (const char* name : {"gone", "busy", "unlocked", "lock-linked", "list-0", "list-1", "list-3"})
    mkdir((in + name).c_str(), 0700);
  for (const std::string& file : {in + "gone/lock", in + "busy/lock", in + "list-0/old.m3u", in + "list-1/new.m3u",
                                  keep + "lock", keep + "file"})
    WriteAll(file, "kept");
  for (const auto& [target, link] : std::vector<std::pair<std::string, std::string>>{
           {keep, "linked"}, {keep + "lock", "lock-linked/lock"}, {keep, "list-2"}, {keep + "file", "list-3/old.m3u"}})
    ASSERT_EQ(symlink(target.c_str(), (in + link).c_str()), 0);
  // Two days old (a link's own time), folders last.
  for (const char* old : {"list-0/old.m3u", "list-3/old.m3u", "list-2", "list-0", "list-1", "list-3", "../../keep/file"}) {
    const timespec times[2] = {{time(nullptr) - 2 * 86400, 0}, {time(nullptr) - 2 * 86400, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (in + old).c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << old;
  }
  const int busy = open((in + "busy/lock").c_str(), O_RDONLY);
  ASSERT_EQ(flock(busy, LOCK_EX), 0);
  Run({"x"});
  close(TakeHold());
  EXPECT_TRUE(ShellEnds(3000));
  for (const char* gone : {"gone", "list-0", "list-3"}) EXPECT_FALSE(Exists(in + gone)) << gone;
  for (const char* stays : {"busy/lock", "unlocked", "lock-linked/lock", "list-1/new.m3u", "linked/file", "list-2/file"})
    EXPECT_TRUE(Exists(in + stays)) << stays;
  EXPECT_EQ(ReadAll(keep + "lock") + ReadAll(keep + "file"), "keptkept");
  close(busy);
}

}  // namespace

// The part of a start modrik waits for, run as host_command.sh runs a
// launch: it ends at once while the player plays, with 3 and nothing made
// when the private folder an earlier process chose is not the user's alone
// now; unchecked (verify off) the folder is used as modrik chose it. A home
// not found fit before is checked in the same program: 77 when others may
// write it.
TEST_F(HostCommand, LaunchChecksAnEarlierChoiceAndEndsAtOnce) {
  const struct Row {
    mode_t runMode, ownMode;
    bool ownIsLink, verify;
    int status;
    mode_t homeMode = 0700;
    bool homeChecked = true;
  } rows[] = {
      {0700, 0700, false, true, 0},  {0755, 0700, false, true, 0},  {0700, 0750, false, true, 3},
      {0770, 0700, false, true, 3},  {0700, 0700, true, true, 3},   {0700, 0701, false, false, 0},
      {0700, 0700, false, true, 0, 0755, false},  {0700, 0700, false, false, 0, 0700, false},
      {0700, 0700, false, true, 77, 0777, false}, {0700, 0700, false, false, 77, 0775, false},
      {0700, 0750, false, true, 77, 0757, false}, {0700, 0750, false, true, 3, 0755, false},
      {0700, 0700, false, true, 0, 0777, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::oct << row.runMode << " " << row.ownMode << " link " << row.ownIsLink
                                    << " home " << row.homeMode << (row.homeChecked ? " checked" : ""));
    chmod(folder.path().c_str(), row.homeMode);
    std::system(("rm -rf '" + folder.path() + "/run' '" + folder.path() + "/elsewhere'").c_str());
    mkdir((folder.path() + "/run").c_str(), 0700);
    if (row.ownIsLink) {
      mkdir((folder.path() + "/elsewhere").c_str(), 0700);
      symlink((folder.path() + "/elsewhere").c_str(), start.folder.c_str());
    } else {
      mkdir(start.folder.c_str(), 0700);
      chmod(start.folder.c_str(), row.ownMode);
    }
    chmod((folder.path() + "/run").c_str(), row.runMode);
    start.verifyFolder = row.verify;
    unlink((folder.path() + "/argv").c_str());
    const std::string command = modrik::NativePlayerCommand(player, {"x"}, start);
    const auto began = std::chrono::steady_clock::now();
    shell = fork();
    if (shell == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", "-c", modrik::host::host_command_sh, "sh", (folder.path() + "/dues.sh").c_str(), "launch",
            "child", "", row.homeChecked ? "checked" : "", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int wstatus = 0;
    waitpid(shell, &wstatus, 0);
    shell = 0;
    EXPECT_EQ(WEXITSTATUS(wstatus), row.status);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1000));
    if (row.status == 0) {
      // The player was started, and the start's folder made.
      EXPECT_TRUE(Eventually([&] { return Exists(folder.path() + "/argv"); }, 5000));
    } else {
      usleep(300 * 1000);
      EXPECT_FALSE(Exists(folder.path() + "/argv"));
      EXPECT_FALSE(Exists(Start()));
    }
    chmod((folder.path() + "/run").c_str(), 0700);
    chmod(folder.path().c_str(), 0700);
    // (The start, not held, ends within its bound of 1 s.)
    start.holdSeconds = 1;
    Eventually([&] { return !Exists(Start()); }, 3000);
  }
}
