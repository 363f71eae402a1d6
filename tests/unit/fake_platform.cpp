#include "fake_platform.h"

#include <algorithm>

#include "desktop/desktop.h"
#include "launcher/launcher.h"
#include "winebridge/winebridge.h"

namespace fake {

namespace {

FakePlatform* current = nullptr;

const char* FakeWineGetVersion() { return current ? current->wineVersionText : nullptr; }

// Windows-1252 bytes 0x80..0x9F as Unicode code points (0 = unassigned).
const char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t AnsiCharToWide(unsigned char c) {
  if (c >= 0x80 && c < 0xA0) {
    char16_t w = kCp1252High[c - 0x80];
    return w ? w : c;
  }
  return c;
}

char WideCharToAnsi(char16_t w) {
  if (w < 0x80 || (w >= 0xA0 && w <= 0xFF)) return static_cast<char>(w);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == w) return static_cast<char>(0x80 + i);
  return '?';
}

unsigned char LowerChar(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c == 0x8A || c == 0x8C || c == 0x8E) return c + 0x10;
  if (c == 0x9F) return 0xFF;
  return c;
}

unsigned char UpperChar(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0x9A || c == 0x9C || c == 0x9E) return c - 0x10;
  if (c == 0xFF) return 0x9F;
  return c;
}

std::string RegistryKey(std::uint32_t root, const std::string& subkey, const std::string& value) {
  std::string lowered = subkey;
  for (auto& c : lowered) c = static_cast<char>(LowerChar(static_cast<unsigned char>(c)));
  return std::to_string(root) + "|" + lowered + "|" + value;
}

std::string ParentFolder(const std::string& key) {
  auto slash = key.find_last_of('\\');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

}  // namespace

FakePlatform::FakePlatform() {
  current = this;
  platform::SetPlatform(this);
  ResetProgramState();
  environment["USERNAME"] = "guest";
}

FakePlatform::~FakePlatform() {
  platform::SetPlatform(nullptr);
  current = nullptr;
  ResetProgramState();
}

std::string FakePlatform::Key(const std::string& path) {
  std::string key = path;
  for (auto& c : key) c = static_cast<char>(LowerChar(static_cast<unsigned char>(c)));
  while (key.size() > 3 && key.back() == '\\') key.pop_back();
  return key;
}

void FakePlatform::AddFile(const std::string& path, const std::string& bytes) {
  files[Key(path)] = bytes;
  AddFolder(ParentFolder(Key(path)));
}

void FakePlatform::AddFolder(const std::string& path) {
  std::string key = Key(path);
  while (!key.empty()) {
    folders[key] = true;
    key = ParentFolder(key);
  }
}

bool FakePlatform::HasFile(const std::string& path) const { return files.count(Key(path)) > 0; }

std::string FakePlatform::FileBytes(const std::string& path) const {
  auto it = files.find(Key(path));
  return it == files.end() ? std::string() : it->second;
}

std::string FakePlatform::CommandLine() { return commandLine; }
std::string FakePlatform::ModulePath() { return modulePath; }
std::string FakePlatform::CurrentDirectory() { return currentDirectory; }

std::string FakePlatform::EnvironmentVariable(const std::string& name) {
  auto it = environment.find(name);
  return it == environment.end() ? std::string() : it->second;
}

void FakePlatform::SleepMs(unsigned milliseconds) { sleeps.push_back(milliseconds); }

bool FakePlatform::FileAttributesExist(const std::string& path) {
  attributeQueries.push_back(path);
  if (path.find_first_of("*?") != std::string::npos) return false;
  std::string key = Key(path);
  return files.count(key) > 0 || folders.count(key) > 0;
}

bool FakePlatform::WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::string key = Key(path);
  std::string parent = ParentFolder(key);
  if (!parent.empty() && folders.count(parent) == 0) return false;
  if (readOnlyFolders.count(parent) > 0) return false;
  if (folders.count(key) > 0) return false;
  files[key] = bytes;
  return true;
}

std::string FakePlatform::ReadSharedFile(const std::string& path) {
  lockDepthAtRead.push_back(lockDepth);
  std::string key = Key(path);
  auto it = files.find(key);
  if (it != files.end()) return it->second;
  std::string parent = ParentFolder(key);
  if (parent.empty() || folders.count(parent) > 0) files[key] = std::string();
  return std::string();
}

bool FakePlatform::DeleteFileAt(const std::string& path) { return files.erase(Key(path)) > 0; }

bool FakePlatform::MoveFileTo(const std::string& from, const std::string& to) {
  auto it = files.find(Key(from));
  if (it == files.end() || files.count(Key(to)) > 0) return false;
  std::string bytes = it->second;
  files.erase(it);
  files[Key(to)] = bytes;
  return true;
}

