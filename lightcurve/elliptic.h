// Elliptic integrals: Carlson's symmetric forms R_F, R_C and R_J by the
// duplication method, and the complete integrals K(k) and E(k) by the
// polynomial approximations of Abramowitz and Stegun (17.3.34, 17.3.36;
// absolute error below 2e-8). The functions keep no state between calls and
// may run on several threads at once.
//
// Arguments outside a function's range print "invalid arguments in rf" (rc,
// rj) on standard output and give NaN.
#ifndef LIGHTCURVE_ELLIPTIC_H
#define LIGHTCURVE_ELLIPTIC_H

// R_F(x, y, z): x, y, z >= 0, at most one of them 0, none above 3e37.
double rf_(double x, double y, double z);
// R_C(x, y): x >= 0, y != 0; for y < 0 the Cauchy principal value.
double rc_(double x, double y);
// R_J(x, y, z, p): x, y, z >= 0, at most one of them 0, p != 0, all within
// 2.5e-13..9e11 in size; for p < 0 the Cauchy principal value. Invalid
// arguments also print the line "x y z" before the message.
double rj_(double x, double y, double z, double p);
// Complete elliptic integral of the first kind K(k) for the modulus k.
double ellk_(double k);
// Complete elliptic integral of the second kind E(k) for the modulus k.
double ellec_(double k);

#endif
