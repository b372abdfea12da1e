// Star finding in a synthetic field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/fits.h"
#include "orv/fits/fits_exception.h"
#include "psftools/psf.h"
#include "psftools/psf_bands.h"
#include "tests/psftools/psf_field.h"
#include "tests/psftools/psf_truth.h"

using orv::MArray;
using psffield::Field;
using psffield::kRadius;
using psffield::Star;

namespace {

constexpr double kSignificance = 5, kLargestChi = 2.5;

// Stars in grid order (x, then y) with the pixels that own them: 40.6 lies
// in the left half of pixel 41, 22.4 in the right half of pixel 22. The
// star at 45.4 has a bad pixel (error 0) on its right, whose sub-pixel
// cells cannot be fitted. The hole is no star.
const std::vector<Star> kStars = {{20.0, 20.0, 4000},
                                  {22.4, 44.8, 3000},
                                  {40.6, 18.2, 3500},
                                  {45.4, 46.0, 6000},
                                  {12.0, 52.0, -4000}};
const int kPixels[][2] = {{20, 20}, {22, 45}, {41, 18}, {45, 46}};

struct FindStars : testing::Test {
    psf p = psffield::gaussianPsf();
    Field f{p, 64, 64, kStars, 2.0, 31};
    MArray<double, 1> x, y, amplitude;
    FindStars() { f.error(46, 46) = 0; }
    ~FindStars() override { psf_bands::setHeight(0); }
    std::string find(int verbose, const std::string &name = "field")
    {
        testing::internal::CaptureStdout();
        p.find(f.image, f.error, x, y, amplitude, kSignificance, kLargestChi, kRadius, name,
               verbose);
        return testing::internal::GetCapturedStdout();
    }
};

} // namespace

TEST_F(FindStars, EachStarOnceAtItsPixelAndNothingElse)
{
    find(0);
    ASSERT_EQ(4, x.length(1));
    ASSERT_EQ(1, x.firstIndex(1));
    for (int q = 1; q <= 4; ++q) {
        SCOPED_TRACE(q);
        EXPECT_EQ(kPixels[q - 1][0], x(q));
        EXPECT_EQ(kPixels[q - 1][1], y(q));
        const Star &s = kStars[q - 1];
        EXPECT_NEAR(s.flux, amplitude(q), 3 * psffield::amplitudeError(f, s.x, s.y));
    }
    // Searched again with earlier results in the lists: they are replaced.
    find(0);
    EXPECT_EQ(4, x.length(1));
}

