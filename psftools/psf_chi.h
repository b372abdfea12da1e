// The amplitude fit of a binned PSF to the pixels of an image around a trial
// position, shared by the chi of one position, the chi maps and the flux
// measurement. Internal to the sources of class psf.
//
// The fit runs millions of times for one map, so its data are laid out for
// it: PSF planes and image pixels in rows along x, and every reason to leave
// a pixel out (bad pixel, PSF value 0) folded into a term that is 0 or +∞
// and added to the pixel's squared distance, so that one comparison with the
// squared radius selects the fit pixels without branches.
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
inline bool hasValue(double chi)
{
    return chi != 0 && chi < kFailed;
}

// One binned PSF over the offsets a (x), b (y): values, squared errors and
// the exclusion term (+∞ where the value is exactly 0; NaN takes part), each
// at index a + b·row from its (0, 0) element.
struct Plane {
    const double *p = nullptr;
    const double *m2 = nullptr;
    const double *skip = nullptr;
    long row = 0;
    psf_index::Span a{0, -1}, b{0, -1};

    bool holds(long i, long j) const { return i >= a.lo && i <= a.hi && j >= b.lo && j <= b.hi; }
    double value(long i, long j) const { return p[i + j * row]; }
};

// Storage for planes of one shape.
class Planes {
public:
    // count planes over the offsets a × b (both must hold 0).
    void reset(std::size_t count, psf_index::Span a, psf_index::Span b);
    // Plane k from value(i, j) and squared error e2(i, j).
    template <class V, class E>
    void set(std::size_t k, V value, E e2)
    {
        std::size_t n = k * size_;
        for (int j = b_.lo; j <= b_.hi; ++j)
            for (int i = a_.lo; i <= a_.hi; ++i, ++n) {
                p_[n] = value(i, j);
                m2_[n] = e2(i, j);
                skip_[n] = p_[n] == 0 ? HUGE_VAL : 0.0;
            }
    }
    Plane view(std::size_t k) const;

private:
    psf_index::Span a_{0, -1}, b_{0, -1};
    std::size_t size_ = 0;
    std::vector<double> p_, m2_, skip_;
};

// A 2-D PSF and its squared errors as a plane (empty when they do not hold
// the offset 0, 0).
class SinglePlane {
public:
    SinglePlane(const orv::MArray<double, 2> &p, const orv::MArray<double, 2> &e2);
    const Plane &plane() const { return plane_; }

private:
    Planes store_;
    Plane plane_;
};

// The shift tables of a psf: the plane of the shift nearest to an offset.
class ShiftTables {
public:
    // With all set every plane is laid out at once, for the many fits of a
    // map; otherwise each call of plane lays out the one asked for, and the
    // plane it returns lasts until the next call.
    ShiftTables(const orv::MArray<double, 4> &values, const orv::MArray<double, 4> &errors2,
                int subpixel, bool all = false);
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
    static int clamp(long v, psf_index::Span s)
    {
        return static_cast<int>(v < s.lo ? s.lo : v > s.hi ? s.hi : v);
    }
    void lay(std::size_t k, int sx, int sy) const;
    const orv::MArray<double, 4> &values_;
    const orv::MArray<double, 4> &errors2_;
    int subpixel_;
    psf_index::Span sx_, sy_, a_, b_;
    bool ok_, all_;
    mutable Planes planes_;
};

// The pixels of an image and its error image that both hold, x fastest.
class Pixels {
public:
    struct Pixel {
        double value;    // 0 where the image is not finite
        double weight;   // 1/error²
        double variance; // error²
        double skip;     // +∞ for a bad pixel (error not above 0, value not finite), else 0
    };
    // The whole images.
    Pixels(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error);
    // The block of half-width r around pixel (x, y) only.
    Pixels(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error, long x, long y,
           long r);

    bool holds(long x, long y) const
    {
        return x >= x_.lo && x <= x_.hi && y >= y_.lo && y <= y_.hi;
    }
    const Pixel &at(long x, long y) const { return data_[(y - y_.lo) * width_ + (x - x_.lo)]; }
    psf_index::Span xs() const { return x_; }
    psf_index::Span ys() const { return y_; }

private:
    void fill(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error);
    psf_index::Span x_, y_;
    long width_ = 0;
    std::vector<Pixel> data_;
};

// A map over x0.. (nx cells) by y0.. (ny cells), zero-filled unless every
// cell is going to be written; a negative count gives an empty dimension.
// Large maps get huge pages where the system offers them.
orv::MArray<double, 2> newMap(long x0, long nx, long y0, long ny, bool zero = true);

// Result of one amplitude fit.
struct Result {
    double amplitude;
    double amplitude_error;
    double nchi;
};

// The weighted least-squares amplitude of a plane placed at a pixel, and the
// normalised chi of the fit. One object serves many positions: its buffers
// are allocated once, never per position.
class AmplitudeFit {
public:
    // radius: the fit circle (its sign is ignored); reach: the largest pixel
    // offset to use besides the circle's own.
    AmplitudeFit(double radius, int reach);

    // The block half-width read around a position: the circle's, held to the
    // reach.
    int block() const { return R_; }

    // Fits the plane at pixel (ix, iy), the circle centred at offset
    // (dx, dy) from it. Fit pixels: inside the circle (strict), plane value
    // not 0, pixel held with an error above 0. False when the centre pixel
    // fails (not held, plane value 0, error not above 0); r is then
    // untouched.
    bool fit(const Plane &plane, const Pixels &pixels, long ix, long iy, double dx, double dy,
             Result &r);

private:
    struct Term {
        double p;                   // PSF
        double m2;                  // PSF variance
        const Pixels::Pixel *pixel; // the image pixel
    };
    double r2_;
    int R_;
    std::vector<Term> terms_;
    std::vector<double> squares_; // (a − dx)² of the block's columns
};

} // namespace psf_chi

#endif
