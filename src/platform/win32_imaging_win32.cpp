// Placeholder until the imaging methods land: no module, icon or image.
#include "platform/win32_platform.h"

namespace platform {

Handle Win32Platform::LoadModule(const std::string&) { return 0; }
void Win32Platform::EnumIconGroups(Handle, IconGroupCallback) {}
bool Win32Platform::ResourceBytes(Handle, ResourceName, std::uintptr_t, std::string*) { return false; }
Handle Win32Platform::LoadIconFile(const std::string&, int, int) { return 0; }
int Win32Platform::GdiplusStart(std::uintptr_t*) { return 1; }
void Win32Platform::GdiplusStop(std::uintptr_t) {}
int Win32Platform::BitmapFromIcon(Handle, Handle* bitmap) { *bitmap = 0; return 2; }
void Win32Platform::DisposeImage(Handle) {}
int Win32Platform::ImageEncoders(std::vector<ImageEncoder>* encoders) { encoders->clear(); return 1; }
int Win32Platform::SaveImage(Handle, const std::u16string&, const std::uint8_t*) { return 2; }

}  // namespace platform
