#!/usr/bin/python3
"""Sets Veltrane's smoothing beside SciPy's Savitzky-Golay filter on the same
2500-point spectrum: the same least-squares polynomial fit over 21 points
(polynomial order = coefficients - 1; the ten points at either end from the
fit to the first or last 21 points, SciPy's mode "interp"). Prints one line
per level: the largest difference relative to the spectrum's range, and the
time per spectrum of each.

At level 1 (order 19 over 21 points) SciPy's coefficients come from a
least-squares solve on the plain powers of -10..10, which is ill-conditioned
(NumPy warns "Polyfit may be poorly conditioned"); so each level is also set
beside the same fit done in a Legendre basis on [-1, 1], which is not."""
import subprocess
import sys
import timeit
import warnings

import numpy as np
from scipy.signal import savgol_filter

smooth_dump = sys.argv[1]
i = np.arange(2500, dtype=np.float32)
# The input of BM_SmoothSpectrum.
spectrum = (np.float32(1000.0) + np.float32(400.0) * np.sin(i * np.float32(0.03)) +
            (np.arange(2500) * 7919 % 101).astype(np.float32)).astype(np.float32)
span = float(spectrum.max() - spectrum.min())
warnings.simplefilter("ignore")


def legendre_reference(values, order):
    t = (np.arange(21) - 10) / 10.0
    basis = np.polynomial.legendre.legvander(t, order)
    weights = basis @ np.linalg.pinv(basis)  # row p: the fit's value at window position p
    out = np.empty(len(values))
    values = values.astype(np.float64)
    n = len(values)
    for k in range(n):
        if k < 10:
            out[k] = weights[k] @ values[:21]
        elif k >= n - 10:
            out[k] = weights[k - (n - 21)] @ values[-21:]
        else:
            out[k] = weights[10] @ values[k - 10:k + 11]
    return out

for level in (1, 5, 10):
    coefficients = 22 - 2 * level
    ours = np.frombuffer(subprocess.run([smooth_dump, str(level)], input=spectrum.tobytes(),
                                        capture_output=True, check=True).stdout, dtype=np.float32)
    reference = savgol_filter(spectrum.astype(np.float64), 21, coefficients - 1, mode="interp")
    worst = float(np.max(np.abs(ours.astype(np.float64) - reference))) / span
    worst_legendre = float(np.max(np.abs(ours.astype(np.float64) - legendre_reference(spectrum, coefficients - 1)))) / span
    runs = 200
    seconds = min(timeit.repeat(lambda: savgol_filter(spectrum, 21, coefficients - 1, mode="interp"),
                                number=runs, repeat=5)) / runs
    print(f"scipy_savgol level={level} us_per_spectrum={seconds * 1e6:.1f} max_rel_diff={worst:.2e} "
          f"legendre_max_rel_diff={worst_legendre:.2e}")
