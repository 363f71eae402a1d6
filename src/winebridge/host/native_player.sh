# The host side of one start of the native player, run by /bin/sh after
# the lines modrik writes before it:
#   P       the private folder (made and checked by modrik: the user's own)
#   d       this start's folder in it, made here: a fresh one, or no start
#   hold    seconds modrik has to take hold of the start
#   stream  "1" when the player reads modrik's stream from the FIFO "in"
#   cwd     the folder the player works in
#   launch  "1" when "$@" begins with Steam's launch client
#   out     "1" when the player writes its standard output into the FIFO
#           "stdout", which modrik copies to the caller's handle
#   err     "1" likewise for its standard error, through "stderr"
#   "$@"    the player and its arguments (after the channel's words)
# and MODRIK_PARENT in the environment: modrik's process on the host, when
# this program is a child of it.
# The player runs in the background with no other FIFO of the start open
# than those it reads and writes, in the host session's environment
# (without Wine's variables and Windows' own).
# A watcher waits for modrik's byte on "live" (while modrik's process lives,
# when it is known, else within the bound), then for modrik to let go of
# it, and tells the main shell (USR1), which ends the player if it still
# plays: TERM, and KILL 5 s later if it is still there. The player's status
# is written whole (a move) before anything is removed, and the folder is
# removed only once modrik has let go of it.
# Housekeeping follows no link: a link in the private folder is left as it
# is, and nothing behind it is touched.
# Steam's launch client fails before the player starts when Steam's
# launcher service does not answer: it then exits with 125 at once, or says
# so on standard error (which is passed on line by line, through the FIFO
# "err"). Its status is then recorded as "unreachable", and modrik goes to
# the desktop's opener instead.
m=$MODRIK_PARENT
unset MODRIK_PARENT
# This program's own process (also when it runs as a subshell, which
# starts with none of its own values set).
read -r me _ </proc/self/stat || me=$$
p= k= r= w=
# (The shell's own list of the environment: no program is run for it.)
v=$(export -p)
o=$IFS
IFS='
'
set -f
for l in $v; do
  case $l in
    "export WINE"*)
      l=${l#export }
      l=${l%%=*}
      case $l in *[!A-Za-z0-9_]*) ;; *) unset "$l" ;; esac ;;
  esac
