// End-to-end tests of the launcher: the real modrik.exe under Wine, driven by
// mdkdrive.exe (message boxes, exit code), with fake Windows and native
// players recording how they were started.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <random>

#include "harness.h"

using namespace e2e;

namespace {

const std::string kTitle = "modrik 1.5";
const std::string kQuestion =
    "This is your first time launching this program.\r\rDo you want to auto-detect VLC Media "
    "Player on your system?";
const std::string kTemplateHead =
    "[modrik]\r\n"
    "# Replace the following with any 'vlc.exe' filepath you want to use:\r\n"
    "# If you are running under Unix/Wine, Unix paths also work e.g. /usr/bin/vlc\r\n"
    "vlcpath=";
const int kIdYes = 6, kIdNo = 7, kIdOk = 1;
const long kExitNoPlayer = 127;  // the exit code when no player is configured or found
const int kPlayerWaitMs = 10000;  // bound for a player that should start
const int kQuietMs = 2500;        // how long a player that must not start is watched

// The settings file as written on a first run.
std::string Template(const std::string& playerPath) { return kTemplateHead + playerPath + "\r\n"; }

// A settings file with the given vlcpath line value.
std::string Settings(const std::string& value) { return "[modrik]\r\nvlcpath=" + value + "\r\n"; }

// One installed copy of modrik.exe in a fresh folder: <test>\app\modrik.exe,
// its settings file <test>\app\modrik.ini.
class Launcher : public ::testing::Test {
 protected:
  Launcher() : dir_(TestFolder::ForCurrentTest()) {}

  void SetUp() override {
    ASSERT_TRUE(Exists(ModrikExe())) << ModrikExe() << " is not built";
    exe_ = dir_.InstallModrik("app/modrik.exe");
  }

  // The command line that starts the installed copy with the given tail.
  std::string Line(const std::string& tail) const {
    return "\"" + exe_ + "\"" + (tail.empty() ? "" : " " + tail);
  }
  // Runs the copy with a tail and box answers (further boxes get OK).
  DriveResult Run(const std::string& tail, std::vector<int> answers = {}, DriveOptions o = {}) {
    o.answers = std::move(answers);
    if (o.cwd.empty()) o.cwd = dir_.WinDir();
    return Drive(dir_, Line(tail), o);
  }
  std::string NotFound() const {
    return "VLC Media Player not found.\r\rPlease manually set the VLC filepath\rinto \"" +
           dir_.Win("app/modrik.ini") + "\"";
  }
  void WriteSettings(const std::string& bytes) const {
    ASSERT_TRUE(WriteFile(dir_.Host("app/modrik.ini"), bytes));
  }
  std::optional<std::string> SettingsBytes() const { return ReadFile(dir_.Host("app/modrik.ini")); }
  // Installs fakeplayer.exe in a folder whose name holds a blank; returns its Windows path.
  std::string InstallWinPlayer() {
    player_ = dir_.InstallTool("fakeplayer", "Fake Player/fakeplayer.exe");
    return player_;
  }
  std::string WinPlayerRec() const { return dir_.Host("Fake Player/fakeplayer.exe.rec"); }

  // A run that ended by itself (with this exit code, not killed).
  static void ExpectCleanEnd(const DriveResult& d, long exitCode = 0) {
    ASSERT_TRUE(d.ran) << d.raw;
    ASSERT_TRUE(d.started) << d.raw;
    EXPECT_FALSE(d.timedOut) << d.raw;
    EXPECT_EQ(d.exitCode, exitCode) << d.raw;
  }
  // Exactly the player-not-found box, answered with OK.
  void ExpectOnlyNotFound(const DriveResult& d) const {
    ExpectCleanEnd(d, kExitNoPlayer);
    ASSERT_EQ(d.boxes.size(), 1u) << d.raw;
    EXPECT_EQ(d.boxes[0].title, kTitle);
    EXPECT_EQ(d.boxes[0].text, NotFound());
    EXPECT_EQ(d.boxes[0].buttons, "1");
  }

