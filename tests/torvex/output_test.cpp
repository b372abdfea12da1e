// The output image block and its header, read back with CFITSIO and
// checked with fitsverify.
#include "torvex/fit/workarrays.h"
#include "torvex/model/mkmodel.h"
#include "torvex/output/outmodel.h"
#include "torvex/output/writefits.h"

#include "common/fits.h"
#include "fit_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>

using namespace test_common;

namespace {

std::string fmt(const char *f, double a, double b)
{
    char buf[512];
    snprintf(buf, sizeof buf, f, a, b);
    return buf;
}

class Output : public ::testing::Test {
protected:
    void SetUp() override
    {
        output_stage(dir.file("data.fits"), dir.file("block.fits"));
        strcpy(input.psf, "psf.fits");
        input.convbox[1] = 60;
        input.convbox[2] = 70;
        input.magzpt = 25.5f;

        d.naxes[1] = model.naxes[1] = 40;
        d.naxes[2] = model.naxes[2] = 30;
        d.z = matrix(1, 30, 1, 40);
        model.z = matrix(1, 30, 1, 40);
        for (long y = 1; y <= 30; y++)
            for (long x = 1; x <= 40; x++) {
                d.z[y][x] = 100.0f + x * 0.5f + y;
                model.z[y][x] = 90.0f + x * 0.25f - y * 0.125f;
            }
        strcpy(d.name, input.data);
        strcpy(d.imgsect, input.imgsect);
    }
    void TearDown() override
    {
        free_matrix(d.z, 1, 30, 1, 40);
        free_matrix(model.z, 1, 30, 1, 40);
        pfunc = printf;
    }

    fitpars *add(const char *type, std::map<int, float> a, std::map<int, float> sig = {})
    {
        nodes.emplace_back();
        fitpars &p = nodes.back();
        strcpy(p.objtype, type);
        for (auto &kv : a)
            p.a[kv.first] = kv.second;
        for (auto &kv : sig)
            p.sig[kv.first] = kv.second;
        return &p;
    }
    fitpars *list()
    {
        for (size_t i = 0; i + 1 < nodes.size(); i++)
            nodes[i].next = &nodes[i + 1];
        return &nodes.front();
    }

