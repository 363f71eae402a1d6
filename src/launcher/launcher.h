// The launcher's rules: the command line, the settings file, player
// detection and the arguments a native player receives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modrik {

// Process-wide values, set during the main routine.
extern bool UnderWine;
extern std::string SettingsPath;
extern std::string PlayerPath;

// ---- the command line ----
std::string CommandTail();
std::string CommandParam(int n);
// The same rules applied to given texts.
std::string CommandTailOf(const std::string& commandLine);
std::string CommandParamOf(const std::string& tail, int n);
// Every parameter of a tail, in order.
std::vector<std::string> CommandParamsOf(const std::string& tail);

// One word of a command tail: its text, and the text as it stands in the
// tail (its double quotes included).
struct TailWord {
  std::string text;
  std::string source;
};
// Blanks (space, tab) outside double quotes separate words; the quotes
// group and are removed from the text; every other character is literal.
std::vector<TailWord> SplitTailWords(const std::string& tail);

// The arguments a native player receives for the command tail, relative
// names taken in the caller's working folder.
std::vector<std::string> UnixPlayerArguments(const std::string& tail,
                                             const std::string& currentDirectory);

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
// Where a player installed as a Flatpak or a Snap is found, in the order
// they are tried when whereis names none.
std::vector<std::string> PackagedPlayerLocations();

}  // namespace modrik
