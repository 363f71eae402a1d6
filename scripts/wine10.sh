#!/usr/bin/env bash
# Wine 10.0, as Debian 13 ships it, next to the host's Wine: a Debian 13
# root made with debootstrap (kept between runs), in which the tests run
# with this source tree at the same path. Wine is installed as Debian users
# install it, 64-bit and 32-bit (wine32 from the i386 architecture).
# With MODRIK_DEBIAN=12 the same is done for Debian 12 and its Wine 8: a clean
# root in which the package is installed and 32-bit Wine runs even where the
# host has no wine32.
#
#   scripts/wine10.sh setup         make the root when it is missing (as root)
#   scripts/wine10.sh run CMD...    run CMD inside it, in the source tree
#   scripts/wine10.sh version       print its Wine's version
#
# The root lives in $MODRIK_WINE10_ROOT (default /var/cache/modrik/debian13-wine10),
# the Debian 12 one in $MODRIK_DEBIAN12_ROOT (default /var/cache/modrik/debian12-wine8).
# Every mount is made in a mount namespace of its own, which ends with the
# command: an interrupted run leaves no mount behind on the host, and the
# processes still running in the root when the command ends are ended too.
set -euo pipefail

SRC=$(cd "$(dirname "$0")/.." && pwd)
if [ "${MODRIK_DEBIAN:-13}" = 12 ]; then
  ROOT=${MODRIK_DEBIAN12_ROOT:-/var/cache/modrik/debian12-wine8}
  SUITE=bookworm
else
  ROOT=${MODRIK_WINE10_ROOT:-/var/cache/modrik/debian13-wine10}
  SUITE=trixie
fi
# What the tests use inside the root: Wine, a virtual display, D-Bus with
# GVfs and gio, GLib's Python bindings, the real player, ffmpeg, useradd,
# pgrep, ctest to run the tests as on the host, 32-bit Wine, and the tools
# that imitate sandboxes.
PACKAGES="wine wine64 xvfb xauth dbus dbus-user-session gvfs gvfs-daemons libglib2.0-bin
python3-gi gir1.2-glib-2.0 vlc ffmpeg passwd procps cmake wine32:i386
bubblewrap flatpak flatpak-xdg-utils python3-dbus"
STAMP="$ROOT/.modrik-packages"

die() { echo "wine10.sh: $*" >&2; exit 1; }

# The Debian mirror that the host's own apt sources name.
mirror() {
  local uri
  uri=$(grep -rhoE '(URIs:|^deb)[[:space:]]+[^[:space:]]*' /etc/apt/sources.list /etc/apt/sources.list.d 2>/dev/null |
        awk '{print $2}' | grep -E '/debian/?$' | head -n1 || true)
  echo "${uri:-http://deb.debian.org/debian}"
}

# Runs a command inside a root, with /proc, /sys, /dev, /dev/pts, a fresh
# /dev/shm and the source tree mounted, in a mount namespace of its own
# (named in $NSFILE, when set, for end_processes). With ISOLATED=1 it also
# gets a network namespace of its own with only the loopback: X displays
# (abstract sockets) of the host or of other runs cannot clash with its own.
in_root() {
  local root=$1; shift
  local net=()
  [ "${ISOLATED:-0}" = 1 ] && net=(--net)
  mkdir -p "$root$SRC"
  unshare --mount "${net[@]}" --propagation private -- /bin/sh -c '
    root=$1; src=$2; nsfile=$3; shift 3
    [ -z "$nsfile" ] || readlink /proc/self/ns/mnt > "$nsfile"
    ip link set lo up 2>/dev/null
    mount --bind /proc "$root/proc" && mount --bind /sys "$root/sys" &&
    mount --bind /dev "$root/dev" && mount --bind /dev/pts "$root/dev/pts" &&
    mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm" &&
    mount --bind "$src" "$root$src" || exit 125
    exec chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive CI="${CI:-}" \
      MODRIK_E2E_USER="${MODRIK_E2E_USER:-}" MDK_E2E_VERBOSE="${MDK_E2E_VERBOSE:-}" \
      MODRIK_E2E_EXE="${MODRIK_E2E_EXE:-}" MODRIK_E2E_ARCH="${MODRIK_E2E_ARCH:-}" \
      MODRIK_E2E_HOSTCMD="${MODRIK_E2E_HOSTCMD:-}" \
      /bin/sh -c "cd \"\$0\" && exec \"\$@\"" "$src" "$@"
  ' in-root "$root" "$SRC" "${NSFILE:-}" "$@"
}

