// The parts of a fit step that do not render: trial limits, the flat
// parameter vectors, chi^2 of a finished model and the uncertainties.
#include "torvex/fit/fitstep.h"

#include "torvex/fit/errsearch.h"
#include "torvex/fit/mrqmin.h"

#include "torvex/input/checkpars.h"
#include "torvex/model/component_types.h"

#include "numerics/numrec.h"

#include <algorithm>
#include <cmath>
#include <vector>

void copy_pars(float *a, int *ia, fitpars *fpar, int direction)
{
    if (direction != 0 && direction != 1)
        return;
    int k = 1;
    for (fitpars *p = fpar; p; p = p->next)
        for (int s = 1; s <= NSLOTS; s++, k++) {
            if (direction == 1) {
                a[k] = p->a[s];
                if (ia)
                    ia[k] = p->ia[s];
            } else {
                p->a[s] = a[k];
            }
        }
}

int deriv_table(const fitpars *fpar, const derivs *df, const float **tab)
{
    int j = 0;
    for (; fpar && df; fpar = fpar->next, df = df->next)
        for (int s = 1; s <= NSLOTS; s++)
            if (fpar->ia[s] == 1)
                tab[++j] = &df->dpm[s][1][1];
    return j;
}

namespace {

bool size_slot(const char *type, int slot)
{
    const component_type *t = find_component_type(type);
    return t && t->slot[slot].size;
}

} // namespace

void par_monitor(int ma, float *a, const int *ia, float *atry, const double *da,
                 const fitpars *fpar)
{
    int j = 0;
    const fitpars *p = fpar;
    bool turn_pa = false; // the axis ratio of this component was inverted
    for (int k = 1; k <= ma; k++) {
        const int s = (k - 1) % NSLOTS + 1;
        if (s == 1) {
            if (k > 1 && p)
                p = p->next;
            turn_pa = false;
        }
        if (ia[k] != 1)
            continue;
        j++;
        float t = static_cast<float>(a[k] + da[j]);
        const float av = a[k];
        switch (s) {
        case SLOT_Q:
            // Magnitude first, so that q stays in (0, 1] whatever its sign.
            t = std::fabs(t);
            if (t > 1) {
                t = 1 / t;
                turn_pa = ia[k + 1] == 1;
            }
            if (std::fabs(av / t) >= 100)
                t = av / 100;
            if (t < 0)
                t = std::fabs(t);
            break;
        case SLOT_PA:
            if (turn_pa)
                t += 90;
            break;
        case SLOT_SIZE:
            if (t / av >= 10)
                t = 10 * av;
            else if (av / t >= 10)
                t = av / 10;
            if (av <= 0)
                a[k] = 0.01f;
            if (t <= 0)
                t = 0.01f;
            break;
        case SLOT_SERSIC_N: // also the Moffat power law and the Nuker alpha
            if (p && size_slot(p->objtype, s))
                break; // the King truncation radius takes no step limit
            if (std::fabs(t / av) >= 10)
                t = 10 * av;
            else if (av / t >= 10)
                t = av / 10;
            if (t > 20 || t < 0)
                t = STEP_SENTINEL;
            break;
        case SLOT_X: // for the sky, its level and its slope along x
        case SLOT_Y:
            if (t - av >= 100000)
                t = av + 100000;
            else if (av - t >= 100000)
                t = av - 100000;
            break;
        case SLOT_C:
            if (t <= MIN_DISKINESS)
                t = MIN_DISKINESS;
            else if (t > kMaxDiskiness)
                t = kMaxDiskiness;
            break;
        case SLOT_NUKER_BETA: // also the King alpha
        case SLOT_NUKER_GAMMA:
            if (t < 0)
                t = 0;
            break;
        default:
            break;
        }
        // What the rules above let through may still be a value the
        // profile cannot render (a Moffat power law <= 1, a Nuker gamma
        // >= 2, a King alpha of 0, a Sersic index near 0): such a step is
        // rejected like one that leaves the index range.
        if (p && slot_problem(p->objtype, s, t, true))
            t = STEP_SENTINEL;
        atry[k] = t;
    }
}

double chi2calc(const fitpars *fpar, const image &data, const image &sigma, const image &model,
                const long naxes[3], int *ndof)
{
    const long npix = naxes[1] * naxes[2];
    const float *d = npix > 0 ? &data.z[1][1] : nullptr;
    const float *s = npix > 0 ? &sigma.z[1][1] : nullptr;
    const float *m = npix > 0 ? &model.z[1][1] : nullptr;
    const float *msk = npix > 0 && mask && mask->z ? &mask->z[1][1] : nullptr;
    double chi2 = 0;
    long used = 0;
    for (long p = 0; p < npix; p++) {
        if (!usable_pixel(msk ? msk[p] : 0.0f, d[p], s[p]))
            continue;
        used++;
        const float r = d[p] - m[p];
        chi2 += (r * r) / (s[p] * s[p]);
    }
    *ndof = static_cast<int>(used - free_slots(fpar));
    return chi2;
}

