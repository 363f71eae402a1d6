#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "winebridge_fake_host.h"
#include "app/app.h"
#include "common/common.h"
#include "launcher/launcher.h"
#include "winebridge/winebridge.h"

namespace {

using namespace std::string_literals;

const char kIni[] = "C:\\Apps\\modrik.ini";
const char kNotFound[] =
    "VLC Media Player not found.\r\rPlease manually set the VLC filepath\rinto \"C:\\Apps\\modrik.ini\"";
const char kQuestion[] =
    "This is your first time launching this program.\r\r"
    "Do you want to auto-detect VLC Media Player on your system?";

void Settings(fake::FakePlatform& sys, const std::string& value) {
  sys.AddFile(kIni, "[modrik]\r\nvlcpath=" + value + "\r\n");
}

// The native player and its arguments, as the last launch (else dues.sh)
// hands them to the host shell ("set -- ...").
std::string HostCommand(fake::FakePlatform& sys) {
  std::string script = "\n" + sys.FileBytes("z:\\home\\guest\\dues.sh");
  for (const auto& process : sys.processes)
    if (process.argv.size() == 10 && process.argv[5] == "launch") script = "\n" + process.argv[9];
  std::size_t set = script.find("\nset -- ");
  if (set == std::string::npos) return std::string();
  return script.substr(set + 8, script.find('\n', set + 8) - set - 8);
}

}  // namespace

TEST(MainRoutine, FirstRunAnsweredNoWritesAnEmptySettingsFileAndReportsNoPlayer) {
  fake::FakePlatform sys;
  sys.AddFolder("C:\\Apps");
  sys.messageAnswers = {platform::kIdNo};
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitNoPlayer);
  EXPECT_EQ(modrik::SettingsPath, kIni);
  EXPECT_EQ(sys.FileBytes(kIni), modrik::SettingsTemplateText(""));
  ASSERT_EQ(sys.messages.size(), 2u);
  EXPECT_EQ(sys.messages[0].text, kQuestion);
  EXPECT_EQ(sys.messages[0].title, "modrik 1.5");
  EXPECT_EQ(sys.messages[0].style, 0x24u);
  EXPECT_EQ(sys.messages[1].text, kNotFound);
  EXPECT_EQ(sys.messages[1].title, "modrik 1.5");
  EXPECT_EQ(sys.messages[1].style, 0x40u);
  EXPECT_TRUE(sys.shellCalls.empty());

  // The next start asks nothing and reports the same.
  fake::ResetProgramState();
  sys.messages.clear();
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitNoPlayer);
  ASSERT_EQ(sys.messages.size(), 1u);
  EXPECT_EQ(sys.messages[0].text, kNotFound);
}

TEST(MainRoutine, FirstRunAnsweredYesWritesWhatWasDetected) {
  fake::FakePlatform sys;
  sys.AddFolder("C:\\Apps");
  sys.AddFile("C:\\Program Files\\VideoLAN\\VLC\\vlc.exe", "MZ");
  sys.searches["C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"] = {{"vlc.exe"}};
  sys.messageAnswers = {platform::kIdYes};
  sys.commandLine = "modrik.exe C:\\v\\a.mkv";
  modrik::MainRoutine();
  EXPECT_EQ(sys.FileBytes(kIni), modrik::SettingsTemplateText("C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"));
  ASSERT_EQ(sys.messages.size(), 1u);
  ASSERT_EQ(sys.shellCalls.size(), 1u);
  EXPECT_EQ(sys.shellCalls[0].file, "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe");
  EXPECT_EQ(sys.shellCalls[0].parameters, "C:\\v\\a.mkv");
}

// Under Wine in a home the host refuses (77), traced once, no later host
// command runs: the detection asked for cannot ask the host, so no settings
// file is written, and the start ends with 126.
TEST(MainRoutine, FirstRunInARefusedHomeWritesNoSettingsFile) {
  fake::FakeHost host;
  host.wineExport = true;
  host.hostStatus = 77;
  host.AddFolder("C:\\Apps");
  host.messageAnswers = {platform::kIdYes};
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitNotStarted);
  EXPECT_FALSE(host.HasFile(kIni));
  EXPECT_EQ(host.processes.size(), 1u);
  EXPECT_EQ(std::count(host.traces.begin(), host.traces.end(), "the home /home/guest is not the user's alone (another "
                       "user's, or others may write it): dues.sh is not run there, nor any host command"), 1);
}

TEST(MainRoutine, FirstRunAnsweredYesWithNothingFoundIsLikeNo) {
  fake::FakePlatform sys;
  sys.AddFolder("C:\\Apps");
  sys.messageAnswers = {platform::kIdYes};
  modrik::MainRoutine();
  EXPECT_EQ(sys.FileBytes(kIni), modrik::SettingsTemplateText(""));
  ASSERT_EQ(sys.messages.size(), 2u);
  EXPECT_EQ(sys.messages[1].text, kNotFound);
}

