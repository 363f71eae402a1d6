// Bad input and faults of the surroundings, end to end: odd settings files,
// every printable character on the command line, hostile names on every way
// that leads to the host shell, another user's scripts, a host without gio. Each case has one exact
// expected outcome, and nothing may hang, crash or run a file name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

using Args = std::vector<std::string>;
const int kIdOk = 1;
const int kPlayerWaitMs = 15000;

std::string Turned(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

class Robustness : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Exists(ModrikExe()));
    exe_ = dir_.InstallModrik("app/modrik.exe");
    winPlayer_ = dir_.InstallTool("fakeplayer", "wp/fakeplayer.exe");
    nativePlayer_ = dir_.MakeNativePlayer("bin/vlc");
  }

  DriveResult Run(const std::string& exeWin, const std::string& tail, DriveOptions o = {}) {
    if (o.answers.empty()) o.answers = {kIdOk};
    if (o.cwd.empty()) o.cwd = dir_.WinDir();
    return Drive(dir_, "\"" + exeWin + "\"" + (tail.empty() ? "" : " " + tail), o);
  }
  DriveResult Run(const std::string& tail) { return Run(exe_, tail); }

  static void ExpectCleanEndWithoutBox(const DriveResult& d) {
    ASSERT_TRUE(d.ran && d.started) << d.raw;
    EXPECT_FALSE(d.timedOut) << d.raw;
    EXPECT_EQ(d.exitCode, 0) << d.raw;
    EXPECT_TRUE(d.boxes.empty()) << (d.boxes.empty() ? "" : d.boxes[0].text);
  }

  // The one start of the Windows fake player, or an empty record.
  WinPlayerRecord WinPlayerStart() {
    auto recs = WaitForWinPlayer(dir_.Host("wp/fakeplayer.exe.rec"), kPlayerWaitMs);
    RemoveTree(dir_.Host("wp/fakeplayer.exe.rec"));
    if (recs.size() != 1) {
      ADD_FAILURE() << "Windows player starts: " << recs.size();
      return WinPlayerRecord();
    }
    return recs[0];
  }
  NativePlayerRecord NativePlayerStart() {
    auto recs = WaitForNativePlayer(nativePlayer_ + ".rec", kPlayerWaitMs);
    RemoveTree(nativePlayer_ + ".rec");
    if (recs.size() != 1) {
      ADD_FAILURE() << "native player starts: " << recs.size();
      return NativePlayerRecord();
    }
    return recs[0];
  }

  TestFolder dir_ = TestFolder::ForCurrentTest();
  std::string exe_, winPlayer_, nativePlayer_;
};

}  // namespace

