// The host command: what an install keeps of the registry, the .reg files it
// hands to Wine, and its refusals (run as a program against folders that are
// no usable prefix: it must say why and change nothing, before any Wine runs).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "doctor.h"

namespace fs = std::filesystem;
using namespace hostcmd;

namespace {

const std::string kSw = "HKEY_LOCAL_MACHINE\\SOFTWARE";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ModrikCommandRegistry, SaveKeysListsWhatTheInstallCreatesAndKeepsWhatItReplaces) {
  const std::vector<std::string> exported = Lines(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.mkv]\n@=\"mkvfile\"\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.mkv\\ShellNew]\n\"NullFile\"=\"\"\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.mkvx]\n@=\"other\"\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node]\n\n");
  const struct {
    const char* name;
    std::vector<std::string> wanted, done, listed;
    std::string sections;
  } rows[] = {
      {"a missing key: its highest missing ancestor",
       {kSw + "\\Wow6432Node\\VideoLAN\\VLC"}, {}, {kSw + "\\Wow6432Node\\VideoLAN"}, ""},
      {"a key that is there: itself, with its subkeys' sections",
       {kSw + "\\Classes\\.MKV"}, {}, {kSw + "\\Classes\\.MKV"},
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.mkv]\n@=\"mkvfile\"\n\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.mkv\\ShellNew]\n\"NullFile\"=\"\"\n\n"},
      {"listed by an earlier install, or below such a key: left as saved",
       {kSw + "\\Classes\\.mkv", kSw + "\\VideoLAN\\VLC\\x"}, {kSw + "\\classes\\.mkv", kSw + "\\VideoLAN"}, {}, ""},
      {"two keys below one missing ancestor: it is listed once",
       {kSw + "\\VideoLAN\\VLC", kSw + "\\VideoLAN\\Other"}, {}, {kSw + "\\VideoLAN"}, ""},
      // Wine's own keys missing from the export (one cut short): never
      // listed, only modrik's key below them.
      {"a missing ancestor of Wine's: the key itself",
       {kSw + "\\Classes\\Wow6432Node\\VLC.mkv", kSw + "\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe"}, {},
       {kSw + "\\Classes\\Wow6432Node\\VLC.mkv", kSw + "\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe"}, ""},
      {"a missing class folder: modrik's to make", {kSw + "\\Classes\\Applications\\vlc.exe"}, {},
       {kSw + "\\Classes\\Applications"}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SavedKeys saved = SaveKeys(exported, kSw, row.wanted, row.done);
    EXPECT_EQ(saved.listed, row.listed);
    EXPECT_EQ(saved.sections, row.sections);
  }
}

TEST(ModrikCommandRegistry, RegFilesAreUtf16WithMarkHeaderAndCrLf) {
  const std::string body = "[K\\\xC3\xA9t\xC3\xA9]\n@=" + RegString("C:\\a \"b\"") + "\n";
  EXPECT_EQ(RegString("C:\\a \"b\""), "\"C:\\\\a \\\"b\\\"\"");
  const std::string bytes = RegFileBytes(body);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xff\xfeW\0", 4));
  EXPECT_NE(bytes.find(std::string("\xe9\0t\0\xe9\0]\0\r\0\n\0", 12)), std::string::npos);
  EXPECT_EQ(RegFileLines(bytes), (std::vector<std::string>{"Windows Registry Editor Version 5.00", "",
                                                           "[K\\\xC3\xA9t\xC3\xA9]", "@=\"C:\\\\a \\\"b\\\"\""}));
}

