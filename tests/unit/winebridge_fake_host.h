// A scripted Unix host behind the fake platform: it answers the runner's
// "start /... /bin/sh ~/dues.sh" by writing a chosen output into dues.log,
// either at once or only after a given number of pauses.
#pragma once

#include <string>

#include "fake_platform.h"

namespace fake {

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

  FakeHost() {
    AddFolder("z:\\home\\guest");
    onStart = [this](const std::string& line) {
      if (line.find("/bin/sh ") != std::string::npos) {
        std::string script = FileBytes(kScript);
        scriptsRun.push_back(script);
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
