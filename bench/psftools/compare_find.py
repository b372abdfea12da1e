#!/usr/bin/python3
"""Times star finding (psf::find through build/bin/find_stars) beside
photutils' DAOStarFinder on one generated field, and counts what each finds.

Usage: bench/psftools/compare_find.py [--sample-error=E] [--largest-chi=C]
           [--fwhm=F] [--moffat=BETA] [--sky=LEVEL,AMPLITUDE]
           [--subtract=none|median|background2d|dornel] [--merge=R] [--match=R]
           [--psf-fwhm=F] [--radius=R] [--analyt=A] [--boxlen=B]
           [--shifts=S] [--subgrid=G] [REPEATS] [path of find_stars]
       (defaults those of find_stars, 5 and build/bin/find_stars)

The field: 1024 x 1024 pixels, 1000 Gaussian stars of FWHM 2.5 pixels
(exact pixel integrals) at uniform positions at least 8 pixels from the
border, fluxes log-uniform from 150 to 30000, on a background of 0 with
Gaussian noise of sigma 5 (the error image holds 5 everywhere); the seed is
fixed, so every run makes the same field. find_stars searches it with a
Gaussian PSF of the same FWHM at 5 sub-pixel shifts, fit radius 3,
significance 5 and largest chi 3, its sub-grid samples given the error
10^-3, 0.015 over the sub-grid of 15 (the options pass other values on), on
all cores (OMP_NUM_THREADS chooses otherwise); DAOStarFinder with the stars'
FWHM and a threshold of 5 sigma.

Options change the field and the search, one at a time, to show what a
user meets: --fwhm makes stars of another FWHM (and the PSF of find and
DAOStarFinder with them), --moffat Moffat stars of power law BETA (pixel
integrals over 10 x 10 points; find's PSF a Moffat profile too), --psf-fwhm
gives find's PSF another FWHM than the stars'. --sky adds a smooth sky
LEVEL + AMPLITUDE * sin(pi x / side) * cos(1.5 pi y / side) (x, y from 0),
which --subtract then removes before both programs run: not at all (the
default), by the image's median, by photutils' Background2D (boxes of 32
pixels, 3 x 3 median filter, sigma-clipped medians) or by dornel's spline
sky (build/bin/dornel -s -k 3 beside find_stars). --merge=R adds a line for
find's list merged as a caller would: detections by decreasing amplitude,
each dropped when a kept one lies within R pixels. --match=R matches
detections to stars within R pixels instead of 1.5. --radius, --analyt,
--boxlen, --shifts and --subgrid go to find_stars.

The two programs take turns within every repeat; the table gives the
medians of each program's own clock (the search alone, without reading
files or starting Python), of the whole process, of its system time (for
find mostly the kernel clearing the fresh pages it uses) and of its peak
memory (find_memory.py does larger fields). A
detection recovers the nearest true star within 1.5 pixels that no nearer
detection took; the other detections are false. A second table gives, for
each program, the stars recovered out of those there are in each flux range
and the false detections.

photutils is a reference for this script only (Debian python3-photutils,
hence the Debian interpreter, installed by scripts/setup.sh --bench when
missing); nothing builds on it.
"""
import os
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.normpath(os.path.join(here, "..", ".."))
subprocess.run([os.path.join(root, "scripts", "setup.sh"), "--bench"], check=True)

import numpy as np  # noqa: E402
from astropy.io import fits  # noqa: E402
from scipy.special import erf  # noqa: E402

SIDE = 1024
STARS = 1000
SIGMA = 5.0
FWHM = 2.5
MATCH = 1.5
# Edges of the flux ranges of the recall table.
FLUX_EDGES = [150, 300, 1000, 3000, 10000, 30000]


