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

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "orv/MArray.h"
#include "psftools/psf_index.h"

namespace psf_chi {

// Failure value of a chi and of an amplitude error.
constexpr double kFailed = 1e100;

// Positions that LaneFit fits at once, at most: two AVX2 registers of four
// doubles.
constexpr int kLanes = 8;

// A chi value that is a result: not 0 (unevaluated), not a failure, not NaN.
inline bool hasValue(double chi)
{
    return chi != 0 && chi < kFailed;
}

// The minimum test of find at cell i of a map row: c[i] holds a chi and no
// neighbour of w[i] (the smoothed map, neighbours at the steps `neighbours`
// in memory) is at or below it unless 0 (no value).
inline bool isMinimum(const double *c, const double *w, long i, const long *neighbours)
{
    if (!hasValue(c[i]))
        return false;
    for (int d = 0; d < 8; ++d) {
        const double N = w[i + neighbours[d]];
        if (!(N > w[i] || N == 0))
            return false;
    }
    return true;
}

// The cell of a map within ks × ls (k outer) with the smallest value below
// kFailed, the first of equal ones (NaN never wins); false when none is.
// The map is anything that gives a double for map(k, l).
template <class Map>
bool lowestCell(const Map &map, psf_index::Span ks, psf_index::Span ls, long &k, long &l,
                double &value)
{
    double m = kFailed;
    long bk = 0, bl = 0;
    for (long i = ks.lo; i <= ks.hi; ++i)
        for (long j = ls.lo; j <= ls.hi; ++j)
            if (map(i, j) < m) {
                m = map(i, j);
                bk = i;
                bl = j;
            }
    if (!(m < kFailed))
        return false;
    k = bk;
    l = bl;
    value = m;
    return true;
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

// The pixels of an image and its error image that both hold: one array per
// field, x fastest, so that a vector load takes the fields of neighbouring
// pixels.
class Pixels {
public:
    // The fields of pixel (x, y) at index(x, y) of each array. Each array
    // ends with kLanes − 1 spare elements, so that a vector load that starts
    // at the last pixel stays in the array.
    struct Rows {
        const double *value;    // 0 where the image is not finite
        const double *weight;   // 1/error²
        const double *variance; // error²
        const double *skip;     // +∞ for a bad pixel (error not above 0 or value not
                                // finite), else 0
        long width;
    };
    // The whole images.
    Pixels(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error);
    // The block of half-width r around pixel (x, y) only.
    Pixels(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error, long x, long y,
           long r);
    // None yet: see rows.
    Pixels() = default;

    // Now the whole width of the images in rows y0..y1 only (as far as they
    // go), in the storage held when it is large enough.
    void rows(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error, long y0,
              long y1);
    // Storage for count pixels from now on: fresh memory costs the system
    // the clearing of its pages, so storage that is used again had better
    // not grow.
    void reserve(std::size_t count);

    bool holds(long x, long y) const
    {
        return x >= x_.lo && x <= x_.hi && y >= y_.lo && y <= y_.hi;
    }
    // Whether no pixel of x0..x1 × y0..y1 (all held) is bad.
    bool clean(long x0, long x1, long y0, long y1) const
    {
        const long w = rows_.width + 1;
        for (long y = y0; y <= y1; ++y) {
            const int *const row = bad_.data() + (y - y_.lo) * w - x_.lo;
            if (row[x1 + 1] != row[x0])
                return false;
        }
        return true;
    }
    psf_index::Span xs() const { return x_; }
    psf_index::Span ys() const { return y_; }
    const Rows &rows() const { return rows_; }
    long index(long x, long y) const { return (y - y_.lo) * rows_.width + (x - x_.lo); }

private:
    void fill(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error);
    psf_index::Span x_{0, -1}, y_{0, -1};
    std::unique_ptr<double[]> data_; // the four arrays one after the other
    std::size_t capacity_ = 0;       // doubles at data_
    std::vector<int> bad_;           // per row, the bad pixels left of each x, and all
    Rows rows_{nullptr, nullptr, nullptr, nullptr, 0};
};

// Asks for huge pages for the untouched storage of count doubles: a map of a
// whole image takes gigabytes, and faulting large arrays in page by page
// costs more than filling them.
void adviseHugePages(double *data, std::size_t count);

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
    // The fit pixels of the last fit that passed the centre test.
    long pixels() const { return n_; }

private:
    struct Term {
        double p;   // PSF
        double m2;  // PSF variance
        long pixel; // index of the image pixel
    };
    double r2_;
    int R_;
    long n_ = 0;
    std::vector<Term> terms_;
    std::vector<double> squares_; // (a − dx)² of the block's columns
};

// One offset (a, b) of the block that a fit of several positions may use:
// the plane's value and variance there, (b − dy)², the pixel's index from
// the centre pixel and the column a − (first column of the block).
struct Tap {
    double p, m2, db2;
    long pixel;
    long column;
};

// The work of one vector fit (psf_lanes.h): lane j is the position at
// pixel index centre + j of the rows, offset dx[j] from it.
struct LaneJob {
    const Tap *taps;
    long count;
    Pixels::Rows rows;
    long centre;
    int lanes; // 4 or kLanes
    double dx[kLanes];
    long first_column, columns;
    double r2;
    double *squares;  // scratch: columns·kLanes
    long long *masks; // scratch: count·kLanes
    double amplitude[kLanes], amplitude_error[kLanes], nchi[kLanes];
};

// How maps fit their positions: one at a time (AmplitudeFit alone), several
// at once with the portable build of the vector fit, or with the fastest
// build the processor runs (AVX2 where it has it). All three give the same
// numbers; the choice is for tests and measurements.
enum class Lanes { Off, Portable, Best };
void useLanes(Lanes l);
Lanes lanesInUse();

// The vector code of one build (psf_lanes.h): the fit, and the smoothing and
// the minimum test of find over count cells c[0..) of one map row, x
// fastest, whose diamonds (smoothing) or neighbours (minima) lie in the map;
// diamond and neighbours give their steps in memory, in the order of find.
struct Kernels {
    void (*fit)(LaneJob &job);
    // The fit without the chi: amplitudes and their errors only.
    void (*first)(LaneJob &job);
    // The same for count positions at consecutive pixels from job.centre
    // that share their x offset, no pixel of whose blocks is bad, the job
    // holding only the taps inside their circle: amplitude[j] of position
    // j, and significant[j] whether it is at least significance times its
    // error.
    void (*firstInside)(const LaneJob &job, long count, double significance, double *amplitude,
                        unsigned char *significant);
    // The chi alone of a job of positions that share their x offset, no
    // pixel of whose blocks is bad, the job holding only the taps inside
    // their circle, given the lanes' amplitudes in job.amplitude; only as
    // far as needed to tell whether it exceeds the chi whose squared sum is
    // limit: job.nchi[j] the chi, or +∞ once the squared sum of each of the
    // first `lanes` lanes has reached limit.
    void (*chiAbove)(LaneJob &job, int lanes, double limit);
    // w[i]: the mean of the cells of c[i]'s diamond that hold a chi, 0 when
    // c[i] holds none.
    void (*smooth)(const double *c, double *w, long count, const long *diamond);
    // The i (ascending) where isMinimum(c, w, i, neighbours) holds,
    // written to found; returns how many.
    long (*minima)(const double *c, const double *w, long count, const long *neighbours,
                   long *found);
};
// The build that lanesInUse() asks for.
const Kernels &kernels();

// Threads of the maps: as set here, else OMP_NUM_THREADS (a positive
// number, as for OpenMP programs), else one per core. Below 1 restores the
// default.
void setThreads(int n);
int threads();

// Runs work() on threads() threads at once, the calling one among them, and
// returns once all are done (rethrowing what one of them threw). The threads
// share out the work themselves, through a Share.
void together(const std::function<void()> &work);

// The items first..last, handed out one at a time to whichever thread asks.
// With blocks of b items (the rows of a map that share a huge page), the
// first item of every block comes first, then the second of every block, and
// so on: threads that start together touch, and fault in, different pages.
class Share {
public:
    Share(long first, long last, long b = 1)
        : first_(first), count_(std::max(0L, last - first + 1)), block_(std::max(1L, b)),
          blocks_((count_ + block_ - 1) / block_)
    {
    }
    bool take(long &item)
    {
        for (long j; (j = next_++) < blocks_ * block_;) {
            const long i = j % blocks_ * block_ + j / blocks_;
            if (i < count_) {
                item = first_ + i;
                return true;
            }
        }
        return false;
    }

private:
    long first_, count_, block_, blocks_;
    std::atomic<long> next_{0};
};

// The rows of n doubles each that fill a huge page (2 MB).
inline long rowsPerPage(long n)
{
    return std::max(1L, (1L << 21) / std::max(1L, n * 8));
}

// Fits of up to kLanes positions at once, each with exactly the arithmetic
// of AmplitudeFit, in the same order, so that every position gets the same
// bits. The positions lie in one row of pixels at consecutive pixels and
// share the plane; their circles differ only in the last bits of dx. One
// object serves many positions: nothing is allocated per position.
class LaneFit {
public:
    LaneFit(double radius, int reach);

