// Pixel conversion between FITS data segments and orv::MArray, and the
// stream operators that read a FITS image into an array and write an array
// as a FITS image.
//
// Reading applies BSCALE and BZERO: physical = BZERO + BSCALE * stored, in
// double precision and rounded to the element type (exact for 8- and 16-bit
// data with integral scaling). BLANK is not interpreted.
//
// Writing applies no scaling: with BSCALE or BZERO in the output header the
// elements are the stored values. Into an integer BITPIX, elements are
// truncated toward zero, or, when the header scales the stored values,
// rounded to the nearest integer (halves away from zero), as CFITSIO does;
// they saturate at the limits of the type (0..255 for 8, -32768..32767 for
// 16, -2147483648..2147483647 for 32); NaN is stored as 0.
#ifndef ORV_FITS_FITS_DATA_H
#define ORV_FITS_FITS_DATA_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "orv/MArray.h"
#include "orv/fits/fits.h"

namespace orv {

namespace fitsdata {

// --- one pixel of each BITPIX, big-endian on disk ---------------------------------

template <int B>
struct Pixel;

template <>
struct Pixel<8> {
    using Raw = std::uint8_t;
    static constexpr std::size_t size = 1;
    static Raw load(const unsigned char *p) { return *p; }
    static void store(unsigned char *p, Raw v) { *p = v; }
    static constexpr double lo = 0.0, hi = 255.0;
};

// Big-endian bytes to and from an unsigned integer. Loads are spelled out
// byte by byte so that the compiler turns the loops into vector code.
template <class U>
inline U loadBits(const unsigned char *p)
{
    U u = 0;
    for (std::size_t k = 0; k < sizeof(U); ++k)
        u = static_cast<U>(static_cast<U>(u << 8) | p[k]);
    return u;
}

inline std::uint16_t byteSwap(std::uint16_t u)
{
    return __builtin_bswap16(u);
}
inline std::uint32_t byteSwap(std::uint32_t u)
{
    return __builtin_bswap32(u);
}
inline std::uint64_t byteSwap(std::uint64_t u)
{
    return __builtin_bswap64(u);
}

// Stores are left to the byte-swap instruction: spelled out byte by byte
// they become byte stores.
template <class U>
inline void storeBits(unsigned char *p, U u)
{
    u = byteSwap(u);
    std::memcpy(p, &u, sizeof(U));
}

// A value of type R stored big-endian in the bytes of an unsigned U.
template <class R, class U>
struct BigEndian {
    using Raw = R;
    static constexpr std::size_t size = sizeof(R);
    static Raw load(const unsigned char *p)
    {
        const U u = loadBits<U>(p);
        Raw v;
        std::memcpy(&v, &u, size);
        return v;
    }
    static void store(unsigned char *p, Raw v)
    {
        U u;
        std::memcpy(&u, &v, size);
        storeBits(p, u);
    }
};

template <>
struct Pixel<16> : BigEndian<std::int16_t, std::uint16_t> {
    static constexpr double lo = -32768.0, hi = 32767.0;
};

template <>
struct Pixel<32> : BigEndian<std::int32_t, std::uint32_t> {
    static constexpr double lo = -2147483648.0, hi = 2147483647.0;
};

template <>
struct Pixel<-32> : BigEndian<float, std::uint32_t> {
};

template <>
struct Pixel<-64> : BigEndian<double, std::uint64_t> {
};

// The stored value of an element: integer types are truncated or rounded to
// the nearest value (halves away from zero), saturate, and store NaN as 0.
template <int B, bool Round, class T>
inline typename Pixel<B>::Raw encodeValue(T x)
{
    using Raw = typename Pixel<B>::Raw;
    if constexpr (std::is_floating_point<Raw>::value) {
        return static_cast<Raw>(x);
    } else {
        // Half a unit added away from zero, then clamped, then NaN replaced; the
        // conversion truncates. Written as the processor's max, min and select
        // (each keeps a NaN), so that the loops become vector code.
        double v = static_cast<double>(x);
        if constexpr (Round)
            v += v < 0.0 ? -0.5 : 0.5;
        v = Pixel<B>::lo > v ? Pixel<B>::lo : v;
        v = Pixel<B>::hi < v ? Pixel<B>::hi : v;
        v = v == v ? v : 0.0;
        return static_cast<Raw>(v);
    }
}

// Scaling on reading, chosen once per call.
struct Unscaled {
    template <class T, class R>
    T apply(R v) const
    {
        return static_cast<T>(v);
    }
};

struct Scaled {
    double scale;
    double zero;
    template <class T, class R>
    T apply(R v) const
    {
        return static_cast<T>(static_cast<double>(v) * scale + zero);
    }
};

template <int B, class T, class Op>
void decodeRun(const unsigned char *__restrict src, T *__restrict dst, index_t step, std::size_t n,
               const Op &op)
{
    constexpr std::size_t size = Pixel<B>::size;
    if (step == 1) {
        for (std::size_t i = 0; i < n; ++i)
            dst[i] = op.template apply<T>(Pixel<B>::load(src + i * size));
    } else {
        for (std::size_t i = 0; i < n; ++i)
            dst[static_cast<index_t>(i) * step] =
                op.template apply<T>(Pixel<B>::load(src + i * size));
    }
}

template <int B, bool Round, class T>
void encodeRun(const T *__restrict src, index_t step, unsigned char *__restrict dst, std::size_t n)
{
    constexpr std::size_t size = Pixel<B>::size;
    if (step == 1) {
        for (std::size_t i = 0; i < n; ++i)
            Pixel<B>::store(dst + i * size, encodeValue<B, Round>(src[i]));
    } else {
        for (std::size_t i = 0; i < n; ++i)
            Pixel<B>::store(dst + i * size,
                            encodeValue<B, Round>(src[static_cast<index_t>(i) * step]));
    }
}

// --- walks over pixels and elements, run by run ------------------------------------

// The pixels of a data segment in FITS order: the whole segment as one run,
// or the runs along axis 1 of a sub-box.
class BoxWalk {
public:
    BoxWalk(unsigned char *data, std::size_t pixelSize, std::size_t count);
    BoxWalk(unsigned char *data, std::size_t pixelSize, const util::Region &full,
            const util::Region &box);

