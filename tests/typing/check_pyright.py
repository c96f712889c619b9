"""Passes when pyright, reading the installed stubs, reports an error on
exactly the lines of the typed sample that are marked as errors for mypy."""
import json
import sys

report_path, sample_path = sys.argv[1:]
with open(report_path) as report:
    diagnostics = json.load(report)["generalDiagnostics"]
reported = sorted({d["range"]["start"]["line"] + 1 for d in diagnostics if d["severity"] == "error"})
with open(sample_path) as sample:
    marked = [number for number, line in enumerate(sample, 1) if "type: ignore" in line]
if reported != marked:
    sys.exit(f"pyright reported errors on lines {reported}; the sample marks {marked}")
print(f"pyright: errors exactly on the marked lines {marked}")
