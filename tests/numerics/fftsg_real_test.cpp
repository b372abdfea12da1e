// Real, cosine and sine transforms, their two-dimensional forms, and the
// n-dimensional single-precision FFT, against direct sums.
#include "numerics/fft.h"
#include "numerics/fftsg.h"
#include "numerics/fftsg_core.h"
#include "numerics/nrutil.h"

#include "common/fatal.h"
#include "fft_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using fftref::cld;
using ld = long double;

// cos(pi*p/q) and sin(pi*p/q) with p reduced modulo 2q first, so that the
// reference keeps its accuracy for large products.
ld cospi(long p, long q)
{
    return std::cos(fftref::pi() * static_cast<ld>(p % (2 * q)) / q);
}
ld sinpi(long p, long q)
{
    return std::sin(fftref::pi() * static_cast<ld>(p % (2 * q)) / q);
}

using Vec = std::vector<double>;

// The definitions of the transforms, written out as sums.
Vec rdft_forward_ref(const Vec &a)
{
    const long n = a.size();
    Vec out(n);
    for (long k = 0; k <= n / 2; k++) {
        ld re = 0, im = 0;
        for (long j = 0; j < n; j++) {
            re += a[j] * cospi(2 * j * k, n);
            im += a[j] * sinpi(2 * j * k, n);
        }
        if (k == 0)
            out[0] = re;
        else if (k == n / 2)
            out[1] = re;
        else {
            out[2 * k] = re;
            out[2 * k + 1] = im;
        }
    }
    return out;
}

Vec rdft_backward_ref(const Vec &a)
{
    const long n = a.size();
    Vec out(n);
    for (long j = 0; j < n; j++) {
        ld s = a[0] / 2.0L + a[1] * cospi(j, 1) / 2;
        for (long k = 1; k < n / 2; k++)
            s += a[2 * k] * cospi(2 * j * k, n) + a[2 * k + 1] * sinpi(2 * j * k, n);
        out[j] = s;
    }
    return out;
}

Vec ddct_ref(const Vec &a, int isgn)
{
    const long n = a.size();
    Vec out(n);
    for (long k = 0; k < n; k++) {
        ld s = 0;
        for (long j = 0; j < n; j++) // (j + 1/2)k/n or j(k + 1/2)/n
            s += a[j] * (isgn < 0 ? cospi((2 * j + 1) * k, 2 * n) : cospi(j * (2 * k + 1), 2 * n));
        out[k] = s;
    }
    return out;
}

Vec ddst_ref(const Vec &a, int isgn)
{
    const long n = a.size();
    Vec out(n);
    if (isgn < 0) {
        for (long k = 1; k <= n; k++) {
            ld s = 0;
            for (long j = 0; j < n; j++)
                s += a[j] * sinpi((2 * j + 1) * k, 2 * n);
            out[k % n] = s;
        }
    } else {
        for (long k = 0; k < n; k++) {
            ld s = 0;
            for (long j = 1; j <= n; j++)
                s += a[j % n] * sinpi(j * (2 * k + 1), 2 * n);
            out[k] = s;
        }
    }
    return out;
}

Vec dfct_ref(const Vec &a) // a[0..n]
{
    const long n = a.size() - 1;
    Vec out(n + 1);
    for (long k = 0; k <= n; k++) {
        ld s = 0;
        for (long j = 0; j <= n; j++)
            s += a[j] * cospi(j * k, n);
        out[k] = s;
    }
    return out;
}

Vec dfst_ref(const Vec &a)
{
    const long n = a.size();
    Vec out(n, 0.0);
    for (long k = 1; k < n; k++) {
        ld s = 0;
        for (long j = 1; j < n; j++)
            s += a[j] * sinpi(j * k, n);
        out[k] = s;
    }
    return out;
}

double max_error(const Vec &got, const Vec &want, size_t from = 0)
{
    double err = 0, scale = 1e-300;
    for (size_t k = from; k < want.size(); k++) {
        err = std::max(err, std::fabs(got[k] - want[k]));
        scale = std::max(scale, std::fabs(want[k]));
    }
    return err / scale;
}

struct Tables {
    std::vector<int> ip = std::vector<int>(2 + 64, 0);
    std::vector<double> w = std::vector<double>(4096, 0.0);
};

