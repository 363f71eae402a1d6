// The Wine bridge: Wine detection, the Unix command runner, the drive map
// and the translation between Windows and Unix paths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modrik {

// ---- Wine detection ----
// -1 when the process runs under Wine, 0 otherwise.
std::int32_t IsWine();
// Wine's version text, empty outside Wine.
std::string WineVersion();

// ---- the user's home and the Wine prefix ----
std::string UserName();  // value of USERNAME, empty when unset
// The Unix path an NT path of Wine's names ("\??\Z:\..." or
// "\??\unix\..."); empty for any other form.
std::string NtPathToUnixPath(const std::string& ntPath);
// The host home and the prefix (Unix paths, no trailing slash): Wine's own
// WINEHOMEDIR and WINECONFIGDIR, else "/home/" + user and its ".wine".
std::string UnixHomeFolder();
std::string PrefixFolder();
// True for the home /home/USER with the prefix ~/.wine: host commands then
// name them through "~".
bool DefaultLocations();
std::string WindowsHomeFolder();  // the home in the Windows view, trailing "\"
// The freedesktop data folder ($XDG_DATA_HOME, else ~/.local/share): its
// Unix path, and its Windows view with a trailing backslash.
std::string UnixDataFolder();
std::string WindowsDataFolder();
// The user's private folder for the files of a start ($XDG_RUNTIME_DIR/modrik,
// else ~/.cache/modrik): its Unix path, and its Windows view with a trailing
// backslash, made (for the user alone) when it is missing.
std::string UnixPrivateFolder();
std::string WindowsPrivateFolder();

// ---- Unix command runner ----
extern std::string CachedWineVersion;
// The word after "start /" in every host command line: "unix", whatever
// the Wine version.
std::string LaunchSwitch(const std::string& wineVersion);
// The bytes of dues.sh for a command (already in the host's encoding).
std::string UnixScriptText(const std::string& command);
// One word for the host shell: single-quoted, inner single quotes as '\''.
// Whatever the word holds, the program receives it unchanged.
std::string ShellQuote(const std::string& word);
// A host command line: the program and every argument, each a quoted word.
std::string UnixCommandLine(const std::string& program, const std::vector<std::string>& args);
// One argument on the command line of Wine's start program, quoted by the
// Windows rules when it holds blanks or quotes, as it stands otherwise.
std::string StartArgument(const std::string& word);
// Writes dues.sh anew and marks it executable; false (and nothing run) when
// the script could not be written whole as a new file.
bool WriteUnixScript(const std::string& command);
// Runs the command on the host; false when nothing could be started.
bool RunUnixCommand(const std::string& command);
std::string RunUnixCommandCapture(const std::string& command);
// Starts a native player on the host with exactly these arguments.
void RunUnixPlayer(const std::string& playerPath, const std::vector<std::string>& args);

// ---- drive map and path translation ----
extern std::vector<std::string> DriveMap;
// The drive-map entries a "ls -al" listing of dosdevices yields.
std::vector<std::string> ParseDriveListing(const std::string& listing);
void LoadDriveMap();
// The prefix's dosdevices folder, with a trailing slash.
std::string DosdevicesFolder();
// The host command that lists the drive links.
std::string DriveListingCommand();
// The device links of the drives (d:: -> /dev/sr0) that the last listing
// showed, as "d:/dev/sr0"; never part of the drive map.
extern std::vector<std::string> DeviceLinks;
std::vector<std::string> ParseDeviceLinks(const std::string& listing);
// The host path of a drive's device link, from the last listing of the
// drive links (the translation of a path lists them); empty when it showed
// none.
std::string DriveDeviceLink(char driveLetter);
std::string WindowsToUnixPath(const std::string& path);
// Several paths, with at most one listing of the drive links between them.
std::vector<std::string> WindowsToUnixPaths(const std::vector<std::string>& paths);
std::string UnixToWindowsPath(const std::string& path);
std::int32_t UnixPathExists(const std::string& path);
// True when the Unix path names something that exists and is not a folder.
bool UnixFileExists(const std::string& path);

}  // namespace modrik
