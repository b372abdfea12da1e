// The polynomial sky on synthetic images with known surfaces and outliers.
#include "dornel/get_sky.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "common/fits.h"
#include "dornel/poly.h"
#include "dornel/sky_error.h"

using namespace test_common;
using orv::MArray;
using test_common::Image;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The progress line of a pass that used n pixels, up to the rms.
std::string usedLine(long n)
{
    std::string count = std::to_string(n);
    return "having used " + std::string(count.size() < 8 ? 8 - count.size() : 0, ' ') + count +
           " pixel, rms = ";
}

int countLines(const std::string &text, const std::string &word)
{
    int n = 0;
    for (std::size_t pos = text.find(word); pos != std::string::npos;
         pos = text.find(word, pos + 1))
        ++n;
    return n;
}

struct SkyRun {
    MArray<float, 2> sky;
    Image cut;
    std::string out;
};

class GetSky : public ::testing::Test {
protected:
    // Runs get_sky on a copy of the image and reads back the clipped image.
    SkyRun run(const MArray<float, 2> &image, const MArray<float, 2> &err, double nan, double kappa,
               int radius, int order, double tresh = 1e30)
    {
        SkyRun r;
        MArray<float, 2> sky(image.shape());
        sky = image;
        r.sky.makeReference(sky);
        const std::string cut = scratch.file("cut.fits");
        testing::internal::CaptureStdout();
        get_sky(r.sky, err, nan, kappa, image.length(1), image.length(2), cut, radius, order,
                tresh);
        r.out = testing::internal::GetCapturedStdout();
        const test_common::BasicHdu<double> read = test_common::read_hdu<double>(cut);
        EXPECT_TRUE(read.ok());
        EXPECT_EQ(-32, read.bitpix);
        r.cut = read.image();
        return r;
    }
    test_common::ScratchDir scratch;
};

void expectSurface(const MArray<float, 2> &sky, const std::function<double(int, int)> &truth,
                   double tolerance)
{
    for (int y = 1; y <= sky.length(2); ++y)
        for (int x = 1; x <= sky.length(1); ++x)
            ASSERT_NEAR(truth(x, y), sky(x, y), tolerance) << "at " << x << "," << y;
}

int countEqual(const Image &im, double value)
{
    int n = 0;
    for (double v : im.v)
        n += v == value ? 1 : 0;
    return n;
}

} // namespace

TEST_F(GetSky, RecoversAnExactPlaneAndOrderTwoSurface)
{
    const auto plane = [](int x, int y) { return 100 + 0.5 * x - 0.3 * y; };
    const MArray<float, 2> ones = array(40, 30, [](int, int) { return 1.0; });
    SkyRun r = run(array(40, 30, plane), ones, 0, 3, 0, 1);
    expectSurface(r.sky, plane, 1e-3);
    // Nothing is clipped: one fit, and a second count that ends the passes.
    EXPECT_EQ(1, countLines(r.out, usedLine(1200))) << r.out;
    EXPECT_EQ(0, countEqual(r.cut, 0));
    EXPECT_NE(std::string::npos, r.out.find("              2   x^ 1   y^ 0            0.5\n"))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find("              3   x^ 0   y^ 1           -0.3\n"))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Saving file: " + scratch.file("cut.fits"))) << r.out;

    const auto curved = [](int x, int y) {
        return 50 + 0.2 * x + 0.1 * y + 0.01 * x * x - 0.005 * x * y + 0.02 * y * y;
    };
    const SkyRun r2 = run(array(50, 40, curved),
                          array(50, 40, [](int x, int) { return 1 + 0.01 * x; }), 0, 3, 0, 2);
    expectSurface(r2.sky, curved, 1e-3);
    EXPECT_EQ(9, countLines(r2.out, "   x^"));
}

TEST_F(GetSky, RecoversEveryOrderUpToThreeWithAllItsTerms)
{
    // Coefficient of x^b·y^a at [a][b], scaled so that every term adds a few
    // units over a 40 x 30 image.
    const double c[4][4] = {{80, 0.3, -4e-3, 5e-5},
                            {0.2, -3e-3, 4e-5, -6e-7},
                            {-5e-3, 6e-5, -7e-7, 9e-9},
                            {7e-5, -8e-7, 1e-8, -1e-10}};
    const MArray<float, 2> ones = array(40, 30, [](int, int) { return 1.0; });
    for (int n = 0; n <= 3; ++n) {
        const auto truth = [&](int x, int y) {
            double v = 0;
            for (int a = 0; a <= n; ++a)
                for (int b = 0; b <= n; ++b)
                    v += c[a][b] * std::pow(x, b) * std::pow(y, a);
            return v;
        };
        const SkyRun r = run(array(40, 30, truth), ones, 0, 3, 0, n);
        expectSurface(r.sky, truth, 1e-3);
        EXPECT_EQ((n + 1) * (n + 1), countLines(r.out, "   x^")) << "order " << n;
    }
}

