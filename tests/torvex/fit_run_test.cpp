// The program end to end: fits of synthetic images with known truth and
// seeded noise, made here, and the failure paths of a fit.
#include "common/fits.h"
#include "profile_truth.h"
#include "program_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <map>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace test_common;

namespace {

// The sky plane of a sky component with level a1 at the fit region's centre
// (xc, yc) and slopes a2, a3.
struct Plane {
    double a1, a2, a3, xc, yc;
    double at(long x, long y) const { return a1 + a2 * (x - xc) + a3 * (y - yc); }
};

const char *sky_block = "0) sky\n1) %g 1\n2) %g 1\n3) %g 1\nZ) 0\n";

std::string sky_component(double a1, double a2, double a3)
{
    char buf[256];
    snprintf(buf, sizeof buf, sky_block, a1, a2, a3);
    return buf;
}

// A 60 x 50 sky plane with Gaussian noise of sigma 5 and a sigma image of 5.
class SkyFit : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_image(dir.file("data.fits"), 60, 50,
                    with_noise([this](long x, long y) { return truth.at(x, y); }, 5, 12345),
                    {{"EXPTIME", "1"}, {"GAIN", "2"}});
        write_image(dir.file("sigma.fits"), 60, 50, [](long, long) { return 5.0f; });
        s.sigma = "sigma.fits";
    }

    // A run of the settings s on the sky start.
    ProgramRun run() const { return run_torvex(dir, param_file(s, start)); }

    // The model HDU of the block a run wrote.
    Hdu fitted_model() const { return read_hdu(dir.file("block.fits"), 3); }

    ScratchDir dir;
    Settings s;
    Plane truth{100, 0.05, -0.03, 30.5, 25.5};
    const std::string start = sky_component(90, 0, 0);
};

TEST_F(SkyFit, RecoversThePlaneWithItsUncertainties)
{
    ProgramRun r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Iteration : 1 "), std::string::npos);
    EXPECT_NE(r.out.find("COUNTDOWN = 99 "), std::string::npos);

    ASSERT_EQ(count_hdus(dir.file("block.fits")), 4);
    Hdu data = read_hdu(dir.file("block.fits"), 2), model = fitted_model(),
        resid = read_hdu(dir.file("block.fits"), 4);
    const long npix = 60 * 50;
    EXPECT_EQ(model.raw("NDOF"), std::to_string(npix - 3));
    double chi2nu = std::stod(model.raw("CHI2NU"));
    EXPECT_NEAR(chi2nu, 1, 0.1);

    // Least squares on a uniform grid with equal weights: the level's error
    // is sigma / sqrt(N), a slope's sigma / sqrt(sum of squared offsets).
    double sxx = 50 * 60 * (60 * 60 - 1) / 12.0, syy = 60 * 50 * (50 * 50 - 1) / 12.0;
    const struct {
        const char *key;
        double truth, error;
    } params[] = {
        {"1_SKY", truth.a1, 5 / std::sqrt(double(npix))},
        {"1_DSKYDX", truth.a2, 5 / std::sqrt(sxx)},
        {"1_DSKYDY", truth.a3, 5 / std::sqrt(syy)},
    };
    for (const auto &p : params) {
        Fitted f = card(model, p.key);
        EXPECT_NEAR(f.error, p.error * std::sqrt(chi2nu), 0.02 * p.error) << p.key;
        EXPECT_LT(std::fabs(f.value - p.truth), 3 * f.error) << p.key;
    }
    EXPECT_EQ(model.text("1_XCENT"), "30.5000");

    // The residual is data minus model, exactly, pixel by pixel.
    for (long y = 1; y <= 50; y++)
        for (long x = 1; x <= 60; x++)
            ASSERT_EQ(resid.at(x, y), data.at(x, y) - model.at(x, y)) << x << "," << y;
    Verdict v = fitsverify(dir.file("block.fits"));
    EXPECT_TRUE(v.clean) << v.report;

    // The fit.log entry and the restart file carry the result.
    std::string log = slurp(dir.file("fit.log"));
    EXPECT_NE(log.find("Restart file    : torvex.01"), std::string::npos) << log;
    EXPECT_NE(log.find(" ndof = " + std::to_string(npix - 3)), std::string::npos) << log;
}

TEST_F(SkyFit, MaskedAndUndefinedPixelsLeaveTheFit)
{
    // Three pixels of a FITS mask, two undefined data pixels, and a pixel
    // list in a text file for a second run.
    write_image(dir.file("mask.fits"), 60, 50, [](long x, long y) {
        return (x == 3 && y == 4) || (x == 10 && y == 10) ? 1.0f
               : (x == 20 && y == 5)                      ? 7.0f
                                                          : 0.5f;
    });
    auto noisy = with_noise([this](long x, long y) { return truth.at(x, y); }, 5, 7);
    write_image(dir.file("data.fits"), 60, 50, [&](long x, long y) {
        float v = noisy(x, y);
        return (x == 30 && y == 30) || (x == 31 && y == 40) ? NAN : v;
    });
    s.mask = "mask.fits";
    ProgramRun r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    Hdu model = fitted_model();
    EXPECT_EQ(model.raw("NDOF"), std::to_string(60 * 50 - 3 - 2 - 3));
    EXPECT_NEAR(std::stod(model.raw("CHI2NU")), 1, 0.1);

    spit(dir.file("mask.txt"), "# bad pixels\n3 4\n10 10\n10 10\n55.5 49.9\n");
    s.mask = "mask.txt";
    r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("No masking image used"), std::string::npos);
    model = fitted_model();
    EXPECT_EQ(model.raw("NDOF"), std::to_string(60 * 50 - 3 - 2 - 3));
}

TEST_F(SkyFit, BlankPixelsOfIntegerImagesLeaveTheFit)
{
    // 16-bit data and sigma images whose BLANK pixels (-32768) are no
    // numbers: nine of the data, two more of the sigma image.
    auto data_blank = [](long x, long y) { return x % 20 == 7 && y % 20 == 3; };
    auto sigma_blank = [](long x, long y) { return (x == 1 && y == 1) || (x == 60 && y == 50); };
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, 5);
    write_short_image(dir.file("data.fits"), 60, 50,
                      [&](long x, long y) { return truth.at(x, y) + noise(rng); }, data_blank,
                      {{"EXPTIME", "1"}});
    write_short_image(
        dir.file("sigma.fits"), 60, 50, [](long, long) { return 5.0; }, sigma_blank);
    ProgramRun r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    Hdu data = read_hdu(dir.file("block.fits"), 2), model = fitted_model(),
        resid = read_hdu(dir.file("block.fits"), 4);
    EXPECT_EQ(model.raw("NDOF"), std::to_string(60 * 50 - 9 - 2 - 3));
    EXPECT_NEAR(std::stod(model.raw("CHI2NU")), 1, 0.1);
    Fitted level = card(model, "1_SKY");
    EXPECT_LT(std::fabs(level.value - truth.a1), 3 * level.error);
    // The data section keeps its BLANK pixels blank; their residual is no
    // number.
    EXPECT_EQ(data.bitpix, SHORT_IMG);
    for (long y = 1; y <= 50; y++)
        for (long x = 1; x <= 60; x++)
            if (data_blank(x, y)) {
                EXPECT_EQ(data.at(x, y), -32768) << x << "," << y;
                EXPECT_TRUE(std::isnan(resid.at(x, y))) << x << "," << y;
            }
    Verdict v = fitsverify(dir.file("block.fits"));
    EXPECT_TRUE(v.clean) << v.report;
}

