#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "common/arrays.h"
#include "common/fits.h"
#include "fitstable.h"
#include "lightcurve/Lightcurve.h"
#include "printed.h"
#include "written.h"

using namespace test_common;

namespace {

double magnitude(double flux)
{
    return -2.5 * std::log10(flux / 3060);
}

// A light curve of 3060 units with box transits of 1% every 3 days, read
// from a text file and searched: peak 1 is the transit.
Lightcurve searched(const test_common::ScratchDir &scratch)
{
    std::vector<double> t;
    for (int i = 0; i < 600; ++i)
        t.push_back(0.02 * i);
    Lightcurve simulated;
    long seed = -5;
    simulated.simulate(3, 1.2, 0.05, 0.01, arrayOf(t), 0.1, seed);
    simulated.scale(3060);
    const std::string file = scratch.file("simulated.txt");
    simulated.write(file, false, false, false, false);
    Lightcurve lc;
    lc.read(file, false, 0, 0, 0);
    lc.boxfitting(100, 2, 4, 0.02, 0.1, 0);
    return lc;
}

// Whether phase x lies in the transit window of peak 1.
bool inWindow(const Lightcurve &lc, double x)
{
    const double q = lc.getTau_box(1);
    return 0.4999 - q / 2 <= x && x <= 0.5001 + q / 2;
}

} // namespace

TEST(BoxFiles, TextTableOfAPeakWithItsHeader)
{
    test_common::ScratchDir scratch;
    Lightcurve lc = searched(scratch);
    ASSERT_NEAR(3, lc.getPeriod_box(1), 0.05);
    const std::string file = scratch.file("boxed.txt");
    lc.write_boxed(file, 1, false, false, false, false, 0, true);

    // Folded at the peak, phases ascending.
    EXPECT_EQ(lc.getPeriod_box(1), lc.getPeriod());
    EXPECT_EQ(lc.getT0_box(1), lc.getT0());
    const std::vector<std::string> lines = linesOf(file);
    ASSERT_EQ(4u + 600, lines.size());
    EXPECT_EQ(format("# SDE = %.8g, p = %.8g, t0 = %.18g, tau = %.8g filename = %s", lc.getSDE(1),
                     lc.getPeriod_box(1), lc.getT0_box(1), lc.getTau_box(1),
                     scratch.file("simulated.txt").c_str()),
              lines[0]);
    EXPECT_EQ("#", lines[1]);
    EXPECT_EQ("#   phase        flux         error ", lines[2]);
    EXPECT_EQ("#", lines[3]);
    for (int i = 1; i <= 600; ++i) {
        EXPECT_EQ(format("%10.8g    %10.8g    %10.8g  ", lc.getPhase()(i), lc.getPhased_Flux()(i),
                         lc.getPhased_Error()(i)),
                  lines[i + 3]);
        if (i > 1) {
            EXPECT_LE(lc.getPhase()(i - 1), lc.getPhase()(i));
        }
    }
}

