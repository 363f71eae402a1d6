// Icon export: the name form, the .ico file assembled from an icon group,
// the largest width, the choice of group, the export's reuse of existing
// files and the reconciliation of numbered PNG files.
#include <gtest/gtest.h>

#include "desktop/desktop.h"
#include "desktop_test_support.h"
#include "fake_platform.h"

namespace {

using namespace desktop_test;

const std::string kExe = "C:\\Apps\\My Player.exe";
const std::string kIco = kIcons + "myplayer.ico";
const std::string kPng = kIcons + "myplayer.png";

TEST(DesktopName, FileNameWithoutExtensionSpacesOrCase) {
  fake::FakePlatform sys;
  EXPECT_EQ(modrik::DesktopName("C:\\Apps\\My Player.exe"), "myplayer");
  EXPECT_EQ(modrik::DesktopName("C:\\a.b\\prog"), "prog");  // a dot in a folder does not count
  EXPECT_EQ(modrik::DesktopName("archive.tar.gz"), "archive.tar");
  EXPECT_EQ(modrik::DesktopName("C:\\Apps\\"), "");
  EXPECT_EQ(modrik::DesktopName(".hidden"), "");
  EXPECT_EQ(modrik::DesktopName("d:Tab\tKept.EXE"), "tab\tkept");  // only blanks go
  EXPECT_EQ(modrik::DesktopName("C:\\x\\\xC3\x89T\xC3\x89 Vid\xC3\x89O.exe"), "\xC3\xA9t\xC3\xA9vid\xC3\xA9o");
}

// A module whose icon resources are given byte by byte.
struct IconModule {
  fake::FakePlatform& sys;
  fake::FakeModule& module;
  IconModule(fake::FakePlatform& s, const std::string& path) : sys(s), module(s.modules[path]) {}
  void Group(const std::string& name, const std::string& directory) {
    module.groupNames.push_back(name);
    module.groups[name] = directory;
  }
};

TEST(IconFile, AssembledFromTheGroupDirectoryAndImageSizes) {
  fake::FakePlatform sys;
  sys.AddFolder(kIcons);
  IconModule m(sys, kExe);
  // bytesInResource values are copied as the group says, even when they
  // differ from the image size; the offsets follow the real sizes.
  m.Group("AICO", GroupDirectory({{16, 16, 0, 1, 32, 1000, 7},
                                  {32, 32, 16, 1, 4, 5, 8},
                                  {0, 0, 0, 1, 32, 11, 9}},
                                 /*type=*/2));
  m.module.icons[7] = "AAAAA";
  m.module.icons[8] = "BBBBBBB";
  m.module.icons[9] = "CCCCCCCCCCC";

  ASSERT_EQ(modrik::ExtractIconFile(kExe, 1, kIco), 1);
  const std::string expected =
      std::string("\0\0\1\0\3\0", 6) +
      std::string("\x10\x10\0\0\1\0\x20\0\xE8\x03\0\0\x36\0\0\0", 16) +  // offset 54
      std::string("\x20\x20\x10\0\1\0\x04\0\x05\0\0\0\x3B\0\0\0", 16) +  // 54 + 5
      std::string("\0\0\0\0\1\0\x20\0\x0B\0\0\0\x42\0\0\0", 16) +        // 59 + 7
      "AAAAA" + "BBBBBBB" + "CCCCCCCCCCC";
  EXPECT_EQ(sys.FileBytes(kIco), expected);
  EXPECT_EQ(modrik::LargestWidth, 32);
}

TEST(IconFile, UnreadableImagesAreLeftOut) {
  fake::FakePlatform sys;
  sys.AddFolder(kIcons);
  IconModule m(sys, kExe);
  m.Group("AICO", GroupDirectory({{16, 16, 0, 1, 32, 3, 1}, {255, 255, 0, 1, 32, 3, 2},
                                  {48, 48, 0, 1, 32, 4, 3}}));
  m.module.icons[1] = "one";
  m.module.icons[3] = "three";  // identifier 2 is missing
  ASSERT_EQ(modrik::ExtractIconFile(kExe, 1, kIco), 1);
  const std::string ico = sys.FileBytes(kIco);
  EXPECT_EQ(ico.substr(0, 6), std::string("\0\0\1\0\2\0", 6));
  EXPECT_EQ(ico.substr(18, 4), std::string("\x26\0\0\0", 4));  // 6 + 2 * 16
  EXPECT_EQ(ico.substr(34, 4), std::string("\x29\0\0\0", 4));  // 38 + 3
  EXPECT_EQ(ico.substr(38), "onethree");
  EXPECT_EQ(modrik::LargestWidth, 48);  // the missing 255 does not count
}

TEST(IconFile, NoImageOrBrokenGroupWritesNothing) {
  fake::FakePlatform sys;
  sys.AddFolder(kIcons);
  IconModule m(sys, kExe);
  m.Group("EMPTY", GroupDirectory({{16, 16, 0, 1, 32, 3, 40}}));      // no such image
  m.Group("#5", std::string("\0\0\1\0", 4));                          // shorter than a header
  m.Group("#6", GroupDirectory({{16, 16, 0, 1, 32, 3, 1}}).substr(0, 12));  // count beyond end
  m.module.icons[1] = "one";
  for (int wanted = 1; wanted <= 3; ++wanted) {
    ASSERT_EQ(modrik::ExtractIconFile(kExe, wanted, kIco), 1);
    EXPECT_FALSE(sys.HasFile(kIco)) << wanted;
    EXPECT_EQ(modrik::GroupsSeen, 3);
  }
}

TEST(IconFile, LargestWidthCountsStored0As0) {
  fake::FakePlatform sys;
  sys.AddFolder(kIcons);
  IconModule m(sys, kExe);
  m.Group("AICO", GroupDirectory({{0, 0, 0, 1, 32, 3, 1}, {48, 48, 0, 1, 32, 3, 2}}));
  m.module.icons[1] = "256";
  m.module.icons[2] = "048";
  ASSERT_EQ(modrik::ExtractIconFile(kExe, 1, kIco), 1);
  EXPECT_EQ(modrik::LargestWidth, 48);
}

TEST(IconFile, OnlyTheWantedGroupIsWrittenButEveryGroupIsVisited) {
  fake::FakePlatform sys;
  sys.AddFolder(kIcons);
  IconModule m(sys, kExe);
  m.Group("FIRST", GroupDirectory({{16, 16, 0, 1, 32, 3, 1}}));
  m.Group("#2", GroupDirectory({{64, 64, 0, 1, 32, 3, 2}}));
  m.module.icons[1] = "one";
  m.module.icons[2] = "two";

  ASSERT_EQ(modrik::ExtractIconFile(kExe, 1, kIco), 1);
  EXPECT_EQ(modrik::GroupsSeen, 2);
  EXPECT_EQ(modrik::LargestWidth, 16);
  EXPECT_EQ(sys.FileBytes(kIco).substr(22), "one");

  ASSERT_EQ(modrik::ExtractIconFile(kExe, 2, kIco), 1);
  EXPECT_EQ(modrik::GroupsSeen, 2);
  EXPECT_EQ(modrik::LargestWidth, 64);
  EXPECT_EQ(sys.FileBytes(kIco).substr(22), "two");
}

TEST(IconFile, ModuleThatCannotLoadLeavesStateAlone) {
  fake::FakePlatform sys;
  modrik::LargestWidth = 77;
  EXPECT_EQ(modrik::ExtractIconFile("C:\\missing.exe", 1, kIco), 0);
  EXPECT_EQ(modrik::LargestWidth, 77);
  // Quotes around the path are removed before loading.
  modrik::ExtractIconFile("\"\"C:\\Apps\\My Player.exe\"", 1, kIco);
  EXPECT_EQ(sys.loadedModules.back(), "C:\\Apps\\My Player.exe");
}

class Export : public ::testing::Test {
 protected:
  void SetUp() override {
    PrepareWineDesktop(sys);
    IconModule m(sys, kExe);
    m.Group("AICO", GroupDirectory({{128, 128, 0, 1, 32, 4, 1}}));
    m.module.icons[1] = "DIB!";
  }
  fake::FakePlatform sys;
};

TEST_F(Export, FirstExportWritesIcoAndPngAtTheLargestWidth) {
  EXPECT_EQ(modrik::ExportIcon(kExe), kPng);
  EXPECT_EQ(sys.FileBytes(kIco).size(), 26u);
  ASSERT_EQ(sys.iconLoads.size(), 1u);
  EXPECT_EQ(sys.iconLoads[0].first, kIco);
  EXPECT_EQ(sys.iconLoads[0].second, std::make_pair(128, 128));
  EXPECT_EQ(sys.savedImages, std::vector<std::string>{kPng});
  EXPECT_EQ(sys.gdiplusStarts, 1);
  EXPECT_EQ(sys.gdiplusStops, 1);
  EXPECT_EQ(sys.disposedImages, 1);
}

TEST_F(Export, PresentPngIsReturnedWithoutLoadingAnything) {
  sys.AddFile(kPng, "PNG");  // even without the .ico
  EXPECT_EQ(modrik::ExportIcon(kExe), kPng);
  EXPECT_TRUE(sys.loadedModules.empty());
  EXPECT_TRUE(sys.iconLoads.empty());
  EXPECT_EQ(sys.gdiplusStarts, 0);
}

TEST_F(Export, PresentIcoIsNotRebuiltAndLoadsAtItsOwnSize) {
  sys.AddFile(kIco, "old icon");
  EXPECT_EQ(modrik::ExportIcon(kExe), kPng);
  EXPECT_TRUE(sys.loadedModules.empty());
  EXPECT_EQ(sys.FileBytes(kIco), "old icon");
  ASSERT_EQ(sys.iconLoads.size(), 1u);
  EXPECT_EQ(sys.iconLoads[0].second, std::make_pair(0, 0));
}

TEST_F(Export, FailuresGiveEmptyOrIcoPath) {
  // A module that cannot be loaded: empty, nothing written.
  EXPECT_EQ(modrik::ExportIcon("C:\\Apps\\Other.exe"), "");
  EXPECT_FALSE(sys.HasFile(kIcons + "other.ico"));
  // GDI+ does not start: no PNG, the .ico path.
  sys.gdiplusStartStatus = 1;
  EXPECT_EQ(modrik::ExportIcon(kExe), kIco);
  EXPECT_FALSE(sys.HasFile(kPng));
  EXPECT_EQ(sys.gdiplusStops, 0);
}

// A new home: what is missing of the data folder and its icon folder is
// made, parent first, and the export goes on. A home that is not there is
// not made, and gets nothing written.
TEST_F(Export, MissingIconFolderWritesNothing) {
  const std::string share = "z:\\home\\guest\\.local\\share";
  std::erase_if(sys.folders, [&](const auto& f) { return f.first.rfind(share, 0) == 0; });
  EXPECT_EQ(modrik::ExportIcon(kExe), kPng);
  EXPECT_EQ(sys.createdFolders, std::vector<std::string>({share, share + "\\icons"}));

  sys.files.clear();
  std::erase_if(sys.folders, [](const auto& f) { return f.first.rfind("z:\\home\\guest", 0) == 0; });
  EXPECT_EQ(modrik::ExportIcon(kExe), kIco);
  EXPECT_FALSE(sys.HasFile(kIco));
  EXPECT_FALSE(sys.HasFile(kPng));
}

// Numbered PNG files left by an earlier attempt, with the save failing now.
class Reconcile : public Export {
 protected:
  void SetUp() override {
    Export::SetUp();
    sys.AddFile(kIco, "icon");
    sys.saveStatus = 1;
  }
  std::string Numbered(int n) { return kIcons + "myplayer-" + std::to_string(n) + ".png"; }
};

TEST_F(Reconcile, NoNumberedFilesGiveTheIcoPath) {
  EXPECT_EQ(modrik::ExportIcon(kExe), kIco);
  EXPECT_FALSE(sys.HasFile(kPng));
}

TEST_F(Reconcile, SingleFileBecomesThePng) {
  sys.AddFile(Numbered(0), "zero");
  EXPECT_EQ(modrik::ExportIcon(kExe), kPng);
  EXPECT_EQ(sys.FileBytes(kPng), "zero");
  EXPECT_FALSE(sys.HasFile(Numbered(0)));
}

TEST_F(Reconcile, HighestOfTheRunBecomesThePngAndTheRestGo) {
  sys.AddFile(Numbered(0), "zero");
  sys.AddFile(Numbered(1), "one");
  sys.AddFile(Numbered(2), "two");
  EXPECT_EQ(modrik::ExportIcon(kExe), kPng);
  EXPECT_EQ(sys.FileBytes(kPng), "two");
  EXPECT_FALSE(sys.HasFile(Numbered(0)));
  EXPECT_FALSE(sys.HasFile(Numbered(1)));
  EXPECT_FALSE(sys.HasFile(Numbered(2)));
}

TEST_F(Reconcile, FilesBeyondAGapStay) {
  sys.AddFile(Numbered(0), "zero");
  sys.AddFile(Numbered(2), "two");
  EXPECT_EQ(modrik::ExportIcon(kExe), kPng);
  EXPECT_EQ(sys.FileBytes(kPng), "zero");
  EXPECT_FALSE(sys.HasFile(Numbered(0)));
  EXPECT_EQ(sys.FileBytes(Numbered(2)), "two");
}

}  // namespace
