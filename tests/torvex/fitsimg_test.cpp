// FITS images in and out, checked against files written and read by
// CFITSIO directly, and the fit-region cut.
#include "torvex/fit/to_mini.h"
#include "torvex/input/readfits.h"
#include "torvex/output/writefits.h"

#include "common/fits.h"
#include "fit_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace test_common;

namespace {

float ramp(long x, long y)
{
    return static_cast<float>(1000 * y + x);
}

class FitsImg : public ::testing::Test {
protected:
    void SetUp() override { pfunc = print_to_stderr; }
    void TearDown() override
    {
        release(img);
        pfunc = printf;
    }

    static void release(image &i)
    {
        if (i.z)
            free_matrix(i.z, 1, i.naxes[2], 1, i.naxes[1]);
        i.z = nullptr;
    }

    int read(const std::string &name, float magzpt = 25, float muzpt = 30)
    {
        release(img);
        img = image{};
        strcpy(img.name, name.c_str());
        img.magzpt = magzpt;
        img.muzpt = muzpt;
        return readfits(&img);
    }

    ScratchDir dir;
    image img;
};

TEST_F(FitsImg, ReadsPixelsInPlaceWithNaNKept)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    write_image(dir.file("a.fits"), 7, 5,
                [&](long x, long y) { return x == 3 && y == 4 ? nan : ramp(x, y); },
                {{"EXPTIME", "1"}});
    ASSERT_EQ(read(dir.file("a.fits")), 0);
    EXPECT_EQ(img.err, 0);
    ASSERT_EQ(img.naxes[1], 7);
    ASSERT_EQ(img.naxes[2], 5);
    for (long y = 1; y <= 5; y++)
        for (long x = 1; x <= 7; x++)
            if (x == 3 && y == 4)
                EXPECT_TRUE(std::isnan(img.z[y][x]));
            else
                EXPECT_EQ(img.z[y][x], ramp(x, y)) << x << "," << y;
}

TEST_F(FitsImg, DetectorKeywordsAndTheirFallbacks)
{
    struct Case {
        std::vector<Key> keys;
        int result;
        float gain, rdnoise, ncombine, exptime, magzpt, muzpt;
    } cases[] = {
        {{{"GAIN", "3"},
          {"CCDGAIN", "2.5"},
          {"RDNOISE", "4"},
          {"NCOMBINE", "3"},
          {"EXPTIME", "100"}},
         0,
         3,
         4,
         3,
         100,
         30,
         35},
        {{{"CCDGAIN", "2.5"}, {"ATODGAIN", "9"}, {"EXPTIME", "1000"}},
         0,
         2.5f,
         5.24f,
         1,
         1000,
         32.5f,
         37.5f},
        {{{"ATODGAIN", "9"}}, 2, 9, 5.24f, 1, 1, 25, 30},
        {{}, 2, 7, 5.24f, 1, 1, 25, 30},
        // An exposure time that is not positive, or not a number, is missing.
        {{{"EXPTIME", "0"}}, 2, 7, 5.24f, 1, 1, 25, 30},
        {{{"EXPTIME", "-20"}}, 2, 7, 5.24f, 1, 1, 25, 30},
        {{{"EXPTIME", "long"}, {"GAIN", "many"}}, 2, 7, 5.24f, 1, 1, 25, 30},
    };
    for (const Case &c : cases) {
        write_image(dir.file("k.fits"), 4, 3, ramp, c.keys);
        SCOPED_TRACE(c.keys.empty() ? std::string("no keywords") : c.keys[0].name);
        EXPECT_EQ(read(dir.file("k.fits")), c.result);
        EXPECT_FLOAT_EQ(img.gain, c.gain);
        EXPECT_FLOAT_EQ(img.rdnoise, c.rdnoise);
        EXPECT_FLOAT_EQ(img.ncombine, c.ncombine);
        EXPECT_FLOAT_EQ(img.exptime, c.exptime);
        EXPECT_FLOAT_EQ(img.magzpt, c.magzpt);
        EXPECT_FLOAT_EQ(img.muzpt, c.muzpt);
    }
}

