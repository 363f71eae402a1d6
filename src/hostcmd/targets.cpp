// The prefixes a command works on.
#include <cstdlib>

#include "hostcmd.h"

namespace hostcmd {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

std::vector<Target> WineTargets(const TargetOptions& options) {
  Target t;
  t.frontend = "wine";
  t.prefix = options.prefix;
  if (t.prefix.empty()) t.prefix = Env("WINEPREFIX");
  if (t.prefix.empty()) t.prefix = Env("HOME") + "/.wine";
  while (t.prefix.size() > 1 && t.prefix.back() == '/') t.prefix.pop_back();
  t.wine = options.wine;
  if (t.wine.empty()) t.wine = Env("WINE");
  if (t.wine.empty()) t.wine = "wine";
  return {t};
}

}  // namespace hostcmd
