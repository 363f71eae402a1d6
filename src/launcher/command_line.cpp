// The launcher's view of its own command line.
#include "launcher/launcher.h"
#include "platform/platform.h"

namespace modrik {

std::string CommandTailOf(const std::string& commandLine) {
  std::size_t pos = 0;
  if (!commandLine.empty() && commandLine[0] == '"') {
    // The quoted program name runs to the next double quote, inclusive.
    std::size_t close = commandLine.find('"', 1);
    pos = close == std::string::npos ? commandLine.size() : close + 1;
  } else {
    while (pos < commandLine.size() && static_cast<unsigned char>(commandLine[pos]) > 32) ++pos;
  }
  while (pos < commandLine.size() && commandLine[pos] == ' ') ++pos;
  return commandLine.substr(pos);
}

std::string CommandParamOf(const std::string& tail, int n) {
  std::size_t pos = 0;
  int index = 0;
  while (pos < tail.size()) {
    while (pos < tail.size() && tail[pos] == ' ') ++pos;
    if (pos >= tail.size()) break;
    std::string param;
    if (tail[pos] == '"') {
      std::size_t close = tail.find('"', pos + 1);
      std::size_t end = close == std::string::npos ? tail.size() : close;
      param = tail.substr(pos + 1, end - pos - 1);
      pos = close == std::string::npos ? tail.size() : close + 1;
      if (param.empty()) continue;  // an empty pair of quotes does not count
    } else {
      std::size_t end = tail.find(' ', pos);
      if (end == std::string::npos) end = tail.size();
      param = tail.substr(pos, end - pos);
      pos = end;
    }
    if (++index == n) return param;
  }
  return std::string();
}

std::string CommandTail() { return CommandTailOf(platform::Sys().CommandLine()); }

std::string CommandParam(int n) { return CommandParamOf(CommandTail(), n); }

}  // namespace modrik
