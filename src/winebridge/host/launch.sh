# The part of a start that runs while modrik waits (host_command.sh's mode
# "launch"), after the lines modrik writes before it: the values of
# native_player.sh, the player's words in "$@", native_player.sh's text in
# "b", and "verify" set when the private folder P was chosen by an earlier
# process: it is used only as the host shows it now (its folder and P
# itself folders of the user's own and no links, P with no access for
# others, its folder writable by the user alone), else this ends with 3
# and nothing is made. Then the start goes on in the background and this
# ends with 0.
if [ -n "$verify" ]; then
  fit() { [ -d "$1" ] && [ ! -L "$1" ] && [ -O "$1" ]; }
  fit "${P%/*}" && fit "$P" && f=$(stat -c %a -- "${P%/*}" "$P" 2>/dev/null) || exit 3
  a=${f%%[!0-7]*}
  o=${f##*[!0-7]}
  [ -n "$a" ] && [ -n "$o" ] && [ $((0$a & 022)) = 0 ] && [ $((0$o & 077)) = 0 ] || exit 3
fi
/bin/sh -c "$b" sh "$P" "$d" "$cwd" "$hold" "$stream" "$launch" "$out" "$err" "$@" </dev/null &
