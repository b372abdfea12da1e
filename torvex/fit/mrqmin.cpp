#include "torvex/fit/mrqmin.h"

#include "numerics/numrec.h"
#include "torvex/fit/constraints.h"
#include "torvex/input/checkpars.h"
#include "torvex/model/mkmodel.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

namespace {

// What persists between the calls of one fit: made by the set-up call,
// released by the final call, so that no step allocates.
struct step_state {
    int ma = 0, mfit = 0;
    float *a = nullptr, *atry = nullptr, *aorig = nullptr;
    int *ia = nullptr;
    int *held = nullptr; // 1 for an entry once held for want of curvature
    double *da = nullptr, *beta = nullptr;
    double **oneda = nullptr;
    double ochisq = 0;
    bool accepted = false; // a step has lowered chi^2
};
step_state st;

// The curvature sums run over chunks of the fit region.  The usable pixels
// of a chunk are gathered into short contiguous rows (one per free entry),
// and every sum is kept in LANES interleaved partial sums, so that the
// products of two rows vectorise; the partial sums are added at the end.
constexpr int CHUNK = 1024;
constexpr int LANES = 8;

// Work space of the sums: grows once, to the largest fit seen, so that no
// step allocates.
struct sum_space {
    std::vector<const float *> tab; // derivative images of the free entries
    std::vector<float> rows;        // mfit rows of CHUNK gathered derivatives
    std::vector<float> s2i, dy, w;  // 1/sigma^2, data - model, weighted row
    std::vector<long> at;           // pixel of each gathered entry
    std::vector<double> acc;        // partial sums: chi^2, beta, alpha
    void reserve(int mfit)
    {
        const size_t m = static_cast<size_t>(mfit);
        if (tab.size() >= m + 1 && !s2i.empty())
            return;
        tab.resize(m + 1);
        rows.resize(m * CHUNK + 1);
        s2i.resize(CHUNK);
        dy.resize(CHUNK);
        w.resize(CHUNK);
        at.resize(CHUNK);
        acc.resize((1 + m + m * (m + 1) / 2) * LANES);
    }
};
sum_space ws;

// acc[0..LANES) += products a[i] * b[i], formed in single precision.
inline void add_products(double *acc, const float *a, const float *b, int n)
{
    int i = 0;
    for (; i + LANES <= n; i += LANES)
        for (int l = 0; l < LANES; l++)
            acc[l] += static_cast<double>(a[i + l] * b[i + l]);
    for (int l = 0; i < n; i++, l++)
        acc[l] += static_cast<double>(a[i] * b[i]);
}

double lane_sum(const double *acc)
{
    double t = 0;
    for (int l = 0; l < LANES; l++)
        t += acc[l];
    return t;
}

void setup(int ma)
{
    st.ma = ma;
    st.accepted = false;
    st.a = vector(1, ma);
    st.ia = ivector(1, ma);
    st.held = ivector(1, ma);
    for (int k = 1; k <= ma; k++)
        st.held[k] = 0;
    st.atry = vector(1, ma);
    st.aorig = vector(1, ma);
    st.da = dvector(1, ma);
    st.beta = dvector(1, ma);
}

void release()
{
    const int ma = st.ma;
    if (st.oneda)
        free_dmatrix(st.oneda, 1, st.mfit, 1, 1);
    free_dvector(st.beta, 1, ma);
    free_dvector(st.da, 1, ma);
    free_vector(st.aorig, 1, ma);
    free_vector(st.atry, 1, ma);
    free_ivector(st.held, 1, ma);
    free_ivector(st.ia, 1, ma);
    free_vector(st.a, 1, ma);
    st = step_state();
}

// A free entry whose curvature is 0 is one that chi^2 does not see (a
// component outside the fit region, a point source without a PSF): its
// row of the damped system is 0, which cannot be solved.  It is held for
// this step (its change is 0) and named in a warning the first time.
void hold_unseen(double **covar, const fitpars *fpar)
{
    int j = 0, k = 1;
    for (const fitpars *p = fpar; p && k <= st.ma; p = p->next) {
        std::string named; // slots of this component held for the first time
        int count = 0;
        for (int s = 1; s <= 10; s++, k++) {
            if (st.ia[k] != 1)
                continue;
            j++;
            if (covar[j][j] != 0)
                continue;
            for (int i = 1; i <= st.mfit; i++)
                covar[i][j] = covar[j][i] = 0;
            covar[j][j] = 1;
            st.oneda[j][1] = 0;
            if (!st.held[k]) {
                st.held[k] = 1;
                named += (count++ ? ", " : "") + std::to_string(s);
            }
        }
        if (count > 0)
            pfunc("\n-- WARNING: Chi^2 does not change with parameter%s %s of component %d (%s),\n"
                  "   so %s held where %s while that lasts; %s uncertaint%s 0.\n",
                  count > 1 ? "s" : "", named.c_str(), (k - 1) / 10, p->objtype,
                  count > 1 ? "they are" : "it is", count > 1 ? "they are" : "it is",
                  count > 1 ? "their" : "its", count > 1 ? "ies are" : "y is");
    }
}

// A start outside the range of a constraint would freeze the fit: every
// trial step is pulled back into the range, a jump that chi^2 does not
// reward, so no step would ever be accepted.  The start is brought to the
// nearest bound instead, with a note, unless the component cannot be
// rendered there (then no step can be taken either way).
void start_within(fitpars *fpar, const cons *constr)
{
    for (int k = 1; k <= st.ma; k++)
        st.atry[k] = st.a[k];
    constraints(st.ma, st.atry, st.a, st.ia, constr, st.aorig);
    int k = 1, c = 1;
    for (const fitpars *p = fpar; p && k <= st.ma; p = p->next, c++) {
        for (int s = 1; s <= 10; s++, k++) {
            if (st.atry[k] == st.a[k])
                continue;
            const double from = st.a[k], to = st.atry[k];
            if (slot_problem(p->objtype, s, st.atry[k], true)) {
                pfunc("-- Component %d (%s), parameter %d: the start value %g is outside its\n"
                      "   constraint, but the component cannot take the bound %g.\n",
                      c, p->objtype, s, from, to);
                continue;
            }
            pfunc("-- Component %d (%s), parameter %d: the start value %g is outside its\n"
                  "   constraint; the fit starts from %g.\n",
                  c, p->objtype, s, from, to);
            st.a[k] = st.atry[k];
        }
    }
    copy_pars(st.a, nullptr, fpar, 0);
}

// Whether chi^2, the gradient and the curvature that mrqcof has just summed
// are finite numbers.
bool sums_finite(double **alpha, double chisq)
{
    bool finite = std::isfinite(chisq);
    for (int j = 1; j <= st.mfit; j++) {
        finite = finite && std::isfinite(st.beta[j]);
        for (int k = 1; k <= j; k++)
            finite = finite && std::isfinite(alpha[j][k]);
    }
    return finite;
}

// Whether the start values are what makes the sums that mrqcof has just
// made not finite: on a usable pixel the model, its residual or one of the
// derivatives of the free entries is not a finite number, or the square of
// one is not (chi^2 and the curvature are sums of such products, each
// times a weight).  If not, the weights 1/sigma^2 alone have carried
// single-precision products past the largest float.
bool start_at_fault(float **y, float **sig)
{
    const long npix = model.naxes[1] * model.naxes[2];
    const float *yv = &y[1][1], *sv = &sig[1][1], *mod = &model.z[1][1];
    const float *msk = mask && mask->z ? &mask->z[1][1] : nullptr;
    const float *const *tab = ws.tab.data();
    for (long p = 0; p < npix; p++) {
        if (!usable_pixel(msk ? msk[p] : 0.0f, yv[p], sv[p]))
            continue;
        // (A value that is not a number fails the comparison too.)
        const float dy = yv[p] - mod[p];
        if (!(dy * dy <= FLT_MAX))
            return true;
        for (int j = 1; j <= st.mfit; j++)
            if (!(tab[j][p] * tab[j][p] <= FLT_MAX))
                return true;
    }
    return false;
}

} // namespace