def star_stamp(sx, sy, x0, x1, y0, y1, fwhm, beta):
    """A star of flux 1 at (sx, sy) over pixels x0..x1 by y0..y1 (from 1):
    exact pixel integrals of a Gaussian, or a Moffat profile integrated over
    10 x 10 points per pixel."""
    if beta is None:
        s = fwhm / (2 * np.sqrt(2 * np.log(2))) * np.sqrt(2)
        # Pixel i (from 1) covers [i - 0.5, i + 0.5].
        ex = np.diff(erf((np.arange(x0, x1 + 2) - 0.5 - sx) / s)) / 2
        ey = np.diff(erf((np.arange(y0, y1 + 2) - 0.5 - sy) / s)) / 2
        return np.outer(ey, ex)
    alpha = fwhm / (2 * np.sqrt(2 ** (1 / beta) - 1))
    sub = (np.arange(10) + 0.5) / 10 - 0.5
    u = (np.arange(x0, x1 + 1)[:, None] + sub[None, :]).ravel() - sx
    v = (np.arange(y0, y1 + 1)[:, None] + sub[None, :]).ravel() - sy
    r2 = (v[:, None] ** 2 + u[None, :] ** 2) / alpha ** 2
    p = (beta - 1) / (np.pi * alpha ** 2) * (1 + r2) ** -beta / 100
    return p.reshape(y1 - y0 + 1, 10, x1 - x0 + 1, 10).sum(axis=(1, 3))


def make_field(folder, side=SIDE, stars=STARS, fwhm=FWHM, beta=None, sky=None):
    """field.fits and e.field.fits in the folder; returns the true positions
    (from 1) and fluxes."""
    rng = np.random.default_rng(20250611)
    x = rng.uniform(8, side - 7, stars)
    y = rng.uniform(8, side - 7, stars)
    flux = 10 ** rng.uniform(np.log10(150), np.log10(30000), stars)
    image = np.zeros((side, side))
    # Far enough out that the flux beyond is negligible.
    half = max(8, int(np.ceil((4 if beta is None else 8) * fwhm)))
    for sx, sy, f in zip(x, y, flux):
        x0, x1 = max(1, int(sx) - half), min(side, int(sx) + half)
        y0, y1 = max(1, int(sy) - half), min(side, int(sy) + half)
        image[y0 - 1:y1, x0 - 1:x1] += f * star_stamp(sx, sy, x0, x1, y0, y1, fwhm, beta)
    image += rng.normal(0.0, SIGMA, image.shape)
    if sky is not None:
        level, amplitude = sky
        u = np.arange(side) / side
        image += level + amplitude * np.outer(np.cos(1.5 * np.pi * u), np.sin(np.pi * u))
    fits.PrimaryHDU(image.astype(np.float32)).writeto(f"{folder}/field.fits", overwrite=True)
    fits.PrimaryHDU(np.full(image.shape, SIGMA, np.float32)).writeto(
        f"{folder}/e.field.fits", overwrite=True)
    return np.column_stack([x, y]), flux


def run(command, folder):
    """Runs a command; returns its output, wall seconds, system seconds and peak
    memory in MB."""
    start = time.perf_counter()
    child = subprocess.Popen(command, cwd=folder, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
    output = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"failed: {' '.join(command)}\n{output}")
    return output, wall, usage.ru_stime, usage.ru_maxrss / 1024


def own_clock(output):
    return float(next(line.split()[1] for line in output.splitlines()
                      if line.startswith("work ")))


def score(found, truth):
    """The indices of the recovered true stars and the number of false
    detections."""
    if len(found) == 0:
        return [], 0
    d = np.hypot(found[:, None, 0] - truth[None, :, 0], found[:, None, 1] - truth[None, :, 1])
    taken_found, taken_true = set(), set()
    for i, j in zip(*np.unravel_index(np.argsort(d, axis=None), d.shape)):
        if d[i, j] > MATCH:
            break
        if i not in taken_found and j not in taken_true:
            taken_found.add(i)
            taken_true.add(j)
    return sorted(taken_true), len(found) - len(taken_found)


