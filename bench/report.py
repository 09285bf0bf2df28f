#!/usr/bin/python3
"""Turns the JSON of the benchmark programs (and the reference lines of
smoothing_reference.py) into one Markdown table: what was measured, the time
per run, and what it is compared with; then the identification figures on
real spectra from identify_eval.py."""
import json
import pathlib
import sys

out_dir = pathlib.Path(sys.argv[1])
references = {}
reference_file = out_dir / "smoothing_reference.txt"
if reference_file.exists():
    for line in reference_file.read_text().splitlines():
        fields = dict(part.split("=") for part in line.split()[1:])
        references[int(fields["level"])] = fields

identify_refs = {}
identify_file = out_dir / "identify_reference.txt"
if identify_file.exists():
    for line in identify_file.read_text().splitlines():
        identify_refs[line.split()[0]] = dict(part.split("=") for part in line.split()[1:])

# What each benchmark is set against; counters fill in the protocol's minimum.
TARGETS = {
    "BM_BuildIndexTenThousandFiles": "target 10 s on both cores",
    "BM_CliIdentifyUpToDateIndex": "target 0.5 s",
    "BM_StartupToShownMainWindow": "target 400 ms",
    "BM_ViewRedrawSpectrum": "target 5 ms",
    "BM_EndOfMeasurementTick": "target 5 ms",
    "BM_ImportFolder/10000": "target 30 s for 10,000 files",
    "BM_MixtureTenThousandEntries": "target 200 ms",
    "BM_BlankLines/0": "CSV; target: a small multiple of the 64 MiB file (peak_growth_MiB counts the file)",
    "BM_BlankLines/1": "JCAMP-DX; target: a small multiple of the 64 MiB file (peak_growth_MiB counts the file)",
}


def time_text(bench):
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[bench.get("time_unit", "ns")]
    ns = bench["real_time"] * scale
    for unit, size in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= size:
            return f"{ns / size:.3g} {unit}"
    return f"{ns:.3g} ns"


def compared(name, bench):
    if name.startswith("BM_SmoothSpectrum/"):
        level = int(name.split("/")[1])
        ref = references.get(level)
        if ref:
            return (f"SciPy savgol_filter, same data: {ref['us_per_spectrum']} µs; "
                    f"largest difference {ref['max_rel_diff']} of the range "
                    f"({ref['legendre_max_rel_diff']} from the same fit in a Legendre basis)")
        return "SciPy not run"
    if name.startswith("BM_ArplsBaseline2500") and not name.startswith("BM_ArplsBaseline2500Eigen"):
        ref = identify_refs.get("baseline")
        if ref:
            return (f"target 0.5 ms; SciPy spsolve, same arPLS and data: {ref['scipy_us_per_spectrum']} µs; "
                    f"largest difference {ref['max_rel_diff']} of the range")
        return "target 0.5 ms; SciPy not run"
    if name.startswith("BM_RankTenThousandEntries"):
        ref = identify_refs.get("ranking")
        if ref:
            return (f"target 20 ms; on identify_dump's matrix: Veltrane {ref['veltrane_ms_per_search']} ms, "
                    f"NumPy {ref['numpy_ms_per_search']} ms; same best five: {ref['same_best_five']}")
        return "target 20 ms; NumPy not run"
    if "protocol_minimum_ms" in bench:
        return (f"simulated {bench['simulated_ms']:.0f} ms against the protocol's "
                f"minimum {bench['protocol_minimum_ms']:.0f} ms")
    for key, text in TARGETS.items():
        if name.startswith(key):
            return text
    return ""


rows = []
for path in sorted(out_dir.glob("*_bench.json")):
    data = json.loads(path.read_text())
    for bench in data["benchmarks"]:
        if bench.get("run_type") == "aggregate":
            continue
        rows.append((path.stem, bench["name"], time_text(bench), compared(bench["name"], bench)))

lines = ["| Program | Benchmark | Time per run | Compared with |", "|---|---|---|---|"]
lines += [f"| {p} | {n} | {t} | {c} |" for p, n, t, c in rows]
report = "\n".join(lines) + "\n"

# Identification on the real development spectra (identify_eval.py), when
# the data were there; then the same with the unknowns' axis a few cm-1 off.
eval_runs = [json.loads(f.read_text()) for f in [out_dir / "identify_eval.json"] +
             sorted(out_dir.glob("identify_eval_axis*.json")) if f.exists()]


def pct(value):
    return "" if value is None else f"{value:.1f} %"


table = ["", "| Set | Queries | Top-1 | Top-5 | Right answers Match | Match to a wrong material "
             "| Not in library: No match / Match | Per identify |",
         "|---|---|---|---|---|---|---|---|"]
for run in eval_runs:
    offset = run.get("axis_offset") or 0
    for set_name, f in run["sets"].items():
        name = set_name + (f", axis off by {offset:g} cm⁻¹" if offset else "")
        other = f.get("other_laser_line")
        top1 = pct(f["top1_pct"]) + (f" (other laser line {pct(other['top1_pct'])})" if other else "")
        outside = (f"{pct(f['not_in_library_no_match_pct'])} / {pct(f['not_in_library_match_pct'])}"
                   if f.get("not_in_library_no_match_pct") is not None else "")
        table.append(f"| {name} | {f['queries']} | {top1} | {pct(f['top5_pct'])} | {pct(f['right_match_pct'])} "
                     f"| {pct(f['wrong_match_pct'])} | {outside} | {f['timing']['identify_mean_ms']:.0f} ms |")
if eval_runs:
    report += "\n".join(table) + "\n"
(out_dir / "report.md").write_text(report)
print(report)
