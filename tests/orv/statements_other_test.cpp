// Statements with int, long, bool and string destinations, and the index
// masks, against the reference loop.
#include "oracle.h"

namespace {

using oracle::checkStatement;
using orv::indexAlong;
using orv::merge;
using orv::pow2;
using orv::Range;

TEST(OtherStatements, BlankFlagsOfRowsAndColumns)
{
    // 0 for blank, 1 otherwise; NaN is not blank.
    checkStatement<1, int, double>([](auto &D, auto &A) { D = merge(A == 0.0, 0, 1); },
                                   [](int, double a) { return a == 0.0 ? 0 : 1; });
    checkStatement<1, int, float>([](auto &D, auto &A) { D = merge(A == 0.f, 0, 1); },
                                  [](int, float a) { return a == 0.f ? 0 : 1; });
}

TEST(OtherStatements, CopiesOfIntLongAndString)
{
    checkStatement<1, int, int>([](auto &D, auto &A) { D = A; }, [](int, int a) { return a; });
    checkStatement<1, long, long>([](auto &D, auto &A) { D = A; }, [](long, long a) { return a; });
    checkStatement<1, long double, long double>([](auto &D, auto &A) { D = A; },
                                                [](long double, long double a) { return a; });
    checkStatement<1, std::string, std::string>(
        [](auto &D, auto &A) { D = A; },
        [](const std::string &, const std::string &a) { return a; });
}

TEST(OtherStatements, Fills)
{
    checkStatement<1, std::string>([](auto &D) { D = std::string("filled"); },
                                   [](const std::string &) { return std::string("filled"); });
    checkStatement<2, int>([](auto &D) { D = -4; }, [](int) { return -4; });
    checkStatement<2, bool>([](auto &D) { D = false; }, [](bool) { return false; });
    checkStatement<2, long>([](auto &D) { D = 1L << 40; }, [](long) { return 1L << 40; });
}

TEST(OtherStatements, StringsStartEmptyAndCopyIndependently)
{
    orv::MArray<std::string, 1> a(3), b(3);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(a(i), "");
    b = std::string("x");
    a = b;
    b(2) = "changed";
    EXPECT_EQ(a(2), "x");
}

template <class T>
void checkDisc(int k)
{
    for (oracle::Layout l : oracle::layouts<2>()) {
        SCOPED_TRACE(oracle::name(l));
        auto m = oracle::make<T>(l, {5, 5});
        orv::MArray<T, 2> &D = m.view;
        D = pow2(indexAlong(D, 1)) + pow2(indexAlong(D, 2)) < k;
        for (int j = D.firstIndex(2); j <= D.lastIndex(2); ++j)
            for (int i = D.firstIndex(1); i <= D.lastIndex(1); ++i)
                ASSERT_EQ(D(i, j), static_cast<T>(double(i) * i + double(j) * j < k))
                    << i << "," << j;
        ASSERT_TRUE(oracle::untouchedOutside(m));
    }
}

TEST(OtherStatements, DiscMasksFromIndices)
{
    checkDisc<int>(6);
    checkDisc<bool>(5);
    checkDisc<int>(30);

    // The sky program's masks over -R..R: corners out, strict comparison.
    orv::MArray<int, 2> mask(Range(-2, 2), Range(-2, 2));
    mask = pow2(indexAlong(mask, 1)) + pow2(indexAlong(mask, 2)) < 6;
    EXPECT_EQ(orv::sum(mask), 21);
    EXPECT_EQ(mask(-2, -2) + mask(2, -2) + mask(-2, 2) + mask(2, 2), 0);
    orv::MArray<bool, 2> strict(Range(-2, 2), Range(-2, 2));
    strict = pow2(indexAlong(strict, 1)) + pow2(indexAlong(strict, 2)) < 5;
    EXPECT_EQ(orv::count(strict), 25 - 4 - 8);
}

TEST(OtherStatements, IndicesOfAnotherArrayOfEqualLengths)
{
    orv::MArray<int, 2> d(3, 2);
    orv::MArray<double, 2> other(Range(-1, 1), Range(10, 11));
    d = indexAlong(other, 1) * 100 + indexAlong(other, 2);
    EXPECT_EQ(d(1, 1), -100 + 10);
    EXPECT_EQ(d(3, 2), 100 + 11);

    orv::MArray<double, 2> wrong(3, 3);
    EXPECT_THROW(d = indexAlong(wrong, 1) + 0, orv::RangeException);
    EXPECT_THROW(indexAlong(d, 3), orv::RangeException);
}

TEST(OtherStatements, IndexLeavesInOneDimension)
{
    orv::MArray<int, 1> d(Range(-3, 3));
    d = pow2(indexAlong(d, 1)) < 5;
    EXPECT_EQ(orv::sum(d), 5);
    EXPECT_EQ(d(-3), 0);
    EXPECT_EQ(d(2), 1);
}

} // namespace
