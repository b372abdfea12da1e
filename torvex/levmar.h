// The Levenberg-Marquardt loop with its countdown, and the parameter lines
// printed after every iteration.
#ifndef TORVEX_LEVMAR_H
#define TORVEX_LEVMAR_H

#include "torvex/structs.h"

// State of the stopping rule.  Held (cflag 0), the countdown shows the
// iterations left to the limit; once the chi^2 gains become small it runs
// (cflag 1) from 10 down by one per iteration, and the fit ends after the
// iteration that shows 0.  A large gain sets it back to held.
struct countdown_state {
    int cflag = 0;
    int countdown = 100;
    float olddelchi2 = 0;   // the last decrease that counted
    double history[11] = {}; // ring (1..10) of decreases over sqrt(chi2nu)
};

// Decides iteration n (1-based) after a step that took chi^2 from oldchisq
// to chisq with ndof degrees of freedom; dlim is the relative decrease below
// which gains are small (1e-4 for a normal fit, 0 otherwise).  Returns the
// countdown to show for this iteration and leaves the next one (the loop
// goes on while it is not negative) in cs->countdown.
int countdown_step(countdown_state *cs, int n, double chisq, double oldchisq, int ndof,
                   double dlim, int itermax);

// Called after every iteration unless the display is "regular": the
// keyboard may change *itermax and asks to quit by returning 1.  Null (the
// default) polls nothing.
extern int (*keypoll_hook)(fitpars *fpar, int *itermax, int lowx, int lowy, float chisq,
                           int ndof);

// Runs the fit of the list fpar to the fit-region images d (data) and s
// (sigma) under the constraints, printing every iteration.  covar is a
// 10n x 10n work matrix (n components); sig[1..10n] receives the
// parameter errors.  type 1 prints the initial parameters and uses the
// normal countdown.  Flags of -1 become 0.  With nothing free it only
// renders the model (and sets input.create to 2).  Returns the final chi^2
// and sets *ndof.
// A chi^2 that is not a finite number at the start ends the run with
// status 3, a fit region without more usable pixels than free parameters
// (NDOF <= 0) with status 2, each after a message.
double LevMar(image *d, image *s, fitpars *fpar, const cons *constr, convpars *cpar,
              double **covar, double *sig, int *ndof, int type);

// One line per component: type, position in image coordinates (lowx, lowy
// the fit region's first column and row), and its parameters.  Brings each
// position angle into (-90, 90] and stores it back.
void printpar(int lowx, int lowy, fitpars *fpar);

#endif
