// The restart file and the fit.log entry.
#include "torvex/input/menu.h"
#include "torvex/output/fitlog.h"
#include "torvex/output/outmenu.h"

#include "common/fits.h"
#include "fit_helpers.h"
#include "parfile_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace test_common;

namespace {

class FitLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        output_stage("gal.fits", "block.fits");

        strcpy(gal.objtype, "sersic");
        const float ga[] = {0, 10, 20, 17.5f, 8, 3.5f, 0, 0, 0.8f, 135, 0};
        std::copy(ga, ga + 11, gal.a);
        strcpy(star.objtype, "psf");
        star.a[1] = 5.5f;
        star.a[2] = 6.5f;
        star.a[3] = 19.25f;
        strcpy(sky.objtype, "sky");
        sky.a[1] = 1.5f;
        sky.a[2] = 0.01f;
        sky.a[3] = -0.02f;
        gal.next = &star;
        star.next = &sky;
    }
    void TearDown() override { pfunc = printf; }

    std::string entry(double chisq, int ndof, const std::vector<double> &sig)
    {
        return stream_text(
            [&](FILE *f) { fprintpar(101, 51, &gal, f, "torvex.07", sig.data(), chisq, ndof); });
    }

    ScratchDir dir;
    fitpars gal, star, sky;
};

const std::string rule(77, '-');

TEST_F(FitLog, EntryHasTheExactLayout)
{
    std::vector<double> sig(31, 0.0);
    sig[1] = 0.1;  // sersic x
    sig[3] = 0.05; // sersic magnitude
    sig[4] = 0.2;  // sersic R_e
    sig[21] = 0.5; // sky level
    std::string expected =
        rule + "\n\n" +
        "Input image     : gal.fits[101:140,51:80] \n"
        "Init. par. file : gal.param \n"
        "Restart file    : torvex.07 \n"
        "Output image    : block.fits \n\n"
        " sersic   : (110.00, 70.00)   17.50   8.00    3.50    0.80   -45.00  0.00 \n" +
        std::string(14, ' ') + "(0.20, 0.00)   0.10    0.40    0.00    0.00   0.00   0.00 \n" +
        " psf      : (105.50, 56.50)   19.25    \n" + std::string(14, ' ') +
        "(0.00, 0.00)   0.00  \n" +
        " sky      : [120.50, 65.50]   1.50e+00   1.00e-02   -2.00e-02\n" + std::string(29, ' ') +
        "1.00e+00   0.00e+00   0.00e+00\n" +
        " Chi^2 = 200.00000,  ndof = 50\n"
        " Chi^2/nu = 4.000 \n\n" +
        rule + "\n";
    // chi^2/nu = 4 doubles every uncertainty.
    EXPECT_EQ(entry(200, 50, sig), expected);
    EXPECT_EQ(gal.a[9], -45); // normalised and kept

    // A fit that took no step says so below its reduced chi^2.
    const std::string reduced = " Chi^2/nu = 4.000 \n";
    expected.insert(expected.find(reduced) + reduced.size(),
                    " No step of the fit lowered Chi^2: start values, not a fit.\n");
    EXPECT_EQ(stream_text([&](FILE *f) {
                  fprintpar(101, 51, &gal, f, "torvex.07", sig.data(), 200, 50, true, true);
              }),
              expected);
}

TEST_F(FitLog, EveryTypeWritesValueAndUncertaintyLines)
{
    const char *types[] = {"sersic", "moffat", "devauc",   "expdisk",
                           "nuker",  "king",   "gaussian", "psf"};
    for (const char *t : types) {
        strcpy(gal.objtype, t);
        gal.next = nullptr;
        std::string e = entry(1, 1, std::vector<double>(11, 0.0));
        SCOPED_TRACE(t);
        size_t at = e.find("\n " + std::string(t));
        ASSERT_NE(at, std::string::npos) << e;
        size_t end = e.find(" Chi^2 =");
        EXPECT_EQ(std::count(e.begin() + at + 1, e.begin() + end, '\n'), 2);
        EXPECT_EQ(e.compare(at + 11, 9, ": (110.00"), 0) << e;
    }
}

TEST_F(FitLog, WithoutDegreesOfFreedomOnlyFreeUncertaintiesBlowUp)
{
    std::vector<double> sig(31, 0.0);
    sig[3] = 0.05;
    std::string e = entry(10, 0, sig);
    EXPECT_NE(e.find(" Chi^2/nu = inf \n"), std::string::npos);
    EXPECT_NE(e.find("(0.00, 0.00)   inf"), std::string::npos) << e;
    EXPECT_EQ(e.find("nan"), std::string::npos) << e;
}

