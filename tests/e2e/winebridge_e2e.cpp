// The native player under Wine, end to end: modrik.exe runs in the test
// prefix with a settings file naming a fake native player (a shell script
// that records its argv), and the test checks exactly what the player
// received, that the paths it got name the right files on the host, and
// that nothing in a file name ran as a command.
#include <gtest/gtest.h>

#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

using Args = std::vector<std::string>;

const int kPlayerWaitMs = 15000;
const int kSettleMs = 300;

// Latin-1 letters from UTF-8 (as the host names files) to the ANSI code page
// 1252 (as a Windows program passes them on its command line).
std::string Utf8ToCp1252(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
      out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string("<missing: " + path + ">");
}

// A test folder with modrik.exe, a settings file naming a fake native player
// and helpers to run modrik and read what the player got.
class NativePlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    exe_ = dir_.InstallModrik();
    player_ = dir_.MakeNativePlayer("bin/vlc");
    WriteFile(dir_.Host("modrik.ini"), "[modrik]\r\nvlcpath=" + player_ + "\r\n");
  }

  // Runs modrik.exe with the tail after its quoted name; returns the one
  // record of the player start, or fails.
  NativePlayerRecord Play(const std::string& tail, const std::string& cwd = "") {
    RemoveTree(player_ + ".rec");
    DriveOptions options;
    options.cwd = cwd.empty() ? dir_.WinDir() : cwd;
    DriveResult run = Drive(dir_, "\"" + exe_ + "\"" + (tail.empty() ? "" : " " + tail), options);
    EXPECT_TRUE(run.ran && run.started) << run.raw;
    EXPECT_EQ(run.exitCode, 0) << run.raw;
    EXPECT_TRUE(run.boxes.empty()) << (run.boxes.empty() ? "" : run.boxes[0].text);
    std::vector<NativePlayerRecord> records = WaitForNativePlayer(player_ + ".rec", kPlayerWaitMs);
    // A second start of the same command would follow closely.
    usleep(kSettleMs * 1000);
    records = ParseNativePlayerRecords(ReadFile(player_ + ".rec").value_or(""));
    if (records.size() != 1) {
      ADD_FAILURE() << "player starts: " << records.size() << " for tail " << tail;
      return NativePlayerRecord();
    }
    EXPECT_EQ(records[0].argv0, player_);
    return records[0];
  }

  TestFolder dir_ = TestFolder::ForCurrentTest();
  std::string exe_;
  std::string player_;
};

TEST_F(NativePlayer, NoArgumentsPlaysTheCurrentFolderAtRandom) {
  MakeDirs(dir_.Host("My Videos"));
  NativePlayerRecord got = Play("", dir_.Win("My Videos"));
  EXPECT_EQ(got.args, Args({"--random", dir_.Host("My Videos")}));
}

// The options the player's installer registers come first, several files
// follow, and relative names are taken in the caller's working folder.
TEST_F(NativePlayer, OptionsFirstThenEveryFile) {
  MakeDirs(dir_.Host("My Films"));
  WriteFile(dir_.Host("My Films/a b.mkv"), "");
  WriteFile(dir_.Host("My Films/intro.avi"), "");
  NativePlayerRecord got =
      Play("--started-from-file --playlist-enqueue \"" + dir_.Win("My Films/a b.mkv") + "\" \"" +
               dir_.Win("c.mkv") + "\" intro.avi --loop",
           dir_.Win("My Films"));
  EXPECT_EQ(got.args, Args({"--started-from-file", "--playlist-enqueue", dir_.Host("My Films/a b.mkv"),
                            dir_.Host("c.mkv"), dir_.Host("My Films/intro.avi"), "--loop"}));
  got = Play("intro.avi", dir_.Win("My Films"));
  EXPECT_EQ(got.args, Args({dir_.Host("My Films/intro.avi")}));
}

TEST_F(NativePlayer, OneQuotedPathWithSpacesIsOneArgumentNamingTheFile) {
  MakeDirs(dir_.Host("My Films"));
  WriteFile(dir_.Host("My Films/a  b.mkv"), "");
  const std::string win = dir_.Win("My Films/a  b.mkv");
  NativePlayerRecord got = Play("\"" + win + "\"");
  ASSERT_EQ(got.args.size(), 1u);
  // The whole tail, quotes included, goes through the drive link of C:.
  std::string rest = win.substr(2);
  for (char& c : rest)
    if (c == '\\') c = '/';
  EXPECT_EQ(got.args[0], Wine::Get().Prefix() + "/dosdevices/c:" + rest);
  EXPECT_EQ(RealPath(got.args[0]), RealPath(dir_.Host("My Films/a  b.mkv")));
}

