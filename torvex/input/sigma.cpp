#include "torvex/input/sigma.h"

#include "numerics/smooth.h"
#include "torvex/display/quit.h"
#include "torvex/fit/fitstep.h"
#include "torvex/fit/to_mini.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

image *sigma_img(const image &d)
{
    image *s = new_image_record();
    s->naxes[1] = d.naxes[1];
    s->naxes[2] = d.naxes[2];
    const long nx = d.naxes[1], ny = d.naxes[2], npix = nx * ny;
    if (npix <= 0) {
        s->naxes[1] = s->naxes[2] = 0;
        return s;
    }
    s->z = matrix(1, ny, 1, nx);

    const float gn = d.gain * d.ncombine;
    const float g = gn > 1 ? gn : 1.0f;
    smooth(d.z, s->z, s->naxes, 2.0f, 3.0f);

    // Mean of the smoothed pixels that are numbers (a blank corner of the
    // data must not decide the pedestal of the rest).
    float *p = &s->z[1][1];
    double sum = 0;
    long nvalid = 0;
    for (long i = 0; i < npix; i++)
        if (std::isfinite(p[i])) {
            sum += p[i];
            nvalid++;
        }
    const float mean = nvalid > 0 ? static_cast<float>(sum / nvalid) : 0.0f;
    const float ped = mean < 10 ? 10 - mean : 0.0f;

    const float floor_v = -3 * d.rdnoise;
    const float rd2 = d.rdnoise * d.rdnoise * d.ncombine;
    for (long i = 0; i < npix; i++) {
        if (!std::isfinite(p[i])) {
            p[i] = static_cast<float>(1.0 / g);
            continue;
        }
        float v = (p[i] + ped) * g;
        if (v <= floor_v)
            v = 1e30f; // a pixel so far below the noise carries no weight
        v = v + rd2;
        if (!(v > 1))
            v = 1;
        p[i] = static_cast<float>(std::sqrt(static_cast<double>(v)) / g);
    }
    return s;
}

namespace {

uint32_t bits_of(float v)
{
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The value of rank n / 2 among the n values of p[0..npix) that can weigh a
// pixel.  Their bit patterns sort as the values do (they are positive), so
// a count of the upper halves of the patterns finds the one that the value
// has, and a count of the lower halves of the patterns that share it, the
// value itself: no copy of the image, and no sort.
float usable_median(const float *p, long npix, long n)
{
    std::vector<long> count(1 << 16, 0);
    for (long i = 0; i < npix; i++)
        if (usable_sigma(p[i]))
            count[bits_of(p[i]) >> 16]++;
    long rank = n / 2;
    uint32_t high = 0;
    while (rank >= count[high])
        rank -= count[high++];
    std::fill(count.begin(), count.end(), 0);
    for (long i = 0; i < npix; i++)
        if (usable_sigma(p[i]) && bits_of(p[i]) >> 16 == high)
            count[bits_of(p[i]) & 0xffff]++;
    uint32_t low = 0;
    while (rank >= count[low])
        rank -= count[low++];
    const uint32_t b = high << 16 | low;
    float v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

} // namespace

float sigcheck(image sigma)
{
    const long npix = sigma.naxes[1] * sigma.naxes[2];
    float *p = npix > 0 ? &sigma.z[1][1] : nullptr;
    bool zero = false;
    long usable = 0;
    for (long i = 0; i < npix; i++) {
        if (p[i] == 0)
            zero = true;
        else if (usable_sigma(p[i]))
            usable++;
    }
    if (usable == 0) {
        pfunc("\n-- ERROR: The sigma image %s has no pixel that is a positive number whose\n"
              "   weight 1/sigma^2 is finite, so it cannot weigh the fit.  Quitting now.\n\n",
              sigma.name);
        quit_run(1);
    }
    // A sigma far below the image's own is a bad pixel, whatever the units
    // of the image: its weight would outweigh the rest of the image, or
    // overflow the single-precision sums of chi^2 and its curvature.  It
    // becomes undefined, so that the fit leaves it out.
    const double lowest = usable_median(p, npix, usable) / SIGMA_RANGE;
    // The value for the zeros is the smallest that can weigh a pixel: a
    // value that is left out must not hand its magnitude to the zeros.
    float min = 1e10f;
    for (long i = 0; i < npix; i++) {
        if (!usable_sigma(p[i]))
            continue;
        if (p[i] < lowest)
            p[i] = NAN;
        else if (p[i] <= min)
            min = p[i];
    }
    if (!zero)
        return 0;
    for (long i = 0; i < npix; i++)
        if (p[i] == 0)
            p[i] = min;
    return min;
}

long unusable_sigma_pixels(const image &sigma)
{
    const long npix = sigma.naxes[1] * sigma.naxes[2];
    const float *p = npix > 0 ? &sigma.z[1][1] : nullptr;
    long n = 0;
    for (long i = 0; i < npix; i++)
        n += !usable_sigma(p[i]);
    return n;
}

int badpixlist(image *mask)
{
    const long nx = mask->naxes[1], ny = mask->naxes[2];
    mask->z = matrix(1, ny, 1, nx);
    if (nx > 0 && ny > 0)
        std::fill(&mask->z[1][1], &mask->z[1][1] + nx * ny, 0.0f);

    std::ifstream in(mask->name);
    if (!in)
        return 1;
    std::string line;
    while (std::getline(in, line)) {
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        float x, y;
        if (sscanf(line.c_str() + first, "%f %f", &x, &y) != 2)
            continue; // not a position: nothing to mark
        x = std::trunc(x);
        y = std::trunc(y);
        // Compared as floats, so that huge or undefined values never reach
        // an integer conversion.
        if (x >= 1 && x <= nx && y >= 1 && y <= ny)
            mask->z[static_cast<long>(y)][static_cast<long>(x)] = 1;
    }
    // A folder opens, but reading it fails: a list that cannot be read
    // whole masks nothing rather than part of what it lists.
    if (in.bad()) {
        if (nx > 0 && ny > 0)
            std::fill(&mask->z[1][1], &mask->z[1][1] + nx * ny, 0.0f);
        return 1;
    }
    return 0;
}
