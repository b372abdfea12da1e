// The undefined pixels of an integer FITS image: those whose stored value
// equals the BLANK card of its header.
#ifndef DORNEL_BLANK_PIXELS_H
#define DORNEL_BLANK_PIXELS_H

#include <cstddef>
#include <vector>

#include "orv/MArray.h"
#include "orv/fits/fits.h"

// The positions (dimension 1 fastest, from 0) of the pixels of the image of
// `in` whose stored value, before BSCALE and BZERO, equals BLANK. Empty for a
// floating-point image, and for one without a BLANK card or with a BLANK that
// is no integer.
std::vector<std::size_t> blankPixels(orv::FitsIn &in);

// Sets the pixels of a at the given positions (as blankPixels counts them)
// to value.
void setPixels(orv::MArray<float, 2> &a, const std::vector<std::size_t> &positions, float value);

#endif
