#include "dornel/conversions.h"

#include <gtest/gtest.h>

#include <limits>

TEST(Conversions, PaddedCounters)
{
    struct Case {
        int value, digits;
        const char *text;
    };
    const Case cases[] = {
        {5, 3, "005"}, {99, 3, "099"}, {100, 3, "100"}, {123, 2, "123"},  {0, 2, "00"},
        {0, 1, "0"},   {0, 0, ""},     {7, 0, "7"},     {-1, 3, "000-1"}, {-12, 2, "00-12"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.text, int2str(c.value, c.digits)) << c.value << " " << c.digits;
}

TEST(Conversions, StreamTexts)
{
    EXPECT_EQ("true", bool2str(true));
    EXPECT_EQ("false", bool2str(false));
    EXPECT_EQ("-12", int2str(-12));
    EXPECT_EQ("1077", int2str(1077));
    struct Case {
        double value;
        const char *text;
    };
    const Case cases[] = {
        {0, "0"},        {1000, "1000"},
        {0.5, "0.5"},    {1234567, "1.23457e+06"},
        {1e-5, "1e-05"}, {static_cast<double>(0.1f), "0.1"},
        {-2.5, "-2.5"},  {std::numeric_limits<double>::infinity(), "inf"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.text, double2str(c.value)) << c.value;
}
