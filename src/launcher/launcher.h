// The launcher's rules: the command line, the settings file, player
// detection and the arguments a native player receives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/sandbox.h"

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
// The words of a tail by the rules of the Windows C runtime
// (CommandLineToArgvW): blanks outside double quotes separate words, quotes
// group, backslashes count only before a quote.
std::vector<TailWord> SplitTailWords(const std::string& tail);

// The arguments a native player receives for the command tail, relative
// names taken in the caller's working folder.
std::vector<std::string> UnixPlayerArguments(const std::string& tail,
                                             const std::string& currentDirectory);

// ---- the player's options ----
// The option a long option names as a caller writes it (after "--", before
// any "="): the player's parser takes the name itself or any abbreviation
// that begins only one of its names (counting each switch's "no" and "no-"
// forms, and twice a name two of its modules define), and refuses one that
// begins several. Options that only the player's Windows build knows are
// found the same way, among its names.
struct LongOption {
  enum Kind { kUnknown, kAmbiguous, kPlayer, kWindowsOnly } kind = kUnknown;
  std::string name;  // the full name (kPlayer, kWindowsOnly)
  bool takesValue = false;
  bool negated = false;  // a switch's "noNAME" or "no-NAME" form
};
LongOption FindLongOption(const std::string& written);
// True when the one-letter option (-I) takes a value.
bool LetterTakesValue(char letter);
// True when the option's value (its full name) names a file or a folder.
bool OptionNamesPath(const std::string& name);
// True when the player takes the option (its full name, a switch without
// its "no") from a playlist's #EXTVLCOPT lines: one its modules mark safe.
bool OptionSafeInPlaylist(const std::string& name);
// The long option a one-letter option stands for ("fullscreen" for 'f');
// empty for a letter the player has none for.
std::string LetterOptionName(char letter);

// ---- locations as callers write them ----
// "X:\..." or "X:/...".
bool IsDrivePath(const std::string& word);
// A path that names its place whatever the working folder: a drive path,
// either form of it behind "\\?\" or "\\.\", a network path
// (\\server\share\..., \\?\UNC\server\share\...) or Wine's
// \\?\unix\....
bool IsWindowsPath(const std::string& word);
// A name taken in a folder, as Windows takes it: no drive, no network share.
// A name rooted with a slash is on the folder's drive.
bool IsRelativeName(const std::string& word);
std::string InFolder(const std::string& folder, const std::string& name);
// "scheme://...": a location the player opens by itself.
bool IsUrl(const std::string& word);
// "%XX" escapes decoded; a "%" without two hex digits stays as it is.
std::string PercentDecoded(const std::string& text);
// The file: URL of a Unix path: every byte but letters, digits, "-._~" and
// "/" as "%XX", as the player writes its URLs.
std::string FileUrlOf(const std::string& unixPath);
// A file: URL of a Windows path (file:///C:/..., file://localhost/C:/...):
// the path, decoded, and what follows it ("?..." or "#..."). The path is
// empty for any other word.
struct WindowsFileUrl {
  std::string path;
  std::string suffix;
};
WindowsFileUrl ParseWindowsFileUrl(const std::string& word);
// The address of a disc in a drive (dvd:///D:\, vcd://D:/, cdda:, bluray:):
// the scheme with its "://", the drive ("D:"), the path after the drive and
// the title part ("#..."). The scheme is empty for any other word.
struct DiscAddress {
  std::string scheme;
  std::string drive;
  std::string path;
  std::string suffix;
};
DiscAddress ParseDiscAddress(const std::string& word);

// ---- playlists written on Windows ----
enum class PlaylistEncoding { kUtf8, kUtf8WithMark, kUtf16Le, kAnsi };
// An entry of a list that names a Windows path: where it stands in the
// list's text, the path, what follows it, and whether it is written as a
// file: URL.
struct PlaylistEntry {
  std::size_t at = 0, length = 0;
  std::string windowsPath;
  std::string suffix;
  bool asUrl = false;
};
struct Playlist {
  std::string folder;  // the list's folder (Windows view)
  std::string name;    // its file name
  PlaylistEncoding encoding = PlaylistEncoding::kUtf8;
  std::string text;    // its text in UTF-8, without a byte-order mark
  std::vector<PlaylistEntry> entries;
};
// .m3u, .m3u8, .pls or .xspf, in any letter case.
bool IsPlaylistName(const std::string& path);
// The list at a Windows path, when it can be read and some entry names a
// Windows path.
std::optional<Playlist> ReadPlaylist(const std::string& windowsPath);
// The list's bytes with each entry's Unix path (in the order of the
// entries) in its place, in the list's encoding.
std::string PlaylistCopyBytes(const Playlist& list, const std::vector<std::string>& unixPaths);
// Writes the copy of the list at windowsPath into the user's private folder
// and removes copies older than a day; returns the copy's Unix path, empty
// when it could not be written.
std::string WritePlaylistCopy(const Playlist& list, const std::string& windowsPath,
                              const std::string& bytes);

// ---- the desktop's opener ----
// What the desktop's opener (a sandbox's portal) gets for the player's
// arguments (as the sandbox names them): the one file or address, or a
// playlist of every entry with the options the player takes from one; and
// the trace lines that say what is lost.
OpenerPlan PlanOpener(const Sandbox& sandbox, const std::vector<std::string>& args);
// Opens what the plan names with the desktop's opener, its playlist first
// written into the private folder, and older ones removed; does not wait.
int OpenWithDesktopOpener(const OpenerPlan& plan);

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
