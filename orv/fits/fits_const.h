// Layout constants of FITS files and the table of keywords the header layer
// knows, plus the raw sub-box copy of an image's data block.
#ifndef ORV_FITS_FITS_CONST_H
#define ORV_FITS_FITS_CONST_H

#include <cstddef>
#include <string>

namespace util {
class Region;
}

namespace orv {

// Record and card geometry. Columns given "0-based" count from 0, the others
// from 1 as in the FITS standard.
class FitsPhysical_ {
public:
    static constexpr int RECORD_LENGTH = 2880;
    static constexpr int CARD_LENGTH = 80;
    static constexpr int CARDS_OF_RECORD_LENGTH = 36;
    static constexpr int KEYWORD_LENGTH = 8;
    static constexpr int FIXED_VALUE_END = 30;
    static constexpr int FIXED_STRING_MIN_LENGTH = 8;
    static constexpr int FIXED_STRING_MIN_END = 19; // 0-based: column 20
    static constexpr int VALUE_MIN_START = 10;      // 0-based: column 11
    static constexpr int COMMENT_MAX_LENGTH = 71;
};

// Scoped by namespaces so that the short names do not leak into orv.
namespace FitsKeyCategory {
enum Value : int { MANDATORY = 0, ARRAY = 1, DATE = 2, COMMENTARY = 3, EXTENSION = 4, OTHER = 5 };
}

// The value type a known keyword demands; an integer card passes FLOAT.
namespace FitsKeyType {
enum Value : int { NONE = 0, STRING = 1, BOOL = 2, INT = 3, FLOAT = 4, COMPLEX = 5 };
}

// One row of the known-keyword table. A keyword text shorter than 8
// characters (no blank padding) matches every keyword it begins.
struct FitsKnownKey {
    int id;
    int category;
    int type;
    char keyword[9];
    bool fixed;
};

class FitsKnownList {
public:
    static const FitsKnownKey KEY[49];
    static constexpr std::size_t N_KNOWN = 36; // rows searched by the lookup
    static constexpr int UNKNOWN_ID = 49;

    static constexpr int BITPIX_CHAR = 8;
    static constexpr int BITPIX_SHORT = 16;
    static constexpr int BITPIX_INT = 32;
    static constexpr int BITPIX_FLOAT = -32;
    static constexpr int BITPIX_DOUBLE = -64;
    static constexpr int NAXIS_LO_LIMIT = 0;
    static constexpr int NAXIS_HI_LIMIT = 999;

    static const FitsKnownKey *begin() { return KEY; }
    static const FitsKnownKey *end() { return KEY + N_KNOWN; }

    // First searched row whose text begins the 8-character keyword, or null.
    static const FitsKnownKey *find(const std::string &keyword);

    static bool isLegalBitpix(int bitpix);
    // Bytes of one pixel of a legal BITPIX.
    static int bytesPerPixel(int bitpix) { return (bitpix < 0 ? -bitpix : bitpix) / 8; }
};

// Copies the pixels of sub-box `region` of an image of geometry `full`
// (FITS order, axis 1 fastest) from `src` to consecutive bytes at `dest`.
// Bytes are copied as they stand: no swapping, no conversion. Made in
// fits_data.cc with the region walk of the pixel converters.
void copyRawRegionArray(unsigned char *dest, const unsigned char *src, int bitpix,
                        const util::Region &full, const util::Region &region);

// The same into a new buffer that the caller releases with delete[].
unsigned char *getRawRegionArray(const unsigned char *src, int bitpix, const util::Region &full,
                                 const util::Region &region);

} // namespace orv

#endif
