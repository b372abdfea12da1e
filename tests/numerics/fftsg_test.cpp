// Split-radix complex FFT in one and two dimensions, and its tables.
#include "numerics/fftsg.h"
#include "numerics/fftsg_core.h"
#include "numerics/nrutil.h"

#include "common/fatal.h"
#include "fft_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using fftref::cld;

// Tables big enough for every test here (up to 4096 complex points).
struct FftTables {
    std::vector<int> ip = std::vector<int>(2 + 64, 0);
    std::vector<double> w = std::vector<double>(8192, 0.0);
};

std::vector<cld> to_complex(const double *a, size_t npoints)
{
    std::vector<cld> z(npoints);
    for (size_t k = 0; k < npoints; k++)
        z[k] = cld(a[2 * k], a[2 * k + 1]);
    return z;
}

// Largest deviation from the reference relative to the largest reference
// value; an FFT in double precision stays within a few 1e-16 * log2(N).
double relative_error(const std::vector<cld> &got, const std::vector<cld> &want)
{
    long double err = 0, scale = 0;
    for (size_t k = 0; k < want.size(); k++) {
        err = std::max(err, std::abs(got[k] - want[k]));
        scale = std::max(scale, std::abs(want[k]));
    }
    return static_cast<double>(err / scale);
}

TEST(Cdft, MatchesDirectDftForEveryLength)
{
    // Every branch of the length dispatch: 1 to 2048 complex points.
    for (int n = 2; n <= 4096; n *= 2) {
        for (int isgn : {1, -1}) {
            FftTables tb;
            std::vector<double> a = fftref::random_doubles(n, 7 + n);
            std::vector<cld> want = fftref::dft(to_complex(a.data(), n / 2), isgn);
            cdft(n, isgn, a.data(), tb.ip.data(), tb.w.data());
            EXPECT_LT(relative_error(to_complex(a.data(), n / 2), want), 1e-14)
                << "n = " << n << ", isgn = " << isgn;
        }
    }
}

