// The pixel converters on hand-made big-endian data segments: what each
// BITPIX decodes to, regions of a cube, block-by-block filling through an
// iterator, and walks that stop at the end of their array.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "fits_test_util.h"
#include "orv/fits/fits_data.h"

namespace {

using fitstest::box;
using fitstest::elements;
using fitstest::fe;
using fitstest::fitsError;
using namespace orv;

// Big-endian bytes of each value, as the FITS standard stores them.
template <class R>
std::string bigEndian(const std::vector<R> &values)
{
    std::string bytes;
    for (R v : values) {
        unsigned char raw[sizeof(R)];
        std::memcpy(raw, &v, sizeof(R));
        for (std::size_t k = sizeof(R); k-- > 0;)
            bytes += static_cast<char>(raw[k]);
    }
    return bytes;
}

unsigned char *bytesOf(std::string &s)
{
    return reinterpret_cast<unsigned char *>(&s[0]);
}

template <int B>
std::vector<float> decode(std::string bytes, double bscale, double bzero)
{
    std::unique_ptr<float[]> v(getDataArray<B>(bytesOf(bytes), bytes.size(), bscale, bzero));
    return std::vector<float>(v.get(), v.get() + bytes.size() / fitsdata::Pixel<B>::size);
}

TEST(FitsConverters, EveryBitpixDecodesItsStoredValuesWithScaling)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char *name;
        std::vector<float> (*decode)(std::string, double, double);
        std::string bytes;
        double bscale, bzero;
        std::vector<float> expected;
    } cases[] = {
        {"8 halved", &decode<8>, std::string("\x09\xff", 2), 0.5, 0.0, {4.5f, 127.5f}},
        {"16 unsigned",
         &decode<16>,
         bigEndian<std::int16_t>({-32768, 32767, 0}),
         1.0,
         32768.0,
         {0.0f, 65535.0f, 32768.0f}},
        {"32 scaled", &decode<32>, bigEndian<std::int32_t>({-2, 7}), 3.0, -1.0, {-7.0f, 20.0f}},
        {"-32",
         &decode<-32>,
         bigEndian<float>({1.5f, -2.0e-20f, nan}),
         1.0,
         0.0,
         {1.5f, -2.0e-20f, nan}},
        {"-64 rounded",
         &decode<-64>,
         bigEndian<double>({1.0 / 3.0, -1e-50}),
         1.0,
         0.0,
         {static_cast<float>(1.0 / 3.0), -0.0f}},
        {"-64 scaled", &decode<-64>, bigEndian<double>({3.0, 0.25}), 0.5, -2.5, {-1.0f, -2.375f}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> got = c.decode(c.bytes, c.bscale, c.bzero);
        ASSERT_EQ(c.expected.size(), got.size());
        // NaN keeps its bits.
        EXPECT_EQ(0, std::memcmp(c.expected.data(), got.data(), got.size() * sizeof(float)));
    }
    // A trailing part of a pixel is no pixel.
    std::string odd = bigEndian<std::int16_t>({5, 6}) + "x";
    EXPECT_EQ(std::vector<float>({5.0f, 6.0f}), decode<16>(odd, 1.0, 0.0));
}

// A 4 x 3 x 2 cube of floats whose pixel (x, y, z) holds 100 z + 10 y + x.
std::string cube()
{
    std::vector<float> v;
    for (int z = 1; z <= 2; ++z)
        for (int y = 1; y <= 3; ++y)
            for (int x = 1; x <= 4; ++x)
                v.push_back(static_cast<float>(100 * z + 10 * y + x));
    return bigEndian<float>(v);
}