  TestFolder dir_;
  std::string exe_, player_;
};

// ---- first run ------------------------------------------------------------------------

TEST_F(Launcher, FirstRunAnsweredNoWritesTemplateThenReportsMissingPlayer) {
  ASSERT_FALSE(SettingsBytes());
  DriveResult d = Run("", {kIdNo, kIdOk});
  ExpectCleanEnd(d, kExitNoPlayer);
  ASSERT_EQ(d.boxes.size(), 2u) << d.raw;
  EXPECT_EQ(d.boxes[0].title, kTitle);
  EXPECT_EQ(d.boxes[0].text, kQuestion);
  EXPECT_EQ(d.boxes[0].buttons, "6,7");
  EXPECT_EQ(d.boxes[0].icon, "shown");
  EXPECT_EQ(d.boxes[1].title, kTitle);
  EXPECT_EQ(d.boxes[1].text, NotFound());
  EXPECT_EQ(d.boxes[1].buttons, "1");
  EXPECT_EQ(d.boxes[1].icon, "shown");
  EXPECT_EQ(SettingsBytes(), Template(""));

  // The next start asks nothing, shows the same message and keeps the file.
  d = Run("", {kIdOk});
  ExpectOnlyNotFound(d);
  EXPECT_EQ(SettingsBytes(), Template(""));
  d = Run("\"C:\\some file.mkv\"", {kIdOk});
  ExpectOnlyNotFound(d);
  EXPECT_EQ(SettingsBytes(), Template(""));
}

// Under Wine the answer Yes asks the host (`whereis vlc`). A `whereis` first on
// the PATH answers as the host's does when it finds nothing ("vlc:" and a line
// feed), so the outcome is that of No apart from what detection wrote.
TEST_F(Launcher, FirstRunAnsweredYesWithNoPlayerOnTheHost) {
  const std::string whereis = dir_.MakeNativePlayer("bin/whereis", "vlc:\n");
  PathFirst path(dir_.Host("bin"));
  DriveResult d = Run("", {kIdYes, kIdOk});
  ExpectCleanEnd(d, kExitNoPlayer);
  ASSERT_EQ(d.boxes.size(), 2u) << d.raw;
  EXPECT_EQ(d.boxes[0].text, kQuestion);
  EXPECT_EQ(d.boxes[1].text, NotFound());
  // "vlc:" and a line feed leave a lone line feed as the player path.
  EXPECT_EQ(SettingsBytes(), Template("\n"));
  auto asked = WaitForNativePlayer(whereis + ".rec", 0);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].args, std::vector<std::string>({"vlc"}));
}

// ---- settings without a usable player --------------------------------------------------

TEST_F(Launcher, SettingsWithoutPlayerReportMissingPlayer) {
  InstallWinPlayer();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"no key", "[modrik]\r\n"},
      {"empty value", Settings("")},
      {"template, empty value", Template("")},
      {"key in another section", "[other]\r\nvlcpath=" + player_ + "\r\n"},
      {"key outside any section", "vlcpath=" + player_ + "\r\n"},
      {"other key", "[modrik]\r\nplayer=" + player_ + "\r\n"},
      {"missing player file", Settings(dir_.Win("Fake Player/nothere.exe"))},
      {"wildcard in the path", Settings(dir_.Win("Fake Player/fake*.exe"))},
      {"empty file", ""},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    WriteSettings(bytes);
    DriveResult d = Run("", {kIdOk});
    ExpectOnlyNotFound(d);
    EXPECT_EQ(SettingsBytes(), bytes) << "the settings file is never rewritten";
  }
  EXPECT_FALSE(Exists(WinPlayerRec())) << "no player may start";
}

TEST_F(Launcher, SettingsFolderThatCannotHoldTheFileReportsMissingPlayer) {
  // A folder named modrik.ini: the file cannot be created; the read-back is empty.
  ASSERT_TRUE(MakeDirs(dir_.Host("app/modrik.ini")));
  DriveResult d = Run("", {kIdOk});
  ExpectOnlyNotFound(d);
}

// ---- a Windows player ------------------------------------------------------------------

