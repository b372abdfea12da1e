#include "psftools/printF.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

std::string column(int width, int digits, double value, int indent)
{
    std::ostringstream s;
    printF{width, digits, value, indent}(s);
    return s.str();
}

std::string pad(int n, const std::string &text)
{
    return std::string(n - text.size(), ' ') + text;
}

} // namespace

TEST(PrintF, ChoosesNotationToFitTheColumn)
{
    struct Case {
        int width, digits;
        double value;
        int indent;
        std::string expected;
    };
    const Case cases[] = {
        // The fitter's rows: one blank, then 14 places.
        {15, 5, 3.14159, 1, " " + pad(14, "3.14159")},
        {15, 5, 1.5e9, 1, " 1.50000000e+09"},  // a >= 1e8: scientific filling all 14 places
        {15, 5, -1.5e9, 1, " -1.5000000e+09"}, // the sign takes one place from the digits
        {15, 5, -2.5, 1, " " + pad(14, "-2.50000")},
        {15, 5, 1e-7, 1, " " + pad(14, "1e-07")}, // below 1e-5: general notation
        {15, 5, 0.0, 1, " " + pad(14, "0.00000")},
        {15, 5, std::nan(""), 1, " " + pad(14, "nan")},
        // Digits 0: the printer chooses.
        {6, 0, 0.3, 0, pad(6, "0.3")},
        {6, 0, 2e7, 0, pad(6, "2e+07")},
        {6, 0, 12.6, 0, pad(6, "13")},
        // Four places: precision from the magnitude.
        {4, 0, 98.7, 0, "  99"},
        {4, 0, 5.3, 0, " 5.3"},
        {4, 0, 0.05, 0, "0.05"},
        {4, 0, 0.005, 0, "   0"},
        {5, 0, -7.3, 0, " -7.3"},
        // Too narrow: marks instead of the number.
        {4, 0, 1.0, 1, "  ###"},
        {4, 0, -1.0, 1, "  ##"},
        {2, 0, 1.0, 2, "   "},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.expected, column(c.width, c.digits, c.value, c.indent))
            << "width " << c.width << " digits " << c.digits << " value " << c.value << " indent "
            << c.indent;
}

TEST(PrintF, LeavesTheStreamInGeneralNotation)
{
    for (double value : {1.5e9, 3.14159, 0.5}) {
        std::ostringstream s;
        printF{15, 5, value, 1}(s) << '|' << 0.25 << '|' << 1234567.0;
        EXPECT_EQ(std::ios::fmtflags(0), s.flags() & std::ios::floatfield);
        // The precision chosen stays on the stream.
        const std::string tail = s.str().substr(15);
        EXPECT_EQ(s.precision() == 5 ? "|0.25|1.2346e+06" : "|0.25|1234567", tail) << value;
    }
}
