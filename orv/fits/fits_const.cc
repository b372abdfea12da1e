#include "orv/fits/fits_const.h"

#include <cstring>
#include <vector>

#include "orv/fits/fits_exception.h"
#include "util/region.h"

namespace orv {

namespace {
using C = FitsKeyCategory::Value;
using T = FitsKeyType::Value;
}  // namespace

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

const FitsKnownKey* FitsKnownList::find(const std::string& keyword) {
  for (const FitsKnownKey* row = begin(); row != end(); ++row) {
    const std::size_t n = std::strlen(row->keyword);
    if (keyword.size() >= n && keyword.compare(0, n, row->keyword) == 0) return row;
  }
  return nullptr;
}

bool FitsKnownList::isLegalBitpix(int bitpix) {
  return bitpix == BITPIX_CHAR || bitpix == BITPIX_SHORT || bitpix == BITPIX_INT ||
         bitpix == BITPIX_FLOAT || bitpix == BITPIX_DOUBLE;
}

namespace {

// Checks that `region` is a sub-box of `full` with ascending ranges; the copy
// must never run outside the data block.
void checkSubBox(const util::Region& full, const util::Region& region) {
  const unsigned long n = full.getDimensions();
  bool inside = n > 0 && region.getDimensions() == n;
  for (unsigned long d = 1; inside && d <= n; ++d)
    inside = region.getStart(d) >= full.getStart(d) && region.getStart(d) <= region.getEnd(d) &&
             region.getEnd(d) <= full.getEnd(d);
  if (!inside)
    throw FitsException("request for illegal region:\n" + region.toString() + " is no subarray of " +
                        full.toString());
}

}  // namespace

void copyRawRegionArray(unsigned char* dest, const unsigned char* src, int bitpix,
                        const util::Region& full, const util::Region& region) {
  checkSubBox(full, region);
  const std::size_t e = static_cast<std::size_t>(bitpix < 0 ? -bitpix : bitpix) / 8;
  const unsigned long n = region.getDimensions();
  const std::size_t run = e * region.getLength(1);
  std::vector<unsigned long> count(n + 1, 0);
  std::size_t rows = 1;
  for (unsigned long d = 2; d <= n; ++d) rows *= region.getLength(d);
  for (std::size_t row = 0; row < rows; ++row) {
    std::size_t f = 0;
    for (unsigned long d = n; d >= 2; --d)
      f = (f + count[d] + static_cast<std::size_t>(region.getStart(d) - 1)) * full.getLength(d - 1);
    f += static_cast<std::size_t>(region.getStart(1) - 1);
    std::memcpy(dest, src + f * e, run);
    dest += run;
    for (unsigned long d = 2; d <= n; ++d) {
      if (++count[d] < region.getLength(d)) break;
      count[d] = 0;
    }
  }
}

unsigned char* getRawRegionArray(const unsigned char* src, int bitpix, const util::Region& full,
                                 const util::Region& region) {
  checkSubBox(full, region);
  const std::size_t e = static_cast<std::size_t>(bitpix < 0 ? -bitpix : bitpix) / 8;
  unsigned char* buffer = new unsigned char[e * region.getLength()];
  copyRawRegionArray(buffer, src, bitpix, full, region);
  return buffer;
}

}  // namespace orv
