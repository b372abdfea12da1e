// The Sersic profile and its kappa(n) table.  The component renders with
// the calling convention of torvex/model/ellipse.h: (a, ia, model, df).
#ifndef TORVEX_MODEL_SERSIC_H
#define TORVEX_MODEL_SERSIC_H

#include "torvex/model/ellipse.h"
#include "torvex/structs.h"

// Sersic (and de Vaucouleurs, n = 4): a[3] total magnitude, a[4] Re, a[5] n.
void sersic(float *a, int *ia, image *model, derivs *df);

// The Sersic kappa(n) table: Y2 gets the spline second derivatives through
// (TWOn, MU), with end slopes 0.05 and 1.  Called once at start-up;
// getinterp calls it itself when nobody has.
void getmu(float *twon, float *mu, float *y2, int n);

// kappa at n from the spline of the table (evaluated at 2n).
float getinterp(float n);

// ln Gamma(2n).
float gamm2nln(float n);

#endif
