#!/usr/bin/env bash
# Measures boxreach and xyzdump against the machine's floors, wc -l and the
# plain fgets/sscanf readings on synthetic inputs, from the page cache, best
# of five, all commands of a comparison run side by side in each round.
# The floors: F, the faster of bench/touch reading the same file by read()
# and by mmap() (every byte looked at, its line feeds counted, nothing
# else); W, bench/write writing as many bytes as xyzdump's CSV into a new
# file. Each tool is reported as a ratio to its floor: boxreach / F,
# xyzdump / (F + W).
#
#   bench/run.sh [MEGABYTES]        (200 by default)
#   bench/run.sh compressed         the bzip2, xz and zstd block alone
#   bench/run.sh binary [KILOATOMS] (the binary-format block alone; 2500 by default)
#
# Then many small files, one process each (bench/many_files.sh).
# Memory: peak resident size on 20 MB and 1 GB inputs (/usr/bin/time -v).
set -euo pipefail
cd "$(dirname "$0")/.."
only_binary=no
if [ "${1:-}" = binary ]; then only_binary=yes; shift; kiloatoms=${1:-2500}; set --; fi
megabytes=${1:-200}
[ "$megabytes" != compressed ] || megabytes=0  # the compressed block alone
rounds=5
# Peak memory comes from GNU time; without it the report would have blanks.
[ -x /usr/bin/time ] || { echo "bench/run.sh: /usr/bin/time (GNU time) is missing; scripts/install-deps installs it"; exit 2; }

