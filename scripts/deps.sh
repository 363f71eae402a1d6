#!/usr/bin/env bash
# Installs what building and testing modrik needs, when it is missing:
# the host compiler, GoogleTest and CLI11, the mingw-w64 cross compilers for
# x86-64 and i686, Wine (with wine32 where the kernel runs 32-bit programs), CPack's helpers,
# a virtual X display, D-Bus with GVfs, GLib's Python bindings, and the real
# player and ffmpeg (for the test that plays a real video with it), and
# debootstrap for the Debian 13 root of the Wine 10 tests; the YAML and JSON
# readers of the front-ends' files; bubblewrap, Flatpak's session helper,
# flatpak-xdg-utils and python3-dbus for the tests that imitate sandboxes;
# lintian and mandoc, which check the package and the man page; clang with
# its libFuzzer and sanitizer runtimes (libclang-rt-dev) for the fuzz harnesses.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

have_cmd cmake || need+=(cmake)
have_cmd g++ || need+=(g++)
have_cmd x86_64-w64-mingw32-g++ || need+=(g++-mingw-w64-x86-64)
have_cmd x86_64-w64-mingw32-windres || need+=(mingw-w64-tools binutils-mingw-w64-x86-64)
have_cmd i686-w64-mingw32-g++ || need+=(g++-mingw-w64-i686)
have_cmd i686-w64-mingw32-windres || need+=(binutils-mingw-w64-i686)
have_cmd dpkg-shlibdeps || need+=(dpkg-dev)
have_cmd git || need+=(git)
have_cmd wine || need+=(wine64 wine)
have_cmd xvfb-run || need+=(xvfb)
have_cmd xauth || need+=(xauth)
have_cmd dbus-run-session || need+=(dbus-user-session)
have_cmd gio || need+=(libglib2.0-bin)
have_cmd vlc || need+=(vlc)
have_cmd ffmpeg || need+=(ffmpeg)
have_cmd useradd || need+=(passwd)
have_cmd pgrep || need+=(procps)
have_cmd clang || need+=(clang)
# Debian 13's root for the Wine 10 tests (scripts/wine10.sh).
have_cmd debootstrap || need+=(debootstrap)
have_cmd unshare || need+=(util-linux)
have_cmd ip || need+=(iproute2)
# The package's and the man page's checks (scripts/package.sh).
have_cmd lintian || need+=(lintian)
have_cmd mandoc || need+=(mandoc)
for pkg in libgtest-dev libgmock-dev libcli11-dev libyaml-cpp-dev nlohmann-json3-dev bubblewrap flatpak flatpak-xdg-utils python3-dbus gvfs gvfs-daemons python3-gi gir1.2-glib-2.0 libclang-rt-dev; do
  have_pkg "$pkg" || need+=("$pkg")
done

if [ "${#need[@]}" -gt 0 ]; then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q "${need[@]}"
fi

# 32-bit Wine, as Debian users install it, where the kernel runs 32-bit
# programs. Kernels differ between machines of one kind: one without IA-32
# emulation fails every i386 program's execve with "Exec format error". So
# a real i386 program is asked: the i386 dynamic loader of libc6-i386 (an
# amd64 package). MODRIK_I386_PROBE names another program to ask instead.
#
# Where the kernel runs none, wine32 is not installed; and where it is
# installed already, Debian's `wine` picks its loader, /usr/lib/wine/wine,
# whenever that is executable, and so fails for 64-bit prefixes too. That
# loader is then set aside with dpkg-divert (Debian knows of it, and
# `dpkg-divert --rename --remove /usr/lib/wine/wine` undoes it); on a kernel
# that runs 32-bit programs a loader set aside here is put back.
LOADER=/usr/lib/wine/wine
ASIDE=/usr/lib/wine/wine.i386-set-aside-by-modrik
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
probe=${MODRIK_I386_PROBE:-/lib/ld-linux.so.2}
if [ -z "${MODRIK_I386_PROBE:-}" ] && [ ! -e "$probe" ]; then
  echo "Installing: libc6-i386 (to ask whether this kernel runs 32-bit programs)"
  $SUDO apt-get install -y -q libc6-i386 >/dev/null
fi
why32=""
if [ "$(dpkg --print-architecture)" != amd64 ]; then
  why32="this is no amd64 system"
elif ! out=$("$probe" --version 2>&1); then
  why32="this kernel runs no 32-bit programs ($(printf '%s\n' "$out" | grep -m1 -io 'exec format error' || echo "$probe failed"))"
fi

if [ -z "$why32" ]; then
  if dpkg-divert --list "$LOADER" 2>/dev/null | grep -q "$ASIDE"; then
    echo "deps.sh: this kernel runs 32-bit programs: putting back the 32-bit Wine loader set aside earlier"
    $SUDO dpkg-divert --rename --remove "$LOADER" >/dev/null
  fi
  if ! have_pkg wine32:i386; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $SUDO dpkg --add-architecture i386
      $SUDO apt-get update -q >/dev/null 2>&1 || true
    fi
    if apt-get -s install -q wine32:i386 >/dev/null 2>&1; then
      echo "Installing: wine32:i386"
      $SUDO apt-get install -y -q wine32:i386
    else
      echo "deps.sh: wine32 cannot be installed here; 32-bit Wine runs in the Debian roots only" >&2
    fi
  fi
else
  if [ -x "$LOADER" ] && ! dpkg-divert --list "$LOADER" 2>/dev/null | grep -q "$ASIDE"; then
    echo "deps.sh: $why32, yet wine32 is installed: its loader $LOADER cannot start, and Debian's wine," \
         "which prefers it, fails for 64-bit prefixes too; setting it aside (undo: dpkg-divert --rename --remove $LOADER)"
    $SUDO dpkg-divert --rename --divert "$ASIDE" --add "$LOADER" >/dev/null
  fi
  echo "deps.sh: $why32: no 32-bit Wine here, the 32-bit cases skip"
fi
