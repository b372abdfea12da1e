#include "orv/fits/fits_const.h"

#include <cstring>

namespace orv {

namespace {
using C = FitsKeyCategory::Value;
using T = FitsKeyType::Value;
} // namespace

// Rows 36 to 48 lie beyond end(): the lookup never reaches them, so their
// keywords count as unknown and their cards live in the user list.
const FitsKnownKey FitsKnownList::KEY[49] = {
    {0, C::MANDATORY, T::BOOL, "SIMPLE  ", true},
    {1, C::MANDATORY, T::INT, "BITPIX  ", true},
    {2, C::MANDATORY, T::INT, "NAXIS", true},
    {3, C::MANDATORY, T::STRING, "XTENSION", true},
    {4, C::EXTENSION, T::INT, "PCOUNT  ", true},
    {5, C::EXTENSION, T::INT, "GCOUNT  ", true},
    {6, C::EXTENSION, T::BOOL, "EXTEND  ", true},
    {7, C::DATE, T::STRING, "DATE", false},
    {8, C::OTHER, T::STRING, "ORIGIN  ", false},
    {9, C::OTHER, T::BOOL, "BLOCKED ", false},
    {10, C::OTHER, T::STRING, "TELESCOP", false},
    {11, C::OTHER, T::STRING, "INSTRUME", false},
    {12, C::OTHER, T::STRING, "OBSERVER", false},
    {13, C::OTHER, T::STRING, "OBJECT  ", false},
    {14, C::OTHER, T::FLOAT, "EQUINOX", false},
    {15, C::OTHER, T::FLOAT, "EPOCH   ", false},
    {16, C::OTHER, T::STRING, "AUTHOR  ", false},
    {17, C::OTHER, T::STRING, "REFERENC", false},
    {18, C::COMMENTARY, T::NONE, "COMMENT ", false},
    {19, C::COMMENTARY, T::NONE, "HISTORY ", false},
    {20, C::COMMENTARY, T::NONE, "        ", false},
    {21, C::ARRAY, T::FLOAT, "BSCALE  ", false},
    {22, C::ARRAY, T::FLOAT, "BZERO   ", false},
    {23, C::ARRAY, T::STRING, "BUNIT   ", false},
    {24, C::ARRAY, T::INT, "BLANK   ", false},
    {25, C::ARRAY, T::FLOAT, "DATAMAX ", false},
    {26, C::ARRAY, T::FLOAT, "DATAMIN ", false},
    {27, C::ARRAY, T::INT, "WCSAXES", false},
    {28, C::ARRAY, T::FLOAT, "CRVAL", false},
    {29, C::ARRAY, T::FLOAT, "CRPIX", false},
    {30, C::ARRAY, T::FLOAT, "CDELT", false},
    {31, C::ARRAY, T::FLOAT, "CROTA", false},
    {32, C::ARRAY, T::STRING, "CTYPE", false},
    {33, C::ARRAY, T::STRING, "CUNIT", false},
    {34, C::ARRAY, T::FLOAT, "PC", false},
    {35, C::ARRAY, T::FLOAT, "CD", false},
    {36, C::ARRAY, T::FLOAT, "PV", false},
    {37, C::ARRAY, T::STRING, "PS", false},
    {38, C::ARRAY, T::STRING, "WCSNAME", false},
    {39, C::ARRAY, T::FLOAT, "CRDER", false},
    {40, C::ARRAY, T::FLOAT, "CSYER", false},
    {41, C::ARRAY, T::FLOAT, "LONPOLE", false},
    {42, C::ARRAY, T::FLOAT, "LONPOLE", false},
    {43, C::ARRAY, T::STRING, "RADESYS", false},
    {44, C::ARRAY, T::FLOAT, "MJD-OBS ", false},
    {45, C::EXTENSION, T::STRING, "EXTNAME ", false},
    {46, C::EXTENSION, T::INT, "EXTVER  ", false},
    {47, C::EXTENSION, T::INT, "EXTLEVEL", false},
    {48, C::MANDATORY, T::NONE, "END     ", false},
};

constexpr std::size_t FitsKnownList::N_KNOWN;

const FitsKnownKey *FitsKnownList::find(const std::string &keyword)
{
    for (const FitsKnownKey *row = begin(); row != end(); ++row) {
        const std::size_t n = std::strlen(row->keyword);
        if (keyword.size() >= n && keyword.compare(0, n, row->keyword) == 0)
            return row;
    }
    return nullptr;
}

bool FitsKnownList::isLegalBitpix(int bitpix)
{
    return bitpix == BITPIX_CHAR || bitpix == BITPIX_SHORT || bitpix == BITPIX_INT ||
           bitpix == BITPIX_FLOAT || bitpix == BITPIX_DOUBLE;
}

} // namespace orv
