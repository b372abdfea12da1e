#include "torvex/fit/errsearch.h"

#include "torvex/fit/levmar.h"
#include "torvex/fit/workarrays.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace {

constexpr float LEVEL_68 = 0.6827f; // one-sigma probability
constexpr int MAX_BISECTIONS = 40;
constexpr int MAX_SECANT_STEPS = 30;
constexpr int MAX_PARABOLIC_REFITS = 50;

// The searches around one held parameter: re-fits at trial values, and the
// adoption of a re-fit that beats the best chi^2 so far.
struct held_search {
    double *chisq; // best chi^2 so far, the caller's
    float *x;      // the held slot in the work list
    refit_pars *rp;
    fitpars *work, *fpar;
    int refits = 0;

    double fit_at(float value, int *ndof = nullptr)
    {
        refits++;
        *x = value;
        int nu = 0;
        double c = refit(rp, work, &nu);
        if (ndof)
            *ndof = nu;
        return c;
    }
    bool better(double c) const { return c < *chisq; }
    void adopt(double c)
    {
        copy_struct(fpar, work);
        *chisq = c;
    }
    // Adopts a re-fit below the best so far; true when it did.
    bool adopted(double c)
    {
        if (!better(c))
            return false;
        adopt(c);
        return true;
    }
};

// Bisection keeps the end where the function is negative and steps from
// it towards the other end.
void orient(float x1, float x2, double f1, float *rtb, float *dx)
{
    *rtb = f1 < 0 ? x1 : x2;
    *dx = f1 < 0 ? x2 - x1 : x1 - x2;
}

double levmar_refit(refit_pars *rp, fitpars *list, int *ndof)
{
    // With the held slot the only free one LevMar marks the run as one that
    // only creates the model; that must not outlast the re-fit.
    const int create = input.create;
    input.create = 0;
    // The stopping rule of the fit itself: without its threshold on small
    // gains (type 0) a converged fit never ends its countdown.
    double c = LevMar(rp->d, rp->s, list, rp->constr, rp->cpar, rp->covar, rp->sig, ndof, 1);
    input.create = create;
    return c;
}

} // namespace

double refit(refit_pars *rp, fitpars *list, int *ndof)
{
    return rp->fit ? rp->fit(rp, list, ndof) : levmar_refit(rp, list, ndof);
}

float rootfind(float (*f)(float, float), float nu, float x1, float x2, float xacc)
{
    auto g = [&](float x) { return f(nu / 2, x / 2) - LEVEL_68; };
    float f1 = g(x1), fmid = g(x2);
    if (f1 * fmid >= 0)
        nrerror("Root must be bracketed for bisection in rtbis");
    float rtb, dx;
    orient(x1, x2, f1, &rtb, &dx);
    for (int j = 0; j < MAX_BISECTIONS; j++) {
        dx *= 0.5f;
        float xmid = rtb + dx;
        fmid = g(xmid);
        if (fmid <= 0)
            rtb = xmid;
        if (std::fabs(dx) < xacc || fmid == 0)
            return rtb;
    }
    nrerror("Too many bisections in rtbis");
}

float getdel(int i, const fitpars *, float c)
{
    if (i >= 1 && i <= 10)
        return std::sqrt(c);
    return -42.13f;
}

void copy_struct(fitpars *to, const fitpars *from)
{
    for (; to && from; to = to->next, from = from->next) {
        snprintf(to->objtype, sizeof to->objtype, "%.*s", OBJTYPE_LEN, from->objtype);
        for (int k = 1; k <= 10; k++) {
            to->a[k] = from->a[k];
            to->ia[k] = from->ia[k];
        }
    }
}

void sortsig(double *sigma, int ma, const int *ia, int mfit)
{
    for (int k = mfit + 1; k <= ma; k++)
        sigma[k] = 0;
    int i = mfit;
    for (int k = ma; k >= 1; k--)
        if (ia[k] != 0) {
            double t = sigma[k];
            sigma[k] = sigma[i];
            sigma[i] = t;
            i--;
        }
}

float parabolic(double *chisq, float xmid, float del, float *x, refit_pars *rp, fitpars *work,
                fitpars *fpar)
{
    held_search h{chisq, x, rp, work, fpar};
    // Every adoption lowers chi^2, but along a parameter that chi^2 does
    // not bound the search could walk on for ever.
    auto fit_at = [&](float v) {
        if (h.refits >= MAX_PARABOLIC_REFITS)
            nrerror("Too many re-fits in parabolic");
        return h.fit_at(v);
    };
    for (;;) {
        double plus = fit_at(xmid + del);
        if (h.better(plus)) {
            xmid += del;
            h.adopt(plus);
            continue;
        }
        double minus = fit_at(xmid - del);
        while (h.better(minus)) {
            plus = *chisq;
            xmid -= del;
            h.adopt(minus);
            minus = fit_at(xmid - del);
        }
        const double a = plus + minus - 2 * *chisq;
        // A chi^2 that does not rise on both sides (or is not a number)
        // puts no bound on the parameter.
        if (!(a > 0) || !std::isfinite(a))
            return HUGE_VALF;
        const float low = xmid - del, high = xmid + del;
        const float xmin = static_cast<float>(low + ((minus - *chisq) / a + 0.5) * del);
        if (xmin < low || xmin > high) {
            double c = fit_at(xmin);
            if (h.better(c)) {
                xmid = xmin;
                h.adopt(c);
                continue;
            }
        }
        return static_cast<float>(del * std::sqrt(2 / a));
    }
}

