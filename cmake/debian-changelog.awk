# Writes the package's Debian changelog from CHANGELOG.md (Keep a Changelog):
#   awk -v version=1.4 -v maintainer='NAME <ADDRESS>' -v output=changelog \
#       -f debian-changelog.awk CHANGELOG.md
# Each "## [X.Y] - YYYY-MM-DD" section is one entry, newest first; each
# "### Heading" a starred line, each "- item" a dash line below it, wrapped
# within 78 columns. Markdown emphasis, links and HTML comments are dropped.
# CHANGELOG.md gives days only: an entry's time is 12:00 UTC, one minute
# later for each older release of the same day, so every entry is later than
# the one before it. The newest section must be the version packaged.
function wrap(text, first, rest,    n, words, i, line, out) {
  n = split(text, words, / +/)
  line = first; out = ""
  for (i = 1; i <= n; i++) {
    if (words[i] == "") continue
    if (line != first && line != rest && length(line) + 1 + length(words[i]) > 78) {
      out = out line "\n"; line = rest
    }
    line = (line == first || line == rest) ? line words[i] : line " " words[i]
  }
  return out line "\n"
}
function clean(s) {
  gsub(/<!--[^>]*-->/, "", s)
  gsub(/\*\*/, "", s)
  while (match(s, /\[[^]]*\]\([^)]*\)/)) {
    link = substr(s, RSTART + 1, RLENGTH - 2); sub(/\]\(.*/, "", link)
    s = substr(s, 1, RSTART - 1) link substr(s, RSTART + RLENGTH)
  }
  gsub(/^ +| +$/, "", s)
  return s
}
# Day of the week (0 = Sunday) of a date, by Sakamoto's method.
function weekday(y, m, d,    t) {
  split("0 3 2 5 0 3 5 1 4 6 2 4", t, " ")
  if (m < 3) y--
  return (y + int(y / 4) - int(y / 100) + int(y / 400) + t[m] + d) % 7
}
function flush_item() {
  item = clean(item)
  if (item != "") body[n] = body[n] wrap(item, "    - ", "      ")
  item = ""
}
/^## \[/ {
  flush_item()
  v = $0; sub(/^## \[/, "", v); sub(/\].*/, "", v)
  if (v ~ /^[Uu]nreleased$/) { skip = 1; next }
  skip = 0; n++
  ver[n] = v
  date[n] = $0; sub(/.*\] - /, "", date[n]); sub(/ .*/, "", date[n])
  if (date[n] !~ /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/) {
    print "debian-changelog.awk: no date YYYY-MM-DD for " v > "/dev/stderr"; bad = 1
  }
  next
}
skip || n == 0 { next }
/^\[[^]]*\]: / { next }
/^### / { flush_item(); h = clean(substr($0, 5)); body[n] = body[n] "  * " h ":\n"; next }
/^- / { flush_item(); item = substr($0, 3); next }
/^[ \t]*$/ { flush_item(); next }
/^[ \t]/ && item != "" { item = item " " $0; next }
{ flush_item(); item = $0 }
END {
  flush_item()
  if (bad) exit 1
  if (n == 0 || ver[1] != version) {
    print "debian-changelog.awk: the newest section of the changelog is " (n ? ver[1] : "missing") \
          ", not the version packaged, " version > "/dev/stderr"
    exit 1
  }
  split("Sun Mon Tue Wed Thu Fri Sat", days, " ")
  split("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec", months, " ")
  for (i = 1; i <= n; i++) {
    later = 0
    for (j = i + 1; j <= n; j++) if (date[j] == date[i]) later++
    y = substr(date[i], 1, 4) + 0; m = substr(date[i], 6, 2) + 0; d = substr(date[i], 9, 2) + 0
    printf "modrik (%s) unstable; urgency=medium\n\n%s\n", ver[i], body[i] > output
    printf " -- %s  %s, %02d %s %04d 12:%02d:00 +0000\n", maintainer, days[weekday(y, m, d) + 1], d, months[m], y, later > output
    if (i < n) printf "\n" > output
  }
}