cmake --workflow --preset release >/dev/null
bin=build/release/bin
helpers=build/release/bench
work=$(mktemp -d "${TMPDIR:-/tmp}/structure-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

milliseconds() {  # milliseconds COMMAND...: wall time of one run, output dropped
    local start=$EPOCHREALTIME
    "$@" >/dev/null || true
    local end=$EPOCHREALTIME
    echo $(( (${end/./} - ${start/./}) / 1000 ))
}

declare -A best box_kb dump_kb gz_kb cif_kb
race() {  # race NAME... : each NAME is a function; best of $rounds, interleaved
    # A NAME_before function, where there is one, runs untimed before each run.
    for name in "$@"; do best[$name]=999999999; done
    for _ in $(seq "$rounds"); do
        for name in "$@"; do
            local took
            if declare -F "${name}_before" >/dev/null; then "${name}_before"; fi
            took=$(milliseconds "$name")
            if (( took < best[$name] )); then best[$name]=$took; fi
        done
    done
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }'; }
floor_of() { echo $(( $1 < $2 ? $1 : $2 )); }  # floor_of READ MAP: F
rate() { awk -v mb="$1" -v ms="$2" 'BEGIN { printf "%.2f", mb / 1000 / (ms > 0 ? ms : 1) * 1000 }'; }

peak_kb() {  # peak_kb COMMAND...: maximum resident set size in KB
    { /usr/bin/time -v "$@" 2>&1 >/dev/null || true; } | awk -F': ' '/Maximum resident/ { print $2 }'
}

# bzip2, xz and zstd, each at its tool's default level, on a 50 MB PDB:
# boxreach FILE.X against the format's own decompressor alone (Xcat FILE
# >/dev/null) and against a pipe from it; the report must be the plain
# file's. Then the memory an xz writer can ask for: -9 (a 64 MiB
# dictionary) and --lzma2=dict=1536MiB, with what boxreach and xzcat answer
# when the address space is too small for it. Compressing takes minutes
# (xz about a minute and a half at each setting).
compressed_block() {
    local format compressed decompressor plain_report same size
    "$helpers/make_structure" pdb 50 "$work/c.pdb"
    bzip2 -c "$work/c.pdb" >"$work/c.pdb.bz2"
    xz -c "$work/c.pdb" >"$work/c.pdb.xz"
    zstd -q -c "$work/c.pdb" >"$work/c.pdb.zst"
    plain_report=$("$bin/boxreach" "$work/c.pdb" 0 0 0 || true)
    compressed_run() { "$bin/boxreach" "$compressed" 0 0 0; }
    decompressor_alone() { "$decompressor" "$compressed"; }
    decompressor_pipe() { "$decompressor" "$compressed" | "$bin/boxreach" - 0 0 0; }
    for format in bz2:bzcat xz:xzcat zst:zstdcat; do
        compressed="$work/c.pdb.${format%%:*}" decompressor=${format##*:}
        cat "$compressed" >/dev/null
        race compressed_run decompressor_alone decompressor_pipe
        same=NO
        if [ -n "$plain_report" ] && [ "$(compressed_run || true)" = "$plain_report" ] &&
            [ "$(decompressor_pipe || true)" = "$plain_report" ]; then same=yes; fi
        echo "boxreach on a 50 MB PDB as .${format%%:*} ($(( $(stat -c %s "$compressed") / 1000000 )) MB), best of $rounds:"
        echo "  boxreach FILE            ${best[compressed_run]} ms  ($(ratio "${best[compressed_run]}" "${best[decompressor_alone]}") x $decompressor alone," \
             "$(ratio "${best[decompressor_pipe]}" "${best[compressed_run]}") x faster than $decompressor | boxreach)"
        echo "  $decompressor FILE >/dev/null  ${best[decompressor_alone]} ms"
        echo "  $decompressor | boxreach -   ${best[decompressor_pipe]} ms"
        echo "  peak memory: boxreach $(peak_kb "$bin/boxreach" "$compressed" 0 0 0) KB," \
             "$decompressor $(peak_kb "$decompressor" "$compressed") KB, boxreach on the plain file $(peak_kb "$bin/boxreach" "$work/c.pdb" 0 0 0) KB"
        echo "  same report as the plain file, read directly and through the pipe: $same"
    done
    rm -f "$work/c.pdb.bz2" "$work/c.pdb.zst"
    xz -9 -c "$work/c.pdb" >"$work/c9.pdb.xz"
    xz --lzma2=dict=1536MiB -c "$work/c.pdb" >"$work/cbig.pdb.xz"
    echo "xz dictionaries, the same 50 MB PDB (a dictionary larger than the text is touched only as far as the text):"
    for format in c.pdb.xz:-6:16384 c9.pdb.xz:-9:32768 cbig.pdb.xz:--lzma2=dict=1536MiB:1048576; do
        IFS=: read -r compressed setting size <<<"$format"
        compressed=$work/$compressed
        echo "  xz $setting: peak memory boxreach $(peak_kb "$bin/boxreach" "$compressed" 0 0 0) KB," \
             "xzcat $(peak_kb xzcat "$compressed") KB; same report: $([ "$(compressed_run || true)" = "$plain_report" ] && echo yes || echo NO)"
        echo "    under ulimit -v $size: boxreach answers '$(limited "$size" "$bin/boxreach" "$compressed" 0 0 0)'," \
             "xzcat '$(limited "$size" sh -c 'xzcat "$1" >/dev/null' sh "$compressed")'"
    done
    rm -f "$work"/c*.pdb*
}

limited() {  # limited KB COMMAND...: its output, on one line, and status under ulimit -v KB
    local status=0 out
    out=$(ulimit -v "$1"; shift; "$@" 2>&1) || status=$?
    out=${out%$'\n'}
    printf '%s, status %s' "${out//$'\n'/ | }" "$status"
}

if [ "${1:-}" = compressed ]; then
    compressed_block
    exit 0
fi

# Archive-style BinaryCIF against the same atoms as archive-style mmCIF
# text: both tools, the same report and rows, and peak memory on the
# BinaryCIF (xyzdump holds the coordinate columns encoded, 2 bytes an atom
# each, until the last of them has passed).
binary_block() {  # binary_block KILOATOMS
    local atoms=$(( $1 * 1000 ))
    "$helpers/make_structure" chain-bcif "$1" "$work/in.bcif"
    "$helpers/make_structure" chain-cif "$1" "$work/in.cif"
    cat "$work/in.bcif" "$work/in.cif" >/dev/null
    bcif_box() { "$bin/boxreach" "$work/in.bcif" 0 0 0; }
    cif_box() { "$bin/boxreach" "$work/in.cif" 0 0 0; }
    bcif_dump() { "$bin/xyzdump" "$work/in.bcif" "$work/bcif.csv"; }
    cif_dump() { "$bin/xyzdump" "$work/in.cif" "$work/cif.csv"; }
    race bcif_box cif_box bcif_dump cif_dump
    local same_box same_rows
    cmp -s <(bcif_box) <(cif_box) && same_box=yes || same_box=NO
    cmp -s "$work/bcif.csv" "$work/cif.csv" && same_rows=yes || same_rows=NO
    rm -f "$work/bcif.csv" "$work/cif.csv"
    local box_peak dump_peak held=$(( 3 * 2 * atoms / 1024 ))
    box_peak=$(peak_kb "$bin/boxreach" "$work/in.bcif" 0 0 0)
    dump_peak=$(peak_kb "$bin/xyzdump" "$work/in.bcif" /dev/null)
    echo "BinaryCIF of $atoms atoms in the archive's key order ($(( $(stat -c %s "$work/in.bcif") / 1000000 )) MB) against the same as mmCIF" \
         "($(( $(stat -c %s "$work/in.cif") / 1000000 )) MB), best of $rounds:"
    echo "  boxreach   ${best[bcif_box]} ms against ${best[cif_box]} ms  ($(ratio "${best[cif_box]}" "${best[bcif_box]}") x faster)," \
         "same report: $same_box"
    echo "  xyzdump    ${best[bcif_dump]} ms against ${best[cif_dump]} ms  ($(ratio "${best[cif_dump]}" "${best[bcif_dump]}") x faster)," \
         "same rows: $same_rows"
    echo "  peak memory on the BinaryCIF: boxreach $box_peak KB (limit 8192)," \
         "xyzdump $dump_peak KB (limit 8192 + $held held = $(( 8192 + held )))"
    rm -f "$work/in.bcif" "$work/in.cif"
}
if [ "$only_binary" = yes ]; then
    binary_block "$kiloatoms"
    exit 0
fi

echo "generating ${megabytes} MB inputs in $work"
"$helpers/make_structure" pdb "$megabytes" "$work/in.pdb"
"$helpers/make_structure" pqr "$megabytes" "$work/in.pqr"
cat "$work/in.pdb" "$work/in.pqr" >/dev/null  # into the page cache

echo "processor: $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo);" \
     "kernel path of the tools: $("$helpers/touch" kernel)"

wc_lines() { wc -l "$work/in.pdb"; }
touch_read() { "$helpers/touch" read "$work/in.pdb"; }
touch_map() { "$helpers/touch" map "$work/in.pdb"; }
boxreach_run() { "$bin/boxreach" "$work/in.pdb" 0 0 0; }
boxreach_baseline() { "$helpers/baseline_boxreach" "$work/in.pdb" 0 0 0; }
# The same fold through the AVX2 kernel, for machines that have no other.
reach_avx2() { "$helpers/reach_with" avx2 "$work/in.pdb"; }
race wc_lines touch_read touch_map boxreach_run boxreach_baseline reach_avx2
pdb_floor=$(floor_of "${best[touch_read]}" "${best[touch_map]}")
cmp -s <(boxreach_run) <(boxreach_baseline) && same_report=yes || same_report=NO

# Each run writes a new file: the previous run's 95 MB are removed untimed,
# since freeing them is no part of writing. Writing over them is timed too.
xyzdump_run() { "$bin/xyzdump" "$work/in.pqr" "$work/out.csv"; }
xyzdump_run_before() { rm -f "$work/out.csv"; }
xyzdump_over_old() { "$bin/xyzdump" "$work/in.pqr" "$work/old.csv"; }
xyzdump_baseline() { "$helpers/baseline_xyzdump" "$work/in.pqr" "$work/baseline.csv"; }
xyzdump_baseline_before() { rm -f "$work/baseline.csv"; }
wc_pqr() { wc -l "$work/in.pqr"; }
touch_pqr_read() { "$helpers/touch" read "$work/in.pqr"; }
touch_pqr_map() { "$helpers/touch" map "$work/in.pqr"; }
"$bin/xyzdump" "$work/in.pqr" "$work/old.csv" || true  # the CSV's size, for W
csv_bytes=$(stat -c %s "$work/old.csv")
write_floor() { "$helpers/write" "$csv_bytes" "$work/floor.csv"; }
write_floor_before() { rm -f "$work/floor.csv"; }
race wc_pqr touch_pqr_read touch_pqr_map write_floor xyzdump_run xyzdump_over_old xyzdump_baseline
pqr_floor=$(floor_of "${best[touch_pqr_read]}" "${best[touch_pqr_map]}")
dump_floor=$(( pqr_floor + best[write_floor] ))
cmp -s "$work/out.csv" "$work/baseline.csv" && same_csv=yes || same_csv=NO
rm -f "$work/out.csv" "$work/old.csv" "$work/baseline.csv" "$work/floor.csv"

echo
echo "boxreach on ${megabytes} MB PDB, best of $rounds:"
echo "  touch read ${best[touch_read]} ms, touch map ${best[touch_map]} ms: F = $pdb_floor ms"
echo "  wc -l      ${best[wc_lines]} ms  ($(ratio "${best[wc_lines]}" "$pdb_floor") x F)"
echo "  boxreach   ${best[boxreach_run]} ms  ($(rate "$megabytes" "${best[boxreach_run]}") GB/s," \
     "$(ratio "${best[boxreach_run]}" "$pdb_floor") x F, $(ratio "${best[boxreach_run]}" "${best[wc_lines]}") x wc -l)"
echo "  the fold through the AVX2 kernel (bench/reach_with avx2)  ${best[reach_avx2]} ms  ($(ratio "${best[reach_avx2]}" "$pdb_floor") x F)"
echo "  baseline   ${best[boxreach_baseline]} ms  ($(ratio "${best[boxreach_baseline]}" "${best[boxreach_run]}") x boxreach)"
echo "  same report as the baseline: $same_report"
echo "xyzdump on ${megabytes} MB PQR ($(( csv_bytes / 1000000 )) MB of CSV), best of $rounds:"
echo "  touch read ${best[touch_pqr_read]} ms, touch map ${best[touch_pqr_map]} ms: F = $pqr_floor ms;" \
     "write ${best[write_floor]} ms = W"
echo "  wc -l      ${best[wc_pqr]} ms"
echo "  xyzdump    ${best[xyzdump_run]} ms  ($(rate "$megabytes" "${best[xyzdump_run]}") GB/s," \
     "$(ratio "${best[xyzdump_run]}" "$dump_floor") x (F + W), $(ratio "${best[xyzdump_run]}" "${best[wc_pqr]}") x wc -l)"
echo "  xyzdump    ${best[xyzdump_over_old]} ms over its last CSV  ($(ratio "${best[xyzdump_over_old]}" "$dump_floor") x (F + W))"
echo "  baseline   ${best[xyzdump_baseline]} ms  ($(ratio "${best[xyzdump_baseline]}" "${best[xyzdump_run]}") x xyzdump)"
echo "  same CSV as the baseline: $same_csv"

# Compressed and mmCIF inputs: the gzip-compressed PDB (level 6) against a
# pipe from zcat and against decompression alone; the mmCIF against wc -l.
gzip -6 -c "$work/in.pdb" >"$work/in.pdb.gz"
"$helpers/make_structure" cif "$megabytes" "$work/in.cif"
cat "$work/in.pdb.gz" "$work/in.cif" >/dev/null
gz_run() { "$bin/boxreach" "$work/in.pdb.gz" 0 0 0; }
gz_zcat() { zcat "$work/in.pdb.gz" | "$bin/boxreach" /dev/stdin 0 0 0; }
gz_inflate() { "$helpers/inflate_only" "$work/in.pdb.gz"; }
race gz_run gz_zcat gz_inflate
cmp -s <(gz_run) <(boxreach_run) && same_gz=yes || same_gz=NO
wc_cif() { wc -l "$work/in.cif"; }
touch_cif_read() { "$helpers/touch" read "$work/in.cif"; }
touch_cif_map() { "$helpers/touch" map "$work/in.cif"; }
cif_run() { "$bin/boxreach" "$work/in.cif" 0 0 0; }
cif_avx2() { "$helpers/reach_with" avx2 "$work/in.cif"; }
race wc_cif touch_cif_read touch_cif_map cif_run cif_avx2
cif_floor=$(floor_of "${best[touch_cif_read]}" "${best[touch_cif_map]}")
echo "boxreach on the same PDB gzip-compressed ($(( $(stat -c %s "$work/in.pdb.gz") / 1000000 )) MB), best of $rounds:"
echo "  boxreach FILE.gz          ${best[gz_run]} ms  ($(ratio "${best[gz_zcat]}" "${best[gz_run]}") x faster than zcat | boxreach," \
     "$(ratio "${best[gz_run]}" "${best[gz_inflate]}") x decompression alone)"
echo "  zcat | boxreach           ${best[gz_zcat]} ms"
echo "  decompression alone       ${best[gz_inflate]} ms"
echo "  same report as the plain file: $same_gz"
echo "boxreach on a ${megabytes} MB mmCIF (archive style), best of $rounds:"
echo "  touch read ${best[touch_cif_read]} ms, touch map ${best[touch_cif_map]} ms: F = $cif_floor ms"
echo "  wc -l      ${best[wc_cif]} ms"
echo "  boxreach   ${best[cif_run]} ms  ($(rate "$megabytes" "${best[cif_run]}") GB/s," \
     "$(ratio "${best[cif_run]}" "$cif_floor") x F, $(ratio "${best[cif_run]}" "${best[wc_cif]}") x wc -l)"
echo "  the fold through the AVX2 kernel (bench/reach_with avx2)  ${best[cif_avx2]} ms  ($(ratio "${best[cif_avx2]}" "$cif_floor") x F)"


rm -f "$work/in.pdb" "$work/in.pqr" "$work/in.pdb.gz" "$work/in.cif"
echo
compressed_block
echo
echo "peak resident memory, 20 MB and 1000 MB inputs:"
for size in 20 1000; do
    "$helpers/make_structure" pdb "$size" "$work/m.pdb"
    "$helpers/make_structure" pqr "$size" "$work/m.pqr"
    "$helpers/make_structure" cif "$size" "$work/m.cif"
    gzip -1 -c "$work/m.pdb" >"$work/m.pdb.gz"
    box_kb[$size]=$(peak_kb "$bin/boxreach" "$work/m.pdb" 0 0 0)
    dump_kb[$size]=$(peak_kb "$bin/xyzdump" "$work/m.pqr" /dev/null)
    gz_kb[$size]=$(peak_kb "$bin/boxreach" "$work/m.pdb.gz" 0 0 0)
    cif_kb[$size]=$(peak_kb "$bin/boxreach" "$work/m.cif" 0 0 0)
    rm -f "$work/m.pdb" "$work/m.pqr" "$work/m.cif" "$work/m.pdb.gz"
done
echo "  boxreach   ${box_kb[20]} KB -> ${box_kb[1000]} KB  (grows $(( box_kb[1000] - box_kb[20] )) KB)"
echo "  xyzdump    ${dump_kb[20]} KB -> ${dump_kb[1000]} KB  (grows $(( dump_kb[1000] - dump_kb[20] )) KB)"
echo "  boxreach on gzip   ${gz_kb[20]} KB -> ${gz_kb[1000]} KB  (grows $(( gz_kb[1000] - gz_kb[20] )) KB)"
echo "  boxreach on mmCIF  ${cif_kb[20]} KB -> ${cif_kb[1000]} KB  (grows $(( cif_kb[1000] - cif_kb[20] )) KB)"
echo
binary_block 2500

echo
bench/many_files.sh "$bin"
