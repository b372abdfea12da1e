// The program end to end in polynomial mode on FITS files written by
// CFITSIO; outputs read back with CFITSIO and checked with fitsverify.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "fits_files.h"

using fitsfiles::Image;
using fitsfiles::Key;

namespace {

const std::string kBin = DORNEL_BIN;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

double plane(int x, int y) { return 200 + 0.5 * x - 0.25 * y; }

// A plane sky with a blank corner, a NaN pixel and two bright stars.
Image skyImage(int nx = 40, int ny = 30) {
    return Image::from(nx, ny, [](int x, int y) {
        if (x <= 3 && y <= 3) return 0.0;
        if (x == 20 && y == 5) return std::nan("");
        if ((x == 12 && y == 15) || (x == 30 && y == 22)) return 5000.0;
        return plane(x, y) + 0.5 * ((x * 3 + y * 5) % 3 - 1);
    });
}

class Program : public ::testing::Test {
protected:
    fitsfiles::Outcome run(const std::string& args) { return scratch.run(kBin, args); }

    void writePair(const std::string& name, const Image& image, int bitpix = -32, double bzero = 0) {
        const std::size_t slash = name.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
        const std::string base = name.substr(dir.size());
        fitsfiles::writeImage(scratch.path(name), image, bitpix, bzero, 1, {{"OBSERVER", "tester"}});
        fitsfiles::writeImage(scratch.path(dir + "e." + base), Image(image.nx, image.ny, 1.0), -32, 0, 1,
                              {{"ERRKEY", "errors"}});
    }

    fitsfiles::Read output(const std::string& name) {
        std::string report;
        EXPECT_TRUE(fitsfiles::verified(scratch.path(name), &report)) << name << ": " << report;
        fitsfiles::Read r = fitsfiles::readImage(scratch.path(name));
        EXPECT_TRUE(r.ok) << name;
        EXPECT_EQ(-32, r.bitpix) << name;
        EXPECT_NE("<missing>", r.key("DATE")) << name;
        EXPECT_EQ("ORV FITS IO class, July 2002", r.key("ORIGIN")) << name;
        return r;
    }

    fitsfiles::Scratch scratch;
};

}  // namespace

TEST_F(Program, WritesTheFourOutputsOfThePolynomialSky) {
    const Image image = skyImage();
    writePair("img.fits", image);
    const fitsfiles::Outcome o = run("-o 1 -k 3 -r 1 img.fits");
    ASSERT_EQ(0, o.status) << o.out << o.err;
    EXPECT_TRUE(has(o.out, "Saving file: cut_img.fits\nSaving file: sky_img.fits\nSaving file: simg.fits\n"
                           "Saving file: e.simg.fits\n\n"))
        << o.out;

    const fitsfiles::Read sky = output("sky_img.fits");
    const fitsfiles::Read sub = output("simg.fits");
    const fitsfiles::Read err = output("e.simg.fits");
    const fitsfiles::Read cut = output("cut_img.fits");
    EXPECT_EQ("tester", sky.key("OBSERVER"));
    EXPECT_EQ("tester", sub.key("OBSERVER"));
    EXPECT_EQ("errors", err.key("ERRKEY"));
    EXPECT_EQ("<missing>", cut.key("OBSERVER"));  // a fresh header

    for (int y = 1; y <= 30; ++y)
        for (int x = 1; x <= 40; ++x) {
            ASSERT_NEAR(plane(x, y), sky.image(x, y), 0.2) << x << "," << y;
            const double in = image(x, y);
            if (in == 0)
                ASSERT_EQ(0.0, sub.image(x, y)) << "blank stays blank at " << x << "," << y;
            else if (std::isnan(in))
                ASSERT_TRUE(std::isnan(sub.image(x, y)));
            else
                ASSERT_NEAR(static_cast<float>(in) - static_cast<float>(sky.image(x, y)), sub.image(x, y), 1e-4);
            ASSERT_EQ(1.0, err.image(x, y));
        }
    // The stars and their plus-shaped circles are clipped, the blank corner stays blank.
    EXPECT_EQ(0.0, cut.image(12, 15));
    EXPECT_EQ(0.0, cut.image(13, 15));
    EXPECT_EQ(0.0, cut.image(30, 23));
    EXPECT_EQ(0.0, cut.image(1, 1));
    EXPECT_NEAR(image(5, 5), cut.image(5, 5), 1e-4);
}

TEST_F(Program, ReadsScaledIntegerAndDoubleImages) {
    struct Case {
        int bitpix;
        double bzero;
    };
    const Case cases[] = {{16, 32768}, {16, 0}, {-64, 0}, {32, 0}};
    for (const Case& c : cases) {
        // Whole-numbered values fit every type exactly.
        const Image image = Image::from(32, 24, [](int x, int y) { return 500 + 2 * x + 3 * y; });
        writePair("img.fits", image, c.bitpix, c.bzero);
        const fitsfiles::Outcome o = run("-o 1 -k 3 img.fits");
        ASSERT_EQ(0, o.status) << c.bitpix << "\n" << o.out << o.err;
        const fitsfiles::Read sky = output("sky_img.fits");
        const fitsfiles::Read sub = output("simg.fits");
        for (int y = 1; y <= 24; ++y)
            for (int x = 1; x <= 32; ++x) {
                ASSERT_NEAR(image(x, y), sky.image(x, y), 1e-3) << c.bitpix << " at " << x << "," << y;
                ASSERT_NEAR(0.0, sub.image(x, y), 1e-3) << c.bitpix << " at " << x << "," << y;
            }
        EXPECT_EQ("<missing>", sky.key("BZERO")) << c.bitpix;
        EXPECT_EQ("<missing>", sky.key("BSCALE")) << c.bitpix;
    }
}

