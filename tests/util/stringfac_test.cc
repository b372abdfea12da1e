#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <string>

#include "error_text.h"
#include "util/stringfac.h"

namespace {

using util::StringFactory;

std::string tooWide(const std::string &text)
{
    return "StringFactory: " + text + " is too wide\ncannot create string with preset width.";
}

template <class F>
std::string messageOf(F f)
{
    return errorText<util::StringException>(f);
}

TEST(StringFactory, IntegersFillTheirField)
{
    EXPECT_EQ("   42", StringFactory::toString(42, 5));
    EXPECT_EQ("-1234", StringFactory::toString(-1234, 5));
    EXPECT_EQ("12345", StringFactory::toString(12345, 5));
    EXPECT_EQ("       1234567890123", StringFactory::toString(1234567890123L, 20));
    EXPECT_EQ(std::to_string(LONG_MIN), StringFactory::toString(LONG_MIN, 20));
    EXPECT_EQ(tooWide("-12345"), messageOf([] { StringFactory::toString(-12345, 5); }));
    EXPECT_EQ(tooWide("0"), messageOf([] { StringFactory::toString(0, 0); }));
    EXPECT_EQ(tooWide("7"), messageOf([] { StringFactory::toString(7L, -3); }));
}

TEST(StringFactory, FloatsFitOrRetryOnceWithFewerDigits)
{
    struct Case {
        double value;
        int width, precision;
        const char *text;
    };
    const Case cases[] = {
        {M_PI, 20, 15, "    3.14159265358979"},
        {-1.23456789012345e-10, 20, 15, "-1.2345678901235e-10"}, // 21 columns at 15 digits
        {1.5, 10, 15, "       1.5"},
        {1e-5, 8, 3, "   1e-05"},
        {100.0, 3, 6, "100"},
        {-0.0, 4, 6, "  -0"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.text, StringFactory::toString(c.value, c.width, c.precision)) << c.value;
    EXPECT_EQ("0.100000001", StringFactory::toString(0.1f, 11, 9));
}

TEST(StringFactory, FloatsThatCannotFitAreRefused)
{
    // The excess reaches the precision: no shorter form is tried.
    EXPECT_EQ(tooWide("1e+10"), messageOf([] { StringFactory::toString(1e10, 2, 2); }));
    // The retry switches to exponent form and is still too wide.
    EXPECT_EQ(tooWide("1.2346e+05"), messageOf([] { StringFactory::toString(123456.0, 5, 6); }));
    EXPECT_EQ(tooWide("1.23e+08"), messageOf([] { StringFactory::toString(123456789.0, 3, 9); }));
}

TEST(StringFactory, DecimalAndSexagesimalTexts)
{
    struct Case {
        const char *text;
        double value;
    };
    const Case cases[] = {
        {"12.5", 12.5},
        {"-12.5", -12.5},
        {"1:30:00", 1.5},
        {"-1:30:00", -1.5},
        {"  -1:30:00", -1.5}, // a sign after blanks still negates the whole value
        {"10:20:30", 10.0 + 20.0 / 60 + 30.0 / 3600},
        {"0:0:36:99", 0.01}, // a third colon ends the seconds
        {"3x", 3.0},
        {"abc", 0.0},
        {"", 0.0},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(c.value, StringFactory::toDouble(c.text), 1e-12) << c.text;
    EXPECT_EQ("StringFactory: 1:30 is ambiguous.",
              messageOf([] { StringFactory::toDouble("1:30"); }));
    EXPECT_EQ("StringFactory: 1:30 is ambiguous.",
              messageOf([] { StringFactory::toDouble("-1:30"); }));
}

TEST(StringFactory, MinSecStringsCarryRoundedSeconds)
{
    struct Case {
        double value;
        int precision;
        const char *text;
    };
    const Case cases[] = {
        {1.5, 2, "01:30:00.00"},
        {-1.5, 2, "-01:30:00.00"},
        {0.0, 0, "00:00:00"},
        {1.0 / 3600, 1, "00:00:01.0"},
        {12.25 + 5.25 / 3600, 2, "12:15:05.25"},
        {12.0 - 0.001 / 3600, 2, "12:00:00.00"}, // 11:59:59.999 rounds to the next hour
        {23.0 + 59.0 / 60 + 59.996 / 3600, 2, "24:00:00.00"},
        {-(2.0 - 0.4 / 3600), 0, "-02:00:00"},
        {5e9, 0, "5000000000:00:00"}, // beyond int range
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.text, StringFactory::toMinSecString(c.value, c.precision));
}

TEST(StringFactory, MinSecStringsReadBackWithinRounding)
{
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> hours(-30.0, 30.0);
    for (int i = 0; i < 2000; ++i) {
        const double value = i % 2 ? hours(rng) : std::round(hours(rng) * 60) / 60 - 1e-9;
        for (int precision : {0, 2, 4}) {
            const std::string text = StringFactory::toMinSecString(value, precision);
            const std::size_t seconds = text.rfind(':') + 1;
            ASSERT_LT(std::stod(text.substr(seconds)), 60.0) << text;
            ASSERT_LT(std::stod(text.substr(seconds - 3, 2)), 60.0) << text;
            const double tolerance = 0.5 * std::pow(10.0, -precision) / 3600 + 1e-12;
            ASSERT_NEAR(value, StringFactory::toDouble(text), tolerance) << text;
        }
    }
}

} // namespace

TEST(ExactText, SixDigitsWhereTheySufficeElseTheFewestThatReadBack)
{
    EXPECT_EQ("1000", util::exactText(1000.0));
    EXPECT_EQ("0", util::exactText(0.0));
    EXPECT_EQ("1e-05", util::exactText(1e-5));
    EXPECT_EQ("2.718281828", util::exactText(2.718281828));
    EXPECT_EQ("1234.56789", util::exactText(1234.56789));
    EXPECT_EQ("0.1", util::exactText(0.1f)); // the float's own shortest text
    // Random values, double and float, come back unchanged.
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> mantissa(1, 10);
    std::uniform_int_distribution<int> exponent(-300, 300);
    for (int i = 0; i < 2000; ++i) {
        const double d = std::ldexp(mantissa(rng), exponent(rng));
        EXPECT_EQ(d, std::strtod(util::exactText(d).c_str(), nullptr));
        const float f = static_cast<float>(mantissa(rng) * std::pow(10.0, exponent(rng) % 30));
        EXPECT_EQ(f, static_cast<float>(std::strtod(util::exactText(f).c_str(), nullptr)));
    }
}
