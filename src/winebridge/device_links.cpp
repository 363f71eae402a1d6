// The device links of Wine's drives: "d::" in the prefix's dosdevices folder
// names the device behind drive D: (a disc drive's /dev/sr0). The listing of
// the drive links shows them; the drive map leaves them out.
#include "winebridge/winebridge.h"

namespace modrik {

std::vector<std::string> DeviceLinks;

std::vector<std::string> ParseDeviceLinks(const std::string& listing) {
  const std::string arrow = " -> ";
  std::vector<std::string> links;
  std::size_t start = 0;
  while (start < listing.size()) {
    std::size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    const std::string line = listing.substr(start, end - start);
    start = end + 1;
    const std::size_t at = line.find(arrow);
    if (at == std::string::npos || at < 3) continue;
    // The link name starts after the last blank before the arrow.
    const std::size_t blank = line.rfind(' ', at - 1);
    const std::size_t name = blank == std::string::npos ? 0 : blank + 1;
    if (at - name != 3) continue;
    const std::string target = line.substr(at + arrow.size());
    const char letter = line[name];
    const bool drive = (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z');
    if (!drive || line.compare(name + 1, 2, "::") != 0 || target.empty()) continue;
    links.push_back(std::string(1, letter) + ":" + target);
  }
  return links;
}

std::string DriveDeviceLink(char driveLetter) {
  if (driveLetter >= 'A' && driveLetter <= 'Z')
    driveLetter = static_cast<char>(driveLetter - 'A' + 'a');
  for (const std::string& link : DeviceLinks) {
    char letter = link[0];
    if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
    if (letter != driveLetter) continue;
    const std::string target = link.substr(2);
    // A relative target is relative to the dosdevices folder that holds it.
    return target[0] == '/' ? target : DosdevicesFolder() + target;
  }
  return std::string();
}

}  // namespace modrik
