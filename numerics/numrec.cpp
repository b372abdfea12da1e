// Gauss-Jordan elimination, covariance re-expansion, Jacobi eigen-
// decomposition, ln Gamma, incomplete gamma function, Ridders' derivative.
#include "numerics/numrec.h"

#include "numerics/nrutil.h"

#include <cmath>
#include <limits>
#include <utility>

const char *gaussj_solve(double **a, int n, double **b, int m)
{
    int *indxc = ivector(1, n);
    int *indxr = ivector(1, n);
    int *ipiv = ivector(1, n);
    for (int j = 1; j <= n; j++)
        ipiv[j] = 0;
    const char *singular = nullptr;
    for (int i = 1; i <= n && !singular; i++) {
        double big = 0.0;
        int irow = 0, icol = 0;
        for (int j = 1; j <= n; j++) {
            if (ipiv[j] == 1)
                continue;
            for (int k = 1; k <= n && !singular; k++) {
                if (ipiv[k] == 0) {
                    if (std::fabs(a[j][k]) >= big) {
                        big = std::fabs(a[j][k]);
                        irow = j;
                        icol = k;
                    }
                } else if (ipiv[k] > 1) {
                    singular = "gaussj: Singular Matrix-1";
                }
            }
        }
        if (singular)
            break;
        // No candidate at all happens only when every one is not a number.
        if (icol == 0 || !std::isfinite(a[irow][icol]) || a[irow][icol] == 0.0) {
            singular = "gaussj: Singular Matrix-2";
            break;
        }
        ++ipiv[icol];
        if (irow != icol) {
            for (int l = 1; l <= n; l++)
                std::swap(a[irow][l], a[icol][l]);
            for (int l = 1; l <= m; l++)
                std::swap(b[irow][l], b[icol][l]);
        }
        indxr[i] = irow;
        indxc[i] = icol;
        const double pivinv = 1.0 / a[icol][icol];
        a[icol][icol] = 1.0;
        for (int l = 1; l <= n; l++)
            a[icol][l] *= pivinv;
        for (int l = 1; l <= m; l++)
            b[icol][l] *= pivinv;
        for (int ll = 1; ll <= n; ll++) {
            if (ll == icol)
                continue;
            const double dum = a[ll][icol];
            a[ll][icol] = 0.0;
            for (int l = 1; l <= n; l++)
                a[ll][l] -= a[icol][l] * dum;
            for (int l = 1; l <= m; l++)
                b[ll][l] -= b[icol][l] * dum;
        }
    }
    for (int l = n; l >= 1 && !singular; l--) {
        if (indxr[l] != indxc[l])
            for (int k = 1; k <= n; k++)
                std::swap(a[k][indxr[l]], a[k][indxc[l]]);
    }
    free_ivector(ipiv, 1, n);
    free_ivector(indxr, 1, n);
    free_ivector(indxc, 1, n);
    return singular;
}

void gaussj(double **a, int n, double **b, int m)
{
    if (const char *why = gaussj_solve(a, n, b, m))
        nrerror(why);
}

void covsrt(double **covar, int ma, int ia[], int mfit)
{
    for (int i = mfit + 1; i <= ma; i++)
        for (int j = 1; j <= i; j++)
            covar[i][j] = covar[j][i] = 0.0;
    int k = mfit;
    for (int j = ma; j >= 1; j--) {
        if (ia[j] == 0)
            continue;
        for (int i = 1; i <= ma; i++)
            std::swap(covar[i][k], covar[i][j]);
        for (int i = 1; i <= ma; i++)
            std::swap(covar[k][i], covar[j][i]);
        k--;
    }
}

namespace {

inline void rotate(double **a, int i, int j, int k, int l, double s, double tau)
{
    const double g = a[i][j], h = a[k][l];
    a[i][j] = g - s * (h + g * tau);
    a[k][l] = h + s * (g - h * tau);
}

} // namespace

void jacobi(double **a, int n, double d[], double **v, int *nrot)
{
    double *b = dvector(1, n);
    double *z = dvector(1, n);
    for (int ip = 1; ip <= n; ip++) {
        for (int iq = 1; iq <= n; iq++)
            v[ip][iq] = 0.0;
        v[ip][ip] = 1.0;
        b[ip] = d[ip] = a[ip][ip];
        z[ip] = 0.0;
    }
    *nrot = 0;
    for (int i = 1; i <= 50; i++) {
        double sm = 0.0;
        for (int ip = 1; ip <= n - 1; ip++)
            for (int iq = ip + 1; iq <= n; iq++)
                sm += std::fabs(a[ip][iq]);
        if (sm == 0.0) {
            free_dvector(z, 1, n);
            free_dvector(b, 1, n);
            return;
        }
        const double tresh = i < 4 ? 0.2 * sm / (n * n) : 0.0;
        for (int ip = 1; ip <= n - 1; ip++) {
            for (int iq = ip + 1; iq <= n; iq++) {
                const double g = 100.0 * std::fabs(a[ip][iq]);
                if (i > 4 && std::fabs(d[ip]) + g == std::fabs(d[ip]) &&
                    std::fabs(d[iq]) + g == std::fabs(d[iq])) {
                    a[ip][iq] = 0.0;
                } else if (std::fabs(a[ip][iq]) > tresh) {
                    double h = d[iq] - d[ip];
                    double t;
                    if (std::fabs(h) + g == std::fabs(h)) {
                        t = a[ip][iq] / h;
                    } else {
                        const double theta = 0.5 * h / a[ip][iq];
                        t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
                        if (theta < 0.0)
                            t = -t;
                    }
                    const double c = 1.0 / std::sqrt(1 + t * t);
                    const double s = t * c;
                    const double tau = s / (1.0 + c);
                    h = t * a[ip][iq];
                    z[ip] -= h;
                    z[iq] += h;
                    d[ip] -= h;
                    d[iq] += h;
                    a[ip][iq] = 0.0;
                    for (int j = 1; j <= ip - 1; j++)
                        rotate(a, j, ip, j, iq, s, tau);
                    for (int j = ip + 1; j <= iq - 1; j++)
                        rotate(a, ip, j, j, iq, s, tau);
                    for (int j = iq + 1; j <= n; j++)
                        rotate(a, ip, j, iq, j, s, tau);
                    for (int j = 1; j <= n; j++)
                        rotate(v, j, ip, j, iq, s, tau);
                    ++(*nrot);
                }
            }
        }
        for (int ip = 1; ip <= n; ip++) {
            b[ip] += z[ip];
            d[ip] = b[ip];
            z[ip] = 0.0;
        }
    }
    nrerror("Too many iterations in routine jacobi");
}

