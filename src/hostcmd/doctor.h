// `modrik doctor` (doctor.cpp, doctor_checks.cpp, doctor_start.cpp): what a
// start in a prefix needs, checked in the order the start needs it.
#pragma once

#include <string>
#include <vector>

#include "hostcmd.h"

namespace hostcmd {

// `modrik doctor`: for each target, what a start needs, in the order it
// needs it, one line a check: "ok", or what is wrong and the command that
// mends it; then (unless --no-start) a real start of the prefix's vlc.exe
// with a recorder in the player's place. It changes nothing. Returns 0 when
// every start will work, else kDoctorFound (or 1 when no target could be
// named).
constexpr int kDoctorFound = 7;
struct DoctorOptions {
  bool start = true;   // false with --no-start
  std::string file;    // FILE for the start, "" for the doctor's own
  int seconds = 60;    // the bound on each Wine the doctor runs
};
int Doctor(const std::vector<Target>& targets, const DoctorOptions& options);

// One check's line: "NAME: ok (NOTE)", or "NAME: WRONG; mend: MEND".
struct Check {
  std::string name;
  std::string wrong;  // "" when all is well
  std::string mend;   // the command that mends it, "" when there is none
  std::string note = {};  // what was found, shown with "ok"
  bool Ok() const { return wrong.empty(); }
  std::string Line() const;
};
// The answer of the program `wine` to `--version` (its exit status, -1 when
// it gave none within `seconds`, and its output) for a prefix of the
// architecture `arch`.
Check WineCheck(const std::string& wine, int status, const std::string& output, const std::string& arch,
                int seconds);
// The home as the start's host commands judge it (owned by the user, and
// writable by nobody else), its dues.sh (a file or nothing), and the private
// folder's places ($XDG_RUNTIME_DIR, else ~/.cache; runtime "" for none).
Check HomeCheck(const std::string& home);
Check DuesCheck(const std::string& home);
Check PrivateFolderCheck(const std::string& runtime, const std::string& home);
// The channel's words from ChannelOf: a finding when the start cannot reach
// the player's whole hand-off.
Check ChannelCheck(const std::string& channel);
// The names of the values of a key of HKEY_LOCAL_MACHINE in a system.reg's
// text (as MachineKeyDefault reads it), "" for the default one.
std::vector<std::string> MachineKeyValueNames(const std::string& systemReg, const std::string& key);

// The real start: the prefix's `exeWin` started by its Wine with FILE (its
// Windows name), as a Windows program starts it, the recorder standing in
// for `player` (MODRIK_DOCTOR_PLAYER); ~/dues.sh is put back as it was.
// The check, and in *details what the player would have received, where,
// through which channel, and how long the start took.
Check RealStart(const Target& target, const std::string& exeWin, const std::string& player,
                const DoctorOptions& options, std::vector<std::string>* details);
// What the recorder wrote (its working folder, then each argument, each
// ended by NUL) as the lines the doctor shows, the recorder's own name
// replaced by the player's; empty when the record is incomplete.
std::vector<std::string> RecordLines(const std::string& record, const std::string& player);
// The channel a start took, from its trace (WINEDEBUG=+debugstr).
std::string ChannelTaken(const std::string& trace);

}  // namespace hostcmd
