#include "dornel/blank_pixels.h"

#include "orv/fits/fits_data.h"

namespace {

template <int B>
void findStored(orv::FitsIn &in, std::size_t pixels, long blank, std::vector<std::size_t> &found)
{
    using Pixel = orv::fitsdata::Pixel<B>;
    orv::fitsdata::BlockReader reader(in.getFileName(), in.getDataOffset(),
                                      static_cast<long>(pixels * Pixel::size));
    std::size_t position = 0, n = 0;
    for (;;) {
        // Blocks hold whole pixels: their size is a multiple of every pixel size.
        const unsigned char *block = reader.next(n);
        if (n == 0)
            break;
        for (std::size_t i = 0; i + Pixel::size <= n; i += Pixel::size, ++position)
            if (static_cast<long>(Pixel::load(block + i)) == blank)
                found.push_back(position);
    }
}

} // namespace

std::vector<std::size_t> blankPixels(orv::FitsIn &in)
{
    std::vector<std::size_t> found;
    const int bitpix = in.getBitpix();
    if (bitpix < 0 || in.getNaxis() < 1)
        return found;
    long blank = 0;
    try {
        blank = in.getInt("BLANK   ");
    } catch (const orv::FitsException &) {
        return found; // no BLANK card, or one without an integer
    }
    std::size_t pixels = 1;
    for (int d = 1; d <= in.getNaxis(); ++d)
        pixels *= static_cast<std::size_t>(in.getNaxis(d));
    switch (bitpix) {
    case 8:
        findStored<8>(in, pixels, blank, found);
        break;
    case 16:
        findStored<16>(in, pixels, blank, found);
        break;
    case 32:
        findStored<32>(in, pixels, blank, found);
        break;
    default:
        break; // no integer image the stream reads
    }
    return found;
}

void setPixels(orv::MArray<float, 2> &a, const std::vector<std::size_t> &positions, float value)
{
    const int first1 = a.firstIndex(1), first2 = a.firstIndex(2);
    const std::size_t n1 = static_cast<std::size_t>(a.length(1));
    for (const std::size_t at : positions)
        a(first1 + static_cast<int>(at % n1), first2 + static_cast<int>(at / n1)) = value;
}