void mrqcof(float **y, float **sig, const int *ia, int ma, double **alpha, double *beta,
            double *chisq, fitpars *fpar, convpars *cpar)
{
    int mfit = 0;
    for (int k = 1; k <= ma; k++)
        mfit += ia[k] == 1;

    mkmodel(&model, &df, fpar, cpar, 0);

    ws.reserve(mfit);
    const float **tab = ws.tab.data();
    deriv_table(fpar, &df, tab);
    float *rows = ws.rows.data(), *s2i = ws.s2i.data(), *dy = ws.dy.data(), *w = ws.w.data();
    long *at = ws.at.data();
    double *acc = ws.acc.data();
    const size_t nacc = (1 + mfit + static_cast<size_t>(mfit) * (mfit + 1) / 2) * LANES;
    std::fill(acc, acc + nacc, 0.0);
    double *acc_chi2 = acc, *acc_beta = acc + LANES, *acc_alpha = acc + (1 + mfit) * LANES;

    const long npix = model.naxes[1] * model.naxes[2];
    const float *yv = &y[1][1], *sv = &sig[1][1], *mod = &model.z[1][1];
    const float *msk = mask && mask->z ? &mask->z[1][1] : nullptr;
    long nmask = 0;
    for (long p0 = 0; p0 < npix; p0 += CHUNK) {
        const long p1 = std::min(npix, p0 + CHUNK);
        int n = 0;
        for (long p = p0; p < p1; p++) {
            if (!usable_pixel(msk ? msk[p] : 0.0f, yv[p], sv[p])) {
                nmask++;
                continue;
            }
            at[n] = p;
            s2i[n] = 1.0f / (sv[p] * sv[p]);
            dy[n] = yv[p] - mod[p];
            n++;
        }
        for (int j = 1; j <= mfit; j++) {
            float *row = rows + static_cast<size_t>(j - 1) * CHUNK;
            for (int i = 0; i < n; i++)
                row[i] = tab[j][at[i]];
        }
        for (int i = 0; i < n; i++)
            w[i] = dy[i] * dy[i];
        add_products(acc_chi2, w, s2i, n);
        double *pair = acc_alpha;
        for (int j = 1; j <= mfit; j++) {
            const float *rj = rows + static_cast<size_t>(j - 1) * CHUNK;
            for (int i = 0; i < n; i++)
                w[i] = rj[i] * s2i[i];
            add_products(acc_beta + (j - 1) * LANES, dy, w, n);
            for (int k = 1; k <= j; k++, pair += LANES)
                add_products(pair, rows + static_cast<size_t>(k - 1) * CHUNK, w, n);
        }
    }

    const double *pair = acc_alpha;
    for (int j = 1; j <= mfit; j++) {
        beta[j] = lane_sum(acc_beta + (j - 1) * LANES);
        for (int k = 1; k <= j; k++, pair += LANES)
            alpha[j][k] = alpha[k][j] = lane_sum(pair);
    }
    sample.nmask = nmask;
    *chisq = lane_sum(acc_chi2);
}

