#!/usr/bin/env bash
# Installs modrik.exe into a Wine prefix as the media player's stand-in:
#   C:\Program Files\VideoLAN\VLC\vlc.exe    (modrik itself)
#   C:\Program Files\VideoLAN\VLC\modrik.ini (the native player found on the host)
#   HKLM\SOFTWARE\VideoLAN\VLC               (default value and InstallDir, as the
#                                             player's installer sets them)
#   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\vlc.exe
#                                            (the shell finds vlc.exe by name)
# With --associate it also opens the common audio and video file types:
#   HKCR\.EXT -> VLC.EXT, HKCR\VLC.EXT\shell\Open\command, HKCR\Applications\vlc.exe
# Windows programs that look for the player there start modrik, which hands the
# file to the native player. Whatever is replaced is kept and put back by
#   scripts/uninstall.sh   (the same as: scripts/install.sh --uninstall)
#
# Usage: scripts/install.sh [--associate] [--force] [--player PATH] [--exe PATH]
#        scripts/install.sh --uninstall
#   --associate    make the stand-in the open handler of audio and video files
#   --force        replace a player executable that is not modrik (kept for uninstall)
#   --player PATH  the native player for modrik.ini (default: vlc found on PATH)
#   --exe PATH     the modrik.exe to install (default: build/win/modrik.exe, built
#                  when missing)
# The prefix is $WINEPREFIX, by default ~/.wine.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
action=install
associate=0
force=0
player=""
player_given=0
exe=""
while [ $# -gt 0 ]; do
  case "$1" in
    --uninstall) action=uninstall ;;
    --associate) associate=1 ;;
    --force) force=1 ;;
    --player) player=${2-}; player_given=1; shift ;;
    --exe) exe=${2-}; shift ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "install: unknown argument: $1" >&2; exit 2 ;;
  esac
  [ $# -gt 0 ] && shift
done

export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

folder_win='C:\Program Files\VideoLAN\VLC'
exe_win="$folder_win\\vlc.exe"
folder="$WINEPREFIX/drive_c/Program Files/VideoLAN/VLC"
state="$WINEPREFIX/modrik-install"
# Every key is written and saved below this one. HKEY_CLASSES_ROOT is its
# Classes subkey in Wine.
sw='HKEY_LOCAL_MACHINE\SOFTWARE'
vlc_key="$sw\\VideoLAN\\VLC"
app_key="$sw\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe"
classes="$sw\\Classes"
open_command="\"$exe_win\" --started-from-file \"%1\""
media_types='3g2 3gp aac ac3 aif aiff amr ape asf au avi divx dv f4v flac flv m2ts m2v
  m4a m4v mka mkv mov mp2 mp3 mp4 mpeg mpg mts mxf oga ogg ogm ogv opus ra rm rmvb ts
  vob wav webm wma wmv'
data_home=${XDG_DATA_HOME:-}
case "$data_home" in /*) ;; *) data_home="${HOME:-/home/${USER:-}}/.local/share" ;; esac
desktop_files=("$data_home/applications/wine-vlc.desktop" "$data_home/icons/vlc.ico"
               "$data_home/icons/vlc.png")

say() { printf '%s\n' "$*"; }

# Wine's output goes to a file: its background processes would hold a pipe open.
wine_quiet() { wine "$@" >"$state/wine.log" 2>&1 </dev/null; }

# The Windows path of a host path, without asking Wine.
win_path() {
  local p=$1
  if [ -e "$WINEPREFIX/dosdevices/z:" ]; then printf 'Z:%s' "${p//\//\\}"
  else printf '\\\\?\\unix%s' "${p//\//\\}"; fi
}

is_modrik() { grep -q -a 'modrik.ini' "$1" && grep -q -a 'DELREGKEY' "$1"; }

# A text as a quoted .reg string.
reg_str() { local s=${1//\\/\\\\}; s=${s//\"/\\\"}; printf '"%s"' "$s"; }

# Imports a .reg body (UTF-8, without header) given as a host file.
reg_import() {
  { printf '\xff\xfe'
    { printf 'Windows Registry Editor Version 5.00\n\n'; cat "$1"; } |
      sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE; } >"$1.reg"
  wine_quiet regedit /S "$(win_path "$1.reg")"
  rm -f "$1" "$1.reg"
}

# Saves the given keys as they are now, before the install first writes them:
# state/registry.keys lists what uninstall deletes, state/registry.saved holds
# what it imports again. For a key that is missing, its highest missing parent
# is listed instead (and has no section), so that uninstall removes the parents
# the install created too. Keys listed by an earlier install are left as saved.
save_keys() {
  touch "$state/registry.keys" "$state/registry.saved"
  printf '%s\n' "$@" >"$state/wanted"
  rm -f "$state/export.reg"
  wine_quiet regedit /E "$(win_path "$state/export.reg")" "$sw" || true
  if [ ! -s "$state/export.reg" ]; then
    echo "install: cannot read the registry of $WINEPREFIX (see $state/wine.log)" >&2
    return 1
  fi
  iconv -f UTF-16 -t UTF-8 "$state/export.reg" | sed 's/\r$//' >"$state/export.txt" || return 1
  local parts
  IFS='\\' read -ra parts <<<"$sw"
  MDK_FROM=$(( ${#parts[@]} + 1 )) MDK_SAVED="$state/registry.keys" \
  MDK_LISTED="$state/registry.keys.new" awk '
    BEGIN {
      from = ENVIRON["MDK_FROM"]; listed = ENVIRON["MDK_LISTED"]; part = 1
      while ((getline k < ENVIRON["MDK_SAVED"]) > 0) done[tolower(k)] = 1
    }
    FNR == 1 { part++ }
    part == 2 { if (substr($0, 1, 1) == "[") have[tolower(substr($0, 2, length($0) - 2))] = 1; next }
    part == 3 {
      n = split($0, w, "\\"); p = ""; save = ""
      for (i = 1; i <= n; i++) {
        p = (i == 1) ? w[1] : p "\\" w[i]
        if (tolower(p) in done) next
        if (save == "" && i >= from && !(tolower(p) in have)) save = p
      }
      if (save == "") save = $0
      done[tolower(save)] = 1; chosen[tolower(save)] = 1
      print save > listed
      next
    }
    part == 4 && substr($0, 1, 1) == "[" {
      n = split(tolower(substr($0, 2, length($0) - 2)), w, "\\"); p = ""; inside = 0
      for (i = 1; i <= n && !inside; i++) { p = (i == 1) ? w[1] : p "\\" w[i]; inside = (p in chosen) }
    }
    part == 4 && inside { print }
  ' "$state/export.txt" "$state/wanted" "$state/export.txt" >>"$state/registry.saved" || return 1
  [ -f "$state/registry.keys.new" ] && cat "$state/registry.keys.new" >>"$state/registry.keys"
  rm -f "$state/export.reg" "$state/export.txt" "$state/wanted" "$state/registry.keys.new"
}

# An install made before the registry was saved this way kept only the
# player's key, exported on its own (or nothing when the key was missing).
upgrade_state() {
  [ -f "$state/installed" ] && [ ! -f "$state/registry.keys" ] || return 0
  printf '%s\n' "$vlc_key" >"$state/registry.keys"
  if [ -f "$state/registry.reg" ]; then
    iconv -f UTF-16 -t UTF-8 "$state/registry.reg" | sed 's/\r$//;1d' >"$state/registry.saved"
    rm -f "$state/registry.reg"
  else
    : >"$state/registry.saved"
  fi
}

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

  mkdir -p "$state"
  first_install=1
  [ -f "$state/installed" ] && first_install=0
  upgrade_state
  # Leaves the prefix as it was on a first install that cannot go on.
  give_up() { [ "$first_install" -eq 1 ] && rm -rf "$state"; exit "$1"; }

  if [ -f "$folder/vlc.exe" ] && ! is_modrik "$folder/vlc.exe"; then
    if [ "$force" -ne 1 ]; then
      echo "install: $exe_win is a real player executable; nothing changed." >&2
      echo "install: run again with --force to replace it (it is kept and restored by uninstall)." >&2
      give_up 3
    fi
  fi

  keys=("$vlc_key" "$app_key")
  if [ "$associate" -eq 1 ]; then
    keys+=("$classes\\Applications\\vlc.exe")
    for t in $media_types; do keys+=("$classes\\.$t" "$classes\\VLC.$t"); done
  fi
  save_keys "${keys[@]}" || { echo "install: nothing changed." >&2; give_up 1; }

  if [ -f "$folder/vlc.exe" ] && ! is_modrik "$folder/vlc.exe"; then
    cp -p "$folder/vlc.exe" "$state/vlc.exe.replaced"
    say "kept the player executable that was there: $state/vlc.exe.replaced"
  fi
  if [ "$first_install" -eq 1 ]; then
    # What the install replaces, to be put back by uninstall.
    [ -f "$folder/modrik.ini" ] && cp -p "$folder/modrik.ini" "$state/modrik.ini.replaced"
    [ -f "$folder/vlc.exe" ] || touch "$state/vlc.exe.absent"
    # The desktop entry and icon files modrik makes for itself under the name
    # vlc: removed again by uninstall unless they were there before.
    for f in "${desktop_files[@]}"; do
      [ -e "$f" ] || printf '%s\n' "$f" >>"$state/created-files"
    done
  fi

  mkdir -p "$folder"
  cp "$exe" "$folder/vlc.exe"
  say "installed modrik as $exe_win"

  {
    printf '[%s]\n@=%s\n"InstallDir"=%s\n\n' "$vlc_key" "$(reg_str "$exe_win")" "$(reg_str "$folder_win")"
    printf '[%s]\n@=%s\n"Path"=%s\n\n' "$app_key" "$(reg_str "$exe_win")" "$(reg_str "$folder_win")"
    if [ "$associate" -eq 1 ]; then
      app="$classes\\Applications\\vlc.exe"
      printf '[%s\\shell\\Open\\command]\n@=%s\n\n' "$app" "$(reg_str "$open_command")"
      printf '[%s\\SupportedTypes]\n' "$app"
      for t in $media_types; do printf '".%s"=""\n' "$t"; done
      printf '\n'
      for t in $media_types; do
        printf '[%s\\.%s]\n@="VLC.%s"\n\n' "$classes" "$t" "$t"
        printf '[%s\\.%s\\OpenWithProgids]\n"VLC.%s"=""\n\n' "$classes" "$t" "$t"
        printf '[%s\\VLC.%s]\n@="VLC media file (.%s)"\n\n' "$classes" "$t" "$t"
        printf '[%s\\VLC.%s\\DefaultIcon]\n@=%s\n\n' "$classes" "$t" "$(reg_str "$exe_win,0")"
        printf '[%s\\VLC.%s\\shell]\n@="Open"\n\n' "$classes" "$t"
        printf '[%s\\VLC.%s\\shell\\Open\\command]\n@=%s\n\n' "$classes" "$t" "$(reg_str "$open_command")"
      done
    fi
  } >"$state/install.txt"
  reg_import "$state/install.txt"
  say "set HKLM\\SOFTWARE\\VideoLAN\\VLC: (default) = $exe_win, InstallDir = $folder_win"
  say "set HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vlc.exe: (default) = $exe_win, Path = $folder_win"
  if [ "$associate" -eq 1 ]; then
    say "associated with $exe_win:$(printf ' .%s' $media_types)"
  fi

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
upgrade_state
if [ -f "$state/vlc.exe.replaced" ]; then
  cp -p "$state/vlc.exe.replaced" "$folder/vlc.exe"
  say "restored the player executable $exe_win"
elif [ -f "$folder/vlc.exe" ] && is_modrik "$folder/vlc.exe"; then
  rm -f "$folder/vlc.exe"
  say "removed $exe_win"
fi
if [ -f "$state/modrik.ini.replaced" ]; then
  cp -p "$state/modrik.ini.replaced" "$folder/modrik.ini"
  say "restored $folder_win\\modrik.ini"
else
  rm -f "$folder/modrik.ini"
fi
# Every key the installs wrote: deleted, then imported again as it was.
{
  while IFS= read -r k; do printf '[-%s]\n\n' "$k"; done <"$state/registry.keys"
  cat "$state/registry.saved"
} >"$state/restore.txt"
reg_import "$state/restore.txt"
say "restored the registry keys the install had written ($(wc -l <"$state/registry.keys") keys)"
if [ -f "$state/created-files" ]; then
  while IFS= read -r f; do rm -f -- "$f"; done <"$state/created-files"
fi
rmdir "$folder" 2>/dev/null || true
rmdir "$(dirname "$folder")" 2>/dev/null || true
rm -rf "$state"
exit 0
