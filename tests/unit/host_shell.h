// Small helpers for the unit tests that run the host's real /bin/sh on the
// script texts the program writes: a scratch folder, whole-file reads and
// writes.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <stdlib.h>

class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/modrik-host-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}
