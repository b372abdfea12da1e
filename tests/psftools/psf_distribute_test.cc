// Resampling star stamps onto the PSF sub-grid.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "common/fits.h"
#include "psftools/psf.h"
#include "psftools/random.h"
#include "tests/psftools/psf_truth.h"

using orv::MArray;
using orv::Range;

namespace {

MArray<float, 2> stamp(int lo, int hi, double v = 0)
{
    MArray<float, 2> s{Range(lo, hi), Range(lo, hi)};
    s = static_cast<float>(v);
    return s;
}

MArray<double, 2> window(int lo, int hi)
{
    MArray<double, 2> w{Range(lo, hi), Range(lo, hi)};
    w = 7.0; // divvy must not keep what was there
    return w;
}

// The map of a star at offset (dx, dy) from the stamp's index origin onto a
// sub-grid of g steps per pixel centred on the star.
struct Transform {
    double t[7];
    Transform(int g, double dx, double dy) : t{0, double(g), 0, 0, double(g), -g * dx, -g * dy} {}
    Transform(double t1, double t2, double t3, double t4, double t5, double t6)
        : t{0, t1, t2, t3, t4, t5, t6}
    {
    }
};

struct Out {
    MArray<double, 2> p, e;
    std::string stdout_text;
};

Out divvy(const psf &P, const MArray<float, 2> &data, const MArray<float, 2> &error, int lo, int hi,
          const Transform &t, int verbose = 0)
{
    Out o{window(lo, hi), window(lo, hi), ""};
    testing::internal::CaptureStdout();
    P.divvy(data, error, o.p, o.e, t.t, verbose);
    o.stdout_text = testing::internal::GetCapturedStdout();
    return o;
}

} // namespace

TEST(ConditionMatrix, InverseRecoversAnyPolynomialFromItsConditions)
{
    // A polynomial with known coefficients: its integral over the pixel and
    // its values at the neighbours' centres, times the inverse, give it back.
    C_ranivl ran(0, 1, 5);
    for (int L = 0; L <= 3; ++L) {
        const int n = 2 * L + 1, n2 = n * n;
        std::vector<double> c(n2);
        for (double &v : c)
            v = ran.eval() - 0.5;
        const auto value = [&](double u, double v) {
            double s = 0;
            for (int l = 0; l < n; ++l)
                for (int m = 0; m < n; ++m)
                    s += c[l * n + m] * std::pow(u, m) * std::pow(v, l);
            return s;
        };
        std::vector<double> b;
        double integral = 0;
        for (int l = 0; l < n; ++l)
            for (int m = 0; m < n; ++m)
                integral += c[l * n + m] / ((l + 1) * (m + 1));
        b.push_back(integral);
        for (int dy = -L; dy <= L; ++dy)
            for (int dx = -L; dx <= L; ++dx)
                if (dx != 0 || dy != 0)
                    b.push_back(value(dx + 0.5, dy + 0.5));

        MArray<double, 2> M(n2, n2);
        M = -3.0;
        EXPECT_EQ(0, psf::erzeuge_M(M, L));
        for (int r = 1; r <= n2; ++r) {
            double s = 0;
            for (int i = 1; i <= n2; ++i)
                s += M(r, i) * b[i - 1];
            EXPECT_NEAR(c[r - 1], s, 1e-9) << "L " << L << " coefficient " << r;
        }
    }
}

TEST(Divvy, OnePixelPerPointKeepsEveryValue)
{
    // Sub-grid = pixel grid, no neighbours: each pixel's 25 sub-cells land on
    // its own point. The window reaches beyond the stamp on one side.
    psf P(3, 3, 1, 0);
    MArray<float, 2> d = stamp(-2, 2), e = stamp(-2, 2);
    for (int x = -2; x <= 2; ++x)
        for (int y = -2; y <= 2; ++y) {
            d(x, y) = static_cast<float>(x == 1 && y == 0 ? 0 : 10 + x + 0.25 * y);
            e(x, y) = static_cast<float>(x == -1 ? -0.5 : 1 + 0.125 * y);
        }
    const Out o = divvy(P, d, e, -1, 4, Transform(1, 0, 0));
    for (int x = -1; x <= 4; ++x)
        for (int y = -1; y <= 4; ++y) {
            const bool in = x <= 2 && y <= 2 && d(x, y) != 0;
            EXPECT_NEAR(in ? d(x, y) : 0, o.p(x, y), 1e-12) << x << " " << y;
            EXPECT_NEAR(in ? std::fabs(e(x, y)) : 0, o.e(x, y), 1e-12) << x << " " << y;
        }
    EXPECT_EQ("", o.stdout_text);
}

