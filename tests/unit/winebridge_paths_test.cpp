// The dosdevices listing parse, the drive map's loading and the
// translations between the Windows and the Unix view of a path.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "desktop/desktop.h"
#include "winebridge/winebridge.h"
#include "winebridge_fake_host.h"

namespace {

using fake::FakeHost;
using Entries = std::vector<std::string>;
using namespace std::string_literals;

const char kListingCommand[] = "find ~/.wine/dosdevices/ -maxdepth 1 -type l -printf '%f\\0%l\\0'";

// The host's listing: each link's name and target, each ended by a NUL.
const std::string kListing =
    "c:\0../drive_c\0"
    "d:\0/media/cdrom\0"
    "d::\0/dev/sr0\0"
    "com1\0/dev/ttyS0\0"
    "e:\0/media/disc:1\0"
    "f:\0../drive_d\0"
    "z:\0/\0"
    "g:\0/mnt/Media Disk\0"
    "h::\0/mnt/raw\0"s;

TEST(DriveListing, KeepsDriveLinksInListingOrderAndDropsTheRest) {
  EXPECT_EQ(modrik::ParseDriveListing(kListing),
            Entries({"d:/media/cdrom", "f:../drive_d", "g:/mnt/Media Disk", "h:/mnt/raw"}));
}

// A drive's device link (d:: -> /dev/sr0), from the last listing; a
// relative target is taken in the dosdevices folder.
TEST(DriveListing, DeviceLinkTargets) {
  FakeHost host;
  modrik::DriveLinks = modrik::DriveLinksOf("E::\0../sr1\0com1\0/dev/ttyS0\0f::\0\0d::\0/dev/sr0\0"s);
  EXPECT_EQ(modrik::DeviceLinkTarget('d'), "/dev/sr0");
  EXPECT_EQ(modrik::DeviceLinkTarget('e'), "/home/guest/.wine/dosdevices/../sr1");
  EXPECT_EQ(modrik::DeviceLinkTarget('F'), "");
  EXPECT_TRUE(host.processes.empty());
}

TEST(DriveListing, SingleLinesAndDegenerateListings) {
  EXPECT_EQ(modrik::ParseDriveListing("d:\0/media/cdrom\0"s), Entries({"d:/media/cdrom"}));
  EXPECT_EQ(modrik::ParseDriveListing("d:\0../drive_d\0"s), Entries({"d:../drive_d"}));
  EXPECT_EQ(modrik::ParseDriveListing(""), Entries());
  EXPECT_EQ(modrik::ParseDriveListing("\0\0\0\0"s), Entries());
  // A listing cut short: the link whose target is not all there is left out.
  EXPECT_EQ(modrik::ParseDriveListing("d:\0/media/cdrom\0e:\0/media/cd"s), Entries({"d:/media/cdrom"}));
  EXPECT_EQ(modrik::ParseDriveListing("c:\0../drive_c\0z:\0/\0"s), Entries());
  // Upper-case names are not the c and z links, and are kept as listed.
  EXPECT_EQ(modrik::ParseDriveListing("D:\0/Media/CDROM\0"s), Entries({"D:/Media/CDROM"}));
  // Every target arrives exactly as the host holds it, whatever it holds.
  EXPECT_EQ(modrik::ParseDriveListing("i:\0/mnt/a -> b\0j:\0/mnt/two\nlines\0k:\0/mnt/'q' \"dq\" \0"
                                      "l:\0/mnt/a::b\0m:\0 lead\0"s),
            Entries({"i:/mnt/a -> b", "j:/mnt/two\nlines", "k:/mnt/'q' \"dq\" ", "l:/mnt/a::b", "m: lead"}));
}

TEST(DriveMap, LoadsFromTheHostListingOnce) {
  FakeHost host;
  host.command = kListingCommand;
  host.output = kListing;

  EXPECT_EQ(modrik::WindowsToUnixPath("D:\\Music\\a.mp3"), "/media/cdrom/Music/a.mp3");
  EXPECT_EQ(modrik::DriveMap,
            Entries({"d:/media/cdrom", "f:../drive_d", "g:/mnt/Media Disk", "h:/mnt/raw"}));
  ASSERT_EQ(host.scriptsRun.size(), 1u);
  EXPECT_EQ(host.scriptsRun[0], "#!/bin/bash\n" + std::string(kListingCommand) + " > ~/dues.log\n");

  // A filled map is not listed again, also for drives c and z; the device
  // links of the same listing are kept.
  EXPECT_EQ(modrik::WindowsToUnixPath("g:\\x"), "/mnt/Media Disk/x");
  EXPECT_EQ(modrik::WindowsToUnixPath("z:\\x"), "/x");
  EXPECT_EQ(modrik::DeviceLinkTarget('D'), "/dev/sr0");
  EXPECT_EQ(modrik::DeviceLinkTarget('e'), "");
  EXPECT_EQ(host.scriptsRun.size(), 1u);
}

TEST(DriveMap, ListingWithoutEntriesIsNotRepeated) {
  FakeHost host;
  host.command = kListingCommand;
  host.output = "c:\0../drive_c\0"s;

  EXPECT_EQ(modrik::WindowsToUnixPath("z:\\usr"), "/usr");
  EXPECT_EQ(modrik::WindowsToUnixPath("c:\\x"), "/home/guest/.wine/drive_c/x");
  EXPECT_EQ(modrik::DeviceLinkTarget('d'), "");
  EXPECT_TRUE(modrik::DriveMap.empty());
  EXPECT_EQ(host.scriptsRun.size(), 1u);

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
  // What Windows and Wine answer (as measured under Wine 8 and 10): the
  // full path, and the host path Wine finds, each existing component in its
  // real name; Wine finds nothing past a folder that does not exist.
  host.fullPathNames = {
      {"C:\\users\\guest\\Music\\..\\Videos\\a.mkv", "C:\\users\\guest\\Videos\\a.mkv"},
      {"C:\\nope\\..\\media\\new.mkv", "C:\\media\\new.mkv"},
      {"C:\\MEDIA\\new.mkv. .", "C:\\MEDIA\\new.mkv"},
      {"C:media\\new.mkv", "C:\\media\\new.mkv"},
      {"C:\\MEDIA\\aux.mp3", "\\\\.\\aux"}};
  const std::string c = "/home/guest/.wine/dosdevices/c:/", unc = "/home/guest/.wine/dosdevices/unc/";
  host.unixFileNames = {
      {FakeHost::Key("C:\\users\\guest\\Videos\\a.mkv"), c + "users/guest/Videos/a.mkv"},
      {FakeHost::Key("C:\\media\\new.mkv"), c + "media/new.mkv"},
      {FakeHost::Key("C:\\media"), c + "media"},
      {FakeHost::Key("C:\\PROG~FBU\\MEDI~MFO\\CLIP~RIN.MKV"), c + "Program Files/Media/Clip File.mkv"},
      {FakeHost::Key("C:\\media\\Sub Dir\\NEW FILE.MKV"), c + "media/Sub Dir/NEW FILE.MKV"},
      {FakeHost::Key("\\\\.\\aux"), "/home/guest/.wine/dosdevices/com1"},
      {FakeHost::Key("\\\\nas\\films"), unc + "nas/films"},
      {FakeHost::Key("\\\\NAS\\FILMS\\A B.MKV"), unc + "nas/Films/a b.mkv"}};
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
      // Spellings Windows takes for the same file: letter case (also of a
      // shell-folder link), 8.3 names, ".." (after a link, after a folder
      // that does not exist), trailing dots and blanks, drive-relative,
      // long-path and device forms. A name that does not exist yet keeps its
      // spelling; one Windows takes for a DOS device is a file on the host.
      {"C:\\USERS\\GUEST\\VIDEOS\\A.MKV", "/home/guest/.wine/drive_c/users/guest/Videos/a.mkv"},
      {"C:\\PROG~FBU\\MEDI~MFO\\CLIP~RIN.MKV", "/home/guest/.wine/drive_c/Program Files/Media/Clip File.mkv"},
      {"C:\\users\\guest\\Music\\..\\Videos\\a.mkv", "/home/guest/.wine/drive_c/users/guest/Videos/a.mkv"},
      {"C:\\nope\\..\\media\\new.mkv", "/home/guest/.wine/drive_c/media/new.mkv"},
      {"C:\\MEDIA\\new.mkv. .", "/home/guest/.wine/drive_c/media/new.mkv"},
      {"C:media\\new.mkv", "/home/guest/.wine/drive_c/media/new.mkv"},
      {"\\\\?\\C:\\MEDIA\\NEW.MKV", "/home/guest/.wine/drive_c/media/new.mkv"},
      {"\\\\.\\c:\\Media\\New.mkv", "/home/guest/.wine/drive_c/media/new.mkv"},
      {"C:\\media\\Sub Dir\\NEW FILE.MKV", "/home/guest/.wine/drive_c/media/Sub Dir/NEW FILE.MKV"},
      {"C:\\MEDIA\\aux.mp3", "/home/guest/.wine/drive_c/media/aux.mp3"},
      // The caller's quotes stay (so through dosdevices), the names are real.
      {"\"C:\\USERS\\GUEST\\VIDEOS\\A.MKV\"", "/home/guest/.wine/dosdevices/\"c:/users/guest/Videos/a.mkv\""},
      {"\\\\?\\unix\\home\\guest\\x y.png", "/home/guest/x y.png"},  // Wine's name for a host path
      // Network paths: through dosdevices/unc where the share is, else SMB.
      {"\\\\NAS\\FILMS\\A B.MKV", "/home/guest/.wine/dosdevices/unc/nas/Films/a b.mkv"},
      {"\"\\\\?\\UNC\\server\\share\\\xC3\xA9t\xC3\xA9 #1%.mkv\"", "smb://server/share/%C3%A9t%C3%A9%20%231%25.mkv"},
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

TEST(WindowsToUnixPath, TargetsInAnyScriptAreKept) {
  FakeHost host;
  host.command = kListingCommand;
  host.output =
      "k:\0/media/\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC\xD1\x8B\0"
      "l:\0/media/Vid\xC3\xA9os\0"
      "m:\0/media/??\0"s;
  EXPECT_EQ(modrik::WindowsToUnixPath("K:\\\xD0\x90.mkv"),
            "/media/\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC\xD1\x8B/\xD0\x90.mkv");
  EXPECT_EQ(modrik::WindowsToUnixPath("L:\\a.mkv"), "/media/Vid\xC3\xA9os/a.mkv");
  EXPECT_EQ(modrik::WindowsToUnixPath("M:\\a.mkv"), "/media/?\?/a.mkv");
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
// process, through whichever drive maps them): drive C, the listing of the
// drive links, the runner's files and command lines, the desktop folders.
// The usual places keep the usual commands, byte for byte.
TEST(WineLocations, PrefixAndHomeAreTheOnesWineRunsWith) {
  const std::string listing = " -maxdepth 1 -type l -printf '%f\\0%l\\0'";
  const std::string pfx3 = "/home/guest/Games/pfx3/dosdevices/h:";
  struct Row {
    std::string home, prefix, dataHome, hostScript, capture, driveC, script, entry;
    std::string winePrefix;                    // WINEPREFIX, when the user set it
    std::map<std::string, std::string> wine;   // where Wine finds an NT path
  } rows[] = {
      {"\\??\\Z:\\home\\guest", "\\??\\Z:\\home\\guest\\.wine", "",
       "/home/guest/dues.sh", "find ~/.wine/dosdevices/" + listing + " > ~/dues.log",
       "/home/guest/.wine/drive_c/a", "z:\\home\\guest\\dues.sh",
       "z:\\home\\guest\\.local\\share\\applications\\wine-modrik.desktop", "", {}},
      {"", "", "", "/home/guest/dues.sh", "find ~/.wine/dosdevices/" + listing + " > ~/dues.log",
       "/home/guest/.wine/drive_c/a", "z:\\home\\guest\\dues.sh",
       "z:\\home\\guest\\.local\\share\\applications\\wine-modrik.desktop", "", {}},
      {"\\??\\Z:\\home\\guest", "\\??\\Z:\\home\\guest\\Games\\It's on\\pfx", "",
       "/home/guest/dues.sh",
       "find '/home/guest/Games/It'\\''s on/pfx/dosdevices/'" + listing + " > '/home/guest/dues.log'",
       "/home/guest/Games/It's on/pfx/drive_c/a", "z:\\home\\guest\\dues.sh",
       "z:\\home\\guest\\.local\\share\\applications\\wine-modrik.desktop", "", {}},
      {"\\??\\Z:\\root", "\\??\\Z:\\root\\.wine", "", "/root/dues.sh",
       "find '/root/.wine/dosdevices/'" + listing + " > '/root/dues.log'", "/root/.wine/drive_c/a",
       "z:\\root\\dues.sh", "z:\\root\\.local\\share\\applications\\wine-modrik.desktop", "", {}},
      {"\\??\\Z:\\home\\jos\xC3\xA9 \"s\"", "\\??\\Z:\\home\\jos\xC3\xA9 \"s\"\\.wine", "/data/x y/",
       "/home/jos\xC3\xA9 \"s\"/dues.sh",
       "find '/home/jos\xC3\xA9 \"s\"/.wine/dosdevices/'" + listing + " > '/home/jos\xC3\xA9 \"s\"/dues.log'",
       "/home/jos\xC3\xA9 \"s\"/.wine/drive_c/a", "z:\\home\\jos\xC3\xA9 \"s\"\\dues.sh",
       "z:\\data\\x y\\applications\\wine-modrik.desktop", "", {}},
      {"\\??\\unix\\home\\guest", "\\??\\unix\\home\\guest\\pfx", "relative/ignored",
       "/home/guest/dues.sh",
       "find '/home/guest/pfx/dosdevices/'" + listing + " > '/home/guest/dues.log'", "/home/guest/pfx/drive_c/a",
       "\\\\?\\unix\\home\\guest\\dues.sh",
       "\\\\?\\unix\\home\\guest\\.local\\share\\applications\\wine-modrik.desktop", "", {}},
      // A second prefix with h: mapping the home: the prefix is WINEPREFIX,
      // the home H:\ (where Wine finds it on the host).
      {"\\??\\H:\\", "\\??\\H:\\Games\\pfx3", "", pfx3 + "/dues.sh",
       "find '/home/guest/Games/pfx3/dosdevices/'" + listing + " > '" + pfx3 + "/dues.log'",
       "/home/guest/Games/pfx3/drive_c/a", "H:\\dues.sh",
       "H:\\.local\\share\\applications\\wine-modrik.desktop", "/home/guest/Games/pfx3/",
       {{"\\??\\h:", pfx3 + "/"}}},
      // ... and XDG_DATA_HOME set: reached without drive Z, which it may lack.
      {"\\??\\H:\\", "\\??\\H:\\Games\\pfx3", "/data/x", pfx3 + "/dues.sh",
       "find '/home/guest/Games/pfx3/dosdevices/'" + listing + " > '" + pfx3 + "/dues.log'",
       "/home/guest/Games/pfx3/drive_c/a", "H:\\dues.sh", "\\\\?\\unix\\data\\x\\applications\\wine-modrik.desktop",
       "/home/guest/Games/pfx3/", {{"\\??\\h:", pfx3 + "/"}}},
      // Where Wine finds nothing, the usual places (and the trace says so).
      {"\\??\\H:\\", "\\??\\H:\\.wine", "", "/home/guest/dues.sh",
       "find ~/.wine/dosdevices/" + listing + " > ~/dues.log", "/home/guest/.wine/drive_c/a",
       "z:\\home\\guest\\dues.sh", "z:\\home\\guest\\.local\\share\\applications\\wine-modrik.desktop", "", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.prefix);
    FakeHost host;
    if (!row.home.empty()) host.environment["WINEHOMEDIR"] = row.home;
    if (!row.prefix.empty()) host.environment["WINECONFIGDIR"] = row.prefix;
    if (!row.dataHome.empty()) host.environment["XDG_DATA_HOME"] = row.dataHome;
    if (!row.winePrefix.empty()) host.environment["WINEPREFIX"] = row.winePrefix;
    host.unixFileNames = row.wine;
    host.AddFolder(row.script.substr(0, row.script.rfind('\\')));
    EXPECT_EQ(modrik::WindowsToUnixPath("C:\\a"), row.driveC);
    ASSERT_FALSE(host.processes.empty());
    ASSERT_EQ(host.processes[0].argv.size(), 8u);
    EXPECT_EQ(host.processes[0].argv[4], row.hostScript);
    EXPECT_EQ(host.FileBytes(row.script), "#!/bin/bash\n" + row.capture + "\n");
    EXPECT_EQ(modrik::DesktopEntryPath("C:\\Apps\\modrik.exe"), row.entry);
    EXPECT_EQ(std::count(host.traces.begin(), host.traces.end(),
                         "WINEHOMEDIR \"\\??\\H:\\\" names no host folder: taking /home/guest") > 0,
              row.home == "\\??\\H:\\" && row.wine.empty());
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
  host.AddFile("\\\\?\\unix\\usr\\bin\\vlc", "player");
  EXPECT_EQ(modrik::UnixPathExists("/usr/bin/vlc"), -1);
  EXPECT_EQ(modrik::UnixPathExists("/usr/bin"), -1);
  EXPECT_EQ(modrik::UnixPathExists("/usr/bin/mpv"), 0);
  host.attributeQueries.clear();
  EXPECT_EQ(modrik::UnixPathExists("/usr/bin/vl?"), 0);
  EXPECT_EQ(modrik::UnixPathExists("/usr/bin/*"), 0);
  EXPECT_TRUE(host.attributeQueries.empty());
}

// The private folder: $XDG_RUNTIME_DIR/modrik, else ~/.cache/modrik, each
// only as the host shows it: the user's own folder, no link, no access for
// others (~/.cache: no writing). The host tells the user's id, then of the
// runtime folder, its modrik, ~/.cache and its modrik.
TEST(ChoosePrivateFolder, OnlyAPlaceOfTheUsersOwnIsUsed) {
  const std::string run = "/run/user/1000", cache = "/home/guest/.cache", ok = "1000 700 directory\n";
  const std::string no = "missing\n", inCache = cache + "/modrik", inRun = run + "/modrik";
  const std::string other = " belongs to user 1001, not 1000", open = ": others may use it";
  const struct {
    std::string runtime, facts, chosen, refused;  // refused: the place and why
  } rows[] = {
      {run, ok + ok + ok + ok, inRun, ""},
      {"", no + no + ok + ok, inCache, ""},
      {"run/user", no + no + ok + ok, inCache, "runtime folder run/user is no absolute path"},
      {run, no + no + ok + ok, inCache, "runtime folder " + run + " is missing"},
      {run, "1000 777 symbolic link\n" + no + ok + ok, inCache, "runtime folder " + run + " is a link"},
      {run, "1001 700 directory\n" + no + ok + ok, inCache, "runtime folder " + run + other},
      {run, "1000 1777 directory\n1001 777 directory\n" + ok + ok, inCache,
       "runtime folder " + run + " has mode 1777" + open},
      {run, ok + "1000 777 symbolic link\n" + ok + ok, inCache, "runtime folder " + inRun + " is a link"},
      {run, ok + "1001 700 directory\n" + ok + ok, inCache, "runtime folder " + inRun + other},
      {run, ok + "1000 701 directory\n" + ok + ok, inCache, "runtime folder " + inRun + " has mode 0701" + open},
      {"", no + no + "1000 755 directory\n" + ok, inCache, ""},
      {"", no + no + "1000 775 directory\n" + ok, "", "cache folder " + cache + " has mode 0775" + open},
      {"", no + no + ok + "1000 600 fifo\n", "", "cache folder " + inCache + " is no folder (fifo)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.facts);
    std::vector<std::string> refusals;
    EXPECT_EQ(modrik::ChoosePrivateFolder(row.runtime, cache, "1000\n" + row.facts, &refusals), row.chosen);
    EXPECT_EQ(refusals.empty() ? "" : refusals[0], row.refused.empty() ? "" : "the " + row.refused + ": not used");
  }
  // No answer from the host, or not the user's id first: no folder.
  for (const std::string& facts : {std::string(), "x\n" + ok + ok + ok + ok}) {
    std::vector<std::string> refusals;
    EXPECT_EQ(modrik::ChoosePrivateFolder(run, cache, facts, &refusals), "");
    EXPECT_EQ(refusals, std::vector<std::string>{"the host did not tell what stands in " + run + " and " + cache});
  }
  // A folder in it (a playlist's copies), made and told of by the host right before use.
  for (const auto& [facts, fault] : {std::pair<std::string, std::string>{ok, ""}, {"1000 777 symbolic link\n", "is a link"},
                                     {"1000 755 directory\n", "has mode 0755" + open}, {"", "is not told of by the host"}})
    EXPECT_EQ(modrik::OwnFolderFault(inRun + "/list-1", facts.empty() ? "" : "1000\n" + facts), fault);
}

}  // namespace

// What an earlier start kept: read back whole, or not at all.
TEST(HostState, TextIsReadBackWholeOrNotAtAll) {
  modrik::HostState state;
  state.folder = "/run/user/1000/modrik";
  state.prefix = "/home/guest/.wine";
  state.dosdevicesTime = 133500000000000000ull;
  state.links = modrik::DriveLinksOf(kListing);
  state.icons = {"/bin/gio set -t 'string' '/a b/x.exe' 'metadata::custom-icon' 'file:///i\n.png'"};
  const std::string text = modrik::HostStateText(state);
  modrik::HostState back;
  ASSERT_TRUE(modrik::ParseHostState(text, &back));
  EXPECT_EQ(modrik::HostStateText(back), text);
  EXPECT_EQ(back.links.size(), 9u);
  EXPECT_EQ(back.dosdevicesTime, state.dosdevicesTime);
  const std::string magic = "modrik host state 1\0"s;
  for (const std::string& bad : {
           text.substr(0, text.size() - 1),                            // cut short
           text + "x\0"s,                                              // more than it says
           "modrik host state 2" + text.substr(magic.size() - 1),      // another kind
           magic + "/f\0/p\0" + "12a\0" + "0\0" + "0\0",               // a time that is no number
           magic + "/f\0/p\0" + "1\0" + "4097\0",                      // too many links
           magic + "/f\0/p\0" + "1\0" + "1\0" + "d:\0" + "/m\0" + "65\0",  // too many icons
           ""s}) {
    EXPECT_FALSE(modrik::ParseHostState(bad, &back)) << bad;
  }
}

// A later start takes the kept drive links while the dosdevices folder has
// the change time they were listed at, with no host program; another time,
// or a state that names another folder or prefix, has them listed again.
TEST(HostState, KeptLinksServeWhileTheFolderIsUnchanged) {
  const std::string cacheFolder = "/home/guest/.cache/modrik";
  const std::string dosdevices = "\\\\?\\unix\\home\\guest\\.wine\\dosdevices";
  struct Row {
    std::uint64_t now;
    const char* folder;
    const char* prefix;
    bool kept;
  } rows[] = {{7, "/home/guest/.cache/modrik", "/home/guest/.wine", true},
              {8, "/home/guest/.cache/modrik", "/home/guest/.wine", false},
              {7, "/home/guest/elsewhere", "/home/guest/.wine", false},
              {7, "/home/guest/.cache/modrik", "/home/guest/other", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.now);
    fake::ResetProgramState();
    FakeHost host;
    host.command = kListingCommand;
    host.output = "c:\0../drive_c\0d:\0/media/fresh\0"s;
    host.AddFolder("\\\\?\\unix\\home\\guest\\.cache\\modrik");
    platform::FoundFile entry;
    entry.name = "dosdevices";
    entry.directory = true;
    entry.writeTime = row.now;
    host.searches[dosdevices] = {entry};
    modrik::HostState state;
    state.folder = row.folder;
    state.prefix = row.prefix;
    state.dosdevicesTime = 7;
    state.links = {{"d:", "/media/kept"}};
    host.AddFile(modrik::WineUnixName(cacheFolder + "/" + modrik::HostStateFileName()), modrik::HostStateText(state));
    EXPECT_EQ(modrik::WindowsToUnixPath("d:\\a.mkv"), row.kept ? "/media/kept/a.mkv" : "/media/fresh/a.mkv");
    EXPECT_EQ(host.scriptsRun.size(), row.kept ? 0u : 1u);
    EXPECT_EQ(modrik::PrivateFolderUnverified, row.kept || row.now == 8);
  }
}

// A long batch (a playlist's entries) takes the real names from one listing
// per folder, as Wine would find them one by one: the name itself when it
// is there, else the one that differs in case only; names that are not
// there keep their spelling, also below a folder that is not there; a
// short 8.3 name, or a path that is not plain, is asked of Wine singly.
TEST(DriveMap, LongBatchTakesRealNamesFromOneListingPerFolder) {
  FakeHost host;
  host.command = kListingCommand;
  host.output = kListing;
  host.AddFolder("C:\\");
  auto entry = [](const char* name, bool folder) {
    platform::FoundFile found;
    found.name = name;
    found.directory = folder;
    return found;
  };
  host.searches["C:\\*"] = {entry(".", true), entry("Media", true), entry("Other", true)};
  host.searches["C:\\Media\\*"] = {entry("Clip.MKV", false), entry("a.mkv", false), entry("A.mkv", false),
                                   entry("Sub", true)};
  host.searches["C:\\Media\\Sub\\*"] = {entry("Deep.ogg", false)};
  host.unixFileNames[fake::FakePlatform::Key("C:\\Media\\PROGRA~1.MKV")] = "/home/guest/.wine/drive_c/Media/Program 1.mkv";
  host.fullPathNames["C:\\Media\\.\\b.mkv"] = "C:\\Media\\b.mkv";
  const std::string c = "/home/guest/.wine/drive_c/";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"C:\\media\\clip.mkv", c + "Media/Clip.MKV"},
      {"C:\\Media\\A.mkv", c + "Media/A.mkv"},
      {"c:\\MEDIA\\sub\\deep.OGG", c + "Media/Sub/Deep.ogg"},
      {"C:\\MEDIA\\missing.mkv", c + "Media/missing.mkv"},
      {"C:\\nothere\\x y\\z.mkv", c + "nothere/x y/z.mkv"},
      {"C:\\Media\\PROGRA~1.MKV", c + "Media/Program 1.mkv"},
      {"C:\\Media\\.\\b.mkv", c + "Media/b.mkv"},
      {"D:\\film.mkv", "/media/cdrom/film.mkv"},
  };
  std::vector<std::string> batch;
  for (const auto& row : rows) batch.push_back(row.first);
  for (int i = 0; i < 300; ++i) batch.push_back("C:\\gone\\folder " + std::to_string(i) + "\\clip.mkv");
  const std::vector<std::string> got = modrik::WindowsToUnixPaths(batch);
  ASSERT_EQ(got.size(), batch.size());
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(got[i], rows[i].second) << rows[i].first;
  EXPECT_EQ(got.back(), c + "gone/folder 299/clip.mkv");
  // A short batch gives the same answers, each path asked of Wine.
  host.unixFileNames[fake::FakePlatform::Key("C:\\media\\clip.mkv")] = "/home/guest/.wine/drive_c/Media/Clip.MKV";
  EXPECT_EQ(modrik::WindowsToUnixPaths({"C:\\media\\clip.mkv"}), (Entries{c + "Media/Clip.MKV"}));
}
