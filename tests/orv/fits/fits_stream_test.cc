#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "fits_test_util.h"
#include "orv/fits/fits_data.h"

namespace {

using fitstest::box;
using fitstest::card;
using fitstest::elements;
using fitstest::fe;
using fitstest::fitsError;
using fitstest::headerText;
using namespace orv;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// --- CFITSIO as the independent reader and writer --------------------------------

void check(int status)
{
    if (status) {
        char text[FLEN_STATUS];
        fits_get_errstatus(status, text);
        FAIL() << "CFITSIO status " << status << ": " << text;
    }
}

// An image written by CFITSIO. With scaling keys the values are stored as
// given (raw); for the unsigned and signed-byte types CFITSIO applies its
// own BZERO to the physical values.
void cfitsioImage(const std::string &path, int bitimg, const std::vector<long> &axes,
                  const std::vector<double> &values, double bscale = 1.0, double bzero = 0.0,
                  bool emptyPrimaryFirst = false)
{
    fitsfile *f = nullptr;
    int status = 0;
    fits_create_file(&f, ("!" + path).c_str(), &status);
    if (emptyPrimaryFirst)
        fits_create_img(f, 8, 0, nullptr, &status);
    std::vector<long> a = axes;
    fits_create_img(f, bitimg, static_cast<int>(a.size()), a.data(), &status);
    if (bscale != 1.0 || bzero != 0.0) {
        fits_write_key_dbl(f, "BSCALE", bscale, -15, "", &status);
        fits_write_key_dbl(f, "BZERO", bzero, -15, "", &status);
        fits_set_bscale(f, 1.0, 0.0, &status);
    }
    std::vector<double> v = values;
    fits_write_img(f, TDOUBLE, 1, static_cast<LONGLONG>(v.size()), v.data(), &status);
    fits_close_file(f, &status);
    check(status);
}

// What CFITSIO reads from an HDU as floats or doubles.
template <class T>
std::vector<T> cfitsioRead(const std::string &path, int hdu = 1)
{
    fitsfile *f = nullptr;
    int status = 0, naxis = 0, anynul = 0;
    long axes[9] = {0};
    fits_open_file(&f, path.c_str(), READONLY, &status);
    fits_movabs_hdu(f, hdu, nullptr, &status);
    fits_get_img_dim(f, &naxis, &status);
    fits_get_img_size(f, 9, axes, &status);
    long n = 1;
    for (int d = 0; d < naxis; ++d)
        n *= axes[d];
    std::vector<T> out(static_cast<std::size_t>(n));
    T nul = 0;
    fits_read_img(f, std::is_same<T, float>::value ? TFLOAT : TDOUBLE, 1, n, &nul, out.data(),
                  &anynul, &status);
    fits_close_file(f, &status);
    check(status);
    return out;
}

bool sameBits(const std::vector<float> &a, const std::vector<float> &b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

std::vector<double> cycle(const std::vector<double> &values, std::size_t n)
{
    std::vector<double> out;
    for (std::size_t i = 0; i < n; ++i)
        out.push_back(values[i % values.size()]);
    return out;
}

MArray<float, 2> ramp(int n1, int n2, float scale = 1.0f)
{
    MArray<float, 2> a(n1, n2);
    for (int j = 1; j <= n2; ++j)
        for (int i = 1; i <= n1; ++i)
            a(i, j) = scale * static_cast<float>((j - 1) * n1 + i - 1);
    return a;
}

class FitsStream : public fitstest::TempDir {};

// --- reading -------------------------------------------------------------------------

struct ReadCase {
    const char *name;
    int bitimg;
    std::vector<double> values;
    double bscale;
    double bzero;
};

TEST_F(FitsStream, ReadsEveryPixelTypeLikeCfitsio)
{
    const double tiny = std::numeric_limits<float>::denorm_min();
    const std::vector<ReadCase> cases = {
        {"8", BYTE_IMG, {0, 9, 255, 128, 1}, 1.0, 0.0},
        {"8 half", BYTE_IMG, {0, 9, 255, 128, 1}, 0.5, 0.0},
        {"8 signed", SBYTE_IMG, {-128, -1, 0, 127, 5}, 1.0, 0.0},
        {"16", SHORT_IMG, {-32768, -1, 0, 32767, 12345}, 1.0, 0.0},
        {"16 unsigned", USHORT_IMG, {0, 1, 32767, 32768, 65535}, 1.0, 0.0},
        {"16 scaled", SHORT_IMG, {-32768, -1, 0, 32767, 12345}, 3.0, -7.0},
        {"16 fractional", SHORT_IMG, {-32768, -1, 0, 32767, 12345}, 0.001, 0.25},
        {"16 huge scale", SHORT_IMG, {-32768, -1, 0, 32767, 12345}, 1e6, 4e9},
        {"32", LONG_IMG, {-2147483648.0, -1, 0, 2147483647.0, 123456789}, 1.0, 0.0},
        {"32 unsigned", ULONG_IMG, {0, 1, 2147483647.0, 2147483648.0, 4294967295.0}, 1.0, 0.0},
        {"32 scaled", LONG_IMG, {-2147483648.0, -1, 0, 2147483647.0, 123456789}, 1e-3, 1e5},
        {"-32", FLOAT_IMG, {0, 1.5, -3.25e-20, 3.4e38, kNaN, -kInf, tiny}, 1.0, 0.0},
        {"-32 scaled", FLOAT_IMG, {0, 1.5, -3.25e-20, 1e30, kNaN}, 2.0, 1.0},
        {"-64", DOUBLE_IMG, {1.0 / 3.0, -1e-30, 123456.789, 1e38, kNaN}, 1.0, 0.0},
        {"-64 scaled", DOUBLE_IMG, {1.0 / 3.0, -1e-30, 123456.789, 1e30}, 0.5, -2.5},
    };
    for (const ReadCase &c : cases) {
        const std::string file = path("r.fits");
        const std::vector<double> values = cycle(c.values, 6 * 4);
        cfitsioImage(file, c.bitimg, {6, 4}, values, c.bscale, c.bzero);
        FitsIn in(file, true, false);
        MArray<float, 2> a;
        in >> a;
        ASSERT_EQ(6, a.length(1)) << c.name;
        ASSERT_EQ(4, a.length(2)) << c.name;
        EXPECT_EQ(1, a.firstIndex(1));
        EXPECT_EQ(1, a.firstIndex(2));
        EXPECT_TRUE(sameBits(cfitsioRead<float>(file), elements(a))) << c.name;
    }
}

// Images that span several blocks of reading, into a new array and twice
// into one that exists.
TEST_F(FitsStream, ImagesLargerThanAReadBlock)
{
    const std::vector<double> values = {0, 1, 32767, 32768, 65535, 12345, 40000, 7};
    for (int bitimg : {USHORT_IMG, FLOAT_IMG, DOUBLE_IMG}) {
        const std::string file = path("big.fits");
        std::vector<double> v(701 * 433);
        for (std::size_t k = 0; k < v.size(); ++k)
            v[k] = values[k % values.size()] + (bitimg == USHORT_IMG ? 0 : 0.25 * (k % 13));
        cfitsioImage(file, bitimg, {701, 433}, v);
        const std::vector<float> truth = cfitsioRead<float>(file);
        FitsIn in(file, true, false);
        MArray<float, 2> fresh;
        in >> fresh;
        EXPECT_TRUE(sameBits(truth, elements(fresh))) << bitimg;
        MArray<float, 2> existing(701, 433);
        for (int pass = 0; pass < 2; ++pass) {
            existing = -1.0f;
            FitsIn again(file, true, false);
            again >> existing;
            EXPECT_TRUE(sameBits(truth, elements(existing))) << bitimg << " pass " << pass;
        }
    }
}

TEST_F(FitsStream, ScalingEdgeCasesOfTheFormat)
{
    const std::string file = path("e.fits");
    cfitsioImage(file, SHORT_IMG, {2, 1}, {-32768, 32767}, 1.0, 32768.0);
    FitsIn in16(file, true, false);
    std::unique_ptr<float[]> v(in16.getDataArray(nullptr));
    EXPECT_EQ(0.0f, v[0]);
    EXPECT_EQ(65535.0f, v[1]);
    cfitsioImage(file, BYTE_IMG, {1, 1}, {9}, 0.5, 0.0);
    FitsIn in8(file, true, false);
    v.reset(in8.getDataArray(nullptr));
    EXPECT_EQ(4.5f, v[0]);
}

TEST_F(FitsStream, ImageExtensionAfterAnEmptyPrimary)
{
    const std::string file = path("x.fits");
    const std::vector<double> values = cycle({1.5, -2.0, 7.25}, 15);
    cfitsioImage(file, FLOAT_IMG, {5, 3}, values, 1.0, 0.0, true);
    FitsIn primary(file, true, false);
    EXPECT_EQ(0, primary.getNaxis());
    EXPECT_EQ(fe("No data segment associated with header (NAXIS = 0)."),
              fitsError([&] { primary.begin(); }));
    FitsIn ext = primary.getNextExtension();
    MArray<float, 2> a;
    ext >> a;
    EXPECT_TRUE(sameBits(cfitsioRead<float>(file, 2), elements(a)));
    EXPECT_EQ(fe("no further extensions"), fitsError([&] { ext.getNextExtension(); }));

    FitsExtensionIn walker(file, true, false);
    EXPECT_EQ(fe("Use normal FitsIn methods to read primary HDU and data segment."),
              fitsError([&] { walker.getExtension(0); }));
    FitsIn first = walker.getNextExtension();
    EXPECT_EQ(1, walker.getExtNo());
    EXPECT_EQ(5, first.getNaxis(1));
    EXPECT_EQ(fe("no further extensions"), fitsError([&] { walker.getNextExtension(); }));
    walker.resetExtNo();
    EXPECT_EQ(3, walker.getExtension(1).getNaxis(2));

    fitstest::writeBytes(
        file, headerText({"SIMPLE  =                    T", "BITPIX  =                    8",
                          "NAXIS   =                    1", "NAXIS1  =                   10"}) +
                  std::string(2880, '\0'));
    FitsIn lone(file, true, false);
    EXPECT_EQ(fe("No extension present"), fitsError([&] { lone.getNextExtension(); }));
}

TEST_F(FitsStream, TablesAreRefusedWhenTheirDataAreMapped)
{
    const std::string file = path("t.fits");
    fitsfile *f = nullptr;
    int status = 0;
    fits_create_file(&f, ("!" + file).c_str(), &status);
    fits_create_img(f, 8, 0, nullptr, &status);
    char *type[] = {const_cast<char *>("X")};
    char *form[] = {const_cast<char *>("1E")};
    fits_create_tbl(f, BINARY_TBL, 3, 1, type, form, nullptr, "T", &status);
    float col[3] = {1, 2, 3};
    fits_write_col(f, TFLOAT, 1, 1, 1, 3, col, &status);
    fits_close_file(f, &status);
    check(status);
    FitsIn table = FitsIn(file, true, false).getNextExtension();
    EXPECT_EQ(fe("BINTABLE extension not supported until now."), fitsError([&] { table.begin(); }));
}

TEST_F(FitsStream, BrokenDataSegmentsRaiseInsteadOfCrashing)
{
    const std::string file = path("b.fits");
    cfitsioImage(file, FLOAT_IMG, {100, 100}, cycle({1.0}, 10000));
    std::string bytes = fitstest::readBytes(file);
    fitstest::writeBytes(file, bytes.substr(0, 2880 + 4 * 5000));
    FitsIn in(file, true, false);
    MArray<float, 2> a;
    EXPECT_EQ(fe("FITS file '" + file + "' is truncated: its data segment is incomplete"),
              fitsError([&] { in >> a; }));
    EXPECT_EQ(nullptr, a.memoryBlock());
    // Only the padding of the last record missing is no error.
    fitstest::writeBytes(file, bytes.substr(0, 2880 + 4 * 10000));
    FitsIn shortPadding(file, true, false);
    EXPECT_EQ("no exception", fitsError([&] { shortPadding >> a; }));
    EXPECT_EQ(1.0f, a(100, 100));
}

TEST_F(FitsStream, HeadersClaimingMoreThanTheFileHoldsAreRefusedBeforeAllocating)
{
    // Header-only files whose images would need hundreds of gigabytes: a
    // read must refuse them, never ask for the memory first.
    const std::string truncated = "is truncated: its data segment is incomplete";
    struct Case {
        const char *naxis1, *naxis2, *extra, *message;
    } cases[] = {
        {"2147483647", "25", "", truncated.c_str()},
        {"100000", "100000", "", truncated.c_str()},
        {"2147483647", "25", "GCOUNT  =                    0", "is shorter than its image"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.naxis1) + " x " + c.naxis2 + " " + c.extra);
        const std::string file = path("huge.fits");
        std::vector<std::string> cards = {
            "SIMPLE  =                    T", "BITPIX  =                  -32",
            "NAXIS   =                    2",
            "NAXIS1  = " + std::string(20 - strlen(c.naxis1), ' ') + c.naxis1,
            "NAXIS2  = " + std::string(20 - strlen(c.naxis2), ' ') + c.naxis2};
        if (*c.extra)
            cards.push_back(c.extra);
        fitstest::writeBytes(file, headerText(cards));
        FitsIn in(file, true, false);
        MArray<float, 2> a;
        EXPECT_NE(std::string::npos, fitsError([&] { in >> a; }).find(c.message));
        EXPECT_EQ(nullptr, a.memoryBlock());
        EXPECT_NE(std::string::npos,
                  fitsError([&] { delete[] in.getDataArray(nullptr); }).find(c.message));
    }
}

TEST_F(FitsStream, GroupCountsDoNotChangeTheImageSize)
{
    // GCOUNT and PCOUNT change the length of the data segment but not the
    // number of pixels of the image: an array and a copy hold the image only.
    for (const char *counts : {"GCOUNT  =                    0", "GCOUNT  =                    2",
                               "PCOUNT  =                    5"}) {
        SCOPED_TRACE(counts);
        const std::string file = path("g.fits");
        std::string data(2 * 2880, '\0');
        for (int i = 0; i < 6; ++i)
            data[4 * i + 3] = static_cast<char>(i + 1);
        fitstest::writeBytes(
            file, headerText({"SIMPLE  =                    T", "BITPIX  =                   32",
                              "NAXIS   =                    2", "NAXIS1  =                    3",
                              "NAXIS2  =                    2", counts}) +
                      data);
        FitsIn in(file, true, false);
        MArray<float, 2> a;
        const std::string read = fitsError([&] { in >> a; });
        if (read == "no exception") {
            ASSERT_EQ(3, a.length(1));
            EXPECT_EQ(std::vector<float>({1, 2, 3, 4, 5, 6}), elements(a));
        }
        // An array with storage is filled by the same pixels or refused the same
        // way, never left as it was.
        FitsIn again(file, true, false);
        MArray<float, 2> held(3, 2);
        held = -1.0f;
        EXPECT_EQ(read, fitsError([&] { again >> held; }));
        if (read == "no exception") {
            EXPECT_EQ(std::vector<float>({1, 2, 3, 4, 5, 6}), elements(held));
        }
        const std::string copy = path("gc.fits");
        const std::string copied = fitsError([&] {
            FitsOut out(copy, in, true, false);
            out.copyData(in);
        });
        if (copied == "no exception") {
            EXPECT_EQ(std::vector<float>({1, 2, 3, 4, 5, 6}), cfitsioRead<float>(copy));
            std::string report;
            EXPECT_TRUE(fitstest::fitsverifyClean(copy, &report)) << report;
        } else {
            EXPECT_NE(0, access(copy.c_str(), F_OK));
        }
    }
    // GCOUNT 0 and no data records: a region of the image lies past the end.
    const std::string file = path("g0.fits");
    fitstest::writeBytes(
        file, headerText({"SIMPLE  =                    T", "BITPIX  =                   32",
                          "NAXIS   =                    2", "NAXIS1  =                    3",
                          "NAXIS2  =                    2", "GCOUNT  =                    0"}));
    FitsIn in(file, box({{2, 3}, {1, 2}}), true, false);
    MArray<float, 2> a;
    EXPECT_EQ(fe("FITS file '" + file + "' is truncated: its data segment is incomplete"),
              fitsError([&] { in >> a; }));
}

// --- regions and tiles ---------------------------------------------------------------------

// A stream that shows its map fields.
struct Probe : FitsIn {
    using FitsIn::FitsIn;
    std::size_t length() const { return mapLength; }
    long offset() const { return mapOffset; }
};

TEST_F(FitsStream, RegionsMapOnlyTheirSpan)
{
    const std::string file = path("s.fits");
    cfitsioImage(file, SHORT_IMG, {100, 100}, cycle({1, 2, 3, 4, 5, 6, 7}, 10000));
    const std::vector<float> all = cfitsioRead<float>(file);
    Probe p(file, box({{11, 20}, {5, 7}}), true, false);
    EXPECT_EQ(0u, p.length());
    MArray<float, 2> a;
    p >> a;
    EXPECT_EQ(0, p.offset());
    EXPECT_EQ(2880u + 820 + (2 * 100 + 10) * 2, p.length());
    ASSERT_EQ(10, a.length(1));
    ASSERT_EQ(3, a.length(2));
    for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 10; ++i)
            EXPECT_EQ(all[(j + 3) * 100 + i + 9], a(i, j));

