// Building the sub-grid PSF from standard stars in an image.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "common/fits.h"
#include "psftools/psf.h"
#include "tests/psftools/psf_truth.h"

using orv::MArray;
using orv::Range;

namespace {

// Integral of f over [x0, x1] × [y0, y1], 8-point Gauss–Legendre per axis.
double integrate(const std::function<double(double, double)> &f, double x0, double x1, double y0,
                 double y1)
{
    static const double node[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267,
                                   0.9602898564975363};
    static const double wt[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745,
                                 0.1012285362903763};
    const double hx = (x1 - x0) / 2, cx = (x1 + x0) / 2, hy = (y1 - y0) / 2, cy = (y1 + y0) / 2;
    double s = 0;
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) {
            const double u = (a < 4 ? -1 : 1) * node[a % 4], v = (b < 4 ? -1 : 1) * node[b % 4];
            s += wt[a % 4] * wt[b % 4] * f(cx + hx * u, cy + hy * v);
        }
    return s * hx * hy;
}

// An elliptical Moffat profile of peak 1 centred at 0: full widths at half
// maximum w1 along the direction θ and w2 across it.
struct Moffat {
    double w1, w2, theta, beta;
    double operator()(double x, double y) const
    {
        const double s = 2 * std::sqrt(std::pow(2.0, 1 / beta) - 1);
        const double u = (x * std::cos(theta) + y * std::sin(theta)) * s / w1;
        const double v = (y * std::cos(theta) - x * std::sin(theta)) * s / w2;
        return std::pow(1 + u * u + v * v, -beta);
    }
};

// The light of a star over pixel (i, j): its profile, centred at (cx, cy),
// integrated over the pixel.
using Star = std::function<double(int i, int j, double cx, double cy)>;

Star gaussianStar(double flux, double sigma)
{
    return [=](int i, int j, double cx, double cy) {
        return flux * psftruth::pixelIntegral(i, j, cx, cy, sigma);
    };
}

Star moffatStar(double peak, const Moffat &m)
{
    return [=](int i, int j, double cx, double cy) {
        return peak * integrate([&](double x, double y) { return m(x - cx, y - cy); }, i - 0.5,
                                i + 0.5, j - 0.5, j + 0.5);
    };
}

double skyPlane(double x, double y)
{
    return 20 + 0.3 * x - 0.2 * y;
}

// An image with stars on a tilted sky, errors 1, and the star list with the
// true sky under each star (weights 1).
struct Field {
    MArray<float, 2> image, error;
    MArray<double, 1> x, y, sky, sky_x, sky_y, weight;
    Field(int nx, int ny, const std::vector<std::pair<double, double>> &stars, const Star &star,
          int reach = 8)
        : image(nx, ny), error(nx, ny)
    {
        const int n = static_cast<int>(stars.size());
        for (MArray<double, 1> *a : {&x, &y, &sky, &sky_x, &sky_y, &weight}) {
            a->makeReference(MArray<double, 1>(n));
            if (n > 0)
                *a = 1.0;
        }
        std::vector<double> light(static_cast<std::size_t>(nx) * ny, 0.0);
        for (int s = 0; s < n; ++s) {
            const double cx = stars[s].first, cy = stars[s].second;
            x(s + 1) = cx;
            y(s + 1) = cy;
            const long F = std::lrint(cx), G = std::lrint(cy);
            sky(s + 1) = skyPlane(F, G);
            sky_x(s + 1) = 0.3;
            sky_y(s + 1) = -0.2;
            for (long i = std::max(1L, F - reach); i <= std::min<long>(nx, F + reach); ++i)
                for (long j = std::max(1L, G - reach); j <= std::min<long>(ny, G + reach); ++j)
                    light[(j - 1) * nx + (i - 1)] += star(i, j, cx, cy);
        }
        for (int i = 1; i <= nx; ++i)
            for (int j = 1; j <= ny; ++j) {
                image(i, j) = static_cast<float>(skyPlane(i, j) + light[(j - 1) * nx + (i - 1)]);
                error(i, j) = 1;
            }
    }
    // A copy with arrays of its own (a plain copy shares them).
    Field clone() const
    {
        Field c = *this;
        const auto own = [](auto &dst, const auto &src) {
            dst.makeReference(std::decay_t<decltype(src)>(src.shape()));
            if (src.elementCount() > 0)
                dst = src;
        };
        own(c.image, image);
        own(c.error, error);
        for (auto m :
             {&Field::x, &Field::y, &Field::sky, &Field::sky_x, &Field::sky_y, &Field::weight})
            own(c.*m, this->*m);
        return c;
    }
    // Only the stars of the given numbers, with the given weights.
    Field only(const std::vector<int> &stars, const std::vector<double> &weights) const
    {
        Field c = clone();
        const int n = static_cast<int>(stars.size());
        for (auto m :
             {&Field::x, &Field::y, &Field::sky, &Field::sky_x, &Field::sky_y, &Field::weight}) {
            (c.*m).makeReference(MArray<double, 1>(n));
            for (int s = 0; s < n; ++s)
                (c.*m)(s + 1) = (this->*m)(stars[s]);
        }
        for (int s = 0; s < n; ++s)
            c.weight(s + 1) = weights[s];
        return c;
    }
};

