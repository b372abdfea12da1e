#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <sstream>

#include "option_fixture.h"
#include "util/option.h"
#include "util/stringfac.h"

namespace {

using namespace util;

std::string row(const Option &option)
{
    std::ostringstream out;
    out << option;
    return out.str();
}

TEST(BoolOption, TextsAndToggles)
{
    bool bound = true;
    BoolOption flag("spline", "false", "spline", 's', &bound);
    EXPECT_FALSE(bound);
    EXPECT_EQ("FLAG", flag.getTypeName());
    EXPECT_FALSE(flag.needsValue());
    flag.setValue("toggle");
    EXPECT_TRUE(bound);
    EXPECT_EQ("TRUE", flag.toString());
    flag.setValue("toggle");
    EXPECT_FALSE(flag.getBool());
    for (const char *text : {"FALSE", "false", "NO", "no", "F", "f", "N", "n", "0"}) {
        flag.setValue("TRUE");
        flag.setValue(text);
        EXPECT_FALSE(bound) << text;
    }
    for (const char *text : {"TRUE", "yes", "", "False", " 0", "1"}) {
        flag.setValue("0");
        flag.setValue(text);
        EXPECT_TRUE(bound) << text;
        EXPECT_EQ("TRUE", flag.toString());
    }
    // The bound variable is the value shown; "toggle" inverts the option's own value.
    bound = false;
    EXPECT_EQ("FALSE", flag.toString());
    flag.setValue("toggle");
    EXPECT_FALSE(bound);
}

TEST(IntOption, WholeNumbersOnly)
{
    int bound = -1;
    IntOption order("order", "2", "order", 'o', &bound);
    EXPECT_EQ(2, bound);
    EXPECT_EQ("INT", order.getTypeName());
    EXPECT_EQ("", order.getString());
    const std::pair<const char *, int> good[] = {{"42", 42},
                                                 {" -7 ", -7},
                                                 {"+3", 3},
                                                 {"2147483647", 2147483647},
                                                 {"-2147483648", -2147483647 - 1}};
    for (const auto &c : good) {
        order.setValue(c.first);
        EXPECT_EQ(c.second, bound) << c.first;
        EXPECT_EQ(std::to_string(c.second), order.toString());
    }
    order.setValue("5");
    for (const char *text : {"two", "3x", "", "  ", "1.5", "0x10", "1 2"})
        EXPECT_EQ(std::string("Value '") + text + "' of option order is not an integer!",
                  utilError([&] { order.setValue(text); }));
    for (const char *text : {"2147483648", "-2147483649", "99999999999999999999"})
        EXPECT_EQ(std::string("Value '") + text + "' of option order is out of range!",
                  utilError([&] { order.setValue(text); }));
    EXPECT_EQ(5, bound);
    EXPECT_EQ("Value 'x' of option bad is not an integer!",
              utilError([] { IntOption bad("bad", "x", "", 0, nullptr); }));
}

TEST(FloatAndDoubleOptions, ShortTableTextsExactConfigTexts)
{
    float f = 0;
    FloatOption nan("nan", "0.", "not a number", 'n', &f);
    nan.setValue("3.14159265");
    EXPECT_EQ(3.14159265f, f);
    EXPECT_EQ("3.14159", nan.toString());
    EXPECT_EQ(3.14159265f, std::strtof(nan.toConfigString().c_str(), nullptr));
    nan.setValue("-inf");
    EXPECT_EQ("-inf", nan.toString());
    EXPECT_EQ("Value '1e39' of option nan is out of range!",
              utilError([&] { nan.setValue("1e39"); }));
    EXPECT_EQ("Value 'x' of option nan is not a number!", utilError([&] { nan.setValue("x"); }));

    double d = 0;
    DoubleOption kappa("kappa", "1000.", "kappa", 'k', &d);
    EXPECT_EQ(1000.0, d);
    EXPECT_EQ("DOUBLE", kappa.getTypeName());
    kappa.setValue("1e300"); // beyond float: must not show as inf
    EXPECT_EQ("1e+300", kappa.toString());
    kappa.setValue("0.1234567890123");
    EXPECT_EQ(0.1234567890123, kappa.getDouble());
    EXPECT_EQ("0.123457", kappa.toString());
    EXPECT_EQ("0.1234567890123", kappa.toConfigString());
    kappa.setValue("0.1");
    EXPECT_EQ("0.1", kappa.toConfigString());
    EXPECT_EQ("Value '1e400' of option kappa is out of range!",
              utilError([&] { kappa.setValue("1e400"); }));
    EXPECT_EQ("Value '2,5' of option kappa is not a number!",
              utilError([&] { kappa.setValue("2,5"); }));

    std::mt19937_64 rng(4);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-300, 300);
    for (int i = 0; i < 2000; ++i) {
        const double value = std::ldexp(mantissa(rng), exponent(rng) * 3);
        if (!std::isfinite(value))
            continue;
        kappa.setValue(detail::formatText("%.17g", value));
        ASSERT_EQ(value, std::strtod(kappa.toConfigString().c_str(), nullptr));
        if (std::fabs(value) < FLT_MAX) {
            nan.setValue(detail::formatText("%.17g", value));
            ASSERT_EQ(f, std::strtof(nan.toConfigString().c_str(), nullptr));
        }
    }
}

