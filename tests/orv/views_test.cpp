// Ranges, subarrays, slices and setrange views.
#include <climits>

#include <gtest/gtest.h>

#include "orv/MArray.h"

namespace {

using orv::MArray;
using orv::Range;
using orv::RangeException;

// Element (i, j) holds 100 * i + j.
template <class T>
MArray<T, 2> numbered(Range r1, Range r2)
{
    MArray<T, 2> a(r1, r2);
    for (int j = a.firstIndex(2); j <= a.lastIndex(2); ++j)
        for (int i = a.firstIndex(1); i <= a.lastIndex(1); ++i)
            a(i, j) = static_cast<T>(100 * i + j);
    return a;
}

TEST(Range, Fields)
{
    Range r(1, 10);
    EXPECT_EQ(r.first, 1);
    EXPECT_EQ(r.last, 10);
    EXPECT_EQ(r.stride, 1);
    EXPECT_EQ(r.length, 10);
    EXPECT_EQ(Range(1, 10, 2).length, 5);
    Range all = Range::all();
    EXPECT_EQ(all.first, INT_MIN);
    EXPECT_EQ(all.last, INT_MIN);
    EXPECT_EQ(all.stride, 1);
    EXPECT_EQ(all.length, 1);
}

TEST(Subarray, WholeRangesRenumberFromOne)
{
    MArray<double, 2> a = numbered<double>(Range(0, 4), Range(0, 2));
    MArray<double, 2> v(a, Range::all(), Range::all());
    EXPECT_EQ(v.firstIndex(1), 1);
    EXPECT_EQ(v.firstIndex(2), 1);
    EXPECT_EQ(v.length(1), 5);
    EXPECT_EQ(v.stride(2), 5);
    EXPECT_EQ(v.elementCount(), 15);
    EXPECT_EQ(v.dataFirst(), a.dataFirst());
    EXPECT_TRUE(v.isStorageContiguous());
    EXPECT_EQ(v(1, 1), a(0, 0));
    EXPECT_EQ(a.memoryBlock()->references, 2);

    // A window around (x, y) with half-width h is indexed 1..2h + 1.
    MArray<double, 2> w;
    w.subarray(a, Range(1, 3), Range(0, 2));
    EXPECT_EQ(w(1, 1), a(1, 0));
    EXPECT_EQ(w(3, 3), a(3, 2));
    EXPECT_FALSE(w.isStorageContiguous());
}

TEST(Subarray, StepsAndSingleRows)
{
    MArray<float, 2> a = numbered<float>(Range(1, 10), Range(1, 10));
    MArray<float, 2> stepped = a(Range(1, 10, 2), Range(4, 4));
    EXPECT_EQ(stepped.length(1), 5);
    EXPECT_EQ(stepped.stride(1), 2);
    for (int k = 1; k <= 5; ++k)
        EXPECT_EQ(stepped(k, 1), a(2 * k - 1, 4));

    // One row, yet not contiguous by the stride rule (1 * 2 != 10).
    MArray<float, 2> row = a(Range(2, 3), Range(5, 5));
    EXPECT_EQ(row.length(1), 2);
    EXPECT_EQ(row.length(2), 1);
    EXPECT_EQ(row.stride(2), 10);
    EXPECT_FALSE(row.isStorageContiguous());
    EXPECT_EQ(row.elementCount(), 2);
}

TEST(Subarray, ReversedAndEmptyRanges)
{
    MArray<int, 2> a = numbered<int>(Range(1, 4), Range(1, 3));
    MArray<int, 2> rev = a(Range(4, 1, -1), Range(3, 1, -2));
    EXPECT_EQ(rev.length(1), 4);
    EXPECT_EQ(rev.length(2), 2);
    EXPECT_EQ(rev(1, 1), a(4, 3));
    EXPECT_EQ(rev(4, 2), a(1, 1));
    EXPECT_EQ(orv::sum(rev), 100 * (1 + 2 + 3 + 4) * 2 + 4 * (3 + 1));

    MArray<int, 2> none = a(Range(3, 2), Range::all());
    EXPECT_EQ(none.length(1), 0);
    EXPECT_EQ(none.elementCount(), 0);
    EXPECT_EQ(orv::sum(none), 0);
    EXPECT_TRUE(none.begin() == none.end());
}

TEST(Subarray, RefusesRangesOutsideTheSource)
{
    MArray<int, 2> a(Range(-2, 2), Range(1, 3));
    EXPECT_THROW(a(Range(-3, 0), Range::all()), RangeException);
    EXPECT_THROW(a(Range(0, 3), Range::all()), RangeException);
    EXPECT_THROW(a(Range::all(), Range(1, 5, 2)), RangeException); // 1, 3, 5
    EXPECT_THROW(a(Range(1, 2, 0), Range::all()), RangeException);
    EXPECT_THROW((MArray<int, 1>(a, 3, Range::all())), RangeException);
    EXPECT_THROW((MArray<int, 1>(a, Range::all(), 0)), RangeException);
    try {
        a(Range(0, 3), Range::all());
    } catch (const RangeException &e) {
        EXPECT_STREQ(e.what(), "Range 0..3 reaches outside the index range -2..2 of dimension 1");
    }
    // The refused view left the source's reference count alone.
    EXPECT_EQ(a.memoryBlock()->references, 1);
}

TEST(Slice, RowsAndColumns)
{
    MArray<double, 2> a = numbered<double>(Range(1, 5), Range(1, 4));
    MArray<double, 1> row(a, Range::all(), 3);
    EXPECT_EQ(row.length(1), 5);
    EXPECT_EQ(row.stride(1), 1);
    EXPECT_TRUE(row.isStorageContiguous());
    EXPECT_EQ(row(2), a(2, 3));

    MArray<double, 1> column = a(4, Range(2, 4));
    EXPECT_EQ(column.length(1), 3);
    EXPECT_EQ(column.stride(1), 5);
    EXPECT_TRUE(column.isStorageContiguous());
    EXPECT_EQ(column(1), a(4, 2));
    column = -1.0;
    EXPECT_EQ(a(4, 4), -1.0);
    EXPECT_EQ(a(4, 1), 401.0);

    // A fixed index is the source's own index.
    MArray<float, 2> c = numbered<float>(Range(-3, 3), Range(1, 2));
    MArray<float, 1> middle(c, 0, Range::all());
    EXPECT_EQ(middle(1), c(0, 1));
}

TEST(Slice, FourDimensionalTables)
{
    MArray<double, 4> t(Range(1, 3), Range(1, 4), Range(-2, 2), Range(-2, 2));
    for (int l = -2; l <= 2; ++l)
        for (int k = -2; k <= 2; ++k)
            for (int j = 1; j <= 4; ++j)
                for (int i = 1; i <= 3; ++i)
                    t(i, j, k, l) = 1000 * i + 100 * j + 10 * k + l;

    MArray<double, 2> plane;
    plane.slicearray(t, 2, 3, Range(-1, 1), Range::all());
    EXPECT_EQ(plane.length(1), 3);
    EXPECT_EQ(plane.length(2), 5);
    EXPECT_EQ(plane(1, 1), t(2, 3, -1, -2));
    EXPECT_EQ(plane(3, 5), t(2, 3, 1, 2));
    EXPECT_FALSE(plane.isStorageContiguous());
    EXPECT_EQ(plane.elementCount(), 15);

    MArray<double, 3> cube;
    cube.slicearray<4, Range, Range, Range, int, orv::NoArgument, orv::NoArgument, orv::NoArgument>(
        t, Range::all(), Range::all(), Range::all(), 0, orv::NoArgument(), orv::NoArgument(),
        orv::NoArgument());
    EXPECT_EQ(cube.length(3), 5);
    EXPECT_TRUE(cube.isStorageContiguous());
    EXPECT_EQ(cube(3, 4, 5), t(3, 4, 2, 0));
    EXPECT_EQ(t.memoryBlock()->references, 3);

    // The slice step on its own: geometry only, dimension counter moves on.
    MArray<double, 1> line;
    int dim = 1;
    line.slice(dim, Range(-2, 2, 2), t, 3);
    EXPECT_EQ(dim, 2);
    EXPECT_EQ(line.length(1), 3);
    EXPECT_EQ(line.stride(1), 2 * t.stride(3));
    EXPECT_EQ(line.elementCount(), 3);
}

TEST(Setrange, ViewsHaveTheirOwnCountAndContiguity)
{
    MArray<double, 2> a = numbered<double>(Range(1, 10), Range(1, 10));
    MArray<double, 2> stamp(a);
    stamp.setrange(1, Range(3, 6));
    EXPECT_EQ(stamp.length(1), 4);
    EXPECT_EQ(stamp.elementCount(), 40);
    EXPECT_FALSE(stamp.isStorageContiguous());
    EXPECT_EQ(stamp(1, 1), a(3, 1));
    EXPECT_EQ(stamp.dataFirst(), &a(3, 1));
    stamp.setrange(2, Range(2, 3));
    EXPECT_EQ(stamp.elementCount(), 8);

    // Reductions and assignments walk exactly the view.
    double want = 0;
    for (int j = 2; j <= 3; ++j)
        for (int i = 3; i <= 6; ++i)
            want += a(i, j);
    EXPECT_EQ(orv::sum(stamp), want);
    stamp = 0.0;
    EXPECT_EQ(orv::count(a == 0.0), 8);

    // Leading m x m block, and the first m elements of a vector.
    MArray<double, 2> block(a);
    block.setrange(1, Range(1, 3));
    block.setrange(2, Range(1, 3));
    EXPECT_EQ(block.elementCount(), 9);
    MArray<double, 1> v(10, false);
    v = 1.0;
    v.setrange(1, Range(1, 4));
    EXPECT_EQ(v.elementCount(), 4);
    EXPECT_EQ(orv::sum(v), 4.0);

    // A whole-dimension range renumbers from 1.
    MArray<float, 2> based = numbered<float>(Range(0, 9), Range(1, 2));
    based.setrange(1, Range::all());
    EXPECT_EQ(based.firstIndex(1), 1);
    EXPECT_EQ(based.length(1), 10);
    EXPECT_TRUE(based.isStorageContiguous());
    EXPECT_EQ(based(1, 1), 1.f);
}

TEST(Views, OutliveTheirSource)
{
    MArray<float, 1> row;
    {
        MArray<float, 2> image = numbered<float>(Range(1, 3), Range(1, 3));
        row.slicearray(image, Range::all(), 2);
    }
    EXPECT_EQ(row.memoryBlock()->references, 1);
    EXPECT_EQ(row(3), 302.f);
}

TEST(Views, OfAnArrayWithoutStorage)
{
    MArray<double, 2> none;
    MArray<double, 2> v = none(Range::all(), Range::all());
    EXPECT_EQ(v.memoryBlock(), nullptr);
    EXPECT_EQ(v.elementCount(), 0);
    EXPECT_THROW(none(Range(1, 1), Range::all()), RangeException);
}

} // namespace