    void advance(std::size_t n)
    {
        run += n * size;
        left -= n;
        if (left == 0 && runsLeft > 1)
            next();
    }

    unsigned char *run;
    std::size_t left;

private:
    void next();
    void locate();

    unsigned char *data;
    std::size_t size;
    std::size_t runLength;
    std::size_t runsLeft;
    std::vector<long> axes;
    std::vector<long> start;
    std::vector<long> length;
    std::vector<long> count;
};

// The elements an iterator visits from its position on, in index order,
// dimension 1 fastest, run by run; the iterator moves along with the walk,
// so that a later walk goes on where this one stopped.
template <class P, int N>
class IterWalk {
public:
    explicit IterWalk(detail::IterState<P, N> &it) : step(it.stride[0]), it(it) { locate(); }

    void advance(std::size_t n)
    {
        run += static_cast<index_t>(n) * step;
        left -= n;
        it.current = run;
        // One dimension has a single run: its iterator stays one stride past the end.
        if (left == 0 && N >= 2) {
            it.advanceDim();
            locate();
        }
    }

    P run;
    index_t step;
    std::size_t left;

private:
    void locate()
    {
        run = it.current;
        left = run && step != 0 ? static_cast<std::size_t>((it.runEnd[0] - run) / step) : 0;
    }