TEST_F(GetSky, ClipsOutliersWithTheirCircles)
{
    // A flat sky with a small pattern and three bright outliers, one in a corner.
    const auto flat = [](int x, int y) { return 10 + 0.25 * ((x * 7 + y * 13) % 5 - 2); };
    const auto image = [&](int x, int y) {
        if ((x == 10 && y == 10) || (x == 30 && y == 20) || (x == 1 && y == 1))
            return 1000.0;
        return flat(x, y);
    };
    const MArray<float, 2> ones = array(40, 30, [](int, int) { return 1.0; });
    struct Case {
        int radius, blanked;
    };
    // Interior circles of 1, 5 and 21 pixels; the corner keeps 1, 3 and 8 of them.
    const Case cases[] = {{0, 3}, {1, 5 + 5 + 3}, {2, 21 + 21 + 8}};
    for (const Case &c : cases) {
        SkyRun r = run(array(40, 30, image), ones, 0, 5, c.radius, 0);
        EXPECT_EQ(c.blanked, countEqual(r.cut, 0)) << "radius " << c.radius;
        EXPECT_EQ(0.0, r.cut(10, 10));
        EXPECT_NEAR(10.0, r.sky(5, 5), 0.01) << "radius " << c.radius;
        EXPECT_NE(std::string::npos, r.out.find(usedLine(1200 - c.blanked))) << r.out;
    }
    // A negative radius blanks nothing: two passes with the same count.
    SkyRun r = run(array(40, 30, image), ones, 0, 5, -1, 0);
    EXPECT_EQ(0, countEqual(r.cut, 0));
    EXPECT_EQ(1, countLines(r.out, "having used "));
    // A radius far beyond the image blanks all of it, up to the largest one.
    for (int huge : {2000000000, INT_MAX}) {
        const SkyRun wide = run(array(40, 30, image), ones, 0, 5, huge, 0);
        EXPECT_EQ(1200, countEqual(wide.cut, 0)) << huge;
        EXPECT_NE(std::string::npos,
                  wide.out.find("no usable pixel left, keeping the surface of the previous pass"))
            << huge;
    }
}

TEST_F(GetSky, DefaultKappaZeroKeepsTheFirstFit)
{
    const auto plane = [](int x, int y) { return 20 + 0.1 * x + 0.2 * y; };
    const MArray<float, 2> ones = array(20, 20, [](int, int) { return 1.0; });
    SkyRun r = run(array(20, 20, plane), ones, 0, 0, 0, 1);
    expectSurface(r.sky, plane, 1e-3);
    EXPECT_NE(std::string::npos, r.out.find("having used        0 pixel: no usable pixel left, "
                                            "keeping the surface of the previous pass"))
        << r.out;
    EXPECT_EQ(400, countEqual(r.cut, 0));
}

TEST_F(GetSky, BlankNaNBadErrorAndBrightPixelsStayOutOfTheFit)
{
    const auto plane = [](int x, int y) { return 5 + 0.05 * x - 0.02 * y; };
    const auto image = [&](int x, int y) {
        if (x == 3)
            return -99.0; // blank column
        if (y == 7 && x < 10)
            return kNaN; // NaN pixels
        if (x == 12 && y == 12)
            return 5000.0; // above tresh
        return plane(x, y);
    };
    const auto err = [](int x, int y) {
        return x == 15 && y < 5 ? 0.0 : (x == 16 && y == 1 ? kNaN : 0.5);
    };
    SkyRun r = run(array(25, 20, image), array(25, 20, err), -99, 4, 1, 1, 1000);
    expectSurface(r.sky, plane, 1e-3);
    // rms is finite although NaN pixels are not blank.
    EXPECT_EQ(std::string::npos, r.out.find("nan")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("inf")) << r.out;
    // Blank pixels stay blank, NaN pixels stay NaN in the clipped image.
    for (int y = 1; y <= 20; ++y)
        EXPECT_EQ(-99.0, r.cut(3, y));
    EXPECT_TRUE(std::isnan(r.cut(1, 7)));
}

