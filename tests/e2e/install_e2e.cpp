// Installing modrik into a Wine prefix as the player's stand-in, and undoing
// it: scripts/install.sh and scripts/uninstall.sh against the test prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

const char kFolderWin[] = "C:\\Program Files\\VideoLAN\\VLC";

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = wine_.DriveC() + "/Program Files/VideoLAN/VLC";
    Uninstall();
    RemoveTree(folder_);
    RemoveTree(wine_.Prefix() + "/modrik-install");
    // What a start of another test's copy named vlc.exe left: it would count
    // as there before the install, and be kept by the uninstall.
    for (const char* f : {"applications/wine-vlc.desktop", "icons/vlc.ico", "icons/vlc.png"})
      RemoveTree(wine_.Home() + "/.local/share/" + f);
    wine_.RunWine("reg", {"delete", "HKLM\\SOFTWARE\\VideoLAN\\VLC", "/f"}, 30000);
    player_ = dir_.MakeNativePlayer("bin/vlc");
  }

  void TearDown() override {
    Uninstall();
    RemoveTree(folder_);
  }

  RunResult Script(const std::string& name, const std::vector<std::string>& args) {
    // The install refuses a prefix whose Windows programs run: the test's
    // own wineserver ends first.
    wine_.RunTool({"wineserver", "-k"}, 30000);
    std::vector<std::string> argv = {"bash", std::string(MODRIK_SOURCE_DIR_PATH) + "/scripts/" + name};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, wine_.Environment(), wine_.LogDir() + "/install-" + name, 120000);
  }

  RunResult Uninstall() { return Script("uninstall.sh", {}); }

  // The registry key's values as `reg query` prints them, or "" when absent.
  std::string QueryKey() {
    RunResult r = wine_.RunWine("reg", {"query", "HKLM\\SOFTWARE\\VideoLAN\\VLC"}, 30000);
    return r.exitCode == 0 ? r.out : std::string();
  }

  // The bytes `regedit /E` writes for a key, or "absent".
  std::string Export(const std::string& key) {
    const std::string file = dir_.Host("export.reg");
    RemoveTree(file);
    wine_.RunWine("regedit", {"/E", wine_.WindowsPath(file), key}, 60000);
    return ReadFile(file).value_or("absent");
  }

  Wine& wine_ = Wine::Get();
  TestFolder dir_ = TestFolder::ForCurrentTest();
  std::string folder_;
  std::string player_;
};

std::string SettingsFor(const std::string& player) {
  return "[modrik]\r\n"
         "# Replace the following with any 'vlc.exe' filepath you want to use:\r\n"
         "# If you are running under Unix/Wine, Unix paths also work e.g. /usr/bin/vlc\r\n"
         "vlcpath=" + player + "\r\n";
}

}  // namespace

TEST_F(Install, InstallsWherePlayerDetectionLooksAndUninstallLeavesNothing) {
  RunResult r = Script("install.sh", {"--exe", ModrikExe(), "--player", player_});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("installed modrik as C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"),
            std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(folder_ + "/vlc.exe"), ReadFile(ModrikExe()));
  EXPECT_EQ(ReadFile(folder_ + "/modrik.ini"), SettingsFor(player_));
  std::string key = QueryKey();
  EXPECT_NE(key.find("(Default)    REG_SZ    C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"),
            std::string::npos) << key;
  EXPECT_NE(key.find("InstallDir    REG_SZ    C:\\Program Files\\VideoLAN\\VLC"), std::string::npos)
      << key;

  // A Windows program starting the installed player hands the file to the
  // native player.
  WriteFile(dir_.Host("clip one.mkv"), "x");
  DriveResult run = Drive(dir_, std::string("\"") + kFolderWin + "\\vlc.exe\" \"" +
                                    dir_.Win("clip one.mkv") + "\"");
  EXPECT_EQ(run.exitCode, 0) << run.raw;
  EXPECT_TRUE(run.boxes.empty()) << run.raw;
  std::vector<NativePlayerRecord> records = WaitForNativePlayer(player_ + ".rec", 15000);
  ASSERT_EQ(records.size(), 1u);
  ASSERT_EQ(records[0].args.size(), 1u);
  EXPECT_EQ(records[0].args[0],
            wine_.Prefix() + "/dosdevices/c:/mdk-e2e/" +
                ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "." +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/clip one.mkv");

  r = Uninstall();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_FALSE(Exists(folder_ + "/vlc.exe"));
  EXPECT_FALSE(Exists(folder_ + "/modrik.ini"));
  EXPECT_EQ(QueryKey(), "");
  EXPECT_FALSE(Exists(wine_.Prefix() + "/modrik-install"));
  EXPECT_FALSE(Exists(wine_.Home() + "/.local/share/applications/wine-vlc.desktop"));
}

