// Installing modrik into a Wine prefix as the player's stand-in, and undoing
// it: scripts/install.sh and scripts/uninstall.sh against the test prefix.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <strings.h>
#include <tuple>
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
    for (const char* view : {"/reg:64", "/reg:32"})
      wine_.RunWine("reg", {"delete", "HKLM\\SOFTWARE\\VideoLAN\\VLC", "/f", view}, 30000);
    player_ = dir_.MakeNativePlayer("bin/vlc");
  }

  void TearDown() override {
    Uninstall();
    RemoveTree(folder_);
  }

  // scripts/NAME with these arguments, or the installed host command's
  // install or uninstall when MODRIK_E2E_HOSTCMD names one.
  RunResult Script(const std::string& name, const std::vector<std::string>& args) {
    // The install refuses a prefix whose Windows programs run: the test's
    // own wineserver ends first.
    wine_.RunTool(kEndWineserver, 30000);
    std::vector<std::string> argv = {"bash", std::string(MODRIK_SOURCE_DIR_PATH) + "/scripts/" + name};
    if (std::getenv("MODRIK_E2E_HOSTCMD"))
      argv = {HostCommand(), name == "install.sh" ? "install" : "uninstall"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, wine_.Environment(), wine_.LogDir() + "/install-" + name, 120000);
  }

  RunResult Uninstall() { return Script("uninstall.sh", {}); }

  // The registry key's values as `reg query` prints them (in a 64-bit prefix
  // the 64-bit view), or "" when absent.
  std::string QueryKey() {
    std::vector<std::string> args = {"query", "HKLM\\SOFTWARE\\VideoLAN\\VLC"};
    if (!Win32Prefix()) args.push_back("/reg:64");
    RunResult r = wine_.RunWine("reg", args, 30000);
    return r.exitCode == 0 ? r.out : std::string();
  }

  // HKLM\SOFTWARE of a prefix, both views, as Wine keeps it in system.reg
  // (which its wineserver writes when it ends, ended here first), without
  // the times of change Wine notes beside each key. No Windows program is
  // started for it: a new session's own start-up writes nothing in between.
  // Left out: the network cards, which ndis.sys writes anew from the host's
  // network at each session's start.
  std::string SoftwareKeys(const std::string& prefix, const std::vector<std::string>& env) {
    RunProcess(kEndWineserver, env, wine_.LogDir() + "/registry-end", 30000);
    std::istringstream in(ReadFile(prefix + "/system.reg").value_or(""));
    std::string kept, line;
    bool software = false;
    while (std::getline(in, line)) {
      if (line.rfind('[', 0) == 0) {
        software = (strncasecmp(line.c_str(), "[Software]", 10) == 0 || strncasecmp(line.c_str(), "[Software\\\\", 11) == 0) &&
                   line.find("\\\\CurrentVersion\\\\NetworkCards") == std::string::npos;
        const size_t end = line.rfind("] ");
        if (end != std::string::npos) line.erase(end + 1);
      } else if (line.rfind("#time=", 0) == 0) {
        continue;
      }
      if (software) kept += line + "\n";
    }
    if (kept.empty()) ADD_FAILURE() << "no HKLM\\Software in " << prefix << "/system.reg";
    return kept;
  }

  // What two such texts (or two exports) differ in: each line only one has, under its key,
  // "-" for the first and "+" for the second (at most 12 lines); "" when equal.
  static std::string RegistryDifference(const std::string& a, const std::string& b) {
    if (a == b) return "";
    auto lines = [](const std::string& bytes) {
      std::set<std::string> found;
      std::string key, line, text;
      for (char c : bytes) if (c != '\0' && c != '\r') text += c;  // (an export is UTF-16: its ASCII names a change)
      std::istringstream in(text);
      while (std::getline(in, line)) {
        if (line.rfind('[', 0) == 0) key = line;
        found.insert(key + " " + line);
      }
      return found;
    };
    const std::set<std::string> first = lines(a), second = lines(b);
    std::string said;
    int n = 0;
    for (const auto& [from, to, sign] : {std::tuple{&first, &second, "- "}, std::tuple{&second, &first, "+ "}})
      for (const std::string& line : *from)
        if (!to->count(line) && n++ < 12) said += sign + line + "\n";
    return said.empty() ? "(the same lines, in another order)\n" : said;
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
  std::vector<std::string> add = {"add", "HKLM\\SOFTWARE\\VideoLAN\\VLC", "/v", "Version", "/d", "3.0.20", "/f"};
  if (!Win32Prefix()) add.push_back("/reg:64");
  wine_.RunWine("reg", add, 30000);

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

// Each caller the prefix runs finds the player in its own registry view and
// its own %ProgramFiles%, and starts it by name and by association: in a
// 64-bit prefix a 64-bit and (with wine32) a 32-bit caller, in a 32-bit
// prefix a 32-bit one. Uninstall leaves every view as it was.
TEST_F(Install, AssociatesMediaTypesAndUninstallLeavesTheRegistryAsItWas) {
  struct Caller {
    std::string name;
    std::vector<std::string> wine;  // the loader that runs it
    std::string system;             // its system folder
    std::string view;               // its registry view as `reg` spells it
  };
  std::vector<Caller> callers;
  if (Win32Prefix()) {
    callers.push_back({"32-bit prefix", {"wine"}, "C:\\windows\\system32\\", ""});
  } else {
    // Debian's `wine` is the 32-bit loader once wine32 is installed.
    const std::string wine64 = Exists("/usr/lib/wine/wine64") ? "/usr/lib/wine/wine64" : "wine";
    callers.push_back({"64-bit", {wine64}, "", "/reg:64"});
    if (wine_.Runs32Bit()) callers.push_back({"32-bit", {"wine"}, "C:\\windows\\syswow64\\", "/reg:32"});
  }
  for (const Caller& c : callers) std::printf("caller: %s\n", c.name.c_str());
  auto callerRun = [&](const Caller& c, const std::string& program, std::vector<std::string> args) {
    std::vector<std::string> argv = c.wine;
    argv.push_back(c.system + program);
    argv.insert(argv.end(), args.begin(), args.end());
    static int n = 0;
    return RunProcess(argv, wine_.Environment(), wine_.LogDir() + "/caller-" + std::to_string(++n), 60000);
  };
  const std::vector<std::string> keys = {
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes", "HKEY_LOCAL_MACHINE\\SOFTWARE\\VideoLAN",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths"};
  // An association that was there before: replaced, then put back.
  for (const Caller& c : callers) {
    callerRun(c, "reg.exe", {"add", "HKCR\\.mkv", "/ve", "/d", "mkvfile", "/f"});
    callerRun(c, "reg.exe", {"add", "HKCR\\.mkv\\ShellNew", "/v", "NullFile", "/d", "", "/f"});
  }
  auto exportAll = [&] {
    std::vector<std::string> all;
    for (const Caller& c : callers)
      for (const auto& k : keys) {
        const std::string file = dir_.Host("export.reg");
        RemoveTree(file);
        std::vector<std::string> args = {"export", k, wine_.WindowsPath(file), "/y"};
        if (!c.view.empty()) args.push_back(c.view);
        callerRun(c, "reg.exe", args);
        all.push_back(ReadFile(file).value_or("absent"));
      }
    return all;
  };
  const std::vector<std::string> before = exportAll();
  ASSERT_GT(before[0].size(), 100000u);

  RunResult r = Script("install.sh", {"--associate", "--exe", ModrikExe(), "--player", player_});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string video = "clip o'ne (été).mkv", audio = "song $x.flac";
  WriteFile(dir_.Host(video), "x");
  WriteFile(dir_.Host(audio), "x");
  const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::string rel = "/mdk-e2e/Install." + name + "/";
  size_t seen = 0;
  for (const Caller& c : callers) {
    SCOPED_TRACE(c.name + " caller");
    // Its %ProgramFiles%, where its view's InstallDir points and the
    // stand-in is.
    RunResult env = callerRun(c, "cmd.exe", {"/c", "echo", "%ProgramFiles%"});
    const std::string programFiles = env.out.substr(0, env.out.find_first_of("\r\n"));
    ASSERT_EQ(programFiles, c.name == "32-bit" ? "C:\\Program Files (x86)" : "C:\\Program Files") << env.err;
    std::vector<std::string> query = {"query", "HKLM\\SOFTWARE\\VideoLAN\\VLC", "/v", "InstallDir"};
    if (!c.view.empty()) query.push_back(c.view);
    EXPECT_NE(callerRun(c, "reg.exe", query).out.find("REG_SZ    " + programFiles + "\\VideoLAN\\VLC"),
              std::string::npos);
    std::string hostFolder = wine_.DriveC() + programFiles.substr(2) + "/VideoLAN/VLC";
    for (char& ch : hostFolder)
      if (ch == '\\') ch = '/';
    EXPECT_TRUE(ReadFile(hostFolder + "/modrik.ini").has_value()) << hostFolder;
    // By name through App Paths, then by type through the associations.
    callerRun(c, "start.exe", {"vlc.exe", dir_.Win(video)});
    ASSERT_EQ(WaitForNativePlayer(player_ + ".rec", 30000, seen + 1).size(), seen + 1);
    callerRun(c, "start.exe", {dir_.Win(video)});
    ASSERT_EQ(WaitForNativePlayer(player_ + ".rec", 30000, seen + 2).size(), seen + 2);
    callerRun(c, "start.exe", {dir_.Win(audio)});
    std::vector<NativePlayerRecord> rec = WaitForNativePlayer(player_ + ".rec", 30000, seen + 3);
    ASSERT_EQ(rec.size(), seen + 3);
    EXPECT_EQ(rec[seen].args, std::vector<std::string>{wine_.Prefix() + "/dosdevices/c:" + rel + video});
    EXPECT_EQ(rec[seen + 1].args, (std::vector<std::string>{"--started-from-file", wine_.DriveC() + rel + video}));
    EXPECT_EQ(rec[seen + 2].args, (std::vector<std::string>{"--started-from-file", wine_.DriveC() + rel + audio}));
    seen += 3;
  }

  r = Uninstall();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::vector<std::string> after = exportAll();
  for (size_t i = 0; i < after.size(); i++)
    EXPECT_EQ(RegistryDifference(before[i], after[i]), "") << callers[i / keys.size()].name << " view: " << keys[i % keys.size()];
  for (const Caller& c : callers) callerRun(c, "reg.exe", {"delete", "HKCR\\.mkv", "/f"});
}

// Each front-end's prefix, laid out as the front-end lays out its files and
// run by its own Wine (a runner folder whose bin/wine is this host's Wine):
// `modrik list` finds it, the install puts the player there through that
// Wine, a Windows program of the prefix plays through it, and the uninstall
// leaves the registry as it was. Steam's prefix is made by wineboot in
// compatdata/<appid>/pfx; the others are linked copies of the test prefix.
// The Flatpak Bottles' Wine is run by `flatpak run` (a stand-in running it
// here), and --grant-host adds its permission to the user's override, which
// the uninstall leaves as it was.
TEST_F(Install, IntoEachFrontEndsPrefixWithItsOwnWine) {
  const std::string fe = wine_.Home() + "/.mdk-frontends", config = fe + "/config", data = fe + "/data";
  const std::string flatpak = wine_.Home() + "/.var/app/com.usebottles.bottles";
  auto env = [&](const std::string& prefix) {
    return wine_.Environment({"WINEPREFIX=" + prefix, "XDG_CONFIG_HOME=" + config, "XDG_DATA_HOME=" + data,
                              "WINEARCH=" + std::string(Win32Prefix() ? "win32" : "win64"),
                              "PATH=" + fe + "/bin:" + std::getenv("PATH")});
  };
  int logs = 0;
  auto run = [&](const std::vector<std::string>& argv, const std::string& prefix, int timeoutMs = 120000) {
    return RunProcess(argv, env(prefix), wine_.LogDir() + "/frontend-" + std::to_string(++logs), timeoutMs);
  };
  const std::string arch = Win32Prefix() ? "win32" : "win64";
  // In the files, "PFX" stands for the prefix, "WINE" for the runner's bin/wine.
  struct Row {
    std::string option, id, name;  // the command's option and id, and what it calls the prefix
    std::string prefix, bin;       // where the front-end keeps the prefix, and its runner's bin/
    std::map<std::string, std::string> files;
    std::vector<std::string> options = {};  // for the install
  };
  const std::string library = fe + "/SteamLibrary/steamapps", proton = fe + "/Proton - E2E/files";
  std::vector<Row> rows = {
      {"--lutris", "e2e-game", "Lutris game e2e-game (E2E Game)", fe + "/Games/e2e-game",
       data + "/lutris/runners/wine/e2e-runner/bin",
       {{config + "/lutris/games/e2e-game-1700000000.yml",
         "game:\n  exe: PFX/drive_c/game.exe\n  prefix: PFX\nwine:\n  version: e2e-runner\nname: E2E Game\nrunner: wine\n"}}},
      {"--bottle", "E2E Bottle", "Bottles bottle E2E Bottle", data + "/bottles/bottles/E2E-Bottle",
       data + "/bottles/runners/e2e-runner/bin",
       {{"PFX/bottle.yml", "Name: E2E Bottle\nArch: " + arch + "\nRunner: e2e-runner\nPath: E2E-Bottle\n"}}},
      // Made by wineboot through Proton's Wine, as Proton makes it.
      {"--steam", "4000", "Steam game 4000 (E2E Mod)", library + "/compatdata/4000/pfx", proton + "/bin",
       {{data + "/Steam/steamapps/libraryfolders.vdf", "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + data +
             "/Steam\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + fe + "/SteamLibrary\"\n\t}\n}\n"},
        {library + "/appmanifest_4000.acf", "\"AppState\"\n{\n\t\"appid\"\t\"4000\"\n\t\"name\"\t\"E2E Mod\"\n}\n"},
        {library + "/compatdata/4000/config_info", "9.0-100\n" + proton + "/share/fonts/\n"}}},
      {"--heroic", "e2egame", "Heroic game e2egame", fe + "/Games/Heroic/Prefixes/e2egame", fe + "/heroic-wine/bin",
       {{config + "/heroic/GamesConfig/e2egame.json", "{\"e2egame\": {\"winePrefix\": \"PFX\", \"wineVersion\": {\"bin\": "
                                                    "\"WINE\", \"name\": \"Wine - E2E\", \"type\": \"wine\"}}}"}}},
      {"--bottle", "E2E Flatpak", "Bottles bottle E2E Flatpak [flatpak]", flatpak + "/data/bottles/bottles/E2E-Flatpak",
       flatpak + "/data/bottles/runners/e2e-runner/bin",
       {{"PFX/bottle.yml", "Name: E2E Flatpak\nArch: " + arch + "\nRunner: e2e-runner\nPath: E2E-Flatpak\n"}}, {"--grant-host"}},
  };
  RemoveTree(fe);
  RemoveTree(flatpak);
  MakeDirs(fe + "/bin");
  symlink((std::string(MODRIK_SOURCE_DIR_PATH) + "/tests/e2e/sandbox/flatpak").c_str(), (fe + "/bin/flatpak").c_str());
  const std::string override = data + "/flatpak/overrides/com.usebottles.bottles", music = "[Context]\nfilesystems=xdg-music;\n";
  MakeDirs(data + "/flatpak/overrides");
  WriteFile(override, music);
  for (Row& row : rows) {
    // The runner: links to the Wine under test.
    MakeDirs(row.bin);
    for (const char* tool : {"wine", "wineserver"}) {
      const std::string found = run({"sh", "-c", std::string("command -v ") + tool}, row.prefix).out;
      symlink(found.substr(0, found.find('\n')).c_str(), (row.bin + "/" + tool).c_str());
    }
    MakeDirs(row.prefix);
    if (row.option == "--steam") {
      RunResult made = run({row.bin + "/wine", "wineboot", "-i"}, row.prefix, 300000);
      ASSERT_EQ(made.exitCode, 0) << made.err;
    } else {  // a linked copy of the test prefix
      run({"sh", "-c", "cp -al \"$0\"/. \"$1\"/ && rm -rf \"$1\"/drive_c/mdk-e2e \"$1\"/modrik-install", wine_.Prefix(),
           row.prefix},
          wine_.Prefix());
    }
    for (const auto& [path, text] : row.files) {
      std::string file = path, content = text;
      for (const auto& [mark, value] : {std::pair<std::string, std::string>{"PFX", row.prefix}, {"WINE", row.bin + "/wine"}}) {
        for (size_t at; (at = file.find(mark)) != std::string::npos;) file.replace(at, mark.size(), value);
        for (size_t at; (at = content.find(mark)) != std::string::npos;) content.replace(at, mark.size(), value);
      }
      MakeDirs(file.substr(0, file.rfind('/')));
      WriteFile(file, content);
    }
    run(kEndWineserver, row.prefix, 30000);
  }

  // Every one of them, beside the plain prefix.
  RunResult listed = run({HostCommand(), "list"}, wine_.Prefix());
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  for (const Row& row : rows)
    EXPECT_NE(listed.out.find(row.prefix + " (" + row.name + "): " + arch + ", modrik not installed\n"), std::string::npos)
        << listed.out;
  EXPECT_EQ(listed.out.rfind(wine_.Prefix() + " (wine): ", 0), 0u) << listed.out;

  WriteFile(fe + "/media/clip one.mkv", "x");
  size_t played = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.option + " " + row.id);
    const std::string before = SoftwareKeys(row.prefix, env(row.prefix));
    ASSERT_GT(before.size(), 100000u);

    std::vector<std::string> install = {HostCommand(), "install", row.option, row.id, "--exe", ModrikExe(), "--player", player_};
    install.insert(install.end(), row.options.begin(), row.options.end());
    RunResult r = run(install, row.prefix);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(ReadFile(override) == (row.options.empty() ? music : music + "\n[Session Bus Policy]\norg.freedesktop.Flatpak=talk\n"));
    EXPECT_EQ(r.out.rfind(row.name + ": " + row.prefix + "\n", 0), 0u) << r.out;
    EXPECT_TRUE(ReadFile(row.prefix + "/drive_c/Program Files/VideoLAN/VLC/vlc.exe") == ReadFile(ModrikExe()));

    // A Windows program of the prefix, run by the front-end's Wine, starts the player.
    run({row.bin + "/wine", std::string(kFolderWin) + "\\vlc.exe", "Z:" + fe + "/media/clip one.mkv"}, row.prefix, 60000);
    std::vector<NativePlayerRecord> records = WaitForNativePlayer(player_ + ".rec", 30000, played + 1);
    ASSERT_EQ(records.size(), played + 1);
    EXPECT_EQ(records[played].args, std::vector<std::string>{row.prefix + "/dosdevices/z:" + fe + "/media/clip one.mkv"});
    played++;

    run(kEndWineserver, row.prefix, 30000);
    r = run({HostCommand(), "uninstall", row.option, row.id}, row.prefix);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_FALSE(Exists(row.prefix + "/drive_c/Program Files/VideoLAN/VLC/vlc.exe"));
    EXPECT_FALSE(Exists(row.prefix + "/modrik-install"));
    EXPECT_EQ(RegistryDifference(before, SoftwareKeys(row.prefix, env(row.prefix))), "")
        << "the registry differs after the uninstall";
    EXPECT_TRUE(ReadFile(override) == music) << "the override differs after the uninstall";
  }
  RemoveTree(fe);
  RemoveTree(flatpak);
}