// One-dimensional transforms against their sums, lengths 2 to 512.
TEST(RealTransforms, MatchDirectSums)
{
    struct Case {
        const char *name;
        int extra; // dfct works on n + 1 points
        std::function<void(int, Vec &, Tables &)> run;
        std::function<Vec(const Vec &)> ref;
    };
    const Case cases[] = {
        {"rdft+", 0,
         [](int n, Vec &a, Tables &t) { rdft(n, 1, a.data(), t.ip.data(), t.w.data()); },
         rdft_forward_ref},
        {"rdft-", 0,
         [](int n, Vec &a, Tables &t) { rdft(n, -1, a.data(), t.ip.data(), t.w.data()); },
         rdft_backward_ref},
        {"ddct+", 0,
         [](int n, Vec &a, Tables &t) { ddct(n, 1, a.data(), t.ip.data(), t.w.data()); },
         [](const Vec &a) { return ddct_ref(a, 1); }},
        {"ddct-", 0,
         [](int n, Vec &a, Tables &t) { ddct(n, -1, a.data(), t.ip.data(), t.w.data()); },
         [](const Vec &a) { return ddct_ref(a, -1); }},
        {"ddst+", 0,
         [](int n, Vec &a, Tables &t) { ddst(n, 1, a.data(), t.ip.data(), t.w.data()); },
         [](const Vec &a) { return ddst_ref(a, 1); }},
        {"ddst-", 0,
         [](int n, Vec &a, Tables &t) { ddst(n, -1, a.data(), t.ip.data(), t.w.data()); },
         [](const Vec &a) { return ddst_ref(a, -1); }},
        {"dfct", 1,
         [](int n, Vec &a, Tables &t) {
             Vec work(n / 2 + 1);
             dfct(n, a.data(), work.data(), t.ip.data(), t.w.data(), -1, -1, n / 2 + 1);
         },
         dfct_ref},
        {"dfst", 0,
         [](int n, Vec &a, Tables &t) {
             Vec work(n / 2);
             dfst(n, a.data(), work.data(), t.ip.data(), t.w.data(), -1, -1, n / 2);
         },
         dfst_ref},
    };
    for (const Case &c : cases) {
        for (int n = 2; n <= 512; n *= 2) {
            Tables t;
            Vec a = fftref::random_doubles(n + c.extra, n);
            Vec want = c.ref(a);
            c.run(n, a, t);
            EXPECT_LT(max_error(a, want), 2e-14) << c.name << " n = " << n;
        }
    }
}

TEST(RealTransforms, InversesScaleAsDocumented)
{
    for (int n = 2; n <= 256; n *= 4) {
        Tables t;
        const Vec x = fftref::random_doubles(n + 1, 3 * n);
        Vec a = x;
        rdft(n, 1, a.data(), t.ip.data(), t.w.data());
        rdft(n, -1, a.data(), t.ip.data(), t.w.data());
        for (int j = 0; j < n; j++)
            EXPECT_NEAR(a[j], x[j] * n / 2, 1e-13 * n) << "rdft " << n;

        // ddct: the isgn >= 0 transform of the result with a[0] halved,
        // times 2/n, gives the data back; likewise ddst with a[0] halved.
        for (auto f : {ddct, ddst}) {
            a = x;
            f(n, -1, a.data(), t.ip.data(), t.w.data(), -1, -1);
            a[0] *= 0.5;
            f(n, 1, a.data(), t.ip.data(), t.w.data(), -1, -1);
            for (int j = 0; j < n; j++)
                EXPECT_NEAR(a[j] * 2 / n, x[j], 1e-13) << n;
        }

        // dfct with the end points halved before each of two transforms.
        a = x;
        Vec work(n / 2 + 1);
        for (int pass = 0; pass < 2; pass++) {
            a[0] *= 0.5;
            a[n] *= 0.5;
            dfct(n, a.data(), work.data(), t.ip.data(), t.w.data());
        }
        for (int j = 0; j <= n; j++)
            EXPECT_NEAR(a[j] * 2 / n, x[j], 1e-13) << "dfct " << n;
    }
}