TEST_F(SkyFit, SmallerMaskMasksNothingBeyondItsEdge)
{
    // The mask covers the first 40 x 50 pixels and marks two of them.
    write_image(dir.file("mask.fits"), 40, 50, [](long x, long y) {
        return (x == 3 && y == 4) || (x == 40 && y == 50) ? 1.0f : 0.0f;
    });
    s.mask = "mask.fits";
    ProgramRun r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("-- WARNING:  The pixel mask is not the same size as the data."),
              std::string::npos);
    Hdu model = fitted_model();
    EXPECT_EQ(model.raw("NDOF"), std::to_string(60 * 50 - 2 - 3));
}

TEST_F(SkyFit, EstimatedSigmaImageWithoutOne)
{
    // No sigma image: it is made from the data (gain 2, read noise 5.24),
    // so chi^2 is no longer about 1 but the fit still lands on the truth.
    s.sigma = "none";
    ProgramRun r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("-- No sigma image.  Creating one using: GAIN=2.00, RDNOISE=5.24"),
              std::string::npos);
    Hdu model = fitted_model();
    Fitted level = card(model, "1_SKY");
    EXPECT_LT(std::fabs(level.value - truth.a1), 3 * level.error);
}

TEST_F(SkyFit, ConstraintsHoldTheFit)
{
    // A line refused, or a short line that ends the reading, is named on
    // its own; the file was read, so it is not reported as missing, and the
    // constraint before the line holds.
    const struct {
        const char *last, *said;
    } cases[] = {
        {"1 re 3 4",
         "-- Constraint file line 3 refused (the component type has no such parameter): 1 re 3 4"},
        {"1 2 0", "-- Constraint file line 3 has fewer than four words; the rest of the file is "
                  "not read: 1 2 0"},
        // A ratio that can never be met would double the level every step.
        {"1/1 sky 2 3",
         "-- Constraint file line 3 refused (a component paired with itself): 1/1 sky 2 3"},
    };
    s.cons = "cons.txt";
    for (const auto &c : cases) {
        spit(dir.file("cons.txt"),
             std::string("# keep the level low\n1 sky 80 to 95\n") + c.last + "\n");
        ProgramRun r = run();
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("No constraint file found"), std::string::npos) << r.out;
        EXPECT_NEAR(card(fitted_model(), "1_SKY").value, 95, 1e-4) << c.last;
    }
}

TEST_F(SkyFit, RegionsAgainstTheImage)
{
    const struct {
        int x1, x2, y1, y2;
        int status;
        const char *message;
    } cases[] = {
        {70, 80, 1, 10, 2,
         "The fitting region has either zero width or is completely outside of image."},
        {5, 5, 1, 10, 2,
         "The fitting region has either zero width or is completely outside of image."},
        {0, 80, -3, 20, 0, "-- WARNING: Fitting box exceeds image boundary; vignetting to fit."},
    };
    for (const auto &c : cases) {
        s.x1 = c.x1;
        s.x2 = c.x2;
        s.y1 = c.y1;
        s.y2 = c.y2;
        ProgramRun r = run();
        EXPECT_EQ(r.status, c.status) << c.x1 << " " << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    }
    Hdu model = fitted_model();
    EXPECT_EQ(model.text("FITSECT"), "[1:60,1:20]");
    EXPECT_EQ(model.nx, 60);
    EXPECT_EQ(model.ny, 20);
}

TEST_F(SkyFit, FailuresEndWithAMessageAndAStatus)
{
    // Every pixel masked: no degrees of freedom.
    write_image(dir.file("mask.fits"), 60, 50, [](long, long) { return 1.0f; });
    write_image(dir.file("small_sigma.fits"), 30, 50, [](long, long) { return 5.0f; });
    write_image(dir.file("zero_sigma.fits"), 60, 50, [](long, long) { return 0.0f; });
    // Sigma images far too small for the data, whole (no pixel far below the
    // rest): weights 1e38 make the start's chi^2 infinite in single
    // precision.  The same plane in units 1e19 times smaller, with its own
    // sigma image, gives a finite chi^2, but the slopes' derivatives (up to
    // 29.5) times the weights 4e36 overflow its curvature.
    write_image(dir.file("tiny_sigma.fits"), 60, 50, [](long, long) { return 1e-19f; });
    write_image(
        dir.file("flux.fits"), 60, 50,
        with_noise([this](long x, long y) { return 1e-19 * truth.at(x, y); }, 5e-19, 12345));
    write_image(dir.file("flux_sigma.fits"), 60, 50, [](long, long) { return 5e-19f; });
    const struct {
        const char *what;
        Settings s;
        std::string comps;
        int status;
        const char *message;
    } cases[] = {
        {"all masked", {"data.fits", "sigma.fits", "mask.fits"}, start, 2, "(NDOF = -3)"},
        {"sigma of another size",
         {"data.fits", "small_sigma.fits"},
         start,
         1,
         "-- ERROR: The sigma image small_sigma.fits is 30 x 50 pixels, the data image 60 x 50."},
        {"sigma all zero",
         {"data.fits", "zero_sigma.fits"},
         start,
         1,
         "-- ERROR: The sigma image zero_sigma.fits has no pixel"},
        {"sigma far too small: chi^2",
         {"data.fits", "tiny_sigma.fits"},
         start,
         3,
         "-- ERROR: Chi^2 of the initial model is not a finite number,\n"
         "   though the model and its residuals are: the sigma image's values are too\n"
         "   small for the data's scale, and their weights 1/sigma^2 overflow the sums\n"
         "   (the smallest sigma used is 1e-19).  Quitting now."},
        {"sigma far too small: curvature",
         {"flux.fits", "flux_sigma.fits"},
         sky_component(9e-18, 0, 0),
         3,
         "-- ERROR: The curvature of Chi^2 of the initial model is not a finite number,\n"
         "   though the model and its residuals are: the sigma image's values are too\n"
         "   small for the data's scale, and their weights 1/sigma^2 overflow the sums\n"
         "   (the smallest sigma used is 5e-19).  Quitting now."},
        {"chi^2 not a number",
         {"data.fits", "sigma.fits"},
         "0) sersic\n1) 30 25 1 1\n3) -45 1\n4) 5 1\n5) 2 1\n8) 0.8 1\n9) 0 1\nZ) 0\n" + start,
         3,
         "-- ERROR: Chi^2 of the initial model is not a number"},
        {"a magnitude past 1e30 counts",
         {"data.fits", "sigma.fits"},
         "0) sersic\n1) 30 25 1 1\n3) -100 1\n4) 5 1\n5) 2 1\n8) 0.8 1\n9) 0 1\nZ) 0\n" + start,
         1,
         "-- Component 1 (sersic), parameter 3: The magnitude asks for more than 1e30 counts"},
    };
    for (const auto &c : cases) {
        ProgramRun r = run_torvex(dir, param_file(c.s, c.comps));
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_EQ(access(dir.file("fit.log").c_str(), F_OK), -1) << c.what;
    }
}

