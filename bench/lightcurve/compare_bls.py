#!/usr/bin/python3
"""Times the box search of the light-curve toolbox beside astropy's
BoxLeastSquares on the same light curve and the same trial periods.

Usage: bench/lightcurve/compare_bls.py [path of bench_boxsearch]
       (default build/bin/bench_boxsearch)

The light curve (10^4 points over 90 days: a box-shaped dip of depth 0.5%
and 0.12 days every 3.21 days, Gaussian noise of 0.2%) goes to a text file
that both read. The toolbox searches 10^4 frequencies evenly spaced from 1/10
to 1/1 per day for boxes of 1% to 10% of the period in 200 phase bins;
astropy searches the periods of the same frequencies with durations from 0.01
to 0.5 days, once with its bins as fine as the toolbox's finest (oversample
2: 0.005 days, the bin width of the toolbox at the shortest period) and once
with its default oversample of 10. Every time is the fastest of three runs:
on a shared machine other processes only ever add time.

astropy is a reference for this script only (Debian python3-astropy, hence
the Debian interpreter, installed by scripts/setup.sh --bench when missing);
the library does not use it.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)),
                             "..", "..", "scripts", "setup.sh"), "--bench"],
               check=True)

import numpy as np  # noqa: E402
from astropy.timeseries import BoxLeastSquares  # noqa: E402

# The trial grid of bench_boxsearch.cc.
FREQUENCIES = 10000
SHORTEST, LONGEST = 1.0, 10.0
REPEATS = 3


def light_curve():
    rng = np.random.default_rng(42)
    t = np.sort(rng.uniform(0, 90, 10000))
    x = np.remainder(t - 1.7 + 3.21 / 2, 3.21) - 3.21 / 2
    flux = np.where(np.abs(x) < 0.06, 0.995, 1.0) + rng.normal(0, 0.002, t.size)
    return t, flux, np.full(t.size, 0.002)


def trial_periods():
    # The frequencies as the search makes them: a step added in turn.
    step = (1 / SHORTEST - 1 / LONGEST) / (FREQUENCIES - 1)
    f = 1 / LONGEST
    freq = []
    for _ in range(FREQUENCIES):
        freq.append(f)
        f += step
    return 1 / np.array(freq)


def toolbox(program, name):
    out = subprocess.run([program, "--lightcurve=" + name, "--benchmark_format=json",
                          "--benchmark_repetitions=%d" % REPEATS], check=True, capture_output=True,
                         text=True).stdout
    runs = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    seconds = min(b["real_time"] for b in runs) / 1000  # reported in ms
    return seconds, runs[0]["best_period"]


def astropy(t, flux, error, oversample):
    model = BoxLeastSquares(t, flux, error)
    periods = trial_periods()
    durations = np.geomspace(0.01, 0.5, 10)
    best = float("inf")
    for _ in range(REPEATS):
        start = time.perf_counter()
        result = model.power(periods, durations, oversample=oversample)
        best = min(best, time.perf_counter() - start)
    return best, result.period[np.argmax(result.power)]


def main():
    program = sys.argv[1] if len(sys.argv) > 1 else "build/bin/bench_boxsearch"
    t, flux, error = light_curve()
    with tempfile.TemporaryDirectory() as folder:
        name = os.path.join(folder, "lightcurve.txt")
        np.savetxt(name, np.column_stack([t, flux, error]), fmt="%.17g")
        ours, our_period = toolbox(program, name)
    print("%-40s %8.3f s   best period %.5f" % ("toolbox boxfitting, 200 bins", ours, our_period))
    for oversample in (2, 10):
        theirs, their_period = astropy(t, flux, error, oversample)
        label = "astropy BoxLeastSquares, oversample %d" % oversample
        print("%-40s %8.3f s   best period %.5f   toolbox/astropy %.2f" %
              (label, theirs, their_period, ours / theirs))


if __name__ == "__main__":
    main()