TEST_F(GetSky, ImagesWithoutEnoughUsablePixelsFail)
{
    const MArray<float, 2> ones = array(6, 5, [](int, int) { return 1.0; });
    const MArray<float, 2> blank = array(6, 5, [](int, int) { return 0.0; });
    const MArray<float, 2> nans = array(6, 5, [](int, int) { return kNaN; });
    const MArray<float, 2> one =
        array(6, 5, [](int x, int y) { return x == 2 && y == 2 ? 1.0 : 0.0; });
    const MArray<float, 2> zeroErr = array(6, 5, [](int, int) { return 0.0; });
    MArray<float, 2> sky(6, 5);
    struct Case {
        const char *what;
        MArray<float, 2> image, err;
        int order;
    };
    const Case cases[] = {
        {"all blank", blank, ones, 0},
        {"all NaN", nans, ones, 0},
        {"errors zero", ones, zeroErr, 0},
        {"one pixel for four coefficients", one, ones, 1},
        // More coefficients than pixels, up to orders whose count overflows an int.
        {"order 5 on 30 pixels", ones, ones, 5},
        {"order 50000", ones, ones, 50000},
        {"largest order", ones, ones, 2147483647}};
    for (const Case &c : cases) {
        sky = c.image;
        testing::internal::CaptureStdout();
        try {
            get_sky(sky, c.err, 0, 3, 6, 5, scratch.file("cut.fits"), 0, c.order, 1000);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const SkyError &e) {
            if (c.order > 1) {
                EXPECT_NE(std::string::npos,
                          std::string(e.what()).find("fewer pixels than coefficients (the image "
                                                     "has 30 pixels"))
                    << c.what << ": " << e.what();
            }
        }
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(test_common::exists(scratch.file("cut.fits"))) << c.what;
    }
}

namespace {

// The weighted least-squares projection onto polynomials of the given
// order along one axis of `length` pixels with weights 1/e²: the columns of
// a QR factorisation of the weighted Chebyshev basis in coordinates scaled to
// [-1, 1] (Gram-Schmidt, twice, which keeps them orthonormal).
std::vector<std::vector<double>> orthonormalBasis(int order, int length,
                                                  const std::function<double(int)> &e)
{
    std::vector<std::vector<double>> q;
    for (int k = 0; k <= order; ++k) {
        std::vector<double> v(length);
        for (int i = 0; i < length; ++i) {
            const double u = length > 1 ? (2.0 * (i + 1) - length - 1) / (length - 1) : 0.0;
            v[i] = std::cos(k * std::acos(u)) / e(i + 1);
        }
        for (int pass = 0; pass < 2; ++pass)
            for (const auto &b : q) {
                double dot = 0;
                for (int i = 0; i < length; ++i)
                    dot += b[i] * v[i];
                for (int i = 0; i < length; ++i)
                    v[i] -= dot * b[i];
            }
        double norm = 0;
        for (double x : v)
            norm += x * x;
        for (double &x : v)
            x /= std::sqrt(norm);
        q.push_back(v);
    }
    return q;
}

// The least-squares surface of x^b·y^a, a, b = 0..order, fitted to every
// pixel of z with errors ex(x)·ey(y). With such errors the weights separate,
// and the fit is the projection along x followed by the one along y.
MArray<double, 2> leastSquaresSurface(const MArray<float, 2> &z, int order,
                                      const std::function<double(int)> &ex,
                                      const std::function<double(int)> &ey)
{
    const int nx = z.length(1), ny = z.length(2), n1 = order + 1;
    const auto qx = orthonormalBasis(order, nx, ex), qy = orthonormalBasis(order, ny, ey);
    // c(j, l) = sum over pixels of qx_j(x)·qy_l(y)·z / (ex·ey).
    std::vector<double> c(n1 * n1, 0.0);
    for (int y = 1; y <= ny; ++y)
        for (int j = 0; j < n1; ++j) {
            double row = 0;
            for (int x = 1; x <= nx; ++x)
                row += qx[j][x - 1] * z(x, y) / ex(x);
            for (int l = 0; l < n1; ++l)
                c[j * n1 + l] += row * qy[l][y - 1] / ey(y);
        }
    MArray<double, 2> s(nx, ny);
    for (int y = 1; y <= ny; ++y)
        for (int x = 1; x <= nx; ++x) {
            double v = 0;
            for (int j = 0; j < n1; ++j)
                for (int l = 0; l < n1; ++l)
                    v += c[j * n1 + l] * qx[j][x - 1] * qy[l][y - 1];
            s(x, y) = v * ex(x) * ey(y);
        }
    return s;
}

} // namespace

