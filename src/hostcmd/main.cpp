// modrik: installs modrik.exe into Wine prefixes as the media player's
// executable, so that Windows programs open media in the native player.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>

#include "doctor.h"

int main(int argc, char** argv) {
  using namespace hostcmd;
  CLI::App app{"modrik " MODRIK_VERSION
               ": installs modrik.exe into Wine prefixes as the media player's executable (vlc.exe); "
               "Windows programs that start the player then open media in the native player of this host.",
               "modrik"};
  app.set_version_flag("--version", "modrik " MODRIK_VERSION);
  app.require_subcommand(1);
  app.footer(
      "The prefix defaults to $WINEPREFIX, else ~/.wine; the Wine to $WINE, else wine.\n"
      "A 64-bit prefix gets the 64-bit build in C:\\Program Files\\VideoLAN\\VLC and the 32-bit build in\n"
      "C:\\Program Files (x86)\\VideoLAN\\VLC, each in its own registry view; a 32-bit prefix gets the\n"
      "32-bit build. Whatever the install replaces is kept and put back by uninstall.\n"
      "A front-end's prefix (--lutris, --bottle, --steam, --heroic, --all) is worked on with that prefix's\n"
      "own Wine: the Lutris runner, the bottle's runner, the Proton that last ran the game. `modrik list`\n"
      "with no prefix named lists every prefix found.\n"
      "`modrik doctor` says why a video does not open: each check a start needs, and the command that mends it.\n"
      "Each command's options: modrik install --help, modrik uninstall --help, modrik list --help, "
      "modrik doctor --help.");

  TargetOptions where;
  InstallOptions options;
  std::string player;
  // --lutris SLUG etc., each as often as wanted, in the order given.
  std::vector<std::pair<std::string, std::string>>& wanted = where.frontends.wanted;
  auto addTarget = [&](CLI::App* cmd) {
    cmd->add_option("--prefix", where.prefix, "the Wine prefix (default: $WINEPREFIX, else ~/.wine)");
    cmd->add_option("--wine", where.wine, "the wine program that runs the prefix (default: $WINE, else wine)");
    const struct {
      const char* option;
      const char* frontend;
      const char* value;
      const char* help;
    } frontends[] = {
        {"--lutris", "lutris", "SLUG", "a Lutris game's prefix, by its slug or name (native or Flatpak Lutris)"},
        {"--bottle", "bottles", "NAME", "a Bottles bottle, by its name (native or Flatpak Bottles)"},
        {"--steam", "steam", "APPID", "a Steam game's Proton prefix (compatdata/APPID/pfx), by its app id, in every library"},
        {"--heroic", "heroic", "APP", "a Heroic game's prefix, by its app name (native or Flatpak Heroic)"},
    };
    for (const auto& f : frontends) {
      const std::string frontend = f.frontend;
      cmd->add_option_function<std::vector<std::string>>(
             f.option,
             [&wanted, frontend](const std::vector<std::string>& ids) {
               for (const std::string& id : ids) wanted.emplace_back(frontend, id);
             },
             f.help)
          ->type_name(f.value)
          ->expected(1)
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
          ->trigger_on_parse();
    }
    cmd->add_flag("--all", where.frontends.all,
                  "every prefix found: the plain one (when it exists) and those of Lutris, Bottles, Steam and Heroic");
  };

  CLI::App* install = app.add_subcommand("install", "install modrik.exe into a prefix as the player");
  addTarget(install);
  install->add_flag("--associate", options.associate, "make it the open handler of audio and video files");
  install->add_flag("--force", options.force,
                    "replace a player executable that is not modrik (kept, and restored by uninstall)");
  CLI::Option* playerOption =
      install->add_option("--player", player, "the native player for modrik.ini (default: vlc found on PATH)");
  install->add_option("--exe", options.exe, "the modrik.exe to install for the prefix's own architecture "
                                            "(default: the build shipped with this command)");
  bool grantHost = false;
  const char* grantHelp = "a Flatpak front-end's prefixes (Bottles, Heroic): let the Flatpak start any program on "
                          "the host, for the whole hand-off to the player (org.freedesktop.Flatpak=talk in the "
                          "user's override; uninstall takes it away)";
  install->add_flag("--grant-host", grantHost, grantHelp);
  // A whole number of seconds, said as such when it is not one.
  const CLI::Validator seconds(
      [](std::string& value) {
        return !value.empty() && value.size() <= 6 && value.find_first_not_of("0123456789") == std::string::npos
                   ? std::string()
                   : value + " is no number of seconds (a whole number from 0 to 999999)";
      },
      "SECONDS");
  install->add_option("--wait", options.waitSeconds,
                      "seconds to wait for running Windows programs of the prefix, or another modrik command "
                      "changing it, to end (default: 10)")
      ->check(seconds);

  CLI::App* uninstall = app.add_subcommand("uninstall", "put back what the install replaced");
  addTarget(uninstall);
  uninstall->add_flag("--grant-host", grantHost,
                      "take back only the permission that install --grant-host gave; modrik stays installed");
  uninstall->add_option("--wait", options.waitSeconds,
                        "seconds to wait for running Windows programs of the prefix, or another modrik command "
                        "changing it, to end (default: 10)")
      ->check(seconds);

  CLI::App* list = app.add_subcommand("list", "each prefix: its architecture, the version installed, "
                                              "and whether it is current");
  addTarget(list);

  DoctorOptions doctorOptions;
  bool noStart = false;
  CLI::App* doctor = app.add_subcommand(
      "doctor", "check what a start in each prefix needs, in the order it needs it, and make a real start with a "
                "recorder in the player's place (with no prefix named: each one found); changes nothing (exit status 6 "
                "when a start will not work)");
  addTarget(doctor);
  doctor->add_flag("--no-start", noStart, "only the checks: no real start");
  doctor->add_option("--time-limit", doctorOptions.seconds,
                     "seconds that each Wine the doctor runs may take before it counts as hung (default: 60)")
      ->check(CLI::PositiveNumber);
  doctor->add_option("FILE", doctorOptions.file,
                     "the file the real start opens (default: a test file of the doctor's own, its name with "
                     "blanks and accents)");

  // A usage error is 2, as for other command-line tools; --help and
  // --version are 0.
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() != 0 && app.get_subcommands().empty() && !app.remaining().empty()) {
      std::cerr << "modrik: " << app.remaining()[0] << " is no command: install, uninstall, list or doctor "
                << "(modrik --help says more)\n";
      return 2;
    }
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (playerOption->count() > 0) {
    // modrik.exe starts it from anywhere: a relative path is made whole here.
    std::error_code ec;
    if (!player.empty() && player[0] != '/') player = std::filesystem::absolute(player, ec).lexically_normal().string();
    const std::string why = player.empty() ? "" : PlayerError(player);
    if (!why.empty() && !options.force) {
      std::cerr << "modrik: the player " << player << " " << why << "; nothing changed.\n"
                << "modrik: run again with --force to write it anyway.\n";
      return 1;
    }
    options.player = player;
  }

  std::vector<std::string> errors;
  // The doctor with no prefix named looks at every one found, as --all.
  if (doctor->parsed() && where.prefix.empty() && where.wine.empty() && where.frontends.wanted.empty())
    where.frontends.all = true;
  std::vector<Target> targets = SelectTargets(where, list->parsed(), &errors);
  if (!errors.empty()) {
    for (const std::string& e : errors) std::cerr << "modrik: " << e << "; nothing changed.\n";
    return 1;
  }
  if (targets.empty()) {
    // Only --all finds nothing: the plain prefix is not one, nor is any front-end's.
    const std::string why = "no prefix found: " + WineTargets(where)[0].prefix +
                            " is no Wine prefix, and no Lutris, Bottles, Steam or Heroic prefix is here";
    if (list->parsed()) std::cout << why << "\n";
    else if (doctor->parsed()) std::cerr << "modrik: " << why << "; name one with --prefix.\n";
    else std::cerr << "modrik: " << why << "; nothing changed.\n";
    return list->parsed() ? 0 : 1;
  }
  if (list->parsed()) return ListWithChannels(targets);
  if (doctor->parsed()) {
    doctorOptions.start = !noStart;
    CatchSignals();
    return Doctor(targets, doctorOptions);
  }
  CatchSignals();
  int status = 0;
  for (const Target& t : targets) {
    if (Interrupted()) {
      if (status != 128 + Interrupted())
        std::cerr << "modrik: interrupted by " << SignalName(Interrupted()) << "; nothing changed in " << t.prefix
                  << " or the prefixes after it.\n";
      return 128 + Interrupted();
    }
    // Under --all a prefix that is not ready is said and passed over.
    if (where.frontends.all && !t.notReady.empty()) {
      std::cout << t.Name() << ": " << t.notReady << "; passed over.\n";
      continue;
    }
    int s = install->parsed() ? InstallAndGrant(t, options, grantHost)
                              : UninstallAndTakeBack(t, options.waitSeconds, grantHost);
    if (s != 0 && status == 0) status = s;
  }
  return status;
}
