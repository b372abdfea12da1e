// The program end to end in polynomial mode on FITS files written by
// CFITSIO; outputs read back with CFITSIO and checked with fitsverify.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/fits.h"
#include "program.h"

using test_common::Image;
using test_common::Key;

namespace {

using dornel_test::has;
using dornel_test::kBin;

double plane(int x, int y)
{
    return 200 + 0.5 * x - 0.25 * y;
}

// A plane sky with a blank corner, a NaN pixel and two bright stars.
Image skyImage(int nx = 40, int ny = 30)
{
    return Image::from(nx, ny, [](int x, int y) {
        if (x <= 3 && y <= 3)
            return 0.0;
        if (x == 20 && y == 5)
            return std::nan("");
        if ((x == 12 && y == 15) || (x == 30 && y == 22))
            return 5000.0;
        return plane(x, y) + 0.5 * ((x * 3 + y * 5) % 3 - 1);
    });
}

class Program : public ::testing::Test {
protected:
    test_common::ProgramRun run(const std::string &args)
    {
        return test_common::run_in(scratch, "'" + kBin + "' " + args);
    }

    void writePair(const std::string &name, const Image &image, int bitpix = -32, double bzero = 0)
    {
        const std::size_t slash = name.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
        const std::string base = name.substr(dir.size());
        test_common::write_image(scratch.file(name), image, bitpix, bzero, 1,
                                 {{"OBSERVER", "tester"}});
        test_common::write_image(scratch.file(dir + "e." + base), Image(image.nx, image.ny, 1.0),
                                 -32, 0, 1, {{"ERRKEY", "errors"}});
    }

    test_common::BasicHdu<double> output(const std::string &name)
    {
        const test_common::Verdict verdict = test_common::fitsverify(scratch.file(name));
        EXPECT_TRUE(verdict.flawless) << name << ": " << verdict.report;
        test_common::BasicHdu<double> r = test_common::read_hdu<double>(scratch.file(name));
        EXPECT_TRUE(r.ok()) << name;
        EXPECT_EQ(-32, r.bitpix) << name;
        EXPECT_NE("<none>", r.text("DATE")) << name;
        EXPECT_EQ("ORV FITS IO class", r.text("ORIGIN")) << name;
        return r;
    }

    test_common::ScratchDir scratch;
};

} // namespace

TEST_F(Program, WritesTheFourOutputsOfThePolynomialSky)
{
    const Image image = skyImage();
    writePair("img.fits", image);
    const test_common::ProgramRun o = run("-o 1 -k 3 -r 1 img.fits");
    ASSERT_EQ(0, o.status) << o.out << o.err;
    EXPECT_TRUE(has(o.out,
                    "Saving file: cut_img.fits\nSaving file: sky_img.fits\nSaving file: simg.fits\n"
                    "Saving file: e.simg.fits\n\n"))
        << o.out;

    const test_common::BasicHdu<double> sky = output("sky_img.fits");
    const test_common::BasicHdu<double> sub = output("simg.fits");
    const test_common::BasicHdu<double> err = output("e.simg.fits");
    const test_common::BasicHdu<double> cut = output("cut_img.fits");
    EXPECT_EQ("tester", sky.text("OBSERVER"));
    EXPECT_EQ("tester", sub.text("OBSERVER"));
    EXPECT_EQ("errors", err.text("ERRKEY"));
    EXPECT_EQ("<none>", cut.text("OBSERVER")); // a fresh header

    for (int y = 1; y <= 30; ++y)
        for (int x = 1; x <= 40; ++x) {
            ASSERT_NEAR(plane(x, y), sky.at(x, y), 0.2) << x << "," << y;
            const double in = image(x, y);
            if (in == 0)
                ASSERT_EQ(0.0, sub.at(x, y)) << "blank stays blank at " << x << "," << y;
            else if (std::isnan(in))
                ASSERT_TRUE(std::isnan(sub.at(x, y)));
            else
                ASSERT_NEAR(static_cast<float>(in) - static_cast<float>(sky.at(x, y)), sub.at(x, y),
                            1e-4);
            ASSERT_EQ(1.0, err.at(x, y));
        }
    // The stars and their plus-shaped circles are clipped, the blank corner stays blank.
    EXPECT_EQ(0.0, cut.at(12, 15));
    EXPECT_EQ(0.0, cut.at(13, 15));
    EXPECT_EQ(0.0, cut.at(30, 23));
    EXPECT_EQ(0.0, cut.at(1, 1));
    EXPECT_NEAR(image(5, 5), cut.at(5, 5), 1e-4);
}

