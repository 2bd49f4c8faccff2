#!/bin/sh
# Installs into a scratch prefix and uses what was installed: the tools run
# from there, and the manual pages are where man looks and render cleanly.
#   install_test.sh BUILD_DIR SOURCE_DIR VERSION
set -eu
build=$1
source=$2
version=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/usr" >/dev/null
for tool in stencilcrop scrubhidden; do
    [ -x "$scratch/usr/bin/$tool" ] || fail "$tool not installed"
    page="$scratch/usr/share/man/man1/$tool.1"
    [ -f "$page" ] || fail "$tool.1 not installed"
    if command -v groff >/dev/null; then
        warnings=$(LC_ALL=C.UTF-8 groff -ww -man -Tutf8 -z "$page" 2>&1)
        [ -z "$warnings" ] || fail "$tool.1 renders with warnings: $warnings"
    fi
    said=$("$scratch/usr/bin/$tool" --version)
    [ "$said" = "$tool $version" ] || fail "$tool --version says '$said'"
done

"$scratch/usr/bin/stencilcrop" "$source/examples/colour.png" "$source/examples/stencil.png" "$scratch/out-"
[ -s "$scratch/out-stencil.png" ] || fail "installed stencilcrop wrote nothing"
cp "$source/examples/hidden.png" "$scratch/hidden.png"
"$scratch/usr/bin/scrubhidden" "$scratch/hidden.png"
cmp -s "$scratch/hidden.png" "$source/examples/hidden.png" && fail "installed scrubhidden changed nothing"
echo "install_test: installed and ran both tools"