// Drive links added to the prefix for one test, removed again afterwards.
class DriveLinks {
 public:
  ~DriveLinks() {
    for (const std::string& link : links_) unlink(link.c_str());
  }
  bool Add(const std::string& name, const std::string& target) {
    std::string link = Wine::Get().Prefix() + "/dosdevices/" + name;
    unlink(link.c_str());
    links_.push_back(link);
    return symlink(target.c_str(), link.c_str()) == 0;
  }

 private:
  std::vector<std::string> links_;
};

std::string WinepathU(const std::string& windowsPath) {
  RunResult r = Wine::Get().RunWine("winepath", {"-u", windowsPath}, 30000);
  std::string out = r.out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST_F(NativePlayer, PathsOnAddedDriveLinksNameTheSameFilesAsWinepath) {
  // m: points to an absolute folder whose name has accented letters (UTF-8
  // on the host, so the listing crosses the encoding boundary both ways);
  // n: is a relative link, as Wine itself writes them.
  const std::string absolute = dir_.Host("linked/M\xC3\xA9" "dias-\xC3\x89t\xC3\xA9");
  const std::string relative = dir_.Host("reltarget");
  MakeDirs(absolute + "/sub");
  MakeDirs(relative + "/sub");
  WriteFile(absolute + "/sub/clip.mkv", "m");
  WriteFile(relative + "/sub/clip.mkv", "n");
  DriveLinks links;
  ASSERT_TRUE(links.Add("m:", absolute));
  const std::string relativeTarget = "../drive_c" + relative.substr(Wine::Get().DriveC().size());
  ASSERT_TRUE(links.Add("n:", relativeTarget));

  NativePlayerRecord got = Play("M:\\sub\\clip.mkv");
  EXPECT_EQ(got.args, Args({absolute + "/sub/clip.mkv"}));
  const std::string winepathM = WinepathU("M:\\sub\\clip.mkv");
  EXPECT_EQ(winepathM, Wine::Get().Prefix() + "/dosdevices/m:/sub/clip.mkv");
  ASSERT_EQ(got.args.size(), 1u);
  EXPECT_EQ(RealPath(got.args[0]), RealPath(winepathM));

  // The player runs in a folder of its own; the path it gets must not
  // depend on that.
  got = Play("n:\\sub\\clip.mkv");
  EXPECT_EQ(got.args, Args({Wine::Get().Prefix() + "/dosdevices/" + relativeTarget + "/sub/clip.mkv"}));
  ASSERT_EQ(got.args.size(), 1u);
  EXPECT_EQ(got.args[0][0], '/');
  EXPECT_NE(got.cwd + "/", Wine::Get().Prefix() + "/dosdevices/");
  EXPECT_EQ(RealPath(got.args[0]), RealPath(WinepathU("N:\\sub\\clip.mkv")));
  EXPECT_EQ(ReadFile(got.args[0]), "n");

  got = Play("-f \"M:\\sub\\clip.mkv\"");
  EXPECT_EQ(got.args, Args({"-f", absolute + "/sub/clip.mkv"}));

  // A target in any script is taken as the listing shows it.
  const std::string cyrillic = dir_.Host("linked/\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC\xD1\x8B");
  MakeDirs(cyrillic);
  WriteFile(cyrillic + "/clip.mkv", "o");
  ASSERT_TRUE(links.Add("o:", cyrillic));
  got = Play("O:\\clip.mkv");
  EXPECT_EQ(got.args, Args({cyrillic + "/clip.mkv"}));
  ASSERT_EQ(got.args.size(), 1u);
  EXPECT_EQ(ReadFile(got.args[0]), "o");
}

std::string ShellQuoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

TEST_F(NativePlayer, HostileFileNamesReachThePlayerLiterally) {
  // Each of these would run `touch CANARY` (in the home folder, or in the
  // shell's own folder) if the host shell read it as code; none holds a
  // blank, the shell's field separator stands in for it.
  const std::vector<std::string> commandNames = {
      "x$(cd;touch${IFS}CANARY).mkv",
      "x`cd;touch${IFS}CANARY`.mkv",
      "a;cd;touch${IFS}CANARY;.mkv",
      "a&&cd&&touch${IFS}CANARY&&.mkv",
      "pipe|cd|touch${IFS}CANARY>redirect<.mkv",
  };
  // Quotes, expansions, globs, blanks, control characters and accented
  // letters (UTF-8 on the host, code page 1252 on the command line).
  const std::string quotesAndGlobs = "it's 'q' $HOME ${PATH} $0 !b #h ~t *s ?q [br] {a,b}.mkv";
  const std::string controlsAndAccents = "vid\xC3\xA9o \xC3\xA9t\xC3\xA9\n\xC3\xA0 l'\xC3\xAEle\t.mkv";

  const std::vector<std::string> canaries = {
      Wine::Get().Home() + "/CANARY", "/usr/bin/CANARY", "/CANARY", dir_.Host("CANARY"),
      dir_.Host("hostile/CANARY"), Wine::Get().Home() + "/redirect<.mkv", "/usr/bin/redirect<.mkv"};
  for (const std::string& c : canaries) RemoveTree(c);
  MakeDirs(dir_.Host("hostile"));
  auto host = [&](const std::string& name) { return dir_.Host("hostile/" + name); };
  auto win = [&](const std::string& name) { return Utf8ToCp1252(dir_.Win("hostile/" + name)); };
  for (const std::string& name : commandNames) ASSERT_TRUE(WriteFile(host(name), name));
  ASSERT_TRUE(WriteFile(host(quotesAndGlobs), "q"));
  ASSERT_TRUE(WriteFile(host(controlsAndAccents), "c"));

  // Blank-free names as an unquoted tail: each word is one of the files and
  // reaches the player as that file's path.
  std::string tail;
  Args expected;
  for (const std::string& name : commandNames) {
    tail += (tail.empty() ? "" : " ") + win(name);
    expected.push_back(host(name));
  }
  NativePlayerRecord got = Play(tail);
  EXPECT_EQ(got.args, expected);
  for (std::size_t i = 0; i < got.args.size() && i < commandNames.size(); ++i)
    EXPECT_EQ(ReadFile(got.args[i]), commandNames[i]);

  // One quoted path: it reaches the player through the drive link of C:.
  const std::string prefixC = Wine::Get().Prefix() + "/dosdevices/c:";
  const std::string viaLink = prefixC + host(quotesAndGlobs).substr(Wine::Get().DriveC().size());
  got = Play("\"" + win(quotesAndGlobs) + "\"");
  EXPECT_EQ(got.args, Args({viaLink}));
  EXPECT_EQ(ReadFile(viaLink), "q");
  // The start's host command went to the host as a word, not through dues.sh.
  EXPECT_EQ(ReadFile(Wine::Get().Home() + "/dues.sh").value_or("").find("\nset -- " + ShellQuoted(player_)),
            std::string::npos);

  // An option and a quoted path with a line feed, a tab and accents.
  got = Play("--play-and-exit \"" + win(controlsAndAccents) + "\"");
  EXPECT_EQ(got.args, Args({"--play-and-exit", host(controlsAndAccents)}));
  EXPECT_EQ(ReadFile(host(controlsAndAccents)), "c");

  for (const std::string& c : canaries) EXPECT_FALSE(Exists(c)) << c << " appeared";
}

// The answer Yes runs `whereis vlc` on the host; a `whereis` first on the PATH
// lists one location, the recording player.
TEST(NativePlayerDetection, FirstRunAnsweredYesFindsThePlayerThroughWhereis) {
  TestFolder dir = TestFolder::ForCurrentTest();
  const std::string exe = dir.InstallModrik();
  const std::string recorder = dir.MakeNativePlayer("recorder/vlc");
  const std::string whereis = dir.MakeNativePlayer("bin/whereis", "vlc: " + recorder + "\n");
  PathFirst path(dir.Host("bin"));
  MakeDirs(dir.Host("Clips"));

  DriveOptions options;
  options.cwd = dir.Win("Clips");
  options.answers = {6};
  DriveResult run = Drive(dir, "\"" + exe + "\"", options);
  ASSERT_TRUE(run.ran && run.started) << run.raw;
  ASSERT_EQ(run.boxes.size(), 1u) << run.raw;
  EXPECT_EQ(run.boxes[0].buttons, "6,7");
  EXPECT_EQ(run.boxes[0].answer, 6);
  std::vector<NativePlayerRecord> asked = WaitForNativePlayer(whereis + ".rec", 0);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].args, Args({"vlc"}));

  // whereis lists the one location followed by its line feed, and the value
  // is written as it came.
  const std::string settings = ReadFile(dir.Host("modrik.ini")).value_or("");
  EXPECT_NE(settings.find("\r\nvlcpath=" + recorder + "\n\r\n"), std::string::npos) << settings;

  std::vector<NativePlayerRecord> records = WaitForNativePlayer(recorder + ".rec", kPlayerWaitMs);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].argv0, recorder);
  EXPECT_EQ(records[0].args, Args({"--random", dir.Host("Clips")}));
}