TEST_F(Program, ReadsScaledIntegerAndDoubleImages)
{
    struct Case {
        int bitpix;
        double bzero;
    };
    const Case cases[] = {{16, 32768}, {16, 0}, {-64, 0}, {32, 0}};
    for (const Case &c : cases) {
        // Whole-numbered values fit every type exactly.
        const Image image = Image::from(32, 24, [](int x, int y) { return 500 + 2 * x + 3 * y; });
        writePair("img.fits", image, c.bitpix, c.bzero);
        const test_common::ProgramRun o = run("-o 1 -k 3 img.fits");
        ASSERT_EQ(0, o.status) << c.bitpix << "\n" << o.out << o.err;
        const test_common::BasicHdu<double> sky = output("sky_img.fits");
        const test_common::BasicHdu<double> sub = output("simg.fits");
        for (int y = 1; y <= 24; ++y)
            for (int x = 1; x <= 32; ++x) {
                ASSERT_NEAR(image(x, y), sky.at(x, y), 1e-3) << c.bitpix << " at " << x << "," << y;
                ASSERT_NEAR(0.0, sub.at(x, y), 1e-3) << c.bitpix << " at " << x << "," << y;
            }
        EXPECT_EQ("<none>", sky.text("BZERO")) << c.bitpix;
        EXPECT_EQ("<none>", sky.text("BSCALE")) << c.bitpix;
    }
}

TEST_F(Program, OutputsLandBesideTheirInput)
{
    ASSERT_EQ(0, std::system(("mkdir '" + scratch.file("data") + "'").c_str()));
    writePair("data/img.fits", skyImage());
    const test_common::ProgramRun o = run("-o 1 -k 3 -p s_ data/img.fits");
    ASSERT_EQ(0, o.status) << o.out << o.err;
    for (const char *name :
         {"data/sky_img.fits", "data/s_img.fits", "data/e.s_img.fits", "data/cut_img.fits"})
        EXPECT_TRUE(test_common::exists(scratch.file(name))) << name;
    EXPECT_FALSE(test_common::exists(scratch.file("sky_img.fits")));
}

TEST_F(Program, AFailingFileStopsTheRunWithAFailureStatus)
{
    writePair("a.fits", skyImage());
    test_common::write_image(scratch.file("b.fits"), skyImage()); // no error image
    writePair("c.fits", skyImage());
    test_common::ProgramRun o = run("-o 1 a.fits b.fits c.fits");
    EXPECT_EQ(2, o.status);
    EXPECT_TRUE(has(o.err, "EXCEPTION: FitsException: cannot open file 'e.b.fits' for reading\n"))
        << o.err;
    EXPECT_TRUE(test_common::exists(scratch.file("sa.fits")));
    EXPECT_FALSE(test_common::exists(scratch.file("sc.fits")));

    // An error image of another size.
    test_common::write_image(scratch.file("e.b.fits"), Image(40, 29, 1.0));
    o = run("-o 1 b.fits");
    EXPECT_EQ(2, o.status);
    EXPECT_TRUE(
        has(o.err,
            "EXCEPTION: the error image e.b.fits has 40 x 29 pixels, the image b.fits has 40 x 30"))
        << o.err;
    EXPECT_FALSE(test_common::exists(scratch.file("sb.fits")));

    // An image without any usable pixel.
    writePair("d.fits", Image(10, 10, 0.0));
    o = run("d.fits");
    EXPECT_EQ(2, o.status);
    EXPECT_TRUE(
        has(o.err, "EXCEPTION: d.fits: the polynomial sky cannot be fitted: no usable pixel"))
        << o.err;

    // A header alone that claims an image of 200 GB: refused as a short file
    // before any memory is asked for.
    test_common::spit(scratch.file("h.fits"),
                      test_common::header_text(
                          {"SIMPLE  =                    T", "BITPIX  =                  -32",
                           "NAXIS   =                    2", "NAXIS1  =           2147483647",
                           "NAXIS2  =                   25"}));
    o = run("h.fits");
    EXPECT_EQ(2, o.status);
    EXPECT_TRUE(has(o.err, "EXCEPTION: FitsException: FITS file 'h.fits' is truncated: its data "
                           "segment is incomplete\n"))
        << o.err;
}

