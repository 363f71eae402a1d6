#!/usr/bin/env bash
# Makes the release packages of this commit in dist/:
#   modrik_VERSION_ARCH.deb            the Debian package (/usr/bin/modrik,
#                                      /usr/share/modrik/{x86_64,i686}/modrik.exe,
#                                      the man page, the README)
#   modrik-VERSION-linux-ARCH.tar.gz   the same tree, runnable where it is unpacked
#   modrik-VERSION.tar.gz              the source
#   SHA256SUMS
# Two runs from the same commit give the same bytes: every time stamp is the
# commit's (SOURCE_DATE_EPOCH), the programs carry no build path and no link
# time, and the build folder (build-package) is made anew each time.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/deps.sh >&2
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
umask 022

rm -rf build-package dist
mkdir dist
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DMODRIK_TESTS=OFF >/dev/null
cmake --build build-package -j2 >/dev/null
(cd build-package && cpack -G "DEB;TGZ" -B "$top/dist" >/dev/null &&
  cpack --config CPackSourceConfig.cmake -B "$top/dist" >/dev/null)
rm -rf dist/_CPack_Packages
(cd dist && sha256sum -- *.deb *.tar.gz > SHA256SUMS)
ls -l dist