TEST_F(FitsImg, ExtendedFileNamesGoToTheLibrary)
{
    // An empty primary HDU with the image in the first extension.
    fitsfile *f = nullptr;
    int status = 0;
    long naxes[2] = {6, 4};
    ffinit(&f, ("!" + dir.file("ext.fits")).c_str(), &status);
    ffcrim(f, FLOAT_IMG, 0, nullptr, &status);
    ffcrim(f, SHORT_IMG, 2, naxes, &status);
    double exptime = 10;
    ffuky(f, TDOUBLE, "EXPTIME", &exptime, nullptr, &status);
    std::vector<float> v(24);
    for (long i = 0; i < 24; i++)
        v[i] = ramp(i % 6 + 1, i / 6 + 1);
    ffppr(f, TFLOAT, 1, 24, v.data(), &status);
    ffclos(f, &status);
    ASSERT_EQ(status, 0);

    ASSERT_EQ(read(dir.file("ext.fits[1]")), 0);
    EXPECT_FLOAT_EQ(img.magzpt, 27.5f);
    EXPECT_EQ(img.z[4][6], ramp(6, 4));

    // An image section: pixel (1, 1) of the result is pixel (2, 3).
    ASSERT_EQ(read(dir.file("ext.fits[1][2:5,3:4]")), 0);
    EXPECT_EQ(img.naxes[1], 4);
    EXPECT_EQ(img.naxes[2], 2);
    EXPECT_EQ(img.z[1][1], ramp(2, 3));
    EXPECT_EQ(img.z[2][4], ramp(5, 4));
}

TEST_F(FitsImg, ExtraAxesOfLengthOneLeaveAnImage)
{
    // 6 x 4 x 1 x 1, and the second plane of a 6 x 4 x 3 cube picked by an
    // image section (which leaves NAXIS3 = 1).
    fitsfile *f = nullptr;
    int status = 0;
    long flat[4] = {6, 4, 1, 1}, cube[3] = {6, 4, 3};
    std::vector<float> v(72);
    for (long i = 0; i < 72; i++)
        v[i] = ramp(i % 6 + 1, i / 6 % 4 + 1) + 100000 * (i / 24);
    ffinit(&f, ("!" + dir.file("flat.fits")).c_str(), &status);
    ffcrim(f, FLOAT_IMG, 4, flat, &status);
    ffppr(f, TFLOAT, 1, 24, v.data(), &status);
    ffclos(f, &status);
    ffinit(&f, ("!" + dir.file("cube.fits")).c_str(), &status);
    ffcrim(f, FLOAT_IMG, 3, cube, &status);
    ffppr(f, TFLOAT, 1, 72, v.data(), &status);
    ffclos(f, &status);
    ASSERT_EQ(status, 0);

    ASSERT_EQ(read(dir.file("flat.fits")), 2);
    EXPECT_EQ(img.naxes[1], 6);
    EXPECT_EQ(img.naxes[2], 4);
    EXPECT_EQ(img.z[4][6], ramp(6, 4));
    ASSERT_EQ(read(dir.file("cube.fits[1:6,1:4,2:2]")), 2);
    EXPECT_EQ(img.naxes[1], 6);
    EXPECT_EQ(img.naxes[2], 4);
    EXPECT_EQ(img.z[3][2], ramp(2, 3) + 100000);
}

