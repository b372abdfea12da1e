// The model components.  Each renders one component with the calling
// convention of torvex/ellipse.h: (a, ia, model, df).
#ifndef TORVEX_COMPONENTS_H
#define TORVEX_COMPONENTS_H

#include "torvex/ellipse.h"
#include "torvex/structs.h"

// Sersic (and de Vaucouleurs, n = 4): a[3] total magnitude, a[4] Re, a[5] n.
void sersic(float *a, int *ia, image *model, derivs *df);

// Exponential disk: a[3] total magnitude, a[4] Rs.
void exponential(float *a, int *ia, image *model, derivs *df);

// Gaussian: a[3] total magnitude, a[4] FWHM (its absolute value is used).
void gaussian(float *a, int *ia, image *model, derivs *df);

// Moffat: a[3] total magnitude, a[4] FWHM (absolute value), a[5] power law.
void moffat(float *a, int *ia, image *model, derivs *df);

// King: a[3] central surface brightness, a[4] core radius (absolute value),
// a[5] truncation radius, a[6] exponent alpha.  Zero from the truncation
// radius on.
void king(float *a, int *ia, image *model, derivs *df);

// Nuker: a[3] surface brightness at the break radius, a[4] Rb, a[5] alpha
// (raised to at least 0.01, also in the caller's a), a[6] beta, a[7] gamma.
// Pixels near the centre are integrated on a polar grid.
void nuker(float *a, int *ia, image *model, derivs *df);

// The Nuker intensity at (x, y) for parameters ta whose slot 3 holds I0
// (counts per pixel at the break radius) and slot 9 the position angle in
// radians.
float nukefunc(float *ta, float x, float y);

// Integral of func(a, x, y) over the rectangle [xmin, xmax] x [ymin, ymax],
// summed over polar cells around the centre a[1], a[2].  On entry a[9]
// holds theta = pi/2 - PA in radians (as the component functions keep it);
// it is restored (to float rounding) before the return.
float egrid(float (*func)(float *, float, float), float xmin, float xmax, float ymin,
            float ymax, float *a);

// The Sersic kappa(n) table: Y2 gets the spline second derivatives through
// (TWOn, MU), with end slopes 0.05 and 1.  Called once at start-up;
// getinterp calls it itself when nobody has.
void getmu(float *twon, float *mu, float *y2, int n);

// kappa at n from the spline of the table (evaluated at 2n).
float getinterp(float n);

// ln Gamma(2n).
float gamm2nln(float n);

#endif
