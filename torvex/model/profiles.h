// The exponential disk, Gaussian, Moffat and King profiles.  Each renders
// one component with the calling convention of torvex/model/ellipse.h:
// (a, ia, model, df).
#ifndef TORVEX_MODEL_PROFILES_H
#define TORVEX_MODEL_PROFILES_H

#include "torvex/model/ellipse.h"
#include "torvex/structs.h"

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

#endif
