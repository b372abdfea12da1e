// The program end to end: create-only runs on real files in a scratch
// folder, their model against an independent integration of the profiles,
// and the files they write.
#include "common/fits.h"
#include "profile_truth.h"
#include "program_run.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace test_common;

namespace {

using truth::Sersic;

// The parameter file of a create-only run.
std::string create_file(const std::string &data, const std::string &sigma, const std::string &mask,
                        int x1, int x2, int y1, int y2, const std::string &components)
{
    return param_file({data, sigma, mask, "none", x1, x2, y1, y2, 1}, components);
}

const std::string two_components = R"(0) sersic
1) 30.3 25.6 1 1
3) 16.0 1
4) 6.0 1
5) 2.5 1
8) 0.7 1
9) 30.0 1
10) 0.0 0
Z) 0
0) devauc
1) 47.0 40.0 0 0
3) 17.5 0
4) 4.0 0
8) 0.9 0
9) -60.0 0
10) 0.0 0
Z) 0
)";

TEST(CreateRun, RendersTheModelAndWritesAllOutputs)
{
    ScratchDir dir;
    ProgramRun r =
        run_torvex(dir, create_file("nodata.fits", "none", "none", 11, 70, 11, 60, two_components));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("-- WARNING: No input data image found."), std::string::npos);
    EXPECT_EQ(r.err, "");

    // The model over the fit region, against the profiles integrated here.
    std::string block = dir.file("block.fits");
    ASSERT_EQ(count_hdus(block), 1);
    Hdu h = read_hdu(block, 1);
    ASSERT_EQ(h.nx, 60);
    ASSERT_EQ(h.ny, 50);
    Sersic gal{30.3, 25.6, 16.0, 6.0, 2.5, 0.7, 30.0}, bulge{47, 40, 17.5, 4, 4, 0.9, -60};
    gal.prepare();
    bulge.prepare();
    double worst = 0, sum_model = 0, sum_ref = 0;
    for (long y = 11; y <= 60; y++)
        for (long x = 11; x <= 70; x++) {
            bool central = std::hypot(x - gal.x0, y - gal.y0) < 3 ||
                           std::hypot(x - bulge.x0, y - bulge.y0) < 3;
            int k = central ? 200 : 16;
            double ref = gal.pixel(x, y, 26, k) + bulge.pixel(x, y, 26, k);
            double got = h.at(x - 10, y - 10);
            sum_model += got;
            sum_ref += ref;
            worst = std::max(worst, std::fabs(got / ref - 1));
            // Near the centres the pixels are integrated finely; further
            // out one sample per pixel leaves the curvature term, a few
            // 1e-3 at most for these profiles.
            ASSERT_NEAR(got / ref, 1, central ? 3e-3 : 5e-3) << x << "," << y;
        }
    EXPECT_NEAR(sum_model / sum_ref, 1, 1e-3);
    RecordProperty("worst_relative_error", std::to_string(worst));

    EXPECT_EQ(h.text("OBJECT"), "model");
    EXPECT_EQ(h.text("DATAIN"), "none");
    EXPECT_EQ(h.text("FITSECT"), "[11:70,11:60]");
    EXPECT_EQ(h.text("1_XCENT"), "30.3000 +/- 0.0000");
    EXPECT_EQ(h.text("1_N"), "2.5000 +/- 0.0000");
    EXPECT_EQ(h.text("COMP_2"), "devauc");
    EXPECT_EQ(h.text("2_RE"), "4.0000 +/- 0.0000");
    // No data: chi^2 of the model against the blank image, weighed by the
    // sigma image made from it; NDOF counts the pixels less the free
    // parameters.
    double chisq = std::stod(h.raw("CHISQ"));
    EXPECT_TRUE(std::isfinite(chisq) && chisq > 0) << chisq;
    EXPECT_EQ(h.raw("NDOF"), std::to_string(60 * 50 - 7));
    Verdict v = fitsverify(block);
    EXPECT_TRUE(v.clean) << v.report;

    // The restart file asks for a fit of the same components.
    std::string restart = slurp(dir.file("torvex.01"));
    EXPECT_NE(restart.find("A) none "), std::string::npos);
    EXPECT_NE(restart.find("P) 0 "), std::string::npos);
    EXPECT_NE(restart.find(" 1) 30.3000 25.6000 1 1"), std::string::npos) << restart;
    EXPECT_NE(restart.find(" 0)     devauc"), std::string::npos);

    std::string log = slurp(dir.file("fit.log"));
    EXPECT_NE(log.find("Input image     : none[11:70,11:60] \n"), std::string::npos) << log;
    EXPECT_NE(log.find("Restart file    : torvex.01 \n"), std::string::npos);
    EXPECT_NE(log.find(" sersic   : (30.30, 25.60)   16.00   6.00    2.50 "), std::string::npos)
        << log;
    EXPECT_NE(log.find(",  ndof = 2993\n"), std::string::npos);

    // A second run takes the next restart number and appends to the log.
    r = run_torvex(dir, slurp(dir.file("run.param")));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(slurp(dir.file("torvex.02")).find("P) 0 "), std::string::npos);
    EXPECT_EQ(slurp(dir.file("torvex.01")), restart);
    EXPECT_NE(slurp(dir.file("fit.log")).find(log + "-"), std::string::npos);
}

