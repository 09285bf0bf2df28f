#!/usr/bin/python3
"""More ideas for the identification tried on top of bench/identify_explore.py:
deciding among close rivals (any, or only close relatives of the best hit) by
where they differ; broadening the sharper spectrum of a pair to the other's
band width; the rank correlation of the paired bands' heights; a band
tolerance growing with the band's width; letting the entry's response tilt by
a straight line; and a ranking learned from the pairs' figures. Each setting
is chosen on one half of the mineral species and scored on the other, five
times two halves (the learned ranking is fitted on one half).

Usage: bench/identify_rivals.py --cli build/release/bin/veltrane-cli [--data DIR]
           [--cache FILE] [--only rivals|related|widths|heights|tolerances|tilt|learned|neighbour]

Needs NumPy; the prepared spectra come from the explore harness's cache."""
import itertools
import pathlib
import sys

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import identify_eval as ev  # noqa: E402
import identify_explore as ex  # noqa: E402
import identify_ideas as ideas  # noqa: E402


def grid_of(items, transform=ex.comparison):
    m = np.zeros((len(items), ex.GRID))
    for k, (_, start, values, _) in enumerate(items):
        m[k, start + ex.OFFSET:start + ex.OFFSET + len(values)] = transform(values)
    return m, np.array([i[1] for i in items]), np.array([i[1] + len(i[2]) for i in items])


def zscore(a):
    a = a - a.mean(-1, keepdims=True)
    return a / np.maximum(np.sqrt((a * a).mean(-1, keepdims=True)), 1e-12)


def pearson(a, b):
    a, b = a - a.mean(), b - b.mean()
    den = np.sqrt((a * a).sum() * (b * b).sum())
    return float((a * b).sum() / den) if den > 0 else 0.0


# ---- figures and the choice by halves ---------------------------------------------------

def per_query(items):
    m = [o for o in items if o["set"] == "m" and o["rank"] is not None]
    return (np.array([o["rank"] == 0 for o in m]), np.array([o["rank"] < 5 for o in m]),
            np.array([o["other"] for o in m]), [o["species"] for o in m])


def line(items):
    t1, t5, other, _ = per_query(items)
    p = [o for o in items if o["set"] == "p"]
    return (f"{100 * t1.mean():.1f} / {100 * t5.mean():.1f} / {100 * t1[other].mean():.1f} / "
            f"{100 * np.mean([o['rank'] == 0 for o in p]):.1f}")


def held_out(results, base_key, splits=5, seed=3):
    """Each setting of `results` ({key: items}) chosen by top-1 on one half of
    the mineral species (today's kept on a tie), scored on the other: mean
    held-out top-1, top-5, other laser line, and the settings chosen."""
    keys = [base_key] + [k for k in results if k != base_key]
    per = {k: per_query(results[k]) for k in keys}
    species = per[base_key][3]
    names = sorted(set(species))
    out, chosen, today = [], {}, []
    for half in ev.species_halves(names, splits, seed):
        mask = np.array([sp in half for sp in species])
        for train in (mask, ~mask):
            best = max(keys, key=lambda k: (per[k][0][train].mean(), k == base_key))
            chosen[best] = chosen.get(best, 0) + 1
            t1, t5, other, _ = per[best]
            test = ~train
            out.append((t1[test].mean(), t5[test].mean(), t1[test & other].mean()))
            b1, b5, bo, _ = per[base_key]
            today.append((b1[test].mean(), b5[test].mean(), b1[test & other].mean()))
    o, t = np.mean(out, 0), np.mean(today, 0)
    return (f"held out {100 * o[0]:.1f} / {100 * o[1]:.1f} / {100 * o[2]:.1f} "
            f"(today's on the same halves {100 * t[0]:.1f} / {100 * t[1]:.1f} / {100 * t[2]:.1f}); "
            f"chosen {sorted(chosen.items(), key=lambda kv: -kv[1])}")