    ScratchDir dir;
    image d, model;
    std::deque<fitpars> nodes;
};

// Keyword names of the cards after OBJECT, as CFITSIO gives them back.
std::vector<std::string> after_object(const Hdu &h)
{
    std::vector<std::string> out;
    bool seen = false;
    for (const std::string &n : h.names) {
        if (seen)
            out.push_back(n);
        seen = seen || n == "OBJECT";
    }
    return out;
}

TEST_F(Output, CreateRunWritesTheModelWithTheWholeHeader)
{
    add("sersic",
        {{1, 12.5f}, {2, 3}, {3, 17.5f}, {4, 8}, {5, 3.5f}, {8, 0.8f}, {9, 30}, {10, -0.5f}},
        {{1, 0.125f}, {3, 0.25f}});
    add("sky", {{1, 1.5f}, {2, 0.01f}, {3, -0.02f}}, {{1, 0.5f}});
    input.create = 1;
    EXPECT_EQ(outblock(list(), &d, &model, 1234.5, 1190, 100, 50), 0);

    ASSERT_EQ(count_hdus(input.output), 1);
    Hdu h = read_hdu(input.output, 1);
    EXPECT_EQ(h.text("OBJECT"), "model");
    EXPECT_EQ(h.at(17, 9), model.z[9][17]);
    std::vector<std::string> names = {
        "COMMENT",  "COMMENT", "INITFILE", "DATAIN",  "SIGMA",   "PSF",     "CONSTRNT",
        "MASK",     "FITSECT", "CBOXCENT", "CONVBOX", "MAGZPT",  "COMMENT", "COMP_1",
        "1_XCENT",  "1_YCENT", "1_MAG",    "1_RE",    "1_N",     "1_AR",    "1_PA",
        "1_C",      "COMMENT", "COMP_2",   "2_XCENT", "2_YCENT", "2_SKY",   "2_DSKYDX",
        "2_DSKYDY", "COMMENT", "CHISQ",    "NDOF",    "CHI2NU",  "COMMENT", "COMMENT"};
    EXPECT_EQ(after_object(h), names);

    const std::pair<const char *, std::string> values[] = {
        {"INITFILE", "gal.param"},
        {"DATAIN", input.data},
        {"SIGMA", "none"},
        {"PSF", "psf.fits"},
        {"CONSTRNT", "none"},
        {"MASK", "none"},
        {"FITSECT", "[101:140,51:80]"},
        {"CBOXCENT", "0.00, 0.00"},
        {"CONVBOX", "60, 70"},
        {"COMP_1", "sersic"},
        {"1_XCENT", "112.5000 +/- 0.1250"},
        {"1_YCENT", "53.0000 +/- 0.0000"},
        {"1_MAG", "17.5000 +/- 0.2500"},
        {"1_N", "3.5000 +/- 0.0000"},
        {"1_C", "-0.5000 +/- 0.0000"},
        {"COMP_2", "sky"},
        {"2_XCENT", "120.5000"},
        {"2_YCENT", "65.5000"},
        {"2_SKY", "1.5000 +/- 0.5000"},
        {"2_DSKYDY", "-0.0200 +/- 0.0000"},
    };
    for (const auto &v : values)
        EXPECT_EQ(h.text(v.first), v.second) << v.first;
    EXPECT_EQ(h.raw("MAGZPT"), "25.5");
    EXPECT_EQ(h.raw("CHISQ"), "1234.5");
    EXPECT_EQ(h.raw("NDOF"), "1190");
    EXPECT_NEAR(std::stod(h.raw("CHI2NU")), 1234.5 / 1190, 1e-6);
    Verdict v = fitsverify(input.output);
    EXPECT_TRUE(v.clean) << v.report;
}

TEST_F(Output, EveryTypeKeepsEveryParameter)
{
    // Slot values 1..10 are 10*slot + component number, so that a card
    // written under the wrong keyword, or overwritten, shows.
    const struct {
        const char *type;
        std::vector<std::pair<int, std::string>> cards; // slot -> keyword suffix
    } types[] = {
        {"sersic",
         {{1, "XCENT"},
          {2, "YCENT"},
          {3, "MAG"},
          {4, "RE"},
          {5, "N"},
          {8, "AR"},
          {9, "PA"},
          {10, "C"}}},
        {"devauc",
         {{1, "XCENT"}, {2, "YCENT"}, {3, "MAG"}, {4, "RE"}, {8, "AR"}, {9, "PA"}, {10, "C"}}},
        {"expdisk",
         {{1, "XCENT"}, {2, "YCENT"}, {3, "MAG"}, {4, "RS"}, {8, "AR"}, {9, "PA"}, {10, "C"}}},
        {"gaussian",
         {{1, "XCENT"}, {2, "YCENT"}, {3, "MAG"}, {4, "FWHM"}, {8, "AR"}, {9, "PA"}, {10, "C"}}},
        {"moffat",
         {{1, "XCENT"},
          {2, "YCENT"},
          {3, "MAG"},
          {4, "FWHM"},
          {5, "POW"},
          {8, "AR"},
          {9, "PA"},
          {10, "C"}}},
        {"king",
         {{1, "XCENT"},
          {2, "YCENT"},
          {3, "MU0"},
          {4, "RC"},
          {5, "RT"},
          {6, "ALPHA"},
          {8, "AR"},
          {9, "PA"},
          {10, "C"}}},
        {"nuker",
         {{1, "XCENT"},
          {2, "YCENT"},
          {3, "MU"},
          {4, "RB"},
          {5, "ALPHA"},
          {6, "BETA"},
          {7, "GAMMA"},
          {8, "AR"},
          {9, "PA"},
          {10, "C"}}},
        {"psf", {{1, "XCENT"}, {2, "YCENT"}, {3, "MAG"}}},
    };
    int n = 0;
    for (const auto &t : types) {
        n++;
        std::map<int, float> a, sig;
        for (int j = 1; j <= 10; j++) {
            a[j] = 10.0f * j + n;
            sig[j] = 0.5f * j;
        }
        add(t.type, a, sig);
    }
    input.create = 1;
    EXPECT_EQ(outblock(list(), &d, &model, 10, 5, 0, 0), 0);
    Hdu h = read_hdu(input.output, 1);
    std::vector<std::string> names = after_object(h);
    n = 0;
    for (const auto &t : types) {
        n++;
        SCOPED_TRACE(t.type);
        std::string p = std::to_string(n) + "_";
        auto at = std::find(names.begin(), names.end(), "COMP_" + std::to_string(n));
        ASSERT_NE(at, names.end());
        for (const auto &c : t.cards) {
            ++at;
            ASSERT_NE(at, names.end());
            EXPECT_EQ(*at, p + c.second);
            EXPECT_EQ(h.text(p + c.second),
                      fmt("%-.4f +/- %-.4f", 10.0 * c.first + n, 0.5 * c.first))
                << c.second;
        }
        EXPECT_EQ(*++at, "COMMENT");
    }
    Verdict v = fitsverify(input.output);
    EXPECT_TRUE(v.clean) << v.report;
}

TEST_F(Output, LongNamesAndLargeValuesAreKeptWhole)
{
    std::string longname =
        dir.file(std::string(FILENAME_LEN - dir.path().size() - 6, 'n') + ".fits");
    ASSERT_EQ(longname.size(), size_t(FILENAME_LEN));
    strcpy(input.data, longname.c_str());
    strcpy(input.initparfile, longname.c_str());
    add("sersic", {{1, 1e30f}, {3, -1e35f}}, {{3, 1e38f}});
    // Component numbers of two and three digits make keywords longer than
    // eight characters.
    for (int i = 2; i <= 100; i++)
        add("sky", {{1, 1}});
    input.create = 1;
    EXPECT_EQ(outblock(list(), &d, &model, 7, 0, 0, 0), 0);
    Hdu h = read_hdu(input.output, 1);
    EXPECT_EQ(h.text("DATAIN"), longname);
    EXPECT_EQ(h.text("INITFILE"), longname);
    EXPECT_EQ(h.text("1_MAG"), fmt("%-.4f +/- %-.4f", -1e35f, 1e38f));
    EXPECT_EQ(h.text("1_XCENT"), fmt("%-.4f +/- %-.4f", 1e30f, 0));
    EXPECT_EQ(h.text("100_DSKYDX"), "0.0000 +/- 0.0000");
    EXPECT_EQ(h.text("100_XCENT"), "20.5000");
    // With no degrees of freedom the reduced chi^2 has no value, but its
    // card is there.
    EXPECT_EQ(h.raw("CHI2NU"), "");
    EXPECT_EQ(h.raw("NDOF"), "0");
    Verdict v = fitsverify(input.output);
    EXPECT_TRUE(v.clean) << v.report;
}

TEST_F(Output, FitRunWritesFourHdus)
{
    write_image(input.data, 200, 100, [](long x, long y) { return float(x * y); },
                {{"OBJECT", "NGC 1"}, {"EXPTIME", "300"}});
    add("sersic", {{1, 12.5f}, {2, 3}}, {{1, 0.25f}});
    input.create = 0;
    EXPECT_EQ(outblock(list(), &d, &model, 50, 40, 100, 50), 0);
    EXPECT_STREQ(d.name, input.data);

    ASSERT_EQ(count_hdus(input.output), 4);
    Hdu h1 = read_hdu(input.output, 1), h2 = read_hdu(input.output, 2),
        h3 = read_hdu(input.output, 3), h4 = read_hdu(input.output, 4);
    EXPECT_EQ(h1.nx, 40);
    EXPECT_EQ(h1.ny, 30);
    EXPECT_EQ(h1.at(5, 5), 0);
    EXPECT_EQ(h2.text("OBJECT"), "NGC 1[101:140,51:80]");
    EXPECT_EQ(h2.raw("EXPTIME"), "300.");
    EXPECT_EQ(h3.text("OBJECT"), "model");
    EXPECT_EQ(h3.text("1_XCENT"), "112.5000 +/- 0.2500");
    EXPECT_EQ(h3.raw("NDOF"), "40");
    EXPECT_EQ(h4.text("OBJECT"), "residual map");
    EXPECT_EQ(h4.text("COMP_1"), "<none>");
    for (const Hdu *h : {&h2, &h3, &h4}) {
        EXPECT_EQ(h->raw("PCOUNT"), "0");
        EXPECT_EQ(h->raw("GCOUNT"), "1");
    }
    for (long y = 1; y <= 30; y++)
        for (long x = 1; x <= 40; x++) {
            ASSERT_EQ(h2.at(x, y), d.z[y][x]);
            ASSERT_EQ(h3.at(x, y), model.z[y][x]);
            ASSERT_EQ(h4.at(x, y), h2.at(x, y) - h3.at(x, y));
        }
    Verdict v = fitsverify(input.output);
    EXPECT_TRUE(v.clean) << v.report;
}

TEST_F(Output, HeaderFollowsTheModelWhenTheTemplateIsGone)
{
    // The data file has gone: the section lands in the primary HDU, and the
    // parameters must go with the model, not with the residual.
    add("sersic", {{1, 12.5f}, {2, 3}});
    input.create = 0;
    EXPECT_EQ(outblock(list(), &d, &model, 50, 40, 0, 0), 0);
    ASSERT_EQ(count_hdus(input.output), 3);
    Hdu h1 = read_hdu(input.output, 1), h2 = read_hdu(input.output, 2),
        h3 = read_hdu(input.output, 3);
    EXPECT_EQ(h1.text("OBJECT"), "original image");
    EXPECT_EQ(h2.text("OBJECT"), "model");
    EXPECT_EQ(h2.text("COMP_1"), "sersic");
    EXPECT_EQ(h3.text("COMP_1"), "<none>");
}

TEST_F(Output, ModelLeavesOutComponentsNotSubtracted)
{
    strcpy(psf.name, "none");
    add("sersic", {{1, 15}, {2, 12}, {3, 18}, {4, 5}, {5, 1.5f}, {8, 0.6f}, {9, 20}});
    fitpars *faint = add("sersic", {{1, 25}, {2, 18}, {3, 19}, {4, 3}, {5, 4}, {8, 1}});
    faint->outtype = 1;
    fitpars *comps = list();
    write_image(input.data, 200, 100, [](long, long) { return 0.0f; });
    free_matrix(model.z, 1, 30, 1, 40);
    model.z = nullptr;
    image alone = model;
    derivs nodes, alone_nodes;
    create_work_arrays(comps, &model, &nodes);
    fitpars first = *comps;
    first.next = nullptr;
    create_work_arrays(&first, &alone, &alone_nodes);
    convpars cpar;
    mkmodel(&alone, &alone_nodes, &first, &cpar, 1);

    input.create = 0;
    EXPECT_EQ(outmodel(comps, &cpar, &d, &model, &nodes, 50, 40, 0, 0), 0);
    Hdu h3 = read_hdu(input.output, 3), h4 = read_hdu(input.output, 4);
    for (long y = 1; y <= 30; y++)
        for (long x = 1; x <= 40; x++) {
            ASSERT_EQ(h3.at(x, y), alone.z[y][x]) << x << "," << y;
            ASSERT_EQ(h4.at(x, y), d.z[y][x] - alone.z[y][x]);
        }
    // Its parameters are still reported.
    EXPECT_EQ(h3.text("2_MAG"), "19.0000 +/- 0.0000");

    annihilate_work_arrays(&first, &alone, &alone_nodes);
    annihilate_work_arrays(comps, &model, &nodes);
    delete_derivs(nodes.next);
    model.z = matrix(1, 30, 1, 40); // for TearDown
}

TEST_F(Output, MissingFileOrHduIsAnOutputLost)
{
    add("sersic", {});
    const struct {
        std::string name;
        int hdu;
        const char *status;
    } cases[] = {
        {dir.file("absent.fits"), 1, "FITSIO status = 104"},
        {input.output, 3, "FITSIO status = 107"},
    };
    strcpy(model.name, input.output);
    writefits(nullptr, &model, "model", 0);
    for (const auto &c : cases) {
        strcpy(model.name, c.name.c_str());
        testing::internal::CaptureStderr();
        EXPECT_EQ(writeheader(&model, list(), 1, 1, c.hdu, 0, 0), OUTPUT_LOST) << c.name;
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("Can't append to image header " + c.name + "!"), std::string::npos)
            << said;
        EXPECT_NE(said.find(c.status), std::string::npos) << said;
    }
}