    // Prepares the positions of pixel row iy at offset dy whose x offsets
    // lie within dxlo..dxhi, with plane q: the offsets of the block that any
    // of them may use.
    void prepare(const Plane &q, const Pixels &pixels, long iy, double dy, double dxlo,
                 double dxhi);
    // Whether the whole block of positions at pixels ix .. ix + count − 1
    // (of the prepared row) lies in the pixels: only then fit may take them.
    bool covers(long ix, long count) const;
    // Fits count (1..kLanes) positions at pixels ix + j, x offsets dx[j].
    // fitted[j] is false where the centre pixel fails, r[j] then untouched.
    // Without chi only the amplitudes and their errors are computed (half
    // the work); r[j].nchi is then untouched.
    void fit(long ix, const double *dx, int count, Result *r, bool *fitted, bool chi = true);
    // Whether the chi of count (1..kLanes) positions at pixels ix + j, x
    // offsets dx[j], amplitudes amplitude[j] (those of their fits), is at
    // most `largest`: passes[j], false also where the centre pixel fails.
    // The chi is computed only as far as needed to tell.
    void passes(long ix, const double *dx, int count, const double *amplitude, double largest,
                bool *passes);
    // The amplitudes alone of any number of positions at pixels ix + j, x
    // offsets dx[j] (the block of all of them covered), same[j] of them from
    // j on with the x offset dx[j] (at least 1): significant[j] whether
    // position j is fitted with an amplitude of at least significance times
    // its error, and then amplitude[j] its amplitude.
    void first(long ix, const double *dx, const long *same, long count, double significance,
               double *amplitude, unsigned char *significant);

private:
    // Lays out the taps.
    void lay(const Plane &q, long width, double dy, double dxlo, double dxhi);
    // The job of the positions at pixels ix.., x offsets dx[0..count).
    void job(LaneJob &job, long ix, const double *dx, int count) const;
    // Lays out the taps inside the circle of x offset dx.
    void inside(double dx);
    // A squared sum of n fit pixels at and above which the chi exceeds
    // largest (+∞ when none is known).
    static double limit(double largest, long n);

    double r2_;
    int R_;
    void (*kernel_)(LaneJob &);
    void (*first_)(LaneJob &);
    void (*firstInside_)(const LaneJob &, long, double, double *, unsigned char *);
    void (*chiAbove_)(LaneJob &, int, double);
    const Pixels *pixels_ = nullptr;
    long iy_ = 0;
    bool clean_ = false; // no bad pixel in the rows of the block
    bool laid_ = false;  // the taps are laid out for laidFor_
    struct {
        const double *p;
        double dy, dxlo, dxhi;
        long width;
    } laidFor_{};
    bool centre_ = false;   // the plane can be fitted at its centre
    psf_index::Span a_, b_; // the block's columns and rows
    std::vector<Tap> taps_; // the first count_ of them
    long count_ = 0;
    // The taps inside the circle of x offset insideDx_, when inside_ holds
    // them.
    std::vector<Tap> inside_;
    double insideDx_ = 0;
    bool insideReady_ = false;
    bool insideGrows_ = true; // no chi term of the taps inside is negative
    std::vector<double> squares_;
    std::vector<long long> masks_;
};

} // namespace psf_chi

#endif