TEST_F(Launcher, WindowsPlayerGetsTheTailUnchangedAndIsShown) {
  WriteSettings(Settings(InstallWinPlayer()));
  const std::vector<std::string> tails = {
      "\"C:\\Videos\\My Film.mkv\"",
      "--fullscreen \"C:\\a b\\c.mkv\" x",
      "C:\\plain.mkv",
      "a  b   \"c\"  ",  // inner and trailing blanks kept
      "/hidden x",      // more text after the switch: not the switch
      "/hidden ",       // trailing blank: not the switch
      "-",
  };
  for (size_t i = 0; i < tails.size(); i++) {
    SCOPED_TRACE("tail [" + tails[i] + "]");
    DriveResult d = Run(tails[i]);
    ExpectCleanEnd(d);
    EXPECT_TRUE(d.boxes.empty()) << d.raw;
    auto recs = WaitForWinPlayer(WinPlayerRec(), kPlayerWaitMs, i + 1);
    ASSERT_EQ(recs.size(), i + 1);
    const WinPlayerRecord& r = recs.back();
    // The shell starts the player as "<path>" followed by a blank and the
    // parameters; the name part ends after the closing quote.
    std::string tail = tails[i];
    if (tail[0] == ' ') tail.erase(0, 1);  // blanks after the program name are skipped
    EXPECT_EQ(r.cmdline, "\"" + player_ + "\" " + tail);
    EXPECT_TRUE(r.flags & 1) << "STARTF_USESHOWWINDOW";
    EXPECT_EQ(r.show, 5) << "SW_SHOW";
  }
}

TEST_F(Launcher, WindowsPlayerWithoutArguments) {
  WriteSettings(Settings(InstallWinPlayer()));
  for (const std::string& line : {Line(""), Line("") + "   ", exe_}) {
    SCOPED_TRACE("command line [" + line + "]");
    size_t before = WaitForWinPlayer(WinPlayerRec(), 0).size();
    DriveOptions o;
    o.cwd = dir_.WinDir();
    DriveResult d = Drive(dir_, line, o);
    ExpectCleanEnd(d);
    EXPECT_TRUE(d.boxes.empty()) << d.raw;
    auto recs = WaitForWinPlayer(WinPlayerRec(), kPlayerWaitMs, before + 1);
    ASSERT_EQ(recs.size(), before + 1);
    EXPECT_EQ(recs.back().cmdline, "\"" + player_ + "\"");
    EXPECT_EQ(recs.back().show, 5);
  }
}

TEST_F(Launcher, HiddenSwitchStartsWindowsPlayerMinimisedWithoutArguments) {
  WriteSettings(Settings(InstallWinPlayer()));
  // Blanks after the program name are not part of the tail.
  const std::vector<std::string> tails = {"/hidden", "/HIDDEN", " /Hidden", "/hidden   "};
  for (size_t i = 0; i < 3; i++) {
    SCOPED_TRACE("tail [" + tails[i] + "]");
    DriveResult d = Run(tails[i]);
    ExpectCleanEnd(d);
    EXPECT_TRUE(d.boxes.empty()) << d.raw;
    auto recs = WaitForWinPlayer(WinPlayerRec(), kPlayerWaitMs, i + 1);
    ASSERT_EQ(recs.size(), i + 1);
    EXPECT_EQ(recs.back().cmdline, "\"" + player_ + "\"");
    EXPECT_TRUE(recs.back().flags & 1) << "STARTF_USESHOWWINDOW";
    EXPECT_EQ(recs.back().show, 7) << "SW_SHOWMINNOACTIVE";
  }
  // A trailing blank keeps the text from being the switch.
  DriveResult d = Run(tails[3]);
  ExpectCleanEnd(d);
  auto recs = WaitForWinPlayer(WinPlayerRec(), kPlayerWaitMs, 4);
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs.back().cmdline, "\"" + player_ + "\" /hidden   ");
  EXPECT_EQ(recs.back().show, 5);
}

TEST_F(Launcher, StrayLineFeedAfterTheValueIsNotPartOfThePath) {
  WriteSettings(Template(InstallWinPlayer() + "\n"));
  DriveResult d = Run("x.mkv");
  ExpectCleanEnd(d);
  EXPECT_TRUE(d.boxes.empty()) << d.raw;
  auto recs = WaitForWinPlayer(WinPlayerRec(), kPlayerWaitMs);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].cmdline, "\"" + player_ + "\" x.mkv");
}

TEST_F(Launcher, SettingsNameDoesNotFollowTheExecutableName) {
  // A copy named vlc.exe still reads modrik.ini beside it.
  std::string vlc = dir_.InstallModrik("app/vlc.exe");
  WriteSettings(Settings(InstallWinPlayer()));
  DriveOptions o;
  o.cwd = dir_.WinDir();
  DriveResult d = Drive(dir_, "\"" + vlc + "\" a.mkv", o);
  ExpectCleanEnd(d);
  EXPECT_TRUE(d.boxes.empty()) << d.raw;
  auto recs = WaitForWinPlayer(WinPlayerRec(), kPlayerWaitMs);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].cmdline, "\"" + player_ + "\" a.mkv");
}

