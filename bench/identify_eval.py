#!/usr/bin/python3
"""How well veltrane-cli identifies real measured Raman spectra.

Usage: bench/identify_eval.py --cli build/release/bin/veltrane-cli
           [--set minerals|nomatch|polymers|all|minerals+nomatch] [--jobs N]
           [--data DIR] [--json FILE] [--verbose] [--assert[=floors]]
           [--calibrate [--limits WRONG,OUTSIDE_NO,OUTSIDE_MATCH]]

Drives the program as a user would: `import` makes the library entries,
`identify` searches each unknown, and the hits and exit status are scored.
The spectra are the development data set (README.md and index.csv of the data
folder; default $VELTRANE_DEV_DATA, else ../shared/data/raman-dev beside the
repository):

- minerals: 273 RRUFF species, one sample each in the library and another
  sample of the same species as the unknown; the 25 species whose unknown was
  taken with another laser line than its library entry (514, 780 or 785 nm
  against 532) are also scored apart;
- nomatch: 40 species that are not in the mineral library;
- polymers: RaMPP, the 11 pristine polymers as the library and the 118
  biofouled particles (freshwater and seawater) as unknowns.

Exit status of identify: 0 Match, 3 Possible match, 2 No match. The report
gives per set top-1 and top-5, the verdicts by whether the right material came
first, and the time per identify call; --json writes the same figures.
--assert exits 1 naming each target missed (--assert=floors: each figure
below the level the method has reached, which the test suite holds it to).
--calibrate chooses the verdict's thresholds from the hits, with a check by
halves (see the README). Exit 77 when the data folder is
missing, so ctest shows the test as skipped. Everything the run writes lies in
a temporary folder that is removed at the end; the data folder is only read.
Standard library only: it has to run on a bare Debian 12 python3."""
import argparse
import concurrent.futures
import csv
import json
import os
import pathlib
import random
import re
import statistics
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parent.parent
SETS = ("minerals", "nomatch", "polymers")
TOP = 5

VERDICTS = {0: "match", 3: "possible", 2: "no_match"}
VERDICT_TITLES = {"match": "Match", "possible": "Possible match", "no_match": "No match"}
ROWS = {"right_first": "right material first", "wrong_first": "wrong material first",
        "not_in_library": "not in library"}

# (what, key in the figures, at least or at most, bound in %).
TARGETS = {
    "minerals": [
        ("top-1", ("top1_pct",), ">=", 90.0),
        ("top-5", ("top5_pct",), ">=", 97.0),
        ("other laser line top-1", ("other_laser_line", "top1_pct"), ">=", 90.0),
        ("Match given to a wrong material", ("wrong_match_pct",), "<=", 1.0),
        ("right answers declared Match", ("right_match_pct",), ">=", 80.0),
    ],
    "nomatch": [
        ("not in library declared No match", ("not_in_library_no_match_pct",), ">=", 94.0),
        ("not in library declared Match", ("not_in_library_match_pct",), "<=", 2.0),
    ],
    "polymers": [
        ("top-1", ("top1_pct",), ">=", 85.0),
    ],
}


# What the method reaches today, a little below: the test suite holds every
# change to it (a change that loses accuracy fails) while the targets above
# are not all met yet.
FLOORS = {
    "minerals": [
        ("top-1", ("top1_pct",), ">=", 88.0),
        ("top-5", ("top5_pct",), ">=", 94.0),
        ("other laser line top-1", ("other_laser_line", "top1_pct"), ">=", 80.0),
        ("Match given to a wrong material", ("wrong_match_pct",), "<=", 1.0),
        ("right answers declared Match", ("right_match_pct",), ">=", 72.0),
    ],
    "nomatch": TARGETS["nomatch"],
    "polymers": [
        ("top-1", ("top1_pct",), ">=", 90.0),
    ],
}


class Failure(Exception):
    """The run cannot give figures worth reading."""


