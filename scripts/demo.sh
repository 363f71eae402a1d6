#!/usr/bin/env bash
# modrik's main job, end to end: a Windows program under Wine opens a video
# with modrik.exe, and modrik hands the file on to the native player of the
# Linux host, its Windows path translated into the host's path.
#
# The demo runs as a throwaway Wine user (default "modrikdemo", home
# /home/modrikdemo) with a stand-in "player": a shell script that shows the
# arguments it received and whether each names an existing file.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 --target win > build/demo-build.log 2>&1 ||
  { tail -n 20 build/demo-build.log >&2; echo "demo.sh: the build failed (build/demo-build.log)" >&2; exit 1; }

DEMO_USER=${MODRIK_DEMO_USER:-modrikdemo}
DEMO_HOME=/home/$DEMO_USER
export USER=$DEMO_USER LOGNAME=$DEMO_USER HOME=$DEMO_HOME WINEPREFIX=$DEMO_HOME/.wine
export LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$DEMO_HOME/bin" "$DEMO_HOME/.local/share/icons" "$DEMO_HOME/.local/share/applications"

# When Wine fails, its own words and what mends them, instead of a player
# that never starts.
wine_failed() {
  local what=$1 log=$2 rc=$3
  echo "demo.sh: $what (exit $rc). Wine said:" >&2
  grep -v '^[[:space:]]*$' "$log" | tail -n 5 | sed 's/^/  /' >&2
  if grep -qi 'exec format error' "$log"; then
    echo "demo.sh: this kernel runs no 32-bit programs, and Debian's wine picks the 32-bit loader of wine32;" \
         "scripts/deps.sh sets that loader aside (dpkg-divert) so that wine runs 64-bit prefixes." >&2
  elif grep -qi 'could not load kernel32\|wine32 is missing\|not a valid' "$log"; then
    echo "demo.sh: this Wine cannot run the prefix's programs; remove $WINEPREFIX and run the demo again." >&2
  else
    echo "demo.sh: the whole output: $log" >&2
  fi
  exit 1
}

rc=0
wine --version > "$DEMO_HOME/wine-version.txt" 2>&1 || rc=$?
[ "$rc" -eq 0 ] || wine_failed "Wine cannot start" "$DEMO_HOME/wine-version.txt" "$rc"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating a Wine prefix for $DEMO_USER (once, about 10 seconds)..."
  rc=0
  timeout 300 wineboot -i > "$DEMO_HOME/wineboot.txt" 2>&1 || rc=$?
  timeout 60 wineserver -w || true
  if [ "$rc" -ne 0 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine_failed "Wine could not make the prefix $WINEPREFIX" "$DEMO_HOME/wineboot.txt" "$rc"
  fi
fi

# The stand-in for the native player.
cat > "$DEMO_HOME/bin/player" <<'PLAYER'
#!/bin/sh
{
  echo "player started with $# argument(s):"
  for arg in "$@"; do
    printf '  %s\n' "$arg"
    if [ -e "$arg" ]; then echo "    (an existing file or folder on the host)"; fi
  done
} > "$HOME/player-output.txt"
PLAYER
chmod +x "$DEMO_HOME/bin/player"

# modrik.exe where a Windows program would call the player, set up to use it.
APP="$WINEPREFIX/drive_c/Program Files/modrik"
mkdir -p "$APP"
cp build/win/modrik.exe "$APP/modrik.exe"
printf '[modrik]\r\nvlcpath=%s\r\n' "$DEMO_HOME/bin/player" > "$APP/modrik.ini"

# A video with blanks, brackets and an accented letter in its name.
VIDEOS="$WINEPREFIX/drive_c/users/$DEMO_USER/Videos"
mkdir -p "$VIDEOS"
printf 'not really a video\n' > "$VIDEOS/Summer holiday (été 2026).mkv"
WINPATH="C:\\users\\$DEMO_USER\\Videos\\Summer holiday (été 2026).mkv"

rm -f "$DEMO_HOME/player-output.txt"
echo "Opening under Wine:  modrik.exe \"$WINPATH\""
# modrik.exe's own exit code is kept in a file: xvfb-run's may be its own.
rm -f "$DEMO_HOME/wine-status.txt"
WINEDEBUG=+debugstr timeout 120 xvfb-run -a sh -c 'wine "$@"; echo $? > "$HOME/wine-status.txt"' sh \
  "$APP/modrik.exe" "$WINPATH" >"$DEMO_HOME/wine-output.txt" 2>&1 </dev/null || true
rc=$(cat "$DEMO_HOME/wine-status.txt" 2>/dev/null || echo "unknown: Wine did not end within 120 s")

for _ in $(seq 1 40); do
  [ -s "$DEMO_HOME/player-output.txt" ] && break
  sleep 0.25
done
wineserver -k >/dev/null 2>&1 || true
if [ -s "$DEMO_HOME/player-output.txt" ]; then
  cat "$DEMO_HOME/player-output.txt"
else
  echo "The player did not start." >&2
  if ! grep -q 'modrik:' "$DEMO_HOME/wine-output.txt"; then
    wine_failed "Wine could not start modrik.exe" "$DEMO_HOME/wine-output.txt" "$rc"
  fi
  echo "demo.sh: modrik.exe ended with exit $rc; what it traced:" >&2
  grep -o 'modrik:.*' "$DEMO_HOME/wine-output.txt" | tail -n 8 | sed 's/^/  /' >&2
  echo "demo.sh: the exit codes and the trace are explained in doc/troubleshooting.md" >&2
  exit 1
fi
