// PSF files, checked with CFITSIO and fitsverify.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "common/fits.h"
#include "orv/fits/fits_exception.h"
#include "psftools/psf.h"
#include "tests/psftools/psf_truth.h"

using orv::MArray;
using test_common::Image;

namespace {

// Values that float holds exactly, different in every sample.
void fillExact(psf &p)
{
    MArray<double, 2> v = p.get_psf(), e = p.get_epsf();
    for (int k = v.firstIndex(1); k <= v.lastIndex(1); ++k)
        for (int l = v.firstIndex(2); l <= v.lastIndex(2); ++l) {
            v(k, l) = k + l / 64.0;
            e(k, l) = 0.5 + std::abs(k) / 8.0 + std::abs(l) / 1024.0;
        }
}

// The file holds array a (indices −n..n) with pixel 1 at index −n.
void expectFileHolds(const std::string &path, const MArray<double, 2> &a)
{
    const test_common::BasicHdu<double> r = test_common::read_hdu<double>(path);
    ASSERT_TRUE(r.ok()) << path;
    EXPECT_EQ(-32, r.bitpix);
    ASSERT_EQ(a.length(1), r.nx);
    ASSERT_EQ(a.length(2), r.ny);
    for (int x = 1; x <= r.nx; ++x)
        for (int y = 1; y <= r.ny; ++y)
            ASSERT_EQ(static_cast<float>(a(a.firstIndex(1) + x - 1, a.firstIndex(2) + y - 1)),
                      r.at(x, y))
                << path << " " << x << " " << y;
    const test_common::Verdict verdict = test_common::fitsverify(path);
    EXPECT_TRUE(verdict.flawless) << verdict.report;
}

void expectSame(const MArray<double, 2> &a, const MArray<double, 2> &b)
{
    ASSERT_EQ(a.firstIndex(1), b.firstIndex(1));
    ASSERT_EQ(a.lastIndex(1), b.lastIndex(1));
    ASSERT_EQ(a.firstIndex(2), b.firstIndex(2));
    ASSERT_EQ(a.lastIndex(2), b.lastIndex(2));
    for (int k = a.firstIndex(1); k <= a.lastIndex(1); ++k)
        for (int l = a.firstIndex(2); l <= a.lastIndex(2); ++l)
            ASSERT_EQ(a(k, l), b(k, l)) << k << " " << l;
}

// A pair of files holds values and errors.
void expectPairHolds(const std::string &valueFile, const std::string &errorFile,
                     const MArray<double, 2> &values, const MArray<double, 2> &errors)
{
    expectFileHolds(valueFile, values);
    expectFileHolds(errorFile, errors);
}

void expectSamePsf(const psf &p, const psf &q)
{
    expectSame(p.get_psf(), q.get_psf());
    expectSame(p.get_epsf(), q.get_epsf());
}

Image pattern(int n1, int n2, double scale)
{
    return Image::from(n1, n2, [&](int x, int y) { return scale * (100 * x + y); });
}

// A scratch folder and a PSF of sub-grid 5 (indices −17..17) with values
// that float holds exactly.
class PsfFiles : public testing::Test {
protected:
    PsfFiles() { fillExact(p); }
    const test_common::ScratchDir s;
    psf p{10, 3, 5, 0};
};

} // namespace

TEST_F(PsfFiles, SubgridNamedFilesRoundTrip)
{
    p.writefits_psf(s.file("star.fits"));
    expectPairHolds(s.file("psf_0005_star.fits"), s.file("e.psf_0005_star.fits"), p.get_psf(),
                    p.get_epsf());

    psf q(10, 3, 5, 0);
    testing::internal::CaptureStdout();
    q.readfits_psf(s.file("star.fits"));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, out.find(" psf = " + s.file("psf_0005_star.fits") + "\n"));
    EXPECT_NE(std::string::npos, out.find("_slen = 17\n_file_slen = 17\n"));
    expectSamePsf(p, q);
}

TEST_F(PsfFiles, PlainNamedFilesRoundTripWithTheErrorTwinBesideThem)
{
    p.write_psf(s.file("star.fits"));
    // The twin sits in the same folder, where the reader looks for it.
    expectPairHolds(s.file("star.fits"), s.file("e.star.fits"), p.get_psf(), p.get_epsf());

    psf q;
    q.read_psf(s.file("star.fits"));
    expectSamePsf(p, q);

    p.binning(0, 0);
    p.write_binned_psf(s.file("binned.fits"));
    expectPairHolds(s.file("binned.fits"), s.file("e.binned.fits"), p.get_binned_psf(),
                    p.get_ebinned_psf());

    psf none;
    EXPECT_THROW(none.read_psf(s.file("missing.fits")), orv::FitsException);
}

