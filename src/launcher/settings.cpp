// The settings file beside the executable and the INI readers behind it.
#include <cfenv>
#include <cmath>
#include <cstdlib>

#include "common/common.h"
#include "launcher/launcher.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace modrik {

bool UnderWine = false;
std::string SettingsPath;
std::string PlayerPath;

namespace {

const char kSection[] = "modrik";
const char kPlayerKey[] = "vlcpath";
// 255 x 255 bytes: the reader's buffer, so a value holds at most 65,024 characters.
constexpr std::size_t kIniBufferSize = 65025;

// A file name without any backslash is taken to be in the executable's folder.
std::string IniFileLocation(const std::string& file) {
  if (file.find('\\') != std::string::npos) return file;
  return ExecutableFolder() + file;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// Reads the longest decimal number at the start of text (sign, digits,
// fraction, exponent with E or D); 0 when there is none.
double DecimalPrefix(const std::string& text, std::size_t pos) {
  std::string number;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) number += text[pos++];
  bool digits = false;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    number += text[pos++];
    digits = true;
  }
  if (pos < text.size() && text[pos] == '.') {
    number += text[pos++];
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      number += text[pos++];
      digits = true;
    }
  }
  if (!digits) return 0.0;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E' || text[pos] == 'd' ||
                            text[pos] == 'D')) {
    std::size_t look = pos + 1;
    std::string exponent = "e";
    if (look < text.size() && (text[look] == '+' || text[look] == '-')) exponent += text[look++];
    bool expDigits = false;
    while (look < text.size() && text[look] >= '0' && text[look] <= '9') {
      exponent += text[look++];
      expDigits = true;
    }
    if (expDigits) number += exponent;
  }
  return std::strtod(number.c_str(), nullptr);
}

// Reads digits of the given base; the value grows without limit (as a double)
// so that an over-long number is recognised as out of range.
double BasedPrefix(const std::string& text, std::size_t pos, int base) {
  double value = 0.0;
  while (pos < text.size() && DigitValue(text[pos]) < base) {
    value = value * base + DigitValue(text[pos]);
    ++pos;
  }
  return value;
}

}  // namespace

std::string SettingsTemplateText(const std::string& playerPath) {
  return std::string("[modrik]\r\n") +
         "# Replace the following with any 'vlc.exe' filepath you want to use:\r\n" +
         "# If you are running under Unix/Wine, Unix paths also work e.g. /usr/bin/vlc\r\n" +
         "vlcpath=" + playerPath + "\r\n";
}

void WriteSettingsTemplate() {
  platform::Sys().WriteTextFile(SettingsPath, SettingsTemplateText(PlayerPath));
}

void ReadPlayerPath() { PlayerPath = GetIniString(SettingsPath, kSection, kPlayerKey); }

std::string GetIniString(const std::string& file, const std::string& section,
                         const std::string& key) {
  return platform::Sys().ProfileString(section, key, "", IniFileLocation(file), kIniBufferSize);
}

std::int32_t GetIniNumber(const std::string& file, const std::string& section,
                          const std::string& key) {
  return IniTextToNumber(
      platform::Sys().ProfileString(section, key, "0", IniFileLocation(file), kIniBufferSize));
}

std::int32_t IniTextToNumber(const std::string& text) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n')) ++pos;

  double value = 0.0;
  if (pos < text.size() && text[pos] == '&') {
    char kind = pos + 1 < text.size() ? text[pos + 1] : '\0';
    switch (kind) {
      case 'h': case 'H': value = BasedPrefix(text, pos + 2, 16); break;
      case 'b': case 'B': value = BasedPrefix(text, pos + 2, 2); break;
      case 'o': case 'O': case 'q': case 'Q': value = BasedPrefix(text, pos + 2, 8); break;
      default:
        if (kind >= '0' && kind <= '9') value = BasedPrefix(text, pos + 1, 8);
        break;
    }
  } else {
    value = DecimalPrefix(text, pos);
  }

  // Nearest integer, halves to the even neighbour.
  const int previousMode = std::fegetround();
  std::fesetround(FE_TONEAREST);
  double rounded = std::nearbyint(value);
  std::fesetround(previousMode);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return INT32_MIN;
  return static_cast<std::int32_t>(rounded);
}

std::int32_t DeleteRegistryKey(std::uint32_t root, const std::string& subkey) {
  return platform::Sys().RegistryDeleteKey(root, platform::Utf8Left(subkey, 254));
}

}  // namespace modrik