    detail::IterState<P, N> &it;
};

// Consecutive elements of a buffer: one run.
template <class P>
struct LinearWalk {
    LinearWalk(P first, std::size_t count) : run(first), step(1), left(count) {}
    void advance(std::size_t n)
    {
        run += n;
        left -= n;
    }
    P run;
    index_t step;
    std::size_t left;
};

// Calls f with std::integral_constant<int, B> for the BITPIX value B;
// throws for a value that is no BITPIX.
template <class F>
decltype(auto) withBitpix(int bitpix, F &&f)
{
    switch (bitpix) {
    case 8:
        return f(std::integral_constant<int, 8>());
    case 16:
        return f(std::integral_constant<int, 16>());
    case 32:
        return f(std::integral_constant<int, 32>());
    case -32:
        return f(std::integral_constant<int, -32>());
    case -64:
        return f(std::integral_constant<int, -64>());
    default:
        throw FitsException("illegal BITPIX");
    }
}

template <int B, class T, class Op, class W>
void readRuns(BoxWalk &src, W &dst, std::size_t total, const Op &op)
{
    while (total > 0) {
        const std::size_t n = std::min(src.left, dst.left);
        if (n == 0)
            break; // callers pass equal counts; never spin
        decodeRun<B>(src.run, dst.run, dst.step, n, op);
        src.advance(n);
        dst.advance(n);
        total -= n;
    }
}

template <int B, class T, class W>
void readRunsScaled(BoxWalk &src, W &dst, std::size_t total, double bscale, double bzero)
{
    if (bscale == 1.0 && bzero == 0.0)
        readRuns<B, T>(src, dst, total, Unscaled());
    else
        readRuns<B, T>(src, dst, total, Scaled{bscale, bzero});
}

template <int B, bool Round, class W>
void writeRuns(W &src, BoxWalk &dst, std::size_t total)
{
    while (total > 0) {
        const std::size_t n = std::min(src.left, dst.left);
        if (n == 0)
            break;
        encodeRun<B, Round>(src.run, src.step, dst.run, n);
        src.advance(n);
        dst.advance(n);
        total -= n;
    }
}

// Stores `total` elements of src as pixels of dst; integers are rounded
// to the nearest value when `scaled` (the header has BSCALE or BZERO), else
// truncated.
template <int B, class W>
void writeRunsScaled(bool scaled, W &src, BoxWalk &dst, std::size_t total)
{
    if (scaled)
        writeRuns<B, true>(src, dst, total);
    else
        writeRuns<B, false>(src, dst, total);
}

template <class W>
void writePixels(int bitpix, bool scaled, W &src, BoxWalk &dst, std::size_t total)
{
    withBitpix(bitpix,
               [&](auto b) { writeRunsScaled<decltype(b)::value>(scaled, src, dst, total); });
}

// Lengths without the ones of length 1: two boxes with equal squeezed shapes
// hold the same pixels in the same order.
std::vector<long> squeezed(const util::Region &box);
std::vector<long> squeezed(const std::vector<int> &lengths);
template <int N>
std::vector<long> squeezed(const int *lengths)
{
    return squeezed(std::vector<int>(lengths, lengths + N));
}

[[noreturn]] void shapeMismatch();
void requireSameShape(const std::vector<long> &pixels, const std::vector<long> &elements);

// The squeezed lengths of what an iterator still visits, which the walks
// take to be its whole array: an iterator moved on from the first element
// visits fewer elements than its lengths tell and matches no image.
template <class P, int N>
std::vector<long> visited(const detail::IterState<P, N> &it)
{
    bool whole = it.current != nullptr;
    if (whole) {
        for (int d = 0; d < N; ++d)
            whole = whole && it.runStart[d] == it.current &&
                    it.runEnd[d] == it.current + it.stride[d] * it.length[d];
    } else {
        // Past the end, unless its array is empty and it stands on nothing from the start.
        for (int d = 0; d < N; ++d)
            whole = whole || it.length[d] == 0;
    }
    if (!whole)
        shapeMismatch();
    return squeezed<N>(it.length);
}

// Throws unless a region is set whose pixels match the elements the iterator
// visits.
template <class P, int N>
void requireRegionShape(const util::Region *region, const detail::IterState<P, N> &it)
{
    if (!region)
        throw FitsException("no region set");
    requireSameShape(squeezed(*region), visited(it));
}

// Throws unless `region` is a sub-box of `full` with ascending ranges; no
// walk may run outside the data segment.
void checkSubBox(const util::Region &full, const util::Region &region);

} // namespace fitsdata

// --- converters, one per BITPIX B ---------------------------------------------------
//
// `data` is the address of byte 0 of a data segment (begin() of a stream,
// also when only a region's span is mapped), `full` the region of the whole
// image (getFullRegion()). The readers apply BSCALE and BZERO; an iterator
// is walked from its position on and never past its end, and a walk stops
// when either the pixels or the elements run out.

// The pixels in the first `bytes` bytes of data, converted, in a new buffer
// of bytes / size(B) floats that the caller releases with delete[].
template <int B>
float *getDataArray(unsigned char *data, std::size_t bytes, double bscale, double bzero)
{
    const std::size_t n = bytes / fitsdata::Pixel<B>::size;
    std::unique_ptr<float[]> buffer(new float[n]);
    fitsdata::BoxWalk src(data, fitsdata::Pixel<B>::size, n);
    fitsdata::LinearWalk<float *> dst(buffer.get(), n);
    fitsdata::readRunsScaled<B, float>(src, dst, n, bscale, bzero);
    return buffer.release();
}

// The pixels of `region`, converted, in FITS order in a new buffer of the
// region's pixel count that the caller releases with delete[].
template <int B>
float *getRegionArray(unsigned char *data, const util::Region &full, const util::Region &region,
                      double bscale, double bzero)
{
    fitsdata::checkSubBox(full, region);
    const std::size_t n = region.getLength();
    std::unique_ptr<float[]> buffer(new float[n]);
    fitsdata::BoxWalk src(data, fitsdata::Pixel<B>::size, full, region);
    fitsdata::LinearWalk<float *> dst(buffer.get(), n);
    fitsdata::readRunsScaled<B, float>(src, dst, n, bscale, bzero);
    return buffer.release();
}

// Converts the pixels in `bytes` bytes of data into the elements `it`
// visits, and leaves `it` after the last element filled: successive calls
// fill an array block by block. Without scaling, or with BSCALE and BZERO.
template <int B, class T, int N>
void readIData(MArrayIter<T, N> &it, unsigned char *data, std::size_t bytes, double bscale,
               double bzero)
{
    const std::size_t n = bytes / fitsdata::Pixel<B>::size;
    fitsdata::BoxWalk src(data, fitsdata::Pixel<B>::size, n);
    fitsdata::IterWalk<T *, N> dst(it);
    fitsdata::readRunsScaled<B, T>(src, dst, n, bscale, bzero);
}

template <int B, class T, int N>
void readIData(MArrayIter<T, N> &it, unsigned char *data, std::size_t bytes)
{
    readIData<B>(it, data, bytes, 1.0, 0.0);
}

template <int B, class T, int N>
void readIData(MArrayIter<T, N> &it, unsigned char *data, std::size_t bytes, int bscale, int bzero)
{
    readIData<B>(it, data, bytes, static_cast<double>(bscale), static_cast<double>(bzero));
}

// Converts the pixels in `bytes` bytes of data into the elements `it` visits.
template <int B, class T, int N>
void readDataArray(MArrayIter<T, N> it, unsigned char *data, std::size_t bytes, double bscale,
                   double bzero)
{
    readIData<B>(it, data, bytes, bscale, bzero);
}

// Converts the pixels of `region` into the elements `it` visits.
template <int B, class T, int N>
void readRegionArray(MArrayIter<T, N> it, unsigned char *data, const util::Region &full,
                     const util::Region &region, double bscale, double bzero)
{
    fitsdata::checkSubBox(full, region);
    fitsdata::BoxWalk src(data, fitsdata::Pixel<B>::size, full, region);
    fitsdata::IterWalk<T *, N> dst(it);
    fitsdata::readRunsScaled<B, T>(src, dst, region.getLength(), bscale, bzero);
}

// Stores the elements `it` visits into the pixels of `region`, unscaled.
// Into an integer BITPIX they are truncated, or rounded to the nearest
// value when `scaled` (the header has BSCALE or BZERO), as CFITSIO does.
template <int B, class T, int N>
void writeRegionArray(unsigned char *data, MArrayIterConst<T, N> it, const util::Region &full,
                      const util::Region &region, bool scaled = false)
{
    fitsdata::checkSubBox(full, region);
    fitsdata::BoxWalk dst(data, fitsdata::Pixel<B>::size, full, region);
    fitsdata::IterWalk<const T *, N> src(it);
    fitsdata::writeRunsScaled<B>(scaled, src, dst, region.getLength());
}

// --- stream members ---------------------------------------------------------------

template <class T, int N>
void FitsIn::readDataArray(MArrayIter<T, N> &it)
{
    if (region) {
        readRegionArray(it);
        return;
    }
    fitsdata::requireSameShape(fitsdata::squeezed(naxes), fitsdata::visited(it));
    checkImageData();
    readWholeImage(it, static_cast<std::size_t>(dataLength / bytpix));
}

template <class T, int N>
void FitsIn::readWholeImage(const MArrayIter<T, N> &it, std::size_t total)
{
    checkDataSegment();
    const std::size_t size = static_cast<std::size_t>(bytpix);
    fitsdata::BlockReader reader(fileName, dataOffset, static_cast<long>(total * size));
    MArrayIter<T, N> at = it;
    for (std::size_t done = 0; done < total;) {
        std::size_t bytes = 0;
        unsigned char *block = const_cast<unsigned char *>(reader.next(bytes));
        fitsdata::withBitpix(bitpix, [&](auto b) {
            orv::readIData<decltype(b)::value>(at, block, bytes, bscale, bzero);
        });
        done += bytes / size;
    }
}

template <class T, int N>
void FitsIn::readRegionArray(MArrayIter<T, N> &it)
{
    fitsdata::requireRegionShape(region.get(), it);
    unsigned char *data = begin();
    fitsdata::withBitpix(bitpix, [&](auto b) {
        orv::readRegionArray<decltype(b)::value>(it, data, getFullRegion(), *region, bscale, bzero);
    });
}

template <class T, int N>
void FitsOut::writeDataArray(MArrayIterConst<T, N> &it)
{
    // Under a region only the region's span is mapped.
    if (region) {
        writeRegionArray(it);
        return;
    }
    unsigned char *data = begin();
    fitsdata::requireSameShape(fitsdata::squeezed(naxes), fitsdata::visited(it));
    const std::size_t total = static_cast<std::size_t>(dataLength / bytpix);
    fitsdata::BoxWalk dst(data, static_cast<std::size_t>(bytpix), total);
    MArrayIterConst<T, N> at = it;
    fitsdata::IterWalk<const T *, N> src(at);
    fitsdata::writePixels(bitpix, bscale != 1.0 || bzero != 0.0, src, dst, total);
}

template <class T, int N>
void FitsOut::writeRegionArray(MArrayIterConst<T, N> &it)
{
    fitsdata::requireRegionShape(region.get(), it);
    unsigned char *data = begin();
    fitsdata::withBitpix(bitpix, [&](auto b) {
        orv::writeRegionArray<decltype(b)::value>(data, it, getFullRegion(), *region,
                                                  bscale != 1.0 || bzero != 0.0);
    });
}

template <class T, int N>
void FitsOut::writeImage(int bitpix, int naxis, const int *naxes, MArrayIterConst<T, N> &it)
{
    // An impossible NAXIS gets its own error before the shapes are compared.
    if (naxis < 0 || naxis > FitsKnownList::NAXIS_HI_LIMIT)
        resetMandatories(bitpix, naxis, naxes);
    fitsdata::requireSameShape(fitsdata::squeezed(std::vector<int>(naxes, naxes + naxis)),
                               fitsdata::visited(it));
    const int fd = createFile(bitpix, naxis, naxes);
    const std::size_t size = static_cast<std::size_t>(bytpix);
    const std::size_t total = static_cast<std::size_t>(dataLength) / size;
    const std::size_t slice = fitsdata::scratchSize() / size;
    unsigned char *buffer = nullptr;
    try {
        buffer = fitsdata::scratch();
    } catch (...) {
        ::close(fd);
        removeCreated();
        throw;
    }
    MArrayIterConst<T, N> at = it;
    fitsdata::IterWalk<const T *, N> src(at);
    for (std::size_t done = 0; done < total;) {
        const std::size_t n = std::min(slice, total - done);
        fitsdata::BoxWalk dst(buffer, size, n);
        fitsdata::writePixels(bitpix, bscale != 1.0 || bzero != 0.0, src, dst, n);
        writeAt(fd, buffer, n * size, dataOffset + static_cast<long>(done * size));
        done += n;
    }
    // Zeros up to the end of the last record, written rather than left as a hole.
    const long record = FitsPhysical_::RECORD_LENGTH;
    const long fill = dataLength > 0 ? (record - dataLength % record) % record : 0;
    std::memset(buffer, 0, static_cast<std::size_t>(fill));
    writeAt(fd, buffer, static_cast<std::size_t>(fill), dataOffset + dataLength);
    if (::close(fd) != 0) {
        removeCreated();
        throw FitsException("cannot write to open file '" + fileName + "'");
    }
    created = false;
}

// --- arrays --------------------------------------------------------------------------

// The whole image, or the stream's region, as a new two-dimensional array
// with bases 1 and 1; the image (after dropping region dimensions of length
// 1) must have exactly two axes.
MArray<float, 2> getFitsMArray(FitsIn &s);

// Fills an array that has storage with the next tile of the image and moves
// the stream's region on to the following tile. A tile smaller than the
// array lands at the array's first indices, with zeros around it.
void insertFitsMArray(MArray<float, 2> &a, FitsIn &s);

// Reads the image into a: an array without storage receives a new one.
FitsIn &operator>>(FitsIn &s, MArray<float, 2> &a);

// Writes a as a two-dimensional image: BITPIX -32 for float and -64 for
// double unless set otherwise, ORIGIN "ORV FITS IO class" unless
// set otherwise. With a region set on the stream, a goes into that region of
// the existing file.
FitsOut &operator<<(FitsOut &out, const MArray<float, 2> &a);
FitsOut &operator<<(FitsOut &out, const MArray<double, 2> &a);

} // namespace orv

#endif