struct Result {
    MArray<double, 2> p, e;
    std::string out;
};

Result build(psf &P, const Field &f, bool fit = false, int verbose = 0, double fwhm_min = 1,
             double fwhm_max = 6)
{
    testing::internal::CaptureStdout();
    P.create_psf(f.image, f.error, f.x, f.y, f.sky, f.sky_x, f.sky_y, f.weight, 1.5, 6, fwhm_min,
                 fwhm_max, fit, verbose);
    Result r{P.get_psf(), P.get_epsf(), testing::internal::GetCapturedStdout()};
    return r;
}

MArray<double, 2> copyOf(const MArray<double, 2> &a)
{
    MArray<double, 2> c(a.shape());
    c = a;
    return c;
}

void expectSame(const MArray<double, 2> &a, const MArray<double, 2> &b, double scale = 1)
{
    ASSERT_EQ(a.firstIndex(1), b.firstIndex(1));
    ASSERT_EQ(a.lastIndex(1), b.lastIndex(1));
    for (int k = a.firstIndex(1); k <= a.lastIndex(1); ++k)
        for (int l = a.firstIndex(2); l <= a.lastIndex(2); ++l)
            ASSERT_NEAR(scale * a(k, l), b(k, l), 1e-12 * (1 + std::fabs(b(k, l))))
                << k << " " << l;
}

// Five stars 25 pixels apart in an 80 × 56 image, at offsets from their
// pixels up to half a pixel either way.
const std::vector<std::pair<double, double>> kFiveStars = {
    {15.3, 14.8}, {40.45, 16.1}, {65.0, 15.5}, {16.12, 41.37}, {41.7, 40.62}};

} // namespace

TEST(CreatePsf, GaussianStarsGiveTheirPixelIntegralsAfterBinning)
{
    // Stars at different sub-pixel positions on a sky plane that the given
    // sky values remove; normalised and binned at shift 0, the PSF is the
    // centred Gaussian's pixel integrals. (The local polynomials take the
    // neighbours' pixel values for values at their centres, which smooths
    // a star by a few per cent of its peak when it is narrower than this.)
    const double sigma = 2.0;
    const Field f(80, 56, kFiveStars, gaussianStar(5000, sigma), 10);
    const int A = 7;
    double norm = 0;
    for (int i = -A; i <= A; ++i)
        for (int j = -A; j <= A; ++j)
            norm += psftruth::pixelIntegral(i, j, 0, 0, sigma);
    const double peak = psftruth::pixelIntegral(0, 0, 0, 0, sigma) / norm;
    for (int I : {2, 3}) {
        psf P(A, A, 5, I);
        build(P, f);
        testing::internal::CaptureStdout();
        P.normalize_psf();
        P.binning(0, 0);
        testing::internal::GetCapturedStdout();
        const MArray<double, 2> b = P.get_binned_psf();
        for (int i = -A; i <= A; ++i)
            for (int j = -A; j <= A; ++j)
                EXPECT_NEAR(psftruth::pixelIntegral(i, j, 0, 0, sigma) / norm, b(i, j), 0.01 * peak)
                    << I << " " << i << " " << j;
    }
}

