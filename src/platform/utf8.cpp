#include "platform/utf8.h"

namespace platform {

namespace {

// The length of the well-formed sequence that starts at `at`, or 0.
std::size_t SequenceLength(const std::string& s, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (at + length > s.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  return length;
}

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = SequenceLength(bytes, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string Utf8Left(const std::string& text, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t n = 0; n < count && at < text.size(); ++n) {
    const std::size_t length = SequenceLength(text, at);
    at += length == 0 ? 1 : length;  // a stray byte counts as one character
  }
  return text.substr(0, at);
}

std::string Utf8OfCodePoint(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  std::string text(1, static_cast<char>(kLead[tail] | (c >> (6 * tail))));
  for (int k = tail - 1; k >= 0; --k) text += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
  return text;
}

}  // namespace platform
