# Runs the host command that modrik wrote into dues.sh ($1). modrik starts
# this program and waits for its end, holding dues.sh until then: so this
# program marks the script executable and reads it whole first, and only
# then runs it.
#   $2  "start": the command runs on in the background, and this program
#       ends as soon as it has read the script.
#       "capture": this program ends with the command, which is ended
#       itself when it runs longer than 3 s; the status is the command's.
#       "launch": the command is $6 itself, no file is read; this program
#       ends with it and its status is the command's (a command that goes
#       on puts its own work in the background).
#   $3  "child" when this program is a child of modrik's process on the
#       host: the command then learns that process as MODRIK_PARENT.
#   $4  when modrik cannot wait for this program, the file in which it
#       leaves its status; empty otherwise.
#   $5  "checked" when this program has found the home fit before, for the
#       same modrik process.
#   $6  the command, in the mode "launch".
# The home (the script's folder) must be the user's own and writable by
# nobody else, as the host shows it before the first reading: else another
# user may rename a script of theirs over dues.sh between its writing and
# its reading, or put a link in the place of dues.log. Such a home is
# refused (status 77): nothing in it is read or run. Only its owner can
# change a home found fit, so the check holds for the process's later
# commands too.
# A launch reads nothing from the home: its command checks the home itself
# (as "$home", unless found fit before), with what else it checks, in the
# same one program, and ends with 77 when it refuses it.
h=${1%/*}
h=${h:-/}
c=
s=77
home=
if [ "$2" = launch ]; then
  [ "$5" = checked ] || home=$h/
  c=$6
  s=0
elif [ "$5" = checked ] || { m=$(stat -L -c %a -- "$h/" 2>/dev/null) && [ -n "$m" ] && [ -O "$h/" ] &&
    [ $((0$m & 022)) = 0 ]; }; then
  s=126
  if [ -r "$1" ]; then
    chmod +x "$1" 2>/dev/null &
    # Read with the shell's own read, which costs no process.
    while IFS= read -r l || [ -n "$l" ]; do
      c="$c$l
"
    done <"$1"
    s=0
  fi
fi
if [ "$s" != 0 ]; then
  :
elif [ "$2" = capture ]; then
  timeout -k 1 3 /bin/sh -c "$c" "$1" </dev/null
  s=$?
  # (77 says the home was refused: a command's own is a failure like any.)
  [ "$s" != 77 ] || s=1
elif [ "$2" = launch ]; then
  # (A subshell costs no new program.)
  (MODRIK_PARENT=$PPID
   export MODRIK_PARENT
   eval "$c") </dev/null
  s=$?
elif [ "$3" = child ]; then
  MODRIK_PARENT=$PPID /bin/sh -c "$c" "$1" </dev/null &
else
  /bin/sh -c "$c" "$1" </dev/null &
fi
# Never written through a link (the home may be one others may write).
set -C
[ -z "$4" ] || { echo "$s" >"$4.new" && mv -f "$4.new" "$4"; }
exit "$s"
