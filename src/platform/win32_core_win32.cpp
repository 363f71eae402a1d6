// The real platform: the process, files, settings, registry, messages and
// text, through the wide API; texts cross into the program as UTF-8.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "platform/utf8.h"

#include "platform/win32_platform.h"

namespace platform {

Platform& DefaultPlatform() {
  // Constructed on first use: the exported functions may run in a process
  // where this executable's static constructors never ran.
  static Win32Platform instance;
  return instance;
}

namespace {

HKEY RootKey(std::uint32_t root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

std::wstring WideFromCodePage(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  const int length =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string CodePageFromWide(const wchar_t* wide, std::size_t size, UINT codePage, DWORD flags,
                             BOOL* lossy) {
  if (size == 0) return std::string();
  const int length = WideCharToMultiByte(codePage, flags, wide, static_cast<int>(size), nullptr, 0,
                                         nullptr, lossy);
  if (length <= 0) return std::string();
  std::string out(length, '\0');
  WideCharToMultiByte(codePage, flags, wide, static_cast<int>(size), out.data(), length, nullptr,
                      lossy);
  return out;
}

// The text of a NUL-terminated wide buffer.
std::string Utf8Of(const std::vector<wchar_t>& buffer) {
  std::size_t length = 0;
  while (length < buffer.size() && buffer[length] != L'\0') ++length;
  return Utf8(buffer.data(), length);
}

bool IsAscii(const std::string& bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// As many bytes as the file holds now, read from a file opened for reading
// (sharing read and write access); the file is closed.
std::string ReadOpenedFile(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  DWORD size = GetFileSize(file, nullptr);
  if (size != INVALID_FILE_SIZE && size > 0) {
    bytes.resize(size);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), size, &read, nullptr)) read = 0;
    bytes.resize(read);
  }
  CloseHandle(file);
  return bytes;
}

HANDLE OpenToRead(const std::string& path, DWORD disposition) {
  return CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool HasByteOrderMark(const std::string& bytes) {
  return bytes.rfind("\xEF\xBB\xBF", 0) == 0 || bytes.rfind("\xFF\xFE", 0) == 0 ||
         bytes.rfind("\xFE\xFF", 0) == 0;
}

}  // namespace

std::wstring Wide(const std::string& utf8) { return WideFromCodePage(utf8, CP_UTF8); }

std::string Utf8(const wchar_t* wide, std::size_t length) {
  return CodePageFromWide(wide, length, CP_UTF8, 0, nullptr);
}

std::string Utf8(const std::wstring& wide) { return Utf8(wide.data(), wide.size()); }

std::string AnsiToUtf8(const std::string& ansi) { return Utf8(WideFromCodePage(ansi, CP_ACP)); }

std::string Utf8ToAnsi(const std::string& utf8) {
  const std::wstring wide = Wide(utf8);
  return CodePageFromWide(wide.data(), wide.size(), CP_ACP, 0, nullptr);
}

std::string Win32Platform::CommandLine() {
  const wchar_t* line = GetCommandLineW();
  return line ? Utf8(line, wcslen(line)) : std::string();
}

std::string Win32Platform::ModulePath() {
  // The module that holds this code, which is not the process's executable
  // when another program has loaded modrik.exe to call its exports.
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&DefaultPlatform), &self);
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(self, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return Utf8(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
    if (buffer.size() > 65536) return std::string();
  }
}

std::string Win32Platform::CurrentDirectory() {
  DWORD length = GetCurrentDirectoryW(0, nullptr);
  if (length == 0) return std::string();
  std::vector<wchar_t> buffer(length + 1);
  length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  return Utf8(buffer.data(), length < buffer.size() ? length : 0);
}

std::string Win32Platform::EnvironmentVariable(const std::string& name) {
  const std::wstring wideName = Wide(name);
  DWORD length = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (length == 0) return std::string();
  std::vector<wchar_t> buffer(length + 1);
  length = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return Utf8(buffer.data(), length < buffer.size() ? length : 0);
}

void Win32Platform::SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

bool Win32Platform::FileAttributesExist(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32Platform::FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// Creates (or opens) the file, cuts it to zero length and writes the bytes.
bool WriteFileAt(Win32Platform& sys, const std::string& path, const std::string& bytes,
                 DWORD disposition) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    sys.Trace("CreateFileW " + path + " failed, error " + std::to_string(GetLastError()));
    return false;
  }
  bool ok = SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
            SetEndOfFile(file);
  if (ok && !bytes.empty()) {
    DWORD written = 0;
    ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
  }
  if (!ok) sys.Trace("writing " + path + " failed, error " + std::to_string(GetLastError()));
  CloseHandle(file);
  return ok;
}

}  // namespace

