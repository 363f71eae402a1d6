// A scripted Unix host behind the fake platform: it answers the runner's
// "start /... /bin/sh ~/dues.sh" by writing a chosen output into dues.log,
// either at once or only after a given number of pauses.
#pragma once

#include <string>

#include "fake_platform.h"
#include "winebridge/winebridge.h"

namespace fake {

// The script the last host program ran: a launch's command (its last word)
// as dues.sh would hold it, else dues.sh.
inline std::string LastHostScript(FakePlatform& sys) {
  if (!sys.processes.empty()) {
    const std::vector<std::string>& words = sys.processes.back().argv;
    if (words.size() == 10 && words[5] == "launch") return "#!/bin/bash\n" + words[9] + "\n";
  }
  return sys.FileBytes("z:\\home\\guest\\dues.sh");
}

// The host's part in a native player's start, once its shell has the
// script: the start's files appear in its folder (named in the script's
// "d='...'"), and the player's status when `status` is not empty.
inline void PlayNativeStart(FakePlatform& sys, const std::string& script, const std::string& status) {
  const std::size_t at = script.find("\nP=");
  const std::size_t from = script.find(" d='", at);
  if (at == std::string::npos || from == std::string::npos) return;
  const std::string folder = modrik::WineUnixName(script.substr(from + 4, script.find('\'', from + 4) - from - 4)) + "\\";
  sys.AddFile(folder + "live", "");
  if (!status.empty()) sys.AddFile(folder + "status", status);
}

// The host's part in the private folder's capture, when the script is that
// command: the runtime folder it names (if any) and ~/.cache are the user's
// own, and modrik's folder is made in each; a folder of the private folder
// is made, the user's own, too. The answer goes into `log`.
inline void AnswerPrivateFolder(FakePlatform& sys, const std::string& script, const std::string& log) {
  if (script.rfind("#!/bin/bash\nd='", 0) == 0) {
    sys.AddFolder(modrik::WineUnixName(script.substr(15, script.find('\'', 15) - 15)));
    sys.AddFile(log, "1000\n1000 700 directory\n");
  }
  const std::size_t from = script.find("\nset -- '");
  if (from == std::string::npos || script.find(" id -u\n") == std::string::npos) return;
  const std::string runtime = script.substr(from + 9, script.find('\'', from + 9) - from - 9);
  const std::string own = "1000 700 directory\n";
  sys.AddFile(log, "1000\n" + (runtime.empty() ? "missing\nmissing\n" : own + own) + own + own);
  sys.AddFolder(modrik::WineUnixName((runtime.empty() ? "/home/guest/.cache" : runtime) + "/modrik"));
}

class FakeHost : public FakePlatform {
 public:
  static constexpr const char* kScript = "z:\\home\\guest\\dues.sh";
  static constexpr const char* kLog = "z:\\home\\guest\\dues.log";

  // What the host writes into dues.log for a script whose command line is
  // `command + " > ~/dues.log"`; scripts for other commands write nothing.
  std::string command;
  std::string output;
  // 0: the output is in dues.log as soon as the shell starts. N > 0: it
  // appears after the N-th pause of the whole run.
  std::size_t appearsAfterPause = 0;
  // Scripts the host shell ran, as written (bytes of dues.sh).
  std::vector<std::string> scriptsRun;
  // The status a native player ends with (empty: it plays on).
  std::string playerStatus = "0\n";

  FakeHost() {
    AddFolder("z:\\home\\guest");
    onStart = [this](const std::string& line) {
      if (line.find("/bin/sh ") != std::string::npos) {
        // A launch hands its command over as a word; the rest go through dues.sh.
        std::string script = LastHostScript(*this);
        scriptsRun.push_back(script);
        PlayNativeStart(*this, script, playerStatus);
        AnswerPrivateFolder(*this, script, kLog);
        if (script == "#!/bin/bash\n" + command + " > ~/dues.log\n") {
          pending_ = true;
          if (appearsAfterPause == 0) Deliver();
        }
      }
      return true;
    };
  }

  void SleepMs(unsigned milliseconds) override {
    FakePlatform::SleepMs(milliseconds);
    if (pending_ && appearsAfterPause != 0 && sleeps.size() == appearsAfterPause) Deliver();
  }

 private:
  void Deliver() {
    AddFile(kLog, output);
    pending_ = false;
  }
  bool pending_ = false;
};

}  // namespace fake
