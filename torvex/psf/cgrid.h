// The bicubic patches of every PSF cell, which carry the PSF between its
// pixels when it is moved by a fraction of a pixel.
#ifndef TORVEX_PSF_CGRID_H
#define TORVEX_PSF_CGRID_H

#include "torvex/structs.h"

// Bicubic patches of every PSF cell: rows 0..ny + 1, columns 0..nx + 1;
// entry [j][k] covers columns k..k+1 and rows j..j+1, and is 0 outside the
// PSF.  Release with free_cgrid(cg, 0, ny + 1, 0, nx + 1).
bicubic_grid **get_cgrid(image psf);

// Corner values y and derivatives along columns (y1), rows (y2) and across
// (y12) of the cell with lower corner (x, y), into [1..4] counter-clockwise
// from (x, y); corners outside the PSF are 0.  y1a, y2a, y12a are the
// derivative images over rows 0..ny + 1 and columns 0..nx + 1.
void get_derivs(image psf, int x, int y, float **y1a, float **y2a, float **y12a, float *yi,
                float *y1i, float *y2i, float *y12i);

// An empty patch array, and its release with every entry's matrix.
bicubic_grid **new_cgrid(long nrl, long nrh, long ncl, long nch);
void free_cgrid(bicubic_grid **m, long nrl, long nrh, long ncl, long nch);

// Row-by-row natural-spline second derivatives of the PSF; x1a[1..ny] and
// x2a[1..nx] receive the pixel numbers.  Release with free_matrix(.., 1, ny,
// 1, nx).
float **spline_psf(image psf, float *x1a, float *x2a);

#endif