    // Region starting on a page boundary: (4096 - 2880) / 2 = 608 pixels in.
    p.setRegion(box({{9, 100}, {7, 7}}));
    p.begin();
    EXPECT_EQ(4096, p.offset());
    EXPECT_EQ(92u * 2, p.length());
    p.setRegion(box({{10, 100}, {7, 7}}));
    p.begin();
    EXPECT_EQ(2u + 91 * 2, p.length()); // the pixel before it comes along
    EXPECT_EQ(4096, p.offset());

    EXPECT_EQ(fe("request for illegal region:\n[0:5,1:1] is no subarray of [1:100,1:100]"),
              fitsError([&] {
                  p.setRegion(box({{0, 5}, {1, 1}}));
              }));
    EXPECT_EQ(0u, p.getRegionLength());
    EXPECT_EQ(fe("request for unset region"), fitsError([&] { p.getRegionStart(1); }));
    p.setRegion(box({{2, 5}, {1, 3}}));
    EXPECT_EQ(4, p.getRegionLength(1));
    EXPECT_EQ(12u, p.getRegionLength());
    EXPECT_EQ(fe("request for invalid region parameter"), fitsError([&] { p.getRegionEnd(0); }));
    EXPECT_EQ(fe("request for invalid region parameter"), fitsError([&] { p.checkRegion(3); }));
    EXPECT_THROW(p.getRegionStart(3), util::UException);
}