TEST(Divvy, APlaneIsReproducedExactly)
{
    // Pixel values of a plane are its values at the pixel centres, and the
    // local polynomial is then the plane itself: on a sub-grid aligned with
    // the sub-cells every point holds the plane at its position, per
    // sub-grid cell (1/g² of a pixel), wherever the full neighbourhood is
    // used (at least _interpolation pixels inside the stamp).
    struct Case {
        int g, I, sx, sy; // shift in sub-grid steps
    };
    const int H = 6;
    for (const Case c :
         {Case{5, 1, 1, -2}, Case{5, 2, 0, 0}, Case{3, 2, -1, 1}, Case{3, 3, 1, 1}}) {
        psf P(H, H, c.g, c.I);
        const double dx = double(c.sx) / c.g, dy = double(c.sy) / c.g;
        const auto plane = [](double x, double y) { return 50 + 3.5 * x - 2.25 * y; };
        MArray<float, 2> d = stamp(-H, H), e = stamp(-H, H, 2);
        for (int x = -H; x <= H; ++x)
            for (int y = -H; y <= H; ++y)
                d(x, y) = static_cast<float>(plane(x, y));
        const int S = H * c.g + c.g / 2;
        const Out o = divvy(P, d, e, -S, S, Transform(c.g, dx, dy));
        const double inner = H - c.I + 0.5; // edge of the pixels with the full neighbourhood
        int checked = 0;
        for (int k = -S; k <= S; ++k)
            for (int l = -S; l <= S; ++l) {
                const double x = double(k) / c.g + dx, y = double(l) / c.g + dy, half = 0.5 / c.g;
                if (std::fabs(x) + half > inner || std::fabs(y) + half > inner)
                    continue;
                ASSERT_NEAR(plane(x, y) / (c.g * c.g), o.p(k, l), 1e-9)
                    << c.g << " " << c.I << " " << k << " " << l;
                // Errors 2 spread as variances over (G/g)² sub-cells of
                // G² per pixel, per cell of 1/g² pixel: 2/g.
                ASSERT_NEAR(2.0 / c.g, o.e(k, l), 1e-12);
                ++checked;
            }
        EXPECT_GT(checked, 100);
    }
}

TEST(Divvy, KeepsEveryPixelsFluxAndApproachesTheStarsShape)
{
    // A star of integrated Gaussian pixels at an offset of whole sub-grid
    // steps: every sub-grid point then holds exactly its own sub-cells, so
    // the points of each pixel sum to the pixel's value. Inside the pixels
    // the local polynomials follow the star better the more neighbours they
    // use, compared with the Gaussian's integrals over the sub-grid cells.
    const int H = 6, g = 5, S = H * g + g / 2;
    const double sigma = 1.1, dx = 0.4, dy = -0.2;
    MArray<double, 2> truth{Range(-S, S), Range(-S, S)};
    psftruth::fillSubgridGaussian(truth, g, sigma);
    MArray<float, 2> d = stamp(-H, H), e = stamp(-H, H, 1);
    for (int x = -H; x <= H; ++x)
        for (int y = -H; y <= H; ++y)
            d(x, y) = static_cast<float>(1000 * psftruth::pixelIntegral(x, y, dx, dy, sigma));
    double previous = 1e300;
    for (int I : {0, 1, 2}) {
        const psf P(H, H, g, I);
        const Out o = divvy(P, d, e, -S - 3, S + 3, Transform(g, dx, dy));
        for (int x = -H; x <= H; ++x)
            for (int y = -H; y <= H; ++y) {
                double sum = 0;
                for (int k = g * x - 2 - g / 2; k <= g * x - 2 + g / 2; ++k)
                    for (int l = g * y + 1 - g / 2; l <= g * y + 1 + g / 2; ++l)
                        sum += o.p(k, l);
                ASSERT_NEAR(d(x, y), sum, 1e-9 * 1000) << I << " " << x << " " << y;
            }
        double worst = 0;
        for (int k = -S + g; k <= S - g; ++k)
            for (int l = -S + g; l <= S - g; ++l)
                worst = std::max(worst, std::fabs(o.p(k, l) - 1000 * truth(k, l)));
        EXPECT_LT(worst, 0.8 * previous) << I;
        previous = worst;
    }
    // Two rings of neighbours: within a tenth of the peak everywhere.
    EXPECT_LT(previous, 0.1 * 1000 * truth(0, 0));
}

