#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/arrays.h"
#include "common/fits.h"
#include "fitstable.h"
#include "lightcurve/Lightcurve.h"
#include "planet.h"
#include "printed.h"
#include "written.h"

using namespace test_common;

namespace {

// The values as a float column holds them.
std::vector<double> asFloats(const orv::MArray<double, 1> &a, int n)
{
    std::vector<double> v;
    for (int i = 1; i <= n; ++i)
        v.push_back(static_cast<float>(a(i)));
    return v;
}

// The table in file has these columns, "JD" as double and the others as
// float, all with unit "none", and passes fitsverify.
void expectTable(const std::string &file, const std::vector<std::string> &names,
                 const std::vector<std::vector<double>> &values)
{
    const FitsTable t = readTable(file);
    ASSERT_EQ(0, t.status);
    EXPECT_EQ(2, t.hdus);
    EXPECT_EQ("TABLE_BINARY", t.extname);
    EXPECT_EQ(static_cast<long>(values.at(0).size()), t.rows);
    EXPECT_EQ(names, t.names);
    for (std::size_t c = 0; c < t.names.size() && c < names.size(); ++c) {
        const bool jd = names[c] == "JD";
        EXPECT_EQ(jd ? "D" : "E", t.forms[c]) << names[c];
        EXPECT_EQ(jd ? TDOUBLE : TFLOAT, t.types[c]) << names[c];
        EXPECT_EQ("none", t.units[c]) << names[c];
        EXPECT_EQ(values.at(c), t.values[c]) << names[c];
    }
    const Verdict verdict = fitsverify(file);
    EXPECT_TRUE(verdict.flawless) << verdict.report;
}

// Noise-free box transits: the flux is the noise-free flux.
Lightcurve noiseFree()
{
    const orv::MArray<double, 1> t = transitTimes();
    Lightcurve lc;
    long seed = -1;
    lc.simulate(3, 100, 0.05, 0.01, t, arrayOf(std::vector<double>(t.length(1), 0.0)), seed);
    return lc;
}

// A pattern of death tests that matches text as it is.
std::string literally(const std::string &text)
{
    std::string pattern;
    for (char ch : text) {
        if (std::string("\\^$.|?*+()[]{}").find(ch) != std::string::npos)
            pattern += '\\';
        pattern += ch;
    }
    return pattern;
}

} // namespace

TEST(FitsTables, LightCurveColumnsAsSwitched)
{
    test_common::ScratchDir scratch;
    Lightcurve lc = three();
    const std::vector<double> jd = valuesOf(lc.getJD());
    const std::vector<double> flux = asFloats(lc.getFlux(), 3), error = asFloats(lc.getError(), 3),
                              nchi = asFloats(lc.getNchi(), 3),
                              boxval = asFloats(lc.getBoxval(), 3);
    const struct {
        bool nchi, boxval;
        std::vector<std::string> names;
        std::vector<std::vector<double>> values;
    } cases[] = {
        {true, true, {"JD", "flux", "error", "nchi", "boxval"}, {jd, flux, error, nchi, boxval}},
        {false, true, {"JD", "flux", "error", "boxval"}, {jd, flux, error, boxval}},
        {true, false, {"JD", "flux", "error", "nchi"}, {jd, flux, error, nchi}},
        {false, false, {"JD", "flux", "error"}, {jd, flux, error}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.nchi) + std::to_string(c.boxval));
        const std::string file =
            scratch.file("lc" + std::to_string(c.nchi) + std::to_string(c.boxval) + ".fits");
        lc.write_binary(file, c.nchi, c.boxval, true, true);
        expectTable(file, c.names, c.values);
    }
    // The time keeps its digits, the flux only single precision.
    EXPECT_EQ(2453000.123456789, jd[0]);
    EXPECT_NE(0.9987654321, flux[1]);
}

TEST(FitsTables, FoldSpectrumNoiseFreeAndTransitFreeTables)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("t.fits");

    Lightcurve folded = three();
    folded.fold(0.7, 2453000.2);
    folded.write_folded_binary(file, true, true, false, false);
    expectTable(file, {"phase", "flux", "error", "nchi", "boxval"},
                {asFloats(folded.getPhase(), 3), asFloats(folded.getPhased_Flux(), 3),
                 asFloats(folded.getPhased_Error(), 3), asFloats(folded.getPhased_Nchi(), 3),
                 asFloats(folded.getPhased_Boxval(), 3)});

    Lightcurve model = noiseFree();
    const int n = model.getLength();
    model.write_nonoise_binary(file, false, false);
    expectTable(file, {"JD", "flux"}, {valuesOf(model.getJD()), asFloats(model.getFlux(), n)});

    // The flux without the transit is the flux before it was added.
    Lightcurve transit = flat(transitTimes(), 0.001);
    orv::MArray<double, 1> before(n);
    for (int i = 1; i <= n; ++i)
        before(i) = transit.getFlux()(i) = 1 + 0.001 * (i % 7);
    Planet().addTo(transit);
    transit.write_removed_binary(file, false, false);
    expectTable(file, {"JD", "flux", "error"},
                {valuesOf(transit.getJD()), asFloats(before, n), asFloats(transit.getError(), n)});

    // The spectrum as the text table has it, to single precision.
    model.boxfitting(20, 2, 4, 0.02, 0.1, 0);
    const std::string text = scratch.file("sr.txt");
    model.write_SR(text, false);
    std::vector<double> frequency, sr;
    for (const std::string &line : dataRows(text)) {
        frequency.push_back(static_cast<float>(std::stod(line.substr(0, 16))));
        sr.push_back(static_cast<float>(std::stod(line.substr(17))));
    }
    model.write_SR_binary(file, false);
    const FitsTable t = readTable(file);
    ASSERT_EQ(0, t.status);
    EXPECT_EQ((std::vector<std::string>{"1/p", "SR"}), t.names);
    ASSERT_EQ(20, t.rows);
    for (int i = 0; i < 20; ++i) {
        EXPECT_FLOAT_EQ(frequency[i], t.values[0][i]) << i;
        EXPECT_FLOAT_EQ(sr[i], t.values[1][i]) << i;
    }
}

