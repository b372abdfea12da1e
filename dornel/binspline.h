// The double-median spline sky: first medians of square bins on a grid
// anchored at the galaxy centre, second medians of blocks of bins, and a
// natural bicubic spline through them, evaluated at every pixel.
#ifndef DORNEL_BINSPLINE_H
#define DORNEL_BINSPLINE_H

#include "dornel/parameter.h"
#include "orv/MArray.h"

// Fills sky (the image's shape; shares storage with the caller's array) from
// the image (indices from 1), using p.intervall, p.medrad, p.verbose, p.cx,
// p.cy, p.nan (the blank marker) and p.current_file (messages and the names
// of the diagnostic files). Prints its progress; writes diagnostic FITS files
// by verbosity. Throws SkyError when the grid has fewer than two median nodes
// along an axis or no node holds a valid bin, and the FITS writer's errors.
void binspline(orv::MArray<float, 2> image, orv::MArray<float, 2> sky, Parameter& p);

// The bounding box x0..x1 (dimension 1) by y0..y1 (dimension 2) of the
// elements of a that differ from m; without any, the inverted box
// x0 = last + 1, x1 = first - 1 (and likewise for y).
template <class T>
void nonan(const orv::MArray<T, 2>& a, int& x0, int& x1, int& y0, int& y1, T m);

extern template void nonan<float>(const orv::MArray<float, 2>&, int&, int&, int&, int&, float);
extern template void nonan<double>(const orv::MArray<double, 2>&, int&, int&, int&, int&, double);

#endif
