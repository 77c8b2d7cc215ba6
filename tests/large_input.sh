#!/usr/bin/env bash
# Past 4 GiB: streams a 5 GiB input through a pipe into both tools and
# checks that the last record, beyond every 32-bit offset, was read.
#
#   large_input.sh BIN_DIR BENCH_DIR STREAM_REPEATED
set -euo pipefail
bin=$1 bench=$2 repeat=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/structure-large.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$bench/make_structure" pdb 1 "$work/block.pdb" 5
block_bytes=$(stat -c %s "$work/block.pdb")
count=$(( (5 * 1024 * 1024 * 1024) / block_bytes + 1 ))
last='ATOM  99999  CA  ALA A9999    9999.999-999.999   0.000  1.00 20.00           C  
'
# The expected answers, from the block and the last record alone.
{ cat "$work/block.pdb"; printf '%s' "$last"; } > "$work/small.pdb"
want_report=$("$bin/boxreach" "$work/small.pdb" 0 0 0 || true)
block_rows=$("$bin/xyzdump" "$work/block.pdb" /dev/stdout | wc -l || true)

status=0
report=$("$repeat" "$work/block.pdb" "$count" "$last" | "$bin/boxreach" /dev/stdin 0 0 0) || status=$?
[ "$status" -eq 1 ] || { echo "boxreach status $status"; exit 1; }
[ "$report" = "$want_report" ] || { echo "boxreach report differs:"; echo "$report"; echo "$want_report"; exit 1; }
case "$report" in *9999.999*) ;; *) echo "the last record was not read"; exit 1 ;; esac

status=0
"$repeat" "$work/block.pdb" "$count" "$last" | "$bin/xyzdump" /dev/stdin /dev/null || status=$?
[ "$status" -eq 1 ] || { echo "xyzdump to /dev/null status $status"; exit 1; }
rows=$("$repeat" "$work/block.pdb" "$count" "$last" | { "$bin/xyzdump" /dev/stdin /dev/stdout || true; } | wc -l)
want_rows=$(( count * block_rows + 1 ))
[ "$rows" -eq "$want_rows" ] || { echo "xyzdump wrote $rows rows, want $want_rows"; exit 1; }
echo "streamed $(( count * block_bytes )) bytes: report and $rows rows as expected"
