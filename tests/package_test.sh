#!/bin/sh
# Builds the Debian package and reads it back: its fields, its dependency on
# the LodePNG runtime, and the files it installs.
#   package_test.sh BUILD_DIR VERSION
set -eu
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch" >/dev/null)
deb="$scratch/pngtools_${version}_amd64.deb"
[ -f "$deb" ] || deb=$(ls "$scratch"/pngtools_"$version"_*.deb)
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = pngtools ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)'"
field Depends | grep -q 'liblodepng0' || fail "Depends lacks the LodePNG runtime: $(field Depends)"
contents=$(dpkg-deb --contents "$deb")
for file in usr/bin/stencilcrop usr/bin/scrubhidden \
    usr/share/man/man1/stencilcrop.1 usr/share/man/man1/scrubhidden.1; do
    echo "$contents" | grep -q " \./$file\$" || fail "$file is not in the package"
done
echo "package_test: $(basename "$deb") depends on $(field Depends)"
