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

std::vector<std::string> CommandParamsOf(const std::string& tail) {
  std::vector<std::string> params;
  std::size_t pos = 0;
  while (pos < tail.size()) {
    while (pos < tail.size() && tail[pos] == ' ') ++pos;
    if (pos >= tail.size()) break;
    if (tail[pos] == '"') {
      const std::size_t close = tail.find('"', pos + 1);
      const std::size_t end = close == std::string::npos ? tail.size() : close;
      std::string param = tail.substr(pos + 1, end - pos - 1);
      pos = close == std::string::npos ? tail.size() : close + 1;
      // An empty pair of quotes does not count.
      if (!param.empty()) params.push_back(param);
    } else {
      std::size_t end = tail.find(' ', pos);
      if (end == std::string::npos) end = tail.size();
      params.push_back(tail.substr(pos, end - pos));
      pos = end;
    }
  }
  return params;
}

std::string CommandParamOf(const std::string& tail, int n) {
  const std::vector<std::string> params = CommandParamsOf(tail);
  if (n < 1 || static_cast<std::size_t>(n) > params.size()) return std::string();
  return params[n - 1];
}

std::string CommandTail() { return CommandTailOf(platform::Sys().CommandLine()); }

std::string CommandParam(int n) { return CommandParamOf(CommandTail(), n); }

}  // namespace modrik
