// Debian's real player, end to end: modrik.exe runs under Wine for a non-root
// user (the player refuses to run as root) with its settings naming
// /usr/bin/vlc, and the test checks that the player holds exactly the video it
// was asked to open: a name with blanks, brackets, an ampersand, accented and
// Cyrillic letters.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

// "Фильм & été (2026).mp4" (UTF-8 on the host).
const std::string kVideo = "\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC & \xC3\xA9t\xC3\xA9 (2026).mp4";

// Runs as the user under its own X display and D-Bus session.
// `real.sh boot`: creates the user's prefix. `real.sh play VIDEO ARG...`:
// starts modrik.exe with the arguments from C:\media (a caller's working
// folder on drive C:), then looks every half second (at most 40 s) at the
// arguments and open files of every vlc of the user, until VIDEO has been
// open in three looks in a row; prints the last look and, when the player
// never held it, the output of Wine and the player. Then ends every vlc of
// the user by PID, prints modrik's exit code (the player's) and stops the
// prefix's wineserver; MDK_EXE names another modrik.exe to start. `real.sh
// install CMD...` runs CMD (the host command) as the user. `real.sh wait`: mdkdrive.exe runs the job
// C:\modrik\wait.job (result wait.res) while every vlc of the user is looked
// for every 50 ms; prints "vlc FIRST LAST", the Unix times in ms it was seen.
const char kScript[] = R"sh(#!/bin/sh
cd "$HOME" || exit 2
if [ "$1" = boot ]; then
  timeout 240 wineboot -i > mdk-real/boot.log 2>&1 || exit 3
  timeout 60 wine regedit /S "$(echo "Z:$HOME/mdk-real/settings.reg" | tr / '\\')" || exit 4
  timeout 60 wineserver -k; timeout 60 wineserver -w; exit 0
fi
if [ "$1" = wait ]; then
  cd "$HOME/.wine/drive_c/media" || exit 2
  timeout 120 wine 'C:\modrik\mdkdrive.exe' 'C:\modrik\wait.job' 'C:\modrik\wait.res' > "$HOME/mdk-real/wine.log" 2>&1 &
  m=$!
  while kill -0 $m 2>/dev/null; do
    if pgrep -u "$USER" -x vlc > /dev/null; then last=$(date +%s%3N); first=${first:-$last}; fi
    sleep 0.05
  done
  echo "vlc ${first:-0} ${last:-0}"
  timeout 60 wineserver -k; timeout 60 wineserver -w; exit 0
fi
if [ "$1" = install ]; then
  shift; exec "$@"
