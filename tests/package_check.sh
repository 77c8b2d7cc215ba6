#!/usr/bin/env bash
# Builds the packages of a configured build and checks that each lands its
# files where they belong and that the installed tools run.
#
#   package_check.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/structure-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -B "$work/packages" >/dev/null)
deb=$(ls "$work"/packages/*.deb)
tarball=$(ls "$work"/packages/*.tar.gz)

expected="usr/bin/boxreach usr/bin/xyzdump usr/share/man/man1/boxreach.1.gz usr/share/man/man1/xyzdump.1.gz"
check_tree() {  # check_tree ROOT WHAT
    for file in $expected; do
        [ -f "$1/$file" ] || { echo "$2: $file missing"; exit 1; }
    done
    extra=$(cd "$1" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
    [ "$extra" = "$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ')" ] || { echo "$2 holds: $extra"; exit 1; }
    status=0
    "$1/usr/bin/boxreach" "$source_dir/examples/sample.pdb" 4 1.5 -2 >"$work/report" || status=$?
    [ "$status" -eq 1 ] && grep -q '^Radius X Y Z = ' "$work/report" || { echo "$2: boxreach failed"; exit 1; }
    status=0
    "$1/usr/bin/xyzdump" "$source_dir/examples/sample.pqr" "$work/rows.csv" || status=$?
    [ "$status" -eq 1 ] && [ -s "$work/rows.csv" ] || { echo "$2: xyzdump failed"; exit 1; }
    for page in boxreach xyzdump; do
        warnings=$(zcat "$1/usr/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
        [ -z "$warnings" ] || { echo "$2: $page.1: $warnings"; exit 1; }
    done
}

dpkg-deb -x "$deb" "$work/deb-root"
dpkg-deb -f "$deb" Package Version Depends
check_tree "$work/deb-root" "$(basename "$deb")"
mkdir "$work/tar-root"
tar xzf "$tarball" -C "$work/tar-root" --strip-components=1
check_tree "$work/tar-root" "$(basename "$tarball")"
cmake --install "$build" --prefix "$work/install-root/usr" >/dev/null
check_tree "$work/install-root" "cmake --install"
echo "packages and install tree: files in place, tools run, manual pages clean"
