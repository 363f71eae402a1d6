// The dosdevices listing parse, the drive map's loading and the
// translations between the Windows and the Unix view of a path.
#include <gtest/gtest.h>

#include "desktop/desktop.h"
#include "winebridge/winebridge.h"
#include "winebridge_fake_host.h"

namespace {

using fake::FakeHost;
using Entries = std::vector<std::string>;

const char kListingCommand[] = "ls -al ~/.wine/dosdevices";

const std::string kListing =
    "total 8\n"
    "drwxr-xr-x 2 guest guest 4096 Mar  3 10:15 .\n"
    "drwxr-xr-x 4 guest guest 4096 Mar  3 10:15 ..\n"
    "lrwxrwxrwx 1 guest guest   10 Mar  3 10:15 c: -> ../drive_c\n"
    "lrwxrwxrwx 1 guest guest   12 Mar  3 10:15 d: -> /media/cdrom\n"
    "lrwxrwxrwx 1 guest guest    8 Mar  3 10:15 d:: -> /dev/sr0\n"
    "lrwxrwxrwx 1 guest guest   10 Mar  3 10:15 com1 -> /dev/ttyS0\n"
    "lrwxrwxrwx 1 guest guest   13 Mar  3 10:15 e: -> /media/disc:1\n"
    "lrwxrwxrwx 1 guest guest   10 Mar  3 10:15 f: -> ../drive_d\n"
    "lrwxrwxrwx 1 guest guest    1 Mar  3 10:15 z: -> /\n"
    "lrwxrwxrwx 1 guest guest   15 2025-03-03 10:15 g: -> /mnt/Media Disk\n"
    "lrwxrwxrwx 1 guest guest    8 Mar  3 10:15 h:: -> /mnt/raw\n";

TEST(DriveListing, KeepsDriveLinksInListingOrderAndDropsTheRest) {
  EXPECT_EQ(modrik::ParseDriveListing(kListing),
            Entries({"d:/media/cdrom", "f:../drive_d", "g:/mnt/Media Disk", "h:/mnt/raw"}));
}

// The device links (d:: -> /dev/sr0) are kept apart from the drive map.
TEST(DriveListing, DeviceLinksAreKeptApart) {
  EXPECT_EQ(modrik::ParseDeviceLinks(kListing), Entries({"d:/dev/sr0", "h:/mnt/raw"}));
  EXPECT_EQ(modrik::ParseDeviceLinks("x 1 10:15 E:: -> ../sr1\nx 1 10:15 com1:: -> /dev/ttyS0\n"
                                     "x 1 10:15 f:: -> \nd:: -> /dev/sr0"),
            Entries({"E:../sr1", "d:/dev/sr0"}));
  FakeHost host;
  modrik::DeviceLinks = {"E:../sr1", "d:/dev/sr0"};
  EXPECT_EQ(modrik::DriveDeviceLink('d'), "/dev/sr0");
  EXPECT_EQ(modrik::DriveDeviceLink('e'), "/home/guest/.wine/dosdevices/../sr1");
  EXPECT_EQ(modrik::DriveDeviceLink('F'), "");
}

TEST(DriveListing, SingleLinesAndDegenerateListings) {
  EXPECT_EQ(modrik::ParseDriveListing("lrwxrwxrwx 1 guest guest 12 Mar  3 10:15 d: -> /media/cdrom"),
            Entries({"d:/media/cdrom"}));
  EXPECT_EQ(modrik::ParseDriveListing("lrwxrwxrwx 1 guest guest 10 Mar  3 10:15 d: -> ../drive_d\n"),
            Entries({"d:../drive_d"}));
  EXPECT_EQ(modrik::ParseDriveListing("d: -> /x\n"), Entries({"d:/x"}));  // no blank before it
  EXPECT_EQ(modrik::ParseDriveListing(""), Entries());
  EXPECT_EQ(modrik::ParseDriveListing("\n\n"), Entries());
  EXPECT_EQ(modrik::ParseDriveListing("total 0\nd:->/x\n"), Entries());
  EXPECT_EQ(modrik::ParseDriveListing("x 1 10:15 c: -> ../drive_c\nx 1 10:15 z: -> /\n"),
            Entries());
  // Upper-case names are not the c and z links, and are kept as listed.
  EXPECT_EQ(modrik::ParseDriveListing("x 1 10:15 D: -> /Media/CDROM\n"),
            Entries({"D:/Media/CDROM"}));
}

TEST(DriveMap, LoadsFromTheHostListingOnce) {
  FakeHost host;
  host.command = kListingCommand;
  host.output = kListing;

  EXPECT_EQ(modrik::WindowsToUnixPath("D:\\Music\\a.mp3"), "/media/cdrom/Music/a.mp3");
  EXPECT_EQ(modrik::DriveMap,
            Entries({"d:/media/cdrom", "f:../drive_d", "g:/mnt/Media Disk", "h:/mnt/raw"}));
  EXPECT_EQ(modrik::DriveDeviceLink('D'), "/dev/sr0");
  ASSERT_EQ(host.scriptsRun.size(), 1u);
  EXPECT_EQ(host.scriptsRun[0], "#!/bin/bash\nls -al ~/.wine/dosdevices > ~/dues.log\n");

  // A filled map is not listed again, also for drives c and z.
  EXPECT_EQ(modrik::WindowsToUnixPath("g:\\x"), "/mnt/Media Disk/x");
  EXPECT_EQ(modrik::WindowsToUnixPath("z:\\x"), "/x");
  EXPECT_EQ(host.scriptsRun.size(), 1u);
}

TEST(DriveMap, ListingWithoutEntriesIsTriedAgainOnEveryTranslation) {
  FakeHost host;
  host.command = kListingCommand;
  host.output = "lrwxrwxrwx 1 guest guest 10 Mar  3 10:15 c: -> ../drive_c\n";

  EXPECT_EQ(modrik::WindowsToUnixPath("z:\\usr"), "/usr");
  EXPECT_EQ(modrik::WindowsToUnixPath("c:\\x"), "/home/guest/.wine/drive_c/x");
  EXPECT_TRUE(modrik::DriveMap.empty());
  EXPECT_EQ(host.scriptsRun.size(), 2u);

  // Reloading replaces the map, it does not add to it.
  modrik::DriveMap = {"q:/old"};
  host.output = kListing;
  modrik::LoadDriveMap();
  EXPECT_EQ(modrik::DriveMap.front(), "d:/media/cdrom");
  EXPECT_EQ(modrik::DriveMap.size(), 4u);
}

TEST(DriveMap, SilentHostFallsBackToDosdevices) {
  FakeHost host;  // answers nothing: the capture times out
  EXPECT_EQ(modrik::WindowsToUnixPath("D:\\a.mkv"), "/home/guest/.wine/dosdevices/d:/a.mkv");
  EXPECT_TRUE(modrik::DriveMap.empty());
}

TEST(WindowsToUnixPath, TranslationTable) {
  FakeHost host;
  modrik::DriveMap = {"d:/media/cdrom"};
  struct Row {
    const char* windows;
    const char* unix;
  } rows[] = {
      {"Z:\\usr\\bin\\vlc", "/usr/bin/vlc"},
      {"z:\\", "/"},
      {"c:\\Apps\\x.exe", "/home/guest/.wine/drive_c/Apps/x.exe"},
      {"C:\\Apps\\X.EXE", "/home/guest/.wine/drive_c/Apps/X.EXE"},
      {"D:\\Music\\a.mp3", "/media/cdrom/Music/a.mp3"},
      {"E:\\x", "/home/guest/.wine/dosdevices/e:/x"},
      {"z:", "/home/guest/.wine/dosdevices/z:"},
      {"music\\a.mp3", "/home/guest/.wine/dosdevices/music/a.mp3"},
      {"", "/home/guest/.wine/dosdevices/"},
      // A quoted path keeps its quotes and goes through dosdevices.
      {"\"C:\\My Films\\a.mkv\"", "/home/guest/.wine/dosdevices/\"c:/My Films/a.mkv\""},
      // Only the drive letter before the first colon is lowered.
      {"E:\\A:B", "/home/guest/.wine/dosdevices/e:/A:B"},
      {"c:\\Vid\xC9o\\\xC9t\xE9.mkv", "/home/guest/.wine/drive_c/Vid\xC9o/\xC9t\xE9.mkv"},
  };
  for (const Row& row : rows) EXPECT_EQ(modrik::WindowsToUnixPath(row.windows), row.unix) << row.windows;
  EXPECT_TRUE(host.processes.empty());
}

TEST(WindowsToUnixPath, RelativeLinkTargetIsTakenFromDosdevices) {
  FakeHost host;
  modrik::DriveMap = {"d:../drive_d", "f:/media/f", "g:"};
  EXPECT_EQ(modrik::WindowsToUnixPath("D:\\Films\\a b.mkv"),
            "/home/guest/.wine/dosdevices/../drive_d/Films/a b.mkv");
  EXPECT_EQ(modrik::WindowsToUnixPath("d:\\"), "/home/guest/.wine/dosdevices/../drive_d/");
  EXPECT_EQ(modrik::WindowsToUnixPath("F:\\x"), "/media/f/x");
  // A link listed without a target is reached through the link itself.
  EXPECT_EQ(modrik::WindowsToUnixPath("G:\\x"), "/home/guest/.wine/dosdevices/g:/x");
}

TEST(WindowsToUnixPath, TargetsInAnyScriptAreKeptAndAQuestionMarkGoesThroughTheLink) {
  FakeHost host;
  host.command = kListingCommand;
  host.output =
      "lrwxrwxrwx 1 guest guest 20 Mar  3 10:15 k: -> /media/\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC\xD1\x8B\n"
      "lrwxrwxrwx 1 guest guest 20 Mar  3 10:15 l: -> /media/Vid\xC3\xA9os\n"
      "lrwxrwxrwx 1 guest guest 20 Mar  3 10:15 m: -> /media/??\n";
  EXPECT_EQ(modrik::WindowsToUnixPath("K:\\\xD0\x90.mkv"),
            "/media/\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC\xD1\x8B/\xD0\x90.mkv");
  EXPECT_EQ(modrik::WindowsToUnixPath("L:\\a.mkv"), "/media/Vid\xC3\xA9os/a.mkv");
  EXPECT_EQ(modrik::WindowsToUnixPath("M:\\a.mkv"), "/home/guest/.wine/dosdevices/m:/a.mkv");
  // A drive letter is ASCII: a character before the colon is never cut in two.
  EXPECT_EQ(modrik::WindowsToUnixPath("\xC3\x89:\\a"), "/home/guest/.wine/dosdevices/\xC3\x89:/a");
}

TEST(WindowsToUnixPath, FirstMatchingEntryWinsAndUserNameIsReadEachTime) {
  FakeHost host;
  modrik::DriveMap = {"d:/first", "d:/second"};
  EXPECT_EQ(modrik::WindowsToUnixPath("D:\\x"), "/first/x");
  host.environment["USERNAME"] = "other";
  EXPECT_EQ(modrik::WindowsToUnixPath("c:\\x"), "/home/other/.wine/drive_c/x");
  EXPECT_EQ(modrik::WindowsToUnixPath("e:\\x"), "/home/other/.wine/dosdevices/e:/x");
}

// The prefix and the home Wine runs with (as it gives them to every
// process): drive C, the listing of the drive links, the runner's files and
// command lines, the desktop folders. The usual places keep the usual
// commands, byte for byte.
TEST(WineLocations, PrefixAndHomeAreTheOnesWineRunsWith) {
  struct Row {
    std::string home, prefix, dataHome, chmod, capture, driveC, script, entry;
  } rows[] = {
      {"\\??\\Z:\\home\\guest", "\\??\\Z:\\home\\guest\\.wine", "",
       "/bin/chmod +x /home/guest/dues.sh", "ls -al ~/.wine/dosdevices > ~/dues.log",
       "/home/guest/.wine/drive_c/a", "z:\\home\\guest\\dues.sh",
       "z:\\home\\guest\\.local\\share\\applications\\wine-modrik.desktop"},
      {"", "", "", "/bin/chmod +x /home/guest/dues.sh", "ls -al ~/.wine/dosdevices > ~/dues.log",
       "/home/guest/.wine/drive_c/a", "z:\\home\\guest\\dues.sh",
       "z:\\home\\guest\\.local\\share\\applications\\wine-modrik.desktop"},
      {"\\??\\Z:\\home\\guest", "\\??\\Z:\\home\\guest\\Games\\It's on\\pfx", "",
       "/bin/chmod +x /home/guest/dues.sh",
       "ls -al '/home/guest/Games/It'\\''s on/pfx/dosdevices' > '/home/guest/dues.log'",
       "/home/guest/Games/It's on/pfx/drive_c/a", "z:\\home\\guest\\dues.sh",
       "z:\\home\\guest\\.local\\share\\applications\\wine-modrik.desktop"},
      {"\\??\\Z:\\root", "\\??\\Z:\\root\\.wine", "", "/bin/chmod +x /root/dues.sh",
       "ls -al '/root/.wine/dosdevices' > '/root/dues.log'", "/root/.wine/drive_c/a",
       "z:\\root\\dues.sh", "z:\\root\\.local\\share\\applications\\wine-modrik.desktop"},
      {"\\??\\Z:\\home\\jos\xC3\xA9 \"s\"", "\\??\\Z:\\home\\jos\xC3\xA9 \"s\"\\.wine", "/data/x y/",
       "/bin/chmod +x \"/home/jos\xC3\xA9 \\\"s\\\"/dues.sh\"",
       "ls -al '/home/jos\xC3\xA9 \"s\"/.wine/dosdevices' > '/home/jos\xC3\xA9 \"s\"/dues.log'",
       "/home/jos\xC3\xA9 \"s\"/.wine/drive_c/a", "z:\\home\\jos\xC3\xA9 \"s\"\\dues.sh",
       "z:\\data\\x y\\applications\\wine-modrik.desktop"},
      {"\\??\\unix\\home\\guest", "\\??\\unix\\home\\guest\\pfx", "relative/ignored",
       "/bin/chmod +x /home/guest/dues.sh",
       "ls -al '/home/guest/pfx/dosdevices' > '/home/guest/dues.log'", "/home/guest/pfx/drive_c/a",
       "\\\\?\\unix\\home\\guest\\dues.sh",
       "\\\\?\\unix\\home\\guest\\.local\\share\\applications\\wine-modrik.desktop"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.prefix);
    FakeHost host;
    if (!row.home.empty()) host.environment["WINEHOMEDIR"] = row.home;
    if (!row.prefix.empty()) host.environment["WINECONFIGDIR"] = row.prefix;
    if (!row.dataHome.empty()) host.environment["XDG_DATA_HOME"] = row.dataHome;
    host.AddFolder(row.script.substr(0, row.script.rfind('\\')));
    EXPECT_EQ(modrik::WindowsToUnixPath("C:\\a"), row.driveC);
    ASSERT_FALSE(host.processes.empty());
    EXPECT_EQ(host.processes[0].commandLine, "start /unix " + row.chmod);
    EXPECT_EQ(host.FileBytes(row.script), "#!/bin/bash\n" + row.capture + "\n");
    EXPECT_EQ(modrik::DesktopEntryPath("C:\\Apps\\modrik.exe"), row.entry);
  }
}

TEST(UnixToWindowsPath, PrefixesDriveZAndTurnsSlashes) {
  FakeHost host;
  EXPECT_EQ(modrik::UnixToWindowsPath("/usr/bin/vlc"), "z:\\usr\\bin\\vlc");
  EXPECT_EQ(modrik::UnixToWindowsPath("vlc"), "z:vlc");
  EXPECT_EQ(modrik::UnixToWindowsPath(""), "z:");
}

TEST(UnixPathExists, FilesAndFoldersExistWildcardsNever) {
  FakeHost host;
  host.AddFile("z:\\usr\\bin\\vlc", "player");
  EXPECT_EQ(modrik::UnixPathExists("/usr/bin/vlc"), -1);
  EXPECT_EQ(modrik::UnixPathExists("/usr/bin"), -1);
  EXPECT_EQ(modrik::UnixPathExists("/usr/bin/mpv"), 0);
  host.attributeQueries.clear();
  EXPECT_EQ(modrik::UnixPathExists("/usr/bin/vl?"), 0);
  EXPECT_EQ(modrik::UnixPathExists("/usr/bin/*"), 0);
  EXPECT_TRUE(host.attributeQueries.empty());
}

}  // namespace