TEST_F(FitsStream, CubesNeedARegionOfTwoAxes)
{
    const std::string file = path("c.fits");
    cfitsioImage(file, LONG_IMG, {100, 100, 3}, cycle({5, 6, 7, 8}, 30000));
    const std::vector<float> all = cfitsioRead<float>(file);
    FitsIn cube(file, true, false);
    MArray<float, 2> a;
    EXPECT_EQ(fe("NAXIS or slice does not match MArray dimensions"), fitsError([&] { cube >> a; }));
    cube.setRegion(box({{1, 100}, {1, 1}, {1, 3}}));
    cube >> a;
    ASSERT_EQ(100, a.length(1));
    ASSERT_EQ(3, a.length(2));
    for (int k = 1; k <= 3; ++k)
        for (int i = 1; i <= 100; ++i)
            EXPECT_EQ(all[(k - 1) * 10000 + i - 1], a(i, k));

    cfitsioImage(file, SHORT_IMG, {10}, cycle({1}, 10));
    FitsIn line(file, true, false);
    MArray<float, 2> stored(3, 3);
    EXPECT_EQ(fe("MArray cannot be filled with FITS file"), fitsError([&] { line >> stored; }));
}

TEST_F(FitsStream, TilesWalkTheImage)
{
    const std::string file = path("tiles.fits");
    std::vector<double> values(10000);
    for (int i = 0; i < 10000; ++i)
        values[i] = i;
    cfitsioImage(file, FLOAT_IMG, {100, 100}, values);
    FitsIn in(file, true, false);
    MArray<float, 2> a(80, 80);
    auto pixel = [](int x, int y) { return static_cast<float>((y - 1) * 100 + x - 1); };
    struct Tile {
        int x0, y0, n1, n2;
    };
    for (const Tile &t : {Tile{1, 1, 80, 80}, Tile{81, 1, 20, 80}, Tile{1, 81, 80, 20},
                          Tile{81, 81, 20, 20}, Tile{1, 1, 80, 80}}) {
        in >> a;
        for (int j = 1; j <= 80; ++j)
            for (int i = 1; i <= 80; ++i) {
                const float expected =
                    i <= t.n1 && j <= t.n2 ? pixel(t.x0 + i - 1, t.y0 + j - 1) : 0.0f;
                ASSERT_EQ(expected, a(i, j)) << t.x0 << "," << t.y0 << " at " << i << "," << j;
            }
    }
}

