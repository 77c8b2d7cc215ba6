"""Checks an installed record_scan: imported from where it should be, it
reads the samples as the tools do.

    python3 installed_module_check.py FOLDER BIN_DIR EXAMPLES_DIR

FOLDER: the package folder the import must come from; BIN_DIR: where
boxreach and xyzdump are.
"""

import os
import subprocess
import sys
import tempfile

import record_scan

folder, bin_dir, examples = sys.argv[1:4]
fails = []
found = os.path.dirname(os.path.realpath(record_scan.__file__))
if found != os.path.realpath(folder):
    sys.exit("record_scan imported from %s, want %s" % (found, folder))

centre = ("4", "1.5", "-2")
with tempfile.TemporaryDirectory() as scratch:
    for sample in sorted(os.listdir(examples)):
        path = os.path.join(examples, sample)
        if not os.path.isfile(path):
            continue
        rows_csv = os.path.join(scratch, "rows.csv")
        subprocess.run([os.path.join(bin_dir, "xyzdump"), path, rows_csv], check=False)
        with open(rows_csv, encoding="ascii") as rows:
            want_rows = rows.read()
        got_rows = "".join("%f,%f,%f\n" % tuple(row) for row in record_scan.coordinates(path))
        if got_rows != want_rows:
            fails.append("%s: coordinates differ from xyzdump's rows" % sample)
        report = subprocess.run([os.path.join(bin_dir, "boxreach"), path, *centre],
                                capture_output=True, text=True, check=False).stdout
        radius = record_scan.reach(path, [float(c) for c in centre])
        got_report = "Radius X Y Z = %10.3f %10.3f %10.3f\n" % tuple(radius)
        if not report.startswith(got_report):
            fails.append("%s: reach %s, boxreach: %s" % (sample, got_report.strip(), report.strip()))
if fails:
    sys.exit("\n".join(fails))
print("record_scan from %s: samples read as the tools read them" % found)
