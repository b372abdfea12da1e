// Gaussian smoothing and the float/double matrix copies.
#include "numerics/nrutil.h"
#include "numerics/smooth.h"

#include "common/fatal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

// An image of rows x cols float pixels, 1-based, that frees itself.
struct Image {
    long naxes[3];
    float **z;
    Image(long rows, long cols, float value = 0.0f)
    {
        naxes[0] = 2;
        naxes[1] = cols;
        naxes[2] = rows;
        z = matrix(1, rows, 1, cols);
        for (long i = 1; i <= rows; i++)
            for (long j = 1; j <= cols; j++)
                z[i][j] = value;
    }
    ~Image() { free_matrix(z, 1, naxes[2], 1, naxes[1]); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
};

TEST(Smooth, ConstantImageStaysConstantUpToTheCorners)
{
    Image in(9, 12, 3.7f), out(9, 12);
    smooth(in.z, out.z, in.naxes, 2.0f, 3.0f);
    for (long i = 1; i <= 9; i++)
        for (long j = 1; j <= 12; j++)
            EXPECT_FLOAT_EQ(out.z[i][j], 3.7f) << i << "," << j;
}

TEST(Smooth, RadiusZeroCopiesTheImage)
{
    Image in(5, 6), out(5, 6);
    std::mt19937 gen(1);
    std::uniform_real_distribution<float> u(-10, 10);
    for (long i = 1; i <= 5; i++)
        for (long j = 1; j <= 6; j++)
            in.z[i][j] = u(gen);
    smooth(in.z, out.z, in.naxes, 1.5f, 0.0f);
    for (long i = 1; i <= 5; i++)
        for (long j = 1; j <= 6; j++)
            EXPECT_EQ(out.z[i][j], in.z[i][j]);
}

// A single bright pixel: its spread is the 29-pixel disc of radius 3 and
// its own value is 1 over the sum of the weights exp(-d^2/8) of that disc.
TEST(Smooth, PointSourceShowsTheDiscAndItsWeights)
{
    Image in(15, 15), out(15, 15);
    in.z[8][8] = 1.0f;
    smooth(in.z, out.z, in.naxes, 2.0f, 3.0f);
    double wsum = 0;
    int disc = 0;
    for (int dy = -3; dy <= 3; dy++)
        for (int dx = -3; dx <= 3; dx++)
            if (dx * dx + dy * dy <= 9) {
                wsum += std::exp(-(dx * dx + dy * dy) / 8.0);
                disc++;
            }
    EXPECT_EQ(disc, 29);
    EXPECT_NEAR(out.z[8][8], 1.0 / wsum, 1e-7);
    int lit = 0;
    for (long i = 1; i <= 15; i++)
        for (long j = 1; j <= 15; j++)
            if (out.z[i][j] != 0.0f)
                lit++;
    EXPECT_EQ(lit, 29);
    EXPECT_EQ(out.z[8 + 3][8 + 1], 0.0f); // offset (3, 1) lies outside
    EXPECT_NE(out.z[8 + 3][8], 0.0f);

    // In the corner the window is cut and renormalised by its own weights.
    Image c(15, 15), cout(15, 15);
    c.z[1][1] = 1.0f;
    smooth(c.z, cout.z, c.naxes, 2.0f, 3.0f);
    double cut = 0;
    for (int dy = 0; dy <= 3; dy++)
        for (int dx = 0; dx <= 3; dx++)
            if (dx * dx + dy * dy <= 9)
                cut += std::exp(-(dx * dx + dy * dy) / 8.0);
    EXPECT_NEAR(cout.z[1][1], 1.0 / cut, 1e-7);
}

// A pixel that is not a number takes no part: its neighbours keep their
// values, and only where nothing finite is left is the result NaN.
TEST(Smooth, PixelsThatAreNotNumbersDoNotSpread)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Image in(10, 10, 5.0f), out(10, 10);
    in.z[4][6] = nan;
    in.z[9][2] = std::numeric_limits<float>::infinity();
    smooth(in.z, out.z, in.naxes, 2.0f, 3.0f);
    for (long i = 1; i <= 10; i++)
        for (long j = 1; j <= 10; j++)
            EXPECT_FLOAT_EQ(out.z[i][j], 5.0f) << i << "," << j;

    Image blank(3, 3, nan), bout(3, 3);
    smooth(blank.z, bout.z, blank.naxes, 2.0f, 3.0f);
    EXPECT_TRUE(std::isnan(bout.z[2][2]));
}

TEST(Smooth, ParametersThatCannotSmoothAreFatal)
{
    Image in(4, 4, 1.0f), out(4, 4);
    EXPECT_NRERROR(smooth(in.z, out.z, in.naxes, 0.0f, 3.0f),
                   "smooth: sigma must be positive and radius not negative");
    EXPECT_NRERROR(smooth(in.z, out.z, in.naxes, 2.0f, -1.0f),
                   "smooth: sigma must be positive and radius not negative");
}

TEST(Copymat, RoundTripAndDirections)
{
    long naxes[3] = {2, 3, 4}; // 3 complex columns, 4 rows
    float **f = matrix(1, 4, 1, 6);
    double **d = dmatrix(0, 3, 0, 5);
    for (int i = 1; i <= 4; i++)
        for (int j = 1; j <= 6; j++)
            f[i][j] = 0.1f * i - 0.37f * j;
    copymat(f, d, naxes, 1);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 6; j++)
            EXPECT_EQ(d[i][j], double(f[i + 1][j + 1]));

    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 6; j++)
            d[i][j] = 1.0 / 3.0 + i;
    copymat(f, d, naxes, 0); // nothing
    EXPECT_EQ(f[2][3], 0.1f * 2 - 0.37f * 3);
    copymat(f, d, naxes, -1);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 6; j++)
            EXPECT_EQ(f[i + 1][j + 1], float(1.0 / 3.0 + i));

    long empty[3] = {2, 0, 4};
    f[1][1] = 7;
    copymat(f, d, empty, -1);
    EXPECT_EQ(f[1][1], 7.0f);
    free_dmatrix(d, 0, 3, 0, 5);
    free_matrix(f, 1, 4, 1, 6);
}

} // namespace