TEST_F(SkyFit, UnconstrainedParametersStillGiveTheOutputs)
{
    // Two sky levels that only their sum constrains: the curvature matrix of
    // the finished fit is singular.
    std::string comps = sky_component(50, 0, 0) + sky_component(40, 0, 0);
    for (int slot : {2, 3})
        for (size_t at = 0;
             (at = comps.find(std::to_string(slot) + ") 0 1", at)) != std::string::npos;)
            comps.replace(at, 6, std::to_string(slot) + ") 0 0");
    ProgramRun r = run_torvex(dir, param_file(s, comps));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("-- WARNING: The curvature matrix is singular"), std::string::npos)
        << r.out;
    Hdu model = fitted_model();
    Fitted a = card(model, "1_SKY"), b = card(model, "2_SKY");
    EXPECT_NEAR(a.value + b.value, truth.a1, 0.5);
    EXPECT_EQ(a.error, 0);
    EXPECT_NE(slurp(dir.file("fit.log")).find("Chi^2"), std::string::npos);
}

TEST_F(SkyFit, ParametersThatChi2DoesNotSeeAreHeld)
{
    // A King profile far outside the region and a point source without a
    // PSF image change no pixel: their free parameters are held, with a
    // warning, and the sky is fitted as if they were not there.
    const std::string comps =
        "0) king\n1) 200 200 1 1\n3) 18 1\n4) 3 1\n5) 20 1\n6) 2 1\n8) 0.8 1\n9) 10 1\n"
        "10) 0 0\nZ) 0\n0) psf\n1) 20 20 1 1\n3) 18 1\nZ) 0\n" +
        start;
    ProgramRun r = run_torvex(dir, param_file(s, comps));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("-- WARNING: Chi^2 does not change with parameters 1, 2, 3, 4, 5, 6, 8, 9 "
                         "of component 1 (king),"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("-- WARNING: Chi^2 does not change with parameters 1, 2, 3 of component "
                         "2 (psf),"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("The curvature matrix is singular"), std::string::npos) << r.out;
    Hdu model = fitted_model();
    EXPECT_EQ(model.text("1_XCENT"), "200.0000 +/- 0.0000");
    EXPECT_EQ(model.text("1_Rc"), "3.0000 +/- 0.0000");
    EXPECT_EQ(model.text("2_MAG"), "18.0000 +/- 0.0000");
    // Eleven held and three fitted parameters are free: NDOF counts them all.
    EXPECT_EQ(model.raw("NDOF"), std::to_string(60 * 50 - 14));
    Fitted level = card(model, "3_SKY");
    EXPECT_NEAR(level.error, 5 / std::sqrt(60.0 * 50) * std::sqrt(std::stod(model.raw("CHI2NU"))),
                1e-3);
    EXPECT_LT(std::fabs(level.value - truth.a1), 3 * level.error);
    EXPECT_NE(slurp(dir.file("fit.log")).find("Chi^2"), std::string::npos);
}

TEST_F(SkyFit, UnwritableLogIsReported)
{
    ASSERT_EQ(mkdir(dir.file("fit.log").c_str(), 0755), 0);
    ProgramRun r = run();
    EXPECT_EQ(r.status, 1) << r.out << r.err; // an output is missing
    EXPECT_NE(r.out.find("Cannot open fit.log"), std::string::npos) << r.out;
    EXPECT_EQ(count_hdus(dir.file("block.fits")), 4);
}

// The files of a folder, by name.
std::vector<std::string> files_in(const std::string &path)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(path.c_str())) {
        while (dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(SkyFit, OutputThatCannotBeCreatedIsRefusedBeforeTheFit)
{
    // An older output stays where it is; nothing is fitted or written.
    spit(dir.file("old.fits"), "an older output");
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    const struct {
        const char *line, *said;
    } cases[] = {
        {"B) /nonexistent/out.fits",
         "-- ERROR: The output image /nonexistent/out.fits cannot be written"},
        {"B) out.fits.gz", "-- ERROR: The output image out.fits.gz cannot be written"},
        {"B) out.fits[1]", "-- ERROR: The output image out.fits[1] cannot be written"},
        {"B) old.fits.gz", "-- ERROR: The output image old.fits.gz cannot be written"},
        {"B)", "-- ERROR: No output image is named (B)."},
        {"", "-- ERROR: No output image is named (B)."}, // no B line at all
        {"B) sub", "-- ERROR: The output image sub is a folder."},
        {"B) sub/", "-- ERROR: The output image sub/ is a folder."},
    };
    for (const auto &c : cases) {
        std::string param = param_file(s, start);
        param.replace(param.find("B) block.fits"), 13, c.line);
        std::vector<std::string> expected = files_in(dir.path());
        for (const char *made : {"run.param", "stdout", "stderr"})
            if (std::find(expected.begin(), expected.end(), made) == expected.end())
                expected.push_back(made);
        std::sort(expected.begin(), expected.end());
        ProgramRun r = run_torvex(dir, param);
        EXPECT_EQ(r.status, 1) << c.line << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(c.said), std::string::npos) << c.line << "\n" << r.out;
        EXPECT_EQ(r.out.find("Iteration"), std::string::npos) << c.line;
        // No output, restart file, log or scratch file.
        EXPECT_EQ(files_in(dir.path()), expected) << c.line;
    }
    EXPECT_EQ(slurp(dir.file("old.fits")), "an older output");
}

TEST_F(SkyFit, OutputNamingAnInputIsRefusedWithNothingLeftBehind)
{
    // Two components, so that the list holds a node of its own: the
    // refusal frees it (a leak checker would otherwise end the run with its
    // own status, over the message).
    const std::string two = start + sky_component(1, 0, 0);
    const std::string data_before = slurp(dir.file("data.fits"));
    for (const char *input : {"data.fits", "sigma.fits"}) {
        std::string param = param_file(s, two);
        param.replace(param.find("B) block.fits"), 13, std::string("B) ") + input);
        ProgramRun r = run_torvex(dir, param);
        EXPECT_EQ(r.status, 1) << input << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(std::string("-- ERROR: The output image ") + input + " is the "),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.err, "") << input;
    }
    EXPECT_EQ(slurp(dir.file("data.fits")), data_before);
}