TEST_F(FitsStream, AWholeImageLandsAtTheFirstIndicesOfALargerArray)
{
    const std::string file = path("w.fits");
    std::vector<double> values(12);
    for (int i = 0; i < 12; ++i)
        values[i] = i + 1;
    cfitsioImage(file, SHORT_IMG, {4, 3}, values);
    FitsIn in(file, true, false);
    MArray<float, 2> a(Range(-2, 3), Range(0, 4)); // 6 x 5, bases -2 and 0
    a = 99.0f;
    in >> a;
    for (int j = 0; j <= 4; ++j)
        for (int i = -2; i <= 3; ++i) {
            const bool inside = i <= 1 && j <= 2;
            EXPECT_EQ(inside ? static_cast<float>(j * 4 + (i + 2) + 1) : 0.0f, a(i, j))
                << i << "," << j;
        }
    // An array of the image's shape is filled as it is, also as a strided view.
    MArray<float, 2> big(8, 3);
    big = -1.0f;
    MArray<float, 2> odd(big, Range(1, 8, 2), Range(1, 3));
    FitsIn again(file, true, false);
    again >> odd;
    EXPECT_EQ(1.0f, big(1, 1));
    EXPECT_EQ(-1.0f, big(2, 1));
    EXPECT_EQ(12.0f, big(7, 3));

    // An iterator moved on from the first element, to the next run or to the
    // end, visits fewer elements than the image has pixels.
    MArray<float, 2> shaped(4, 3);
    MArrayIter<float, 2> second(shaped), nextRun(shaped), past = MArrayIter<float, 2>::end(shaped);
    ++second;
    for (int k = 0; k < 4; ++k)
        ++nextRun;
    for (MArrayIter<float, 2> *it : {&second, &nextRun, &past})
        EXPECT_EQ(fe("NAXIS or slice does not match MArray dimensions"),
                  fitsError([&] { again.readDataArray(*it); }));
    MArrayIter<float, 2> whole(shaped);
    again.readDataArray(whole);
    EXPECT_EQ(12.0f, shaped(4, 3));
}

