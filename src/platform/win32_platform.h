// The real platform on Windows and under Wine. Its methods are spread over
// the *_win32.cpp files of this folder by subject.
#pragma once

#include <string>

#include "platform/platform.h"

namespace platform {

// The conversions at the edge: Windows' wide (UTF-16) text and the ANSI code
// page on one side, the program's UTF-8 on the other.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* wide, std::size_t length);
std::string Utf8(const std::wstring& wide);
std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);

// A function of a library that a plain start does not need (the shell,
// windows, OLE), loaded on its first use: each library linked at start
// costs every start under Wine tens of milliseconds. Null when missing.
void* LaterExport(const wchar_t* library, const char* name);
template <typename Fn>
Fn LaterExport(const wchar_t* library, const char* name) {
  return reinterpret_cast<Fn>(LaterExport(library, name));
}

class Win32Platform final : public Platform {
 public:
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
  std::vector<FoundFile> FindFiles(const std::string& pattern) override;
  std::string ProfileString(const std::string& section, const std::string& key,
                            const std::string& fallback, const std::string& file,
                            std::size_t bufferSize) override;
  std::string RegistryValueText(std::uint32_t root, const std::string& subkey,
                                const std::string& valueName) override;
  std::int32_t RegistryDeleteKey(std::uint32_t root, const std::string& subkey) override;
  int ShowMessage(const std::string& text, const std::string& title, unsigned style) override;
  bool ShellStart(const std::string& verb, const std::string& file, const std::string& parameters,
                  const std::string& directory, int show, Handle* process) override;
  int SpawnOnHost(const std::vector<std::string>& argv) override;
  bool HostSpawnWaits() override;
  bool WaitForEnd(Handle process, unsigned timeoutMs) override;
  void CloseProcess(Handle process) override;
  Handle LockNamed(const std::string& name, unsigned timeoutMs) override;
  void UnlockNamed(Handle lock) override;
  void* WineGetVersionAddress() override;
  std::string LowerCase(const std::string& text) override;
  std::string UpperCase(const std::string& text) override;
  std::string DecodeText(const std::string& bytes, TextEncoding encoding) override;
  bool EncodeText(const std::string& text, TextEncoding encoding, std::string* bytes) override;
  // Resources, icons and GDI+ (win32_imaging_win32.cpp).
  Handle LoadModule(const std::string& path) override;
  void EnumIconGroups(Handle module, IconGroupCallback callback) override;
  bool ResourceBytes(Handle module, ResourceName name, std::uintptr_t type,
                     std::string* bytes) override;
  Handle LoadIconFile(const std::string& path, int width, int height) override;
  int GdiplusStart(std::uintptr_t* token) override;
  void GdiplusStop(std::uintptr_t token) override;
  int BitmapFromIcon(Handle icon, Handle* bitmap) override;
  void DisposeImage(Handle image) override;
  int ImageEncoders(std::vector<ImageEncoder>* encoders) override;
  int SaveImage(Handle image, const std::string& file, const std::uint8_t clsid[16]) override;
  // Paths and folders (win32_core_win32.cpp).
  std::string FullPathName(const std::string& path) override;
  std::string WineUnixFileName(const std::string& windowsPath) override;
  bool CreatePrivateFolder(const std::string& path) override;
  // Waiting for the player (win32_player_win32.cpp).
  int ProcessExitCode(Handle process) override;
  bool StandardInputIsStream() override;
  Handle OpenForWriting(const std::string& path) override;
  bool WriteTo(Handle file, const std::string& bytes) override;
  void CloseFile(Handle file) override;
  void ForwardStandardInput(Handle file) override;
  bool StandardOutputGiven(StandardOutput which) override;
  Handle OpenForReading(const std::string& path) override;
  void ForwardToStandardOutput(Handle file, StandardOutput which) override;
  void FinishForwarding() override;
  std::uint64_t RandomNumber() override;
};

}  // namespace platform