TEST_F(GetSky, HighOrdersAgreeWithAnAccurateFitOrAreRefused)
{
    // A smooth sky that no polynomial matches, with seeded noise; errors
    // that vary along both axes (exact in float, so the weights separate).
    const int side = 512;
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0, 1);
    const auto scaled = [](int i) { return (2.0 * i - side - 1) / (side - 1); };
    const MArray<float, 2> image = array(side, side, [&](int x, int y) {
        const double u = scaled(x), v = scaled(y);
        return 100 + 5 * std::sin(3 * u) * std::cos(2 * v) + 3 * std::exp(-(u * u + v * v)) +
               noise(rng);
    });
    const auto ex = [](int x) { return 1 + 0.25 * (x % 4); };
    const auto ey = [](int y) { return 1 + 0.5 * (y % 3); };
    const MArray<float, 2> err = array(side, side, [&](int x, int y) { return ex(x) * ey(y); });
    for (int order = 0; order <= 10; ++order) {
        try {
            // kappa 0: the first fit is the result.
            const SkyRun r = run(image, err, -1e30, 0, 0, order);
            const MArray<double, 2> truth = leastSquaresSurface(image, order, ex, ey);
            double worst = 0;
            for (int y = 1; y <= side; ++y)
                for (int x = 1; x <= side; ++x)
                    worst = std::max(worst, std::fabs(r.sky(x, y) - truth(x, y)));
            EXPECT_LT(worst, 1e-4) << "order " << order;
        } catch (const SkyError &e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find("cannot be fitted"))
                << e.what();
        }
    }
}

TEST_F(GetSky, AnUndeterminedSurfaceIsRefused)
{
    // Usable pixels in three columns only: an order of 4 in x is not fixed
    // by them; refused, never a surface made of rounding errors.
    const MArray<float, 2> image = array(
        60, 40, [](int x, int y) { return x == 10 || x == 30 || x == 50 ? 100 + 0.1 * y : 0.0; });
    const MArray<float, 2> ones = array(60, 40, [](int, int) { return 1.0; });
    testing::internal::CaptureStdout();
    try {
        MArray<float, 2> sky(60, 40);
        sky = image;
        get_sky(sky, ones, 0, 3, 60, 40, scratch.file("cut.fits"), 0, 4, 1000);
        ADD_FAILURE() << "no error";
    } catch (const SkyError &e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("polynomial sky cannot be fitted"))
            << e.what();
    }
    testing::internal::GetCapturedStdout();
}