done
set +f
IFS=$o
if [ -n "${PATHEXT+set}" ]; then
  # Started as a Windows program is: without Windows' own variables.
  for v in PATHEXT HOMEDRIVE HOMEPATH ALLUSERSPROFILE APPDATA LOCALAPPDATA PUBLIC \
      USERPROFILE ProgramData ProgramFiles ProgramW6432 CommonProgramFiles \
      CommonProgramW6432 SystemDrive SystemRoot windir ComSpec COMPUTERNAME USERDOMAIN \
      OS NUMBER_OF_PROCESSORS PROCESSOR_ARCHITECTURE PROCESSOR_IDENTIFIER \
      PROCESSOR_LEVEL PROCESSOR_REVISION; do unset "$v"; done
  case $TEMP in /*) ;; *) unset TEMP ;; esac
  case $TMP in /*) ;; *) unset TMP ;; esac
fi
# The start's FIFOs are made in a folder of another name, and held open
# here for reading and writing before the folder gets its name: modrik,
# which looks for "live", finds them all there at once, none without its
# other end (Wine opens a FIFO at once, either way).
mkdir -m 700 "$d.new" &&
  mkfifo "$d.new/live" ${stream:+"$d.new/in"} ${out:+"$d.new/stdout"} ${err:+"$d.new/stderr"} \
    ${launch:+"$d.new/err"} || exit 126
exec 3<>"$d.new/live"
input=/dev/null o=1 e=2
if [ -n "$stream" ]; then exec 5<>"$d.new/in"; input="$d/in"; fi
if [ -n "$out" ]; then exec 6<>"$d.new/stdout"; o=6; fi
if [ -n "$err" ]; then exec 7<>"$d.new/stderr"; e=7; fi
[ ! -e "$d" ] && mv "$d.new" "$d" || exit 126
trap '[ -z "$p" ] || { kill -TERM "$p" 2>/dev/null; kill_later; }' USR1 HUP INT TERM
# KILL for the player 5 s after its TERM, unless the main shell ends this
# first ($k) because the player has ended.
kill_later() {
  (sleep 5 </dev/null >/dev/null 2>&1 &
   t=$!
   trap 'kill "$t" 2>/dev/null; exit 0' TERM
   wait "$t" && kill -KILL "$p" 2>/dev/null) &
  k=$!
}
cd "$cwd" 2>/dev/null || cd 2>/dev/null
if [ -n "$launch" ]; then
  # (Closed by exec: a subshell's own redirections would keep a copy of "live".)
  # It ends with 9 when it has seen the launch client's own failure.
  (exec <"$d/err" >&$e 2>/dev/null 3>&- 5>&- 6>&- 7>&-
   x=0
   while IFS= read -r l || [ -n "$l" ]; do
     printf '%s\n' "$l"
     case $l in *'Unable to connect to any of the specified bus names'*) x=9 ;; esac
   done
   exit $x) &
  r=$!
  read -r u _ </proc/uptime
  t0=${u%.*}${u#*.}
  "$@" <"$input" >&$o 2>"$d/err" 3>&- 5>&- 6>&- 7>&- &
else
  "$@" <"$input" >&$o 2>&$e 3>&- 5>&- 6>&- 7>&- &
fi
p=$!
# modrik's byte on "live": while modrik's process lives, else within the bound.
held() {
  [ -n "$m" ] || { timeout "$hold" head -c1 <&3 >/dev/null 2>&1; return; }
  head -c1 <&3 >/dev/null 2>&1 &
  b=$!
  while kill -0 "$b" 2>/dev/null; do
    kill -0 "$m" 2>/dev/null || { kill "$b" 2>/dev/null; return 1; }
    sleep 0.05
  done
  wait "$b"
}
(if held; then exec 4<"$d/live" 3>&- 5>&- 6>&- 7>&-; cat <&4 >/dev/null 2>&1; fi
 kill -USR1 "$me" 2>/dev/null) &
w=$!
# From here on the player (and what it leaves running) alone writes to
# "stdout" and "stderr": modrik sees their end when it has ended.
exec 3>&- 5>&- 6>&- 7>&-
exec 9>"$d/lock.new" && flock 9 && mv "$d/lock.new" "$d/lock"
# The folders of earlier starts whose host command is gone (their lock free).
for l in "$P"/*/lock; do
  f=${l%/lock}
  if [ "$f" != "$d" ] && [ ! -L "$f" ] && [ -f "$l" ] && [ ! -L "$l" ]; then
    flock -n "$l" rm -rf "$f"
  fi
done
# Playlists' copies not written for a day, in copy folders not written to
# for a day, and those folders once empty.
(cd "$P" && find . -mindepth 1 -maxdepth 1 -name 'list-*' -type d -mmin +1440 \
   -exec find {} -mindepth 1 -maxdepth 1 ! -type d -mmin +1440 -delete \; -exec rmdir {} \;) 2>/dev/null
wait "$p"; s=$?
if kill -0 "$p" 2>/dev/null; then wait "$p"; s=$?; fi
p=
if [ -n "$launch" ]; then
  # Its own failure: 125 within 2 s (in hundredths), or its message.
  read -r u _ </proc/uptime
  [ "$s" != 125 ] || [ $((${u%.*}${u#*.} - t0)) -gt 200 ] || s=unreachable
  n=0
  while kill -0 "$r" 2>/dev/null && [ $n -lt 20 ]; do sleep 0.05; n=$((n + 1)); done
  # A player ended before it opened "err" leaves the reader waiting for it.
  kill "$r" 2>/dev/null
  wait "$r"
  [ $? != 9 ] || s=unreachable
fi
[ -z "$k" ] || kill "$k" 2>/dev/null
echo "$s" > "$d/status.new" && mv "$d/status.new" "$d/status"
wait "$w"; while [ $? -gt 128 ] && kill -0 "$w" 2>/dev/null; do wait "$w"; done
rm -rf "$d"
