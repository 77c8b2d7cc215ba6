#!/usr/bin/env bash
# Builds the packages of a configured build and checks that each lands its
# files where they belong, that the installed tools run and the installed
# Python module imports and reads as they do, and that lintian finds no
# error in either .deb. In CI, as root, the .debs are also installed with
# dpkg and removed again.
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
deb=$(ls "$work"/packages/structure-tools_*.deb)
python_deb=$(ls "$work"/packages/python3-record-scan_*.deb 2>/dev/null || true)
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

cmake --install "$build" --component tools --prefix "$work/install-root" >/dev/null
check_tree "$work/install-root" "cmake --install --component tools"

# python3-record-scan: the package in Debian's folder, its copyright and
# changelog, the dependencies on numpy and on the Python it was built for;
# imported from the unpacked tree, it reads the samples as the tools do.
python=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ -z "$python_deb" ]; then
    [ "${CI:-}" != true ] || fail "CI: no python3-record-scan package (the module was not built)"
    echo "package_check: the Python module was not built: python3-record-scan not checked"
else
    dpkg-deb -f "$python_deb" Package Version Depends
    dpkg-deb -x "$python_deb" "$work/python-root"
    only_entry "$work/python-root" usr
    module_dir=usr/lib/python3/dist-packages/record_scan
    found=$(cd "$work/python-root" && find . -type f | sed 's|^\./||' | sort)
    want=$(printf '%s\n' usr/share/doc/python3-record-scan/copyright usr/share/doc/python3-record-scan/changelog.gz \
               "$module_dir"/{__init__.py,__init__.pyi,_errors.py,py.typed} | sort)
    [ "$(grep -v '/_core\.cpython-.*\.so$' <<<"$found")" = "$want" ] && grep -q '/_core\.cpython-.*\.so$' <<<"$found" ||
        fail "$(basename "$python_deb") holds:" $found
    cmp -s "$work/python-root/usr/share/doc/python3-record-scan/copyright" \
           "$work/deb-root/usr/share/doc/structure-tools/copyright" || fail "python3-record-scan: another copyright file"
    python_version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    dpkg-deb -f "$python_deb" Depends | grep -q "python3 (>= $python_version), python3 (<< " ||
        fail "python3-record-scan does not depend on Python $python_version"
    dpkg-deb -f "$python_deb" Depends | grep -q "python3-numpy" || fail "python3-record-scan does not depend on python3-numpy"
    (cd "$work" && PYTHONPATH="$work/python-root/usr/lib/python3/dist-packages" "$python" \
        "$source_dir/tests/installed_module_check.py" "$work/python-root/$module_dir" \
        "$work/deb-root/usr/bin" "$source_dir/examples") || fail "python3-record-scan: the module failed"
fi

# Errors fail; warnings and notes are shown for whoever reads the log.
status=0
lintian --fail-on error --display-info "$deb" $python_deb >"$work/lintian" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian" || true
[ "$status" -eq 0 ] || fail "lintian: errors in the .debs (status $status)"

# In CI (a fresh root), as root: installed by dpkg, the tools on PATH and the
# module imported by Debian's python3 with no PYTHONPATH; then removed.
if [ "${CI:-}" = true ] && [ "$(id -u)" -eq 0 ] && [ -n "$python_deb" ]; then
    dpkg -i "$deb" "$python_deb" >/dev/null
    (cd "$work" && /usr/bin/python3 "$source_dir/tests/installed_module_check.py" \
        /usr/lib/python3/dist-packages/record_scan /usr/bin "$source_dir/examples") ||
        { dpkg -r python3-record-scan structure-tools >/dev/null; fail "dpkg -i: the module failed"; }
    dpkg -r python3-record-scan structure-tools >/dev/null
    echo "package_check: both .debs installed with dpkg -i, the module read the samples, both removed"
fi
echo "packages and install tree: files in place, tools run, module imports, manual pages clean, lintian without errors"
