// The steps of a change (transaction.cpp runs them under the journal). An
// install keeps what is there, copies the stand-in, names it in the
// registry, writes its settings and records itself; an uninstall puts the
// files back, then the registry, removes the desktop files modrik made, and
// last the state folder: until then a cut-short uninstall can be finished.
//
// The state of an install, in PREFIX/modrik-install, each file written whole
// or not at all:
//   journal                   the change under way (see Journal), while it is
//   installed                 version=..., sha256=... of each build installed
//   registry.keys             the keys uninstall deletes (IsModrikKey: below
//                             HKLM\SOFTWARE, both views; the highest one an
//                             install created)
//   registry.saved            what uninstall imports again (as they were)
//   registry.sums             the size and SHA-256 of the two files above
//   [x86-]vlc.exe.replaced    a player executable that was there (--force)
//   [x86-]modrik.ini.replaced a settings file that was there
//   [x86-]vlc.exe.absent      there was no vlc.exe
//   created-files             desktop files modrik makes that were not there
//   wine.log                  what Wine said
#include <filesystem>
#include <iostream>

#include "change.h"

namespace fs = std::filesystem;

namespace hostcmd {

namespace {

// The last lines of a log, as they are said on standard error.
std::string EndOf(const std::string& log) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : ReadOwnFile(log).value_or("")) {
    if (c != '\n') {
      line += c;
    } else if (!line.empty()) {
      lines.push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back(line);
  if (lines.empty()) return "";
  std::string text = "modrik: the end of Wine's output:\n";
  for (size_t i = lines.size() > 10 ? lines.size() - 10 : 0; i < lines.size(); i++) text += "  " + lines[i] + "\n";
  return text;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace

int Change::Keep() {
  std::vector<std::string> wanted;
  for (const Place& p : places_) {
    std::vector<std::string> keys = WantedKeys(p, o_.associate);
    wanted.insert(wanted.end(), keys.begin(), keys.end());
  }
  std::error_code ec;
  const auto registrySize = fs::file_size(t_.prefix + "/system.reg", ec);
  std::vector<std::string> exported = Reg().Export(3 * static_cast<off_t>(ec ? 0 : registrySize) + (1 << 20));
  if (Interrupted()) {
    refusal_ = StoppedText();
    return 128 + Interrupted();
  }
  if (exported.empty()) {
    if (!Reg().Error().empty()) {
      refusal_ = Reg().Error();
    } else {
      // The state folder goes with the refusal: what Wine said is kept here.
      refusal_ = "cannot read the registry of " + t_.prefix + " with " + t_.wine;
      wineEnd_ = EndOf(Wine().Log());
    }
    return 1;
  }
  SavedKeys saved = SaveKeys(exported, kSoftware, wanted, read_.keys);
  std::vector<std::string> listed = read_.keys;
  listed.insert(listed.end(), saved.listed.begin(), saved.listed.end());
  // The sections first: keys listed without them would be deleted and
  // not put back; the record of both last.
  std::string error = WriteWhole(state_ + "/registry.saved", read_.saved + saved.sections);
  if (error.empty()) error = WriteWhole(state_ + "/registry.keys", Joined(listed));
  if (error.empty())
    error = WriteWhole(state_ + "/registry.sums",
                       SumLine(state_, "registry.keys") + "\n" + SumLine(state_, "registry.saved") + "\n");
  for (const Place& p : places_) {
    const std::string kept = state_ + "/" + p.keep;
    if (error.empty() && Exists(p.Exe()) && !IsModrik(p.Exe())) {
      error = CopyWhole(p.Exe(), kept + "vlc.exe.replaced");
      if (error.empty()) std::cout << "kept the player executable that was there: " << kept << "vlc.exe.replaced\n";
    }
    if (error.empty() && first_ && Exists(p.Ini())) error = CopyWhole(p.Ini(), kept + "modrik.ini.replaced");
    if (error.empty() && first_ && !Exists(p.Exe())) error = WriteWhole(kept + "vlc.exe.absent", "");
  }
  if (error.empty() && first_) {
    // The desktop entry and icons modrik makes for itself under the name
    // vlc: removed by uninstall unless they were there before.
    std::string created;
    for (const auto& f : DesktopFiles())
      if (!Exists(f)) created += f + "\n";
    error = WriteWhole(state_ + "/created-files", created);
  }
  refusal_ = error;
  return error.empty() ? 0 : 1;
}

int Change::CopyFiles() {
  for (const Place& p : places_) {
    std::error_code ec;
    fs::create_directories(p.folder, ec);
    const std::string link = LinkBelow(t_.prefix, p.folder);
    if (!link.empty()) return Failed("cannot write " + p.Exe() + ": " + link + " is a link");
    const std::string error = CopyWhole(p.exe, p.Exe());
    if (!error.empty()) return Failed(error);
    std::cout << "installed modrik as " << p.ExeWin() << (p.keep.empty() ? "" : " (the 32-bit build, for 32-bit programs)")
              << "\n";
  }
  return 0;
}

int Change::WriteRegistry() {
  std::string body;
  for (const Place& p : places_) body += InstallBody(p, o_.associate);
  if (!Reg().Import(body)) {
    return Failed(Reg().Error().empty() ? "writing the registry of " + t_.prefix + " failed (see " + Wine().Log() + ")"
                                        : Reg().Error());
  }
  for (const Place& p : places_) {
    const std::string view = p.software.substr(std::string(kSoftware).size());
    std::cout << "set HKLM\\SOFTWARE" << view << "\\VideoLAN\\VLC: (default) = " << p.ExeWin()
              << ", InstallDir = " << p.folderWin << "\n";
    if (p.keep.empty())
      std::cout << "set HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe (both views): (default) = "
                << p.ExeWin() << ", Path = " << p.folderWin << "\n";
    if (o_.associate) {
      std::cout << "associated with " << p.ExeWin() << ":";
      for (const auto& type : MediaTypes()) std::cout << " ." << type;
      std::cout << "\n";
    }
  }
  return 0;
}

int Change::WriteSettings() {
  const std::string player = o_.player ? *o_.player : FindOnPath("vlc");
  for (const Place& p : places_) {
    if (!player.empty()) {
      const std::string error = WriteWhole(p.Ini(), SettingsFor(player));
      if (!error.empty()) return Failed(error);
      std::cout << "wrote " << p.folderWin << "\\modrik.ini: vlcpath=" << player << "\n";
    } else {
      std::error_code ec;
      fs::remove(p.Ini(), ec);
    }
  }
  if (player.empty()) std::cout << "no native player found on this host: modrik offers to look for one on its first start\n";
  return 0;
}

// The registry on the disk first (the wineserver writes it when it ends),
// then the record; the journal goes last.
int Change::Record() {
  Wine().Settle();
  std::string record = "version=" + std::string(MODRIK_VERSION) + "\n";
  for (const Place& p : places_) record += "sha256." + p.buildArch + "=" + Sha256(p.Exe()) + "\n";
  const std::string error = WriteWhole(state_ + "/installed", record);
  if (!error.empty()) return Failed(error);
  std::error_code ec;
  fs::remove(state_ + "/journal", ec);
  return 0;
}

int Change::RestoreFiles() {
  std::error_code ec;
  for (const Place& p : places_) {
    const std::string kept = state_ + "/" + p.keep, link = LinkBelow(t_.prefix, p.folder);
    if (!link.empty()) {
      std::cerr << "modrik: " << link << " is a link: nothing written or removed through it\n";
      incomplete_ = true;
      continue;
    }
    for (const std::string& left : {p.Exe(), p.Ini()}) fs::remove(left + ".modrik-new", ec);
    if (Exists(kept + "vlc.exe.replaced")) {
      const std::string error = CopyWhole(kept + "vlc.exe.replaced", p.Exe());
      if (!error.empty()) return Failed(error);
      std::cout << "restored the player executable " << p.ExeWin() << "\n";
    } else if (Exists(p.Exe()) && IsModrik(p.Exe())) {
      fs::remove(p.Exe(), ec);
      std::cout << "removed " << p.ExeWin() << "\n";
    }
    if (Exists(kept + "modrik.ini.replaced")) {
      const std::string error = CopyWhole(kept + "modrik.ini.replaced", p.Ini());
      if (!error.empty()) return Failed(error);
      std::cout << "restored " << p.folderWin << "\\modrik.ini\n";
    } else {
      fs::remove(p.Ini(), ec);
    }
  }
  return 0;
}

// Every key of modrik's the installs listed: deleted, then imported again
// as it was. When the state cannot say what was there, modrik's own keys
// go, and what they replaced is said to be lost.
int Change::RestoreRegistry() {
  const std::string systemReg = ReadOwnFile(t_.prefix + "/system.reg").value_or("");
  const std::vector<std::string> keys =
      read_.registryDamaged ? KeysNamingModrik(places_, systemReg) : KeysToDelete(read_.keys, systemReg);
  std::string body;
  for (const auto& k : keys) body += "[-" + k + "]\n\n";
  if (!read_.registryDamaged) body += read_.saved;
  if (!body.empty() && !Reg().Import(body)) {
    return Failed((Reg().Error().empty() ? "" : Reg().Error() + ": ") + "restoring the registry of " + t_.prefix +
                  " failed (see " + Wine().Log() + "); run the uninstall again");
  }
  if (!read_.registryDamaged) {
    std::cout << "restored the registry keys the install had written (" << read_.keys.size() << " keys)\n";
    return 0;
  }
  std::cout << "removed the registry keys that name modrik (" << keys.size() << " keys)\n";
  std::cerr << "modrik: what the install replaced in the registry is not put back: the state that kept it is damaged\n";
  incomplete_ = true;
  return 0;
}

int Change::RemoveDesktopFiles() {
  std::error_code ec;
  for (const auto& f : read_.created) {
    if (!Exists(f)) continue;
    if (StillModriks(f)) {
      fs::remove(f, ec);
    } else {
      std::cerr << "modrik: " << f << " is not modrik's: left alone\n";
    }
  }
  for (const Place& p : places_) {
    if (!LinkBelow(t_.prefix, p.folder).empty()) continue;
    fs::remove(p.folder, ec);  // only when empty
    fs::remove(fs::path(p.folder).parent_path(), ec);
  }
  return 0;
}

int Change::RemoveState() {
  if (wine_) wine_->Settle();
  registry_.reset();
  wine_.reset();
  RemoveFolder(state_);
  // An install that follows starts afresh, as on a prefix never installed.
  read_ = InstallState();
  return 0;
}

}  // namespace hostcmd
