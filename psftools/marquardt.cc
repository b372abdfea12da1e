#include "psftools/marquardt.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <utility>
#include <vector>

#include "dornel/poly.h"
#include "lightcurve/tables.h"
#include "psftools/printF.h"

using orv::MArray;

namespace {

// A copy with storage of its own and the same index ranges.
MArray<double, 1> ownCopy(const MArray<double, 1> &a)
{
    MArray<double, 1> c(a.shape());
    c = a;
    return c;
}

MArray<double, 2> zeroMatrix(int n)
{
    MArray<double, 2> m(n, n);
    m = 0.0;
    return m;
}

MArray<double, 1> zeroVector(int n)
{
    MArray<double, 1> v(n);
    v = 0.0;
    return v;
}

// Elements 1..n of v on one line of standard output, 15 characters each.
template <class T>
void printRow(const MArray<T, 1> &v, int n)
{
    for (int k = 1; k <= n; ++k)
        printF{15, 5, static_cast<double>(v(k)), 1}(std::cout);
    std::cout << std::endl;
}

// Number of free parameters.
int freeCount(const MArray<int, 1> &ia, int ma)
{
    int n = 0;
    for (int l = 1; l <= ma; ++l)
        n += ia(l) != 0;
    return n;
}

void setStatistics(marquardt &m)
{
    m.rms = std::sqrt(m.chisq / m.npoints);
    m.dof = m.npoints - m.mfit;
    m.rms_dof = std::sqrt(m.chisq / m.dof);
}

// Ends a calc that gives no covariance: no standard errors either.
int failure(marquardt &m, int code)
{
    m.sa = 0.0;
    m.covar = 0.0;
    if (m.verbose > 0)
        std::cerr << "marquardt: error " << code << std::endl;
    return -1;
}

} // namespace

marquardt::marquardt(const MArray<double, 1> &x_, const MArray<double, 1> &y_,
                     const MArray<double, 1> &z_, const MArray<double, 1> &sig_,
                     const MArray<double, 1> &a_, const MArray<int, 1> &ia_)
    : first(z_.firstIndex(1)), last(z_.lastIndex(1)), ndata(last - first + 1), npoints(0),
      ma(a_.lastIndex(1)), x(ownCopy(x_)), y(ownCopy(y_)), z(ownCopy(z_)), sig(ownCopy(sig_)),
      mfit(0), ochisq(0.0), alpha(zeroMatrix(ma)), covar(zeroMatrix(ma)), atry(zeroVector(ma)),
      beta(zeroVector(ma)), da(ma), dof(0), maxiter(10000), verbose(0), iterations(0), factor(10.0),
      chisq(0.0), alamda(-1.0), rms(0.0), rms_dof(0.0), a(ma), ia(ma), sa(zeroVector(ma)),
      noise(17), dyda_(zeroVector(ma)), free_(static_cast<std::size_t>(std::max(ma, 0))),
      dfree_(free_.size())
{
    // Points are read where all four lists hold them, parameters and flags
    // where their lists hold them (a missing one is 0 and fixed).
    const int lo = std::max({first, x.firstIndex(1), y.firstIndex(1), sig.firstIndex(1)});
    const int hi = std::min({last, x.lastIndex(1), y.lastIndex(1), sig.lastIndex(1)});
    if (lo != first || hi != last) {
        std::cerr << "marquardt: x, y and sig do not cover the points of z; only points " << lo
                  << " to " << hi << " are used" << std::endl;
        first = lo;
        last = hi;
        ndata = std::max(0, last - first + 1);
    }
    if (ma >= 1 && (a_.firstIndex(1) > 1 || ia_.firstIndex(1) > 1 || ia_.lastIndex(1) < ma))
        std::cerr << "marquardt: a and ia do not cover the parameters 1.." << ma
                  << "; the missing ones are 0 and fixed" << std::endl;
    for (int k = 1; k <= ma; ++k) {
        a(k) = k >= a_.firstIndex(1) ? a_(k) : 0.0;
        ia(k) = k >= ia_.firstIndex(1) && k <= ia_.lastIndex(1) ? ia_(k) : 0;
    }
    for (int i = first; i <= last; ++i)
        if (sig(i) > 0)
            ++npoints;
}

marquardt::~marquardt() = default;

int marquardt::mrqcof(MArray<double, 1> &p, MArray<double, 2> &c, MArray<double, 1> &b)
{
    // The work space is the object's: nothing is allocated per call.
    MArray<double, 1> &dyda = dyda_;
    dyda = 0.0;
    int m = 0;
    for (int l = 1; l <= ma; ++l)
        if (ia(l) != 0)
            free_[m++] = l;
    const std::vector<int> &free = free_;
    std::vector<double> &d = dfree_;
    for (int j = 1; j <= m; ++j) {
        for (int k = 1; k <= m; ++k)
            c(j, k) = 0.0;
        b(j) = 0.0;
    }
    chisq = 0.0;
    for (int i = first; i <= last; ++i) {
        if (!(sig(i) > 0))
            continue;
        double ymod;
        if (funcs(x(i), y(i), p, ymod, dyda) == -1)
            return -1;
        const double w = 1.0 / (sig(i) * sig(i));
        const double dy = z(i) - ymod;
        for (int j = 0; j < m; ++j)
            d[j] = dyda(free[j]);
        // Lower triangle only; mirrored below.
        for (int j = 0; j < m; ++j) {
            const double wt = d[j] * w;
            for (int k = 0; k <= j; ++k)
                c(j + 1, k + 1) += wt * d[k];
            b(j + 1) += dy * wt;
        }
        chisq += dy * dy * w;
    }
    for (int j = 2; j <= m; ++j)
        for (int k = 1; k < j; ++k)
            c(k, j) = c(j, k);
    return 0;
}

