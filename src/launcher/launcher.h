// The launcher: main routine, command line, settings file, player detection.
#pragma once

#include <cstdint>
#include <string>

namespace modrik {

// Process-wide values, set during the main routine.
extern bool UnderWine;
extern std::string SettingsPath;
extern std::string PlayerPath;

// Fixed texts.
extern const char kProgramName[];     // "modrik"
extern const char kVersionText[];     // "1.3"
std::string MessageTitle();           // "modrik 1.3"
std::string FirstRunQuestion();
std::string PlayerNotFoundMessage();  // names SettingsPath

// The main routine; returns the process exit code (always 0).
int MainRoutine();

// True when the file system reports attributes for the path (file or folder).
bool PathExists(const std::string& path);

// The launcher's view of its own command line.
std::string CommandTail();
std::string CommandParam(int n);
// The same rules applied to given texts.
std::string CommandTailOf(const std::string& commandLine);
std::string CommandParamOf(const std::string& tail, int n);

// The folder of the running executable, with its trailing backslash.
std::string ExecutableFolder();

// ---- settings file ----
std::string SettingsTemplateText(const std::string& playerPath);
void WriteSettingsTemplate();
void ReadPlayerPath();
std::string GetIniString(const std::string& file, const std::string& section,
                         const std::string& key);
std::int32_t GetIniNumber(const std::string& file, const std::string& section,
                          const std::string& key);
// The number conversion behind GetIniNumber.
std::int32_t IniTextToNumber(const std::string& text);
std::int32_t DeleteRegistryKey(std::uint32_t root, const std::string& subkey);

// ---- player detection ----
void DetectPlayer();
std::string ReadRegistryString(std::uint32_t root, const std::string& subkey,
                               const std::string& valueName);
// The player location named by the output of "whereis vlc".
std::string PlayerFromWhereis(const std::string& output);

}  // namespace modrik