TEST_F(FitsImg, CompleteImagesInOtherLayoutsStillRead)
{
    // Pixels without the fill of their last record (the library reads an
    // image this large past its buffers), and tile-compressed pixels, which
    // take less room than the image.
    write_image(dir.file("nofill.fits"), 70, 50, ramp);
    ASSERT_EQ(truncate(dir.file("nofill.fits").c_str(), 2880 + 70 * 50 * 4), 0);
    // The library compresses only pixels given in the image's own type.
    fitsfile *f = nullptr;
    int status = 0;
    long naxes[2] = {70, 50};
    std::vector<float> v(70 * 50);
    for (long i = 0; i < 70 * 50; i++)
        v[i] = ramp(i % 70 + 1, i / 70 + 1);
    ffinit(&f, ("!" + dir.file("tiles.fits[compress]")).c_str(), &status);
    ffcrim(f, FLOAT_IMG, 2, naxes, &status);
    ffppr(f, TFLOAT, 1, 70 * 50, v.data(), &status);
    ffclos(f, &status);
    ASSERT_EQ(status, 0);
    for (const std::string name : {"nofill.fits", "tiles.fits[1]"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(read(dir.file(name)), 2);
        EXPECT_EQ(img.z[50][70], ramp(70, 50));
        EXPECT_EQ(img.z[2][3], ramp(3, 2));
    }
}

TEST_F(FitsImg, MissingFileIsReportedNotFatal)
{
    strcpy(img.name, dir.file("absent.fits").c_str());
    img.magzpt = 25;
    EXPECT_EQ(readfits(&img), 1);
    EXPECT_EQ(img.err, 1);
    EXPECT_EQ(img.z, nullptr);
    EXPECT_EQ(img.magzpt, 25);
    strcpy(img.name, dir.file("absent.fits[1]").c_str());
    EXPECT_EQ(readfits(&img, FITS_OR_TEXT), 1);
}

TEST_F(FitsImg, FilesThatAreNoImageEndTheRun)
{
    spit(dir.file("text.fits"), "this is not FITS\n");
    write_image(dir.file("garbled.fits"), 4, 4, ramp);
    ASSERT_EQ(truncate(dir.file("garbled.fits").c_str(), 100), 0);
    write_image(dir.file("short.fits"), 4, 4, ramp);
    ASSERT_EQ(truncate(dir.file("short.fits").c_str(), 2880 + 10), 0);
    // A header alone that claims 200 GB of pixels.
    spit(dir.file("huge.fits"),
         header_text({"SIMPLE  =                    T", "BITPIX  =                  -32",
                      "NAXIS   =                    2", "NAXIS1  =           2147483647",
                      "NAXIS2  =                   25"}));
    fitsfile *f = nullptr;
    int status = 0;
    long n1 = 50;
    ffinit(&f, ("!" + dir.file("empty.fits")).c_str(), &status);
    ffcrim(f, FLOAT_IMG, 0, nullptr, &status);
    ffclos(f, &status);
    ffinit(&f, ("!" + dir.file("line.fits")).c_str(), &status);
    ffcrim(f, FLOAT_IMG, 1, &n1, &status);
    ffclos(f, &status);
    long cube[3] = {40, 40, 3}, plane4[4] = {40, 40, 1, 2};
    ffinit(&f, ("!" + dir.file("cube.fits")).c_str(), &status);
    ffcrim(f, FLOAT_IMG, 3, cube, &status);
    ffclos(f, &status);
    ffinit(&f, ("!" + dir.file("cube4.fits")).c_str(), &status);
    ffcrim(f, SHORT_IMG, 4, plane4, &status);
    ffclos(f, &status);
    ASSERT_EQ(status, 0);

    auto read_it = [&](const std::string &name, fits_other other) {
        strcpy(img.name, name.c_str());
        readfits(&img, other);
        exit(0);
    };
    EXPECT_EXIT(read_it(dir.file("text.fits"), FITS_REQUIRED), ::testing::ExitedWithCode(108),
                "Cannot read .*text.fits as a two-dimensional FITS image");
    EXPECT_EXIT(read_it(dir.file("garbled.fits"), FITS_REQUIRED), ::testing::ExitedWithCode(108),
                "garbled.fits");
    // A short file is reported before memory for its pixels is asked for.
    EXPECT_EXIT(read_it(dir.file("short.fits"), FITS_REQUIRED), ::testing::ExitedWithCode(108),
                "Error reading");
    EXPECT_EXIT(read_it(dir.file("huge.fits"), FITS_REQUIRED), ::testing::ExitedWithCode(108),
                "FITSIO status = 108(.|\n)*ends before the last pixel(.|\n)*huge.fits");
    EXPECT_EXIT(read_it(dir.file("empty.fits"), FITS_REQUIRED),
                ::testing::ExitedWithCode(BAD_NAXIS),
                "primary HDU holds no image(.|\n)*empty.fits\\[1\\](.|\n)*FITSIO status = 212");
    EXPECT_EXIT(read_it(dir.file("line.fits"), FITS_REQUIRED), ::testing::ExitedWithCode(BAD_NAXIS),
                "NAXIS < 2");
    EXPECT_EXIT(read_it(dir.file("empty.fits[1]"), FITS_REQUIRED), ::testing::ExitedWithCode(107),
                "empty.fits\\[1\\]");
    // A cube is no image: its first plane is not taken for one.
    EXPECT_EXIT(read_it(dir.file("cube.fits"), FITS_REQUIRED), ::testing::ExitedWithCode(BAD_NAXIS),
                "Cannot read .*cube.fits as a two-dimensional(.|\n)*FITSIO status = 212"
                "(.|\n)*NAXIS3 = 3");
    EXPECT_EXIT(read_it(dir.file("cube4.fits"), FITS_OR_TEXT), ::testing::ExitedWithCode(BAD_NAXIS),
                "NAXIS4 = 2");
    // A mask may be a text list, but a FITS file that is damaged or holds
    // no image is still an error.
    EXPECT_EXIT(read_it(dir.file("text.fits"), FITS_OR_TEXT), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(read_it(dir.file("garbled.fits"), FITS_OR_TEXT), ::testing::ExitedWithCode(108),
                "could not interpret primary array header");
    EXPECT_EXIT(read_it(dir.file("empty.fits"), FITS_OR_TEXT), ::testing::ExitedWithCode(BAD_NAXIS),
                "");
    strcpy(img.name, dir.file("text.fits").c_str());
    EXPECT_EQ(readfits(&img, FITS_OR_TEXT), 1);
    EXPECT_EQ(img.err, 1);
}

// ---- writing -------------------------------------------------------------

class WriteFits : public FitsImg {
protected:
    // A 40 x 30 image of a 100 x 80 template's section [11:50,21:50].
    void SetUp() override
    {
        FitsImg::SetUp();
        img.naxes[1] = 40;
        img.naxes[2] = 30;
        img.z = matrix(1, 30, 1, 40);
        for (long y = 1; y <= 30; y++)
            for (long x = 1; x <= 40; x++)
                img.z[y][x] = ramp(x, y) + 0.25f;
        strcpy(img.imgsect, "[11:50,21:50]");
        strcpy(img.name, dir.file("out.fits").c_str());
    }
};

TEST_F(WriteFits, NewFileWithoutTemplate)
{
    spit(img.name, "an older file in the way");
    EXPECT_EQ(writefits(nullptr, &img, "model", 0), 1);
    EXPECT_EQ(writefits(dir.file("absent.fits").c_str(), &img, "model", 0), 1);
    ASSERT_EQ(count_hdus(img.name), 1);
    Hdu h = read_hdu(img.name, 1);
    ASSERT_EQ(h.status, 0);
    EXPECT_EQ(h.bitpix, FLOAT_IMG);
    EXPECT_EQ(h.text("OBJECT"), "model");
    ASSERT_EQ(h.nx, 40);
    ASSERT_EQ(h.ny, 30);
    EXPECT_EQ(h.at(40, 30), ramp(40, 30) + 0.25f);
    EXPECT_EQ(h.at(3, 7), ramp(3, 7) + 0.25f);
    EXPECT_TRUE(fitsverify(img.name).clean) << fitsverify(img.name).report;
}

TEST_F(WriteFits, TemplateHeaderGoesWithTheSection)
{
    struct Case {
        std::vector<Key> keys;
        std::string object;
    } cases[] = {
        {{{"OBJECT", "NGC1"}, {"TARGNAME", "T"}, {"EXPTIME", "5"}}, "NGC1[11:50,21:50]"},
        {{{"TARGNAME", "T2"}}, "T2[11:50,21:50]"},
        {{{"EXPTIME", "5"}}, "[11:50,21:50]"},
    };
    for (const Case &c : cases) {
        write_image(
            dir.file("tmpl.fits"), 100, 80, [](long x, long y) { return float(x + y); }, c.keys,
            SHORT_IMG);
        EXPECT_EQ(writefits(dir.file("tmpl.fits").c_str(), &img, "ignored", 0), 2);
        ASSERT_EQ(count_hdus(img.name), 2);
        Hdu prim = read_hdu(img.name, 1), sect = read_hdu(img.name, 2);
        EXPECT_EQ(prim.nx, 40);
        EXPECT_EQ(prim.ny, 30);
        EXPECT_EQ(prim.at(17, 9), 0);
        EXPECT_EQ(sect.text("OBJECT"), c.object);
        EXPECT_EQ(sect.bitpix, SHORT_IMG); // the template's BITPIX is kept
        EXPECT_EQ(sect.nx, 40);
        EXPECT_EQ(sect.ny, 30);
        EXPECT_EQ(sect.raw("PCOUNT"), "0");
        EXPECT_EQ(sect.raw("GCOUNT"), "1");
        EXPECT_EQ(sect.at(40, 30), ramp(40, 30)); // 16-bit: rounded
        Verdict v = fitsverify(img.name);
        EXPECT_TRUE(v.clean) << v.report;
    }
}

TEST_F(WriteFits, AppendsImageExtensions)
{
    writefits(nullptr, &img, "first", 0);
    img.z[1][1] = -5;
    EXPECT_EQ(writefits("", &img, "second", 1), 2);
    EXPECT_EQ(writefits(dir.file("absent.fits").c_str(), &img, "third", 1), 3);
    ASSERT_EQ(count_hdus(img.name), 3);
    for (int n = 2; n <= 3; n++) {
        Hdu h = read_hdu(img.name, n);
        EXPECT_EQ(h.names[0], "XTENSION");
        EXPECT_EQ(h.text("XTENSION"), "IMAGE");
        EXPECT_EQ(h.raw("PCOUNT"), "0");
        EXPECT_EQ(h.raw("GCOUNT"), "1");
        EXPECT_EQ(h.text("OBJECT"), n == 2 ? "second" : "third");
        EXPECT_EQ(h.at(1, 1), -5);
        EXPECT_EQ(h.at(40, 30), ramp(40, 30) + 0.25f);
    }
    Verdict v = fitsverify(img.name);
    EXPECT_TRUE(v.clean) << v.report;

    // A file that is not there is reported, and the caller decides.
    strcpy(img.name, dir.file("absent.fits").c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(writefits("", &img, "x", 1), 0);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("Can't append to image " + dir.file("absent.fits") + "!"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("FITSIO status = 104"), std::string::npos) << said;
    EXPECT_EQ(access(img.name, F_OK), -1);
}

TEST_F(WriteFits, FilesThatCannotBeWrittenAreReported)
{
    // A folder that does not exist, and an extension in the name of a new
    // file: reported with CFITSIO's status.
    const struct {
        std::string name;
        const char *status;
    } cases[] = {
        {dir.file("no/such/dir/out.fits"), "FITSIO status = 105"},
        {dir.file("out2.fits[1]"), "FITSIO status = 125"},
    };
    for (const auto &c : cases) {
        strcpy(img.name, c.name.c_str());
        testing::internal::CaptureStderr();
        EXPECT_EQ(writefits(nullptr, &img, "x", 0), 0) << c.name;
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("Cannot write the image " + c.name), std::string::npos) << said;
        EXPECT_NE(said.find(c.status), std::string::npos) << said;
    }
}

TEST_F(WriteFits, WrittenImageReadsBack)
{
    writefits(nullptr, &img, "model", 0);
    image back;
    strcpy(back.name, img.name);
    EXPECT_EQ(readfits(&back), 2);
    ASSERT_EQ(back.naxes[1], 40);
    ASSERT_EQ(back.naxes[2], 30);
    EXPECT_EQ(memcmp(&back.z[1][1], &img.z[1][1], 40 * 30 * sizeof(float)), 0);
    release(back);
}

// ---- the fit-region cut and its companions --------------------------------

TEST_F(FitsImg, CutsTheSectionAndFillsWhatLiesOutside)
{
    img.naxes[1] = 100;
    img.naxes[2] = 100;
    img.z = matrix(1, 100, 1, 100);
    for (long y = 1; y <= 100; y++)
        for (long x = 1; x <= 100; x++)
            img.z[y][x] = ramp(x, y);
    img.magzpt = 26;
    img.gain = 3;
    strcpy(img.name, "gal.fits");

    struct Case {
        const char *sect;
        float outside;
        long nx, ny;
        long x1, y1; // source pixel of the cut's (1, 1)
    } cases[] = {
        {"[11:50,21:60]", 0, 40, 40, 11, 21},   {"[91:110,95:104]", 0, 20, 10, 91, 95},
        {"[91:110,95:104]", 1, 20, 10, 91, 95}, {"[-1:3,0:2]", 1, 5, 3, -1, 0},
        {"[1:100,1:100]", 0, 100, 100, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sect);
        strcpy(img.imgsect, c.sect);
        image *m = to_mini(&img, c.outside);
        ASSERT_EQ(m->naxes[1], c.nx);
        ASSERT_EQ(m->naxes[2], c.ny);
        EXPECT_STREQ(m->name, "gal.fits");
        EXPECT_STREQ(m->imgsect, c.sect);
        EXPECT_EQ(m->magzpt, 26);
        EXPECT_EQ(m->gain, 3);
        for (long y = 1; y <= c.ny; y++)
            for (long x = 1; x <= c.nx; x++) {
                long sx = x + c.x1 - 1, sy = y + c.y1 - 1;
                bool in = sx >= 1 && sx <= 100 && sy >= 1 && sy <= 100;
                ASSERT_EQ(m->z[y][x], in ? ramp(sx, sy) : c.outside) << x << "," << y;
            }
        free_mini(m);
    }

    strcpy(img.imgsect, "[50:40,1:10]");
    image *m = to_mini(&img);
    EXPECT_EQ(m->naxes[1], 0);
    EXPECT_EQ(m->z, nullptr);
    free_mini(m);
}

TEST(ImageOps, OffsetMovesEverythingButTheSky)
{
    fitpars gal, sky, star;
    strcpy(gal.objtype, "sersic");
    strcpy(sky.objtype, "sky");
    strcpy(star.objtype, "psf");
    gal.next = &sky;
    sky.next = &star;
    gal.a[1] = 120;
    gal.a[2] = 80;
    sky.a[1] = 1.5f;
    sky.a[2] = 0.25f;
    star.a[1] = 101;
    star.a[2] = 51;
    convpars cpar;
    cpar.cent[1] = 150;
    cpar.cent[2] = 60;
    offset_center(&gal, &cpar, -100, -50);
    EXPECT_EQ(gal.a[1], 20);
    EXPECT_EQ(gal.a[2], 30);
    EXPECT_EQ(star.a[1], 1);
    EXPECT_EQ(star.a[2], 1);
    EXPECT_EQ(sky.a[1], 1.5f);
    EXPECT_EQ(sky.a[2], 0.25f);
    EXPECT_EQ(cpar.cent[1], 50);
    EXPECT_EQ(cpar.cent[2], 10);
}

TEST_F(FitsImg, BlankImageIsZeroAndHoldsTheRegion)
{
    // Dirty the heap so that unset pixels would show.
    float **junk = matrix(1, 80, 1, 60);
    for (long i = 0; i < 80 * 60; i++)
        (&junk[1][1])[i] = 12345;
    free_matrix(junk, 1, 80, 1, 60);

    inpars in;
    strcpy(in.imgsect, "[11:60,21:80]");
    blank_img(&img, in);
    EXPECT_STREQ(img.imgsect, "[11:60,21:80]");
    ASSERT_EQ(img.naxes[1], 60);
    ASSERT_EQ(img.naxes[2], 80);
    for (long y = 1; y <= 80; y++)
        for (long x = 1; x <= 60; x++)
            ASSERT_EQ(img.z[y][x], 0) << x << "," << y;
    EXPECT_EQ(img.exptime, 1);
    EXPECT_EQ(img.gain, 7);

    inpars none;
    EXPECT_EXIT(blank_img(&img, none), ::testing::ExitedWithCode(2), "no fitting region \\(H\\)");
    strcpy(none.imgsect, "[-10:0,1:5]");
    EXPECT_EXIT(blank_img(&img, none), ::testing::ExitedWithCode(2), "zero width");
}

} // namespace