def nested_verdicts(results, base_key, splits=5, seed=7):
    """The setting chosen by top-1 on one half of the species, then the
    verdict rule chosen on that half with that setting, both scored on the
    other half: the right minerals Matched and the wrong Matches among the
    mineral and outside queries, against today's score treated alike."""
    keys = [base_key] + [k for k in results if k != base_key]
    species = sorted({o["species"] for o in results[base_key]})
    out = {"chosen": [], "today": []}
    for half in ev.species_halves(species, splits, seed):
        for train in (True, False):
            def top1(k):
                m = [o for o in results[k] if o["set"] == "m" and o["rank"] is not None
                     and (o["species"] in half) == train]
                return np.mean([o["rank"] == 0 for o in m])
            best = max(keys, key=lambda k: (top1(k), k == base_key))
            for label, k in (("chosen", best), ("today", base_key)):
                fit = [o for o in results[k] if (o["species"] in half) == train]
                test = [o for o in results[k] if (o["species"] in half) != train and o["set"] == "m"]
                c = ev.choose_rule(ex.rule_items(fit))
                if c is None:
                    continue
                right = [o for o in test if o["kind"] == "right"]
                out[label].append((np.mean([ex.verdict(o, c[1]) == "match" for o in right]),
                                   np.mean([ex.verdict(o, c[1]) == "match" and o["kind"] != "right" for o in test])))
    a, t = np.mean(out["chosen"], 0), np.mean(out["today"], 0)
    return (f"verdict, setting and rule chosen on a half: right minerals Matched {100 * a[0]:.1f} %, "
            f"wrong {100 * a[1]:.2f} % (today's {100 * t[0]:.1f} %, {100 * t[1]:.2f} %)")


def report(title, results, base_key, verdict_keys=()):
    print(f"== {title} (minerals top-1 / top-5 / other laser / polymers top-1)")
    for k, its in results.items():
        print(f"   {k}: {line(its)}")
    print("   " + held_out(results, base_key))
    print("   " + nested_verdicts(results, base_key))
    t1 = per_query(results[base_key])[0]
    for k in verdict_keys:
        now = per_query(results[k])[0]
        print(f"   {k}: {int((now & ~t1).sum())} minerals put right, {int((t1 & ~now).sum())} put wrong")
        ideas.verdict_check(results[k], str(k))
    sys.stdout.flush()


def rescored_items(base, score_of):
    its = []
    for g in base:
        its += ex.outcomes(score_of(g), g["off"], g["sh"], g["unknowns"], g["entries"], g["tag"])
    return its


# ---- deciding among close rivals --------------------------------------------------------

def rival_scores(g, mode, delta, top, share, alpha, related=0):
    """The HQI of the hits within `delta` of the best (at most `top` of them)
    re-scored by where they differ: mode "region" correlates each over the
    points where their z-scored forms disagree most (the `share` of the common
    range with the largest spread), mixed with the whole correlation by
    `alpha`; mode "pairs" correlates the unknown with the difference of every
    two of them over the points where they differ most and adds `alpha` times
    the mean of those correlations (in units of c) to each. With `related`,
    only entries that score at least that against the best hit (entry
    against entry) take part: close relatives, not chance rivals."""
    H = ex.hqi(g["r"], g["B"])
    out = H.copy()
    U, us, ue = g["Ug"]
    L, ls, le = g["Lg"]
    for q in range(len(g["unknowns"])):
        order = np.argsort(-H[q], kind="stable")[:top]
        close = [l for l in order if H[q, l] >= H[q, order[0]] - delta and H[q, l] > 0
                 and (not related or l == order[0] or g["LL"][order[0], l] >= related)]
        if len(close) < 2:
            continue
        c = np.sqrt(H[q, close] / 100)
        if mode == "region":
            first = max(us[q], ls[close].max(), ex.LOW) + ex.OFFSET
            end = min(ue[q], le[close].min()) + ex.OFFSET
            if end - first < 200:
                continue
            F = zscore(L[close, first:end])
            spread = F.std(0)
            region = spread >= np.quantile(spread, 1 - share)
            u = U[q, first:end][region]
            rr = np.array([pearson(u, F[i][region]) for i in range(len(close))])
            r2 = (1 - alpha) * g["r"][q, close] + alpha * rr
            c2 = (r2 + ex.BAND_WEIGHT * g["B"][q, close]) / (1 + ex.BAND_WEIGHT)
            out[q, close] = np.where(r2 > 0, 100 * np.minimum(c2 * c2, 1), 0.0)
        else:
            votes = np.zeros(len(close))
            for i, j in itertools.combinations(range(len(close)), 2):
                a, b = close[i], close[j]
                first = max(us[q], ls[a], ls[b], ex.LOW) + ex.OFFSET
                end = min(ue[q], le[a], le[b]) + ex.OFFSET
                if end - first < 200:
                    continue
                d = zscore(L[a, first:end]) - zscore(L[b, first:end])
                region = np.abs(d) >= np.quantile(np.abs(d), 1 - share)
                s = pearson(U[q, first:end][region], d[region])
                votes[i] += s
                votes[j] -= s
            c2 = c + alpha * votes / (len(close) - 1)
            out[q, close] = 100 * np.clip(c2, 0, 1) ** 2
    return out


def entry_scores(g):
    """The HQI of every entry against every other."""
    if "LL" not in g:
        e = g["entries"]
        g["LL"] = ex.hqi(ex.correlations(e, e), ex.band_terms(e, e)[0])