namespace {

// The clipping passes done the plain way, pixel by pixel over the whole
// image with a full mask per pass, and fitted from lists of points.
struct PlainRun {
    std::vector<long> counts; // usable pixels of each fitted pass
    MArray<float, 2> cut, sky;
};

PlainRun plainClipping(const MArray<float, 2> &image, const MArray<float, 2> &err, double nan,
                       double kappa, int radius, int order, double tresh)
{
    const int nx = image.length(1), ny = image.length(2);
    PlainRun run;
    run.cut.makeReference(MArray<float, 2>(nx, ny));
    run.cut = image;
    ScaledSurface fitted(order, nx, ny), trial(order, nx, ny);
    long previous = -1;
    for (;;) {
        std::vector<double> xs, ys, zs, ws;
        for (int y = 1; y <= ny; ++y)
            for (int x = 1; x <= nx; ++x) {
                const double v = run.cut(x, y);
                const float e = err(x, y);
                if (std::isfinite(v) && v != nan && v <= tresh && e > 0 && std::isfinite(e)) {
                    xs.push_back(x);
                    ys.push_back(y);
                    zs.push_back(v);
                    ws.push_back(e);
                }
            }
        const long n = static_cast<long>(xs.size());
        if (n == previous || trial.fit(xs.data(), ys.data(), zs.data(), ws.data(), n) != 0)
            break;
        std::swap(fitted, trial);
        run.counts.push_back(n);
        previous = n;
        std::vector<float> row(nx);
        std::vector<std::vector<bool>> blank(nx + 1, std::vector<bool>(ny + 1, false));
        for (int y = 1; y <= ny; ++y) {
            fitted.row(y, row.data());
            for (int x = 1; x <= nx; ++x) {
                const float v = run.cut(x, y);
                if (static_cast<double>(v) == nan || radius < 0)
                    continue;
                if (!(std::fabs(v - row[x - 1]) >= kappa * static_cast<double>(err(x, y))))
                    continue;
                for (int v2 = -radius; v2 <= radius; ++v2)
                    for (int u = -radius; u <= radius; ++u)
                        if (u * u + v2 * v2 < radius * (radius + 1) || (u == 0 && v2 == 0))
                            if (x + u >= 1 && x + u <= nx && y + v2 >= 1 && y + v2 <= ny)
                                blank[x + u][y + v2] = true;
            }
        }
        for (int y = 1; y <= ny; ++y)
            for (int x = 1; x <= nx; ++x)
                if (blank[x][y])
                    run.cut(x, y) = static_cast<float>(nan);
    }
    run.sky.makeReference(MArray<float, 2>(nx, ny));
    std::vector<float> row(nx);
    for (int y = 1; y <= ny; ++y) {
        fitted.row(y, row.data());
        for (int x = 1; x <= nx; ++x)
            run.sky(x, y) = row[x - 1];
    }
    return run;
}

} // namespace

TEST_F(GetSky, PassesAgreeWithPlainClippingOfTheWholeImage)
{
    // A curved sky with seeded noise, a bright extended source that the
    // passes eat into, stars, a blank patch, NaN pixels, pixels above tresh
    // and errors that vary.
    const int nx = 120, ny = 90;
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, 1);
    const MArray<float, 2> image = array(nx, ny, [&](int x, int y) {
        double v = 100 + 0.3 * x - 0.2 * y + 0.004 * x * y + noise(rng);
        v += 60 * std::exp(-std::hypot(x - 40, y - 30) / 9);
        if ((x * 31 + y * 17) % 389 == 0)
            v += 300;
        if (x > 100 && y > 75)
            v = -5;
        if ((x * 7 + y) % 211 == 0)
            v = std::nan("");
        if (x == 5 && y == 60)
            v = 2000;
        return v;
    });
    const MArray<float, 2> err =
        array(nx, ny, [](int x, int y) { return 0.8 + 0.1 * ((x + 2 * y) % 5); });
    struct Case {
        double nan, kappa;
        int radius, order;
    };
    // Radius 0, small circles, circles of more rows than a pass keeps
    // pending, and a blank marker that float does not hold, whose blanked
    // pixels never count as blank.
    for (const Case &c :
         {Case{-5, 2.5, 0, 2}, Case{-5, 3, 2, 3}, Case{-5, 4, 6, 2}, Case{0.1, 2.5, 1, 2}}) {
        const PlainRun truth = plainClipping(image, err, c.nan, c.kappa, c.radius, c.order, 1000);
        SkyRun r = run(image, err, c.nan, c.kappa, c.radius, c.order, 1000);
        // The progress lines of the fitted passes, up to their rms.
        std::string counts, lines;
        for (long n : truth.counts)
            counts += usedLine(n) + "\n";
        std::istringstream out(r.out);
        for (std::string line; std::getline(out, line);) {
            const std::size_t rms = line.find(" pixel, rms = ");
            if (line.rfind("having used ", 0) == 0 && rms != std::string::npos)
                lines += line.substr(0, rms + 14) + "\n";
        }
        EXPECT_EQ(counts, lines) << c.radius;
        EXPECT_GE(truth.counts.size(), 2u) << c.radius;
        for (int y = 1; y <= ny; ++y)
            for (int x = 1; x <= nx; ++x) {
                const double want = truth.cut(x, y), got = r.cut(x, y);
                if (std::isnan(want))
                    ASSERT_TRUE(std::isnan(got)) << x << "," << y;
                else
                    ASSERT_EQ(want, got) << x << "," << y << " radius " << c.radius;
                ASSERT_NEAR(truth.sky(x, y), r.sky(x, y), 1e-4 * std::fabs(truth.sky(x, y)))
                    << x << "," << y;
            }
    }
}
