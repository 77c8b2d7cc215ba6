#!/usr/bin/env bash
# Checks the ways a user installs the Python module record_scan, each
# imported with no PYTHONPATH and compared with the tools on the samples:
#   cmake --install --prefix ~/.local     (a scratch HOME): the user's site folder
#   cmake --install --prefix /usr/local   every user's; in CI, as root, for real
#                                         (imported as nobody too) and removed
#                                         again; elsewhere under DESTDIR
#   pip install --no-build-isolation .    offline, into a venv made with
#                                         --system-site-packages (for numpy)
#
#   install_check.sh BUILD_DIR     (a configured and built release build)
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/record-scan-install.XXXXXX")
manifest="$build/install_manifest.txt"
if [ -e "$manifest" ]; then cp -p "$manifest" "$work/manifest"; fi
restore_manifest() {
    if [ -e "$work/manifest" ]; then mv "$work/manifest" "$manifest"; else rm -f "$manifest"; fi
}
trap 'restore_manifest; rm -rf "$work"' EXIT
fail() { echo "install_check: $*"; exit 1; }

python=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ ! -e "$build/python/record_scan/__init__.py" ]; then
    [ "${CI:-}" != true ] || fail "CI: the Python module was not built"
    echo "install_check: the Python module was not built: nothing to check"
    exit 0
fi
check() {  # check FOLDER BIN_DIR [RUNNER...]: the module from FOLDER reads as the tools
    local folder=$1 bin_dir=$2
    shift 2
    (cd "$work" && env -u PYTHONPATH "$@" "$source_dir/tests/installed_module_check.py" \
        "$folder" "$bin_dir" "$source_dir/examples")
}
listed() {  # listed FILE: cmake --install named FILE in its manifest
    grep -qxF "$1" "$manifest" || fail "install_manifest.txt does not list $1"
}

# A user's own prefix: the user site folder of a scratch HOME.
home=$work/home
mkdir "$home"
HOME=$home cmake --install "$build" --prefix "$home/.local" >/dev/null
user_site=$(HOME=$home "$python" -c 'import site; print(site.getusersitepackages())')
[[ "$user_site" == "$home/.local/"* ]] || fail "the user site $user_site is not under ~/.local"
listed "$user_site/record_scan/__init__.py"
HOME=$home check "$user_site/record_scan" "$home/.local/bin" "$python"

# Every user's prefix: the interpreter's dist-packages under /usr/local.
local_site=$("$python" "$source_dir/python/site_dir.py" /usr/local)
"$python" -c 'import site, sys; sys.exit(sys.argv[1] not in site.getsitepackages())' "$local_site" ||
    fail "$local_site is not among $python's site folders"
if [ "${CI:-}" = true ] && [ "$(id -u)" -eq 0 ]; then
    [ ! -e "$local_site/record_scan" ] || fail "$local_site/record_scan is there already"
    cmake --install "$build" --prefix /usr/local >/dev/null
    cp "$manifest" "$work/usr-local-files"
    remove_usr_local() {  # the files installed, and the bytecode the imports left
        xargs -d '\n' rm -f -- <"$work/usr-local-files"
        rm -rf "$local_site/record_scan/__pycache__"
        rmdir "$local_site/record_scan"
    }
    listed "$local_site/record_scan/__init__.py"
    check "$local_site/record_scan" /usr/local/bin "$python" || { remove_usr_local; fail "/usr/local: the module failed"; }
    rows=$(cd / && runuser -u nobody -- env -u PYTHONPATH "$python" -c \
        'import record_scan, sys; print(len(record_scan.coordinates(sys.stdin.buffer)))' \
        <"$source_dir/examples/sample.pdb") || { remove_usr_local; fail "/usr/local: nobody cannot import record_scan"; }
    [ "$rows" -gt 0 ] || { remove_usr_local; fail "/usr/local: nobody read no rows"; }
    remove_usr_local
    echo "install_check: /usr/local installed, imported by root and nobody, removed"
else
    DESTDIR=$work/destdir cmake --install "$build" --prefix /usr/local >/dev/null
    listed "$local_site/record_scan/__init__.py"  # the manifest names files without DESTDIR
    check "$work/destdir$local_site/record_scan" "$work/destdir/usr/local/bin" \
        env PYTHONPATH="$work/destdir$local_site" "$python"
fi

# pip, offline, with the setuptools and wheel the venv sees (Debian's).
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --quiet --no-build-isolation --no-index "$source_dir" >"$work/pip.log" 2>&1 ||
    { cat "$work/pip.log"; fail "pip install failed"; }
venv_site=$("$work/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
check "$venv_site/record_scan" "$build/bin" "$work/venv/bin/python"
echo "install_check: ~/.local, /usr/local and pip install: the module where the interpreter looks, reading the samples as the tools"
