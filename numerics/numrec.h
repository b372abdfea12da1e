// Dense linear algebra of the optimiser, ln Gamma, the incomplete gamma
// function and Ridders' numerical derivative.  Matrices and vectors are the
// 1-based ones of nrutil.h; every impossible input ends the process through
// nrerror (status 100).
#ifndef NUMERICS_NUMREC_H
#define NUMERICS_NUMREC_H

// Gauss-Jordan elimination with full pivoting, in place: a[1..n][1..n]
// becomes its inverse and the m right-hand sides in the columns of
// b[1..n][1..m] become the solutions.  Among pivot candidates of equal
// magnitude the last in row-major order wins.  A singular matrix, or a pivot
// that is zero or not finite, is fatal.
void gaussj(double **a, int n, double **b, int m);

// gaussj for a caller that can go on without the solution: returns the
// reason when the matrix is singular (a and b are then garbage), else null.
const char *gaussj_solve(double **a, int n, double **b, int m);

// Spreads the mfit x mfit covariance of the fitted parameters (top-left
// block of covar[1..ma][1..ma], in their order of appearance) over all ma
// slots; rows and columns of the slots whose ia is 0 become 0.
void covsrt(double **covar, int ma, int ia[], int mfit);

// Eigenvalues d[1..n] and normalised eigenvectors (columns of v[1..n][1..n])
// of the symmetric a[1..n][1..n] by cyclic Jacobi rotations; *nrot receives
// the number of rotations.  Destroys a above the diagonal; the eigenvalues
// are not sorted.  No convergence in 50 sweeps is fatal.
void jacobi(double **a, int n, double d[], double **v, int *nrot);

// ln Gamma(xx) for xx > 0 (Lanczos series, summed in double precision).
float gammln(float xx);

// Regularised incomplete gamma function P(a, x), a > 0, x >= 0, and its
// series (P) and continued-fraction (Q = 1 - P) parts; gln receives ln Gamma(a).
float gammp(float a, float x);
void gser(float *gamser, float a, float x, float *gln);
void gcf(float *gammcf, float a, float x, float *gln);

// Derivative of func at x by Ridders' extrapolation of central differences
// from the initial step h (not 0); *err receives the error estimate.  When
// func gives no usable values (not numbers) the result is NaN.
float dfridr(float (*func)(float), float x, float h, float *err);

#endif
