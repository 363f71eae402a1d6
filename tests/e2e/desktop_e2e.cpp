// End-to-end tests of the desktop integration: modrik.exe's own icon
// resources, and what a start under Wine leaves on the Linux desktop (icon
// files, desktop entry, GIO custom-icon metadata), read back with the
// host's own tools (gio, GLib's key-file parser).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <thread>

#include <sys/stat.h>

#include "harness.h"

using namespace e2e;

namespace {

const int kPlayerWaitMs = 10000;
const int kMetadataWaitMs = 10000;

// The repository's icon, which the executable carries as its resources.
std::string SourceIcon() {
  std::string here = __FILE__;
  return here.substr(0, here.rfind('/')) + "/../../res/modrik.ico";
}

std::uint32_t U16(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b.at(at)) | static_cast<std::uint8_t>(b.at(at + 1)) << 8;
}
std::uint32_t U32(const std::string& b, std::size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// Just enough of a PE reader to list resources and imported DLL names.
class PeFile {
 public:
  explicit PeFile(std::string bytes) : b_(std::move(bytes)) {
    const std::size_t pe = U32(b_, 0x3C);
    sections_ = U16(b_, pe + 6);
    const std::size_t optional = pe + 24;
    sectionTable_ = optional + U16(b_, pe + 20);
    dirs_ = optional + (U16(b_, optional) == 0x20B ? 112 : 96);
  }
  std::size_t Offset(std::uint32_t rva) const {
    for (std::uint32_t i = 0; i < sections_; ++i) {
      const std::size_t s = sectionTable_ + 40 * i;
      const std::uint32_t va = U32(b_, s + 12), size = U32(b_, s + 8), raw = U32(b_, s + 20);
      if (rva >= va && rva < va + size) return raw + (rva - va);
    }
    throw std::out_of_range("rva");
  }
  std::uint32_t DirRva(int index) const { return U32(b_, dirs_ + 8 * index); }
  const std::string& Bytes() const { return b_; }

  // One level of the resource tree: name ("#id" or the text) -> entry value.
  std::map<std::string, std::uint32_t> Level(std::uint32_t dirOffset) const {
    const std::size_t root = Offset(DirRva(2));
    const std::size_t at = root + dirOffset;
    const std::uint32_t count = U16(b_, at + 12) + U16(b_, at + 14);
    std::map<std::string, std::uint32_t> out;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t name = U32(b_, at + 16 + 8 * i), value = U32(b_, at + 20 + 8 * i);
      std::string key;
      if (name & 0x80000000u) {
        const std::size_t s = root + (name & 0x7FFFFFFFu);
        for (std::uint32_t c = 0; c < U16(b_, s); ++c) key += static_cast<char>(U16(b_, s + 2 + 2 * c));
      } else {
        key = "#" + std::to_string(name);
      }
      out[key] = value;
    }
    return out;
  }
  // The data of a leaf entry.
  std::string Data(std::uint32_t leafOffset) const {
    const std::size_t entry = Offset(DirRva(2)) + leafOffset;
    return b_.substr(Offset(U32(b_, entry)), U32(b_, entry + 4));
  }
  std::vector<std::string> ImportedDlls() const {
    std::vector<std::string> out;
    for (std::size_t d = Offset(DirRva(1)); U32(b_, d + 12) != 0; d += 20)
      out.push_back(std::string(b_.c_str() + Offset(U32(b_, d + 12))));
    return out;
  }

 private:
  std::string b_;
  std::uint32_t sections_ = 0;
  std::size_t sectionTable_ = 0, dirs_ = 0;
};