TEST_F(PsfFiles, SubgridReaderCropsOrPadsAroundTheCentre)
{
    struct Case {
        int side;
    };
    for (const Case c : {Case{41}, Case{21}}) {
        const std::string name = "psf_0005_f" + std::to_string(c.side) + ".fits";
        test_common::write_image(s.file(name), pattern(c.side, c.side, 1));
        test_common::write_image(s.file("e." + name), pattern(c.side, c.side, 0.5));
        testing::internal::CaptureStdout();
        p.readfits_psf(s.file("f" + std::to_string(c.side) + ".fits"));
        const std::string out = testing::internal::GetCapturedStdout();
        const int w = c.side / 2;
        EXPECT_NE(std::string::npos, out.find("_file_slen = " + std::to_string(w) + "\n"));
        const MArray<double, 2> v = p.get_psf(), e = p.get_epsf();
        EXPECT_EQ(-17, v.firstIndex(1));
        EXPECT_EQ(17, v.lastIndex(2));
        for (int k = -17; k <= 17; ++k)
            for (int l = -17; l <= 17; ++l) {
                const bool inFile = std::abs(k) <= w && std::abs(l) <= w;
                const double f = inFile ? 100 * (k + w + 1) + (l + w + 1) : 0;
                ASSERT_EQ(f, v(k, l)) << c.side << " " << k << " " << l;
                ASSERT_EQ(0.5 * f, e(k, l));
            }
    }
}

TEST_F(PsfFiles, PlainReaderCopiesOnlyWhatOverlaps)
{
    // An error image smaller than the PSF image, and a PSF image that is not
    // square: what both have is copied, the rest is 0.
    test_common::write_image(s.file("a.fits"), pattern(35, 29, 1));
    test_common::write_image(s.file("e.a.fits"), pattern(31, 31, 0.5));
    testing::internal::CaptureStdout();
    p.read_psf(s.file("a.fits"));
    EXPECT_EQ("error: wrong psf-size\n", testing::internal::GetCapturedStdout());
    const MArray<double, 2> v = p.get_psf(), e = p.get_epsf();
    EXPECT_EQ(-17, v.firstIndex(2));
    EXPECT_EQ(17, e.lastIndex(1));
    for (int x = 1; x <= 35; ++x)
        for (int y = 1; y <= 35; ++y) {
            ASSERT_EQ(y <= 29 ? 100 * x + y : 0, v(x - 18, y - 18)) << x << " " << y;
            ASSERT_EQ(x <= 31 && y <= 31 ? 0.5 * (100 * x + y) : 0, e(x - 18, y - 18))
                << x << " " << y;
        }
}

TEST_F(PsfFiles, EveryShiftOfTheTablesGetsAPairOfFiles)
{
    // A smaller PSF: analyt 2.
    psf small(10, 2, 5, 0);
    psftruth::fillSubgridGaussian(small.get_psf(), 5, 1.0);
    MArray<double, 2> e = small.get_epsf();
    e = 0.01;
    small.calc_base(3, 0);
    small.write_binned(s.file("base"));
    const MArray<double, 4> t = small.get_all_binned_psf(), te = small.get_all_ebinned_psf();
    const char *text[] = {"000-1", "000", "001"};
    for (int sx = -1; sx <= 1; ++sx)
        for (int sy = -1; sy <= 1; ++sy) {
            const std::string name =
                std::string("base_") + text[sx + 1] + "_" + text[sy + 1] + ".fits";
            MArray<double, 2> plane{orv::Range(-2, 2), orv::Range(-2, 2)}, eplane(plane.shape());
            for (int i = -2; i <= 2; ++i)
                for (int j = -2; j <= 2; ++j) {
                    plane(i, j) = t(sx, sy, i, j);
                    eplane(i, j) = te(sx, sy, i, j);
                }
            expectPairHolds(s.file(name), s.file("e." + name), plane, eplane);
        }
    // Nothing else was written: nine pairs.
    const std::string count = "test $(ls '" + s.path() + "' | wc -l) -eq 18";
    EXPECT_EQ(0, std::system(count.c_str()));
}