TEST_F(SkyFit, OutputThatFailsAfterTheFitKeepsTheRestartFileAndTheLog)
{
    // Files may grow to 20 kB (40 blocks of 512 bytes): enough for the
    // restart file and the log, not for the output block.  The signal that
    // the limit raises is left as the shell has it: torvex must not die of
    // it.
    spit(dir.file("run.param"), param_file(s, start));
    const ProgramRun r = run_in(dir, "ulimit -f 40 && '" TORVEX_BIN "' run.param");
    ASSERT_NE(r.status, -1);
    EXPECT_EQ(r.status, 1);
    const std::string out = slurp(dir.file("stdout"));
    EXPECT_NE(out.find("Iteration : 1 "), std::string::npos);
    EXPECT_NE(out.find("-- ERROR: The output image block.fits could not be written"),
              std::string::npos)
        << out;
    EXPECT_NE(slurp(dir.file("stderr")).find("FITSIO status = "), std::string::npos);
    EXPECT_EQ(access(dir.file("block.fits").c_str(), F_OK), -1); // the part written is gone
    const std::string restart = slurp(dir.file("torvex.01"));
    const size_t level = restart.find("\n 1) ");
    ASSERT_NE(level, std::string::npos) << restart;
    EXPECT_NEAR(std::stod(restart.substr(level + 5)), truth.a1, 1) << restart; // fitted
    const std::string log = slurp(dir.file("fit.log"));
    EXPECT_NE(log.find("Output image    : block.fits (not written)"), std::string::npos) << log;
    EXPECT_NE(log.find("Restart file    : torvex.01"), std::string::npos) << log;
}

TEST_F(SkyFit, OutputNamedLikeTheLogIsRefused)
{
    // The run appends its log entry to fit.log after writing the output:
    // the log would be lost and the output no FITS file.  Refused before
    // the fit whether the log exists yet or not.
    const std::string log = "an earlier entry\n";
    const struct {
        const char *output;
        bool log_exists;
    } cases[] = {{"fit.log", true}, {"fit.log", false}, {"./fit.log", false}, {"fit.log[1]", true}};
    for (const auto &c : cases) {
        remove(dir.file("fit.log").c_str());
        if (c.log_exists)
            spit(dir.file("fit.log"), log);
        std::string param = param_file(s, start);
        param.replace(param.find("B) block.fits"), 13, std::string("B) ") + c.output);
        ProgramRun r = run_torvex(dir, param);
        EXPECT_EQ(r.status, 1) << c.output << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(std::string("-- ERROR: The output image ") + c.output +
                             " is the log fit.log"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("Iteration"), std::string::npos) << c.output;
        if (c.log_exists)
            EXPECT_EQ(slurp(dir.file("fit.log")), log) << c.output;
        else
            EXPECT_EQ(access(dir.file("fit.log").c_str(), F_OK), -1) << c.output;
    }
}

TEST_F(SkyFit, FoldersNamedAsOptionalInputsAreReportedAndSkipped)
{
    // A folder opens for reading but holds no lines: it is reported as a
    // file that cannot be read, and the run goes on without it.
    ASSERT_EQ(mkdir(dir.file("somedir").c_str(), 0755), 0);
    write_image(dir.file("psf.fits"), 8, 8, [](long x, long y) {
        return static_cast<float>(std::exp(-((x - 4.5) * (x - 4.5) + (y - 4.5) * (y - 4.5)) / 4));
    });
    const struct {
        const char *line, *replaces, *said;
    } cases[] = {
        {"F) somedir", "F) none", "-- No masking image used."},
        {"G) somedir", "G) none", "-- No constraint file found, or error in constraint file."},
        {"D) psf.fits somedir\nE) 2", "D) none\nE) 1",
         "-- No CCD charge diffusion kernel applied."},
    };
    for (const auto &c : cases) {
        std::string param = param_file(s, start);
        param.replace(param.find(c.replaces), strlen(c.replaces), c.line);
        ProgramRun r = run_torvex(dir, param);
        EXPECT_EQ(r.status, 0) << c.line << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(c.said), std::string::npos) << c.line << "\n" << r.out;
        EXPECT_NEAR(card(fitted_model(), "1_SKY").value, truth.a1, 1) << c.line;
    }
}

TEST_F(SkyFit, AFitThatTakesNoStepSaysSo)
{
    // Constraints that pin every free parameter: no step can lower chi^2,
    // and the parameters written are where the fit started.
    spit(dir.file("cons.txt"), "1 sky 95 to 95\n1 2 0 to 0\n1 3 0 to 0\n");
    s.cons = "cons.txt";
    ProgramRun r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("-- WARNING: No step of the fit lowered Chi^2, so the parameters are "
                         "still\n   the start values"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(fitted_model().text("1_SKY").substr(0, 7), "95.0000");
    // Below the reduced chi^2, before the closing rule.
    const std::string log = slurp(dir.file("fit.log"));
    const std::string note = " No step of the fit lowered Chi^2: start values, not a fit.\n";
    const size_t at = log.find(note);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.compare(log.rfind('\n', at - 2) + 1, 12, " Chi^2/nu = "), 0) << log;
    EXPECT_EQ(log.compare(at + note.size(), 3, "\n--"), 0) << log;

    // A fit that moves has neither.
    s.cons = "none";
    r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("No step of the fit"), std::string::npos) << r.out;
    const std::string both = slurp(dir.file("fit.log"));
    EXPECT_EQ(both.find("No step of the fit", both.find("torvex.02")), std::string::npos) << both;
}

