#include "lightcurve/Stopwatch.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/program.h"
#include "printed.h"

namespace {

// Clocks the test sets by hand: seconds and processor ticks.
struct ManualClocks {
    long real = 0;
    long cpu = 0;
    Stopwatch watch(const std::string &name)
    {
        return Stopwatch(
            name, [this] { return real; }, [this] { return cpu; });
    }
    void at(long seconds, long ticks)
    {
        real = seconds;
        cpu = ticks;
    }
};

std::string status(const Stopwatch &sw)
{
    return printed([&] { sw.printStatus(); });
}

std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(StopwatchTexts, TimeStrings)
{
    struct Case {
        long seconds;
        const char *text;
    };
    const Case cases[] = {{3725, "01:02:05"},
                          {0, "00:00:00"},
                          {90000, "01:00:00"},
                          {86399, "23:59:59"},
                          {59, "00:00:59"}};
    for (const Case &c : cases) {
        EXPECT_EQ(c.text, Stopwatch::getTimeString(c.seconds));
        EXPECT_EQ(c.text, Stopwatch::getTimeString_CPU(c.seconds * 1000000 + 999999));
    }
    for (long t : {0L, 946728000L, 1234567890L, 1709251199L}) {
        const std::time_t tt = t;
        EXPECT_EQ(std::asctime(std::gmtime(&tt)), Stopwatch::getTimeString_full(t));
    }
    EXPECT_EQ("Sat Jan  1 12:00:00 2000\n", Stopwatch::getTimeString_full(946728000));
}

TEST(StopwatchTiming, PausesCountInLapsButNotInTotals)
{
    ManualClocks clocks;
    Stopwatch sw = clocks.watch("run");
    clocks.at(1000, 0);
    sw.start();
    clocks.at(1010, 2000000);
    sw.pause();
    clocks.at(1030, 3000000);
    sw.resume();
    clocks.at(1100, 5000000);
    sw.lap("first");
    clocks.at(1150, 7000000);
    sw.pause(); // still open at the stop
    clocks.at(1200, 9000000);
    sw.stop("end");

    EXPECT_EQ(2, sw.getNumberLaps());
    EXPECT_EQ(1000, sw.getStart());
    EXPECT_EQ(0, sw.getStart_CPU());
    EXPECT_EQ(1200, sw.getEnd());
    EXPECT_EQ(9000000, sw.getEnd_CPU());
    EXPECT_EQ(200 - 20 - 50, sw.getTotalTime());
    EXPECT_EQ(9000000 - 1000000 - 2000000, sw.getTotalTime_CPU());
    EXPECT_EQ(1100, sw.getLapTime(1));
    EXPECT_EQ(9000000, sw.getLapTime_CPU(2));
    EXPECT_EQ(100, sw.getLap(1));
    EXPECT_EQ(100, sw.getLap(2));
    EXPECT_EQ(5000000, sw.getLap_CPU(1));
    EXPECT_EQ(4000000, sw.getLap_CPU(2));

    sw.reset();
    EXPECT_EQ(0, sw.getNumberLaps());
    clocks.at(5000, 0);
    sw.start(); // allowed again after a reset
    EXPECT_EQ(5000, sw.getStart());
}

TEST(StopwatchStatus, FreshBox)
{
    ManualClocks clocks;
    const Stopwatch sw = clocks.watch("t");
    const std::string star57(57, '*');
    EXPECT_EQ("\n" + star57 + "\n" + "* stopwatch t                                           *\n" +
                  star57 + "\n" + "* status: ready (0 laps)                                *\n" +
                  star57 + "\n\n",
              status(sw));
}

TEST(StopwatchStatus, StoppedWithOneLapShowsTotalsOnly)
{
    KeepPrecision keep;
    ManualClocks clocks;
    Stopwatch sw = clocks.watch("t");
    clocks.at(100, 0);
    sw.start();
    EXPECT_EQ("* status: running (0 laps)                              *", linesOf(status(sw))[4]);
    clocks.at(280, 8000000);
    sw.stop("done");
    const std::string star57(57, '*');
    EXPECT_EQ("\n" + star57 + "\n" + "* stopwatch t                                           *\n" +
                  star57 + "\n" + "* status: stopped (1 laps)                              *\n" +
                  star57 + "\n" + "* total: 00:03:00 (real),      8s (CPU)                 *\n" +
                  star57 + "\n\n",
              status(sw));
    EXPECT_EQ(3, std::cout.precision()) << "the total's precision stays in force";
}

TEST(StopwatchStatus, LapTableWidensForLongLabels)
{
    KeepPrecision keep;
    ManualClocks clocks;
    Stopwatch sw = clocks.watch("t");
    clocks.at(0, 0);
    sw.start();
    clocks.at(100, 5000000);
    sw.lap("first");
    clocks.at(3825, 5250000);
    sw.stop("a label of 20 chars.");
    const std::vector<std::string> lines = linesOf(status(sw));
    const std::string star62(62, '*');
    const std::vector<std::string> want = {
        "",
        star62,
        "* stopwatch t                                                *",
        star62,
        "* status: stopped (2 laps)                                   *",
        "*" + std::string(60, ' ') + "*",
        "* number         real            CPU                         *",
        "* " + std::string(58, '-') + " *",
        "*      1     00:01:40             5s                   first *",
        "*      2     01:02:05          0.25s    a label of 20 chars. *",
        "*" + std::string(60, ' ') + "*",
        star62,
        "* total: 01:03:45 (real),   5.25s (CPU)                      *",
        star62,
        "",
    };
    EXPECT_EQ(want, lines);
}

// However wide the processor time prints, the frame stays in place.
TEST(StopwatchStatus, WideProcessorTimesKeepTheFrame)
{
    KeepPrecision keep;
    for (long ticks : {123L, 1234500000L, 987654321000L}) {
        ManualClocks clocks;
        Stopwatch sw = clocks.watch("t");
        sw.start();
        clocks.at(1, ticks);
        sw.stop("x");
        for (const std::string &line : linesOf(status(sw)))
            if (!line.empty()) {
                EXPECT_EQ(57u, line.size()) << line;
            }
    }
}

// Misuse ends the process with status 255 after its message.
TEST(StopwatchDeathTest, MisuseEndsTheProcess)
{
    struct Case {
        std::function<void(Stopwatch &)> misuse;
        const char *message;
    };
    const Case cases[] = {
        {[](Stopwatch &s) { s.start(); }, "error: stopwatch sw already in use, reset first!"},
        {[](Stopwatch &s) {
             s.stop("x");
             s.start();
         },
         "error: stopwatch sw already in use, reset first!"},
        {[](Stopwatch &s) {
             s.stop("x");
             s.lap("y");
         },
         "error: stopwatch sw not running!"},
        {[](Stopwatch &s) {
             s.stop("x");
             s.pause();
         },
         "error: stopwatch sw not running!"},
        {[](Stopwatch &s) {
             s.stop("x");
             s.stop("x");
         },
         "error: stopwatch sw not running!"},
        {[](Stopwatch &s) {
             s.pause();
             s.pause();
         },
         "error: stopwatch sw already paused!"},
        {[](Stopwatch &s) { s.resume(); }, "error: stopwatch sw not paused!"},
        {[](Stopwatch &s) { s.getEnd(); }, "error: stopwatch sw stil running!"},
        {[](Stopwatch &s) { s.getTotalTime_CPU(); }, "error: stopwatch sw stil running!"},
        {[](Stopwatch &s) {
             s.lap("a");
             s.getLap(2);
         },
         "error: lap out of range \\(2\\), only 1 laps taken!"},
        {[](Stopwatch &s) {
             s.lap("a");
             s.getLapTime_CPU(0);
         },
         "error: lap out of range \\(0\\), only 1 laps taken!"},
        {[](Stopwatch &s) {
             s.reset();
             s.getStart();
         },
         "error: stopwatch sw not started yet!"},
        {[](Stopwatch &s) {
             s.reset();
             s.getLap(1);
         },
         "error: stopwatch sw not started yet!"},
        {[](Stopwatch &s) {
             s.reset();
             s.resume();
         },
         "error: stopwatch sw not running!"},
    };
    for (const Case &c : cases) {
        ManualClocks clocks;
        Stopwatch sw = clocks.watch("sw");
        sw.start();
        EXPECT_EXIT(
            {
                test_common::skip_leak_check();
                c.misuse(sw);
            },
            testing::ExitedWithCode(255), c.message);
    }
}