TEST_F(Robustness, SettingsFileVariants) {
  const std::string notFound = "VLC Media Player not found.\r\rPlease manually set the VLC filepath\rinto \"" +
                               dir_.Win("app/modrik.ini") + "\"";
  const std::string other = dir_.InstallTool("fakeplayer", "other/fakeplayer.exe");
  struct Case {
    const char* what;
    std::string bytes;
    bool starts;
  };
  const std::vector<Case> cases = {
      {"empty", "", false},
      {"no section", "vlcpath=" + winPlayer_ + "\r\n", false},
      {"another section", "[other]\r\nvlcpath=" + winPlayer_ + "\r\n", false},
      {"the key twice: the first counts",
       "[modrik]\r\nvlcpath=" + winPlayer_ + "\r\nvlcpath=" + other + "\r\n", true},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF[modrik]\r\nvlcpath=" + winPlayer_ + "\r\n", true},
      {"quoted value", "[modrik]\r\nvlcpath=\"" + winPlayer_ + "\"\r\n", true},
      {"blanks around the value", "[modrik]\r\nvlcpath =   " + winPlayer_ + "   \r\n", true},
      {"line feeds only", "[modrik]\nvlcpath=" + winPlayer_ + "\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteFile(dir_.Host("app/modrik.ini"), c.bytes));
    DriveResult d = Run("a.mkv");
    ASSERT_TRUE(d.ran && d.started) << d.raw;
    EXPECT_EQ(d.exitCode, c.starts ? 0 : 127);  // 127: no player configured or found
    if (c.starts) {
      EXPECT_TRUE(d.boxes.empty()) << d.raw;
      EXPECT_EQ(WinPlayerStart().cmdline, "\"" + winPlayer_ + "\" a.mkv");
    } else {
      ASSERT_EQ(d.boxes.size(), 1u) << d.raw;
      EXPECT_EQ(d.boxes[0].text, notFound);
    }
    // The program never rewrites an existing settings file.
    EXPECT_EQ(ReadFile(dir_.Host("app/modrik.ini")), c.bytes);
  }
  EXPECT_FALSE(Exists(dir_.Host("other/fakeplayer.exe.rec")));
}

TEST_F(Robustness, EveryPrintableCharacterOnTheCommandLine) {
  std::string printable;
  for (char c = 33; c < 127; ++c) printable += c;
  std::string noQuote;
  for (char c : printable)
    if (c != '"') noQuote += c;

  // A Windows player gets the tail byte for byte.
  const std::string tail = "-x " + printable + " \"a b\" " + printable;
  ASSERT_TRUE(WriteFile(dir_.Host("app/modrik.ini"), "[modrik]\r\nvlcpath=" + winPlayer_ + "\r\n"));
  DriveResult d = Run(tail);
  ExpectCleanEndWithoutBox(d);
  EXPECT_EQ(WinPlayerStart().cmdline, "\"" + winPlayer_ + "\" " + tail);

  // A native player gets the option and the translated path as two words;
  // as Windows does, the path loses the period that ends a folder's name.
  ASSERT_TRUE(WriteFile(dir_.Host("app/modrik.ini"), "[modrik]\r\nvlcpath=" + nativePlayer_ + "\r\n"));
  d = Run("--opt=" + noQuote + " \"C:\\dir\\ " + noQuote + "\"");
  ExpectCleanEndWithoutBox(d);
  std::string path = Turned(noQuote);
  path.erase(path.find("./"), 1);
  EXPECT_EQ(NativePlayerStart().args, Args({"--opt=" + noQuote, Wine::Get().DriveC() + "/dir/ " + path}));
}

TEST_F(Robustness, HostileNamesOnEveryWayToTheHostShell) {
  const std::string home = Wine::Get().Home();
  const std::vector<std::string> canaries = {home + "/CANARY", "/CANARY", "/usr/bin/CANARY",
                                             dir_.Host("CANARY")};
  for (const auto& c : canaries) RemoveTree(c);
  // Folder and executable names that are shell code if read unquoted, with
  // quotes and leading dashes.
  const std::string folder = "-rf x'$(cd;touch CANARY)' `touch CANARY`; touch CANARY & y";
  const std::string exeName = "-v $(cd;touch CANARY) it's";
  ASSERT_TRUE(MakeDirs(dir_.Host(folder)));
  ASSERT_TRUE(CopyFile(ModrikExe(), dir_.Host(folder + "/" + exeName + ".exe")));
  ASSERT_TRUE(WriteFile(dir_.Host(folder + "/modrik.ini"), "[modrik]\r\nvlcpath=" + nativePlayer_ + "\r\n"));
  const std::string exeWin = dir_.Win(folder + "/" + exeName + ".exe");

  // No arguments: the current folder (the hostile one) is played.
  DriveOptions inFolder;
  inFolder.cwd = dir_.Win(folder);
  DriveResult d = Run(exeWin, "", inFolder);
  ExpectCleanEndWithoutBox(d);
  EXPECT_EQ(NativePlayerStart().args, Args({"--random", dir_.Host(folder)}));

  // An option and a path inside it, with leading dashes in the name.
  const std::string file = folder + "/--help;touch CANARY.mkv";
  ASSERT_TRUE(WriteFile(dir_.Host(file), "m"));
  d = Run(exeWin, "-f \"" + dir_.Win(file) + "\"", {});
  ExpectCleanEndWithoutBox(d);
  NativePlayerRecord got = NativePlayerStart();
  EXPECT_EQ(got.args, Args({"-f", dir_.Host(file)}));
  if (got.args.size() == 2) {
    EXPECT_EQ(ReadFile(got.args[1]), "m");
  }

  // A player in a folder whose name holds a quote, an apostrophe, a '$' and
  // blanks plays.
  const std::string quoted = dir_.MakeNativePlayer("say \"hi\" it's $HOME/vlc");
  ASSERT_TRUE(WriteFile(dir_.Host(folder + "/modrik.ini"), "[modrik]\r\nvlcpath=" + quoted + "\r\n"));
  ExpectCleanEndWithoutBox(Run(exeWin, "-f", {}));
  EXPECT_EQ(WaitForNativePlayer(quoted + ".rec", kPlayerWaitMs).size(), 1u);

  // The file-manager icon commands named the executable and its desktop
  // entry; the entry exists for this executable.
  EXPECT_TRUE(Exists(home + "/.local/share/applications/wine--v$(cd;touchcanary)it's.desktop") ||
              !Exists(home + "/.local/share/applications"));
  for (const auto& c : canaries) EXPECT_FALSE(Exists(c)) << c << " appeared";
}

// A home that others may write (0777): another local user renames scripts
// of theirs (each leaves a file named after whoever runs it) over dues.sh
// for 25 s while the user starts modrik 6 times. None of them runs as the
// user: each start is refused (126), and the trace says why.
TEST_F(Robustness, ScriptsRenamedOverDuesShInAHomeOpenToAllNeverRun) {
  const std::string home = Wine::Get().Home(), other = Wine::Get().User() + "x", ran = "/var/tmp/mdk-ran-" + other;
  const std::string log = Wine::Get().LogDir() + "/other", loop =
      "n=0; trap 'echo $n; exit' TERM; while :; do printf '#!/bin/bash\\ntouch %s/as-$(id -un)\\n' \"$2\" "
      ">\"$1/.theirs\" && mv -f \"$1/.theirs\" \"$1/dues.sh\" && n=$((n + 1)); done";
  ASSERT_EQ(RunProcess({"sh", "-c", "id -u \"$0\" || useradd \"$0\"", other}, {}, log, 30000).exitCode, 0);
  RemoveTree(ran);
  struct stat was {};
  ASSERT_TRUE(MakeDirs(ran) && chmod(ran.c_str(), 0777) == 0 && stat(home.c_str(), &was) == 0);
  ASSERT_TRUE(WriteFile(dir_.Host("app/modrik.ini"), "[modrik]\r\nvlcpath=" + nativePlayer_ + "\r\n"));
  RunResult theirs;
  chmod(home.c_str(), 0777);
  std::thread renamer([&] {
    theirs = RunProcess({"runuser", "-u", other, "--", "timeout", "25", "sh", "-c", loop, "sh", home, ran},
                        Wine::Get().Environment(), log, 40000);
  });
  DriveOptions traced;
  traced.hostEnv = {"WINEDEBUG=+debugstr"};
  for (int i = 0; i < 6; ++i) {
    DriveResult d = Run(exe_, "a.mkv", traced);
    EXPECT_EQ(d.exitCode, 126) << d.raw;
    EXPECT_NE(d.wineErr.find("is not the user's alone (another user's, or others may write it)"), std::string::npos);
  }
  renamer.join();
  chmod(home.c_str(), was.st_mode & 07777);
  RemoveTree(home + "/.theirs");
  EXPECT_GT(std::atoi(theirs.out.c_str()), 100) << theirs.out << theirs.err;  // renamed all along
  EXPECT_TRUE(std::filesystem::is_empty(ran)) << "a script of theirs ran";
}

// Takes /usr/bin/gio away for the life of the object (and puts it back).
class WithoutGio {
 public:
  WithoutGio() {
    if (Exists(kHidden) && !Exists(kGio)) rename(kHidden, kGio);  // left over from a crash
    ok_ = rename(kGio, kHidden) == 0;
  }
  ~WithoutGio() {
    if (ok_) rename(kHidden, kGio);
  }
  bool ok() const { return ok_; }

 private:
  static constexpr const char* kGio = "/usr/bin/gio";
  static constexpr const char* kHidden = "/usr/bin/gio.modrik-test-hidden";
  bool ok_ = false;
};

TEST_F(Robustness, HostWithoutGioStillPlays) {
  const std::string home = Wine::Get().Home();
  MakeDirs(home + "/.local/share/applications");
  MakeDirs(home + "/.local/share/icons");
  RemoveTree(home + "/.local/share/applications/wine-nogio.desktop");
  const std::string exe = dir_.InstallModrik("app/NoGio.exe");
  ASSERT_TRUE(WriteFile(dir_.Host("app/modrik.ini"), "[modrik]\r\nvlcpath=" + nativePlayer_ + "\r\n"));
  ASSERT_TRUE(WriteFile(dir_.Host("clip.mkv"), "c"));
  {
    WithoutGio noGio;
    ASSERT_TRUE(noGio.ok());
    DriveResult d = Run(exe, "\"" + dir_.Win("clip.mkv") + "\"", {});
    ExpectCleanEndWithoutBox(d);
    EXPECT_EQ(d.wineErr.find("/bin/gio"), std::string::npos) << d.wineErr;  // the trace's, not the caller's
    NativePlayerRecord got = NativePlayerStart();
    ASSERT_EQ(got.args.size(), 1u);
    EXPECT_EQ(ReadFile(got.args[0]), "c");
  }
  EXPECT_TRUE(Exists(home + "/.local/share/applications/wine-nogio.desktop"));
  EXPECT_TRUE(Exists("/usr/bin/gio"));
}

TEST_F(Robustness, UserWithoutAHomeFolderStillGetsAWindowsPlayer) {
  ASSERT_TRUE(WriteFile(dir_.Host("app/modrik.ini"), "[modrik]\r\nvlcpath=" + winPlayer_ + "\r\n"));
  DriveOptions o;
  o.setEnv = {"USERNAME=nosuchuser"};
  DriveResult d = Run(exe_, "a.mkv", o);
  ExpectCleanEndWithoutBox(d);
  EXPECT_EQ(WinPlayerStart().cmdline, "\"" + winPlayer_ + "\" a.mkv");
  EXPECT_FALSE(Exists("/home/nosuchuser"));
}

TEST_F(Robustness, SeveralFilesOpenedTogetherAllReachThePlayer) {
  ASSERT_TRUE(WriteFile(dir_.Host("app/modrik.ini"), "[modrik]\r\nvlcpath=" + nativePlayer_ + "\r\n"));
  ASSERT_TRUE(WriteFile(dir_.Host("first clip.mkv"), "1"));
  ASSERT_TRUE(WriteFile(dir_.Host("second (b).mkv"), "2"));
  ASSERT_TRUE(WriteFile(dir_.Host("third.mkv"), "3"));
  DriveResult d = Run("\"" + dir_.Win("first clip.mkv") + "\" \"" + dir_.Win("second (b).mkv") + "\" " +
                      dir_.Win("third.mkv"));
  ExpectCleanEndWithoutBox(d);
  NativePlayerRecord got = NativePlayerStart();
  ASSERT_EQ(got.args.size(), 3u);
  EXPECT_EQ(ReadFile(got.args[0]), "1");
  EXPECT_EQ(got.args[1], dir_.Host("second (b).mkv"));
  EXPECT_EQ(got.args[2], dir_.Host("third.mkv"));
}