TEST(MainRoutine, UnwritableSettingsFolderEndsInTheNotFoundMessage) {
  fake::FakePlatform sys;
  sys.modulePath = "C:\\ReadOnly\\modrik.exe";
  sys.AddFolder("C:\\ReadOnly");
  sys.readOnlyFolders["c:\\readonly"] = true;
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitNoPlayer);
  EXPECT_FALSE(sys.HasFile("C:\\ReadOnly\\modrik.ini"));
  ASSERT_EQ(sys.messages.size(), 2u);
  EXPECT_EQ(sys.messages[1].text,
            "VLC Media Player not found.\r\rPlease manually set the VLC filepath\rinto "
            "\"C:\\ReadOnly\\modrik.ini\"");
}

TEST(MainRoutine, MissingOrEmptyKeyReportsNoPlayer) {
  for (std::string contents : {"[modrik]\r\n", "[modrik]\r\nvlcpath=\r\n", "", "\x01\x02\xff"}) {
    fake::FakePlatform sys;
    sys.AddFile(kIni, contents);
    EXPECT_EQ(modrik::MainRoutine(), modrik::kExitNoPlayer);
    ASSERT_EQ(sys.messages.size(), 1u) << contents;
    EXPECT_EQ(sys.messages[0].text, kNotFound);
    EXPECT_TRUE(sys.shellCalls.empty());
  }
}

TEST(MainRoutine, WindowsPlayerGetsTheTailUnchanged) {
  fake::FakePlatform sys;
  Settings(sys, "C:\\VLC\\vlc.exe");
  sys.AddFile("C:\\VLC\\vlc.exe", "MZ");
  sys.commandLine = "\"C:\\Apps\\modrik.exe\" --fullscreen  \"C:\\My Videos\\a b.mkv\" ";
  EXPECT_EQ(modrik::MainRoutine(), 0);
  EXPECT_TRUE(sys.messages.empty());
  ASSERT_EQ(sys.shellCalls.size(), 1u);
  EXPECT_EQ(sys.shellCalls[0].verb, "open");
  EXPECT_EQ(sys.shellCalls[0].file, "C:\\VLC\\vlc.exe");
  EXPECT_EQ(sys.shellCalls[0].parameters, "--fullscreen  \"C:\\My Videos\\a b.mkv\" ");
  EXPECT_EQ(sys.shellCalls[0].directory, "");
  EXPECT_EQ(sys.shellCalls[0].show, 5);
}

TEST(MainRoutine, HiddenSwitchInAnyCaseStartsMinimisedWithoutArguments) {
  for (std::string tail : {"/hidden", "/HIDDEN", "/Hidden"}) {
    fake::FakePlatform sys;
    Settings(sys, "C:\\VLC\\vlc.exe");
    sys.AddFile("C:\\VLC\\vlc.exe", "MZ");
    sys.commandLine = "modrik.exe " + tail;
    modrik::MainRoutine();
    ASSERT_EQ(sys.shellCalls.size(), 1u);
    EXPECT_EQ(sys.shellCalls[0].parameters, "");
    EXPECT_EQ(sys.shellCalls[0].show, 7);
  }
}

TEST(MainRoutine, HiddenWithMoreTextIsNoSwitch) {
  for (std::string tail : {"/hidden ", "/hidden x"}) {
    fake::FakePlatform sys;
    Settings(sys, "C:\\VLC\\vlc.exe");
    sys.AddFile("C:\\VLC\\vlc.exe", "MZ");
    sys.commandLine = "modrik.exe " + tail;
    modrik::MainRoutine();
    ASSERT_EQ(sys.shellCalls.size(), 1u);
    EXPECT_EQ(sys.shellCalls[0].parameters, tail);
    EXPECT_EQ(sys.shellCalls[0].show, 5);
  }
}

TEST(MainRoutine, HiddenSwitchWithAUnixPlayerStartsNothing) {
  fake::FakePlatform sys;
  sys.wineExport = true;
  sys.wineVersionText = "8.0";
  Settings(sys, "/usr/bin/vlc");
  sys.AddFile("\\\\?\\unix\\usr\\bin\\vlc", "ELF");
  sys.AddFolder("z:\\home\\guest");
  sys.commandLine = "modrik.exe /hidden";
  EXPECT_EQ(modrik::MainRoutine(), 0);
  EXPECT_TRUE(sys.messages.empty());
  EXPECT_TRUE(sys.shellCalls.empty());
  EXPECT_EQ(sys.FileBytes("z:\\home\\guest\\dues.sh").find("/usr/bin/vlc"), std::string::npos);
}

TEST(MainRoutine, UnixPlayerOutsideWineIsNotFound) {
  fake::FakePlatform sys;
  Settings(sys, "/usr/bin/vlc");
  modrik::MainRoutine();
  ASSERT_EQ(sys.messages.size(), 1u);
  EXPECT_EQ(sys.messages[0].text, kNotFound);
}

TEST(MainRoutine, WindowsPlayerUnderWineGoesThroughTheShell) {
  fake::FakePlatform sys;
  sys.wineExport = true;
  sys.wineVersionText = "8.0";
  Settings(sys, "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe");
  sys.AddFile("C:\\Program Files\\VideoLAN\\VLC\\vlc.exe", "MZ");
  sys.AddFolder("z:\\home\\guest");
  sys.commandLine = "modrik.exe D:\\a.mkv";
  modrik::MainRoutine();
  ASSERT_EQ(sys.shellCalls.size(), 1u);
  EXPECT_EQ(sys.shellCalls[0].parameters, "D:\\a.mkv");
  EXPECT_EQ(sys.shellCalls[0].show, 5);
}

