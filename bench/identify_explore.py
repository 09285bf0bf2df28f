#!/usr/bin/python3
"""A quick bench for trying identification ideas on the development spectra
in NumPy, in seconds rather than a rebuild and a full evaluation.

Usage: bench/identify_explore.py --cli build/release/bin/veltrane-cli [--data DIR]
           [--cache FILE] [--limits WRONG,OUTSIDE_NO,OUTSIDE_MATCH]

Every spectrum is prepared by the program itself: the library entries are made
with `veltrane-cli import` and every entry and unknown is written out by
`veltrane-cli baseline`, so the prepared forms are the program's (to the
printed precision; scaled and rounded as the index stores them). The
correlation, band agreement, HQI, band offset and shared bands are then
recomputed for every pair, and the script prints

- the figures identify_eval.py reports (top-1, top-5, other laser line,
  polymers, verdicts by row), which must equal the program's: if they do not,
  the re-implementation has drifted and nothing else it says can be trusted;
- the verdict rule chosen on one half of the species and scored on the other,
  five times two halves: with the band offset and the second way to a Match
  for many shared bands, with the band offset alone, and without either.

The prepared spectra are kept in --cache (default: a file in the temporary
folder), so a second run starts at once. To try another score, change `hqi`
or add a term beside `correlations` and compare the figures. Needs NumPy."""
import argparse
import concurrent.futures
import itertools
import os
import pathlib
import pickle
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import identify_eval as ev  # noqa: E402

LOW = 100          # the lowest shift compared
OFFSET = 100       # grid index of shift 0 (RaMPP starts below 0)
GRID = 3900        # grid points, beyond the longest spectrum
PROMINENCE = 0.02  # these four as in src/identify/hqi.h
TOLERANCE = 6
BAND_WEIGHT = 0.2
SIGMA = 1.5


def prepare(cli, data, cache):
    """{set: [(name or None, start, prepared values, other laser line)]}"""
    if cache.exists():
        return pickle.loads(cache.read_bytes())
    work = pathlib.Path(tempfile.mkdtemp(prefix="veltrane-explore-"))
    env = dict(os.environ, XDG_CONFIG_HOME=str(work), XDG_CACHE_HOME=str(work), XDG_DATA_HOME=str(work))

    def run(*args):
        r = subprocess.run([cli, *args], capture_output=True, text=True, env=env)
        if r.returncode != 0:
            raise SystemExit(f"{' '.join(args)}: exit {r.returncode}: {r.stderr.strip()}")
        return r.stdout

    def entry(path, name, folder):
        folder.mkdir(exist_ok=True)
        run("import", str(path), name, "--folder", str(folder))
        return folder / f"{name}.rlb"

    def prepared(path):
        rows = [line.split(",") for line in run("baseline", str(path)).splitlines()[1:]]
        x = int(float(rows[0][0]))
        c = np.array([float(r[1]) for r in rows])
        return x, (np.round(np.clip(c / np.abs(c).max(), -1, 1) * 32767) / 32767).astype(np.float32)

    rows = ev.read_index(data)
    library, queries, nomatch = ev.mineral_sets(data, rows)
    jobs = [("min_lib", name, entry(path, name, work / "minerals"), False) for path, name in library]
    jobs += [("min_q", q["expected"], q["file"], q["other_laser"]) for q in queries]
    jobs += [("nomatch", None, q["file"], False) for q in nomatch]
    poly_library, poly_queries = ev.polymer_sets(data, work)
    jobs += [("poly_lib", name, entry(path, name, work / "polymers"), False) for path, name in poly_library]
    jobs += [("poly_q", q["expected"], q["file"], False) for q in poly_queries]
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 1) as pool:
        forms = list(pool.map(lambda j: prepared(j[2]), jobs))
    sets = {}
    for (kind, name, _, other), (start, values) in zip(jobs, forms):
        sets.setdefault(kind, []).append((name, start, values, other))
    cache.write_bytes(pickle.dumps(sets))
    return sets


def comparison(values):
    return np.sqrt(np.maximum(values.astype(np.float64), 0.0))


def bands(start, c):
    """Positions and weights as FindBands finds them."""
    k = np.arange(-6, 7)
    kernel = np.exp(-0.5 * (k / SIGMA) ** 2)
    n = len(c)
    s = np.convolve(c * c, kernel, "same") / np.convolve(np.ones(n), kernel, "same")
    top = s.max()
    positions, weights = [], []
    i = 1
    while i + 1 < n:
        if not s[i] > s[i - 1]:
            i += 1
            continue
        j = i
        while j + 1 < n and s[j + 1] == s[i]:
            j += 1
        if j + 1 < n and s[j + 1] < s[i]:
            peak, h = (i + j) // 2, s[(i + j) // 2]
            higher = np.nonzero(s[:i] > h)[0]
            left = s[(higher[-1] + 1 if len(higher) else 0):i + 1].min()
            higher = np.nonzero(s[j + 1:] > h)[0]
            right = s[j:(j + higher[0] if len(higher) else n - 1) + 1].min()
            if h - max(left, right) >= PROMINENCE * top:
                positions.append(start + peak)
                weights.append(np.sqrt(h / top))
        i = j + 1
    return np.array(positions, int), np.array(weights)


