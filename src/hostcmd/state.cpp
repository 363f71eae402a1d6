// The state folder of an install (PREFIX/modrik-install), read as input: a
// prefix travels between machines and users with it, so nothing in it is
// taken on its word. Each file is read through no link; what names a key or
// a file that is not modrik's is set aside, and a file that does not parse,
// or does not match the sizes and hashes the install recorded in
// registry.sums, is named with why.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "hostcmd.h"

namespace hostcmd {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// True for a .reg string value whose closing quote is its last character.
bool WholeString(const std::string& v) {
  if (v.size() < 2 || v[0] != '"' || v.back() != '"') return false;
  size_t backslashes = 0;
  for (size_t i = v.size() - 1; i > 1 && v[i - 1] == '\\'; i--) backslashes++;
  return backslashes % 2 == 0;
}

bool HexList(const std::string& v) { return v.find_first_not_of("0123456789abcdefABCDEF, ") == std::string::npos; }

// True when the key is one of `keys` or below one.
bool Below(const std::string& key, const std::vector<std::string>& keys) {
  const std::string k = Lower(key);
  for (const std::string& top : keys) {
    const std::string t = Lower(top);
    if (k == t || k.rfind(t + "\\", 0) == 0) return true;
  }
  return false;
}

}  // namespace

std::string SavedProblem(const std::string& text) {
  if (text.empty()) return "";
  if (text.back() != '\n') return "it ends inside a line (cut short)";
  bool inSection = false, more = false;
  int n = 0;
  for (const std::string& line : LinesOf(text)) {
    const std::string where = "line " + std::to_string(++n);
    if (more) {  // a hex value's next line: "  00,01,\"
      if (line.rfind("  ", 0) != 0) return where + " is cut short";
      more = !line.empty() && line.back() == '\\';
      if (!HexList(more ? line.substr(0, line.size() - 1) : line)) return where + " is no value";
      continue;
    }
    if (line.empty()) continue;
    if (line[0] == '[') {
      if (line.size() < 3 || line.back() != ']') return where + " is cut short";
      inSection = true;
      continue;
    }
    if (!inSection) return where + " is outside a section";
    std::string value;
    if (line.rfind("@=", 0) == 0) {
      value = line.substr(2);
    } else {
      size_t i = 1;
      while (line[0] == '"' && i < line.size() && line[i] != '"') i += line[i] == '\\' ? 2 : 1;
      if (line[0] != '"' || i + 1 >= line.size() || line[i + 1] != '=') return where + " is no value";
      value = line.substr(i + 2);
    }
    if (value.rfind("\"", 0) == 0) {
      if (!WholeString(value)) return where + " is cut short";
    } else if (value.rfind("dword:", 0) == 0) {
      if (value.size() != 14 || !HexList(value.substr(6))) return where + " is cut short";
    } else if (value.rfind("hex", 0) == 0 && value.find(':') != std::string::npos) {
      std::string list = value.substr(value.find(':') + 1);
      more = !list.empty() && list.back() == '\\';
      if (!HexList(more ? list.substr(0, list.size() - 1) : list)) return where + " is no value";
    } else if (value != "-") {
      return where + " is no value";
    }
  }
  return more ? "it ends inside a value (cut short)" : "";
}

std::string SumLine(const std::string& folder, const std::string& name) {
  struct stat st;
  const std::string path = folder + "/" + name;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return name + " - -";
  return name + " " + std::to_string(st.st_size) + " " + Sha256(path);
}