TEST(DesktopResources, OneIconGroupAicoWithOneUncompressed128PixelImage) {
  auto exe = ReadFile(ModrikExe());
  ASSERT_TRUE(exe) << ModrikExe() << " is not built";
  auto ico = ReadFile(SourceIcon());
  ASSERT_TRUE(ico && ico->size() == 67646u) << SourceIcon();
  PeFile pe(*exe);
  auto types = pe.Level(0);
  ASSERT_EQ(types.count("#14"), 1u);
  ASSERT_EQ(types.count("#3"), 1u);

  auto groups = pe.Level(types["#14"] & 0x7FFFFFFF);
  ASSERT_EQ(groups.size(), 1u);
  ASSERT_EQ(groups.begin()->first, "AICO");
  auto groupLangs = pe.Level(groups.begin()->second & 0x7FFFFFFF);
  ASSERT_EQ(groupLangs.size(), 1u);
  ASSERT_EQ(groupLangs.begin()->first, "#1033");
  // Directory: icon, one entry: 128 x 128, 0 colours, 1 plane, 32 bits,
  // 67,624 bytes, identifier 1.
  EXPECT_EQ(pe.Data(groupLangs.begin()->second),
            std::string("\0\0\1\0\1\0\x80\x80\0\0\1\0\x20\0\x28\x08\1\0\1\0", 20));

  auto icons = pe.Level(types["#3"] & 0x7FFFFFFF);
  ASSERT_EQ(icons.size(), 1u);
  ASSERT_EQ(icons.begin()->first, "#1");
  auto iconLangs = pe.Level(icons.begin()->second & 0x7FFFFFFF);
  ASSERT_EQ(iconLangs.size(), 1u);
  EXPECT_EQ(iconLangs.begin()->first, "#1033");
  const std::string image = pe.Data(iconLangs.begin()->second);
  ASSERT_EQ(image.size(), 67624u);
  EXPECT_EQ(image, ico->substr(22));
  // A bitmap header (40 bytes, height doubled, 32 bits, uncompressed), not PNG.
  EXPECT_EQ(U32(image, 0), 40u);
  EXPECT_EQ(U32(image, 4), 128u);
  EXPECT_EQ(U32(image, 8), 256u);
  EXPECT_EQ(U16(image, 14), 32u);
  EXPECT_EQ(U32(image, 16), 0u);

  // GDI+ is loaded only when an icon has to be converted.
  const std::vector<std::string> dlls = pe.ImportedDlls();
  EXPECT_FALSE(dlls.empty());
  for (std::string dll : dlls) {
    std::transform(dll.begin(), dll.end(), dll.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_NE(dll, "gdiplus.dll");
  }
}

// ---- a start under Wine --------------------------------------------------------

std::string IconsDir() { return Wine::Get().Home() + "/.local/share/icons"; }
std::string AppsDir() { return Wine::Get().Home() + "/.local/share/applications"; }

std::string EntryText(const std::string& name, const std::string& wmClass,
                      const std::string& icon) {
  return "[Desktop Entry]\r\nName=" + name + "\r\nStartupWMClass=" + wmClass +
         "\r\nNoDisplay=true\r\nType=Application\r\nTerminal=false\r\nStartupNotify=true\r\n"
         "Icon=" +
         icon + "\r\n";
}

// The file's metadata::custom-icon as gio reports it; empty when unset.
std::string CustomIcon(const std::string& path) {
  RunResult r = RunProcess({"gio", "info", "-a", "metadata::custom-icon", path},
                           Wine::Get().Environment(), Wine::Get().LogDir() + "/gio-info", 10000);
  const std::string key = "  metadata::custom-icon: ";
  const std::size_t at = r.out.find(key);
  if (at == std::string::npos) return std::string();
  const std::size_t end = r.out.find('\n', at);
  return r.out.substr(at + key.size(), end == std::string::npos ? end : end - at - key.size());
}

// Waits (bounded) until gio reports the wanted custom icon.
std::string WaitForCustomIcon(const std::string& path, const std::string& wanted) {
  const auto start = std::chrono::steady_clock::now();
  std::string seen;
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(kMetadataWaitMs)) {
    seen = CustomIcon(path);
    if (seen == wanted) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return seen;
}

// Name, StartupWMClass, Icon and NoDisplay as GLib's key-file parser reads
// them, one per line; an error text when it cannot.
std::string GlibReads(const std::string& entryPath) {
  const char* script =
      "import sys\n"
      "from gi.repository import GLib\n"
      "k = GLib.KeyFile()\n"
      "k.load_from_file(sys.argv[1], GLib.KeyFileFlags.NONE)\n"
      "g = 'Desktop Entry'\n"
      "out = [k.get_string(g, 'Name'), k.get_string(g, 'StartupWMClass'),\n"
      "       k.get_string(g, 'Icon'), str(k.get_boolean(g, 'NoDisplay'))]\n"
      "sys.stdout.buffer.write(('\\n'.join(out) + '\\n').encode('utf-8'))\n";
  RunResult r = RunProcess({"/usr/bin/python3", "-c", script, entryPath}, Wine::Get().Environment(),
                           Wine::Get().LogDir() + "/glib-keyfile", 20000);
  return r.exitCode == 0 ? r.out : "error: " + r.err;
}

bool IsPng128(const std::string& bytes) {
  return bytes.size() > 24 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0 &&
         bytes.compare(12, 4, "IHDR") == 0 &&
         bytes.compare(16, 8, std::string("\0\0\0\x80\0\0\0\x80", 8)) == 0;
}

// One copy of modrik.exe under a given file name, with a settings file that
// names a fake Windows player; the user's icon and applications folders
// exist and hold nothing of this name.
class Desktop : public ::testing::Test {
 protected:
  Desktop() : dir_(TestFolder::ForCurrentTest()) {}

  void Install(const std::string& hostName, const std::string& ansiName,
               const std::string& desktopName) {
    ASSERT_TRUE(Exists(ModrikExe())) << ModrikExe() << " is not built";
    dir_.InstallModrik("app/" + hostName);
    exeHost_ = dir_.Host("app/" + hostName);
    exeWin_ = dir_.WinDir() + "\\app\\" + ansiName;
    const std::string player = dir_.InstallTool("fakeplayer", "Fake Player/fakeplayer.exe");
    ASSERT_TRUE(WriteFile(dir_.Host("app/modrik.ini"), "[modrik]\r\nvlcpath=" + player + "\r\n"));
    ASSERT_TRUE(MakeDirs(IconsDir()));
    ASSERT_TRUE(MakeDirs(AppsDir()));
    ico_ = IconsDir() + "/" + desktopName + ".ico";
    png_ = IconsDir() + "/" + desktopName + ".png";
    entry_ = AppsDir() + "/wine-" + desktopName + ".desktop";
    for (const std::string& f : {ico_, png_, entry_}) RemoveTree(f);
  }

  // Starts the copy without arguments (hostEnv_ for Wine); it must end
  // cleanly, show nothing and start the player.
  void Start() {
    DriveOptions o;
    o.cwd = dir_.WinDir();
    o.hostEnv = hostEnv_;
    const std::size_t before = Records();
    DriveResult d = Drive(dir_, "\"" + exeWin_ + "\"", o);
    ASSERT_TRUE(d.ran && d.started) << d.raw;
    EXPECT_FALSE(d.timedOut) << d.raw;
    EXPECT_EQ(d.exitCode, 0) << d.raw;
    EXPECT_TRUE(d.boxes.empty()) << d.raw;
    EXPECT_EQ(WaitForWinPlayer(dir_.Host("Fake Player/fakeplayer.exe.rec"), kPlayerWaitMs,
                               before + 1)
                  .size(),
              before + 1);
  }
  std::size_t Records() const {
    return ParseWinPlayerRecords(ReadFile(dir_.Host("Fake Player/fakeplayer.exe.rec")).value_or(""))
        .size();
  }

  TestFolder dir_;
  std::string exeHost_, exeWin_, ico_, png_, entry_;
  std::vector<std::string> hostEnv_;
};

TEST_F(Desktop, FirstStartExportsTheIconAndWritesTheEntry) {
  Install("My Player.exe", "My Player.exe", "myplayer");
  Start();

  // The .ico is the group written out: header, one 16-byte entry with
  // offset 22, the image; byte for byte the icon the program was built from.
  auto ico = ReadFile(ico_);
  ASSERT_TRUE(ico);
  ASSERT_EQ(ico->size(), 67646u);
  EXPECT_EQ(U32(*ico, 18), 22u);
  EXPECT_EQ(*ico, ReadFile(SourceIcon()).value_or(""));
  EXPECT_TRUE(IsPng128(ReadFile(png_).value_or("")));

  EXPECT_EQ(ReadFile(entry_).value_or("(missing)"), EntryText("My Player", "my player.exe", "myplayer"));
  EXPECT_EQ(GlibReads(entry_), "My Player\nmy player.exe\nmyplayer\nTrue\n");

  const std::string uri = "file://" + png_;
  EXPECT_EQ(WaitForCustomIcon(exeHost_, uri), uri);
  EXPECT_EQ(WaitForCustomIcon(entry_, uri), uri);
}

TEST_F(Desktop, LaterStartKeepsTheEntryAndSetsTheIconAgain) {
  Install("My Player.exe", "My Player.exe", "myplayer");
  Start();
  ASSERT_TRUE(Exists(entry_));
  ASSERT_TRUE(WriteFile(entry_, "kept\r\n"));
  RunProcess({"gio", "set", "-t", "unset", exeHost_, "metadata::custom-icon"},
             Wine::Get().Environment(), Wine::Get().LogDir() + "/gio-unset", 10000);
  ASSERT_EQ(CustomIcon(exeHost_), "");

  Start();
  EXPECT_EQ(ReadFile(entry_), "kept\r\n");
  EXPECT_EQ(WaitForCustomIcon(exeHost_, "file://" + png_), "file://" + png_);
}

TEST_F(Desktop, PresentPngIsUsedWithoutExtracting) {
  Install("My Player.exe", "My Player.exe", "myplayer");
  ASSERT_TRUE(WriteFile(png_, "an earlier export"));
  Start();
  EXPECT_FALSE(Exists(ico_));  // the module's resources were not read
  EXPECT_EQ(ReadFile(png_), "an earlier export");
  EXPECT_EQ(ReadFile(entry_).value_or("(missing)"), EntryText("My Player", "my player.exe", "myplayer"));
}

TEST_F(Desktop, AccentedNameGivesAUtf8Entry) {
  // On the host the name is UTF-8; the program sees it in code page 1252.
  Install("Lecteur Vid\xC3\xA9o.exe", "Lecteur Vid\xE9o.exe", "lecteurvid\xC3\xA9o");
  Start();
  EXPECT_TRUE(IsPng128(ReadFile(png_).value_or("")));
  EXPECT_EQ(GlibReads(entry_),
            "Lecteur Vid\xC3\xA9o\nlecteur vid\xC3\xA9o.exe\nlecteurvid\xC3\xA9o\nTrue\n");
  EXPECT_EQ(WaitForCustomIcon(entry_, "file://" + png_), "file://" + png_);
  Start();
  EXPECT_EQ(WaitForCustomIcon(exeHost_, "file://" + png_), "file://" + png_);
}

// A fresh home (a new XDG_DATA_HOME, two folders deep): the first start
// makes the folders, each for the user alone as the XDG base directory
// rules ask, and registers the program; the second is a start like any
// other, which exports and writes nothing again.
TEST_F(Desktop, MissingFoldersAreNoObstacle) {
  Install("My Player.exe", "My Player.exe", "myplayer");
  const std::string data = dir_.Host("new home/data");
  hostEnv_ = {"XDG_DATA_HOME=" + data};
  Start();
  for (const std::string& folder : {dir_.Host("new home"), data, data + "/icons", data + "/applications"}) {
    struct stat st{};
    EXPECT_TRUE(stat(folder.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700) << folder;
  }
  const std::string entry = data + "/applications/wine-myplayer.desktop", png = data + "/icons/myplayer.png";
  EXPECT_EQ(ReadFile(entry).value_or("(missing)"), EntryText("My Player", "my player.exe", "myplayer"));
  EXPECT_TRUE(IsPng128(ReadFile(png).value_or("")));
  ASSERT_TRUE(WriteFile(entry, "kept\r\n") && WriteFile(png, "kept"));
  Start();
  EXPECT_EQ(ReadFile(entry), "kept\r\n");
  EXPECT_EQ(ReadFile(png), "kept");
}

}  // namespace