TEST(CreatePsf, TheWingFollowsTheMoffatProfileOfTheStars)
{
    // Beyond the star box (5 pixels, W = 15 sub-grid steps) the PSF is the
    // Moffat profile fitted to the inner part, scaled like the fitted model;
    // the truth is the stars' own profile summed over the stars and
    // integrated over each sub-grid cell. The inner part is slightly wider
    // than the stars (the smoothing of the resampling), which the fit
    // answers with a steeper wing: a few per cent at the box, growing
    // outwards.
    const Moffat m{3.5, 4.0, 0.4, 3};
    const double peak = 800;
    const Field f(80, 56, kFiveStars, moffatStar(peak, m), 12);
    const int g = 3, B = 5, A = 8, S = A * g + g / 2, W = B * g;
    psf P(B, A, g, 2);
    const Result r = build(P, f);
    int wing = 0;
    for (int j = -S; j <= S; ++j)
        for (int k = -S; k <= S; ++k) {
            if (j * j + k * k < W * (W - 1))
                continue;
            ++wing;
            const double t =
                5 * peak * integrate(m, (j - 0.5) / g, (j + 0.5) / g, (k - 0.5) / g, (k + 0.5) / g);
            const bool edge = j * j + k * k < (W + g) * (W + g);
            EXPECT_NEAR(t, r.p(j, k), (edge ? 0.06 : 0.2) * t) << j << " " << k;
            EXPECT_NEAR(std::sqrt(r.p(j, k)), r.e(j, k), 1e-12);
        }
    EXPECT_GT(wing, 1500);
    // Inside, the stars' own values stay.
    psf whole(A, A, g, 2);
    const Result inner = build(whole, f);
    EXPECT_EQ(inner.p(9, -10), r.p(9, -10));
    EXPECT_EQ(inner.e(0, 14), r.e(0, 14));
}

TEST(CreatePsf, AFailedWingFitLeavesTheStarsValues)
{
    // Width limits no star meets: the wing fit fails and every point keeps
    // what the stars gave, as with a box as large as the PSF.
    const Field f(60, 45, kFiveStars, moffatStar(800, Moffat{2.4, 2.4, 0, 3}), 12);
    psf P(3, 6, 3, 1), whole(6, 6, 3, 1);
    const Result r = build(P, f, false, 0, 0.1, 0.3), w = build(whole, f, false, 0, 0.1, 0.3);
    expectSame(w.p, r.p);
    expectSame(w.e, r.e);
}

TEST(CreatePsf, WeightsSelectAndScaleTheStars)
{
    // Star 1 is clean; star 2 has a blank centre; star 3 has 5 blank pixels
    // of 49 (too many), star 4 has 4 (allowed).
    const int A = 3;
    Field f(60, 45, {{15.2, 15.1}, {30.1, 15.3}, {45.3, 15.0}, {15.0, 30.4}},
            gaussianStar(3000, 1.0));
    f.image(30, 15) = 0;
    for (int k = 0; k < 5; ++k)
        f.image(44 + k, 13) = 0;
    for (int k = 0; k < 4; ++k)
        f.image(13 + k, 28) = 0;
    const auto only = [&](std::vector<int> stars, std::vector<double> weights) {
        psf P(A, A, 3, 1);
        const Result r = build(P, f.only(stars, weights));
        return Result{copyOf(r.p), copyOf(r.e), r.out};
    };
    // Where both stars have data, the sum; elsewhere no value.
    const auto expectSum = [](const Result &a, const Result &b, const Result &both) {
        int valid = 0;
        for (int k = -10; k <= 10; ++k)
            for (int l = -10; l <= 10; ++l)
                if (a.p(k, l) != 0 && b.p(k, l) != 0) {
                    ++valid;
                    ASSERT_NEAR(a.p(k, l) + b.p(k, l), both.p(k, l), 1e-9);
                    ASSERT_NEAR(std::hypot(a.e(k, l), b.e(k, l)), both.e(k, l), 1e-12);
                } else {
                    ASSERT_EQ(0, both.p(k, l));
                }
        EXPECT_GT(valid, 250);
    };
    const Result one = only({1}, {1});
    ASSERT_GT(one.p(0, 0), 0);
    // A rejected star's weight scales the others up: W_tot / W_acc = 2.
    const Result withBlankCentre = only({1, 2}, {1, 1});
    expectSame(one.p, withBlankCentre.p, 2);
    expectSame(one.e, withBlankCentre.e, 2);
    expectSame(one.p, only({1, 3}, {1, 0.5}).p, 1.5);
    // Weights 2 and 2 of stars used: the plain sum.
    expectSum(one, only({4}, {1}), only({1, 4}, {2, 2}));
    // Weight 0 uses a star without any test and without scaling.
    const Result two = only({2}, {0});
    EXPECT_EQ(0, two.p(0, 0));
    expectSum(one, two, only({1, 2}, {0, 0}));
    // Every weighted star rejected: nothing.
    EXPECT_EQ(0, orv::max(orv::fabs(only({2, 3}, {1, 1}).p)));
    // A centre that is not a number holds no data either: rejected like the
    // blank one.
    Field nanCentre = f.clone();
    nanCentre.image(30, 15) = NAN;
    psf P(A, A, 3, 1);
    const Result r = build(P, nanCentre.only({1, 2}, {1, 1}));
    expectSame(one.p, r.p, 2);
    expectSame(one.e, r.e, 2);
}