std::vector<platform::FoundFile> FakePlatform::FindFiles(const std::string& pattern) {
  auto it = searches.find(pattern);
  return it == searches.end() ? std::vector<platform::FoundFile>() : it->second;
}

std::string FakePlatform::ProfileString(const std::string& section, const std::string& key,
                                        const std::string& fallback, const std::string& file,
                                        std::size_t bufferSize) {
  profileReads.push_back(file);
  // A small INI reader in the manner of GetPrivateProfileStringA: sections and
  // keys compared without case, the first matching key wins, blanks around
  // values removed, a line feed counts as a line end.
  std::string value = fallback;
  auto it = files.find(Key(file));
  if (it != files.end()) {
    std::string text = it->second;
    std::string wantedSection = Key(section), wantedKey = Key(key);
    bool inSection = false;
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find_first_of("\r\n", start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      start = end + 1;
      auto trim = [](std::string s) {
        std::size_t a = s.find_first_not_of(" \t");
        std::size_t b = s.find_last_not_of(" \t");
        return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
      };
      line = trim(line);
      if (!line.empty() && line[0] == '[') {
        std::size_t close = line.find(']');
        inSection = close != std::string::npos && Key(line.substr(1, close - 1)) == wantedSection;
        continue;
      }
      std::size_t eq = line.find('=');
      if (!inSection || eq == std::string::npos) continue;
      if (Key(trim(line.substr(0, eq))) == wantedKey) {
        value = trim(line.substr(eq + 1));
        break;
      }
      if (end == text.size()) break;
    }
  }
  if (bufferSize == 0) return std::string();
  if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
  return value.substr(0, value.find('\0'));
}

std::string FakePlatform::RegistryValueText(std::uint32_t root, const std::string& subkey,
                                            const std::string& valueName) {
  if (registryKeys.count(RegistryKey(root, subkey, "")) == 0) return std::string();
  auto it = registryValues.find(RegistryKey(root, subkey, valueName));
  if (it == registryValues.end()) return std::string();
  std::string data = it->second.substr(0, 256);
  return data.substr(0, data.find('\0'));
}

std::int32_t FakePlatform::RegistryDeleteKey(std::uint32_t root, const std::string& subkey) {
  if (registryKeys.erase(RegistryKey(root, subkey, "")) == 0) return 0;
  return 0;
}

int FakePlatform::ShowMessage(const std::string& text, const std::string& title, unsigned style) {
  messages.push_back({text, title, style});
  if (messageAnswers.empty()) return (style & 0xF) == platform::kMbYesNo ? platform::kIdNo : 1;
  int answer = messageAnswers.front();
  messageAnswers.pop_front();
  return answer;
}

void FakePlatform::ShellStart(const std::string& verb, const std::string& file,
                              const std::string& parameters, const std::string& directory,
                              int show) {
  shellCalls.push_back({verb, file, parameters, directory, show});
}

platform::Handle FakePlatform::StartHiddenProcess(const std::string& commandLine) {
  if (!StartHidden(commandLine, false)) return 0;
  return processes.size();  // the index of the start, plus one
}

bool FakePlatform::WaitForEnd(platform::Handle process, unsigned timeoutMs) {
  if (process == 0) return true;
  endWaits.push_back({process - 1, timeoutMs});
  lockDepthAtEndWait.push_back(lockDepth);
  int waits = 0;
  for (const auto& w : endWaits) waits += w.first == process - 1 ? 1 : 0;
  return waits > endsAfterWaits;
}

void FakePlatform::CloseProcess(platform::Handle process) {
  if (process != 0) ++closedProcesses;
}

platform::Handle FakePlatform::LockNamed(const std::string& name, unsigned) {
  lockNames.push_back(name);
  if (lockUnavailable) return 0;
  ++lockDepth;
  return 0x10C;
}

void FakePlatform::UnlockNamed(platform::Handle lock) {
  if (lock != 0) --lockDepth;
}

bool FakePlatform::StartHidden(const std::string& commandLine, bool wait) {
  processes.push_back({commandLine, wait});
  lockDepthAtStart.push_back(lockDepth);
  if (onStart) return onStart(commandLine);
  return true;
}

void* FakePlatform::WineGetVersionAddress() {
  return wineExport ? reinterpret_cast<void*>(&FakeWineGetVersion) : nullptr;
}

std::string FakePlatform::LowerAnsi(const std::string& text) {
  std::string out = text;
  for (auto& c : out) c = static_cast<char>(LowerChar(static_cast<unsigned char>(c)));
  return out;
}