// Folders with blanks and a non-ASCII letter: the program sees its path in
// the ANSI code page, and so does the message naming the settings file.
TEST(LauncherPaths, BlanksAndAccentsInFolderNames) {
  TestFolder dir = TestFolder::ForCurrentTest();
  const std::string appRel = "Vid\xC3\xA9os du soir/app";  // UTF-8 on the host
  ASSERT_TRUE(CopyFile(ModrikExe(), dir.Host(appRel + "/modrik.exe")));
  const std::string exe = AnsiOf(dir.Win(appRel + "/modrik.exe"));
  ASSERT_NE(exe.find("Vid\xE9os du soir"), std::string::npos);
  DriveOptions o;
  o.cwd = dir.WinDir();
  o.answers = {kIdNo, kIdOk};
  DriveResult d = Drive(dir, "\"" + exe + "\"", o);
  ASSERT_TRUE(d.ran && d.started) << d.raw;
  EXPECT_EQ(d.exitCode, kExitNoPlayer);
  ASSERT_EQ(d.boxes.size(), 2u) << d.raw;
  EXPECT_EQ(d.boxes[1].text, "VLC Media Player not found.\r\rPlease manually set the VLC filepath\rinto \"" +
                                 AnsiOf(dir.Win(appRel + "/modrik.ini")) + "\"");
  EXPECT_EQ(ReadFile(dir.Host(appRel + "/modrik.ini")), Template(""));

  // A Windows player in such a folder, its path written in ANSI.
  const std::string playerRel = "Lecteur \xC3\xA0 moi/fakeplayer.exe";
  dir.InstallTool("fakeplayer", playerRel);
  const std::string player = AnsiOf(dir.Win(playerRel));
  ASSERT_TRUE(WriteFile(dir.Host(appRel + "/modrik.ini"), Settings(player)));
  o.answers = {};
  d = Drive(dir, "\"" + exe + "\" \"C:\\F\xE9" "e.mkv\"", o);
  ASSERT_TRUE(d.ran) << d.raw;
  EXPECT_EQ(d.exitCode, 0);
  EXPECT_TRUE(d.boxes.empty()) << d.raw;
  auto recs = WaitForWinPlayer(dir.Host(playerRel + ".rec"), kPlayerWaitMs);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].cmdline, "\"" + player + "\" \"C:\\F\xE9" "e.mkv\"");
}

// A caller's wide command line reaches a Windows player exactly, names the
// ANSI code page cannot spell included, the player's own path among them.
TEST(LauncherPaths, WindowsPlayerGetsTheCallersTextInAnyScript) {
  TestFolder dir = TestFolder::ForCurrentTest();
  const std::string exe = dir.InstallModrik("app/modrik.exe");
  const std::string playerRel = "\xD0\x9F\xD0\xBB\xD0\xB5\xD0\xB5\xD1\x80/fakeplayer.exe";  // Плеер
  const std::string player = dir.InstallTool("fakeplayer", playerRel);
  ASSERT_TRUE(WriteFile(dir.Host("app/modrik.ini"), Settings(player)));
  const std::string video = "C:\\Videos\\\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC \xE6\x9D\xB1\xE4\xBA\xAC (\xC3\xA9t\xC3\xA9).mkv";
  RunResult run = Wine::Get().RunWine(exe, {"--fullscreen", video}, 60000, dir.HostDir());
  ASSERT_TRUE(run.started && !run.timedOut) << run.err;
  auto recs = WaitForWinPlayer(dir.Host(playerRel + ".rec"), kPlayerWaitMs);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].wcmdline, "\"" + player + "\" --fullscreen \"" + video + "\"");
  EXPECT_EQ(recs[0].show, 5);
}

// ---- a native (Unix) player under Wine -------------------------------------------------

TEST_F(Launcher, HiddenSwitchWithUnixPlayerStartsNothing) {
  const std::string native = dir_.MakeNativePlayer("native/player");
  WriteSettings(Settings(native));
  for (const char* tail : {"/hidden", "/HIDDEN"}) {
    SCOPED_TRACE(tail);
    DriveResult d = Run(tail);
    ExpectCleanEnd(d);
    EXPECT_TRUE(d.boxes.empty()) << d.raw;
  }
  EXPECT_TRUE(WaitForNativePlayer(native + ".rec", kQuietMs).empty()) << "nothing may start";
  // /bin/sh exists on the host: found, and still nothing is started.
  WriteSettings(Settings("/bin/sh"));
  DriveResult d = Run("/Hidden");
  ExpectCleanEnd(d);
  EXPECT_TRUE(d.boxes.empty()) << d.raw;
}