TEST(Divvy, BlankAndMaskedPixels)
{
    // A blank pixel adds nothing; with error −1 it also masks every point
    // its sub-cells reach, whatever other pixels put there.
    psf P(2, 2, 3, 1);
    for (const float err : {-1.0f, 0.0f, 2.0f}) {
        MArray<float, 2> d = stamp(-2, 2, 5), e = stamp(-2, 2, 1);
        d(1, 0) = 0;
        e(1, 0) = err;
        const Out o = divvy(P, d, e, -7, 7, Transform(3, 0.1, 0));
        // Pixel (1, 0) covers stamp x 0.5..1.5, sub-grid (x − 0.1)·3 from
        // 1.2 to 4.2: points 2..3 only get its sub-cells, point 4 shares.
        for (int k = 2; k <= 3; ++k)
            for (int l = -1; l <= 1; ++l) {
                EXPECT_EQ(0, o.p(k, l)) << err;
                EXPECT_EQ(err == -1 ? -1 : 0, o.e(k, l)) << err;
            }
        EXPECT_EQ(err == -1, o.e(4, 0) == -1) << err;
        EXPECT_NEAR(5.0 / 9, o.p(-3, 0), 1e-12);
        EXPECT_NEAR(1.0 / 3, o.e(-3, 0), 1e-12);
    }
    // A value that is not finite is no data: blank and masked, whatever its
    // error, instead of spreading NaN through its neighbours' polynomials;
    // so is a value whose error is not finite, instead of spreading it
    // through the errors of the points the pixel reaches.
    MArray<float, 2> d = stamp(-2, 2, 5), e = stamp(-2, 2, 1);
    d(1, 0) = 0;
    e(1, 0) = -1;
    const Out masked = divvy(P, d, e, -7, 7, Transform(3, 0.1, 0));
    const float bad[][2] = {{NAN, 1}, {INFINITY, 1}, {5, NAN}, {5, INFINITY}};
    for (const auto &b : bad) {
        const float v = b[0];
        d(1, 0) = v;
        e(1, 0) = b[1];
        const Out o = divvy(P, d, e, -7, 7, Transform(3, 0.1, 0));
        for (int k = -7; k <= 7; ++k)
            for (int l = -7; l <= 7; ++l) {
                ASSERT_EQ(masked.p(k, l), o.p(k, l)) << v << " " << b[1] << " " << k << " " << l;
                ASSERT_EQ(masked.e(k, l), o.e(k, l)) << v << " " << b[1] << " " << k << " " << l;
            }
    }
}

