// Statements with double destinations, against the reference loop.
#include "oracle.h"

namespace {

using oracle::checkStatement;
using orv::merge;
using orv::pow2;

TEST(DoubleStatements, Copies)
{
    checkStatement<2, double, double>([](auto &D, auto &A) { D = A; },
                                      [](double, double a) { return a; });
    checkStatement<1, double, double>([](auto &D, auto &A) { D = A; },
                                      [](double, double a) { return a; });
    // Float widened to double, exactly.
    checkStatement<2, double, float>([](auto &D, auto &A) { D = A; },
                                     [](double, float a) { return double(a); });
    checkStatement<2, double, float>([](auto &D, auto &A) { D = orv::cast<double>(A); },
                                     [](double, float a) { return double(a); });
}

TEST(DoubleStatements, MergesWithConstants)
{
    const double k1 = 0, k2 = -7, k3 = 3, k4 = 0.25;
    checkStatement<2, double, double, double>(
        [&](auto &D, auto &A, auto &B) { D = merge(A == k1, k2, B); },
        [&](double, double a, double b) { return a == k1 ? k2 : b; });
    checkStatement<2, double, double, double>(
        [&](auto &D, auto &A, auto &B) { D = merge(A < k1, k2, B); },
        [&](double, double a, double b) { return a < k1 ? k2 : b; });
    checkStatement<2, double, double, double>(
        [&](auto &D, auto &A, auto &B) { D = merge(A == k1, k2, (B / k3) * k4); },
        [&](double, double a, double b) { return a == k1 ? k2 : (b / k3) * k4; });
    checkStatement<2, double, double, double>(
        [&](auto &D, auto &A, auto &B) { D = merge(A == k1, k2, orv::sqrt(B)); },
        [&](double, double a, double b) { return a == k1 ? k2 : std::sqrt(b); });
    checkStatement<2, double, double, double>(
        [&](auto &D, auto &A, auto &B) { D = merge(A == k1, k2, (orv::sqrt(B) / k3) * k4); },
        [&](double, double a, double b) { return a == k1 ? k2 : (std::sqrt(b) / k3) * k4; });
}

TEST(DoubleStatements, LinearCombinationAddsInTreeOrder)
{
    const double k1 = 0.1, k2 = -0.3, k3 = 1e16, k4 = -1e16;
    checkStatement<2, double, double, double>(
        [&](auto &D, auto &A, auto &B) { D = ((k1 * A + k2 * B) + k3) + k4; },
        [&](double, double a, double b) { return ((k1 * a + k2 * b) + k3) + k4; });
    checkStatement<1, double, double, double>(
        [&](auto &D, auto &A, auto &B) { D = A + (B * k1); },
        [&](double, double a, double b) { return a + (b * k1); });
}

TEST(DoubleStatements, ScaleInPlace)
{
    checkStatement<2, double>([](auto &D) { D *= 2.5; }, [](double d) { return d * 2.5; });
    checkStatement<2, double>([](auto &D) { D /= 3.0; }, [](double d) { return d / 3.0; });
    checkStatement<2, double>([](auto &D) { D = D * 1.5; }, [](double d) { return d * 1.5; });
}

TEST(DoubleStatements, MergesWithOrAndFunctions)
{
    const double k1 = 0, k2 = 2.5, k3 = -1;
    const int three = 3;
    checkStatement<2, double, double, double, double, double>(
        [&](auto &D, auto &A, auto &B, auto &C, auto &E) {
            D = merge((A == k1) || (B == k2), k3, C + E);
        },
        [&](double, double a, double b, double c, double e) {
            return (a == k1) || (b == k2) ? k3 : c + e;
        });
    checkStatement<2, double, double, double>(
        [&](auto &D, auto &A, auto &B) { D = merge(A != k1, pow2(B) / three, k3); },
        [&](double, double a, double b) { return a != k1 ? (b * b) / three : k3; });
    checkStatement<2, double, double, double, double, double>(
        [&](auto &D, auto &A, auto &B, auto &C, auto &E) {
            D = merge((A == k1) || (B < k2), k3, C + pow2(E));
        },
        [&](double, double a, double b, double c, double e) {
            return (a == k1) || (b < k2) ? k3 : c + e * e;
        });
    checkStatement<2, double, double, double, double>(
        [&](auto &D, auto &A, auto &B, auto &C) {
            D = merge(A != k1, (orv::sqrt(B) / C) / k2, k3);
        },
        [&](double, double a, double b, double c) {
            return a != k1 ? (std::sqrt(b) / c) / k2 : k3;
        });
    checkStatement<2, double, double, double, double>(
        [&](auto &D, auto &A, auto &B, auto &C) { D = merge(A != k1, (B / C) / k2, k3); },
        [&](double, double a, double b, double c) { return a != k1 ? (b / c) / k2 : k3; });
}

TEST(DoubleStatements, Fills)
{
    checkStatement<2, double>([](auto &D) { D = 4.25; }, [](double) { return 4.25; });
    checkStatement<1, double>([](auto &D) { D = -1.0; }, [](double) { return -1.0; });
}

// Fills of three- and four-dimensional arrays and of their windows write
// exactly the elements of the view.
template <int N>
void checkHigherFill(orv::MArray<double, N> whole)
{
    whole = 5.0;
    EXPECT_EQ(orv::sum(whole), 5.0 * whole.elementCount());

    whole = -1.0;
    orv::MArray<double, N> window;
    if constexpr (N == 3)
        window.subarray(whole, orv::Range(2, 4), orv::Range(1, 4, 3), orv::Range(3, 6));
    else
        window.subarray(whole, orv::Range(2, 4), orv::Range(1, 4, 3), orv::Range(3, 6),
                        orv::Range(2, 2));
    EXPECT_FALSE(window.isStorageContiguous());
    window = 2.0;
    EXPECT_EQ(orv::count(whole == 2.0), 2 * 3 * 4);
    EXPECT_EQ(orv::count(whole == -1.0), whole.elementCount() - 2 * 3 * 4);
    EXPECT_EQ(orv::sum(window), 2.0 * 2 * 3 * 4);
}

TEST(DoubleStatements, FillsOfThreeAndFourDimensions)
{
    checkHigherFill(orv::MArray<double, 3>(5, 6, 7));
    checkHigherFill(orv::MArray<double, 4>(5, 6, 7, 8));
}

} // namespace
