#!/usr/bin/env bash
# Sets up, builds and runs the picture viewer or its tests on Debian 12.
#   ./build.sh run    installs the packages it needs, builds, starts the viewer
#   ./build.sh test   installs the packages it needs, builds, runs every test
#                     (unit tests, the Debian packages' check, then the fuzz
#                     corpora under the sanitizers)
#   ./build.sh package [install]
#                     installs the packages it needs, builds, makes the Debian
#                     packages in build/packages (and installs them)
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libjpeg62-turbo-dev
          libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev fonts-dejavu-core fonts-liberation
          desktop-file-utils appstream
          liblcms2-dev libtiff-dev libavif-dev libheif-dev libgdk-pixbuf-2.0-dev qt6-image-formats-plugins)
PACKAGES+=(libspng-dev libpng-dev libgif-dev libwebp-dev)
PACKAGES+=(dpkg-dev file binutils lintian)  # the Debian packages and their check

install_packages() {
  local missing=() p sudo=""
  for p in "${PACKAGES[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
}

build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build build
}

case "${1:-}" in
  run)
    install_packages
    build -DKEST_BUILD_TESTS=OFF -DKEST_BUILD_BENCH=OFF
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
      echo "The viewer is built, but it needs a graphical display to run and none is set" >&2
      echo "(DISPLAY and WAYLAND_DISPLAY are empty). Run it from a desktop session, or under" >&2
      echo "a virtual display (package xvfb):  xvfb-run ./build.sh run" >&2
      exit 1
    fi
    exec build/viewer/KestImageDemo "${@:2}"
    ;;
  test)
    install_packages
    build -DKEST_BUILD_TESTS=ON -DKEST_BUILD_BENCH=ON
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    packaging/check.sh build
    if [ -x fuzz/replay.sh ]; then fuzz/replay.sh; fi
    if [ -x tests/tsan.sh ]; then tests/tsan.sh; fi
    ;;
  package)
    install_packages
    build -DKEST_BUILD_TESTS=OFF -DKEST_BUILD_BENCH=OFF
    packaging/package.sh build
    if [ "${2:-}" = install ]; then
      debs=(build/packages/*.deb)
      sudo=""
      [ "$(id -u)" -ne 0 ] && sudo=sudo
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${debs[@]/#/./}"
    fi
    ;;
  *)
    echo "usage: $0 run|test|package [install]" >&2
    exit 2
    ;;
esac
