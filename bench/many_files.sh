#!/usr/bin/env bash
# Many small files, one process per file, as an archive is read: real
# structures (bench/structures/: the PDB entries 1A7G, 1A8O, 3JQH and 4CUP as
# mmCIF, taken from the test data of Biopython, gzip-compressed, 16 to 62 KB,
# 68 to 244 KB of text) copied into FILES entries, and a shell loop that runs the
# tool once per entry, timed against the same loop running `cat` on each
# entry, and one running /bin/true (the cost of a process alone). Best of
# ROUNDS, the loops interleaved in each round.
#
#   bench/many_files.sh [BIN_DIR] [FILES] [ROUNDS]   (build/release/bin, 720, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/bin}
files=${2:-720}
rounds=${3:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/structure-many.XXXXXX")
trap 'rm -rf "$work"' EXIT

structures=(bench/structures/*.cif.gz)
for ((i = 0; i < files; ++i)); do
    cp "${structures[i % ${#structures[@]}]}" "$work/entry$i.cif.gz"
done
cat "$work"/*.cif.gz >/dev/null  # into the page cache

# Each loop checks every status, so a failing run can not pass for a fast one.
cat_loop() { for f in "$work"/*.cif.gz; do cat "$f" >/dev/null || return 2; done; }
true_loop() { for f in "$work"/*.cif.gz; do /bin/true "$f" || return 2; done; }
boxreach_loop() {
    local status
    for f in "$work"/*.cif.gz; do
        status=0; "$bin/boxreach" "$f" 0 0 0 >/dev/null || status=$?
        [ "$status" -eq 1 ] || return 2
    done
}
xyzdump_loop() {
    local status
    for f in "$work"/*.cif.gz; do
        status=0; "$bin/xyzdump" "$f" /dev/null || status=$?
        [ "$status" -eq 1 ] || return 2
    done
}

declare -A best
loops=(true_loop cat_loop boxreach_loop xyzdump_loop)
for name in "${loops[@]}"; do best[$name]=999999999; done
for _ in $(seq "$rounds"); do
    for name in "${loops[@]}"; do
        start=$EPOCHREALTIME
        "$name" || { echo "many_files.sh: $name failed"; exit 2; }
        end=$EPOCHREALTIME
        took=$(( (${end/./} - ${start/./}) ))  # microseconds
        if (( took < best[$name] )); then best[$name]=$took; fi
    done
done

per_file() { awk -v us="$1" -v n="$files" 'BEGIN { printf "%.2f", us / n / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "$files gzip-compressed mmCIF entries, one process each, best of $rounds:"
echo "  /bin/true   $(per_file "${best[true_loop]}") ms a file"
echo "  cat         $(per_file "${best[cat_loop]}") ms a file"
echo "  boxreach    $(per_file "${best[boxreach_loop]}") ms a file" \
     "($(ratio "${best[boxreach_loop]}" "${best[cat_loop]}") x cat)"
echo "  xyzdump     $(per_file "${best[xyzdump_loop]}") ms a file" \
     "($(ratio "${best[xyzdump_loop]}" "${best[cat_loop]}") x cat)"