def correlations(unknowns, entries, transform=comparison):
    """r of every unknown against every entry over their common range."""
    def grid(items):
        m = np.zeros((len(items), GRID))
        for k, (_, start, values, _) in enumerate(items):
            m[k, start + OFFSET:start + OFFSET + len(values)] = transform(values)
        return m, np.array([i[1] for i in items]), np.array([i[1] + len(i[2]) for i in items])

    def cumulative(a):
        return np.concatenate([np.zeros(a.shape[:-1] + (1,)), np.cumsum(a, -1)], -1)

    U, us, ue = grid(unknowns)
    L, ls, le = grid(entries)
    cl, cll, rows = cumulative(L), cumulative(L * L), np.arange(len(entries))
    r = np.zeros((len(unknowns), len(entries)))
    for q in range(len(unknowns)):
        first = np.maximum(np.maximum(us[q], ls), LOW) + OFFSET
        end = np.minimum(ue[q], le) + OFFSET
        cu, cuu, cul = cumulative(U[q]), cumulative(U[q] ** 2), cumulative(L * U[q])
        n = end - first
        su, suu = cu[end] - cu[first], cuu[end] - cuu[first]
        sl, sll = cl[rows, end] - cl[rows, first], cll[rows, end] - cll[rows, first]
        cov = cul[rows, end] - cul[rows, first] - su * sl / n
        r[q] = cov / np.sqrt(np.maximum((suu - su * su / n) * (sll - sl * sl / n), 1e-300))
    return r


def band_terms(unknowns, entries):
    """Band agreement, band offset and shared bands of every pair."""
    ub = [bands(i[1], comparison(i[2])) for i in unknowns]
    lb = [bands(i[1], comparison(i[2])) for i in entries]
    agreement = np.zeros((len(unknowns), len(entries)))
    offset = np.full((len(unknowns), len(entries)), np.inf)
    shared = np.zeros((len(unknowns), len(entries)), int)
    for q, l in itertools.product(range(len(unknowns)), range(len(entries))):
        first = max(unknowns[q][1], entries[l][1], LOW)
        last = min(unknowns[q][1] + len(unknowns[q][2]), entries[l][1] + len(entries[l][2])) - 1
        (pa, wa), (pb, wb) = ub[q], lb[l]
        ia, ib = (pa >= first) & (pa <= last), (pb >= first) & (pb <= last)
        pa, wa, pb, wb = pa[ia], wa[ia], pb[ib], wb[ib]
        if not len(pa) or not len(pb):
            continue
        d = np.abs(pa[:, None] - pb[None, :])
        da, db = d.min(1), d.min(0)
        ma, mb = da <= TOLERANCE, db <= TOLERANCE
        agreement[q, l] = 0.5 * (wa[ma].sum() / wa.sum() + wb[mb].sum() / wb.sum())
        if ma.any() or mb.any():
            offset[q, l] = ((wa * da)[ma].sum() + (wb * db)[mb].sum()) / (wa[ma].sum() + wb[mb].sum())
        # bands that are each other's nearest (the lower of two as near), within the tolerance
        na, nb = d.argmin(1), d.argmin(0)
        shared[q, l] = int(np.sum((nb[na] == np.arange(len(pa))) & ma))
    return agreement, offset, shared


def hqi(r, agreement):
    c = (r + BAND_WEIGHT * agreement) / (1 + BAND_WEIGHT)
    return np.where(r > 0, 100 * np.minimum(c * c, 1), 0.0)


def outcomes(scores, offsets, shared, unknowns, entries, tag):
    """Per unknown: its set, species, kind (right, wrong, outside), rank of
    the right name, best HQI, lead over another name, band offset of the best."""
    names = np.array([e[0] for e in entries])
    out = []
    for q, (expected, _, _, other) in enumerate(unknowns):
        order = np.argsort(-scores[q], kind="stable")
        ranked = names[order]
        best = scores[q, order[0]]
        lead = next((best - scores[q, k] for k in order[1:] if names[k] != ranked[0]), best)
        rank = int(np.nonzero(ranked == expected)[0][0]) if expected is not None else None
        kind = "outside" if expected is None else "right" if rank == 0 else "wrong"
        out.append(dict(set=tag, species=f"{tag}:{expected if expected else q}", kind=kind, rank=rank,
                        other=other, best=best, lead=lead, offset=offsets[q, order[0]],
                        shared=shared[q, order[0]]))
    return out


