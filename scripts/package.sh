#!/usr/bin/env bash
# Makes the release packages of this commit in dist/:
#   modrik_VERSION_ARCH.deb            the Debian package (/usr/bin/modrik,
#                                      /usr/share/modrik/{x86_64,i686}/modrik.exe,
#                                      the man page, the documentation, the
#                                      copyright file and the changelog)
#   modrik-VERSION-linux-ARCH.tar.gz   the same tree, runnable where it is unpacked
#   modrik-VERSION.tar.gz              the source
#   SHA256SUMS
# Two runs from the same commit give the same bytes: every time stamp is the
# commit's (SOURCE_DATE_EPOCH), the programs carry no build path and no link
# time, and the build folder (build-package) is made anew each time. The
# archives list their members sorted by name. The .deb must pass lintian with
# no error and no warning, and the man page mandoc's lint.
#   scripts/package.sh --check   makes them twice and compares the bytes
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

if [ "${1:-}" = --check ]; then
  first=$(mktemp -d)
  trap 'rm -rf "$first"' EXIT
  "$0" >/dev/null
  cp -p dist/* "$first/"
  "$0" >/dev/null
  if cmp -s "$first/SHA256SUMS" dist/SHA256SUMS; then
    echo "package.sh: two builds gave identical packages:"; cat dist/SHA256SUMS; exit 0
  fi
  echo "package.sh: two builds gave different packages:" >&2
  diff "$first/SHA256SUMS" dist/SHA256SUMS >&2 || true
  exit 1
fi

scripts/deps.sh >&2
export TZ=UTC LC_ALL=C.UTF-8
umask 022
rm -rf build-package dist
mkdir -p build-package dist
# In a git checkout, the packages are of the commit: made from a clone of it,
# with its time.
src=$top
SOURCE_DATE_EPOCH=0
if git rev-parse HEAD >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "package.sh: uncommitted changes are left out: this packages commit $(git rev-parse --short HEAD)" >&2
  fi
  git -c advice.detachedHead=false clone -q --no-hardlinks "$top" build-package/src
  src=$top/build-package/src
fi
export SOURCE_DATE_EPOCH

cmake -S "$src" -B build-package/build -DCMAKE_BUILD_TYPE=Release -DMODRIK_TESTS=OFF >/dev/null
cmake --build build-package/build -j2 >/dev/null
(cd build-package/build && cpack -G "DEB;TGZ" -B "$top/dist" >/dev/null &&
  cpack --config CPackSourceConfig.cmake -B "$top/dist" >/dev/null)
rm -rf dist/_CPack_Packages

# The archives again, their members sorted by name (a folder as NAME/, as tar
# lists it), with the same owners, modes and time stamps.
for archive in dist/*.tar.gz; do
  tree=$(mktemp -d build-package/tar.XXXXXX)
  tar -xzf "$archive" -C "$tree"
  (cd "$tree" && find . -mindepth 1 \( -type d -printf '%P/\0' -o -printf '%P\0' \) | LC_ALL=C sort -z |
     tar --null --verbatim-files-from --no-recursion -T - -c --format=gnu --owner=root:0 --group=root:0 \
         --mtime="@$SOURCE_DATE_EPOCH" | gzip -9 -n) > "$archive"
  rm -rf "$tree"
done

# Debian's checks of the package and of the man page.
lintian --fail-on error,warning dist/*.deb >&2 2> >(grep -v 'running with root privileges' >&2)
lint=$(mandoc -T lint -W warning "$src/doc/modrik.1" 2>&1 || true)
if [ -n "$lint" ]; then echo "package.sh: the man page has warnings:" >&2; echo "$lint" >&2; exit 1; fi
(cd dist && sha256sum -- *.deb *.tar.gz > SHA256SUMS)
ls -l dist
