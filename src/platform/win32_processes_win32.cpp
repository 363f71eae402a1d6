// The real platform: starting processes, a Windows player through the shell
// and host programs through Wine, waiting for them, and the named locks
// between modrik's processes.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/win32_platform.h"

namespace platform {

bool Win32Platform::ShellStart(const std::string& verb, const std::string& file,
                               const std::string& parameters, const std::string& directory,
                               int show, Handle* process) {
  const std::wstring wideVerb = Wide(verb), wideFile = Wide(file), wideParameters = Wide(parameters),
                     wideDirectory = Wide(directory);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // The started process's handle, to wait for it; the start is done when
  // the call returns.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = wideVerb.c_str();
  info.lpFile = wideFile.c_str();
  info.lpParameters = wideParameters.c_str();
  info.lpDirectory = wideDirectory.c_str();
  info.nShow = show;
  *process = 0;
  static const auto shellExecute = LaterExport<decltype(&ShellExecuteExW)>(L"shell32.dll", "ShellExecuteExW");
  if (shellExecute == nullptr || !shellExecute(&info)) {
    Trace("ShellExecuteExW " + file + " failed, error " + std::to_string(GetLastError()));
    return false;
  }
  *process = reinterpret_cast<Handle>(info.hProcess);
  // The player ends with this process, however it ends: it joins a job
  // whose processes end when its last handle (this process's) is closed.
  static const HANDLE job = [] {
    const HANDLE made = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (made != nullptr &&
        !SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
      CloseHandle(made);
      return HANDLE(nullptr);
    }
    return made;
  }();
  if (info.hProcess != nullptr && (job == nullptr || !AssignProcessToJobObject(job, info.hProcess)))
    Trace("the player does not end with this process: no job, error " + std::to_string(GetLastError()));
  return true;
}

namespace {

// ntdll's __wine_unix_spawnvp(argv, wait): Wine's own start of a host
// program (winebrowser's), internal to Wine and so looked up at run time.
using WineSpawnFn = LONG(CDECL*)(char* const argv[], int wait);

WineSpawnFn WineSpawn() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<WineSpawnFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "__wine_unix_spawnvp")));
}

std::string HostCommandText(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& word : argv) line += (line.empty() ? "" : " ") + WindowsArgument(word);
  return line;
}

}  // namespace

bool Win32Platform::HostSpawnWaits() { return WineSpawn() != nullptr; }

int Win32Platform::SpawnOnHost(const std::vector<std::string>& argv) {
  if (argv.empty()) return kHostNotStarted;
  if (const WineSpawnFn spawn = WineSpawn()) {
    // The words go as they are: UTF-8 is the host's encoding too.
    std::vector<std::string> words = argv;
    std::vector<char*> pointers;
    for (std::string& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    const LONG status = spawn(pointers.data(), 1);
    // An NTSTATUS when the program could not be started.
    if (status < 0 || status > 255) {
      Trace("host program " + argv[0] + " not started, status " + std::to_string(status));
      return kHostNotStarted;
    }
    return static_cast<int>(status);
  }
  // Wine hands a host program the words the C runtime's rules read from its
  // command line; its path works through "\\?\unix" without any drive.
  std::wstring application = Wide("\\\\?\\unix" + argv[0]);
  for (wchar_t& c : application)
    if (c == L'/') c = L'\\';
  std::wstring line = Wide(HostCommandText(argv));
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE,
                      NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process)) {
    Trace("CreateProcessW " + argv[0] + " failed, error " + std::to_string(GetLastError()));
    return kHostNotStarted;
  }
  // Wine gives no handles for a host program.
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  return kHostUnwaited;
}

bool Win32Platform::WaitForEnd(Handle process, unsigned timeoutMs) {
  if (process == 0) return true;
  return WaitForSingleObject(reinterpret_cast<HANDLE>(process), timeoutMs) != WAIT_TIMEOUT;
}

void Win32Platform::CloseProcess(Handle process) {
  if (process != 0) CloseHandle(reinterpret_cast<HANDLE>(process));
}

Handle Win32Platform::LockNamed(const std::string& name, unsigned timeoutMs) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name).c_str());
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

}  // namespace platform
