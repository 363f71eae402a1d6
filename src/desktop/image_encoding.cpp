// Saving a GDI+ image in the format of a MIME type, with the first encoder
// GDI+ reports whose MIME type contains the one asked for.
#include <cstdio>
#include <vector>

#include "common/common.h"
#include "desktop/desktop.h"
#include "platform/platform.h"

namespace modrik {

namespace {

constexpr int kStatusInvalidParameter = 2;

}  // namespace

// The registry form of a class identifier: the first three fields are
// little-endian numbers, the last eight bytes are shown in their order.
std::string ClsidToText(const std::uint8_t c[16]) {
  char text[39];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", c[3],
                c[2], c[1], c[0], c[5], c[4], c[7], c[6], c[8], c[9], c[10], c[11], c[12], c[13],
                c[14], c[15]);
  return text;
}

bool ClsidFromText(const std::string& text, std::uint8_t clsid[16]) {
  // Byte i of the identifier is read from the two digits at kDigits[i].
  static const int kDigits[16] = {7, 5, 3, 1, 12, 10, 17, 15, 20, 22, 25, 27, 29, 31, 33, 35};
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
      text[14] != '-' || text[19] != '-' || text[24] != '-')
    return false;
  for (int i = 0; i < 16; ++i) {
    const int high = HexDigitValue(text[kDigits[i]]), low = HexDigitValue(text[kDigits[i] + 1]);
    if (high < 0 || low < 0) return false;
    clsid[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return true;
}

std::string FindEncoderClsid(const std::string& mimeType) {
  auto& sys = platform::Sys();
  std::vector<platform::ImageEncoder> encoders;
  if (sys.ImageEncoders(&encoders) != 0) return std::string();
  const std::string wanted = sys.UpperCase(mimeType);
  for (const platform::ImageEncoder& encoder : encoders) {
    const std::string mime = encoder.mimeType.substr(0, encoder.mimeType.find('\0'));
    if (mime.empty()) continue;
    if (sys.UpperCase(mime).find(wanted) != std::string::npos)
      return ClsidToText(encoder.clsid);
  }
  return std::string();
}

int SaveImageWithEncoder(platform::Handle image, const std::string& fileName,
                         const std::string& mimeType) {
  auto& sys = platform::Sys();
  if (image == 0) return kStatusInvalidParameter;
  if (fileName.find_first_not_of(' ') == std::string::npos) return kStatusInvalidParameter;
  const std::string encoder = FindEncoderClsid(mimeType);
  std::uint8_t clsid[16];
  if (encoder.empty() || !ClsidFromText(encoder, clsid)) return kStatusInvalidParameter;
  // The name goes to GDI+ as it is, surrounding blanks included.
  return sys.SaveImage(image, fileName, clsid);
}

int SaveImageAsPng(platform::Handle image, const std::string& fileName) {
  return SaveImageWithEncoder(image, fileName, "image/png");
}

}  // namespace modrik
