// The double-median spline sky on synthetic skies with known truth.
#include "dornel/binspline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "common/fits.h"
#include "dornel/sky_error.h"
#include "dornel/spline_sky.h"

using namespace test_common;
using orv::MArray;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

Parameter settings(int cx, int cy, int h, int r, int verbose, const std::string &file)
{
    Parameter p;
    p.cx = cx;
    p.cy = cy;
    p.intervall = h;
    p.medrad = r;
    p.verbose = verbose;
    p.nan = 0;
    p.current_file = file;
    return p;
}

struct Result {
    MArray<float, 2> sky;
    std::string out, err;
};

Result runBinspline(const MArray<float, 2> &image, Parameter p)
{
    Result r;
    r.sky.makeReference(MArray<float, 2>(image.shape()));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    try {
        binspline(image, r.sky, p);
    } catch (...) {
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        throw;
    }
    r.out = testing::internal::GetCapturedStdout();
    r.err = testing::internal::GetCapturedStderr();
    return r;
}

} // namespace

TEST(Binspline, ReproducesConstantAndPlaneSkiesEverywhere)
{
    struct Case {
        const char *what;
        int nx, ny, cx, cy, h, r;
    };
    const Case cases[] = {
        {"centred", 80, 60, 40, 30, 3, 0},
        {"second-median blocks", 80, 60, 40, 30, 2, 1},
        {"fewer than 100 rows", 30, 20, 12, 9, 2, 0},
        {"tall", 20, 90, 10, 45, 2, 0},
        {"default centre outside", 60, 50, 1070, 1077, 3, 0},
        {"centre far outside below left", 60, 50, -500, -3000, 3, 0},
        {"centre outside right", 60, 50, 200, 25, 3, 0},
    };
    const std::function<double(int, int)> skies[] = {
        [](int, int) { return 50.0; }, [](int x, int y) { return 100 + 0.3 * x - 0.2 * y; }};
    for (const Case &c : cases) {
        for (const auto &truth : skies) {
            const Result r =
                runBinspline(array(c.nx, c.ny, truth), settings(c.cx, c.cy, c.h, c.r, 0, "x.fits"));
            for (int y = 1; y <= c.ny; ++y)
                for (int x = 1; x <= c.nx; ++x)
                    ASSERT_NEAR(truth(x, y), r.sky(x, y), 1e-3 * truth(x, y))
                        << c.what << " at " << x << "," << y;
            EXPECT_EQ("", r.err) << c.what;
        }
    }
}

TEST(Binspline, ProgressCountsRowsOfSmallImagesAndPrintsTheStages)
{
    Result r = runBinspline(array(12, 30, [](int, int) { return 7.0; }),
                            settings(6, 15, 1, 0, 0, "x.fits"));
    std::string progress;
    for (int i = 1; i <= 30; ++i)
        progress += std::to_string(i) + "% ";
    EXPECT_NE(std::string::npos,
              r.out.find("spline interpolation.....\n" + progress +
                         " ------------------------------------------------------\n"))
        << r.out;
    for (const char *line :
         {" ------------------ double median bicubic spline interpolation ------------------\n",
          "\n1st medianing...\n", "\n2nd medianing...\n"})
        EXPECT_NE(std::string::npos, r.out.find(line)) << line;
    EXPECT_EQ(std::string::npos, r.out.find("binning diam")) << "verbosity 0";

    const Result tall = runBinspline(array(10, 250, [](int, int) { return 7.0; }),
                                     settings(5, 125, 1, 0, 0, "x.fits"));
    EXPECT_NE(std::string::npos, tall.out.find(" 124% 125%  ---")) << tall.out;
    EXPECT_EQ(std::string::npos, tall.out.find("126%"));
}

