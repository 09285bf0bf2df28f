#!/usr/bin/python3
"""How identification fares when the sample's Raman axis is off, and two
ideas tried against it, on the explore harness's prepared spectra:

- offsets: every unknown moved by 0, 2, 4, 6 and 8 cm-1 against the library,
  as an instrument whose axis reads that much high would record it, scored
  as the program scores it;
- estimate: one shift per unknown, the one (within +-10 cm-1) at which its
  best hit scores highest, applied to every entry alike, since an axis error
  belongs to the instrument and not to a pair; measured at the same offsets;
  then, on the axis as it is, the shift chosen by the mean of the best 3, 5
  or 10 hits, or kept only when it is large enough or gains enough;
- spread: the verdict's band offset judged by the spread of the best hit's
  band distances about their mean rather than by their mean distance, which
  an axis error leaves alone (the rule chosen as --calibrate chooses it);
- wing: the laser line's wing cut from the start of the comparison: from
  100 cm-1, while the compared form (smoothed by a Gaussian of sigma 4 cm-1)
  keeps falling, when that fall spans at least 30 cm-1.

Each line gives minerals top-1 / top-5 / at another laser line / polymers
top-1, then the right minerals Matched and the wrong Matches (wrong or
outside materials, all sets) under the verdict rule the program ships.

Usage: bench/identify_offsets.py --cli build/release/bin/veltrane-cli [--data DIR] [--cache FILE]
           [--only offsets|estimate|spread|wing]

Needs NumPy; takes some minutes (every unknown is scored at 29 shifts)."""
import pathlib
import sys

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import identify_eval as ev  # noqa: E402
import identify_explore as ex  # noqa: E402

# Match at HQI >= 70 leading by 4 with a band offset <= 3, or at HQI >= 44
# with ten shared bands and the same offset; Possible match at HQI >= 70.
SHIPPED_RULE = (70, 4, 3.0, 70, 10, 44, 3.0)
OFFSETS = (0, 2, 4, 6, 8)
SEARCH = 10


def moved(items, d):
    return [(name, start + d, values, other) for name, start, values, other in items]


def scored(unknowns, entries):
    r = ex.correlations(unknowns, entries)
    agreement, offset, shared = ex.band_terms(unknowns, entries)
    return ex.hqi(r, agreement), offset, shared


def line(items):
    m = [o for o in items if o["set"] == "m" and o["rank"] is not None]
    p = [o for o in items if o["set"] == "p"]
    right = sum(ex.verdict(o, SHIPPED_RULE) == "match" for o in m if o["kind"] == "right")
    wrong = sum(ex.verdict(o, SHIPPED_RULE) == "match" for o in items if o["kind"] != "right")
    top = [100 * np.mean(v) for v in ([o["rank"] == 0 for o in m], [o["rank"] < 5 for o in m],
                                       [o["rank"] == 0 for o in m if o["other"]], [o["rank"] == 0 for o in p])]
    return " / ".join(f"{v:.1f}" for v in top) + f" %, right minerals Matched {right}, wrong Matches {wrong}"


def pairs(sets):
    return ((sets["min_q"] + sets["nomatch"], sets["min_lib"], "m"), (sets["poly_q"], sets["poly_lib"], "p"))


def try_offsets(sets, shifts):
    for d0 in OFFSETS:
        items = []
        for unknowns, entries, tag in pairs(sets):
            items += ex.outcomes(*shifts(tag, d0), unknowns, entries, tag)
        print(f"axis off by {d0} cm-1: {line(items)}", flush=True)


def estimated(sets, shifts, d0, top=1, least=0, gain=0.0):
    """Items with one shift per unknown: the one within +-SEARCH at which the
    mean of its `top` best hits is highest, kept only when it moves by at
    least `least` cm-1 and raises that mean by at least `gain`."""
    items = []
    for unknowns, entries, tag in pairs(sets):
        at = {d: shifts(tag, d0 + d) for d in range(-SEARCH, SEARCH + 1)}

        def level(d, q):
            return np.sort(at[d][0][q])[-top:].mean()

        chosen = []
        for q in range(len(unknowns)):
            d = max(at, key=lambda d: level(d, q))
            chosen.append(d if abs(d) >= least and level(d, q) >= level(0, q) + gain else 0)
        h, o, s = (np.array([at[chosen[q]][k][q] for q in range(len(unknowns))]) for k in range(3))
        items += ex.outcomes(h, o, s, unknowns, entries, tag)
    return items


def try_estimate(sets, shifts):
    for d0 in OFFSETS:
        print(f"axis off by {d0} cm-1, one shift estimated per unknown: {line(estimated(sets, shifts, d0))}",
              flush=True)
    for top in (3, 5, 10):
        print(f"axis right, the shift of the best {top} hits' mean: {line(estimated(sets, shifts, 0, top=top))}")
    for least in (2, 3, 4):
        for gain in (0, 3, 6):
            print(f"axis right, shifts of at least {least} cm-1 gaining {gain} HQI: "
                  f"{line(estimated(sets, shifts, 0, least=least, gain=gain))}")


