# What stands where modrik's private folder may go, for modrik to judge.
# "$1" is the runtime folder ($XDG_RUNTIME_DIR; empty when there is none),
# "$2" the cache folder (~/.cache). The cache folder is made (mode 0700)
# when nothing stands there; modrik's own folder "modrik" is made (mode
# 0700) in each of the two that is a folder of the user's own, no link, and
# that others may not use (the runtime folder: no access for others; the
# cache folder: no writing), as modrik judges them.
# mkdir makes nothing where anything stands, a link included.
# Printed, all at once: the user's id, then for each of the two and its
# "modrik" one line, as the host has it, a link not followed: the owner's
# id, the mode in octal and the kind ("directory", "symbolic link", ...),
# or "missing".
[ -e "$2" ] || [ -L "$2" ] || mkdir -m 700 "$2" 2>/dev/null
facts=$(
  id -u
  mask=077
  for base in "$1" "$2"; do
    if [ -n "$base" ] && [ -d "$base" ] && [ ! -L "$base" ] && [ -O "$base" ] &&
        m=$(stat -c %a -- "$base" 2>/dev/null) && [ $((0$m & mask)) = 0 ]; then
      mkdir -m 700 "$base/modrik" 2>/dev/null
    fi
    mask=022
    for path in "$base" "$base/modrik"; do
      { [ -n "$base" ] && stat -c '%u %a %F' -- "$path" 2>/dev/null; } || echo missing
    done
  done
)
printf '%s\n' "$facts"