// Names in any script: modrik lives in a folder the ANSI code page cannot
// spell, its settings file (saved as UTF-8, with and without a byte-order
// mark) names a player in another such folder, and the caller hands over the
// file through a wide command line.
TEST(NativePlayerNames, AnyScriptReachesThePlayer) {
  TestFolder dir = TestFolder::ForCurrentTest();
  const std::string app = "\xD0\x9F\xD0\xBB\xD0\xB5\xD0\xB5\xD1\x80 \xE6\x9D\xB1\xE4\xBA\xAC";  // Плеер 東京
  const std::string exe = dir.InstallModrik(app + "/modrik.exe");
  const std::string player = dir.MakeNativePlayer("Jos\xC3\xA9 \xCE\xA9/vlc");  // José Ω
  const std::string video = "\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC \xE6\x9D\xB1\xE4\xBA\xAC (\xC3\xA9t\xC3\xA9) & \xD7\xA9.mkv";
  ASSERT_TRUE(WriteFile(dir.Host(video), "v"));
  for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
    SCOPED_TRACE(mark.empty() ? "UTF-8" : "UTF-8 with a byte-order mark");
    RemoveTree(player + ".rec");
    WriteFile(dir.Host(app + "/modrik.ini"), mark + "[modrik]\r\nvlcpath=" + player + "\r\n");
    RunResult run = Wine::Get().RunWine(exe, {dir.Win(video)}, 60000, dir.HostDir());
    ASSERT_TRUE(run.started && !run.timedOut) << run.err;
    std::vector<NativePlayerRecord> got = WaitForNativePlayer(player + ".rec", kPlayerWaitMs);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].args.size(), 1u);
    // Wine quotes the argument, and a quoted path goes through C:'s drive link.
    std::string rest = dir.Win(video).substr(2);
    for (char& c : rest)
      if (c == '\\') c = '/';
    EXPECT_EQ(got[0].args[0], Wine::Get().Prefix() + "/dosdevices/c:" + rest);
    EXPECT_EQ(RealPath(got[0].args[0]), RealPath(dir.Host(video)));
  }
}