// --- writing -----------------------------------------------------------------------------

// What an element becomes in the file, told independently of the writer.
double stored(int bitpix, double x, bool fromFloat)
{
    if (bitpix < 0)
        return bitpix == -32 || fromFloat ? static_cast<double>(static_cast<float>(x)) : x;
    if (std::isnan(x))
        return 0;
    const double lo = bitpix == 8 ? 0 : bitpix == 16 ? -32768 : -2147483648.0;
    const double hi = bitpix == 8 ? 255 : bitpix == 16 ? 32767 : 2147483647.0;
    return std::trunc(std::min(std::max(x, lo), hi));
}

TEST_F(FitsStream, WrittenFilesReadBackThroughCfitsioAndVerify)
{
    const std::vector<double> values = {0,    9.9,  256,  -1.5, 32768, -40000,
                                        1e10, kNaN, -0.0, 3e9,  -7.75, 65535.5};
    for (int bitpix : {8, 16, 32, -32, -64}) {
        for (bool asFloat : {true, false}) {
            const std::string file =
                path("w" + std::to_string(bitpix) + (asFloat ? "f" : "d") + ".fits");
            std::vector<double> expected;
            {
                FitsOut out(file);
                out.setBitpixOut(bitpix);
                if (asFloat) {
                    MArray<float, 2> a(4, 3);
                    for (int k = 0; k < 12; ++k)
                        a(k % 4 + 1, k / 4 + 1) = static_cast<float>(values[k]);
                    out << a;
                } else {
                    MArray<double, 2> a(4, 3);
                    for (int k = 0; k < 12; ++k)
                        a(k % 4 + 1, k / 4 + 1) = values[k];
                    out << a;
                }
            }
            for (double v : values)
                expected.push_back(stored(bitpix, asFloat ? static_cast<float>(v) : v, asFloat));
            const std::vector<double> got = cfitsioRead<double>(file);
            ASSERT_EQ(expected.size(), got.size());
            for (std::size_t k = 0; k < got.size(); ++k) {
                if (std::isnan(expected[k]))
                    EXPECT_TRUE(std::isnan(got[k])) << bitpix << " " << k;
                else
                    EXPECT_EQ(expected[k], got[k])
                        << bitpix << (asFloat ? " float " : " double ") << k;
            }
            std::string report;
            EXPECT_TRUE(fitstest::fitsverifyClean(file, &report)) << report;
        }
    }
}