std::string FakePlatform::UpperAnsi(const std::string& text) {
  std::string out = text;
  for (auto& c : out) c = static_cast<char>(UpperChar(static_cast<unsigned char>(c)));
  return out;
}

std::string FakePlatform::AnsiToUtf8(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    char16_t w = AnsiCharToWide(c);
    if (w < 0x80) {
      out += static_cast<char>(w);
    } else if (w < 0x800) {
      out += static_cast<char>(0xC0 | (w >> 6));
      out += static_cast<char>(0x80 | (w & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (w >> 12));
      out += static_cast<char>(0x80 | ((w >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (w & 0x3F));
    }
  }
  return out;
}

std::string FakePlatform::Utf8ToAnsi(const std::string& text) {
  std::u16string wide;
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = text[i];
    if (c < 0x80) {
      wide += c;
      i += 1;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
      wide += static_cast<char16_t>(((c & 0x1F) << 6) | (text[i + 1] & 0x3F));
      i += 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < text.size()) {
      wide += static_cast<char16_t>(((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) |
                                    (text[i + 2] & 0x3F));
      i += 3;
    } else {
      wide += u'?';
      i += 1;
    }
  }
  return WideToAnsi(wide);
}

std::u16string FakePlatform::AnsiToWide(const std::string& text) {
  std::u16string out;
  for (unsigned char c : text) out += AnsiCharToWide(c);
  return out;
}

std::string FakePlatform::WideToAnsi(const std::u16string& text) {
  std::string out;
  for (char16_t w : text) out += WideCharToAnsi(w);
  return out;
}

platform::Handle FakePlatform::LoadModule(const std::string& path) {
  loadedModules.push_back(path);
  if (modules.count(path) == 0) return 0;
  moduleOrder_.push_back(path);
  return moduleOrder_.size();
}

void FakePlatform::EnumIconGroups(platform::Handle module, platform::IconGroupCallback callback) {
  if (module == 0 || module > moduleOrder_.size()) return;
  const FakeModule& m = modules[moduleOrder_[module - 1]];
  for (const std::string& name : m.groupNames) {
    platform::ResourceName id;
    if (!name.empty() && name[0] == '#') {
      id = static_cast<platform::ResourceName>(std::stoi(name.substr(1)));
    } else {
      resourceNames_.push_back(name);
      id = reinterpret_cast<platform::ResourceName>(resourceNames_.back().c_str());
    }
    if (!callback(module, id)) break;
  }
  resourceNames_.clear();
}

bool FakePlatform::ResourceBytes(platform::Handle module, platform::ResourceName name,
                                 std::uintptr_t type, std::string* bytes) {
  if (module == 0 || module > moduleOrder_.size()) return false;
  const FakeModule& m = modules[moduleOrder_[module - 1]];
  if (type == platform::kRtGroupIcon) {
    std::string key = platform::IsIntResource(name) ? "#" + std::to_string(name)
                                                    : std::string(reinterpret_cast<const char*>(name));
    auto it = m.groups.find(key);
    if (it == m.groups.end()) return false;
    *bytes = it->second;
    return true;
  }
  if (type == platform::kRtIcon && platform::IsIntResource(name)) {
    auto it = m.icons.find(static_cast<int>(name));
    if (it == m.icons.end()) return false;
    *bytes = it->second;
    return true;
  }
  return false;
}

platform::Handle FakePlatform::LoadIconFile(const std::string& path, int width, int height) {
  iconLoads.push_back({path, {width, height}});
  if (loadableIcons.count(Key(path)) > 0 || files.count(Key(path)) > 0) return 0x1C0;
  return 0;
}

int FakePlatform::GdiplusStart(std::uintptr_t* token) {
  ++gdiplusStarts;
  *token = 0x70;
  return gdiplusStartStatus;
}

void FakePlatform::GdiplusStop(std::uintptr_t) { ++gdiplusStops; }

int FakePlatform::BitmapFromIcon(platform::Handle icon, platform::Handle* bitmap) {
  if (icon == 0) {
    *bitmap = 0;
    return 2;
  }
  *bitmap = 0xB17;
  return 0;
}

void FakePlatform::DisposeImage(platform::Handle) { ++disposedImages; }

int FakePlatform::ImageEncoders(std::vector<platform::ImageEncoder>* out) {
  ++encoderSearches;
  *out = encoders;
  return encodersStatus;
}

int FakePlatform::SaveImage(platform::Handle image, const std::u16string& file,
                            const std::uint8_t clsid[16]) {
  (void)image;
  (void)clsid;
  std::string name = WideToAnsi(file);
  savedImages.push_back(name);
  if (saveStatus == 0) files[Key(name)] = "PNG";
  return saveStatus;
}

}  // namespace fake
