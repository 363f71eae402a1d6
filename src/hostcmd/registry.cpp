// .reg files as Wine's `reg` reads and writes them, and what an install
// keeps of the registry to put it back.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <set>

#include "hostcmd.h"

namespace hostcmd {

namespace {

std::string Convert(const std::string& in, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return "";
  std::string out(in.size() * 2 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size(), dstLeft = out.size();
  char* dst = out.data();
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) continue;
    if (errno != E2BIG) break;  // a broken sequence ends the text there
    size_t used = dst - out.data();
    out.resize(out.size() * 2);
    dst = out.data() + used;
    dstLeft = out.size() - used;
  }
  out.resize(dst - out.data());
  iconv_close(cd);
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> Split(const std::string& key) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = key.find('\\', start)) != std::string::npos; start = end + 1)
    parts.push_back(key.substr(start, end - start));
  parts.push_back(key.substr(start));
  return parts;
}

// The key of a section line "[KEY]", "" for another line.
std::string SectionKey(const std::string& line) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return "";
  return line.substr(1, line.size() - 2);
}

}  // namespace

std::string RegString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::vector<std::string> RegFileLines(const std::string& bytes) {
  std::string text = bytes;
  if (text.size() >= 2 && text[0] == '\xff' && text[1] == '\xfe') text = Convert(text.substr(2), "UTF-16LE", "UTF-8");
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string RegFileBytes(const std::string& body) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (char c : body) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return "\xff\xfe" + Convert(text, "UTF-8", "UTF-16LE");
}

SavedKeys SaveKeys(const std::vector<std::string>& exportLines, const std::string& root,
                   const std::vector<std::string>& wanted, const std::vector<std::string>& done) {
  std::set<std::string> have, taken, chosen;
  for (const auto& line : exportLines) {
    std::string key = SectionKey(line);
    if (!key.empty()) have.insert(Lower(key));
  }
  for (const auto& k : done) taken.insert(Lower(k));
  const size_t below = Split(root).size();  // the first part that may be missing
  SavedKeys saved;
  for (const auto& w : wanted) {
    std::vector<std::string> parts = Split(w);
    std::string path, save;
    bool listed = false;
    for (size_t i = 0; i < parts.size() && !listed; i++) {
      path = i == 0 ? parts[0] : path + "\\" + parts[i];
      listed = taken.count(Lower(path)) > 0;
      // Only a key of modrik's set: an export that lacked a key of Wine's
      // own (Classes\Wow6432Node, say) must not make it listed.
      if (save.empty() && i >= below && !have.count(Lower(path)) && IsModrikKey(path)) save = path;
    }
    if (listed) continue;
    if (save.empty()) save = w;
    taken.insert(Lower(save));
    chosen.insert(Lower(save));
    saved.listed.push_back(save);
  }
  bool inside = false;
  for (const auto& line : exportLines) {
    std::string key = SectionKey(line);
    if (!key.empty()) {
      std::vector<std::string> parts = Split(Lower(key));
      std::string path;
      inside = false;
      for (size_t i = 0; i < parts.size() && !inside; i++) {
        path = i == 0 ? parts[0] : path + "\\" + parts[i];
        inside = chosen.count(path) > 0;
      }
    }
    if (inside) saved.sections += line + "\n";
  }
  return saved;
}

}  // namespace hostcmd
