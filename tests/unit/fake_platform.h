// A scripted stand-in for the operating system, for the unit tests.
//
// Files live in memory, keyed by their path compared without regard to
// letter case (as Windows compares them). Every call that matters is logged,
// and the answers (message box replies, registry values, directory listings,
// host commands) are scripted by the test.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct ShellCall {
  std::string verb, file, parameters, directory;
  int show = 0;
};

struct MessageCall {
  std::string text, title;
  unsigned style = 0;
};

// One host program started: its words, and for reading them at a glance
// the words joined by blanks (a program text given to "sh -c" shown as
// "<program>").
struct ProcessCall {
  std::vector<std::string> argv;
  std::string commandLine;
};

// An icon group or icon image resource of a scripted module.
struct FakeModule {
  // Group names in enumeration order: a text, or "#N" for integer id N.
  std::vector<std::string> groupNames;
  std::map<std::string, std::string> groups;  // name -> RT_GROUP_ICON bytes
  std::map<int, std::string> icons;           // id -> RT_ICON bytes
};

class FakePlatform : public platform::Platform {
 public:
  FakePlatform();
  ~FakePlatform() override;

  // ---- scripted state (tests set these directly) ----
  std::string commandLine = "modrik.exe";
  std::string modulePath = "C:\\Apps\\modrik.exe";
  std::string currentDirectory = "C:\\Apps";
  std::map<std::string, std::string> environment;
  // Files: lower-cased path -> bytes. Folders: lower-cased paths (no
  // trailing backslash).
  std::map<std::string, std::string> files;
  std::map<std::string, bool> folders;
  std::map<std::string, bool> readOnlyFolders;
  // When each file was last written (100 ns steps since 1601), and the
  // clock that stamps the files written by the program.
  std::map<std::string, std::uint64_t> writeTimes;
  std::uint64_t now = 134000000000000000ull;
  // Directory searches: pattern (exact) -> entries; a pattern not scripted
  // here lists the files and folders in memory whose names match it.
  std::map<std::string, std::vector<platform::FoundFile>> searches;
  // Registry: "root|subkey|value" (subkey lower-cased) -> data; keys present.
  std::map<std::string, std::string> registryValues;
  std::map<std::string, bool> registryKeys;
  std::deque<int> messageAnswers;  // answers of successive message boxes (default IDNO)
  // Wine: null for "not under Wine".
  bool wineExport = false;
  const char* wineVersionText = nullptr;
  // Called for every started host program with its command line (see
  // ProcessCall); it may change the files (to play the host's part) and
  // returns whether it started.
  std::function<bool(const std::string&)> onStart;
  // Wine's own spawn is there (host programs are waited for), and the status
  // they end with. Without it, a host program given a status file (the last
  // word of host_command.sh's) leaves this status there.
  bool hostSpawnWaits = true;
  int hostStatus = 0;
  bool leavesStatus = true;
  // Modules that LoadModule can load, by path as given.
  std::map<std::string, FakeModule> modules;
  // Icon files LoadIconFile accepts: lower-cased path.
  std::map<std::string, bool> loadableIcons;
  // GDI+.
  int gdiplusStartStatus = 0;
  std::vector<platform::ImageEncoder> encoders;
  int encodersStatus = 0;
  int saveStatus = 0;  // returned by SaveImage; on 0 the file is written
  // GetFullPathNameW's answers, by the exact path asked; any other path is
  // its own full path.
  std::map<std::string, std::string> fullPathNames;
  // Wine's host paths for Windows paths (keyed like files); none for others.
  std::map<std::string, std::string> unixFileNames;
  // Processes: whether the shell starts one, and the code they all end with.
  bool shellStarts = true;
  int exitCode = 0;
  // Standard input: a stream (pipe or file), and the files it was forwarded to.
  bool inputIsStream = false;
  std::vector<std::string> forwardedTo;
  // Standard output and error given by the caller; the files forwarded to
  // them ("PATH>1", "PATH>2"), and the calls that waited for the copying.
  bool outputGiven = false, errorGiven = false;
  std::vector<std::string> forwardedOut;
  int forwardingFinished = 0;
  // Files opened for writing (by path, as given), with what was written, and
  // how many are still open.
  std::vector<std::pair<std::string, std::string>> writes;
  int openWrites = 0;
  std::uint64_t randomNumber = 0x5EED;

  // ---- logs ----
  std::vector<MessageCall> messages;
  std::vector<ShellCall> shellCalls;
  std::vector<ProcessCall> processes;
  // Named locks: the names taken, how deep the lock is held now, and that
  // depth at each host program's start and each log read.
  std::vector<std::string> lockNames;
  int lockDepth = 0;
  std::vector<int> lockDepthAtStart;
  // Waits for started processes: the index in `processes` and the bound;
  // a process counts as ended after `endsAfterWaits` waits on it.
  std::vector<std::pair<std::size_t, unsigned>> endWaits;
  std::vector<int> lockDepthAtEndWait;
  int endsAfterWaits = 0;
  int closedProcesses = 0;
  std::vector<int> lockDepthAtRead;
  bool lockUnavailable = false;
  std::vector<unsigned> sleeps;
  std::vector<std::string> attributeQueries;
  std::vector<std::string> loadedModules;
  std::vector<std::pair<std::string, std::pair<int, int>>> iconLoads;
  std::vector<std::string> savedImages;  // file names given to SaveImage
  int encoderSearches = 0;
  int gdiplusStarts = 0, gdiplusStops = 0, disposedImages = 0;
  std::vector<std::string> profileReads;  // file names given to ProfileString
  std::vector<std::string> traces;
  std::vector<std::string> createdFolders;  // by CreatePrivateFolder, in order

