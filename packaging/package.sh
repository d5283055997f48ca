#!/usr/bin/env bash
# Makes the Debian packages from a built tree (default build/) into
# <tree>/packages: kestimage_<version>_<arch>.deb (the viewer) and
# libkestimage-dev_<version>_<arch>.deb (the library for host programs).
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${1:-build}

# Says which Debian package brings a missing tool.
need() {
  command -v "$1" >/dev/null && return 0
  echo "$0: the packages need $1: install the Debian package $2 (apt-get install $2)" >&2
  exit 1
}
need cpack cmake
need dpkg-shlibdeps dpkg-dev
need file file
need gzip gzip
need strip binutils

rm -rf "$tree/packages"
(cd "$tree" && cpack --config CPackConfig.cmake >packages.log 2>&1) || {
  cat "$tree/packages.log" >&2
  exit 1
}
ls "$tree"/packages/*.deb