class UnixPlayerStart : public ::testing::Test {
 protected:
  void SetUp() override {
    sys.wineExport = true;
    sys.wineVersionText = "8.0";
    Settings(sys, "/usr/bin/vlc");
    sys.AddFile("\\\\?\\unix\\usr\\bin\\vlc", "ELF");
    sys.AddFolder("z:\\home\\guest");
    // The host's listing of the drive links, read back through dues.log, and
    // the player's end.
    sys.onStart = [this](const std::string& line) {
      if (line.find("/bin/sh") != std::string::npos) {
        fake::PlayNativeStart(sys, fake::LastHostScript(sys), playerStatus);
        fake::AnswerPrivateFolder(sys, sys.FileBytes("z:\\home\\guest\\dues.sh"), "z:\\home\\guest\\dues.log");
      }
      if (line.find("/bin/sh") != std::string::npos &&
          sys.FileBytes("z:\\home\\guest\\dues.sh").find("dosdevices/ ") != std::string::npos)
        sys.AddFile("z:\\home\\guest\\dues.log", "c:\0../drive_c\0d:\0/media/cdrom\0d::\0/dev/sr0\0z:\0/\0"s);
      return true;
    };
  }
  fake::FakePlatform sys;
  std::string playerStatus = "0\n";
};

TEST_F(UnixPlayerStart, NoArgumentsPlaysTheCurrentFolderAtRandom) {
  sys.currentDirectory = "C:\\Videos";
  sys.commandLine = "modrik.exe";
  EXPECT_EQ(modrik::MainRoutine(), 0);
  EXPECT_TRUE(sys.messages.empty());
  EXPECT_EQ(HostCommand(sys), "'/usr/bin/vlc' '--random' '/home/guest/.wine/drive_c/Videos'");
  EXPECT_TRUE(sys.shellCalls.empty());
}