TEST(RealTransforms, ExamplesWithKnownResults)
{
    Tables t;
    Vec a = {0.5, -1, 2, 0.25, 3, -2, 1, 4};
    const Vec x = a;
    rdft(8, 1, a.data(), t.ip.data(), t.w.data());
    rdft(8, -1, a.data(), t.ip.data(), t.w.data());
    for (int j = 0; j < 8; j++)
        EXPECT_NEAR(a[j], 4 * x[j], 1e-14);

    Vec ones(16, 1.0);
    ddct(16, -1, ones.data(), t.ip.data(), t.w.data());
    EXPECT_NEAR(ones[0], 16, 1e-14);
    for (int k = 1; k < 16; k++)
        EXPECT_NEAR(ones[k], 0, 1e-14) << k;

    Vec f(17, 1.0), work(9);
    dfct(16, f.data(), work.data(), t.ip.data(), t.w.data());
    EXPECT_NEAR(f[0], 17, 1e-14);
    for (int k = 1; k <= 16; k++)
        EXPECT_NEAR(f[k], k % 2 == 0 ? 1 : 0, 1e-14) << k;

    Vec s = fftref::random_doubles(16, 9);
    dfst(16, s.data(), work.data(), t.ip.data(), t.w.data());
    EXPECT_EQ(s[0], 0.0);
}

// A mix of lengths and kinds on one pair of tables (rebuilt, extended with
// a cosine table, reused) gives bit for bit what fresh tables give.
TEST(RealTransforms, SharedTablesGiveTheSameResultsAsFreshOnes)
{
    Tables shared;
    const int lengths[] = {64, 1024, 16, 256, 2048, 32};
    for (int round = 0; round < 2; round++) {
        for (int n : lengths) {
            for (int kind = 0; kind < 4; kind++) {
                Tables fresh;
                Vec x = fftref::random_doubles(n, n + kind), y = x;
                auto run = [&](Vec &a, Tables &t) {
                    switch (kind) {
                    case 0:
                        cdft(n, -1, a.data(), t.ip.data(), t.w.data());
                        break;
                    case 1:
                        rdft(n, 1, a.data(), t.ip.data(), t.w.data());
                        break;
                    case 2:
                        ddct(n / 2, -1, a.data(), t.ip.data(), t.w.data());
                        break;
                    default:
                        ddst(n / 4, 1, a.data(), t.ip.data(), t.w.data());
                        break;
                    }
                };
                run(x, shared);
                run(y, fresh);
                EXPECT_EQ(std::memcmp(x.data(), y.data(), n * sizeof(double)), 0)
                    << "n = " << n << ", kind " << kind << ", round " << round;
            }
        }
    }
}

// Two-dimensional grids: n1 rows of n2 doubles, plus two spare columns for
// the unpacked layout of rdft2dsort.
struct Grid {
    int n1, n2, cols;
    double **a;
    Grid(int rows, int n, int spare, unsigned seed) : n1(rows), n2(n), cols(n + spare)
    {
        a = dmatrix(0, n1 - 1, 0, cols - 1);
        Vec v = fftref::random_doubles(size_t(n1) * cols, seed);
        std::memcpy(&a[0][0], v.data(), v.size() * sizeof(double));
    }
    ~Grid() { free_dmatrix(a, 0, n1 - 1, 0, cols - 1); }
    Grid(const Grid &) = delete;
    Grid &operator=(const Grid &) = delete;
};

const int grid_sizes[][2] = {{1, 2}, {2, 2}, {1, 8}, {4, 4}, {8, 16}, {16, 8}, {32, 64}, {4, 128}};

TEST(Rdft2d, UnpackedResultMatchesDirectDft)
{
    for (const auto &s : grid_sizes) {
        const int n1 = s[0], n2 = s[1];
        Tables t;
        Grid g(n1, n2, 2, n1 + 7 * n2);
        std::vector<cld> x(size_t(n1) * n2);
        for (int i = 0; i < n1; i++)
            for (int j = 0; j < n2; j++)
                x[size_t(i) * n2 + j] = g.a[i][j];
        Vec orig(&g.a[0][0], &g.a[0][0] + size_t(n1) * g.cols);
        std::vector<cld> want = fftref::dft2(x, n1, n2, 1);
        rdft2d(n1, n2, 1, g.a, nullptr, t.ip.data(), t.w.data());
        rdft2dsort(n1, n2, 1, g.a);
        double err = 0, scale = 0;
        for (int i = 0; i < n1; i++) {
            for (int k = 0; k <= n2 / 2; k++) {
                cld got(g.a[i][2 * k], g.a[i][2 * k + 1]);
                err = std::max(err, double(std::abs(got - want[size_t(i) * n2 + k])));
                scale = std::max(scale, double(std::abs(want[size_t(i) * n2 + k])));
            }
        }
        EXPECT_LT(err / scale, 1e-14) << n1 << " x " << n2;

        // Back to the packed layout and the backward transform.
        rdft2dsort(n1, n2, -1, g.a);
        rdft2d(n1, n2, -1, g.a, nullptr, t.ip.data(), t.w.data());
        const double scale2 = n1 * n2 / 2.0;
        for (int i = 0; i < n1; i++)
            for (int j = 0; j < n2; j++)
                EXPECT_NEAR(g.a[i][j], scale2 * orig[size_t(i) * g.cols + j], 1e-13 * scale2)
                    << n1 << " x " << n2 << " at " << i << "," << j;
    }
}