def signed_spread(unknown, entry, d0):
    """The spread of the signed distances (sample minus entry) of the bands
    that agree within the tolerance, about their mean, weighted as the band
    offset weighs them: an axis error moves every band alike and leaves it."""
    (_, us, uv, _), (_, ls, lv, _) = unknown, entry
    first, last = max(us + d0, ls, ex.LOW), min(us + d0 + len(uv), ls + len(lv)) - 1
    (pa, wa), (pb, wb) = ex.bands(us + d0, ex.comparison(uv)), ex.bands(ls, ex.comparison(lv))
    ia, ib = (pa >= first) & (pa <= last), (pb >= first) & (pb <= last)
    pa, wa, pb, wb = pa[ia], wa[ia], pb[ib], wb[ib]
    if not len(pa) or not len(pb):
        return float("inf")
    d = pa[:, None] - pb[None, :]
    da = d[np.arange(len(pa)), np.abs(d).argmin(1)]
    db = d[np.abs(d).argmin(0), np.arange(len(pb))]
    ka, kb = np.abs(da) <= ex.TOLERANCE, np.abs(db) <= ex.TOLERANCE
    x, w = np.concatenate([da[ka], db[kb]]), np.concatenate([wa[ka], wb[kb]])
    if not len(x):
        return float("inf")
    mean = (x * w).sum() / w.sum()
    return float(np.sqrt(((x - mean) ** 2 * w).sum() / w.sum()))


def try_spread(sets, shifts):
    """The verdict judged by the spread of the best hit's band distances
    instead of their mean distance, its rule chosen as --calibrate chooses."""
    ev.LIMITS.update(wrong_match=0.003, outside_no_match=0.975, outside_match=0)

    def items_at(d0, spread):
        items = []
        for unknowns, entries, tag in pairs(sets):
            h, o, s = shifts(tag, d0)
            ours = ex.outcomes(h, o, s, unknowns, entries, tag)
            if spread:
                for q, item in enumerate(ours):
                    best = int(np.argsort(-h[q], kind="stable")[0])
                    item["offset"] = signed_spread(unknowns[q], entries[best], d0)
            items += ours
        return items

    for spread, title in ((False, "mean distance (shipped)"), (True, "spread")):
        base = items_at(0, spread)
        rule = ev.choose_rule(ex.rule_items(base))[1]
        held = ex.held_out_verdicts(base)
        figures = []
        for d0 in OFFSETS[:4]:
            items = base if d0 == 0 else items_at(d0, spread)
            figures.append(f"{d0}: {sum(ex.verdict(o, rule) == 'match' for o in items if o['set'] == 'm' and o['kind'] == 'right')}"
                           f"/{sum(ex.verdict(o, rule) == 'match' for o in items if o['kind'] != 'right')}")
        print(f"band offset as its {title}: rule {rule}; held out right minerals Matched "
              f"{100 * np.mean([h[0] for h in held]):.1f} %, wrong {100 * np.mean([h[1] for h in held]):.2f} %; "
              f"right/wrong Matches with the axis off by {', '.join(figures)}", flush=True)


def wing_cut(item, sigma=4.0, least=30):
    name, start, values, other = item
    c = ex.comparison(values)
    k = np.arange(-int(3 * sigma), int(3 * sigma) + 1)
    kernel = np.exp(-0.5 * (k / sigma) ** 2)
    s = np.convolve(c, kernel, "same") / np.convolve(np.ones(len(c)), kernel, "same")
    i = j = max(0, ex.LOW - start)
    while j + 1 < len(s) and s[j + 1] < s[j]:
        j += 1
    return (name, start + j, values[j:], other) if j > i and j - i >= least else item


def try_wing(sets):
    items = []
    for unknowns, entries, tag in pairs(sets):
        cut_unknowns, cut_entries = [wing_cut(u) for u in unknowns], [wing_cut(e) for e in entries]
        items += ex.outcomes(*scored(cut_unknowns, cut_entries), cut_unknowns, cut_entries, tag)
        cut = sum(a[1] != b[1] for a, b in zip(unknowns + entries, cut_unknowns + cut_entries))
        print(f"   {tag}: {cut} of {len(unknowns) + len(entries)} spectra cut", flush=True)
    print(f"laser line's wing cut: {line(items)}")


def main():
    parser = ex.harness_parser(__doc__)
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    sets = ex.prepare(args.cli, pathlib.Path(args.data), pathlib.Path(args.cache))
    memo = {}

    def shifts(tag, d):
        if (tag, d) not in memo:
            unknowns, entries = next((u, e) for u, e, t in pairs(sets) if t == tag)
            memo[tag, d] = scored(moved(unknowns, d), entries)
        return memo[tag, d]

    if args.only in ("", "offsets"):
        try_offsets(sets, shifts)
    if args.only in ("", "estimate"):
        try_estimate(sets, shifts)
    if args.only in ("", "spread"):
        try_spread(sets, shifts)
    if args.only in ("", "wing"):
        try_wing(sets)


if __name__ == "__main__":
    main()