// Options, files and relative names, in the caller's working folder
// C:\Games\My Game, which holds intro.avi and the folder Videos.
TEST_F(UnixPlayerStart, EveryParameterReachesThePlayer) {
  sys.currentDirectory = "C:\\Games\\My Game";
  sys.AddFile("C:\\Games\\My Game\\intro.avi", "AVI");
  sys.AddFolder("C:\\Games\\My Game\\Videos");
  const std::string game = "'/home/guest/.wine/drive_c/Games/My Game/";
  const std::pair<std::string, std::string> rows[] = {
      {"-f \"D:\\My Films\\a.mkv\" dropped", "'-f' '/media/cdrom/My Films/a.mkv' 'dropped'"},
      {"--started-from-file --playlist-enqueue \"C:\\a b.mkv\"",
       "'--started-from-file' '--playlist-enqueue' '/home/guest/.wine/drive_c/a b.mkv'"},
      {"--fullscreen \"C:\\a.mkv\" \"D:\\b.mkv\" intro.avi nothere.avi --loop",
       "'--fullscreen' '/home/guest/.wine/drive_c/a.mkv' '/media/cdrom/b.mkv' " + game +
           "intro.avi' 'nothere.avi' '--loop'"},
      {"-f intro.avi", "'-f' " + game + "intro.avi'"},
      {"intro.avi", game + "intro.avi'"},
      {"\"Videos\\a b.mkv\" Videos \\x.mkv", game + "Videos/a b.mkv' " + game + "Videos' '\\x.mkv'"},
      {"\\Films\\a.mkv", "'/home/guest/.wine/drive_c/Films/a.mkv'"},
      {"http://example.org/a.mkv C:\\b.mkv", "'http://example.org/a.mkv' '/home/guest/.wine/drive_c/b.mkv'"},
      {"-f https://example.org/a.mkv", "'-f' 'https://example.org/a.mkv'"},
      {"\"C:\\\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC \xE6\x9D\xB1\xE4\xBA\xAC (\xC3\xA9t\xC3\xA9).mkv\"",
       "'/home/guest/.wine/dosdevices/c:/\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC \xE6\x9D\xB1\xE4\xBA\xAC (\xC3\xA9t\xC3\xA9).mkv'"},
      // Words by the Windows rules: \" is a quote in the word, backslashes
      // count only before a quote, an empty pair is an empty word.
      {"--play-and-exit --quiet \"--meta-title=\\\"Big Buck Bunny.mp4\\\"\" http://localhost:8000/0",
       "'--play-and-exit' '--quiet' '--meta-title=\"Big Buck Bunny.mp4\"' 'http://localhost:8000/0'"},
      {"\"C:\\Media Folder\\\\\" --loop", "'/home/guest/.wine/drive_c/Media Folder/' '--loop'"},
      {"\"\" D:\\a.mkv", "'' '/media/cdrom/a.mkv'"},
      // Option values pass unchanged, in every form; an option alone gets
      // nothing added; -v takes no value.
      {"-I qt --extraintf http --meta-title \"My Show\" C:\\a.mkv",
       "'-I' 'qt' '--extraintf' 'http' '--meta-title' 'My Show' '/home/guest/.wine/drive_c/a.mkv'"},
      {"--file-caching 5000 -", "'--file-caching' '5000' '-'"},
      {"-Iskins", "'-Iskins'"},
      {"-vvv --meta-title=intro.avi intro.avi", "'-vvv' '--meta-title=intro.avi' " + game + "intro.avi'"},
      // Values that name a file or folder are translated, in every form.
      {"D:\\a.mkv \"--sub-file=C:\\Media Folder\\a.srt\" :sub-file=D:\\a.srt :start-time=5",
       "'/media/cdrom/a.mkv' '--sub-file=/home/guest/.wine/drive_c/Media Folder/a.srt' "
       "':sub-file=/media/cdrom/a.srt' ':start-time=5'"},
      {"--snapshot-path \"D:\\Snap shots\" --sub-file intro.srt --sub-file=file:///C:/a%20b.srt intro.avi",
       "'--snapshot-path' '/media/cdrom/Snap shots' '--sub-file' " + game + "intro.srt' "
       "'--sub-file=file:///home/guest/.wine/drive_c/a%20b.srt' " + game + "intro.avi'"},
      {"--input-slave=C:\\a.mp3#http://example.org/b.mp3#D:\\c.mp3 -",
       "'--input-slave=/home/guest/.wine/drive_c/a.mp3#http://example.org/b.mp3#/media/cdrom/c.mp3' '-'"},
      // Every spelling of a path, wherever it stands.
      {"D:\\a.mkv \\\\?\\C:\\b.mkv \\\\.\\D:\\c.mkv \"\\\\srv\\films\\d e.mkv\" \\\\?\\UNC\\srv\\films\\f.mkv "
       "\\\\?\\unix\\tmp\\g.mkv \\\\srv",
       "'/media/cdrom/a.mkv' '/home/guest/.wine/drive_c/b.mkv' '/media/cdrom/c.mkv' "
       "'smb://srv/films/d%20e.mkv' 'smb://srv/films/f.mkv' '/tmp/g.mkv' '\\\\srv'"},
      {"--sub-file=\\\\?\\C:\\a.srt :sub-file=\\\\.\\D:\\b.srt --input-slave \\\\srv\\s\\c.mp3 intro.avi",
       "'--sub-file=/home/guest/.wine/drive_c/a.srt' ':sub-file=/media/cdrom/b.srt' '--input-slave' "
       "'smb://srv/s/c.mp3' " + game + "intro.avi'"},
      // Long options in any abbreviation the player takes; one that begins
      // several names (here twice one name) is passed for the player to refuse.
      {"--input-sla=C:\\a.mp3 --logf C:\\l.txt --conf=D:\\vlcrc --no-fullsc --nofullscr --high-prio "
       "--qt-updates-d 7 --sub-fil=C:\\x.srt --glcon=any C:\\b.mkv",
       "'--input-sla=/home/guest/.wine/drive_c/a.mp3' '--logf' '/home/guest/.wine/drive_c/l.txt' "
       "'--conf=/media/cdrom/vlcrc' '--no-fullsc' '--nofullscr' '--sub-fil=C:\\x.srt' '--glcon=any' "
       "'/home/guest/.wine/drive_c/b.mkv'"},
      // After "--" every word is a file, but for standard input and the
      // options of an item.
      {"-f -- -a.mkv --loop - :start-time=5 \\\\?\\D:\\x.mkv",
       "'-f' '--' " + game + "-a.mkv' " + game + "--loop' '-' ':start-time=5' '/media/cdrom/x.mkv'"},
      // file: URLs of Windows paths: decoded, translated, encoded again.
      {"file:///C:/Media%20Folder/My%20Movie.mkv",
       "'file:///home/guest/.wine/drive_c/Media%20Folder/My%20Movie.mkv'"},
      {"-f file://localhost/D:/a%26b%20(%D0%A4).mkv#t=5 FILE:///e:/x.mkv",
       "'-f' 'file:///media/cdrom/a%26b%20%28%D0%A4%29.mkv#t=5' 'file:///home/guest/.wine/dosdevices/e%3A/x.mkv'"},
      // ... and of shares, in both forms; a Unix path's stays as it is.
      {"file://srv/films/a%20b.mkv#t=5 file:////srv/films/c.mkv file:///home/x.mkv file://srv",
       "'smb://srv/films/a%20b.mkv#t=5' 'smb://srv/films/c.mkv' 'file:///home/x.mkv' 'file://srv'"},
      // Discs: the drive's device link, else its folder; other URLs as they are.
      {"--started-from-file dvd:///D:\\", "'--started-from-file' 'dvd:///dev/sr0'"},
      {"cdda:///D:/ dvd:///D:/#2 vcd:///D:\\MPEGAV bluray:///E:\\ vlc://quit",
       "'cdda:///dev/sr0' 'dvd:///dev/sr0#2' 'vcd:///media/cdrom/MPEGAV' "
       "'bluray:///home/guest/.wine/dosdevices/e:/' 'vlc://quit'"},
      // Options only the player's Windows build knows are left out.
      {"--extraintf=rc --rc-host=localhost:1234 --rc-quiet D:\\a.mkv",
       "'--extraintf=rc' '--rc-host=localhost:1234' '/media/cdrom/a.mkv'"},
      {"--dummy-quiet --no-high-priority --qt-updates-days 7 --no-crashdump -I dummy", "'-I' 'dummy'"},
  };
  for (const auto& [tail, args] : rows) {
    SCOPED_TRACE(tail);
    sys.commandLine = "modrik.exe " + tail;
    modrik::MainRoutine();
    EXPECT_EQ(HostCommand(sys), "'/usr/bin/vlc' " + args);
  }
  // The trace names every option left out.
  const auto traced = [this](const std::string& line) {
    return std::find(sys.traces.begin(), sys.traces.end(), line) != sys.traces.end();
  };
  EXPECT_TRUE(traced("left out --rc-quiet: only the player's Windows build knows it"));
  EXPECT_TRUE(traced("left out --qt-updates-days 7: only the player's Windows build knows it"));
  EXPECT_TRUE(traced("left out --high-prio: only the player's Windows build knows it"));
  EXPECT_TRUE(traced("--sub-fil=C:\\x.srt names several of the player's options"));
}