def try_related(base, today):
    for g in base:
        entry_scores(g)
    results = {"today": today}
    for mode, related, delta, share, alpha in itertools.chain(
            itertools.product(["region"], (40, 60, 75), (10, 20, 40), (0.1, 0.25, 0.5), (0.25, 0.5, 1.0)),
            itertools.product(["pairs"], (40, 60, 75), (10, 20, 40), (0.1, 0.25, 0.5), (0.02, 0.05, 0.1))):
        key = (mode, related, delta, share, alpha)
        results[key] = rescored_items(base, lambda g: rival_scores(g, mode, delta, 5, share, alpha, related))
    best = sorted((k for k in results if k != "today"), key=lambda k: -per_query(results[k])[0].mean())[:3]
    report("close relatives among the best five re-scored where they differ", results, "today", best)


def try_rivals(base, today):
    results = {"today": today}
    for mode, delta, top, share, alpha in itertools.chain(
            itertools.product(["region"], (5, 10, 20), (3, 5, 10), (0.1, 0.25, 0.5), (0.25, 0.5, 1.0)),
            itertools.product(["pairs"], (5, 10, 20), (3, 5, 10), (0.1, 0.25, 0.5), (0.02, 0.05, 0.1))):
        key = (mode, delta, top, share, alpha)
        results[key] = rescored_items(base, lambda g: rival_scores(g, mode, delta, top, share, alpha))
    best = sorted((k for k in results if k != "today"), key=lambda k: -per_query(results[k])[0].mean())[:3]
    report("close rivals re-scored where they differ", results, "today", best)


# ---- matching the band widths -----------------------------------------------------------

def widths_at(start, values, positions, reach=60):
    """The full width at half height of the prepared intensity (baseline
    removed, so half height is half the value) at each position; NaN where
    the half height is not reached within `reach` cm⁻¹ on both sides."""
    v = np.maximum(values.astype(np.float64), 0.0)
    widths = []
    for p in positions:
        i = p - start
        h = v[max(i - 2, 0):i + 3].max()
        i = max(i - 2, 0) + int(np.argmax(v[max(i - 2, 0):i + 3]))
        half = h / 2
        lo = i
        while lo > 0 and i - lo < reach and v[lo] > half:
            lo -= 1
        hi = i
        while hi + 1 < len(v) and hi - i < reach and v[hi] > half:
            hi += 1
        if v[lo] > half or v[hi] > half:
            widths.append(np.nan)
            continue
        left = lo + (half - v[lo]) / (v[lo + 1] - v[lo]) if v[lo + 1] != v[lo] else lo
        right = hi - (half - v[hi]) / (v[hi - 1] - v[hi]) if v[hi - 1] != v[hi] else hi
        widths.append(right - left)
    return np.array(widths, float)


def band_width(start, values, strongest=8):
    """The median width of the strongest bands, None when none was measured."""
    positions, weights = ex.bands(start, ex.comparison(values))
    w = widths_at(start, values, positions[np.argsort(-weights)][:strongest])
    w = w[np.isfinite(w)]
    return float(np.median(w)) if len(w) else None


def broadened(items, sigma):
    if sigma == 0:
        return items
    k = np.arange(-int(4 * sigma) - 1, int(4 * sigma) + 2)
    kernel = np.exp(-0.5 * (k / sigma) ** 2)
    out = []
    for name, start, values, other in items:
        v = np.maximum(values.astype(np.float64), 0.0)
        s = np.convolve(v, kernel, "same") / np.convolve(np.ones(len(v)), kernel, "same")
        out.append((name, start, s, other))
    return out


SIGMAS = (0, 0.75, 1.5, 2.25, 3, 4, 5, 6.5, 8, 10)


def width_matrices(g):
    """r with the unknown broadened by each of SIGMAS, and with the entry."""
    if "rw" not in g:
        g["rw_u"] = [ex.correlations(broadened(g["unknowns"], s), g["entries"]) for s in SIGMAS]
        g["rw_e"] = [ex.correlations(g["unknowns"], broadened(g["entries"], s)) for s in SIGMAS]
        g["wu"] = [band_width(u[1], u[2]) for u in g["unknowns"]]
        g["we"] = [band_width(e[1], e[2]) for e in g["entries"]]
        g["rw"] = True


def width_scores(g, factor, least):
    """The sharper of each pair broadened by a Gaussian that brings its band
    width to `factor` of the way to the other's (widths adding in quadrature),
    when they differ by at least `least` cm⁻¹ of sigma."""
    r = g["r"].copy()
    levels = np.array(SIGMAS)
    for q, l in itertools.product(range(len(g["unknowns"])), range(len(g["entries"]))):
        wu, we = g["wu"][q], g["we"][l]
        if wu is None or we is None:
            continue
        sigma = factor * np.sqrt(abs(wu * wu - we * we)) / 2.3548
        if sigma < least:
            continue
        k = int(np.argmin(np.abs(levels - sigma)))
        r[q, l] = (g["rw_u"] if wu < we else g["rw_e"])[k][q, l]
    return ex.hqi(r, g["B"])