float smallest_sigma(const image &data, const image &sigma, const long naxes[3])
{
    const long npix = naxes[1] * naxes[2];
    const float *d = npix > 0 ? &data.z[1][1] : nullptr;
    const float *s = npix > 0 ? &sigma.z[1][1] : nullptr;
    const float *msk = npix > 0 && mask && mask->z ? &mask->z[1][1] : nullptr;
    float least = INFINITY;
    for (long p = 0; p < npix; p++)
        if (usable_pixel(msk ? msk[p] : 0.0f, d[p], s[p]))
            least = std::min(least, s[p]);
    return least;
}

int free_slots(const fitpars *fpar)
{
    int nfree = 0;
    for (; fpar; fpar = fpar->next)
        for (int k = 1; k <= NSLOTS; k++)
            nfree += fpar->ia[k] == 1;
    return nfree;
}

int errcalc(double *sigma, double **alpha, int ma, const int *ia, int mfit, double **cov)
{
    for (int k = 1; k <= ma; k++)
        sigma[k] = 0;
    // Entries without curvature are the ones the fit held (chi^2 does not
    // see them): error 0, and left out of the inversion.  The others are
    // seen[1..n].
    std::vector<int> seen(1, 0);
    bool usable = true;
    for (int i = 1; i <= mfit; i++) {
        if (alpha[i][i] == 0)
            continue;
        usable = usable && alpha[i][i] > 0 && std::isfinite(alpha[i][i]);
        seen.push_back(i);
    }
    const int n = static_cast<int>(seen.size()) - 1;
    if (n < 1 || !usable)
        return n < 1 ? 0 : 1;
    double **w = dmatrix(1, n, 1, n);
    double **v = dmatrix(1, n, 1, n);
    double *d = dvector(1, n);
    double *scale = dvector(1, n);
    // The parameters differ in their units by many orders of magnitude, so
    // the curvature is decomposed with unit diagonal: w = S alpha S with
    // S = diag(1 / sqrt(alpha_ii)), and alpha^-1 = S w^-1 S.
    for (int i = 1; i <= n; i++)
        scale[i] = 1 / std::sqrt(alpha[seen[i]][seen[i]]);
    for (int i = 1; i <= n && usable; i++)
        for (int j = 1; j <= n; j++) {
            w[i][j] = alpha[seen[i]][seen[j]] * scale[i] * scale[j];
            usable = usable && std::isfinite(w[i][j]);
        }
    int singular = !usable;
    if (usable) {
        int nrot;
        jacobi(w, n, d, v, &nrot);
        // Eigenvalues at the rounding level of the largest belong to
        // directions that chi^2 does not constrain.
        double dmax = 0;
        for (int j = 1; j <= n; j++)
            dmax = std::fmax(dmax, std::fabs(d[j]));
        for (int j = 1; j <= n; j++)
            if (!(d[j] > 1e-13 * dmax))
                singular = 1;
    }
    if (!singular) {
        // The covariance C = alpha^-1 = S V diag(1/d) V^T S; each error is
        // the standard error sqrt(C_ii), which takes in every direction the
        // parameter shares with others.
        if (cov)
            for (int i = 1; i <= mfit; i++)
                for (int k = 1; k <= mfit; k++)
                    cov[i][k] = 0;
        for (int i = 1; i <= n; i++) {
            for (int k = 1; k <= i; k++) {
                double c = 0;
                for (int j = 1; j <= n; j++)
                    c += v[i][j] * v[k][j] / d[j];
                if (k == i)
                    sigma[seen[i]] = std::sqrt(c) * scale[i];
                if (cov)
                    cov[seen[i]][seen[k]] = cov[seen[k]][seen[i]] = c * scale[i] * scale[k];
            }
        }
        // Spread: each free entry receives its own error, every fixed one 0.
        sortsig(sigma, ma, ia, mfit);
    }
    free_dvector(scale, 1, n);
    free_dvector(d, 1, n);
    free_dmatrix(v, 1, n, 1, n);
    free_dmatrix(w, 1, n, 1, n);
    return singular;
}

void assign_err(fitpars *fpar, const double *sigma, float chi2nu)
{
    const double scale = std::sqrt(static_cast<double>(chi2nu));
    int k = 1;
    for (fitpars *p = fpar; p; p = p->next)
        for (int s = 1; s <= NSLOTS; s++, k++)
            p->sig[s] = static_cast<float>(sigma[k] * scale);
}