float gammln(float xx)
{
    static const double cof[6] = {76.18009172947146,  -86.50532032941678,   24.01409824083091,
                                  -1.231739572450155, 0.001208650973866179, -5.395239384953e-6};
    double x = xx, y = xx;
    double tmp = x + 5.5;
    tmp -= (x + 0.5) * std::log(tmp);
    double ser = 1.000000000190015;
    for (double c : cof)
        ser += c / ++y;
    return static_cast<float>(-tmp + std::log(2.5066282746310005 * ser / x));
}

namespace {

const int ITMAX = 100;
const float EPS = 3.0e-7f;
const float FPMIN = 1.0e-30f;

} // namespace

float gammp(float a, float x)
{
    // Arguments that are not numbers are as invalid as negative ones.
    if (!(x >= 0.0f) || !(a > 0.0f))
        nrerror("Invalid arguments in routine gammp");
    float gln;
    if (x < a + 1.0f) {
        float gamser;
        gser(&gamser, a, x, &gln);
        return gamser;
    }
    float gammcf;
    gcf(&gammcf, a, x, &gln);
    return 1.0f - gammcf;
}

void gser(float *gamser, float a, float x, float *gln)
{
    *gln = gammln(a);
    if (x <= 0.0f) {
        if (x < 0.0f)
            nrerror("x less than 0 in routine gser");
        *gamser = 0.0f;
        return;
    }
    float ap = a;
    float sum = 1.0f / a, del = sum;
    for (int n = 1; n <= ITMAX; n++) {
        ++ap;
        del = del * x / ap;
        sum += del;
        if (std::fabs(del) < std::fabs(sum) * EPS) {
            *gamser = sum * std::exp(-x + a * std::log(x) - *gln);
            return;
        }
    }
    nrerror("a too large, ITMAX too small in routine gser");
}

void gcf(float *gammcf, float a, float x, float *gln)
{
    *gln = gammln(a);
    float b = x + 1.0f - a;
    float c = 1.0f / FPMIN;
    float d = 1.0f / b;
    float h = d;
    int i;
    for (i = 1; i <= ITMAX; i++) {
        const float an = -i * (i - a);
        b += 2.0f;
        d = an * d + b;
        if (std::fabs(d) < FPMIN)
            d = FPMIN;
        c = b + an / c;
        if (std::fabs(c) < FPMIN)
            c = FPMIN;
        d = 1.0f / d;
        const float del = d * c;
        h *= del;
        if (std::fabs(del - 1.0f) < EPS)
            break;
    }
    if (i > ITMAX)
        nrerror("a too large, ITMAX too small in gcf");
    *gammcf = std::exp(-x + a * std::log(x) - *gln) * h;
}

float dfridr(float (*func)(float), float x, float h, float *err)
{
    const int NTAB = 10;
    const double CON = 1.4, CON2 = CON * CON, BIG = 1.0e30, SAFE = 2.0;
    if (h == 0.0f)
        nrerror("h must be nonzero in dfridr.");
    float **a = matrix(1, NTAB, 1, NTAB);
    float hh = h;
    // Evaluated in this order: f(x + h) first.
    float fp = func(x + hh);
    float fm = func(x - hh);
    a[1][1] = (fp - fm) / (2.0 * hh);
    *err = BIG;
    // Stays NaN when no estimate ever had a usable error.
    float ans = std::numeric_limits<float>::quiet_NaN();
    for (int i = 2; i <= NTAB; i++) {
        hh /= CON;
        fp = func(x + hh);
        fm = func(x - hh);
        a[1][i] = (fp - fm) / (2.0 * hh);
        float fac = CON2;
        for (int j = 2; j <= i; j++) {
            a[j][i] = (a[j - 1][i] * fac - a[j - 1][i - 1]) / (fac - 1.0);
            fac = CON2 * fac;
            const float errt =
                std::fmax(std::fabs(a[j][i] - a[j - 1][i]), std::fabs(a[j][i] - a[j - 1][i - 1]));
            if (errt <= *err) {
                *err = errt;
                ans = a[j][i];
            }
        }
        if (std::fabs(a[i][i] - a[i - 1][i - 1]) >= SAFE * (*err))
            break;
    }
    free_matrix(a, 1, NTAB, 1, NTAB);
    return ans;
}