TEST_F(FindStars, NothingInPureNoise)
{
    const Field noise(p, 64, 64, {}, 2.0, 32);
    testing::internal::CaptureStdout();
    p.find(noise.image, noise.error, x, y, amplitude, kSignificance, kLargestChi, kRadius, "noise",
           0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(0, x.length(1));
    EXPECT_EQ(0, y.length(1));
    EXPECT_EQ(0, amplitude.length(1));
}

TEST_F(FindStars, NothingInAnImageWithoutPixels)
{
    // Images without columns, without rows or without either: no stars,
    // maps of Lx·S × Ly·S cells, none of them fitted. The diagnostic files
    // of maps without cells cannot be written as FITS images: the search
    // ends with the FITS error, as for any file it cannot write.
    const test_common::ScratchDir s;
    const test_common::InDir here(s.path());
    // In one band, and in bands of 16 map rows.
    for (const int height : {0, 16})
        for (const auto &size :
             {std::make_pair(0, 10), std::make_pair(0, 0), std::make_pair(10, 0)}) {
            SCOPED_TRACE(testing::Message()
                         << size.first << " x " << size.second << ", height " << height);
            psf_bands::setHeight(height);
            const MArray<float, 2> image(size.first, size.second), error(image.shape());
            x.makeReference(MArray<double, 1>(3));
            MArray<double, 2> C, A, E, best[4];
            testing::internal::CaptureStdout();
            p.find(image, error, x, y, amplitude, kSignificance, kLargestChi, kRadius, "empty", 0);
            p.mapping_full(image, error, C, A, E, kRadius, 0);
            std::ostringstream list;
            p.mapping_full_best_source(image, error, best[0], best[1], best[2], best[3],
                                       kSignificance, kLargestChi, kRadius, 0, list, 0);
            bool thrown = false;
            try {
                p.find(image, error, x, y, amplitude, kSignificance, kLargestChi, kRadius, "empty",
                       1);
            } catch (const orv::FitsException &) {
                thrown = true;
            }
            testing::internal::GetCapturedStdout();
            EXPECT_EQ(0, x.length(1));
            EXPECT_EQ(0, y.length(1));
            EXPECT_EQ(0, amplitude.length(1));
            EXPECT_EQ(5 * size.first, C.length(1));
            EXPECT_EQ(5 * size.second, C.length(2));
            EXPECT_EQ("", list.str());
            EXPECT_TRUE(thrown);
        }
}

TEST_F(FindStars, LimitsWithoutMeaningAndMissingTablesAreRefused)
{
    // Each of these would search without a word and find nothing, or every
    // minimum (a negative significance passes holes and noise alike): a
    // message instead, and lists without stars, not those of an earlier
    // call.
    const psf untabulated(6, 4, 15, 0);
    const double nan = std::nan(""), inf = HUGE_VAL;
    const std::string significance = "error: find: the significance",
                      chi = "error: find: the largest chi", radius = "error: find: the fit radius",
                      tables = "error: find: no binned psf tables";
    struct Case {
        const psf *object;
        double significance, largest_chi, radius;
        const std::string &message;
    };
    for (const Case &c :
         {Case{&p, nan, kLargestChi, kRadius, significance},
          Case{&p, -1, kLargestChi, kRadius, significance},
          Case{&p, inf, kLargestChi, kRadius, significance},
          Case{&p, kSignificance, nan, kRadius, chi}, Case{&p, kSignificance, 0, kRadius, chi},
          Case{&p, kSignificance, -1, kRadius, chi},
          Case{&p, kSignificance, kLargestChi, nan, radius},
          Case{&p, kSignificance, kLargestChi, 0, radius},
          Case{&p, kSignificance, kLargestChi, 0.5, radius},
          Case{&p, kSignificance, kLargestChi, -0.5, radius},
          Case{&p, kSignificance, kLargestChi, inf, radius},
          Case{&p, kSignificance, kLargestChi, -inf, radius},
          Case{&untabulated, kSignificance, kLargestChi, kRadius, tables}}) {
        SCOPED_TRACE(testing::Message() << c.significance << ", " << c.largest_chi << ", "
                                        << c.radius << ", " << (c.object == &p));
        find(0);
        ASSERT_EQ(4, x.length(1));
        testing::internal::CaptureStdout();
        c.object->find(f.image, f.error, x, y, amplitude, c.significance, c.largest_chi, c.radius,
                       "field", 0);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(0u, out.find(c.message)) << out;
        // Nothing searched: no announcement of the maps.
        EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
        EXPECT_EQ(0, x.length(1));
        EXPECT_EQ(0, y.length(1));
        EXPECT_EQ(0, amplitude.length(1));
    }
    // What the search means by its limits stays: a significance of 0 asks
    // only for an amplitude that is not negative, the radius's sign is
    // ignored, and a largest chi of +inf is no limit at all.
    const auto same_stars = [&](double largest_chi, double radius, double huge_chi) {
        p.find(f.image, f.error, x, y, amplitude, kSignificance, huge_chi, kRadius, "field", 0);
        // (find gives the lists new storage.)
        const MArray<double, 1> x1 = x, y1 = y;
        testing::internal::CaptureStdout();
        p.find(f.image, f.error, x, y, amplitude, kSignificance, largest_chi, radius, "field", 0);
        EXPECT_EQ(std::string::npos, testing::internal::GetCapturedStdout().find("error"));
        ASSERT_EQ(x1.length(1), x.length(1));
        for (int q = 1; q <= x.length(1); ++q) {
            EXPECT_EQ(x1(q), x(q));
            EXPECT_EQ(y1(q), y(q));
        }
    };
    same_stars(kLargestChi, -kRadius, kLargestChi);
    same_stars(inf, kRadius, 1e300);
    testing::internal::CaptureStdout();
    p.find(f.image, f.error, x, y, amplitude, 0, kLargestChi, kRadius, "field", 0);
    EXPECT_EQ(std::string::npos, testing::internal::GetCapturedStdout().find("error"));
    EXPECT_GT(x.length(1), 4);
    for (int q = 1; q <= x.length(1); ++q)
        EXPECT_GE(amplitude(q), 0);
}

TEST_F(FindStars, ImageIndexBasesAreHonoured)
{
    // The same field with indices from −9 and 101: the same stars, their
    // pixels moved with the bases.
    std::vector<Star> moved;
    for (const Star &s : kStars)
        moved.push_back({s.x - 10, s.y + 100, s.flux});
    Field g(p, 64, 64, moved, 2.0, 31, -9, 101);
    g.error(36, 146) = 0;
    testing::internal::CaptureStdout();
    p.find(g.image, g.error, x, y, amplitude, kSignificance, kLargestChi, kRadius, "moved", 0);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(4, x.length(1));
    for (int q = 1; q <= 4; ++q) {
        EXPECT_EQ(kPixels[q - 1][0] - 10, x(q));
        EXPECT_EQ(kPixels[q - 1][1] + 100, y(q));
    }
}

TEST_F(FindStars, DiagnosticFilesFromVerbosityOne)
{
    const test_common::ScratchDir s;
    const test_common::InDir here(s.path());
    // Bands far smaller than the maps: the files still show the whole maps.
    psf_bands::setHeight(16);
    const std::vector<std::string> names = {"nchi_binned_field.fits", "nchi_field.fits",
                                            "flux_field.fits",        "error_field.fits",
                                            "min_field.fits",         "star_field.fits"};
    find(0);
    for (const std::string &n : names)
        EXPECT_FALSE(test_common::exists(s.file(n))) << n;
    const std::string out = find(1);
    EXPECT_EQ(" wenn hier abbricht sind Bilder zu gross fuer Speicher ...\n alles ok!\n", out);
    for (const std::string &n : names) {
        const test_common::Verdict verdict = test_common::fitsverify(s.file(n));
        ASSERT_TRUE(verdict.flawless) << n << verdict.report;
    }
    // Read back with CFITSIO: the maps of the 320 × 320 cells; the star
    // marks are the four stars, each a minimum; the smoothed map is 0 on its
    // outermost ring.
    const test_common::Image stars =
        test_common::read_hdu<double>(s.file("star_field.fits")).image();
    const test_common::Image minima =
        test_common::read_hdu<double>(s.file("min_field.fits")).image();
    const test_common::Image smooth =
        test_common::read_hdu<double>(s.file("nchi_binned_field.fits")).image();
    const test_common::Image chi = test_common::read_hdu<double>(s.file("nchi_field.fits")).image();
    ASSERT_EQ(320, stars.nx);
    ASSERT_EQ(320, stars.ny);
    int marked = 0;
    for (int k = 1; k <= 320; ++k)
        for (int l = 1; l <= 320; ++l) {
            if (stars(k, l) == 1) {
                ++marked;
                EXPECT_EQ(1, minima(k, l));
                const int px = 1 + (k - 1) / 5, py = 1 + (l - 1) / 5;
                bool known = false;
                for (const auto &q : kPixels)
                    known = known || (q[0] == px && q[1] == py);
                EXPECT_TRUE(known) << px << ", " << py;
            }
            if (k == 1 || l == 1 || k == 320 || l == 320) {
                EXPECT_EQ(0, smooth(k, l));
            }
        }
    EXPECT_EQ(4, marked);
    // Cells of the bad pixel failed (1e100, infinite as 32-bit floats).
    EXPECT_TRUE(std::isinf(chi(228, 228)));
    // The files hold the whole maps of mapping_full, and the stars are those
    // of the search in bands at verbosity 0.
    MArray<double, 2> C, A, E;
    testing::internal::CaptureStdout();
    p.mapping_full(f.image, f.error, C, A, E, kRadius, 0);
    testing::internal::GetCapturedStdout();
    const test_common::Image flux =
        test_common::read_hdu<double>(s.file("flux_field.fits")).image();
    const test_common::Image err =
        test_common::read_hdu<double>(s.file("error_field.fits")).image();
    int differ = 0;
    for (int k = 1; k <= 320; ++k)
        for (int l = 1; l <= 320; ++l)
            differ += chi(k, l) != static_cast<float>(C(k, l)) ||
                      flux(k, l) != static_cast<float>(A(k, l)) ||
                      err(k, l) != static_cast<float>(E(k, l));
    EXPECT_EQ(0, differ);
    // (find gives the lists new storage.)
    const MArray<double, 1> x1 = x, y1 = y, a1 = amplitude;
    find(0);
    ASSERT_EQ(x1.length(1), x.length(1));
    for (int q = 1; q <= x.length(1); ++q) {
        EXPECT_EQ(x1(q), x(q));
        EXPECT_EQ(y1(q), y(q));
        EXPECT_EQ(a1(q), amplitude(q));
    }
}

TEST_F(FindStars, AStarWhoseChiIsTheLargestChiIsFound)
{
    // The chi of each star's cell, exactly, from the maps; each in turn as
    // the largest chi: the star is found, by the search of the whole maps
    // (verbosity 1) and by the search in bands alike.
    const test_common::ScratchDir s;
    const test_common::InDir here(s.path());
    find(1);
    const test_common::Image marks =
        test_common::read_hdu<double>(s.file("star_field.fits")).image();
    MArray<double, 2> C, A, E;
    testing::internal::CaptureStdout();
    p.mapping_full(f.image, f.error, C, A, E, kRadius, 0);
    testing::internal::GetCapturedStdout();
    int stars = 0;
    for (int k = 1; k <= marks.nx; ++k)
        for (int l = 1; l <= marks.ny; ++l) {
            if (marks(k, l) != 1)
                continue;
            ++stars;
            for (const int verbose : {1, 0}) {
                testing::internal::CaptureStdout();
                p.find(f.image, f.error, x, y, amplitude, kSignificance, C(k, l), kRadius, "field",
                       verbose);
                testing::internal::GetCapturedStdout();
                bool found = false;
                for (int q = 1; q <= x.length(1); ++q)
                    found = found || (x(q) == 1 + (k - 1) / 5 && y(q) == 1 + (l - 1) / 5 &&
                                      amplitude(q) == A(k, l));
                EXPECT_TRUE(found) << "cell " << k << ", " << l << ", verbosity " << verbose;
            }
        }
    EXPECT_EQ(4, stars);
}

TEST_F(FindStars, AFileThatCannotBeWrittenEndsTheSearchWithItsError)
{
    // The files are written while the maps' threads are at work: the error
    // comes back to the caller, and no thread is left waiting.
    const test_common::ScratchDir s;
    const test_common::InDir here(s.path());
    testing::internal::CaptureStdout();
    bool thrown = false;
    try {
        p.find(f.image, f.error, x, y, amplitude, kSignificance, kLargestChi, kRadius,
               "no/such/folder", 1);
    } catch (const orv::FitsException &) {
        thrown = true;
    }
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(thrown);
}

TEST(FindStarsWithASyntheticPsf, BrightStarsNeedAPsfErrorInProportionToThePsf)
{
    // Stars of Gaussian FWHM 2.5 pixels as exact pixel integrals on noise of
    // σ 5, each halfway between two tabulated shifts on both axes, where the
    // tables miss a star most: a faint row (flux 600 to 800) and two bright
    // ones (12000 to 20000). The PSF is prepared as the README's recipe has
    // it, with the error per sample of the recipe and with a negligible one.
    const std::vector<Star> stars = {{14.1, 14.1, 600},   {29.9, 14.3, 800},   {45.7, 13.9, 700},
                                     {14.3, 30.1, 15000}, {30.1, 29.7, 20000}, {45.9, 30.3, 12000},
                                     {13.7, 45.9, 18000}, {29.7, 46.1, 14000}, {46.1, 45.7, 16000}};
    const double sigma = 2.5 / 2.3548200450309493;
    MArray<float, 2> image(60, 60), error(60, 60);
    std::mt19937 rng(41);
    std::normal_distribution<double> noise(0, 5);
    for (int j = 1; j <= 60; ++j)
        for (int i = 1; i <= 60; ++i) {
            double v = noise(rng);
            for (const Star &s : stars)
                v += s.flux * psftruth::pixelIntegral(i, j, s.x, s.y, sigma);
            image(i, j) = static_cast<float>(v);
            error(i, j) = 5;
        }
    // Which stars are found (at their nearest pixel), and how many other
    // detections there are.
    const auto search = [&](double sampleError, std::vector<bool> &found) {
        psf p(6, 4, 15, 0);
        testing::internal::CaptureStdout();
        p.generate_gauss(2.5, 2.5, 0, 0);
        p.get_epsf() = sampleError;
        p.normalize_psf();
        p.calc_base(5, 0);
        MArray<double, 1> x, y, amplitude;
        p.find(image, error, x, y, amplitude, 5, 3, 3, "recipe", 0);
        testing::internal::GetCapturedStdout();
        found.assign(stars.size(), false);
        int other = 0;
        for (int q = 1; q <= x.length(1); ++q) {
            bool known = false;
            for (std::size_t k = 0; k < stars.size(); ++k)
                if (x(q) == std::lrint(stars[k].x) && y(q) == std::lrint(stars[k].y)) {
                    known = !found[k];
                    found[k] = true;
                }
            other += !known;
        }
        return other;
    };
    std::vector<bool> recipe, negligible;
    EXPECT_EQ(0, search(1e-3, recipe));
    EXPECT_EQ(0, search(1e-7, negligible));
    for (std::size_t k = 0; k < stars.size(); ++k) {
        SCOPED_TRACE(stars[k].flux);
        EXPECT_TRUE(recipe[k]);
        // The misfit's chi grows with the flux against a negligible error.
        EXPECT_EQ(stars[k].flux < 1000, negligible[k]);
    }
}
