// The executable's exported functions, for other programs that load it.
//
// Texts cross this interface as OLE byte strings holding ANSI bytes, and
// are converted to and from the program's UTF-8 at the edge. A text
// passed by value becomes ours and is released before returning; a text
// passed by reference stays the caller's. A returned text is a new string
// that belongs to the caller.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

#include "launcher/launcher.h"
#include "platform/win32_platform.h"

namespace {

// OLE is loaded when a caller first calls in, not on every start.
template <typename Fn>
Fn Ole(const char* name) {
  return platform::LaterExport<Fn>(L"oleaut32.dll", name);
}
UINT ByteLength(BSTR text) {
  static const auto fn = Ole<decltype(&SysStringByteLen)>("SysStringByteLen");
  return fn(text);
}
void Release(BSTR text) {
  static const auto fn = Ole<decltype(&SysFreeString)>("SysFreeString");
  fn(text);
}
BSTR NewText(const std::string& bytes) {
  static const auto fn = Ole<decltype(&SysAllocStringByteLen)>("SysAllocStringByteLen");
  return fn(bytes.data(), static_cast<UINT>(bytes.size()));
}

std::string TextOf(BSTR text) {
  if (text == nullptr) return std::string();
  return platform::AnsiToUtf8(
      std::string(reinterpret_cast<const char*>(text), ByteLength(text)));
}

// Takes over a text passed by value: copies it out and releases it.
std::string TakeText(BSTR text) {
  std::string copy = TextOf(text);
  if (text != nullptr) Release(text);
  return copy;
}

}  // namespace

extern "C" {

__declspec(dllexport) BSTR __stdcall GETINIS(BSTR file, BSTR section, BSTR key) {
  std::string fileText = TakeText(file);
  std::string sectionText = TakeText(section);
  std::string keyText = TakeText(key);
  const std::string value = platform::Utf8ToAnsi(modrik::GetIniString(fileText, sectionText, keyText));
  return NewText(value);
}

__declspec(dllexport) std::int32_t __stdcall GETINIV(BSTR file, BSTR section, BSTR key) {
  std::string fileText = TakeText(file);
  std::string sectionText = TakeText(section);
  std::string keyText = TakeText(key);
  return modrik::GetIniNumber(fileText, sectionText, keyText);
}

__declspec(dllexport) std::int32_t __stdcall DELREGKEY(const std::uint32_t* root, BSTR* subkey) {
  if (root == nullptr) return 0;
  std::string subkeyText = subkey != nullptr ? TextOf(*subkey) : std::string();
  return modrik::DeleteRegistryKey(*root, subkeyText);
}

}  // extern "C"
