#!/usr/bin/python3
"""Ideas for the identification tried on top of bench/identify_explore.py:
band-guided alignment of each entry to the unknown before the correlation,
and verdicts learned from several figures per hit. Each is judged on held-out
halves of the species, as the explore harness judges verdict rules.

Usage: bench/identify_ideas.py --cli build/release/bin/veltrane-cli [--data DIR]
           [--cache FILE] [--top K] [--only align|learn]

Needs NumPy; the prepared spectra come from the explore harness's cache."""
import pathlib
import sys

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import identify_eval as ev  # noqa: E402
import identify_explore as ex  # noqa: E402

TOL = ex.TOLERANCE


def common_span(u, e):
    first = max(u[1], e[1], ex.LOW)
    last = min(u[1] + len(u[2]), e[1] + len(e[2])) - 1
    return first, last


def pairs_of(bu, be, first, last):
    """One-to-one pairs of bands within the tolerance: mutual nearest ones."""
    (pa, wa), (pb, wb) = bu, be
    ia, ib = (pa >= first) & (pa <= last), (pb >= first) & (pb <= last)
    pa, wa, pb, wb = pa[ia], wa[ia], pb[ib], wb[ib]
    if not len(pa) or not len(pb):
        return np.zeros(0), np.zeros(0), np.zeros(0)
    d = np.abs(pa[:, None] - pb[None, :])
    na, nb = d.argmin(1), d.argmin(0)
    keep = [(i, na[i]) for i in range(len(pa)) if nb[na[i]] == i and d[i, na[i]] <= TOL]
    if not keep:
        return np.zeros(0), np.zeros(0), np.zeros(0)
    i, j = np.array(keep).T
    return pa[i].astype(float), pb[j].astype(float), np.minimum(wa[i], wb[j])


def shift_map(xu, xe, w, model, bound, first, last):
    """The shift d(x) on the unknown's axis: the entry's value at x - d(x)
    is placed at x. None when there is nothing to align by."""
    d = xu - xe
    if model == "pw-drop":
        k = np.abs(d) <= bound
        xu, xe, w, d = xu[k], xe[k], w[k], d[k]
    if not len(d):
        return None
    if model == "shift" or len(d) == 1:
        s = np.clip(np.sum(w * d) / np.sum(w), -bound, bound)
        return lambda x: np.full_like(x, s, dtype=float)
    if model == "linear":
        m = xu.mean()
        X = np.stack([np.ones_like(xu), (xu - m) / 1000.0], 1)
        W = np.sqrt(w)[:, None]
        # a little ridge on the slope: two close pairs do not tilt the axis
        A = (X * W).T @ (X * W) + np.diag([0.0, 0.05 * np.sum(w)])
        coef = np.linalg.solve(A, (X * W).T @ (W[:, 0] * d))
        return lambda x: np.clip(coef[0] + coef[1] * (x - m) / 1000.0, -bound, bound)
    # piecewise linear through the pairs, constant beyond them
    order = np.argsort(xu)
    xs, ds = xu[order], np.clip(d[order], -bound, bound)
    return lambda x: np.interp(x, xs, ds)


def aligned_r(u, e, shift, first, last):
    x = np.arange(first, last + 1, dtype=float)
    cu = ex.comparison(u[2])[first - u[1]:last + 1 - u[1]]
    ce_full = ex.comparison(e[2])
    xe = np.arange(e[1], e[1] + len(e[2]), dtype=float)
    ce = np.interp(x - shift(x), xe, ce_full)
    a, b = cu - cu.mean(), ce - ce.mean()
    den = np.sqrt((a * a).sum() * (b * b).sum())
    return float((a * b).sum() / den) if den > 0 else 0.0


def held_out_top1(per_query_right, species, choices, rng_seed=3, splits=5):
    """per_query_right[c]: bool array per query (mineral unknowns with an
    answer) for choice c; choose on one half of the species, score on the
    other. Returns the mean held-out top-1 and how often each choice won."""
    names = sorted(set(species))
    scores, wins = [], {}
    for half in ev.species_halves(names, splits, rng_seed):
        mask = np.array([sp in half for sp in species])
        for train in (mask, ~mask):
            best = max(choices, key=lambda c: (per_query_right[c][train].mean(), c == choices[0]))
            wins[best] = wins.get(best, 0) + 1
            scores.append(per_query_right[best][~train].mean())
    return float(np.mean(scores)), wins


def verdict_check(items, title):
    """The explore harness's check of verdict rules by halves, on these items."""
    out = []
    for label, rules in (("offset", ev.RULES), ("no offset", [r for r in ev.RULES if r[2] == float("inf")])):
        saved, ev.RULES = ev.RULES, rules
        held = ex.held_out_verdicts(items)
        ev.RULES = saved
        out.append(f"{label}: held-out right Match {100 * np.mean([h[0] for h in held]):.1f} %, "
                   f"wrong {100 * np.mean([h[1] for h in held]):.2f} %")
    c = ev.choose_rule(ex.rule_items(items))
    allfig = ""
    if c:
        right = [o for o in items if o["set"] == "m" and o["kind"] == "right"]
        allfig = (f"; rule on all {c[1]}: right minerals Match {sum(ex.verdict(o, c[1]) == 'match' for o in right)}"
                  f"/{len(right)}")
    print(f"   verdict [{title}] " + "; ".join(out) + allfig)


