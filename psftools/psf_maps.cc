#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>

#include "psftools/psf.h"
#include "psftools/psf_chi.h"

using orv::MArray;
using orv::Range;

namespace {

// Asks for huge pages for the untouched storage of a large map: a map of a
// whole image takes gigabytes, and faulting them in page by page costs more
// than filling them.
void adviseHugePages(double *data, std::size_t count)
{
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t huge = std::uintptr_t(1) << 21;
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + huge - 1) & ~(huge - 1);
    const std::uintptr_t last = (begin + count * sizeof(double)) & ~(huge - 1);
    if (last > first)
        madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)count;
#endif
}

// Progress dots: one each time a hundredth of the cells has been counted.
class Progress {
public:
    Progress(double cells, bool show) : threshold_(cells / 100), show_(show) {}
    void count(double n = 1) { counter_ += n; }
    // After a column: a dot when due.
    void step()
    {
        if (due())
            dot();
    }
    // Whether a dot is due, the counter starting again if so.
    bool due()
    {
        if (!(counter_ >= threshold_ && show_))
            return false;
        counter_ = 0;
        return true;
    }
    void dot() const { std::cout << "." << std::flush; }
    void end() const
    {
        if (show_)
            std::cout << std::endl << std::endl;
    }

private:
    double threshold_;
    double counter_ = 0;
    bool show_;
};

} // namespace

MArray<double, 2> psf_chi::newMap(long x0, long nx, long y0, long ny, bool zero)
{
    nx = std::max(0L, nx);
    ny = std::max(0L, ny);
    MArray<double, 2> m{Range(static_cast<int>(x0), static_cast<int>(x0 + nx - 1)),
                        Range(static_cast<int>(y0), static_cast<int>(y0 + ny - 1))};
    adviseHugePages(m.dataFirst(), static_cast<std::size_t>(m.elementCount()));
    if (zero && m.elementCount() > 0)
        m = 0.0;
    return m;
}

namespace {

// Evaluates trial positions of one image for the maps: the fit, and the
// margin that keeps the pixel of a position away from the image border.
class MapCells {
public:
    enum Outcome { Outside, Failed, Fitted };

    // Positions anywhere in the image.
    MapCells(const psf_chi::ShiftTables &tables, int analyt, int boxlen,
             const MArray<float, 2> &image, const MArray<float, 2> &error, double radius)
        : tables_(tables), pixels_(image, error), fit_(radius, analyt)
    {
        margin(image, boxlen);
    }
    // Positions within `reach` pixels of pixel (x, y) only.
    MapCells(const psf_chi::ShiftTables &tables, int analyt, int boxlen,
             const MArray<float, 2> &image, const MArray<float, 2> &error, double radius, long x,
             long y, long reach)
        : tables_(tables),
          pixels_(image, error, x, y, reach + psf_chi::AmplitudeFit(radius, analyt).block()),
          fit_(radius, analyt)
    {
        margin(image, boxlen);
    }

    Outcome at(double x, double y, psf_chi::Result &r)
    {
        const long ix = std::lrint(x), iy = std::lrint(y);
        if (ix < lo1_ || ix > hi1_ || iy < lo2_ || iy > hi2_)
            return Outside;
        const double dx = x - ix, dy = y - iy;
        if (!tables_.ok() || !fit_.fit(tables_.plane(tables_.shiftX(dx), tables_.shiftY(dy)),
                                       pixels_, ix, iy, dx, dy, r))
            return Failed;
        return Fitted;
    }

private:
    void margin(const MArray<float, 2> &image, int boxlen)
    {
        // The margin keeps the whole fit block inside the image, whatever
        // _boxlen is.
        const long m = std::max(boxlen, fit_.block());
        lo1_ = image.firstIndex(1) + m;
        hi1_ = image.firstIndex(1) + image.length(1) - 1 - m;
        lo2_ = image.firstIndex(2) + m;
        hi2_ = image.firstIndex(2) + image.length(2) - 1 - m;
    }