InstallState ReadInstallState(const std::string& prefix, const std::vector<std::string>& desktopFiles) {
  InstallState s;
  s.folder = prefix + "/modrik-install";
  if (!Exists(s.folder)) return s;
  const std::string problem = OwnFolderProblem(s.folder);
  if (!problem.empty()) {
    s.refused = s.folder + " " + problem + ": modrik follows no link there and uses only a folder of your own";
    return s;
  }
  // A file of the folder: nullopt when it is not there; a damaged one is named.
  auto read = [&](const std::string& name, bool* damaged) -> std::optional<std::string> {
    const std::string path = s.folder + "/" + name;
    if (!Exists(path)) return std::nullopt;
    std::string why;
    std::optional<std::string> text = ReadOwnFile(path, &why, 16u << 20);
    if (!text) {
      s.damaged.push_back(path + " is damaged: " + why);
      if (damaged) *damaged = true;
    }
    return text;
  };
  auto foreign = [&](const std::string& name, const std::string& what) {
    s.foreign.push_back(s.folder + "/" + name + " names " + what + ", which is not modrik's: left alone");
  };
  if (auto text = read("journal", &s.journalDamaged)) {
    std::string why;
    s.journal = ParseJournal(*text, &why);
    if (!why.empty()) {
      s.damaged.push_back(s.folder + "/journal is damaged: " + why);
      s.journalDamaged = true;
      s.journal = {};
    }
  }
  if (auto text = read("installed", nullptr)) {
    s.installed = true;
    for (const std::string& line : LinesOf(*text))
      if (line.rfind("version=", 0) == 0) s.version = line.substr(8);
  }
  const bool kept = s.installed || s.journal.Done("keep") || s.journal.operation == "uninstall";
  std::optional<std::string> keys = read("registry.keys", &s.registryDamaged);
  std::optional<std::string> saved = read("registry.saved", &s.registryDamaged);
  auto damage = [&](const std::string& name, const std::string& why) {
    s.damaged.push_back(s.folder + "/" + name + " is damaged: " + why);
    s.registryDamaged = true;
  };
  if (keys) {
    int n = 0;
    for (const std::string& line : LinesOf(*keys)) {
      n++;
      if (line.empty()) continue;
      if (Lower(line).rfind("hkey_", 0) != 0 || line.find_first_of("[]\r\"") != std::string::npos ||
          line.back() == '\\' || line.find("\\\\") != std::string::npos) {
        damage("registry.keys", "line " + std::to_string(n) + " is no registry key");
        break;
      }
      if (IsModrikKey(line))
        s.keys.push_back(line);
      else
        foreign("registry.keys", line);
    }
    if (n == 0 && kept) damage("registry.keys", "it is empty");
  } else if (kept && !s.registryDamaged && Exists(s.folder + "/installed")) {
    damage("registry.keys", "it is missing");
  }
  if (saved) {
    const std::string why = SavedProblem(*saved);
    if (!why.empty()) damage("registry.saved", why);
    bool inside = false;
    for (const std::string& line : LinesOf(why.empty() ? *saved : "")) {
      if (!line.empty() && line[0] == '[') {
        const std::string key = line.substr(1, line.size() - 2);
        inside = Below(key, s.keys);
        if (!inside) foreign("registry.saved", "[" + key + "]");
      }
      if (inside) s.saved += line + "\n";
    }
  } else if (keys && !s.keys.empty()) {
    damage("registry.saved", "it is missing");
  }
  // The sizes and hashes recorded when the install wrote them.
  if (auto sums = read("registry.sums", &s.registryDamaged)) {
    for (const std::string& line : LinesOf(*sums)) {
      const std::string name = line.substr(0, line.find(' '));
      if (name != "registry.keys" && name != "registry.saved") continue;
      const std::string now = SumLine(s.folder, name);
      if (now == line) continue;
      std::istringstream was(line), is(now);
      std::string n1, n2, size, sizeNow;
      was >> n1 >> size;
      is >> n2 >> sizeNow;
      damage(name, size != sizeNow ? "it is " + sizeNow + " bytes, the install wrote " + size
                                   : "it is not what the install wrote (its SHA-256 differs)");
    }
  }
  if (auto created = read("created-files", &s.desktopDamaged)) {
    for (const std::string& line : LinesOf(*created)) {
      if (line.empty()) continue;
      if (std::find(desktopFiles.begin(), desktopFiles.end(), line) != desktopFiles.end())
        s.created.push_back(line);
      else
        foreign("created-files", line);
    }
  }
  if (s.registryDamaged) s.saved.clear();
  return s;
}

}  // namespace hostcmd
