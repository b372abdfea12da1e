#!/usr/bin/python3
"""photutils' DAOStarFinder on one image, for the star-finding benchmark.

    daofind.py IMAGE LIST [FWHM]

Reads IMAGE, finds stars with DAOStarFinder (FWHM 2.5 pixels unless given,
threshold 5 times the noise sigma 5 of the field, background 0) and writes "x y flux"
per star to LIST, in FITS pixel coordinates (the first pixel is 1). Prints
the seconds of the search alone as "work SECONDS".
"""
import sys
import time

from astropy.io import fits  # noqa: E402
from photutils.detection import DAOStarFinder  # noqa: E402

SIGMA = 5.0


def main():
    data = fits.getdata(sys.argv[1]).astype("float64")
    fwhm = float(sys.argv[3]) if len(sys.argv) > 3 else 2.5
    start = time.perf_counter()
    stars = DAOStarFinder(fwhm=fwhm, threshold=5 * SIGMA)(data)
    work = time.perf_counter() - start
    with open(sys.argv[2], "w") as out:
        if stars is not None:
            for x, y, f in zip(stars["xcentroid"], stars["ycentroid"], stars["flux"]):
                out.write(f"{x + 1:.3f} {y + 1:.3f} {f:.6g}\n")
    print(f"work {work:.3f} s")


if __name__ == "__main__":
    main()