TEST_F(Program, OutputNamesNeverReplaceAnInput)
{
    writePair("img.fits", skyImage());
    writePair("sky_img.fits", skyImage());
    const std::string before = test_common::slurp(scratch.file("img.fits"));
    const std::string errBefore = test_common::slurp(scratch.file("e.img.fits"));
    const std::string skyBefore = test_common::slurp(scratch.file("sky_img.fits"));
    struct Case {
        const char *args;
        const char *complaint;
    };
    const Case cases[] = {
        {"-p '' img.fits", "overwrite an input file"},
        {"-p e. img.fits", "overwrite an input file"},
        {"-p sky_ img.fits", "written twice"},
        {"-p cut_ img.fits", "written twice"},
        {"img.fits sky_img.fits", "overwrite an input file"},
        {"-p '' ./img.fits", "overwrite an input file"},
        {"--write_config_file img.fits img.fits",
         "the configuration file img.fits would overwrite the input file"},
        {"--write_config_file e.img.fits img.fits", "would overwrite the input file e.img.fits"},
        {"--write_config_file ./sky_img.fits img.fits",
         "would be overwritten by the output file sky_img.fits"},
        {"--write_config_file img.fits", "would overwrite the FITS file img.fits"},
        {"--write_config_file sky_img.fits", "would overwrite the FITS file sky_img.fits"},
    };
    for (const Case &c : cases) {
        const test_common::ProgramRun o = run(c.args);
        EXPECT_EQ(1, o.status) << c.args;
        EXPECT_TRUE(has(o.err, c.complaint)) << c.args << ": " << o.err;
        EXPECT_FALSE(test_common::exists(scratch.file("cut_img.fits"))) << c.args;
        EXPECT_FALSE(test_common::exists(scratch.file("simg.fits"))) << c.args;
    }
    EXPECT_TRUE(before == test_common::slurp(scratch.file("img.fits"))) << "img.fits changed";
    EXPECT_TRUE(errBefore == test_common::slurp(scratch.file("e.img.fits")))
        << "e.img.fits changed";
    EXPECT_TRUE(skyBefore == test_common::slurp(scratch.file("sky_img.fits")))
        << "sky_img.fits changed";
}

// An output name may be a hard or symbolic link to an input (image, error
// image, configuration file read) or to the configuration file to write:
// refused before anything is written, as a clash of names is.
TEST_F(Program, OutputsThatAreLinksToAnInputAreRefused)
{
    struct Case {
        const char *link;   // "ln" or "ln -s"
        const char *target; // an existing file
        const char *name;   // the link
        const char *args;
        const char *complaint;
    };
    const Case cases[] = {
        {"ln", "img.fits", "simg.fits", "img.fits",
         "the output file simg.fits would overwrite an input file"},
        {"ln", "e.img.fits", "e.simg.fits", "img.fits",
         "the output file e.simg.fits would overwrite an input file"},
        {"ln", "img.fits", "cut_img.fits", "-p s_ img.fits",
         "the output file cut_img.fits would overwrite an input file"},
        {"ln", "run.cfg", "sky_img.fits", "--read_config_file run.cfg img.fits",
         "the output file sky_img.fits would overwrite an input file"},
        {"ln", "keep.cfg", "sky_img.fits", "--write_config_file keep.cfg img.fits",
         "the configuration file keep.cfg would be overwritten by the output file sky_img.fits"},
        {"ln", "other.fits", "sky_img.fits", "img.fits other.fits",
         "the output file sky_img.fits would overwrite an input file"},
        {"ln -s", "img.fits", "simg.fits", "img.fits",
         "the output file simg.fits would overwrite an input file"},
    };
    // Every file of the folder with its checksum.
    const auto listing = [this] {
        return test_common::output_of("cd '" + scratch.path() +
                                      "' && find . ! -type d ! -name stdout ! -name stderr | "
                                      "sort | xargs md5sum");
    };
    for (const Case &c : cases) {
        ASSERT_EQ(0, std::system(("rm -rf '" + scratch.file("") + "'*").c_str()));
        writePair("img.fits", skyImage());
        writePair("other.fits", skyImage(20, 10));
        test_common::spit(scratch.file("run.cfg"), "order = 1\n");
        test_common::spit(scratch.file("keep.cfg"), "order = 3\n");
        ASSERT_EQ(0, std::system(("cd '" + scratch.path() + "' && " + c.link + " " + c.target +
                                  " " + c.name)
                                     .c_str()));
        const std::string before = listing();
        const test_common::ProgramRun o = run(c.args);
        const std::string label = std::string(c.link) + " " + c.target + " " + c.name + "; " +
                                  c.args + "\n" + o.out + o.err;
        EXPECT_EQ(1, o.status) << label;
        EXPECT_TRUE(has(o.err, std::string("Error: ") + c.complaint)) << label;
        EXPECT_EQ(before, listing()) << label;
    }
}