// Integer pixels are truncated or rounded as CFITSIO does it: rounded when
// the header scales them, as for unsigned 16-bit data stored with BZERO
// 32768 (the caller hands over the stored values: no scaling is applied on
// writing), truncated otherwise.
TEST_F(FitsStream, IntegerWritesRoundAndSaturateLikeCfitsio)
{
    const std::vector<double> physical = {1.3, 65534.6, 0.5,      2.5,  -0.4,    65535.4, 70000,
                                          -5,  32767.5, 12345.49, 1e10, 40000.5, 0.49,    65535.6};
    struct Case {
        int bitimg; // CFITSIO's image type for the physical values
        int bitpix;
        double bzero;
    };
    for (const Case &c : {Case{USHORT_IMG, 16, 32768}, Case{SHORT_IMG, 16, 0}, Case{BYTE_IMG, 8, 0},
                          Case{LONG_IMG, 32, 0}}) {
        const std::string ours = path("ours" + std::to_string(c.bitimg) + ".fits");
        const std::string theirs = path("theirs" + std::to_string(c.bitimg) + ".fits");
        {
            FitsOut out(ours);
            out.setBitpixOut(c.bitpix);
            if (c.bzero != 0)
                out.setBzero(c.bzero);
            MArray<double, 2> a(7, 2);
            for (int k = 0; k < 14; ++k)
                a(k % 7 + 1, k / 7 + 1) = physical[k] - c.bzero;
            out << a;
        }
        fitsfile *f = nullptr;
        int status = 0;
        long axes[2] = {7, 2};
        std::vector<double> v = physical;
        fits_create_file(&f, ("!" + theirs).c_str(), &status);
        fits_create_img(f, c.bitimg, 2, axes, &status);
        fits_write_img(f, TDOUBLE, 1, 14, v.data(), &status);
        if (status == NUM_OVERFLOW)
            status = 0; // saturated values are written all the same
        fits_close_file(f, &status);
        check(status);
        EXPECT_EQ(cfitsioRead<double>(theirs), cfitsioRead<double>(ours)) << c.bitimg;
    }
    // The two values that truncation got wrong.
    const std::vector<double> got =
        cfitsioRead<double>(path("ours" + std::to_string(USHORT_IMG) + ".fits"));
    EXPECT_EQ(1.0, got[0]);
    EXPECT_EQ(65535.0, got[1]);
}

TEST_F(FitsStream, AFreshTwoByTwoFile)
{
    const std::string file = path("f.fits");
    MArray<float, 2> a(2, 2);
    a(1, 1) = 1;
    a(2, 1) = 2;
    a(1, 2) = 3;
    a(2, 2) = 4;
    FitsOut out(file);
    out << a;
    EXPECT_FALSE(out.isMapped());
    const std::string bytes = fitstest::readBytes(file);
    ASSERT_EQ(5760u, bytes.size());
    FitsHeader h(file, true, false);
    EXPECT_EQ(-32, h.getBitpix());
    EXPECT_EQ(2, h.getNaxis(1));
    EXPECT_EQ(2, h.getNaxis(2));
    EXPECT_EQ("ORV FITS IO class", h.getString("ORIGIN  "));
    EXPECT_EQ("FITS file originator", h.getComment("ORIGIN  "));
    const unsigned char expected[16] = {0x3f, 0x80, 0, 0, 0x40, 0,    0, 0,
                                        0x40, 0x40, 0, 0, 0x40, 0x80, 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, bytes.data() + 2880, 16));
    EXPECT_EQ(std::string(2880 - 16, '\0'), bytes.substr(2880 + 16));
    // A second write makes the file anew.
    out.setOrigin("a test");
    out << ramp(3, 2);
    FitsIn back(file, true, false);
    EXPECT_EQ(3, back.getNaxis(1));
    EXPECT_EQ("a test", back.getString("ORIGIN  "));
}

