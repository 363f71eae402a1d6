// Wine detection: Wine's ntdll.dll exports wine_get_version, the NT system
// library of real Windows does not.
#include "platform/platform.h"
#include "winebridge/winebridge.h"

namespace modrik {

std::int32_t IsWine() {
  return platform::Sys().WineGetVersionAddress() != nullptr ? -1 : 0;
}

std::string WineVersion() {
  void* address = platform::Sys().WineGetVersionAddress();
  if (address == nullptr) return std::string();
  using WineGetVersionFn = const char* (*)();
  const char* text = reinterpret_cast<WineGetVersionFn>(address)();
  return text == nullptr ? std::string() : std::string(text);
}

}  // namespace modrik
