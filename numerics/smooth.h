// Gaussian smoothing of an image and copies between the program's float
// matrices and the double matrices of the FFT.
#ifndef NUMERICS_SMOOTH_H
#define NUMERICS_SMOOTH_H

// Convolves in[1..naxes[2]][1..naxes[1]] (rows, columns) with a Gaussian of
// width sigma cut at distance radius (pixels) into out, renormalising the
// weights that fall inside the image.  Pixels that are not finite take no
// part; where none in the disc is finite, out is NaN.  sigma must be
// positive and radius not negative, else the call is fatal.
void smooth(float **in, float **out, long naxes[], float sigma, float radius);

// Copies between fmat[1..naxes[2]][1..2*naxes[1]] (float, 1-based) and
// dmat[0..naxes[2]-1][0..2*naxes[1]-1] (double, 0-based); naxes[1] counts
// complex columns.  op = 1: fmat into dmat; op = -1: dmat into fmat,
// rounded to single precision; any other op copies nothing.
void copymat(float **fmat, double **dmat, long naxes[], int op);

#endif
