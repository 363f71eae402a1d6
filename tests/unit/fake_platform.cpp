#include "fake_platform.h"

#include <algorithm>


namespace fake {

namespace {

FakePlatform* current = nullptr;

const char* FakeWineGetVersion() { return current ? current->wineVersionText : nullptr; }

// Letter case in UTF-8 text, for ASCII and the Latin-1 letters (U+00C0 to
// U+00FE, which UTF-8 writes as 0xC3 followed by 0x80 to 0xBE); other
// characters keep their case.
std::string ChangeCase(const std::string& text, bool upper) {
  std::string out = text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (!upper && c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c + 0x20);
    if (upper && c >= 'a' && c <= 'z') out[i] = static_cast<char>(c - 0x20);
    if (c != 0xC3 || i + 1 >= out.size()) continue;
    auto& next = reinterpret_cast<unsigned char&>(out[++i]);
    if (!upper && next >= 0x80 && next <= 0x9E && next != 0x97) next += 0x20;
    if (upper && next >= 0xA0 && next <= 0xBE && next != 0xB7) next -= 0x20;
  }
  return out;
}

std::string RegistryKey(std::uint32_t root, const std::string& subkey, const std::string& value) {
  return std::to_string(root) + "|" + ChangeCase(subkey, false) + "|" + value;
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
  std::string key = ChangeCase(path, false);
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
  if (path.find_first_of("*?", path.rfind("\\\\?\\", 0) == 0 ? 4 : 0) != std::string::npos) return false;
  std::string key = Key(path);
  return files.count(key) > 0 || folders.count(key) > 0;
}

bool FakePlatform::WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::string key = Key(path);
  std::string parent = Key(ParentFolder(key));
  if (!parent.empty() && folders.count(parent) == 0) return false;
  if (readOnlyFolders.count(parent) > 0) return false;
  if (folders.count(key) > 0) return false;
  files[key] = bytes;
  writeTimes[key] = now;
  return true;
}

bool FakePlatform::FolderExists(const std::string& path) { return folders.count(Key(path)) > 0; }

bool FakePlatform::ReplaceWholeFile(const std::string& path, const std::string& bytes) {
  return WriteWholeFile(path, bytes);
}

void FakePlatform::Trace(const std::string& line) { traces.push_back(line); }

bool FakePlatform::WriteTextFile(const std::string& path, const std::string& text) {
  return WriteWholeFile(path, text);
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

bool FakePlatform::ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string* bytes) {
  auto it = files.find(Key(path));
  if (it == files.end() || it->second.size() > maxBytes) return false;
  *bytes = it->second;
  return true;
}

bool FakePlatform::RemoveFolder(const std::string& path) {
  const std::string key = Key(path);
  if (folders.count(key) == 0) return false;
  for (const auto& [file, bytes] : files)
    if (ParentFolder(file) == key) return false;
  for (const auto& [folder, present] : folders)
    if (ParentFolder(folder) == key) return false;
  folders.erase(key);
  return true;
}

bool FakePlatform::DeleteFileAt(const std::string& path) {
  if (readOnlyFolders.count(ParentFolder(Key(path))) > 0) return false;
  return files.erase(Key(path)) > 0;
}

bool FakePlatform::MoveFileTo(const std::string& from, const std::string& to) {
  auto it = files.find(Key(from));
  if (it == files.end() || files.count(Key(to)) > 0) return false;
  std::string bytes = it->second;
  files.erase(it);
  files[Key(to)] = bytes;
  return true;
}

namespace {

// A file name against a pattern whose only wildcard is "*".
bool Matches(const std::string& name, const std::string& pattern) {
  const std::size_t star = pattern.find('*');
  if (star == std::string::npos) return name == pattern;
  const std::string head = pattern.substr(0, star), rest = pattern.substr(star + 1);
  if (name.rfind(head, 0) != 0) return false;
  for (std::size_t at = head.size(); at <= name.size(); ++at)
    if (Matches(name.substr(at), rest)) return true;
  return false;
}

}  // namespace

std::vector<platform::FoundFile> FakePlatform::FindFiles(const std::string& pattern) {
  auto it = searches.find(pattern);
  if (it != searches.end()) return it->second;
  std::vector<platform::FoundFile> found;
  const std::string key = ChangeCase(pattern, false);
  const std::string folder = ParentFolder(key), namePattern = key.substr(folder.size() + 1);
  for (const auto& [path, bytes] : files) {
    if (ParentFolder(path) != folder || !Matches(path.substr(folder.size() + 1), namePattern)) continue;
    platform::FoundFile entry;
    entry.name = path.substr(folder.size() + 1);
    entry.writeTime = writeTimes.count(path) > 0 ? writeTimes.at(path) : 0;
    found.push_back(entry);
  }
  for (const auto& [path, present] : folders) {
    if (ParentFolder(path) != folder || !Matches(path.substr(folder.size() + 1), namePattern)) continue;
    platform::FoundFile entry;
    entry.name = path.substr(folder.size() + 1);
    entry.directory = true;
    found.push_back(entry);
  }
  return found;
}

