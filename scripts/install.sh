#!/usr/bin/env bash
# Installs modrik.exe into a Wine prefix as the media player's stand-in:
#   C:\Program Files\VideoLAN\VLC\vlc.exe   (modrik itself)
#   C:\Program Files\VideoLAN\VLC\modrik.ini (the native player found on the host)
#   HKLM\SOFTWARE\VideoLAN\VLC               (default value and InstallDir, as the
#                                             player's installer sets them)
# Windows programs that look for the player there start modrik, which hands the
# file to the native player. Whatever is replaced is kept and put back by
#   scripts/uninstall.sh   (the same as: scripts/install.sh --uninstall)
#
# Usage: scripts/install.sh [--force] [--player PATH] [--exe PATH]
#        scripts/install.sh --uninstall
#   --force        replace a player executable that is not modrik (kept for uninstall)
#   --player PATH  the native player for modrik.ini (default: vlc found on PATH)
#   --exe PATH     the modrik.exe to install (default: build/win/modrik.exe, built
#                  when missing)
# The prefix is $WINEPREFIX, by default ~/.wine.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
action=install
force=0
player=""
player_given=0
exe=""
while [ $# -gt 0 ]; do
  case "$1" in
    --uninstall) action=uninstall ;;
    --force) force=1 ;;
    --player) player=${2-}; player_given=1; shift ;;
    --exe) exe=${2-}; shift ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "install: unknown argument: $1" >&2; exit 2 ;;
  esac
  shift
done

export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

folder_win='C:\Program Files\VideoLAN\VLC'
folder="$WINEPREFIX/drive_c/Program Files/VideoLAN/VLC"
regkey='HKLM\SOFTWARE\VideoLAN\VLC'
state="$WINEPREFIX/modrik-install"
user_home="/home/${USER:-}"
desktop_files="$user_home/.local/share/applications/wine-vlc.desktop $user_home/.local/share/icons/vlc.ico $user_home/.local/share/icons/vlc.png"

say() { printf '%s\n' "$*"; }

# Wine's output goes to a file: its background processes would hold a pipe open.
wine_quiet() { wine "$@" >"$state/wine.log" 2>&1 </dev/null; }

# The Windows (Z:) path of a host path, without asking Wine.
win_path() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

is_modrik() { grep -q -a 'modrik.ini' "$1" && grep -q -a 'DELREGKEY' "$1"; }

if [ "$action" = install ]; then
  command -v wine >/dev/null || "$here/scripts/deps.sh"
  if [ -z "$exe" ]; then
    exe="$here/build/win/modrik.exe"
    if [ ! -f "$exe" ]; then
      "$here/scripts/deps.sh"
      cmake -S "$here" -B "$here/build" >/dev/null
      cmake --build "$here/build" -j2 --target win >/dev/null
    fi
  fi
  [ -f "$exe" ] || { echo "install: no modrik.exe at $exe" >&2; exit 1; }
  is_modrik "$exe" || { echo "install: $exe is not modrik.exe" >&2; exit 1; }
  if [ ! -d "$WINEPREFIX/dosdevices" ]; then
    echo "install: no Wine prefix at $WINEPREFIX (run a Wine program once to create it)" >&2
    exit 1
  fi
  if [ "$WINEPREFIX" != "/home/${USER:-}/.wine" ]; then
    say "note: modrik finds its prefix as /home/\$USER/.wine; this prefix is $WINEPREFIX"
  fi

  mkdir -p "$state" "$folder"
  first_install=1
  [ -f "$state/installed" ] && first_install=0

  if [ -f "$folder/vlc.exe" ] && ! is_modrik "$folder/vlc.exe"; then
    if [ "$force" -ne 1 ]; then
      echo "install: $folder_win\\vlc.exe is a real player executable; nothing changed." >&2
      echo "install: run again with --force to replace it (it is kept and restored by uninstall)." >&2
      [ "$first_install" -eq 1 ] && rm -rf "$state"
      exit 3
    fi
    cp -p "$folder/vlc.exe" "$state/vlc.exe.replaced"
    say "kept the player executable that was there: $state/vlc.exe.replaced"
  fi

  if [ "$first_install" -eq 1 ]; then
    # What the install replaces, to be put back by uninstall.
    if wine_quiet reg export "$regkey" "$(win_path "$state/registry.reg")" /y; then
      say "kept the registry key that was there: $state/registry.reg"
    else
      rm -f "$state/registry.reg"
    fi
    [ -f "$folder/modrik.ini" ] && cp -p "$folder/modrik.ini" "$state/modrik.ini.replaced"
    [ -f "$folder/vlc.exe" ] || touch "$state/vlc.exe.absent"
    # The desktop entry and icon files modrik makes for itself under the name
    # vlc: removed again by uninstall unless they were there before.
    for f in $desktop_files; do
      [ -e "$f" ] || printf '%s\n' "$f" >>"$state/created-files"
    done
  fi

  cp "$exe" "$folder/vlc.exe"
  say "installed modrik as $folder_win\\vlc.exe"

  wine_quiet reg add "$regkey" /ve /t REG_SZ /d "$folder_win\\vlc.exe" /f
  wine_quiet reg add "$regkey" /v InstallDir /t REG_SZ /d "$folder_win" /f
  say "set $regkey: (default) = $folder_win\\vlc.exe, InstallDir = $folder_win"

  if [ "$player_given" -eq 0 ]; then
    player=$(command -v vlc 2>/dev/null || true)
  fi
  if [ -n "$player" ]; then
    printf '[modrik]\r\n%s\r\n%s\r\nvlcpath=%s\r\n' \
      "# Replace the following with any 'vlc.exe' filepath you want to use:" \
      "# If you are running under Unix/Wine, Unix paths also work e.g. /usr/bin/vlc" \
      "$player" >"$folder/modrik.ini"
    say "wrote $folder_win\\modrik.ini: vlcpath=$player"
  else
    rm -f "$folder/modrik.ini"
    say "no native player found on this host: modrik offers to look for one on its first start"
  fi
  touch "$state/installed"
  exit 0
fi

# ---- uninstall ----
if [ ! -f "$state/installed" ]; then
  say "modrik is not installed in $WINEPREFIX; nothing changed."
  exit 0
fi
if [ -f "$state/vlc.exe.replaced" ]; then
  cp -p "$state/vlc.exe.replaced" "$folder/vlc.exe"
  say "restored the player executable $folder_win\\vlc.exe"
elif [ -f "$folder/vlc.exe" ] && is_modrik "$folder/vlc.exe"; then
  rm -f "$folder/vlc.exe"
  say "removed $folder_win\\vlc.exe"
fi
if [ -f "$state/modrik.ini.replaced" ]; then
  cp -p "$state/modrik.ini.replaced" "$folder/modrik.ini"
  say "restored $folder_win\\modrik.ini"
else
  rm -f "$folder/modrik.ini"
fi
wine_quiet reg delete "$regkey" /f || true
if [ -f "$state/registry.reg" ]; then
  wine_quiet regedit /S "$(win_path "$state/registry.reg")" || true
  say "restored the registry key $regkey"
else
  say "removed the registry key $regkey"
fi
if [ -f "$state/created-files" ]; then
  while IFS= read -r f; do rm -f "$f"; done <"$state/created-files"
fi
rmdir "$folder" 2>/dev/null || true
rmdir "$(dirname "$folder")" 2>/dev/null || true
rm -rf "$state"
exit 0