// An uninstall cut short by Ctrl-C (SIGINT to its process group) 0.2 s or
// 0.5 s in, or by SIGKILL 2.5 s in: no success over a half-restored prefix,
// no "current" without vlc.exe, and the next uninstall restores the registry.
// In the test prefix, and in a copy named with a backslash, given relatively.
TEST_F(Install, AnUninstallCutShortIsFinishedByTheNext) {
  const std::string parent = wine_.Home() + "/.mdk-cut", copy = parent + "/pfx\\one";
  RemoveTree(parent);
  MakeDirs(copy);
  RunProcess({"sh", "-c", "cp -al \"$0\"/. \"$1\"/ && rm -rf \"$1\"/drive_c/mdk-e2e", wine_.Prefix(), copy},
             wine_.Environment(), wine_.LogDir() + "/cut-copy", 120000);
  const std::string arch = Win32Prefix() ? "win32" : "win64";
  const struct {
    std::string prefix, given, cwd;
  } prefixes[] = {{wine_.Prefix(), wine_.Prefix(), "/"}, {copy, "pfx\\one", parent}};
  int n = 0;
  for (const auto& p : prefixes) {
    const std::vector<std::string> env = wine_.Environment({"WINEPREFIX=" + p.prefix});
    auto modrik = [&](std::vector<std::string> argv) {
      argv.insert(argv.end(), {"--prefix", p.given});
      return RunProcess(argv, env, wine_.LogDir() + "/cut-" + std::to_string(++n), 180000, p.cwd);
    };
    const std::string before = SoftwareKeys(p.prefix, env);
    ASSERT_GT(before.size(), 100000u);
    for (const auto& [signal, delay] : {std::pair<std::string, std::string>{"INT", "0.2"}, {"INT", "0.5"}, {"KILL", "2.5"}}) {
      SCOPED_TRACE(p.prefix + ": SIG" + signal + " " + delay + " s into the uninstall");
      RunResult r = modrik({HostCommand(), "install", "--associate", "--player", player_});
      ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
      EXPECT_EQ(modrik({HostCommand(), "list"}).out, p.prefix + " (wine): " + arch + ", modrik " MODRIK_VERSION_TEXT ", current\n    channel: host\n");
      r = modrik({"bash", "-c", "set -m; \"$@\" & sleep " + delay + "; kill -" + signal + " -$!; wait $!", "cut",
                  HostCommand(), "uninstall"});
      const std::string listed = modrik({HostCommand(), "list"}).out;
      std::printf("SIG%s %s s: exit %d; list: %s", signal.c_str(), delay.c_str(), r.exitCode, listed.c_str());
      EXPECT_TRUE(Exists(p.prefix + "/drive_c/Program Files/VideoLAN/VLC/vlc.exe") ||
                  listed.find(", current") == std::string::npos) << listed;
      if (signal == "INT" && r.exitCode == 0) {
        EXPECT_EQ(RegistryDifference(before, SoftwareKeys(p.prefix, env)), "") << r.out << r.err;
      }
      r = modrik({HostCommand(), "uninstall", "--wait", "60"});
      ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
      EXPECT_FALSE(Exists(p.prefix + "/modrik-install"));
      EXPECT_EQ(RegistryDifference(before, SoftwareKeys(p.prefix, env)), "") << "the registry after the uninstall";
    }
  }
  RunProcess(kEndWineserver, wine_.Environment({"WINEPREFIX=" + copy}), wine_.LogDir() + "/cut-k", 30000);
  RemoveTree(parent);
}

