#include <gtest/gtest.h>
#include <unistd.h>

#include "fake_platform.h"
#include "host_shell.h"
#include "winebridge_fake_host.h"
#include "launcher/launcher.h"
#include "winebridge/host/host_scripts.h"

namespace {

const std::string kVlcKey = std::to_string(platform::kHkeyLocalMachine) + "|software\\videolan\\vlc|";

void AddPlayerKey(fake::FakePlatform& sys) { sys.registryKeys[kVlcKey] = true; }

}  // namespace

TEST(PlayerFromWhereis, OutputForms) {
  EXPECT_EQ(modrik::PlayerFromWhereis("vlc: /usr/bin/vlc /usr/share/vlc\n"), "/usr/bin/vlc");
  // A single location keeps the output's line feed.
  EXPECT_EQ(modrik::PlayerFromWhereis("vlc: /usr/bin/vlc\n"), "/usr/bin/vlc\n");
  EXPECT_EQ(modrik::PlayerFromWhereis("vlc:\n"), "\n");
  EXPECT_EQ(modrik::PlayerFromWhereis("  /opt/vlc extra"), "/opt/vlc");
  // Only spaces are trimmed: a tab stays.
  EXPECT_EQ(modrik::PlayerFromWhereis("vlc:\t/usr/bin/vlc\n"), "\t/usr/bin/vlc\n");
  EXPECT_EQ(modrik::PlayerFromWhereis("vlc:   "), "");
}

TEST(DetectPlayer, UnderWineAsksTheHostOnly) {
  fake::FakePlatform sys;
  sys.wineExport = true;
  sys.wineVersionText = "8.0";
  AddPlayerKey(sys);
  sys.registryValues[kVlcKey] = "C:\\ignored\\vlc.exe";
  sys.AddFolder("z:\\home\\guest");
  // The host answers the captured command by writing dues.log.
  sys.onStart = [&](const std::string& line) {
    if (line.find("/bin/sh") != std::string::npos &&
        sys.FileBytes("z:\\home\\guest\\dues.sh").find("whereis vlc") != std::string::npos)
      sys.AddFile("z:\\home\\guest\\dues.log", "vlc: /usr/bin/vlc /usr/share/vlc\n");
    return true;
  };
  modrik::UnderWine = true;
  modrik::DetectPlayer();
  EXPECT_EQ(modrik::PlayerPath, "/usr/bin/vlc");
}

TEST(DetectPlayer, UnderWineWithNoAnswerFindsNothing) {
  fake::FakePlatform sys;
  sys.wineExport = true;
  sys.wineVersionText = "8.0";
  sys.AddFolder("z:\\home\\guest");
  modrik::UnderWine = true;
  modrik::PlayerPath = "stale";
  modrik::DetectPlayer();
  EXPECT_EQ(modrik::PlayerPath, "");
}

// When whereis names no player, the Flatpak exports (system-wide, then the
// user's, in the data folder) and the Snap one are looked at, in that order;
// a folder there is no player.
TEST(DetectPlayer, UnderWinePlayersInstalledAsFlatpakOrSnap) {
  const std::string system = "\\\\?\\unix\\var\\lib\\flatpak\\exports\\bin\\org.videolan.VLC";
  const std::string user = "\\\\?\\unix\\home\\guest\\.local\\share\\flatpak\\exports\\bin\\org.videolan.VLC";
  const std::string xdg = "\\\\?\\unix\\data\\flatpak\\exports\\bin\\org.videolan.VLC";
  const std::string snap = "\\\\?\\unix\\snap\\bin\\vlc";
  struct Row {
    std::vector<std::string> files, folders;
    std::string xdgDataHome, whereis, found;
  } rows[] = {
      {{system, user, snap}, {}, "", "vlc:\n", "/var/lib/flatpak/exports/bin/org.videolan.VLC"},
      {{user, snap}, {system}, "", "vlc:\n", "/home/guest/.local/share/flatpak/exports/bin/org.videolan.VLC"},
      {{xdg, user}, {}, "/data", "", "/data/flatpak/exports/bin/org.videolan.VLC"},
      {{snap}, {}, "", "vlc:\n", "/snap/bin/vlc"},
      {{snap}, {}, "", "vlc: /usr/bin/vlc\n", "/usr/bin/vlc\n"},
      {{}, {}, "", "vlc:\n", "\n"},  // nothing anywhere: as whereis left it
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.found);
    fake::FakeHost host;
    host.wineExport = true;
    host.wineVersionText = "8.0";
    host.command = "whereis vlc";
    host.output = row.whereis;
    if (!row.xdgDataHome.empty()) host.environment["XDG_DATA_HOME"] = row.xdgDataHome;
    for (const std::string& file : row.files) host.AddFile(file, "ELF");
    for (const std::string& folder : row.folders) host.AddFolder(folder);
    modrik::UnderWine = true;
    modrik::DetectPlayer();
    EXPECT_EQ(modrik::PlayerPath, row.found);
  }
}