// An image named again under another spelling of its folder writes the same
// outputs, and the run goes on; named again through a link to it, it has
// outputs of its own, which are checked like any other.
TEST_F(Program, AnImageNamedAgainThroughALinkHasItsOwnOutputsChecked)
{
    writePair("img.fits", skyImage());
    const auto shell = [this](const std::string &command) {
        ASSERT_EQ(0, std::system(("cd '" + scratch.path() + "' && " + command).c_str())) << command;
    };
    shell("ln -s . here");
    for (const char *args : {"-o 1 img.fits ./img.fits", "-o 1 img.fits here/img.fits"}) {
        const test_common::ProgramRun o = run(args);
        EXPECT_EQ(0, o.status) << args << "\n" << o.out << o.err;
    }

    shell("rm -f sky_img.fits simg.fits e.simg.fits cut_img.fits && ln -s img.fits link.fits && "
          "ln -s e.img.fits e.link.fits && ln e.img.fits e.slink.fits");
    const std::string errBefore = test_common::slurp(scratch.file("e.img.fits"));
    const test_common::ProgramRun o = run("-o 1 img.fits link.fits");
    EXPECT_EQ(1, o.status) << o.out << o.err;
    EXPECT_TRUE(has(o.err, "Error: the output file e.slink.fits would overwrite an input file"))
        << o.err;
    EXPECT_FALSE(has(o.out, "Saving file")) << o.out;
    EXPECT_TRUE(errBefore == test_common::slurp(scratch.file("e.img.fits")))
        << "e.img.fits changed";
}

// A prefix may name a folder: the error copy goes beside the sky-subtracted
// image, and an image whose outputs cannot all be written gets none of them.
TEST_F(Program, APrefixWithAFolderWritesAllOutputsThereOrNone)
{
    struct Case {
        const char *prefix;
        const char *folder;              // made before the run, or nullptr
        std::vector<std::string> output; // the files beside the prefix, from the scratch folder
    };
    const Case cases[] = {
        {"out/", nullptr, {}},
        {"out/", "work/out", {"work/out/sky.fits", "work/out/e.sky.fits"}},
        {"../", nullptr, {"sky.fits", "e.sky.fits"}},
        {"out/s_", "work/out", {"work/out/s_sky.fits", "work/out/e.s_sky.fits"}},
    };
    const auto listing = [this] {
        return test_common::output_of("cd '" + scratch.path() +
                                      "' && find . -type f ! -name stdout ! -name stderr | sort");
    };
    for (const Case &c : cases) {
        ASSERT_EQ(0, std::system(("rm -rf '" + scratch.file("") + "'* && mkdir '" +
                                  scratch.file("work") + "'")
                                     .c_str()));
        writePair("work/sky.fits", skyImage());
        if (c.folder) {
            ASSERT_EQ(0, std::system(("mkdir '" + scratch.file(c.folder) + "'").c_str()));
        }
        const std::string before = listing();
        const test_common::ProgramRun o = test_common::run_in(
            scratch, "cd work && '" + kBin + "' -o 1 -k 3 -p '" + c.prefix + "' sky.fits");
        const std::string label = std::string(c.prefix) + (c.folder ? " with " : " without ") +
                                  "the folder\n" + o.out + o.err;
        if (c.output.empty()) {
            EXPECT_EQ(1, o.status) << label;
            EXPECT_TRUE(has(o.err, "Error: the output file out/sky.fits cannot be written: there "
                                   "is no folder out!"))
                << label;
            EXPECT_EQ(before, listing()) << label;
            continue;
        }
        ASSERT_EQ(0, o.status) << label;
        for (const char *name : {"work/sky_sky.fits", "work/cut_sky.fits"})
            EXPECT_TRUE(test_common::exists(scratch.file(name))) << label << name;
        EXPECT_NEAR(0.0, output(c.output[0]).at(5, 5), 2) << label; // sky subtracted
        const test_common::BasicHdu<double> err = output(c.output[1]);
        EXPECT_EQ("errors", err.text("ERRKEY")) << label;
        EXPECT_EQ(1.0, err.at(7, 9)) << label;
    }
}