TEST_F(Install, RefusesToReplaceARealPlayerUnlessForcedAndRestoresIt) {
  MakeDirs(folder_);
  const std::string real = "MZ a real player executable";
  WriteFile(folder_ + "/vlc.exe", real);
  WriteFile(folder_ + "/modrik.ini", "[modrik]\r\nvlcpath=C:\\old\\vlc.exe\r\n");
  wine_.RunWine("reg", {"add", "HKLM\\SOFTWARE\\VideoLAN\\VLC", "/v", "Version", "/d", "3.0.20", "/f"},
                30000);

  RunResult r = Script("install.sh", {"--exe", ModrikExe(), "--player", player_});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("is a real player executable; nothing changed."), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(folder_ + "/vlc.exe"), real);
  EXPECT_EQ(QueryKey().find("InstallDir"), std::string::npos);

  r = Script("install.sh", {"--force", "--exe", ModrikExe(), "--player", player_});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(folder_ + "/vlc.exe"), ReadFile(ModrikExe()));
  EXPECT_EQ(ReadFile(folder_ + "/modrik.ini"), SettingsFor(player_));

  // Installing again (a newer build, say) keeps what the first install replaced.
  r = Script("install.sh", {"--exe", ModrikExe(), "--player", player_});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  r = Uninstall();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(folder_ + "/vlc.exe"), real);
  EXPECT_EQ(ReadFile(folder_ + "/modrik.ini"), "[modrik]\r\nvlcpath=C:\\old\\vlc.exe\r\n");
  std::string key = QueryKey();
  EXPECT_NE(key.find("Version    REG_SZ    3.0.20"), std::string::npos) << key;
  EXPECT_EQ(key.find("InstallDir"), std::string::npos) << key;
}

TEST_F(Install, WithoutANativePlayerLeavesDetectionToTheFirstStart) {
  RunResult r = Script("install.sh", {"--exe", ModrikExe(), "--player", ""});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("no native player found"), std::string::npos) << r.out;
  EXPECT_TRUE(Exists(folder_ + "/vlc.exe"));
  EXPECT_FALSE(Exists(folder_ + "/modrik.ini"));
}

TEST_F(Install, AssociatesMediaTypesAndUninstallLeavesTheRegistryAsItWas) {
  const std::vector<std::string> keys = {
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes", "HKEY_LOCAL_MACHINE\\SOFTWARE\\VideoLAN",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths"};
  // An association that was there before: replaced, then put back.
  wine_.RunWine("reg", {"add", "HKCR\\.mkv", "/ve", "/d", "mkvfile", "/f"}, 30000);
  wine_.RunWine("reg", {"add", "HKCR\\.mkv\\ShellNew", "/v", "NullFile", "/d", "", "/f"}, 30000);
  std::vector<std::string> before;
  for (const auto& k : keys) before.push_back(Export(k));
  ASSERT_GT(before[0].size(), 100000u);

  RunResult r = Script("install.sh", {"--associate", "--exe", ModrikExe(), "--player", player_});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string video = "clip o'ne (été).mkv", audio = "song $x.flac";
  WriteFile(dir_.Host(video), "x");
  WriteFile(dir_.Host(audio), "x");
  const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::string rel = "/mdk-e2e/Install." + name + "/";
  // By name through App Paths, then by type through the associations.
  wine_.RunWine("start", {"vlc.exe", dir_.Win(video)}, 30000);
  ASSERT_EQ(WaitForNativePlayer(player_ + ".rec", 30000, 1).size(), 1u);
  wine_.RunWine("start", {dir_.Win(video)}, 30000);
  ASSERT_EQ(WaitForNativePlayer(player_ + ".rec", 30000, 2).size(), 2u);
  wine_.RunWine("start", {dir_.Win(audio)}, 30000);
  std::vector<NativePlayerRecord> rec = WaitForNativePlayer(player_ + ".rec", 30000, 3);
  ASSERT_EQ(rec.size(), 3u);
  EXPECT_EQ(rec[0].args, std::vector<std::string>{wine_.Prefix() + "/dosdevices/c:" + rel + video});
  EXPECT_EQ(rec[1].args, (std::vector<std::string>{"--started-from-file", wine_.DriveC() + rel + video}));
  EXPECT_EQ(rec[2].args, (std::vector<std::string>{"--started-from-file", wine_.DriveC() + rel + audio}));

  r = Uninstall();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (size_t i = 0; i < keys.size(); i++) EXPECT_TRUE(Export(keys[i]) == before[i]) << keys[i];
  wine_.RunWine("reg", {"delete", "HKCR\\.mkv", "/f"}, 30000);
}
