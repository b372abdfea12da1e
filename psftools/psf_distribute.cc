// Resampling of a star stamp onto the PSF sub-grid: every pixel becomes a
// local polynomial that keeps its flux and meets its neighbours' values,
// integrated over fine sub-cells that go to the nearest sub-grid point.
#include <algorithm>
#include <cmath>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <memory>
#include <vector>

#include "dornel/poly.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"
#include "psftools/psf.h"
#include "psftools/psf_index.h"

using orv::MArray;
using orv::Range;

namespace {

// Sub-cells per pixel and axis for each sub-grid step.
constexpr int kCellsPerStep = 5;

// base^e by repeated multiplication; e = 0 gives 1.
double power(double base, int e)
{
    double r = 1;
    for (int i = 0; i < e; ++i)
        r *= base;
    return r;
}

// The sub-grid index that a target coordinate t (already moved by +0.5)
// falls on: t truncated when t ≥ 0, t − 1 truncated below 0, so a whole
// negative t goes one lower. False when it lies outside lo..hi (also for a
// NaN t).
bool targetIndex(double t, long lo, long hi, long &index)
{
    // Every t outside this interval gives an index outside lo..hi.
    if (!(t >= lo - 2.0 && t < hi + 2.0))
        return false;
    const long c = t >= 0 ? static_cast<long>(t) : static_cast<long>(t - 1);
    if (c < lo || c > hi)
        return false;
    index = c;
    return true;
}

// A 2-D grid of doubles over an inclusive index box, zero-filled.
struct Grid {
    long x0, y0, nx, ny;
    std::vector<double> v;
    Grid(long x0_, long x1, long y0_, long y1)
        : x0(x0_), y0(y0_), nx(std::max(0L, x1 - x0_ + 1)), ny(std::max(0L, y1 - y0_ + 1)),
          v(static_cast<std::size_t>(nx * ny), 0.0)
    {
    }
    double &operator()(long x, long y)
    {
        return v[static_cast<std::size_t>((y - y0) * nx + (x - x0))];
    }
    double operator()(long x, long y) const
    {
        return v[static_cast<std::size_t>((y - y0) * nx + (x - x0))];
    }
};

template <class A, class B>
bool sameRanges(const A &a, const B &b)
{
    for (int d = 1; d <= 2; ++d)
        if (a.firstIndex(d) != b.firstIndex(d) || a.lastIndex(d) != b.lastIndex(d))
            return false;
    return true;
}

} // namespace

using psf_index::zero;

// What divvy needs of one _subgrid and _interpolation: it depends on nothing
// else, so it is made once for them.
struct psf::DivvyTables {
    int g, I, G;
    // Per radius L (n² = (2L + 1)² coefficients): M⁻¹(r, i) at (i − 1)·n² + r − 1.
    std::vector<std::vector<double>> inverse;
    // Per radius L: the integral of coefficient k's monomial over sub-cell
    // (p, q) at ((q − 1)·G + p − 1)·n² + k − 1.
    std::vector<std::vector<double>> basis;
    // Centre of sub-cell (p, q) relative to the pixel centre, at (q − 1)·G + p − 1.
    std::vector<double> cx, cy;

    DivvyTables(int g_, int I_) : g(g_), I(I_), G(kCellsPerStep * g_)
    {
        const double h = 1.0 / G;
        for (int L = 0; L <= I; ++L) {
            const int n = 2 * L + 1, n2 = n * n;
            MArray<double, 2> M(n2, n2);
            erzeuge_M(M, L);
            std::vector<double> inv(static_cast<std::size_t>(n2) * n2);
            for (int i = 1; i <= n2; ++i)
                for (int r = 1; r <= n2; ++r)
                    inv[static_cast<std::size_t>(i - 1) * n2 + r - 1] = M(r, i);
            inverse.push_back(std::move(inv));

            std::vector<double> b(static_cast<std::size_t>(G) * G * n2);
            for (int q = 1; q <= G; ++q)
                for (int p = 1; p <= G; ++p) {
                    double *cell = &b[(static_cast<std::size_t>(q - 1) * G + p - 1) * n2];
                    for (int a = 1; a <= n; ++a)
                        for (int c = 1; c <= n; ++c)
                            cell[(a - 1) * n + c - 1] = (power(p * h, c) - power(p * h - h, c)) *
                                                        (power(q * h, a) - power(q * h - h, a)) /
                                                        (a * c);
                }
            basis.push_back(std::move(b));
        }
        cx.resize(static_cast<std::size_t>(G) * G);
        cy.resize(cx.size());
        for (int q = 1; q <= G; ++q)
            for (int p = 1; p <= G; ++p) {
                const std::size_t c = static_cast<std::size_t>(q - 1) * G + p - 1;
                cx[c] = (p - 1) * h - 0.5 + 0.5 * h;
                cy[c] = (q - 1) * h - 0.5 + 0.5 * h;
            }
    }
};