// strtod reads these as NaN; a NaN setting would make every comparison with
// it false, so it is refused like any other text that is no number, and the
// value stays.
TEST(FloatAndDoubleOptions, NaNTextsAreRefused)
{
    float f = 0;
    double d = 0;
    float fa[2] = {0, 0};
    double da[2] = {0, 0};
    FloatOption nan("nan", "1.5", "blank marker", 'n', &f);
    DoubleOption kappa("kappa", "2.5", "kappa", 'k', &d);
    FloatArrayOption weights("weights", "3,4", "weights", 0, 2, fa);
    DoubleArrayOption scales("scales", "5,6", "scales", 0, 2, da);
    for (const char *text : {"nan", "NaN", "-nan", " nan ", "nan(0x7)", "NAN"}) {
        for (Option *option : std::initializer_list<Option *>{&nan, &kappa}) {
            EXPECT_EQ("Value '" + std::string(text) + "' of option " + option->getName() +
                          " is not a number!",
                      utilError([&] { option->setValue(text); }));
        }
        EXPECT_EQ("Value '" + std::string(text) + "' of option weights is not a number!",
                  utilError([&] { weights.setValue(std::string("7,") + text); }));
        EXPECT_EQ("Value '" + std::string(text) + "' of option scales is not a number!",
                  utilError([&] { scales.setValue(text); }));
    }
    EXPECT_EQ(1.5f, f);
    EXPECT_EQ(2.5, d);
    EXPECT_EQ(4.0f, fa[1]); // the elements before the NaN are taken, as with any bad element
    EXPECT_EQ(5.0, da[0]);
    // Infinities are numbers: "no upper limit", say.
    kappa.setValue("inf");
    EXPECT_TRUE(std::isinf(d));
}

TEST(StringOption, KeepsTextAsGiven)
{
    std::string bound = "old";
    StringOption prefix("prefix", "s", "prefix", 'p', &bound);
    EXPECT_EQ("s", bound);
    prefix.setValue("a b # c");
    EXPECT_EQ("a b # c", bound);
    EXPECT_EQ("a b # c", prefix.toString());
    EXPECT_EQ("STRING", prefix.getTypeName());
    EXPECT_EQ(0, prefix.getInt());
}

