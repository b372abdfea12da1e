// Text forms of shapes and arrays, and the self-description.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "orv/MArray.h"

namespace {

using orv::MArray;
using orv::Range;

template <class X>
std::string text(const X &x)
{
    std::ostringstream os;
    os << x;
    return os.str();
}

TEST(Print, Shapes)
{
    EXPECT_EQ(text(*MArray<double, 1>(5).shape()), "( 5 ) : (1,5) ");
    EXPECT_EQ(text(*MArray<double, 2>(3, 2).shape()), "( 3 x 2 ) : (1,3) (1,2) ");
    EXPECT_EQ(text(*MArray<double, 2>(Range(0, 3), Range(-1, 0)).shape()),
              "( 4 x 2 ) : (0,3) (-1,0) ");
}

TEST(Print, Arrays)
{
    MArray<double, 1> v(3);
    v(1) = 1.5;
    v(2) = 2;
    v(3) = 3;
    EXPECT_EQ(text(v), "MArray<T,1> ( 3 ) : (1,3) \n[ 1.5 2 3 ]");

    MArray<double, 2> m(2, 2);
    m(1, 1) = 1;
    m(2, 1) = 2;
    m(1, 2) = 3;
    m(2, 2) = 4;
    EXPECT_EQ(text(m), "MArray<T,2> ( 2 x 2 ) : (1,2) (1,2) \n[[ 1 2 ]\n [ 3 4 ]]");

    // A view prints its own ranges and elements; one element, one row.
    MArray<double, 2> corner = m(Range(2, 2), Range(2, 2));
    EXPECT_EQ(text(corner), "MArray<T,2> ( 1 x 1 ) : (1,1) (1,1) \n[[ 4 ]]");
    EXPECT_EQ(text(MArray<double, 1>(m, Range::all(), 2)), "MArray<T,1> ( 2 ) : (1,2) \n[ 3 4 ]");
    MArray<double, 2> zeroBased(Range(0, 1), Range(0, 0));
    zeroBased = 0.25;
    EXPECT_EQ(text(zeroBased), "MArray<T,2> ( 2 x 1 ) : (0,1) (0,0) \n[[ 0.25 0.25 ]]");

    // The stream's own number format is used.
    std::ostringstream os;
    os.precision(3);
    os << std::fixed << MArray<double, 1>(v, Range(1, 1));
    EXPECT_EQ(os.str(), "MArray<T,1> ( 1 ) : (1,1) \n[ 1.500 ]");
}

std::string pointer(const void *p)
{
    std::ostringstream os;
    os << p;
    return os.str();
}

TEST(Print, DescribeSelf)
{
    MArray<float, 2> image(Range(0, 3), Range(1, 2));
    MArray<float, 2> copy(image);
    ::testing::internal::CaptureStdout();
    image.describeSelf();
    std::string out = ::testing::internal::GetCapturedStdout();
    std::string want = "  Num elements        : 8\n"
                       "  Zero offset         : -4\n"
                       "  Data (0,0,...)      : " +
                       pointer(&image(0, 0)) +
                       "\n"
                       "  First element       : " +
                       pointer(&image(0, 1)) +
                       "\n"
                       "  Storage Contiguous  : 1\n"
                       "  MemBlock at         : " +
                       pointer(image.memoryBlock()) +
                       "\n"
                       "     References       : 2\n"
                       "     Data ptr         : " +
                       pointer(image.memoryBlock()->data) +
                       "\n"
                       "  Dimensions          : ( 4 x 2 ) : (0,3) (1,2) \n"
                       "  Strides             : 1 4 \n";
    EXPECT_EQ(out, want);

    MArray<double, 2> none;
    ::testing::internal::CaptureStdout();
    none.describeSelf();
    out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("     References       : 0\n"), std::string::npos);
    EXPECT_NE(out.find("  Num elements        : 0\n"), std::string::npos);
}

} // namespace