// A folder holding what a prefix's folder would, for the refusals.
class ModrikCommandRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mdk-hostcmd-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "pfx" / "drive_c");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void SystemReg(const std::string& arch) {
    std::ofstream(dir_ / "pfx" / "system.reg") << "WINE REGISTRY Version 2\n;; All keys relative to "
                                                  "REGISTRY\\\\Machine\n\n#arch=" << arch << "\n\n[Software]\n";
  }
  // Every path and size below the folder: what "nothing changed" compares.
  std::string Listing() {
    std::string out;
    for (const auto& e : fs::recursive_directory_iterator(dir_))
      out += e.path().string() + (e.is_regular_file() ? " " + std::to_string(e.file_size()) : "") + "\n";
    return out;
  }
  // Runs the host command (with `env` added) in the folder; its exit
  // status, its standard error in *err and output in *out. `signal` is sent
  // to it after 0.5 s.
  int Command(const std::vector<std::string>& args, std::string* err, const std::vector<std::string>& env = {},
              std::string* out = nullptr, int signal = 0) {
    const std::string errFile = (dir_ / "err").string(), outFile = (dir_ / "out").string();
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 2);
      int null = open(out ? outFile.c_str() : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(null, 1);
      if (chdir(dir_.c_str()) != 0) _exit(127);
      std::vector<char*> argv = {const_cast<char*>(MODRIK_HOSTCMD_PATH)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      // A Wine that would leave a mark: nothing may run it.
      setenv("WINE", (dir_ / "no-wine").c_str(), 1);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      execv(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    if (signal != 0) usleep(500000), kill(pid, signal);
    waitpid(pid, &status, 0);
    *err = Read(errFile);
    if (out) *out = Read(outFile);
    fs::remove(errFile);
    fs::remove(outFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  fs::path dir_;
};

TEST_F(ModrikCommandRefusal, BadPrefixesAreRefusedWithAClearMessageAndNothingChanges) {
  const std::string pfx = (dir_ / "pfx").string();
  const std::string win64 = (fs::path(MODRIK_HOSTCMD_PATH).parent_path() / "../win/modrik.exe").lexically_normal();
  EXPECT_EQ(BuildArchOfExe(win64), "x86_64");
  EXPECT_EQ(BuildArchOfExe((fs::path(MODRIK_HOSTCMD_PATH).parent_path() / "../win32/modrik.exe").string()), "i686");
  EXPECT_EQ(BuildArchOfExe(MODRIK_HOSTCMD_PATH), "");
  const struct {
    const char* name;
    std::string arch;  // "" for no system.reg
    int status, uninstallStatus;
    std::string message;
    std::string wine = "";  // the Wine program's script, "" for none at all
    std::vector<std::string> exe = {};
    std::string player = "/bin/sh";
  } rows[] = {
      {"no prefix", "", 1, 1, "modrik: " + pfx + " is no Wine prefix (it has no system.reg); nothing changed.\n"},
      {"an architecture without a build", "arm64", 1, 0,
       "modrik: " + pfx + " is a prefix for \"arm64\", for which modrik.exe has no build (it has builds "
       "for win64 and win32 prefixes); nothing changed.\n"},
      // A Wine that cannot run here (a Proton build without its runtime):
      // what it said is shown, and the state folder goes again.
      {"a Wine that fails", "win64", 1, 0,
       "modrik: cannot read the registry of " + pfx + " with " + (dir_ / "no-wine").string() +
           "; nothing changed.\nmodrik: the end of Wine's output:\n  no libsteam_api.so\n  no libsteam_api.so\n",
       "#!/bin/sh\necho no libsteam_api.so >&2\nexit 1\n"},
      {"the 64-bit build for a 32-bit prefix", "win32", 1, 0,
       "modrik: " + win64 + " is a build for x86_64; " + pfx + " needs the i686 build; nothing changed.\n", "",
       {"--exe", win64}},
      // A player that is no executable file (a relative path is the one
      // below the working folder); --force goes on (to the failing Wine).
      {"a missing player", "win64", 1, 0, "modrik: the player " + (dir_ / "none").string() + " does not exist; "
       "nothing changed.\nmodrik: run again with --force to write it anyway.\n", "", {}, "none"},
      {"a folder as the player", "win64", 1, 0, "modrik: the player " + pfx + " is a folder; nothing changed.\n"
       "modrik: run again with --force to write it anyway.\n", "", {}, pfx},
      {"a player that is not executable", "win64", 1, 0, "modrik: the player " + pfx + "/system.reg is not an "
       "executable file; nothing changed.\nmodrik: run again with --force to write it anyway.\n", "", {}, pfx + "/system.reg"},
      {"--force writes any player", "win64", 1, 0, "modrik: cannot read the registry of " + pfx + " with " +
       (dir_ / "no-wine").string() + "; nothing changed.\nmodrik: the end of Wine's output:\n  no libsteam_api.so\n"
       "  no libsteam_api.so\n", "", {"--force"}, "none"},
  };
  fs::create_directories(dir_ / "pfx/drive_c/windows/temp");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove(dir_ / "pfx" / "system.reg");
    if (!row.arch.empty()) SystemReg(row.arch);
    if (!row.wine.empty()) {
      std::ofstream(dir_ / "no-wine") << row.wine;
      fs::permissions(dir_ / "no-wine", fs::perms::owner_all);
    }
    const std::string before = Listing();
    std::string err;
    std::vector<std::string> args = {"install", "--prefix", pfx, "--player", row.player};
    args.insert(args.end(), row.exe.begin(), row.exe.end());
    EXPECT_EQ(Command(args, &err), row.status);
    EXPECT_EQ(err, row.message);
    // Not installed there: nothing to undo, or no prefix to undo it in.
    EXPECT_EQ(Command({"uninstall", "--prefix", pfx}, &err), row.uninstallStatus) << err;
    EXPECT_EQ(Listing(), before);
  }
}

// A wineserver serving the prefix: the command waits for it (bounded here
// by --wait 1), then refuses.
TEST_F(ModrikCommandRefusal, ARunningWineserverIsWaitedForThenRefused) {
  SystemReg("win64");
  struct stat st;
  ASSERT_EQ(stat((dir_ / "pfx").c_str(), &st), 0);
  // Where Wine puts it: a folder of the user's own, /tmp/wine-XXXXXX.
  char parent[] = "/tmp/wine-XXXXXX";
  ASSERT_NE(mkdtemp(parent), nullptr);
  char server[128];
  std::snprintf(server, sizeof server, "%s/server-%llx-%llx", parent,
                static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino));
  fs::create_directories(server);
  int fd = open((std::string(server) + "/lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(fd, F_SETLK, &fl), 0);
  const std::string before = Listing(), pfx = (dir_ / "pfx").string();
  std::string err;
  EXPECT_EQ(Command({"install", "--prefix", pfx, "--wait", "1"}, &err), 4);
  EXPECT_EQ(err, "modrik: the wineserver of " + pfx + " is still running: close its Windows programs (or run "
                 "`WINEPREFIX=" + pfx + " wineserver -k`) and try again; nothing changed.\n");
  EXPECT_EQ(Listing(), before);
  // Interrupted while it waits: it stops, and says so.
  EXPECT_EQ(Command({"install", "--prefix", pfx, "--wait", "5", "--player", ""}, &err, {}, nullptr, SIGINT), 130);
  EXPECT_EQ(err, "modrik: interrupted by SIGINT; nothing changed.\n");
  EXPECT_EQ(Listing(), before);
  close(fd);
  fs::remove_all(parent);
}

// Usage errors are 2, help is 0; each status is in the man page, and the
// help names each command's options.
TEST_F(ModrikCommandRefusal, UsageErrorsAre2AndHelpShowsTheOptions) {
  std::ifstream page(MODRIK_SOURCE_DIR_PATH "/doc/modrik.1");
  std::string man((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
  man = man.substr(man.find(".SH EXIT STATUS"));
  const struct {
    std::vector<std::string> args;
    int status;
    std::string says;  // on standard output or error
    std::vector<std::string> env = {};
  } rows[] = {
      {{"frobnicate"}, 2, "modrik: frobnicate is no command: install, uninstall, list or doctor (modrik --help says more)\n"},
      {{"install", "--no-such-option"}, 2, "The following argument was not expected: --no-such-option\n"},
      {{}, 2, "A subcommand is required\n"},
      {{"--help"}, 0,
       "\n`modrik doctor` says why a video does not open: each check a start needs, and the command that mends it.\n"
       "Each command's options: modrik install --help, modrik uninstall --help, modrik list --help, modrik doctor "
       "--help.\n"},
      {{"install", "--help"}, 0, "\n  --player TEXT "},
      // --all in a home with no prefix at all.
      {{"install", "--all"}, 1,
       "modrik: no prefix found: " + dir_.string() + "/.wine is no Wine prefix, and no Lutris, Bottles, Steam or "
       "Heroic prefix is here; nothing changed.\n", {"HOME=" + dir_.string(), "WINEPREFIX="}},
      {{"list", "--all"}, 0, "no prefix found: " + dir_.string() + "/.wine is no Wine prefix",
       {"HOME=" + dir_.string(), "WINEPREFIX="}},
      {{"doctor", "--help"}, 0, "\n  --no-start "},
      {{"doctor", "--player", "/usr/bin/vlc"}, 2, "The following argument was not expected: --player\n"},
      {{"install", "--wait", "abc"}, 2, "--wait: abc is no number of seconds (a whole number from 0 to 999999)\n"},
      {{"uninstall", "--wait", "-1"}, 2, "--wait: -1 is no number of seconds (a whole number from 0 to 999999)\n"},
  };
  for (const auto& row : rows) {
    std::string out, err;
    EXPECT_EQ(Command(row.args, &err, row.env, &out), row.status) << err;
    EXPECT_NE((out + err).find(row.says), std::string::npos) << out << err;
    EXPECT_NE(man.find("\n.B " + std::to_string(row.status) + "\n"), std::string::npos) << row.status;
  }
}

// A full disk is said to be one, and nothing changes.
TEST_F(ModrikCommandRefusal, AFullDiskIsSaidSo) {
  const std::string pfx = (dir_ / "pfx").string();
  if (mount("tmpfs", pfx.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "a tmpfs needs root";
  SystemReg("win64");
  fs::create_directories(dir_ / "pfx/drive_c");
  std::ofstream(dir_ / "pfx/fill") << std::string(1 << 20, 'x');  // as much as fits
  const std::string before = Listing();
  std::string err;
  EXPECT_EQ(Command({"install", "--prefix", pfx, "--player", ""}, &err), 1);
  EXPECT_EQ(err, "modrik: cannot write " + pfx + "/modrik-install/journal: no space left on the device; nothing changed.\n");
  EXPECT_EQ(Listing(), before);
  umount(pfx.c_str());
}

// What `list` says of a prefix is what is there: the files, the registry
// keys that name them (as Wine saves them), the state and its journal. The
// prefix's path holds a backslash and a line feed, and is given relative to
// the working folder.
TEST_F(ModrikCommandRefusal, ListSaysWhatIsThere) {
  const std::string name = "p\\f\nx", pfx = (dir_ / name).string(), version = MODRIK_VERSION;
  const std::string exe = "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe", exe32 = "C:\\Program Files (x86)\\VideoLAN\\VLC\\vlc.exe";
  const std::string keys = "\n[Software\\\\VideoLAN\\\\VLC] 1\n#time=1\n@=\"C:\\\\Program Files\\\\VideoLAN\\\\VLC\\\\vlc.exe\"\n\n"
                           "[Software\\\\Wow6432Node\\\\videolan\\\\VLC] 1\n\"InstallDir\"=\"x\"\n"
                           "@=\"C:\\\\Program Files (x86)\\\\VideoLAN\\\\VLC\\\\vlc.exe\"\n";
  const fs::path bin = fs::path(MODRIK_HOSTCMD_PATH).parent_path();
  const struct {
    std::string journal, installed;
    bool files, keys;
    std::string says;
  } rows[] = {
      {"", "version=" + version, true, true, ", modrik " + version + ", current"},
      {"", "version=1.0", true, true, ", modrik 1.0, not current (modrik install updates it)"},
      {"operation=install\ndone=keep\n", "", true, false,
       ", modrik half-installed (modrik install finishes it, modrik uninstall takes it back)"},
      {"operation=uninstall\ndone=files\n", "version=" + version, false, true, ", modrik half-removed (modrik uninstall finishes it)"},
      {"", "version=" + version, false, true,
       ", modrik " + version + ", not current: " + exe + " is missing; " + exe32 + " is missing (modrik install repairs it)"},
      {"", "version=" + version, true, false, ", modrik " + version + ", not current: the registry does not name " + exe +
       "; the registry does not name " + exe32 + " (modrik install repairs it)"},
      {"", "", false, true, ", modrik not installed: the registry names " + exe + ", which is missing; the registry names " +
       exe32 + ", which is missing"},
      {"", "", true, false, ", modrik not installed: " + exe + " is modrik; " + exe32 + " is modrik"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.says);
    fs::remove_all(dir_ / name);
    fs::create_directories(dir_ / name / "modrik-install");
    std::ofstream(dir_ / name / "system.reg") << "WINE REGISTRY Version 2\n\n#arch=win64\n" << (row.keys ? keys : "");
    if (!row.journal.empty()) std::ofstream(dir_ / name / "modrik-install/journal") << row.journal;
    if (!row.installed.empty()) std::ofstream(dir_ / name / "modrik-install/installed") << row.installed << "\n";
    if (!row.installed.empty()) std::ofstream(dir_ / name / "modrik-install/registry.keys") << kSw << "\\VideoLAN\n";
    if (!row.installed.empty()) std::ofstream(dir_ / name / "modrik-install/registry.saved");
    for (const char* place : {"win", "win32"}) {
      const fs::path folder = dir_ / name / "drive_c" / (place == std::string("win") ? "Program Files" : "Program Files (x86)");
      fs::create_directories(folder / "VideoLAN/VLC");
      if (row.files) fs::copy_file(bin / ".." / place / "modrik.exe", folder / "VideoLAN/VLC/vlc.exe");
    }
    std::string out, err;
    EXPECT_EQ(Command({"list", "--prefix", name}, &err, {}, &out), 0);
    EXPECT_EQ(out, pfx + " (wine): win64" + row.says + "\n    channel: host\n") << err;
  }
}

// A change is made in steps; one cut short is finished by the next command.
TEST(ModrikCommandState, TheStepsOfAChangeFinishOneCutShort) {
  const std::string install = "install:keep install:files install:registry install:settings install:record ";
  const std::string uninstall = "uninstall:files uninstall:registry uninstall:desktop uninstall:state ";
  const struct {
    std::string command, journal, steps;
  } rows[] = {
      {"install", "", install},
      {"install", "operation=install\ndone=keep\ndone=files\n", install},  // all again
      // An uninstall cut short is run again whole: its journal's word is
      // not taken for what is done.
      {"install", "operation=uninstall\ndone=files\n", uninstall + install},
      {"uninstall", "", uninstall},
      {"uninstall", "operation=install\ndone=keep\n", uninstall},  // taken back
      {"uninstall", "operation=uninstall\ndone=files\ndone=registry\n", uninstall},
  };
  for (const auto& row : rows) {
    const Journal journal = ParseJournal(row.journal);
    std::string steps;
    for (const std::string& step : StepsOf(row.command, journal)) steps += step + " ";
    EXPECT_EQ(steps, row.steps) << row.command << " after " << row.journal;
    EXPECT_EQ(JournalText(journal), row.journal.empty() ? "operation=\n" : row.journal);
  }
}

// Files are written whole, keeping the mode asked for; their hash is exact
// for any path.
TEST(ModrikCommandState, FilesAreWrittenWholeAndHashedExactly) {
  const fs::path dir = fs::temp_directory_path() / ("mdk-state-" + std::to_string(getpid()));
  fs::create_directories(dir / "folder");
  const struct {
    std::string name;
    unsigned mode;
    std::string error;
  } rows[] = {
      {"plain", 0755, ""},
      {"back\\slash", 0644, ""},
      {"line\nfeed", 0600, ""},
      {"missing/file", 0644, "cannot write " + (dir / "missing/file").string() + ": No such file or directory"},
      {"folder", 0644, "cannot write " + (dir / "folder").string() + ": Is a directory"},
  };
  for (const auto& row : rows) {
    const std::string path = (dir / row.name).string();
    EXPECT_EQ(WriteWhole(path, "abc", row.mode), row.error);
    EXPECT_FALSE(fs::exists(path + ".modrik-new"));
    if (!row.error.empty()) continue;
    EXPECT_EQ(fs::status(path).permissions(), static_cast<fs::perms>(row.mode));
    EXPECT_EQ(Sha256(path), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad") << path;
  }
  EXPECT_EQ(WriteReason(EDQUOT), "no space left on the device");
  fs::remove_all(dir);
}

// A front-end's prefix that is not there yet, or not there at all.
TEST_F(ModrikCommandRefusal, FrontEndPrefixesThatCannotBeWorkedOnAreRefused) {
  const fs::path steam = dir_ / "home/.local/share/Steam/steamapps";
  fs::create_directories(steam / "compatdata/70");
  std::ofstream(steam / "compatdata/70/version") << "9.0-100\n";
  // A Lutris game whose file is no YAML: named by its file, with why.
  const std::string quake = (dir_ / "home/.config/lutris/games/quake-1.yml").string();
  fs::create_directories(fs::path(quake).parent_path());
  std::ofstream(quake) << "game: [unclosed\n";
  const std::string unreadable = quake + " cannot be read: line 2, column 1: end of sequence flow not found";
  // A Lutris file that is a FIFO (read, it would hold the command or read
  // as empty) and a Heroic file nested 100,000 levels deep: each is named
  // with why, and the rest is listed.
  const std::string fifo = (dir_ / "home/.config/lutris/games/zz-2.yml").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const fs::path heroic = dir_ / "home/.config/heroic/GamesConfig";
  fs::create_directories(heroic);
  std::ofstream(heroic / "deep.json") << "{\"deep\": " << std::string(100000, '[') << std::string(100000, ']') << "}";
  const std::vector<std::string> env = {"HOME=" + (dir_ / "home").string(), "XDG_CONFIG_HOME=", "XDG_DATA_HOME=",
                                        "WINEPREFIX="};
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;
    std::string out = "";  // a part of the output
  } rows[] = {
      {{"install", "--lutris", "quake"}, 5, "modrik: Lutris game quake is not ready: " + unreadable + "; nothing changed.\n"},
      {{"uninstall", "--lutris", "Quake"}, 1,
       "modrik: no Lutris game Quake found; " + unreadable + "; " + fifo +
           " cannot be read: not a regular file: a FIFO; nothing changed.\n"},
      {{"list"}, 0, "", quake + " (Lutris game quake): cannot be read: line 2, column 1: end of sequence flow not found\n"},
      {{"list"}, 0, "", fifo + " (Lutris game zz): cannot be read: not a regular file: a FIFO\n"},
      {{"list"}, 0, "",
       (heroic / "deep.json").string() + " (Heroic game deep): cannot be read: nested more than 256 levels deep\n"},
      {{"install", "--steam", "70"}, 5,
       "modrik: Steam game 70 is not ready: Proton has not made this prefix yet: start the game once from Steam; "
       "nothing changed.\n"},
      {{"uninstall", "--steam", "70"}, 5,
       "modrik: Steam game 70 is not ready: Proton has not made this prefix yet: start the game once from Steam; "
       "nothing changed.\n"},
      {{"install", "--all"}, 0, "", "Lutris game quake: " + unreadable + "; passed over.\n"},  // said and passed over
      {{"install", "--steam", "70", "--bottle", "Office", "--heroic", "x"}, 1,
       "modrik: no Bottles bottle Office found; nothing changed.\nmodrik: no Heroic game x found; " +
           (heroic / "deep.json").string() + " cannot be read: nested more than 256 levels deep; nothing changed.\n"},
  };
  const std::string before = Listing();
  for (const auto& row : rows) {
    std::string err, out;
    EXPECT_EQ(Command(row.args, &err, env, &out), row.status) << row.args[0];
    EXPECT_EQ(err, row.message);
    EXPECT_NE(out.find(row.out), std::string::npos) << out;
    EXPECT_EQ(Listing(), before);
  }
}

// The only keys an install lists and an uninstall deletes, in any letter
// case: Wine's own (Classes\AppID, Classes\Wow6432Node) are never among them.
TEST(ModrikCommandState, OnlyModriksKeysAreListedOrDeleted) {
  const struct {
    std::string key;
    bool modriks;
  } rows[] = {
      {kSw + "\\VideoLAN\\VLC", true},
      {kSw + "\\wow6432node\\videolan", true},
      {kSw + "\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe", true},
      {kSw + "\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe", false},
      {kSw + "\\Microsoft\\Windows\\CurrentVersion\\App Paths", false},
      {kSw + "\\Classes\\.MP3", true},
      {kSw + "\\Classes\\Wow6432Node\\VLC.mkv", true},
      {kSw + "\\Classes\\Applications\\vlc.exe", true},
      {kSw + "\\Classes\\Applications", true},
      {kSw + "\\Classes\\Applications\\other.exe", false},
      {kSw + "\\Classes\\AppID", false},
      {kSw + "\\Classes\\Wow6432Node\\AppID", false},
      {kSw + "\\Classes\\Wow6432Node", false},
      {kSw + "\\Classes", false},
      {kSw, false},
      {kSw + "\\Classes\\.txt", false},
      {kSw + "\\Wine", false},
      {kSw + "\\VideoLAN\\VLC\\..\\..\\Wine", false},
      {"HKEY_CURRENT_USER\\Software\\VideoLAN\\VLC", false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsModrikKey(row.key), row.modriks) << row.key;
}

// The state folder is input: each entry that is not modrik's is set aside,
// a file that does not parse or does not match the install's record is named
// with why.
TEST(ModrikCommandState, TheStateFolderIsReadAsInput) {
  const fs::path dir = fs::temp_directory_path() / ("mdk state in " + std::to_string(getpid()));
  const std::string state = (dir / "modrik-install").string(), data = (dir / "home/.local/share").string();
  const std::vector<std::string> desktop = {data + "/applications/wine-vlc.desktop", data + "/icons/vlc.ico",
                                            data + "/icons/vlc.png"};
  const std::string keys = kSw + "\\VideoLAN\n" + kSw + "\\Classes\\.mp3\n";
  const std::string saved = "[" + kSw + "\\Classes\\.mp3]\n\"Content Type\"=\"audio/mpeg\"\n@=\"mp3file\"\n\n";
  const std::string run = "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n\"x\"=\"evil.exe\"\n\n";
  const std::string names = "modrik-install/", left = ", which is not modrik's: left alone";
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // "SUMS" stands for the record of what is written
    size_t keys, created;
    std::string saved;
    std::vector<std::string> said;  // foreign, then damaged, without the folder
    bool registryDamaged = false;
  } rows[] = {
      {"as an install leaves it", {{"installed", "version=1.4\n"}, {"registry.keys", keys}, {"registry.saved", saved},
       {"created-files", desktop[0] + "\n" + desktop[2] + "\n"}, {"registry.sums", "SUMS"}}, 2, 2, saved, {}},
      {"files of the home, and a .. spelling of modrik's own",
       {{"created-files", (dir / "home/canary-doc.txt").string() + "\n" + (dir / "home/.ssh/id_test").string() + "\n" + data +
                              "/applications/../applications/wine-vlc.desktop\n" + data + "/applications/other.desktop\n"}},
       0, 0, "", {"created-files names " + (dir / "home/canary-doc.txt").string() + left,
                  "created-files names " + (dir / "home/.ssh/id_test").string() + left,
                  "created-files names " + data + "/applications/../applications/wine-vlc.desktop" + left,
                  "created-files names " + data + "/applications/other.desktop" + left}},
      {"keys modrik never writes", {{"installed", ""}, {"registry.keys", keys + kSw + "\\Wine\nHKEY_CURRENT_USER\\Software\\Canary\n" +
                                    kSw + "\\Classes\\AppID\n"}, {"registry.saved", saved}}, 2, 0, saved,
       {"registry.keys names " + kSw + "\\Wine" + left, "registry.keys names HKEY_CURRENT_USER\\Software\\Canary" + left,
        "registry.keys names " + kSw + "\\Classes\\AppID" + left}},
      {"an autorun value to import", {{"installed", ""}, {"registry.keys", keys}, {"registry.saved", saved + run}}, 2, 0, saved,
       {"registry.saved names [HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]" + left}},
      {"a saved registry cut to 60 bytes", {{"installed", ""}, {"registry.keys", keys}, {"registry.saved", saved.substr(0, 60)}},
       2, 0, "", {"registry.saved is damaged: it ends inside a line (cut short)"}, true},
      {"cut at a line's end, with the record", {{"installed", ""}, {"registry.keys", keys}, {"registry.saved", saved},
       {"registry.sums", "SUMS"}, {"registry.saved", saved.substr(0, saved.find("@="))}}, 2, 0, "",
       {"registry.saved is damaged: it is 71 bytes, the install wrote 84"}, true},
      {"the same size, other bytes", {{"installed", ""}, {"registry.keys", keys}, {"registry.saved", saved},
       {"registry.sums", "SUMS"}, {"registry.saved", std::string(saved).replace(saved.find("mp3file"), 3, "wav")}}, 2, 0, "",
       {"registry.saved is damaged: it is not what the install wrote (its SHA-256 differs)"}, true},
      {"no key at all", {{"installed", ""}, {"registry.keys", ""}, {"registry.saved", ""}}, 0, 0, "",
       {"registry.keys is damaged: it is empty"}, true},
      {"garbage keys", {{"installed", ""}, {"registry.keys", "\x01\x02garbage\n"}, {"registry.saved", ""}}, 0, 0, "",
       {"registry.keys is damaged: line 1 is no registry key"}, true},
      {"a journal of an unknown operation", {{"journal", "operation=frobnicate\n"}}, 0, 0, "",
       {"journal is damaged: an unknown operation \"frobnicate\""}},
      {"a journal of an unknown step", {{"journal", "operation=uninstall\ndone=files\ndone=everything\n"}}, 0, 0, "",
       {"journal is damaged: an unknown step \"everything\" of the uninstall"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove_all(dir);
    fs::create_directories(state);
    for (const auto& [name, text] : row.files) {
      std::string bytes = text;
      if (bytes == "SUMS") bytes = "registry.keys " + std::to_string(fs::file_size(state + "/registry.keys")) + " " +
                                   Sha256(state + "/registry.keys") + "\nregistry.saved " +
                                   std::to_string(fs::file_size(state + "/registry.saved")) + " " + Sha256(state + "/registry.saved") + "\n";
      std::ofstream(state + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
    }
    const InstallState read = ReadInstallState(dir.string(), desktop);
    EXPECT_EQ(read.refused, "");
    EXPECT_EQ(read.keys.size(), row.keys);
    EXPECT_EQ(read.created.size(), row.created);
    EXPECT_EQ(read.saved, row.saved);
    EXPECT_EQ(read.registryDamaged, row.registryDamaged);
    std::vector<std::string> said = read.foreign;
    said.insert(said.end(), read.damaged.begin(), read.damaged.end());
    for (std::string& line : said) line = line.substr(line.find(names) == std::string::npos ? 0 : line.find(names) + names.size());
    EXPECT_EQ(said, row.said);
  }
  // Links: a file of the folder is damaged, the folder itself refused.
  fs::remove_all(dir);
  fs::create_directories(dir / "keep");
  fs::create_directories(state);
  std::ofstream(dir / "keep/one.txt") << kSw << "\\Wine\n";
  fs::create_symlink(dir / "keep/one.txt", state + "/registry.keys");
  EXPECT_EQ(ReadInstallState(dir.string(), desktop).damaged, std::vector<std::string>{state + "/registry.keys is damaged: it is a link"});
  fs::remove_all(state);
  fs::create_symlink(dir / "keep", state);
  EXPECT_EQ(ReadInstallState(dir.string(), desktop).refused,
            state + " is a link: modrik follows no link there and uses only a folder of your own");
  fs::remove_all(dir);
}

// An uninstall over a state that is not all modrik's (a stand-in Wine
// records the .reg it imports): the keys and files modrik made go, the rest
// stays; a damaged state is named, and "restored" is not said for keys it
// did not put back. A journal's word is not taken for what is done; links
// in the state folder, or as it, are not written through.
TEST_F(ModrikCommandRefusal, AnUninstallTakesAwayOnlyWhatModrikMade) {
  const std::string pfx = (dir_ / "pfx").string(), home = (dir_ / "home").string(), state = pfx + "/modrik-install";
  const std::string data = home + "/.local/share", entry = data + "/applications/wine-vlc.desktop";
  std::ofstream(dir_ / "pfx/system.reg")
      << "WINE REGISTRY Version 2\n\n#arch=win64\n\n[Software\\\\VideoLAN\\\\VLC] 1\n"
         "@=\"C:\\\\Program Files\\\\VideoLAN\\\\VLC\\\\vlc.exe\"\n\n[Software\\\\Classes\\\\.mp3] 1\n@=\"VLC.mp3\"\n\n"
         "[Software\\\\Classes\\\\Applications\\\\other.exe] 1\n@=\"x\"\n\n[Software\\\\Classes\\\\Applications\\\\vlc.exe] 1\n";
  std::ofstream(dir_ / "no-wine") << "#!/bin/sh\necho \"wine $*\"\ncp \"$WINEPREFIX\"/drive_c/windows/temp/modrik-reg-*/import.reg "
                                     "\"$WINEPREFIX/../import.reg\" 2>/dev/null\nexit 0\n";
  std::ofstream(dir_ / "wineserver") << "#!/bin/sh\nexit 0\n";
  for (const char* tool : {"no-wine", "wineserver"}) fs::permissions(dir_ / tool, fs::perms::owner_all);
  const std::string keys = kSw + "\\VideoLAN\n" + kSw + "\\Classes\\Applications\n" + kSw + "\\Classes\\.mp3\n";
  const std::string saved = "[" + kSw + "\\Classes\\.mp3]\n\"Content Type\"=\"audio/mpeg\"\n@=\"mp3file\"\n\n";
  const std::string restore = "[-" + kSw + "\\VideoLAN]\n\n[-" + kSw + "\\Classes\\Applications\\vlc.exe]\n\n[-" + kSw +
                              "\\Classes\\.mp3]\n\n" + saved;
  const std::string hostile = kSw + "\\Wine\nHKEY_CURRENT_USER\\Software\\Canary\n" + kSw + "\\Classes\\AppID\n";
  const std::string run = "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n\"x\"=\"evil.exe\"\n\n";
  const std::string created = entry + "\n" + home + "/canary-doc.txt\n" + home + "/keep/../keep/one.txt\n" + data +
                              "/applications/other.desktop\n";
  const std::string left = ", which is not modrik's: left alone\n";
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    int status;
    std::optional<std::string> imported;  // the body of the .reg imported, nullopt for none
    std::vector<std::string> said;        // lines of its standard error
    bool restored;                        // it says it restored the keys
  } rows[] = {
      {"hostile", {{"installed", ""}, {"registry.keys", keys + hostile}, {"registry.saved", saved + run}, {"created-files", created}},
       6, restore, {"modrik: " + state + "/registry.keys names " + kSw + "\\Wine" + left,
                    "modrik: " + state + "/registry.saved names [HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]" + left,
                    "modrik: " + state + "/created-files names " + home + "/keep/../keep/one.txt" + left}, true},
      {"cut to 60 bytes", {{"installed", ""}, {"registry.keys", keys}, {"registry.saved", saved.substr(0, 60)}}, 6,
       "[-" + kSw + "\\VideoLAN\\VLC]\n\n[-" + kSw + "\\Classes\\.mp3]\n\n",
       {"modrik: " + state + "/registry.saved is damaged: it ends inside a line (cut short)\n",
        "modrik: what the install replaced in the registry is not put back: the state that kept it is damaged\n"}, false},
      {"a journal that says all is done",
       {{"journal", "operation=uninstall\ndone=files\ndone=registry\ndone=desktop\n"}, {"registry.keys", keys}, {"registry.saved", saved}},
       0, restore, {}, true},
      {"wine.log a link to a file of the home", {{"installed", ""}, {"registry.keys", keys}, {"registry.saved", saved},
       {"wine.log", "->" + home + "/canary-doc.txt"}}, 0, restore, {}, true},
      {"its record a link to a file of the home", {{"installed", "->" + home + "/canary-doc.txt"}, {"registry.keys", keys},
       {"registry.saved", saved}}, 6, restore, {"modrik: " + state + "/installed is damaged: it is a link\n"}, true},
      {"the state folder a link", {{"", "->" + home + "/keep"}}, 6, std::nullopt,
       {"modrik: " + state + " is a link: modrik follows no link there and uses only a folder of your own; nothing changed.\n"}, false},
  };
  const std::vector<std::string> env = {"HOME=" + home, "XDG_DATA_HOME=", "WINEPREFIX="};
  std::ifstream page(MODRIK_SOURCE_DIR_PATH "/doc/modrik.1");
  const std::string man((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_NE(man.find("\n.B " + std::to_string(row.status) + "\n"), std::string::npos) << "not in the man page";
    fs::remove_all(home);
    fs::remove_all(state);
    fs::remove(dir_ / "import.reg");
    for (const std::string& f : {home + "/canary-doc.txt", home + "/keep/one.txt", data + "/applications/other.desktop"}) {
      fs::create_directories(fs::path(f).parent_path());
      std::ofstream(f) << "mine\n";
    }
    std::ofstream(entry) << "[Desktop Entry]\r\nName=vlc\r\nStartupWMClass=vlc.exe\r\nNoDisplay=true\r\nType=Application\r\n"
                            "Terminal=false\r\nStartupNotify=true\r\nIcon=vlc\r\n";
    fs::create_directories(state);
    for (const auto& [name, text] : row.files) {
      if (text.rfind("->", 0) == 0) {
        if (name.empty()) fs::remove_all(state);
        fs::create_symlink(text.substr(2), name.empty() ? state : state + "/" + name);
      } else {
        std::ofstream(state + "/" + name) << text;
      }
    }
    std::string err, out;
    EXPECT_EQ(Command({"uninstall", "--prefix", pfx}, &err, env, &out), row.status) << err;
    for (const std::string& line : row.said) EXPECT_NE(err.find(line), std::string::npos) << line << "\nin:\n" << err;
    EXPECT_EQ(out.find("restored the registry keys") != std::string::npos, row.restored) << out;
    EXPECT_EQ(modrik::frontends::ReadText((dir_ / "import.reg").string()),
              row.imported ? std::optional<std::string>(RegFileBytes(*row.imported)) : std::nullopt);
    // The home as it was, but for modrik's own desktop entry, which went
    // where the install had made it; nothing written in the folder a link names.
    EXPECT_EQ(fs::exists(entry), row.name != std::string("hostile"));
    EXPECT_EQ(modrik::frontends::ReadText(home + "/canary-doc.txt"), "mine\n");
    EXPECT_EQ(modrik::frontends::ReadText(home + "/keep/one.txt"), "mine\n");
    EXPECT_EQ(modrik::frontends::ReadText(data + "/applications/other.desktop"), "mine\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(home + "/keep"), fs::directory_iterator()), 1);
    EXPECT_EQ(fs::exists(state), !row.imported) << "the state folder";
  }
}

// One change at a time: while another command holds the prefix's lock, a
// change waits for it up to --wait (saying so), then refuses with 4, or
// stops on a signal; `list` does not wait.
TEST_F(ModrikCommandRefusal, AChangeWaitsForTheOneUnderWay) {
  SystemReg("win64");
  const std::string pfx = (dir_ / "pfx").string();
  fs::create_directories(dir_ / "pfx/modrik-install");
  std::ofstream(dir_ / "pfx/modrik-install/installed") << "version=1.4\n";
  const int fd = open(pfx.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  const std::string before = Listing(), waiting = "modrik: another modrik command is changing " + pfx + ": waiting up to ";
  const struct {
    std::vector<std::string> args;
    int signal, status;
    std::string out, err;
  } rows[] = {
      {{"install", "--prefix", pfx, "--wait", "1"}, 0, 4, waiting + "1 s for it to end\n",
       "modrik: another modrik command is still changing " + pfx + "; try again once it has ended; nothing changed.\n"},
      {{"uninstall", "--prefix", pfx, "--wait", "1"}, 0, 4, waiting + "1 s for it to end\n",
       "modrik: another modrik command is still changing " + pfx + "; try again once it has ended; nothing changed.\n"},
      {{"install", "--prefix", pfx, "--wait", "30"}, SIGINT, 130, waiting + "30 s for it to end\n",
       "modrik: interrupted by SIGINT; nothing changed.\n"},
      {{"list", "--prefix", pfx}, 0, 0, pfx + " (wine): win64, a change is under way (modrik install or uninstall)\n", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0]);
    std::string out, err;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Command(row.args, &err, {}, &out, row.signal), row.status);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(out.substr(0, row.out.size()), row.out);
    EXPECT_EQ(err, row.err);
    EXPECT_EQ(Listing(), before);
  }
  close(fd);
}

// The registry step of an install cut short by a full disk, or by the
// state folder turning read-only (a stand-in Wine does either as it exports):
// each said for what it is, and "nothing changed" only when the journal
// could go again (else `list` would say half-installed).
TEST_F(ModrikCommandRefusal, AFaultDuringTheExportIsSaidForWhatItIs) {
  const std::string pfx = (dir_ / "pfx").string();
  if (mount("tmpfs", pfx.c_str(), "tmpfs", 0, "size=4m") != 0) GTEST_SKIP() << "a tmpfs needs root";
  const struct {
    const char* name;
    std::string wine;  // what the stand-in Wine does
    std::string err, listed;
  } rows[] = {
      {"a full disk", "head -c 8M /dev/zero >\"$WINEPREFIX/fill\"",
       "modrik: cannot export the registry of " + pfx + ": no space left on the device; nothing changed.\n", "modrik not installed"},
      {"a state folder that turns read-only",
       "s=\"$WINEPREFIX/modrik-install\"; mount --bind \"$s\" \"$s\" && mount -o remount,bind,ro \"$s\" \"$s\"",
       "modrik: cannot read the registry of " + pfx + " with " + (dir_ / "no-wine").string() + "\nmodrik: " + pfx +
           " is half-installed: `modrik install` finishes it, `modrik uninstall` takes it back.\n",
       "modrik half-installed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    mount(nullptr, pfx.c_str(), nullptr, MS_REMOUNT, "size=4m");
    fs::remove_all(dir_ / "pfx/modrik-install");
    fs::remove(dir_ / "pfx/fill");
    SystemReg("win64");
    fs::create_directories(dir_ / "pfx/drive_c/windows/temp");
    std::ofstream(dir_ / "no-wine") << "#!/bin/sh\n" << row.wine << "\nexit 1\n";
    fs::permissions(dir_ / "no-wine", fs::perms::owner_all);
    std::string err, out;
    EXPECT_EQ(Command({"install", "--prefix", pfx, "--player", ""}, &err), 1);
    EXPECT_EQ(err, row.err);
    EXPECT_EQ(Command({"list", "--prefix", pfx}, &err, {}, &out), 0);
    EXPECT_NE(out.find(row.listed), std::string::npos) << out;
    umount((pfx + "/modrik-install").c_str());
  }
  umount(pfx.c_str());
}

// An install over an uninstall cut short finishes that first, then installs
// afresh, as into a prefix never installed (a stand-in Wine exports a
// registry without modrik's keys and records each .reg it imports). The state
// it writes is all modrik's, and matches its own record.
TEST_F(ModrikCommandRefusal, AnInstallFinishesAnUninstallCutShortThenStartsAfresh) {
  SystemReg("win64");
  const std::string pfx = (dir_ / "pfx").string(), state = pfx + "/modrik-install";
  std::ofstream(dir_ / "no-wine")
      << "#!/bin/sh\nt=$(echo \"$WINEPREFIX\"/drive_c/windows/temp/modrik-reg-*)\ncase \"$*\" in\n"
         "*export*) printf '%s\\n' 'Windows Registry Editor Version 5.00' '' '[HKEY_LOCAL_MACHINE\\SOFTWARE]' '' "
         "'[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths]' '' >\"$t/export.reg\";;\n"
         "*import*) cat \"$t/import.reg\" >>\"$WINEPREFIX/../imports\";;\nesac\nexit 0\n";
  std::ofstream(dir_ / "wineserver") << "#!/bin/sh\nexit 0\n";
  for (const char* tool : {"no-wine", "wineserver"}) fs::permissions(dir_ / tool, fs::perms::owner_all);
  fs::create_directories(state);
  std::ofstream(state + "/journal") << "operation=uninstall\ndone=files\ndone=registry\n";
  std::ofstream(state + "/installed") << "version=1.4\n";
  std::ofstream(state + "/registry.keys") << kSw << "\\VideoLAN\n";
  std::ofstream(state + "/registry.saved");
  std::string err, out;
  const std::string data = (dir_ / "home/.local/share").string();
  ASSERT_EQ(Command({"install", "--prefix", pfx, "--player", ""}, &err, {"HOME=" + (dir_ / "home").string(), "XDG_DATA_HOME="},
                    &out), 0) << err;
  EXPECT_EQ(out.rfind("finishing the uninstall that was cut short in " + pfx + "\n", 0), 0u) << out;
  // The uninstall's registry step again (its journal's word not taken), then the install's.
  const std::string imports = modrik::frontends::ReadText((dir_ / "imports").string()).value_or("");
  EXPECT_EQ(RegFileLines(imports.substr(0, imports.find("\xff\xfe", 2))),
            RegFileLines(RegFileBytes("[-" + kSw + "\\VideoLAN]\n\n")));
  EXPECT_EQ(modrik::frontends::ReadText(state + "/registry.keys"),
            kSw + "\\VideoLAN\n" + kSw + "\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe\n" + kSw +
                "\\Wow6432Node\\VideoLAN\n");
  EXPECT_TRUE(fs::exists(state + "/created-files")) << "not a first install";
  EXPECT_TRUE(fs::exists(state + "/vlc.exe.absent"));
  EXPECT_FALSE(fs::exists(state + "/journal"));
  const InstallState read = ReadInstallState(
      pfx, {data + "/applications/wine-vlc.desktop", data + "/icons/vlc.ico", data + "/icons/vlc.png"});
  EXPECT_TRUE(read.damaged.empty() && read.foreign.empty()) << (read.damaged.empty() ? read.foreign[0] : read.damaged[0]);
  EXPECT_TRUE(read.installed);
}

// A signal during the registry export, which only reads, ends it at once:
// the command stops within a second of it, with nothing changed (a
// stand-in Wine that interrupts the command, then would export for 30 s).
TEST_F(ModrikCommandRefusal, ASignalEndsTheExportAtOnce) {
  SystemReg("win64");
  const std::string pfx = (dir_ / "pfx").string();
  fs::create_directories(dir_ / "pfx/drive_c/windows/temp");
  std::ofstream(dir_ / "no-wine") << "#!/bin/sh\nkill -INT $PPID\nexec sleep 30\n";
  fs::permissions(dir_ / "no-wine", fs::perms::owner_all);
  const std::string before = Listing();
  std::string err;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Command({"install", "--prefix", pfx, "--player", ""}, &err), 130);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(err, "modrik: interrupted by SIGINT; nothing changed.\n");
  EXPECT_EQ(Listing(), before);
}

// A home that others may write: every start there would refuse to run a
// host command, so the install warns of it.
TEST_F(ModrikCommandRefusal, AHomeOthersMayWriteIsWarnedOf) {
  SystemReg("win64");
  const std::string pfx = (dir_ / "pfx").string(), home = (dir_ / "home").string();
  std::ofstream(dir_ / "no-wine") << "#!/bin/sh\nexit 1\n";
  fs::permissions(dir_ / "no-wine", fs::perms::owner_all);
  fs::create_directories(home);
  const std::string warning = "modrik: warning: your home " + home + " is not yours alone (mode 0777): modrik.exe starts "
                              "no native player from a home that others may write; `chmod go-w " + home + "` mends it\n";
  for (const auto& [mode, warned] : {std::pair<fs::perms, bool>{fs::perms::all, true}, {fs::perms(0755), false}}) {
    fs::permissions(home, mode);
    std::string err;
    EXPECT_EQ(Command({"install", "--prefix", pfx, "--player", ""}, &err, {"HOME=" + home}), 1);
    EXPECT_EQ(err.rfind(warning, 0) == 0, warned) << err;
  }
}

TEST_F(ModrikCommandRefusal, AReadOnlyPrefixIsRefused) {
  SystemReg("win32");
  const std::string pfx = (dir_ / "pfx").string();
  if (mount(pfx.c_str(), pfx.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
      mount(nullptr, pfx.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
    GTEST_SKIP() << "a read-only bind mount needs root";
  const std::string before = Listing();
  std::string err;
  EXPECT_EQ(Command({"install", "--prefix", pfx}, &err), 1);
  EXPECT_EQ(err, "modrik: cannot write to " + pfx + " (Read-only file system); nothing changed.\n");
  EXPECT_EQ(Listing(), before);
  umount(pfx.c_str());
}

// A front-end's Wine runs where it lives: on the host with the variables
// added, or inside its Flatpak with them as --env options.
TEST(ModrikCommandTargets, WineRunsWhereItsRunnerLives) {
  unsetenv("WINEDEBUG");
  unsetenv("WINEDLLOVERRIDES");
  Target t{"/g/p", "/r/bin/wine", "bottles", "", "Bottles bottle B", ""};
  const std::vector<std::string> env = {"WINEPREFIX=/g/p", "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
  WineCommand c = WineCommandOf(t, t.wine, {"reg", "import", "C:\\x.reg"});
  EXPECT_EQ(c.argv, (std::vector<std::string>{"/r/bin/wine", "reg", "import", "C:\\x.reg"}));
  EXPECT_EQ(c.env, env);
  t.flatpakApp = "com.usebottles.bottles";
  c = WineCommandOf(t, "/r/bin/wineserver", {"-w"});
  EXPECT_EQ(c.argv, (std::vector<std::string>{"flatpak", "run", "--env=" + env[0], "--env=" + env[1], "--env=" + env[2],
                                              "--command=/r/bin/wineserver", "com.usebottles.bottles", "-w"}));
  EXPECT_TRUE(c.env.empty());
  setenv("WINEDEBUG", "+reg", 1);
  EXPECT_EQ(WineCommandOf(t, "wine", {}).argv.size(), 6u);  // the caller's WINEDEBUG is kept
  unsetenv("WINEDEBUG");
}

TEST(ModrikCommandPrefix, ArchitectureComesFromSystemReg) {
  const fs::path dir = fs::temp_directory_path() / ("mdk-arch-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const struct {
    std::string header, arch, build;
  } rows[] = {
      {"WINE REGISTRY Version 2\n;; c\n\n#arch=win64\n\n[Software]\n", "win64", "x86_64"},
      {"WINE REGISTRY Version 2\r\n;; c\r\n\r\n#arch=win32\r\n\r\n", "win32", "i686"},
      {"WINE REGISTRY Version 2\n;; an old prefix: 32-bit\n\n[Software]\n#arch=win64\n", "win32", "i686"},
      {"WINE REGISTRY Version 2\n#arch=arm64\n", "arm64", ""},
  };
  for (const auto& row : rows) {
    std::ofstream(dir / "system.reg") << row.header;
    EXPECT_EQ(PrefixArch(dir.string()), row.arch) << row.header;
    EXPECT_EQ(BuildArchOf(row.arch), row.build);
  }
  fs::remove_all(dir);
  EXPECT_EQ(PrefixArch(dir.string()), "");
}

}  // namespace

// Sets variables for a test and puts them back after it.
class ScopedEnv {
 public:
  explicit ScopedEnv(const std::vector<std::pair<const char*, const char*>>& values) {
    for (const auto& [name, value] : values) {
      const char* old = getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      value ? setenv(name, value, 1) : unsetenv(name);
    }
  }
  ~ScopedEnv() {
    for (const auto& [name, value] : saved_) value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// --grant-host on a Flatpak front-end's prefix: the talk-name added to the
// user's own override beside what it held, by flatpak's `override` and by
// modrik's own writing; taken back when the last prefix that asked for it is
// uninstalled, leaving the file as the user had it, byte for byte (or only
// the grant's line gone when the user changed the file since).
TEST(ModrikCommandGrant, AddsTheTalkNameToTheUsersOverrideAndTakesBackOnlyThat) {
  const fs::path home = fs::temp_directory_path() / ("mdk grant " + std::to_string(getpid()));
  const std::string app = "com.usebottles.bottles", talk = "[Session Bus Policy]\norg.freedesktop.Flatpak=talk\n";
  const std::string music = "[Context]\nfilesystems=xdg-music;\n";
  ScopedEnv env({{"HOME", home.c_str()}, {"XDG_DATA_HOME", nullptr}, {"FLATPAK_USER_DIR", nullptr},
                 {"FLATPAK_SYSTEM_DIR", (home / "system").c_str()}});
  const fs::path file = home / ".local/share/flatpak/overrides" / app;
  const struct {
    const char* what;
    bool flatpak;  // flatpak's own `override` writes it (in a user installation)
    std::optional<std::string> before;
    std::string after, edit;  // the file after the grant; what the user appends then
    std::optional<std::string> end;
  } rows[] = {
      {"filesystems, by flatpak", true, music, music + "\n" + talk, "", music},
      {"filesystems, by modrik", false, music, music + "\n" + talk, "", music},
      {"no file", false, std::nullopt, talk, "", std::nullopt},
      {"the user's denial", false, "# mine\n[Session Bus Policy]\norg.freedesktop.Flatpak=none\n",
       "# mine\n[Session Bus Policy]\norg.freedesktop.Flatpak=talk\n", "", "# mine\n[Session Bus Policy]\norg.freedesktop.Flatpak=none\n"},
      {"granted by the user: nothing added", false, talk, talk, "", talk},
      {"changed since", false, music, music + "\n" + talk, "org.kde.X=talk\n",
       music + "\n[Session Bus Policy]\norg.kde.X=talk\n"},
      {"no file, changed since", false, std::nullopt, talk, "[Context]\nshared=ipc;\n", "[Context]\nshared=ipc;\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(home);
    fs::create_directories(home / "pfx A");
    fs::create_directories(home / "pfx\\ B\n");  // recorded one a line
    if (row.flatpak && (FindOnPath("flatpak").empty() || hostcmd::Run({"flatpak", "--user", "remotes"}, {}, "") != 0)) continue;
    const ScopedEnv path{{{"PATH", row.flatpak ? getenv("PATH") : "/nowhere"}}};
    if (row.before) {
      fs::create_directories(file.parent_path());
      std::ofstream(file) << *row.before;
    }
    Target a{(home / "pfx A").string(), "wine", "bottles", app, "Bottles bottle B [flatpak]", "", "B"}, b = a;
    b.prefix = (home / "pfx\\ B\n").string();
    EXPECT_EQ(GrantProblem(a), "");
    ASSERT_EQ(Grant(a), 0);
    EXPECT_EQ(modrik::frontends::ReadText(file), row.after);
    EXPECT_TRUE(FlatpakPermissionOf(app).talks);
    // A second bottle of the app shares the grant: the first uninstall leaves it.
    ASSERT_EQ(Grant(b), 0);
    std::ofstream(file, std::ios::app) << row.edit;
    EXPECT_EQ(TakeBack(a, false), 0);
    EXPECT_EQ(modrik::frontends::ReadText(file), row.after + row.edit);
    EXPECT_EQ(TakeBack(b, false), 0);
    EXPECT_EQ(modrik::frontends::ReadText(file), row.end);
    // The folders made for it go again (Flatpak's own user installation stays).
    EXPECT_EQ(fs::exists(home / ".local"), row.before || row.end || row.flatpak);
  }
  // An override that flatpak cannot read, or a link, is refused before anything changes.
  const Target t{"/p", "wine", "bottles", app, "", "", "B"};
  std::ofstream(file) << "garbage\n";
  EXPECT_EQ(GrantProblem(t), file.string() + " cannot be read: line 1: it is no key=value, group or comment");
  fs::remove(file);
  fs::create_symlink("elsewhere", file);
  EXPECT_EQ(GrantProblem(t), file.string() + " is a link: modrik writes neither through nor over it");
  fs::remove_all(home);
}

// The channel `list` gives each prefix: from the Flatpak's metadata and
// overrides, the front-end, and the container the command runs in.
TEST(ModrikCommandGrant, ListSaysTheChannelOfAStart) {
  const fs::path home = fs::temp_directory_path() / ("mdk channel " + std::to_string(getpid()));
  fs::remove_all(home);
  ScopedEnv env({{"HOME", home.c_str()}, {"XDG_DATA_HOME", nullptr}, {"FLATPAK_USER_DIR", nullptr},
                 {"FLATPAK_SYSTEM_DIR", (home / "system").c_str()}, {"PATH", "/nowhere"}});
  const std::string lutris = (home / "system/app/net.lutris.Lutris/current/active/metadata").string();
  for (const auto& [file, text] : {std::pair<std::string, std::string>{lutris, "[Session Bus Policy]\norg.freedesktop.Flatpak=talk\n"},
                                   {(home / ".local/share/flatpak/app/com.usebottles.bottles/current/active/metadata").string(),
                                    "[Session Bus Policy]\norg.freedesktop.Notifications=talk\n"},
                                   {(home / "ini/drive_c/Program Files/VideoLAN/VLC/modrik.ini").string(), "[modrik]\r\nvlcpath=/bin/sh\r\n"}}) {
    fs::create_directories(fs::path(file).parent_path());
    std::ofstream(file) << text;
  }
  const Target bottle{"/b", "wine", "bottles", "com.usebottles.bottles", "", "", "E2E Bottle"};
  const struct {
    Target target;
    HostFacts facts;
    std::string channel;
  } rows[] = {
      {{"/w", "wine", "wine", "", "", ""}, {}, "host"},
      {{"/s", "/p/wine", "steam", "", "", "", "620"}, {}, "launch client (steam-runtime-launch-client --alongside-steam)"},
      {{"/l", "wine", "lutris", "net.lutris.Lutris", "", "", "quake"}, {}, "flatpak-spawn (net.lutris.Lutris may start host programs: " + lutris + ")"},
      {bottle, {}, "portal (com.usebottles.bottles may not start host programs); lost: the player's options beyond what a "
                   "playlist carries, the wait for the player and its exit code; the whole hand-off: modrik install "
                   "--bottle 'E2E Bottle' --grant-host"},
      {{"/h", "wine", "heroic", "com.heroicgameslauncher.hgl", "", "", "x"}, {}, "none: the Flatpak com.heroicgameslauncher.hgl is not installed"},
      {{"/w", "wine", "wine", "", "", ""}, {true, "host-spawn"}, "container way out (host-spawn): the host's player"},
      {{(home / "ini").string(), "wine", "wine", "", "", ""}, {true, "host-spawn"}, "host (the container's own player /bin/sh)"},
      {{"/w", "wine", "wine", "", "", ""}, {true, ""}, "container way out, but none is here (flatpak-spawn, host-spawn, "
                                                      "distrobox-host-exec): the host's player cannot be reached"},
  };
  for (const auto& row : rows) EXPECT_EQ(ChannelOf(row.target, row.facts), row.channel);
  ASSERT_EQ(Grant(bottle), 0);
  EXPECT_EQ(ChannelOf(bottle, {}), "flatpak-spawn (com.usebottles.bottles may start host programs: " +
                                        UserOverride(bottle.flatpakApp) + ", granted by modrik install --grant-host)");
  fs::remove_all(home);
}

// `modrik doctor` without a start: each fault a start would meet is named
// with its remedy, and the status is 7; a sound prefix is 0. A stand-in
// wine answers --version; nothing in the folder changes.
class ModrikDoctor : public ModrikCommandRefusal {
 protected:
  void SetUp() override {
    ModrikCommandRefusal::SetUp();
    pfx_ = (dir_ / "pfx").string();
    home_ = (dir_ / "home").string();
    fs::create_directories(home_);
    fs::create_directories(dir_ / "bin");
    Script("bin/vlc", "exit 0");
    Script("wine", "echo 'wine-8.0 (stand-in)'");
    // A Flatpak's Wine, and its instances (none).
    Script("bin/flatpak", "[ \"$1\" = run ] && echo 'wine-9.0 (Flatpak)'; exit 0");
    SystemReg("win64");
    std::ofstream(dir_ / "pfx/system.reg", std::ios::app) << Section("Software\\VideoLAN\\VLC", kExe)
        << Section("Software\\Wow6432Node\\VideoLAN\\VLC", kExe32)
        << Section("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe", kExe);
    const fs::path win = fs::path(MODRIK_HOSTCMD_PATH).parent_path() / "..";
    std::string installed = "version=" MODRIK_VERSION "\n";
    for (const auto& [folder, build] : {std::pair{"Program Files", "win"}, {"Program Files (x86)", "win32"}}) {
      const fs::path place = dir_ / "pfx/drive_c" / folder / "VideoLAN/VLC";
      fs::create_directories(place);
      fs::copy_file(win / build / "modrik.exe", place / "vlc.exe");
      std::ofstream(place / "modrik.ini") << "[modrik]\r\nvlcpath=" << (dir_ / "bin/vlc").string() << "\r\n";
    }
    fs::create_directories(dir_ / "pfx/modrik-install");
    std::ofstream(dir_ / "pfx/modrik-install/installed") << installed;
    std::ofstream(dir_ / "pfx/modrik-install/registry.keys") << "HKEY_LOCAL_MACHINE\\SOFTWARE\\VideoLAN\n";
    std::ofstream(dir_ / "pfx/modrik-install/registry.saved");
  }
  void Script(const std::string& name, const std::string& body) {
    std::ofstream(dir_ / name) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(dir_ / name, static_cast<fs::perms>(0755));
  }
  static std::string Section(std::string key, const std::string& value) {
    std::string escaped;
    for (char c : key) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    std::string v;
    for (char c : value) v += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return "\n[" + escaped + "] 1700000000\n@=\"" + v + "\"\n";
  }
  std::vector<std::string> Env() const {
    return {"HOME=" + home_, "PATH=" + (dir_ / "bin").string() + ":/usr/bin:/bin", "XDG_RUNTIME_DIR=",
            "XDG_DATA_HOME=", "XDG_CONFIG_HOME=", "WINEPREFIX=", "FLATPAK_USER_DIR=" + (dir_ / "flatpak").string(),
            "FLATPAK_SYSTEM_DIR=" + (dir_ / "flatpak-system").string()};
  }

  static constexpr const char* kExe = "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe";
  static constexpr const char* kExe32 = "C:\\Program Files (x86)\\VideoLAN\\VLC\\vlc.exe";
  std::string pfx_, home_;
};

TEST_F(ModrikDoctor, EachFaultIsNamedWithItsRemedy) {
  const std::string wine = (dir_ / "wine").string(), vlc = (dir_ / "bin/vlc").string();
  const std::string bottle = home_ + "/.var/app/com.usebottles.bottles/data/bottles/bottles/Games";
  const struct {
    const char* name;
    std::function<void()> make;
    std::vector<std::string> args;
    int status;
    std::string line;  // a whole line of the output
  } rows[] = {
      {"a sound prefix", [] {}, {}, 0, "  wine: ok (" + wine + ": wine-8.0 (stand-in))"},
      {"the modrik current", [] {}, {}, 0, "  modrik: ok (" MODRIK_VERSION ", current)"},
      {"the player", [] {}, {}, 0, "  player: ok (vlcpath=" + vlc + ", an executable file on the host)"},
      {"the channel", [] {}, {}, 0, "  channel: ok (host)"},
      {"Wine's 32-bit loader on a kernel without 32-bit programs",
       [&] { Script("wine", "echo '/usr/bin/wine-stable: 40: exec: /usr/lib/wine/wine: Exec format error' >&2; exit 126"); },
       {}, 7,
       "  wine: " + wine + " cannot start: Exec format error: this kernel runs no 32-bit programs, and Debian's wine "
       "picks the loader of wine32 (/usr/lib/wine/wine) for 64-bit prefixes too; mend: sudo dpkg-divert --rename "
       "--divert /usr/lib/wine/wine.i386-set-aside-by-modrik --add /usr/lib/wine/wine"},
      {"a 32-bit prefix on such a kernel",
       [&] {
         SystemReg("win32");
         Script("wine", "echo 'exec: /usr/lib/wine/wine: Exec format error' >&2; exit 126");
       },
       {}, 7,
       "  wine: " + wine + " cannot start: Exec format error: this kernel runs no 32-bit programs, and this prefix is "
       "32-bit; mend: none on this kernel: use the prefix on one that runs 32-bit programs"},
      {"a 32-bit prefix without wine32",
       [&] {
         SystemReg("win32");
         Script("wine", "echo 'it looks like wine32 is missing, you should install it.' >&2; echo wine-8.0");
       },
       {}, 7,
       "  wine: wine32 is missing, which this 32-bit prefix needs; mend: sudo dpkg --add-architecture i386 && "
       "sudo apt-get update && sudo apt-get install wine32:i386"},
      {"no Wine", [&] { fs::remove(dir_ / "wine"); }, {}, 7, "  wine: " + wine + " is not installed here"},
      {"a Wine that does not answer", [&] { Script("wine", "exec sleep 60"); }, {}, 7,
       "  wine: " + wine + " gave no answer within 2 s, or could not be started"},
      {"a half-removed prefix",
       [&] { std::ofstream(dir_ / "pfx/modrik-install/journal") << "operation=uninstall\ndone=files\n"; }, {}, 7,
       "  changes: modrik is half-removed: an uninstall was cut short; mend: modrik uninstall --prefix " + ShellWord(pfx_)},
      {"a state that cannot be trusted",
       [&] { std::ofstream(dir_ / "pfx/modrik-install/journal") << "operation=reinstall\n"; }, {}, 7,
       "  changes: modrik's state cannot be trusted: " + pfx_ + "/modrik-install/journal is damaged: an unknown "
       "operation \"reinstall\"; mend: modrik uninstall --prefix " + ShellWord(pfx_) + " (it takes modrik's files "
       "and keys away), then modrik install --prefix " + ShellWord(pfx_)},
      {"a half-installed prefix",
       [&] { std::ofstream(dir_ / "pfx/modrik-install/journal") << "operation=install\ndone=keep\n"; }, {}, 7,
       "  changes: modrik is half-installed: an install was cut short; mend: modrik install --prefix " + ShellWord(pfx_) +
           " (modrik uninstall --prefix " + ShellWord(pfx_) + " takes it back)"},
      {"a stand-in that is not the shipped build",
       [&] { std::ofstream(dir_ / "pfx/drive_c/Program Files (x86)/VideoLAN/VLC/vlc.exe", std::ios::app) << "x"; }, {},
       7,
       "  modrik: not current: " + std::string(kExe32) + " is not the build shipped with this command (" +
           (fs::path(MODRIK_HOSTCMD_PATH).parent_path().parent_path() / "win32/modrik.exe").string() +
           "); mend: modrik install --prefix " + ShellWord(pfx_)},
      {"a registry that does not name it",
       [&] {
         SystemReg("win64");
         std::ofstream(dir_ / "pfx/system.reg", std::ios::app)
             << Section("Software\\VideoLAN\\VLC", kExe) << Section("Software\\Wow6432Node\\VideoLAN\\VLC", "C:\\x.exe");
       },
       {}, 7,
       "  registry: HKLM\\Software\\Wow6432Node\\VideoLAN\\VLC does not name " + std::string(kExe32) +
           "; App Paths\\vlc.exe does not name " + kExe + "; mend: modrik install --prefix " + ShellWord(pfx_)},
      {"a vlcpath that is gone",
       [&] { std::ofstream(dir_ / "pfx/drive_c/Program Files/VideoLAN/VLC/modrik.ini") << "[modrik]\r\nvlcpath=/gone/vlc\r\n"; },
       {}, 7,
       "  player: vlcpath=/gone/vlc does not exist on the host; mend: modrik install --prefix " + ShellWord(pfx_) + " --player " + vlc},
      {"a home of mode 0777", [&] { fs::permissions(home_, static_cast<fs::perms>(0777)); }, {}, 7,
       "  home: " + home_ + " has mode 0777: others may write it, and every start is refused (126); mend: chmod go-w " +
           ShellWord(home_)},
      {"a folder in the place of dues.sh", [&] { fs::create_directories(home_ + "/dues.sh"); }, {}, 7,
       "  dues.sh: " + home_ + "/dues.sh is a folder: no start can write its host command there; mend: mv " +
           ShellWord(home_ + "/dues.sh") + " " + ShellWord(home_ + "/dues.sh.folder")},
      {"a link in the place of dues.sh", [&] { fs::create_symlink("/etc/passwd", home_ + "/dues.sh"); }, {}, 7,
       "  dues.sh: " + home_ + "/dues.sh is a link: no start writes its host command there; mend: rm " +
           ShellWord(home_ + "/dues.sh")},
      {"no private folder",
       [&] {
         fs::create_directories(home_ + "/.cache");
         fs::permissions(home_ + "/.cache", static_cast<fs::perms>(0777));
       },
       {}, 7,
       "  private folder: none is fit (" + home_ + "/.cache has mode 0777: others may use it): the player is not "
       "started (126); mend: chmod go-rwx " + ShellWord(home_ + "/.cache")},
      {"a Bottles bottle that reaches only the portal",
       [&] {
         fs::create_directories(bottle);
         fs::rename(dir_ / "pfx", bottle);
         std::ofstream(bottle + "/bottle.yml") << "Name: Games\nArch: win64\nRunner: sys-wine-9.0\n";
         fs::create_directories(dir_ / "flatpak/app/com.usebottles.bottles/current/active");
         std::ofstream(dir_ / "flatpak/app/com.usebottles.bottles/current/active/metadata")
             << "[Application]\nname=com.usebottles.bottles\n";
       },
       {"--bottle", "Games"}, 7,
       "  channel: portal (com.usebottles.bottles may not start host programs); lost: the player's options beyond "
       "what a playlist carries, the wait for the player and its exit code; mend: modrik install --bottle Games "
       "--grant-host"},
  };
  std::ifstream page(MODRIK_SOURCE_DIR_PATH "/doc/modrik.1");
  const std::string man((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
  EXPECT_NE(man.find("\n.B 7\n"), std::string::npos);
  // Nothing named and nothing found.
  std::string out, err;
  EXPECT_EQ(Command({"doctor"}, &err, Env(), &out), 1);
  EXPECT_NE(err.find("modrik: no prefix found: "), std::string::npos) << err;
  EXPECT_NE(err.find(" is no Wine prefix, and no Lutris, Bottles, Steam or Heroic prefix is here; name one with "
                     "--prefix.\n"), std::string::npos) << err;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    row.make();
    std::vector<std::string> args = {"doctor", "--no-start", "--time-limit", "2", "--prefix", pfx_, "--wine", wine};
    if (!row.args.empty()) args = {"doctor", "--no-start", "--time-limit", "2", row.args[0], row.args[1]};
    const std::string before = Listing();
    std::string out, err;
    EXPECT_EQ(Command(args, &err, Env(), &out), row.status) << out << err;
    EXPECT_NE(("\n" + out).find("\n" + row.line + "\n"), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1),
              row.status == 0 ? "modrik doctor: every start will work.\n"
                              : "modrik doctor: 1 of 1 prefix has a start that will not work.\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(Listing(), before);
    fs::permissions(home_, static_cast<fs::perms>(0755));
  }
}

// The real start with a stand-in Wine: what its recorder got is shown, the
// home's dues.sh is put back, the doctor's folder goes; a Wine that hangs
// or starts no player is a finding.
TEST_F(ModrikDoctor, TheStartShowsWhatThePlayerGotAndLeavesNothing) {
  const std::string wine = (dir_ / "wine").string(), vlc = (dir_ / "bin/vlc").string();
  const std::string answer = "[ \"$1\" = --version ] && { echo wine-8.0; exit 0; }\n";
  const struct {
    const char* name;
    std::string wine;  // after its answer to --version
    int status;
    std::string line;      // the start of a line of the output
    std::string end = "";   // and its end
    std::string file = "";  // FILE, relative to the working folder
  } rows[] = {
      {"the recorder gets the file",
       "mkdir -p \"$HOME/.cache/modrik/start\" && cd / && \"$MODRIK_DOCTOR_PLAYER\" \"$2\" && echo changed >\"$HOME/dues.sh\"; "
       "(sleep 0.5; rmdir \"$HOME/.cache/modrik/start\") &",
       0,
       "    the player would get: " + vlc + " 'Z:\\tmp\\modrik-doctor-",
       "\\modrik doctor vid\xC3\xA9o d'\\''\xC3\xA9t\xC3\xA9.mkv'"},
      {"its working folder", "cd / && \"$MODRIK_DOCTOR_PLAYER\" \"$2\"", 0, "    in the working folder: /"},
      {"the channel", "\"$MODRIK_DOCTOR_PLAYER\"", 0, "    channel taken: host commands run directly"},
      {"a Wine that hangs", "exec sleep 60", 7,
       "  start: Wine did not end within 2 s: a hung Wine, or a wineserver that does not answer; mend: WINEPREFIX=" +
           ShellWord(pfx_) + " wineserver -k"},
      {"a file that is not there", "\"$MODRIK_DOCTOR_PLAYER\"", 7, "  start: not made: there is no file " + home_ + "/gone.mkv", "", "home/gone.mkv"},
      {"a start that is refused", "echo 'warn:debugstr:OutputDebugStringA \"modrik: the home is refused\"'; exit 126", 7,
       "    trace: the home is refused"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    fs::create_directories(dir_ / "pfx/dosdevices");
    fs::create_directory_symlink("/", dir_ / "pfx/dosdevices/z:");
    Script("wine", answer + row.wine);
    const std::string before = Listing();
    std::string out, err;
    std::vector<std::string> args = {"doctor", "--time-limit", "2", "--prefix", pfx_, "--wine", wine};
    if (!row.file.empty()) args.push_back(row.file);
    EXPECT_EQ(Command(args, &err, Env(), &out), row.status) << out << err;
    const size_t at = ("\n" + out).find("\n" + row.line);
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.substr(out.find('\n', at + row.line.size()) - row.end.size(), row.end.size()), row.end) << out;
    EXPECT_EQ(out.find("\n  start: ok (in ") != std::string::npos, row.status == 0) << out;
    EXPECT_EQ(Listing(), before);
    const size_t named = out.find("\\tmp\\modrik-doctor-");
    EXPECT_FALSE(named != std::string::npos && Exists("/tmp/" + out.substr(named + 5, 20))) << out;
  }
}