TEST(BoxFiles, BoxModelInFluxesOrMagnitudes)
{
    test_common::ScratchDir scratch;
    Lightcurve lc = searched(scratch);
    const std::string file = scratch.file("boxed.txt");
    lc.write_boxed(file, 1, false, true, true, true, 0, false);
    EXPECT_EQ(std::string("#   phase        flux         error ") + "     nchi   " +
                  "   boxval   " + "             filename               ",
              linesOf(file).at(0));
    std::vector<std::string> rows = dataRows(file);
    ASSERT_EQ(600u, rows.size());
    const orv::MArray<double, 1> phase = lc.getPhase(), box = lc.getPhased_Boxval();
    std::set<double> in, out;
    for (int i = 1; i <= 600; ++i) {
        EXPECT_EQ(format("%10.8g    %10.8g    %10.8g  %10.8g  %10.8g  %34s  ", phase(i),
                         lc.getPhased_Flux()(i), lc.getPhased_Error()(i), lc.getPhased_Nchi()(i),
                         box(i), "no file information"),
                  rows[i - 1]);
        (inWindow(lc, phase(i)) ? in : out).insert(box(i));
    }
    // One level inside the window and one outside, the relative depth of the
    // peak apart.
    ASSERT_EQ(1u, in.size());
    ASSERT_EQ(1u, out.size());
    const double inLevel = *in.begin(), outLevel = *out.begin();
    EXPECT_NEAR(lc.getDrop_box(1), (outLevel - inLevel) / outLevel, 1e-12);
    EXPECT_NEAR(0.01, lc.getDrop_box(1), 0.002);

    // In magnitudes: the written values convert, the light curve keeps its
    // fluxes.
    const std::vector<double> flux = valuesOf(lc.getPhased_Flux()),
                              error = valuesOf(lc.getPhased_Error());
    lc.write_boxed(file, 1, true, false, false, true, 0, false);
    rows = dataRows(file);
    ASSERT_EQ(600u, rows.size());
    EXPECT_EQ(flux, valuesOf(lc.getPhased_Flux()));
    EXPECT_EQ(error, valuesOf(lc.getPhased_Error()));
    for (int i = 1; i <= 600; ++i) {
        const std::vector<double> row = numbersOf(rows[i - 1], 4);
        const double F = flux[i - 1], E = error[i - 1];
        EXPECT_NEAR(magnitude(F), row[1], 1e-7);
        EXPECT_NEAR(1.25 * std::log10((F + E) / (F - E)), row[2], 1e-7);
        EXPECT_GT(row[2], 0);
        EXPECT_NEAR(magnitude(inWindow(lc, phase(i)) ? inLevel : outLevel), row[3], 1e-7);
        EXPECT_EQ(inWindow(lc, phase(i)) ? inLevel : outLevel, lc.getPhased_Boxval()(i));
    }
    // Around 3060 the magnitudes are near 0.
    EXPECT_NEAR(0, numbersOf(rows[0], 2)[1], 0.02);

    // Without the box column the magnitude switch is reported, and fluxes
    // are written.
    EXPECT_EQ("warning: magnitudes are written only with the boxval column; writing fluxes\n",
              printed([&] { lc.write_boxed(file, 1, true, false, false, false, 0, false); }));
    rows = dataRows(file);
    for (int i = 1; i <= 600; ++i)
        EXPECT_EQ(std::stod(format("%.8g", flux[i - 1])), numbersOf(rows[i - 1], 2)[1]);
}

TEST(BoxFiles, BinnedRowsAreTheFilledBins)
{
    test_common::ScratchDir scratch;
    Lightcurve lc = searched(scratch);
    // The bins a fold at the peak fills, counted here.
    lc.fold(lc.getPeriod_box(1), lc.getT0_box(1));
    std::set<int> filled;
    for (int i = 1; i <= 600; ++i)
        filled.insert(static_cast<int>(std::floor(lc.getPhase()(i) * 400)));
    ASSERT_LT(filled.size(), 400u);
    const std::string file = scratch.file("binned.txt");
    lc.write_boxed(file, 1, false, true, false, true, 400, false);
    EXPECT_EQ(filled.size(), dataRows(file).size());
    EXPECT_EQ(static_cast<int>(filled.size()), lc.getPhase().length(1));
}

TEST(BoxFiles, FitsTableOfAPeak)
{
    KeepPrecision keep; // the stopwatch's status box sets it
    test_common::ScratchDir scratch;
    Lightcurve lc = searched(scratch);
    const std::string text = scratch.file("boxed.txt"), fits = scratch.file("boxed.fits");
    lc.write_boxed(text, 1, true, true, false, true, 0, false);
    const std::string box =
        printed([&] { lc.write_boxed_binary(fits, 1, true, true, true, true, 0, true); });
    for (const char *label : {"* stopwatch write_boxed_binary", "stopped (4 laps)", "folding",
                              "binning", "calculationg boxval", "writing table"})
        EXPECT_NE(std::string::npos, box.find(label)) << label << "\n" << box;

    // The table holds the text table's values to single precision.
    const FitsTable t = readTable(fits);
    ASSERT_EQ(0, t.status);
    EXPECT_EQ(2, t.hdus);
    EXPECT_EQ("TABLE_BINARY", t.extname);
    EXPECT_EQ((std::vector<std::string>{"phase", "flux", "error", "nchi", "boxval"}), t.names);
    EXPECT_EQ(std::vector<std::string>(5, "E"), t.forms);
    EXPECT_EQ(std::vector<std::string>(5, "none"), t.units);
    const std::vector<std::string> rows = dataRows(text);
    ASSERT_EQ(static_cast<long>(rows.size()), t.rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::vector<double> row = numbersOf(rows[i], 5);
        for (int c = 0; c < 5; ++c)
            EXPECT_NEAR(row[c], t.values[c][i], 1e-6 * (1 + std::fabs(row[c]))) << i << c;
    }
    const Verdict verdict = fitsverify(fits);
    EXPECT_TRUE(verdict.flawless) << verdict.report;
}

