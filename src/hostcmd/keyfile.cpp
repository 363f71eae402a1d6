// Key files as GLib reads them (Flatpak's overrides and metadata): read,
// and edited one key at a time, leaving every other byte as it was.
#include <optional>

#include "hostcmd.h"

namespace hostcmd {

namespace {

// One line of a key file: its kind, and for a group or key its name.
struct KeyfileLine {
  enum Kind { kOther, kGroup, kKey } kind = kOther;
  std::string name, value;
  size_t begin = 0, end = 0;  // the line's bytes in the text, its end included
};


// The lines of a key file as GLib reads it: "[group]", "key=value" (blanks
// around both trimmed), comments "#…" and blank lines; anything else is
// reported as a problem through *problem.
std::vector<KeyfileLine> KeyfileLines(const std::string& text, std::string* problem = nullptr) {
  std::vector<KeyfileLine> lines;
  bool inGroup = false;
  for (size_t at = 0, n = 1; at < text.size(); n++) {
    KeyfileLine line;
    line.begin = at;
    line.end = std::min(text.find('\n', at), text.size() - 1) + 1;
    const std::string content = Trim(text.substr(at, line.end - at - (text[line.end - 1] == '\n')));
    at = line.end;
    std::string bad;
    if (content.empty() || content[0] == '#') {
    } else if (content[0] == '[') {
      if (content.back() != ']' || content.size() < 3) bad = "a group's name is not closed by ]";
      line.kind = KeyfileLine::kGroup;
      line.name = content.substr(1, content.size() - 2);
      inGroup = true;
    } else if (content.find('=') == std::string::npos || content[0] == '=') {
      bad = "it is no key=value, group or comment";
    } else if (!inGroup) {
      bad = "a key before the first group";
    } else {
      line.kind = KeyfileLine::kKey;
      line.name = Trim(content.substr(0, content.find('=')));
      line.value = Trim(content.substr(content.find('=') + 1));
    }
    if (!bad.empty() && problem && problem->empty()) *problem = "line " + std::to_string(n) + ": " + bad;
    lines.push_back(line);
  }
  return lines;
}

// The index of the last line of `key` in `group` (GLib takes the last), or -1.
int FindKey(const std::vector<KeyfileLine>& lines, const std::string& group, const std::string& key) {
  int found = -1;
  std::string current;
  for (size_t i = 0; i < lines.size(); i++) {
    if (lines[i].kind == KeyfileLine::kGroup) current = lines[i].name;
    if (lines[i].kind == KeyfileLine::kKey && current == group && lines[i].name == key) found = static_cast<int>(i);
  }
  return found;
}

}  // namespace

std::string KeyfileProblem(const std::string& text) {
  std::string problem;
  KeyfileLines(text, &problem);
  return problem;
}

std::optional<std::string> KeyfileValue(const std::string& text, const std::string& group, const std::string& key) {
  const std::vector<KeyfileLine> lines = KeyfileLines(text);
  const int at = FindKey(lines, group, key);
  return at < 0 ? std::nullopt : std::optional<std::string>(lines[at].value);
}

std::string KeyfileSet(const std::string& text, const std::string& group, const std::string& key,
                       const std::string& value) {
  const std::vector<KeyfileLine> lines = KeyfileLines(text);
  const std::string entry = key + "=" + value + "\n";
  const int at = FindKey(lines, group, key);
  if (at >= 0) return text.substr(0, lines[at].begin) + entry + text.substr(lines[at].end);
  // After the last key of the group (or its name), else a new group at the end.
  std::string current;
  size_t insertAt = std::string::npos;
  for (const KeyfileLine& line : lines) {
    if (line.kind == KeyfileLine::kGroup) current = line.name;
    if (current == group && line.kind != KeyfileLine::kOther) insertAt = line.end;
  }
  if (insertAt != std::string::npos) {
    const std::string before = text.substr(0, insertAt);
    return before + (before.back() == '\n' ? "" : "\n") + entry + text.substr(insertAt);
  }
  std::string out = text;
  if (!out.empty() && out.back() != '\n') out += "\n";
  if (!out.empty()) out += "\n";
  return out + "[" + group + "]\n" + entry;
}

std::string KeyfileRemove(const std::string& text, const std::string& group, const std::string& key, bool dropGroup) {
  std::vector<KeyfileLine> lines = KeyfileLines(text);
  const int at = FindKey(lines, group, key);
  if (at < 0) return text;
  std::string out = text.substr(0, lines[at].begin) + text.substr(lines[at].end);
  if (!dropGroup) return out;
  // The group with nothing left in it goes too, with the blank line before it.
  lines = KeyfileLines(out);
  for (size_t i = 0; i < lines.size(); i++) {
    if (lines[i].kind != KeyfileLine::kGroup || lines[i].name != group) continue;
    size_t end = i + 1;
    while (end < lines.size() && lines[end].kind == KeyfileLine::kOther &&
           Trim(out.substr(lines[end].begin, lines[end].end - lines[end].begin)).empty())
      end++;
    if (end < lines.size() && lines[end].kind != KeyfileLine::kGroup) continue;
    size_t begin = lines[i].begin;
    if (i > 0 && Trim(out.substr(lines[i - 1].begin, lines[i - 1].end - lines[i - 1].begin)).empty())
      begin = lines[i - 1].begin;
    return out.substr(0, begin) + out.substr(end < lines.size() ? lines[end].begin : out.size());
  }
  return out;
}

bool KeyfileHasGroup(const std::optional<std::string>& text, const std::string& group) {
  if (!text) return false;
  for (const KeyfileLine& line : KeyfileLines(*text))
    if (line.kind == KeyfileLine::kGroup && line.name == group) return true;
  return false;
}

}  // namespace hostcmd
