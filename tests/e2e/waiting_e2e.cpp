// Callers that wait for the player's executable: a Windows program
// (mdkdrive.exe: CreateProcess, a wait, GetExitCodeProcess, a pipe on the
// child's standard input, TerminateProcess) starts modrik.exe with a native
// player, as a media centre, a torrent streamer or a stream tool does.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <random>

#include "harness.h"

using namespace e2e;

namespace {

class Waiting : public ::testing::Test {
 protected:
  void SetUp() override {
    exe_ = dir_.InstallModrik("app/modrik.exe");
    // The private folder of the starts, in the test's own runtime folder.
    MakeDirs(dir_.Host("run"));
    chmod(dir_.Host("run").c_str(), 0700);  // a runtime folder is the user's alone
    options_.hostEnv = {"XDG_RUNTIME_DIR=" + dir_.Host("run")};
    options_.cwd = dir_.WinDir();
  }
  std::string Player(const NativePlayerActs& acts) {
    const std::string player = dir_.MakeNativePlayer("bin/player", "", acts);
    WriteFile(dir_.Host("app/modrik.ini"), "[modrik]\r\nvlcpath=" + player + "\r\n");
    return player;
  }
  DriveResult Run(const std::string& tail) { return Drive(dir_, "\"" + exe_ + "\" " + tail, options_); }
  // Every file and FIFO of the starts is gone (the host removes them just
  // after modrik's end).
  bool StartsRemoved() {
    // (The host state kept for later starts stays.)
    for (int i = 0; i < 50; ++i, usleep(100000)) {
      std::error_code error;
      bool left = false;
      for (const auto& entry : std::filesystem::directory_iterator(dir_.Host("run/modrik"), error))
        left = left || entry.path().filename().string().rfind("state-", 0) != 0;
      if (!left && !error) return true;
    }
    return false;
  }

  // No process of the test's fakeplayer.exe is left within the bound.
  bool WindowsPlayerEnds(int boundMs) {
    for (int waited = 0; waited <= boundMs; waited += 100, usleep(100000)) {
      bool found = false;
      for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string line = ReadFile(entry.path().string() + "/cmdline").value_or("");
        found = found || (line.find("fakeplayer.exe") != std::string::npos &&
                          line.find("TerminatingTheCallerEndsThePlayer") != std::string::npos);
      }
      if (!found) return true;
    }
    return false;
  }

  TestFolder dir_ = TestFolder::ForCurrentTest();
  DriveOptions options_;
  std::string exe_;
};

TEST_F(Waiting, PlayersExitStatusReachesTheCaller) {
  const std::string player = Player({.status = 3, .playSeconds = 2});
  DriveResult d = Run("a.mkv");
  ASSERT_TRUE(d.ran && d.started) << d.raw;
  EXPECT_EQ(d.exitCode, 3) << d.raw;
  // The caller's wait lasted as long as the player played.
  auto end = ReadFile(player + ".end");
  ASSERT_TRUE(end && end->rfind("done ", 0) == 0) << end.value_or("no end");
  const long long playerEnd = std::stoll(end->substr(5));
  EXPECT_GE(d.endAt, playerEnd);
  EXPECT_LE(d.endAt, playerEnd + 1000);
  EXPECT_TRUE(StartsRemoved());
}

// The private folder is the user's own, and no link in it is followed: a
// runtime folder shared with everybody (another's "modrik" planted in it),
// or a link in the place of "modrik", is not used (~/.cache/modrik is), and
// what old playlist copies' links lead to stays, in the user's own folder
// too. Nothing is written behind a link either, nor in a list's copy folder
// that is a link (used ""): the player gets the list as it is.
TEST_F(Waiting, NothingIsWrittenOrRemovedThroughALink) {
  const std::string run = dir_.Host("run"), keep = dir_.Host("keep"), own = run + "/modrik";
  const std::string player = Player({}), cache = Wine::Get().Home() + "/.cache/modrik";
  ASSERT_TRUE(WriteFile(dir_.Host("a.m3u"), "a.mkv\r\n"));
  const struct {
    mode_t runMode, modrikMode;  // modrikMode 0: "modrik" is a link to keep
    std::string used;
  } rows[] = {{0700, 0700, own}, {01777, 0777, cache}, {0700, 0, cache}, {0700, 0700, ""}};
  std::string copies;  // a.m3u's copy folder, as the first start named it
  for (const auto& row : rows) {
    SCOPED_TRACE(row.runMode);
    for (const std::string& gone : {run, keep, player + ".rec"}) RemoveTree(gone);
    WriteFile(keep + "/old.m3u", "kept");
    WriteFile(keep + "/other", "kept");
    MakeDirs(run + (row.modrikMode ? "/modrik/list-1" : ""));
    chmod(run.c_str(), row.runMode);
    chmod(own.c_str(), row.modrikMode);
    // Links among copies and folders two days old (the links' own times).
    const std::pair<std::string, std::string> links[] = {{keep, "list-0"}, {keep + "/other", "list-1/old.m3u"}};
    for (const auto& [target, link] : links)
      if (row.modrikMode) symlink(target.c_str(), (own + "/" + link).c_str());
    if (!row.modrikMode) symlink(keep.c_str(), own.c_str());
    if (row.used.empty()) symlink(keep.c_str(), (own + "/" + copies).c_str());
    for (const std::string& old :
         {own + "/list-0", own + "/list-1/old.m3u", own + "/list-1", keep, keep + "/old.m3u", keep + "/other"}) {
      const timespec times[2] = {{time(nullptr) - 2 * 86400, 0}, {time(nullptr) - 2 * 86400, 0}};
      utimensat(AT_FDCWD, old.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    DriveResult d = Run("a.m3u");
    EXPECT_EQ(d.exitCode, 0) << d.raw;
    std::vector<NativePlayerRecord> got = WaitForNativePlayer(player + ".rec", 0);
    ASSERT_EQ(got.size(), 1u);
    const std::string arg = got[0].args.at(0);
    EXPECT_TRUE(row.used.empty() ? arg == dir_.Host("a.m3u") : arg.rfind(row.used + "/list-", 0) == 0) << arg;
    if (copies.empty()) copies = arg.substr(own.size() + 1, 21);
    EXPECT_EQ(ReadFile(keep + "/old.m3u").value_or("") + ReadFile(keep + "/other").value_or(""), "keptkept");
    std::error_code error;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(keep, error), {}), 2) << "written behind a link";
  }
}

