#include <gtest/gtest.h>

#include <climits>

#include "fake_platform.h"
#include "app/app.h"
#include "common/common.h"
#include "launcher/launcher.h"

using modrik::IniTextToNumber;

TEST(SettingsTemplate, ExactBytes) {
  EXPECT_EQ(modrik::SettingsTemplateText(""),
            "[modrik]\r\n"
            "# Replace the following with any 'vlc.exe' filepath you want to use:\r\n"
            "# If you are running under Unix/Wine, Unix paths also work e.g. /usr/bin/vlc\r\n"
            "vlcpath=\r\n");
  // The value goes in unchanged, a trailing line feed included.
  std::string text = modrik::SettingsTemplateText("/usr/bin/vlc\n");
  EXPECT_EQ(text.substr(text.size() - 23), "vlcpath=/usr/bin/vlc\n\r\n");
}

TEST(SettingsTemplate, WrittenAtSettingsPathAndReadBack) {
  fake::FakePlatform sys;
  sys.AddFolder("C:\\Apps");
  modrik::SettingsPath = "C:\\Apps\\modrik.ini";
  modrik::PlayerPath = "C:\\VLC\\vlc.exe";
  modrik::WriteSettingsTemplate();
  EXPECT_EQ(sys.FileBytes("C:\\Apps\\modrik.ini"), modrik::SettingsTemplateText("C:\\VLC\\vlc.exe"));
  modrik::PlayerPath = "something else";
  modrik::ReadPlayerPath();
  EXPECT_EQ(modrik::PlayerPath, "C:\\VLC\\vlc.exe");
}

TEST(SettingsTemplate, ReplacesAnExistingFile) {
  fake::FakePlatform sys;
  sys.AddFile("C:\\Apps\\modrik.ini", std::string(5000, 'x'));
  modrik::SettingsPath = "C:\\Apps\\modrik.ini";
  modrik::WriteSettingsTemplate();
  EXPECT_EQ(sys.FileBytes("C:\\Apps\\modrik.ini"), modrik::SettingsTemplateText(""));
}

TEST(IniReaders, BareFileNamesAreTakenFromTheExecutableFolder) {
  fake::FakePlatform sys;
  sys.modulePath = "C:\\Apps\\Tools\\modrik.exe";
  sys.AddFile("C:\\Apps\\Tools\\other.ini", "[s]\r\nk=bare\r\n");
  sys.AddFile("C:\\x\\other.ini", "[s]\r\nk=full\r\n");
  sys.AddFile("C:\\Apps\\Tools\\sub/other.ini", "[s]\r\nk=slash\r\n");
  EXPECT_EQ(modrik::GetIniString("other.ini", "s", "k"), "bare");
  EXPECT_EQ(modrik::GetIniString("C:\\x\\other.ini", "s", "k"), "full");
  // A forward slash is no folder separator for this rule.
  EXPECT_EQ(modrik::GetIniString("sub/other.ini", "s", "k"), "slash");
  EXPECT_EQ(sys.profileReads.back(), "C:\\Apps\\Tools\\sub/other.ini");
  EXPECT_EQ(modrik::GetIniString("missing.ini", "s", "k"), "");
  EXPECT_EQ(modrik::GetIniString("other.ini", "s", "nokey"), "");
  EXPECT_EQ(modrik::GetIniString("other.ini", "nosection", "k"), "");
}

TEST(IniReaders, LongValuesAreCutTo65024Characters) {
  fake::FakePlatform sys;
  sys.AddFile("C:\\Apps\\modrik.ini", "[modrik]\r\nvlcpath=" + std::string(70000, 'v') + "\r\n");
  EXPECT_EQ(modrik::GetIniString("modrik.ini", "modrik", "vlcpath").size(), 65024u);
}

TEST(IniReaders, NumbersOfStoredValues) {
  fake::FakePlatform sys;
  sys.AddFile("C:\\Apps\\n.ini",
              "[n]\r\na=12\r\nb=&H1F\r\nc=&B101\r\nd=2.5\r\ne=3.5\r\nf=12abc\r\ng=abc\r\n");
  EXPECT_EQ(modrik::GetIniNumber("n.ini", "n", "a"), 12);
  EXPECT_EQ(modrik::GetIniNumber("n.ini", "n", "b"), 31);
  EXPECT_EQ(modrik::GetIniNumber("n.ini", "n", "c"), 5);
  EXPECT_EQ(modrik::GetIniNumber("n.ini", "n", "d"), 2);
  EXPECT_EQ(modrik::GetIniNumber("n.ini", "n", "e"), 4);
  EXPECT_EQ(modrik::GetIniNumber("n.ini", "n", "f"), 12);
  EXPECT_EQ(modrik::GetIniNumber("n.ini", "n", "g"), 0);
  EXPECT_EQ(modrik::GetIniNumber("n.ini", "n", "missing"), 0);
  EXPECT_EQ(modrik::GetIniNumber("nofile.ini", "n", "a"), 0);
}

