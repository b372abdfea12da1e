// The sub-pixel chi maps of a whole image, computed in bands of map rows for
// callers that need only a few rows at a time (find, the best-source maps):
// the maps of a large image at S² cells per pixel take gigabytes, the rows
// of a few bands some megabytes. Internal to the sources of class psf.
#ifndef PSFTOOLS_PSF_BANDS_H
#define PSFTOOLS_PSF_BANDS_H

#include <functional>

#include "orv/MArray.h"
#include "psftools/psf_chi.h"
#include "psftools/psf_index.h"

namespace psf_bands {

// Rows of one map of the sub-pixel grid, `width` cells each, one after the
// other in memory; cell (k, l) with k from 1 and l the row of the whole map.
struct MapRows {
    double *data = nullptr; // cell (1, first)
    long width = 0, first = 1;

    double *row(long l) const { return data + (l - first) * width; }
    double &operator()(long k, long l) const { return row(l)[k - 1]; }
};

// One band of the chi, amplitude and amplitude-error maps: its own rows
// lo..hi and, around them, the rows first..last that were asked for beside
// them (as far as the map goes). kx × ky is the size of the whole map. The
// band lies in storage `slot` of those the bands take turns in; maps are
// the arrays of that storage (the whole maps, when they make one band).
struct Band {
    MapRows chi, amplitude, error;
    const orv::MArray<double, 2> *maps[3] = {nullptr, nullptr, nullptr};
    long kx = 0, ky = 0;
    long first = 1, last = 0;
    long lo = 1, hi = 0;
    int slot = 0;
};

// A map row fitted without its chi: whether cell k was fitted with an
// amplitude of at least Stages::significance times its error, and then its
// amplitude (that of the maps), cell k = 1 + c + S·p (pixel p, phase c) at
// [c·width + p]: the cells of one phase one after the other. Past the end of
// significant there are 8 more bytes, 0.
struct FirstRow {
    const double *amplitude;
    const unsigned char *significant;
    long width;
    int S;
};

// Cells k0..k1 of a map row, the value of cell k to go to chi[k − k0].
struct Cells {
    long k0, k1;
    double *chi;
};

// Cells k0..k1 of a map row with their amplitudes (those of the maps, cell
// k's at amplitude[k − k0]), whether the chi of cell k is at most a limit
// to go to passes[k − k0].
struct Passes {
    long k0, k1;
    const double *amplitude;
    unsigned char *passes;
};

// The chi of single cells, on the thread that asks, with the numbers of the
// maps.
class CellFits {
public:
    // The cells of runs[0..count) of map row l.
    virtual void cells(long l, const Cells *runs, std::size_t count) = 0;
    // Whether the chi of the cells of runs[0..count) of map row l, all of
    // them fitted, is at most `largest`: as far as needed to tell.
    virtual void pass(long l, const Passes *runs, std::size_t count, double largest) = 0;

protected:
    ~CellFits() = default;
};

// What is done with each band once its maps are complete: `count` stages,
// one after the other. Stage s has the items items(band, s) (lo..hi, empty
// when lo > hi), handed out in runs first..last to run() on any thread,
// with the fits of that thread in the band's rows first..last; after the
// last item of a stage, then(band, s), when given, runs once. Bands do not
// wait for each other: run() and then() of different bands may run at the
// same time. prepare(slots, rows), when given, runs first, once: the bands
// take turns in that many storages of that many map rows.
//
// With first given, the bands keep no maps (for a caller that needs the
// chi of a few cells only: the chi is half the work of a fit): each row of
// a band's own rows lo..hi is fitted without its chi and handed to first()
// on the thread that fitted it, the rows beside them are not fitted, and
// the stages fit what cells they need through CellFits. Not at verbosity
// 10 and more.
struct Stages {
    int count = 0;
    std::function<void(int slots, long rows)> prepare;
    std::function<psf_index::Span(const Band &, int stage)> items;
    std::function<void(const Band &, int stage, long first, long last, CellFits &fits)> run;
    std::function<void(const Band &, int stage)> then;
    std::function<void(const Band &, long l, const FirstRow &row)> first;
    double significance = 0;
};

// Map rows per band, unless set here: as many as keep `maps` maps of rows of
// kx cells within some megabytes, a multiple of `multiple`.
long height(long kx, int maps, long multiple = 1);
// Rows per band from now on; 0 restores the choice above.
void setHeight(long rows);

// Computes the maps of mapping_full (the same cells, numbers, messages and
// progress dots) band after band of `height` rows, each with `before` and
// `after` rows beside it, and hands each band to the stages as soon as it is
// complete, all on the threads of the maps. Every cell is fitted once: the
// rows beside a band are taken over from the band before. A height of at
// least the map's rows (or a verbosity above 9, which prints every cell
// column by column) makes one band of the whole map; nchi, amplitude and
// amplitude_error then hold the whole maps, as mapping_full gives them
// (unless the bands keep no maps: see Stages).
void subpixelBands(const psf_chi::ShiftTables &tables, int analyt, int boxlen,
                   const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                   double radius, int verbose, long height, long before, long after,
                   orv::MArray<double, 2> &nchi, orv::MArray<double, 2> &amplitude,
                   orv::MArray<double, 2> &amplitude_error, const Stages &stages);

} // namespace psf_bands

#endif
