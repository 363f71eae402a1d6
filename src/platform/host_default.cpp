// On the Linux host there is no real platform: every user of the rules
// (the unit tests) installs its own with SetPlatform before calling them.
#ifndef _WIN32
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace platform {

Platform& DefaultPlatform() {
  std::fputs("modrik: no platform installed on this host\n", stderr);
  std::abort();
}

}  // namespace platform
#endif
