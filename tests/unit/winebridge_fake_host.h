// A scripted Unix host behind the fake platform: it answers the runner's
// "start /... /bin/sh ~/dues.sh" by writing a chosen output into dues.log,
// either at once or only after a given number of pauses.
#pragma once

#include <string>

#include "fake_platform.h"

namespace fake {

// The host's part in a native player's start, once its shell has the
// script: the start's files appear in its folder (named in the script's
// "d='...'"), and the player's status when `status` is not empty.
inline void PlayNativeStart(FakePlatform& sys, const std::string& script, const std::string& status) {
  const std::size_t at = script.find("\nP=");
  const std::size_t from = script.find(" d='", at);
  if (at == std::string::npos || from == std::string::npos) return;
  std::string folder = "z:" + script.substr(from + 4, script.find('\'', from + 4) - from - 4) + "/";
  for (char& c : folder)
    if (c == '/') c = '\\';
  sys.AddFile(folder + "live", "");
  if (!status.empty()) sys.AddFile(folder + "status", status);
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
        std::string script = FileBytes(kScript);
        scriptsRun.push_back(script);
        PlayNativeStart(*this, script, playerStatus);
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
