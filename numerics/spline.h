// Cubic splines and bicubic interpolation on the 1-based float vectors and
// matrices of nrutil.h.  An end slope above 0.99e30 asks for a natural end
// (second derivative 0); the two-dimensional splines are always natural.
#ifndef NUMERICS_SPLINE_H
#define NUMERICS_SPLINE_H

// Second derivatives y2[1..n] of the cubic spline through (x[i], y[i]) with
// slopes yp1 at x[1] and ypn at x[n].  x must increase strictly and n >= 2;
// anything else is fatal.
void spline(float x[], float y[], int n, float yp1, float ypn, float y2[]);

// Value at x of the spline prepared by spline; outside [xa[1], xa[n]] the
// first or last interval's cubic extrapolates.
void splint(float xa[], float ya[], float y2a[], int n, float x, float *y);

// Natural-spline second derivatives of every row ya[j][1..n] over x2a
// (x1a is not used).
void splie2(float x1a[], float x2a[], float **ya, int m, int n, float **y2a);

// Value at (x1, x2) of the two-dimensional spline prepared by splie2.
void splin2(float x1a[], float x2a[], float **ya, float **y2a, int m, int n, float x1, float x2,
            float *y);

// Coefficients c[1..4][1..4] of the bicubic patch
// p(t, u) = sum c[i][j] t^(i-1) u^(j-1) on a cell of widths d1 and d2 that
// takes the values y, the derivatives y1 (along x1), y2 (along x2) and the
// cross derivatives y12 at its corners, numbered counter-clockwise from the
// lower left (arrays [1..4]).
void bcucof(float y[], float y1[], float y2[], float y12[], float d1, float d2, float **c);

// Value and partial derivatives at (x1, x2) of the patch c of the cell
// [x1l, x1u] x [x2l, x2u].  A cell of zero width is fatal.
void bcuint(float **c, float x1l, float x1u, float x2l, float x2u, float x1, float x2, float *ansy,
            float *ansy1, float *ansy2);

#endif