namespace {

// The first re-fits of rtbis and rtsec, at x2 and then x1: the degrees of
// freedom of the first set the target chi^2 and the tolerance.  False when
// a re-fit was adopted and the search must start again.
bool first_refits(held_search &h, float x1, float x2, double *f1, double *f2, double *target,
                  double *tol)
{
    int nu = 0;
    double c = h.fit_at(x2, &nu);
    if (h.adopted(c))
        return false;
    *target = *h.chisq + *h.chisq / nu;
    *tol = 0.1 * *h.chisq / nu;
    *f2 = c - *target;
    c = h.fit_at(x1);
    if (h.adopted(c))
        return false;
    *f1 = c - *target;
    return true;
}

// A root search of the held parameter between x1 and x2 (rtbis, rtsec),
// started again until no re-fit on its way beats the best chi^2.
// search(f1, f2, target, tol, &root) goes on from the first re-fits: true
// with the root, false when it adopted a re-fit.
template <class Search>
float restarting_search(held_search &h, float x1, float x2, Search search)
{
    for (;;) {
        double f1, f2, target, tol;
        float root;
        if (first_refits(h, x1, x2, &f1, &f2, &target, &tol) && search(f1, f2, target, tol, &root))
            return root;
    }
}

} // namespace

float rtbis(double *chisq, float x1, float x2, float *x, refit_pars *rp, fitpars *work,
            fitpars *fpar)
{
    held_search h{chisq, x, rp, work, fpar};
    auto bisect = [&](double f1, double f2, double target, double tol, float *root) {
        if (f1 * f2 >= 0)
            nrerror("Root must be bracketed for bisection in rtbis");
        float rtb, dx;
        orient(x1, x2, f1, &rtb, &dx);
        for (int j = 0; j < MAX_BISECTIONS; j++) {
            dx *= 0.5f;
            const float xmid = rtb + dx;
            const double c = h.fit_at(xmid);
            if (h.adopted(c))
                return false;
            const double fmid = c - target;
            if (fmid <= 0)
                rtb = xmid;
            if (std::fabs(fmid) <= tol) {
                *root = xmid;
                return true;
            }
        }
        nrerror("Too many bisections in rtbis");
    };
    return restarting_search(h, x1, x2, bisect);
}

float rtsec(double *chisq, float x1, float x2, float *x, refit_pars *rp, fitpars *work,
            fitpars *fpar)
{
    held_search h{chisq, x, rp, work, fpar};
    auto secant = [&](double fl, double f, double target, double tol, float *root) {
        // Start from the end closer to the target.
        float rts = x2, xl = x1;
        if (std::fabs(fl) < std::fabs(f)) {
            std::swap(rts, xl);
            std::swap(fl, f);
        }
        for (int j = 0; j < MAX_SECANT_STEPS; j++) {
            // Equal values give no secant: the step would be infinite.
            if (f == fl)
                nrerror("Chi^2 does not change between the secant points in rtsec");
            const float dx = static_cast<float>((xl - rts) * f / (f - fl));
            xl = rts;
            fl = f;
            rts += dx;
            const double c = h.fit_at(rts);
            if (h.adopted(c))
                return false;
            f = c - target;
            if (std::fabs(f) <= tol) {
                *root = rts;
                return true;
            }
        }
        nrerror("Maximum number of iterations exceeded in rtsec");
    };
    return restarting_search(h, x1, x2, secant);
}

int geterr(double chisq, refit_pars *rp, fitpars *fpar, double *err, const double *sigma)
{
    // The work list: one node per component.
    fitpars work;
    fitpars *tail = &work;
    for (const fitpars *p = fpar->next; p; p = p->next) {
        tail->next = new fitpars;
        tail = tail->next;
    }

    int c = 1;
    for (fitpars *p = fpar; p; p = p->next, c++) {
        copy_struct(&work, fpar);
        fitpars *w = &work;
        for (int k = 1; k < c; k++)
            w = w->next;
        for (int s = 1; s <= 10; s++) {
            const int entry = 10 * (c - 1) + s;
            if (p->ia[s] != 1) {
                err[entry] = 0;
                continue;
            }
            p->ia[s] = w->ia[s] = 0;
            err[entry] = parabolic(&chisq, w->a[s], static_cast<float>(sigma[entry]), &w->a[s], rp,
                                   &work, fpar);
            p->ia[s] = w->ia[s] = 1;
        }
    }

    delete_fitpars(work.next);
    return 1;
}
