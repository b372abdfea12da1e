// The program's end after a numerical failure: the reason, the crash
// picture and the advice, the pause and the end of curses on a curses
// display, and status 100.
#include "torvex/display/quit.h"

#include "torvex/structs.h"

#include "common/program.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using test_common::ChildResult;
using test_common::run_child;

const std::string head = "Numerical Recipes run-time error...\n";
const std::string advice = "TORVEX crashed probably because one of the parameters\n"
                           "has gotten too crazy.  For example, check that the\n"
                           "Nuker parameter alpha, or the Gaussian magnitude has \n"
                           "not gotten too big. \n";

TEST(NumericalFailure, PrintsReasonPictureAdviceAndExits100)
{
    ChildResult r = run_child([] {
        set_fatal_handler(numerical_failure);
        nrerror("singular matrix");
    });
    EXPECT_EQ(r.status, 100);
    EXPECT_EQ(r.err, "");
    std::string expect_start = head + "singular matrix\n...now exiting to system...\n\n";
    ASSERT_EQ(r.out.compare(0, expect_start.size(), expect_start), 0) << r.out;
    std::string expect_end = " \n" + advice + "\a";
    ASSERT_GE(r.out.size(), expect_start.size() + expect_end.size());
    EXPECT_EQ(r.out.substr(r.out.size() - expect_end.size()), expect_end);

    std::string picture =
        r.out.substr(expect_start.size(), r.out.size() - expect_start.size() - expect_end.size());
    int lines = 0;
    size_t pos = 0, nl;
    while ((nl = picture.find('\n', pos)) != std::string::npos) {
        size_t width = nl - pos;
        EXPECT_TRUE(width == 48 || width == 49) << "line " << lines << ": " << width;
        lines++;
        pos = nl + 1;
    }
    EXPECT_EQ(lines, 18);
    EXPECT_EQ(pos, picture.size());
    EXPECT_LT(r.seconds, 4.0); // no pause on the regular display
}

// Stands in for the curses printer, whose text would vanish with the screen.
int silent_print(const char *, ...)
{
    return 0;
}

TEST(NumericalFailure, DisplayWordDecidesTheCursesPath)
{
    // A longer word that begins with "regular" is regular: no pause.
    ChildResult r = run_child([] {
        set_fatal_handler(numerical_failure);
        strcpy(device, "regularly");
        nrerror("x");
    });
    EXPECT_EQ(r.status, 100);
    EXPECT_LT(r.seconds, 4.0);
    EXPECT_EQ(r.err, "");

    // The curses screen vanishes at its end, so the reason also goes to
    // standard error after the pause.
    r = run_child([] {
        set_fatal_handler(numerical_failure);
        strcpy(device, "curses");
        pfunc = silent_print;
        nrerror("no convergence");
    });
    EXPECT_EQ(r.status, 100);
    EXPECT_GE(r.seconds, 4.5);
    EXPECT_EQ(r.err, head + "no convergence\n");
}

} // namespace
