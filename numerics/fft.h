// n-dimensional complex FFT on single-precision data.
#ifndef NUMERICS_FFT_H
#define NUMERICS_FFT_H

// In-place transform of data[1..2*N] (real and imaginary parts interleaved;
// N = nn[1]*...*nn[ndim], each length a power of two, the last dimension
// varying fastest): X = sum x*exp(2*pi*i*isign*j*k/L) along every dimension,
// isign = 1 or -1, not normalised.  Other lengths or signs are refused
// through nrerror.
void fourn(float data[], unsigned long nn[], int ndim, int isign);

#endif