std::string FakePlatform::ProfileString(const std::string& section, const std::string& key,
                                        const std::string& fallback, const std::string& file,
                                        std::size_t bufferSize) {
  profileReads.push_back(file);
  // A small INI reader in the manner of GetPrivateProfileString: sections and
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

bool FakePlatform::ShellStart(const std::string& verb, const std::string& file,
                              const std::string& parameters, const std::string& directory,
                              int show, platform::Handle* process) {
  shellCalls.push_back({verb, file, parameters, directory, show});
  *process = shellStarts ? 0x5000 + shellCalls.size() : 0;
  return shellStarts;
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

int FakePlatform::SpawnOnHost(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& word : argv)
    line += (line.empty() ? "" : " ") + (word.find('\n') == std::string::npos ? word : "<program>");
  processes.push_back({argv, line});
  lockDepthAtStart.push_back(lockDepth);
  if (onStart && !onStart(line)) return platform::kHostNotStarted;
  if (hostSpawnWaits) return hostStatus;
  if (leavesStatus && !argv.empty() && !argv.back().empty() && argv.back()[0] == '/') {
    std::string status = "z:" + argv.back();
    for (char& c : status)
      if (c == '/') c = '\\';
    AddFile(status, std::to_string(hostStatus) + "\n");
  }
  return platform::kHostUnwaited;
}

bool FakePlatform::HostSpawnWaits() { return hostSpawnWaits; }

void* FakePlatform::WineGetVersionAddress() {
  return wineExport ? reinterpret_cast<void*>(&FakeWineGetVersion) : nullptr;
}

std::string FakePlatform::LowerCase(const std::string& text) { return ChangeCase(text, false); }
std::string FakePlatform::UpperCase(const std::string& text) { return ChangeCase(text, true); }

std::string FakePlatform::DecodeText(const std::string& bytes, platform::TextEncoding encoding) {
  std::u32string chars;
  if (encoding == platform::TextEncoding::kAnsi) {
    for (char c : bytes) chars += static_cast<char32_t>(static_cast<unsigned char>(c));
  } else {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      char32_t unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
      if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
        char32_t low = static_cast<unsigned char>(bytes[i + 2]) | static_cast<unsigned char>(bytes[i + 3]) << 8;
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
      chars += unit;
    }
  }
  std::string text;
  for (char32_t c : chars) {
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | c >> 6);
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      text += static_cast<char>(0xE0 | c >> 12);
      text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | c >> 18);
      text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

bool FakePlatform::EncodeText(const std::string& text, platform::TextEncoding encoding,
                              std::string* bytes) {
  bytes->clear();
  bool whole = true;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length && i + k < text.size(); ++k) c = c << 6 | (text[i + k] & 0x3F);
    i += length;
    if (encoding == platform::TextEncoding::kAnsi) {
      whole = whole && c <= 0xFF;
      *bytes += c <= 0xFF ? static_cast<char>(c) : '?';
      continue;
    }
    std::u16string units;
    if (c < 0x10000) {
      units += static_cast<char16_t>(c);
    } else {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
    for (char16_t unit : units) {
      *bytes += static_cast<char>(unit & 0xFF);
      *bytes += static_cast<char>(unit >> 8);
    }
  }
  return whole;
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

int FakePlatform::SaveImage(platform::Handle image, const std::string& file,
                            const std::uint8_t clsid[16]) {
  (void)image;
  (void)clsid;
  savedImages.push_back(file);
  if (saveStatus == 0) files[Key(file)] = "PNG";
  return saveStatus;
}

std::string FakePlatform::FullPathName(const std::string& path) {
  return fullPathNames.count(path) ? fullPathNames[path] : path;
}

std::string FakePlatform::WineUnixFileName(const std::string& path) {
  return unixFileNames.count(Key(path)) ? unixFileNames[Key(path)] : std::string();
}

bool FakePlatform::CreatePrivateFolder(const std::string& path) {
  const std::string key = Key(path), parent = ParentFolder(key);
  if (folders.count(key) > 0 || files.count(key) > 0) return false;
  if (!parent.empty() && (folders.count(parent) == 0 || readOnlyFolders.count(parent) > 0)) return false;
  folders[key] = true;
  createdFolders.push_back(path);
  return true;
}

int FakePlatform::ProcessExitCode(platform::Handle) { return exitCode; }

bool FakePlatform::StandardInputIsStream() { return inputIsStream; }

platform::Handle FakePlatform::OpenForWriting(const std::string& path) {
  if (files.count(Key(path)) == 0) return 0;
  writes.push_back({path, std::string()});
  ++openWrites;
  return writes.size();
}

bool FakePlatform::WriteTo(platform::Handle file, const std::string& bytes) {
  if (file == 0 || file > writes.size()) return false;
  writes[file - 1].second += bytes;
  return true;
}

void FakePlatform::CloseFile(platform::Handle file) {
  if (file != 0) --openWrites;
}

void FakePlatform::ForwardStandardInput(platform::Handle file) {
  forwardedTo.push_back(writes[file - 1].first);
  CloseFile(file);
}

bool FakePlatform::StandardOutputGiven(platform::StandardOutput which) {
  return which == platform::StandardOutput::kOutput ? outputGiven : errorGiven;
}

platform::Handle FakePlatform::OpenForReading(const std::string& path) { return OpenForWriting(path); }

void FakePlatform::ForwardToStandardOutput(platform::Handle file, platform::StandardOutput which) {
  forwardedOut.push_back(writes[file - 1].first + (which == platform::StandardOutput::kOutput ? ">1" : ">2"));
  CloseFile(file);
}

void FakePlatform::FinishForwarding() { ++forwardingFinished; }

std::uint64_t FakePlatform::RandomNumber() { return randomNumber; }

}  // namespace fake
