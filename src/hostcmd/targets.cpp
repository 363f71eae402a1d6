// The prefixes a command works on, and how their Wine is run.
#include <cstdlib>
#include <filesystem>

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
  // A relative path names a folder below the working one, as for any command.
  std::error_code ec;
  if (t.prefix[0] != '/') t.prefix = (std::filesystem::current_path(ec) / t.prefix).lexically_normal().string();
  while (t.prefix.size() > 1 && t.prefix.back() == '/') t.prefix.pop_back();
  t.wine = options.wine;
  if (t.wine.empty()) t.wine = Env("WINE");
  if (t.wine.empty()) t.wine = "wine";
  return {t};
}

Target FrontendTarget(const modrik::frontends::Prefix& prefix) {
  Target t;
  t.prefix = prefix.path.string();
  t.wine = prefix.wine;
  t.frontend = prefix.frontend;
  t.flatpakApp = prefix.flatpakApp;
  t.title = modrik::frontends::Describe(prefix);
  t.notReady = prefix.notReady;
  t.id = prefix.id;
  t.unreadable = prefix.unreadable;
  return t;
}

std::vector<Target> SelectTargets(const TargetOptions& options, bool listing, std::vector<std::string>* errors) {
  modrik::frontends::Selection selection = options.frontends;
  const bool frontendsNamed = selection.all || !selection.wanted.empty();
  const bool plainNamed = !options.prefix.empty() || !options.wine.empty();
  if (listing && !frontendsNamed && !plainNamed) selection.all = true;
  std::vector<Target> targets;
  for (Target& t : WineTargets(options))
    if (plainNamed || !frontendsNamed || (selection.all && !PrefixArch(t.prefix).empty()))
      targets.push_back(std::move(t));
  if (!selection.all && selection.wanted.empty()) return targets;
  const modrik::frontends::Home home = modrik::frontends::Home::FromEnvironment();
  for (const modrik::frontends::Prefix& p : modrik::frontends::SelectPrefixes(home, selection, errors)) {
    bool twice = false;
    for (const Target& t : targets) twice = twice || t.prefix == p.path.string();
    if (!twice) targets.push_back(FrontendTarget(p));
  }
  return targets;
}

WineCommand WineCommandOf(const Target& target, const std::string& program, const std::vector<std::string>& args) {
  WineCommand c;
  c.env = {"WINEPREFIX=" + target.prefix};
  if (!std::getenv("WINEDEBUG")) c.env.push_back("WINEDEBUG=-all");
  // A prefix that Wine updates on this start must not ask for Mono or Gecko.
  if (!std::getenv("WINEDLLOVERRIDES")) c.env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
  if (target.flatpakApp.empty()) {
    c.argv = {program};
  } else {
    c.argv = {"flatpak", "run"};
    for (const std::string& e : c.env) c.argv.push_back("--env=" + e);
    c.argv.push_back("--command=" + program);
    c.argv.push_back(target.flatpakApp);
    c.env.clear();
  }
  c.argv.insert(c.argv.end(), args.begin(), args.end());
  return c;
}

}  // namespace hostcmd