TEST(FitsTables, WritingTwiceToOneNameGivesOneTable)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("twice.fits");
    Lightcurve first = three();
    first.write_binary(file, true, true, false, false);
    Lightcurve second(doubles({1, 2}), doubles({3, 4}), doubles({0.5, 0.25}));
    second.write_binary(file, false, false, false, false);
    expectTable(file, {"JD", "flux", "error"}, {{1, 2}, {3, 4}, {0.5, 0.25}});
}

TEST(FitsTables, WritersRefuseWhatIsMissingAndWriteNoFile)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("out.fits");
    Lightcurve none;
    Lightcurve plain = three();
    expectRefusals(
        {
            {[&] { none.write_binary(file, true, true, false, false); },
             "lightcurve contains no data points\n"},
            {[&] { plain.write_folded_binary(file, true, true, false, false); },
             "lightcurve has not been folded, yet!\n"},
            {[&] { plain.write_SR_binary(file, false); }, "no SR-spectrum available!\n"},
            {[&] { plain.write_nonoise_binary(file, false, false); },
             "error: nonoise lightcurve not available!\n"},
            {[&] { plain.write_removed_binary(file, false, false); },
             "error: transits have not yet been removed!\n"},
        },
        file);
}

TEST(FitsTablesDeathTest, WhatCannotBeReplacedEndsTheProcessAndStays)
{
    test_common::ScratchDir scratch;
    const std::string folder = scratch.file("out.fits"), kept = scratch.file("x.fits"),
                      locked = scratch.file("locked.fits");
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    spit(kept, "kept");
    spit(locked, "kept");
    ASSERT_EQ(0, chmod(locked.c_str(), 0444));
    // Root may write any file: the write-protected file is tried by an
    // unprivileged user who owns it and its folder.
    const passwd *nobody = getpwnam("nobody");
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_NE(nullptr, nobody);
        ASSERT_EQ(0, chown(scratch.path().c_str(), nobody->pw_uid, nobody->pw_gid));
        ASSERT_EQ(0, chown(locked.c_str(), nobody->pw_uid, nobody->pw_gid));
    }
    const auto asOwner = [&] {
        if (root && (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
                     setuid(nobody->pw_uid) != 0))
            std::exit(1);
    };
    Lightcurve lc = three();
    const struct {
        std::string name;
        std::function<void()> before;
    } cases[] = {
        {folder, [] {}},
        {kept + "[1]", [] {}}, // an extension of x.fits
        {kept + "(template.fits)", [] {}},
        {locked, asOwner},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(
            {
                c.before();
                lc.write_binary(c.name, true, true, false, false);
            },
            testing::ExitedWithCode(255),
            "^" + literally("error: cannot open file " + c.name + " for writing\n\n") + "$");
    }
    struct stat st;
    EXPECT_TRUE(stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    EXPECT_EQ("kept", slurp(kept));
    EXPECT_EQ("kept", slurp(locked));
}

TEST(FitsTablesDeathTest, AFileThatCannotBeWrittenWhollyIsReported)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("big.fits");
    const int n = 5000; // 80000 bytes of table
    orv::MArray<double, 1> t(n);
    for (int i = 1; i <= n; ++i)
        t(i) = i;
    Lightcurve lc = flat(t, 0.001);
    // Files may grow to three FITS blocks only.
    const auto writeLimited = [&] {
        const rlimit limit{3 * 2880, 3 * 2880};
        std::signal(SIGXFSZ, SIG_IGN);
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            std::exit(1);
        lc.write_binary(file, false, false, false, false);
        std::exit(0);
    };
    EXPECT_EXIT(writeLimited(), testing::ExitedWithCode(0),
                "^error: cannot write file " + file + "\n$");
}

TEST(FitsTablesDeathTest, AFolderThatCannotBeWrittenEndsTheProcess)
{
    test_common::ScratchDir scratch;
    const std::string nowhere = scratch.file("missing/out.fits");
    Lightcurve lc = noiseFree();
    lc.boxfitting(20, 2, 4, 0.02, 0.1, 0);
    const struct {
        std::function<void()> write;
        const char *failure;
    } cases[] = {
        {[&] { lc.write_binary(nowhere, true, true, false, false); }, " for writing"},
        {[&] { lc.write_folded_binary(nowhere, true, true, false, false); }, " fits for writing"},
        {[&] { lc.write_SR_binary(nowhere, false); }, " for writing"},
        {[&] { lc.write_nonoise_binary(nowhere, false, false); }, " for writing"},
        {[&] { lc.write_removed_binary(nowhere, false, false); }, " for writing"},
    };
    for (const auto &c : cases)
        EXPECT_EXIT(c.write(), testing::ExitedWithCode(255),
                    "^error: cannot open file " + nowhere + c.failure + "\n\n$");
}
