// The real platform: paths as Windows and Wine resolve them, and the
// private folder made for its owner alone.
#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "platform/win32_platform.h"

namespace platform {

std::string Win32Platform::FullPathName(const std::string& path) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) return std::string();
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buffer.size()),
                                          buffer.data(), nullptr);
    if (length == 0) return std::string();
    if (length < buffer.size()) return Utf8(buffer.data(), length);
    if (length > 65536) return std::string();
    buffer.resize(length + 1);
  }
}

std::string Win32Platform::WineUnixFileName(const std::string& windowsPath) {
  // Only Wine's kernel32 has it; Wine allocates the answer (in the host's
  // own encoding, as its file names are) on the process heap.
  using UnixFileNameFn = char*(CDECL*)(const wchar_t*);
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return std::string();
  const auto unixFileName =
      reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void*>(GetProcAddress(kernel32, "wine_get_unix_file_name")));
  if (unixFileName == nullptr) return std::string();
  char* answer = unixFileName(Wide(windowsPath).c_str());
  if (answer == nullptr) return std::string();
  std::string unixPath(answer);
  HeapFree(GetProcessHeap(), 0, answer);
  return unixPath;
}

bool Win32Platform::CreatePrivateFolder(const std::string& path) {
  // Wine turns a descriptor into mode bits: an entry for the descriptor's
  // owner gives the owner's bits, and the group's as well when that owner is
  // the caller's own account. With Owner Rights as the owner and the only
  // grantee, the host folder gets the owner's bits alone.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:OWD:P(A;OICI;FA;;;OW)", SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  bool made = CreateDirectoryW(Wide(path).c_str(), descriptor ? &attributes : nullptr) != 0;
  DWORD error = made ? 0 : GetLastError();
  if (descriptor != nullptr) LocalFree(descriptor);
  if (!made && error != ERROR_ALREADY_EXISTS && error != ERROR_PATH_NOT_FOUND) {
    // A system that will not take the descriptor still gets the folder.
    made = CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
    if (!made) error = GetLastError();
  }
  if (!made && error != ERROR_ALREADY_EXISTS)
    Trace("CreateDirectoryW " + path + " failed, error " + std::to_string(error));
  return made;
}

}  // namespace platform