def verdict(o, rule):
    return ev.verdict_of(o["best"], o["lead"], o["offset"], o["shared"], rule)


def rule_items(items):
    return [(o["best"], o["lead"], o["offset"], o["shared"], o["kind"], o["species"]) for o in items]


def held_out_verdicts(items, splits=5, seed=7):
    """The verdict rule (of ev.RULES and ev.MANY_BANDS_RULES) chosen on one
    half of the species and scored on the other, `splits` times two halves:
    per half, the right minerals Matched, the wrong Matches among the mineral
    queries, and the outside materials' No match and Match."""
    species = sorted({o["species"] for o in items})
    held = []
    for half in ev.species_halves(species, splits, seed):
        for train in (True, False):
            fit = [o for o in items if (o["species"] in half) == train]
            test = [o for o in items if (o["species"] in half) != train]
            c = ev.choose_rule(rule_items(fit))
            if c is None:
                continue
            minerals_right = [o for o in test if o["set"] == "m" and o["kind"] == "right"]
            minerals_all = [o for o in test if o["set"] == "m"]
            outside = [o for o in test if o["kind"] == "outside"]
            held.append((np.mean([verdict(o, c[1]) == "match" for o in minerals_right]),
                         np.mean([verdict(o, c[1]) == "match" and o["kind"] != "right" for o in minerals_all]),
                         np.mean([verdict(o, c[1]) == "no_match" for o in outside]),
                         np.mean([verdict(o, c[1]) == "match" for o in outside])))
    return held


def harness_parser(doc):
    """The options of every script on this harness: the program, the data and
    the cache of prepared spectra."""
    parser = argparse.ArgumentParser(description=doc.split("\n\n")[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--data", default=ev.default_data())
    parser.add_argument("--cache", default=str(pathlib.Path(tempfile.gettempdir()) / "veltrane-explore.pickle"))
    return parser


def main():
    parser = harness_parser(__doc__)
    parser.add_argument("--limits", default="0.003,0.975,0")
    args = parser.parse_args()
    sets = prepare(args.cli, pathlib.Path(args.data), pathlib.Path(args.cache))
    minerals = sets["min_q"] + sets["nomatch"]
    items = []
    for unknowns, entries, tag in ((minerals, sets["min_lib"], "m"), (sets["poly_q"], sets["poly_lib"], "p")):
        r = correlations(unknowns, entries)
        agreement, offset, shared = band_terms(unknowns, entries)
        items += outcomes(hqi(r, agreement), offset, shared, unknowns, entries, tag)

    for tag, title in (("m", "minerals"), ("p", "polymers")):
        ranks = [o["rank"] for o in items if o["set"] == tag and o["rank"] is not None]
        line = f"{title}: top-1 {100 * np.mean([r == 0 for r in ranks]):.1f} %, top-5 {100 * np.mean([r < 5 for r in ranks]):.1f} %"
        if tag == "m":
            line += f", other laser line top-1 {100 * np.mean([o['rank'] == 0 for o in items if o['other']]):.1f} %"
        print(line)
    ev.LIMITS.update(zip(("wrong_match", "outside_no_match", "outside_match"), map(float, args.limits.split(","))))
    rule = ev.choose_rule(rule_items(items))
    if rule:
        # At the limits the program's thresholds were chosen with, these rows
        # are the program's verdicts.
        print(f"verdict chosen on all (HQI, lead, band offset, HQI of a Possible match"
              f"[, shared bands, HQI and band offset of the second way]): {rule[1]}")
        for tag in ("m", "p"):
            for kind in ("right", "wrong", "outside"):
                chosen = [verdict(o, rule[1]) for o in items if o["set"] == tag and o["kind"] == kind]
                if chosen:
                    print(f"   {tag} {kind:8}" + "".join(f"{v} {chosen.count(v):4}  " for v in ("match", "possible", "no_match")))

    everything, many = ev.RULES, ev.MANY_BANDS_RULES
    for title, rules, second in (("with the band offset and shared bands", everything, many),
                                 ("with the band offset", everything, []),
                                 ("without it", [r for r in everything if r[2] == float("inf")], [])):
        ev.RULES, ev.MANY_BANDS_RULES = rules, second
        held = held_out_verdicts(items)
        print(f"held out, {title}: right minerals Matched {100 * np.mean([h[0] for h in held]):.1f} %, "
              f"wrong Match {100 * np.mean([h[1] for h in held]):.1f} % of the mineral and outside queries, "
              f"outside No match {100 * np.mean([h[2] for h in held]):.1f} %, Match {100 * np.mean([h[3] for h in held]):.1f} %")
    ev.RULES, ev.MANY_BANDS_RULES = everything, many


if __name__ == "__main__":
    main()