def figures(items, title):
    m = [o for o in items if o["set"] == "m" and o["rank"] is not None]
    p = [o for o in items if o["set"] == "p"]
    other = [o for o in m if o["other"]]
    print(f"{title}: minerals top-1 {100 * np.mean([o['rank'] == 0 for o in m]):.1f} % "
          f"top-5 {100 * np.mean([o['rank'] < 5 for o in m]):.1f} % other laser {100 * np.mean([o['rank'] == 0 for o in other]):.1f} % "
          f"polymers {100 * np.mean([o['rank'] == 0 for o in p]):.1f} %")


FEATURES = ("hqi", "lead", "offset", "no offset", "B", "r", "pairs", "share u", "share e", "heights", "hqi2",
            "pairs2", "pairs3", "pairs4")


def hit_features(g, q, l, H, lead):
    u, e = g["unknowns"][q], g["entries"][l]
    first, last = common_span(u, e)
    (pa, wa), (pb, wb) = g["ub"][q], g["lb"][l]
    ia, ib = (pa >= first) & (pa <= last), (pb >= first) & (pb <= last)
    pa, wa, pb, wb = pa[ia], wa[ia], pb[ib], wb[ib]
    share_u = share_e = 0.0
    if len(pa) and len(pb):
        d = np.abs(pa[:, None] - pb[None, :])
        share_u = wa[d.min(1) <= TOL].sum() / wa.sum()
        share_e = wb[d.min(0) <= TOL].sum() / wb.sum()
    xu, xe, w = pairs_of(g["ub"][q], g["lb"][l], first, last)
    heights = 0.0
    if len(xu) >= 3:
        hu = wa[np.searchsorted(pa, xu)]
        he = wb[np.searchsorted(pb, xe)]
        heights = float(np.corrcoef(hu, he)[0, 1]) if hu.std() > 0 and he.std() > 0 else 0.0
    off = g["off"][q, l]
    return [H, lead, min(off, TOL + 1), float(not np.isfinite(off)), g["B"][q, l], g["r"][q, l], len(xu),
            share_u, share_e, heights, H * H / 100] + [int((np.abs(xu - xe) <= t).sum()) for t in (2, 3, 4)]


def fit_logistic(X, y, l2=1.0):
    mu, sd = X.mean(0), X.std(0) + 1e-9
    Z = np.hstack([np.ones((len(X), 1)), (X - mu) / sd])
    w = np.zeros(Z.shape[1])
    for _ in range(50):
        p = 1 / (1 + np.exp(-Z @ w))
        g = Z.T @ (p - y) + l2 * np.r_[0, w[1:]]
        Hm = (Z * (p * (1 - p))[:, None]).T @ Z + l2 * np.diag(np.r_[0, np.ones(len(w) - 1)])
        w -= np.linalg.solve(Hm, g)
    return lambda X2: 1 / (1 + np.exp(-(np.hstack([np.ones((len(X2), 1)), (X2 - mu) / sd]) @ w))), w


def learned_rule(p, hqi, kinds):
    """The threshold on p (Match) and on the HQI (Possible) that Matches the
    most right answers within the limits."""
    best = None
    right, outside = kinds == "right", kinds == "outside"
    for t2 in range(40, 100, 5):
        possible = hqi >= t2
        no = ~possible
        for tau in np.unique(np.round(p, 4)):
            match = p >= tau
            wrong = (match & ~right).sum() / len(p)
            o_match = (match & outside).sum() / max(outside.sum(), 1)
            o_no = (no & ~match & outside).sum() / max(outside.sum(), 1)
            if wrong > ev.LIMITS["wrong_match"] or o_match > ev.LIMITS["outside_match"] or o_no < ev.LIMITS["outside_no_match"]:
                continue
            key = ((match & right).sum(), ((match | possible) & right).sum(), -tau)
            if best is None or key > best[0]:
                best = (key, tau, t2)
    return best


