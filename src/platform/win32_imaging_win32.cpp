// Resources, icons and GDI+ for the Win32 platform.
//
// gdiplus.dll is loaded on first use, not at start-up: most starts find
// the exported PNG in place and never need it.
#include <windows.h>

#include <cstring>

#include "platform/win32_platform.h"

namespace platform {

namespace {

// The GDI+ flat interface, as far as it is used here.
struct GdiplusStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};

struct ImageCodecInfo {
  CLSID Clsid;
  GUID FormatID;
  const WCHAR* CodecName;
  const WCHAR* DllName;
  const WCHAR* FormatDescription;
  const WCHAR* FilenameExtension;
  const WCHAR* MimeType;
  DWORD Flags;
  DWORD Version;
  DWORD SigCount;
  DWORD SigSize;
  const BYTE* SigPattern;
  const BYTE* SigMask;
};

using StartupFn = int(WINAPI*)(ULONG_PTR*, const GdiplusStartupInput*, void*);
using ShutdownFn = void(WINAPI*)(ULONG_PTR);
using BitmapFromIconFn = int(WINAPI*)(HICON, void**);
using DisposeImageFn = int(WINAPI*)(void*);
using EncodersSizeFn = int(WINAPI*)(UINT*, UINT*);
using EncodersFn = int(WINAPI*)(UINT, UINT, ImageCodecInfo*);
using SaveImageFn = int(WINAPI*)(void*, const WCHAR*, const CLSID*, const void*);

constexpr int kGenericError = 1;

// Zero until the first use; filled once, kept for the rest of the process.
struct GdiplusApi {
  bool tried;
  StartupFn startup;
  ShutdownFn shutdown;
  BitmapFromIconFn bitmapFromIcon;
  DisposeImageFn disposeImage;
  EncodersSizeFn encodersSize;
  EncodersFn encoders;
  SaveImageFn saveImage;
};
GdiplusApi gdiplus;

// True when every function is there.
bool LoadGdiplus() {
  if (!gdiplus.tried) {
    gdiplus.tried = true;
    const wchar_t* const library = L"gdiplus.dll";
    gdiplus.startup = LaterExport<StartupFn>(library, "GdiplusStartup");
    gdiplus.shutdown = LaterExport<ShutdownFn>(library, "GdiplusShutdown");
    gdiplus.bitmapFromIcon = LaterExport<BitmapFromIconFn>(library, "GdipCreateBitmapFromHICON");
    gdiplus.disposeImage = LaterExport<DisposeImageFn>(library, "GdipDisposeImage");
    gdiplus.encodersSize = LaterExport<EncodersSizeFn>(library, "GdipGetImageEncodersSize");
    gdiplus.encoders = LaterExport<EncodersFn>(library, "GdipGetImageEncoders");
    gdiplus.saveImage = LaterExport<SaveImageFn>(library, "GdipSaveImageToFile");
  }
  return gdiplus.startup && gdiplus.shutdown && gdiplus.bitmapFromIcon && gdiplus.disposeImage &&
         gdiplus.encodersSize && gdiplus.encoders && gdiplus.saveImage;
}

BOOL CALLBACK ForwardIconGroup(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR callback) {
  auto forward = reinterpret_cast<IconGroupCallback>(callback);
  return forward(reinterpret_cast<Handle>(module), reinterpret_cast<ResourceName>(name)) ? TRUE
                                                                                          : FALSE;
}

}  // namespace

Handle Win32Platform::LoadModule(const std::string& path) {
  return reinterpret_cast<Handle>(LoadLibraryW(Wide(path).c_str()));
}

void Win32Platform::EnumIconGroups(Handle module, IconGroupCallback callback) {
  EnumResourceNamesW(reinterpret_cast<HMODULE>(module), MAKEINTRESOURCEW(14), ForwardIconGroup,
                     reinterpret_cast<LONG_PTR>(callback));
}

bool Win32Platform::ResourceBytes(Handle module, ResourceName name, std::uintptr_t type,
                                  std::string* bytes) {
  HMODULE handle = reinterpret_cast<HMODULE>(module);
  HRSRC found = FindResourceW(handle, reinterpret_cast<LPCWSTR>(name),
                              reinterpret_cast<LPCWSTR>(type));
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(handle, found);
  if (loaded == nullptr) return false;
  const void* data = LockResource(loaded);
  if (data == nullptr) return false;
  bytes->assign(static_cast<const char*>(data), SizeofResource(handle, found));
  return true;
}

Handle Win32Platform::LoadIconFile(const std::string& path, int width, int height) {
  static const auto loadImage = LaterExport<decltype(&LoadImageW)>(L"user32.dll", "LoadImageW");
  if (loadImage == nullptr) return 0;
  return reinterpret_cast<Handle>(loadImage(nullptr, Wide(path).c_str(), IMAGE_ICON, width, height, LR_LOADFROMFILE));
}

int Win32Platform::GdiplusStart(std::uintptr_t* token) {
  if (!LoadGdiplus()) return kGenericError;
  GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
  ULONG_PTR value = 0;
  const int status = gdiplus.startup(&value, &input, nullptr);
  *token = value;
  return status;
}

void Win32Platform::GdiplusStop(std::uintptr_t token) {
  if (LoadGdiplus()) gdiplus.shutdown(token);
}

int Win32Platform::BitmapFromIcon(Handle icon, Handle* bitmap) {
  *bitmap = 0;
  if (!LoadGdiplus()) return kGenericError;
  void* image = nullptr;
  const int status = gdiplus.bitmapFromIcon(reinterpret_cast<HICON>(icon), &image);
  *bitmap = reinterpret_cast<Handle>(image);
  return status;
}

void Win32Platform::DisposeImage(Handle image) {
  if (LoadGdiplus()) gdiplus.disposeImage(reinterpret_cast<void*>(image));
}

int Win32Platform::ImageEncoders(std::vector<ImageEncoder>* encoders) {
  encoders->clear();
  if (!LoadGdiplus()) return kGenericError;
  UINT count = 0, size = 0;
  gdiplus.encodersSize(&count, &size);
  if (count == 0 || size < count * sizeof(ImageCodecInfo)) return count == 0 ? 0 : kGenericError;
  // The records and the strings they point to share one buffer; aligned
  // for the records' pointers.
  std::vector<ULONG_PTR> buffer((size + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR));
  auto* records = reinterpret_cast<ImageCodecInfo*>(buffer.data());
  const int status = gdiplus.encoders(count, size, records);
  if (status != 0) return status;
  for (UINT i = 0; i < count; ++i) {
    ImageEncoder encoder;
    std::memcpy(encoder.clsid, &records[i].Clsid, sizeof encoder.clsid);
    if (records[i].MimeType != nullptr)
      encoder.mimeType = Utf8(records[i].MimeType, lstrlenW(records[i].MimeType));
    encoders->push_back(encoder);
  }
  return 0;
}

int Win32Platform::SaveImage(Handle image, const std::string& file,
                             const std::uint8_t clsid[16]) {
  if (!LoadGdiplus()) return kGenericError;
  CLSID id;
  std::memcpy(&id, clsid, sizeof id);
  return gdiplus.saveImage(reinterpret_cast<void*>(image), Wide(file).c_str(), &id, nullptr);
}

}  // namespace platform
