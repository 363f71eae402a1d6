// Inside the host command: one change to a prefix (an install or an
// uninstall), the places it puts the stand-in, and the Wine it runs there.
// In a 64-bit prefix there are two of everything, one for each registry
// view: the 64-bit build in C:\Program Files\VideoLAN\VLC, named by the
// 64-bit view, and the 32-bit build in C:\Program Files (x86)\VideoLAN\VLC,
// named by the 32-bit view (HKLM\SOFTWARE\Wow6432Node), as the player's own
// installers of each build would have it. App Paths is one key for both
// views: it names the 64-bit build. A 32-bit prefix has the 32-bit build in
// C:\Program Files and one view.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostcmd.h"

namespace hostcmd {

extern const char kSoftware[];  // HKEY_LOCAL_MACHINE\SOFTWARE

// One place the stand-in goes, and the registry view that names it.
struct Place {
  std::string folderWin;  // C:\Program Files\VideoLAN\VLC
  std::string folder;     // its host path
  std::string software;   // HKLM\SOFTWARE of the view
  std::string classes;    // HKEY_CLASSES_ROOT of the view
  std::string buildArch;  // the build it gets
  std::string keep;       // prefix of its state files
  std::string exe;        // the build to copy there
  std::string ExeWin() const { return folderWin + "\\vlc.exe"; }
  std::string Exe() const { return folder + "/vlc.exe"; }
  std::string Ini() const { return folder + "/modrik.ini"; }
};

std::vector<Place> Places(const std::string& prefix, const std::string& arch);
std::vector<std::string> MediaTypes();
// The .reg body that makes a place the player: its key, App Paths and,
// with associate, the media types; and the keys it writes.
std::string InstallBody(const Place& p, bool associate);
std::vector<std::string> WantedKeys(const Place& p, bool associate);
std::string SettingsFor(const std::string& player);
// vlcpath of a modrik.ini, its key in any case and its value trimmed, as
// modrik.exe reads it: "" when it has none, nullopt without the file.
std::optional<std::string> SettingsPlayer(const std::string& ini);
std::string StateOf(const Target& t);
// The keys an uninstall deletes for the keys an install listed, given the
// prefix's system.reg: a vendor or class folder (VideoLAN, Applications)
// whole only while it holds nothing but modrik's key, else that key alone.
std::vector<std::string> KeysToDelete(const std::vector<std::string>& listed, const std::string& systemReg);
// The keys of modrik's set that still name modrik in the prefix's
// system.reg: what an uninstall takes away when the state cannot say what
// the install replaced.
std::vector<std::string> KeysNamingModrik(const std::vector<Place>& places, const std::string& systemReg);

void Refuse(const std::string& text);  // "modrik: TEXT; nothing changed."
std::string StoppedText();              // "interrupted by SIGINT"

// Wine as the target runs it, with its output in the state folder.
class PrefixWine {
 public:
  PrefixWine(const Target& t, const std::string& state) : t_(t), log_(state + "/wine.log") {}
  int Wine(const std::vector<std::string>& args, bool stopOnSignal = false);
  // Waits until the prefix's wineserver ends (after our own Wine processes):
  // everything written is on disk then. A server that another program made
  // persistent meanwhile is not waited for long.
  void Settle();
  const std::string& Log() const { return log_; }

 private:
  Target t_;
  std::string log_;
};

// The registry below HKLM\SOFTWARE, both views of it, through `reg` of the
// prefix's own Wine (registry_wine.cpp says which).
class Registry {
 public:
  Registry(PrefixWine& wine, const std::string& prefix, bool win64);
  ~Registry();
  // The lines of an export of HKLM\SOFTWARE; empty when it failed or was
  // stopped by a signal (it only reads: a signal ends it at once).
  std::vector<std::string> Export(off_t room);
  // Imports a .reg body (UTF-8, without header).
  bool Import(const std::string& body);
  // Why the folder could not be made or a file written there, "" otherwise.
  const std::string& Error() const { return error_; }

 private:
  bool Reg(const std::vector<std::string>& args, bool readOnly, const std::string& made);

  PrefixWine& wine_;
  bool win64_;
  std::string prefix_;
  std::vector<std::string> tool_;
  std::string dir_, dirWin_, error_;
};

// One change to a prefix, made in the steps StepsOf names, under its
// journal (transaction.cpp); the steps themselves are in steps.cpp.
class Change {
 public:
  Change(const Target& t, const std::string& arch, std::vector<Place> places, const InstallOptions& o,
         const InstallState& state)
      : t_(t), arch_(arch), state_(StateOf(t)), places_(std::move(places)), o_(o), read_(state) {}
  // Runs the command's steps; the exit status.
  int Make(const std::string& command);

 private:
  int Begin(const std::string& operation, const Journal& pending);
  int Step(const std::string& operation, const std::string& step);
  bool Forget();
  int Finished(const std::string& operation);
  void HalfDone(const std::string& operation);
  PrefixWine& Wine();
  Registry& Reg();
  int Failed(const std::string& what);

  int Keep();
  int CopyFiles();
  int WriteRegistry();
  int WriteSettings();
  int Record();
  int RestoreFiles();
  int RestoreRegistry();
  int RemoveDesktopFiles();
  int RemoveState();

  const Target& t_;
  std::string arch_, state_;
  std::vector<Place> places_;
  const InstallOptions o_;
  InstallState read_;       // the state folder as read before the change
  Journal journal_;
  bool first_ = false;
  std::string refusal_;     // why the keep step refused, said once the journal is gone
  std::string wineEnd_;     // the end of Wine's output, said after it
  bool incomplete_ = false; // something of the state could not be put back
  std::unique_ptr<PrefixWine> wine_;
  std::unique_ptr<Registry> registry_;
};

// A folder goes at once, by its name, or not: renamed aside first (a
// removal cut short leaves only that), then removed. False when it stays.
bool RemoveFolder(const std::string& folder);

}  // namespace hostcmd