bool Win32Platform::WriteWholeFile(const std::string& path, const std::string& bytes) {
  return WriteFileAt(*this, path, bytes, OPEN_ALWAYS);
}

bool Win32Platform::ReplaceWholeFile(const std::string& path, const std::string& bytes) {
  // A name of this write's own: a process ended between the write and the
  // move leaves its file behind, and Wine gives its id to later processes.
  char own[40];
  std::snprintf(own, sizeof(own), ".%lu-%016llx.new", static_cast<unsigned long>(GetCurrentProcessId()),
                static_cast<unsigned long long>(RandomNumber()));
  const std::string fresh = path + own;
  if (!WriteFileAt(*this, fresh, bytes, CREATE_NEW)) return false;
  if (MoveFileExW(Wide(fresh).c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  Trace("MoveFileExW " + fresh + " to " + path + " failed, error " + std::to_string(GetLastError()));
  DeleteFileW(Wide(fresh).c_str());
  return false;
}

void Win32Platform::Trace(const std::string& line) {
  // The UTF-8 bytes as they are: Wine prints only the narrow form on its
  // debug channel (with every byte past ASCII as \xNN), and a name in any
  // script stays exact there.
  OutputDebugStringA(("modrik: " + line).c_str());
}

bool Win32Platform::WriteTextFile(const std::string& path, const std::string& text) {
  const std::wstring wide = Wide(text);
  BOOL lossy = FALSE;
  const std::string ansi =
      CodePageFromWide(wide.data(), wide.size(), CP_ACP, WC_NO_BEST_FIT_CHARS, &lossy);
  // ANSI bytes that happen to form UTF-8 would be read back as UTF-8.
  const bool ansiHoldsIt = !lossy && AnsiToUtf8(ansi) == text && (IsAscii(ansi) || !IsValidUtf8(ansi));
  return WriteWholeFile(path, ansiHoldsIt ? ansi : text);
}

std::string Win32Platform::ReadSharedFile(const std::string& path) {
  return ReadOpenedFile(OpenToRead(path, OPEN_ALWAYS));
}

bool Win32Platform::ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string* bytes) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  bool ok = GetFileSizeEx(file, &size) && static_cast<unsigned long long>(size.QuadPart) <= maxBytes;
  if (ok) {
    bytes->assign(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    DWORD read = 0;
    while (ok && done < bytes->size()) {
      ok = ReadFile(file, bytes->data() + done, static_cast<DWORD>(bytes->size() - done), &read,
                    nullptr) && read > 0;
      done += read;
    }
  }
  CloseHandle(file);
  return ok;
}

bool Win32Platform::RemoveFolder(const std::string& path) {
  return RemoveDirectoryW(Wide(path).c_str()) != 0;
}

bool Win32Platform::DeleteFileAt(const std::string& path) {
  return DeleteFileW(Wide(path).c_str()) != 0;
}

bool Win32Platform::MoveFileTo(const std::string& from, const std::string& to) {
  return MoveFileW(Wide(from).c_str(), Wide(to).c_str()) != 0;
}

std::vector<FoundFile> Win32Platform::FindFiles(const std::string& pattern) {
  std::vector<FoundFile> found;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(Wide(pattern).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    FoundFile entry;
    entry.name = Utf8(data.cFileName, wcslen(data.cFileName));
    entry.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    entry.system = (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
    entry.writeTime = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                      data.ftLastWriteTime.dwLowDateTime;
    found.push_back(entry);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return found;
}

std::string Win32Platform::ProfileString(const std::string& section, const std::string& key,
                                         const std::string& fallback, const std::string& file,
                                         std::size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  std::vector<wchar_t> buffer(bufferSize, L'\0');
  // The system's reader decodes a file with a byte-order mark itself, and
  // any other file in the ANSI code page.
  GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(fallback).c_str(),
                           buffer.data(), static_cast<DWORD>(bufferSize), Wide(file).c_str());
  buffer.back() = L'\0';
  const std::string bytes = ReadOpenedFile(OpenToRead(file, OPEN_EXISTING));
  if (HasByteOrderMark(bytes) || IsAscii(bytes) || !IsValidUtf8(bytes)) return Utf8Of(buffer);
  // UTF-8 without a mark, as an editor on the host saves it: the value's
  // characters, one per byte of the code page, give back its bytes.
  std::size_t length = 0;
  while (buffer[length] != L'\0') ++length;
  std::string value = CodePageFromWide(buffer.data(), length, CP_ACP, 0, nullptr);
  // A value cut at the buffer's end may end inside a character.
  while (!value.empty() && !IsValidUtf8(value)) value.pop_back();
  return value;
}

std::string Win32Platform::RegistryValueText(std::uint32_t root, const std::string& subkey,
                                             const std::string& valueName) {
  // Read access is enough to read the value, and is what a standard user is
  // granted on keys of the local machine.
  HKEY key = nullptr;
  if (RegOpenKeyExW(RootKey(root), Wide(subkey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::string();
  std::vector<wchar_t> data(256, L'\0');
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  RegQueryValueExW(key, Wide(valueName).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                   &size);
  RegCloseKey(key);
  return Utf8Of(data);
}

std::int32_t Win32Platform::RegistryDeleteKey(std::uint32_t root, const std::string& subkey) {
  const std::wstring wideSubkey = Wide(subkey);
  HKEY key = nullptr;
  if (RegOpenKeyExW(RootKey(root), wideSubkey.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return 0;
  LONG result = RegDeleteKeyW(RootKey(root), wideSubkey.c_str());
  RegCloseKey(key);
  return result;
}

void* LaterExport(const wchar_t* library, const char* name) {
  HMODULE module = LoadLibraryW(library);
  return module == nullptr ? nullptr : reinterpret_cast<void*>(GetProcAddress(module, name));
}

int Win32Platform::ShowMessage(const std::string& text, const std::string& title, unsigned style) {
  static const auto messageBox = LaterExport<decltype(&MessageBoxW)>(L"user32.dll", "MessageBoxW");
  if (messageBox == nullptr) return 0;
  return messageBox(nullptr, Wide(text).c_str(), Wide(title).c_str(), style);
}

void* Win32Platform::WineGetVersionAddress() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version"));
}

std::string Win32Platform::LowerCase(const std::string& text) {
  std::wstring wide = Wide(text);
  // As CharLowerBuffW does it, without linking user32.
  if (!wide.empty())
    LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, wide.data(), static_cast<int>(wide.size()), wide.data(),
                 static_cast<int>(wide.size()));
  return Utf8(wide);
}

std::string Win32Platform::UpperCase(const std::string& text) {
  std::wstring wide = Wide(text);
  if (!wide.empty())
    LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()), wide.data(),
                 static_cast<int>(wide.size()));
  return Utf8(wide);
}

std::string Win32Platform::DecodeText(const std::string& bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::kAnsi) return AnsiToUtf8(bytes);
  std::wstring wide(bytes.size() / 2, L'\0');
  for (std::size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  return Utf8(wide);
}

bool Win32Platform::EncodeText(const std::string& text, TextEncoding encoding, std::string* bytes) {
  const std::wstring wide = Wide(text);
  if (encoding == TextEncoding::kAnsi) {
    BOOL lossy = FALSE;
    *bytes = CodePageFromWide(wide.data(), wide.size(), CP_ACP, WC_NO_BEST_FIT_CHARS, &lossy);
    return !lossy && AnsiToUtf8(*bytes) == text;
  }
  bytes->clear();
  for (wchar_t c : wide) {
    bytes->push_back(static_cast<char>(c & 0xFF));
    bytes->push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  return IsValidUtf8(text);
}

}  // namespace platform