  // ---- helpers for tests ----
  void AddFile(const std::string& path, const std::string& bytes);
  void AddFolder(const std::string& path);
  bool HasFile(const std::string& path) const;
  std::string FileBytes(const std::string& path) const;
  static std::string Key(const std::string& path);

  // ---- Platform ----
  std::string CommandLine() override;
  std::string ModulePath() override;
  std::string CurrentDirectory() override;
  std::string EnvironmentVariable(const std::string& name) override;
  void SleepMs(unsigned milliseconds) override;
  bool FileAttributesExist(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  bool WriteWholeFile(const std::string& path, const std::string& bytes) override;
  bool WriteTextFile(const std::string& path, const std::string& text) override;
  bool ReplaceWholeFile(const std::string& path, const std::string& bytes) override;
  void Trace(const std::string& line) override;
  std::string ReadSharedFile(const std::string& path) override;
  bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string* bytes) override;
  bool RemoveFolder(const std::string& path) override;
  bool DeleteFileAt(const std::string& path) override;
  bool MoveFileTo(const std::string& from, const std::string& to) override;
  std::vector<platform::FoundFile> FindFiles(const std::string& pattern) override;
  std::string ProfileString(const std::string& section, const std::string& key,
                            const std::string& fallback, const std::string& file,
                            std::size_t bufferSize) override;
  std::string RegistryValueText(std::uint32_t root, const std::string& subkey,
                                const std::string& valueName) override;
  std::int32_t RegistryDeleteKey(std::uint32_t root, const std::string& subkey) override;
  int ShowMessage(const std::string& text, const std::string& title, unsigned style) override;
  bool ShellStart(const std::string& verb, const std::string& file,
                  const std::string& parameters, const std::string& directory,
                  int show, platform::Handle* process) override;
  int SpawnOnHost(const std::vector<std::string>& argv) override;
  bool HostSpawnWaits() override;
  bool WaitForEnd(platform::Handle process, unsigned timeoutMs) override;
  void CloseProcess(platform::Handle process) override;
  platform::Handle LockNamed(const std::string& name, unsigned timeoutMs) override;
  void UnlockNamed(platform::Handle lock) override;
  void* WineGetVersionAddress() override;
  std::string LowerCase(const std::string& text) override;
  std::string UpperCase(const std::string& text) override;
  // The ANSI code page is Latin-1 here: every character up to U+00FF.
  std::string DecodeText(const std::string& bytes, platform::TextEncoding encoding) override;
  bool EncodeText(const std::string& text, platform::TextEncoding encoding,
                  std::string* bytes) override;
  platform::Handle LoadModule(const std::string& path) override;
  void EnumIconGroups(platform::Handle module, platform::IconGroupCallback callback) override;
  bool ResourceBytes(platform::Handle module, platform::ResourceName name, std::uintptr_t type,
                     std::string* bytes) override;
  platform::Handle LoadIconFile(const std::string& path, int width, int height) override;
  int GdiplusStart(std::uintptr_t* token) override;
  void GdiplusStop(std::uintptr_t token) override;
  int BitmapFromIcon(platform::Handle icon, platform::Handle* bitmap) override;
  void DisposeImage(platform::Handle image) override;
  int ImageEncoders(std::vector<platform::ImageEncoder>* encoders) override;
  int SaveImage(platform::Handle image, const std::string& file,
                const std::uint8_t clsid[16]) override;
  std::string FullPathName(const std::string& path) override;
  std::string WineUnixFileName(const std::string& path) override;
  bool CreatePrivateFolder(const std::string& path) override;
  int ProcessExitCode(platform::Handle process) override;
  bool StandardInputIsStream() override;
  platform::Handle OpenForWriting(const std::string& path) override;
  bool WriteTo(platform::Handle file, const std::string& bytes) override;
  void CloseFile(platform::Handle file) override;
  void ForwardStandardInput(platform::Handle file) override;
  bool StandardOutputGiven(platform::StandardOutput which) override;
  platform::Handle OpenForReading(const std::string& path) override;
  void ForwardToStandardOutput(platform::Handle file, platform::StandardOutput which) override;
  void FinishForwarding() override;
  std::uint64_t RandomNumber() override;

 private:
  std::vector<std::string> moduleOrder_;      // handle - 1 -> path
  std::vector<std::string> resourceNames_;    // storage for text resource names
};

// The process-wide values of the program, back to their start state.
void ResetProgramState();

}  // namespace fake
