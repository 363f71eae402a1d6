// The real platform: what waiting for the player takes — its exit code,
// the caller's stream on standard input, the files of a start on the host.
#include <windows.h>

#include <ntsecapi.h>

#include "platform/win32_platform.h"

namespace platform {

namespace {

// The stream is copied through one buffer of this size, whatever its length.
constexpr DWORD kForwardBufferBytes = 64 * 1024;

HANDLE AsHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

bool WriteAll(HANDLE file, const char* bytes, DWORD size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, size, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

// Copies standard input into the file until the input ends, then closes
// the file: its reader sees the end of the stream.
DWORD WINAPI ForwardInput(void* file) {
  static char buffer[kForwardBufferBytes];
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(input, buffer, sizeof(buffer), &read, nullptr) || read == 0) break;
    if (!WriteAll(static_cast<HANDLE>(file), buffer, read)) break;
  }
  CloseHandle(static_cast<HANDLE>(file));
  return 0;
}

}  // namespace

int Win32Platform::ProcessExitCode(Handle process) {
  DWORD code = 0;
  if (process == 0 || !GetExitCodeProcess(AsHandle(process), &code)) return 0;
  return static_cast<int>(code);
}

bool Win32Platform::StandardInputIsStream() {
  const DWORD type = GetFileType(GetStdHandle(STD_INPUT_HANDLE));
  return type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK;
}

Handle Win32Platform::OpenForWriting(const std::string& path) {
  // Under Wine a host FIFO opens at once, whether or not it has a reader.
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<Handle>(file);
}

bool Win32Platform::WriteTo(Handle file, const std::string& bytes) {
  return file != 0 && WriteAll(AsHandle(file), bytes.data(), static_cast<DWORD>(bytes.size()));
}

void Win32Platform::CloseFile(Handle file) {
  if (file != 0) CloseHandle(AsHandle(file));
}

void Win32Platform::ForwardStandardInput(Handle file) {
  HANDLE thread = CreateThread(nullptr, 0, ForwardInput, AsHandle(file), 0, nullptr);
  if (thread == nullptr) {
    Trace("CreateThread failed, error " + std::to_string(GetLastError()));
    CloseHandle(AsHandle(file));
    return;
  }
  CloseHandle(thread);
}

std::uint64_t Win32Platform::RandomNumber() {
  std::uint64_t number = 0;
  if (!RtlGenRandom(&number, sizeof(number))) {
    // Without the random source: the process id and the time, which do not
    // repeat together.
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    number = (static_cast<std::uint64_t>(GetCurrentProcessId()) << 40) ^
             static_cast<std::uint64_t>(counter.QuadPart);
  }
  return number;
}

}  // namespace platform