TEST_F(Program, OutputsLandBesideTheirInput) {
    ASSERT_EQ(0, std::system(("mkdir '" + scratch.path("data") + "'").c_str()));
    writePair("data/img.fits", skyImage());
    const fitsfiles::Outcome o = run("-o 1 -k 3 -p s_ data/img.fits");
    ASSERT_EQ(0, o.status) << o.out << o.err;
    for (const char* name : {"data/sky_img.fits", "data/s_img.fits", "data/e.s_img.fits", "data/cut_img.fits"})
        EXPECT_TRUE(fitsfiles::exists(scratch.path(name))) << name;
    EXPECT_FALSE(fitsfiles::exists(scratch.path("sky_img.fits")));
}

TEST_F(Program, AFailingFileStopsTheRunWithAFailureStatus) {
    writePair("a.fits", skyImage());
    fitsfiles::writeImage(scratch.path("b.fits"), skyImage());  // no error image
    writePair("c.fits", skyImage());
    fitsfiles::Outcome o = run("-o 1 a.fits b.fits c.fits");
    EXPECT_EQ(2, o.status);
    EXPECT_TRUE(has(o.err, "EXCEPTION: FitsException: cannot open file 'e.b.fits' for reading\n")) << o.err;
    EXPECT_TRUE(fitsfiles::exists(scratch.path("sa.fits")));
    EXPECT_FALSE(fitsfiles::exists(scratch.path("sc.fits")));

    // An error image of another size.
    fitsfiles::writeImage(scratch.path("e.b.fits"), Image(40, 29, 1.0));
    o = run("-o 1 b.fits");
    EXPECT_EQ(2, o.status);
    EXPECT_TRUE(has(o.err, "EXCEPTION: the error image e.b.fits has 40 x 29 pixels, the image b.fits has 40 x 30"))
        << o.err;
    EXPECT_FALSE(fitsfiles::exists(scratch.path("sb.fits")));

    // An image without any usable pixel.
    writePair("d.fits", Image(10, 10, 0.0));
    o = run("d.fits");
    EXPECT_EQ(2, o.status);
    EXPECT_TRUE(has(o.err, "EXCEPTION: d.fits: the polynomial sky cannot be fitted: no usable pixel")) << o.err;
}

TEST_F(Program, OutputNamesNeverReplaceAnInput) {
    writePair("img.fits", skyImage());
    writePair("sky_img.fits", skyImage());
    const std::string before = fitsfiles::slurp(scratch.path("img.fits"));
    const std::string errBefore = fitsfiles::slurp(scratch.path("e.img.fits"));
    const std::string skyBefore = fitsfiles::slurp(scratch.path("sky_img.fits"));
    struct Case {
        const char* args;
        const char* complaint;
    };
    const Case cases[] = {
        {"-p '' img.fits", "overwrite an input file"},
        {"-p e. img.fits", "overwrite an input file"},
        {"-p sky_ img.fits", "written twice"},
        {"-p cut_ img.fits", "written twice"},
        {"img.fits sky_img.fits", "overwrite an input file"},
        {"-p '' ./img.fits", "overwrite an input file"},
        {"--write_config_file img.fits img.fits", "the configuration file img.fits would overwrite the input file"},
        {"--write_config_file e.img.fits img.fits", "would overwrite the input file e.img.fits"},
        {"--write_config_file ./sky_img.fits img.fits", "would be overwritten by the output file sky_img.fits"},
        {"--write_config_file img.fits", "would overwrite the FITS file img.fits"},
        {"--write_config_file sky_img.fits", "would overwrite the FITS file sky_img.fits"},
    };
    for (const Case& c : cases) {
        const fitsfiles::Outcome o = run(c.args);
        EXPECT_EQ(1, o.status) << c.args;
        EXPECT_TRUE(has(o.err, c.complaint)) << c.args << ": " << o.err;
        EXPECT_FALSE(fitsfiles::exists(scratch.path("cut_img.fits"))) << c.args;
        EXPECT_FALSE(fitsfiles::exists(scratch.path("simg.fits"))) << c.args;
    }
    EXPECT_TRUE(before == fitsfiles::slurp(scratch.path("img.fits"))) << "img.fits changed";
    EXPECT_TRUE(errBefore == fitsfiles::slurp(scratch.path("e.img.fits"))) << "e.img.fits changed";
    EXPECT_TRUE(skyBefore == fitsfiles::slurp(scratch.path("sky_img.fits"))) << "sky_img.fits changed";
}
