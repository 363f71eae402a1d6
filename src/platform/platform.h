// The thin layer between modrik's rules and the operating system.
//
// Everything that touches Win32, GDI+ or Wine goes through `Platform`. On
// Windows (and under Wine) the real implementation in win32_platform.cpp is
// used; the unit tests on Linux install a scripted stand-in with SetPlatform.
//
// Texts are UTF-8, as the program holds them; the real implementation talks
// to Windows through its wide (UTF-16) API and is the one place that converts.
// Handles are opaque integers (module, icon, GDI+ image).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using Handle = std::uintptr_t;

// Registry root keys, with their Windows values.
constexpr std::uint32_t kHkeyCurrentUser = 0x80000001u;
constexpr std::uint32_t kHkeyLocalMachine = 0x80000002u;

// Message box styles and answers used by the program.
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbYesNo = 0x4;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconInformation = 0x40;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// SpawnOnHost's answers besides an exit status.
constexpr int kHostNotStarted = -1;
constexpr int kHostUnwaited = -2;

// WaitForEnd without a bound (INFINITE).
constexpr unsigned kNoTimeout = 0xFFFFFFFFu;

// Show states for ShellExecuteW.
constexpr int kSwShow = 5;
constexpr int kSwShowMinNoActive = 7;

// Resource types.
constexpr std::uintptr_t kRtIcon = 3;
constexpr std::uintptr_t kRtGroupIcon = 14;

// One entry reported by a directory search (FindFirstFileW / FindNextFileW).
struct FoundFile {
  std::string name;  // as stored on disk
  bool directory = false;
  bool hidden = false;
  bool system = false;
  std::uint64_t writeTime = 0;  // last written, in 100 ns steps since 1601
};

// Encodings of text files besides UTF-8, the program's own.
enum class TextEncoding { kAnsi, kUtf16Le };

// The process's two outputs.
enum class StandardOutput { kOutput, kError };

// One GDI+ image encoder: the two fields of ImageCodecInfo that are used.
struct ImageEncoder {
  std::uint8_t clsid[16] = {};
  std::string mimeType;
};

// A resource name as Windows passes it: either a pointer to a text or a
// small integer identifier (values below 0x10000).
using ResourceName = std::uintptr_t;
inline bool IsIntResource(ResourceName name) { return name < 0x10000; }

// Called once per icon-group resource name during EnumIconGroups; return
// true to go on with the next group.
using IconGroupCallback = bool (*)(Handle module, ResourceName name);

class Platform {
 public:
  virtual ~Platform() = default;

  // ---- process and environment -------------------------------------------
  virtual std::string CommandLine() = 0;  // GetCommandLineW
  // Full path of the module that holds the program's code (the executable
  // itself, also when another program has loaded it to call its exports).
  virtual std::string ModulePath() = 0;
  virtual std::string CurrentDirectory() = 0;  // GetCurrentDirectoryW
  // GetEnvironmentVariableW; empty when the variable is missing.
  virtual std::string EnvironmentVariable(const std::string& name) = 0;
  virtual void SleepMs(unsigned milliseconds) = 0;

