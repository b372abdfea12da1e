#include "dornel/spline.h"

#include <vector>

using orv::MArray;

namespace {

// n values at p[0], p[step], ...: a table, a grid row or a grid column.
template <class P>
struct Line {
    P *p;
    orv::index_t step;
    P &operator[](int k) const { return p[k * step]; }
};
using In = Line<const double>;
using Out = Line<double>;

// The part of a that has the indices first..first+n-1, when a covers them.
template <class P, class A>
bool lineOf(A &a, int first, int n, Line<P> &line)
{
    if (n > 0 && (a.firstIndex(1) > first || a.lastIndex(1) < first + n - 1))
        return false;
    line = {n > 0 ? &a(first) : nullptr, a.stride(1)};
    return true;
}

// Row i of the grid g over the indices first..first+n-1 of dimension 2.
template <class P, class G>
bool rowOf(G &g, int i, int first, int n, Line<P> &line)
{
    if (i < g.firstIndex(1) || i > g.lastIndex(1))
        return false;
    if (n > 0 && (g.firstIndex(2) > first || g.lastIndex(2) < first + n - 1))
        return false;
    line = {n > 0 ? &g(i, first) : nullptr, g.stride(2)};
    return true;
}

// Positions 0..n-1 below stand for the points 1..n of the textbook form.
int splineLine(int n, In x, In y, double yp1, double ypn, Out y2, std::vector<double> &u)
{
    bool increasing = n >= 2;
    for (int k = 0; increasing && k + 1 < n; ++k)
        increasing = x[k + 1] > x[k];
    if (!increasing) {
        for (int k = 0; k < n; ++k)
            y2[k] = 0.0;
        return 1;
    }
    u.assign(static_cast<std::size_t>(n - 1), 0.0);
    if (yp1 > kNaturalSlope) {
        y2[0] = u[0] = 0.0;
    } else {
        y2[0] = -0.5;
        u[0] = (3.0 / (x[1] - x[0])) * ((y[1] - y[0]) / (x[1] - x[0]) - yp1);
    }
    for (int i = 1; i < n - 1; ++i) {
        const double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
        const double p = sig * y2[i - 1] + 2.0;
        y2[i] = (sig - 1.0) / p;
        u[i] = (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
        u[i] = (6.0 * u[i] / (x[i + 1] - x[i - 1]) - sig * u[i - 1]) / p;
    }
    double qn, un;
    if (ypn > kNaturalSlope) {
        qn = un = 0.0;
    } else {
        qn = 0.5;
        un = (3.0 / (x[n - 1] - x[n - 2])) * (ypn - (y[n - 1] - y[n - 2]) / (x[n - 1] - x[n - 2]));
    }
    y2[n - 1] = (un - qn * u[n - 2]) / (qn * y2[n - 2] + 1.0);
    for (int k = n - 2; k >= 0; --k)
        y2[k] = y2[k] * y2[k + 1] + u[k];
    return 0;
}

// The spline's value in the interval klo..klo+1 of the table.
int splintAt(double &value, double x, int klo, In xa, In ya, In y2a)
{
    const int khi = klo + 1;
    const double h = xa[khi] - xa[klo];
    if (!(h > 0.0))
        return 1; // a zero-width (or reversed) interval gives no value
    const double a = (xa[khi] - x) / h;
    const double b = (x - xa[klo]) / h;
    value = a * ya[klo] + b * ya[khi] +
            ((a * a * a - a) * y2a[klo] + (b * b * b - b) * y2a[khi]) * (h * h) / 6.0;
    return 0;
}

int splintLine(double &value, double x, int n, In xa, In ya, In y2a)
{
    if (n < 2)
        return 1;
    int klo = 0, khi = n - 1;
    while (khi - klo > 1) {
        const int k = (khi + klo) / 2;
        if (xa[k] > x)
            khi = k;
        else
            klo = k;
    }
    return splintAt(value, x, klo, xa, ya, y2a);
}

// The table of a 1-D array over its own indices.
In tableOf(const MArray<double, 1> &a)
{
    return {a.length(1) > 0 ? a.dataFirst() : nullptr, a.stride(1)};
}

} // namespace

int spline(const MArray<double, 1> &x, const MArray<double, 1> &y, double yp1, double ypn,
           MArray<double, 1> &y2)
{
    std::vector<double> u;
    return spline(x, y, yp1, ypn, y2, u);
}

int spline(const MArray<double, 1> &x, const MArray<double, 1> &y, double yp1, double ypn,
           MArray<double, 1> &y2, std::vector<double> &u)
{
    const int n = x.length(1), first = x.firstIndex(1);
    In yl{};
    Out y2l{};
    if (!lineOf(y2, first, n, y2l))
        return 1;
    if (!lineOf(y, first, n, yl)) {
        for (int k = 0; k < n; ++k)
            y2l[k] = 0.0;
        return 1;
    }
    return splineLine(n, tableOf(x), yl, yp1, ypn, y2l, u);
}

int splint(double &value, double x, const MArray<double, 1> &xa, const MArray<double, 1> &ya,
           const MArray<double, 1> &y2a)
{
    const int n = xa.length(1), first = xa.firstIndex(1);
    In yl{}, y2l{};
    if (!lineOf(ya, first, n, yl) || !lineOf(y2a, first, n, y2l))
        return 1;
    return splintLine(value, x, n, tableOf(xa), yl, y2l);
}

int splie2(const MArray<double, 1> &, const MArray<double, 1> &x2a, const MArray<double, 2> &ya,
           MArray<double, 2> &y2a)
{
    const int n = x2a.length(1), first = x2a.firstIndex(1);
    std::vector<double> u;
    int status = 0;
    for (int i = ya.firstIndex(1); i <= ya.lastIndex(1); ++i) {
        In row{};
        Out row2{};
        if (!rowOf(ya, i, first, n, row) || !rowOf(y2a, i, first, n, row2)) {
            ++status;
            continue;
        }
        status += splineLine(n, tableOf(x2a), row, 1e30, 1e30, row2, u);
    }
    return status;
}

int splin2_rows(MArray<double, 1> &ytmp, MArray<double, 1> &y2tmp, double x2,
                const MArray<double, 1> &x1a, const MArray<double, 1> &x2a,
                const MArray<double, 2> &ya, const MArray<double, 2> &y2a)
{
    const orv::Range rows(ya.firstIndex(1), ya.lastIndex(1));
    for (MArray<double, 1> *t : {&ytmp, &y2tmp})
        if (t->firstIndex(1) != rows.first || t->length(1) != ya.length(1) ||
            t->memoryBlock() == nullptr)
            t->makeReference(MArray<double, 1>(rows));
    const int n = x2a.length(1), first = x2a.firstIndex(1);
    int status = 0;
    for (int i = ya.firstIndex(1); i <= ya.lastIndex(1); ++i) {
        In row{}, row2{};
        ytmp(i) = 0.0;
        if (!rowOf(ya, i, first, n, row) || !rowOf(y2a, i, first, n, row2)) {
            ++status;
            continue;
        }
        status += splintLine(ytmp(i), x2, n, tableOf(x2a), row, row2);
    }
    return status + spline(x1a, ytmp, 1e30, 1e30, y2tmp);
}

int splin2(double &value, double x1, double x2, const MArray<double, 1> &x1a,
           const MArray<double, 1> &x2a, const MArray<double, 2> &ya, const MArray<double, 2> &y2a)
{
    MArray<double, 1> ytmp, y2tmp;
    const int status = splin2_rows(ytmp, y2tmp, x2, x1a, x2a, ya, y2a);
    return status + splint(value, x1, x1a, ytmp, y2tmp);
}

SplineWeights::SplineWeights(int first, int last, const MArray<double, 1> &xa)
    : n_(xa.length(1)), base_(xa.firstIndex(1))
{
    const In xl = tableOf(xa);
    valid_ = n_ >= 2;
    for (int k = 0; valid_ && k + 1 < n_; ++k)
        valid_ = xl[k + 1] > xl[k];
    if (!valid_)
        return;
    const std::size_t count = last >= first ? static_cast<std::size_t>(last - first) + 1 : 0;
    a_.resize(count);
    b_.resize(count);
    ca_.resize(count);
    cb_.resize(count);
    run_.resize(count);
    // The interval the bisection would find is the last one starting at or
    // below x, the first and last intervals extended outwards.
    int klo = 0;
    for (std::size_t i = 0; i < count;) {
        while (klo + 2 < n_ && xl[klo + 1] <= first + static_cast<double>(i))
            ++klo;
        std::size_t end = i + 1;
        if (klo + 2 < n_)
            while (end < count && !(xl[klo + 1] <= first + static_cast<double>(end)))
                ++end;
        else
            end = count;
        const double xlo = xl[klo], xhi = xl[klo + 1], h = xhi - xlo;
        runs_.push_back({klo, i, end, h * h});
        for (std::size_t j = i; j < end; ++j) {
            run_[j] = static_cast<int>(runs_.size() - 1);
            const double x = first + static_cast<double>(j);
            const double a = (xhi - x) / h;
            const double b = (x - xlo) / h;
            a_[j] = a;
            b_[j] = b;
            ca_[j] = a * a * a - a;
            cb_[j] = b * b * b - b;
        }
        i = end;
    }
}

void SplineWeights::evaluate(const MArray<double, 1> &ya, const MArray<double, 1> &y2a,
                             double *values) const
{
    evaluateInto(ya, y2a, values);
}

void SplineWeights::evaluate(const MArray<double, 1> &ya, const MArray<double, 1> &y2a,
                             float *values) const
{
    evaluateInto(ya, y2a, values);
}

template <class T>
void SplineWeights::evaluateInto(const MArray<double, 1> &ya, const MArray<double, 1> &y2a,
                                 T *values) const
{
    In yl{}, y2l{};
    lineOf(ya, base_, n_, yl);
    lineOf(y2a, base_, n_, y2l);
    const double *const a = a_.data();
    const double *const b = b_.data();
    const double *const ca = ca_.data();
    const double *const cb = cb_.data();
    for (const Run &run : runs_) {
        const double ylo = yl[run.klo], yhi = yl[run.klo + 1], y2lo = y2l[run.klo],
                     y2hi = y2l[run.klo + 1];
        const double hh = run.hh;
        // splintAt's arithmetic, operation for operation.
        for (std::size_t j = run.begin; j < run.end; ++j)
            values[j] =
                static_cast<T>(a[j] * ylo + b[j] * yhi + (ca[j] * y2lo + cb[j] * y2hi) * hh / 6.0);
    }
}

void SplineWeights::evaluateRows(std::size_t j, const MArray<double, 2> &ya,
                                 const MArray<double, 2> &y2a, MArray<double, 1> &ytmp) const
{
    const Run &run = runs_[run_[j]];
    const int lo = base_ + run.klo;
    const double a = a_[j], b = b_[j], ca = ca_[j], cb = cb_[j], hh = run.hh;
    for (int i = ya.firstIndex(1); i <= ya.lastIndex(1); ++i)
        ytmp(i) =
            a * ya(i, lo) + b * ya(i, lo + 1) + (ca * y2a(i, lo) + cb * y2a(i, lo + 1)) * hh / 6.0;
}

long splint_ascending(std::vector<double> &values, std::vector<int> &statuses, int first, int last,
                      const MArray<double, 1> &xa, const MArray<double, 1> &ya,
                      const MArray<double, 1> &y2a)
{
    const std::size_t count = last >= first ? static_cast<std::size_t>(last - first) + 1 : 0;
    values.assign(count, 0.0);
    statuses.assign(count, 0);
    const int n = xa.length(1), base = xa.firstIndex(1);
    In yl{}, y2l{};
    const SplineWeights weights(first, last, xa);
    if (weights.valid() && lineOf(ya, base, n, yl) && lineOf(y2a, base, n, y2l)) {
        weights.evaluate(ya, y2a, values.data());
        return 0; // every interval of an increasing table has a width above 0
    }
    long sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        statuses[i] = splint(values[i], first + static_cast<double>(i), xa, ya, y2a);
        sum += statuses[i];
    }
    return sum;
}