TEST_F(Launcher, UnixPlayerThatDoesNotExistIsReported) {
  WriteSettings(Settings("/nonexistent/mdk/player"));
  DriveResult d = Run("a.mkv", {kIdOk});
  ExpectOnlyNotFound(d);
}

// The native player gets the launcher's arguments with Windows paths in
// their Unix form (drive C: is the prefix's drive_c).
TEST_F(Launcher, UnixPlayerGetsTranslatedArguments) {
  const std::string native = dir_.MakeNativePlayer("native/player", "", {.keepsEnvironment = true});
  const std::string rec = native + ".rec";
  const std::string driveC = "/home/" + Wine::Get().User() + "/.wine/drive_c/";
  const std::string links = "/home/" + Wine::Get().User() + "/.wine/dosdevices/";
  WriteSettings(Settings(native));
  MakeDirs(Wine::Get().DriveC() + "/Videos");

  struct Case {
    std::string tail, cwd;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases = {
      {"", "C:\\Videos", {"--random", driveC + "Videos"}},
      {"-f \"C:\\My Films\\a.mkv\"", "", {"-f", driveC + "My Films/a.mkv"}},
      // An option alone gets nothing added.
      {"--fullscreen", "", {"--fullscreen"}},
      // Words by the Windows rules; option values, file: URLs and discs; an
      // option only the player's Windows build knows is left out.
      {"--play-and-exit \"--meta-title=\\\"Big Buck Bunny.mp4\\\"\" -I dummy --rc-quiet "
       "\"--sub-file=C:\\My Films\\a.srt\" file:///C:/My%20Films/a%20b.mkv :sub-file=C:\\b.srt "
       "dvd:///D:\\ cdda:///E:/",
       "",
       {"--play-and-exit", "--meta-title=\"Big Buck Bunny.mp4\"", "-I", "dummy",
        "--sub-file=" + driveC + "My Films/a.srt", "file://" + driveC + "My%20Films/a%20b.mkv",
        ":sub-file=" + driveC + "b.srt", "dvd:///dev/sr0", "cdda://" + links + "e:/"}},
      // After an option, every later word reaches the player too.
      {"-f \"C:\\a.mkv\" kept", "", {"-f", driveC + "a.mkv", "kept"}},
      // The whole tail is translated, quotes included: the quote hides the
      // drive, so the path goes through the drive links; the shell then
      // removes the quotes.
      {"\"Z:\\tmp\\x y.mkv\"", "", {links + "z:/tmp/x y.mkv"}},
      {"\"C:\\Videos\\a.mkv\"", "", {links + "c:/Videos/a.mkv"}},
  };
  // Drive D: is a disc drive: its device link, and no folder link.
  struct Link {
    std::string path;
    ~Link() { unlink(path.c_str()); }
  } device{Wine::Get().Prefix() + "/dosdevices/d::"};
  ASSERT_EQ(symlink("/dev/sr0", device.path.c_str()), 0);
  for (size_t i = 0; i < cases.size(); i++) {
    SCOPED_TRACE("tail [" + cases[i].tail + "]");
    DriveOptions o;
    o.cwd = cases[i].cwd;
    // The session's own variables, and one for Wine, in the caller's host
    // environment.
    o.hostEnv = {"QT_SCALE_FACTOR=1.5", "VK_ICD_FILENAMES=/x/icd.json", "WINEPATH=C:\\tools"};
    DriveResult d = Run(cases[i].tail, {}, o);
    ExpectCleanEnd(d);
    EXPECT_TRUE(d.boxes.empty()) << d.raw;
    auto recs = WaitForNativePlayer(rec, kPlayerWaitMs, i + 1);
    ASSERT_EQ(recs.size(), i + 1);
    EXPECT_EQ(recs.back().argv0, native);
    EXPECT_EQ(recs.back().args, cases[i].args);
    // The player works in the caller's folder, with the session's variables
    // and neither Wine's nor those of Windows.
    EXPECT_EQ(std::filesystem::canonical(recs.back().cwd),
              std::filesystem::canonical(cases[i].cwd.empty() ? dir_.HostDir() : driveC + "Videos"));
    const std::string env = "\n" + ReadFile(native + ".env").value_or("");
    for (const char* kept : {"\nQT_SCALE_FACTOR=1.5\n", "\nVK_ICD_FILENAMES=/x/icd.json\n", "\nHOME=/home/"})
      EXPECT_NE(env.find(kept), std::string::npos) << kept << env;
    for (const char* dropped : {"\nWINE", "\nPATHEXT=", "\nHOMEDRIVE=", "\nHOMEPATH=", "\nMODRIK_PARENT="})
      EXPECT_EQ(env.find(dropped), std::string::npos) << dropped << env;
  }
}

// ---- the exported functions ------------------------------------------------------------

// The text result of the i-th call: GETINIS gives its bytes, a null handle
// counts as the empty text.
std::string TextResult(const ExportResult& e, size_t i) {
  if (i >= e.results.size()) return "<no result " + std::to_string(i) + ">";
  const Field& f = e.results[i];
  if (f.key == "GETINIS.null") return "";
  if (f.key != "GETINIS") return "<" + f.key + ">";
  return f.value;
}

TEST_F(Launcher, ExportGetIniSReadsBesideTheExecutable) {
  WriteSettings("[s]\r\nk=app\r\n");  // app\modrik.ini, a settings file like any other
  ASSERT_TRUE(WriteFile(dir_.Host("app/other.ini"), "[s]\r\nk=app other\r\n"));
  ASSERT_TRUE(MakeDirs(dir_.Host("app/sub")));
  ASSERT_TRUE(WriteFile(dir_.Host("app/sub/other.ini"), "[s]\r\nk=app sub\r\n"));
  // Decoys where the caller runs: the caller's folder is also its current folder.
  ASSERT_TRUE(MakeDirs(dir_.Host("caller/sub")));
  ASSERT_TRUE(WriteFile(dir_.Host("caller/other.ini"), "[s]\r\nk=caller\r\n"));
  ASSERT_TRUE(WriteFile(dir_.Host("caller/sub/other.ini"), "[s]\r\nk=caller sub\r\n"));
  ASSERT_TRUE(WriteFile(dir_.Host("data/full.ini"),
                        "[s]\r\nk=full\r\nlf=/usr/bin/vlc\n\r\n[t]\r\nk=other section\r\n"));

  ExportCalls c;
  c.GetIniS("other.ini", "s", "k")                      // 0 bare name: the exe's folder
      .GetIniS(dir_.Win("data/full.ini"), "s", "k")     // 1 full path
      .GetIniS("sub/other.ini", "s", "k")               // 2 no backslash: under the exe's folder
      .GetIniS(dir_.Win("data/full.ini"), "t", "k")     // 3 section chosen
      .GetIniS(dir_.Win("data/full.ini"), "s", "none")  // 4 missing key
      .GetIniS(dir_.Win("data/none.ini"), "s", "k")     // 5 missing file
      .GetIniS("modrik.ini", "s", "k")                  // 6
      .GetIniS(std::nullopt, std::nullopt, std::nullopt)  // 7 null handles
      .GetIniS("", "", "")                              // 8 empty texts
      .GetIniS(dir_.Win("data/full.ini"), "s", "lf");   // 9 stray line feed before CR LF
  ExportResult e = CallExports(dir_, exe_, c);
  ASSERT_TRUE(e.ran) << e.raw;
  ASSERT_TRUE(e.loaded) << e.raw;
  EXPECT_TRUE(e.unbound.empty()) << e.raw;
  EXPECT_TRUE(e.hasGetIniS && e.hasGetIniV && e.hasDelRegKey) << e.raw;
  EXPECT_FALSE(e.crashed) << e.raw;
  ASSERT_EQ(e.results.size(), 10u) << e.raw;
  EXPECT_EQ(TextResult(e, 0), "app other");
  EXPECT_EQ(TextResult(e, 1), "full");
  EXPECT_EQ(TextResult(e, 2), "app sub");
  EXPECT_EQ(TextResult(e, 3), "other section");
  EXPECT_EQ(TextResult(e, 4), "");
  EXPECT_EQ(TextResult(e, 5), "");
  EXPECT_EQ(TextResult(e, 6), "app");
  EXPECT_EQ(TextResult(e, 7), "");
  EXPECT_EQ(TextResult(e, 8), "");
  EXPECT_EQ(TextResult(e, 9), "/usr/bin/vlc");
}

TEST_F(Launcher, ExportGetIniSCutsLongValues) {
  std::string longValue;
  for (int i = 0; longValue.size() < 70000; i++) longValue += static_cast<char>('a' + i % 26);
  const std::string exact = longValue.substr(0, 65024);
  ASSERT_TRUE(WriteFile(dir_.Host("app/long.ini"),
                        "[s]\r\nlong=" + longValue + "\r\nexact=" + exact + "\r\nshort=" +
                            exact.substr(0, 65023) + "\r\n"));
  ExportCalls c;
  c.GetIniS("long.ini", "s", "long").GetIniS("long.ini", "s", "exact").GetIniS("long.ini", "s", "short");
  ExportResult e = CallExports(dir_, exe_, c);
  ASSERT_TRUE(e.ran && e.loaded && !e.crashed) << e.raw.substr(0, 2000);
  ASSERT_EQ(e.results.size(), 3u);
  EXPECT_EQ(TextResult(e, 0).size(), 65024u);
  EXPECT_TRUE(TextResult(e, 0) == exact) << "the first 65,024 characters";
  EXPECT_TRUE(TextResult(e, 1) == exact);
  EXPECT_TRUE(TextResult(e, 2) == exact.substr(0, 65023));
}

TEST_F(Launcher, ExportGetIniVConvertsNumbers) {
  const std::vector<std::pair<std::string, std::int32_t>> values = {
      {"12", 12},   {"&H1F", 31}, {"&B101", 5},  {"2.5", 2},   {"3.5", 4},
      {"12abc", 12}, {"abc", 0},  {"-7", -7},    {"&O17", 15}, {"&17", 15},
      {"1D2", 100},  {"-2.5", -2}, {"99999999999", -2147483647 - 1},
  };
  std::string ini = "[n]\r\n";
  for (size_t i = 0; i < values.size(); i++) ini += "v" + std::to_string(i) + "=" + values[i].first + "\r\n";
  ASSERT_TRUE(WriteFile(dir_.Host("app/num.ini"), ini));
  ExportCalls c;
  for (size_t i = 0; i < values.size(); i++) c.GetIniV("num.ini", "n", "v" + std::to_string(i));
  c.GetIniV("num.ini", "n", "missing").GetIniV("num.ini", "none", "v0").GetIniV("nothere.ini", "n", "v0");
  ExportResult e = CallExports(dir_, exe_, c);
  ASSERT_TRUE(e.ran && e.loaded && !e.crashed) << e.raw;
  ASSERT_EQ(e.results.size(), values.size() + 3) << e.raw;
  for (size_t i = 0; i < values.size(); i++) {
    EXPECT_EQ(e.results[i].key, "GETINIV");
    EXPECT_EQ(e.results[i].value, std::to_string(values[i].second)) << "value " << values[i].first;
  }
  for (size_t i = values.size(); i < e.results.size(); i++) EXPECT_EQ(e.results[i].value, "0") << i;
}

TEST_F(Launcher, ExportDelRegKeyDeletesOnlyAnExistingKey) {
  const std::string base = "Software\\mdk-e2e-" + std::to_string(::getpid());
  ExportCalls c;
  c.DelRegKey(kHkcu, base + "\\missing")    // 0: nothing to delete
      .RegCreate(kHkcu, base + "\\gone")     // 1
      .RegCreate(kHkcu, base + "\\kept")     // 2
      .RegExists(kHkcu, base + "\\gone")     // 3
      .DelRegKey(kHkcu, base + "\\gone")     // 4: deleted
      .RegExists(kHkcu, base + "\\gone")     // 5
      .RegExists(kHkcu, base + "\\kept")     // 6: a sibling stays
      .DelRegKey(kHkcu, base + "\\gone")     // 7: now missing
      .DelRegKey(kHkcu, base + "\\kept")     // 8
      .DelRegKey(kHkcu, base)                  // 9: clean up
      .RegExists(kHkcu, base);                 // 10
  ExportResult e = CallExports(dir_, exe_, c);
  ASSERT_TRUE(e.ran && e.loaded && !e.crashed) << e.raw;
  std::vector<std::string> got;
  for (const Field& f : e.results) got.push_back(f.key + "=" + f.value);
  EXPECT_EQ(got, (std::vector<std::string>{"DELREGKEY=0", "regcreate=0", "regcreate=0", "regexists=1",
                                           "DELREGKEY=0", "regexists=0", "regexists=1", "DELREGKEY=0",
                                           "DELREGKEY=0", "DELREGKEY=0", "regexists=0"}));

  // A key that still has a subkey: RegDeleteKeyA's own error code comes back
  // (access denied, 5) and the key stays.
  ExportCalls p;
  p.RegCreate(kHkcu, base + "\\parent\\child")
      .DelRegKey(kHkcu, base + "\\parent")
      .RegExists(kHkcu, base + "\\parent\\child")
      .DelRegKey(kHkcu, base + "\\parent\\child")
      .DelRegKey(kHkcu, base + "\\parent")
      .DelRegKey(kHkcu, base);
  e = CallExports(dir_, exe_, p);
  ASSERT_TRUE(e.ran && e.loaded && !e.crashed) << e.raw;
  got.clear();
  for (const Field& f : e.results) got.push_back(f.key + "=" + f.value);
  EXPECT_EQ(got, (std::vector<std::string>{"regcreate=0", "DELREGKEY=5", "regexists=1", "DELREGKEY=0",
                                           "DELREGKEY=0", "DELREGKEY=0"}));

  // Seen from another program too: reg.exe no longer finds the key.
  RunResult q = Wine::Get().RunWine("reg", {"query", "HKCU\\" + base}, 30000);
  EXPECT_NE(q.exitCode, 0) << q.out;
}

// ---- bad input ---------------------------------------------------------------------------

TEST_F(Launcher, BinaryAndHugeSettingsFilesGiveTheNotFoundMessage) {
  std::mt19937 rng(1234);
  std::string binary(4096, '\0');
  for (char& c : binary) c = static_cast<char>(rng());
  std::string huge;
  while (huge.size() < 1024 * 1024) huge += "filler line without any key or section " + std::to_string(huge.size()) + "\r\n";
  std::string hugeLine(1024 * 1024, 'v');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"binary", binary},
      {"binary after the section", "[modrik]\r\n" + binary},
      {"1 MB of lines", huge},
      {"1 MB single line", hugeLine},
      {"1 MB value", Settings(hugeLine)},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    WriteSettings(bytes);
    DriveResult d = Run("", {kIdOk});
    ExpectOnlyNotFound(d);
  }
}

