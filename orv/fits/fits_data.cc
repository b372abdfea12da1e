#include "orv/fits/fits_data.h"

#include <cstring>

namespace orv {

namespace fitsdata {

BoxWalk::BoxWalk(unsigned char *data, std::size_t pixelSize, std::size_t count)
    : run(data), left(count), data(data), size(pixelSize), runLength(count), runsLeft(1)
{
}

BoxWalk::BoxWalk(unsigned char *data, std::size_t pixelSize, const util::Region &full,
                 const util::Region &box)
    : run(data), left(0), data(data), size(pixelSize), runLength(0), runsLeft(1)
{
    const unsigned long n = box.getDimensions();
    for (unsigned long d = 1; d <= n; ++d) {
        axes.push_back(static_cast<long>(full.getLength(d)));
        start.push_back(box.getStart(d));
        length.push_back(static_cast<long>(box.getLength(d)));
        count.push_back(0);
        if (d > 1)
            runsLeft *= box.getLength(d);
    }
    runLength = n > 0 ? static_cast<std::size_t>(length[0]) : 0;
    locate();
}

void BoxWalk::locate()
{
    const std::size_t n = start.size();
    if (n == 0) {
        left = 0;
        return;
    }
    long f = 0;
    for (std::size_t d = n - 1; d >= 1; --d)
        f = (f + count[d] + start[d] - 1) * axes[d - 1];
    f += start[0] - 1;
    run = data + static_cast<std::size_t>(f) * size;
    left = runLength;
}

void BoxWalk::next()
{
    --runsLeft;
    for (std::size_t d = 1; d < count.size(); ++d) {
        if (++count[d] < length[d])
            break;
        count[d] = 0;
    }
    locate();
}

std::vector<long> squeezed(const util::Region &box)
{
    std::vector<long> lengths;
    for (unsigned long d = 1; d <= box.getDimensions(); ++d)
        if (box.getLength(d) != 1)
            lengths.push_back(static_cast<long>(box.getLength(d)));
    return lengths;
}

std::vector<long> squeezed(const std::vector<int> &lengths)
{
    std::vector<long> out;
    for (int n : lengths)
        if (n != 1)
            out.push_back(n);
    return out;
}

void shapeMismatch()
{
    throw FitsException("NAXIS or slice does not match MArray dimensions");
}

void requireSameShape(const std::vector<long> &pixels, const std::vector<long> &elements)
{
    if (pixels != elements)
        shapeMismatch();
}

} // namespace fitsdata

void fitsdata::checkSubBox(const util::Region &full, const util::Region &region)
{
    const unsigned long n = full.getDimensions();
    bool inside = n > 0 && region.getDimensions() == n;
    for (unsigned long d = 1; inside && d <= n; ++d)
        inside = region.getStart(d) >= full.getStart(d) && region.getStart(d) <= region.getEnd(d) &&
                 region.getEnd(d) <= full.getEnd(d);
    if (!inside)
        throw FitsException("request for illegal region:\n" + region.toString() +
                            " is no subarray of " + full.toString());
}

namespace {

std::size_t pixelSize(int bitpix)
{
    return static_cast<std::size_t>(FitsKnownList::bytesPerPixel(bitpix));
}

} // namespace

void copyRawRegionArray(unsigned char *dest, const unsigned char *src, int bitpix,
                        const util::Region &full, const util::Region &region)
{
    fitsdata::checkSubBox(full, region);
    const std::size_t size = pixelSize(bitpix);
    // The region walk of the converters, run by run; it only reads here.
    fitsdata::BoxWalk walk(const_cast<unsigned char *>(src), size, full, region);
    for (std::size_t left = region.getLength(); left > 0 && walk.left > 0;) {
        const std::size_t n = walk.left;
        std::memcpy(dest, walk.run, n * size);
        dest += n * size;
        left -= n;
        walk.advance(n);
    }
}

unsigned char *getRawRegionArray(const unsigned char *src, int bitpix, const util::Region &full,
                                 const util::Region &region)
{
    fitsdata::checkSubBox(full, region);
    unsigned char *buffer = new unsigned char[pixelSize(bitpix) * region.getLength()];
    copyRawRegionArray(buffer, src, bitpix, full, region);
    return buffer;
}

float *FitsIn::getDataArray(float *)
{
    if (!region)
        checkImageData();
    requireDataInFile();
    // An image without pixels has nothing to map.
    unsigned char *data = region || dataLength > 0 ? begin() : nullptr;
    return fitsdata::withBitpix(bitpix, [&](auto b) {
        constexpr int B = decltype(b)::value;
        if (region)
            return orv::getRegionArray<B>(data, getFullRegion(), *region, bscale, bzero);
        const std::size_t pixels = static_cast<std::size_t>(dataLength / bytpix);
        return orv::getDataArray<B>(data, pixels * fitsdata::Pixel<B>::size, bscale, bzero);
    });
}

MArray<float, 2> getFitsMArray(FitsIn &s)
{
    std::vector<long> lengths;
    if (s.hasRegion()) {
        lengths = fitsdata::squeezed(s.getRegion());
    } else {
        for (int d = 1; d <= s.getNaxis(); ++d)
            lengths.push_back(s.getNaxis(d));
    }
    if (lengths.size() != 2)
        fitsdata::shapeMismatch();
    if (!s.hasRegion())
        s.checkImageData();
    s.requireDataInFile();
    // The array's own storage rather than an adopted buffer: a large one may
    // then come in huge pages (see LargeBlock).
    MArray<float, 2> a(static_cast<int>(lengths[0]), static_cast<int>(lengths[1]));
    MArrayIter<float, 2> it(a);
    s.readDataArray(it);
    return a;
}

namespace {

// Reads into the part of a that starts at its first indices and has the
// given lengths, after setting all of a to 0.
void readIntoCorner(MArray<float, 2> &a, FitsIn &s, int l1, int l2)
{
    if (l1 > a.length(1) || l2 > a.length(2))
        fitsdata::shapeMismatch();
    a = 0.0f;
    MArray<float, 2> corner(a, Range(a.firstIndex(1), a.firstIndex(1) + l1 - 1),
                            Range(a.firstIndex(2), a.firstIndex(2) + l2 - 1));
    MArrayIter<float, 2> it(corner);
    s.readDataArray(it);
}

} // namespace

void insertFitsMArray(MArray<float, 2> &a, FitsIn &s)
{
    const int n = s.getNaxis();
    if (n < 2)
        throw FitsException("MArray cannot be filled with FITS file");

    util::Region r(static_cast<unsigned long>(n));
    if (!s.hasRegion()) {
        r.setRange(1, 1, std::min(a.length(1), s.getNaxis(1)));
        r.setRange(2, 1, std::min(a.length(2), s.getNaxis(2)));
        for (int d = 3; d <= n; ++d)
            r.setRange(d, 1, 1);
        if (n == 2 && r.getEnd(1) == s.getNaxis(1) && r.getEnd(2) == s.getNaxis(2))
            s.resetRegion();
        else
            s.setRegion(r);
    } else {
        r = s.getRegion();
    }

    if (!s.hasRegion()) {
        // The whole image fits into a; it lands at a's first indices.
        if (a.length(1) == s.getNaxis(1) && a.length(2) == s.getNaxis(2)) {
            MArrayIter<float, 2> it(a);
            s.readDataArray(it);
        } else {
            readIntoCorner(a, s, s.getNaxis(1), s.getNaxis(2));
        }
        return;
    }

    const std::vector<long> tile = fitsdata::squeezed(r);
    if (tile == fitsdata::squeezed(std::vector<int>{a.length(1), a.length(2)})) {
        MArrayIter<float, 2> it(a);
        s.readDataArray(it);
    } else {
        for (int d = 3; d <= n; ++d)
            if (r.getLength(d) != 1)
                fitsdata::shapeMismatch();
        readIntoCorner(a, s, static_cast<int>(r.getLength(1)), static_cast<int>(r.getLength(2)));
    }

    // On to the next tile, dimension 1 first.
    for (int d = 1; d <= 2; ++d) {
        const int e = s.getRegionEnd(d);
        if (e < s.getNaxis(d)) {
            r.setRange(d, e + 1, std::min(e + a.length(d), s.getNaxis(d)));
            s.setRegion(r);
            return;
        }
        r.setRange(d, 1, std::min(a.length(d), e));
    }
    for (int d = 3; d <= n; ++d) {
        const int e = s.getRegionEnd(d);
        if (e < s.getNaxis(d)) {
            r.setRange(d, e + 1, e + 1);
            s.setRegion(r);
            return;
        }
        r.setRange(d, 1, 1);
    }
    s.resetRegion();
    s.setRegion(r);
}

FitsIn &operator>>(FitsIn &s, MArray<float, 2> &a)
{
    if (a.memoryBlock() == nullptr) {
        MArray<float, 2> image = getFitsMArray(s);
        a.makeReference(image);
    } else {
        insertFitsMArray(a, s);
    }
    return s;
}

namespace {

template <class T>
FitsOut &writeArray(FitsOut &out, const MArray<T, 2> &a, int defaultBitpix)
{
    // Into a region the header's BITPIX is used; the map is already open then.
    if (!out.hasRegion() && out.getBitpixOut() == 0)
        out.setBitpixOut(defaultBitpix);
    if (out.getOrigin().empty())
        out.setOrigin(FitsOut::DEFAULT_ORIGIN);
    MArrayIterConst<T, 2> it(a);
    if (out.hasRegion()) {
        try {
            out.writeRegionArray(it);
        } catch (...) {
            out.closeData();
            throw;
        }
    } else {
        const int axes[2] = {a.length(1), a.length(2)};
        out.dropTemplateStatistics();
        out.writeImage(out.getBitpixOut(), 2, axes, it);
        return out;
    }
    out.closeData();
    return out;
}

} // namespace

FitsOut &operator<<(FitsOut &out, const MArray<float, 2> &a)
{
    return writeArray(out, a, FitsKnownList::BITPIX_FLOAT);
}

FitsOut &operator<<(FitsOut &out, const MArray<double, 2> &a)
{
    return writeArray(out, a, FitsKnownList::BITPIX_DOUBLE);
}

} // namespace orv