TEST(BoxFiles, RefusalsAndFilesThatCannotBeCreated)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("out.txt");
    Lightcurve plain(doubles({1, 2}), doubles({1, 1}), doubles({0.1, 0.1}));
    EXPECT_EQ("no boxed-lightcurve available!\n",
              printed([&] { plain.write_boxed(file, 1, false, true, true, true, 0, true); }));
    EXPECT_EQ("no boxed-lightcurve available!\n", printed([&] {
                  plain.write_boxed_binary(file, 1, false, true, true, true, 0, true);
              }));
    Lightcurve lc = searched(scratch);
    EXPECT_EQ("error: number(11) out of range (1,10)!\n",
              printed([&] { lc.write_boxed(file, 11, false, false, false, false, 0, false); }));
    EXPECT_EQ("error: number(0) out of range (1,10)!\n", printed([&] {
                  lc.write_boxed_binary(file, 0, false, false, false, false, 0, false);
              }));
    EXPECT_FALSE(exists(file));
    // A bin count that bins nothing is refused before the file is made, not
    // written as the unbinned fold.
    EXPECT_EQ("error: number of phase bins must be positive!\n",
              printed([&] { lc.write_boxed(file, 1, false, false, false, false, -3, false); }));
    EXPECT_EQ("error: number of phase bins must be positive!\n", printed([&] {
                  lc.write_boxed_binary(file, 1, false, false, false, false, -3, false);
              }));
    EXPECT_FALSE(exists(file));

    // A search without a qualifying box (no dip: equal fluxes whose mean is
    // exact) leaves every slot empty: nothing to fold at, nothing written.
    Lightcurve none(doubles({1, 2, 3, 4}), doubles({1, 1, 1, 1}), doubles({0.5, 0.5, 0.5, 0.5}));
    none.boxfitting(20, 1, 5, 0.1, 0.3, 0);
    const double period = none.getPeriod();
    const std::vector<double> phases = valuesOf(none.getPhase());
    EXPECT_EQ("error: no peak in slot 1!\n",
              printed([&] { none.write_boxed(file, 1, false, true, true, true, 0, true); }));
    EXPECT_EQ("error: no peak in slot 10!\n", printed([&] {
                  none.write_boxed_binary(file, 10, false, true, true, true, 0, true);
              }));
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(period, none.getPeriod());
    EXPECT_EQ(phases, valuesOf(none.getPhase()));

    // The text table reports the file; the fold still takes place.
    const std::string nowhere = scratch.file("missing/out.txt");
    EXPECT_EQ("error: cannot open file " + nowhere + " for writing\n", printedOnError([&] {
                  lc.write_boxed(nowhere, 2, false, false, false, false, 0, false);
              }));
    EXPECT_EQ(lc.getPeriod_box(2), lc.getPeriod());
}

TEST(BoxFilesDeathTest, AFitsTableThatCannotBeCreatedEndsTheProcess)
{
    test_common::ScratchDir scratch;
    Lightcurve lc = searched(scratch);
    // A folder that does not exist, and a folder of the name, which stays.
    const std::string nowhere = scratch.file("missing/out.fits"), folder = scratch.file("dir.fits");
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    for (const std::string &name : {nowhere, folder})
        EXPECT_EXIT(lc.write_boxed_binary(name, 1, false, false, false, false, 0, false),
                    testing::ExitedWithCode(255),
                    "^error: cannot open file " + name + " fits for writing\n\n$");
    EXPECT_TRUE(exists(folder + "/."));
}
