#include "lightcurve/mappend.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/arrays.h"

using namespace test_common;

TEST(Mappend, AppendsToAFreshArray)
{
    orv::MArray<long, 1> a = arrayOf(std::vector<long>{4, 5}, 0);
    const orv::MArray<long, 1> before = a;
    mappend(a, 6L);
    EXPECT_EQ(1, a.firstIndex(1));
    EXPECT_EQ((std::vector<long>{4, 5, 6}), valuesOf(a));
    EXPECT_EQ((std::vector<long>{4, 5}), valuesOf(before)) << "sharers keep the old elements";

    orv::MArray<std::string, 1> s;
    mappend(s, std::string("first"));
    mappend(s, std::string("second"));
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), valuesOf(s));
}