TEST_F(Waiting, StreamOnStandardInputReachesThePlayerWhole) {
  const std::string player = Player({.keepsInput = true});
  std::string stream(2 << 20, '\0');
  std::mt19937 random(15);
  for (char& c : stream) c = static_cast<char>(random());
  ASSERT_TRUE(WriteFile(dir_.Host("stream.ts"), stream));
  options_.stdinFile = dir_.Host("stream.ts");
  DriveResult d = Run("-");
  ASSERT_TRUE(d.ran && d.started) << d.raw;
  EXPECT_EQ(d.exitCode, 0) << d.raw;
  auto got = ReadFile(player + ".in");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), stream.size());
  EXPECT_TRUE(*got == stream) << "the stream differs from what was written";
  ASSERT_EQ(WaitForNativePlayer(player + ".rec", 0).size(), 1u);
  EXPECT_EQ(WaitForNativePlayer(player + ".rec", 0)[0].args.at(0), "-");
  EXPECT_TRUE(StartsRemoved());
}

// The player writes to the handles the caller gave vlc.exe: pipes read to
// their end, or files, each stream to its own, whole, with the player's
// exit code. A caller that closed its pipe does not end the player.
TEST_F(Waiting, PlayersOutputReachesTheCallersPipesAndFiles) {
  std::string out = "VLC media player 3.0.21 « été »\n";
  for (int i = 0; out.size() < (300 << 10); ++i) out += "line " + std::to_string(i) + " of the stream\n";
  const std::string err = "[0000] main interface error: no suitable interface module\n";
  const std::string player = dir_.MakeNativePlayer("bin/player", out, {.status = 5, .printedToError = err});
  WriteFile(dir_.Host("app/modrik.ini"), "[modrik]\r\nvlcpath=" + player + "\r\n");
  const struct {
    std::string stdoutTo, stderrTo;
  } rows[] = {{"pipe", "pipe"},
              {dir_.Host("out.txt"), dir_.Host("err.txt")},
              {"pipe", dir_.Host("err 2.txt")},
              {"closed", dir_.Host("err 3.txt")}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stdoutTo + " " + row.stderrTo);
    options_.stdoutTo = row.stdoutTo;
    options_.stderrTo = row.stderrTo;
    DriveResult d = Run("--version");
    ASSERT_TRUE(d.ran && d.started) << d.raw;
    EXPECT_EQ(d.exitCode, 5) << d.raw;
    const std::string gotOut = row.stdoutTo == "closed" ? out
                               : row.stdoutTo == "pipe" ? d.out
                                                        : ReadFile(row.stdoutTo).value_or("no file");
    const std::string gotErr = row.stderrTo == "pipe" ? d.err : ReadFile(row.stderrTo).value_or("no file");
    EXPECT_EQ(gotOut.size(), out.size());
    EXPECT_TRUE(gotOut == out) << gotOut.substr(0, 200);
    EXPECT_EQ(gotErr, err);
    EXPECT_TRUE(StartsRemoved());
  }
}

// However early modrik is ended after the player started, the player gets
// SIGTERM within a second; a Windows player ends with it too.
TEST_F(Waiting, TerminatingTheCallerEndsThePlayer) {
  for (const auto& [afterMs, windows] : {std::pair{1000, false}, {50, false}, {50, true}}) {
    SCOPED_TRACE(std::to_string(afterMs) + (windows ? " ms, Windows player" : " ms"));
    const std::string player = Player({.playSeconds = 120});
    RemoveTree(player + ".rec");
    RemoveTree(player + ".end");
    options_.terminateWhen = player + ".rec";
    if (windows) {
      const std::string exe = dir_.InstallTool("fakeplayer", "win/fakeplayer.exe");
      WriteFile(dir_.Host("app/modrik.ini"), "[modrik]\r\nvlcpath=" + exe + "\r\n");
      options_.setEnv = {"MDK_PLAY_MS=60000"};
      options_.terminateWhen = dir_.Host("win/fakeplayer.exe.rec");
    }
    options_.terminateAfterMs = afterMs;
    DriveResult d = Run("a.mkv");
    ASSERT_TRUE(d.ran && d.started) << d.raw;
    ASSERT_GT(d.terminatedAt, 0) << d.raw;
    if (windows) {
      EXPECT_TRUE(WindowsPlayerEnds(2000));
      continue;
    }
    auto end = WaitForFile(player + ".end", 5000);
    ASSERT_TRUE(end && end->rfind("TERM ", 0) == 0) << end.value_or("no end");
    EXPECT_LT(std::stoll(end->substr(5)) - d.terminatedAt, 1000) << *end << d.raw;
    EXPECT_TRUE(StartsRemoved());
  }
}

}  // namespace