TEST(BoxyFit, LargeBoxinessFitsAndBeyondItsBoundIsRefused)
{
    // A round spot on a sky, fitted with the boxiness held at a large value:
    // the powers of the radius outgrow a double in the corners, which left
    // the curvature not a number and ended the run.  Past the bound the
    // value is refused and the line ignored.
    ScratchDir dir;
    write_image(dir.file("data.fits"), 40, 40,
                with_noise(
                    [](long x, long y) {
                        const double r2 = (x - 20.3) * (x - 20.3) + (y - 19.8) * (y - 19.8);
                        return 100 + 500 * std::exp(-r2 / 8);
                    },
                    5, 4242));
    write_image(dir.file("sigma.fits"), 40, 40, [](long, long) { return 5.0f; });
    Settings s;
    s.sigma = "sigma.fits";
    s.x2 = s.y2 = 40;
    const struct {
        const char *c;
        const char *fitted_c;
        bool refused;
    } cases[] = {{"300", "300.0000 +/- 0.0000", false}, {"1001", "0.0000 +/- 0.0000", true}};
    for (const auto &c : cases) {
        const std::string comps =
            std::string("0) gaussian\n1) 20 20 1 1\n3) 16 1\n4) 4 1\n8) 0.8 1\n"
                        "9) 0 1\n10) ") +
            c.c + " 0\nZ) 0\n" + sky_component(100, 0, 0);
        ProgramRun r = run_torvex(dir, param_file(s, comps));
        ASSERT_EQ(r.status, 0) << c.c << "\n" << r.out << r.err;
        EXPECT_EQ(r.out.find("Numerical Recipes"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("-- The diskiness/boxiness must be from -1.9 to 1000; " +
                             std::string(c.c) + " refused.") != std::string::npos,
                  c.refused)
            << r.out;
        Hdu model = read_hdu(dir.file("block.fits"), 3);
        EXPECT_EQ(model.text("1_C"), c.fitted_c);
        EXPECT_NEAR(card(model, "1_XCENT").value, 20.3, 0.05) << c.c;
        EXPECT_NEAR(card(model, "1_YCENT").value, 19.8, 0.05) << c.c;
    }
}

// ---- a Sersic galaxy on a sky -------------------------------------------

const char *sersic_block = "0) sersic\n1) %g %g 1 1\n3) %g 1\n4) %g 1\n5) %g 1\n"
                           "8) %g 1\n9) %g 1\n10) 0 0\nZ) 0\n";

std::string sersic_component(double x, double y, double mag, double re, double n, double q,
                             double pa)
{
    char buf[256];
    snprintf(buf, sizeof buf, sersic_block, x, y, mag, re, n, q, pa);
    return buf;
}

TEST(SersicFit, RecoversTheGalaxyFromNoisyData)
{
    ScratchDir dir;
    // The noiseless galaxy, rendered by a create-only run.
    const double x0 = 33.3, y0 = 30.6, mag = 16.5, re = 6.5, n = 1.8, q = 0.65, pa = 35;
    Settings make;
    make.data = "none";
    make.x2 = 64;
    make.y2 = 60;
    make.create = 1;
    ProgramRun r = run_torvex(dir, param_file(make, sersic_component(x0, y0, mag, re, n, q, pa)));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    Hdu galaxy = read_hdu(dir.file("block.fits"), 1);
    ASSERT_EQ(galaxy.nx, 64);
    ASSERT_EQ(galaxy.ny, 60);

    // Data: galaxy + sky 40 + noise of sqrt(10 + counts / 2), and that sigma.
    const double sky = 40;
    std::mt19937 rng(2024);
    std::normal_distribution<double> unit(0, 1);
    auto sigma_at = [&](long x, long y) { return std::sqrt(10 + (galaxy.at(x, y) + sky) / 2); };
    write_image(dir.file("data.fits"), 64, 60, [&](long x, long y) {
        return static_cast<float>(galaxy.at(x, y) + sky + sigma_at(x, y) * unit(rng));
    });
    write_image(dir.file("sigma.fits"), 64, 60,
                [&](long x, long y) { return static_cast<float>(sigma_at(x, y)); });

    Settings fit;
    fit.sigma = "sigma.fits";
    fit.x2 = 64;
    fit.y2 = 60;
    r = run_torvex(dir, param_file(fit, sersic_component(34.2, 29.9, 16.9, 8, 2.5, 0.75, 50) +
                                            sky_component(38, 0, 0)));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    Hdu model = read_hdu(dir.file("block.fits"), 3);
    double chi2nu = std::stod(model.raw("CHI2NU"));
    EXPECT_NEAR(chi2nu, 1, 0.1);
    EXPECT_EQ(model.raw("NDOF"), std::to_string(64 * 60 - 10));
    const struct {
        const char *key;
        double truth;
    } params[] = {
        {"1_XCENT", x0}, {"1_YCENT", y0}, {"1_MAG", mag}, {"1_RE", re},    {"1_N", n},
        {"1_AR", q},     {"1_PA", pa},    {"2_SKY", sky}, {"2_DSKYDX", 0}, {"2_DSKYDY", 0},
    };
    std::map<std::string, double> fitted;
    for (const auto &p : params) {
        Fitted f = card(model, p.key);
        fitted[p.key] = f.value;
        EXPECT_GT(f.error, 0) << p.key;
        EXPECT_LT(std::fabs(f.value - p.truth), 4 * f.error)
            << p.key << " = " << f.value << " +/- " << f.error;
    }

    // The restart file holds the fitted values, in image coordinates.
    std::string restart = slurp(dir.file("torvex.02"));
    char line[128];
    snprintf(line, sizeof line, " 1) %.4f %.4f 1 1", fitted["1_XCENT"], fitted["1_YCENT"]);
    EXPECT_NE(restart.find(line), std::string::npos) << line << "\n" << restart;
    snprintf(line, sizeof line, " 4) %.4f ", fitted["1_RE"]);
    EXPECT_NE(restart.find(line), std::string::npos) << line << "\n" << restart;
    snprintf(line, sizeof line, " 1) %.4f ", fitted["2_SKY"]);
    EXPECT_NE(restart.find(line), std::string::npos) << line << "\n" << restart;
    EXPECT_NE(restart.find("P) 0 "), std::string::npos);
}

TEST(SersicFit, FitRegionCoordinatesAndBack)
{
    // A galaxy at (120, 80) fitted in the region [101:160,51:110]: the
    // header and the restart file give image coordinates.
    ScratchDir dir;
    Settings make;
    make.data = "none";
    make.x2 = 200;
    make.y2 = 150;
    make.create = 1;
    ProgramRun r = run_torvex(dir, param_file(make, sersic_component(120, 80, 17, 4, 1.5, 0.8, 0)));
    ASSERT_EQ(r.status, 0) << r.out;
    Hdu galaxy = read_hdu(dir.file("block.fits"), 1);
    write_image(dir.file("data.fits"), 200, 150,
                [&](long x, long y) { return galaxy.at(x, y) + 10.0f; });
    Settings fit;
    fit.x1 = 101;
    fit.x2 = 160;
    fit.y1 = 51;
    fit.y2 = 110;
    r = run_torvex(dir, param_file(fit, sersic_component(121, 79, 17.2, 4.5, 1.5, 0.8, 0) +
                                            sky_component(10, 0, 0)));
    ASSERT_EQ(r.status, 0) << r.out;
    Hdu model = read_hdu(dir.file("block.fits"), 3);
    EXPECT_NEAR(card(model, "1_XCENT").value, 120, 0.01);
    EXPECT_NEAR(card(model, "1_YCENT").value, 80, 0.01);
    EXPECT_EQ(model.text("2_XCENT"), "130.5000");
    EXPECT_NE(r.out.find(" sky      : [130.50,  80.50]"), std::string::npos) << r.out;
    EXPECT_NE(slurp(dir.file("torvex.02")).find(" 1) 120.0"), std::string::npos);

    // An absolute range of a position is in image coordinates too.
    spit(dir.file("cons"), "1 x 119 to 119.5\n1 y 80.5 to 81\n");
    fit.cons = "cons";
    r = run_torvex(dir, param_file(fit, sersic_component(121, 79, 17.2, 4.5, 1.5, 0.8, 0) +
                                            sky_component(10, 0, 0)));
    ASSERT_EQ(r.status, 0) << r.out;
    model = read_hdu(dir.file("block.fits"), 3);
    EXPECT_NEAR(card(model, "1_XCENT").value, 119.5, 1e-3);
    EXPECT_NEAR(card(model, "1_YCENT").value, 80.5, 1e-3);
}

// ---- the example fit under constraints -----------------------------------

TEST(ExampleFit, ConstraintsNeitherFreezeTheFitNorActOnOtherParameters)
{
    // The example galaxy (truth: x 32.6, magnitude 15, R_e 5, sky 100) from
    // the example's start (x 33, magnitude 15.5, R_e 7, sky 90).
    ScratchDir dir;
    spit(dir.file("sersic_galaxy.fits"), slurp(EXAMPLES_DIR "/sersic_galaxy.fits"));
    std::string param = slurp(EXAMPLES_DIR "/fit.param");
    param.replace(param.find("G) none"), 7, "G) cons");
    spit(dir.file("fit.param"), param);
    const char *no_such = "line 1 refused (the component type has no such parameter)";
    const struct {
        const char *line, *said, *key;
        double value;
    } cases[] = {
        // Names the sky does not have: refused, and the fit is free.
        {"2 y 1 to 2", no_such, nullptr, 0},
        {"2 mag 10 to 12", no_such, nullptr, 0},
        {"1-2 y -0.5 0.5", no_such, nullptr, 0},
        // Ranges that exclude the start: the fit starts at the nearest bound.
        {"2 sky 50 to 60", "the start value 90 is outside its", "2_SKY", 60},
        {"1 mag 10 to 12", "the start value 15.5 is outside its", "1_MAG", 12},
        {"1 re 8 to 10", "the start value 7 is outside its", "1_RE", 8},
    };
    for (const auto &c : cases) {
        spit(dir.file("cons"), std::string(c.line) + "\n");
        const ProgramRun r = run_in(dir, "'" TORVEX_BIN "' fit.param");
        ASSERT_EQ(r.status, 0) << c.line << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(c.said), std::string::npos) << c.line << "\n" << r.out;
        EXPECT_EQ(r.out.find("No step of the fit"), std::string::npos) << c.line;
        Hdu model = read_hdu(dir.file("fitblock.fits"), 3);
        if (c.key) {
            EXPECT_NEAR(card(model, c.key).value, c.value, 1e-3) << c.line;
        } else {
            EXPECT_NEAR(std::stod(model.raw("CHI2NU")), 1, 0.1) << c.line;
            EXPECT_NEAR(card(model, "2_DSKYDY").value, 0, 0.01) << c.line;
        }
        // The galaxy has moved from its start towards its true centre.
        EXPECT_NEAR(card(model, "1_XCENT").value, 32.6, 0.2) << c.line;
    }
}