TEST(Rdft2d, ImpulseGivesOneAtEveryFrequency)
{
    Tables t;
    Grid g(8, 16, 0, 1);
    for (int i = 0; i < 8; i++)
        for (int j = 0; j < 16; j++)
            g.a[i][j] = 0;
    g.a[0][0] = 1;
    rdft2d(8, 16, 1, g.a, nullptr, t.ip.data(), t.w.data());
    // Packed layout: real parts at even places except the imaginary parts
    // that rows n1-k1 carry in place 0 (k2 = n2/2, k1 > n1/2).
    for (int i = 0; i < 8; i++) {
        for (int j = 0; j < 16; j++) {
            double want = (j % 2 == 0) ? 1 : 0;
            if (j == 1)
                want = 1; // R[0][n2/2], I[k1][0] = 0 only for k1 = 0, n1/2
            if (j == 0 && i > 4)
                want = 0; // I[n1-k1][n2/2]
            if (j == 1 && i > 0 && i < 4)
                want = 0; // I[k1][0]
            EXPECT_EQ(g.a[i][j], want) << i << "," << j;
        }
    }
}

// The transform of real rows, some of them marked as zero: those are
// filled with NaN here, which would spoil every number if they were read.
TEST(Rdft2dSpectrum, MatchesDirectDftAndSkipsRowsMarkedZero)
{
    for (const auto &s : grid_sizes) {
        const int n1 = s[0], n2 = s[1];
        for (int full : {0, 1}) {
            fftcore::allow_four_lanes(full == 1); // and two lanes for the half spectrum
            Tables t;
            Grid g(n1, n2, full ? n2 : 2, 3 * n1 + n2 + full);
            std::vector<char> live(n1);
            std::vector<cld> x(size_t(n1) * n2);
            for (int i = 0; i < n1; i++) {
                live[i] = n1 == 1 || i % 3 != 1;
                for (int j = 0; j < n2; j++) {
                    if (!live[i])
                        g.a[i][j] = NAN;
                    x[size_t(i) * n2 + j] = live[i] ? g.a[i][j] : 0.0;
                }
            }
            std::vector<cld> want = fftref::dft2(x, n1, n2, 1);
            rdft2d_spectrum(n1, n2, g.a, live.data(), full, nullptr, t.ip.data(), t.w.data());
            const int kmax = full ? n2 - 1 : n2 / 2;
            double err = 0, scale = 0;
            for (int i = 0; i < n1; i++) {
                for (int k = 0; k <= kmax; k++) {
                    cld got(g.a[i][2 * k], g.a[i][2 * k + 1]);
                    const double e = double(std::abs(got - want[size_t(i) * n2 + k]));
                    err = std::isnan(e) ? INFINITY : std::max(err, e);
                    scale = std::max(scale, double(std::abs(want[size_t(i) * n2 + k])));
                }
            }
            EXPECT_LT(err / scale, 1e-14) << n1 << " x " << n2 << ", full " << full;
        }
    }
    fftcore::allow_four_lanes(true);
}