TEST(CreatePsf, StarsAtTheImageBorderReadOnlyTheImage)
{
    // Outside the image there is no data: a star of weight 0 at the border
    // gives what the same star gives in a larger image whose extra pixels
    // are blank and masked.
    // Positions that moving by whole pixels leaves exact.
    const Field small(20, 20, {{2.25, 10.375}, {19.625, 19.75}}, gaussianStar(3000, 1.0));
    const int pad = 6, N = 20 + 2 * pad;
    Field big = small.only({1, 2}, {0, 0});
    big.image.makeReference(MArray<float, 2>(N, N));
    big.error.makeReference(MArray<float, 2>(N, N));
    for (int i = 1; i <= N; ++i)
        for (int j = 1; j <= N; ++j) {
            const bool in = i > pad && i <= 20 + pad && j > pad && j <= 20 + pad;
            big.image(i, j) = in ? small.image(i - pad, j - pad) : 0.0f;
            big.error(i, j) = in ? small.error(i - pad, j - pad) : -1.0f;
        }
    for (int s = 1; s <= 2; ++s) {
        big.x(s) += pad;
        big.y(s) += pad;
    }
    for (bool fit : {false, true}) {
        psf a(4, 5, 3, 2), b(4, 5, 3, 2);
        const Result ra = build(a, small.only({1, 2}, {0, 0}), fit),
                     rb = build(b, big.clone(), fit);
        expectSame(rb.p, ra.p);
        expectSame(rb.e, ra.e);
        // Light where both stars have pixels; none where the corner star
        // has none.
        EXPECT_GT(ra.p(-3, -3), 0);
        EXPECT_EQ(0, ra.p(6, 0));
    }
    // With weights the border stars are too blank and left out.
    psf c(4, 5, 3, 2);
    EXPECT_EQ(0, orv::max(orv::fabs(build(c, small).p)));
}

TEST(CreatePsf, TheFitFindsTheSkyAndAFailedFitLeavesAStarWithoutSkyOut)
{
    const test_common::ScratchDir dir; // verbosity 3 writes "psftest00.fits"
    const test_common::InDir here(dir.path());
    const Field given(60, 45, {{15.3, 14.8}, {30.45, 16.1}},
                      moffatStar(900, Moffat{2.5, 2.5, 0, 3}), 12);
    Field f = given.clone();
    for (int s = 1; s <= 2; ++s) {
        f.sky(s) = 12345;
        f.sky_x(s) = 12345;
    }
    // The fitted terms reach the caller's arrays; the fixed one stays.
    psf P(6, 6, 3, 1);
    const Result r = build(P, f, true, 3);
    for (int s = 1; s <= 2; ++s) {
        // The model star is not pixel-integrated: a little off.
        EXPECT_NEAR(given.sky(s), f.sky(s), 1) << r.out;
        EXPECT_NEAR(0.3, f.sky_x(s), 0.03);
        EXPECT_EQ(-0.2, f.sky_y(s));
    }
    EXPECT_EQ(std::string::npos, r.out.find(" err")) << r.out;
    psf Q(6, 6, 3, 1);
    const Result known = build(Q, given.clone());
    for (int k = -19; k <= 19; ++k)
        for (int l = -19; l <= 19; ++l)
            ASSERT_NEAR(known.p(k, l), r.p(k, l), 1e-3 * known.p(0, 0));

    // Width limits the stars miss: the fits fail. A star whose sky was to
    // be fitted has none and is left out; with the sky given it is used.
    Field unknown = given.only({1, 2}, {0, 0});
    unknown.sky(2) = 12345;
    psf U(6, 6, 3, 1), F(6, 6, 3, 1), G(6, 6, 3, 1), H(6, 6, 3, 1);
    const Result ru = build(U, unknown, true, 3, 0.1, 0.3);
    EXPECT_NE(std::string::npos, ru.out.find(" err-3 in fmoffat")) << ru.out;
    EXPECT_EQ(12345, unknown.sky(2));
    expectSame(build(F, given.only({1}, {0})).p, ru.p);
    const Result rf = build(G, given.only({1, 2}, {0, 0}), true, 0, 0.1, 0.3);
    expectSame(build(H, given.only({1, 2}, {0, 0})).p, rf.p);
}

