// Icon export: the executable's icon resource, written out as an .ico file
// in the user's icon folder and converted from there into a PNG file.
//
// Both files stay and are reused: a PNG that exists is returned at once, an
// .ico that exists is never rebuilt.
#include <algorithm>
#include <vector>

#include "desktop/desktop.h"
#include "common/common.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "winebridge/winebridge.h"

namespace modrik {

std::int32_t GroupsSeen = 0;
std::int32_t WantedGroup = 0;
std::int32_t LargestWidth = 0;
std::string IconFilePath;

namespace {

constexpr std::size_t kIconDirSize = 6;       // reserved, type, count
constexpr std::size_t kGroupEntrySize = 14;   // one entry of an RT_GROUP_ICON
constexpr std::size_t kFileEntrySize = 16;    // one entry of an .ico file
constexpr std::size_t kModulePathLimit = 259;

std::uint32_t Read16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1]) << 8;
}

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// One image of a group: its directory entry as the group stores it and the
// image data as the RT_ICON resource holds it.
struct GroupImage {
  std::string entry;
  std::string data;
};

// The .ico file of a group's images: header, table, images, each image's
// offset following from the sizes of the ones before it.
std::string IconFileBytes(const std::vector<GroupImage>& images) {
  std::string out;
  Put16(out, 0);
  Put16(out, 1);  // an icon, whatever the group says
  Put16(out, static_cast<std::uint32_t>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(kIconDirSize + kFileEntrySize * images.size());
  for (const GroupImage& image : images) {
    out += image.entry.substr(0, 3);  // width, height, colour count
    out += '\0';                      // reserved
    out += image.entry.substr(4, 8);  // planes, bit count, bytes in resource
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(image.data.size());
  }
  for (const GroupImage& image : images) out += image.data;
  return out;
}

}  // namespace

std::string DesktopName(const std::string& text) {
  std::string name = FileNameWithoutExtension(text);
  name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
  return platform::Sys().LowerCase(name);
}

std::string IconFileFor(const std::string& exePath) {
  return WindowsDataFolder() + "icons\\" + DesktopName(exePath) + ".ico";
}

std::string PngPathOf(const std::string& iconFile) {
  return iconFile.substr(0, iconFile.size() - std::min<std::size_t>(4, iconFile.size())) + ".png";
}

std::string NumberedPngPath(const std::string& iconFile, unsigned long long n) {
  return iconFile.substr(0, iconFile.size() - std::min<std::size_t>(4, iconFile.size())) + "-" +
         std::to_string(n) + ".png";
}

void ReconcileNumberedPngs(const std::string& iconFile) {
  auto& sys = platform::Sys();
  unsigned long long n = 1;
  while (PathExists(NumberedPngPath(iconFile, n))) ++n;
  const unsigned long long last = n - 1;
  sys.MoveFileTo(NumberedPngPath(iconFile, last), PngPathOf(iconFile));
  for (unsigned long long i = 0; i < last; ++i) sys.DeleteFileAt(NumberedPngPath(iconFile, i));
}

std::string ExportIcon(const std::string& exePath) {
  const std::string iconFile = IconFileFor(exePath);
  const std::string pngFile = PngPathOf(iconFile);
  if (PathExists(pngFile)) return pngFile;
  if (!PathExists(iconFile)) {
    MakeDesktopFolder(FolderOf(iconFile));
    if (ExtractIconFile(exePath, 1, iconFile) <= 0) return std::string();
  }
  // After an extraction in this process the largest stored width asks for
  // the biggest image; otherwise 0 asks for the image's own size.
  const platform::Handle icon = platform::Sys().LoadIconFile(iconFile, LargestWidth, LargestWidth);
  WriteIconPng(icon, pngFile);
  if (PathExists(pngFile)) return pngFile;
  if (PathExists(NumberedPngPath(iconFile, 0))) {
    ReconcileNumberedPngs(iconFile);
    return pngFile;
  }
  return iconFile;
}

std::int32_t ExtractIconFile(const std::string& modulePath, std::int32_t wantedGroup,
                             const std::string& iconFilePath) {
  auto& sys = platform::Sys();
  std::string path = modulePath;
  const std::size_t first = path.find_first_not_of('"');
  path = first == std::string::npos ? std::string() : path.substr(first);
  while (!path.empty() && path.back() == '"') path.pop_back();
  path = platform::Utf8Left(path, kModulePathLimit);

  const platform::Handle module = sys.LoadModule(path);
  if (module == 0) return 0;
  GroupsSeen = 0;
  LargestWidth = 0;
  WantedGroup = wantedGroup;
  IconFilePath = iconFilePath;
  sys.EnumIconGroups(module, &WriteIconGroup);
  return 1;  // the module stays loaded
}

bool WriteIconGroup(platform::Handle module, platform::ResourceName name) {
  auto& sys = platform::Sys();
  ++GroupsSeen;
  const bool wanted = GroupsSeen == WantedGroup;

  std::string group;
  if (!sys.ResourceBytes(module, name, platform::kRtGroupIcon, &group)) return true;
  if (group.size() < kIconDirSize) return true;
  // Never read past the directory, whatever its count says.
  const std::size_t count =
      std::min<std::size_t>(Read16(group, 4), (group.size() - kIconDirSize) / kGroupEntrySize);

  // An image that cannot be read is left out of the file altogether, so the
  // file's count and offsets describe exactly the images it holds.
  std::vector<GroupImage> images;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string entry = group.substr(kIconDirSize + kGroupEntrySize * i, kGroupEntrySize);
    const platform::ResourceName id = Read16(entry, 12);
    std::string data;
    if (!sys.ResourceBytes(module, id, platform::kRtIcon, &data) || data.empty()) continue;
    const std::int32_t width = static_cast<std::uint8_t>(entry[0]);
    if (wanted && width > LargestWidth) LargestWidth = width;
    images.push_back({entry, data});
  }
  if (images.empty() || !wanted) return true;
  sys.WriteWholeFile(IconFilePath, IconFileBytes(images));
  return true;
}

void WriteIconPng(platform::Handle icon, const std::string& pngPath) {
  auto& sys = platform::Sys();
  std::uintptr_t token = 0;
  if (sys.GdiplusStart(&token) != 0) return;
  platform::Handle bitmap = 0;
  sys.BitmapFromIcon(icon, &bitmap);
  SaveImageAsPng(bitmap, pngPath);
  if (bitmap != 0) sys.DisposeImage(bitmap);
  sys.GdiplusStop(token);
}

}  // namespace modrik
