#include "torvex/mrqmin.h"

#include "numerics/numrec.h"
#include "torvex/constraints.h"
#include "torvex/mkmodel.h"

#include <cmath>
#include <vector>

namespace {

// What persists between the calls of one fit: made by the set-up call,
// released by the final call, so that no step allocates.
struct step_state {
    int ma = 0, mfit = 0;
    float *a = nullptr, *atry = nullptr, *aorig = nullptr;
    int *ia = nullptr;
    double *da = nullptr, *beta = nullptr;
    double **oneda = nullptr;
    double ochisq = 0;
};
step_state st;

// Work space of the curvature sums; grows once, to the largest fit seen.
std::vector<const float *> dtab;
std::vector<float> dyda;

void setup(int ma)
{
    st.ma = ma;
    st.a = vector(1, ma);
    st.ia = ivector(1, ma);
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
    free_ivector(st.ia, 1, ma);
    free_vector(st.a, 1, ma);
    st = step_state();
}

} // namespace

void mrqcof(float **y, float **sig, const int *ia, int ma, double **alpha, double *beta,
            double *chisq, fitpars *fpar, convpars *cpar)
{
    int mfit = 0;
    for (int k = 1; k <= ma; k++)
        mfit += ia[k] == 1;
    for (int j = 1; j <= mfit; j++) {
        for (int k = 1; k <= j; k++)
            alpha[j][k] = 0;
        beta[j] = 0;
    }

    mkmodel(&model, &df, fpar, cpar, 0);

    if (dtab.size() < static_cast<size_t>(mfit) + 1) {
        dtab.resize(mfit + 1);
        dyda.resize(mfit + 1);
    }
    const float **tab = dtab.data();
    float *dy_da = dyda.data();
    deriv_table(fpar, &df, tab);

    const long npix = model.naxes[1] * model.naxes[2];
    const float *yv = &y[1][1], *sv = &sig[1][1], *mod = &model.z[1][1];
    const float *msk = mask && mask->z ? &mask->z[1][1] : nullptr;
    long nmask = 0;
    double chi2 = 0;
    for (long p = 0; p < npix; p++) {
        if (!usable_pixel(msk ? msk[p] : 0.0f, yv[p], sv[p])) {
            nmask++;
            continue;
        }
        for (int j = 1; j <= mfit; j++)
            dy_da[j] = tab[j][p];
        const float sig2i = 1.0f / (sv[p] * sv[p]);
        const float dy = yv[p] - mod[p];
        for (int j = 1; j <= mfit; j++) {
            const float wt = dy_da[j] * sig2i;
            double *row = alpha[j];
            // Products in single precision, sums in double; independent
            // across k, so this loop vectorises.
            for (int k = 1; k <= j; k++)
                row[k] += static_cast<double>(dy_da[k] * wt);
            beta[j] += static_cast<double>(dy * wt);
        }
        chi2 += static_cast<double>(dy * dy * sig2i);
    }
    for (int j = 2; j <= mfit; j++)
        for (int k = 1; k < j; k++)
            alpha[k][j] = alpha[j][k];
    sample.nmask = nmask;
    *chisq = chi2;
}

int mrqmin(float **y, float **sig, int ma, double **covar, double **alpha, double *chisq,
           float *alamda, fitpars *fpar, const cons *constr, convpars *cpar, double *sigma)
{
    if (*alamda < 0) {
        setup(ma);
        copy_pars(st.aorig, nullptr, fpar, 1);
        copy_pars(st.a, st.ia, fpar, 1);
        st.mfit = 0;
        for (int k = 1; k <= ma; k++)
            st.mfit += st.ia[k] == 1;
        st.oneda = st.mfit > 0 ? dmatrix(1, st.mfit, 1, 1) : nullptr;
        *alamda = 0.01f;
        mrqcof(y, sig, st.ia, ma, alpha, st.beta, chisq, fpar, cpar);
        // Neither a fit without degrees of freedom nor one from a chi^2
        // that is not a number can end in anything but garbage.
        const long npix = model.naxes[1] * model.naxes[2];
        if (npix - sample.nmask - st.mfit <= 0 || !std::isfinite(*chisq)) {
            const int why = npix - sample.nmask - st.mfit <= 0 ? MRQ_NO_DOF : MRQ_BAD_CHI2;
            release();
            return why;
        }
        st.ochisq = *chisq;
        for (int k = 1; k <= ma; k++)
            st.atry[k] = st.a[k];
    } else {
        copy_pars(st.a, st.ia, fpar, 1);
    }
    const int mfit = st.mfit;

    for (int j = 1; j <= mfit; j++) {
        for (int k = 1; k <= mfit; k++)
            covar[j][k] = alpha[j][k];
        covar[j][j] = alpha[j][j] * (1.0 + *alamda);
        st.oneda[j][1] = st.beta[j];
    }

    if (*alamda == 0) {
        // The errors come from the eigenvalues of alpha; a curvature that
        // cannot be inverted leaves the fitted parameters as they are.
        int singular = errcalc(sigma, alpha, ma, st.ia, mfit);
        if (singular) {
            pfunc("\n-- WARNING: The curvature matrix is singular: some parameters are not\n"
                  "   constrained by the data.  The parameter uncertainties could not be\n"
                  "   computed and are given as 0.\n");
        } else if (mfit > 0) {
            gaussj(covar, mfit, st.oneda, 1);
            covsrt(covar, ma, st.ia, mfit);
            covsrt(alpha, ma, st.ia, mfit);
        }
        release();
        return singular;
    }

    if (mfit > 0)
        gaussj(covar, mfit, st.oneda, 1);
    for (int j = 1; j <= mfit; j++)
        st.da[j] = st.oneda[j][1];

    par_monitor(ma, st.a, st.ia, st.atry, st.da, fpar);
    constraints(ma, st.atry, st.a, st.ia, constr, st.aorig);

    // A trial value at the sentinel (or not a number) cannot be rendered:
    // the step fails without a model.
    bool renderable = true;
    for (int k = 1; k <= ma; k++)
        if (!(std::fabs(st.atry[k]) < STEP_SENTINEL))
            renderable = false;

    if (renderable) {
        copy_pars(st.atry, nullptr, fpar, 0);
        mrqcof(y, sig, st.ia, ma, covar, st.da, chisq, fpar, cpar);
    }
    if (renderable && st.ochisq > *chisq) {
        *alamda = static_cast<float>(*alamda * 0.1);
        st.ochisq = *chisq;
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