int marquardt::mrqmin()
{
    if (alamda < 0) {
        atry = 0.0;
        beta = 0.0;
        da = 0.0;
        mfit = freeCount(ia, ma);
        alamda = 0.001;
        if (mrqcof(a, alpha, beta) == -1)
            return -1;
        ochisq = chisq;
        atry = a;
    }
    for (int j = 1; j <= mfit; ++j) {
        for (int k = 1; k <= mfit; ++k)
            covar(j, k) = alpha(j, k);
        covar(j, j) = alpha(j, j) * (1.0 + alamda);
        da(j) = beta(j);
    }
    if (gaussj(covar, mfit, da) == -1) {
        chisq = ochisq;
        alamda *= factor;
        return -2;
    }
    if (alamda == 0) {
        cov_srt(covar);
        cov_srt(alpha);
        return 0;
    }
    for (int j = 1, l = 0; j <= ma; ++j)
        if (ia(j) != 0)
            atry(j) = a(j) + da(++l);
    if (mrqcof(atry, covar, da) == -1) {
        chisq = ochisq;
        alamda *= factor;
        return -3;
    }
    if (ochisq > chisq) {
        alamda /= factor;
        ochisq = chisq;
        for (int j = 1; j <= mfit; ++j) {
            for (int k = 1; k <= mfit; ++k)
                alpha(j, k) = covar(j, k);
            beta(j) = da(j);
        }
        a = atry;
    } else {
        alamda *= factor;
        chisq = ochisq;
    }
    return 0;
}

int marquardt::calc()
{
    alamda = -1.0;
    int n = 0;
    do {
        ++n;
        if (mrqmin() == -1) {
            // The start values cannot be evaluated: nothing was fitted and
            // there is no chi² to report.
            iterations = n;
            chisq = std::numeric_limits<double>::quiet_NaN();
            setStatistics(*this);
            return failure(*this, -1);
        }
        if (n > maxiter)
            break;
    } while (alamda > 1e-15 && alamda < 1e15);
    iterations = n;
    alamda = 0.0;
    const int r = mrqmin();
    // chisq is that of the parameters in a, whatever the last step did.
    setStatistics(*this);
    // A singular final matrix leaves the fitted parameters but no errors.
    if (r != 0)
        return failure(*this, r);
    for (int j = 1; j <= ma; ++j)
        sa(j) = covar(j, j) > 0 ? std::sqrt(covar(j, j)) : 0.0;
    if (iterations <= maxiter)
        return 0;
    if (verbose > 0)
        std::cerr << "marquardt: iterations: " << iterations << std::endl;
    return 1;
}

int marquardt::cov_srt(MArray<double, 2> &c)
{
    for (int i = mfit + 1; i <= ma; ++i)
        for (int j = 1; j <= i; ++j)
            c(i, j) = c(j, i) = 0.0;
    int k = mfit;
    for (int j = ma; j >= 1; --j) {
        if (ia(j) == 0)
            continue;
        for (int i = 1; i <= ma; ++i)
            std::swap(c(i, k), c(i, j));
        for (int i = 1; i <= ma; ++i)
            std::swap(c(k, i), c(j, i));
        --k;
    }
    return 0;
}

double marquardt::mcs(double x_, double y_, double s, const MArray<double, 1> &p)
{
    MArray<double, 1> d(p.shape());
    double ymod;
    if (funcs(x_, y_, p, ymod, d) != 0)
        return 0.0;
    return ymod + s * noise.eval();
}

void marquardt::print_title()
{
    for (int k = 1; k <= ma; ++k)
        std::cout << "          a(" << std::setw(2) << k << ")";
    std::cout << std::endl;
}

void marquardt::print_a()
{
    printRow(a, ma);
}

void marquardt::print_ia()
{
    printRow(ia, ma);
}

void marquardt::print_sa()
{
    printRow(sa, ma);
}

void marquardt::print_result()
{
    std::cout.precision(13);
    for (int k = 1; k <= ma; ++k) {
        if (k <= 9)
            std::cout << ' ';
        std::cout << "  a" << k << " = " << std::setw(19) << a(k) << "  +/- " << std::setw(19)
                  << sa(k) << std::endl;
    }
}

void marquardt::write_result(const char *fileName)
{
    std::ofstream out;
    if (!openText(out, fileName))
        return;
    out.precision(15);
    for (int k = 1; k <= ma; ++k)
        out << std::setw(20) << a(k) << std::setw(20) << sa(k) << "\n";
    closeText(out, fileName);
}
