// ln Γ, the regularised incomplete gamma functions and the modified Bessel
// functions of order 0 and 1, in double precision. Bad arguments are reported
// on standard error and the computation goes on.
#ifndef PSFTOOLS_GAMMA_BESSEL_H
#define PSFTOOLS_GAMMA_BESSEL_H

// ln Γ(x) for x > 0 (Lanczos series, about 1e-10 relative).
double gammln(double x);

// P(a, x) by its series into gamser, ln Γ(a) into gln.
void gser(double &gamser, double a, double x, double &gln);
// Q(a, x) by its continued fraction into gammcf, ln Γ(a) into gln.
void gcf(double &gammcf, double a, double x, double &gln);

// Regularised incomplete gamma functions P(a, x) and Q(a, x) = 1 - P(a, x)
// for a > 0, x >= 0, to about 3e-7 relative.
double gammp(double a, double x);
double gammq(double a, double x);

// Modified Bessel functions I0, I1 of any real x and K0, K1 of x > 0
// (polynomial approximations, about 2e-7 relative). bessi0 gives 1e300 for
// |x| > 700.
double bessi0(double x);
double bessi1(double x);
double bessk0(double x);
double bessk1(double x);

#endif