def try_widths(base, today):
    for g in base:
        width_matrices(g)
    for g in base:
        wu = [w for w in g["wu"] if w is not None]
        we = [w for w in g["we"] if w is not None]
        print(f"   band widths ({g['tag']}): unknowns median {np.median(wu):.1f} cm⁻¹ (quartiles "
              f"{np.quantile(wu, 0.25):.1f}–{np.quantile(wu, 0.75):.1f}), entries {np.median(we):.1f} "
              f"({np.quantile(we, 0.25):.1f}–{np.quantile(we, 0.75):.1f}); unmeasured "
              f"{sum(w is None for w in g['wu'])} + {sum(w is None for w in g['we'])}")
    results = {"today": today}
    for factor, least in itertools.product((0.25, 0.5, 0.75, 1.0, 1.25), (0.5, 1.0, 2.0, 3.0, 4.5, 6.0)):
        results[(factor, least)] = rescored_items(base, lambda g: width_scores(g, factor, least))
    best = sorted((k for k in results if k != "today"), key=lambda k: -per_query(results[k])[0].mean())[:2]
    report("the sharper spectrum of each pair broadened to the other's band width", results, "today", best)


# ---- the paired bands' heights ---------------------------------------------------------

def rank_correlation(a, b):
    ra, rb = np.argsort(np.argsort(a)), np.argsort(np.argsort(b))
    return pearson(ra.astype(float), rb.astype(float))


def height_terms(g):
    """Spearman's correlation of the heights of the bands paired one to one
    (0 with fewer than three pairs)."""
    if "rho" in g:
        return g["rho"]
    rho = np.zeros((len(g["unknowns"]), len(g["entries"])))
    for q, l in itertools.product(range(len(g["unknowns"])), range(len(g["entries"]))):
        u, e = g["unknowns"][q], g["entries"][l]
        first, last = ideas.common_span(u, e)
        xu, xe, _ = ideas.pairs_of(g["ub"][q], g["lb"][l], first, last)
        if len(xu) < 3:
            continue
        (pa, wa), (pb, wb) = g["ub"][q], g["lb"][l]
        hu, he = wa[np.searchsorted(pa, xu)], wb[np.searchsorted(pb, xe)]
        rho[q, l] = rank_correlation(hu, he)
    g["rho"] = rho
    return rho


def heights_scores(g, weight, top, delta):
    """gamma · rho beside r and B in c, for the hits within `delta` of the
    best among the first `top` (all when top is 0)."""
    rho = height_terms(g)
    H = ex.hqi(g["r"], g["B"])
    c = (g["r"] + ex.BAND_WEIGHT * g["B"] + weight * rho) / (1 + ex.BAND_WEIGHT + weight)
    new = np.where(g["r"] > 0, 100 * np.clip(c, 0, 1) ** 2, 0.0)
    if not top:
        return new
    out = H.copy()
    for q in range(len(g["unknowns"])):
        order = np.argsort(-H[q], kind="stable")[:top]
        close = [l for l in order if H[q, l] >= H[q, order[0]] - delta]
        out[q, close] = new[q, close]
    return out


def try_heights(base, today):
    results = {"today": today}
    for weight, top, delta in itertools.chain(itertools.product((0.05, 0.1, 0.2, 0.4), (0,), (0,)),
                                              itertools.product((0.05, 0.1, 0.2, 0.4), (5, 10), (5, 10, 20))):
        results[(weight, top, delta)] = rescored_items(base, lambda g: heights_scores(g, weight, top, delta))
    best = sorted((k for k in results if k != "today"), key=lambda k: -per_query(results[k])[0].mean())[:2]
    report("rank correlation of the paired bands' heights beside r and B", results, "today", best)


# ---- a band tolerance growing with the band's width ----------------------------------

def band_tolerances(g, side, per_band):
    """The widths of every band of every unknown or entry: its own, or the
    median of its spectrum's strongest (NaN where none was measured)."""
    key = f"fw_{side}_{per_band}"
    if key not in g:
        items, found = (g["unknowns"], g["ub"]) if side == "u" else (g["entries"], g["lb"])
        out = []
        for (_, start, values, _), (p, _) in zip(items, found):
            if per_band:
                out.append(widths_at(start, values, p))
            else:
                w = band_width(start, values)
                out.append(np.full(len(p), np.nan if w is None else w))
        g[key] = out
    return g[key]


