// Aperture photometry of one star in an image with an error image, and
// evenly spaced index and value lists.
#ifndef PSFTOOLS_APERTURE_H
#define PSFTOOLS_APERTURE_H

#include "orv/MArray.h"

// The flux within radius r of (x, y) minus sky per pixel, and its error (the
// pixel errors added in quadrature). Pixels with (k − fx)² + (l − fy)² < r²
// count, (k, l) the offset from the nearest pixel and (fx, fy) the star's
// offset from it. Any counted pixel that is blank (equal to blank) or not
// finite, has an error not above 0 or lies outside the image, or a star
// within r of the image edge, gives flux 0 and error −1. The images share their caller's
// storage and must have the same index ranges.
void aperture(orv::MArray<float, 2> image, orv::MArray<float, 2> error, double x, double y,
              double &flux, double &flux_error, double r, double sky, double blank, int verbose);

// As aperture, with the sky per pixel taken as the median of the usable
// pixels (not blank, finite, error above 0, inside the image) of the annulus
// r_in² <= d² < r_out²; an annulus without usable pixels gives flux 0 and
// error −1.
void aperture_sky(orv::MArray<float, 2> image, orv::MArray<float, 2> error, double x, double y,
                  double &flux, double &flux_error, double r, double r_in, double r_out,
                  double blank, int verbose);

// n values from a to b, evenly spaced (indices 1..n; the last one is b).
// The int version truncates the steps, taken in single precision. n < 1
// gives an empty array.
orv::MArray<int, 1> span(int a, int b, int n);
orv::MArray<double, 1> span(double a, double b, int n);

#endif