TEST_F(FitsStream, TemplateHeadersLoseWhatTheNewDataContradict)
{
    const std::string source = path("src.fits");
    fitstest::writeBytes(
        source, headerText({"SIMPLE  =                    T", "BITPIX  =                   16",
                            "NAXIS   =                    2", "NAXIS1  =                    3",
                            "NAXIS2  =                    2", "BSCALE  =                    2",
                            "BZERO   =                  100", "BLOCKED =                    T",
                            "EPOCH   =               1950.0", "ORIGIN  = 'elsewhere'",
                            "CHECKSUM= 'abcdefghijklmnop'", "DATASUM = '12345'",
                            "DATAMIN =                    0", "DATAMAX =                 1000",
                            "BLANK   =                -1000", "OBJECT  = 'M31'"}) +
                    std::string(2880, '\0'));
    testing::internal::CaptureStderr();
    FitsIn in(source, false, false);
    testing::internal::GetCapturedStderr();
    const std::string file = path("out.fits");
    {
        FitsOut out(file, in, false, false);
        out << ramp(3, 2, 0.5f);
    }
    // The same from a template whose cards were all kept unparsed.
    const std::string fromJunk = path("junk.fits");
    {
        FitsIn unparsed(source, true, true);
        FitsOut out(fromJunk, unparsed, true, false);
        out << ramp(3, 2, 0.5f);
    }
    for (const std::string &written : {file, fromJunk}) {
        FitsHeader h(written, true, false);
        for (const char *gone : {"BSCALE  ", "BZERO   ", "BLOCKED ", "EPOCH   ", "CHECKSUM",
                                 "DATASUM ", "DATAMIN ", "DATAMAX ", "BLANK   "})
            EXPECT_EQ(fe("cannot find keyword '" + std::string(gone) + "'"),
                      fitsError([&] { h.getValueCard(gone); }))
                << written;
    }
    FitsHeader h(file, true, false);
    EXPECT_EQ(1.0, h.getBscale());
    EXPECT_EQ(0.0, h.getBzero());
    EXPECT_EQ("ORV FITS IO class", h.getString("ORIGIN  "));
    EXPECT_EQ("M31", h.getString("OBJECT  "));
    EXPECT_EQ(1950.0, h.getFloat("EQUINOX "));
    EXPECT_EQ(std::vector<float>({0, 0.5, 1, 1.5, 2, 2.5}), cfitsioRead<float>(file));
    std::string report;
    EXPECT_TRUE(fitstest::fitsverifyClean(file, &report)) << report;

    // An integer output keeps BLANK; copying the data unchanged keeps DATAMIN.
    const std::string copy = path("copy.fits");
    {
        FitsOut out(copy, in, true, false);
        out.copyData(in);
    }
    FitsHeader c(copy, true, false);
    EXPECT_EQ(-1000, c.getInt("BLANK   "));
    EXPECT_EQ(1000, c.getInt("DATAMAX "));
    EXPECT_EQ(2.0, c.getBscale());
    EXPECT_EQ(100.0, c.getBzero());
    EXPECT_EQ(cfitsioRead<float>(source), cfitsioRead<float>(copy));
    EXPECT_TRUE(fitstest::fitsverifyClean(copy, &report)) << report;
}

TEST_F(FitsStream, ExtensionTemplatesWriteAPrimaryImage)
{
    const std::string source = path("ext.fits");
    cfitsioImage(source, SHORT_IMG, {5, 3}, cycle({1, 2, 3}, 15), 1.0, 0.0, true);
    FitsIn ext = FitsIn(source, true, false).getNextExtension();
    const std::string file = path("prim.fits");
    {
        FitsOut out(file, ext, true, false);
        MArray<float, 2> a;
        ext >> a;
        out << a;
    }
    std::string report;
    EXPECT_TRUE(fitstest::fitsverifyClean(file, &report)) << report;
    EXPECT_EQ(cfitsioRead<float>(source, 2), cfitsioRead<float>(file));
}

TEST_F(FitsStream, RegionsOfAnExistingFileAreWrittenInPlace)
{
    const std::string file = path("g.fits");
    {
        FitsOut out(file);
        out << ramp(10, 6);
    }
    FitsIn in(file, true, false);
    {
        FitsOut patch(file, in, true, false);
        patch.setRegion(box({{3, 5}, {2, 3}}));
        EXPECT_EQ(fe("cannot reset bitpix while file is open"),
                  fitsError([&] { patch.setBitpixOut(16); }));
        MArray<float, 2> wrongShape(2, 3);
        wrongShape = 0.0f;
        EXPECT_EQ(fe("NAXIS or slice does not match MArray dimensions"),
                  fitsError([&] { patch << wrongShape; }));
        patch.setRegion(box({{3, 5}, {2, 3}}));
        MArray<float, 2> block(3, 2);
        block = -1.0f;
        patch << block;
        // Under a region only its span is mapped: the data writer stores into
        // the region too, and refuses an array of the whole image.
        patch.setRegion(box({{3, 5}, {2, 3}}));
        MArray<float, 2> whole(10, 6);
        whole = 7.0f;
        MArrayIterConst<float, 2> all(whole);
        EXPECT_EQ(fe("NAXIS or slice does not match MArray dimensions"),
                  fitsError([&] { patch.writeDataArray(all); }));
        MArrayIterConst<float, 2> blockElements(block);
        patch.writeDataArray(blockElements);
        patch.closeData();
        // The converters walk whole arrays: an iterator moved on from the first
        // element is refused instead of walked past its array's end.
        patch.setRegion(box({{3, 5}, {2, 3}}));
        MArrayIterConst<float, 2> moved(block);
        ++moved;
        EXPECT_EQ(fe("NAXIS or slice does not match MArray dimensions"),
                  fitsError([&] { patch.writeRegionArray(moved); }));
        patch.closeData();
    }
    const std::vector<float> got = cfitsioRead<float>(file);
    for (int j = 1; j <= 6; ++j)
        for (int i = 1; i <= 10; ++i) {
            const bool patched = i >= 3 && i <= 5 && j >= 2 && j <= 3;
            EXPECT_EQ(patched ? -1.0f : static_cast<float>((j - 1) * 10 + i - 1),
                      got[(j - 1) * 10 + i - 1]);
        }
}