TEST(Binspline, FirstMediansAreTheMediansOfTheirWindows)
{
    test_common::ScratchDir scratch;
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 3);
    const int nx = 45, ny = 40, h = 2, E = 5, cx = 21, cy = 19;
    MArray<float, 2> image =
        array(nx, ny, [&](int x, int y) { return 200 + 0.1 * x + noise(rng) + 0 * y; });
    // Blank and NaN pixels inside some windows, and one blank window.
    image(21, 19) = 0;
    image(22, 20) = kNaN;
    image(26, 24) = kNaN;
    image(27, 24) = 0;
    for (int y = 27; y <= 31; ++y)
        for (int x = 14; x <= 18; ++x)
            image(x, y) = 0;
    const Result r = runBinspline(image, settings(cx, cy, h, 0, 3, scratch.file("img.fits")));
    const test_common::BasicHdu<double> bins =
        test_common::read_hdu<double>(scratch.file("sky_binspline_bin-img.fits"));
    ASSERT_TRUE(bins.ok());
    int checked = 0;
    for (int Y = cy - 3 * E; Y <= ny - h; Y += E)
        for (int X = cx - 4 * E; X <= nx - h; X += E) {
            if (X <= h || Y <= h)
                continue;
            std::vector<float> v;
            for (int y = Y - h; y <= Y + h; ++y)
                for (int x = X - h; x <= X + h; ++x)
                    if (image(x, y) != 0 && !std::isnan(image(x, y)))
                        v.push_back(image(x, y));
            std::sort(v.begin(), v.end());
            double median = 0;
            if (!v.empty())
                median =
                    v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0f;
            EXPECT_NEAR(median, bins.at(X, Y), 1e-4) << X << "," << Y;
            ++checked;
        }
    EXPECT_EQ(8 * 7, checked);
    EXPECT_EQ(0.0, bins.at(16, 29)); // the blank window
    for (const char *word : {"sky_binspline_median-img.fits", "sky_binspline-img.fits"}) {
        const test_common::Verdict verdict = test_common::fitsverify(scratch.file(word));
        EXPECT_TRUE(verdict.flawless) << verdict.report;
    }
    EXPECT_EQ(11, test_common::read_hdu<double>(scratch.file("sky_binspline-img.fits")).nx);
    EXPECT_EQ(10, test_common::read_hdu<double>(scratch.file("sky_binspline-img.fits")).ny);
}

TEST(Binspline, ANodeWithoutValidBinsTakesItsNeighboursMean)
{
    // Single-pixel bins and second-median blocks of 203 x 203 bins (too wide
    // for the widening search), 3 x 3 nodes at 102, 305 and 508: the middle
    // node's block is blank.
    const auto plane = [](int x, int y) { return 300 + 0.05 * x + 0.02 * y; };
    const MArray<float, 2> image = array(610, 610, [&](int x, int y) {
        return (x >= 204 && x <= 406 && y >= 204 && y <= 406) ? 0.0 : plane(x, y);
    });
    const Result r = runBinspline(image, settings(102, 102, 0, 101, 0, "field.fits"));
    EXPECT_NE(std::string::npos, r.err.find("Warning: 1 of 9 median nodes of field.fits hold no "
                                            "valid bin; each took the mean of its "
                                            "nearest valid nodes"))
        << r.err;
    for (int y = 1; y <= 610; y += 9)
        for (int x = 1; x <= 610; x += 9)
            ASSERT_NEAR(plane(x, y), r.sky(x, y), 1e-3 * plane(x, y)) << x << "," << y;
}

TEST(Binspline, ACentreAtTheEndOfIntGivesTheSkyOfTheSameGridNearer)
{
    // Single-pixel bins and blocks of 3 x 3: nodes every 3 pixels, at 1, 4,
    // 7, ... for both centres (2^31 - 1 is 1 more than a multiple of 3). The
    // blank corner leaves the first nodes without a valid bin, so that the
    // widening search around them runs past the lowest bin index of int.
    const auto plane = [](int x, int y) { return 120 + 0.4 * x - 0.7 * y; };
    const MArray<float, 2> image =
        array(38, 16, [&](int x, int y) { return x <= 9 && y <= 9 ? 0.0 : plane(x, y); });
    const Result nearer = runBinspline(image, settings(1, 1, 0, 1, 0, "a"));
    const Result far = runBinspline(image, settings(INT_MAX, INT_MAX, 0, 1, 0, "a"));
    for (int y = 1; y <= 16; ++y)
        for (int x = 1; x <= 38; ++x)
            ASSERT_NEAR(nearer.sky(x, y), far.sky(x, y), 1e-3) << x << "," << y;
}

