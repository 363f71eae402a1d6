// A change to a prefix as one transaction: a lock that lets one change at
// a time in, a journal from which the next command finishes a change that
// was cut short (SIGKILL, a power cut), and signals that end a change
// before its first step but let one that has begun finish.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>

#include "change.h"

namespace fs = std::filesystem;

namespace hostcmd {

namespace {

const std::vector<std::string> kInstallSteps = {"keep", "files", "registry", "settings", "record"};
const std::vector<std::string> kUninstallSteps = {"files", "registry", "desktop", "state"};

}  // namespace

bool Journal::Done(const std::string& step) const {
  return std::find(done.begin(), done.end(), step) != done.end();
}

Journal ParseJournal(const std::string& text, std::string* problem) {
  Journal journal;
  std::string why;
  std::istringstream lines(text);
  int n = 0;
  for (std::string line; std::getline(lines, line) && why.empty();) {
    n++;
    if (n == 1 && line.rfind("operation=", 0) == 0) {
      journal.operation = line.substr(10);
      if (journal.operation != "install" && journal.operation != "uninstall")
        why = "an unknown operation \"" + journal.operation + "\"";
    } else if (n > 1 && line.rfind("done=", 0) == 0) {
      journal.done.push_back(line.substr(5));
      const auto& steps = journal.operation == "install" ? kInstallSteps : kUninstallSteps;
      if (std::find(steps.begin(), steps.end(), journal.done.back()) == steps.end())
        why = "an unknown step \"" + journal.done.back() + "\" of the " + journal.operation;
    } else {
      why = "line " + std::to_string(n) + " is no step of a change";
    }
  }
  if (n == 0) why = "it is empty";
  if (problem) *problem = why;
  return journal;
}

std::string JournalText(const Journal& journal) {
  std::string text = "operation=" + journal.operation + "\n";
  for (const std::string& step : journal.done) text += "done=" + step + "\n";
  return text;
}

std::vector<std::string> StepsOf(const std::string& command, const Journal& pending) {
  std::vector<std::string> steps;
  auto add = [&](const std::string& operation) {
    for (const std::string& step : operation == "install" ? kInstallSteps : kUninstallSteps)
      steps.push_back(operation + ":" + step);
  };
  if (pending.operation == "uninstall" || command == "uninstall") add("uninstall");
  if (command == "install") add("install");
  return steps;
}

PrefixLock::~PrefixLock() {
  if (fd_ >= 0) close(fd_);  // the lock goes with it
}

PrefixLock::Result PrefixLock::Take(int waitSeconds) {
  fd_ = open(prefix_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return kFailed;
  if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return kTaken;
  std::cout << "modrik: another modrik command is changing " << prefix_ << ": waiting up to " << waitSeconds
            << " s for it to end" << std::endl;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
  while (!Interrupted()) {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return kTaken;
    if (std::chrono::steady_clock::now() >= end) return kBusy;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return kInterrupted;
}

bool PrefixLock::Busy(const std::string& prefix) {
  const int fd = open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool busy = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return busy;
}

bool RemoveFolder(const std::string& folder) {
  const std::string aside = folder + ".removed";
  std::error_code ec;
  fs::remove_all(aside, ec);
  if (rename(folder.c_str(), aside.c_str()) != 0) return !Exists(folder);
  fs::remove_all(aside, ec);
  return true;
}

int Change::Make(const std::string& command) {
  const Journal pending = read_.journal;
  bool changed = false;  // this run changed the prefix
  std::string begun;     // the operation whose changes have begun
  for (const std::string& s : StepsOf(command, pending)) {
    const std::string operation = s.substr(0, s.find(':')), step = s.substr(s.find(':') + 1);
    // Interrupted: an operation that has not changed the prefix yet stops
    // here (the journal of an install that only kept goes again); one that
    // has is finished.
    if (Interrupted() && begun != operation) {
      if (journal_.operation == operation && pending.operation != operation) Forget();
      if (changed) return Finished(begun);
      Refuse(StoppedText());
      return 128 + Interrupted();
    }
    if (journal_.operation != operation) {
      if (int status = Begin(operation, pending)) return status;
    }
    if (int status = Step(operation, step)) {
      if (operation == "install" && step == "keep" && pending.operation != "install") {
        // Nothing changed, when the journal could go again.
        if (Forget()) {
          Refuse(refusal_);
        } else {
          std::cerr << "modrik: " << refusal_ << "\n";
          HalfDone(operation);
        }
        std::cerr << wineEnd_;
        return status;
      }
      if (!refusal_.empty()) std::cerr << "modrik: " << refusal_ << "\n" << wineEnd_;
      HalfDone(operation);
      if (Interruptions() < 2) return status;
      std::cerr << "modrik: interrupted twice by " << SignalName(Interrupted()) << ".\n";
      return 128 + Interrupted();
    }
    if (!journal_.Done(step)) journal_.done.push_back(step);
    if (step != "record" && step != "state") {
      const std::string error = WriteWhole(state_ + "/journal", JournalText(journal_));
      if (!error.empty()) {
        std::cerr << "modrik: " << error << "\n";
        HalfDone(operation);
        return 1;
      }
    }
    if (s != "install:keep") changed = true, begun = operation;
    if (Interruptions() >= 2 && (step == "record" || step == "state")) break;
    if (Interruptions() >= 2) {
      HalfDone(operation);
      std::cerr << "modrik: interrupted twice by " << SignalName(Interrupted()) << ".\n";
      return 128 + Interrupted();
    }
  }
  if (Interrupted()) return Finished(begun);
  return incomplete_ ? 6 : 0;
}

// Starts an operation: the journal, before its first change.
int Change::Begin(const std::string& operation, const Journal& pending) {
  const bool cutShort = pending.operation == operation;
  journal_ = {operation, cutShort && operation == "install" ? pending.done : std::vector<std::string>{}};
  if (pending.operation == "uninstall" && operation == "uninstall")
    std::cout << "finishing the uninstall that was cut short in " << t_.prefix << "\n";
  if (pending.operation == "install")
    std::cout << (operation == "install" ? "finishing" : "taking back") << " the install that was cut short in "
              << t_.prefix << "\n";
  if (operation == "install") {
    first_ = !read_.installed && !(cutShort && pending.Done("keep"));
    if (mkdir(state_.c_str(), 0755) != 0 && errno != EEXIST) {
      Refuse("cannot write " + state_ + ": " + WriteReason(errno));
      return 1;
    }
    const std::string problem = OwnFolderProblem(state_);
    if (!problem.empty()) {
      Refuse(state_ + " " + problem);
      return 6;
    }
  }
  std::error_code ec;
  fs::remove_all(state_ + ".removed", ec);  // left by a removal cut short
  const std::string error = WriteWhole(state_ + "/journal", JournalText(journal_));
  if (!error.empty()) {
    Refuse(error);
    if (operation == "install" && first_ && !cutShort) RemoveFolder(state_);
    return 1;
  }
  return 0;
}

int Change::Step(const std::string& operation, const std::string& step) {
  if (operation == "install") {
    if (step == "keep") return Keep();
    if (step == "files") return CopyFiles();
    if (step == "registry") return WriteRegistry();
    if (step == "settings") return WriteSettings();
    return Record();
  }
  if (step == "files") return RestoreFiles();
  if (step == "registry") return RestoreRegistry();
  if (step == "desktop") return RemoveDesktopFiles();
  return RemoveState();
}

// An install that has not changed the prefix: its journal goes, and the
// state folder of a first install with it. False when it could not.
bool Change::Forget() {
  registry_.reset();
  journal_ = {};
  if (first_) return RemoveFolder(state_);
  std::error_code ec;
  fs::remove(state_ + "/journal", ec);
  return !Exists(state_ + "/journal");
}

int Change::Finished(const std::string& operation) {
  std::cerr << "modrik: interrupted by " << SignalName(Interrupted()) << ": the " << operation << " under way in "
            << t_.prefix << " was finished first.\n";
  return 128 + Interrupted();
}

void Change::HalfDone(const std::string& operation) {
  std::cerr << "modrik: " << t_.prefix << " is "
            << (operation == "install" ? "half-installed: `modrik install` finishes it, `modrik uninstall` takes it back.\n"
                                       : "half-removed: `modrik uninstall` finishes it.\n");
}

PrefixWine& Change::Wine() {
  if (!wine_) {
    // The log is modrik's own: a link or a second name of another file
    // standing there goes, and Wine writes a new one.
    struct stat st;
    const std::string log = state_ + "/wine.log";
    if (lstat(log.c_str(), &st) == 0 && (S_ISLNK(st.st_mode) || st.st_nlink != 1)) unlink(log.c_str());
    wine_ = std::make_unique<PrefixWine>(t_, state_);
  }
  return *wine_;
}

Registry& Change::Reg() {
  if (!registry_) registry_ = std::make_unique<Registry>(Wine(), t_.prefix, arch_ == "win64");
  return *registry_;
}

int Change::Failed(const std::string& what) {
  std::cerr << "modrik: " << what << "\n";
  return 1;
}

}  // namespace hostcmd