TEST(FitsConverters, RegionsOfACubeAreReadAndWrittenInFitsOrder)
{
    std::string data = cube();
    const util::Region full = box({{1, 4}, {1, 3}, {1, 2}});
    const util::Region region = box({{2, 3}, {2, 3}, {2, 2}});
    const std::vector<float> expected = {222, 223, 232, 233};

    std::unique_ptr<float[]> buffer(getRegionArray<-32>(bytesOf(data), full, region, 1.0, 0.0));
    EXPECT_EQ(expected, std::vector<float>(buffer.get(), buffer.get() + 4));
    MArray<float, 2> a(2, 2);
    readRegionArray<-32>(MArrayIter<float, 2>(a), bytesOf(data), full, region, 1.0, 0.0);
    EXPECT_EQ(expected, elements(a));

    // Written back at BITPIX 16: truncated, or rounded for scaled data.
    MArray<float, 2> values(2, 2);
    values(1, 1) = -1.5f;
    values(2, 1) = 2.5f;
    values(1, 2) = 40000.0f;
    values(2, 2) = -7.9f;
    for (bool scaled : {false, true}) {
        std::string shorts(4 * 3 * 2 * 2, '\0');
        writeRegionArray<16>(bytesOf(shorts), MArrayIterConst<float, 2>(values), full, region,
                             scaled);
        std::string expectedBytes(shorts.size(), '\0');
        const std::vector<std::int16_t> stored = scaled
                                                     ? std::vector<std::int16_t>{-2, 3, 32767, -8}
                                                     : std::vector<std::int16_t>{-1, 2, 32767, -7};
        // Pixels (2..3, 2..3, 2) start at indices 17 and 21.
        expectedBytes.replace(2 * 17, 4, bigEndian<std::int16_t>({stored[0], stored[1]}));
        expectedBytes.replace(2 * 21, 4, bigEndian<std::int16_t>({stored[2], stored[3]}));
        EXPECT_EQ(expectedBytes, shorts) << "scaled " << scaled;
    }

    const util::Region outside = box({{3, 5}, {1, 1}, {1, 1}});
    EXPECT_EQ(fe("request for illegal region:\n" + outside.toString() + " is no subarray of " +
                 full.toString()),
              fitsError([&] { delete[] getRegionArray<-32>(bytesOf(data), full, outside, 1, 0); }));
}

TEST(FitsConverters, BlocksFillAnArrayWhereTheLastOneStopped)
{
    std::vector<double> values;
    for (int k = 0; k < 15; ++k)
        values.push_back(0.5 * k);
    std::string data = bigEndian<double>(values);
    // Every second column of a 10 x 3 array: runs of 5 elements with stride 2.
    MArray<float, 2> big(10, 3);
    big = -1.0f;
    MArray<float, 2> view(big, Range(1, 9, 2), Range(1, 3));

    // Blocks of 4, 4 and 7 pixels: the first two end inside a run.
    MArrayIter<float, 2> it(view);
    readIData<-64>(it, bytesOf(data), 32);
    readIData<-64>(it, bytesOf(data) + 32, 32, 2, -1);
    readIData<-64>(it, bytesOf(data) + 64, 56, 1.0, 0.0);
    EXPECT_EQ(nullptr, it.current);
    const std::vector<float> got = elements(view);
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(static_cast<float>(k >= 4 && k < 8 ? 2 * values[k] - 1 : values[k]), got[k]) << k;
    for (int j = 1; j <= 3; ++j)
        for (int i = 2; i <= 10; i += 2)
            EXPECT_EQ(-1.0f, big(i, j)) << i << "," << j;

    // More pixels than elements: the walk ends with the array.
    MArray<float, 2> corner(big, Range(1, 2), Range(1, 2));
    big = -1.0f;
    readDataArray<-64>(MArrayIter<float, 2>(corner), bytesOf(data), data.size(), 1.0, 0.0);
    EXPECT_EQ(std::vector<float>({0.0f, 0.5f, 1.0f, 1.5f}), elements(corner));
    EXPECT_EQ(-1.0f, big(3, 1));
    EXPECT_EQ(-1.0f, big(1, 3));
}

} // namespace
