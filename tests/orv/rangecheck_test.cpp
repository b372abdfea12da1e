// With ORV_RANGE_CHECK defined, element access tests its indices.
#include <gtest/gtest.h>

#include "orv/MArray.h"

namespace {

using orv::MArray;
using orv::Range;
using orv::RangeException;

TEST(RangeCheck, IndicesOutsideTheArrayThrow)
{
    MArray<double, 2> a(Range(-1, 1), Range(1, 3));
    a = 0.0;
    EXPECT_NO_THROW(a(-1, 1) = 1.0);
    EXPECT_NO_THROW(a(1, 3) = 1.0);
    EXPECT_THROW(a(2, 1), RangeException);
    EXPECT_THROW(a(0, 0), RangeException);
    EXPECT_THROW(a(-2, 3), RangeException);
    EXPECT_THROW(a.length(3), RangeException);

    MArray<double, 2> window = a(Range(0, 1), Range(2, 3));
    EXPECT_NO_THROW(window(2, 2));
    EXPECT_THROW(window(3, 1), RangeException);

    MArray<int, 1> none;
    EXPECT_THROW(none(1), RangeException);
}

} // namespace