// UTF-16LE bytes (with their byte-order mark) of an ASCII text.
std::string Utf16(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) bytes += std::string(1, c) + '\0';
  return bytes;
}

// A playlist written on Windows reaches the player as a copy in the user's
// private folder, each Windows path in its Unix form and all else as it
// was; the list itself is not touched.
TEST_F(UnixPlayerStart, PlaylistsOfWindowsPathsReachThePlayerAsTranslatedCopies) {
  sys.currentDirectory = "C:\\Lists";
  const std::string c = "/home/guest/.wine/drive_c/";
  struct Row {
    std::string name, list, copy;
  } rows[] = {
      // A signage script's list: CR LF, comments, drive paths, names
      // relative to the list, a file: URL; a URL and a Unix path stay.
      {"today.m3u",
       "#EXTM3U\r\n#EXTINF:10,Intro\r\nC:\\Media\\intro.mkv\r\n  clips\\a b.mkv\r\n\\Films\\c.mkv\r\n"
       "file:///D:/x%20y.mkv\r\nhttp://example.org/live\r\n/usr/share/a.ogg\r\n",
       "#EXTM3U\r\n#EXTINF:10,Intro\r\n" + c + "Media/intro.mkv\r\n  " + c + "Lists/clips/a b.mkv\r\n" + c +
           "Films/c.mkv\r\nfile:///media/cdrom/x%20y.mkv\r\nhttp://example.org/live\r\n/usr/share/a.ogg\r\n"},
      // In the code page, with line feeds alone and no last line end.
      {"ANSI.M3U", "C:\\M\xE9" "dia\\a.mkv\nb.mkv", c + "M\xE9" "dia/a.mkv\n" + c + "Lists/b.mkv"},
      // UTF-8 with its mark, and UTF-16 (what PowerShell's Out-File writes).
      {"utf8.m3u8", "\xEF\xBB\xBF" "D:\\\xD0\xA4.mkv\r\n", "\xEF\xBB\xBF/media/cdrom/\xD0\xA4.mkv\r\n"},
      // Every spelling of a path, a share the host has not mounted too.
      {"unc.m3u", "\\\\?\\C:\\a.mkv\n\\\\.\\D:\\b.mkv\n\\\\srv\\films\\c.mkv\n",
       c + "a.mkv\n/media/cdrom/b.mkv\nsmb://srv/films/c.mkv\n"},
      {"ps.m3u", Utf16("C:\\a.mkv\r\n"), Utf16("/home/guest/.wine/drive_c/a.mkv\r\n")},
      // .pls: the values of File1, File2, ...
      {"radio.pls", "[playlist]\r\nFile1=C:\\a.mp3\r\nTitle1=C:\\a.mp3\r\nfile2=http://x/s\r\nNumberOfEntries=2\r\n",
       "[playlist]\r\nFile1=" + c + "a.mp3\r\nTitle1=C:\\a.mp3\r\nfile2=http://x/s\r\nNumberOfEntries=2\r\n"},
      // .xspf: the locations, which are URLs (relative ones to the list).
      {"mix.xspf",
       "<trackList><track><location>file:///C:/My%20Music/a.mp3</location><title>C:\\a</title></track>\n"
       "<track><location>sub/b%20&amp;c.mp3</location></track><track><location>C:\\d&#233;.mp3</location>"
       "</track><track><location>C:\\e&#xD800;.mp3</location></track><track><location>\\\\srv\\s\\f.mp3</location>"
       "</track><track><location>http://x/s</location></track></trackList>\n",
       "<trackList><track><location>file://" + c + "My%20Music/a.mp3</location><title>C:\\a</title></track>\n"
       "<track><location>file://" + c + "Lists/sub/b%20%26c.mp3</location></track><track><location>file://" + c +
           "d%C3%A9.mp3</location></track><track><location>file://" + c +
           "e%26%23xD800%3B.mp3</location></track><track><location>smb://srv/s/f.mp3</location></track>"
           "<track><location>http://x/s</location></track></trackList>\n"},
  };
  std::vector<std::string> copies;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sys.AddFile("C:\\Lists\\" + row.name, row.list);
    sys.commandLine = "modrik.exe " + row.name;
    modrik::MainRoutine();
    // '/usr/bin/vlc' '/home/guest/.cache/modrik/list-<16 hex digits>/NAME'
    const std::string line = HostCommand(sys), head = "'/usr/bin/vlc' '/home/guest/.cache/modrik/list-";
    ASSERT_EQ(line.rfind(head, 0), 0u) << line;
    const std::string folder = line.substr(head.size(), 16);
    EXPECT_EQ(folder.find_first_not_of("0123456789abcdef"), std::string::npos) << line;
    EXPECT_EQ(line.substr(head.size() + 16), "/" + row.name + "'");
    EXPECT_EQ(sys.FileBytes("\\\\?\\unix\\home\\guest\\.cache\\modrik\\list-" + folder + "\\" + row.name), row.copy);
    EXPECT_EQ(sys.FileBytes("C:\\Lists\\" + row.name), row.list);
    // The copy's folder is made and shown to be the user's alone by the host first.
    const std::string made = "host command: " + modrik::OwnFolderCommand("/home/guest/.cache/modrik/list-" + folder);
    EXPECT_NE(std::find(sys.traces.begin(), sys.traces.end(), made), sys.traces.end());
    copies.push_back(line);
  }
  // Each list has a copy of its own.
  std::sort(copies.begin(), copies.end());
  EXPECT_EQ(std::unique(copies.begin(), copies.end()), copies.end());

  // A list whose entries are all URLs, and a list that cannot be read, reach
  // the player as they are.
  sys.AddFile("C:\\Lists\\web.m3u", "#EXTM3U\nhttps://example.org/a.mkv\n");
  sys.commandLine = "modrik.exe web.m3u \"C:\\Lists\\gone.pls\"";
  modrik::MainRoutine();
  EXPECT_EQ(HostCommand(sys), "'/usr/bin/vlc' '" + c + "Lists/web.m3u' '" + c + "Lists/gone.pls'");
}

