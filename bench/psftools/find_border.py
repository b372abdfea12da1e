#!/usr/bin/python3
"""Which stars near the image border psf::find finds (through
build/bin/find_stars, whose search keeps boxlen = 6 pixels from the border),
as the image is and padded with pixels of error 0.

Usage: bench/psftools/find_border.py [FLUX ...] [--find-stars PATH]
       (default fluxes 300 5000, default build/bin/find_stars)

The field: 200 x 200 pixels, noise of sigma 5 (seeded), Gaussian stars of
FWHM 2.5 (exact pixel integrals) of one flux, four at each distance d = 0 to
11 pixels from the border, one per border, the star's centre on pixel 1 + d
(or on the last pixel - d). For each flux the search runs on the image as it
is and on the image padded by boxlen pixels of value 0 and error 0 (bad
pixels, which no fit uses); a star is found when a detection lies within
1.5 pixels of it. Prints, per distance, how many of its four stars were
found, and the detections near no star.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_find as cf  # noqa: E402  (installs astropy when missing)

import numpy as np  # noqa: E402
from astropy.io import fits  # noqa: E402

SIDE = 200
BOXLEN = 6
DISTANCES = range(12)


def field(flux):
    """The image and the stars (x, y, distance), positions from 1."""
    stars = []
    for k, d in enumerate(DISTANCES):
        t = 30 + 12 * k + 0.2 * (k % 3)
        for x, y in ((1 + d, t), (SIDE - d, t + 3), (t, 1 + d), (t + 3, SIDE - d)):
            stars.append((x, y, d))
    image = np.zeros((SIDE, SIDE))
    for x, y, _ in stars:
        x0, x1 = max(1, int(x) - 8), min(SIDE, int(x) + 8)
        y0, y1 = max(1, int(y) - 8), min(SIDE, int(y) + 8)
        image[y0 - 1:y1, x0 - 1:x1] += flux * cf.star_stamp(x, y, x0, x1, y0, y1, cf.FWHM, None)
    image += np.random.default_rng(7).normal(0, cf.SIGMA, image.shape)
    return image, stars


def search(ours, folder, image, error, pad):
    """The detections (x, y) in the coordinates of the unpadded image."""
    fits.PrimaryHDU(image.astype(np.float32)).writeto(f"{folder}/f.fits", overwrite=True)
    fits.PrimaryHDU(error.astype(np.float32)).writeto(f"{folder}/e.f.fits", overwrite=True)
    subprocess.run([ours, "f.fits", "e.f.fits", "l.txt"], cwd=folder, check=True,
                   capture_output=True)
    return cf.load(f"{folder}/l.txt") - pad


def main():
    args = sys.argv[1:]
    ours = cf.find_stars_option(args)
    print(f"stars found of the 4 at each distance from the border (boxlen {BOXLEN})")
    print(f"  {'flux':>5} {'image':<12} " + " ".join(f"{d:>2}" for d in DISTANCES) + "  other")
    with tempfile.TemporaryDirectory(prefix="find_border.") as folder:
        for flux in [float(a) for a in args] or [300.0, 5000.0]:
            image, stars = field(flux)
            error = np.full(image.shape, cf.SIGMA)
            padded, epadded = (np.pad(a, BOXLEN) for a in (image, error))
            for name, im, er, pad in (("as it is", image, error, 0),
                                      ("padded", padded, epadded, BOXLEN)):
                found = search(ours, folder, im, er, pad)
                near = [np.hypot(found[:, 0] - x, found[:, 1] - y) <= 1.5 for x, y, _ in stars]
                per = {d: 0 for d in DISTANCES}
                for (_, _, d), hits in zip(stars, near):
                    per[d] += int(hits.any())
                other = int((~np.any(near, axis=0)).sum()) if len(found) else 0
                print(f"  {flux:>5.0f} {name:<12} " + " ".join(f"{per[d]:>2}" for d in DISTANCES) +
                      f"  {other:>5}")


if __name__ == "__main__":
    main()
