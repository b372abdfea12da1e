#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "lightcurve/Lightcurve.h"
#include "orv/fits/ascio.h"
#include "planet.h"
#include "printed.h"
#include "written.h"

using namespace test_common;

namespace {

// Fluxes that differ from point to point.
orv::MArray<double, 1> wavy(int n)
{
    orv::MArray<double, 1> f(n);
    for (int i = 1; i <= n; ++i)
        f(i) = 1 + 0.001 * std::sin(i);
    return f;
}

// The light curve of transitTimes() with wavy fluxes and the planet's
// transit added: the flux without transits is the wavy one.
Lightcurve withTransit(const Planet &planet)
{
    const orv::MArray<double, 1> t = transitTimes();
    Lightcurve lc = flat(t, 0.001);
    lc.getFlux() = wavy(t.length(1));
    planet.addTo(lc);
    return lc;
}

// A light curve holding everything a text writer writes: the noise-free
// flux, the flux without transits, a fold and a box search.
Lightcurve everything()
{
    const orv::MArray<double, 1> t = transitTimes();
    Lightcurve lc;
    long seed = -3;
    lc.simulate(3, 100, 0.05, 0.01, t, 0.1, seed);
    lc.boxfitting(20, 2, 4, 0.02, 0.1, 0);
    return lc;
}

std::string columnLine(const char *first)
{
    return std::string(first) + "     nchi   " + "   boxval   " +
           "             filename               ";
}

// The text as %.Pg prints it, read back.
double printedAs(double x, int precision)
{
    return std::stod(format("%.*g", precision, x));
}

} // namespace

TEST(TextTables, WriteLaysOutEachRowAsPrintfDoes)
{
    test_common::ScratchDir scratch;
    const std::string plain = scratch.file("plain.txt"), full = scratch.file("full.txt");
    Lightcurve one(doubles({53.25}), doubles({1.0}), doubles({0.001}));
    one.write(plain, false, false, false, false);
    const std::string row = std::string(11, ' ') + "53.25" + std::string(4 + 9, ' ') + "1" +
                            std::string(4 + 5, ' ') + "0.001" + std::string(2, ' ');
    EXPECT_EQ(46u, row.size());
    EXPECT_EQ((std::vector<std::string>{"#      date           flux          error ", "#", row}),
              linesOf(plain));

    Lightcurve lc = three();
    lc.write(full, true, true, true, false);
    std::vector<std::string> expected{columnLine("#      date           flux          error "),
                                      "#"};
    for (int i = 1; i <= 3; ++i)
        expected.push_back(format("%16.14g    %10.8g    %10.8g  %10.8g  %10.8g  %34s  ",
                                  lc.getJD()(i), lc.getFlux()(i), lc.getError()(i), lc.getNchi()(i),
                                  lc.getBoxval()(i), lc.getFilename()(i).c_str()));
    EXPECT_EQ(expected, linesOf(full));
}

TEST(TextTables, ParameterHeaderOfTheTransit)
{
    test_common::ScratchDir scratch;
    const Planet planet;
    Lightcurve transit = withTransit(planet), plain = three();
    // Without transits: the rms and the transit points read 0.
    const struct {
        Lightcurve *lc;
        std::vector<double> model;
        std::string rms, transits, points;
    } cases[] = {
        {&transit,
         {planet.m_star, planet.r_star, planet.gamma1, planet.gamma2, planet.r_planet,
          planet.inclination},
         format("%.6g", transit.getRms_removed()),
         "2",
         format("%d ( %d, %d )", transit.getNumber_transit_points(),
                transit.getPoints_per_transit(1), transit.getPoints_per_transit(2))},
        {&plain, std::vector<double>(6, 0.0), "0.", "-1", "0"},
    };
    for (const auto &c : cases) {
        const std::string file = scratch.file("header.txt");
        Lightcurve &lc = *c.lc;
        printed([&] { lc.write(file, false, false, false, true); });
        std::vector<std::string> expected{"#", "# lightcurve parameters:", "#"};
        const char *labels[] = {"M_star:      ", "R_star:      ", "gamma1:      ",
                                "gamma2:      ", "R_planet:    ", "inclination: "};
        for (int k = 0; k < 6; ++k)
            expected.push_back(format("# %s%.6g", labels[k], c.model[k]));
        expected.push_back(format("# period:      %.12g", lc.getPeriod()));
        expected.push_back(format("# t0:          %.14g", lc.getT0()));
        expected.push_back(format("# drop:        %.6g", lc.getDrop()));
        expected.push_back("# noise:       0");
        expected.push_back("# rednoise:    0");
        expected.push_back("#");
        expected.push_back("# rms of lightcurve:            " + c.rms);
        expected.push_back(format("# signal-to-noise ratio:        %.6g", lc.getSNR()));
        expected.push_back(format("# fractional transit length:    %.6g", lc.getTau()));
        expected.push_back("# number of transits:           " + c.transits);
        expected.push_back("# number of trasint datapoints: " + c.points);
        expected.push_back("#");
        expected.push_back("#");
        expected.push_back("#      date           flux          error ");
        const std::vector<std::string> lines = linesOf(file);
        ASSERT_GE(lines.size(), expected.size());
        EXPECT_EQ(expected,
                  std::vector<std::string>(lines.begin(), lines.begin() + expected.size()));
        EXPECT_EQ(expected.size() + 1 + lc.getLength(), lines.size());
    }
}

