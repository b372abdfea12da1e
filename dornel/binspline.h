// The double-median spline sky: first medians of square bins on a grid
// anchored at the galaxy centre, second medians of blocks of bins, and a
// natural bicubic spline through them, evaluated at every pixel.
#ifndef DORNEL_BINSPLINE_H
#define DORNEL_BINSPLINE_H

#include <vector>

#include "dornel/parameter.h"
#include "orv/MArray.h"

// Fills sky (the image's shape; shares storage with the caller's array) from
// the image (indices from 1), using p.intervall, p.medrad, p.verbose, p.cx,
// p.cy, p.nan (the blank marker) and p.current_file (messages and the names
// of the diagnostic files). Prints its progress; writes diagnostic FITS files
// by verbosity. Throws SkyError when the grid has fewer than two median nodes
// along an axis or no node holds a valid bin, and the FITS writer's errors.
void binspline(orv::MArray<float, 2> image, orv::MArray<float, 2> sky, Parameter &p);

// The spline sky of one image kept from pass to pass of a clipping loop.
// Every pass prints and writes what binspline prints and writes, and gives
// the sky binspline gives for the image as it then is; a pass after the
// first recomputes only the first medians of the bins that hold a pixel
// reported by changed(), the second medians that use such a bin, the
// splines through the nodes whose values changed, and the sky only when a
// node changed.
class BinSpline {
public:
    explicit BinSpline(const Parameter &p);

    // Fills sky (the image's shape) from the image: the same arrays, of
    // the same shape, in every pass. Throws as binspline does.
    void pass(const orv::MArray<float, 2> &image, orv::MArray<float, 2> &sky)
    {
        run(image, nullptr, sky, nullptr);
    }
    // The same, calling changed(y, x0, x1) for the pixels x0..x1 of row y
    // of the sky as soon as they are made, for every span of pixels whose
    // value may differ from the pass before (every pixel in the first pass):
    // a caller's next step done while the pixels are still in the cache, and
    // only where the sky changed. Below verbosity 1 the pass never reads
    // those pixels of the image again, so that they may change; with a
    // verbosity above 0 every row is handed over whole after the pass.
    // The image may come with zeroed, of its shape: a pixel where zeroed
    // is not 0 counts as 0 (blank), so that a clipped image need not be
    // made.
    template <class F>
    void pass(const orv::MArray<float, 2> &image, const orv::MArray<unsigned char, 2> *zeroed,
              orv::MArray<float, 2> &sky, F changed)
    {
        SpanHook<F> hook(changed);
        run(image, zeroed, sky, &hook);
    }
    // Reports pixel (x, y) of the image as changed since the last pass.
    void changed(int x, int y)
    {
        const int k = binOfColumn_[x], l = binOfRow_[y];
        if (k != kNoBin && l != kNoBin)
            dirty_[index(k, l)] = 1;
    }

private:
    static constexpr int kNoBin = -2147483647 - 1;

    struct Hook {
        virtual void span(int y, int x0, int x1) = 0;

    protected:
        ~Hook() = default;
    };
    template <class F>
    struct SpanHook final : Hook {
        explicit SpanHook(F &f) : f(f) {}
        void span(int y, int x0, int x1) override { f(y, x0, x1); }
        F &f;
    };

    void run(const orv::MArray<float, 2> &image, const orv::MArray<unsigned char, 2> *zeroed,
             orv::MArray<float, 2> &sky, Hook *hook);

    void firstMedians(const orv::MArray<float, 2> &image,
                      const orv::MArray<unsigned char, 2> *zeroed, bool all);
    // The second median of node (p, q), with the widening search; returns
    // the half-width in bins of the square of bins it looked at.
    int secondMedian(int pp, int q, double &value);
    void evaluate(orv::MArray<float, 2> &sky, Hook *hook);
    void diagnostics(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &sky);
    std::size_t index(int k, int l) const
    {
        return static_cast<std::size_t>(l - lfirst_) * static_cast<std::size_t>(kcount_) +
               static_cast<std::size_t>(k - kfirst_);
    }

    const Parameter p_;
    int h_ = 0, r_ = 0, verbose_ = 0, xmax_ = 0, ymax_ = 0;
    long long E_ = 0, M_ = 0, cx_ = 0, cy_ = 0, kmin_ = 0, kmax_ = 0, lmin_ = 0, lmax_ = 0;
    int passes_ = 0;
    // The bins (with their margins) and their positions.
    orv::MArray<double, 2> bin_;
    orv::MArray<double, 1> binx_, biny_;
    int kfirst_ = 0, lfirst_ = 0, kcount_ = 0;
    std::vector<unsigned char> dirty_;        // per bin: a pixel changed
    std::vector<int> binOfColumn_, binOfRow_; // the bin of a pixel, kNoBin outside every bin
    int ix0_ = 0, ix1_ = 0, iy0_ = 0, iy1_ = 0, px0_ = 0, px1_ = 0, py0_ = 0, py1_ = 0;
    // The nodes: second medians as found (raw_) and with blank nodes filled
    // (z_), the half-width of the square of bins each looked at, positions,
    // and the second derivatives of the spline.
    orv::MArray<double, 2> raw_, z_, y2_;
    orv::MArray<int, 2> reach_;
    orv::MArray<double, 1> mx_, my_;
    int filled_ = 0;
    long errors_ = 0;
    // The sky holds the last evaluation, every pixel of it.
    bool known_ = false;
};

// The bounding box x0..x1 (dimension 1) by y0..y1 (dimension 2) of the
// elements of a that differ from m; without any, the inverted box
// x0 = last + 1, x1 = first - 1 (and likewise for y).
template <class T>
void nonan(const orv::MArray<T, 2> &a, int &x0, int &x1, int &y0, int &y1, T m);

extern template void nonan<float>(const orv::MArray<float, 2> &, int &, int &, int &, int &, float);
extern template void nonan<double>(const orv::MArray<double, 2> &, int &, int &, int &, int &,
                                   double);

#endif
