// Generalised-ellipse geometry shared by the model components: the
// component calling convention, the area ratio, the sub-pixel sampling rule
// and the polar-cell routines of the Nuker integration.
//
// Component functions render one component into a work-image node:
//     void f(float *a, int *ia, image *model, derivs *df);
// a[1..10] are the parameters in the pixel frame of the grid being filled,
// ia[1..10] the fit flags (a derivative image dpm[k] is written only where
// ia[k] == 1), model the record whose zeropoints convert magnitudes, and df
// the node whose naxes give the grid and whose dpm[0] receives the image.
// The caller has allocated dpm[0] and every dpm[k] with ia[k] == 1.
#ifndef TORVEX_MODEL_ELLIPSE_H
#define TORVEX_MODEL_ELLIPSE_H

#include "torvex/structs.h"

using component_function = void (*)(float *a, int *ia, image *model, derivs *df);

// The ellipse exponent C = c + 2 is kept at or above this bound, so that
// 1/C, the area ratio and every power of the radius stay finite for any
// diskiness (c <= -2 would otherwise divide by zero).
constexpr float kMinEllipseExponent = 0.1f;

// The largest diskiness/boxiness c a component may have: far beyond any
// real isophote (c = 10 is all but a rectangle already), and below where
// models and their curvature break down: a Nuker's central pixels at about
// 2000 (|cos|^C at 45 degrees leaves the doubles), the derivatives of the
// other profiles by their position at some ten thousands (the floors of
// the radius swallow its powers near the centre).
constexpr float kMaxDiskiness = 1000;

// C = c + 2, bounded below by kMinEllipseExponent (NaN also becomes the bound).
float ellipse_exponent(float c);

// Area ratio R for ellipse exponent c (callers pass C = c + 2): the area of
// the ellipse over that of the generalised ellipse with the same axes; 1 for
// c = 2.  c is bounded below by kMinEllipseExponent.
float ratio(float c);

// The Beta function exp(lnG(z) + lnG(w) - lnG(z + w)).
float beta(float z, float w);

// Exchanges *min and *max when *min > *max.
void swap(float *min, float *max);

// Number of samples per axis for a pixel whose centre lies at radius r0 of
// a profile of size s, axis ratio q, oversampling os, with the profile's
// constants r_lim (R0), k1 (K1), k_os (k) and k2 (K2).  Always 1..100.
struct sampling_rule {
    double r_lim, k1, k_os, k2;
};
int nsubsamp(double r0, int os, double s, double q, const sampling_rule &rule);

// Polar-cell routines.  In all of them a[9] holds the position angle in
// radians and C = a[10] + 2.
float xy2phi(float x, float y, const float *a, int *quadrant);
void minmaxphi(float xmin, float xmax, float ymin, float ymax, const float *a, float *minphi,
               float *maxphi, int *quad);
float rdist(float x, float y, const float *a);
void minmaxrad(float xmin, float xmax, float ymin, float ymax, const float *a, float *minr,
               float *maxr);
float phi2xy(float phi, float r, const float *a, float *x, float *y);
float traparea(const float *a, float cphi, float r);

#endif