TEST(TextTables, ReadBackByTheReaderAndByAnother)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("lc.txt");
    Lightcurve lc = three();
    lc.write(file, true, true, true, false);

    Lightcurve back;
    back.read(file, false, 4, 5, 6);
    ASSERT_EQ(3, back.getLength());
    const std::vector<std::string> rows = dataRows(file);
    ASSERT_EQ(3u, rows.size());
    for (int i = 1; i <= 3; ++i) {
        const std::vector<double> printed{
            printedAs(lc.getJD()(i), 14), printedAs(lc.getFlux()(i), 8),
            printedAs(lc.getError()(i), 8), printedAs(lc.getNchi()(i), 8),
            printedAs(lc.getBoxval()(i), 8)};
        EXPECT_EQ(printed, numbersOf(rows[i - 1], 5)) << i;
        EXPECT_EQ(printed,
                  (std::vector<double>{back.getJD()(i), back.getFlux()(i), back.getError()(i),
                                       back.getNchi()(i), back.getBoxval()(i)}))
            << i;
    }
    EXPECT_EQ(valuesOf(lc.getFilename()), valuesOf(back.getFilename()));
}

TEST(TextTables, NonFiniteValuesAreWrittenAndReadBack)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("lc.txt"), hand = scratch.file("hand.txt");
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    Lightcurve lc(doubles({nan, 2, 3, 4}), doubles({1, nan, -inf, 1.5}),
                  doubles({0.1, 0.2, inf, 0.4}), doubles({-inf, 0, nan, 1}));
    lc.write(file, true, true, false, false);
    // As printf writes them in any case, signed or not.
    spit(hand, "NaN 1 0.1 -Inf\n2 -nan 0.2 0\n3 -INFINITY +inf NAN\n4 1.5 0.4 1\n");
    for (const std::string &name : {file, hand}) {
        SCOPED_TRACE(name);
        Lightcurve back;
        back.read(name, false, 4, 0, 0);
        ASSERT_EQ(4, back.getLength());
        const auto same = [](const orv::MArray<double, 1> &want,
                             const orv::MArray<double, 1> &got) {
            for (int i = 1; i <= 4; ++i)
                EXPECT_TRUE(std::isnan(want(i)) ? std::isnan(got(i)) : want(i) == got(i)) << i;
        };
        same(lc.getJD(), back.getJD());
        same(lc.getFlux(), back.getFlux());
        same(lc.getError(), back.getError());
        same(lc.getNchi(), back.getNchi());
    }
    // The noise is the scatter of the finite points' fluxes about their
    // median 1.5: sqrt(2 * 0.25^2 / 2).
    const std::string gap = scratch.file("gap.txt"), header = scratch.file("header.txt");
    spit(gap, "10 1.25\n11 nan\n12 1.5\n13 1.75\n");
    Lightcurve back;
    back.read(gap, false, 0, 0, 0);
    back.write(header, false, false, false, true);
    EXPECT_EQ("# noise:       0.25", linesOf(header).at(12));
}

