// Wine set-ups other than the default ~/.wine of /home/USER, end to end:
// another prefix of the same user, a home outside /home with a blank in it,
// a home that cannot be written, a link in the place of dues.sh, and a player
// installed as a Flatpak. Each prefix is a copy of the suite's (hard links
// for the files Wine only reads) with a wineserver of its own.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

using namespace e2e;

namespace {

using Args = std::vector<std::string>;

const int kPlayerWaitMs = 15000;
const int kQuietMs = 4000;
// Homes outside /home, one folder per test user.
std::string Homes() { return "/var/tmp/mdk-e2e-homes-" + Wine::Get().User(); }

// A home and a prefix of their own, and the environment that runs Wine there.
class WineSetup {
 public:
  WineSetup(const std::string& home, const std::string& prefix) : home_(home), prefix_(prefix) {
    Wine& wine = Wine::Get();
    RemoveTree(prefix_);
    MakeDirs(home_ + "/.local/share/applications");
    MakeDirs(home_ + "/.local/share/icons");
    MakeDirs(prefix_.substr(0, prefix_.rfind('/')));
    env_ = wine.Environment({"HOME=" + home_, "WINEPREFIX=" + prefix_});
    Run({"cp", "-al", wine.Prefix(), prefix_});
    // Wine rewrites these: each prefix gets its own copies.
    for (const char* name : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"})
      Run({"cp", "--remove-destination", wine.Prefix() + "/" + name, prefix_ + "/" + name});
  }
  ~WineSetup() { Run({"wineserver", "-k"}); }

  RunResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {}) {
    std::vector<std::string> env = env_;
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return RunProcess(argv, env, Wine::Get().LogDir() + "/setup-" + std::to_string(++runs_), 90000);
  }

