#!/usr/bin/env bash
# boxreach folds each coordinate column of a BinaryCIF as it passes, in the
# archive's key order (rowCount after the columns, a mask after its data):
# its peak memory on a million atoms is that on twenty thousand, where
# holding the columns would cost 6 MB more.
#
#   binary_memory.sh BIN_DIR BENCH_DIR
set -euo pipefail
bin=$1 bench=$2
[ -x /usr/bin/time ] || { echo "/usr/bin/time (GNU time) is missing; scripts/install-deps installs it"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/structure-binary-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT

peak_kb() {  # peak_kb KILOATOMS: boxreach's peak resident memory on that many atoms
    "$bench/make_structure" chain-bcif "$1" "$work/in.bcif"
    local status=0
    /usr/bin/time -o "$work/peak" -f %M "$bin/boxreach" "$work/in.bcif" 0 0 0 >"$work/report" || status=$?
    [ "$status" -eq 1 ] || { echo "boxreach on $1 thousand atoms: status $status" >&2; cat "$work/report" >&2; exit 1; }
    tail -n 1 "$work/peak"
}

small=$(peak_kb 20)
large=$(peak_kb 1000)
echo "boxreach peak memory: $small KB on 20 thousand atoms, $large KB on a million"
(( large <= small + 1024 )) || { echo "it grows with the atoms"; exit 1; }
