// Several modrik processes at once, as when a Windows program opens many
// files together: every file must reach the native player exactly once,
// although all of them pass through the one ~/dues.sh, and each process
// lives until its player has ended: the host commands of earlier starts
// still run while later starts put a new dues.sh in place.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

// Starts `count` modrik processes together, each with its own file and each
// waited for, and returns how many times each file reached the player.
// With `ownStatus`, the player of clipN.mkv ends with 10 + N, and each
// caller must get its own player's.
std::map<std::string, int> StartTogether(int count, bool ownStatus = false) {
  Wine& wine = Wine::Get();
  TestFolder dir = TestFolder::ForCurrentTest();
  dir.InstallModrik();
  std::string player = dir.MakeNativePlayer("bin/vlc", "", {.status = 0, .playSeconds = 1});
  if (ownStatus) {
    // (The recording player, then its own status.)
    WriteFile(dir.Host("bin/own"), "#!/bin/sh\n'" + player + "' \"$@\"\nn=${1##*clip}\nexit $((${n%.mkv} + 10))\n");
    chmod(dir.Host("bin/own").c_str(), 0755);
  }
  const std::string configured = ownStatus ? dir.Host("bin/own") : player;
  MakeDirs(dir.Host("run"));
  chmod(dir.Host("run").c_str(), 0700);  // a runtime folder is the user's alone
  const std::vector<std::string> env = wine.Environment({"XDG_RUNTIME_DIR=" + dir.Host("run")});
  WriteFile(dir.Host("modrik.ini"), "[modrik]\r\nvlcpath=" + configured + "\r\n");
  // A first start registers the program on the desktop, so that the
  // simultaneous ones below all take the common path.
  WriteFile(dir.Host("warmup.mkv"), "w");
  wine.RunWine(dir.Host("modrik.exe"), {dir.Win("warmup.mkv")}, 60000, dir.HostDir());
  WaitForNativePlayer(player + ".rec", 15000, 1);
  RemoveTree(player + ".rec");
  RemoveTree(player + ".end");

  std::vector<std::thread> starts;
  std::vector<std::string> files;
  for (int i = 0; i < count; ++i) {
    files.push_back("clip" + std::to_string(i) + ".mkv");
    WriteFile(dir.Host(files.back()), "x");
  }
  std::vector<RunResult> ends(count);
  for (int i = 0; i < count; ++i) {
    starts.emplace_back([&, i] {
      ends[i] = RunProcess({"wine", dir.Host("modrik.exe"), dir.Win(files[i])}, env,
                           wine.LogDir() + "/together-" + std::to_string(getpid()) + "-" + std::to_string(i),
                           300000, dir.HostDir());
    });
  }
  for (auto& t : starts) t.join();
  // Every start ended after its player, with its status.
  int played = 0;
  for (const char c : ReadFile(player + ".end").value_or("")) played += c == '\n';
  EXPECT_EQ(played, count);
  for (int i = 0; i < count; ++i)
    EXPECT_TRUE(ends[i].exitCode == (ownStatus ? 10 + i : 0) && !ends[i].timedOut)
        << files[i] << ": " << ends[i].exitCode << " " << ends[i].err;
  // Each start's host command removes its folder once its caller has let
  // go of it, a moment after the caller ends: allow them all 20 s.
  std::vector<std::string> left;
  for (int waited = 0; waited < 200; ++waited) {
    left.clear();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Host("run/modrik"), error))
      if (entry.path().filename().string().rfind("state-", 0) != 0) left.push_back(entry.path().filename());
    if (left.empty()) break;
    usleep(100 * 1000);
  }
  EXPECT_TRUE(left.empty()) << "files of the starts are left: " << testing::PrintToString(left);
  std::vector<NativePlayerRecord> records =
      WaitForNativePlayer(player + ".rec", 60000, static_cast<size_t>(count));
  // Late duplicates would show up shortly after.
  usleep(1000 * 1000);
  records = ParseNativePlayerRecords(ReadFile(player + ".rec").value_or(""));

  std::map<std::string, int> seen;
  for (const std::string& f : files) seen[dir.Win(f)] = 0;
  for (const NativePlayerRecord& r : records) {
    for (const std::string& arg : r.args) {
      std::string name = arg.substr(arg.find_last_of('/') + 1);
      seen[dir.Win(name)] += 1;
    }
  }
  return seen;
}

void ExpectEachOnce(const std::map<std::string, int>& seen, int count) {
  int distinct = 0;
  for (const auto& [file, times] : seen) {
    EXPECT_EQ(times, 1) << file;
    if (times > 0) ++distinct;
  }
  EXPECT_EQ(distinct, count);
  std::printf("simultaneous starts: %d, distinct files played: %d\n", count, distinct);
}

}  // namespace

TEST(Concurrency, EightSimultaneousStartsPlayEightFiles) { ExpectEachOnce(StartTogether(8), 8); }

TEST(Concurrency, SixteenSimultaneousStartsPlaySixteenFiles) {
  ExpectEachOnce(StartTogether(16), 16);
}

// 32 callers at once: every start reaches the player, and each caller ends
// with its own player's status.
TEST(Concurrency, ThirtyTwoCallersAtOnceEachGetTheirOwnPlayersStatus) {
  ExpectEachOnce(StartTogether(32, true), 32);
}
