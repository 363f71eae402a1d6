// The top of the program: the main routine that the process entry calls.
#pragma once

#include <string>

namespace modrik {

// Fixed texts.
extern const char kProgramName[];     // "modrik"
extern const char kVersionText[];     // "1.5"
std::string MessageTitle();           // "modrik 1.5"
std::string FirstRunQuestion();
std::string PlayerNotFoundMessage();  // names SettingsPath

// The main routine; returns the process exit code: the player's own, once
// it has ended, or one of the codes of winebridge.h for a start that did
// not reach the player.
int MainRoutine();

}  // namespace modrik