 private:
  std::string home_, prefix_;
  std::vector<std::string> env_;
  int runs_ = 0;
};

// A read-only bind mount of a folder over itself, undone at the end.
class ReadOnly {
 public:
  explicit ReadOnly(const std::string& folder) : folder_(folder) {
    ok_ = mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0;
    ok_ = ok_ && mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  }
  ~ReadOnly() { umount(folder_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string folder_;
  bool ok_ = false;
};

// modrik.exe and a recording native player in a test folder of the suite's
// prefix; the program is started by its host path from any set-up.
struct Program {
  TestFolder dir = TestFolder::ForCurrentTest();
  std::string exe = (dir.InstallModrik(), dir.Host("modrik.exe"));
  std::string player = dir.MakeNativePlayer("bin/vlc");
  Program() { WriteFile(dir.Host("modrik.ini"), "[modrik]\r\nvlcpath=" + player + "\r\n"); }
  std::vector<NativePlayerRecord> Records(int waitMs = kPlayerWaitMs) {
    return WaitForNativePlayer(player + ".rec", waitMs);
  }
};

// A C: file and a D: drive of the second prefix reach the player, not the
// default prefix's file of the same name.
TEST(WineSetups, SecondPrefixWithABlankUsesItsOwnDrives) {
  Program program;
  const std::string prefix = Wine::Get().Home() + "/Games/My Game/pfx";
  WineSetup setup(Wine::Get().Home(), prefix);
  WriteFile(prefix + "/drive_c/clip.mkv", "second C");
  WriteFile(Wine::Get().DriveC() + "/clip.mkv", "default C");
  WriteFile(program.dir.Host("d-drive/clip.mkv"), "second D");
  ASSERT_EQ(symlink(program.dir.Host("d-drive").c_str(), (prefix + "/dosdevices/d:").c_str()), 0);

  setup.Run({"wine", program.exe, "C:\\clip.mkv", "D:\\clip.mkv"});
  std::vector<NativePlayerRecord> got = program.Records();
  RemoveTree(Wine::Get().DriveC() + "/clip.mkv");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].args, Args({prefix + "/drive_c/clip.mkv", program.dir.Host("d-drive") + "/clip.mkv"}));
  ASSERT_EQ(got[0].args.size(), 2u);
  EXPECT_EQ(ReadFile(got[0].args[0]), "second C");
  EXPECT_EQ(ReadFile(got[0].args[1]), "second D");
}

// A home outside /home, with a blank: the player starts, the runner's files
// and the desktop entry sit in that home, nothing is made under /home; a link
// in the place of dues.sh is replaced, its target left as it was; the trace
// tells the prefix, the home and the player's argv.
TEST(WineSetups, HomeOutsideHomeWithABlank) {
  Program program;
  const std::string home = Homes() + "/john smith";
  WineSetup setup(home, home + "/.wine");
  const std::string userHome = Wine::Get().Home();
  RemoveTree(userHome + "/dues.sh");
  RemoveTree(userHome + "/dues.log");
  RemoveTree(home + "/dues.sh");
  RemoveTree(home + "/.local/share/applications/wine-modrik.desktop");
  WriteFile(home + "/precious", "precious");
  chmod((home + "/precious").c_str(), 0644);
  ASSERT_EQ(symlink((home + "/precious").c_str(), (home + "/dues.sh").c_str()), 0);

  RunResult run = setup.Run({"wine", program.exe, "Z:" + home + "/a b.mkv"}, {"WINEDEBUG=+debugstr"});
  std::vector<NativePlayerRecord> got = program.Records();
  ASSERT_EQ(got.size(), 1u);
  // Wine quotes the argument; a quoted path goes through the prefix's links.
  EXPECT_EQ(got[0].args, Args({home + "/.wine/dosdevices/z:" + home + "/a b.mkv"}));
  struct stat st{};
  ASSERT_EQ(lstat((home + "/dues.sh").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link is replaced by the script";
  EXPECT_EQ(ReadFile(home + "/precious"), "precious");
  ASSERT_EQ(stat((home + "/precious").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_TRUE(Exists(home + "/.local/share/applications/wine-modrik.desktop"));
  EXPECT_FALSE(Exists(userHome + "/dues.sh"));
  EXPECT_FALSE(Exists(userHome + "/dues.log"));
  for (const std::string& line :
       {"modrik: under Wine " + Wine::Get().Version() + ", prefix " + home + "/.wine, home " + home,
        "modrik: native player, 1 argument(s): '" + program.player + "' '" + got[0].args.at(0) + "'"})
    EXPECT_NE(run.err.find(line), std::string::npos) << line << "\n" << run.err;
}

// Wine names a prefix and a home through the first drive that maps them:
// with h: linked to the home, "\??\H:\...". A second prefix of the user, and
// a home outside /home with its own .wine (no WINEPREFIX): each plays its
// own C: file, not the default prefix's of that name, and keeps dues.sh and
// the desktop entry in its home. A prefix without drive Z plays as well.
TEST(WineSetups, PrefixAndHomeOnDriveH) {
  const std::string user = Wine::Get().Home(), outside = Homes() + "/hana h";
  const struct {
    std::string home, prefix;
    std::vector<std::string> wine;
    bool noDriveZ;
  } rows[] = {{user, user + "/Games/pfx3", {"wine"}, false},
              {outside, outside + "/.wine", {"env", "-u", "WINEPREFIX", "wine"}, false},
              {user, user + "/Games/pfx4", {"wine"}, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.prefix);
    Program program;
    WineSetup setup(row.home, row.prefix);
    ASSERT_EQ(symlink(row.home.c_str(), (row.prefix + "/dosdevices/h:").c_str()), 0);
    if (row.noDriveZ) {
      ASSERT_EQ(unlink((row.prefix + "/dosdevices/z:").c_str()), 0);
    }
    const std::string own = row.prefix + "/drive_c/media/new.mkv", other = Wine::Get().DriveC() + "/media/new.mkv";
    const std::string entry = row.home + "/.local/share/applications/wine-modrik.desktop";
    for (const std::string& gone : {own, other, row.home + "/dues.sh", entry}) RemoveTree(gone);
    WriteFile(own, row.prefix);  // never a hard link shared with the default prefix
    WriteFile(other, "the default prefix");
    std::vector<std::string> argv = row.wine;
    argv.insert(argv.end(), {program.exe, "C:\\media\\new.mkv"});
    setup.Run(argv);
    std::vector<NativePlayerRecord> got = program.Records();
    RemoveTree(other);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].args.size(), 1u);
    EXPECT_EQ(ReadFile(got[0].args[0]), row.prefix) << got[0].args[0];
    EXPECT_TRUE(Exists(row.home + "/dues.sh") && Exists(entry));
  }
}

// A read-only home with a stale dues.sh: nothing runs, the start ends with
// 125, and the trace says why.
TEST(WineSetups, ReadOnlyHomeRunsNoStaleScript) {
  Program program;
  const std::string home = Homes() + "/readonly";
  WineSetup setup(home, Homes() + "/readonly-pfx");
  const std::string canary = Homes() + "/stale-ran";
  RemoveTree(canary);
  WriteFile(home + "/dues.sh", "#!/bin/bash\ntouch '" + canary + "'\n");
  chmod((home + "/dues.sh").c_str(), 0755);
  RunResult run;
  std::vector<NativePlayerRecord> got;
  {
    ReadOnly readOnly(home);
    ASSERT_TRUE(readOnly.ok());
    run = setup.Run({"wine", program.exe, "C:\\clip.mkv"}, {"WINEDEBUG=+debugstr"});
    got = program.Records(kQuietMs);
  }
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(run.exitCode, 125) << "dues.sh could not be written";
  EXPECT_FALSE(Exists(canary)) << "the stale script ran";
  EXPECT_NE(run.err.find("modrik: cannot write z:\\\\var\\\\tmp\\\\mdk-e2e-homes-"), std::string::npos)
      << run.err;
}

// whereis names no player; one installed as a Flatpak for this user (in the
// home Wine runs with, whose name the ANSI code page cannot spell) is found on
// the first run, written down in UTF-8 and read back.
TEST(WineSetups, FirstRunFindsAFlatpakPlayer) {
  TestFolder dir = TestFolder::ForCurrentTest();
  dir.InstallModrik();
  const std::string home = Homes() + "/\xD0\xA4\xD1\x91\xD0\xB4\xD0\xBE\xD1\x80";  // Фёдор
  const std::string exported = home + "/.local/share/flatpak/exports/bin/org.videolan.VLC";
  const std::string player = dir.MakeNativePlayer("bin/vlc");
  ASSERT_TRUE(CopyFile(player, exported));
  dir.MakeNativePlayer("fakebin/whereis", "vlc:\n");
  PathFirst path(dir.Host("fakebin"));

  DriveOptions options;
  options.answers = {6};
  options.hostEnv = {"HOME=" + home};
  DriveResult run = Drive(dir, "\"" + dir.Win("modrik.exe") + "\" C:\\clip.mkv", options);
  ASSERT_TRUE(run.ran && run.started) << run.raw;
  ASSERT_EQ(run.boxes.size(), 1u) << run.raw;
  EXPECT_NE(ReadFile(dir.Host("modrik.ini")).value_or("").find("\r\nvlcpath=" + exported + "\r\n"),
            std::string::npos);
  std::vector<NativePlayerRecord> got = WaitForNativePlayer(player + ".rec", kPlayerWaitMs);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].args, Args({Wine::Get().DriveC() + "/clip.mkv"}));
}

}  // namespace
