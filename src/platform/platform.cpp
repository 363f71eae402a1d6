#include "platform/platform.h"

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

}  // namespace platform
