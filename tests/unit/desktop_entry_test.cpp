// The hidden desktop entry, the gio command of the file-manager icon and
// the registration flow that runs them on every start under Wine.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "desktop/desktop.h"
#include "desktop_test_support.h"
#include "winebridge_fake_host.h"

namespace {

using namespace desktop_test;

const std::string kExe = "C:\\Apps\\My Player.exe";
const std::string kUnixExe = "/home/guest/.wine/drive_c/Apps/My Player.exe";
const std::string kPng = kIcons + "myplayer.png";
const std::string kEntry = kApps + "wine-myplayer.desktop";

// The gio commands the host shell ran, in order.
std::vector<std::string> GioCommands(const fake::FakeHost& host) {
  std::vector<std::string> out;
  for (const std::string& script : host.scriptsRun) {
    const std::size_t at = script.find("set -C; /bin/gio ");
    if (at != std::string::npos) out.push_back(script.substr(at + 8, script.find(" >", at) - at - 8));
  }
  return out;
}

std::string IconCommand(const std::string& unixTarget) {
  return "/bin/gio set -t 'string' '" + unixTarget +
         "' 'metadata::custom-icon' 'file:///home/guest/.local/share/icons/myplayer.png'";
}

std::string EntryText(const std::string& name, const std::string& wmClass,
                      const std::string& icon) {
  return "[Desktop Entry]\r\nName=" + name + "\r\nStartupWMClass=" + wmClass +
         "\r\nNoDisplay=true\r\nType=Application\r\nTerminal=false\r\nStartupNotify=true\r\n"
         "Icon=" +
         icon + "\r\n";
}

class DesktopEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    PrepareWineDesktop(host);
    host.modulePath = kExe;
    host.AddFile(kPng, "PNG");
  }
  fake::FakeHost host;
};

TEST_F(DesktopEntry, EightCrLfLinesNamingTheExecutableAndIcon) {
  host.AddFile(kEntry, "an older, much longer entry that must not survive\r\n");
  EXPECT_EQ(modrik::WriteDesktopEntry(kExe), 1);
  EXPECT_EQ(host.FileBytes(kEntry), EntryText("My Player", "my player.exe", "myplayer"));
  // The executable before the entry is written, the entry after.
  EXPECT_EQ(GioCommands(host),
            (std::vector<std::string>{IconCommand(kUnixExe),
                                      IconCommand("/home/guest/.local/share/applications/"
                                                  "wine-myplayer.desktop")}));
}

TEST_F(DesktopEntry, FailedExportLeavesIconEmpty) {
  host.DeleteFileAt(kPng);  // and no module to extract from
  const std::string exe = "C:\\Tools\\Viewer.EXE";
  EXPECT_EQ(modrik::WriteDesktopEntry(exe), 1);
  EXPECT_EQ(host.FileBytes(kApps + "wine-viewer.desktop"), EntryText("Viewer", "viewer.exe", ""));
}

TEST_F(DesktopEntry, ValuesAreUtf8) {
  const std::string exe = "C:\\Apps\\Lecteur VID\xC3\x89O.exe";
  host.AddFile(kIcons + "lecteurvid\xC3\xA9o.png", "PNG");
  modrik::WriteDesktopEntry(exe);
  EXPECT_EQ(host.FileBytes(kApps + "wine-lecteurvid\xC3\xA9o.desktop"),
            EntryText("Lecteur VID\xC3\x89O", "lecteur vid\xC3\xA9o.exe", "lecteurvid\xC3\xA9o"));
}

TEST_F(DesktopEntry, LineBreaksAndLeadingBlanksAreEscaped) {
  // A line break must not end the value (or add a key), leading blanks must
  // not be dropped by the parser; blanks elsewhere stay as they are.
  EXPECT_EQ(modrik::DesktopEntryText("C:\\x\\ \tA\nB\rC d.exe", "z:\\i\\ \n.png"),
            EntryText("\\s\\tA\\nB\\rC d", "\\s\\ta\\nb\\rc d.exe", "\\s\\n"));
}

