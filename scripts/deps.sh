#!/usr/bin/env bash
# Installs what building and testing modrik needs, when it is missing:
# the host compiler, GoogleTest and CLI11, the mingw-w64 cross compilers for
# x86-64 and i686, Wine with wine32 (the i386 architecture), CPack's helpers,
# a virtual X display, D-Bus with GVfs, GLib's Python bindings, and the real
# player and ffmpeg (for the test that plays a real video with it), and
# debootstrap for the Debian 13 root of the Wine 10 tests; the YAML and JSON
# readers of the front-ends' files; bubblewrap, Flatpak's session helper,
# flatpak-xdg-utils and python3-dbus for the tests that imitate sandboxes;
# clang with its libFuzzer and sanitizer runtimes (libclang-rt-dev) for the
# fuzz harnesses.
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

# 32-bit Wine, as Debian users install it. Where the archive cannot give it
# (its i386 packages not matching the installed ones), the 32-bit cases run
# in the Debian roots of scripts/wine10.sh, which have it, and skip here.
if [ "$(dpkg --print-architecture)" = amd64 ] && ! have_pkg wine32:i386; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
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

