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
cmake --build build -j2 --target win >/dev/null

DEMO_USER=${MODRIK_DEMO_USER:-modrikdemo}
DEMO_HOME=/home/$DEMO_USER
export USER=$DEMO_USER LOGNAME=$DEMO_USER HOME=$DEMO_HOME WINEPREFIX=$DEMO_HOME/.wine
export LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$DEMO_HOME/bin" "$DEMO_HOME/.local/share/icons" "$DEMO_HOME/.local/share/applications"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating a Wine prefix for $DEMO_USER (once, about 10 seconds)..."
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
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
xvfb-run -a wine "$APP/modrik.exe" "$WINPATH" >"$DEMO_HOME/wine-output.txt" 2>&1 </dev/null || true

for _ in $(seq 1 40); do
  [ -s "$DEMO_HOME/player-output.txt" ] && break
  sleep 0.25
done
wineserver -k >/dev/null 2>&1 || true
if [ -s "$DEMO_HOME/player-output.txt" ]; then
  cat "$DEMO_HOME/player-output.txt"
else
  echo "The player did not start." >&2
  exit 1
fi
