// A second, slower way to a parameter's uncertainty than the curvature of
// the fit: hold the parameter at trial values, re-fit all others, and find
// where chi^2 has risen by a set amount.  With the root finders it uses.
#ifndef TORVEX_FIT_ERRSEARCH_H
#define TORVEX_FIT_ERRSEARCH_H

#include "torvex/structs.h"

// What a re-fit needs besides the component list: the fit-region images and
// the settings that LevMar takes, with its work space (covar 1..10n square,
// sig 1..10n, n components).  The model and work images of the fit
// (model, df, mask) must exist, as during the fit driver.
struct refit_pars {
    image *d = nullptr; // fit-region data
    image *s = nullptr; // fit-region sigma
    const cons *constr = nullptr;
    convpars *cpar = nullptr;
    double **covar = nullptr;
    double *sig = nullptr;
    // The re-fit of the free slots of a list; returns chi^2 and sets
    // *ndof.  Null: LevMar, as the fit driver runs it.
    double (*fit)(refit_pars *rp, fitpars *list, int *ndof) = nullptr;
};

// Re-fits list (its held slots have flag 0) and returns chi^2.
double refit(refit_pars *rp, fitpars *list, int *ndof);

// The x in [x1, x2] where f(nu/2, x/2) = 0.6827 (the 68.27 per cent level
// of a chi^2 distribution of nu degrees of freedom when f is the
// regularised incomplete gamma function), by bisection to within xacc.
// Ends the process through nrerror when the level is not bracketed or 40
// halvings do not reach xacc.
float rootfind(float (*f)(float, float), float nu, float x1, float x2, float xacc);

// Trial step for slot i: sqrt(c) for slots 1..10, -42.13 for any other.
float getdel(int i, const fitpars *fpar, float c);

// Copies type word, a[1..10] and ia[1..10] node by node from one list into
// another, as far as both reach; sig and outtype stay.
void copy_struct(fitpars *to, const fitpars *from);

// Spreads the errors sigma[1..mfit] of the free entries over sigma[1..ma]:
// the entry of every flag that is not 0, in order, receives its own error,
// every other entry 0.
void sortsig(double *sigma, int ma, const int *ia, int mfit);

// Uncertainty of the parameter *x (a slot of the list work, whose flag is
// 0 in work and fpar) from a parabola through re-fits at xmid - del, xmid
// and xmid + del, *chisq being the best chi^2 so far (at xmid).  A re-fit
// below it is adopted: fpar takes work, *chisq the new value, and the
// search moves there.  Returns del * sqrt(2 / a), a the parabola's rise
// over one step; infinity when chi^2 does not rise on both sides (no
// bound).  More than 50 re-fits end the process through nrerror.
float parabolic(double *chisq, float xmid, float del, float *x, refit_pars *rp, fitpars *work,
                fitpars *fpar);

// The value of the held parameter *x in [x1, x2] at which chi^2 reaches
// chi2_0 + chi2_0 / nu (to within a tenth of chi2_0 / nu), chi2_0 being
// *chisq and nu the degrees of freedom of a first re-fit at x2; by
// bisection (rtbis, at most 40 halvings) or secant steps (rtsec, at most
// 30).  Re-fits below *chisq are adopted as in parabolic and the search
// starts again.  Failures end the process through nrerror.
float rtbis(double *chisq, float x1, float x2, float *x, refit_pars *rp, fitpars *work,
            fitpars *fpar);
float rtsec(double *chisq, float x1, float x2, float *x, refit_pars *rp, fitpars *work,
            fitpars *fpar);

// The uncertainty of every free slot of every component by parabolic,
// holding one slot at a time and stepping by its curvature error
// sigma[10 (c - 1) + s]; chisq is the best chi^2 of the list fpar.  The
// results go into err[1..10n] (0 for slots that are not free); fpar may
// take better parameters found on the way.  Returns 1.
int geterr(double chisq, refit_pars *rp, fitpars *fpar, double *err, const double *sigma);

#endif