TEST(TextTables, ReaderTakesTheColumnsAsked)
{
    test_common::ScratchDir scratch;
    const std::string six = scratch.file("six.txt"), two = scratch.file("two.txt");
    spit(six, "# a comment line\n"
              "   2453000.5  1.25  0.01  0.5  0.9  a.fits   # after the data\n"
              "\n"
              "2453001.0 1.5 0.02 1.5 1.1 b.fits\n"
              "2453002.0\t1.75 0.03 2.5 1.2 c.fits\n");
    // Two columns, with trailing blanks and comments on the lines.
    spit(two, "10 1.25 # no error\n11 1.5  \n12 1.75\n");
    const std::vector<std::string> none(3, "no file information"),
        names{"a.fits", "b.fits", "c.fits"};
    const std::vector<double> zeros(3, 0.0);
    const struct {
        std::string file;
        int nchi, boxval, names;
        std::vector<double> jd, error, nchiValues, boxvalValues;
        std::vector<std::string> fileNames;
    } cases[] = {
        {six,
         4,
         5,
         6,
         {2453000.5, 2453001.0, 2453002.0},
         {0.01, 0.02, 0.03},
         {0.5, 1.5, 2.5},
         {0.9, 1.1, 1.2},
         names},
        {six,
         5,
         4,
         0,
         {2453000.5, 2453001.0, 2453002.0},
         {0.01, 0.02, 0.03},
         {0.9, 1.1, 1.2},
         {0.5, 1.5, 2.5},
         none},
        {six, 0, 0, 0, {2453000.5, 2453001.0, 2453002.0}, {0.01, 0.02, 0.03}, zeros, zeros, none},
        {two, 0, 0, 0, {10, 11, 12}, {1, 1, 1}, zeros, zeros, none},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file + " " + std::to_string(c.nchi) + std::to_string(c.boxval) +
                     std::to_string(c.names));
        Lightcurve lc;
        lc.read(c.file, false, c.nchi, c.boxval, c.names);
        EXPECT_EQ(c.jd, valuesOf(lc.getJD()));
        EXPECT_EQ((std::vector<double>{1.25, 1.5, 1.75}), valuesOf(lc.getFlux()));
        EXPECT_EQ(c.error, valuesOf(lc.getError()));
        EXPECT_EQ(c.nchiValues, valuesOf(lc.getNchi()));
        EXPECT_EQ(c.boxvalValues, valuesOf(lc.getBoxval()));
        EXPECT_EQ(c.fileNames, valuesOf(lc.getFilename()));
        // The noise is the scatter about the median 1.5: sqrt(2 * 0.25^2 / 2).
        const std::string header = scratch.file("header.txt");
        lc.write(header, false, false, false, true);
        EXPECT_EQ("# noise:       0.25", linesOf(header).at(12));
    }
}

TEST(TextTables, FaultsOfTheFileReachTheCallerAndLeaveNoData)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("bad.txt");
    const std::string noNumber = "Failed to read data from file!";
    // The line that lacks a column, counted in the file, and the column.
    const auto noColumn = [&](int line, int column) {
        return "Unexpected EOF encountered! Line " + std::to_string(line) + " of " + file +
               " has no column " + std::to_string(column) + ".";
    };
    const struct {
        const char *text;
        int nchi, names; // columns of the nchi values and file names
        std::string message;
    } files[] = {
        {"1 2 x\n3 4 0.1\n", 0, 0, noNumber},           // an error that is no number
        {"1 2 0.1\n3 4\n", 0, 0, noColumn(2, 3)},       // an error on one line only
        {"1 2 0.1\n#\n2\n", 0, 0, noColumn(3, 2)},      // a line of a time alone
        {"1 x 0.1\n3 4 0.1\n", 0, 0, noNumber},         // a flux that is no number
        {"1 2 0.1 a\n3 4 0.1\n", 0, 4, noColumn(2, 4)}, // a file name on one line only
        {"1 2 0.1\n3 4 0.1\n", 9, 0, noColumn(1, 9)},   // a column beyond every line
        {"1 2 3 \n", 0, 4, noColumn(1, 4)},             // no file name before a trailing blank
        {"1 2 3\r\n", 0, 4, noColumn(1, 4)},            // nor before the CR of a CRLF line end
        {"1 1.01D2 0.1\n", 0, 0, noNumber},             // a Fortran exponent
        {"1.5abc 2 0.1\n", 0, 0, noNumber},             // text after a time
        {"1 2 0.1\n3 4 0.1x\n", 0, 0, noNumber},        // after an error
        {"1 2 0.1 25%\n", 4, 0, noNumber},              // after an nchi value
        {"1 2 0.1 nan(1)\n", 4, 0, noNumber},           // no printf form of NaN
        {"1 2 0.1 1\n", -1, 0, "Column -1 does not exist: columns are numbered from 1!"},
    };
    for (const auto &f : files) {
        SCOPED_TRACE(f.text);
        spit(file, f.text);
        Lightcurve lc = three();
        try {
            lc.read(file, false, f.nchi, 0, f.names);
            ADD_FAILURE() << "read";
        } catch (const orv::IOException &e) {
            EXPECT_EQ(f.message, std::string(e.what()));
        }
        EXPECT_EQ(0, lc.getLength());
        EXPECT_EQ("lightcurve contains no data points\n",
                  printed([&] { lc.write(scratch.file("out.txt"), false, false, false, false); }));
    }
    // A folder is refused as a missing file is.
    for (const std::string &name : {scratch.file("missing.txt"), scratch.path()}) {
        Lightcurve lc = three();
        try {
            lc.read(name, false, 0, 0, 0);
            ADD_FAILURE() << name << " was read";
        } catch (const orv::IOException &e) {
            EXPECT_EQ("Cannot open file " + name + "!", std::string(e.what()));
        }
        EXPECT_EQ(0, lc.getLength());
        EXPECT_EQ("lightcurve contains no data points\n",
                  printed([&] { lc.write(scratch.file("out.txt"), false, false, false, false); }));
    }
}