// A new home has no applications folder: it is made. One that cannot be
// made still leaves the icons set and 1.
TEST_F(DesktopEntry, MissingApplicationsFolderStillSetsIconsAndReturns1) {
  for (bool canMake : {true, false}) {
    host.files.erase(fake::FakePlatform::Key(kEntry));
    host.folders.erase(fake::FakePlatform::Key(kApps));
    if (!canMake) host.readOnlyFolders[fake::FakePlatform::Key("z:\\home\\guest\\.local\\share")] = true;
    EXPECT_EQ(modrik::WriteDesktopEntry(kExe), 1);
    EXPECT_EQ(host.HasFile(kEntry), canMake);
  }
  // (Each icon is set once in a process.)
  EXPECT_EQ(GioCommands(host).size(), 2u);
}

TEST(CustomIcon, CommandQuotesBothPaths) {
  fake::FakeHost host;
  modrik::SetCustomIcon("z:\\home\\guest\\My Apps\\Bob's Player.exe",
                        "z:\\home\\guest\\icon dir\\o'neil.png");
  const std::string command =
      "/bin/gio set -t 'string' '/home/guest/My Apps/Bob'\\''s Player.exe' "
      "'metadata::custom-icon' 'file:///home/guest/icon dir/o'\\''neil.png'";
  ASSERT_EQ(GioCommands(host), std::vector<std::string>{command});
  // What gio says goes into a new file of the private folder, and to the
  // trace once the start is over; never to the caller's standard error.
  const std::string unixSaid = "/home/guest/.cache/modrik/gio-0000000000005eed", said = modrik::WineUnixName(unixSaid);
  EXPECT_EQ(host.scriptsRun.back(), "#!/bin/bash\nset -C; " + command + " >'" + unixSaid + "' 2>&1; if [ -n \"$MODRIK_PARENT\" ]; "
            "then tail --pid=\"$MODRIK_PARENT\" -f /dev/null 2>/dev/null; rm -f '" + unixSaid + "'; else find "
            "'/home/guest/.cache/modrik' -maxdepth 1 -name 'gio-*' -type f -mmin +1440 -delete 2>/dev/null; fi\n");
  host.AddFile(said, "gio: file:///x: Setting attribute metadata::custom-icon not supported\n");
  modrik::TraceIconComplaints();
  EXPECT_EQ(host.traces.back(), "file-manager icon: gio: file:///x: Setting attribute metadata::custom-icon not supported");
  EXPECT_FALSE(host.HasFile(said));

  // The host's shell hands gio exactly the two paths.
  char path[] = "/tmp/modrik-gio-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "#!/bin/sh\n"
                      << "printf '[%s]\\n'" << command.substr(std::string("/bin/gio").size())
                      << "\n";
  FILE* shell = popen((std::string("/bin/sh ") + path).c_str(), "r");
  ASSERT_NE(shell, nullptr);
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, shell) != nullptr) output += buffer;
  pclose(shell);
  std::remove(path);
  EXPECT_EQ(output,
            "[set]\n[-t]\n[string]\n[/home/guest/My Apps/Bob's Player.exe]\n"
            "[metadata::custom-icon]\n[file:///home/guest/icon dir/o'neil.png]\n");
}

class Registration : public DesktopEntry {};

TEST_F(Registration, OutsideWineNothingHappens) {
  host.wineExport = false;
  modrik::RegisterAsLinuxApp();
  EXPECT_TRUE(host.processes.empty());
  EXPECT_TRUE(host.loadedModules.empty());
  EXPECT_FALSE(host.HasFile(kEntry));
}

TEST_F(Registration, FirstStartWritesTheEntryAndSetsEachIconOnce) {
  modrik::RegisterAsLinuxApp();
  EXPECT_EQ(host.FileBytes(kEntry), EntryText("My Player", "my player.exe", "myplayer"));
  // The executable's icon, set once, is not set again for the entry's sake.
  EXPECT_EQ(GioCommands(host),
            (std::vector<std::string>{IconCommand(kUnixExe), IconCommand("/home/guest/.local/share/applications/"
                                                                          "wine-myplayer.desktop")}));
}

TEST_F(Registration, LaterStartOnlySetsTheExecutablesIcon) {
  host.AddFile(kEntry, "kept");
  modrik::RegisterAsLinuxApp();
  EXPECT_EQ(host.FileBytes(kEntry), "kept");
  EXPECT_EQ(GioCommands(host), std::vector<std::string>{IconCommand(kUnixExe)});
}

}  // namespace
