// Checks of the end-to-end harness itself, with the Windows test tools only
// (no modrik.exe needed): message boxes, exit codes, hangs, environment
// changes, the fake players' records and the field format.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "harness.h"

using namespace e2e;

namespace {

const int kWaitMs = 10000;

TEST(HarnessFields, RoundTripKeepsEveryByte) {
  std::string odd("a\r\nb\0c \"q\" 12:\n", 16);
  Fields in{{"k", odd}, {"empty", ""}, {"n", "42"}};
  Fields out;
  ASSERT_TRUE(ParseFields(FormatFields(in), &out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].value, odd);
  EXPECT_EQ(out[1].value, "");
  EXPECT_EQ(FieldValue(out, "n"), "42");
  EXPECT_EQ(FieldValue(out, "missing"), std::nullopt);
}

TEST(HarnessFields, RejectsMalformedInput) {
  Fields out;
  EXPECT_FALSE(ParseFields("k 5:abc\n", &out));   // short value
  EXPECT_FALSE(ParseFields("k 3:abcX", &out));    // no LF after the value
  EXPECT_FALSE(ParseFields("k x:abc\n", &out));   // no count
  EXPECT_FALSE(ParseFields("nokey\n", &out));
  EXPECT_TRUE(ParseFields("", &out));
  EXPECT_TRUE(out.empty());
}

TEST(HarnessRecords, NativeRecordsKeepBlanksQuotesAndLineFeeds) {
  std::string rec;
  for (std::string t : {"REC", "/p/play", "/usr/bin", "3", "a b", "\"q\"\n", "", "END"}) rec += t + '\0';
  auto recs = ParseNativePlayerRecords(rec + rec.substr(0, 10));  // second one incomplete
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].argv0, "/p/play");
  EXPECT_EQ(recs[0].cwd, "/usr/bin");
  EXPECT_EQ(recs[0].args, (std::vector<std::string>{"a b", "\"q\"\n", ""}));
}

TEST(HarnessProcess, ExitCodesFailuresAndBounds) {
  const std::string logs = "/tmp/mdk-e2e-process-" + std::to_string(::getpid());
  RunResult r = RunProcess({"/nonexistent/mdk/program"}, {}, logs + "/a", 5000);
  EXPECT_FALSE(r.started);
  r = RunProcess({"sh", "-c", "printf 'o\\0ut'; printf err >&2; exit 127"}, {"PATH=/usr/bin:/bin"}, logs + "/b", 5000);
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.exitCode, 127);
  EXPECT_EQ(r.out, std::string("o\0ut", 4));
  EXPECT_EQ(r.err, "err");
  auto t0 = std::chrono::steady_clock::now();
  r = RunProcess({"sleep", "20"}, {"PATH=/usr/bin:/bin"}, logs + "/c", 300);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_TRUE(r.timedOut);
  EXPECT_LT(ms, 3000);
  // Only standard input, output and error reach the child (and the
  // descriptor ls opens to read the folder).
  int extra = ::open("/dev/null", O_RDONLY);
  r = RunProcess({"ls", "/proc/self/fd"}, {"PATH=/usr/bin:/bin"}, logs + "/d", 5000);
  ::close(extra);
  EXPECT_EQ(r.out, "0\n1\n2\n3\n");
  RemoveTree(logs);
}

TEST(HarnessWine, WindowsPathOfHostPaths) {
  Wine& w = Wine::Get();
  EXPECT_EQ(w.WindowsPath(w.DriveC() + "/mdk-e2e/x/modrik.ini"), "C:\\mdk-e2e\\x\\modrik.ini");
  EXPECT_EQ(w.WindowsPath("/tmp/a b/c"), "Z:\\tmp\\a b\\c");
}

TEST(HarnessDrive, RecordsBoxesAnswersAndExitCode) {
  TestFolder dir = TestFolder::ForCurrentTest();
  std::string exe = dir.InstallTool("mdkboxes", "mdkboxes.exe");
  DriveOptions o;
  o.answers = {7};  // No; the second box then gets the default (OK)
  DriveResult d = Drive(dir, "\"" + exe + "\"", o);
  ASSERT_TRUE(d.ran) << d.raw;
  ASSERT_TRUE(d.started) << d.raw;
  EXPECT_FALSE(d.timedOut);
  EXPECT_EQ(d.exitCode, 107);
  ASSERT_EQ(d.boxes.size(), 2u) << d.raw;
  EXPECT_EQ(d.boxes[0].title, "mdkboxes Q");
  EXPECT_EQ(d.boxes[0].text, "first\r\rsecond");
  EXPECT_EQ(d.boxes[0].buttons, "6,7");
  EXPECT_EQ(d.boxes[0].answer, 7);
  EXPECT_EQ(d.boxes[0].icon, "shown");
  EXPECT_EQ(d.boxes[1].title, "mdkboxes I");
  EXPECT_EQ(d.boxes[1].text, "answer=7");
  EXPECT_EQ(d.boxes[1].buttons, "1");
  EXPECT_EQ(d.boxes[1].answer, 1);

  o.answers = {6, 1};
  d = Drive(dir, "\"" + exe + "\"", o);
  ASSERT_EQ(d.boxes.size(), 2u) << d.raw;
  EXPECT_EQ(d.boxes[1].text, "answer=6");
  EXPECT_EQ(d.exitCode, 106);
}

