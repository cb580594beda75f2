"""Allan deviation of evenly spaced samples and the noise terms read from it.

The overlapping Allan variance at m samples (tau = m * tau0) is, with theta
the running sum of the samples,

    avar(m) = sum_k (theta[k+2m] - 2 theta[k+m] + theta[k])^2 / (2 m^2 (N - 2m))

and is pooled over several stretches by summing the squares and the terms.
Its noise terms (IEEE Std 952):

    avar(tau) = N^2 / tau + (2 ln 2 / pi) B^2 + K^2 tau / 3

white noise N (slope -1/2 of the deviation; its value at tau = 1 s), bias
instability B (the flat part; read as the least deviation / 0.664, at the tau
where it occurs) and rate random walk K (slope +1/2; its value at tau = 3 s).
N^2, B^2 and K^2 are fitted to the variances at once by least squares
without negative terms, each variance weighted by its samples' count.
"""

import math

import numpy as np

FLAT = 2 * math.log(2) / math.pi       # avar of bias instability B: FLAT * B^2
FLAT_DEVIATION = math.sqrt(FLAT)       # 0.664


def octaves(samples):
    """Samples per average: 1, 2, 4, ... up to a quarter of the samples."""
    out, m = [], 1
    while m <= samples // 4:
        out.append(m)
        m *= 2
    return np.array(out, np.int64)


def allan_sums(values, ms):
    """(sum of squared second differences, terms) for each m in ms, of one
    stretch of samples."""
    y = np.array(values, np.float64)
    y -= y.mean()
    theta = np.empty(len(y) + 1)
    theta[0] = 0.0
    np.cumsum(y, out=theta[1:])
    del y
    buf = np.empty(len(theta))
    sums, terms = np.zeros(len(ms)), np.zeros(len(ms), np.int64)
    for i, m in enumerate(ms):
        n = len(theta) - 2 * m
        if n <= 0:
            continue
        d = buf[:n]
        np.subtract(theta[2 * m:], theta[m:-m], out=d)
        np.subtract(d, theta[m:-m], out=d)
        np.add(d, theta[:n], out=d)
        sums[i] = np.dot(d, d)
        terms[i] = n
    return sums, terms


def allan_deviation(stretches, ms):
    """Overlapping Allan deviation for each m, pooled over the stretches
    (arrays of samples); NaN where no stretch is long enough. Also the terms
    behind each."""
    sums, terms = np.zeros(len(ms)), np.zeros(len(ms), np.int64)
    for values in stretches:
        s, t = allan_sums(values, ms)
        sums += s
        terms += t
    with np.errstate(invalid="ignore", divide="ignore"):
        avar = sums / (2.0 * ms.astype(float) ** 2 * terms)
    return np.sqrt(avar), terms


def _nonnegative_fit(basis, target, weight):
    """Least squares of basis @ x = target, x >= 0, trying every subset of
    the columns (there are three)."""
    k = basis.shape[1]
    best, best_cost = np.zeros(k), np.sum(weight * target ** 2)
    for subset in range(1, 1 << k):
        use = [j for j in range(k) if subset >> j & 1]
        a = basis[:, use] * np.sqrt(weight)[:, None]
        x, *_ = np.linalg.lstsq(a, target * np.sqrt(weight), rcond=None)
        if np.any(x < 0):
            continue
        full = np.zeros(k)
        full[use] = x
        cost = np.sum(weight * (basis @ full - target) ** 2)
        if cost < best_cost:
            best, best_cost = full, cost
    return best


class NoiseTerms:
    """white (N), instability (B) with its tau and whether it is only a bound
    (the deviation still falls at the longest tau), walk (K) and whether it
    is only a bound (not seen in the log's length)."""

    def __init__(self, white, instability, instability_tau, instability_bound,
                 walk, walk_bound, flat):
        self.white = white
        self.instability = instability
        self.instability_tau = instability_tau
        self.instability_bound = instability_bound
        self.walk = walk
        self.walk_bound = walk_bound
        self.flat = flat               # B of the fit (flat part)


def noise_terms(taus, adev, terms, ms):
    """Reads the noise terms from one axis's Allan deviation."""
    ok = np.isfinite(adev) & (terms > 0) & (adev > 0)
    if not ok.any():                   # a constant value: no noise at all
        return NoiseTerms(0.0, 0.0, float("nan"), False, 0.0, False, 0.0)
    taus, adev, terms, ms = taus[ok], adev[ok], terms[ok], ms[ok]
    avar = adev ** 2
    # Each variance relative to itself, weighted by its independent averages.
    basis = np.column_stack([1 / taus, np.full(len(taus), FLAT), taus / 3])
    weight = terms / ms.astype(float)
    x = _nonnegative_fit(basis / avar[:, None], np.ones(len(taus)), weight)
    white, flat, walk = np.sqrt(x)
    least = int(np.argmin(adev))
    walk_bound = not walk > 0
    if walk_bound:
        walk = adev[-1] * math.sqrt(3 / taus[-1])
    return NoiseTerms(white, adev[least] / FLAT_DEVIATION, taus[least],
                      least == len(adev) - 1, walk, walk_bound, flat)


def log_slopes(taus, adev):
    """Slope of log deviation over log tau between neighbouring taus."""
    return np.diff(np.log(adev)) / np.diff(np.log(taus))