  // ---- files ----------------------------------------------------------------
  // True when GetFileAttributesW succeeds for the path.
  virtual bool FileAttributesExist(const std::string& path) = 0;
  // True when the path names a folder.
  virtual bool FolderExists(const std::string& path) = 0;
  // Opens (creating when missing) for writing, cuts the file to zero length,
  // writes the bytes in one write and closes it. False on any failure.
  virtual bool WriteWholeFile(const std::string& path, const std::string& bytes) = 0;
  // The same for a text file: written in the ANSI code page when every
  // character of the text has a place there (and the bytes read back as the
  // same text), otherwise as UTF-8, so that nothing is lost.
  virtual bool WriteTextFile(const std::string& path, const std::string& text) = 0;
  // Puts a file with exactly these bytes in the path's place: written whole
  // into a new file beside it, then moved over whatever is there, so that a
  // link in its place is replaced, never written through (nor its target
  // deleted). False, and nothing left behind, when any step fails.
  virtual bool ReplaceWholeFile(const std::string& path, const std::string& bytes) = 0;
  // Opens for reading, sharing read and write access, creating an empty file
  // when missing; reads as many bytes as the file's current length.
  virtual std::string ReadSharedFile(const std::string& path) = 0;
  // Reads an existing file whole (opened sharing read, write and delete
  // access); false when it cannot be read or holds more than maxBytes.
  virtual bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string* bytes) = 0;
  // RemoveDirectoryW: removes an empty folder.
  virtual bool RemoveFolder(const std::string& path) = 0;
  virtual bool DeleteFileAt(const std::string& path) = 0;
  virtual bool MoveFileTo(const std::string& from, const std::string& to) = 0;
  // All entries matching a search pattern, in the order the system reports
  // them ("." and ".." included when the pattern matches them).
  virtual std::vector<FoundFile> FindFiles(const std::string& pattern) = 0;

  // ---- settings files and registry -----------------------------------------
  // GetPrivateProfileString into a buffer of bufferSize characters; returns
  // the buffer's text up to its first NUL. The file is read as UTF-8 when its
  // bytes are valid UTF-8 (with or without a byte-order mark), otherwise in
  // the ANSI code page.
  virtual std::string ProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& file,
                                    std::size_t bufferSize) = 0;
  // Opens root\subkey for reading, queries the named value (empty name: the
  // default value) into a zeroed buffer of 256 characters, closes the key. Returns the
  // buffer's text up to its first zero byte; empty when the key cannot be
  // opened.
  virtual std::string RegistryValueText(std::uint32_t root, const std::string& subkey,
                                        const std::string& valueName) = 0;
  // Opens root\subkey with full access; when that fails returns 0 and deletes
  // nothing, otherwise returns RegDeleteKeyW's result.
  virtual std::int32_t RegistryDeleteKey(std::uint32_t root, const std::string& subkey) = 0;

  // ---- user interface and processes -----------------------------------------
  // MessageBoxW with no owner window; returns the answer.
  virtual int ShowMessage(const std::string& text, const std::string& title, unsigned style) = 0;
  // ShellExecuteExW with no owner window. False when the shell could not
  // start it; otherwise *process is the started process (for WaitForEnd,
  // ProcessExitCode and CloseProcess), or 0 when the shell handed the work
  // to a process that was running already.
  virtual bool ShellStart(const std::string& verb, const std::string& file,
                          const std::string& parameters, const std::string& directory,
                          int show, Handle* process) = 0;
  // Starts a program of the Unix host: argv[0] is its host path, and every
  // word reaches it as it is. Through Wine's own spawn (ntdll's
  // __wine_unix_spawnvp, looked up at run time) the program is a child of
  // this process on the host, with this process's host environment and
  // working folder, and is waited for: the answer is its exit status (0 to
  // 255; 255 also when a signal ended it). A Wine without that function
  // starts it through CreateProcessW on its "\\?\unix" path, which gives no
  // process to wait for: the answer is then kHostUnwaited. kHostNotStarted
  // when it could not be started.
  virtual int SpawnOnHost(const std::vector<std::string>& argv) = 0;
  // True when SpawnOnHost goes through Wine's own spawn (and waits).
  virtual bool HostSpawnWaits() = 0;
  // Waits at most timeoutMs (kNoTimeout: without a bound) for a started
  // process to end; true when it has ended (0 ms only asks).
  virtual bool WaitForEnd(Handle process, unsigned timeoutMs) = 0;
  // Lets go of a started process.
  virtual void CloseProcess(Handle process) = 0;
  // A lock shared by every process of the Wine prefix (a named mutex). Waits
  // at most timeoutMs for it; returns a handle for UnlockNamed, or 0 when
  // the lock could not be had (the caller then goes on without it). The same
  // thread may take it again; each take needs its own unlock.
  virtual Handle LockNamed(const std::string& name, unsigned timeoutMs) = 0;
  virtual void UnlockNamed(Handle lock) = 0;

  // ---- tracing ------------------------------------------------------------------
  // One line (UTF-8) for whoever listens on the system debug channel
  // (OutputDebugStringA; under Wine, WINEDEBUG=+debugstr prints it).
  virtual void Trace(const std::string& line) = 0;

  // ---- Wine -------------------------------------------------------------------
  // Address of ntdll's "wine_get_version" export in the already loaded
  // ntdll.dll, or null (no module, or no such export).
  virtual void* WineGetVersionAddress() = 0;

  // ---- text -------------------------------------------------------------------
  virtual std::string LowerCase(const std::string& text) = 0;  // the user locale's, as CharLowerW
  virtual std::string UpperCase(const std::string& text) = 0;  // the user locale's, as CharUpperW
  // Text from a file's bytes in another encoding, and back: false when some
  // character has no place in that encoding (it then gets a stand-in).
  virtual std::string DecodeText(const std::string& bytes, TextEncoding encoding) = 0;
  virtual bool EncodeText(const std::string& text, TextEncoding encoding, std::string* bytes) = 0;

  // ---- resources and icons ------------------------------------------------------
  virtual Handle LoadModule(const std::string& path) = 0;  // LoadLibraryW; 0 on failure
  // EnumResourceNamesW(module, RT_GROUP_ICON, ...), calling back on this thread.
  virtual void EnumIconGroups(Handle module, IconGroupCallback callback) = 0;
  // FindResourceW + LoadResource + LockResource + SizeofResource. False when
  // any step fails; otherwise the resource's bytes.
  virtual bool ResourceBytes(Handle module, ResourceName name, std::uintptr_t type,
                             std::string* bytes) = 0;
  // LoadImageW(NULL, path, IMAGE_ICON, width, height, LR_LOADFROMFILE); 0 on failure.
  virtual Handle LoadIconFile(const std::string& path, int width, int height) = 0;

  // ---- GDI+ flat interface (statuses: 0 Ok, 2 InvalidParameter, ...) ----------
  virtual int GdiplusStart(std::uintptr_t* token) = 0;
  virtual void GdiplusStop(std::uintptr_t token) = 0;
  virtual int BitmapFromIcon(Handle icon, Handle* bitmap) = 0;
  virtual void DisposeImage(Handle image) = 0;
  // GdipGetImageEncodersSize + GdipGetImageEncoders: the status of the
  // second call, and the records in GDI+'s order.
  virtual int ImageEncoders(std::vector<ImageEncoder>* encoders) = 0;
  // GdipSaveImageToFile with no encoder parameters.
  virtual int SaveImage(Handle image, const std::string& file, const std::uint8_t clsid[16]) = 0;

  // ---- paths and folders ----------------------------------------------------------
  // GetFullPathNameW: the full path Windows opens for a path (".", "..",
  // trailing dots and blanks, drive-relative forms resolved); empty on failure.
  virtual std::string FullPathName(const std::string& path) = 0;
  // kernel32's wine_get_unix_file_name, looked up at run time: the host path
  // Wine opens for a Windows path (DOS or NT form), every existing component
  // in its real name; empty outside Wine and when Wine finds no such place.
  virtual std::string WineUnixFileName(const std::string& windowsPath) = 0;
  // CreateDirectoryW with a security descriptor that grants its owner alone
  // all access: under Wine the host folder gets mode 0700. False when the
  // folder could not be made.
  virtual bool CreatePrivateFolder(const std::string& path) = 0;

  // ---- waiting for the player -----------------------------------------------------
  // The exit code of a process that has ended (GetExitCodeProcess).
  virtual int ProcessExitCode(Handle process) = 0;
  // True when the process's standard input is a pipe or a file, something a
  // caller writes a stream into (not a console, not the null device).
  virtual bool StandardInputIsStream() = 0;
  // Opens an existing file (or a host FIFO) for writing; 0 when it cannot.
  virtual Handle OpenForWriting(const std::string& path) = 0;
  // Writes all the bytes; false on any failure.
  virtual bool WriteTo(Handle file, const std::string& bytes) = 0;
  virtual void CloseFile(Handle file) = 0;
  // Copies the process's standard input into the file as the data arrives,
  // on a thread of its own, through a buffer of fixed size, and closes the
  // file at the input's end (or when the file takes no more).
  virtual void ForwardStandardInput(Handle file) = 0;
  // True when the process has a standard output (or error) its caller gave
  // it: a console, a pipe, a file or a device; not when Wine gave none.
  virtual bool StandardOutputGiven(StandardOutput which) = 0;
  // Opens an existing file (or a host FIFO) for reading; 0 when it cannot.
  virtual Handle OpenForReading(const std::string& path) = 0;
  // Copies the file into the process's standard output (or error) as the
  // data arrives, on a thread of its own, through a buffer of fixed size;
  // text for a console is shown as the UTF-8 it is. The file is closed at
  // its end (or when the output takes no more).
  virtual void ForwardToStandardOutput(Handle file, StandardOutput which) = 0;
  // Returns once every file forwarded so far is copied: it has ended, or has
  // had nothing to give for a moment (what is left then comes from a
  // process that lives on, not from the one that ended).
  virtual void FinishForwarding() = 0;
  // A number from the system's random source.
  virtual std::uint64_t RandomNumber() = 0;
};

// One word of a Windows command line, as CommandLineToArgvW and the C
// runtime read it back: as it stands when it holds no blank, tab or quote
// (and is not empty), else quoted, with backslashes doubled before a quote.
std::string WindowsArgument(const std::string& word);

// The platform in use.
Platform& Sys();
// Installs another platform (the unit tests' stand-in); null restores the default.
void SetPlatform(Platform* replacement);

}  // namespace platform