TEST(CheckOutput, RefusesNamesThatResolveToAnInput)
{
    pfunc = print_to_stderr;
    ScratchDir dir;
    InDir in_dir(dir.path());
    spit("data.fits", "x");
    spit("sigma.fits", "x");
    spit("mask.txt", "x");
    spit("run.param", "x");
    spit("other.fits", "x");
    ASSERT_EQ(symlink("data.fits", "link.fits"), 0);
    ASSERT_EQ(link("sigma.fits", "hard.fits"), 0);

    inpars in;
    strcpy(in.initparfile, "run.param");
    strcpy(in.data, "data.fits[1]");
    strcpy(in.sigma, dir.file("sigma.fits").c_str());
    strcpy(in.badpix, "mask.txt");
    strcpy(in.psf, "none");
    const struct {
        const char *output;
        int refused;
        const char *what;
    } cases[] = {
        {"data.fits", 1, "data image"},
        {"!data.fits", 1, "data image"},
        {"./data.fits[0]", 1, "data image"},
        {"link.fits", 1, "data image"},
        {"hard.fits", 1, "sigma image"},
        {"mask.txt", 1, "bad-pixel mask"},
        {"run.param", 1, "parameter file"},
        {"other.fits", 0, ""},
        {"new.fits", 0, ""},
        {"none", 0, ""},
    };
    for (const auto &c : cases) {
        strcpy(in.output, c.output);
        testing::internal::CaptureStderr();
        EXPECT_EQ(check_output(in), c.refused) << c.output;
        std::string msg = testing::internal::GetCapturedStderr();
        if (c.refused)
            EXPECT_NE(msg.find(std::string("is the ") + c.what), std::string::npos) << msg;
        else
            EXPECT_EQ(msg, "");
    }
    pfunc = printf;
}

} // namespace