def parse_sets(text):
    chosen = set()
    for part in re.split(r"[+,]", text):
        part = part.strip()
        if part == "all":
            chosen.update(SETS)
        elif part in SETS:
            chosen.add(part)
        else:
            raise argparse.ArgumentTypeError(f"unknown set {part!r}: choose from {', '.join(SETS)} or all")
    return [s for s in SETS if s in chosen]


def default_data():
    return os.environ.get("VELTRANE_DEV_DATA") or str(REPO.parent / "shared" / "data" / "raman-dev")


def pct(part, whole):
    return None if whole == 0 else 100.0 * part / whole


def shown(value):
    return "n/a" if value is None else f"{value:.1f} %"


class Cli:
    def __init__(self, path, home):
        self.path = path
        # The user's own settings and caches must not move the figures, nor
        # may the run leave anything behind in them.
        self.env = dict(os.environ)
        for key, sub in (("XDG_CONFIG_HOME", "config"), ("XDG_CACHE_HOME", "cache"), ("XDG_DATA_HOME", "data")):
            folder = home / sub
            folder.mkdir(parents=True, exist_ok=True)
            self.env[key] = str(folder)

    def run(self, *args):
        return subprocess.run([self.path, *args], capture_output=True, text=True, errors="replace", env=self.env)


class Library:
    def __init__(self, cli, folder, index, axis_offset=0.0):
        self.cli, self.folder, self.index = cli, folder, index
        # Every unknown read as an instrument whose axis is that much off
        # would record it (identify's own correction, turned into an error).
        self.extra = ["--axis-offset", f"{axis_offset:g}"] if axis_offset else []
        self.entries = 0
        self.import_s = None
        self.index_s = None

    def build(self, sources, jobs):
        """sources: (spectrum file, entry name) pairs."""
        self.folder.mkdir(parents=True)
        started = time.perf_counter()
        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
            results = list(pool.map(lambda s: (s, self.cli.run("import", str(s[0]), s[1], "--folder", str(self.folder))),
                                    sources))
        self.import_s = time.perf_counter() - started
        refused = [f"{name} ({path}): exit {r.returncode}: {r.stderr.strip()}"
                   for (path, name), r in results if r.returncode != 0]
        if refused:
            raise Failure("import refused:\n  " + "\n  ".join(refused))
        self.entries = len(sources)

    def identify(self, query):
        started = time.perf_counter()
        r = self.cli.run("identify", str(query["file"]), "--library", str(self.folder), "--index", str(self.index),
                         "--top", str(TOP), "--json", *self.extra)
        query["ms"] = 1000.0 * (time.perf_counter() - started)
        query["hits"] = []
        verdict = VERDICTS.get(r.returncode)
        if verdict is None:
            query["error"] = f"exit {r.returncode}: {r.stderr.strip()[-300:]}"
            return query
        try:
            hits = json.loads(r.stdout)["hits"]
            # The band offset is null when no band agreed: never close enough.
            query["hits"] = [(h["name"], float(h["hqi"]),
                              float("inf") if h["band_offset"] is None else float(h["band_offset"]),
                              int(h.get("shared_bands") or 0)) for h in hits]
        except (ValueError, KeyError, TypeError):
            query["error"] = f"unreadable output {r.stdout[:300]!r}"
            return query
        query["verdict"] = verdict
        return query

    def search(self, queries, jobs):
        """The first call alone, as it builds the index the others then read."""
        if not queries:
            return
        if self.index_s is None:
            self.identify(queries[0])
            self.index_s = queries[0]["ms"] / 1000.0
            queries[0]["builds_index"] = True
            rest = queries[1:]
        else:
            rest = queries
        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
            list(pool.map(self.identify, rest))


# ---- the data -----------------------------------------------------------------------