// `modrik doctor` on a sound prefix: every check ok, and a real start whose
// recorder got the file (its name with blanks, accents and a quote) as the
// player would have; the registry, drive_c, modrik's state and ~/dues.sh
// are as they were. A Wine that cannot start is named, and nothing started.
TEST_F(Install, DoctorMakesARealStartAndChangesNothing) {
  const std::vector<std::string> env = wine_.Environment();
  const std::string prefix = wine_.Prefix(), files = wine_.Home() + "/.mdk-doctor";
  const std::string file = files + "/clip d'\xC3\xA9t\xC3\xA9 \xC3\xA0 Paris.mkv";
  RemoveTree(files);
  MakeDirs(files);
  WriteFile(file, "x");
  RunResult r = Script("install.sh", {"--associate", "--player", player_});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  RunResult sound = RunProcess({HostCommand(), "doctor", "--no-start", "--prefix", prefix}, env,
                               wine_.LogDir() + "/doctor-no-start", 120000);
  EXPECT_EQ(sound.exitCode, 0) << sound.out << sound.err;
  EXPECT_NE(sound.out.find("\n  associations: ok ("), std::string::npos) << sound.out;
  EXPECT_EQ(sound.out.find("\n  start:"), std::string::npos) << sound.out;

  // What a change would touch: drive_c, modrik's state, dues.sh, the registry.
  auto listing = [&] {
    wine_.RunTool({"wineserver", "-w"}, 60000);
    return RunProcess({"sh", "-c", "find \"$0/drive_c\" \"$0/modrik-install\" \\( -type d -printf '%p %m\\n' \\) -o "
                                   "-printf '%p %s %m %T@\\n' | sort; "
                                   "cat \"$1/dues.sh\" 2>&1", prefix, wine_.Home()},
                      env, wine_.LogDir() + "/doctor-listing", 60000).out;
  };
  const std::string registry = SoftwareKeys(prefix, env), before = listing();
  ASSERT_GT(registry.size(), 1000u);
  for (const std::vector<std::string>& given : {std::vector<std::string>{}, {file}}) {
    SCOPED_TRACE(given.empty() ? "the doctor's own file" : file);
    std::vector<std::string> argv = {HostCommand(), "doctor", "--prefix", prefix};
    argv.insert(argv.end(), given.begin(), given.end());
    r = RunProcess(argv, env, wine_.LogDir() + "/doctor", 180000, files);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string got = "\n    the player would get: " + player_ + " '" + prefix + "/dosdevices/z:";
    EXPECT_NE(r.out.find(given.empty() ? got + "/tmp/modrik-doctor-" : got + file.substr(0, file.find('\'')) + "'\\''" +
                                                                         file.substr(file.find('\'') + 1) + "'\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find(given.empty() ? "/modrik doctor vid\xC3\xA9o d'\\''\xC3\xA9t\xC3\xA9.mkv'\n" : "\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n    in the working folder: " + files + "\n    channel taken: host commands run directly\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  start: ok (in "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), "modrik doctor: every start will work.\n");
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(RegistryDifference(registry, SoftwareKeys(prefix, env)), "") << "the registry after the doctor";
  }

  // A Wine that cannot run its 32-bit loader.
  const std::string standIn = files + "/wine";
  WriteFile(standIn, "#!/bin/sh\necho \"/usr/bin/wine-stable: 40: exec: /usr/lib/wine/wine: Exec format error\" >&2\nexit 126\n");
  chmod(standIn.c_str(), 0755);
  r = RunProcess({HostCommand(), "doctor", "--prefix", prefix}, wine_.Environment({"WINE=" + standIn}),
                 wine_.LogDir() + "/doctor-126", 60000);
  EXPECT_EQ(r.exitCode, 7) << r.out << r.err;
  EXPECT_NE(r.out.find("\n  wine: " + standIn + " cannot start: Exec format error: this kernel runs no 32-bit "
                       "programs, and Debian's wine picks the loader of wine32 (/usr/lib/wine/wine) for 64-bit "
                       "prefixes too; mend: sudo dpkg-divert --rename --divert "
                       "/usr/lib/wine/wine.i386-set-aside-by-modrik --add /usr/lib/wine/wine\n"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n  start: not made: Wine cannot start\n"), std::string::npos) << r.out;
  EXPECT_EQ(listing(), before);
  RemoveTree(files);
}

// A state folder that is not all modrik's (a prefix copied from elsewhere,
// or planted by another user): the uninstall takes away what modrik made
// and leaves the rest as it was, and says so with 6. Each row tampers with
// the state of a fresh install.
TEST_F(Install, AnUninstallLeavesAloneWhatIsNotModriks) {
  const std::string state = wine_.Prefix() + "/modrik-install", home = wine_.Home();
  const std::string canary = home + "/canary-doc.txt", keep = home + "/.mdk-keep", aside = home + "/.mdk-state";
  const std::string run = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  auto reg = [&](std::vector<std::string> args) {
    if (!Win32Prefix()) args.push_back("/reg:64");
    return wine_.RunWine("reg", args, 30000);
  };
  auto append = [](const std::string& file, const std::string& text) { WriteFile(file, ReadFile(file).value_or("") + text); };
  const struct {
    const char* name;
    std::function<void()> tamper;
    std::vector<std::string> said;  // on standard error
    bool restored;                  // "restored the registry keys" is said
  } rows[] = {
      {"foreign keys, files and values, in a state without its record",
       [&] {
         RemoveTree(state + "/registry.sums");
         append(state + "/registry.keys", "HKEY_LOCAL_MACHINE\\SOFTWARE\\MdkCanary\nHKEY_CURRENT_USER\\Software\\MdkCanary\n"
                                          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wine\n");
         append(state + "/registry.saved", "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
                                           "\"mdk\"=\"C:\\\\evil.exe\"\n\n");
         append(state + "/created-files", canary + "\n" + keep + "/../.mdk-keep/one.txt\n");
         RemoveTree(state + "/wine.log");
         symlink(canary.c_str(), (state + "/wine.log").c_str());
       },
       {"registry.keys names HKEY_LOCAL_MACHINE\\SOFTWARE\\MdkCanary, which is not modrik's: left alone",
        "registry.keys names HKEY_LOCAL_MACHINE\\SOFTWARE\\Wine, which is not modrik's: left alone",
        "registry.saved names [HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run], which is not modrik's",
        "created-files names " + canary + ", which is not modrik's: left alone"},
       true},
      {"registry.saved cut to 60 bytes",
       [&] { WriteFile(state + "/registry.saved", ReadFile(state + "/registry.saved").value_or("").substr(0, 60)); },
       {state + "/registry.saved is damaged: ", "what the install replaced in the registry is not put back"}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RemoveTree(keep);
    MakeDirs(keep);
    WriteFile(keep + "/one.txt", "mine\n");
    WriteFile(canary, "mine\n");
    reg({"add", "HKLM\\SOFTWARE\\MdkCanary", "/v", "x", "/d", "1", "/f"});
    wine_.RunWine("reg", {"add", "HKCU\\Software\\MdkCanary", "/v", "x", "/d", "1", "/f"}, 30000);
    // What the install replaces and keeps in registry.saved.
    reg({"add", "HKLM\\SOFTWARE\\Classes\\.mp3", "/v", "Content Type", "/d", "audio/mpeg", "/f"});
    RunResult r = Script("install.sh", {"--associate", "--exe", ModrikExe(), "--player", player_});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    row.tamper();
    r = Uninstall();
    EXPECT_EQ(r.exitCode, 6) << r.out << r.err;
    for (const std::string& line : row.said) EXPECT_NE(r.err.find(line), std::string::npos) << line << "\nin:\n" << r.err;
    EXPECT_EQ(r.out.find("restored the registry keys") != std::string::npos, row.restored) << r.out;
    // What modrik made is gone; the rest is as it was.
    EXPECT_FALSE(Exists(folder_ + "/vlc.exe"));
    EXPECT_FALSE(Exists(state));
    EXPECT_EQ(QueryKey(), "");
    EXPECT_EQ(ReadFile(canary), "mine\n");
    EXPECT_EQ(ReadFile(keep + "/one.txt"), "mine\n");
    EXPECT_EQ(reg({"query", "HKLM\\SOFTWARE\\MdkCanary", "/v", "x"}).exitCode, 0);
    EXPECT_EQ(wine_.RunWine("reg", {"query", "HKCU\\Software\\MdkCanary", "/v", "x"}, 30000).exitCode, 0);
    EXPECT_NE(wine_.RunWine("reg", {"query", run, "/v", "mdk"}, 30000).exitCode, 0) << "the Run value was imported";
    EXPECT_EQ(reg({"query", "HKLM\\SOFTWARE\\Wine"}).exitCode, 0);
    // Put back when the state could say it was there; else said to be lost.
    EXPECT_EQ(reg({"query", "HKLM\\SOFTWARE\\Classes\\.mp3", "/v", "Content Type"}).exitCode == 0, row.restored);
    reg({"delete", "HKLM\\SOFTWARE\\Classes\\.mp3", "/f"});
  }
  // A state folder that is a link: refused, nothing written where it points.
  RunResult r = Script("install.sh", {"--exe", ModrikExe(), "--player", player_});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  RemoveTree(aside);
  ASSERT_EQ(rename(state.c_str(), aside.c_str()), 0);
  symlink(keep.c_str(), state.c_str());
  r = Uninstall();
  EXPECT_EQ(r.exitCode, 6) << r.out << r.err;
  EXPECT_NE(r.err.find(state + " is a link: modrik follows no link there"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(keep + "/journal"));
  EXPECT_FALSE(Exists(keep + "/wine.log"));
  EXPECT_TRUE(Exists(folder_ + "/vlc.exe"));
  RemoveTree(state);
  ASSERT_EQ(rename(aside.c_str(), state.c_str()), 0);
  r = Uninstall();
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  reg({"delete", "HKLM\\SOFTWARE\\MdkCanary", "/f"});
  wine_.RunWine("reg", {"delete", "HKCU\\Software\\MdkCanary", "/f"}, 30000);
  RemoveTree(keep);
  RemoveTree(canary);
}

// One change at a time: an uninstall started 0.3 s or 1.5 s into an install
// of an installed prefix waits for it, and the prefix ends either installed
// or not, never between. A SIGINT 0.3 s into an install ends it within 2 s
// (the registry export is ended), with nothing changed.
TEST_F(Install, OneChangeAtATimeAndASignalEndsItAtOnce) {
  const std::string state = wine_.Prefix() + "/modrik-install";
  int n = 0;
  auto shell = [&](const std::string& script) {
    wine_.RunTool(kEndWineserver, 30000);
    return RunProcess({"bash", "-c", "set -m; " + script, "sh", HostCommand(), player_}, wine_.Environment(),
                      wine_.LogDir() + "/together-" + std::to_string(++n), 400000);
  };
  for (const char* delay : {"0.3", "1.5"}) {
    SCOPED_TRACE(std::string("uninstall ") + delay + " s into the install");
    RunResult r = Script("install.sh", {"--exe", ModrikExe(), "--player", player_});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    r = shell("\"$1\" install --player \"$2\" & sleep " + std::string(delay) +
              "; \"$1\" uninstall --wait 300; u=$?; wait $!; echo \"install $? uninstall $u\"");
    const bool exe = Exists(folder_ + "/vlc.exe"), key = !QueryKey().empty(), kept = Exists(state);
    std::printf("%s s: %s", delay, r.out.substr(r.out.rfind("install ")).c_str());
    EXPECT_TRUE(exe == key && key == kept) << "vlc.exe " << exe << ", key " << key << ", state " << kept << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find("install 0 uninstall 0"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("modrik: another modrik command is changing " + wine_.Prefix() + ": waiting up to 300 s"),
              std::string::npos) << r.out;
    Uninstall();
  }
  const auto start = std::chrono::steady_clock::now();
  RunResult r = shell("\"$1\" install --player \"$2\" & sleep 0.3; kill -INT $!; wait $!");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
  EXPECT_NE(r.err.find("modrik: interrupted by SIGINT; nothing changed.\n"), std::string::npos) << r.err;
  EXPECT_LT(seconds, 2.3);
  EXPECT_FALSE(Exists(folder_ + "/vlc.exe"));
  EXPECT_FALSE(Exists(state));
}