// In an integer image a pixel that holds BLANK is undefined: the sky leaves
// it out as it leaves out the blank marker, and the outputs keep it blank.
// Each run is compared with one on the same image in float with the blank
// marker at those pixels.
TEST_F(Program, BlankPixelsOfIntegerImagesCountAsBlank)
{
    const auto inBlock = [](long x, long y) { return x >= 10 && x < 15 && y >= 10 && y < 15; };
    const auto value = [](long x, long y) {
        return std::round(plane(static_cast<int>(x), static_cast<int>(y)) + (x * 7 + y * 3) % 5);
    };
    struct Case {
        const char *args;
        float marker;
        bool errorBlank; // BLANK in the error image instead of the image
    };
    const Case cases[] = {
        {"-o 1", 0, false},
        {"-o 1 -n -5", -5, false},
        {"-s -g 20,15 -i 2 -n -5", 0, false},
        {"-o 1 -k 3 -r 1 -n -5", -5, true},
    };
    for (const Case &c : cases) {
        const Image withMarker = Image::from(40, 30, [&](int x, int y) {
            return inBlock(x, y) ? static_cast<double>(c.marker) : value(x, y);
        });
        writePair("ref.fits", withMarker);
        if (c.errorBlank) {
            test_common::write_image(scratch.file("int.fits"), Image::from(40, 30, value));
            test_common::write_short_image(
                scratch.file("e.int.fits"), 40, 30, [](long, long) { return 1; }, inBlock);
        } else {
            test_common::write_short_image(scratch.file("int.fits"), 40, 30, value, inBlock);
            test_common::write_image(scratch.file("e.int.fits"), Image(40, 30, 1.0));
        }
        const std::string args = c.args;
        const test_common::ProgramRun ref = run(args + " ref.fits");
        const test_common::ProgramRun o = run(args + " int.fits");
        ASSERT_EQ(0, ref.status) << args << "\n" << ref.out << ref.err;
        ASSERT_EQ(0, o.status) << args << "\n" << o.out << o.err;

        const auto sky = output("sky_int.fits"), sub = output("sint.fits"),
                   err = output("e.sint.fits");
        const auto refSky = output("sky_ref.fits"), refSub = output("sref.fits");
        for (int y = 1; y <= 30; ++y)
            for (int x = 1; x <= 40; ++x) {
                ASSERT_NEAR(refSky.at(x, y), sky.at(x, y), 1e-3) << args << " at " << x << "," << y;
                ASSERT_NEAR(plane(x, y), sky.at(x, y), 5) << args << " at " << x << "," << y;
                const bool blank = inBlock(x, y);
                // Without an error a pixel is left out of the sky, not out of the image.
                const double expected = blank && c.errorBlank ? static_cast<float>(value(x, y)) -
                                                                    static_cast<float>(sky.at(x, y))
                                                              : refSub.at(x, y);
                ASSERT_NEAR(expected, sub.at(x, y), 1e-3) << args << " at " << x << "," << y;
                ASSERT_EQ(blank && c.errorBlank ? c.marker : 1.0, err.at(x, y))
                    << args << " at " << x << "," << y;
            }
    }
}
