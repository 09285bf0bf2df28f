#!/usr/bin/python3
"""Sets Veltrane's identification beside NumPy and SciPy on the same data
(written by identify_dump into the folder given):

- baseline: the same arPLS (lambda 1e6, stop when the weights change by less
  than 1 %, at most 30 solves) with SciPy's sparse solve
  (scipy.sparse.linalg.spsolve on W + lambda D'D), on the 2500-point spectrum
  of BM_ArplsBaseline2500; the time per spectrum and the largest difference
  to Veltrane's baseline, relative to the spectrum's range;
- ranking: 100,000 prepared entries as one float32 matrix; NumPy is given the
  rows already centred and scaled (outside the timing), and the timed part is
  centring and scaling the unknown, one matrix-vector product, the
  combination with each entry's band agreement (as Veltrane found it: the
  reference checks the correlation and the formula, not the band finder),
  squaring and picking the best five. The best five must be Veltrane's. Veltrane's time
  on the same matrix comes from identify_dump (best of 20, like NumPy's).

Prints one line per comparison, "key=value" fields, for bench/report.py."""
import pathlib
import sys
import timeit

import numpy as np
from scipy import sparse
from scipy.sparse.linalg import spsolve

folder = pathlib.Path(sys.argv[1])
y = np.fromfile(folder / "spectrum.f64")
ours = np.fromfile(folder / "baseline.f64")


def arpls(y, lam=1e6, ratio=0.01, max_iterations=30):
    n = len(y)
    d = sparse.diags([1.0, -2.0, 1.0], [0, 1, 2], shape=(n - 2, n), format="csc")
    h = lam * (d.T @ d)
    w = np.ones(n)
    z = y
    for _ in range(max_iterations):
        a = sparse.csc_matrix(h + sparse.diags(w))
        z = spsolve(a, w * y)
        r = y - z
        neg = r[r < 0]
        if len(neg) < 2:
            break
        mean, sigma = neg.mean(), neg.std()
        if not sigma > 0:
            break
        t = np.minimum(2.0 * (r - (2.0 * sigma - mean)) / sigma, 700.0)
        nxt = 1.0 / (1.0 + np.exp(t))
        change = np.sum((nxt - w) ** 2)
        norm = np.sum(w ** 2)
        w = nxt
        if change < ratio * ratio * norm:
            break
    return z


reference = arpls(y)
diff = np.max(np.abs(reference - ours)) / (y.max() - y.min())
runs = 20
seconds = min(timeit.repeat(lambda: arpls(y), number=runs, repeat=3)) / runs
print(f"baseline scipy_us_per_spectrum={seconds * 1e6:.0f} max_rel_diff={diff:.1e}")

matrix = np.fromfile(folder / "matrix.f32", dtype=np.float32)
unknown = np.fromfile(folder / "unknown.f32", dtype=np.float32)
matrix = matrix.reshape(-1, len(unknown))
agreement = np.fromfile(folder / "agreement.f64")
BAND_WEIGHT = 0.2
centred = matrix - matrix.mean(axis=1, keepdims=True)
centred /= np.linalg.norm(centred, axis=1, keepdims=True)
centred = np.ascontiguousarray(centred, dtype=np.float32)


def rank():
    u = unknown - unknown.mean()
    u = u / np.linalg.norm(u)
    r = np.maximum(centred @ u, 0.0)
    combined = np.where(r > 0, (r + BAND_WEIGHT * agreement) / (1.0 + BAND_WEIGHT), 0.0)
    hqi = 100.0 * np.minimum(np.square(combined), 1.0)
    best = np.argpartition(-hqi, 5)[:5]
    return best[np.argsort(-hqi[best])], hqi


runs = 20
seconds = min(timeit.repeat(rank, number=1, repeat=runs))
best, hqi = rank()
top = [int(line.split()[0]) for line in (folder / "top.txt").read_text().split("\n") if line]
top_hqi = [float(line.split()[1]) for line in (folder / "top.txt").read_text().split("\n") if line]
agree = list(best) == top and np.allclose(hqi[best], top_hqi, atol=1e-3)
veltrane_ms = float((folder / "veltrane_ms.txt").read_text())
print(f"ranking numpy_ms_per_search={seconds * 1e3:.2f} veltrane_ms_per_search={veltrane_ms:.2f} "
      f"entries={matrix.shape[0]} "
      f"same_best_five={'yes' if agree else 'no'} best_hqi={hqi[best[0]]:.2f}")