// Through a sandbox's channel the host's own shell looks in the same
// places, in one command: whereis (a stand-in here), then the user's
// Flatpak export in the data folder.
TEST(DetectPlayer, ThroughAChannelTheHostLooksInTheSamePlaces) {
  if (access("/var/lib/flatpak/exports/bin/org.videolan.VLC", F_OK) == 0 || access("/snap/bin/vlc", F_OK) == 0)
    GTEST_SKIP() << "this host has the player as a system-wide Flatpak or Snap, which comes first";
  struct Row {
    std::string whereis, xdgDataHome;  // "-": no usable XDG_DATA_HOME (not absolute)
    bool userFlatpak;
    std::string printed;  // "~" for the home
  } rows[] = {
      {"vlc: /usr/bin/vlc /usr/share/vlc", "-", true, "vlc: /usr/bin/vlc /usr/share/vlc\n"},
      {"vlc:", "-", true, "vlc: ~/.local/share/flatpak/exports/bin/org.videolan.VLC\n"},
      {"vlc:", "~/data", true, "vlc: ~/data/flatpak/exports/bin/org.videolan.VLC\n"},
      {"vlc:", "-", false, "vlc:\n"},
  };
  for (const Row& row : rows) {
    ScratchFolder home;
    auto expand = [&](std::string text) {
      for (size_t at; (at = text.find('~')) != std::string::npos;) text.replace(at, 1, home.path());
      return text;
    };
    SCOPED_TRACE(expand(row.printed));
    std::system(("mkdir -p '" + home.path() + "/bin'").c_str());
    WriteAll(home.path() + "/bin/whereis", "#!/bin/sh\necho '" + row.whereis + "'\n");
    const std::string data = row.xdgDataHome[0] == '~' ? expand(row.xdgDataHome) : home.path() + "/.local/share";
    if (row.userFlatpak)
      std::system(("mkdir -p '" + data + "/flatpak/exports/bin' && : > '" + data + "/flatpak/exports/bin/org.videolan.VLC'").c_str());
    const std::string out = home.path() + "/out";
    setenv("MDK_SCRIPT", modrik::host::find_player_sh, 1);
    std::system(("chmod +x '" + home.path() + "/bin/whereis' && HOME='" + home.path() + "' PATH='" + home.path() +
                 "/bin:/usr/bin:/bin' XDG_DATA_HOME='" + expand(row.xdgDataHome) + "' /bin/sh -c \"$MDK_SCRIPT\" > '" + out + "'")
                    .c_str());
    EXPECT_EQ(ReadAll(out), expand(row.printed));
  }
}

TEST(DetectPlayer, RegistryDefaultValueWinsUnchecked) {
  fake::FakePlatform sys;
  AddPlayerKey(sys);
  sys.registryValues[kVlcKey] = "D:\\nowhere\\vlc.exe";
  sys.registryValues[kVlcKey + "InstallDir"] = "C:\\VLC";
  sys.searches["C:\\Program Files (x86)\\VideoLAN\\VLC\\vlc.exe"] = {{"vlc.exe"}};
  modrik::DetectPlayer();
  EXPECT_EQ(modrik::PlayerPath, "D:\\nowhere\\vlc.exe");
}

TEST(DetectPlayer, InstallDirGetsThePlayerFileAppended) {
  fake::FakePlatform sys;
  AddPlayerKey(sys);
  sys.registryValues[kVlcKey + "InstallDir"] = "C:\\VLC\\";
  modrik::DetectPlayer();
  EXPECT_EQ(modrik::PlayerPath, "C:\\VLC\\\\vlc.exe");
}

TEST(DetectPlayer, FolderProbesInOrderKeepingTheStoredCase) {
  fake::FakePlatform sys;
  sys.searches["C:\\Program Files (x86)\\VideoLAN\\VLC\\vlc.exe"] = {{"VLC.EXE"}};
  sys.searches["C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"] = {{"vlc.exe"}};
  modrik::DetectPlayer();
  EXPECT_EQ(modrik::PlayerPath, "C:\\Program Files (x86)\\VideoLAN\\VLC\\VLC.EXE");
}

TEST(DetectPlayer, FolderProbeSkipsFoldersHiddenAndSystemEntries) {
  fake::FakePlatform sys;
  platform::FoundFile folder{"vlc.exe", true, false, false};
  platform::FoundFile hidden{"vlc.exe", false, true, false};
  platform::FoundFile system{"vlc.exe", false, false, true};
  platform::FoundFile dot{".", false, false, false};
  sys.searches["C:\\Program Files (x86)\\VideoLAN\\VLC\\vlc.exe"] = {folder, hidden, system, dot};
  modrik::DetectPlayer();
  EXPECT_EQ(modrik::PlayerPath, "");

  sys.searches["C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"] = {hidden, {"Vlc.exe"}};
  modrik::DetectPlayer();
  EXPECT_EQ(modrik::PlayerPath, "C:\\Program Files\\VideoLAN\\VLC\\Vlc.exe");
}

TEST(ReadRegistryString, MissingKeyOrValueGivesEmptyText) {
  fake::FakePlatform sys;
  EXPECT_EQ(modrik::ReadRegistryString(platform::kHkeyLocalMachine, "SOFTWARE\\VideoLAN\\VLC", ""), "");
  AddPlayerKey(sys);
  EXPECT_EQ(modrik::ReadRegistryString(platform::kHkeyLocalMachine, "SOFTWARE\\VideoLAN\\VLC", "x"), "");
  // Data with an inner zero byte reads up to it.
  sys.registryValues[kVlcKey + "x"] = std::string("ab\0cd", 5);
  EXPECT_EQ(modrik::ReadRegistryString(platform::kHkeyLocalMachine, "SOFTWARE\\VideoLAN\\VLC", "x"), "ab");
}
