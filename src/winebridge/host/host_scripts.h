// The host shell programs, each a .sh file in this folder, embedded at
// build time: each is the text of its file, NUL-ended.
#pragma once

namespace modrik::host {

extern const char native_player_sh[];  // one start of the native player

}  // namespace modrik::host
