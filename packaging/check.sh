#!/usr/bin/env bash
# Checks the Debian packages as a user gets them, from a built tree (default
# build/): makes them, runs lintian on them, installs them with dpkg, runs the
# installed viewer, validates its desktop entry and AppStream description,
# builds examples/host against the installed library, removes both packages and
# checks that nothing of theirs is left. Installs as root (or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${1:-build}

fail() {
  echo "$0: $*" >&2
  exit 1
}
need() {
  command -v "$1" >/dev/null || fail "the check needs $1: install the Debian package $2 (apt-get install $2)"
}
need lintian lintian
need desktop-file-validate desktop-file-utils
need appstreamcli appstream
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

# The staging check passes files under /usr and refuses one outside it.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
stage() {
  cmake -DCPACK_TEMPORARY_INSTALL_DIRECTORY="$scratch" -DCPACK_PACKAGE_VERSION=1 -DCPACK_KEST_CHANGELOG_VERSION=1 \
        -DCPACK_KEST_METAINFO_VERSION=1 -P packaging/CheckStaging.cmake >/dev/null 2>&1
}
mkdir -p "$scratch/viewer/usr/share" "$scratch/viewer/etc"
touch "$scratch/viewer/usr/share/file"
stage || fail "the staging check refuses a file under /usr"
touch "$scratch/viewer/etc/file"
stage && fail "the staging check lets a file outside /usr through"

list=$(packaging/package.sh "$tree")
mapfile -t debs <<<"$list"
lintian_ok=0
report=$(lintian --fail-on error,warning --suppress-tags-from-file packaging/lintian-notes "${debs[@]}" 2>&1) ||
  lintian_ok=$?
grep -v "^running with root privileges" <<<"$report" || true
[ "$lintian_ok" -eq 0 ] || fail "lintian found errors or warnings (above; reasoned exceptions go to packaging/lintian-notes)"

names=()
for deb in "${debs[@]}"; do names+=("$(dpkg-deb -f "$deb" Package)"); done
for name in "${names[@]}"; do
  if dpkg -s "$name" >/dev/null 2>&1; then
    echo "$0: $name is installed on this machine; installing and removing the packages is not checked" >&2
    echo "(remove it with dpkg -r $name to check it)" >&2
    exit 0
  fi
done
# What the packages add: every path of theirs that does not exist yet.
added=()
while read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || added+=("$path")
done < <(for deb in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done | sed 's|^\./|/|; s|/$||' | sort -u)

trap 'rm -rf "$scratch"; $sudo dpkg -r "${names[@]}" >/dev/null 2>&1 || true' EXIT
$sudo dpkg -i "${debs[@]}" >/dev/null
version=$(dpkg-deb -f "${debs[0]}" Version)
shown=$(QT_QPA_PLATFORM=offscreen KestImageDemo --version)
[ "$shown" = "KestImageDemo $version" ] || fail "the installed KestImageDemo --version says \"$shown\", not version $version"
entry=/usr/share/applications/KestImageDemo.desktop
out=$(desktop-file-validate "$entry" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate $entry: $out"
out=$(appstreamcli validate --no-net /usr/share/metainfo/org.kestimage.KestImageDemo.metainfo.xml 2>&1) ||
  fail "appstreamcli validate: $out"
# The desktop's trigger entered the program into the media-type cache.
grep -q "KestImageDemo.desktop" /usr/share/applications/mimeinfo.cache ||
  fail "installing did not bring KestImageDemo into the desktop's media-type cache"

host="$tree/package-check/host"
rm -rf "$host"
cmake -S examples/host -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ||
  fail "examples/host does not configure against the installed library"
cmake --build "$host" >/dev/null || fail "examples/host does not build against the installed library"
QT_QPA_PLATFORM=offscreen "$host/kestimage_host" >/dev/null || fail "examples/host built against the installed library fails"

$sudo dpkg -r "${names[@]}" >/dev/null
trap 'rm -rf "$scratch"' EXIT
left=()
for path in "${added[@]}"; do
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done
[ ${#left[@]} -eq 0 ] || fail "removing the packages left: ${left[*]}"
! grep -q "KestImageDemo.desktop" /usr/share/applications/mimeinfo.cache 2>/dev/null ||
  fail "removing did not take KestImageDemo out of the desktop's media-type cache"
echo "packages checked: ${debs[*]}"