TEST(RawRecords, DoublesAndFloatsInHostOrder)
{
    test_common::ScratchDir scratch;
    const std::string doublesFile = scratch.file("doubles.raw"),
                      floatsFile = scratch.file("floats.raw");
    const double d[6] = {2453000.123456789, 1.0625, 0.001, 2453000.5, -3.5e-7, 1e300};
    const float f[9] = {2453000.25f, 0.1f, 0.003f, 1.5f, 2.5f, 3.5f, -1e30f, 7.0f, 1e-20f};
    // Two records of doubles and two bytes; three of floats and five bytes.
    spit(doublesFile, std::string(reinterpret_cast<const char *>(d), sizeof d) + "ab");
    spit(floatsFile, std::string(reinterpret_cast<const char *>(f), sizeof f) + "abcde");

    Lightcurve lc;
    lc.read_binary(doublesFile, false);
    EXPECT_EQ((std::vector<double>{d[0], d[3]}), valuesOf(lc.getJD()));
    EXPECT_EQ((std::vector<double>{d[1], d[4]}), valuesOf(lc.getFlux()));
    EXPECT_EQ((std::vector<double>{d[2], d[5]}), valuesOf(lc.getError()));

    lc.read_binary_float(floatsFile, false);
    EXPECT_EQ((std::vector<double>{f[0], f[3], f[6]}), valuesOf(lc.getJD()));
    EXPECT_EQ((std::vector<double>{f[1], f[4], f[7]}), valuesOf(lc.getFlux()));
    EXPECT_EQ((std::vector<double>{f[2], f[5], f[8]}), valuesOf(lc.getError()));

    // The 50 bytes of the doubles file are four records of floats.
    lc.read_binary_float(doublesFile, false);
    ASSERT_EQ(4, lc.getLength());
    float asFloats[12];
    std::memcpy(asFloats, d, sizeof asFloats);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(static_cast<double>(asFloats[3 * i - 3]), lc.getJD()(i)) << i;
        EXPECT_EQ(static_cast<double>(asFloats[3 * i - 1]), lc.getError()(i)) << i;
    }
}

