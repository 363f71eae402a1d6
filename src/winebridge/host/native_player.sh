# The host side of one start of the native player, run by /bin/sh after
# the lines modrik writes before it:
#   P       the private folder
#   d       this start's folder in it
#   hold    seconds modrik has to take hold of the start
#   stream  "1" when the player reads modrik's stream from the FIFO "in"
#   "$@"    the player and its arguments
# The player runs in the background with the start's FIFOs closed; a
# watcher waits (bounded) for modrik's byte on "live", then for modrik to
# let go of it, and tells the main shell (USR1), which ends the player if it
# still plays. The player's status is written whole (a move) before anything
# is removed, and the folder is removed only once modrik has let go of it.
[ -d "$P" ] || mkdir -p -m 700 "$P"
if [ -n "$stream" ]; then
  mkdir -m 700 "$d" && mkfifo "$d/live.new" "$d/in" || exit 126
  exec 3<>"$d/live.new" 5<>"$d/in"
  input="$d/in"
else
  mkdir -m 700 "$d" && mkfifo "$d/live.new" || exit 126
  exec 3<>"$d/live.new"
  input=/dev/null
fi
trap '[ -z "$p" ] || kill -TERM "$p" 2>/dev/null' USR1 HUP INT TERM
"$@" <"$input" 3>&- 5>&- &
p=$!
(if timeout "$hold" head -c1 <&3 >/dev/null 2>&1; then exec 4<"$d/live" 3>&- 5>&-;
   cat <&4 >/dev/null 2>&1; fi; kill -USR1 $$ 2>/dev/null) &
w=$!
exec 3>&- 5>&-
mv "$d/live.new" "$d/live"
exec 9>"$d/lock.new" && flock 9 && mv "$d/lock.new" "$d/lock"
for l in "$P"/*/lock; do
  [ ! -e "$l" ] || [ "$l" = "$d/lock" ] || flock -n "$l" rm -rf "${l%/lock}"
done
wait "$p"; s=$?
if kill -0 "$p" 2>/dev/null; then wait "$p"; s=$?; fi
p=
echo "$s" > "$d/status.new" && mv "$d/status.new" "$d/status"
wait "$w"; while [ $? -gt 128 ] && kill -0 "$w" 2>/dev/null; do wait "$w"; done
rm -rf "$d"
