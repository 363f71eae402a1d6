# Where the player is on this host, in the form whereis prints it
# ("vlc: PATH ..."): whereis's own answer when it names a path, else the
# first launcher of a player installed as a Flatpak (system-wide, then the
# user's) or as a Snap, which whereis does not see; else whereis's answer.
found=$(whereis vlc)
case $found in
  *': /'*) printf '%s\n' "$found"; exit 0 ;;
esac
data=${XDG_DATA_HOME:-}
case $data in /*) ;; *) data=$HOME/.local/share ;; esac
for place in /var/lib/flatpak/exports/bin/org.videolan.VLC "$data/flatpak/exports/bin/org.videolan.VLC" /snap/bin/vlc; do
  if [ -f "$place" ]; then
    printf 'vlc: %s\n' "$place"
    exit 0
  fi
done
printf '%s\n' "$found"
