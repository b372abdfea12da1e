// Statements with float destinations, against the reference loop.
#include "oracle.h"

namespace {

using oracle::checkStatement;
using orv::merge;

TEST(FloatStatements, MaskMergeKeepsWhereMaskMatches)
{
    // merge(A == k1, B, k2) with an int mask, B the destination itself.
    const int k1 = 1;
    const double k2 = 0.1; // stored as the nearest float
    checkStatement<2, float, int>([&](auto &D, auto &A) { D = merge(A == k1, D, k2); },
                                  [&](float d, int a) { return a == k1 ? double(d) : k2; });
    checkStatement<2, float, int, float>(
        [&](auto &D, auto &A, auto &B) { D = merge(A == k1, B, k2); },
        [&](float, int a, float b) { return a == k1 ? double(b) : k2; });
}

TEST(FloatStatements, SkySubtractionKeepsBlanks)
{
    const float blank = 0.f;
    // The sky program's own form: image = merge(image == blank, blank, image - sky).
    checkStatement<2, float, float>(
        [&](auto &image, auto &sky) { image = merge(image == blank, blank, image - sky); },
        [&](float d, float c) { return d == blank ? blank : d - c; });
    checkStatement<2, float, float, float, float>(
        [&](auto &D, auto &A, auto &B, auto &C) { D = merge(A == blank, blank, B - C); },
        [&](float, float a, float b, float c) { return a == blank ? blank : b - c; });
}

TEST(FloatStatements, CopyFromFloat)
{
    checkStatement<2, float, float>([](auto &D, auto &A) { D = A; },
                                    [](float, float a) { return a; });
    checkStatement<1, float, float>([](auto &D, auto &A) { D = A; },
                                    [](float, float a) { return a; });
}

TEST(FloatStatements, ClippingMixesFloatAndDouble)
{
    // (A - B) in float, k1 * C in double, the comparison in double.
    const double k1 = 2.5;
    const float k2 = 0.f;
    checkStatement<2, float, float, float, float, float>(
        [&](auto &D, auto &A, auto &B, auto &C, auto &E) { D = merge((A - B) > (k1 * C), k2, E); },
        [&](float, float a, float b, float c, float e) { return (a - b) > (k1 * c) ? k2 : e; });
}

TEST(FloatStatements, CastsRoundToNearest)
{
    checkStatement<2, float, double>([](auto &D, auto &A) { D = orv::cast<float>(A); },
                                     [](float, double a) { return static_cast<float>(a); });
    checkStatement<2, float, int>([](auto &D, auto &A) { D = orv::cast<float>(A); },
                                  [](float, int a) { return static_cast<float>(a); });

    orv::MArray<int, 2> big(2, 1);
    big(1, 1) = (1 << 24) + 1;
    big(2, 1) = -((1 << 24) + 3);
    orv::MArray<float, 2> f(2, 1);
    f = orv::cast<float>(big);
    EXPECT_EQ(f(1, 1), 16777216.f); // ties to even
    EXPECT_EQ(f(2, 1), -16777220.f);
}

TEST(FloatStatements, FillEveryLayout)
{
    checkStatement<2, float>([](auto &D) { D = 1.5f; }, [](float) { return 1.5f; });
    checkStatement<1, float>([](auto &D) { D = -2.f; }, [](float) { return -2.f; });
}

} // namespace