// The copy goes to $XDG_RUNTIME_DIR/modrik when there is one (and it is
// the user's own), in the code page of the list or, when the code page
// cannot spell the Unix path, in UTF-8 with its mark. (Copies not written
// for a day go at the next start: see the host command's tests.)
TEST_F(UnixPlayerStart, PlaylistCopiesLiveInTheRuntimeFolderForADay) {
  sys.environment["XDG_RUNTIME_DIR"] = "/run/user/1000";
  sys.environment["WINECONFIGDIR"] = "\\??\\Z:\\home\\guest\\\xD0\x92\xD0\xB8\xD0\xBD\xD0\xBE";
  const std::string copies = "\\\\?\\unix\\run\\user\\1000\\modrik\\";
  sys.AddFile("C:\\b.m3u", "C:\\caf\xE9.mkv\r\n");
  sys.commandLine = "modrik.exe C:\\b.m3u";
  modrik::MainRoutine();
  const std::string line = HostCommand(sys), head = "'/usr/bin/vlc' '/run/user/1000/modrik/list-";
  ASSERT_EQ(line.rfind(head, 0), 0u) << line;
  EXPECT_EQ(sys.FileBytes(copies + "list-" + line.substr(head.size(), 16) + "\\b.m3u"),
            "\xEF\xBB\xBF/home/guest/\xD0\x92\xD0\xB8\xD0\xBD\xD0\xBE/drive_c/caf\xC3\xA9.mkv\r\n");
}

// A start lists the drive links once at most, also when the prefix has no
// drive links but c: and z: (the drive map then stays empty), however many
// files there are.
TEST_F(UnixPlayerStart, ManyFilesCostNoMoreListingsThanOne) {
  std::size_t count = 0;
  sys.onStart = [this, &count](const std::string& line) {
    if (line.find("/bin/sh") != std::string::npos &&
        sys.FileBytes("z:\\home\\guest\\dues.sh").find("dosdevices/ ") != std::string::npos) {
      sys.AddFile("z:\\home\\guest\\dues.log", "z:\0/\0"s);
      ++count;
    }
    if (line.find("/bin/sh") != std::string::npos)
      fake::AnswerPrivateFolder(sys, sys.FileBytes("z:\\home\\guest\\dues.sh"), "z:\\home\\guest\\dues.log");
    return true;
  };
  auto listings = [this, &count](const std::string& tail) {
    count = 0;
    fake::ResetProgramState();  // each start a process of its own
    sys.commandLine = "modrik.exe " + tail;
    modrik::MainRoutine();
    return count;
  };
  std::string many;
  for (int i = 0; i < 100; ++i) many += " \"E:\\clip " + std::to_string(i) + ".mkv\"";
  listings("");  // the first start registers the program; the others are alike
  const std::size_t one = listings("\"E:\\clip.mkv\"");
  EXPECT_EQ(listings(many), one);
  EXPECT_EQ(one, 1u);
  EXPECT_NE(HostCommand(sys).find("'/home/guest/.wine/dosdevices/e:/clip 99.mkv'"), std::string::npos);
}