def recall_table(results, flux):
    """Prints, per program, recovered / stars in each flux range and the
    false detections."""
    ranges = list(zip(FLUX_EDGES[:-1], FLUX_EDGES[1:]))
    bins = np.digitize(flux, FLUX_EDGES[1:-1])
    stars = np.bincount(bins, minlength=len(ranges))
    print()
    print("  recovered by flux range (stars recovered / stars there are), false detections")
    print(f"  {'program':<27} " + " ".join(f"{f'{lo}-{hi}':>11}" for lo, hi in ranges) +
          f" {'false':>6}")
    for name, (recovered, false) in results.items():
        found = np.bincount(bins[recovered], minlength=len(ranges))
        print(f"  {name:<27} " + " ".join(f"{f'{n}/{m}':>11}" for n, m in zip(found, stars)) +
              f" {false:>6d}")


def load(path, columns=2):
    rows = np.loadtxt(path, ndmin=2)
    return rows[:, :columns] if rows.size else np.empty((0, columns))


def merge(found, radius):
    """Detections (x, y, amplitude) by decreasing amplitude, each dropped when
    a kept one lies within the radius."""
    kept = []
    for row in found[np.argsort(-found[:, 2], kind="stable")]:
        if all(np.hypot(row[0] - k[0], row[1] - k[1]) > radius for k in kept):
            kept.append(row)
    return np.array(kept).reshape(-1, 3)


def subtract_sky(folder, how):
    """Removes the sky of field.fits in place: not at all, by the median, by
    photutils' Background2D or by dornel's spline sky."""
    if how == "none":
        return
    path = os.path.join(folder, "field.fits")
    image = fits.getdata(path).astype(np.float64)
    if how == "median":
        image -= np.median(image)
    elif how == "background2d":
        from astropy.stats import SigmaClip
        from photutils.background import Background2D, MedianBackground
        image -= Background2D(image, (32, 32), filter_size=(3, 3), sigma_clip=SigmaClip(3.0),
                              bkg_estimator=MedianBackground()).background
    elif how == "dornel":
        dornel = os.path.join(root, "build", "bin", "dornel")
        os.rename(path, os.path.join(folder, "sky.fits"))
        os.symlink("e.field.fits", os.path.join(folder, "e.sky.fits"))
        run([dornel, "-s", "-k", "3", "sky.fits"], folder)
        image = fits.getdata(os.path.join(folder, "ssky.fits")).astype(np.float64)
    else:
        sys.exit(f"--subtract: none, median, background2d or dornel, not {how}")
    fits.PrimaryHDU(image.astype(np.float32)).writeto(path, overwrite=True)


def find_stars_option(args):
    """The find_stars program (--find-stars PATH, taken out of args, or the
    build's own), as an absolute path; exits when it is not built."""
    ours = os.path.join(root, "build", "bin", "find_stars")
    if "--find-stars" in args:
        i = args.index("--find-stars")
        ours = args[i + 1]
        del args[i:i + 2]
    ours = os.path.abspath(ours)
    if not os.access(ours, os.X_OK):
        sys.exit(f"no find_stars at {ours}: build first (scripts/build.sh build)")
    return ours