TEST(Binspline, GridsTooSmallForASplineFailClearly)
{
    struct Case {
        const char *what;
        MArray<float, 2> image;
        Parameter p;
        const char *message;
    };
    const Case cases[] = {
        {"one node row", array(30, 20, [](int, int) { return 5.0; }),
         settings(15, 10, 8, 0, 0, "a"),
         "the spline sky needs at least two median nodes along each axis, the grid has 1 x 1"},
        {"blocks wider than the image", array(30, 30, [](int, int) { return 5.0; }),
         settings(15, 15, 2, 4, 0, "a"),
         "the spline sky needs at least two median nodes along each axis"},
        {"all blank", array(30, 30, [](int, int) { return 0.0; }), settings(15, 15, 2, 0, 0, "a"),
         "no bin of 5 x 5 pixels inside the image holds a valid pixel"},
        {"widest bins and blocks", array(30, 30, [](int, int) { return 5.0; }),
         settings(15, 15, INT_MAX, INT_MAX, 1, "a"),
         "the spline sky needs at least two median nodes"},
        {"centre 2^31 one-pixel bins away", array(30, 30, [](int, int) { return 5.0; }),
         settings(INT_MIN, 15, 0, 0, 0, "a"),
         "the galaxy centre -2147483648,15 lies too far from the image"},
        {"centre 2^31 one-pixel bins above", array(30, 30, [](int, int) { return 5.0; }),
         settings(15, INT_MIN + 1, 0, 1, 0, "a"), "lies too far from the image"},
    };
    for (const Case &c : cases) {
        try {
            runBinspline(c.image, c.p);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const SkyError &e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.message))
                << c.what << ": " << e.what();
        }
    }
}

TEST(Nonan, BoundingBoxOfNonBlankElements)
{
    MArray<double, 2> a(orv::Range(-2, 5), orv::Range(3, 9));
    a = 0.0;
    int x0, x1, y0, y1;
    nonan(a, x0, x1, y0, y1, 0.0);
    EXPECT_EQ(6, x0); // inverted: last + 1 .. first - 1
    EXPECT_EQ(-3, x1);
    EXPECT_EQ(10, y0);
    EXPECT_EQ(2, y1);
    a(0, 4) = 1;
    a(3, 7) = std::numeric_limits<double>::quiet_NaN(); // not blank
    nonan(a, x0, x1, y0, y1, 0.0);
    EXPECT_EQ(0, x0);
    EXPECT_EQ(3, x1);
    EXPECT_EQ(4, y0);
    EXPECT_EQ(7, y1);
    // A NaN marker marks nothing.
    nonan(a, x0, x1, y0, y1, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(-2, x0);
    EXPECT_EQ(5, x1);
    EXPECT_EQ(3, y0);
    EXPECT_EQ(9, y1);

    MArray<float, 2> f(4, 3);
    f = 2.0f;
    f(1, 1) = 0;
    nonan(f, x0, x1, y0, y1, 2.0f);
    EXPECT_EQ(1, x0);
    EXPECT_EQ(1, x1);
    EXPECT_EQ(1, y0);
    EXPECT_EQ(1, y1);
}

TEST(SplineSky, TheClippingLoopStopsAtItsCap)
{
    // A plane with bright stars: the first clipping pass removes them.
    MArray<float, 2> image = array(40, 30, [](int x, int y) { return 50 + 0.1 * x + 0.2 * y; });
    for (int i = 1; i <= 5; ++i)
        image(7 * i, 5 * i) += 400;
    const MArray<float, 2> err = array(40, 30, [](int, int) { return 1.0; });
    Parameter p = settings(0, 0, 2, 0, 0, "");
    p.galcenter[0] = 20;
    p.galcenter[1] = 15;
    p.kappa = 3;
    p.nan = 7; // has no effect: spline mode blanks with 0
    MArray<float, 2> sky(40, 30);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    spline_sky(image, err, sky, "dir/", "img.fits", p, 1);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err2 = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, out.find("0) notnan = 1200\n")) << out;
    EXPECT_NE(std::string::npos, out.find("1) notnan = 1195\n")) << out;
    EXPECT_EQ(std::string::npos, out.find("2) notnan")) << out;
    EXPECT_NE(std::string::npos,
              err2.find("Warning: the clipping of dir/img.fits stopped after 1 passes"))
        << err2;
    EXPECT_EQ(20, p.cx);
    EXPECT_EQ(15, p.cy);
    EXPECT_EQ(0.0f, p.nan);
    EXPECT_EQ("dir/img.fits", p.current_file);

    // Without the cap the loop runs on until the count stops falling.
    testing::internal::CaptureStdout();
    spline_sky(image, err, sky, "dir/", "img.fits", p);
    const std::string full = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, full.find("2) notnan = ")) << full;
    EXPECT_NEAR(50 + 0.1 * 7 + 0.2 * 5, sky(7, 5), 0.05); // under a clipped star
}

namespace {

// What a fresh binspline gives and prints for the image as it is.
Result fresh(const MArray<float, 2> &image, const Parameter &p)
{
    return runBinspline(image, p);
}

bool sameBits(const MArray<float, 2> &a, const MArray<float, 2> &b)
{
    for (int y = 1; y <= a.length(2); ++y)
        for (int x = 1; x <= a.length(1); ++x)
            if (std::memcmp(&a(x, y), &b(x, y), sizeof(float)) != 0)
                return false;
    return true;
}

} // namespace

