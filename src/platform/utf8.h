// Small facts about UTF-8 text, the form in which the program holds every
// text. Nothing here converts between encodings.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// True when the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool IsValidUtf8(const std::string& bytes);

// The first `count` characters of a text (a character is never cut in two).
std::string Utf8Left(const std::string& text, std::size_t count);

// The UTF-8 bytes of one character, given by its number (below U+110000).
std::string Utf8OfCodePoint(char32_t c);

}  // namespace platform