TEST(Divvy, SubCellsGoToTheNearestPointTiesUpwardButWholeNegativeDown)
{
    const test_common::ScratchDir s;
    const test_common::InDir here(s.path());
    // g = 2: the ten sub-cell columns of pixel 0 go 2, 5 and 3 to sub-grid
    // columns −1, 0, 1 (the centre at −0.25 pixel lands on 0.0 and belongs
    // to 0); the coverage in "count.fits" shows it.
    psf P(1, 1, 2, 0);
    MArray<float, 2> d = stamp(-1, 1), e = stamp(-1, 1, 1);
    d(0, 0) = 8;
    const Out o = divvy(P, d, e, -2, 2, Transform(2, 0, 0), 4);
    EXPECT_NEAR(2, o.p(0, 0), 1e-12); // flux per sub-grid cell: 8/g²
    EXPECT_NEAR(2, o.p(-1, 1), 1e-12);
    EXPECT_EQ(0, o.p(2, 0));
    const test_common::BasicHdu<double> r = test_common::read_hdu<double>(s.file("count.fits"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(-32, r.bitpix);
    ASSERT_EQ(5, r.nx);
    const double split[5] = {0, 2, 5, 3, 0};
    for (int x = 1; x <= 5; ++x)
        for (int y = 1; y <= 5; ++y)
            EXPECT_FLOAT_EQ(split[x - 1] * split[y - 1] / 100, r.at(x, y)) << x << " " << y;
    const test_common::Verdict verdict = test_common::fitsverify(s.file("count.fits"));
    EXPECT_TRUE(verdict.flawless) << verdict.report;
    // The diagnostics of verbosity 4, in order; none at 3.
    std::istringstream lines(o.stdout_text);
    std::vector<std::string> text;
    for (std::string line; std::getline(lines, line);)
        text.push_back(line);
    ASSERT_EQ(8u, text.size()) << o.stdout_text;
    EXPECT_EQ("-1...1", text[0]);
    EXPECT_EQ("-1...1", text[1]);
    EXPECT_EQ("-2...2", text[2]);
    EXPECT_EQ("-2...2", text[3]);
    EXPECT_EQ("Groesse integ_basis: 100", text[4]);
    EXPECT_EQ("", text[5]);
    EXPECT_EQ(0u, text[6].find("    ended after ")) << text[6];
    EXPECT_EQ(" sec", text[6].substr(text[6].size() - 4));
    EXPECT_EQ("sum :  " + std::string(23, ' ') + "18", text[7]);
    std::cout.precision(6);
    EXPECT_EQ("", divvy(P, d, e, -2, 2, Transform(2, 0, 0), 3).stdout_text);

    // A target of exactly −1.0 goes to point −2: with T1 = 0 and T5 = −1.5
    // every sub-cell lands on −1.5 + 0.5.
    const Out m = divvy(P, d, e, -3, 3, Transform(0, 0, 0, 0, -1.5, -0.5));
    EXPECT_NEAR(2, m.p(-2, 0), 1e-12);
    EXPECT_EQ(0, m.p(-1, 0));
}

TEST(Divvy, TablesMadeOncePerConfigurationGiveTheSameResults)
{
    // The same object switched between configurations gives, bit for bit,
    // what a fresh object of each configuration gives.
    MArray<float, 2> d = stamp(-4, 4), e = stamp(-4, 4);
    C_ranivl ran(0, 1, 11);
    for (int x = -4; x <= 4; ++x)
        for (int y = -4; y <= 4; ++y) {
            d(x, y) = static_cast<float>(std::exp(-(x * x + y * y) / 6.0) + 0.3 * ran.eval());
            e(x, y) = static_cast<float>(0.1 + ran.eval());
        }
    d(2, -1) = 0;
    const Transform t(3, 0.23, -0.37);
    struct Config {
        int g, I;
    };
    const Config configs[] = {{3, 2}, {3, 1}, {4, 1}, {3, 2}, {4, 1}};
    psf shared(4, 4, 3, 2);
    for (const Config c : configs) {
        shared.set_subgrid(c.g);
        shared.set_interpolation(c.I);
        const psf fresh(4, 4, c.g, c.I);
        const Out a = divvy(shared, d, e, -15, 15, t), b = divvy(fresh, d, e, -15, 15, t);
        for (int k = -15; k <= 15; ++k)
            for (int l = -15; l <= 15; ++l) {
                ASSERT_EQ(b.p(k, l), a.p(k, l)) << c.g << " " << c.I;
                ASSERT_EQ(b.e(k, l), a.e(k, l)) << c.g << " " << c.I;
            }
    }
}

TEST(Divvy, RefusesStampsAndOutputsOfDifferentShapes)
{
    psf P(2, 2, 3, 1);
    const MArray<float, 2> d = stamp(-2, 2, 1), e = stamp(-2, 1, 1);
    const Out o = divvy(P, d, e, -7, 7, Transform(3, 0, 0));
    EXPECT_NE(std::string::npos, o.stdout_text.find("error in divvy")) << o.stdout_text;
    EXPECT_EQ(0, orv::max(orv::fabs(o.p)));
    MArray<double, 2> p = window(-7, 7), pe = window(-6, 6);
    testing::internal::CaptureStdout();
    P.divvy(d, stamp(-2, 2, 1), p, pe, Transform(3, 0, 0).t, 0);
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("error in divvy"));
    EXPECT_EQ(0, orv::max(orv::fabs(p)));
}
