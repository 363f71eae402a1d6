# The part of a start that runs while modrik waits (host_command.sh's mode
# "launch"), after the lines modrik writes before it: the values of
# native_player.sh, the player's words in "$@", native_player.sh's text in
# "b", and "verify" set when the private folder P was chosen by an earlier
# process: it is used only as the host shows it now (its folder and P
# itself folders of the user's own and no links, P with no access for
# others, its folder writable by the user alone), else this ends with 3
# and nothing is made. The home ("$home", set by host_command.sh when it
# has not found it fit before) is checked in the same one program: one that
# is not the user's own, or others may write, ends this with 77. Then the
# start goes on in the background and this ends with 0.
if [ -n "$home$verify" ]; then
  fit() { [ -d "$1" ] && [ ! -L "$1" ] && [ -O "$1" ]; }
  [ -z "$home" ] || [ -O "$home" ] || exit 77
  [ -z "$verify" ] || { fit "${P%/*}" && fit "$P"; } || exit 3
  f=$(stat -L -c %a -- ${home:+"$home"} ${verify:+"${P%/*}"} ${verify:+"$P"} 2>/dev/null) || {
    [ -z "$home" ] || stat -L -- "$home" >/dev/null 2>&1 || exit 77
    exit 3
  }
  if [ -n "$home" ]; then
    m=${f%%[!0-7]*}
    [ -n "$m" ] && [ $((0$m & 022)) = 0 ] || exit 77
    f=${f#"$m"}
    f=${f#?}
  fi
  if [ -n "$verify" ]; then
    a=${f%%[!0-7]*}
    o=${f##*[!0-7]}
    [ -n "$a" ] && [ -n "$o" ] && [ $((0$a & 022)) = 0 ] && [ $((0$o & 077)) = 0 ] || exit 3
  fi
fi
# (A subshell costs no new program; native_player.sh learns its own process
# id from /proc, as "$$" would be this shell's.)
(set -- "$P" "$d" "$cwd" "$hold" "$stream" "$launch" "$out" "$err" "$@"
 eval "$b") </dev/null &
