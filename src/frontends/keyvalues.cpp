// A reader of Valve's KeyValues text, the format of Steam's
// libraryfolders.vdf, config_info's neighbours and appmanifest_*.acf:
//
//   "key" "value"
//   "key" { "child" "value" ... }
//
// Keys and values are quoted (with \" \\ \n \t escapes) or bare words; "//"
// starts a comment; a [$CONDITION] after a value or a block is skipped.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>

#include "frontends/frontends.h"

namespace modrik::frontends {

namespace {

struct Lexer {
  const std::string& text;
  size_t at = 0;
  int line = 1;
  std::string error;

  enum Kind { kEnd, kString, kOpen, kClose, kBad };

  void SkipSpaceAndComments() {
    while (at < text.size()) {
      const char c = text[at];
      if (c == '\n') {
        ++line;
        ++at;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++at;
      } else if (c == '/' && at + 1 < text.size() && text[at + 1] == '/') {
        while (at < text.size() && text[at] != '\n') ++at;
      } else {
        break;
      }
    }
  }

  Kind Next(std::string* word) {
    SkipSpaceAndComments();
    if (at >= text.size()) return kEnd;
    const char c = text[at];
    if (c == '{') {
      ++at;
      return kOpen;
    }
    if (c == '}') {
      ++at;
      return kClose;
    }
    word->clear();
    if (c == '"') {
      for (++at; at < text.size() && text[at] != '"'; ++at) {
        char ch = text[at];
        if (ch == '\n') ++line;
        if (ch == '\\' && at + 1 < text.size()) {
          const char e = text[++at];
          ch = e == 'n' ? '\n' : e == 't' ? '\t' : e;
        }
        word->push_back(ch);
      }
      if (at >= text.size()) {
        error = "a quoted text is not closed";
        return kBad;
      }
      ++at;
      return kString;
    }
    while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at])) && text[at] != '{' &&
           text[at] != '}' && text[at] != '"')
      word->push_back(text[at++]);
    return kString;
  }

  // A [$WIN32]-style condition after a value or block: skipped.
  void SkipCondition() {
    SkipSpaceAndComments();
    if (at < text.size() && text[at] == '[') {
      while (at < text.size() && text[at] != ']' && text[at] != '\n') ++at;
      if (at < text.size() && text[at] == ']') ++at;
    }
  }
};

// Reads pairs into `into` until a closing brace (nested) or the end (top).
bool ReadPairs(Lexer& lex, KeyValues& into, bool nested, int depth) {
  if (depth > kNestingLimit) {
    lex.error = "blocks nested more than " + std::to_string(kNestingLimit) + " levels deep";
    return false;
  }
  std::string word;
  for (;;) {
    const Lexer::Kind kind = lex.Next(&word);
    if (kind == Lexer::kBad) return false;
    if (kind == Lexer::kEnd) {
      if (nested) lex.error = "a block is not closed";
      return !nested;
    }
    if (kind == Lexer::kClose) {
      if (!nested) lex.error = "a closing brace without its block";
      return nested;
    }
    if (kind == Lexer::kOpen) {
      lex.error = "a block without its key";
      return false;
    }
    KeyValues child;
    child.key = word;
    lex.SkipCondition();
    const Lexer::Kind valueKind = lex.Next(&word);
    if (valueKind == Lexer::kString) {
      child.value = word;
    } else if (valueKind == Lexer::kOpen) {
      child.block = true;
      if (!ReadPairs(lex, child, true, depth + 1)) return false;
    } else {
      if (valueKind != Lexer::kBad) lex.error = "the key \"" + child.key + "\" has no value";
      return false;
    }
    lex.SkipCondition();
    into.children.push_back(std::move(child));
  }
}

bool SameKey(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

const KeyValues* KeyValues::Find(const std::string& childKey) const {
  for (const KeyValues& child : children)
    if (SameKey(child.key, childKey)) return &child;
  return nullptr;
}

std::string KeyValues::Get(const std::string& childKey) const {
  const KeyValues* child = Find(childKey);
  return child && !child->block ? child->value : std::string();
}

std::optional<KeyValues> ParseKeyValues(const std::string& text, std::string* error) {
  Lexer lex{text, 0, 1, {}};
  KeyValues root;
  root.block = true;
  if (!ReadPairs(lex, root, false, 0)) {
    if (error) *error = "line " + std::to_string(lex.line) + ": " + lex.error;
    return std::nullopt;
  }
  return root;
}

std::optional<std::string> ReadText(const fs::path& file) {
  // Only a regular file is read, and never waited on: a FIFO or a device
  // in a file's place (in a prefix someone else made) gives nothing.
  struct stat info;
  if (stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  char buffer[65536];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    bytes.append(buffer, static_cast<size_t>(n));
    ok = bytes.size() <= kTextLimit;
  }
  close(fd);
  if (!ok) return std::nullopt;
  return bytes;
}

}  // namespace modrik::frontends
