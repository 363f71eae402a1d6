// The host shell programs, each a .sh file in this folder, embedded at
// build time: each is the text of its file, NUL-ended.
#pragma once

namespace modrik::host {

extern const char find_player_sh[];     // where the player is, asked through a sandbox's channel
extern const char host_command_sh[];    // runs dues.sh for the runner
extern const char launch_sh[];          // the part of a start that modrik waits for
extern const char native_player_sh[];   // one start of the native player
extern const char private_folder_sh[];  // what stands where the private folder may go

}  // namespace modrik::host