// The doctor's start: the recorder it names stands in for the player of
// modrik.ini; with no settings file nothing is asked, and nothing is
// written but the host command's script.
TEST_F(UnixPlayerStart, TheDoctorsRecorderStandsInForThePlayerAndNothingIsWritten) {
  sys.environment["MODRIK_DOCTOR_PLAYER"] = "/tmp/doctor/recorder";
  sys.AddFile("\\\\?\\unix\\tmp\\doctor\\recorder", "#!/bin/sh");
  sys.commandLine = "modrik.exe \"C:\\a b.mkv\"";
  for (const bool settings : {true, false}) {
    SCOPED_TRACE(settings);
    if (!settings) sys.files.erase("c:\\apps\\modrik.ini");
    const auto before = sys.files;
    EXPECT_EQ(modrik::MainRoutine(), 0);
    EXPECT_TRUE(sys.messages.empty());
    EXPECT_EQ(HostCommand(sys), "'/tmp/doctor/recorder' '/home/guest/.wine/dosdevices/c:/a b.mkv'");
    for (const auto& [path, bytes] : sys.files) {
      if (path.find("\\home\\guest\\dues.") == std::string::npos && path.find("\\modrik\\") == std::string::npos) {
        EXPECT_EQ(before.count(path) ? before.at(path) : "(new)", bytes) << path;
      }
    }
    fake::ResetProgramState();
  }
}

TEST_F(UnixPlayerStart, OptionAloneGetsNothingAdded) {
  sys.commandLine = "modrik.exe --fullscreen";
  modrik::MainRoutine();
  EXPECT_EQ(HostCommand(sys), "'/usr/bin/vlc' '--fullscreen'");
}

TEST_F(UnixPlayerStart, QuotedPathArrivesAsOneWord) {
  // The whole tail, quotes included, is translated as one path; its drive
  // letter then names Wine's drive link, which leads to the same file.
  sys.commandLine = "modrik.exe \"C:\\My Videos\\it's $(x).mkv\"";
  modrik::MainRoutine();
  EXPECT_EQ(HostCommand(sys),
            "'/usr/bin/vlc' '/home/guest/.wine/dosdevices/c:/My Videos/it'\\''s $(x).mkv'");
}

TEST_F(UnixPlayerStart, UnquotedTailIsSplitAtBlanks) {
  sys.commandLine = "modrik.exe D:\\a.mkv  --loop";
  modrik::MainRoutine();
  EXPECT_EQ(HostCommand(sys), "'/usr/bin/vlc' '/media/cdrom/a.mkv' '--loop'");
}

TEST_F(UnixPlayerStart, SeveralFilesAreEachTranslated) {
  sys.commandLine = "modrik.exe \"C:\\My Videos\\a.mkv\" \"d:\\b c.mkv\" E:\\e.mkv --loop x:y z:/w";
  modrik::MainRoutine();
  EXPECT_EQ(HostCommand(sys),
            "'/usr/bin/vlc' '/home/guest/.wine/dosdevices/c:/My Videos/a.mkv' '/media/cdrom/b c.mkv' "
            "'/home/guest/.wine/dosdevices/e:/e.mkv' '--loop' 'x:y' '/w'");
}

// A missing player, or a folder in its place, is reported, and the trace
// says which path was looked at.
TEST_F(UnixPlayerStart, MissingPlayerOnTheHostIsReported) {
  for (bool folder : {false, true}) {
    sys.files.erase(fake::FakePlatform::Key("\\\\?\\unix\\usr\\bin\\vlc"));
    if (folder) sys.AddFolder("\\\\?\\unix\\usr\\bin\\vlc");
    sys.messages.clear();
    sys.commandLine = "modrik.exe D:\\a.mkv";
    modrik::MainRoutine();
    ASSERT_EQ(sys.messages.size(), 1u);
    EXPECT_EQ(sys.messages[0].text, kNotFound);
    EXPECT_EQ(sys.FileBytes("z:\\home\\guest\\dues.sh").find("/usr/bin/vlc"), std::string::npos);
    EXPECT_EQ(sys.traces.end()[-2], "no player at /usr/bin/vlc");
  }
}