TEST(IniTextToNumber, DecimalForms) {
  EXPECT_EQ(IniTextToNumber("+7"), 7);
  EXPECT_EQ(IniTextToNumber("-7"), -7);
  EXPECT_EQ(IniTextToNumber(" \t\n 42"), 42);
  EXPECT_EQ(IniTextToNumber("\r42"), 0);  // only space, tab and line feed are skipped
  EXPECT_EQ(IniTextToNumber("1 2"), 1);
  EXPECT_EQ(IniTextToNumber(".5"), 0);
  EXPECT_EQ(IniTextToNumber("1.5"), 2);
  EXPECT_EQ(IniTextToNumber("-2.5"), -2);
  EXPECT_EQ(IniTextToNumber("-3.5"), -4);
  EXPECT_EQ(IniTextToNumber("2.5001"), 3);
  EXPECT_EQ(IniTextToNumber("1E3"), 1000);
  EXPECT_EQ(IniTextToNumber("1e3"), 1000);
  EXPECT_EQ(IniTextToNumber("15D-1"), 2);   // 1.5
  EXPECT_EQ(IniTextToNumber("25d-1"), 2);   // 2.5, half to even
  EXPECT_EQ(IniTextToNumber("2E+2x"), 200);
  EXPECT_EQ(IniTextToNumber("3E"), 3);      // an exponent sign without digits is not read
  EXPECT_EQ(IniTextToNumber("-"), 0);
  EXPECT_EQ(IniTextToNumber("."), 0);
  EXPECT_EQ(IniTextToNumber(""), 0);
}

TEST(IniTextToNumber, OtherBases) {
  EXPECT_EQ(IniTextToNumber("&h1f"), 31);
  EXPECT_EQ(IniTextToNumber("&HFFg"), 255);
  EXPECT_EQ(IniTextToNumber("&B1012"), 5);
  EXPECT_EQ(IniTextToNumber("&O17"), 15);
  EXPECT_EQ(IniTextToNumber("&Q17"), 15);
  EXPECT_EQ(IniTextToNumber("&17"), 15);   // "&" followed by a digit: octal
  EXPECT_EQ(IniTextToNumber("&18"), 1);    // 8 is no octal digit
  EXPECT_EQ(IniTextToNumber("&X1"), 0);
  EXPECT_EQ(IniTextToNumber("&"), 0);
  EXPECT_EQ(IniTextToNumber("&H"), 0);
}

TEST(IniTextToNumber, OutOfRangeGivesTheSmallestInteger) {
  EXPECT_EQ(IniTextToNumber("2147483647"), INT32_MAX);
  EXPECT_EQ(IniTextToNumber("-2147483648"), INT32_MIN);
  EXPECT_EQ(IniTextToNumber("2147483648"), INT32_MIN);
  EXPECT_EQ(IniTextToNumber("-2147483649"), INT32_MIN);
  EXPECT_EQ(IniTextToNumber("2147483647.4"), INT32_MAX);
  EXPECT_EQ(IniTextToNumber("1E400"), INT32_MIN);
  EXPECT_EQ(IniTextToNumber("&H80000000"), INT32_MIN);
  EXPECT_EQ(IniTextToNumber("&H7FFFFFFF"), INT32_MAX);
  EXPECT_EQ(IniTextToNumber(std::string(100000, '9')), INT32_MIN);
}

TEST(DeleteRegistryKey, UsesAtMost254CharactersOfTheSubkey) {
  fake::FakePlatform sys;
  std::string longKey(300, 'k');
  sys.registryKeys[std::to_string(platform::kHkeyCurrentUser) + "|" + longKey.substr(0, 254) + "|"] =
      true;
  EXPECT_EQ(modrik::DeleteRegistryKey(platform::kHkeyCurrentUser, longKey), 0);
  EXPECT_TRUE(sys.registryKeys.empty());
  EXPECT_EQ(modrik::DeleteRegistryKey(platform::kHkeyCurrentUser, "Software\\missing"), 0);
}
