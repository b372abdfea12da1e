// The amplitude fit of a binned PSF to the pixels of an image around a trial
// position, shared by the chi of one position, the chi maps and the flux
// measurement. Internal to the sources of class psf.
#ifndef PSFTOOLS_PSF_CHI_H
#define PSFTOOLS_PSF_CHI_H

#include <cmath>
#include <vector>

#include "orv/MArray.h"
#include "psftools/psf_index.h"

namespace psf_chi {

// Failure value of a chi and of an amplitude error.
constexpr double kFailed = 1e100;

// A chi value that is a result: not 0 (unevaluated), not a failure, not NaN.
inline bool hasValue(double chi) { return chi != 0 && chi < kFailed; }

// One binned PSF: values p(a, b) and squared errors e2(a, b) for the pixel
// offsets both arrays hold, read through raw pointers.
struct Plane {
    const double* p = nullptr;   // element (0, 0)
    const double* e2 = nullptr;  // element (0, 0)
    long pa = 0, pb = 0;         // strides of p
    long ea = 0, eb = 0;         // strides of e2
    psf_index::Span a{0, -1}, b{0, -1};  // offsets present in both

    double value(long i, long j) const { return p[i * pa + j * pb]; }
    double error2(long i, long j) const { return e2[i * ea + j * eb]; }
    bool holds(long i, long j) const { return i >= a.lo && i <= a.hi && j >= b.lo && j <= b.hi; }
};

// A 2-D PSF and its squared errors as a plane.
Plane plane(const orv::MArray<double, 2>& p, const orv::MArray<double, 2>& e2);

// The shift tables of a psf: the plane of the shift nearest to an offset.
class ShiftTables {
public:
    ShiftTables(const orv::MArray<double, 4>& values, const orv::MArray<double, 4>& errors2, int subpixel);
    // The tables hold at least one shift and the centre pixel.
    bool ok() const { return ok_; }
    // lrint(subpixel·d) held to the tabulated shifts: halfway offsets ask for
    // one shift beyond the tables with 3, 7, 11, ... shifts.
    int shiftX(double d) const { return indexX(std::lrint(subpixel_ * d)); }
    int shiftY(double d) const { return indexY(std::lrint(subpixel_ * d)); }
    // A shift index held to the tables.
    int indexX(long s) const { return clamp(s, sx_); }
    int indexY(long s) const { return clamp(s, sy_); }
    Plane plane(int sx, int sy) const;
    int subpixel() const { return subpixel_; }

private:
    static int clamp(long v, psf_index::Span s) { return static_cast<int>(v < s.lo ? s.lo : v > s.hi ? s.hi : v); }
    const orv::MArray<double, 4>& values_;
    const orv::MArray<double, 4>& errors2_;
    int subpixel_;
    psf_index::Span sx_, sy_, a_, b_;
    bool ok_;
};

// Result of one amplitude fit.
struct Result {
    double amplitude;
    double amplitude_error;
    double nchi;
};

// The weighted least-squares amplitude of a plane placed at a pixel, and the
// normalised chi of the fit. One object serves many positions of one image:
// its buffer is allocated once, never per position.
class AmplitudeFit {
public:
    // radius: the fit circle (its sign is ignored); reach: the largest pixel
    // offset to use besides the circle's own.
    AmplitudeFit(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double radius, int reach);

    // The block half-width read around a position: the circle's, held to the
    // reach.
    int block() const { return R_; }

    // Fits the plane at pixel (ix, iy), the circle centred at offset
    // (dx, dy) from it. Fit pixels: inside the circle (strict), plane value
    // not 0 (NaN takes part), pixel inside both images with error above 0.
    // False when the centre pixel fails (outside, plane value 0, error not
    // above 0); r is then untouched.
    bool fit(const Plane& plane, long ix, long iy, double dx, double dy, Result& r);

private:
    struct Term {
        double p, v, e2, m2;  // PSF, pixel value, pixel variance, PSF variance
    };
    const float* img_;  // first element of the image
    const float* err_;  // first element of the error image
    long is1_, is2_, es1_, es2_;  // strides
    int ib1_, ib2_, eb1_, eb2_;   // index bases
    psf_index::Span x_, y_;       // pixels both images hold
    double r2_;
    int R_;
    std::vector<Term> terms_;
};

}  // namespace psf_chi

#endif
