// Desktop integration under Wine: icon export, image encoding, file-manager
// icon, hidden desktop entry and the registration flow that ties them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace modrik {

// ---- registration flow ----
// Under Wine: gives the executable its file-manager icon and, once, writes
// its hidden desktop entry. Outside Wine it does nothing.
void RegisterAsLinuxApp();

// ---- desktop entry ----
// z:\home\USER\.local\share\applications\wine-NAME.desktop
std::string DesktopEntryPath(const std::string& exePath);
// The entry's bytes: eight CR LF lines, values converted to UTF-8.
std::string DesktopEntryText(const std::string& exePath, const std::string& iconPath);
// Exports the icon, writes the entry, gives both files the icon; always 1.
int WriteDesktopEntry(const std::string& exePath);

// ---- shared file-name rule ----
std::string FileNameOf(const std::string& path);  // after the last "\" or ":"
std::string FolderOf(const std::string& path);    // before the last "\"
// A new home (or a new XDG_DATA_HOME) has no icon and application folders
// yet: makes the folder with whatever is missing above it, each for its
// owner alone (MakeFolders), within a home that exists.
bool MakeDesktopFolder(const std::string& folder);
std::string FileNameWithoutExtension(const std::string& path);

// ---- icon export ----
// The file name without folder and extension, spaces removed, lower case.
std::string DesktopName(const std::string& text);
// z:\home\USER\.local\share\icons\NAME.ico for an executable.
std::string IconFileFor(const std::string& exePath);
// The icon file path with ".ico" replaced by ".png", or by "-N.png".
std::string PngPathOf(const std::string& iconFile);
std::string NumberedPngPath(const std::string& iconFile, unsigned long long n);
// Moves the highest numbered PNG of the unbroken run from 0 to the PNG
// path and deletes the lower ones.
void ReconcileNumberedPngs(const std::string& iconFile);
// The PNG path when a PNG exists at the end, the empty text when the
// module cannot be loaded, otherwise the .ico path.
std::string ExportIcon(const std::string& exePath);
// 1 when the module was loaded and its icon groups visited, else 0.
std::int32_t ExtractIconFile(const std::string& modulePath, std::int32_t wantedGroup,
                             const std::string& iconFilePath);
// The icon-group enumeration callback; always true (visits every group).
bool WriteIconGroup(platform::Handle module, platform::ResourceName name);
void WriteIconPng(platform::Handle icon, const std::string& pngPath);

// Icon export state, shared with the enumeration callback.
extern std::int32_t GroupsSeen;
extern std::int32_t WantedGroup;
extern std::int32_t LargestWidth;
extern std::string IconFilePath;

// ---- file-manager icon ----
// The gio command for Unix paths; both paths are passed as quoted words.
std::string CustomIconCommand(const std::string& unixTarget, const std::string& unixIcon);
// That command as the host runs it in the background: what gio says goes
// into the new file `name` of the private folder (nowhere without one).
std::string CustomIconHostCommand(const std::string& gio, const std::string& privateFolder,
                                  const std::string& name);
void SetCustomIcon(const std::string& targetPath, const std::string& iconPath);
// The files that hold what gio said (Windows paths), one per command run.
extern std::vector<std::string> IconComplaints;
// Traces what gio said, once the start is over, and removes those files.
void TraceIconComplaints();

// ---- image encoding ----
int SaveImageAsPng(platform::Handle image, const std::string& fileName);
int SaveImageWithEncoder(platform::Handle image, const std::string& fileName,
                         const std::string& mimeType);
// The text form ("{XXXXXXXX-XXXX-...}") of the first encoder whose MIME
// type contains the requested one, ignoring case; empty when none.
std::string FindEncoderClsid(const std::string& mimeType);
// Class identifier <-> its 38-character text form (upper-case hex).
std::string ClsidToText(const std::uint8_t clsid[16]);
bool ClsidFromText(const std::string& text, std::uint8_t clsid[16]);

}  // namespace modrik