TEST(Cdft, ExamplesOfFourPoints)
{
    FftTables tb;
    double a[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    cdft(8, 1, a, tb.ip.data(), tb.w.data());
    const double flat[8] = {1, 0, 1, 0, 1, 0, 1, 0};
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(a[k], flat[k]);

    double b[8] = {0, 0, 1, 0, 0, 0, 0, 0};
    cdft(8, 1, b, tb.ip.data(), tb.w.data());
    const double plus[8] = {1, 0, 0, 1, -1, 0, 0, -1}; // 1, i, -1, -i
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(b[k], plus[k]);

    double c[8] = {0, 0, 1, 0, 0, 0, 0, 0};
    cdft(8, -1, c, tb.ip.data(), tb.w.data());
    const double minus[8] = {1, 0, 0, -1, -1, 0, 0, 1}; // 1, -i, -1, i
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(c[k], minus[k]);

    double d[2] = {0.25, -3}; // a single point is its own transform
    cdft(2, 1, d, tb.ip.data(), tb.w.data());
    EXPECT_EQ(d[0], 0.25);
    EXPECT_EQ(d[1], -3);
}

// n1 rows of n2 doubles in a 0-based dmatrix, filled with random values.
struct Grid {
    int n1, n2;
    double **a;
    Grid(int rows, int cols, unsigned seed) : n1(rows), n2(cols)
    {
        a = dmatrix(0, n1 - 1, 0, n2 - 1);
        std::vector<double> v = fftref::random_doubles(size_t(n1) * n2, seed);
        std::memcpy(&a[0][0], v.data(), v.size() * sizeof(double));
    }
    ~Grid() { free_dmatrix(a, 0, n1 - 1, 0, n2 - 1); }
    Grid(const Grid &) = delete;
    Grid &operator=(const Grid &) = delete;
    double *flat() { return &a[0][0]; }
    size_t size() const { return size_t(n1) * n2; }
};

// (rows, complex points per row): square, wide, tall, one row, one column.
const int grid_sizes[][2] = {{1, 1},   {1, 4},   {2, 1},  {4, 8},   {8, 2},
                             {16, 32}, {32, 16}, {64, 4}, {2, 128}, {256, 8}};

TEST(Cdft2d, MatchesDirectDftOnRectangularGrids)
{
    for (const auto &s : grid_sizes) {
        for (int isgn : {1, -1}) {
            FftTables tb;
            Grid g(s[0], 2 * s[1], 11 * s[0] + s[1]);
            std::vector<cld> want =
                fftref::dft2(to_complex(g.flat(), g.size() / 2), s[0], s[1], isgn);
            cdft2d(g.n1, g.n2, isgn, g.a, nullptr, tb.ip.data(), tb.w.data());
            EXPECT_LT(relative_error(to_complex(g.flat(), g.size() / 2), want), 1e-14)
                << s[0] << " x " << s[1] << ", isgn = " << isgn;
        }
    }
}

TEST(Cdft2d, ForwardThenBackwardMultipliesByHalfTheDoubles)
{
    for (const auto &s : grid_sizes) {
        FftTables tb;
        Grid g(s[0], 2 * s[1], 5 + s[0]);
        std::vector<double> x(g.flat(), g.flat() + g.size());
        cdft2d(g.n1, g.n2, 1, g.a, nullptr, tb.ip.data(), tb.w.data());
        cdft2d(g.n1, g.n2, -1, g.a, nullptr, tb.ip.data(), tb.w.data());
        const double scale = g.n1 * g.n2 / 2.0;
        for (size_t k = 0; k < g.size(); k++)
            EXPECT_NEAR(g.flat()[k], scale * x[k], 1e-12 * scale) << k;
    }
}

TEST(Cdft2d, ImpulseTransformsToOnesEverywhere)
{
    FftTables tb;
    Grid g(8, 16, 1);
    std::memset(g.flat(), 0, g.size() * sizeof(double));
    g.a[0][0] = 1;
    cdft2d(8, 16, -1, g.a, nullptr, tb.ip.data(), tb.w.data());
    for (size_t k = 0; k < g.size(); k++)
        EXPECT_EQ(g.flat()[k], k % 2 == 0 ? 1.0 : 0.0) << k;
}

// Tables built fresh, reused from the same size, reused from a much larger
// transform, and the caller's work area instead of the routine's: the
// results must agree bit for bit.
TEST(Cdft2d, ResultsDoNotDependOnWhereTheTablesCameFrom)
{
    const int n1 = 64, n2 = 128;
    Grid fresh(n1, n2, 3), again(n1, n2, 3), big(n1, n2, 3), own(n1, n2, 3);
    FftTables t1, t2;
    cdft2d(n1, n2, 1, fresh.a, nullptr, t1.ip.data(), t1.w.data());
    cdft2d(n1, n2, 1, again.a, nullptr, t1.ip.data(), t1.w.data());
    std::vector<double> longer(8192, 0.5);
    cdft(8192, 1, longer.data(), t2.ip.data(), t2.w.data());
    EXPECT_EQ(t2.ip[0], 2048);
    cdft2d(n1, n2, 1, big.a, nullptr, t2.ip.data(), t2.w.data());
    EXPECT_EQ(t2.ip[0], 2048); // reused, not rebuilt
    std::vector<double> t(8 * n1);
    FftTables t3;
    cdft2d(n1, n2, 1, own.a, t.data(), t3.ip.data(), t3.w.data(), 66, 8192, 8 * n1);
    const size_t bytes = fresh.size() * sizeof(double);
    EXPECT_EQ(std::memcmp(fresh.flat(), again.flat(), bytes), 0);
    EXPECT_EQ(std::memcmp(fresh.flat(), big.flat(), bytes), 0);
    EXPECT_EQ(std::memcmp(fresh.flat(), own.flat(), bytes), 0);
}

// The two-dimensional passes run the one-dimensional kernels on several
// rows or columns at once, two or (where the processor runs them fast)
// four; each must still get exactly the numbers that cdft gives it alone.
void expect_one_dimensional_results(bool four_lanes)
{
    fftcore::allow_four_lanes(four_lanes);
    for (const auto &s : grid_sizes) {
        for (int isgn : {1, -1}) {
            const int n1 = s[0], n2 = 2 * s[1];
            Grid g(n1, n2, 17 * s[0] + s[1]);
            std::vector<double> want(g.flat(), g.flat() + g.size());
            FftTables t1, t2;
            for (int i = 0; i < n1; i++)
                cdft(n2, isgn, &want[size_t(i) * n2], t1.ip.data(), t1.w.data());
            std::vector<double> col(2 * n1);
            for (int j = 0; j < n2; j += 2) {
                for (int i = 0; i < n1; i++) {
                    col[2 * i] = want[size_t(i) * n2 + j];
                    col[2 * i + 1] = want[size_t(i) * n2 + j + 1];
                }
                cdft(2 * n1, isgn, col.data(), t1.ip.data(), t1.w.data());
                for (int i = 0; i < n1; i++) {
                    want[size_t(i) * n2 + j] = col[2 * i];
                    want[size_t(i) * n2 + j + 1] = col[2 * i + 1];
                }
            }
            cdft2d(n1, n2, isgn, g.a, nullptr, t2.ip.data(), t2.w.data());
            EXPECT_EQ(std::memcmp(g.flat(), want.data(), g.size() * sizeof(double)), 0)
                << s[0] << " x " << s[1] << ", isgn = " << isgn << ", four lanes " << four_lanes;
        }
    }
    fftcore::allow_four_lanes(true);
}

TEST(Cdft2d, EqualsOneDimensionalTransformsBitForBit)
{
    expect_one_dimensional_results(false);
    expect_one_dimensional_results(true);
}

unsigned reverse_bits(unsigned k, unsigned m)
{
    unsigned r = 0;
    for (unsigned b = 1; b < m; b <<= 1, k >>= 1)
        r = (r << 1) | (k & 1);
    return r;
}

// The layout other callers rely on: main table, halved sub-tables behind it,
// and the bit-reversal seeds.
TEST(Makewt, TableLayout)
{
    const int nw = 256;
    std::vector<int> ip(2 + 16, -1);
    std::vector<double> w(nw, 0.0);
    makewt(nw, ip.data(), w.data());
    EXPECT_EQ(ip[0], nw);
    EXPECT_EQ(ip[1], 1);
    const double pi = std::acos(-1.0);
    // The table of s entries starts at nw - 2s; its angle unit is pi/(4*s).
    for (int s = nw / 2; s >= 2; s /= 2) {
        const double *t = &w[nw - 2 * s];
        const double delta = (pi / 4) / s;
        EXPECT_EQ(t[0], 1.0) << s;
        EXPECT_NEAR(t[1], std::cos(pi / 4), 1e-16) << s;
        if (s == 4) {
            EXPECT_NEAR(t[2], std::cos(2 * delta), 1e-15);
            EXPECT_NEAR(t[3], std::sin(2 * delta), 1e-15);
        } else if (s > 4) {
            EXPECT_NEAR(t[2], 0.5 / std::cos(2 * delta), 1e-15) << s;
            EXPECT_NEAR(t[3], 0.5 / std::cos(6 * delta), 1e-15) << s;
            for (int j = 4; j < s; j += 4) {
                EXPECT_NEAR(t[j], std::cos(j * delta), 1e-15) << s << " " << j;
                EXPECT_NEAR(t[j + 1], std::sin(j * delta), 1e-15);
                EXPECT_NEAR(t[j + 2], std::cos(3 * j * delta), 1e-15);
                EXPECT_NEAR(t[j + 3], -std::sin(3 * j * delta), 1e-15);
            }
        }
    }
    // Seeds: level m (2, 4, 8) holds 8*m*reverse(k) at ip[m + k].
    for (unsigned m = 2; m <= 8; m *= 2)
        for (unsigned k = 0; k < m; k++)
            EXPECT_EQ(ip[m + k], int(8 * m * reverse_bits(k, m))) << m << " " << k;
}

TEST(Makect, TableLayout)
{
    const int nc = 32;
    std::vector<int> ip(2, 0);
    std::vector<double> c(nc, 0.0);
    makect(nc, ip.data(), c.data());
    EXPECT_EQ(ip[1], nc);
    const double pi = std::acos(-1.0);
    EXPECT_NEAR(c[0], std::cos(pi / 4), 1e-16);
    for (int k = 1; k < nc; k++)
        EXPECT_NEAR(c[k], 0.5 * std::cos(pi * k / (2 * nc)), 1e-16) << k;
}

TEST(FftPreconditions, LengthsMustBePowersOfTwo)
{
    FftTables tb;
    std::vector<double> a(64, 0.0);
    EXPECT_NRERROR(cdft(12, 1, a.data(), tb.ip.data(), tb.w.data()),
                   "cdft: the length n must be a power of two of at least 2, not 12");
    EXPECT_NRERROR(cdft(1, 1, a.data(), tb.ip.data(), tb.w.data()), "power of two");
    Grid g(3, 8, 1);
    EXPECT_NRERROR(cdft2d(3, 8, 1, g.a, nullptr, tb.ip.data(), tb.w.data()),
                   "cdft2d: the number of rows n1 must be a power of two");
    EXPECT_NRERROR(cdft2d(2, 6, 1, g.a, nullptr, tb.ip.data(), tb.w.data()),
                   "cdft2d: the row length n2 must be a power of two");
    EXPECT_NRERROR(makewt(12, tb.ip.data(), tb.w.data()), "makewt: ");
}

TEST(FftPreconditions, TablesAndWorkAreaMustBeLongEnough)
{
    std::vector<double> a(2048, 0.0);
    std::vector<int> ip(64, 0);
    std::vector<double> w(1024, 0.0);
    // 1024 complex points need a cos/sin table of 512 and ip[0..15].
    EXPECT_NRERROR(cdft(2048, 1, a.data(), ip.data(), w.data(), 64, 511),
                   "cdft: table w holds 511 doubles, the tables need 512");
    EXPECT_NRERROR(cdft(2048, 1, a.data(), ip.data(), w.data(), 15, 1024),
                   "cdft: table ip holds 15 entries");
    cdft(2048, 1, a.data(), ip.data(), w.data(), 16, 512); // exactly enough
    // An ip that was never set up is refused, not followed.
    ip[0] = 12345;
    EXPECT_NRERROR(cdft(64, 1, a.data(), ip.data(), w.data()),
                   "cdft: ip\\[0\\] is not a table size");
    // A table that claims more than the caller allocated.
    ip[0] = 0;
    cdft(2048, 1, a.data(), ip.data(), w.data());
    EXPECT_NRERROR(cdft(64, 1, a.data(), ip.data(), w.data(), 64, 256),
                   "cdft: table w holds 256 doubles, the tables need 512");
    Grid g(16, 32, 2);
    EXPECT_NRERROR(cdft2d(16, 32, 1, g.a, a.data(), ip.data(), w.data(), 64, 1024, 127),
                   "cdft2d: work area t holds 127 doubles, the transform needs 128");
}

} // namespace