int mrqmin(float **y, float **sig, int ma, double **covar, double **alpha, double *chisq,
           float *alamda, fitpars *fpar, const cons *constr, convpars *cpar, double *sigma)
{
    const bool setting_up = *alamda < 0;
    if (setting_up) {
        setup(ma);
        copy_pars(st.aorig, nullptr, fpar, 1);
    }
    copy_pars(st.a, st.ia, fpar, 1);
    // Only a flag of 1 is free; covsrt and errcalc count every non-zero one.
    for (int k = 1; k <= ma; k++)
        st.ia[k] = st.ia[k] == 1;
    if (setting_up) {
        st.mfit = 0;
        for (int k = 1; k <= ma; k++)
            st.mfit += st.ia[k];
        st.oneda = st.mfit > 0 ? dmatrix(1, st.mfit, 1, 1) : nullptr;
        *alamda = 0.01f;
        start_within(fpar, constr);
        mrqcof(y, sig, st.ia, ma, alpha, st.beta, chisq, fpar, cpar);
        // Neither a fit without degrees of freedom nor one from a chi^2 or
        // a curvature that is not a finite number can end in anything but
        // garbage (a curvature that is not finite cannot even be solved).
        const long npix = model.naxes[1] * model.naxes[2];
        int why = 0;
        if (npix - sample.nmask - st.mfit <= 0)
            why = MRQ_NO_DOF;
        else if (!sums_finite(alpha, *chisq))
            why = start_at_fault(y, sig) ? MRQ_BAD_CHI2 : MRQ_BAD_WEIGHTS;
        if (why) {
            release();
            return why;
        }
        st.ochisq = *chisq;
        for (int k = 1; k <= ma; k++)
            st.atry[k] = st.a[k];
    }
    const int mfit = st.mfit;

    for (int j = 1; j <= mfit; j++) {
        for (int k = 1; k <= mfit; k++)
            covar[j][k] = alpha[j][k];
        covar[j][j] = alpha[j][j] * (1.0 + *alamda);
        st.oneda[j][1] = st.beta[j];
    }

    if (*alamda == 0) {
        // The errors and the covariance come from the inverse of alpha; a
        // curvature that cannot be inverted leaves the fitted parameters as
        // they are.
        int singular = errcalc(sigma, alpha, ma, st.ia, mfit, covar);
        if (singular) {
            pfunc("\n-- WARNING: The curvature matrix is singular: some parameters are not\n"
                  "   constrained by the data.  The parameter uncertainties could not be\n"
                  "   computed and are given as 0.\n");
        } else if (mfit > 0) {
            covsrt(covar, ma, st.ia, mfit);
            covsrt(alpha, ma, st.ia, mfit);
        }
        release();
        return singular;
    }

    if (mfit > 0) {
        hold_unseen(covar, fpar);
        bool finite = true;
        for (int j = 1; j <= mfit; j++)
            for (int k = 1; k <= mfit; k++)
                finite = finite && std::isfinite(covar[j][k]);
        // A damped system that cannot be solved is a step that failed: more
        // damping makes the diagonal dominate.  A curvature that is not
        // finite (or a damping that has grown past the largest float) no
        // damping can mend: the fit cannot go on.
        if (const char *why = gaussj_solve(covar, mfit, st.oneda, 1)) {
            if (!finite)
                nrerror(why);
            *alamda = static_cast<float>(*alamda * 10.0);
            *chisq = st.ochisq;
            copy_pars(st.a, nullptr, fpar, 0);
            return 0;
        }
    }
    for (int j = 1; j <= mfit; j++)
        st.da[j] = st.oneda[j][1];

    par_monitor(ma, st.a, st.ia, st.atry, st.da, fpar);
    constraints(ma, st.atry, st.a, st.ia, constr, st.aorig);

    // A trial value at the sentinel (or not a number) cannot be rendered,
    // nor can one that a constraint has moved where the profile has no
    // value: the step fails without a model.
    bool renderable = true;
    for (int k = 1; k <= ma; k++)
        if (!(std::fabs(st.atry[k]) < STEP_SENTINEL))
            renderable = false;
    int k = 1;
    for (const fitpars *p = fpar; p && renderable; p = p->next)
        for (int s = 1; s <= 10; s++, k++)
            if (k <= ma && st.ia[k] == 1 && slot_problem(p->objtype, s, st.atry[k], true))
                renderable = false;

    if (renderable) {
        copy_pars(st.atry, nullptr, fpar, 0);
        mrqcof(y, sig, st.ia, ma, covar, st.da, chisq, fpar, cpar);
    }
    if (renderable && st.ochisq > *chisq) {
        // A long run of accepted steps must not take the damping to 0,
        // which is the final call's signal; below FLT_MIN it damps nothing
        // anyway.
        *alamda = std::max(static_cast<float>(*alamda * 0.1), FLT_MIN);
        st.ochisq = *chisq;
        st.accepted = true;
        for (int j = 1; j <= mfit; j++) {
            for (int k = 1; k <= mfit; k++)
                alpha[j][k] = covar[j][k];
            st.beta[j] = st.da[j];
        }
        for (int k = 1; k <= ma; k++)
            st.a[k] = st.atry[k];
    } else {
        *alamda = static_cast<float>(*alamda * 10.0);
        *chisq = st.ochisq;
    }
    copy_pars(st.a, nullptr, fpar, 0);
    return 0;
}

bool step_accepted()
{
    return st.accepted;
}

bool last_accepted(fitpars *fpar, double *chisq)
{
    if (!st.a)
        return false;
    copy_pars(st.a, nullptr, fpar, 0);
    *chisq = st.ochisq;
    return true;
}
