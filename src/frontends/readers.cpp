// The readers of the front-ends' files, bounded: a file is read only when it
// is a regular file of at most 16 MiB, and its YAML or JSON is taken only
// when it nests at most 256 levels deep. A FIFO, a device or a folder in a
// file's place is refused without a byte read, so that it never holds the
// command; a deep or huge file is refused before a parser can run out of
// stack or memory on it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include <yaml-cpp/eventhandler.h>

#include "frontends/source.h"

namespace modrik::frontends::source {

namespace {

std::string TooDeep() { return "nested more than " + std::to_string(kNestingLimit) + " levels deep"; }

// Why a file of this mode is not read: what is in the file's place.
std::string NotRegular(mode_t mode) {
  const char* what = S_ISDIR(mode)                    ? "a folder"
                     : S_ISFIFO(mode)                 ? "a FIFO"
                     : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                     : S_ISSOCK(mode)                 ? "a socket"
                                                      : "of an unknown kind";
  return std::string("not a regular file: ") + what;
}

// yaml-cpp keeps the tokens of a flow collection until it closes, and
// recurses once per level: 16 MiB of brackets cost it 4 GB before its
// parser says a word. Their nesting is counted first, outside quoted texts
// and comments, which refuses such a file at once. A bracket inside a plain
// text counts too; what this count misses, the parse after it refuses (its
// own recursion stops at 2,000 levels). "line L, column C: …" at the first
// bracket too deep, else "".
std::string FlowNestingProblem(const std::string& text) {
  int depth = 0, line = 1, column = 0;
  char quote = 0, before = '\n';
  bool comment = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    ++column;
    if (c == '\n') line += 1, column = 0;
    if (comment) {
      comment = c != '\n';
    } else if (quote == '"') {
      if (c == '\\') ++i, ++column;
      else if (c == '"') quote = 0;
    } else if (quote == '\'') {
      if (c == '\'' && i + 1 < text.size() && text[i + 1] == '\'') ++i, ++column;
      else if (c == '\'') quote = 0;
    } else if (c == '#' && std::strchr(" \t\r\n", before)) {
      comment = true;
    } else if ((c == '"' || c == '\'') && std::strchr(" \t\r\n[{,:", before)) {
      quote = c;
    } else if (c == '[' || c == '{') {
      if (++depth > kNestingLimit)
        return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + TooDeep();
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
    before = c;
  }
  return "";
}

// The nesting of a YAML document, block collections and flow ones alike, as
// yaml-cpp's parser reports it: too deep a collection ends the parse there.
class NestingBound : public YAML::EventHandler {
 public:
  void OnDocumentStart(const YAML::Mark&) override {}
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
  void OnAlias(const YAML::Mark&, YAML::anchor_t) override {}
  void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t, const std::string&) override {}
  void OnSequenceStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t, YAML::EmitterStyle::value) override {
    Enter(mark);
  }
  void OnSequenceEnd() override { --depth_; }
  void OnMapStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t, YAML::EmitterStyle::value) override {
    Enter(mark);
  }
  void OnMapEnd() override { --depth_; }

 private:
  void Enter(const YAML::Mark& mark) {
    if (++depth_ > kNestingLimit) throw YAML::ParserException(mark, TooDeep());
  }
  int depth_ = 0;
};

// Thrown by the JSON parser's callback at a value too deep.
struct JsonTooDeep {};

}  // namespace

std::optional<std::string> ReadFile(const fs::path& file, std::string* why) {
  why->clear();
  // What is in the file's place is looked at before it is opened: opening a
  // device can do something, and a FIFO without a writer reads as empty.
  struct stat info;
  if (stat(file.c_str(), &info) != 0) {
    const int error = errno;
    if (error == ENOENT && lstat(file.c_str(), &info) == 0) *why = "a link to a file that is not there";
    else if (error != ENOENT && error != ENOTDIR) *why = std::strerror(error);
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    *why = NotRegular(info.st_mode);
    return std::nullopt;
  }
  // Non-blocking, and checked again once open: a FIFO put in its place in
  // between is refused, not waited on.
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *why = std::strerror(errno);
    return std::nullopt;
  }
  std::string text;
  if (fstat(fd, &info) != 0) {
    *why = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    *why = NotRegular(info.st_mode);
  } else {
    char buffer[65536];
    ssize_t n;
    while (text.size() <= kSizeLimit && (n = read(fd, buffer, sizeof buffer)) != 0) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *why = std::strerror(errno);
        break;
      }
      text.append(buffer, n);
    }
  }
  close(fd);
  if (why->empty() && text.size() > kSizeLimit) *why = "larger than 16 MiB: no front-end's file";
  if (why->empty() && text.empty()) *why = "the file is empty";
  if (why->empty() && text.find('\0') != std::string::npos) *why = "a binary file (it holds NUL bytes), not text";
  if (!why->empty()) return std::nullopt;
  return text;
}

std::optional<YAML::Node> LoadYaml(const fs::path& file, std::string* why) {
  const std::optional<std::string> text = ReadFile(file, why);
  if (!text) return std::nullopt;
  // yaml-cpp keeps every token of an open flow collection: a flat list costs
  // it over a hundred times its text. The front-ends' YAML files are a few
  // kilobytes; this bound keeps a hostile one to about 150 MB.
  if (text->size() > kYamlSizeLimit) {
    *why = "larger than 1 MiB: no front-end's YAML file";
    return std::nullopt;
  }
  *why = FlowNestingProblem(*text);
  if (!why->empty()) return std::nullopt;
  try {
    std::istringstream stream(*text);
    YAML::Parser parser(stream);
    NestingBound bound;
    parser.HandleNextDocument(bound);
    YAML::Node node = YAML::Load(*text);
    if (node.IsMap()) return node;
    *why = "not a mapping";
  } catch (const YAML::Exception& e) {
    *why = e.mark.is_null() ? e.msg
                            : "line " + std::to_string(e.mark.line + 1) + ", column " +
                                  std::to_string(e.mark.column + 1) + ": " + e.msg;
  }
  return std::nullopt;
}

std::optional<nlohmann::json> LoadJson(const fs::path& file, std::string* why) {
  const std::optional<std::string> text = ReadFile(file, why);
  if (!text) return std::nullopt;
  // The parser itself keeps its levels on the heap, but copying or walking
  // a value recurses: a value is refused before it gets too deep. `depth`
  // is the number of levels around the one that starts.
  const nlohmann::json::parser_callback_t bound = [](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
    const bool starts =
        event == nlohmann::json::parse_event_t::object_start || event == nlohmann::json::parse_event_t::array_start;
    if (starts && depth >= kNestingLimit) throw JsonTooDeep{};
    return true;
  };
  try {
    return nlohmann::json::parse(*text, bound);
  } catch (const JsonTooDeep&) {
    *why = TooDeep();
  } catch (const nlohmann::json::parse_error& e) {
    // what() is "[json.exception.parse_error.101] parse error at …: CAUSE".
    const std::string what = e.what();
    const size_t at = what.find(": ", what.find("parse error"));
    *why = "byte " + std::to_string(e.byte) + ": " + (at == std::string::npos ? what : what.substr(at + 2));
  }
  return std::nullopt;
}

}  // namespace modrik::frontends::source
