#!/usr/bin/env bash
# Writes the tables of the player's options, which player_options.cpp
# includes: src/launcher/player_value_options.inc, the long options that take
# a value, and src/launcher/player_option_tables.inc, the switches, the
# letters, the options safe in a playlist and the letters' long names: every
# long name the player's command-line parser matches, as that parser holds
# them. The player takes any unique abbreviation of a name, so names it no
# longer shows in its help (obsolete ones it still accepts, with a warning)
# and names that two of its modules define alike count too. The list is read
# from the parser's own table: a small preloaded library notes each name as
# the player copies it into the table. The one-letter options that take a
# value come from its full help (`vlc -H`). The player refuses to run as
# root: as root, name a user to run it as.
#
#   scripts/player-options.sh [USER]
set -euo pipefail
cd "$(dirname "$0")/.."
VALUES=src/launcher/player_value_options.inc
TABLES=src/launcher/player_option_tables.inc

USER_NAME=${1:-}
if [ "$(id -u)" = 0 ] && [ -z "$USER_NAME" ]; then
  echo "player-options.sh: as root, name a user to run vlc as" >&2
  exit 2
fi
# Runs a program (vlc) with these arguments, and the environment in vlc_env.
vlc_env=()
run_as_user() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u "$USER_NAME" -- env HOME="$(getent passwd "$USER_NAME" | cut -d: -f6)" \
      "${vlc_env[@]}" "$@"
  else
    env "${vlc_env[@]}" "$@"
  fi
}
run_vlc() { run_as_user vlc "$@"; }
pkg-config --exists vlc-plugin libvlc ||
  { echo "player-options.sh: libvlc's headers are missing (apt install libvlc-dev libvlccore-dev)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

help=$(cd / && run_vlc -H 2>/dev/null)
version=$(cd / && run_vlc --version 2>/dev/null | head -n1)
[ -n "$help" ] && [ -n "$version" ] || { echo "player-options.sh: no help from vlc" >&2; exit 1; }

# The player builds its table of long options by copying each option's name
# (strdup) and, for a switch, writing its "no" and "no-" forms (asprintf):
# the library notes both, with the place each copy was made from.
cat > "$work/names.c" <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
static FILE* notes(void) {
  static FILE* f;
  if (f == NULL) f = fopen(getenv("MODRIK_OPTION_NOTES"), "w");
  return f;
}
char* strdup(const char* s) {
  size_t n = strlen(s) + 1;
  char* copy = malloc(n);
  Dl_info info;
  void* from = __builtin_return_address(0);
  if (copy != NULL) memcpy(copy, s, n);
  if (notes() != NULL && dladdr(from, &info) && info.dli_fname != NULL &&
      strstr(info.dli_fname, "libvlccore") != NULL)
    fprintf(notes(), "copy %lx %s\n", (unsigned long)((char*)from - (char*)info.dli_fbase), s);
  return copy;
}
int __asprintf_chk(char** out, int flag, const char* format, ...) {
  va_list ap;
  int n;
  (void)flag;
  va_start(ap, format);
  n = vasprintf(out, format, ap);
  va_end(ap);
  if (n >= 0 && notes() != NULL && strcmp(format, "no-%s") == 0) fprintf(notes(), "switch\n");
  return n;
}
C
cc -shared -fPIC -O1 -o "$work/names.so" "$work/names.c" -ldl
chmod 644 "$work/names.so"
: > "$work/notes"
[ "$(id -u)" != 0 ] || chown "$USER_NAME" "$work/notes"
vlc_env=(LD_PRELOAD="$work/names.so" MODRIK_OPTION_NOTES="$work/notes")
(cd / && run_vlc -I dummy --no-video --no-audio vlc://quit > /dev/null 2>&1) || true

# The table: the longest unbroken run of copies made from the one place
# whose copies are followed by the "no-" forms of switches. Each name is
# "V" (takes a value) or "S" (a switch).
table=$(awk '
  { line[NR] = $0 }
  $1 == "switch" && place == "" { place = prev }
  $1 == "copy" { prev = $2 }
  END {
    for (i = 1; i <= NR; i++) {
      split(line[i], f, " ")
      if (f[1] == "copy" && f[2] == place) { run[++n] = f[3]; kind[n] = "V"; continue }
      if (f[1] == "switch" && n > 0) { kind[n] = "S"; continue }
      if (n > best) { best = n; for (k = 1; k <= n; k++) { name[k] = run[k]; is[k] = kind[k] } }
      n = 0
    }
    if (n > best) { best = n; for (k = 1; k <= n; k++) { name[k] = run[k]; is[k] = kind[k] } }
    for (k = 1; k <= best; k++) print is[k], name[k]
  }' "$work/notes")
[ -n "$table" ] || { echo "player-options.sh: no option table read from vlc" >&2; exit 1; }
# The options a playlist may set: each module's configuration items that
# it marks safe, by their full names.
cat > "$work/safe.c" <<'C'
#include <stdio.h>
#include <vlc/vlc.h>
#include <vlc_common.h>
#include <vlc_configuration.h>
#include <vlc_modules.h>
#define MODULE_STRING "modrik"
#include <vlc_plugin.h>
int main(void) {
  libvlc_instance_t* vlc = libvlc_new(0, NULL);
  size_t modules;
  if (vlc == NULL) return 1;
  module_t** list = module_list_get(&modules);
  for (size_t i = 0; i < modules; i++) {
    unsigned count;
    module_config_t* config = module_config_get(list[i], &count);
    for (unsigned k = 0; k < count; k++)
      if (CONFIG_ITEM(config[k].i_type) && config[k].b_safe && !config[k].b_removed)
        printf("%s\n", config[k].psz_name);
    module_config_free(config);
  }
  module_list_free(list);
  libvlc_release(vlc);
  return 0;
}
C
# shellcheck disable=SC2046
cc -O1 -o "$work/safe" "$work/safe.c" $(pkg-config --cflags --libs vlc-plugin libvlc)
chmod 755 "$work/safe"
vlc_env=()
safe=$(cd / && run_as_user "$work/safe" 2>/dev/null | LC_ALL=C sort -u)
[ -n "$safe" ] || { echo "player-options.sh: no safe options read from libvlc" >&2; exit 1; }
values=$(printf '%s\n' "$table" | sed -n 's/^V //p' | LC_ALL=C sort)
switches=$(printf '%s\n' "$table" | sed -n 's/^S //p' | LC_ALL=C sort)
# The one-letter forms of the options that take a value: "  -X, --name"
# followed by its value's kind ("<string>", "{choice,...}"). -v is not among
# them: the player counts -v, -vv, -vvv as steps of verbosity and takes no
# value after it.
letters=$(printf '%s\n' "$help" |
  sed -nE 's/^  -([A-Za-z]), --[A-Za-z0-9_+-]+ [<{].*/\1/p' | grep -v '^v$' | LC_ALL=C sort -u | tr -d '\n')

# Each one-letter option and the long option it stands for: "  -X, --name".
letter_names=$(printf '%s\n' "$help" |
  sed -nE 's/^  -([A-Za-z]), --([A-Za-z0-9_+-]+)[ ,].*/{\x27\1\x27, "\2"}/p' | LC_ALL=C sort -u)

# A C array of the lines on standard input: TYPE NAME, each line an element
# (quoted as a string unless TYPE is given).
array() {
  echo "const ${2:-char* const} $1[] = {"
  awk -v quote="${2:+no}" '
    { word = (quote == "" ? "\"" $0 "\"" : $0) ",";
      if (length(line) + length(word) + 1 > 96) { print line; line = "" }
      line = line (line == "" ? "   " : "") " " word }
    END { if (line != "") print line }'
  echo "};"
}
# Each file opens with where it comes from; player_options.cpp includes both.
header() {
  echo "// Generated by scripts/player-options.sh from the option table of $version."
  echo "// Included by player_options.cpp: run the script again rather than editing this file."
}
{
  header
  printf '%s\n' "$values" | array kValueOptions
} > "$VALUES.new"
{
  header
  printf '%s\n' "$switches" | array kSwitches
  echo "const char kValueLetters[] = \"$letters\";"
  printf '%s\n' "$safe" | array kSafeOptions
  printf '%s\n' "$letter_names" | array kLetterOptions LetterOption
} > "$TABLES.new"
mv "$VALUES.new" "$VALUES"
mv "$TABLES.new" "$TABLES"
echo "player-options.sh: $(printf '%s\n' "$values" | wc -l) options that take a value," \
  "$(printf '%s\n' "$switches" | wc -l) switches, letters $letters," \
  "$(printf '%s\n' "$safe" | wc -l) safe in a playlist ($version)"
