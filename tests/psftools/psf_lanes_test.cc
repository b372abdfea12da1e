// The maps do not depend on how they are computed: one position at a time or
// several at once with the vector units (portable or AVX2 build), on one
// thread or several, the whole maps at once or in bands of rows, every map,
// list and progress line is the same to the last bit.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/scratch.h"
#include "psftools/psf.h"
#include "psftools/psf_bands.h"
#include "psftools/psf_chi.h"
#include "tests/psftools/psf_field.h"

using orv::MArray;
using psf_chi::Lanes;
using psffield::Field;

namespace {

// Everything the map operations give for one field, in one order.
struct Results {
    std::vector<double> numbers;
    std::string text;

    void add(const MArray<double, 2> &m)
    {
        numbers.insert(numbers.end(), {double(m.firstIndex(1)), double(m.lastIndex(1)),
                                       double(m.firstIndex(2)), double(m.lastIndex(2))});
        for (int l = m.firstIndex(2); l <= m.lastIndex(2); ++l)
            for (int k = m.firstIndex(1); k <= m.lastIndex(1); ++k)
                numbers.push_back(m(k, l));
    }
    void add(const MArray<double, 1> &m)
    {
        numbers.push_back(m.length(1));
        for (int k = m.firstIndex(1); k <= m.lastIndex(1); ++k)
            numbers.push_back(m(k));
    }
};

// The same bits, or NaN in both (whose payload may depend on the operand
// order the compiler picks).
bool same(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// The same text and the same bits throughout.
void expectSame(const Results &want, const Results &got)
{
    EXPECT_EQ(want.text, got.text);
    ASSERT_EQ(want.numbers.size(), got.numbers.size());
    std::size_t differ = 0, first = 0;
    for (std::size_t i = 0; i < want.numbers.size(); ++i)
        if (!same(want.numbers[i], got.numbers[i]) && differ++ == 0)
            first = i;
    EXPECT_EQ(0u, differ) << "first at " << first << ": " << want.numbers[first] << " against "
                          << got.numbers[first];
}

struct Case {
    int shifts, boxlen;
    double radius;
    int bx, by;
};

// Stars in the middle and across the border, bad pixels (error 0, error
// NaN, image NaN) alone, in a clump and at a star's centre.
Field field(psf &p, const Case &c)
{
    const int bx = c.bx, by = c.by;
    Field f(p, 46, 38,
            {{bx + 20.3, by + 17.8, 3000},
             {bx + 9.6, by + 24.2, 900},
             {bx + 1.2, by + 30.0, 4000},
             {bx + 35.0, by + 10.4, -2000},
             {bx + 30.5, by + 25.5, 1500}},
            2.0, 40 + c.shifts, bx, by);
    f.error(bx + 20, by + 18) = 0;
    f.error(bx + 12, by + 12) = NAN;
    f.image(bx + 27, by + 20) = NAN;
    for (int i = 0; i < 3; ++i)
        f.error(bx + 33 + i, by + 28) = -1;
    return f;
}

Results everything(const psf &p, const Field &f, const Case &c)
{
    Results r;
    MArray<double, 2> chi, amp, err, model;
    const auto quiet = [&](int verbose, auto call) {
        testing::internal::CaptureStdout();
        call(verbose);
        const std::string out = testing::internal::GetCapturedStdout();
        if (verbose == 5)
            r.text += out;
    };
    quiet(5, [&](int v) { p.mapping_full(f.image, f.error, chi, amp, err, c.radius, v); });
    r.add(chi), r.add(amp), r.add(err);
    // Stars inside, at the corner, off the image, twice; the y list longer.
    MArray<int, 1> xs(5), ys(6);
    const int X[] = {20, 0, 50, 9, 9}, Y[] = {18, 37, 3, 24, 24};
    for (int j = 1; j <= 5; ++j) {
        xs(j) = c.bx + X[j - 1];
        ys(j) = c.by + Y[j - 1];
    }
    ys(6) = c.by + 5;
    quiet(5, [&](int v) { p.mapping_some(f.image, f.error, chi, amp, err, xs, ys, c.radius, v); });
    r.add(chi), r.add(amp), r.add(err);
    // Local grids in the middle, over the bad pixels and at the border.
    for (const double d : {20.3, 11.9, 2.4, 33.6}) {
        const double x = c.bx + d, y = c.by + d * 0.7 + 3;
        quiet(5,
              [&](int v) { p.mapping(f.image, f.error, x, y, chi, amp, err, 7, 4, c.radius, v); });
        r.add(chi), r.add(amp), r.add(err);
        p.mapping_fast(f.image, f.error, x, y, chi, amp, 9, 2, c.radius);
        r.add(chi), r.add(amp);
    }
    MArray<double, 1> x, y, a;
    quiet(0, [&](int v) { p.find(f.image, f.error, x, y, a, 5, 3, c.radius, "lanes", v); });
    r.add(x), r.add(y), r.add(a);
    std::ostringstream full, some;
    quiet(0, [&](int) {
        p.mapping_full_best_source(f.image, f.error, chi, amp, err, model, 5, 3, c.radius, 1.5,
                                   full, 1);
    });
    r.add(chi), r.add(amp), r.add(err), r.add(model);
    quiet(0, [&](int) {
        p.mapping_some_best_source(f.image, f.error, chi, amp, err, model, xs, ys, 5, 3, c.radius,
                                   1.5, some, 1);
    });
    r.add(chi), r.add(amp), r.add(err), r.add(model);
    r.text += full.str() + some.str();
    return r;
}

// Restores the default ways of computing.
struct Ways : testing::Test {
    const int threads = psf_chi::threads();
    ~Ways() override
    {
        psf_chi::useLanes(Lanes::Best);
        psf_chi::setThreads(threads);
    }
};

} // namespace

TEST_F(Ways, EveryWayGivesTheSameBits)
{
    // Odd and even shift counts, radii below, at and above the tables' reach
    // (R = 2, 3, 4), index bases away from 1, margins wider and narrower than
    // the fit block.
    for (const Case c : {Case{5, 6, 3.0, 1, 1}, Case{3, 4, 2.4, -3, 5}, Case{4, 6, 3.5, 1, 1},
                         Case{7, 5, 4.2, 2, -1}, Case{1, 2, 2.5, 1, 1}}) {
        SCOPED_TRACE(testing::Message() << "S = " << c.shifts << ", radius " << c.radius);
        // Sample errors of 10⁻³: the PSF's error counts in every chi.
        psf p = psffield::gaussianPsf(c.boxlen, c.shifts, 1e-3);
        const Field f = field(p, c);
        // One position at a time on one thread: the plain loops.
        psf_chi::useLanes(Lanes::Off);
        psf_chi::setThreads(1);
        const Results want = everything(p, f, c);
        for (const Lanes lanes : {Lanes::Off, Lanes::Portable, Lanes::Best})
            for (const int threads : {1, 3}) {
                if (lanes == Lanes::Off && threads == 1)
                    continue;
                SCOPED_TRACE(testing::Message() << "lanes " << static_cast<int>(lanes) << ", "
                                                << threads << " threads");
                psf_chi::useLanes(lanes);
                psf_chi::setThreads(threads);
                const Results got = everything(p, f, c);
                expectSame(want, got);
            }
    }
}

namespace {

// The text with every hexadecimal number (0x...) replaced by "address".
std::string withoutAddresses(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "0x") != 0) {
            out += text[i++];
            continue;
        }
        out += "address";
        for (i += 2; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
        }
    }
    return out;
}

