#!/usr/bin/env bash
# Installs the C++ library of a configured build into a scratch prefix, then
# builds examples/consumer against it twice, through find_package and through
# pkg-config, with the build's compiler and flags, and compares what each
# reports on the samples with boxreach and xyzdump.
#
#   consumer_check.sh BUILD_DIR CXX "CXXFLAGS" "LDFLAGS"
set -euo pipefail
build=$(cd "$1" && pwd) cxx=$2 cxxflags=$3 ldflags=$4
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/record-scan-consumer.XXXXXX")
# cmake --install rewrites the component's manifest: a user's is put back on exit.
manifest="$build/install_manifest_development.txt"
if [ -e "$manifest" ]; then cp -p "$manifest" "$work/manifest"; fi
restore_manifest() {
    if [ -e "$work/manifest" ]; then mv "$work/manifest" "$manifest"; else rm -f "$manifest"; fi
}
trap 'restore_manifest; rm -rf "$work"' EXIT
fail() { echo "consumer_check: $*"; exit 1; }

cmake --install "$build" --component development --prefix "$work/prefix" >/dev/null
cmake -S "$source_dir/examples/consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" \
      -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >"$work/log" 2>&1 || { cat "$work/log"; fail "configure failed"; }
cmake --build "$work/cmake-build" >"$work/log" 2>&1 || { cat "$work/log"; fail "build failed"; }

pc_dir=$(dirname "$(find "$work/prefix" -name record_scan.pc)")
read -r -a pc_flags <<<"$(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs record_scan)"
read -r -a compile_flags <<<"$cxxflags $ldflags"
"$cxx" -std=c++20 "${compile_flags[@]}" "$source_dir/examples/consumer/reach_and_count.cpp" \
       "${pc_flags[@]}" -o "$work/pkg-config-build" || fail "the pkg-config build failed"

for sample in sample.pdb sample.pdb.gz sample.cif sample.bcif; do
    input=$source_dir/examples/$sample
    "$build/bin/boxreach" "$input" 4 1.5 -2 | head -n 1 >"$work/want" || true
    "$build/bin/xyzdump" "$input" "$work/rows.csv" || true
    echo "Atoms = $(wc -l <"$work/rows.csv")" >>"$work/want"
    for program in "$work/cmake-build/reach_and_count" "$work/pkg-config-build"; do
        "$program" "$input" 4 1.5 -2 >"$work/got" || fail "$program failed on $sample"
        cmp -s "$work/want" "$work/got" || fail "$program on $sample:" "$(cat "$work/got")" "want:" "$(cat "$work/want")"
    done
done
echo "consumer_check: built through find_package and pkg-config; reach and atom count agree with the tools"
