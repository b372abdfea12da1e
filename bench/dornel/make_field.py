#!/usr/bin/python3
"""Writes a 2048 x 2048 test field and its error image for the sky benchmarks.

    make_field.py DIR

DIR/field.fits holds a gently curved sky near 100, a large exponential
galaxy at (1070, 1077) (the default galaxy centre of the spline sky), 3000
Gaussian stars and Gaussian noise of sigma 5; DIR/e.field.fits holds the
noise sigma of every pixel. The seed is fixed, so every run makes the same
files.
"""
import sys

import numpy as np
from astropy.io import fits

SIDE = 2048
SIGMA = 5.0


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    rng = np.random.default_rng(20280)
    y, x = np.mgrid[1:SIDE + 1, 1:SIDE + 1].astype(np.float64)
    u, v = x / SIDE - 0.5, y / SIDE - 0.5
    sky = 100 + 8 * u - 5 * v + 12 * u * u + 4 * u * v - 9 * v * v
    # An exponential disc of scale length 120 pixels, axis ratio 0.6.
    cx, cy, pa = 1070.0, 1077.0, np.radians(30)
    dx, dy = x - cx, y - cy
    major = dx * np.cos(pa) + dy * np.sin(pa)
    minor = -dx * np.sin(pa) + dy * np.cos(pa)
    galaxy = 3000 * np.exp(-np.hypot(major, minor / 0.6) / 120)
    stars = np.zeros_like(sky)
    for sx, sy, flux in zip(rng.uniform(1, SIDE, 3000), rng.uniform(1, SIDE, 3000),
                            10 ** rng.uniform(2.5, 5.0, 3000)):
        x0, x1 = int(max(1, sx - 8)), int(min(SIDE, sx + 8))
        y0, y1 = int(max(1, sy - 8)), int(min(SIDE, sy + 8))
        ys, xs = np.mgrid[y0:y1 + 1, x0:x1 + 1]
        stars[y0 - 1:y1, x0 - 1:x1] += flux / (2 * np.pi * 1.5 ** 2) * np.exp(
            -((xs - sx) ** 2 + (ys - sy) ** 2) / (2 * 1.5 ** 2))
    image = sky + galaxy + stars + rng.normal(0.0, SIGMA, sky.shape)
    fits.PrimaryHDU(image.astype(np.float32)).writeto(f"{out}/field.fits", overwrite=True)
    fits.PrimaryHDU(np.full(sky.shape, SIGMA, np.float32)).writeto(f"{out}/e.field.fits", overwrite=True)
    fits.PrimaryHDU(sky.astype(np.float32)).writeto(f"{out}/true_sky.fits", overwrite=True)


if __name__ == "__main__":
    main()