// What find (at verbosity 0, in bands) and the best-source maps (at
// verbosity 5: messages, dots, criteria marks and source lines) give for a
// field, the addresses in the descriptions of arrays left out.
Results banded(const psf &p, const Field &f, const Case &c)
{
    Results r;
    MArray<double, 1> x, y, a;
    testing::internal::CaptureStdout();
    p.find(f.image, f.error, x, y, a, 5, 3, c.radius, "bands", 0);
    r.text = testing::internal::GetCapturedStdout();
    r.add(x), r.add(y), r.add(a);
    MArray<double, 2> chi, amp, err, model;
    std::ostringstream lines;
    testing::internal::CaptureStdout();
    p.mapping_full_best_source(f.image, f.error, chi, amp, err, model, 5, 3, c.radius, 1.5, lines,
                               5);
    r.text += withoutAddresses(testing::internal::GetCapturedStdout());
    r.text += lines.str();
    r.add(chi), r.add(amp), r.add(err), r.add(model);
    return r;
}

// Restores the default band height too.
struct Bands : Ways {
    ~Bands() override { psf_bands::setHeight(0); }
};

} // namespace

TEST_F(Bands, AnyBandHeightGivesTheWholeMapBits)
{
    // Every shift count from 1 to 7 (for an even one a pixel's cells reach
    // into the row of cells before it), radii and margins as above.
    for (const Case c : {Case{1, 2, 2.5, 1, 1}, Case{2, 4, 2.4, 1, 1}, Case{3, 4, 2.4, -3, 5},
                         Case{4, 6, 3.5, 1, 1}, Case{5, 6, 3.0, 1, 1}, Case{6, 3, 3.0, 1, 2},
                         Case{7, 5, 4.2, 2, -1}}) {
        SCOPED_TRACE(testing::Message() << "S = " << c.shifts << ", radius " << c.radius);
        psf p = psffield::gaussianPsf(c.boxlen, c.shifts, 1e-3);
        const Field f = field(p, c);
        // The whole maps on one thread.
        psf_bands::setHeight(1L << 30);
        psf_chi::setThreads(1);
        const Results want = banded(p, f, c);
        // Bands of one row, bands that divide the map's 38·S rows, and bands
        // that do not (the best-source maps round them up to whole pixel
        // rows).
        for (const long height : {1L, 2L * c.shifts, 13L})
            for (const int threads : {1, 4}) {
                SCOPED_TRACE(testing::Message() << height << " rows, " << threads << " threads");
                psf_bands::setHeight(height);
                psf_chi::setThreads(threads);
                const Results got = banded(p, f, c);
                expectSame(want, got);
            }
    }
}

