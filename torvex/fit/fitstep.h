// The parts of a fit step that do not render: trial limits, the flat
// parameter vectors, the derivative images, chi^2 of a finished model and
// the parameter uncertainties.  Flat vectors as in torvex/fit/mrqmin.h:
// entry 10*(c-1)+s is slot s of component c.
#ifndef TORVEX_FIT_FITSTEP_H
#define TORVEX_FIT_FITSTEP_H

#include "torvex/structs.h"

#include <cfloat>
#include <cmath>

// The trial value that par_monitor gives a Sersic index (or any slot 5 but a
// King's) that leaves [0, 20], and any trial value the component cannot
// render: a step carrying it is rejected unrendered.
constexpr float STEP_SENTINEL = 1e30f;

// The lowest diskiness a step may reach: rendering needs c + 2 clearly
// above 0.
constexpr float MIN_DISKINESS = -1.9f;

// The table of derivative images: tab[j] points at pixel (1, 1) of the
// image of the j-th free slot (flat order), walked as one array of the fit
// region.  tab has room for 1..(free slots).  Returns the number of free
// slots.
int deriv_table(const fitpars *fpar, const derivs *df, const float **tab);

// The model value at pixel (x, y) of the fit region and the derivatives
// dyda[1..mfit] of the free entries there, from the table of deriv_table.
inline void funcs(long x, long y, float *ymod, float *dyda, const float *const *tab, int mfit)
{
    const long p = (y - 1) * model.naxes[1] + (x - 1);
    *ymod = (&model.z[1][1])[p];
    for (int j = 1; j <= mfit; j++)
        dyda[j] = tab[j][p];
}

// True when a sigma value can weigh its pixel: a positive number whose
// weight 1/sigma^2 is finite.  Any other (not a number, infinite, 0 or
// below, or so small that the weight overflows) would make chi^2 infinite,
// or take a negative value as a weight.
inline bool usable_sigma(float s)
{
    return s > 0 && s <= FLT_MAX && 1.0f / (s * s) <= FLT_MAX;
}

// True when pixel value m of the mask, d of the data and s of the sigma
// image let the pixel take part in chi^2.
inline bool usable_pixel(float m, float d, float s)
{
    return m < 1 && std::isfinite(d) && usable_sigma(s);
}

// chi^2 of model against data over the usable pixels of an image of size
// naxes; *ndof = usable pixels - free slots of the list.
double chi2calc(const fitpars *fpar, const image &data, const image &sigma, const image &model,
                const long naxes[3], int *ndof);

// The smallest sigma of the usable pixels of an image of size naxes (+inf
// when there is none).
float smallest_sigma(const image &data, const image &sigma, const long naxes[3]);

// The number of free slots (flag 1) of the list.
int free_slots(const fitpars *fpar);

// Trial values atry of the free entries: a + da (da counted over the free
// entries), limited slot by slot so that the model stays renderable:
// axis ratio in (0, 1] (a reciprocal turns the position angle by 90 when it
// is free), sizes and Sersic index within a factor of 10 per step, index in
// [0, 20] (else STEP_SENTINEL), positions within 1e5 pixels, diskiness from
// MIN_DISKINESS to kMaxDiskiness, slots 6 and 7 not negative.  A free size whose current
// value is not positive is first set to 0.01.  A trial value that the
// component still cannot render after these rules (slot_problem of
// checkpars.h: a Moffat power law <= 1, a Nuker gamma >= 2, a King alpha of
// 0, a Sersic index below 0.055, a value that is not a number) becomes
// STEP_SENTINEL, so the step is rejected.
void par_monitor(int ma, float *a, const int *ia, float *atry, const double *da,
                 const fitpars *fpar);

// direction 1: every component's a[1..10] and ia[1..10] into the flat
// vectors (ia may be null); direction 0: the flat a back into the list.
void copy_pars(float *a, int *ia, fitpars *fpar, int direction);

// Errors of the free entries from the leading mfit block of the curvature
// alpha: the standard errors sqrt(C_ii) of the covariance C = alpha^-1
// (through the eigen-decomposition of alpha scaled to unit diagonal),
// spread over sigma[1..ma] (0 for the fixed entries); cov, when given,
// receives C in its leading mfit block.  An entry whose curvature is 0
// (one that chi^2 does not see, held by the fit) has error 0 and is left
// out of C (its row and column 0).  alpha is left as it was.
// Returns 1, with every sigma 0 and cov untouched, when the rest of the
// block is singular (an eigenvalue that is not clearly positive, or a
// curvature that is negative or not a number), else 0.
int errcalc(double *sigma, double **alpha, int ma, const int *ia, int mfit, double **cov = nullptr);

// The components' sig[s] = sigma[10*(c-1)+s] * sqrt(chi2nu).
void assign_err(fitpars *fpar, const double *sigma, float chi2nu);

#endif