int psf::erzeuge_M(MArray<double, 2> &M, int L)
{
    const int n = 2 * L + 1, n2 = n * n;
    for (int l = 0; l < n; ++l)
        for (int m = 0; m < n; ++m)
            M(1, l * n + m + 1) = 1.0 / ((l + 1) * (m + 1));
    int row = 2;
    for (int dy = -L; dy <= L; ++dy)
        for (int dx = -L; dx <= L; ++dx) {
            if (dx == 0 && dy == 0)
                continue;
            for (int l = 0; l <= 2 * L; ++l)
                for (int m = 0; m <= 2 * L; ++m)
                    M(row, l * n + m + 1) = power(dy + 0.5, l) * power(dx + 0.5, m);
            ++row;
        }
    MArray<double, 1> rhs(n2);
    rhs = 0.0;
    if (gaussj(M, n2, rhs) != 0)
        std::cout << " error in gaussj" << std::endl;
    return 0;
}

template <class T>
void psf::divvy(const MArray<T, 2> &data, const MArray<T, 2> &error, MArray<double, 2> &psf_out,
                MArray<double, 2> &epsf_out, const double *transform, int verbose) const
{
    zero(psf_out);
    zero(epsf_out);
    const int g = _subgrid, I = _interpolation;
    if (g < 1 || I < 0 || !sameRanges(data, error) || !sameRanges(psf_out, epsf_out)) {
        // The tables or the arrays would be read outside their ranges.
        std::cout
            << "error in divvy: needs _subgrid >= 1, _interpolation >= 0, an error stamp of the "
               "stamp's shape and error output of the output's shape"
            << std::endl;
        return;
    }
    if (!_divvy_tables || _divvy_tables->g != g || _divvy_tables->I != I)
        _divvy_tables = std::make_shared<const DivvyTables>(g, I);
    const DivvyTables &tab = *_divvy_tables;
    const int G = tab.G;
    const long x0 = data.firstIndex(1), x1 = data.lastIndex(1), y0 = data.firstIndex(2),
               y1 = data.lastIndex(2);
    const long px0 = psf_out.firstIndex(1), px1 = psf_out.lastIndex(1);
    const long py0 = psf_out.firstIndex(2), py1 = psf_out.lastIndex(2);

    // The stamp inside a zero border of width I, so that every neighbourhood
    // lies inside.
    Grid D(x0 - I, x1 + I, y0 - I, y1 + I), DE(x0 - I, x1 + I, y0 - I, y1 + I);
    for (long y = y0; y <= y1; ++y)
        for (long x = x0; x <= x1; ++x) {
            // A value that is not finite is no data: blank and masked; so is
            // one whose error is not finite, which would become the error of
            // every PSF sample the pixel reaches.
            const bool finite = std::isfinite(data(x, y)) && std::isfinite(error(x, y));
            D(x, y) = finite ? data(x, y) : 0;
            DE(x, y) = finite ? error(x, y) : -1;
        }
    if (verbose > 3) {
        std::cout << x0 << "..." << x1 << std::endl;
        std::cout << y0 << "..." << y1 << std::endl;
        std::cout << px0 << "..." << px1 << std::endl;
        std::cout << py0 << "..." << py1 << std::endl;
        std::cout << "Groesse integ_basis: " << G * G * (2 * I + 1) * (2 * I + 1) * (I + 1)
                  << std::endl;
    }

    const double T1 = transform[1], T2 = transform[2], T3 = transform[3], T4 = transform[4];
    const std::size_t cells = static_cast<std::size_t>(G) * G;
    std::vector<double> X1(cells), Y1(cells);
    for (std::size_t c = 0; c < cells; ++c) {
        X1[c] = T1 * tab.cx[c] + T2 * tab.cy[c] + transform[5] + 0.5;
        Y1[c] = T3 * tab.cx[c] + T4 * tab.cy[c] + transform[6] + 0.5;
    }
    // Calls f(sub-cell, ix, iy) for every sub-cell of pixel (x, y) that lands
    // inside the window, p running fastest.
    const auto forTargets = [&](long x, long y, auto &&f) {
        const double sx = T1 * x + T2 * y, sy = T3 * x + T4 * y;
        for (std::size_t c = 0; c < cells; ++c) {
            long ix, iy;
            if (targetIndex(sx + X1[c], px0, px1, ix) && targetIndex(sy + Y1[c], py0, py1, iy))
                f(c, ix, iy);
        }
    };

    const double G2 = static_cast<double>(G * G);
    Grid sum(px0, px1, py0, py1), var(px0, px1, py0, py1);
    std::vector<long long> count(sum.v.size(), 0);
    const auto at = [&](long ix, long iy) {
        return static_cast<std::size_t>((iy - py0) * sum.nx + (ix - px0));
    };
    std::vector<double> b, c;
    const std::time_t start = std::time(nullptr);
    for (long y = y0; y <= y1; ++y)
        for (long x = x0; x <= x1; ++x) {
            const double v = D(x, y);
            if (v == 0)
                continue;
            // The largest radius whose neighbourhood holds no blank pixel.
            int L = I;
            for (int r = 1; r <= I && L == I; ++r) {
                bool blank = false;
                for (int d = -r; d <= r && !blank; ++d)
                    blank = D(x + d, y - r) == 0 || D(x + d, y + r) == 0 || D(x - r, y + d) == 0 ||
                            D(x + r, y + d) == 0;
                if (blank)
                    L = r - 1;
            }
            const int n2 = (2 * L + 1) * (2 * L + 1);
            b.assign(static_cast<std::size_t>(n2), 0.0);
            b[0] = v;
            std::size_t k = 1;
            for (int dy = -L; dy <= L; ++dy)
                for (int dx = -L; dx <= L; ++dx)
                    if (dx != 0 || dy != 0)
                        b[k++] = D(x + dx, y + dy);
            // The coefficients: M⁻¹·b.
            c.assign(static_cast<std::size_t>(n2), 0.0);
            const std::vector<double> &inv = tab.inverse[static_cast<std::size_t>(L)];
            for (int i = 0; i < n2; ++i) {
                const double *col = &inv[static_cast<std::size_t>(i) * n2];
                for (int r = 0; r < n2; ++r)
                    c[r] += b[i] * col[r];
            }
            const std::vector<double> &basis = tab.basis[static_cast<std::size_t>(L)];
            const double share = DE(x, y) * DE(x, y) / G2;
            forTargets(x, y, [&](std::size_t cell, long ix, long iy) {
                const double *bk = &basis[cell * n2];
                double val = 0;
                for (int i = 0; i < n2; ++i)
                    val += bk[i] * c[i];
                const std::size_t o = at(ix, iy);
                sum.v[o] += val;
                var.v[o] += share;
                ++count[o];
            });
        }
    const std::time_t end = std::time(nullptr);
    if (verbose > 3)
        std::cout << std::endl
                  << "    ended after " << static_cast<long long>(end - start) << " sec"
                  << std::endl;

    // Coverage: the sub-cells each point received, in pixels.
    MArray<double, 2> O(psf_out.shape());
    const double g2 = static_cast<double>(g) * g;
    for (long iy = py0; iy <= py1; ++iy)
        for (long ix = px0; ix <= px1; ++ix)
            O(ix, iy) = static_cast<double>(count[at(ix, iy)]) / G2;
    if (verbose > 3) {
        orv::FitsOut out("count.fits");
        out.setBitpixOut(-32);
        out << O;
    }
    for (long iy = py0; iy <= py1; ++iy)
        for (long ix = px0; ix <= px1; ++ix) {
            const double o = O(ix, iy);
            if (o == 0)
                continue;
            psf_out(ix, iy) = sum(ix, iy) / o / g2;
            epsf_out(ix, iy) = std::sqrt(var(ix, iy)) / o / g2;
        }
    // Masked pixels leave no valid data wherever they reach.
    for (long y = y0; y <= y1; ++y)
        for (long x = x0; x <= x1; ++x)
            if (D(x, y) == 0 && DE(x, y) == -1)
                forTargets(x, y, [&](std::size_t, long ix, long iy) {
                    psf_out(ix, iy) = 0;
                    epsf_out(ix, iy) = -1;
                });
    if (verbose > 3)
        std::cout << "sum :  " << std::setprecision(20) << std::setw(25) << orv::sum(psf_out)
                  << std::endl;
}

template void psf::divvy<float>(const MArray<float, 2> &, const MArray<float, 2> &,
                                MArray<double, 2> &, MArray<double, 2> &, const double *,
                                int) const;