TEST_F(FitsStream, CopyDataOfARegionWritesItsPixels)
{
    const std::string source = path("cube.fits");
    std::vector<double> values(100 * 100 * 20);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<double>(i % 30000);
    cfitsioImage(source, SHORT_IMG, {100, 100, 20}, values);
    FitsIn in(source, box({{1, 50}, {7, 7}, {1, 20}}), true, false);
    const std::string file = path("slab.fits");
    {
        FitsOut out(file, in, true, false);
        out.copyData(in);
    }
    FitsHeader h(file, true, false);
    EXPECT_EQ(2, h.getNaxis());
    EXPECT_EQ(50, h.getNaxis(1));
    EXPECT_EQ(20, h.getNaxis(2));
    const std::vector<float> got = cfitsioRead<float>(file);
    for (int k = 1; k <= 20; ++k)
        for (int i = 1; i <= 50; ++i)
            ASSERT_EQ(values[(k - 1) * 10000 + 6 * 100 + i - 1], got[(k - 1) * 50 + i - 1])
                << i << "," << k;
    std::string report;
    EXPECT_TRUE(fitstest::fitsverifyClean(file, &report)) << report;
}

TEST_F(FitsStream, FailedWritesLeaveNoFile)
{
    const std::string file = path("nothing.fits");
    MArray<float, 2> empty(0, 5);
    FitsOut out(file);
    EXPECT_EQ(fe("invalid or insane NAXIS setting (NAXIS negative or 0)"),
              fitsError([&] { out << empty; }));
    EXPECT_NE(0, ::access(file.c_str(), F_OK));
    FitsOut nowhere(path("no/such/dir.fits"));
    EXPECT_EQ(fe("cannot open file '" + path("no/such/dir.fits") + "' for writing"),
              fitsError([&] { nowhere << ramp(2, 2); }));
    FitsOut bad(file);
    bad.setBitpixOut(12);
    EXPECT_EQ(fe("invalid BITPIX"), fitsError([&] { bad << ramp(2, 2); }));
    EXPECT_NE(0, ::access(file.c_str(), F_OK));
    FitsOut unmapped(file);
    EXPECT_EQ(fe("Attempt to write file of unspecified geometry."),
              fitsError([&] { unmapped.begin(); }));
    // A refused geometry leaves the header as it was; a new file keeps room
    // for its header, so 3 * 2^60 pixels are too many even at BITPIX 8.
    FitsOut kept(file);
    const int good[2] = {3, 2}, zero[2] = {4, 0}, huge[3] = {1 << 30, 1 << 30, 3};
    kept.resetMandatories(-32, 2, good);
    EXPECT_EQ(fe("invalid or insane NAXIS setting (NAXIS negative or 0)"),
              fitsError([&] { kept.resetMandatories(16, 2, zero); }));
    EXPECT_EQ(fe("invalid or insane NAXIS setting (data segment too large)"),
              fitsError([&] { kept.resetMandatories(8, 3, huge); }));
    EXPECT_EQ(-32, kept.getBitpix());
    EXPECT_EQ(2, kept.getNaxis());
    EXPECT_EQ(2, kept.getNaxis(2));
    EXPECT_EQ(24, kept.getDataLength());
    EXPECT_EQ(2u, kept.getNaxisList().size());

    // A file-size limit stands in for a full disk. Written arrays fail on the
    // write, mapped data segments when their space is claimed, before any
    // pixel is stored; either way the file is removed.
    struct rlimit old;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    struct rlimit small = old;
    small.rlim_cur = 20000;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const std::string written = fitsError([&] {
        FitsOut big(file);
        big << ramp(100, 100);
    });
    const bool writtenLeftFile = ::access(file.c_str(), F_OK) == 0;
    const std::string mapped = fitsError([&] {
        FitsOut big(file);
        const int axes[2] = {100, 100};
        big.openData(-32, 2, axes);
    });
    const bool mappedLeftFile = ::access(file.c_str(), F_OK) == 0;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &old));
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(fe("cannot write to open file '" + file + "'"), written);
    EXPECT_FALSE(writtenLeftFile);
    EXPECT_EQ(fe("cannot (re)set file size for file '" + file + "'"), mapped);
    EXPECT_FALSE(mappedLeftFile);
}

TEST_F(FitsStream, CopiesAndDescriptions)
{
    const std::string file = path("d.fits");
    cfitsioImage(file, SHORT_IMG, {4, 3}, cycle({1, 2}, 12));
    FitsIn in(file, box({{1, 2}, {1, 3}}), true, false);
    FitsIn copy(in);
    EXPECT_EQ(6u, copy.getRegionLength());
    MArray<float, 2> a;
    copy >> a;
    EXPECT_FALSE(in.isMapped());
    EXPECT_TRUE(copy.isMapped());
    std::ostringstream text;
    in.describeSelf(text);
    EXPECT_EQ("Fits: file='" + file +
                  "'\nSIMPLE = T, BITPIX = 16, NAXIS = 2\n  NAXIS1 = 4\n  NAXIS2 = 3\nData segment "
                  "offset: 2880\n"
                  "Data segment length: 24\nRegion: [1:2,1:3]\n",
              text.str());
    EXPECT_EQ(4, in.getHeader().getNaxis(1));
    EXPECT_EQ(0, in.getPosition());
    in.setPosition(6);
    EXPECT_EQ(6, in.getPosition());
    in.freeData();
    EXPECT_FALSE(in.isMapped());
    EXPECT_EQ(6u, in.getRegionLength());
}

} // namespace
