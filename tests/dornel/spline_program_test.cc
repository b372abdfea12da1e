// The program end to end in spline mode: clipping lines, outputs and the
// diagnostic files at each verbosity.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/fits.h"
#include "program.h"

using test_common::Image;

namespace {

using dornel_test::has;
using dornel_test::kBin;

double plane(int x, int y)
{
    return 100 + 0.2 * x + 0.1 * y;
}

class SplineProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A plane sky with three bright stars of a few pixels each.
        const Image image = Image::from(60, 40, [](int x, int y) {
            double v = plane(x, y);
            for (const int *s : {star1, star2, star3}) {
                const int dx = x - s[0], dy = y - s[1];
                if (dx * dx + dy * dy <= 2)
                    v += 500;
            }
            return v;
        });
        test_common::write_image(scratch.file("img.fits"), image);
        test_common::write_image(scratch.file("e.img.fits"), Image(60, 40, 1.0));
    }
    test_common::ProgramRun run(const std::string &args)
    {
        return test_common::run_in(scratch, "'" + kBin + "' " + args);
    }
    bool exists(const std::string &name) const { return test_common::exists(scratch.file(name)); }
    void verify(const std::string &name)
    {
        const test_common::Verdict verdict = test_common::fitsverify(scratch.file(name));
        EXPECT_TRUE(verdict.flawless) << verdict.report;
    }

    static constexpr int star1[2] = {20, 20}, star2[2] = {45, 10}, star3[2] = {30, 33};
    test_common::ScratchDir scratch;
};

const char *const kDiagnostics[] = {"sky_binspline-img.fits", "sky_binspline_bin-img.fits",
                                    "sky_binspline_median-img.fits"};

} // namespace

TEST_F(SplineProgram, WithoutClippingOneSplineAndNoClippedImage)
{
    const test_common::ProgramRun o = run("-s -g 30,20 -i 2 img.fits");
    ASSERT_EQ(0, o.status) << o.out << o.err;
    EXPECT_FALSE(has(o.out, "notnan"));
    const std::size_t first = o.out.find("double median");
    EXPECT_NE(std::string::npos, first);
    EXPECT_EQ(std::string::npos, o.out.find("double median", first + 1)) << "one spline only";
    EXPECT_TRUE(
        has(o.out, "Saving file: sky_img.fits\nSaving file: simg.fits\nSaving file: e.simg.fits\n"))
        << o.out;
    EXPECT_FALSE(exists("cut_img.fits"));
    for (const char *d : kDiagnostics)
        EXPECT_FALSE(exists(d)) << d;
    for (const char *name : {"sky_img.fits", "simg.fits", "e.simg.fits"})
        verify(name);
    // Far from the stars the sky is the plane and the subtracted image 0.
    const test_common::BasicHdu<double> sky =
        test_common::read_hdu<double>(scratch.file("sky_img.fits"));
    const test_common::BasicHdu<double> sub =
        test_common::read_hdu<double>(scratch.file("simg.fits"));
    EXPECT_NEAR(plane(5, 38), sky.at(5, 38), 0.1);
    EXPECT_NEAR(0.0, sub.at(5, 38), 0.1);
    EXPECT_GT(sub.at(20, 20), 300.0);
}

TEST_F(SplineProgram, ClippingLinesAndFilesAtEachVerbosity)
{
    struct Case {
        int verbose;
        bool cut;
        int diagnostics; // how many of the three files
    };
    for (const Case &c : {Case{0, false, 0}, Case{1, true, 1}, Case{3, true, 3}}) {
        const test_common::ProgramRun o =
            run("-s -g 30,20 -i 1 -k 3 -v " + std::to_string(c.verbose) + " img.fits");
        ASSERT_EQ(0, o.status) << o.out << o.err;
        // 2400 pixels; the stars (5 pixels each) and some of their
        // surroundings go in the first clipping pass, then the count holds.
        EXPECT_TRUE(has(o.out, "0) notnan = 2400\n")) << o.out;
        EXPECT_TRUE(has(o.out, "1) notnan = ")) << o.out;
        EXPECT_TRUE(has(o.out, "2) notnan = ")) << o.out;
        EXPECT_EQ(c.cut, exists("cut_img.fits")) << c.verbose;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(i < c.diagnostics, exists(kDiagnostics[i])) << c.verbose << " " << i;
        if (c.cut) {
            verify("cut_img.fits");
            const test_common::BasicHdu<double> cut =
                test_common::read_hdu<double>(scratch.file("cut_img.fits"));
            EXPECT_EQ(0.0, cut.at(20, 20));
            EXPECT_NEAR(plane(5, 38), cut.at(5, 38), 1e-4);
        }
        for (int i = 0; i < c.diagnostics; ++i)
            verify(kDiagnostics[i]);
        // Once the stars are clipped the sky is the plane, also under them.
        const test_common::BasicHdu<double> sky =
            test_common::read_hdu<double>(scratch.file("sky_img.fits"));
        EXPECT_NEAR(plane(20, 20), sky.at(20, 20), 0.5);
        EXPECT_NEAR(plane(45, 10), sky.at(45, 10), 0.5);
        std::system(("rm -f '" + scratch.path() + "'/cut_* '" + scratch.path() + "'/sky_binspline*")
                        .c_str());
    }
}

TEST_F(SplineProgram, TheBlankValueOptionHasNoEffect)
{
    ASSERT_EQ(0, run("-s -g 30,20 -i 2 img.fits").status);
    const std::string plain = test_common::slurp(scratch.file("simg.fits"));
    ASSERT_EQ(0, run("-s -g 30,20 -i 2 -n 101.5 img.fits").status);
    const test_common::BasicHdu<double> a =
        test_common::read_hdu<double>(scratch.file("simg.fits"));
    EXPECT_FALSE(plain.empty());
    // Same pixels (the headers differ in their DATE only).
    test_common::spit(scratch.file("plain.fits"), plain);
    EXPECT_EQ(test_common::read_hdu<double>(scratch.file("plain.fits")).pix, a.pix);
}

TEST_F(SplineProgram, AnImageTooSmallForTheGridFailsThatFile)
{
    const test_common::ProgramRun o = run("-s -g 30,20 -i 8 img.fits");
    EXPECT_EQ(2, o.status);
    EXPECT_TRUE(
        has(o.err,
            "EXCEPTION: img.fits: the spline sky needs at least two median nodes along each axis"))
        << o.err;
    EXPECT_FALSE(exists("sky_img.fits"));
}