TEST(BinSpline, EveryPassGivesAndPrintsWhatAFreshSplineDoes)
{
    // Bins of 5 x 5 pixels, blocks of 3 x 3 bins; the first bin column lies
    // at x = 3 (bin -9, pixels 1 to 5), the centre of the first median
    // node's block.
    const int nx = 120, ny = 100;
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, 1);
    MArray<float, 2> image =
        array(nx, ny, [&](int x, int y) { return 200 + 0.2 * x - 0.1 * y + noise(rng); });
    // Above verbosity 0 the diagnostic images go beside the input.
    ScratchDir scratch;
    for (int verbose : {0, 2}) {
        MArray<float, 2> work(image.shape());
        work = image;
        const Parameter p = settings(48, 52, 2, 1, verbose, scratch.file("x.fits"));
        BinSpline spline(p);
        MArray<float, 2> sky(image.shape());
        // Changes between the passes, each told pixel by pixel.
        const auto change = [&](int x0, int x1, int y0, int y1, float value) {
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    work(x, y) = value;
                    spline.changed(x, y);
                }
        };
        const std::function<void()> steps[] = {
            [] {},                                   // the first pass
            [&] { change(60, 61, 40, 41, 0.0f); },   // a few pixels: one bin
            [] {},                                   // nothing: the sky stands
            [&] { change(1, 5, 1, ny, 0.0f); },      // the first bin column: a smaller grid
            [&] { change(33, 77, 33, 72, 0.0f); },   // whole blocks: widening searches
            [&] { change(78, 92, 33, 72, 400.0f); }, // bins those searches found
            [&] { change(33, 77, 33, 72, 250.0f); }, // back, brighter
            [&] { change(1, 5, 1, ny, 190.0f); },    // the column back: the grid as it was
        };
        int pass = 0;
        for (const auto &step : steps) {
            step();
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            spline.pass(work, sky);
            const std::string out = testing::internal::GetCapturedStdout();
            const std::string err = testing::internal::GetCapturedStderr();
            const Result truth = fresh(work, p);
            EXPECT_TRUE(sameBits(truth.sky, sky)) << "pass " << pass << " verbose " << verbose;
            EXPECT_EQ(truth.out, out) << "pass " << pass << " verbose " << verbose;
            EXPECT_EQ(truth.err, err) << "pass " << pass;
            ++pass;
        }
    }
}

TEST(SplineSky, TheClippingPassesGiveTheSkyOfFreshSplines)
{
    // A large galaxy the clipping eats into pass after pass, and stars.
    const int nx = 150, ny = 130;
    std::mt19937 rng(9);
    std::normal_distribution<double> noise(0, 2);
    const MArray<float, 2> image = array(nx, ny, [&](int x, int y) {
        double v = 100 + 0.05 * x + noise(rng) + 400 * std::exp(-std::hypot(x - 70, y - 60) / 25);
        if ((x * 13 + y * 29) % 151 == 0)
            v += 500;
        return v;
    });
    const MArray<float, 2> err = array(nx, ny, [](int, int) { return 2.0; });
    Parameter p = settings(0, 0, 2, 1, 0, "");
    p.galcenter[0] = 70;
    p.galcenter[1] = 60;
    p.kappa = 2;
    MArray<float, 2> sky(nx, ny);
    testing::internal::CaptureStdout();
    spline_sky(image, err, sky, "", "img.fits", p);
    const std::string out = testing::internal::GetCapturedStdout();

    // The loop done with a fresh spline for every pass.
    MArray<float, 2> work(nx, ny), truth(nx, ny);
    work = image;
    long previous = nx * ny;
    std::string expected = "0) notnan = " + std::to_string(previous) + "\n";
    int passes = 0;
    for (int j = 1; j <= kMaxClipPasses; ++j) {
        const Result r = fresh(work, p);
        expected += r.out;
        truth = r.sky;
        long n = 0;
        for (int y = 1; y <= ny; ++y)
            for (int x = 1; x <= nx; ++x) {
                work(x, y) = static_cast<double>(image(x, y) - truth(x, y)) >
                                     p.kappa * static_cast<double>(err(x, y))
                                 ? 0.0f
                                 : image(x, y);
                n += work(x, y) != 0.0f;
            }
        expected += std::to_string(j) + ") notnan = " + std::to_string(n) + "\n";
        passes = j;
        if (n >= previous)
            break;
        previous = n;
    }
    EXPECT_GT(passes, 3);
    EXPECT_TRUE(sameBits(truth, sky));
    EXPECT_EQ(expected, out);
}
