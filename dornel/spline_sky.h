// The sky step of spline mode: the double-median spline sky, once or inside
// a one-sided kappa-clipping loop.
#ifndef DORNEL_SPLINE_SKY_H
#define DORNEL_SPLINE_SKY_H

#include <string>

#include "dornel/parameter.h"
#include "orv/MArray.h"

// Passes of the clipping loop at most; the count of unclipped pixels falls
// in every pass but the last, so without a cap a slow fall could run for
// very long.
constexpr int kMaxClipPasses = 50;

// Fills sky (the image's shape) for the input dir + base. Sets p.cx, p.cy
// from p.galcenter, the blank marker p.nan to 0 and p.current_file. With
// kappa 0 the sky is one binspline of the image; otherwise pixels more than
// kappa errors above the sky are blanked (always starting again from the
// image) and the sky is made again while the number of non-blank pixels
// falls. With verbosity above 0 the clipped image is written to
// dir + "cut_" + base. The loop stops with a warning after maxPasses
// clipping passes.
void spline_sky(orv::MArray<float, 2> image, orv::MArray<float, 2> err, orv::MArray<float, 2> sky,
                const std::string &dir, const std::string &base, Parameter &p,
                int maxPasses = kMaxClipPasses);

#endif