TEST(Readers, ReplaceTheWholeLightCurve)
{
    test_common::ScratchDir scratch;
    const std::string text = scratch.file("lc.txt"), raw = scratch.file("lc.raw"),
                      rawFloats = scratch.file("lc.rawf");
    spit(text, "10 1 0.125\n11 2 0.25\n");
    const double d[6] = {10, 1, 0.125, 11, 2, 0.25};
    const float f[6] = {10, 1, 0.125, 11, 2, 0.25};
    spit(raw, std::string(reinterpret_cast<const char *>(d), sizeof d));
    spit(rawFloats, std::string(reinterpret_cast<const char *>(f), sizeof f));
    const std::function<void(Lightcurve &, bool)> readers[] = {
        [&](Lightcurve &lc, bool mags) { lc.read(text, mags, 0, 0, 0); },
        [&](Lightcurve &lc, bool mags) { lc.read_binary(raw, mags); },
        [&](Lightcurve &lc, bool mags) { lc.read_binary_float(rawFloats, mags); },
    };
    const Planet planet;
    for (const auto &read : readers) {
        // A light curve on the caller's arrays, weighted, folded, searched,
        // with a transit added and the flux without it kept.
        const orv::MArray<double, 1> t = transitTimes(), flux = wavy(t.length(1));
        Lightcurve lc(t, flux, arrayOf(std::vector<double>(t.length(1), 0.001)),
                      arrayOf(std::vector<double>(t.length(1), 3.0)));
        planet.addTo(lc);
        printed([&] { lc.boxfitting(20, 2, 4, 0.02, 0.1, 0); });
        const std::vector<double> times = valuesOf(t), fluxes = valuesOf(flux);

        read(lc, true);
        EXPECT_EQ(times, valuesOf(t));
        EXPECT_EQ(fluxes, valuesOf(flux));
        EXPECT_EQ((std::vector<double>{10, 11}), valuesOf(lc.getJD()));
        EXPECT_EQ((std::vector<double>{1, 2}), valuesOf(lc.getFlux()));
        EXPECT_EQ((std::vector<double>{0.125, 0.25}), valuesOf(lc.getError()));
        EXPECT_EQ((std::vector<double>{0, 0}), valuesOf(lc.getNchi()));
        EXPECT_EQ((std::vector<double>{0, 0}), valuesOf(lc.getBoxval()));
        EXPECT_EQ((std::vector<std::string>(2, "no file information")), valuesOf(lc.getFilename()));
        EXPECT_FALSE(lc.isWeighted());
        EXPECT_FALSE(lc.isFolded());
        EXPECT_FALSE(lc.isBoxfitted());
        EXPECT_EQ(0, lc.getPhase().length(1));
        EXPECT_EQ(-1, lc.getNumber_transit_points());
        EXPECT_EQ(0.0, lc.getTau());
        const std::string out = scratch.file("out.txt");
        EXPECT_EQ("error: transits have not yet been removed!\n",
                  printed([&] { lc.write_removed(out, false, false); }));
        EXPECT_EQ("no SR-spectrum available!\n", printed([&] { lc.write_SR(out, false); }));
        // The magnitude switch declares magnitudes.
        EXPECT_EQ("error: lightcurve in magnitudes!\n", printed([&] { lc.normalize_flux(); }));
        read(lc, false);
        EXPECT_EQ("", printed([&] { lc.normalize_flux(); }));
    }
}

TEST(RawRecords, AFileThatCannotBeReadIsReportedAndLeavesNoData)
{
    test_common::ScratchDir scratch;
    const std::string missing = scratch.file("missing.raw");
    const std::string folder = scratch.file("");
    for (const std::string &file : {missing, folder}) {
        for (bool floats : {false, true}) {
            Lightcurve lc = three();
            const std::string report = printedOnError(
                [&] { floats ? lc.read_binary_float(file, false) : lc.read_binary(file, false); });
            EXPECT_NE(std::string::npos, report.find("error: cannot")) << report;
            EXPECT_NE(std::string::npos, report.find(file)) << report;
            EXPECT_EQ(0, lc.getLength());
            EXPECT_EQ(0, lc.getJD().length(1));
            EXPECT_EQ("lightcurve contains no data points\n", printed([&] {
                          lc.write(scratch.file("out.txt"), false, false, false, false);
                      }));
        }
    }
    EXPECT_EQ("error: cannot open file " + missing + " for reading\n",
              printedOnError([&] { Lightcurve().read_binary(missing, false); }));
}

TEST(TextTables, NoiseFreeAndTransitFreeFluxesInFluxOrMagnitudes)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("out.txt");
    // Without noise the flux is the noise-free one.
    const orv::MArray<double, 1> t = transitTimes();
    const int n = t.length(1);
    Lightcurve model;
    long seed = -1;
    model.simulate(3, 100, 0.05, 0.01, t, arrayOf(std::vector<double>(n, 0.0)), seed);
    // The transit-free flux of an added transit is the flux before it.
    const Planet planet;
    Lightcurve transit = withTransit(planet);
    const orv::MArray<double, 1> f = wavy(n), e = transit.getError();
    const double mag = -2.5 / std::log(10.0);

    for (bool mags : {false, true}) {
        model.write_nonoise(file, mags, false);
        std::vector<std::string> lines = linesOf(file);
        ASSERT_EQ(static_cast<std::size_t>(n + 2), lines.size());
        EXPECT_EQ("#   date         flux         error ", lines[0]);
        EXPECT_EQ("#", lines[1]);
        for (int i = 1; i <= n; ++i) {
            const double x = model.getFlux()(i);
            const std::string date = format("%10.18g    ", t(i));
            ASSERT_EQ(date, lines[i + 1].substr(0, date.size()));
            if (!mags)
                EXPECT_EQ(date + format("%10.8g", x), lines[i + 1]);
            else
                EXPECT_NEAR(mag * std::log(x / 3060), numbersOf(lines[i + 1], 2)[1], 1e-7);
        }

        transit.write_removed(file, mags, false);
        lines = linesOf(file);
        ASSERT_EQ(static_cast<std::size_t>(n + 2), lines.size());
        for (int i = 1; i <= n; ++i) {
            if (!mags) {
                EXPECT_EQ(format("%10.18g    %10.8g    %10.8g  ", t(i), f(i), e(i)), lines[i + 1]);
                continue;
            }
            const std::vector<double> row = numbersOf(lines[i + 1], 3);
            EXPECT_NEAR(mag * std::log(f(i) / 3060), row[1], 1e-7);
            EXPECT_NEAR(1.25 * std::log10((f(i) + e(i)) / (f(i) - e(i))), row[2], 1e-10);
            EXPECT_GT(row[2], 0);
        }
    }
}