def read_index(data):
    with open(data / "index.csv", newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def mineral_sets(data, rows):
    library = {r["material"]: r for r in rows if r["set"] == "rruff" and r["role"] == "library"}
    queries = []
    for r in rows:
        if r["set"] == "rruff" and r["role"] == "query_other_sample":
            entry = library.get(r["material"])
            if entry is None:
                raise Failure(f"{r['file']}: no library row for {r['material']}")
            # 780 and 785 nm are labels of the same near-infrared line; a
            # line more than 10 nm away (514, or near-infrared against 532)
            # is another laser.
            other = abs(float(r["laser_nm"]) - float(entry["laser_nm"])) > 10.0
            queries.append({"file": data / r["file"], "label": r["file"], "expected": r["material"],
                            "other_laser": other})
    nomatch = [{"file": data / r["file"], "label": r["file"], "expected": None}
               for r in rows if r["role"] == "nomatch_query"]
    for q in queries + nomatch:
        if not q["file"].is_file():
            raise Failure(f"{q['file']}: listed in index.csv but missing")
    return [(data / r["file"], name) for name, r in sorted(library.items())], queries, nomatch


def read_rampp(path):
    """The spectra of a RaMPP file by column name (spaces trimmed)."""
    with open(path, newline="", encoding="ascii") as f:
        table = list(csv.reader(f, delimiter=";"))
    header = [name.strip() for name in table[0]]
    if "WN" not in header:
        raise Failure(f"{path}: no WN column")
    x_col = header.index("WN")
    columns = {}
    for col, name in enumerate(header):
        # The seawater file ends every line with ';': an unnamed empty column.
        if col == x_col or not name:
            continue
        columns[name] = [(row[x_col], row[col]) for row in table[1:] if len(row) > col and row[col].strip()]
    return columns


def write_two_column(path, points):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("raman_shift_cm-1,intensity\n")
        for x, y in points:
            f.write(f"{float(x)!r},{float(y)!r}\n")


def polymer_sets(data, work):
    folder = data / "polymers" / "rampp"
    spectra = work / "polymer-spectra"
    spectra.mkdir()
    library = []
    for name, points in read_rampp(folder / "References.CSV").items():
        path = spectra / f"reference_{name}.csv"
        write_two_column(path, points)
        library.append((path, name))
    queries = []
    for tag in ("FW", "SW"):
        for name, points in read_rampp(folder / f"Microplasbial MP variants {tag}.CSV").items():
            match = re.fullmatch(r"(\S+) V\d+", name)
            if not match:
                raise Failure(f"{tag} column {name!r} is not '<polymer> V<n>'")
            path = spectra / f"{tag}_{name.replace(' ', '_')}.csv"
            write_two_column(path, points)
            queries.append({"file": path, "label": f"{tag} {name}", "expected": match.group(1)})
    return library, queries


# ---- the figures ----------------------------------------------------------------------

def score(queries):
    n = len(queries)
    table = {row: {v: 0 for v in VERDICT_TITLES} for row in ROWS}
    top1 = top5 = errors = 0
    for q in queries:
        if "error" in q:
            errors += 1
            continue
        names = [name for name, *_ in q["hits"]]
        if q["expected"] is None:
            row = "not_in_library"
        elif names[:1] == [q["expected"]]:
            row = "right_first"
        else:
            row = "wrong_first"
        table[row][q["verdict"]] += 1
        top1 += row == "right_first"
        top5 += q["expected"] is not None and q["expected"] in names[:TOP]
    in_library = sum(q["expected"] is not None for q in queries)
    right = sum(table["right_first"].values())
    outside = sum(table["not_in_library"].values())
    return {
        "queries": n,
        "errors": errors,
        "top1": top1 if in_library else None,
        "top1_pct": pct(top1, in_library),
        "top5": top5 if in_library else None,
        "top5_pct": pct(top5, in_library),
        "verdicts": {row: {v: {"count": c, "pct": pct(c, n)} for v, c in cells.items()} for row, cells in table.items()},
        # Every Match that names the wrong material, whether or not the
        # right one was in the library.
        "wrong_match_pct": pct(table["wrong_first"]["match"] + table["not_in_library"]["match"], n),
        "right_match_pct": pct(table["right_first"]["match"], right),
        "not_in_library_no_match_pct": pct(table["not_in_library"]["no_match"], outside),
        "not_in_library_match_pct": pct(table["not_in_library"]["match"], outside),
    }


def timing(queries, library, jobs):
    # The call that built the index is timed as the index, not as a search.
    ms = [q["ms"] for q in queries if "ms" in q and not q.get("builds_index")]
    return {
        "library_entries": library.entries,
        "import_s": library.import_s,
        "index_s": library.index_s,
        "jobs": jobs,
        "identify_mean_ms": statistics.mean(ms) if ms else None,
        "identify_median_ms": statistics.median(ms) if ms else None,
    }


def mistakes(queries):
    wrong = []
    for q in queries:
        got, hqi = q["hits"][0][:2] if q.get("hits") else (None, None)
        if "error" in q:
            wrong.append({"query": q["label"], "expected": q["expected"], "error": q["error"]})
        elif (q["expected"] is None and q["verdict"] != "no_match") or (
                q["expected"] is not None and got != q["expected"]):
            wrong.append({"query": q["label"], "expected": q["expected"], "got": got, "hqi": hqi,
                          "verdict": VERDICT_TITLES[q["verdict"]]})
    return wrong


def value_at(figures, key):
    for part in key:
        figures = figures.get(part) if isinstance(figures, dict) else None
    return figures


def missed_targets(name, figures, bounds=TARGETS):
    missed = []
    for what, key, sense, bound in bounds[name]:
        value = value_at(figures, key)
        ok = value is not None and (value >= bound if sense == ">=" else value <= bound)
        if not ok:
            missed.append(f"{name}: {what} {shown(value)}, target {sense} {bound:g} %")
    return missed


def print_set(name, figures, verbose):
    t = figures["timing"]
    print(f"== {name}: {figures['queries']} queries, library of {t['library_entries']} entries")
    print(f"   library built in {t['import_s']:.1f} s, index (first identify) {t['index_s']:.2f} s; "
          f"identify mean {t['identify_mean_ms']:.0f} ms, median {t['identify_median_ms']:.0f} ms "
          f"({t['jobs']} in parallel)")
    if figures["errors"]:
        print(f"   {figures['errors']} identify calls FAILED")
    if figures["top1"] is not None:
        print(f"   top-1 {shown(figures['top1_pct'])} ({figures['top1']}), "
              f"top-{TOP} {shown(figures['top5_pct'])} ({figures['top5']})")
    if "other_laser_line" in figures:
        o = figures["other_laser_line"]
        print(f"   other laser line: {o['queries']} queries, top-1 {shown(o['top1_pct'])} ({o['top1']}), "
              f"top-{TOP} {shown(o['top5_pct'])} ({o['top5']}), "
              f"right answers declared Match {shown(o['right_match_pct'])}")
    print(f"   {'':22}" + "".join(f"{title:>18}" for title in VERDICT_TITLES.values()))
    for row, title in ROWS.items():
        cells = figures["verdicts"][row]
        if sum(c["count"] for c in cells.values()) == 0:
            continue
        print(f"   {title:22}" + "".join(f"{c['count']:>9} {shown(c['pct']):>8}" for c in cells.values()))
    print(f"   Match given to a wrong material: {shown(figures['wrong_match_pct'])} of queries")
    if figures["right_match_pct"] is not None:
        print(f"   right answers declared Match: {shown(figures['right_match_pct'])}")
    if figures["not_in_library_match_pct"] is not None:
        print(f"   not in library: No match {shown(figures['not_in_library_no_match_pct'])}, "
              f"Match {shown(figures['not_in_library_match_pct'])}")
    if verbose:
        for m in figures["mistakes"]:
            if "error" in m:
                print(f"   error  {m['query']}: {m['error']}")
            else:
                print(f"   wrong  {m['query']}: expected {m['expected'] or 'no match'}, got {m['got']} "
                      f"HQI {m['hqi']} ({m['verdict']})")


def evaluate(args, data, work):
    cli = Cli(args.cli, work / "home")
    rows = read_index(data)
    results = {}
    all_searched = {}
    started = time.perf_counter()
    if "minerals" in args.set or "nomatch" in args.set:
        sources, queries, nomatch = mineral_sets(data, rows)
        library = Library(cli, work / "minerals", work / "minerals-index.sqlite", args.axis_offset)
        library.build(sources, args.jobs)
        searched = {"minerals": queries, "nomatch": nomatch}
        all_searched.update({k: v for k, v in searched.items() if k in args.set})
        library.search([q for s in ("minerals", "nomatch") if s in args.set for q in searched[s]], args.jobs)
        for s in ("minerals", "nomatch"):
            if s in args.set:
                results[s] = dict(score(searched[s]), timing=timing(searched[s], library, args.jobs),
                                  mistakes=mistakes(searched[s]))
        if "minerals" in args.set:
            results["minerals"]["other_laser_line"] = score([q for q in queries if q["other_laser"]])
    if "polymers" in args.set:
        sources, queries = polymer_sets(data, work)
        library = Library(cli, work / "polymers", work / "polymers-index.sqlite", args.axis_offset)
        library.build(sources, args.jobs)
        library.search(queries, args.jobs)
        all_searched["polymers"] = queries
        results["polymers"] = dict(score(queries), timing=timing(queries, library, args.jobs),
                                   mistakes=mistakes(queries))
    if args.calibrate:
        calibrate(all_searched)
    return results, time.perf_counter() - started


# ---- choosing the verdict's thresholds -------------------------------------------------

def best_and_margin(q):
    """The best HQI and its lead over the first hit of another name."""
    hits = q.get("hits") or []
    if not hits:
        return 0.0, 0.0
    name, best = hits[0][:2]
    folded = name.strip().lower()
    for other, hqi, *_ in hits[1:]:
        if other.strip().lower() != folded:
            return best, best - hqi
    return best, best


def verdict_of(best, margin, offset, shared, rule):
    match_hqi, match_margin, match_offset, possible_hqi = rule[:4]
    many_bands, many_hqi, many_offset = rule[4:] if len(rule) > 4 else (float("inf"),) * 3
    if margin >= match_margin and ((best >= match_hqi and offset <= match_offset)
                                   or (shared >= many_bands and best >= many_hqi and offset <= many_offset)):
        return "match"
    if best >= possible_hqi:
        return "possible"
    return "no_match"


def rule_figures(items, rule):
    """items: (best, margin, offset, shared bands, kind, species) with kind
    right, wrong or outside."""
    count = {"right": 0, "wrong": 0, "outside": 0}
    right_match = right_kept = wrong_match = outside_match = outside_no = 0
    for best, margin, offset, shared, kind, _ in items:
        v = verdict_of(best, margin, offset, shared, rule)
        count[kind] += 1
        right_match += kind == "right" and v == "match"
        right_kept += kind == "right" and v != "no_match"
        wrong_match += kind != "right" and v == "match"
        outside_match += kind == "outside" and v == "match"
        outside_no += kind == "outside" and v == "no_match"
    n = len(items)
    return {"wrong_match": wrong_match / n if n else 0.0,
            "right_match": right_match / count["right"] if count["right"] else 0.0,
            "right_kept": right_kept / count["right"] if count["right"] else 0.0,
            "outside_no_match": outside_no / count["outside"] if count["outside"] else 1.0,
            "outside_match": outside_match / count["outside"] if count["outside"] else 0.0}


# A lead below 4 is never a Match: two names that close are not told apart
# by the spectrum, whatever the bands say.
RULES = [(t1, m1, e1, t2) for t1 in range(50, 100, 2) for m1 in range(4, 32, 2)
         for e1 in (2.0, 2.5, 3.0, 3.5, 4.0, float("inf")) for t2 in range(40, t1 + 1, 5)]


# The second way to a Match: many bands of the spectrum and the entry pair up
# one to one, in place, at a lower score (bands, HQI, band offset). Empty: none.
MANY_BANDS_RULES = [(n, t, e) for n in range(10, 16) for t in range(40, 72, 2) for e in (1.0, 1.5, 2.0, 2.5, 3.0)]


LIMITS = {"wrong_match": 0.01, "outside_no_match": 0.94, "outside_match": 0.02}


def species_halves(species, splits, seed):
    """One half of `species` (a set), `splits` times, each a new shuffle from
    the seed; the other half is the rest. Choosing on a half and scoring on
    the other keeps two samples of one material from lying on both sides."""
    rng = random.Random(seed)
    for _ in range(splits):
        shuffled = list(species)
        rng.shuffle(shuffled)
        yield set(shuffled[: len(shuffled) // 2])


def choose_rule(items):
    """The rule that declares the most right answers Match while keeping a
    wrong Match to 1 query in 100 and leaving 94 in 100 of the materials
    outside the library No match (at most 2 in 100 Match); of those, the one
    that leaves the fewest right answers No match (the rest become Possible
    match), then the one with the fewest wrong Matches. Then, on top of it,
    the rule for many shared bands that adds the most right Matches within
    the same limits (none when none adds one)."""
    def pick(rules, best):
        for rule in rules:
            f = rule_figures(items, rule)
            if (f["wrong_match"] > LIMITS["wrong_match"] or f["outside_no_match"] < LIMITS["outside_no_match"]
                    or f["outside_match"] > LIMITS["outside_match"]):
                continue
            # Of rules for many bands that do as well, the strictest (most
            # bands, highest HQI, smallest offset) leaves the widest margin.
            key = (round(f["right_match"], 6), round(f["right_kept"], 6), -f["wrong_match"], f["outside_no_match"],
                   tuple(-x for x in rule[:4]), tuple(rule[4:6]) + tuple(-x for x in rule[6:]))
            if best is None or key > best[0]:
                best = (key, rule, f)
        return best

    best = pick(RULES, None)
    if best is not None and MANY_BANDS_RULES:
        best = pick([best[1] + extra for extra in MANY_BANDS_RULES], best)
    return best


def calibrate(searched):
    """Thresholds from every query of the sets run, with a check by halves:
    rules chosen on a random half of the species are scored on the other
    half, so that two samples of one species never sit on both sides."""
    items = []
    for name, queries in searched.items():
        for q in queries:
            if "error" in q or not q.get("hits"):
                continue
            best, margin = best_and_margin(q)
            kind = ("outside" if q["expected"] is None else
                    "right" if q["hits"][0][0] == q["expected"] else "wrong")
            species = f"{name}:{q['expected'] if q['expected'] is not None else q['label']}"
            items.append((best, margin, q["hits"][0][2], q["hits"][0][3], kind, species))
    chosen = choose_rule(items)
    if chosen is None:
        print("calibrate: no rule meets the limits on these queries")
        return
    _, rule, f = chosen
    print(f"calibrate: {len(items)} queries; Match at HQI >= {rule[0]} leading another name by >= {rule[1]} "
          f"with its bands at most {rule[2]} cm-1 off"
          + (f" (or at HQI >= {rule[5]} with {rule[4]} bands shared and at most {rule[6]} cm-1 off)" if len(rule) > 4 else "")
          + f", Possible match at HQI >= {rule[3]}")
    print(f"   on all: right answers Match {100 * f['right_match']:.1f} % (Match or Possible "
          f"{100 * f['right_kept']:.1f} %), wrong Match {100 * f['wrong_match']:.1f} % "
          f"of queries, outside No match {100 * f['outside_no_match']:.1f} %, Match {100 * f['outside_match']:.1f} %")
    species = sorted({item[5] for item in items})
    held = []
    for half in species_halves(species, 5, 1):
        halves = ([i for i in items if i[5] in half], [i for i in items if i[5] not in half])
        for train, test in (halves, halves[::-1]):
            c = choose_rule(train)
            if c is not None:
                held.append(rule_figures(test, c[1]))
    if held:
        mean = {k: statistics.mean(h[k] for h in held) for k in held[0]}
        print(f"   chosen on one half of the species, scored on the other ({len(held)} splits): right answers Match "
              f"{100 * mean['right_match']:.1f} % (Match or Possible {100 * mean['right_kept']:.1f} %), wrong Match {100 * mean['wrong_match']:.1f} %, outside No match "
              f"{100 * mean['outside_no_match']:.1f} %, Match {100 * mean['outside_match']:.1f} %")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", required=True, help="the veltrane-cli program")
    parser.add_argument("--set", type=parse_sets, default=list(SETS),
                        help="minerals, nomatch, polymers or all; several joined by + or , (default all)")
    parser.add_argument("--data", default=default_data(), help="the development data folder")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="identify calls run at once")
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--verbose", action="store_true", help="list every wrong first hit")
    parser.add_argument("--assert", dest="check", nargs="?", const="targets", choices=("targets", "floors"),
                        help="exit 1 when a target (or, with =floors, the level reached so far) is missed")
    parser.add_argument("--calibrate", action="store_true",
                        help="choose the verdict's thresholds from the hits of the sets run")
    parser.add_argument("--axis-offset", type=float, default=0.0, metavar="CM",
                        help="move every unknown's Raman shifts by CM, as an instrument whose axis is that much "
                             "off would record them (the library stays as it is)")
    parser.add_argument("--limits", metavar="WRONG,OUTSIDE_NO,OUTSIDE_MATCH",
                        help="limits the calibration keeps to, as fractions (default 0.01,0.94,0.02)")
    args = parser.parse_args()
    if args.limits:
        try:
            LIMITS.update(zip(("wrong_match", "outside_no_match", "outside_match"),
                              (float(v) for v in args.limits.split(",", 2))))
        except ValueError:
            parser.error("--limits takes three fractions separated by commas")
    if args.jobs < 1:
        parser.error("--jobs is at least 1")
    if not (os.path.isfile(args.cli) and os.access(args.cli, os.X_OK)):
        parser.error(f"{args.cli}: not an executable program")

    data = pathlib.Path(args.data)
    if not data.is_dir():
        print(f"identify_eval: no development data at {data} (give --data or VELTRANE_DEV_DATA); skipped")
        return 77

    with tempfile.TemporaryDirectory(prefix="veltrane-identify-eval-") as tmp:
        try:
            results, wall_s = evaluate(args, data, pathlib.Path(tmp))
        except Failure as e:
            print(f"identify_eval: {e}", file=sys.stderr)
            return 1

    print(f"identify_eval: {args.cli} on {data}, sets {'+'.join(args.set)}, {args.jobs} jobs, "
          f"{wall_s:.1f} s in all" + (f", unknowns' axis off by {args.axis_offset:g} cm-1" if args.axis_offset else ""))
    for name, figures in results.items():
        print_set(name, figures, args.verbose)

    failed = [f"{name}: {figures['errors']} identify calls failed" for name, figures in results.items()
              if figures["errors"]]
    bounds = FLOORS if args.check == "floors" else TARGETS
    missed = ([m for name, figures in results.items() for m in missed_targets(name, figures, bounds)]
              if args.check else [])
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"cli": args.cli, "data": str(data), "jobs": args.jobs, "wall_s": wall_s,
                       "axis_offset": args.axis_offset, "sets": results,
                       "failed": failed, "missed_targets": missed}, f, indent=1)
            f.write("\n")
    for line in failed + missed:
        print(f"FAILED {line}")
    return 1 if failed or missed else 0


if __name__ == "__main__":
    sys.exit(main())