namespace {

// A field crowded with stars of every brightness, some across the border,
// and the bad pixels of field(): at a low significance noise peaks become
// candidates too, so that candidates lie in every row of a band and along
// every edge of the map.
Field crowded(psf &p, const Case &c)
{
    std::vector<psffield::Star> stars;
    std::mt19937 rng(60 + c.shifts);
    std::uniform_real_distribution<double> x(c.bx - 1.0, c.bx + 46.0), y(c.by - 1.0, c.by + 38.0),
        flux(2.0, 4.0);
    for (int i = 0; i < 16; ++i)
        stars.push_back({x(rng), y(rng), std::pow(10.0, flux(rng))});
    Field f(p, 46, 38, stars, 2.0, 70 + c.shifts, c.bx, c.by);
    f.error(c.bx + 20, c.by + 18) = 0;
    f.error(c.bx + 12, c.by + 12) = NAN;
    f.image(c.bx + 27, c.by + 20) = NAN;
    for (int i = 0; i < 3; ++i)
        f.error(c.bx + 33 + i, c.by + 28) = -1;
    return f;
}

// The stars find gives at a verbosity, and what it prints.
Results found(const psf &p, const Field &f, const Case &c, double significance, double largest_chi,
              int verbose)
{
    Results r;
    MArray<double, 1> x, y, a;
    testing::internal::CaptureStdout();
    try {
        p.find(f.image, f.error, x, y, a, significance, largest_chi, c.radius, "gated", verbose);
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    r.text = testing::internal::GetCapturedStdout();
    r.add(x), r.add(y), r.add(a);
    return r;
}

} // namespace

TEST_F(Bands, FindWithoutTheMapsFindsTheStarsOfTheWholeMaps)
{
    // At verbosity 0 find fits the chi only near the cells that may hold a
    // star; for its diagnostic files (verbosity 1) it computes the whole
    // maps and searches every cell, one position at a time here.
    const test_common::ScratchDir s;
    const test_common::InDir here(s.path());
    for (const Case c : {Case{1, 2, 2.5, 1, 1}, Case{2, 4, 2.4, 1, 1}, Case{3, 4, 2.4, -3, 5},
                         Case{4, 6, 3.5, 1, 1}, Case{5, 6, 3.0, 1, 1}, Case{6, 3, 3.0, 1, 2},
                         Case{7, 5, 4.2, 2, -1}}) {
        psf p = psffield::gaussianPsf(c.boxlen, c.shifts, 1e-3);
        const Field f = crowded(p, c);
        for (const auto &limits : {std::make_pair(5.0, 3.0), std::make_pair(1.5, 10.0)}) {
            SCOPED_TRACE(testing::Message() << "S = " << c.shifts << ", radius " << c.radius
                                            << ", significance " << limits.first);
            psf_chi::useLanes(Lanes::Off);
            psf_chi::setThreads(1);
            const Results want = found(p, f, c, limits.first, limits.second, 1);
            ASSERT_GE(want.numbers[0], 2);
            for (const Lanes lanes : {Lanes::Off, Lanes::Best})
                for (const long height : {1L, 2L * c.shifts, 13L, 1L << 30})
                    for (const int threads : {1, 4}) {
                        // One position at a time: the same stages.
                        if (lanes == Lanes::Off && (threads > 1 || height != 13))
                            continue;
                        SCOPED_TRACE(testing::Message()
                                     << "lanes " << static_cast<int>(lanes) << ", " << height
                                     << " rows, " << threads << " threads");
                        psf_chi::useLanes(lanes);
                        psf_bands::setHeight(height);
                        psf_chi::setThreads(threads);
                        expectSame(want, found(p, f, c, limits.first, limits.second, 0));
                    }
            psf_bands::setHeight(0);
        }
    }
}
