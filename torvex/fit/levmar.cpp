#include "torvex/fit/levmar.h"

#include "torvex/fit/countdown.h"

#include "torvex/display/quit.h"
#include "torvex/fit/fitstep.h"
#include "torvex/fit/mrqmin.h"
#include "torvex/model/mkmodel.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ncurses.h>

int (*keypoll_hook)(fitpars *, int *, int, int, float, int) = nullptr;

namespace {

constexpr int ITERMAX_DEFAULT = 100;

void print_rule()
{
    pfunc("================================================================================\n");
}

} // namespace

double LevMar(image *d, image *s, fitpars *fpar, const cons *constr, convpars *cpar, double **covar,
              double *sig, int *ndof, int type, bool *stalled)
{
    if (stalled)
        *stalled = false;
    section_bounds sect{1, 1, 1, 1};
    read_section(d->imgsect, &sect);
    const int lowx = sect.x1, lowy = sect.y1;

    int nfree = 0;
    for (fitpars *p = fpar; p; p = p->next)
        for (int k = 1; k <= 10; k++) {
            if (p->ia[k] == 1)
                nfree++;
            else if (p->ia[k] == -1)
                p->ia[k] = 0;
        }

    double dlim = 0;
    if (type == 1) {
        pfunc("\n");
        print_rule();
        pfunc("Initial parameters:\n");
        printpar(lowx, lowy, fpar);
        print_rule();
        dlim = 1e-4;
    }
    if (display_is("curses"))
        refresh();

    const int ma = 10 * sample.nobjs;
    double **alpha = dmatrix(1, ma, 1, ma);
    const long npix = d->naxes[1] * d->naxes[2];
    if (nfree == 0)
        input.create = 2;

    double chisq = 1e27;
    int itermax = ITERMAX_DEFAULT;
    float alamda = -1;
    int niter = 0, quit = 0;
    countdown_state cs;
    while (input.create == 0 && cs.countdown >= 0 && nfree > 0) {
        if (quit)
            break;
        const double oldchisq = chisq;
        const int status =
            mrqmin(d->z, s->z, ma, covar, alpha, &chisq, &alamda, fpar, constr, cpar, sig);
        *ndof = static_cast<int>(npix - sample.nmask - nfree);
        if (status == MRQ_NO_DOF) {
            pfunc("\n-- ERROR: The fitting region has %ld usable pixels for %d free "
                  "parameters\n   (NDOF = %d), so nothing can be fitted.  Quitting now.\n\n",
                  npix - sample.nmask, nfree, *ndof);
            quit_run(2);
        }
        // Chi^2 and its curvature are sums of single-precision products:
        // when the model, its residuals and derivatives are of a size that
        // a float can square, sums that are not finite come from weights
        // 1/sigma^2 too large for them, not from the start values.
        const char *sums = std::isfinite(chisq) ? "The curvature of Chi^2" : "Chi^2";
        if (status == MRQ_BAD_CHI2 && !std::isfinite(chisq))
            pfunc("\n-- ERROR: Chi^2 of the initial model is not a number (%g).  Check the\n"
                  "   initial parameters against the data.  Quitting now.\n\n",
                  chisq);
        else if (status == MRQ_BAD_CHI2)
            pfunc(
                "\n-- ERROR: The curvature of Chi^2 of the initial model is not a finite number.\n"
                "   Check the initial parameters against the data.  Quitting now.\n\n");
        else if (status == MRQ_BAD_WEIGHTS)
            pfunc("\n-- ERROR: %s of the initial model is not a finite number,\n"
                  "   though the model and its residuals are: the sigma image's values are too\n"
                  "   small for the data's scale, and their weights 1/sigma^2 overflow the sums\n"
                  "   (the smallest sigma used is %.3g).  Quitting now.\n\n",
                  sums, static_cast<double>(smallest_sigma(*d, *s, d->naxes)));
        if (status == MRQ_BAD_CHI2 || status == MRQ_BAD_WEIGHTS)
            quit_run(3);
        const int n = niter + 1;
        const int shown = countdown_step(&cs, n, chisq, oldchisq, *ndof, dlim, itermax);

        pfunc("\n");
        pfunc("Iteration : %-2d    Chi2nu: %-11.3e   ", n,
              static_cast<double>(static_cast<float>(chisq / *ndof)));
        pfunc("dChi2/Chi2: %-10.2e  alamda: %-10.0e\n",
              (chisq - static_cast<float>(oldchisq)) / chisq, static_cast<double>(alamda));
        printpar(lowx, lowy, fpar);
        pfunc("COUNTDOWN = %d \n", shown);

        if (!display_is("regular") && keypoll_hook)
            quit = keypoll_hook(fpar, &itermax, lowx, lowy, static_cast<float>(chisq), *ndof);
        // A limit typed below the current iteration ends the fit now rather
        // than never matching.
        if (itermax != ITERMAX_DEFAULT && n >= itermax)
            quit = 1;
        // A model that matches the data exactly cannot be improved; going
        // on would only raise the damping until it overflows.
        if (chisq == 0)
            quit = 1;
        niter = n;
    }

    alamda = 0;
    if (nfree == 0) {
        mkmodel(&model, &df, fpar, cpar, 0);
        chisq = chi2calc(fpar, *d, *s, model, d->naxes, ndof);
        if (*ndof <= 0) {
            pfunc("\n-- ERROR: The fitting region has no usable pixel.  Quitting now.\n\n");
            quit_run(2);
        }
        pfunc("\n");
        pfunc("-- No free parameters to fit.  Creating images only.\n\n");
    } else {
        const bool moved = step_accepted();
        mrqmin(d->z, s->z, ma, covar, alpha, &chisq, &alamda, fpar, constr, cpar, sig);
        // A model that matches the data exactly has nothing to lower.
        if (!moved && chisq != 0) {
            pfunc("\n-- WARNING: No step of the fit lowered Chi^2, so the parameters are still\n"
                  "   the start values: this is not a fit.  Check the start values and the\n"
                  "   constraints.\n");
            if (stalled)
                *stalled = true;
        }
    }
    if (niter >= itermax) {
        pfunc("\n\n The fitting ended because the maximum number of iterations \n ");
        pfunc("has been reached, not necessarily because of convergence!\n\n");
    }
    free_dmatrix(alpha, 1, ma, 1, ma);
    return chisq;
}