// The process ends with the player, and with its exit code; a start that
// did not reach the player says why.
TEST_F(UnixPlayerStart, ExitCodeIsThePlayersStatusOrWhyItDidNotPlay) {
  sys.commandLine = "modrik.exe D:\\a.mkv";
  const std::string start = "\\\\?\\unix\\home\\guest\\.cache\\modrik\\0000000000005eed\\";
  for (const auto& [status, code] : std::vector<std::pair<std::string, int>>{
           {"0\n", 0}, {"3\n", 3}, {"143\n", 143}, {"255\n", 255}}) {
    playerStatus = status;
    EXPECT_EQ(modrik::MainRoutine(), code) << status;
    // modrik took hold of the start with one byte and let go at the end.
    ASSERT_FALSE(sys.writes.empty());
    EXPECT_EQ(sys.writes.back(), (std::pair<std::string, std::string>{start + "live", "+"}));
    EXPECT_EQ(sys.openWrites, 0);
  }
  // A host command that never makes the start's files is given up on.
  sys.files.clear();
  sys.AddFile("\\\\?\\unix\\usr\\bin\\vlc", "ELF");
  Settings(sys, "/usr/bin/vlc");
  playerStatus = "";
  sys.onStart = nullptr;
  sys.sleeps.clear();
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitNotStarted);
  EXPECT_GE(sys.sleeps.size(), 100u);  // 25 s in quarter seconds
  // Wine's start program cannot be started.
  sys.onStart = [](const std::string& line) { return line.find("/bin/sh") == std::string::npos; };
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitNotStarted);
  // A home where dues.sh cannot be written: a start whose private folder
  // is known needs no file there, and plays; one that must first ask the
  // host for it ends with 125, and nothing is run.
  sys.processes.clear();
  sys.readOnlyFolders["z:\\home\\guest"] = true;
  sys.onStart = [this](const std::string&) {
    fake::PlayNativeStart(sys, fake::LastHostScript(sys), "0\n");
    return true;
  };
  EXPECT_EQ(modrik::MainRoutine(), 0);
  EXPECT_EQ(sys.processes.size(), 1u);
  EXPECT_FALSE(sys.HasFile("z:\\home\\guest\\dues.sh"));
  sys.processes.clear();
  modrik::PrivateFolder.reset();
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitScriptNotWritten);
  EXPECT_TRUE(sys.processes.empty());
  // Also before the private folder is known (asking the host for it is the
  // first write of dues.sh), and with a folder where dues.sh goes.
  modrik::PrivateFolder.reset();
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitScriptNotWritten);
  sys.readOnlyFolders.clear();
  modrik::PrivateFolder.reset();
  sys.files.erase("z:\\home\\guest\\dues.sh");
  sys.AddFolder("z:\\home\\guest\\dues.sh");
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitScriptNotWritten);
  EXPECT_TRUE(sys.processes.empty());
  sys.folders.erase("z:\\home\\guest\\dues.sh");
  // No place for the private folder is the user's own: nothing is started.
  sys.readOnlyFolders.clear();
  modrik::PrivateFolder.reset();
  sys.onStart = [this](const std::string&) {
    sys.AddFile("z:\\home\\guest\\dues.log", "1000\nmissing\nmissing\n1001 700 directory\nmissing\n");
    return true;
  };
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitNotStarted);
  EXPECT_EQ(sys.FileBytes("z:\\home\\guest\\dues.sh").find("/usr/bin/vlc"), std::string::npos);
  EXPECT_EQ(sys.traces.end()[-2], "the native player is not started: it needs the private folder");
}

TEST_F(UnixPlayerStart, CallersStreamIsForwardedOnlyWhenThePlayerReadsStandardInput) {
  const std::string in = "\\\\?\\unix\\home\\guest\\.cache\\modrik\\0000000000005eed\\in";
  sys.AddFile(in, "");  // the host's FIFO
  for (const char* tail : {"-", "--demux=ts fd://0", "D:\\a.mkv"}) {
    for (bool stream : {false, true}) {
      SCOPED_TRACE(std::string(tail) + (stream ? ", stream" : ""));
      sys.inputIsStream = stream;
      sys.forwardedTo.clear();
      sys.commandLine = std::string("modrik.exe ") + tail;
      EXPECT_EQ(modrik::MainRoutine(), 0);
      const bool forwarded = stream && std::string(tail) != "D:\\a.mkv";
      EXPECT_EQ(sys.forwardedTo, forwarded ? std::vector<std::string>{in} : std::vector<std::string>{});
      const std::string script = fake::LastHostScript(sys);
      EXPECT_EQ(script.find(" stream=1 launch= out= err= verify=\nset -- ") != std::string::npos, forwarded);
    }
  }
}

// The player writes into the handles the caller gave modrik, through it;
// what it wrote is copied before modrik ends. A FIFO that cannot be
// opened: the start is not taken hold of half.
TEST_F(UnixPlayerStart, PlayersOutputGoesToTheHandlesTheCallerGave) {
  const std::string start = "\\\\?\\unix\\home\\guest\\.cache\\modrik\\0000000000005eed\\";
  sys.AddFile(start + "stdout", "");
  sys.outputGiven = sys.errorGiven = true;
  sys.commandLine = "modrik.exe --version";
  EXPECT_EQ(modrik::MainRoutine(), modrik::kExitNotStarted);
  EXPECT_TRUE(sys.forwardedOut.empty());
  EXPECT_EQ(sys.openWrites, 0);
  sys.AddFile(start + "stderr", "");
  EXPECT_EQ(modrik::MainRoutine(), 0);
  EXPECT_EQ(sys.forwardedOut, (std::vector<std::string>{start + "stdout>1", start + "stderr>2"}));
  EXPECT_EQ(sys.forwardingFinished, 1);
  EXPECT_NE(fake::LastHostScript(sys).find(" out=1 err=1 "), std::string::npos);
  EXPECT_EQ(sys.openWrites, 0);
}

TEST(MainRoutine, WindowsPlayerIsWaitedForAndItsExitCodeReturned) {
  fake::FakePlatform sys;
  Settings(sys, "C:\\VLC\\vlc.exe");
  sys.AddFile("C:\\VLC\\vlc.exe", "MZ");
  for (const char* tail : {"a.mkv", "/hidden"}) {
    sys.commandLine = std::string("modrik.exe ") + tail;
    sys.exitCode = 7;
    sys.endWaits.clear();
    EXPECT_EQ(modrik::MainRoutine(), 7) << tail;
    ASSERT_EQ(sys.endWaits.size(), 1u);
    EXPECT_EQ(sys.endWaits[0].second, platform::kNoTimeout);
    sys.shellStarts = false;
    EXPECT_EQ(modrik::MainRoutine(), modrik::kExitNotStarted) << tail;
    sys.shellStarts = true;
  }
}
