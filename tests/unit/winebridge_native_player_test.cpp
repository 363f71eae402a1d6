// The native player's host command, run by the host's real /bin/sh, with
// the test playing modrik's part as Wine does it: "live" (and "in") opened
// for reading and writing, one byte to take hold, closing to let go.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "fake_platform.h"
#include "host_shell.h"
#include "winebridge/winebridge.h"

namespace {

using Words = std::vector<std::string>;

// Records its arguments; "-" copies standard input to a file; "play" plays
// until it is ended (recording TERM). Exits with status 3.
const char kPlayer[] =
    "#!/bin/sh\n"
    "d=$(dirname \"$0\")\n"
    "printf '%s\\0' \"$@\" > \"$d/argv\"\n"
    "trap 'kill $! 2>/dev/null; echo TERM > \"$d/ended\"; exit 143' TERM\n"
    "case \"$1\" in -) cat > \"$d/input\" ;; play) sleep 30 & wait $! ;; esac\n"
    "echo done > \"$d/ended\"\n"
    "exit 3\n";

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
    sys.environment["XDG_RUNTIME_DIR"] = folder.path() + "/run";
    mkdir((folder.path() + "/run").c_str(), 0700);
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

  std::string Start() const { return folder.path() + "/run/modrik/" + start.name; }

  // Runs the host command as the runner's dues.sh, in a process group of its own.
  void Run(const Words& args) {
    const std::string script = folder.path() + "/dues.sh";
    WriteAll(script, modrik::UnixScriptText(modrik::NativePlayerCommand(player, args, start)));
    shell = fork();
    if (shell == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", script.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  // Opens a FIFO of the start as Wine does.
  int Open(const std::string& name) {
    EXPECT_TRUE(Eventually([&] { return Exists(Start() + "/live"); }, 5000));
    return open((Start() + "/" + name).c_str(), O_RDWR);
  }
  int TakeHold() {
    const int live = Open("live");
    EXPECT_EQ(write(live, "+", 1), 1);
    return live;
  }
  bool ShellEnds(int boundMs) {
    const bool ended = Eventually([&] { return waitpid(shell, nullptr, WNOHANG) == shell; }, boundMs);
    if (ended) shell = 0;
    return ended;
  }
  std::string Ended() const { return ReadAll(folder.path() + "/ended"); }

  ScratchFolder folder;
  fake::FakePlatform sys;
  modrik::NativeStart start;
  std::string player;
  pid_t shell = 0;
};

TEST_F(HostCommand, RecordsThePlayersStatusAndRemovesTheStartOnceLetGo) {
  const Words args = {"it's $(x) \"a\"", "", "vid\xC3\xA9o\n.mkv", "--x=1"};
  Run(args);
  const int live = TakeHold();
  ASSERT_TRUE(Eventually([&] { return Exists(Start() + "/status"); }, 5000));
  EXPECT_EQ(ReadAll(Start() + "/status"), "3\n");
  std::string argv;
  for (const std::string& arg : args) argv += arg + '\0';
  EXPECT_EQ(ReadAll(folder.path() + "/argv"), argv);
  struct stat mode{};
  stat((folder.path() + "/run/modrik").c_str(), &mode);
  EXPECT_EQ(mode.st_mode & 0777, 0700u);
  // The start stays until modrik has let go of it.
  EXPECT_FALSE(ShellEnds(300));
  EXPECT_TRUE(Exists(Start() + "/status"));
  close(live);
  EXPECT_TRUE(ShellEnds(2000));
  EXPECT_FALSE(Exists(Start()));
}

// modrik ended (its FIFO's writing end closed), or it never took hold of the
// start within the bound: the player is ended and the start removed.
TEST_F(HostCommand, PlayerEndsWhenModrikLetsGoOrNeverTakesHold) {
  for (bool holds : {true, false}) {
    SCOPED_TRACE(holds ? "let go" : "never held");
    start.holdSeconds = 1;
    unlink((folder.path() + "/ended").c_str());
    Run({"play"});
    ASSERT_TRUE(Eventually([&] { return Exists(folder.path() + "/argv"); }, 5000));
    if (holds) {
      const int live = TakeHold();
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      EXPECT_EQ(Ended(), "");  // held past the bound: it plays on
      close(live);
    }
    EXPECT_TRUE(Eventually([&] { return Ended() == "TERM\n"; }, holds ? 1000 : 3000));
    EXPECT_TRUE(ShellEnds(2000));
    EXPECT_FALSE(Exists(Start()));
  }
}

TEST_F(HostCommand, StreamReachesThePlayerWholeAndItsEndEndsTheInput) {
  start.stream = true;
  Run({"-"});
  const int in = Open("in");
  const int live = TakeHold();
  std::string stream(1 << 20, '\0');
  for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<char>(i * 7 + i / 251);
  for (std::size_t done = 0; done < stream.size();) {
    const ssize_t n = write(in, stream.data() + done, stream.size() - done);
    ASSERT_GT(n, 0);
    done += static_cast<std::size_t>(n);
  }
  close(in);
  ASSERT_TRUE(Eventually([&] { return Exists(Start() + "/status"); }, 5000));
  EXPECT_TRUE(ReadAll(folder.path() + "/input") == stream);
  close(live);
  EXPECT_TRUE(ShellEnds(2000));
}

// The folders of earlier starts whose host command is gone are removed;
// those in use (their lock held), and any without a lock, stay.
TEST_F(HostCommand, LeftoversOfEndedStartsAreRemoved) {
  const std::string privateFolder = folder.path() + "/run/modrik/";
  mkdir(privateFolder.c_str(), 0700);
  for (const char* name : {"gone", "busy", "unlocked"}) mkdir((privateFolder + name).c_str(), 0700);
  WriteAll(privateFolder + "gone/lock", "");
  WriteAll(privateFolder + "gone/status", "0\n");
  WriteAll(privateFolder + "busy/lock", "");
  const int busy = open((privateFolder + "busy/lock").c_str(), O_RDONLY);
  ASSERT_EQ(flock(busy, LOCK_EX), 0);
  Run({"x"});
  close(TakeHold());
  EXPECT_TRUE(ShellEnds(3000));
  EXPECT_FALSE(Exists(privateFolder + "gone"));
  EXPECT_TRUE(Exists(privateFolder + "busy/lock"));
  EXPECT_TRUE(Exists(privateFolder + "unlocked"));
  close(busy);
}

}  // namespace
