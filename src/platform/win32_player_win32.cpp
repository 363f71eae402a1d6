// The real platform: what waiting for the player takes — its exit code,
// the caller's stream on standard input and its handles for the player's
// output, the files of a start on the host.
#include <windows.h>

#include <ntsecapi.h>

#include <algorithm>

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

// One output being copied, shared by its thread and FinishForwarding.
struct Forwarding {
  HANDLE from = nullptr;
  HANDLE to = nullptr;
  bool console = false;
  // What the thread does now, and since when (GetTickCount).
  volatile LONG state = 0;
  volatile LONG since = 0;
};
constexpr LONG kCopying = 0, kWaitingForData = 1, kEnded = 2;
// The player's two outputs, at most, per process.
Forwarding forwardings[2];
int forwardingCount = 0;

void SetState(Forwarding* f, LONG state) {
  InterlockedExchange(&f->since, static_cast<LONG>(GetTickCount()));
  InterlockedExchange(&f->state, state);
}

// Writes the bytes to a console as the text they are: the whole
// characters among them, the rest of a character cut in two kept in
// `carry` for the next bytes.
bool WriteToConsole(HANDLE console, std::string* carry, const char* bytes, DWORD size) {
  carry->append(bytes, size);
  std::size_t whole = carry->size();
  // Back over at most three bytes of a character not yet complete.
  for (std::size_t back = 1; back <= 3 && back <= carry->size(); ++back) {
    const unsigned char c = static_cast<unsigned char>((*carry)[carry->size() - back]);
    if ((c & 0xC0) == 0x80) continue;
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (length > back) whole = carry->size() - back;
    break;
  }
  const std::wstring text = Wide(carry->substr(0, whole));
  carry->erase(0, whole);
  for (std::size_t at = 0; at < text.size();) {
    DWORD written = 0;
    if (!WriteConsoleW(console, text.data() + at, static_cast<DWORD>(text.size() - at), &written, nullptr) ||
        written == 0)
      return false;
    at += written;
  }
  return true;
}

// Copies the file into its output until the file ends. Once the output
// takes no more (a caller that closed its pipe), the rest is read and
// dropped: the player's writes go on succeeding, as a Windows program's
// fail without ending it, and it plays on.
DWORD WINAPI ForwardOutput(void* forwarding) {
  auto* f = static_cast<Forwarding*>(forwarding);
  std::string buffer(kForwardBufferBytes, '\0'), carry;
  bool taken = true;
  for (;;) {
    SetState(f, kWaitingForData);
    DWORD read = 0;
    if (!ReadFile(f->from, buffer.data(), kForwardBufferBytes, &read, nullptr) || read == 0) break;
    SetState(f, kCopying);
    taken = taken && (f->console ? WriteToConsole(f->to, &carry, buffer.data(), read)
                                 : WriteAll(f->to, buffer.data(), read));
  }
  CloseHandle(f->from);
  SetState(f, kEnded);
  return 0;
}

// An existing file (or a host FIFO: under Wine one opens at once, whether
// or not it has its other end), for reading or writing; 0 when it cannot.
Handle OpenExisting(const std::string& path, DWORD access) {
  HANDLE file = CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<Handle>(file);
}

DWORD StandardHandleId(StandardOutput which) {
  return which == StandardOutput::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

}  // namespace

bool Win32Platform::StandardOutputGiven(StandardOutput which) {
  return GetFileType(GetStdHandle(StandardHandleId(which))) != FILE_TYPE_UNKNOWN;
}

void Win32Platform::ForwardToStandardOutput(Handle file, StandardOutput which) {
  if (forwardingCount == 2) {
    CloseHandle(AsHandle(file));
    return;
  }
  Forwarding* f = &forwardings[forwardingCount];
  f->from = AsHandle(file);
  f->to = GetStdHandle(StandardHandleId(which));
  DWORD mode = 0;
  f->console = GetConsoleMode(f->to, &mode) != 0;
  SetState(f, kCopying);
  HANDLE thread = CreateThread(nullptr, 0, ForwardOutput, f, 0, nullptr);
  if (thread == nullptr) {
    Trace("CreateThread failed, error " + std::to_string(GetLastError()));
    CloseHandle(f->from);
    return;
  }
  ++forwardingCount;
  CloseHandle(thread);
}

void Win32Platform::FinishForwarding() {
  // Waiting this long for data with none coming, an output is done; one
  // that has taken nothing for the longer bound is given up.
  // (Quiet counts from this call on too: bytes written just before the
  // end may not have woken the thread yet.)
  constexpr DWORD kQuietMs = 100, kStuckMs = 30000, kPollMs = 5;
  const DWORD began = GetTickCount();
  for (;;) {
    bool busy = false;
    for (int i = 0; i < forwardingCount; ++i) {
      const LONG state = forwardings[i].state;
      const DWORD now = GetTickCount();
      const DWORD age = (std::min)(now - static_cast<DWORD>(forwardings[i].since), now - began);
      if (state == kCopying ? age < kStuckMs : state == kWaitingForData && age < kQuietMs) busy = true;
    }
    if (!busy) return;
    Sleep(kPollMs);
  }
}

int Win32Platform::ProcessExitCode(Handle process) {
  DWORD code = 0;
  if (process == 0 || !GetExitCodeProcess(AsHandle(process), &code)) return 0;
  return static_cast<int>(code);
}

bool Win32Platform::StandardInputIsStream() {
  const DWORD type = GetFileType(GetStdHandle(STD_INPUT_HANDLE));
  return type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK;
}

Handle Win32Platform::OpenForWriting(const std::string& path) { return OpenExisting(path, GENERIC_WRITE); }

Handle Win32Platform::OpenForReading(const std::string& path) { return OpenExisting(path, GENERIC_READ); }

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
