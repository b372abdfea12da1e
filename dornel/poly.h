// Linear least squares of the sky program: 2-D polynomial surfaces, 1-D
// polynomials, and the Gauss-Jordan solver of their normal equations.
#ifndef DORNEL_POLY_H
#define DORNEL_POLY_H

#include "orv/MArray.h"

// Solves a·x = b by Gauss-Jordan elimination with full pivoting; a has the
// indices 1..n x 1..n (first index = row), b the indices 1..n. Returns 0 with
// the inverse in a and the solution in b, or -1 when a pivot is zero or not
// finite (a and b are then left partly eliminated). Prints nothing.
int gaussj(orv::MArray<double, 2>& a, int n, orv::MArray<double, 1>& b);

// Weighted least-squares fit of the surface sum c(k)·x^j·y^l, j, l = 0..n,
// k = 1 + l·(n+1) + j, to the points (x, y, z) with errors w (weights 1/w²;
// w must not be 0). c becomes a new array with indices 1..(n+1)². Returns the
// status of gaussj. The float overloads form the powers in float; the
// overloads without w give every point the weight 1.
int poly2d(const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y, const orv::MArray<double, 1>& z,
           const orv::MArray<double, 1>& w, int n, orv::MArray<double, 1>& c);
int poly2d(const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y, const orv::MArray<double, 1>& z,
           int n, orv::MArray<double, 1>& c);
int poly2d(const orv::MArray<float, 1>& x, const orv::MArray<float, 1>& y, const orv::MArray<float, 1>& z,
           const orv::MArray<float, 1>& w, int n, orv::MArray<double, 1>& c);
int poly2d(const orv::MArray<float, 1>& x, const orv::MArray<float, 1>& y, const orv::MArray<float, 1>& z, int n,
           orv::MArray<double, 1>& c);

// Weighted fit of a polynomial of the given order to the points 1..N of
// (x, y) with errors err; c(i), i = 0..order, receives the coefficient of
// x^(order - i) (c must provide these indices). Returns chi²/N.
double poly(orv::MArray<double, 1> x, orv::MArray<double, 1> y, orv::MArray<double, 1> err,
            orv::MArray<double, 1>& c, int order, int N);

#endif
