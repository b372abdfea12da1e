#include "lightcurve/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "draws.h"

namespace {

// n uniform deviates of the sequence started by the given negative seed.
std::vector<double> uniforms(long seed, int n)
{
    return firstDeviates(ran3, seed, n);
}

} // namespace

TEST(Ran3, NegativeSeedRestartsAReproducibleSequence)
{
    long seed = -12345;
    const std::vector<double> first = uniforms(seed, 1000);
    ran3(seed);
    EXPECT_EQ(1, seed) << "seeding sets the seed to 1";
    EXPECT_EQ(first, uniforms(-12345, 1000));
    EXPECT_NE(first, uniforms(-12346, 1000));
    for (double u : first) {
        EXPECT_GE(u, 0.0);
        EXPECT_LT(u, 1.0);
        const double ticks = u * 1e9;
        EXPECT_NEAR(ticks, std::nearbyint(ticks), 1e-6) << "not a multiple of 1e-9: " << u;
    }
}

TEST(Ran3, NonNegativeSeedContinuesTheSequence)
{
    const std::vector<double> reference = uniforms(-77, 30);
    long seed = -77;
    std::vector<double> drawn;
    for (int i = 0; i < 10; ++i)
        drawn.push_back(ran3(seed));
    seed = 0;
    for (int i = 0; i < 10; ++i)
        drawn.push_back(ran3(seed));
    seed = 424242;
    for (int i = 0; i < 10; ++i)
        drawn.push_back(ran3(seed));
    EXPECT_EQ(reference, drawn);
}

TEST(Ran3, UniformMoments)
{
    long seed = -1;
    const int n = 1000000;
    double sum = 0, sum2 = 0;
    int below_tenth = 0;
    for (int i = 0; i < n; ++i) {
        const double u = ran3(seed);
        sum += u;
        sum2 += u * u;
        if (u < 0.1)
            ++below_tenth;
    }
    const double mean = sum / n;
    EXPECT_NEAR(0.5, mean, 5 * std::sqrt(1.0 / 12 / n));
    EXPECT_NEAR(1.0 / 12, sum2 / n - mean * mean, 1e-3);
    EXPECT_NEAR(0.1, static_cast<double>(below_tenth) / n, 5 * std::sqrt(0.09 / n));
}

// The polar method redone on the shared uniform sequence: a rangau call is the
// first accepted pair, and the next draw follows right after that pair.
TEST(Rangau, IsThePolarMethodOnTheSharedSequence)
{
    const std::vector<double> u = uniforms(-31, 2000);
    long seed = -31;
    std::size_t used = 0;
    for (int call = 0; call < 200; ++call) {
        const double g = rangau(seed);
        double a, b, r;
        do {
            ASSERT_LT(used + 1, u.size());
            a = 2 * u[used] - 1;
            b = 2 * u[used + 1] - 1;
            used += 2;
            r = a * a + b * b;
        } while (r >= 1 || r == 0);
        EXPECT_DOUBLE_EQ(a * std::sqrt(-2 * std::log(r) / r), g) << "call " << call;
    }
    EXPECT_EQ(u[used], ran3(seed)) << "an even number of draws per call";
}

TEST(Rangau, NormalMoments)
{
    long seed = -2;
    const int n = 400000;
    double sum = 0, sum2 = 0, sum4 = 0;
    int inside_one_sigma = 0;
    for (int i = 0; i < n; ++i) {
        const double g = rangau(seed);
        sum += g;
        sum2 += g * g;
        sum4 += g * g * g * g;
        if (std::fabs(g) < 1)
            ++inside_one_sigma;
    }
    EXPECT_NEAR(0.0, sum / n, 5 / std::sqrt(n));
    EXPECT_NEAR(1.0, sum2 / n, 5 * std::sqrt(2.0 / n));
    EXPECT_NEAR(3.0, sum4 / n, 5 * std::sqrt(96.0 / n));
    EXPECT_NEAR(std::erf(1 / std::sqrt(2.0)), static_cast<double>(inside_one_sigma) / n, 0.005);
}

TEST(Ransin, SineDistributedAngles)
{
    long seed = -3;
    const int n = 400000;
    double sum = 0;
    int below_quarter_pi = 0;
    const double half_pi = std::acos(0.0);
    for (int i = 0; i < n; ++i) {
        const double a = ransin(seed);
        ASSERT_GE(a, 0.0);
        ASSERT_LT(a, half_pi);
        sum += a;
        if (a < half_pi / 2)
            ++below_quarter_pi;
    }
    // Density sin(a) on [0, pi/2): mean 1, P(a < pi/4) = 1 - cos(pi/4).
    EXPECT_NEAR(1.0, sum / n, 0.005);
    EXPECT_NEAR(1 - std::cos(half_pi / 2), static_cast<double>(below_quarter_pi) / n, 0.005);
}

TEST(Ransin, TwoDrawsPerTrial)
{
    const std::vector<double> u = uniforms(-41, 400);
    long seed = -41;
    std::size_t used = 0;
    for (int call = 0; call < 50; ++call) {
        const double a = ransin(seed);
        double x, angle;
        do {
            x = u[used];
            angle = 3.14159265358979 * u[used + 1] * 0.5;
            used += 2;
        } while (x > std::sin(angle));
        EXPECT_EQ(angle, a);
    }
    EXPECT_EQ(u[used], ran3(seed));
}
