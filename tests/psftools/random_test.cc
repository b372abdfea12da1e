#include "psftools/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <vector>

#include "lightcurve/random.h"

namespace {

// Sample moments about zero of n draws.
struct Moments {
    double mean = 0, var = 0, m4 = 0;
    template <class Draw>
    Moments(Draw draw, int n)
    {
        std::vector<double> v(n);
        for (double &x : v)
            x = draw();
        for (double x : v)
            mean += x;
        mean /= n;
        for (double x : v) {
            const double d = (x - mean) * (x - mean);
            var += d;
            m4 += d * d;
        }
        var /= n - 1;
        m4 /= n;
    }
};

} // namespace

TEST(RandomClasses, SameSeedSameSequenceAndSignIgnored)
{
    C_rangau g1(42), g2(42);
    C_ranivl u1(0, 1, 5), u2(0, 1, -5), other(0, 1, 6);
    bool differs = false;
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(g1.eval(), g2.eval());
        const double v = u1.eval();
        EXPECT_EQ(v, u2.eval());
        differs |= v != other.eval();
    }
    EXPECT_TRUE(differs);
    // A copy continues the sequence on its own.
    C_rangau copy = g1;
    const double next = g1.eval();
    EXPECT_EQ(next, copy.eval());
}

TEST(RandomClasses, GaussianDrawsOneUniformFromEachMemberPerAttempt)
{
    // The polar method on the streams of seeds s and s - 3, followed by hand.
    const long s = 1234;
    C_rangau g(s);
    C_ranivl first(0, 1, s), second(0, 1, s - 3);
    for (int i = 0; i < 200; ++i) {
        double a, r;
        do {
            a = 2 * first.eval() - 1;
            const double b = 2 * second.eval() - 1;
            r = a * a + b * b;
        } while (r >= 1 || r == 0);
        EXPECT_EQ(a * std::sqrt(-2 * std::log(r) / r), g.eval());
    }
}

TEST(RandomClasses, Moments)
{
    const int n = 200000;
    C_ranivl u(2, 4, 7);
    double lo = 4, hi = 2;
    const Moments mu(
        [&] {
            const double x = u.eval();
            lo = std::min(lo, x);
            hi = std::max(hi, x);
            return x;
        },
        n);
    EXPECT_GE(lo, 2.0);
    EXPECT_LT(hi, 4.0);
    // Uniform on [2, 4): mean 3, variance 1/3; five standard errors.
    EXPECT_NEAR(3.0, mu.mean, 5 * std::sqrt(1.0 / 3 / n));
    EXPECT_NEAR(1.0 / 3, mu.var, 5 * std::sqrt((0.2 - 1.0 / 9) / n)); // fourth central moment 0.2

    C_rangau g(99);
    const Moments mg([&] { return g.eval(); }, n);
    // Standard normal: mean 0, variance 1, fourth moment 3.
    EXPECT_NEAR(0.0, mg.mean, 5 / std::sqrt(n));
    EXPECT_NEAR(1.0, mg.var, 5 * std::sqrt(2.0 / n));
    EXPECT_NEAR(3.0, mg.m4, 5 * std::sqrt(96.0 / n));

    long seed = -3;
    const Moments me(
        [&] {
            const double x = ranexp(seed);
            EXPECT_TRUE(std::isfinite(x) && x >= 0);
            return x;
        },
        n);
    // Exponential of mean 1: variance 1.
    EXPECT_NEAR(1.0, me.mean, 5 / std::sqrt(n));
    EXPECT_NEAR(1.0, me.var, 5 * std::sqrt(8.0 / n));
}

TEST(Ran5, OwnStateSeededByNegativeSeeds)
{
    long seed = -1;
    std::vector<double> firstRun;
    C_ranivl same(0, 1, -1), unrelated(0, 1, 77);
    for (int i = 0; i < 100; ++i) {
        const double x = ran5(seed);
        EXPECT_EQ(1, seed);
        EXPECT_GE(x, 0.0);
        EXPECT_LT(x, 1.0);
        // A whole multiple of 1e-9.
        EXPECT_NEAR(std::round(x * 1e9), x * 1e9, 1e-6);
        // The same generator as the objects, drawn with a multiplication
        // instead of a division.
        EXPECT_NEAR(same.eval(), x, 1e-15);
        unrelated.eval(); // other generators do not move ran5
        firstRun.push_back(x);
    }
    // A non-negative seed continues; a negative one starts again.
    long zero = 0;
    EXPECT_NE(firstRun[0], ran5(zero));
    seed = -1;
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(firstRun[i], ran5(seed));
}

TEST(Ranpm, SignFromTheSecondOfTwoSharedDraws)
{
    // The shared sequence followed by hand: magnitude, then sign.
    long seed = -31;
    std::vector<double> expected;
    for (int i = 0; i < 2000; ++i) {
        const double u1 = ran3(seed), u2 = ran3(seed);
        expected.push_back(u2 >= 0.5 ? -u1 : u1);
    }
    const double after = ran3(seed);

    seed = -31;
    int negative = 0;
    double sum = 0;
    for (double e : expected) {
        const double v = ranpm(seed);
        EXPECT_EQ(e, v);
        EXPECT_GT(v, -1.0);
        EXPECT_LT(v, 1.0);
        negative += v < 0;
        sum += v;
    }
    EXPECT_EQ(1, seed);
    // Two draws per call, no more: the shared sequence goes on where the
    // hand-made one did.
    EXPECT_EQ(after, ran3(seed));
    // Symmetric about 0: half negative, mean 0 (variance 1/3), five sigma.
    EXPECT_NEAR(1000, negative, 5 * std::sqrt(500.0));
    EXPECT_NEAR(0.0, sum / 2000, 5 * std::sqrt(1.0 / 3 / 2000));
}