fi
video=$2; shift 2
cd "$HOME/.wine/drive_c/media" || exit 2
timeout 90 wine "${MDK_EXE:-C:\modrik\modrik.exe}" "$@" > "$HOME/mdk-real/wine.log" 2>&1 &
modrik=$!
cd "$HOME" || exit 2
i=0; held=0
while [ $i -lt 80 ] && [ $held -lt 3 ]; do
  sleep 0.5; i=$((i + 1))
  look=$(for p in $(pgrep -u "$USER" -x vlc); do
    echo "vlc $p"; tr '\0' '\n' < /proc/$p/cmdline | sed 's/^/arg /'
    for f in /proc/$p/fd/*; do echo "fd $(readlink "$f")"; done
  done)
  if printf '%s\n' "$look" | grep -qxF "fd $video"; then held=$((held + 1)); else held=0; fi
done
printf '%s\n' "$look"
[ $held -ge 3 ] || { echo "after $i looks:"; sed 's/^/log /' mdk-real/wine.log; }
for p in $(pgrep -u "$USER" -x vlc); do kill "$p" 2>/dev/null; done
i=0
while [ $i -lt 20 ] && pgrep -u "$USER" -x vlc > /dev/null; do sleep 0.5; i=$((i + 1)); done
for p in $(pgrep -u "$USER" -x vlc); do kill -9 "$p"; done
wait $modrik; echo "modrik exit $?"
timeout 60 wineserver -k; timeout 60 wineserver -w
exit 0
)sh";

class RealPlayer : public ::testing::Test {
 protected:
  // A user of its own for a 32-bit prefix.
  static std::string User() { return Wine::Get().User() + (Win32Prefix() ? "vlc32" : "vlc"); }
  static std::string Home() { return "/home/" + User(); }
  static std::string DriveC() { return Home() + "/.wine/drive_c"; }

  // Runs argv as root, or (asUser) the script as the user, bounded.
  static RunResult Run(std::vector<std::string> argv, int timeoutMs, bool asUser = false,
                       const std::string& exe = "") {
    static int n = 0;
    if (asUser) {
      const std::string u = User(), h = Home();
      std::vector<std::string> pre = {
          "runuser", "-u", u, "--", "env", "-i", "PATH=/usr/local/bin:/usr/bin:/bin", "HOME=" + h,
          "USER=" + u, "LOGNAME=" + u, "LANG=C.UTF-8", "WINEPREFIX=" + h + "/.wine", "WINEDEBUG=-all",
          "WINEDLLOVERRIDES=mscoree,mshtml=", Win32Prefix() ? "WINEARCH=win32" : "WINEARCH=win64",
          "MDK_EXE=" + exe, "xvfb-run", "-a", "dbus-run-session", "--", "sh",
          h + "/mdk-real/real.sh"};
      argv.insert(argv.begin(), pre.begin(), pre.end());
    }
    const std::string log = Wine::Get().LogDir() + "/real-" + std::to_string(++n);
    return RunProcess(argv, Wine::Get().Environment(), log, timeoutMs, "/");
  }

  static void SetUpTestSuite() {
    const std::string u = User(), h = Home();
    if (Run({"id", "-u", u}, 10000).exitCode != 0) {
      ASSERT_EQ(Run({"useradd", "-m", u}, 30000).exitCode, 0);
    }
    ASSERT_TRUE(WriteFile(h + "/mdk-real/real.sh", kScript));
    ASSERT_TRUE(WriteFile(h + "/mdk-real/settings.reg",
                          "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"
                          "\"Managed\"=\"N\"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"
                          "\"ShowCrashDialog\"=dword:00000000\r\n"));
    ASSERT_EQ(Run({"chown", "-R", u + ":", h}, 60000).exitCode, 0);
    // The prefix, made once; an unfinished one is made anew.
    if (!Exists(h + "/.wine/.mdk-real-ready") || !Exists(h + "/.wine/system.reg")) {
      RemoveTree(h + "/.wine");
      RunResult boot = Run({"boot"}, 330000, true);
      ASSERT_EQ(boot.exitCode, 0) << boot.out << boot.err << ReadFile(h + "/mdk-real/boot.log").value_or("");
      ASSERT_TRUE(WriteFile(h + "/.wine/.mdk-real-ready", ""));
    }
    // Real videos of 60 and 4 seconds, made once; the first under the
    // awkward name in C:\media.
    for (const char* seconds : {"60", "4"}) {
      const std::string made = h + "/mdk-real/testsrc" + seconds + ".mp4";
      if (Exists(made)) continue;
      RunResult ff = Run({"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-f", "lavfi", "-i",
                          "testsrc=duration=" + std::string(seconds) + ":size=320x240:rate=25", "-f",
                          "lavfi", "-i", "sine=duration=" + std::string(seconds), "-shortest",
                          made + ".part.mp4"}, 180000);
      ASSERT_EQ(ff.exitCode, 0) << ff.err;
      ASSERT_EQ(rename((made + ".part.mp4").c_str(), made.c_str()), 0);
    }
    ASSERT_TRUE(CopyFile(h + "/mdk-real/testsrc60.mp4", DriveC() + "/media/" + kVideo));
    ASSERT_TRUE(CopyFile(h + "/mdk-real/testsrc4.mp4", DriveC() + "/media/clip4.mp4"));
    ASSERT_TRUE(CopyFile(ToolExe("mdkdrive"), DriveC() + "/modrik/mdkdrive.exe"));
    ASSERT_TRUE(CopyFile(ModrikExe(), DriveC() + "/modrik/modrik.exe")) << ModrikExe();
    ASSERT_TRUE(WriteFile(DriveC() + "/modrik/modrik.ini", "[modrik]\r\nvlcpath=/usr/bin/vlc\r\n"));
    ASSERT_EQ(Run({"chown", "-R", u + ":", h}, 60000).exitCode, 0);
  }

  // The user's display, bus and file-system helpers end within seconds of
  // the script; whatever is still left then is ended by its PID.
  void TearDown() override {
    for (int i = 0; i < 40 && Run({"pgrep", "-u", User()}, 10000).exitCode == 0; i++) usleep(250000);
    std::istringstream left(Run({"pgrep", "-u", User()}, 10000).out);
    for (std::string pid; left >> pid;) Run({"kill", "-9", pid}, 10000);
  }

  // Starts modrik.exe with these arguments; expects the player to hold the
  // video open (by default the one in C:\media). `look` receives the last
  // look (the player's arguments, "arg ...", and open files, "fd ...").
  void ExpectPlayerHoldsTheVideo(const std::vector<std::string>& args, std::string* look = nullptr,
                                 std::string host = "", const std::string& exe = "") {
    char real[PATH_MAX];
    if (host.empty()) host = DriveC() + "/media/" + kVideo;
    ASSERT_NE(realpath(host.c_str(), real), nullptr) << host;
    std::vector<std::string> argv = {"play", real};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = Run(argv, 300000, true, exe);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    if (look != nullptr) *look = r.out;
    std::istringstream lines(r.out);
    int players = 0, holding = 0;
    for (std::string line; std::getline(lines, line);) {
      players += line.rfind("vlc ", 0) == 0;
      holding += line == "fd " + std::string(real);
    }
    EXPECT_NE(r.out.find("modrik exit 0\n"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(players, 1) << r.out;
    EXPECT_EQ(holding, 1) << "the player does not hold " << real << " open:\n" << r.out;
  }
};

TEST_F(RealPlayer, FileArgumentReachesThePlayer) { ExpectPlayerHoldsTheVideo({"C:\\media\\" + kVideo}); }

// Installed by the host command (the package's, when MODRIK_E2E_HOSTCMD
// names it) as the player's executable, modrik plays the video in the real
// player; uninstall takes it away again.
TEST_F(RealPlayer, InstalledByTheHostCommandPlays) {
  // The user may not enter the checkout (in /root, a `mktemp -d`): it runs a
  // copy in its home, the builds where an installed command finds them.
  const std::string prefix = Home() + "/.wine", own = HostCommand().substr(0, HostCommand().rfind('/'));
  const std::string host = Home() + "/mdk-real/host", modrik = host + "/bin/modrik";
  ASSERT_TRUE(CopyFile(HostCommand(), modrik));
  for (const auto& [arch, build] : {std::pair<std::string, std::string>{"x86_64", "win"}, {"i686", "win32"}}) {
    const std::string shipped = own + "/../share/modrik/" + arch + "/modrik.exe";
    ASSERT_TRUE(CopyFile(Exists(shipped) ? shipped : own + "/../" + build + "/modrik.exe",
                         host + "/share/modrik/" + arch + "/modrik.exe"));
  }
  ASSERT_EQ(Run({"chown", "-R", User() + ":", host}, 60000).exitCode, 0);
  RunResult r = Run({"install", modrik, "install", "--prefix", prefix, "--player", "/usr/bin/vlc"}, 120000, true);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  ExpectPlayerHoldsTheVideo({"C:\\media\\" + kVideo}, nullptr, "", "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe");
  r = Run({"install", modrik, "list", "--prefix", prefix}, 60000, true);
  EXPECT_EQ(r.out, prefix + " (wine): " + (Win32Prefix() ? "win32" : "win64") + ", modrik " MODRIK_VERSION_TEXT
                       ", current\n    channel: host\n") << r.err;
  r = Run({"install", modrik, "uninstall", "--prefix", prefix}, 120000, true);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_FALSE(Exists(DriveC() + "/Program Files/VideoLAN/VLC/vlc.exe"));
}

// A caller that waits for the player's executable (mdkdrive.exe) waits as
// long as the player plays a 4-second clip, within half a second.
TEST_F(RealPlayer, CallerWaitsAsLongAsThePlayerPlays) {
  ASSERT_TRUE(WriteFile(DriveC() + "/modrik/wait.job",
                        FormatFields({{"cmd", "\"C:\\modrik\\modrik.exe\" --play-and-exit C:\\media\\clip4.mp4"},
                                      {"timeout_ms", "90000"}})));
  RemoveTree(DriveC() + "/modrik/wait.res");
  ASSERT_EQ(Run({"chown", "-R", User() + ":", DriveC() + "/modrik"}, 60000).exitCode, 0);
  RunResult r = Run({"wait"}, 300000, true);
  ASSERT_FALSE(r.timedOut) << r.out << r.err;
  long long first = 0, last = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "vlc %lld %lld", &first, &last), 2) << r.out;
  Fields result;
  ASSERT_TRUE(ParseFields(ReadFile(DriveC() + "/modrik/wait.res").value_or(""), &result)) << r.out;
  EXPECT_EQ(FieldValue(result, "exit"), "0") << FormatFields(result);
  const long long end = std::stoll(FieldValue(result, "end_at").value_or("0"));
  std::printf("player seen for %lld ms; the caller's wait ended %lld ms after it\n", last - first, end - last);
  EXPECT_GE(last - first, 3500) << "the clip was not played";
  EXPECT_GE(end, last);
  EXPECT_LE(end - last, 500);
}

// The options the player's installer registers for opening a file.
TEST_F(RealPlayer, FileAfterTheInstallersOptionsReachesThePlayer) {
  ExpectPlayerHoldsTheVideo({"--started-from-file", "--playlist-enqueue", "C:\\media\\" + kVideo});
}

// Spellings Windows takes for the file reach the player as that file:
// letter case, also through Wine's shell-folder link to the home, the 8.3
// name Wine gives the video, and the long-path form.
TEST_F(RealPlayer, WindowsSpellingsOfTheFileReachThePlayer) {
  const std::string copy = DriveC() + "/users/" + User() + "/Videos/a.mp4";
  ASSERT_TRUE(CopyFile(DriveC() + "/media/" + kVideo, copy));
  ASSERT_EQ(Run({"chown", "-R", User() + ":", Home()}, 60000).exitCode, 0);
  std::string user = User();
  for (char& c : user) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ExpectPlayerHoldsTheVideo({"C:\\USERS\\" + user + "\\VIDEOS\\A.MP4"}, nullptr, copy);
  ExpectPlayerHoldsTheVideo({"C:\\MEDIA\\____~SDG.MP4"});  // Wine's 8.3 name of kVideo (a hash of it)
  ExpectPlayerHoldsTheVideo({"\\\\?\\C:\\media\\" + kVideo});
}

// Command lines Windows callers build: a file: URL percent-encoded as
// Windows programs write it; a playlist saved on Windows (UTF-8 with its
// mark, CR LF) whose entry is the video's C:\ path; a torrent streamer's
// quoted option value with quotes inside; an option only the player's
// Windows build knows (left out), also abbreviated, before a subtitle file
// (translated), also in its long-path form and another letter case.
TEST_F(RealPlayer, CallersCommandLinesReachThePlayer) {
  const std::string title = "\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC";  // Фильм
  ASSERT_TRUE(WriteFile(DriveC() + "/media/My list.m3u",
                        "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:60,Film\r\nC:\\media\\" + kVideo + "\r\n"));
  ASSERT_TRUE(WriteFile(DriveC() + "/media/a.srt", "1\r\n00:00:00,000 --> 00:00:50,000\r\nmodrik\r\n"));
  const struct {
    std::vector<std::string> args;
    std::string argPassed, textAbsent;
  } rows[] = {
      {{"file:///C:/media/%D0%A4%D0%B8%D0%BB%D1%8C%D0%BC%20&%20%C3%A9t%C3%A9%20(2026).mp4"}, "", ""},
      {{"C:\\media\\My list.m3u"}, "", ""},
      {{"--play-and-exit", "--quiet", "--meta-title=\"" + title + "\"", "C:\\media\\" + kVideo},
       "--meta-title=\"" + title + "\"", ""},
      {{"--rc-quiet", "--sub-file=C:\\media\\a.srt", "C:\\media\\" + kVideo},
       "--sub-file=" + DriveC() + "/media/a.srt", "rc-quiet"},
      {{"--high-prio", "--sub-file=\\\\?\\C:\\MEDIA\\A.SRT", "C:\\media\\" + kVideo},
       "--sub-file=" + DriveC() + "/media/a.srt", "high-prio"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.front());
    std::string out;
    ExpectPlayerHoldsTheVideo(row.args, &out);
    if (!row.argPassed.empty()) {
      EXPECT_NE(out.find("\narg " + row.argPassed + "\n"), std::string::npos) << out;
    }
    if (!row.textAbsent.empty()) {
      EXPECT_EQ(out.find(row.textAbsent), std::string::npos) << out;
    }
  }
}

}  // namespace
