// A two-dimensional polynomial limited by total degree, and the error-weighted
// mean of a set of values. Arrays have index base 1.
#ifndef PSFTOOLS_POLYFIT_H
#define PSFTOOLS_POLYFIT_H

#include "orv/MArray.h"

// Weighted least-squares fit of sum c(t)·x^k·y^j over j + k <= n to the points
// (x, y, z) with errors w (weights 1/w²). The terms run over j = 0..n (power
// of y, outer) and k = 0..n-j (power of x, inner): for n = 2 they are 1, x,
// x², y, x·y, y². c becomes a new array 1..(n+1)(n+2)/2. Returns the status of
// gaussj (0, or -1 for a singular system). A negative order, a point with
// error 0, or x, y, z or w without the points 1..N (N the last index of x),
// is refused with a message on standard error: c is then all 0 (empty for
// a negative order) and the result -1.
int poly2d_nomix(const orv::MArray<double, 1> &x, const orv::MArray<double, 1> &y,
                 const orv::MArray<double, 1> &z, const orv::MArray<double, 1> &w, int n,
                 orv::MArray<double, 1> &c);

// Mean of y weighted by 1/e², its error sqrt(1/sum of weights) and the scatter
// sqrt(chi²/(k-1)) of the k values used (0 for k = 1). Values whose error is
// not above 0 are left out; an error of exactly 0 is named on standard error.
// Returns 0, or -1 with three zeros when no value is left or y or e lacks
// one of the values 1..n, n the last index of y (with a message on standard
// error).
int fitconst(orv::MArray<double, 1> &y, orv::MArray<double, 1> &e, double &mean, double &mean_error,
             double &scatter);

#endif
