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

// ---- user name and home paths ----
std::string UserName();           // value of USERNAME, empty when unset
std::string WindowsHomeFolder();  // "z:\home\" + user + "\"
std::string UnixHomeFolder();     // "/home/" + user

// ---- Unix command runner ----
extern std::string CachedWineVersion;
// "unix" or "exec", by text comparison of the version with "11".
std::string LaunchSwitch(const std::string& wineVersion);
// The bytes of dues.sh for a command (already in the host's encoding).
std::string UnixScriptText(const std::string& command);
// One word for the host shell: single-quoted, inner single quotes as '\''.
// Whatever the word holds, the program receives it unchanged.
std::string ShellQuote(const std::string& word);
// A host command line: the program and every argument, each a quoted word.
std::string UnixCommandLine(const std::string& program, const std::vector<std::string>& args);
void WriteUnixScript(const std::string& command);
void RunUnixCommand(const std::string& command);
std::string RunUnixCommandCapture(const std::string& command);
// Starts a native player on the host with exactly these arguments.
void RunUnixPlayer(const std::string& playerPath, const std::vector<std::string>& args);

// ---- drive map and path translation ----
extern std::vector<std::string> DriveMap;
// The drive-map entries a "ls -al" listing of dosdevices yields.
std::vector<std::string> ParseDriveListing(const std::string& listing);
void LoadDriveMap();
// "/home/" + user + "/.wine/dosdevices/"
std::string DosdevicesFolder();
std::string WindowsToUnixPath(const std::string& path);
// Several paths, with at most one listing of the drive links between them.
std::vector<std::string> WindowsToUnixPaths(const std::vector<std::string>& paths);
std::string UnixToWindowsPath(const std::string& path);
std::int32_t UnixPathExists(const std::string& path);

}  // namespace modrik
