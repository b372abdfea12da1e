// The program end to end in spline mode: clipping lines, outputs and the
// diagnostic files at each verbosity.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "fits_files.h"

using fitsfiles::Image;

namespace {

const std::string kBin = DORNEL_BIN;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

double plane(int x, int y) { return 100 + 0.2 * x + 0.1 * y; }

class SplineProgram : public ::testing::Test {
protected:
    void SetUp() override {
        // A plane sky with three bright stars of a few pixels each.
        const Image image = Image::from(60, 40, [](int x, int y) {
            double v = plane(x, y);
            for (const int* s : {star1, star2, star3}) {
                const int dx = x - s[0], dy = y - s[1];
                if (dx * dx + dy * dy <= 2) v += 500;
            }
            return v;
        });
        fitsfiles::writeImage(scratch.path("img.fits"), image);
        fitsfiles::writeImage(scratch.path("e.img.fits"), Image(60, 40, 1.0));
    }
    fitsfiles::Outcome run(const std::string& args) { return scratch.run(kBin, args); }
    bool exists(const std::string& name) const { return fitsfiles::exists(scratch.path(name)); }
    void verify(const std::string& name) {
        std::string report;
        EXPECT_TRUE(fitsfiles::verified(scratch.path(name), &report)) << report;
    }

    static constexpr int star1[2] = {20, 20}, star2[2] = {45, 10}, star3[2] = {30, 33};
    fitsfiles::Scratch scratch;
};

const char* const kDiagnostics[] = {"sky_binspline-img.fits", "sky_binspline_bin-img.fits",
                                    "sky_binspline_median-img.fits"};

}  // namespace

TEST_F(SplineProgram, WithoutClippingOneSplineAndNoClippedImage) {
    const fitsfiles::Outcome o = run("-s -g 30,20 -i 2 img.fits");
    ASSERT_EQ(0, o.status) << o.out << o.err;
    EXPECT_FALSE(has(o.out, "notnan"));
    const std::size_t first = o.out.find("double median");
    EXPECT_NE(std::string::npos, first);
    EXPECT_EQ(std::string::npos, o.out.find("double median", first + 1)) << "one spline only";
    EXPECT_TRUE(has(o.out, "Saving file: sky_img.fits\nSaving file: simg.fits\nSaving file: e.simg.fits\n")) << o.out;
    EXPECT_FALSE(exists("cut_img.fits"));
    for (const char* d : kDiagnostics) EXPECT_FALSE(exists(d)) << d;
    for (const char* name : {"sky_img.fits", "simg.fits", "e.simg.fits"}) verify(name);
    // Far from the stars the sky is the plane and the subtracted image 0.
    const fitsfiles::Read sky = fitsfiles::readImage(scratch.path("sky_img.fits"));
    const fitsfiles::Read sub = fitsfiles::readImage(scratch.path("simg.fits"));
    EXPECT_NEAR(plane(5, 38), sky.image(5, 38), 0.1);
    EXPECT_NEAR(0.0, sub.image(5, 38), 0.1);
    EXPECT_GT(sub.image(20, 20), 300.0);
}

TEST_F(SplineProgram, ClippingLinesAndFilesAtEachVerbosity) {
    struct Case {
        int verbose;
        bool cut;
        int diagnostics;  // how many of the three files
    };
    for (const Case& c : {Case{0, false, 0}, Case{1, true, 1}, Case{3, true, 3}}) {
        const fitsfiles::Outcome o = run("-s -g 30,20 -i 1 -k 3 -v " + std::to_string(c.verbose) + " img.fits");
        ASSERT_EQ(0, o.status) << o.out << o.err;
        // 2400 pixels; the stars (5 pixels each) and some of their
        // surroundings go in the first clipping pass, then the count holds.
        EXPECT_TRUE(has(o.out, "0) notnan = 2400\n")) << o.out;
        EXPECT_TRUE(has(o.out, "1) notnan = ")) << o.out;
        EXPECT_TRUE(has(o.out, "2) notnan = ")) << o.out;
        EXPECT_EQ(c.cut, exists("cut_img.fits")) << c.verbose;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(i < c.diagnostics, exists(kDiagnostics[i])) << c.verbose << " " << i;
        if (c.cut) {
            verify("cut_img.fits");
            const fitsfiles::Read cut = fitsfiles::readImage(scratch.path("cut_img.fits"));
            EXPECT_EQ(0.0, cut.image(20, 20));
            EXPECT_NEAR(plane(5, 38), cut.image(5, 38), 1e-4);
        }
        for (int i = 0; i < c.diagnostics; ++i) verify(kDiagnostics[i]);
        // Once the stars are clipped the sky is the plane, also under them.
        const fitsfiles::Read sky = fitsfiles::readImage(scratch.path("sky_img.fits"));
        EXPECT_NEAR(plane(20, 20), sky.image(20, 20), 0.5);
        EXPECT_NEAR(plane(45, 10), sky.image(45, 10), 0.5);
        std::system(("rm -f '" + scratch.dir + "'/cut_* '" + scratch.dir + "'/sky_binspline*").c_str());
    }
}

TEST_F(SplineProgram, TheBlankValueOptionHasNoEffect) {
    ASSERT_EQ(0, run("-s -g 30,20 -i 2 img.fits").status);
    const std::string plain = fitsfiles::slurp(scratch.path("simg.fits"));
    ASSERT_EQ(0, run("-s -g 30,20 -i 2 -n 101.5 img.fits").status);
    const fitsfiles::Read a = fitsfiles::readImage(scratch.path("simg.fits"));
    EXPECT_FALSE(plain.empty());
    // Same pixels (the headers differ in their DATE only).
    fitsfiles::writeImage(scratch.path("plain.fits"), Image(1, 1));
    std::FILE* f = std::fopen(scratch.path("plain.fits").c_str(), "wb");
    std::fwrite(plain.data(), 1, plain.size(), f);
    std::fclose(f);
    EXPECT_EQ(fitsfiles::readImage(scratch.path("plain.fits")).image.v, a.image.v);
}

TEST_F(SplineProgram, AnImageTooSmallForTheGridFailsThatFile) {
    const fitsfiles::Outcome o = run("-s -g 30,20 -i 8 img.fits");
    EXPECT_EQ(2, o.status);
    EXPECT_TRUE(has(o.err, "EXCEPTION: img.fits: the spline sky needs at least two median nodes along each axis"))
        << o.err;
    EXPECT_FALSE(exists("sky_img.fits"));
}
