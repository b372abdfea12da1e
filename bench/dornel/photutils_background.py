#!/usr/bin/python3
"""The mesh background of photutils on one image, for the sky benchmark.

    photutils_background.py IMAGE OUTPUT

Reads IMAGE, estimates the background with Background2D in boxes of
64 x 64 pixels with 3-sigma clipping and a 3 x 3 median filter of the mesh,
and writes the background map to OUTPUT. Prints the seconds spent on reading,
estimating and writing (without the start of the interpreter).
"""
import sys
import time

start_imports = time.perf_counter()
from astropy.io import fits  # noqa: E402
from astropy.stats import SigmaClip  # noqa: E402
from photutils.background import Background2D, MedianBackground  # noqa: E402


def main():
    start = time.perf_counter()
    data = fits.getdata(sys.argv[1]).astype("float32", copy=False)
    background = Background2D(data, (64, 64), filter_size=(3, 3), sigma_clip=SigmaClip(sigma=3.0),
                              bkg_estimator=MedianBackground())
    fits.PrimaryHDU(background.background.astype("float32")).writeto(sys.argv[2], overwrite=True)
    print(f"work {time.perf_counter() - start:.3f} s")


if __name__ == "__main__":
    main()
