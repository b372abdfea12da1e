#include "psftools/lu.h"

#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

using orv::MArray;

namespace {

[[noreturn]] void fail(const char *message)
{
    std::cerr << message << std::endl;
    std::exit(255);
}

// a holds rows and columns 1..n.
void requireMatrix(const MArray<double, 2> &a, int n)
{
    if (a.firstIndex(1) > 1 || a.firstIndex(2) > 1 || a.lastIndex(1) < n || a.lastIndex(2) < n)
        fail("matrix does not hold rows and columns 1..N");
}

// v holds the elements 1..n.
template <class T>
void requireVector(const MArray<T, 1> &v, int n)
{
    if (n >= 1 && (v.firstIndex(1) > 1 || v.lastIndex(1) < n))
        fail("vector does not hold the elements 1..N");
}

} // namespace

void ludecomp(MArray<double, 2> &a, MArray<int, 1> &indx, double &d)
{
    const int n = a.lastIndex(1);
    if (n < 1)
        fail("matrix empty");
    requireMatrix(a, n);
    MArray<int, 1> perm(n);
    indx.makeReference(perm);
    indx(n) = n;
    d = 1.0;
    // Every column, the last one too, needs a pivot whose scaled value is
    // above 0; the scaled value of a zero row, and of anything not finite, is
    // NaN and never chosen.
    for (int i = 1; i <= n; ++i) {
        double best = 0.0;
        int p = 0;
        for (int j = i; j <= n; ++j) {
            double rowsum = 0.0;
            for (int l = i; l <= n; ++l)
                rowsum += std::fabs(a(j, l));
            const double s = std::fabs(a(j, i)) / rowsum;
            if (s > best) {
                best = s;
                p = j;
            }
        }
        if (p == 0)
            fail("matrix singular");
        if (i < n)
            indx(i) = p;
        if (p != i) {
            for (int l = 1; l <= n; ++l)
                std::swap(a(i, l), a(p, l));
            d = -d;
        }
        d *= a(i, i);
        for (int k = i + 1; k <= n; ++k) {
            a(k, i) /= a(i, i);
            const double f = a(k, i);
            for (int l = i + 1; l <= n; ++l)
                a(k, l) -= f * a(i, l);
        }
    }
}

void lubacksub(MArray<double, 2> &lu, MArray<int, 1> &indx, MArray<double, 1> &b)
{
    const int n = lu.lastIndex(1);
    if (n < 1)
        return;
    requireMatrix(lu, n);
    requireVector(indx, n - 1);
    requireVector(b, n);
    for (int i = 1; i < n; ++i)
        if (indx(i) != i)
            std::swap(b(i), b(indx(i)));
    for (int i = 2; i <= n; ++i) {
        double sum = b(i);
        for (int j = 1; j < i; ++j)
            sum -= lu(i, j) * b(j);
        b(i) = sum;
    }
    for (int i = n; i >= 1; --i) {
        double sum = b(i);
        for (int k = i + 1; k <= n; ++k)
            sum -= lu(i, k) * b(k);
        b(i) = sum / lu(i, i);
    }
}

void residuum(MArray<double, 2> &a, MArray<double, 1> &x, MArray<double, 1> &b,
              MArray<double, 1> &r)
{
    const int n = a.lastIndex(1);
    requireMatrix(a, n);
    requireVector(x, n);
    requireVector(b, n);
    MArray<double, 1> result(n);
    std::vector<long double> t(n + 1);
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j)
            t[j - 1] = static_cast<long double>(x(j)) * a(i, j);
        t[n] = -static_cast<long double>(b(i));
        // Smallest magnitude first, so that small terms are not lost.
        for (int p = 0; p < n; ++p)
            for (int q = p + 1; q <= n; ++q)
                if (std::fabs(t[p]) > std::fabs(t[q]))
                    std::swap(t[p], t[q]);
        long double sum = 0.0L;
        for (long double term : t)
            sum += term;
        result(i) = static_cast<double>(sum);
    }
    r.makeReference(result);
}

void mprove(MArray<double, 2> &lu, MArray<double, 1> &x, MArray<int, 1> &indx, MArray<double, 2> &a,
            MArray<double, 1> &b)
{
    MArray<double, 1> delta;
    residuum(a, x, b, delta);
    lubacksub(lu, indx, delta);
    const int n = lu.lastIndex(1);
    for (int i = 1; i <= n; ++i)
        x(i) -= delta(i);
}

void lu_iter(MArray<double, 2> &A, MArray<double, 1> &b, int steps, int verbose)
{
    const int n = A.lastIndex(1);
    const std::string equals(67, '='), dashes(67, '-');
    if (verbose > 3) {
        std::cout << " min(fabs(a)) = " << orv::min(orv::fabs(A)) << std::endl;
        std::cout << " max(fabs(a)) = " << orv::max(orv::fabs(A)) << std::endl;
    }
    MArray<double, 2> a0(n, n), lu(n, n);
    a0 = A;
    lu = A;
    MArray<double, 1> b0(n), x(n);
    b0 = b;
    x = b;
    MArray<int, 1> indx;
    double det;
    ludecomp(lu, indx, det);
    if (verbose >= 3)
        std::cout << "det = " << det << std::endl;
    lubacksub(lu, indx, x);
    if (verbose >= 4)
        std::cout << equals << " solution of A*x=b:" << std::endl << x << std::endl;
    if (steps > 0) {
        // The residual of the first solution, printed only.
        MArray<double, 1> r;
        if (verbose > 4)
            residuum(a0, x, b0, r);
        for (int j = 1; j <= steps; ++j) {
            mprove(lu, x, indx, a0, b0);
            if (verbose > 3)
                std::cout << dashes << std::endl
                          << " improved solution no " << j << " of A*x=b:" << std::endl
                          << x << std::endl;
        }
        if (verbose > 4)
            std::cout << dashes << std::endl << " residuum (x) = " << std::endl << r << std::endl;
    }
    if (verbose > 3)
        std::cout << equals << std::endl;
    MArray<double, 2> inverse(n, n);
    MArray<double, 1> column(n);
    for (int k = 1; k <= n; ++k) {
        column = 0.0;
        column(k) = 1.0;
        lubacksub(lu, indx, column);
        for (int i = 1; i <= n; ++i)
            inverse(i, k) = column(i);
    }
    A = inverse;
    b = x;
}

void matmult(MArray<double, 2> &c, MArray<double, 2> &a, MArray<double, 2> &b)
{
    const int n = c.lastIndex(1);
    if (n >= 1) {
        requireMatrix(c, n);
        requireMatrix(a, n);
        requireMatrix(b, n);
    }
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) {
            c(i, j) = 0.0;
            for (int k = 1; k <= n; ++k)
                c(i, j) += a(i, k) * b(k, j);
        }
}

void matprint(MArray<double, 2> &a)
{
    const int n = a.lastIndex(1);
    if (n >= 1)
        requireMatrix(a, n);
    std::cout << std::endl;
    std::cout.precision(8);
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j)
            std::cout << std::setw(15) << a(i, j) << "  ";
        std::cout << std::endl;
    }
    std::cout << std::endl;
}

void vecprint(MArray<double, 1> &v)
{
    requireVector(v, v.lastIndex(1));
    std::cout << std::endl;
    std::cout.precision(8);
    for (int i = 1; i <= v.lastIndex(1); ++i)
        std::cout << std::setw(15) << v(i) << "  ";
    std::cout << std::endl << std::endl;
}
