#include "common/common.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace modrik {

bool PathExists(const std::string& path) {
  const std::string used = platform::Utf8Left(path, 255);
  if (used.find_first_of("*?") != std::string::npos) return false;
  return platform::Sys().FileAttributesExist(used);
}

std::string ExecutableFolder() {
  const std::string path = platform::Sys().ModulePath();
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool MakeFolders(const std::string& folder) {
  auto& sys = platform::Sys();
  std::string path = folder;
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  if (path.empty() || sys.FolderExists(path)) return true;
  const std::size_t cut = path.find_last_of('\\');
  if (cut != std::string::npos && cut > 0) MakeFolders(path.substr(0, cut));
  // Another start may have made it meanwhile.
  return sys.CreatePrivateFolder(path) || sys.FolderExists(path);
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace modrik