TEST(CreateRun, ChiSquareOfTheModelAgainstTheData)
{
    ScratchDir dir;
    // Data, sigma and mask of 80 x 70 pixels; a region inside them.
    write_image(dir.file("data.fits"), 80, 70,
                [](long x, long y) { return 5.0f + 0.1f * x - 0.05f * y; },
                {{"EXPTIME", "100"}, {"OBJECT", "NGC 4"}});
    write_image(dir.file("sigma.fits"), 80, 70,
                [](long x, long y) { return 1.0f + 0.01f * (x + y); });
    write_image(dir.file("mask.fits"), 80, 70, [](long x, long y) {
        return (x == 30 && y == 30) || (x == 31 && y == 12) ? 1.0f : 0.0f;
    });
    std::string one = two_components.substr(0, two_components.find("0) devauc"));
    ProgramRun r =
        run_torvex(dir, create_file("data.fits", "sigma.fits", "mask.fits", 21, 60, 11, 50, one));
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    Hdu model = read_hdu(dir.file("block.fits"), 1);
    ASSERT_EQ(model.nx, 40);
    ASSERT_EQ(model.ny, 40);
    Hdu data = read_hdu(dir.file("data.fits"), 1), sigma = read_hdu(dir.file("sigma.fits"), 1);
    double chisq = 0;
    for (long y = 11; y <= 50; y++)
        for (long x = 21; x <= 60; x++) {
            if ((x == 30 && y == 30) || (x == 31 && y == 12))
                continue;
            double d = data.at(x, y) - model.at(x - 20, y - 10), s = sigma.at(x, y);
            chisq += d * d / (s * s);
        }
    EXPECT_NEAR(std::stod(model.raw("CHISQ")), chisq, chisq * 1e-6);
    EXPECT_EQ(model.raw("NDOF"), std::to_string(40 * 40 - 2 - 7));
    // EXPTIME 100 raises the zeropoint by 5 magnitudes: the model is
    // 100 times brighter than with exposure time 1.
    Sersic gal{30.3, 25.6, 16.0, 6.0, 2.5, 0.7, 30.0};
    gal.prepare();
    EXPECT_NEAR(model.at(40 - 20, 40 - 10) / gal.pixel(40, 40, 31, 16), 1, 2e-3);
    EXPECT_NE(slurp(dir.file("torvex.01")).find("#  Chi^2/nu = "), std::string::npos);
}

TEST(CreateRun, InputFilesAreNeverDestroyed)
{
    ScratchDir dir;
    write_image(dir.file("data.fits"), 20, 20, [](long, long) { return 1.0f; });
    std::string before = slurp(dir.file("data.fits"));
    std::string one = two_components.substr(0, two_components.find("0) devauc"));
    std::string param = create_file("data.fits", "none", "none", 1, 20, 1, 20, one);

    const std::string outputs[] = {"data.fits", "./data.fits", "!data.fits", "run.param"};
    for (const std::string &out : outputs) {
        std::string p = param;
        p.replace(p.find("B) block.fits"), 13, "B) " + out);
        ProgramRun r = run_torvex(dir, p);
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_NE(r.out.find("-- ERROR: The output image " + out + " is the "), std::string::npos)
            << r.out;
        EXPECT_EQ(slurp(dir.file("data.fits")), before);
        EXPECT_NE(access(dir.file("torvex.01").c_str(), F_OK), 0); // nothing written
    }
}

TEST(CreateRun, UnreadableDataEndsTheRun)
{
    ScratchDir dir;
    spit(dir.file("data.fits"), "not an image\n");
    std::string one = two_components.substr(0, two_components.find("0) devauc"));
    ProgramRun r = run_torvex(dir, create_file("data.fits", "none", "none", 1, 20, 1, 20, one));
    EXPECT_EQ(r.status, 108);
    EXPECT_NE(r.out.find("Cannot read data.fits as a two-dimensional FITS image"),
              std::string::npos);
    EXPECT_NE(r.err.find("FITSIO status = 108"), std::string::npos);
    EXPECT_EQ(r.out.find("No input data image found"), std::string::npos);
    EXPECT_EQ(slurp(dir.file("block.fits")), "");
}

TEST(CreateRun, ComponentsThatCannotBeRenderedEndTheRunFirst)
{
    // Slots a parameter file never sets stay 0: a Sersic without its index
    // and a Moffat without its power law would render as NaN.
    ScratchDir dir;
    std::string comps = "0) sersic\n1) 20 20 1 1\n3) 16 1\n4) 5 1\nZ) 0\n"
                        "0) moffat\n1) 10 10 1 1\n3) 17 1\n4) 3 1\nZ) 0\n"
                        "0) gaussian\n1) 5 5 1 1\n3) 17 1\n4) 3 1\nZ) 0\n";
    ProgramRun r = run_torvex(dir, create_file("nodata.fits", "none", "none", 1, 40, 1, 40, comps));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("-- Component 1 (sersic), parameter 5: The Sersic index must be 0.055 "
                         "or more; 0 refused.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("-- Component 2 (moffat), parameter 5: The Moffat power law must be "
                         "above 1"),
              std::string::npos);
    EXPECT_EQ(r.out.find("Component 3"), std::string::npos);
    EXPECT_NE(r.out.find("-- Correct the parameter file; quitting now."), std::string::npos);
    // Nothing is rendered or written.
    EXPECT_NE(access(dir.file("block.fits").c_str(), F_OK), 0);
    EXPECT_NE(access(dir.file("torvex.01").c_str(), F_OK), 0);
    EXPECT_NE(access(dir.file("fit.log").c_str(), F_OK), 0);

    // A file without any component: nothing to render, and nothing to
    // size the parameter vectors by.
    r = run_torvex(dir, create_file("nodata.fits", "none", "none", 1, 40, 1, 40, ""));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("-- The parameter file gives no component to fit or to render.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(access(dir.file("block.fits").c_str(), F_OK), 0);
}

} // namespace