    const psf_chi::ShiftTables &tables_;
    const psf_chi::Pixels pixels_;
    psf_chi::AmplitudeFit fit_;
    long lo1_, hi1_, lo2_, hi2_;
};

// Cell values for the three outcomes of a position: the fit, a failed fit
// (as nchi_calc gives it) and a position in the margin.
void store(MapCells::Outcome o, const psf_chi::Result &r, double &chi, double &amp, double *err,
           double outside)
{
    switch (o) {
    case MapCells::Fitted:
        chi = r.nchi;
        amp = r.amplitude;
        if (err)
            *err = r.amplitude_error;
        break;
    case MapCells::Failed:
        chi = psf_chi::kFailed;
        amp = 0;
        if (err)
            *err = psf_chi::kFailed;
        break;
    case MapCells::Outside:
        chi = outside;
        amp = 0;
        if (err)
            *err = outside;
        break;
    }
}

// Fills the local grid around (x, y): cell (i, j) is the position
// (ix + i/S, iy + j/S); a position in the margin counts as a failed fit.
void localMap(const psf_chi::ShiftTables &tables, int analyt, int boxlen,
              const MArray<float, 2> &image, const MArray<float, 2> &error, double x, double y,
              MArray<double, 2> &nchi, MArray<double, 2> &amplitude,
              MArray<double, 2> *amplitude_error, int nx, int ny, double radius, bool dots)
{
    const int S = tables.subpixel();
    const long ix = std::lrint(x), iy = std::lrint(y);
    // The grid is centred on the nearest shift; a position that is not a
    // number centres it on 0.
    const auto shift = [S](double d) { return std::fabs(d) <= 1 ? std::lrint(S * d) : 0L; };
    const long sx = shift(x - ix), sy = shift(y - iy);
    const long lx = 2L * nx + 1, ly = 2L * ny + 1;
    nchi.makeReference(psf_chi::newMap(sx - nx, lx, sy - ny, ly));
    amplitude.makeReference(psf_chi::newMap(sx - nx, lx, sy - ny, ly));
    if (amplitude_error)
        amplitude_error->makeReference(psf_chi::newMap(sx - nx, lx, sy - ny, ly));
    // The grid reaches (|s| + n)/S pixels from (ix, iy).
    const long reach =
        S < 1 ? 0 : (std::max(std::labs(sx), std::labs(sy)) + std::max(nx, ny)) / S + 1;
    MapCells cells(tables, analyt, boxlen, image, error, radius, ix, iy, reach);
    Progress progress(static_cast<double>(std::max(0L, lx)) * std::max(0L, ly), dots);
    const double step = 1.0 / S;
    for (long i = sx - nx; i <= sx + nx; ++i) {
        for (long j = sy - ny; j <= sy + ny; ++j) {
            progress.count();
            psf_chi::Result r;
            // Without shifts there are no trial positions to speak of.
            const MapCells::Outcome o =
                S < 1 ? MapCells::Failed : cells.at(ix + i * step, iy + j * step, r);
            store(o, r, nchi(i, j), amplitude(i, j),
                  amplitude_error ? &(*amplitude_error)(i, j) : nullptr, psf_chi::kFailed);
        }
        progress.step();
    }
    progress.end();
}

// The three maps of the sub-pixel grid of the image, zero-filled, announced
// because they may not fit in memory.
void subpixelMaps(const MArray<float, 2> &image, int S, MArray<double, 2> &nchi,
                  MArray<double, 2> &amplitude, MArray<double, 2> &amplitude_error, bool zero)
{
    const long kx = static_cast<long>(image.length(1)) * S,
               ky = static_cast<long>(image.length(2)) * S;
    std::cout << " wenn hier abbricht sind Bilder zu gross fuer Speicher ..." << std::endl;
    nchi.makeReference(psf_chi::newMap(1, kx, 1, ky, zero));
    amplitude.makeReference(psf_chi::newMap(1, kx, 1, ky, zero));
    amplitude_error.makeReference(psf_chi::newMap(1, kx, 1, ky, zero));
    std::cout << " alles ok!" << std::endl;
}

// Cell (k, l) of the sub-pixel grid: the position
// (Bx + (k − 1 − S/2)/S, By + (l − 1 − S/2)/S); 0 in all maps in the margin.
void subpixelCell(MapCells &cells, int S, const MArray<float, 2> &image, long k, long l,
                  MArray<double, 2> &nchi, MArray<double, 2> &amplitude,
                  MArray<double, 2> &amplitude_error, int verbose)
{
    const int F = S / 2;
    const double x = image.firstIndex(1) + static_cast<double>(k - 1 - F) / S;
    const double y = image.firstIndex(2) + static_cast<double>(l - 1 - F) / S;
    if (verbose > 9)
        std::cout << " double_x = " << x << "  double_y = " << y << std::endl;
    psf_chi::Result r;
    store(cells.at(x, y, r), r, nchi(k, l), amplitude(k, l), &amplitude_error(k, l), 0);
}

} // namespace

void psf::mapping(const MArray<float, 2> &image, const MArray<float, 2> &error, double x, double y,
                  MArray<double, 2> &nchi, MArray<double, 2> &amplitude,
                  MArray<double, 2> &amplitude_error, int nx, int ny, double radius,
                  int verbose) const
{
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, _subpixel, true);
    localMap(tables, _analyt, _boxlen, image, error, x, y, nchi, amplitude, &amplitude_error, nx,
             ny, radius, verbose == 5);
}