def main():
    # --sample-error=E and --largest-chi=C go to find_stars as its last
    # arguments, the options of its PSF and search before them.
    options = {"--sample-error": None, "--largest-chi": None}
    field = {"--fwhm": None, "--moffat": None, "--sky": None, "--subtract": "none",
             "--merge": None, "--psf-fwhm": None, "--match": None}
    passed = ("--radius", "--analyt", "--boxlen", "--shifts", "--subgrid")
    search = []
    args = []
    for arg in sys.argv[1:]:
        name, _, value = arg.partition("=")
        if name in options:
            options[name] = str(float(value))
        elif name in field:
            field[name] = value
        elif name in passed:
            search.append(f"{name}={float(value):g}")
        else:
            args.append(arg)
    global MATCH
    MATCH = float(field["--match"] or MATCH)
    fwhm = float(field["--fwhm"] or FWHM)
    beta = float(field["--moffat"]) if field["--moffat"] else None
    sky = tuple(float(v) for v in field["--sky"].split(",")) if field["--sky"] else None
    search = [f"--fwhm={float(field['--psf-fwhm'] or fwhm):g}"] + \
        ([f"--moffat={beta:g}"] if beta else []) + search
    subgrid = next((int(float(a.split("=")[1])) for a in search if a.startswith("--subgrid=")),
                   15)
    if options["--largest-chi"] and not options["--sample-error"]:
        options["--sample-error"] = str(0.015 / subgrid)
    settings = [v for v in (options["--sample-error"], options["--largest-chi"]) if v]
    repeats = int(args[0]) if len(args) > 0 else 5
    # Absolute: the programs run in the field's folder.
    ours = os.path.abspath(args[1] if len(args) > 1 else
                           os.path.join(root, "build", "bin", "find_stars"))
    if not os.access(ours, os.X_OK):
        sys.exit(f"no find_stars at {ours}: build first (scripts/build.sh build)")
    with tempfile.TemporaryDirectory(prefix="compare_find.") as folder:
        truth, flux = make_field(folder, fwhm=fwhm, beta=beta, sky=sky)
        subtract_sky(folder, field["--subtract"])
        programs = {
            "find (psftools)": [ours] + search + ["field.fits", "e.field.fits", "ours.txt"] +
            settings,
            "DAOStarFinder (photutils)": ["/usr/bin/python3", os.path.join(here, "daofind.py"),
                                          "field.fits", "dao.txt", f"{fwhm:g}"],
        }
        lists = {"find (psftools)": "ours.txt", "DAOStarFinder (photutils)": "dao.txt"}
        times = {name: ([], [], [], []) for name in programs}
        threads = "?"
        for r in range(repeats):
            for name, command in programs.items():
                output, wall, kernel, peak = run(command, folder)
                own, process, system, memory = times[name]
                own.append(own_clock(output))
                process.append(wall)
                system.append(kernel)
                memory.append(peak)
                for line in output.splitlines():
                    if line.startswith("threads "):
                        threads = line.split()[1]
            print(f"repeat {r + 1}: " + ", ".join(
                f"{name} {times[name][0][-1]:.3f} s" for name in programs), flush=True)
        print()
        print(f"{SIDE} x {SIDE} pixels, {STARS} "
              f"{'Gaussian' if beta is None else f'Moffat (beta {beta:g})'} stars of FWHM "
              f"{fwhm:g}" + (f", sky {sky[0]:g} + {sky[1]:g} * pattern, subtracted: "
                             f"{field['--subtract']}" if sky else "") +
              f"; medians of {repeats} repeats; find on {threads} threads")
        print(f"  find_stars {' '.join(search + settings)}")
        print(f"  {'program':<27} {'own clock':>10} {'process':>9} {'system':>9} {'peak':>8} "
              f"{'recovered':>10} {'false':>6}")
        medians = {}
        results = {}
        for name in programs:
            own, process, system, memory = (float(np.median(v)) for v in times[name])
            medians[name] = own
            recovered, false = score(load(os.path.join(folder, lists[name])), truth)
            results[name] = (recovered, false)
            print(f"  {name:<27} {own:>8.3f} s {process:>7.3f} s {system:>7.3f} s "
                  f"{memory:>5.0f} MB {len(recovered):>10d} {false:>6d}")
        if settings:
            print(f"  find with sample error {options['--sample-error']}" +
                  (f", largest chi {options['--largest-chi']}" if options["--largest-chi"] else ""))
        if field["--merge"]:
            radius = float(field["--merge"])
            merged = merge(load(os.path.join(folder, "ours.txt"), 3), radius)
            name = f"find, merged within {radius:g}"
            results[name] = score(merged[:, :2], truth)
            print(f"  {name:<27} {'':>10} {'':>9} {'':>9} {'':>8} "
                  f"{len(results[name][0]):>10d} {results[name][1]:>6d}")
        recall_table(results, flux)
        ratio = medians["find (psftools)"] / medians["DAOStarFinder (photutils)"]
        print()
        print(f"  own clocks, find / DAOStarFinder: {ratio:.2f} "
              f"(target 0.75: {'met' if ratio <= 0.75 else 'missed'})")


if __name__ == "__main__":
    main()
