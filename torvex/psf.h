// The PSF once it has been read: padding to even sizes, the charge-diffusion
// kernel, the FWHM, the bicubic patches of every PSF cell, and the copy of
// the PSF moved by a fraction of a pixel.
//
// The PSF's centre pixel is column nx/2 + 1, row ny/2 + 1 (nx, ny even after
// psfcheck); every kernel that is prepared for convolution is centred the
// same way.
#ifndef TORVEX_PSF_H
#define TORVEX_PSF_H

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
// that cannot be opened, for rows of unequal length, for a kernel of at most
// one number and for one whose numbers sum to 0 or not to a finite number.
// The caller owns the record and its matrix (rows 1..naxes[2], columns
// 1..naxes[1]).
image *getkernel(const char *input_kernel);

// FWHM of the PSF in PSF pixels: the mean of the half-maximum widths along
// the peak's row and column, by linear interpolation, less 0.5 when below 3.
// Pixels beyond the border count as 0; a PSF without a positive pixel gives 0.
float psf_fwhm(image psf);

// Bicubic patches of every PSF cell: rows 0..ny + 1, columns 0..nx + 1;
// entry [j][k] covers columns k..k+1 and rows j..j+1, and is 0 outside the
// PSF.  Release with free_cgrid(cg, 0, ny + 1, 0, nx + 1).
bicubic_grid **get_cgrid(image psf);

// Corner values y and derivatives along columns (y1), rows (y2) and across
// (y12) of the cell with lower corner (x, y), into [1..4] counter-clockwise
// from (x, y); corners outside the PSF are 0.  y1a, y2a, y12a are the
// derivative images over rows 0..ny + 1 and columns 0..nx + 1.
void get_derivs(image psf, int x, int y, float **y1a, float **y2a, float **y12a,
                float *yi, float *y1i, float *y2i, float *y12i);

// An empty patch array, and its release with every entry's matrix.
bicubic_grid **new_cgrid(long nrl, long nrh, long ncl, long nch);
void free_cgrid(bicubic_grid **m, long nrl, long nrh, long ncl, long nch);

// Row-by-row natural-spline second derivatives of the PSF; x1a[1..ny] and
// x2a[1..nx] receive the pixel numbers.  Release with free_matrix(.., 1, ny,
// 1, nx).
float **spline_psf(image psf, float *x1a, float *x2a);

// Shape and half-width of the Kaiser-Bessel window of sinc, set by shift_psf.
extern float alpha_win;
extern float tau_win;

// Writes into tpsf->z (of the PSF's size) the PSF moved by +dx columns and
// +dy rows, |dx|, |dy| <= 0.5.  A PSF with an FWHM between 1.2 and 4 pixels
// is moved by a windowed-sinc convolution with its wings from the bicubic
// patches cg; a narrower or wider one by the bicubic patches alone.  Reads
// fwhmpsf and cg.
void shift_psf(image psf, image *tpsf, float dx, float dy);

// sin(pi x)/(pi x) in a Kaiser-Bessel window of alpha_win and tau_win.
float sinc(float x);

// Modified Bessel function I0(x).
float bessi0(float x);

#endif