def learn(base, items_today, features_used, l2, seed=11):
    rows, kinds, species, sets_ = [], [], [], []
    k = 0
    for g in base:
        H = ex.hqi(g["r"], g["B"])
        names = np.array([e[0] for e in g["entries"]])
        for q in range(len(g["unknowns"])):
            o = items_today[k]
            k += 1
            l = int(np.argsort(-H[q], kind="stable")[0])
            rows.append(hit_features(g, q, l, H[q, l], o["lead"]))
            kinds.append(o["kind"])
            species.append(o["species"])
            sets_.append(o["set"])
    X = np.array(rows)[:, [FEATURES.index(f) for f in features_used]]
    kinds, sets_ = np.array(kinds), np.array(sets_)
    y = (kinds == "right").astype(float)
    names = sorted(set(species))
    held = []
    for half in ev.species_halves(names, 5, seed):
        mask = np.array([sp in half for sp in species])
        for train in (mask, ~mask):
            model, w = fit_logistic(X[train], y[train], l2)
            rule = learned_rule(model(X[train]), X[train][:, 0], kinds[train])
            if rule is None:
                continue
            _, tau, t2 = rule
            test = ~train
            p = model(X[test])
            match = p >= tau
            m = test & (sets_ == "m")
            mt = match[sets_[test] == "m"]
            kt = kinds[m]
            held.append(((mt & (kt == "right")).sum() / max((kt == "right").sum(), 1),
                         (mt & (kt != "right")).sum() / len(kt),
                         (mt & (kt == "outside")).sum() / max((kt == "outside").sum(), 1)))
    model, w = fit_logistic(X, y, l2)
    rule = learned_rule(model(X), X[:, 0], kinds)
    allright = ""
    if rule:
        p = model(X)
        mm = (sets_ == "m") & (kinds == "right")
        allright = f"; on all: right minerals Match {(p[mm] >= rule[1]).sum()}/{mm.sum()}"
    h = np.array(held)
    print(f"learned {features_used} l2={l2}: held-out right Match {100 * h[:, 0].mean():.1f} %, wrong {100 * h[:, 1].mean():.2f} %, "
          f"outside Match {100 * h[:, 2].mean():.1f} %{allright}; weights {np.round(w, 2)}")


def main():
    parser = ex.harness_parser(__doc__)
    parser.add_argument("--top", type=int, default=30)
    parser.add_argument("--only", default="")
    parser.add_argument("--limits", default="0.003,0.975,0")
    args = parser.parse_args()
    ev.LIMITS.update(zip(("wrong_match", "outside_no_match", "outside_match"), map(float, args.limits.split(","))))
    sets = ex.prepare(args.cli, pathlib.Path(args.data), pathlib.Path(args.cache))
    groups = [(sets["min_q"] + sets["nomatch"], sets["min_lib"], "m"), (sets["poly_q"], sets["poly_lib"], "p")]
    base = []
    for unknowns, entries, tag in groups:
        r = ex.correlations(unknowns, entries)
        agreement, offset, shared = ex.band_terms(unknowns, entries)
        ub = [ex.bands(i[1], ex.comparison(i[2])) for i in unknowns]
        lb = [ex.bands(i[1], ex.comparison(i[2])) for i in entries]
        base.append(dict(unknowns=unknowns, entries=entries, tag=tag, r=r, B=agreement, off=offset, sh=shared,
                         ub=ub, lb=lb))
    items = []
    for g in base:
        items += ex.outcomes(ex.hqi(g["r"], g["B"]), g["off"], g["sh"], g["unknowns"], g["entries"], g["tag"])
    figures(items, "today")
    verdict_check(items, "today")

    if args.only in ("", "align"):
        variants = [(model, bound) for model in ("shift", "linear", "pw", "pw-drop") for bound in (2, 3, 4, 6)]
        results = {}
        for model, bound in variants:
            its = []
            for g in base:
                H = ex.hqi(g["r"], g["B"])
                Hal = H.copy()
                for q, u in enumerate(g["unknowns"]):
                    cand = np.argsort(-H[q], kind="stable")[: args.top]
                    for l in cand:
                        e = g["entries"][l]
                        first, last = common_span(u, e)
                        xu, xe, w = pairs_of(g["ub"][q], g["lb"][l], first, last)
                        shift = shift_map(xu, xe, w, model, bound, first, last)
                        if shift is None:
                            continue
                        ra = aligned_r(u, e, shift, first, last)
                        Hal[q, l] = ex.hqi(np.array(ra), np.array(g["B"][q, l]))
                its += ex.outcomes(Hal, g["off"], g["sh"], g["unknowns"], g["entries"], g["tag"])
            results[(model, bound)] = its
            figures(its, f"align {model} ±{bound}")
            verdict_check(its, f"align {model} ±{bound}")
        ms = [o for o in items if o["set"] == "m" and o["rank"] is not None]
        species = [o["species"] for o in ms]
        per = {"today": np.array([o["rank"] == 0 for o in ms])}
        for k, its in results.items():
            per[k] = np.array([o["rank"] == 0 for o in its if o["set"] == "m" and o["rank"] is not None])
        top1, wins = held_out_top1(per, species, ["today"] + list(results))
        print(f"alignment chosen on halves: held-out top-1 {100 * top1:.1f} % (today's {100 * per['today'].mean():.1f} % on all), wins {wins}")


    if args.only in ("", "learn"):
        sets_of_features = [("hqi", "lead", "offset", "no offset"),
                            ("hqi", "lead", "offset", "no offset", "B"),
                            ("hqi", "lead", "offset", "no offset", "share u", "share e"),
                            ("hqi", "lead", "offset", "no offset", "pairs", "heights"),
                            ("hqi", "lead", "offset", "no offset", "B", "r", "pairs", "share u", "share e", "heights")]
        for f in sets_of_features:
            for l2 in (1.0, 10.0):
                learn(base, items, f, l2)


if __name__ == "__main__":
    main()