// Circular convolution of rows 0..nrows-1 (the others are zero) with the
// transform of a kernel divided by the number of points, against the direct
// circular sum; the rows from nrows on are neither read nor written.
TEST(Rdft2dConvolve, MatchesDirectCircularConvolution)
{
    for (const auto &s : grid_sizes) {
        const int n1 = s[0], n2 = s[1];
        for (int nrows : {n1, (n1 + 1) / 2}) {
            // Two lanes for half the cases, four (where fast) for the rest.
            fftcore::allow_four_lanes(nrows != n1);
            Tables t;
            Grid img(n1, n2, 0, 5 * n1 + n2 + nrows);
            Grid ker(n1, 2 * n2, 0, 7 * n1 + n2);
            std::vector<cld> k(size_t(n1) * n2);
            for (int i = 0; i < n1; i++)
                for (int j = 0; j < n2; j++)
                    k[size_t(i) * n2 + j] = ker.a[i][j];
            std::vector<cld> K = fftref::dft2(k, n1, n2, 1);
            for (int i = 0; i < n1; i++)
                for (int j = 0; j < n2; j++) {
                    const cld v = K[size_t(i) * n2 + j] / static_cast<ld>(n1 * n2);
                    ker.a[i][2 * j] = double(v.real());
                    ker.a[i][2 * j + 1] = double(v.imag());
                }
            std::vector<double> want(size_t(n1) * n2, 0.0);
            for (int i = 0; i < nrows; i++)
                for (int j = 0; j < n2; j++) {
                    ld sum = 0;
                    for (int p = 0; p < nrows; p++)
                        for (int q = 0; q < n2; q++)
                            sum += static_cast<ld>(img.a[p][q]) *
                                   k[size_t((i - p + n1) % n1) * n2 + (j - q + n2) % n2].real();
                    want[size_t(i) * n2 + j] = double(sum);
                }
            for (int i = nrows; i < n1; i++)
                for (int j = 0; j < n2; j++)
                    img.a[i][j] = NAN;
            rdft2d_convolve(n1, n2, img.a, nrows, ker.a, nullptr, t.ip.data(), t.w.data());
            double err = 0, scale = 0;
            for (int i = 0; i < n1; i++)
                for (int j = 0; j < n2; j++) {
                    if (i >= nrows) {
                        ASSERT_TRUE(std::isnan(img.a[i][j])) << i << "," << j;
                        continue;
                    }
                    const double e = std::fabs(img.a[i][j] - want[size_t(i) * n2 + j]);
                    err = std::isnan(e) ? INFINITY : std::max(err, e);
                    scale = std::max(scale, std::fabs(want[size_t(i) * n2 + j]));
                }
            EXPECT_LT(err / scale, 1e-13) << n1 << " x " << n2 << ", rows " << nrows;
        }
    }
    fftcore::allow_four_lanes(true);
}

// Cosine and sine transforms of grids are the one-dimensional ones along
// rows and then along columns.
TEST(Ddxt2d, SeparableProductOfTheOneDimensionalSums)
{
    const int sizes[][2] = {{1, 1}, {2, 1}, {1, 2}, {4, 2}, {2, 8}, {16, 32}, {32, 4}};
    for (bool sine : {false, true}) {
        for (int isgn : {1, -1}) {
            for (const auto &s : sizes) {
                const int n1 = s[0], n2 = s[1];
                Tables t;
                Grid g(n1, n2, 0, n1 * 3 + n2);
                auto ref = [&](const Vec &v) {
                    return sine ? ddst_ref(v, isgn) : ddct_ref(v, isgn);
                };
                std::vector<Vec> want(n1);
                for (int i = 0; i < n1; i++)
                    want[i] = ref(Vec(g.a[i], g.a[i] + n2));
                for (int j = 0; j < n2; j++) {
                    Vec col(n1);
                    for (int i = 0; i < n1; i++)
                        col[i] = want[i][j];
                    col = ref(col);
                    for (int i = 0; i < n1; i++)
                        want[i][j] = col[i];
                }
                if (sine)
                    ddst2d(n1, n2, isgn, g.a, nullptr, t.ip.data(), t.w.data());
                else
                    ddct2d(n1, n2, isgn, g.a, nullptr, t.ip.data(), t.w.data());
                for (int i = 0; i < n1; i++)
                    EXPECT_LT(max_error(Vec(g.a[i], g.a[i] + n2), want[i]), 1e-13)
                        << (sine ? "ddst2d " : "ddct2d ") << isgn << " " << n1 << "x" << n2;
            }
        }
    }
}

