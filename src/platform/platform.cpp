#include "platform/platform.h"

#include <cstddef>

namespace platform {

// Defined by the build: the Win32 implementation on Windows, a placeholder
// on the host (where the tests install their own).
Platform& DefaultPlatform();

namespace {
// Zero-initialised, so it is valid even when the executable is loaded by
// another program and its static constructors never run.
Platform* replacement_platform = nullptr;
}  // namespace

Platform& Sys() {
  if (replacement_platform != nullptr) return *replacement_platform;
  return DefaultPlatform();
}

void SetPlatform(Platform* replacement) { replacement_platform = replacement; }

std::string WindowsArgument(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\n\"") == std::string::npos) return word;
  // Double quotes group, and backslashes count only before a quote.
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

}  // namespace platform
