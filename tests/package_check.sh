#!/usr/bin/env bash
# Builds the packages of a configured build and checks that each lands its
# files where they belong, that the installed tools run, and that lintian
# finds no error in the .deb.
#
#   package_check.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/structure-package.XXXXXX")
# cpack and cmake --install rewrite the build's install manifest, which a
# user's uninstall reads: theirs is put back on exit.
manifest="$build/install_manifest.txt"
if [ -e "$manifest" ]; then cp -p "$manifest" "$work/manifest"; fi
restore_manifest() {
    if [ -e "$work/manifest" ]; then mv "$work/manifest" "$manifest"; else rm -f "$manifest"; fi
}
trap 'restore_manifest; rm -rf "$work"' EXIT

(cd "$build" && cpack -B "$work/packages" >/dev/null)
deb=$(ls "$work"/packages/*.deb)
tarball=$(ls "$work"/packages/*.tar.gz)

# Every tree holds these, relative to its prefix (/usr for the .deb).
expected="bin/boxreach bin/xyzdump share/man/man1/boxreach.1.gz share/man/man1/xyzdump.1.gz
share/doc/structure-tools/copyright share/doc/structure-tools/changelog.gz"
fail() { echo "$*"; exit 1; }
only_entry() {  # only_entry DIR NAME: DIR holds NAME and nothing else
    [ "$(ls -A "$1")" = "$2" ] || fail "$1 holds $(ls -A "$1" | tr '\n' ' '), want only $2"
}
check_tree() {  # check_tree PREFIX WHAT
    local prefix=$1 what=$2 found want
    found=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
    want=$(tr ' ' '\n' <<<"$expected" | sort)
    [ "$found" = "$want" ] || fail "$what holds:" $found "; want:" $want
    status=0
    "$prefix/bin/boxreach" "$source_dir/examples/sample.pdb" 4 1.5 -2 >"$work/report" || status=$?
    [ "$status" -eq 1 ] && grep -q '^Radius X Y Z = ' "$work/report" || fail "$what: boxreach failed"
    status=0
    "$prefix/bin/xyzdump" "$source_dir/examples/sample.pqr" "$work/rows.csv" || status=$?
    [ "$status" -eq 1 ] && [ -s "$work/rows.csv" ] || fail "$what: xyzdump failed"
    for page in boxreach xyzdump; do
        warnings=$(zcat "$prefix/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
        [ -z "$warnings" ] || fail "$what: $page.1: $warnings"
    done
    # The copyright file carries LICENSE's terms word for word.
    # (its only indented lines, "." standing for an empty one).
    grep '^ ' "$prefix/share/doc/structure-tools/copyright" | sed 's/^ //; s/^\.$//' >"$work/terms"
    sed -n '/^Permission is hereby granted/,$p' "$source_dir/LICENSE" | cmp -s - "$work/terms" ||
        fail "$what: the copyright file differs from LICENSE"
    zcat "$prefix/share/doc/structure-tools/changelog.gz" | head -n 1 | grep -q "^structure-tools ($version) " ||
        fail "$what: the changelog does not begin with version $version"
}

version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -f "$deb" Package Version Depends
dpkg-deb -x "$deb" "$work/deb-root"
only_entry "$work/deb-root" usr
check_tree "$work/deb-root/usr" "$(basename "$deb")"

# The tarball unpacks into one directory named after it, bin/ and share/ directly inside.
mkdir "$work/tar-root"
tar xzf "$tarball" -C "$work/tar-root"
top=$(basename "$tarball" .tar.gz)
only_entry "$work/tar-root" "$top"
check_tree "$work/tar-root/$top" "$(basename "$tarball")"

cmake --install "$build" --prefix "$work/install-root" >/dev/null
check_tree "$work/install-root" "cmake --install"

# Errors fail; warnings and notes are shown for whoever reads the log.
status=0
lintian --fail-on error --display-info "$deb" >"$work/lintian" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian" || true
[ "$status" -eq 0 ] || fail "lintian: errors in $(basename "$deb") (status $status)"
echo "packages and install tree: files in place, tools run, manual pages clean, lintian without errors"