def adaptive_agreement(g, k, least, most, per_band):
    """B with each band's tolerance k times its width, within [least, most]
    (least where no width was measured); two bands agree within the larger of
    their tolerances."""
    fu, fe = band_tolerances(g, "u", per_band), band_tolerances(g, "e", per_band)

    def tol(w):
        return np.where(np.isfinite(w), np.clip(k * np.nan_to_num(w), least, most), least)

    PE = np.concatenate([p for p, _ in g["lb"]]).astype(float)
    WE = np.concatenate([w for _, w in g["lb"]])
    TE = tol(np.concatenate(fe))
    owner = np.concatenate([np.full(len(p), l) for l, (p, _) in enumerate(g["lb"])])
    ls = np.array([e[1] for e in g["entries"]])
    le = np.array([e[1] + len(e[2]) for e in g["entries"]])
    n_e = len(g["entries"])
    B = np.zeros((len(g["unknowns"]), n_e))
    for q, u in enumerate(g["unknowns"]):
        P, W = g["ub"][q][0].astype(float), g["ub"][q][1]
        if not len(P):
            continue
        T = tol(fu[q])
        first = np.maximum(np.maximum(u[1], ls), ex.LOW)
        last = np.minimum(u[1] + len(u[2]), le) - 1
        in_q = (P[:, None] >= first[None, :]) & (P[:, None] <= last[None, :])       # bands x entries
        in_e = (PE >= first[owner]) & (PE <= last[owner])
        M = (np.abs(P[:, None] - PE[None, :]) <= np.maximum(T[:, None], TE[None, :])) & in_e[None, :] & in_q[:, owner]
        matched_q = np.zeros((len(P), n_e), bool)
        np.logical_or.at(matched_q.T, owner, M.T)
        matched_e = M.any(0)
        wq_all = (W[:, None] * in_q).sum(0)
        wq_hit = (W[:, None] * (in_q & matched_q)).sum(0)
        we_all = np.bincount(owner, WE * in_e, n_e)
        we_hit = np.bincount(owner, WE * (in_e & matched_e), n_e)
        ok = (wq_all > 0) & (we_all > 0)
        B[q, ok] = 0.5 * (wq_hit[ok] / wq_all[ok] + we_hit[ok] / we_all[ok])
    return B


def try_tolerances(base, today):
    for g in base:
        check = adaptive_agreement(g, 0.0, ex.TOLERANCE, ex.TOLERANCE, True)
        print(f"   fixed tolerance re-derived ({g['tag']}): largest difference to B {np.abs(check - g['B']).max():.2e}")
    results = {"today": today}
    for per_band, k, least, most in itertools.product((True, False), (0.2, 0.3, 0.45), (3, 4, 6), (10, 15)):
        key = ("band" if per_band else "spectrum", k, least, most)
        results[key] = rescored_items(base, lambda g: ex.hqi(g["r"], adaptive_agreement(g, k, least, most, per_band)))
    best = sorted((k for k in results if k != "today"), key=lambda k: -per_query(results[k])[0].mean())[:2]
    report("band tolerance growing with the band width", results, "today", best)


# ---- a straight-line tilt of the response --------------------------------------------