# Ends every process left in the mount namespace of this run (what a test
# left running, or what an interrupted run left behind); runs of other
# source trees in the same root are not touched.
end_processes() {
  local p pids ns
  ns=$(cat "$NSFILE" 2>/dev/null || true)
  rm -f "$NSFILE"
  [ -n "$ns" ] || return 0
  for _ in 1 2 3; do
    pids=""
    for p in /proc/[0-9]*; do
      [ "$(readlink "$p/ns/mnt" 2>/dev/null)" = "$ns" ] && pids="$pids ${p#/proc/}"
    done
    [ -z "$pids" ] && return 0
    # shellcheck disable=SC2086
    kill -9 $pids 2>/dev/null || true
    sleep 0.5
  done
}

# Some kernels run 64-bit programs only (an i386 program's execve fails with
# ENOEXEC). There the root's 32-bit Wine loader is made not executable, so
# that Debian's `wine` takes the 64-bit one and the 32-bit cases say they
# skip; on a kernel that runs 32-bit programs it is executable again.
fit_loader() {
  local loader="$ROOT/usr/lib/wine/wine"
  [ -f "$loader" ] || return 0
  if chroot "$ROOT" /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    chmod a+x "$loader"
  else
    chmod a-x "$loader"
    echo "wine10.sh: this kernel runs no 32-bit programs: the Debian $SUITE root runs 64-bit Wine only"
  fi
}

setup() {
  [ "$(id -u)" -eq 0 ] || die "making the Debian $SUITE root needs root"
  if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$PACKAGES" ]; then fit_loader; return 0; fi
  command -v debootstrap >/dev/null || die "debootstrap is missing (scripts/deps.sh installs it)"
  if [ ! -x "$ROOT/usr/bin/apt-get" ]; then
    local new="$ROOT.new"
    rm -rf "$new"
    mkdir -p "$(dirname "$ROOT")"
    echo "wine10.sh: debootstrap $SUITE into $ROOT from $(mirror)"
    debootstrap --variant=minbase "$SUITE" "$new" "$(mirror)" > "$ROOT.log" 2>&1 ||
      { tail -n 20 "$ROOT.log" >&2; die "debootstrap failed (whole log: $ROOT.log)"; }
    rm -rf "$ROOT"
    mv "$new" "$ROOT"
  fi
  echo "wine10.sh: installing Wine 10 and the test tools into $ROOT"
  # shellcheck disable=SC2086
  in_root "$ROOT" /bin/sh -c 'dpkg --add-architecture i386 && apt-get update -q && apt-get install -y -q --no-install-recommends "$@"' \
    apt $PACKAGES >> "$ROOT.log" 2>&1 ||
    { tail -n 20 "$ROOT.log" >&2; die "installing the packages failed (whole log: $ROOT.log)"; }
  fit_loader
  echo "$PACKAGES" > "$STAMP"
}

case "${1:-}" in
  setup) setup ;;
  run)
    shift
    [ -f "$STAMP" ] || die "no Debian $SUITE root at $ROOT: run scripts/wine10.sh setup"
    NSFILE=$(mktemp)
    trap end_processes EXIT
    trap 'exit 130' INT TERM HUP
    # In the background, so that a signal ends this script at once (a trap
    # waits for a command in the foreground); standard input stays ours.
    ISOLATED=1 in_root "$ROOT" "$@" 0<&0 &
    status=0
    wait "$!" || status=$?
    exit "$status"
    ;;
  version)
    in_root "$ROOT" wine --version 2>/dev/null | tail -n1
    ;;
  *) die "usage: scripts/wine10.sh setup | run CMD... | version" ;;
esac