TEST_F(Launcher, PlayerAtTheEndOfAHugeSettingsFileStarts) {
  std::string huge;
  while (huge.size() < 1024 * 1024) huge += "; filler " + std::to_string(huge.size()) + "\r\n";
  WriteSettings(huge + Settings(InstallWinPlayer()));
  DriveResult d = Run("big.mkv");
  ExpectCleanEnd(d);
  EXPECT_TRUE(d.boxes.empty()) << d.raw;
  auto recs = WaitForWinPlayer(WinPlayerRec(), kPlayerWaitMs);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].cmdline, "\"" + player_ + "\" big.mkv");
}

TEST_F(Launcher, HugeCommandLine) {
  std::string tail;
  while (tail.size() < 30000) tail += "\"C:\\Videos\\part " + std::to_string(tail.size()) + ".mkv\" ";
  tail.pop_back();
  // No player configured: the usual message.
  WriteSettings(Settings(""));
  ExpectOnlyNotFound(Run(tail, {kIdOk}));
  // A Windows player gets the whole tail.
  WriteSettings(Settings(InstallWinPlayer()));
  DriveResult d = Run(tail);
  ExpectCleanEnd(d);
  EXPECT_TRUE(d.boxes.empty()) << d.raw;
  auto recs = WaitForWinPlayer(WinPlayerRec(), kPlayerWaitMs);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].cmdline, "\"" + player_ + "\" " + tail);
}

TEST_F(Launcher, UsernameUnset) {
  DriveOptions o;
  o.unsetEnv = {"USERNAME"};
  DriveResult d = Run("", {kIdNo, kIdOk}, o);
  ExpectCleanEnd(d, kExitNoPlayer);
  ASSERT_EQ(d.boxes.size(), 2u) << d.raw;
  EXPECT_EQ(d.boxes[0].text, kQuestion);
  EXPECT_EQ(d.boxes[1].text, NotFound());
  EXPECT_EQ(SettingsBytes(), Template(""));

  WriteSettings(Settings(InstallWinPlayer()));
  d = Run("a.mkv", {}, o);
  ExpectCleanEnd(d);
  EXPECT_TRUE(d.boxes.empty()) << d.raw;
  auto recs = WaitForWinPlayer(WinPlayerRec(), kPlayerWaitMs);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].cmdline, "\"" + player_ + "\" a.mkv");
  EXPECT_EQ(recs[0].username, std::nullopt) << "the variable was really unset";
}

}  // namespace