TEST(RealTransformPreconditions, AreRefused)
{
    Tables t;
    Vec a(64, 0.0), work(64, 0.0);
    EXPECT_NRERROR(rdft(24, 1, a.data(), t.ip.data(), t.w.data()),
                   "rdft: the length n must be a power of two");
    EXPECT_NRERROR(dfct(16, a.data(), work.data(), t.ip.data(), t.w.data(), -1, -1, 8),
                   "dfct: work area t holds 8 doubles, the transform needs 9");
    EXPECT_NRERROR(dfst(16, a.data(), nullptr, t.ip.data(), t.w.data()),
                   "dfst: the work area t is a null pointer");
    // ddct of 64 points needs 16 + 64 doubles of w.
    EXPECT_NRERROR(ddct(64, 1, a.data(), t.ip.data(), t.w.data(), 66, 79),
                   "ddct: table w holds 79 doubles, the tables need 80");
    t.ip[1] = 7;
    EXPECT_NRERROR(rdft(64, 1, a.data(), t.ip.data(), t.w.data()),
                   "rdft: ip\\[1\\] is not a table size");
}

// fourn, single precision, 1-based data and lengths.
std::vector<cld> fourn_run(std::vector<unsigned long> dims, int isign, unsigned seed,
                           std::vector<cld> &input)
{
    size_t total = 1;
    for (unsigned long d : dims)
        total *= d;
    Vec v = fftref::random_doubles(2 * total, seed);
    std::vector<float> data(2 * total + 1);
    input.resize(total);
    for (size_t k = 0; k < total; k++) {
        data[2 * k + 1] = float(v[2 * k]);
        data[2 * k + 2] = float(v[2 * k + 1]);
        input[k] = cld(data[2 * k + 1], data[2 * k + 2]);
    }
    std::vector<unsigned long> nn(dims.size() + 1);
    for (size_t d = 0; d < dims.size(); d++)
        nn[d + 1] = dims[d];
    fourn(data.data(), nn.data(), int(dims.size()), isign);
    std::vector<cld> out(total);
    for (size_t k = 0; k < total; k++)
        out[k] = cld(data[2 * k + 1], data[2 * k + 2]);
    return out;
}

// Direct n-dimensional DFT, last dimension fastest.
std::vector<cld> dftn(const std::vector<cld> &x, const std::vector<unsigned long> &dims, int sgn)
{
    std::vector<cld> y = x;
    size_t inner = 1;
    for (size_t d = dims.size(); d-- > 0;) {
        const size_t n = dims[d], outer = y.size() / (n * inner);
        for (size_t o = 0; o < outer; o++) {
            for (size_t i = 0; i < inner; i++) {
                std::vector<cld> line(n);
                for (size_t k = 0; k < n; k++)
                    line[k] = y[(o * n + k) * inner + i];
                line = fftref::dft(line, sgn);
                for (size_t k = 0; k < n; k++)
                    y[(o * n + k) * inner + i] = line[k];
            }
        }
        inner *= n;
    }
    return y;
}

TEST(Fourn, MatchesDirectDftInEveryDimension)
{
    const std::vector<std::vector<unsigned long>> shapes = {
        {1}, {2}, {64}, {1024}, {8, 16}, {32, 4}, {1, 8}, {4, 2, 8}, {2, 2, 2, 2}};
    for (const auto &dims : shapes) {
        for (int isign : {1, -1}) {
            std::vector<cld> x;
            std::vector<cld> got = fourn_run(dims, isign, 17, x);
            std::vector<cld> want = dftn(x, dims, isign);
            long double err = 0, scale = 0;
            for (size_t k = 0; k < want.size(); k++) {
                err = std::max(err, std::abs(got[k] - want[k]));
                scale = std::max(scale, std::abs(want[k]));
            }
            EXPECT_LT(double(err / scale), 2e-6)
                << dims.size() << "-d, " << want.size() << " points, isign " << isign;
        }
    }
}

TEST(Fourn, FourPointExample)
{
    float data[9] = {0, 0, 0, 1, 0, 0, 0, 0, 0}; // data[1..8]
    unsigned long nn[2] = {0, 4};
    fourn(data, nn, 1, 1);
    const float want[9] = {0, 1, 0, 0, 1, -1, 0, 0, -1}; // 1, i, -1, -i
    for (int k = 1; k <= 8; k++)
        EXPECT_NEAR(data[k], want[k], 1e-7) << k;
}

TEST(Fourn, BadLengthsAndSignsAreRefused)
{
    float data[25] = {0};
    unsigned long nn[3] = {0, 4, 3};
    EXPECT_NRERROR(fourn(data, nn, 2, 1), "fourn: every length must be a power of two");
    nn[2] = 2;
    EXPECT_NRERROR(fourn(data, nn, 2, 2), "fourn: isign must be 1 or -1");
}

} // namespace