def tilt_correlations(unknowns, entries):
    """Per pair over the common range: r, the multiple correlation R of the
    unknown with the entry and the entry times the shift (the entry scaled by
    a + b·x, a response that tilts across the range, as another laser line or
    detector gives), and the ratio of that factor at the range's two ends
    (inf when it is not positive at both)."""
    U, us, ue = grid_of(unknowns)
    L, ls, le = grid_of(entries)
    x = (np.arange(ex.GRID) - ex.OFFSET) / 1000.0
    M = L * x

    def cum(a):
        return np.concatenate([np.zeros(a.shape[:-1] + (1,)), np.cumsum(a, -1)], -1)

    cl, cm, cll, cmm, clm = cum(L), cum(M), cum(L * L), cum(M * M), cum(L * M)
    rows = np.arange(len(entries))
    r = np.zeros((len(unknowns), len(entries)))
    R = np.zeros_like(r)
    ratio = np.full_like(r, np.inf)
    for q in range(len(unknowns)):
        first = np.maximum(np.maximum(us[q], ls), ex.LOW) + ex.OFFSET
        end = np.minimum(ue[q], le) + ex.OFFSET
        n = end - first
        cu, cuu, cul, cum_ = cum(U[q]), cum(U[q] ** 2), cum(L * U[q]), cum(M * U[q])

        def span(c, per_entry=True):
            return c[rows, end] - c[rows, first] if per_entry else c[end] - c[first]

        su, suu = span(cu, False), span(cuu, False)
        sl, sm, sll, smm, slm = span(cl), span(cm), span(cll), span(cmm), span(clm)
        sul, sum_ = span(cul), span(cum_)
        vu = suu - su * su / n
        vll, vmm, vlm = sll - sl * sl / n, smm - sm * sm / n, slm - sl * sm / n
        cu_l, cu_m = sul - su * sl / n, sum_ - su * sm / n
        det = vll * vmm - vlm * vlm
        ok = (det > 1e-12 * np.maximum(vll * vmm, 1e-300)) & (vu > 0) & (vll > 0)
        bl = np.where(ok, (vmm * cu_l - vlm * cu_m) / np.where(ok, det, 1), 0)
        bm = np.where(ok, (vll * cu_m - vlm * cu_l) / np.where(ok, det, 1), 0)
        r[q] = np.where(ok, cu_l / np.sqrt(np.maximum(vu * vll, 1e-300)), 0)
        R[q] = np.where(ok, np.sqrt(np.clip((bl * cu_l + bm * cu_m) / np.where(vu > 0, vu, 1), 0, 1)), 0)
        xa, xb = x[first], x[end - 1]
        fa, fb = bl + bm * xa, bl + bm * xb
        pos = ok & (fa > 0) & (fb > 0)
        ratio[q] = np.where(pos, np.maximum(fa, fb) / np.where(pos, np.minimum(fa, fb), 1), np.inf)
    return r, R, ratio


def try_tilt(base, today):
    for g in base:
        if "R" not in g:
            r, g["R"], g["ratio"] = tilt_correlations(g["unknowns"], g["entries"])
            print(f"   r re-derived ({g['tag']}): largest difference {np.abs(r - g['r']).max():.1e}")
    results = {"today": today}
    for most, blend in itertools.product((1.5, 2, 3, 5, 10), (0.25, 0.5, 1.0)):
        def score(g):
            use = (g["r"] > 0) & (g["ratio"] <= most)
            r = np.where(use, (1 - blend) * g["r"] + blend * g["R"], g["r"])
            return ex.hqi(r, g["B"])
        results[(most, blend)] = rescored_items(base, score)
    best = sorted((k for k in results if k != "today"), key=lambda k: -per_query(results[k])[0].mean())[:3]
    report("the entry's response tilted by a straight line before the correlation", results, "today", best)


# ---- a learned ranking -----------------------------------------------------------------

RANK_FEATURES = ("r", "B", "shared", "offset", "no offset", "heights", "tilt R", "r broad")


def pair_features(g):
    """Per pair: the figures a learned ranking may weigh (RANK_FEATURES)."""
    if "F" not in g:
        if "R" not in g:
            _, g["R"], g["ratio"] = tilt_correlations(g["unknowns"], g["entries"])
        broad = ex.correlations(broadened(g["unknowns"], 3), broadened(g["entries"], 3))
        off = g["off"]
        g["F"] = np.stack([g["r"], g["B"], np.minimum(g["sh"], 15) / 10, np.where(np.isfinite(off), off, 6) / 6,
                           (~np.isfinite(off)).astype(float), height_terms(g),
                           np.where(g["ratio"] <= 3, g["R"], g["r"]), broad], -1)
    return g["F"]