TEST(NumberArrayOptions, CommaListsAndTheirLimits)
{
    int g[2] = {0, 0};
    IntArrayOption galcenter("galcenter", "1070,1077", "galaxy center", 'g', 2, g);
    EXPECT_EQ(1070, g[0]);
    EXPECT_EQ(1077, g[1]);
    EXPECT_EQ("INTARRAY", galcenter.getTypeName());
    EXPECT_EQ(g, galcenter.getIntArray());
    galcenter.setValue("5");
    EXPECT_EQ("5,1077", galcenter.toString());
    galcenter.setValue("1070, 1077 ");
    EXPECT_EQ("1070,1077", galcenter.toString());
    EXPECT_EQ("Too many elements in IntArrayOption galcenter!",
              utilError([&] { galcenter.setValue("1,2,3"); }));
    EXPECT_EQ("1,2", galcenter.toString());
    EXPECT_EQ("Value 'x' of option galcenter is not an integer!",
              utilError([&] { galcenter.setValue("7,x"); }));
    EXPECT_EQ("7,2", galcenter.toString());
    EXPECT_EQ("Value '' of option galcenter is not an integer!",
              utilError([&] { galcenter.setValue(""); }));

    IntArrayOption copy(galcenter);
    EXPECT_EQ(g, copy.getIntArray()); // same bound array
    IntArrayOption unbound("u", "1,2", "", 0, 2, nullptr);
    IntArrayOption unboundCopy(unbound);
    unboundCopy.setValue("8,9");
    EXPECT_EQ("1,2", unbound.toString());
    EXPECT_EQ("8,9", unboundCopy.toString());
    EXPECT_NE(unbound.getIntArray(), unboundCopy.getIntArray());

    float w[3] = {};
    FloatArrayOption weights("weights", "0.5,0.25", "", 0, 3, w);
    EXPECT_EQ("0.5,0.25,0", weights.toString());
    EXPECT_EQ("FLOATARRAY", weights.getTypeName());
    weights.setValue("0.1234567,2e-3");
    EXPECT_EQ("0.123457,0.002,0", weights.toString());
    EXPECT_EQ("0.1234567,0.002,0", weights.toConfigString());
    EXPECT_EQ("Too many elements in FloatArrayOption weights!",
              utilError([&] { weights.setValue("1,2,3,"); }));

    DoubleArrayOption scales("scales", "0.5", "", 0, 1, nullptr);
    EXPECT_EQ("DOUBLEARRAY", scales.getTypeName());
    EXPECT_EQ(0.5, scales.getDoubleArray()[0]);
    EXPECT_EQ("Too many elements in DoubleArrayOption scales!",
              utilError([&] { scales.setValue("1,2"); }));
    EXPECT_EQ("Too many elements in DoubleArrayOption none!",
              utilError([] { DoubleArrayOption none("none", "", "", 0, 0, nullptr); }));
}

TEST(RegionArrayOption, RangeListsAreOrdered)
{
    RegionArrayOption one("box", "5:2", "box", 'b', 1, nullptr);
    EXPECT_EQ(2, one.getRegionArray().getStart(1));
    EXPECT_EQ("2:5", one.toString());
    EXPECT_EQ("[2:5]", one.toRegionString());
    EXPECT_EQ("REGIONARRAY", one.getTypeName());
    one.setValue("7");
    EXPECT_EQ("0:7", one.toString());
    one.setValue("-3");
    EXPECT_EQ("-3:0", one.toString());

    Region bound(2);
    RegionArrayOption two("box", "1:10,20:1", "box", 'b', 2, &bound);
    EXPECT_EQ("[1:10,1:20]", bound.toString());
    two.setValue("3:4");
    EXPECT_EQ("[3:4,1:20]", bound.toString());
    EXPECT_EQ("Too many elements in RegionArrayOption box!",
              utilError([&] { two.setValue("1:2,3:4,5:6"); }));
    EXPECT_EQ("[1:2,3:4]", bound.toString());
    EXPECT_EQ("Value 'x' of option box is not an integer!",
              utilError([&] { two.setValue("1:x"); }));
    EXPECT_EQ("Value '2:3' of option box is not an integer!",
              utilError([&] { two.setValue("1:2:3"); }));

    Region small(1);
    EXPECT_EQ(Region::error_set_dim,
              utilError([&] { RegionArrayOption r("r", "1:2,3:4", "", 0, 2, &small); }));
    EXPECT_EQ("[1:2]", small.toString());
}

TEST(OptionRow, ColumnsOfTheTable)
{
    int order = 0;
    IntOption withChar("order", "2", "order", 'o', &order);
    order = 5;
    EXPECT_EQ("order            | o |                          2 | 5", row(withChar));
    StringOption noChar("write_config_file", "", "output config filename", 0, nullptr);
    EXPECT_EQ("write_config_file |   |                            | ", row(noChar));
    const std::string longDefault(30, 'd');
    StringOption wide("w", longDefault.c_str(), "", 'w', nullptr);
    EXPECT_EQ("w                | w | " + longDefault + " | " + longDefault, row(wide));
}

} // namespace