TEST(CreatePsf, DiagnosticFilesAndTable)
{
    const test_common::ScratchDir dir;
    const test_common::InDir here(dir.path());
    const Field f(40, 40, {{15.3, 14.8}, {25.2, 26.0}}, moffatStar(900, Moffat{2.5, 2.5, 0, 3}),
                  12);
    psf P(3, 4, 3, 1);
    const Result r = build(P, f, true, 8);
    std::cout.precision(6);
    EXPECT_EQ(0u,
              r.out.find("constructing PSF using 2 standard stars...\n\n        nchi  iterations"));
    EXPECT_NE(std::string::npos, r.out.find(std::string(156, '-')));
    EXPECT_NE(std::string::npos, r.out.find(std::string(156, '=')));
    EXPECT_NE(std::string::npos, r.out.find("starpsf0_002.fits\n"));
    EXPECT_EQ(std::string::npos, r.out.find(" err")) << r.out;
    // Stamps before the sky subtraction (float), the star's sub-grid PSF
    // (double), the coverage, and the binned PSF.
    struct File {
        const char *name;
        int bitpix, side;
    };
    for (const File file : {File{"starpsf0_001.fits", -32, 9}, File{"e.starpsf0_002.fits", -32, 9},
                            File{"starpsf_002.fits", -64, 27}, File{"e.starpsf_001.fits", -64, 27},
                            File{"count.fits", -32, 27}, File{"psftest00.fits", -32, 9},
                            File{"e.psftest00.fits", -32, 9}}) {
        const test_common::BasicHdu<double> read =
            test_common::read_hdu<double>(dir.file(file.name));
        ASSERT_TRUE(read.ok()) << file.name;
        EXPECT_EQ(file.bitpix, read.bitpix) << file.name;
        EXPECT_EQ(file.side, read.nx) << file.name;
        const test_common::Verdict verdict = test_common::fitsverify(dir.file(file.name));
        EXPECT_TRUE(verdict.flawless) << verdict.report;
    }
    const test_common::BasicHdu<double> stamp =
        test_common::read_hdu<double>(dir.file("starpsf0_001.fits"));
    EXPECT_EQ(f.image(15, 15), stamp.pix[4 * 9 + 4]);
    EXPECT_EQ(f.image(11, 11), stamp.pix[0]);
    // The table: one row per star fit and one for the PSF.
    int rows = 0;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        int cols = 0;
        for (double v; in >> v;)
            ++cols;
        rows += cols == 13;
    }
    EXPECT_EQ(3, rows) << r.out;
    // Verbosity 3: the table and "psftest00.fits" only.
    const test_common::ScratchDir quiet;
    const test_common::InDir inQuiet(quiet.path());
    psf Q(3, 4, 3, 1);
    const Result q = build(Q, f, false, 3);
    std::cout.precision(6);
    EXPECT_EQ(std::string::npos, q.out.find(std::string(156, '-')));
    EXPECT_EQ(std::string::npos, q.out.find(std::string(156, '=')));
    EXPECT_TRUE(test_common::exists(quiet.file("psftest00.fits")));
    EXPECT_FALSE(test_common::exists(quiet.file("count.fits")));
    EXPECT_FALSE(test_common::exists(quiet.file("starpsf0_001.fits")));
}

TEST(CreatePsf, ShorterOverloadsAndRefusedStarLists)
{
    const Field f(40, 40, {{15.3, 14.8}, {25.2, 26.0}}, gaussianStar(3000, 1.0));
    psf a(3, 3, 3, 1), b(3, 3, 3, 1), c(3, 3, 3, 1), d(3, 3, 3, 1);
    // Without weights: every weight 0.
    const Result full = build(a, f.only({1, 2}, {0, 0}));
    testing::internal::CaptureStdout();
    b.create_psf(f.image, f.error, f.x, f.y, f.sky, f.sky_x, f.sky_y, 1.5, 6, 1, 6, false, 0);
    expectSame(full.p, b.get_psf());
    // One sky plane for every star.
    Field same = f.only({1, 2}, {0, 0});
    same.sky = 20.0;
    same.sky_x = 0.3;
    same.sky_y = -0.2;
    c.create_psf(f.image, f.error, f.x, f.y, 20.0, 0.3, -0.2, 1.5, 6, 1, 6, false, 0);
    testing::internal::GetCapturedStdout();
    expectSame(build(d, same).p, c.get_psf());
    // A star list whose arrays do not all cover the stars changes nothing.
    const MArray<double, 2> before = copyOf(c.get_psf());
    MArray<double, 1> one(1);
    one = 0.0;
    testing::internal::CaptureStdout();
    c.create_psf(f.image, f.error, f.x, one, 20.0, 0.3, -0.2, 1.5, 6, 1, 6, false, 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("error in create_psf")) << out;
    expectSame(before, c.get_psf());
}