TEST(TextTables, FoldAndSpectrum)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("out.txt");
    Lightcurve lc = three();
    lc.fold(0.7, 2453000.2);
    lc.write_folded(file, true, true, true, false);
    std::vector<std::string> expected{columnLine("#   date         flux         error "), "#"};
    for (int i = 1; i <= 3; ++i)
        expected.push_back(format("%10.8g    %10.8g    %10.8g  %10.8g  %10.8g  %34s  ",
                                  lc.getPhase()(i), lc.getPhased_Flux()(i), lc.getPhased_Error()(i),
                                  lc.getPhased_Nchi()(i), lc.getPhased_Boxval()(i),
                                  lc.getPhased_Filename()(i).c_str()));
    EXPECT_EQ(expected, linesOf(file));

    // One row per trial frequency, evenly spaced from 1/4 to 1/2; the
    // strongest at the period of the first peak.
    Lightcurve searched = everything();
    searched.write_SR(file, false);
    const std::vector<std::string> lines = linesOf(file);
    ASSERT_EQ(22u, lines.size());
    EXPECT_EQ("#        1/p             SR", lines[0]);
    EXPECT_EQ("#", lines[1]);
    double best = -1, bestFrequency = 0;
    for (int i = 1; i <= 20; ++i) {
        const std::vector<double> row = numbersOf(lines[i + 1], 2);
        EXPECT_EQ(format("%16.10g %16.10g", row[0], row[1]), lines[i + 1]);
        EXPECT_NEAR(0.25 + (i - 1) * 0.25 / 19, row[0], 1e-10);
        if (row[1] > best)
            best = row[1], bestFrequency = row[0];
    }
    EXPECT_NEAR(1 / searched.getPeriod_box(1), bestFrequency, 1e-9);
}

TEST(TextTables, WritersRefuseWhatIsMissingAndWriteNoFile)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("out.txt");
    Lightcurve none;
    Lightcurve plain = three();
    expectRefusals(
        {
            {[&] { none.write(file, false, false, false, false); },
             "lightcurve contains no data points\n"},
            {[&] { plain.write_nonoise(file, false, false); },
             "error: nonoise lightcurve not available!\n"},
            {[&] { plain.write_removed(file, false, false); },
             "error: transits have not yet been removed!\n"},
            {[&] { plain.write_SR(file, false); }, "no SR-spectrum available!\n"},
            {[&] { plain.write_folded(file, false, false, false, false); },
             "lightcurve has not been folded, yet!\n"},
        },
        file);
}

TEST(TextTables, FilesThatCannotBeWrittenAreReported)
{
    test_common::ScratchDir scratch;
    Lightcurve lc = everything();
    const std::function<void(const std::string &)> writers[] = {
        [&](const std::string &f) { lc.write(f, true, true, true, true); },
        [&](const std::string &f) { lc.write_nonoise(f, false, false); },
        [&](const std::string &f) { lc.write_removed(f, true, false); },
        [&](const std::string &f) { lc.write_SR(f, false); },
        [&](const std::string &f) { lc.write_folded(f, true, true, true, false); },
    };
    const std::string nowhere = scratch.file("missing/out.txt");
    for (const auto &write : writers) {
        EXPECT_EQ("error: cannot open file " + nowhere + " for writing\n",
                  printedOnError([&] { write(nowhere); }));
        // A device that takes no data.
        EXPECT_EQ("error: cannot write file /dev/full\n",
                  printedOnError([&] { write("/dev/full"); }));
    }
}
