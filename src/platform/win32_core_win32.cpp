// The real platform: process, files, settings, registry, shell and text.
#include <windows.h>

#include <shellapi.h>

#include <vector>

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

std::string ConvertCodePage(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return std::string();
  int wideLength = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wideLength <= 0) return std::string();
  std::vector<wchar_t> wide(wideLength);
  MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), wide.data(), wideLength);
  int length = WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string out(length, '\0');
  WideCharToMultiByte(to, 0, wide.data(), wideLength, out.data(), length, nullptr, nullptr);
  return out;
}

}  // namespace

std::string Win32Platform::CommandLine() {
  const char* line = GetCommandLineA();
  return line ? std::string(line) : std::string();
}

std::string Win32Platform::ModulePath() {
  // The module that holds this code, which is not the process's executable
  // when another program has loaded modrik.exe to call its exports.
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&DefaultPlatform), &self);
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(self, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
    if (buffer.size() > 65536) return std::string();
  }
}

std::string Win32Platform::CurrentDirectory() {
  DWORD length = GetCurrentDirectoryA(0, nullptr);
  if (length == 0) return std::string();
  std::vector<char> buffer(length + 1);
  length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  return std::string(buffer.data(), length < buffer.size() ? length : 0);
}

std::string Win32Platform::EnvironmentVariable(const std::string& name) {
  DWORD length = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (length == 0) return std::string();
  std::vector<char> buffer(length + 1);
  length = GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::string(buffer.data(), length < buffer.size() ? length : 0);
}

void Win32Platform::SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

bool Win32Platform::FileAttributesExist(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32Platform::WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
            SetEndOfFile(file);
  if (ok && !bytes.empty()) {
    DWORD written = 0;
    ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
  }
  CloseHandle(file);
  return ok;
}

std::string Win32Platform::ReadSharedFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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

bool Win32Platform::DeleteFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool Win32Platform::MoveFileTo(const std::string& from, const std::string& to) {
  return MoveFileA(from.c_str(), to.c_str()) != 0;
}

std::vector<FoundFile> Win32Platform::FindFiles(const std::string& pattern) {
  std::vector<FoundFile> found;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    FoundFile entry;
    entry.name = data.cFileName;
    entry.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    entry.system = (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
    found.push_back(entry);
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return found;
}

std::string Win32Platform::ProfileString(const std::string& section, const std::string& key,
                                         const std::string& fallback, const std::string& file,
                                         std::size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  std::vector<char> buffer(bufferSize, '\0');
  GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(),
                           static_cast<DWORD>(bufferSize), file.c_str());
  buffer.back() = '\0';
  return std::string(buffer.data());
}

std::string Win32Platform::RegistryValueText(std::uint32_t root, const std::string& subkey,
                                             const std::string& valueName) {
  // Read access is enough to read the value, and is what a standard user is
  // granted on keys of the local machine.
  HKEY key = nullptr;
  if (RegOpenKeyExA(RootKey(root), subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::string();
  char data[256] = {};
  DWORD type = 0;
  DWORD size = sizeof(data);
  RegQueryValueExA(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  std::size_t length = 0;
  while (length < sizeof(data) && data[length] != '\0') ++length;
  return std::string(data, length);
}

std::int32_t Win32Platform::RegistryDeleteKey(std::uint32_t root, const std::string& subkey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(RootKey(root), subkey.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return 0;
  LONG result = RegDeleteKeyA(RootKey(root), subkey.c_str());
  RegCloseKey(key);
  return result;
}

int Win32Platform::ShowMessage(const std::string& text, const std::string& title, unsigned style) {
  return MessageBoxA(nullptr, text.c_str(), title.c_str(), style);
}

void Win32Platform::ShellStart(const std::string& verb, const std::string& file,
                               const std::string& parameters, const std::string& directory,
                               int show) {
  ShellExecuteA(nullptr, verb.c_str(), file.c_str(), parameters.c_str(), directory.c_str(), show);
}

namespace {

// CreateProcessA, hidden, normal priority, no inherited handles.
bool StartHiddenCommand(const std::string& commandLine, PROCESS_INFORMATION* process) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, process) != 0;
}

}  // namespace

bool Win32Platform::StartHidden(const std::string& commandLine, bool wait) {
  PROCESS_INFORMATION process = {};
  if (!StartHiddenCommand(commandLine, &process)) return false;
  if (wait) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

Handle Win32Platform::StartHiddenProcess(const std::string& commandLine) {
  PROCESS_INFORMATION process = {};
  if (!StartHiddenCommand(commandLine, &process)) return 0;
  CloseHandle(process.hThread);
  return reinterpret_cast<Handle>(process.hProcess);
}

bool Win32Platform::WaitForEnd(Handle process, unsigned timeoutMs) {
  if (process == 0) return true;
  return WaitForSingleObject(reinterpret_cast<HANDLE>(process), timeoutMs) != WAIT_TIMEOUT;
}

void Win32Platform::CloseProcess(Handle process) {
  if (process != 0) CloseHandle(reinterpret_cast<HANDLE>(process));
}

Handle Win32Platform::LockNamed(const std::string& name, unsigned timeoutMs) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return 0;
  DWORD waited = WaitForSingleObject(mutex, timeoutMs);
  // An abandoned lock (its holder ended without releasing it) is ours now.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return 0;
  }
  return reinterpret_cast<Handle>(mutex);
}

void Win32Platform::UnlockNamed(Handle lock) {
  if (lock == 0) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(lock);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

void* Win32Platform::WineGetVersionAddress() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version"));
}

std::string Win32Platform::LowerAnsi(const std::string& text) {
  std::string out = text;
  if (!out.empty()) CharLowerBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string Win32Platform::UpperAnsi(const std::string& text) {
  std::string out = text;
  if (!out.empty()) CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string Win32Platform::AnsiToUtf8(const std::string& text) {
  return ConvertCodePage(text, CP_ACP, CP_UTF8);
}

std::string Win32Platform::Utf8ToAnsi(const std::string& text) {
  return ConvertCodePage(text, CP_UTF8, CP_ACP);
}

std::u16string Win32Platform::AnsiToWide(const std::string& text) {
  if (text.empty()) return std::u16string();
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::u16string();
  std::u16string out(length, u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(out.data()), length);
  return out;
}

std::string Win32Platform::WideToAnsi(const std::u16string& text) {
  if (text.empty()) return std::string();
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  int length = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string out(length, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), out.data(), length, nullptr,
                      nullptr);
  return out;
}

}  // namespace platform