TEST(HarnessDrive, KillsAHungProgramAtTheBound) {
  TestFolder dir = TestFolder::ForCurrentTest();
  std::string exe = dir.InstallTool("mdkboxes", "mdkboxes.exe");
  DriveOptions o;
  o.timeoutMs = 1500;
  DriveResult d = Drive(dir, "\"" + exe + "\" hang", o);
  ASSERT_TRUE(d.ran) << d.raw;
  EXPECT_TRUE(d.timedOut);
  EXPECT_GE(d.ms, 1500);
  EXPECT_LT(d.ms, 10000);
}

TEST(HarnessDrive, ReportsAProgramThatCannotStart) {
  TestFolder dir = TestFolder::ForCurrentTest();
  DriveResult d = Drive(dir, "\"" + dir.Win("missing.exe") + "\"");
  ASSERT_TRUE(d.ran) << d.raw;
  EXPECT_FALSE(d.started);
  EXPECT_NE(d.error, 0);
}

TEST(HarnessDrive, ChangesTheEnvironment) {
  TestFolder dir = TestFolder::ForCurrentTest();
  std::string exe = dir.InstallTool("mdkboxes", "mdkboxes.exe");
  DriveResult d = Drive(dir, "\"" + exe + "\" env USERNAME");
  EXPECT_EQ(d.exitCode, static_cast<long>(Wine::Get().User().size())) << d.raw;
  DriveOptions o;
  o.unsetEnv = {"USERNAME"};
  d = Drive(dir, "\"" + exe + "\" env USERNAME", o);
  EXPECT_EQ(d.exitCode, 999) << d.raw;
  o = {};
  o.setEnv = {"MDK_PROBE=12345"};
  d = Drive(dir, "\"" + exe + "\" env MDK_PROBE", o);
  EXPECT_EQ(d.exitCode, 5) << d.raw;
}

TEST(HarnessPlayers, WindowsFakePlayerRecordsItsStart) {
  TestFolder dir = TestFolder::ForCurrentTest();
  std::string exe = dir.InstallTool("fakeplayer", "Fake Player/fakeplayer.exe");
  const std::string cmd = "\"" + exe + "\" a  \"b c\" \r\n tail ";
  DriveOptions o;
  o.cwd = dir.WinDir();
  o.unsetEnv = {"USERNAME"};
  DriveResult d = Drive(dir, cmd, o);
  ASSERT_EQ(d.exitCode, 0) << d.raw;
  EXPECT_TRUE(d.boxes.empty());
  d = Drive(dir, cmd, {});
  auto recs = WaitForWinPlayer(dir.Host("Fake Player/fakeplayer.exe.rec"), kWaitMs, 2);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].cmdline, cmd);
  EXPECT_EQ(recs[0].cwd, dir.WinDir());
  EXPECT_EQ(recs[0].flags, 0);
  EXPECT_EQ(recs[0].username, std::nullopt);
  EXPECT_EQ(recs[1].username, Wine::Get().User());
}

TEST(HarnessPlayers, NativeFakePlayerRecordsItsStart) {
  TestFolder dir = TestFolder::ForCurrentTest();
  std::string script = dir.MakeNativePlayer("bin/fake player.sh");
  RunResult r = RunProcess({script, "a b", "", "line\nfeed", "'q'\"x\""}, Wine::Get().Environment(),
                           dir.Host(".mdk/native"), kWaitMs, "/tmp");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto recs = WaitForNativePlayer(script + ".rec", kWaitMs);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].argv0, script);
  EXPECT_EQ(recs[0].cwd, "/tmp");
  EXPECT_EQ(recs[0].args, (std::vector<std::string>{"a b", "", "line\nfeed", "'q'\"x\""}));
}

TEST(HarnessFiles, WaitForFileIsBounded) {
  TestFolder dir = TestFolder::ForCurrentTest();
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForFile(dir.Host("never"), 300), std::nullopt);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 300);
  EXPECT_LT(ms, 3000);
  ASSERT_TRUE(WriteFile(dir.Host("f"), std::string("x\0y\r\n", 5)));
  EXPECT_EQ(WaitForFile(dir.Host("f"), 300), std::string("x\0y\r\n", 5));
}

}  // namespace
