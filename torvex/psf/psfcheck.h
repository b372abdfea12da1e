// The PSF once it has been read: padding to even sizes, the charge-diffusion
// kernel and the FWHM.
//
// The PSF's centre pixel is column nx/2 + 1, row ny/2 + 1 (nx, ny even after
// psfcheck); every kernel that is prepared for convolution is centred the
// same way.
#ifndef TORVEX_PSF_PSFCHECK_H
#define TORVEX_PSF_PSFCHECK_H

#include "torvex/structs.h"

// Pads an odd-sized PSF to even sizes in place: an odd axis gains one zero
// row or column at its start.  Refuses, with a message through pfunc and a
// result of 1, a PSF smaller than 2 x 2 pixels, one whose axes are shorter
// than its oversampling factor input.sampfac (it would span less than a data
// pixel), or one whose pixels sum to 0 or to a value that is not a finite
// number (it could not be normalised); the PSF is then left as it was.  0
// when the PSF is fit for use.
int psfcheck(image *psf);

// Reads the charge-diffusion kernel from a text file: one row per line,
// numbers separated by white space, every line as long as the first.  An odd
// size gains a zero first row or column, as the PSF does.  Null for a file
// that cannot be opened, for a word that is not a number, for rows of
// unequal length, for a kernel of at most one number and for one whose
// numbers sum to 0 or not to a finite number.
// The caller owns the record and its matrix (rows 1..naxes[2], columns
// 1..naxes[1]).
image *getkernel(const char *input_kernel);

// FWHM of the PSF in PSF pixels: the mean of the half-maximum widths along
// the peak's row and column, by linear interpolation, less 0.5 when below 3.
// Pixels beyond the border count as 0; a PSF without a positive pixel gives 0.
float psf_fwhm(image psf);

#endif
