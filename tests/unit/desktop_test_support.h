// Shared pieces of the desktop integration tests: icon-group resources
// built byte by byte, the standard encoder list, and the paths the program
// uses for the fake user "guest".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fake_platform.h"

namespace desktop_test {

inline const std::string kIcons = "z:\\home\\guest\\.local\\share\\icons\\";
inline const std::string kApps = "z:\\home\\guest\\.local\\share\\applications\\";

// The PNG encoder's class identifier {557CF406-1A04-11D3-9A73-0000F81EF32E}
// as the 16 bytes of a CLSID in memory.
inline const std::uint8_t kPngClsid[16] = {0x06, 0xF4, 0x7C, 0x55, 0x04, 0x1A, 0xD3, 0x11,
                                           0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E};
inline const char kPngClsidText[] = "{557CF406-1A04-11D3-9A73-0000F81EF32E}";

inline std::string Le16(std::uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
inline std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

struct GroupEntry {
  std::uint8_t width, height, colours;
  std::uint16_t planes, bitCount;
  std::uint32_t bytesInResource;
  std::uint16_t id;
};

// An RT_GROUP_ICON directory. The reserved byte of each entry is set to
// 0x5A so that a test sees whether it is cleared in the file.
inline std::string GroupDirectory(const std::vector<GroupEntry>& entries, std::uint16_t type = 1) {
  std::string out = Le16(0) + Le16(type) + Le16(static_cast<std::uint32_t>(entries.size()));
  for (const GroupEntry& e : entries) {
    out += static_cast<char>(e.width);
    out += static_cast<char>(e.height);
    out += static_cast<char>(e.colours);
    out += '\x5A';
    out += Le16(e.planes) + Le16(e.bitCount) + Le32(e.bytesInResource) + Le16(e.id);
  }
  return out;
}

inline platform::ImageEncoder Encoder(std::uint8_t first, const std::string& mime) {
  platform::ImageEncoder e;
  for (int i = 0; i < 16; ++i) e.clsid[i] = static_cast<std::uint8_t>(first + i);
  e.mimeType = mime;
  return e;
}

// GDI+'s built-in encoders in its order, the PNG one with its real identifier.
inline std::vector<platform::ImageEncoder> StandardEncoders() {
  platform::ImageEncoder png;
  for (int i = 0; i < 16; ++i) png.clsid[i] = kPngClsid[i];
  png.mimeType = "image/png";
  return {Encoder(0x10, "image/bmp"), Encoder(0x20, "image/jpeg"), Encoder(0x30, "image/gif"),
          Encoder(0x40, "image/tiff"), png};
}

// A fake platform under Wine with the user's folders and a GDI+ that has
// the standard encoders.
inline void PrepareWineDesktop(fake::FakePlatform& sys) {
  sys.wineExport = true;
  sys.wineVersionText = "8.0";
  sys.AddFolder("z:\\home\\guest\\.local\\share\\icons");
  sys.AddFolder("z:\\home\\guest\\.local\\share\\applications");
  sys.encoders = StandardEncoders();
}

}  // namespace desktop_test
