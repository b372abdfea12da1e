// The Levenberg-Marquardt loop.
#ifndef TORVEX_FIT_LEVMAR_H
#define TORVEX_FIT_LEVMAR_H

#include "torvex/structs.h"

// Called after every iteration unless the display is "regular": the
// keyboard may change *itermax and asks to quit by returning 1.  Null (the
// default) polls nothing.
extern int (*keypoll_hook)(fitpars *fpar, int *itermax, int lowx, int lowy, float chisq, int ndof);

// Runs the fit of the list fpar to the fit-region images d (data) and s
// (sigma) under the constraints, printing every iteration.  covar is a
// 10n x 10n work matrix (n components); sig[1..10n] receives the
// parameter errors.  type 1 prints the initial parameters and uses the
// normal countdown.  Flags of -1 become 0.  With nothing free it only
// renders the model (and sets input.create to 2).  Returns the final chi^2
// and sets *ndof.
// A chi^2, gradient or curvature that is not a finite number at the start
// ends the run with status 3 (the message names the start values or the
// sigma image as the cause, see mrqmin), a fit region without more usable
// pixels than free parameters (NDOF <= 0) with status 2, each after a
// message.  A fit in which no step lowered chi^2 (from above 0) ends with a
// warning: its parameters are the start values.  *stalled (when given) then
// becomes true, else false.
double LevMar(image *d, image *s, fitpars *fpar, const cons *constr, convpars *cpar, double **covar,
              double *sig, int *ndof, int type, bool *stalled = nullptr);

#endif