void psf::mapping(const MArray<float, 2> &image, const MArray<float, 2> &error, double x, double y,
                  MArray<double, 2> &nchi, MArray<double, 2> &amplitude, int nx, int ny,
                  double radius, int verbose) const
{
    MArray<double, 2> amplitude_error;
    mapping(image, error, x, y, nchi, amplitude, amplitude_error, nx, ny, radius, verbose);
}

void psf::mapping_fast(const MArray<float, 2> &image, const MArray<float, 2> &error, double x,
                       double y, MArray<double, 2> &nchi, MArray<double, 2> &amplitude, int nx,
                       int ny, double radius) const
{
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, _subpixel, true);
    localMap(tables, _analyt, _boxlen, image, error, x, y, nchi, amplitude, nullptr, nx, ny, radius,
             false);
}

void psf::mapping_full(const MArray<float, 2> &image, const MArray<float, 2> &error,
                       MArray<double, 2> &nchi, MArray<double, 2> &amplitude,
                       MArray<double, 2> &amplitude_error, double radius, int verbose) const
{
    const int S = _subpixel;
    const long kx = static_cast<long>(image.length(1)) * S,
               ky = static_cast<long>(image.length(2)) * S;
    if (verbose > 2)
        std::cout << " sx0 = " << 1 << std::endl
                  << " sx1 = " << kx << std::endl
                  << " sy0 = " << 1 << std::endl
                  << " sy1 = " << ky << std::endl
                  << " _boxlen = " << _boxlen << std::endl;
    // Every cell is written below: no need to clear the maps first.
    subpixelMaps(image, S, nchi, amplitude, amplitude_error, false);
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, S, true);
    MapCells cells(tables, _analyt, _boxlen, image, error, radius);
    Progress progress(static_cast<double>(kx) * ky, verbose > 4);
    if (verbose > 9) {
        // Every cell is printed: column by column.
        for (long k = 1; k <= kx; ++k) {
            for (long l = 1; l <= ky; ++l) {
                progress.count();
                subpixelCell(cells, S, image, k, l, nchi, amplitude, amplitude_error, verbose);
            }
            progress.step();
        }
        progress.end();
        return;
    }
    // Row by row, along the maps' memory (a column of the maps spans a page
    // per cell). The dots are those of the column-wise walk, spread over the
    // rows.
    Progress columns(static_cast<double>(kx) * ky, verbose > 4);
    long dots = 0, written = 0;
    for (long k = 1; k <= kx; ++k) {
        columns.count(static_cast<double>(ky));
        dots += columns.due();
    }
    for (long l = 1; l <= ky; ++l) {
        for (long k = 1; k <= kx; ++k)
            subpixelCell(cells, S, image, k, l, nchi, amplitude, amplitude_error, verbose);
        for (const long due = dots * l / ky; written < due; ++written)
            progress.dot();
    }
    progress.end();
}

void psf::mapping_some(const MArray<float, 2> &image, const MArray<float, 2> &error,
                       MArray<double, 2> &nchi, MArray<double, 2> &amplitude,
                       MArray<double, 2> &amplitude_error, const MArray<int, 1> &xs,
                       const MArray<int, 1> &ys, double radius, int verbose) const
{
    const int S = _subpixel;
    const long kx = static_cast<long>(image.length(1)) * S,
               ky = static_cast<long>(image.length(2)) * S;
    subpixelMaps(image, S, nchi, amplitude, amplitude_error, true);
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, S, true);
    MapCells cells(tables, _analyt, _boxlen, image, error, radius);
    Progress progress(static_cast<double>(kx) * ky, verbose > 4);
    const long bx = image.firstIndex(1), by = image.firstIndex(2);
    const psf_index::Span stars = psf_index::items(xs, ys);
    for (int j = stars.lo; j <= stars.hi; ++j) {
        // The cells of the 3 × 3 pixels around the star, as far as the map
        // reaches.
        const long X = xs(j), Y = ys(j);
        const long k0 = std::max(1L, S * (X - bx - 1) + 1), k1 = std::min(kx, S * (X - bx + 2));
        const long l0 = std::max(1L, S * (Y - by - 1) + 1), l1 = std::min(ky, S * (Y - by + 2));
        for (long k = k0; k <= k1; ++k) {
            for (long l = l0; l <= l1; ++l) {
                progress.count();
                subpixelCell(cells, S, image, k, l, nchi, amplitude, amplitude_error, 0);
            }
            progress.step();
        }
    }
    progress.end();
}