// The PIDs of the host processes started with exactly this argv.
std::vector<pid_t> ProcessesWithArgv(const Args& argv) {
  std::string wanted;
  for (const std::string& a : argv) wanted += a + '\0';
  std::vector<pid_t> pids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") == std::string::npos &&
        ReadFile(entry.path().string() + "/cmdline") == wanted)
      pids.push_back(std::stoi(name));
  }
  return pids;
}

// The host's own whereis, with the recording player as `vlc` in a folder on
// the PATH, which whereis searches after its standard folders: the settings
// name whatever it lists first. On a host without a player that is the
// recorder; a player of the host's own is started instead, and ended here.
TEST(NativePlayerDetection, FirstRunAnsweredYesWritesWhatTheHostsWhereisListsFirst) {
  TestFolder dir = TestFolder::ForCurrentTest();
  const std::string exe = dir.InstallModrik();
  const std::string recorder = dir.MakeNativePlayer("bin/vlc");
  PathFirst path(dir.Host("bin"));
  MakeDirs(dir.Host("Clips"));
  RunResult w = RunProcess({"whereis", "vlc"}, Wine::Get().Environment(), dir.Host(".mdk/whereis"), 10000);
  ASSERT_EQ(w.exitCode, 0) << w.err;
  ASSERT_EQ(w.out.rfind("vlc: /", 0), 0u) << w.out;
  // The first location: after the colon and blank, up to the next blank.
  std::string first = w.out.substr(5);
  if (first.find(' ') != std::string::npos) first.resize(first.find(' '));

  DriveOptions options;
  options.cwd = dir.Win("Clips");
  options.answers = {6};
  // modrik lives as long as the player: the host's own plays on until it is
  // ended (with modrik, at the bound), or refuses to run as root at once.
  const bool recorded = first == recorder + "\n";
  if (!recorded) options.timeoutMs = 15000;
  DriveResult run = Drive(dir, "\"" + exe + "\"", options);
  ASSERT_TRUE(run.ran && run.started) << run.raw;
  if (recorded) {
    EXPECT_EQ(run.exitCode, 0) << run.raw;
  }
  ASSERT_EQ(run.boxes.size(), 1u) << run.raw;
  const std::string settings = ReadFile(dir.Host("modrik.ini")).value_or("");
  EXPECT_NE(settings.find("\r\nvlcpath=" + first + "\r\n"), std::string::npos) << w.out << settings;

  if (recorded) {
    std::vector<NativePlayerRecord> records = WaitForNativePlayer(recorder + ".rec", kPlayerWaitMs);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].argv0, recorder);
    EXPECT_EQ(records[0].args, Args({"--random", dir.Host("Clips")}));
  } else {
    EXPECT_FALSE(Exists(recorder + ".rec"));
    const Args started = {first, "--random", dir.Host("Clips")};
    for (int i = 0; i < 20; i++, usleep(150000))
      for (pid_t pid : ProcessesWithArgv(started)) kill(pid, SIGKILL);
  }
}

}  // namespace