TEST(ExampleFit, SigmaPixelsThatCannotWeighAreLeftOut)
{
    // The example galaxy with a sigma image of sqrt(data), a pixel or two of
    // which are bad: a pixel whose sigma is not a positive number with a
    // finite weight 1/sigma^2, or is more than 1e10 times below the median
    // sigma of the image, leaves the fit as one whose sigma is not a number
    // does, so the fit is that one's to the last digit.
    ScratchDir dir;
    spit(dir.file("sersic_galaxy.fits"), slurp(EXAMPLES_DIR "/sersic_galaxy.fits"));
    const Hdu galaxy = read_hdu(dir.file("sersic_galaxy.fits"));
    ASSERT_TRUE(galaxy.ok());
    std::string param = slurp(EXAMPLES_DIR "/fit.param");
    param.replace(param.find("C) none"), 7, "C) sigma.fits");
    spit(dir.file("fit.param"), param);
    auto good = [&](long x, long y) { return std::sqrt(static_cast<float>(galaxy.at(x, y))); };
    // The sigma of pixels (1, 1), (2, 1), ... on the sky (about 10), in the
    // corner where the sky's slopes weigh most, replaced by the given values.
    struct Result {
        std::string out, chisq, ndof, sky;
    };
    auto fit_with = [&](std::vector<float> bad) {
        write_image(dir.file("sigma.fits"), 64, 64, [&](long x, long y) {
            const long i = x - 1;
            return y == 1 && i < static_cast<long>(bad.size()) ? bad[i] : good(x, y);
        });
        const ProgramRun run = run_in(dir, "'" TORVEX_BIN "' fit.param");
        Result r;
        r.out = run.out;
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        if (run.status != 0)
            return r;
        const Hdu model = read_hdu(dir.file("fitblock.fits"), 3);
        r.chisq = model.raw("CHISQ");
        r.ndof = model.raw("NDOF");
        r.sky = model.text("2_SKY");
        return r;
    };
    const char *one =
        "-- WARNING: 1 pixel of the fit region has a sigma that cannot weigh it: not a\n"
        "   positive number whose weight 1/sigma^2 is finite, or more than 1e10 "
        "times\n   below the median sigma of the image; it is left out of the fit.";
    const Result nan = fit_with({NAN});
    EXPECT_EQ(nan.ndof, std::to_string(64 * 64 - 10 - 1));
    EXPECT_NE(nan.out.find(one), std::string::npos) << nan.out;

    // The smallest sigma of the rest of the image is about 10.
    const struct {
        const char *what;
        float value;
    } cases[] = {
        {"negative", -5},
        {"weight overflows", 1e-30f},
        {"weight denormal", 1e-20f},
        {"infinite", INFINITY},
        {"minus infinity", -INFINITY},
        // Weights that the fit's single-precision products cannot take:
        // chi^2 of the start would be infinite, or its curvature.
        {"1e20 times the weight of the rest", 1e-19f},
        {"weight 1e37", 3e-19f},
        {"curvature overflows", 5e-19f},
        {"curvature overflows too", 1e-18f},
        // Finite, but a single pixel would outweigh the image.
        {"weight 1e34", 1e-17f},
        {"just below 1e-10 of the median", 9e-10f},
    };
    for (const auto &c : cases) {
        const Result r = fit_with({c.value});
        EXPECT_NE(r.out.find(one), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_EQ(r.chisq, nan.chisq) << c.what;
        EXPECT_EQ(r.ndof, nan.ndof) << c.what;
        EXPECT_EQ(r.sky, nan.sky) << c.what;
    }

    // A zero (of either sign) is no bad pixel but a missing value: it takes
    // the image's smallest usable sigma and stays in the fit.  A negative
    // pixel beside it lends it no magnitude and leaves the fit, and so does
    // a tiny one.
    float smallest = INFINITY;
    for (long y = 1; y <= 64; y++)
        for (long x = 1; x <= 64; x++)
            if (y != 1 || x > 3)
                smallest = std::min(smallest, good(x, y));
    char low[128];
    snprintf(low, sizeof low, "-- WARNING: Sigma image has 0. values.  Set to a low value of %.2e.",
             smallest);
    const char *two = "-- WARNING: 2 pixels of the fit region have a sigma that cannot weigh them: "
                      "not a\n   positive number whose weight 1/sigma^2 is finite, or more than "
                      "1e10 times\n   below the median sigma of the image; they are left out of "
                      "the fit.";
    for (float zero : {0.0f, -0.0f}) {
        const Result r = fit_with({zero, -0.5f, 1e-12f});
        EXPECT_NE(r.out.find(low), std::string::npos) << low << "\n" << r.out;
        EXPECT_NE(r.out.find(two), std::string::npos) << r.out;
        EXPECT_EQ(r.ndof, std::to_string(64 * 64 - 10 - 2));
        EXPECT_NE(r.chisq, nan.chisq);
    }
    const Result r = fit_with({-5, 1e-30f});
    EXPECT_NE(r.out.find(two), std::string::npos) << r.out;
    EXPECT_EQ(r.ndof, std::to_string(64 * 64 - 10 - 2));
}

// ---- every profile type on a sky -----------------------------------------

// One component type: its true shape and radial profile (counts per pixel
// at the radius along the major axis, computed here from the profile's
// definition), the lines 3 to 7 of its block with start values away from
// the truth, and the true values of its own header cards.
struct ProfileCase {
    const char *type;
    truth::Ellipse shape;
    std::function<double(double)> profile;
    const char *start;
    std::vector<std::pair<const char *, double>> own;
};

double flux_of(double mag)
{
    return std::pow(10.0, (26 - mag) / 2.5);
}

// Zeropoint 26 and plate scale 0.1 x 0.1: 21 mag per pixel is one count.
double per_pixel(double mu)
{
    return std::pow(10.0, (mu - 21) / -2.5);
}

TEST(ProfileFit, EachTypeRecoversItsTruth)
{
    const double sigma_g = 5 / 2.35482;
    const double moffat_rd = 4 / (2 * std::sqrt(std::pow(2.0, 1 / 2.5) - 1));
    truth::Sersic devauc{24.2, 23.7, 16, 5, 4, 0.7, 25};
    devauc.prepare();
    const ProfileCase cases[] = {
        {"expdisk",
         {24.3, 23.6, 0.6, 30},
         [](double r) { return flux_of(16) / (2 * M_PI * 4 * 4 * 0.6) * std::exp(-r / 4); },
         "3) 16.4 1\n4) 5 1\n",
         {{"MAG", 16}, {"Rs", 4}}},
        {"gaussian",
         {23.8, 24.4, 0.7, -50},
         [=](double r) {
             return flux_of(16.5) / (2 * M_PI * sigma_g * sigma_g * 0.7) *
                    std::exp(-r * r / (2 * sigma_g * sigma_g));
         },
         "3) 16.9 1\n4) 6 1\n",
         {{"MAG", 16.5}, {"FWHM", 5}}},
        {"moffat",
         {24.6, 23.9, 0.8, 70},
         [=](double r) {
             return flux_of(16) * 1.5 / (M_PI * moffat_rd * moffat_rd * 0.8) *
                    std::pow(1 + r * r / (moffat_rd * moffat_rd), -2.5);
         },
         "3) 16.3 1\n4) 5 1\n5) 3.2 1\n",
         {{"MAG", 16}, {"FWHM", 4}, {"POW", 2.5}}},
        {"king",
         {24.1, 24.2, 0.75, 10},
         [](double r) {
             if (r >= 15)
                 return 0.0;
             const double w = 1 / std::sqrt(1 + r * r / 9) - 1 / std::sqrt(1 + 225 / 9.0);
             return per_pixel(13.5) * w * w;
         },
         "3) 13.8 1\n4) 3.5 1\n5) 13 1\n6) 2.3 1\n",
         {{"MU0", 13.5}, {"Rc", 3}, {"Rt", 15}, {"alpha", 2}}},
        {"nuker",
         {23.7, 24.3, 0.8, -20},
         [](double r) {
             // alpha 2, beta 3, gamma 0.5, Rb 5
             return std::pow(2.0, (3 - 0.5) / 2) * per_pixel(15.5) * std::pow(5 / r, 0.5) *
                    std::pow(1 + (r / 5) * (r / 5), (0.5 - 3) / 2);
         },
         "3) 15.8 1\n4) 6 1\n5) 2.5 1\n6) 2.6 1\n7) 0.7 1\n",
         {{"MU", 15.5}, {"Rb", 5}, {"alpha", 2}, {"beta", 3}, {"gamma", 0.5}}},
        {"devauc",
         {devauc.x0, devauc.y0, devauc.q, devauc.pa},
         [&](double r) { return devauc.of_radius(r, 26); },
         "3) 16.4 1\n4) 6 1\n",
         {{"MAG", 16}, {"Re", 5}}},
    };
    const long N = 48;
    const double sky = 50;
    unsigned seed = 7;
    for (const ProfileCase &c : cases) {
        SCOPED_TRACE(c.type);
        ScratchDir dir;
        // Pixel means: finely near the centre, where the profiles curve most.
        auto light = [&](long x, long y) {
            const int k = std::hypot(x - c.shape.x0, y - c.shape.y0) < 4 ? 40 : 6;
            return truth::pixel_mean(
                [&](double u, double v) { return c.profile(c.shape.radius(u, v)); }, x, y, k);
        };
        std::vector<double> model(N * N);
        for (long y = 1; y <= N; y++)
            for (long x = 1; x <= N; x++)
                model[(y - 1) * N + (x - 1)] = light(x, y);
        auto sigma_at = [&](long x, long y) {
            return std::sqrt(10 + (model[(y - 1) * N + (x - 1)] + sky) / 2);
        };
        std::mt19937 rng(seed++);
        std::normal_distribution<double> unit(0, 1);
        write_image(dir.file("data.fits"), N, N, [&](long x, long y) {
            return static_cast<float>(model[(y - 1) * N + (x - 1)] + sky +
                                      sigma_at(x, y) * unit(rng));
        });
        write_image(dir.file("sigma.fits"), N, N,
                    [&](long x, long y) { return static_cast<float>(sigma_at(x, y)); });

        char head[160], tail[96];
        snprintf(head, sizeof head, "0) %s\n1) %g %g 1 1\n", c.type, c.shape.x0 + 0.6,
                 c.shape.y0 - 0.5);
        snprintf(tail, sizeof tail, "8) %g 1\n9) %g 1\n10) 0 0\nZ) 0\n", c.shape.q + 0.1,
                 c.shape.pa + 10);
        Settings fit;
        fit.sigma = "sigma.fits";
        fit.x2 = fit.y2 = N;
        ProgramRun r = run_torvex(
            dir, param_file(fit, std::string(head) + c.start + tail + sky_component(45, 0, 0)));
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        Hdu h = read_hdu(dir.file("block.fits"), 3);
        EXPECT_NEAR(std::stod(h.raw("CHI2NU")), 1, 0.1);
        std::vector<std::pair<std::string, double>> want = {{"1_XCENT", c.shape.x0},
                                                            {"1_YCENT", c.shape.y0},
                                                            {"1_AR", c.shape.q},
                                                            {"1_PA", c.shape.pa},
                                                            {"2_SKY", sky}};
        for (const auto &o : c.own)
            want.emplace_back(std::string("1_") + o.first, o.second);
        // One fit of each type: within four of its uncertainties (a single
        // realisation, so not a test of their size; see Uncertainties).
        for (const auto &w : want) {
            Fitted f = card(h, w.first);
            EXPECT_GT(f.error, 0) << w.first;
            EXPECT_LT(std::fabs(f.value - w.second), 4 * f.error)
                << w.first << " = " << f.value << " +/- " << f.error << ", truth " << w.second;
        }
    }
}

// ---- how well the uncertainties describe the scatter ----------------------

// A parameter of a component and its true value.
struct Truth {
    const char *key;
    double value;
};

// The scatter of (fitted - true) / reported uncertainty of each parameter
// over runs fits of an N x N image: the truth (component lines, on a flat
// sky) rendered noiselessly by a create-only run, with seeded noise added,
// fitted from start (which includes the sky).  1 for a correct uncertainty.
std::vector<double> pull_scatter(const std::string &truth, const std::string &start, long N,
                                 double sky, const std::vector<Truth> &params, int runs)
{
    ScratchDir dir;
    Settings make;
    make.data = "none";
    make.x2 = make.y2 = static_cast<int>(N);
    make.create = 1;
    ProgramRun r = run_torvex(dir, param_file(make, truth));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    if (r.status != 0)
        return {};
    const Hdu galaxy = read_hdu(dir.file("block.fits"), 1);
    EXPECT_EQ(galaxy.nx, N);
    auto sigma_at = [&](long x, long y) { return std::sqrt(10 + (galaxy.at(x, y) + sky) / 2); };
    write_image(dir.file("sigma.fits"), N, N,
                [&](long x, long y) { return static_cast<float>(sigma_at(x, y)); });

    const size_t nparams = params.size();
    std::vector<std::vector<double>> pulls(nparams);
    Settings fit;
    fit.sigma = "sigma.fits";
    fit.x2 = fit.y2 = static_cast<int>(N);
    for (int i = 0; i < runs; i++) {
        std::mt19937 rng(1000 + i);
        std::normal_distribution<double> unit(0, 1);
        write_image(dir.file("data.fits"), N, N, [&](long x, long y) {
            return static_cast<float>(galaxy.at(x, y) + sky + sigma_at(x, y) * unit(rng));
        });
        r = run_torvex(dir, param_file(fit, start));
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        if (r.status != 0)
            return {};
        Hdu model = read_hdu(dir.file("block.fits"), 3);
        for (size_t k = 0; k < nparams; k++) {
            Fitted f = card(model, params[k].key);
            EXPECT_GT(f.error, 0) << params[k].key;
            pulls[k].push_back((f.value - params[k].value) / f.error);
        }
    }
    std::vector<double> sd(nparams);
    for (size_t k = 0; k < nparams; k++) {
        double mean = 0, var = 0;
        for (double p : pulls[k])
            mean += p / runs;
        for (double p : pulls[k])
            var += (p - mean) * (p - mean) / (runs - 1);
        sd[k] = std::sqrt(var);
    }
    return sd;
}

TEST(Uncertainties, DescribeTheScatterOfRepeatedFits)
{
    // One Sersic galaxy on a sky, fitted in many noise realisations.
    const double x0 = 16.3, y0 = 15.6, mag = 17, re = 3.5, n = 1.5, q = 0.7, pa = 30;
    const double sky = 40;
    const std::vector<Truth> params = {
        {"1_XCENT", x0}, {"1_YCENT", y0}, {"1_MAG", mag}, {"1_RE", re},    {"1_N", n},
        {"1_AR", q},     {"1_PA", pa},    {"2_SKY", sky}, {"2_DSKYDX", 0}, {"2_DSKYDY", 0},
    };
    const std::string start =
        sersic_component(x0 + 0.1, y0 - 0.1, mag + 0.1, re * 1.05, n + 0.1, q + 0.03, pa + 3) +
        sky_component(sky - 1, 0, 0);
    std::vector<double> sd =
        pull_scatter(sersic_component(x0, y0, mag, re, n, q, pa), start, 32, sky, params, 40);
    for (size_t k = 0; k < sd.size(); k++) {
        EXPECT_GT(sd[k], 0.8) << params[k].key;
        EXPECT_LT(sd[k], 1.25) << params[k].key;
    }
}

std::string nuker_component(double x, double y, double mu, double rb, double alpha, double beta,
                            double gamma, double q, double pa)
{
    char buf[256];
    snprintf(buf, sizeof buf,
             "0) nuker\n1) %g %g 1 1\n3) %g 1\n4) %g 1\n5) %g 1\n6) %g 1\n7) %g 1\n8) %g 1\n"
             "9) %g 1\n10) 0 0\nZ) 0\n",
             x, y, mu, rb, alpha, beta, gamma, q, pa);
    return buf;
}

TEST(Uncertainties, NukerCentredOnAPixelCorner)
{
    // A bright Nuker whose centre lies on a pixel corner: its central
    // pixels are integrated, and the fit's steps and uncertainties come
    // from derivatives that must be those of that integration.
    const double x0 = 24.5, y0 = 23.5, mu = 12.5, rb = 5, al = 2, be = 3, ga = 0.5, q = 0.8,
                 pa = -20;
    const double sky = 40;
    const std::vector<Truth> params = {
        {"1_XCENT", x0}, {"1_YCENT", y0}, {"1_MU", mu}, {"1_Rb", rb}, {"1_alpha", al},
        {"1_beta", be},  {"1_gamma", ga}, {"1_AR", q},  {"1_PA", pa}, {"2_SKY", sky},
    };
    const std::string start = nuker_component(x0 + 0.1, y0 - 0.1, mu + 0.1, rb * 1.05, al + 0.1,
                                              be - 0.1, ga + 0.05, q + 0.03, pa + 3) +
                              sky_component(sky - 1, 0, 0);
    std::vector<double> sd = pull_scatter(nuker_component(x0, y0, mu, rb, al, be, ga, q, pa), start,
                                          48, sky, params, 60);
    for (size_t k = 0; k < sd.size(); k++) {
        EXPECT_GT(sd[k], 0.8) << params[k].key;
        EXPECT_LT(sd[k], 1.2) << params[k].key;
    }
}

} // namespace