def fit_ranking(F, H, names, expected, rows, used, l2, rivals=20):
    """Logistic weights on the difference of the features of the right entry
    and each of its `rivals` best wrong ones, for the unknowns in `rows`."""
    X = []
    for q in rows:
        order = np.argsort(-H[q], kind="stable")
        right = np.nonzero(names == expected[q])[0][0]
        wrong = [l for l in order[: rivals + 1] if l != right][:rivals]
        X.append(F[q, right][None, used] - F[q, wrong][:, used])
    X = np.concatenate(X)
    X = np.concatenate([X, -X])
    y = np.r_[np.ones(len(X) // 2), np.zeros(len(X) // 2)]
    w = np.zeros(len(used))
    for _ in range(30):
        p = 1 / (1 + np.exp(-X @ w))
        grad = X.T @ (p - y) + l2 * w
        hess = (X * (p * (1 - p))[:, None]).T @ X + l2 * np.eye(len(used))
        w -= np.linalg.solve(hess, grad)
    return w


def try_learned(base, today, splits=5, seed=3):
    """Weights fitted on the mineral unknowns of one half of the species,
    the ranking scored on the other half (and on the polymers)."""
    gm, gp = base
    Fm, Fp = pair_features(gm), pair_features(gp)
    Hm = ex.hqi(gm["r"], gm["B"])
    names = np.array([e[0] for e in gm["entries"]])
    expected = [u[0] for u in gm["unknowns"]]
    answered = [q for q, e in enumerate(expected) if e is not None]
    species = sorted({expected[q] for q in answered})
    other = np.array([gm["unknowns"][q][3] for q in range(len(expected))])
    print("== a ranking learned from the pairs' figures (held-out minerals top-1 / top-5 / other laser; "
          "polymers top-1 with the weights fitted on all minerals)")

    def ranks(S, g, qs):
        nm = np.array([e[0] for e in g["entries"]])
        out = []
        for q in qs:
            order = np.argsort(-S[q], kind="stable")
            out.append(int(np.nonzero(nm[order] == g["unknowns"][q][0])[0][0]))
        return np.array(out)

    for used_names in (("r", "B"), ("r", "B", "shared", "offset", "no offset"), ("r", "B", "heights"),
                       ("r", "B", "tilt R", "r broad"), RANK_FEATURES):
        used = [RANK_FEATURES.index(f) for f in used_names]
        for l2, rivals in ((1.0, 20), (30.0, 20), (1.0, 3)):
            held, held_today = [], []
            for half in ev.species_halves(species, splits, seed):
                for train in (True, False):
                    fit = [q for q in answered if (expected[q] in half) == train]
                    test = [q for q in answered if (expected[q] in half) != train]
                    w = fit_ranking(Fm, Hm, names, expected, fit, used, l2, rivals)
                    rk = ranks(Fm[..., used] @ w, gm, test)
                    tk = ranks(Hm, gm, test)
                    held.append(((rk == 0).mean(), (rk < 5).mean(), (rk[other[test]] == 0).mean()))
                    held_today.append(((tk == 0).mean(), (tk < 5).mean(), (tk[other[test]] == 0).mean()))
            w = fit_ranking(Fm, Hm, names, expected, answered, used, l2, rivals)
            allr = ranks(Fm[..., used] @ w, gm, answered)
            pr = ranks(Fp[..., used] @ w, gp, range(len(gp["unknowns"])))
            h, t = np.mean(held, 0), np.mean(held_today, 0)
            print(f"   {used_names} l2={l2}, {rivals} rivals: held out {100 * h[0]:.1f} / {100 * h[1]:.1f} / {100 * h[2]:.1f} "
                  f"(today's {100 * t[0]:.1f} / {100 * t[1]:.1f} / {100 * t[2]:.1f}); fitted on all: "
                  f"{100 * (allr == 0).mean():.1f} / {100 * (allr < 5).mean():.1f} / "
                  f"{100 * (allr[other[answered]] == 0).mean():.1f}, polymers {100 * (pr == 0).mean():.1f}; "
                  f"weights {np.round(w, 2)}")
            sys.stdout.flush()


# ---- a Match measured against the entry's own nearest neighbour ----------------------

def neighbour_gaps(base):
    """Per unknown (in the order of the items): its best HQI less the best
    HQI its best entry reaches against another library entry of another name.
    A sample that is no closer to an entry than the entry's nearest relative
    in the library may well be another relative."""
    gaps = []
    for g in base:
        entry_scores(g)
        names = np.array([e[0].strip().lower() for e in g["entries"]])
        LL = np.where(names[:, None] == names[None, :], 0.0, g["LL"])
        nearest = LL.max(1)
        H = ex.hqi(g["r"], g["B"])
        for q in range(len(g["unknowns"])):
            l = int(np.argsort(-H[q], kind="stable")[0])
            gaps.append(H[q, l] - nearest[l])
    return np.array(gaps)


NEIGHBOUR_RULES = [(t, m, e) for t in range(40, 72, 2) for m in (-10, -5, 0, 5, 10, 15, 20, 30)
                   for e in (2.0, 2.5, 3.0)]


def try_neighbour(base, today):
    """A third way to a Match, on top of the rule chosen as today: at HQI >= T
    with the same lead, a band offset <= E and a best HQI at least m above the
    entry's nearest neighbour's. Chosen on one half of the species, scored on
    the other."""
    gaps = neighbour_gaps(base)
    items = today
    species = sorted({o["species"] for o in items})
    sp = np.array([o["species"] for o in items])
    kind = np.array([o["kind"] for o in items])
    mineral = np.array([o["set"] == "m" for o in items])
    best = np.array([o["best"] for o in items])
    off = np.array([o["offset"] for o in items])
    lead = np.array([o["lead"] for o in items])
    right, outside = kind == "right", kind == "outside"
    print("== a Match measured against the best entry's nearest neighbour in the library")
    for k in ("right", "wrong", "outside"):
        sel = (kind == k) & mineral
        print(f"   minerals {k}: HQI above the entry's nearest neighbour's, median {np.median(gaps[sel]):.1f} "
              f"(quartiles {np.quantile(gaps[sel], 0.25):.1f} to {np.quantile(gaps[sel], 0.75):.1f})")

    def matched(rule, extra, idx, base_match=None):
        if base_match is None:
            base_match = np.array([ex.verdict(items[i], rule) == "match" for i in idx])
        if extra is None:
            return base_match
        t, m, e = extra
        return base_match | ((lead[idx] >= rule[1]) & (best[idx] >= t) & (gaps[idx] >= m) & (off[idx] <= e))

    def choose(idx):
        c = ev.choose_rule(ex.rule_items([items[i] for i in idx]))
        rule = c[1]
        best_extra, best_key = None, None
        base_m = matched(rule, None, idx)
        r, o = right[idx], outside[idx]
        for extra in NEIGHBOUR_RULES:
            mm = matched(rule, extra, idx, base_m)
            wrong = (mm & ~r).sum() / len(idx)
            o_match = (mm & o).sum() / max(o.sum(), 1)
            if wrong > ev.LIMITS["wrong_match"] or o_match > ev.LIMITS["outside_match"]:
                continue
            key = ((mm & r).sum(), extra[0], extra[1], -extra[2])
            if (mm & r).sum() > (base_m & r).sum() and (best_key is None or key > best_key):
                best_extra, best_key = extra, key
        return rule, best_extra

    held, held_today, extras = [], [], {}
    for half in ev.species_halves(species, 5, 7):
        inside = np.array([x in half for x in sp])
        for train in (inside, ~inside):
            rule, extra = choose(np.nonzero(train)[0])
            extras[extra] = extras.get(extra, 0) + 1
            test = np.nonzero(~train & mineral)[0]
            for out, e in ((held, extra), (held_today, None)):
                mm = matched(rule, e, test)
                out.append(((mm & right[test]).sum() / right[test].sum(), (mm & ~right[test]).mean(),
                            (mm & outside[test]).sum() / max(outside[test].sum(), 1)))
    h, t = np.mean(held, 0), np.mean(held_today, 0)
    print(f"   held out: right minerals Matched {100 * h[0]:.1f} %, wrong {100 * h[1]:.2f} %, outside Matched "
          f"{100 * h[2]:.1f} % (today's rule {100 * t[0]:.1f} %, {100 * t[1]:.2f} %, {100 * t[2]:.1f} %); "
          f"third ways chosen {sorted(extras.items(), key=lambda kv: -kv[1])}")
    rule, extra = choose(np.arange(len(items)))
    if extra is not None:
        everything = np.arange(len(items))
        mm = matched(rule, extra, everything)
        mr = mineral & right
        print(f"   on all: {extra} Matches {(mm & mr).sum()} of {mr.sum()} right minerals "
              f"(today's {(matched(rule, None, everything) & mr).sum()}), polymers "
              f"{(mm & ~mineral & right).sum()} of {(~mineral & right).sum()}")
    else:
        print("   on all: no third way adds a right Match within the limits")
    sys.stdout.flush()


def main():
    parser = ex.harness_parser(__doc__)
    parser.add_argument("--only", default="")
    parser.add_argument("--limits", default="0.003,0.975,0")
    args = parser.parse_args()
    ev.LIMITS.update(zip(("wrong_match", "outside_no_match", "outside_match"), map(float, args.limits.split(","))))
    sets = ex.prepare(args.cli, pathlib.Path(args.data), pathlib.Path(args.cache))
    base = []
    for unknowns, entries, tag in ((sets["min_q"] + sets["nomatch"], sets["min_lib"], "m"),
                                   (sets["poly_q"], sets["poly_lib"], "p")):
        r = ex.correlations(unknowns, entries)
        agreement, offset, shared = ex.band_terms(unknowns, entries)
        ub = [ex.bands(i[1], ex.comparison(i[2])) for i in unknowns]
        lb = [ex.bands(i[1], ex.comparison(i[2])) for i in entries]
        base.append(dict(unknowns=unknowns, entries=entries, tag=tag, r=r, B=agreement, off=offset, sh=shared,
                         ub=ub, lb=lb, Ug=grid_of(unknowns), Lg=grid_of(entries)))
    today = rescored_items(base, lambda g: ex.hqi(g["r"], g["B"]))
    print(f"today: {line(today)}")
    ideas.verdict_check(today, "today")
    for name, run in (("rivals", try_rivals), ("related", try_related), ("widths", try_widths), ("heights", try_heights),
                      ("tolerances", try_tolerances), ("tilt", try_tilt), ("learned", try_learned),
                      ("neighbour", try_neighbour)):
        if args.only in ("", name):
            run(base, today)


if __name__ == "__main__":
    main()
