// Sigma image estimate, repair of a given sigma image, bad-pixel lists.
#include "torvex/fit/fitstep.h"
#include "torvex/input/sigma.h"

#include "fit_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace fit_test;

namespace {

// A data record of nx x ny pixels of value v with the given detector.
struct Data {
    Data(long nx, long ny, float v, float gain, float rdnoise, float ncombine)
    {
        img.naxes[1] = nx;
        img.naxes[2] = ny;
        img.z = matrix(1, ny, 1, nx);
        for (long y = 1; y <= ny; y++)
            for (long x = 1; x <= nx; x++)
                img.z[y][x] = v;
        img.gain = gain;
        img.rdnoise = rdnoise;
        img.ncombine = ncombine;
    }
    ~Data() { free_matrix(img.z, 1, img.naxes[2], 1, img.naxes[1]); }
    image img;
};

void release(image *s)
{
    free_matrix(s->z, 1, s->naxes[2], 1, s->naxes[1]);
    delete s;
}

TEST(SigmaImg, ConstantDataFollowsTheNoiseModel)
{
    const struct {
        float value, gain, rdnoise, ncombine, sigma;
    } cases[] = {
        {100, 2, 5, 1, 7.5f},                                    // G 2, v = 200 + 25
        {4, 2, 5, 1, static_cast<float>(std::sqrt(45.0) / 2)},   // pedestal 6
        {100, 0.5f, 5, 1, static_cast<float>(std::sqrt(125.0))}, // G stays 1
        {100, 1, 3, 4, static_cast<float>(std::sqrt(400 + 36.0) / 4)},
        {0, 1, 0, 1, static_cast<float>(std::sqrt(10.0))}, // pedestal 10
    };
    for (const auto &c : cases) {
        Data d(9, 7, c.value, c.gain, c.rdnoise, c.ncombine);
        image *s = sigma_img(d.img);
        ASSERT_EQ(s->naxes[1], 9);
        ASSERT_EQ(s->naxes[2], 7);
        for (long y = 1; y <= 7; y++)
            for (long x = 1; x <= 9; x++)
                ASSERT_NEAR(s->z[y][x], c.sigma, 1e-5 * c.sigma) << c.value << " " << x << "," << y;
        release(s);
    }
}

TEST(SigmaImg, FarBelowTheNoiseCarriesNoWeight)
{
    // Mean far below 10 lifts everything, so make the rest bright enough
    // that the pedestal is 0 and one region sits far below -3 rdnoise.
    Data d(40, 40, 1000, 1, 5, 1);
    for (long y = 1; y <= 12; y++)
        for (long x = 1; x <= 12; x++)
            d.img.z[y][x] = -1000;
    image *s = sigma_img(d.img);
    EXPECT_NEAR(s->z[3][3], 1e15f, 1e10f);
    EXPECT_NEAR(s->z[35][35], std::sqrt(1025.0), 1e-3);
    release(s);
}

TEST(SigmaImg, UndefinedPixelsDoNotSpoilTheirNeighbours)
{
    Data d(20, 20, 100, 2, 5, 1);
    d.img.z[10][10] = NAN;
    d.img.z[10][11] = INFINITY;
    image *s = sigma_img(d.img);
    for (long y = 1; y <= 20; y++)
        for (long x = 1; x <= 20; x++)
            ASSERT_NEAR(s->z[y][x], 7.5f, 1e-5f) << x << "," << y;
    release(s);

    // No finite pixel within reach: the weight of 1 / G.
    Data all(5, 5, NAN, 2, 5, 1);
    s = sigma_img(all.img);
    EXPECT_FLOAT_EQ(s->z[3][3], 0.5f);
    release(s);
}

TEST(SigCheck, ZerosTakeTheSmallestUsableValue)
{
    // A negative value and one whose weight 1/sigma^2 overflows are left
    // out of the fit: they neither set the value of the zeros nor change.
    Data d(5, 1, 0, 1, 1, 1);
    d.img.z[1][1] = 0;
    d.img.z[1][2] = -2;
    d.img.z[1][3] = 3;
    d.img.z[1][4] = 1e-30f;
    d.img.z[1][5] = -0.0f;
    EXPECT_FLOAT_EQ(sigcheck(d.img), 3);
    EXPECT_FLOAT_EQ(d.img.z[1][1], 3);
    EXPECT_FLOAT_EQ(d.img.z[1][2], -2);
    EXPECT_FLOAT_EQ(d.img.z[1][3], 3);
    EXPECT_FLOAT_EQ(d.img.z[1][4], 1e-30f);
    EXPECT_FLOAT_EQ(d.img.z[1][5], 3);
    EXPECT_EQ(unusable_sigma_pixels(d.img), 2);

    // Without zeros nothing changes.
    d.img.z[1][1] = -2;
    d.img.z[1][2] = NAN;
    EXPECT_FLOAT_EQ(sigcheck(d.img), 0);
    EXPECT_FLOAT_EQ(d.img.z[1][1], -2);
    EXPECT_TRUE(std::isnan(d.img.z[1][2]));
    EXPECT_EQ(unusable_sigma_pixels(d.img), 3);

    // Undefined pixels neither set the minimum nor get repaired.
    d.img.z[1][1] = 0;
    d.img.z[1][2] = NAN;
    d.img.z[1][3] = 0.5f;
    EXPECT_FLOAT_EQ(sigcheck(d.img), 0.5f);
    EXPECT_FLOAT_EQ(d.img.z[1][1], 0.5f);
    EXPECT_TRUE(std::isnan(d.img.z[1][2]));
}

TEST(SigCheck, ValuesFarBelowTheImagesOwnAreLeftOut)
{
    // A sigma more than 1e10 times below the median of the image's usable
    // values is a bad pixel whatever the image's units: it becomes undefined
    // and the fit leaves it out; the zeros take the smallest value left.
    for (float u : {1.0f, 1e-5f, 1e5f}) {
        Data d(8, 1, 10 * u, 1, 1, 1); // the median of the usable values is 10u
        d.img.z[1][1] = 0;
        d.img.z[1][2] = 0.99e-9f * u; // just below 1e-9u: left out
        d.img.z[1][3] = 1.01e-9f * u; // just above: kept
        d.img.z[1][4] = 1e-15f * u;   // left out (at 1e-5 a weight that overflows)
        d.img.z[1][5] = -1;
        EXPECT_FLOAT_EQ(sigcheck(d.img), 1.01e-9f * u) << u;
        EXPECT_FLOAT_EQ(d.img.z[1][1], 1.01e-9f * u) << u;
        EXPECT_TRUE(std::isnan(d.img.z[1][2])) << u;
        EXPECT_FLOAT_EQ(d.img.z[1][3], 1.01e-9f * u) << u;
        EXPECT_FALSE(usable_sigma(d.img.z[1][4])) << u;
        EXPECT_FLOAT_EQ(d.img.z[1][6], 10 * u) << u;
        EXPECT_EQ(unusable_sigma_pixels(d.img), 3) << u;
    }

    // Values spread over many orders: the median (of rank n / 2, here 501
    // of the 1003 usable values, the two small ones included) decides.
    std::mt19937 gen(4);
    std::uniform_real_distribution<float> logv(-3, 3);
    Data wide(1003, 1, 0, 1, 1, 1);
    std::vector<float> values;
    for (long x = 3; x <= 1003; x++)
        values.push_back(wide.img.z[1][x] = std::pow(10.0f, logv(gen)));
    std::nth_element(values.begin(), values.begin() + 499, values.end());
    const double median = values[499];
    wide.img.z[1][1] = static_cast<float>(median * 1e-10 * 0.999);
    wide.img.z[1][2] = static_cast<float>(median * 1e-10 * 1.001);
    EXPECT_EQ(sigcheck(wide.img), 0);
    EXPECT_TRUE(std::isnan(wide.img.z[1][1]));
    EXPECT_FLOAT_EQ(wide.img.z[1][2], static_cast<float>(median * 1e-10 * 1.001));

    // An image in flux units: every value is tiny, none far below the rest.
    Data flux(4, 1, 1e-19f, 1, 1, 1);
    flux.img.z[1][2] = 0;
    flux.img.z[1][3] = 7e-20f;
    EXPECT_FLOAT_EQ(sigcheck(flux.img), 7e-20f);
    EXPECT_FLOAT_EQ(flux.img.z[1][2], 7e-20f);
    EXPECT_EQ(unusable_sigma_pixels(flux.img), 0);
}

TEST(SigCheckDeath, NothingUsableEndsTheRun)
{
    for (float v : {0.0f, NAN, -3.0f, 1e-25f}) {
        Data d(4, 4, v, 1, 1, 1);
        d.img.z[2][2] = INFINITY;
        d.img.z[3][3] = -1;
        snprintf(d.img.name, sizeof d.img.name, "sig.fits");
        EXPECT_EXIT(
            {
                pfunc = print_to_stderr;
                sigcheck(d.img);
            },
            ::testing::ExitedWithCode(1), "sigma image sig.fits has no pixel that is a positive")
            << v;
    }
}

TEST(BadPixList, MarksListedPositionsOnly)
{
    ScratchDir dir;
    image m;
    m.naxes[1] = 30;
    m.naxes[2] = 25;
    snprintf(m.name, sizeof m.name, "%s", dir.file("bad.txt").c_str());
    std::string longline = "   " + std::string(300, ' ') + "5 6" + std::string(200, ' ') + "\n";
    spit(m.name, "# bad pixels\n"
                 "10 20\n"
                 "10.7 -3\n"
                 "\n"
                 "   # indented comment 1 1\n" +
                     longline +
                     "15 junk\n" // one number only: nothing
                     "junk\n"
                     "30.9 25.2\n" // truncated to the last pixel
                     "31 1\n"      // beyond the image
                     "1e30 nan\n"
                     "2\t3 trailing words\n");
    EXPECT_EQ(badpixlist(&m), 0);
    int marked = 0;
    for (long y = 1; y <= 25; y++)
        for (long x = 1; x <= 30; x++)
            marked += m.z[y][x] != 0;
    EXPECT_EQ(marked, 4);
    EXPECT_EQ(m.z[20][10], 1);
    EXPECT_EQ(m.z[6][5], 1);
    EXPECT_EQ(m.z[25][30], 1);
    EXPECT_EQ(m.z[3][2], 1);
    free_matrix(m.z, 1, 25, 1, 30);

    snprintf(m.name, sizeof m.name, "%s", dir.file("absent.txt").c_str());
    EXPECT_EQ(badpixlist(&m), 1);
    EXPECT_EQ(m.z[20][10], 0);
    EXPECT_EQ(m.z[1][1], 0);
    free_matrix(m.z, 1, 25, 1, 30);
}

} // namespace
