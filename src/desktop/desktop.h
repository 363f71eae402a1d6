// Desktop integration under Wine: icon export, image encoding, file-manager
// icon, hidden desktop entry and the registration flow that ties them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace modrik {

// ---- registration flow ----
void RegisterAsLinuxApp();

// ---- desktop entry ----
std::string DesktopEntryPath(const std::string& exePath);
std::string DesktopEntryText(const std::string& exePath, const std::string& iconPath);
int WriteDesktopEntry(const std::string& exePath);

// ---- shared file-name rule ----
std::string FileNameOf(const std::string& path);           // after the last "\" or ":"
std::string FileNameWithoutExtension(const std::string& path);

// ---- icon export ----
std::string DesktopName(const std::string& text);
std::string ExportIcon(const std::string& exePath);
std::int32_t ExtractIconFile(const std::string& modulePath, std::int32_t wantedGroup,
                             const std::string& iconFilePath);
bool WriteIconGroup(platform::Handle module, platform::ResourceName name);
void WriteIconPng(platform::Handle icon, const std::string& pngPath);

extern std::int32_t GroupsSeen;
extern std::int32_t WantedGroup;
extern std::int32_t LargestWidth;
extern std::string IconFilePath;

// ---- file-manager icon ----
std::string CustomIconCommand(const std::string& unixTarget, const std::string& unixIcon);
void SetCustomIcon(const std::string& targetPath, const std::string& iconPath);

// ---- image encoding ----
int SaveImageAsPng(platform::Handle image, const std::string& fileName);
int SaveImageWithEncoder(platform::Handle image, const std::string& fileName,
                         const std::string& mimeType);
std::string FindEncoderClsid(const std::string& mimeType);

}  // namespace modrik