TEST_F(FitLog, AppendsToFitLog)
{
    InDir in(dir.path());
    std::vector<double> sig(31, 0.0);
    EXPECT_EQ(fitlog(101, 51, &gal, "torvex.01", sig.data(), 200, 50), 0);
    EXPECT_EQ(fitlog(101, 51, &gal, "torvex.02", sig.data(), 200, 50), 0);
    std::string log = slurp("fit.log");
    EXPECT_EQ(log.find(rule + "\n\nInput image"), 0u);
    EXPECT_LT(log.find("Restart file    : torvex.01"), log.find("Restart file    : torvex.02"));
    EXPECT_NE(log.find(rule + "\n" + rule + "\n\nInput image"), std::string::npos);
    EXPECT_NE(log.find("Restart file    : torvex.02"), std::string::npos);
}

// A folder that has been removed: nothing can be created in it.
class GoneDir {
public:
    GoneDir() : in_(dir_.path()) { rmdir(dir_.path().c_str()); }

private:
    ScratchDir dir_;
    InDir in_;
};

TEST_F(FitLog, UnwritableLogIsReported)
{
    GoneDir gone;
    std::vector<double> sig(31, 0.0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(fitlog(101, 51, &gal, "torvex.01", sig.data(), 200, 50), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Cannot open fit.log"),
              std::string::npos);
}

TEST_F(FitLog, RestartFileTakesTheFirstFreeNumber)
{
    InDir in(dir.path());
    spit("torvex.01", "keep 1");
    spit("torvex.03", "keep 3");
    ASSERT_EQ(mkdir("torvex.04", 0777), 0);
    input.create = 1;
    char name[RESTART_NAME_SIZE];

    EXPECT_EQ(outmenu(&gal, name, 100, 50, 12.5f, 40), 0);
    EXPECT_STREQ(name, "torvex.02");
    EXPECT_EQ(input.create, 0);
    std::string text = slurp("torvex.02");
    EXPECT_EQ(text, menu_text(input, gal, 100, 50, 12.5f, 40));
    EXPECT_NE(text.find(" 1) 110.0000 70.0000"), std::string::npos);
    EXPECT_NE(text.find("P) 0 "), std::string::npos);

    EXPECT_EQ(outmenu(&gal, name, 0, 0, 0, 0), 0);
    EXPECT_STREQ(name, "torvex.05");
    for (int n = 6; n <= 99; n++) {
        snprintf(name, sizeof name, "torvex.%02d", n);
        spit(name, "keep");
    }
    EXPECT_EQ(outmenu(&gal, name, 0, 0, 0, 0), 0);
    EXPECT_STREQ(name, "torvex.100");
    EXPECT_EQ(slurp("torvex.01"), "keep 1");
    EXPECT_EQ(slurp("torvex.03"), "keep 3");
    EXPECT_EQ(slurp("torvex.99"), "keep");
}

TEST_F(FitLog, UnwritableRestartFileIsReported)
{
    GoneDir gone;
    char name[RESTART_NAME_SIZE];
    testing::internal::CaptureStderr();
    EXPECT_EQ(outmenu(&gal, name, 0, 0, 0, 0), 1);
    std::string msg = testing::internal::GetCapturedStderr();
    EXPECT_NE(msg.find("Cannot create the restart file torvex.01"), std::string::npos) << msg;
    EXPECT_STREQ(name, "none");
}

// A full disk, played by a limit on the file size: the restart file is cut
// short.  A short parameter file reads as one with fewer components, so it
// must neither stay behind nor be named in fit.log.
TEST_F(FitLog, RestartFileCutShortIsRemoved)
{
    InDir in(dir.path());
    char name[RESTART_NAME_SIZE];
    rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 200;
    auto was = signal(SIGXFSZ, SIG_IGN);
    testing::internal::CaptureStderr();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int r = outmenu(&gal, name, 0, 0, 0, 0);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, was);
    std::string msg = testing::internal::GetCapturedStderr();

    EXPECT_EQ(r, 1);
    EXPECT_NE(msg.find("Cannot write the restart file torvex.01"), std::string::npos) << msg;
    EXPECT_STREQ(name, "none");
    EXPECT_NE(access("torvex.01", F_OK), 0);
}

} // namespace
