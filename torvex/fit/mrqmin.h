// One Levenberg-Marquardt step of the fit, and chi^2 with its gradient and
// curvature.
//
// During a fit all parameters form one flat vector of ma = 10 * (number of
// components) entries: entry 10*(c-1)+s is slot s of component c (1-based,
// list order).  Flags: 1 free, 0 fixed.
//
// A pixel takes part in chi^2 when its mask value (the global mask, cut to
// the fit region) is below 1 and its data and sigma values are finite
// numbers; any other pixel counts as masked (sample.nmask).
#ifndef TORVEX_FIT_MRQMIN_H
#define TORVEX_FIT_MRQMIN_H

#include "torvex/fit/fitstep.h"
#include "torvex/structs.h"

// One step.  Protocol of one fit: a call with *alamda < 0 sets up (making
// the work vectors, counting the free entries, computing chi^2, gradient
// and curvature at the list's parameters into alpha) and takes the first
// step; calls with *alamda > 0 take further steps; a call with *alamda = 0
// ends the fit: the errors of the free entries go into sigma[1..ma] (0 for
// the fixed ones) and the work vectors are released.
// A start value outside the range of a constraint is first brought to the
// range's nearest bound (with a note), as every trial step would be.
// A step renders the model at the damped Gauss-Newton trial parameters
// (limited by par_monitor, then by the constraints) and is accepted when
// chi^2 falls: *alamda shrinks tenfold and *chisq takes the new value.
// Otherwise, and when the damped system is singular, the damping grows
// tenfold and *chisq keeps the old value; a singular system that is not
// finite (a curvature that is not, or a damping past the largest float),
// which no damping can mend, is a fatal numerical error (nrerror).
// Either way the component list holds the current best parameters.
// covar and alpha are ma x ma (1-based); only the leading mfit block is used.
// y and sig are the fit-region data and sigma pixels.
// A free entry whose curvature is 0 (chi^2 does not change with it) is
// held for the step, with a warning the first time.
// Returns 0; in the final call 1 when the curvature matrix is singular
// (the uncertainties are then all 0 and a warning has been printed).  The
// set-up call takes no step and releases its work vectors when there is
// nothing to fit: MRQ_NO_DOF when the usable pixels do not outnumber the
// free entries; when chi^2, its gradient or its curvature at the starting
// parameters is not a finite number, MRQ_BAD_CHI2 if the model or one of
// its derivatives is not finite on a usable pixel (the starting values are
// at fault), else MRQ_BAD_WEIGHTS (the weights 1/sigma^2 are too large for
// the single-precision products of the sums).
constexpr int MRQ_NO_DOF = 2;
constexpr int MRQ_BAD_CHI2 = 3;
constexpr int MRQ_BAD_WEIGHTS = 4;
int mrqmin(float **y, float **sig, int ma, double **covar, double **alpha, double *chisq,
           float *alamda, fitpars *fpar, const cons *constr, convpars *cpar, double *sigma);

// While a fit is in progress (from the set-up call to the final one):
// whether a step has been accepted; false otherwise.
bool step_accepted();

// While a fit is in progress (from the set-up call to the final one): puts
// the parameters of the last accepted step (or the start) back into the
// list and gives their chi^2; false, with nothing changed, otherwise.
bool last_accepted(fitpars *fpar, double *chisq);

// Renders the model and its derivative images at the list's parameters
// (mkmodel) and sums chi^2 (*chisq), the gradient beta[1..mfit] and the
// curvature alpha[1..mfit][1..mfit] over the usable pixels, mfit being the
// number of entries of ia[1..ma] equal to 1.  Sets sample.nmask.
void mrqcof(float **y, float **sig, const int *ia, int ma, double **alpha, double *beta,
            double *chisq, fitpars *fpar, convpars *cpar);

#endif
