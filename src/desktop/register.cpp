// Placeholder until the desktop integration lands: registers nothing.
#include "desktop/desktop.h"

namespace modrik {

std::int32_t GroupsSeen = 0;
std::int32_t WantedGroup = 0;
std::int32_t LargestWidth = 0;
std::string IconFilePath;

void RegisterAsLinuxApp() {}

}  // namespace modrik
