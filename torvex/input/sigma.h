// The sigma image that weighs every pixel of chi^2, and the bad-pixel mask
// given as a text list.
#ifndef TORVEX_INPUT_SIGMA_H
#define TORVEX_INPUT_SIGMA_H

#include "torvex/structs.h"

// A new record of d's size holding the sigma image estimated from d:
// the data smoothed (Gaussian of 2 pixels cut at 3; pixels that are not
// numbers take no part), a pedestal that lifts a mean below 10 to 10, and
// sigma = sqrt((s + P) G + rdnoise^2 ncombine) / G with the effective gain
// G = gain * ncombine (at least 1).  Release with free_mini.
image *sigma_img(const image &d);

// A sigma value more than SIGMA_RANGE times below the median of the
// usable values of its image (usable_sigma of fitstep.h) is a bad pixel.
constexpr double SIGMA_RANGE = 1e10;

// Repairs a sigma image given by the user.  A value that can weigh a pixel
// but lies more than SIGMA_RANGE times below the median of those values
// becomes NaN, so that the fit leaves it out as it does the other values
// that cannot weigh theirs (negative, not a number, a weight 1/sigma^2 that
// overflows; these stay as they are).  When the image has pixels of
// exactly 0, they take the smallest value that is left to weigh a pixel;
// returns that value, or 0 when no pixel was 0.  An image without a single
// pixel that can weigh anything ends the run with a message and status 1.
float sigcheck(image sigma);

// The number of pixels of a sigma image that cannot weigh theirs
// (usable_sigma of fitstep.h), and so leave the fit.
long unusable_sigma_pixels(const image &sigma);

// Makes mask->z (mask->naxes set by the caller) all 0 and marks with 1 the
// pixels listed in the text file mask->name, one "x y" per line (lines
// starting with '#' and lines without two numbers are skipped, positions
// outside the image ignored).  Returns 1 when the file cannot be opened or
// read (a folder, a read error; the mask stays all 0), else 0.
int badpixlist(image *mask);

#endif
