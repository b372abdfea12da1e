#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "psftools/psf.h"
#include "psftools/psf_bands.h"
#include "psftools/psf_chi.h"

using orv::MArray;
using orv::Range;

namespace {

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

// The dots a walk of a map column by column (columns of `cells` cells)
// would show, for maps filled row by row that show the same number.
long columnDots(long columns, long cells, bool show)
{
    Progress walk(static_cast<double>(std::max(0L, columns)) * std::max(0L, cells), show);
    long dots = 0;
    for (long k = 0; k < columns; ++k) {
        walk.count(static_cast<double>(cells));
        dots += walk.due();
    }
    return dots;
}

} // namespace

MArray<double, 2> psf_chi::newMap(long x0, long nx, long y0, long ny, bool zero)
{
    nx = std::max(0L, nx);
    ny = std::max(0L, ny);
    MArray<double, 2> m{Range(static_cast<int>(x0), static_cast<int>(x0 + nx - 1)),
                        Range(static_cast<int>(y0), static_cast<int>(y0 + ny - 1))};
    psf_chi::adviseHugePages(m.dataFirst(), static_cast<std::size_t>(m.elementCount()));
    if (zero && m.elementCount() > 0)
        m = 0.0;
    return m;
}

namespace {

// Trial positions of one image for the maps: the image's pixels, the shift
// tables and the margin that keeps the pixel of a position away from the
// image border. Read only, so the threads of a map share it; each thread
// fits through a Worker of its own.
class MapCells {
public:
    enum Outcome { Outside, Failed, Fitted };

    // Positions anywhere in the image.
    MapCells(const psf_chi::ShiftTables &tables, int analyt, int boxlen,
             const MArray<float, 2> &image, const MArray<float, 2> &error, double radius)
        : tables_(tables), pixels_(image, error), radius_(radius), analyt_(analyt)
    {
        margin(image, boxlen);
    }
    // Positions anywhere in the image, whose pixels are read in with
    // pixelRows before they are fitted.
    MapCells(const psf_chi::ShiftTables &tables, int analyt, int boxlen, double radius,
             const MArray<float, 2> &image)
        : tables_(tables), radius_(radius), analyt_(analyt)
    {
        margin(image, boxlen);
    }
    // Reads in the pixels that the fits of positions in pixel rows y0..y1
    // use, and no others: the fits get the numbers they get with the whole
    // image. No Worker may be fitting meanwhile.
    void pixelRows(const MArray<float, 2> &image, const MArray<float, 2> &error, long y0, long y1)
    {
        const long R = psf_chi::AmplitudeFit(radius_, analyt_).block();
        pixels_.rows(image, error, y0 - R, y1 + R);
    }
    // Room for the pixels of any `rows` consecutive map rows of S cells per
    // pixel, for pixelRows.
    void reserveRows(const MArray<float, 2> &image, long rows, int S)
    {
        const long R = psf_chi::AmplitudeFit(radius_, analyt_).block();
        const long y = (std::max(1L, rows) - 1) / std::max(1, S) + 2 + 2 * R;
        pixels_.reserve(static_cast<std::size_t>(std::max(0, image.length(1))) *
                        std::min<long>(y, image.length(2)));
    }
    // Positions within `reach` pixels of pixel (x, y) only.
    MapCells(const psf_chi::ShiftTables &tables, int analyt, int boxlen,
             const MArray<float, 2> &image, const MArray<float, 2> &error, double radius, long x,
             long y, long reach)
        : tables_(tables),
          pixels_(image, error, x, y, reach + psf_chi::AmplitudeFit(radius, analyt).block()),
          radius_(radius), analyt_(analyt)
    {
        margin(image, boxlen);
    }

    // The x positions of one phase of a map row, S cells apart: their
    // pixels, offsets and shifts, and the groups of positions the vector fit
    // takes together (consecutive pixels inside the margin, one shift; a
    // group of 0 is one position in the margin). The same for every row of a
    // map, so laid out once.
    struct Plan {
        struct Group {
            long first;
            int count;
        };
        std::vector<long> ix;
        std::vector<double> dx;
        std::vector<long> same; // positions from m on with the x offset dx[m]
        std::vector<int> sx;
        std::vector<Group> groups;
        double dxlo, dxhi; // the offsets of the positions inside the margin
    };

    void plan(const double *x, long count, Plan &p) const
    {
        p.ix.resize(count);
        p.dx.resize(count);
        p.same.resize(count);
        p.sx.resize(count);
        p.groups.clear();
        p.dxlo = HUGE_VAL;
        p.dxhi = -HUGE_VAL;
        const auto in = [this](long ix) { return ix >= lo1_ && ix <= hi1_; };
        for (long m = 0; m < count; ++m) {
            p.ix[m] = std::lrint(x[m]);
            p.dx[m] = x[m] - p.ix[m];
            p.sx[m] = tables_.ok() ? tables_.shiftX(p.dx[m]) : 0;
            if (in(p.ix[m])) {
                p.dxlo = std::min(p.dxlo, p.dx[m]);
                p.dxhi = std::max(p.dxhi, p.dx[m]);
            }
        }
        for (long m = count - 1; m >= 0; --m)
            p.same[m] = m + 1 < count && p.dx[m + 1] == p.dx[m] ? p.same[m + 1] + 1 : 1;
        for (long m = 0; m < count;) {
            int n = 0;
            if (in(p.ix[m]))
                for (n = 1; n < psf_chi::kLanes && m + n < count; ++n)
                    if (p.ix[m + n] != p.ix[m] + n || p.sx[m + n] != p.sx[m] || !in(p.ix[m + n]))
                        break;
            p.groups.push_back({m, n});
            m += std::max(n, 1);
        }
    }

    // The fits of one thread; its buffers are allocated once, never per
    // position.
    class Worker {
    public:
        explicit Worker(const MapCells &cells)
            : cells_(cells), fit_(cells.radius_, cells.analyt_),
              lanes_(cells.radius_, cells.analyt_)
        {
        }

        Outcome at(double x, double y, psf_chi::Result &r)
        {
            const long ix = std::lrint(x), iy = std::lrint(y);
            if (!cells_.inside(ix, iy))
                return Outside;
            const double dx = x - ix, dy = y - iy;
            const psf_chi::ShiftTables &t = cells_.tables_;
            if (!t.ok() ||
                !fit_.fit(t.plane(t.shiftX(dx), t.shiftY(dy)), cells_.pixels_, ix, iy, dx, dy, r))
                return Failed;
            return Fitted;
        }

        // The positions x[0..count) of one map row at y, S cells apart:
        // consecutive ones lie in consecutive pixels at the same shift, so
        // they share a plane and go kLanes at a time through the vector fit
        // (each with the numbers at() would give it).
        void run(const double *x, long count, double y, Outcome *o, psf_chi::Result *r)
        {
            cells_.plan(x, count, plan_);
            run(plan_, x, count, y, o, r);
        }
        // The same with the plan of the positions.
        void run(const Plan &p, const double *x, long count, double y, Outcome *o,
                 psf_chi::Result *r)
        {
            each(p, x, 0, count - 1, y,
                 [o, r](long m, Outcome outcome, const psf_chi::Result &fit) {
                     o[m] = outcome;
                     if (outcome == Fitted)
                         r[m] = fit;
                 });
        }

        // Fits the positions p0..p1 of a plan (position m at x[m]) at y, as
        // run() does, and hands each to put(m, outcome, result); the result
        // counts only for a fitted position.
        template <class Put>
        void each(const Plan &p, const double *x, long p0, long p1, double y, Put put)
        {
            psf_chi::Result r[psf_chi::kLanes];
            groups(
                p, x, p0, p1, y,
                [&](psf_chi::LaneFit &lanes, long m, long n) {
                    bool fitted[psf_chi::kLanes];
                    lanes.fit(p.ix[m], &p.dx[m], static_cast<int>(n), r, fitted);
                    for (int j = 0; j < n; ++j)
                        put(m + j, fitted[j] ? Fitted : Failed, r[j]);
                },
                put);
        }

        // Whether the chi of each of the positions p0..p1 of a plan at y is
        // at most `largest`, given their amplitudes (those of the fit,
        // amplitude[m] for position m): passes[m].
        void pass(const Plan &p, const double *x, long p0, long p1, double y,
                  const double *amplitude, double largest, bool *passes)
        {
            groups(
                p, x, p0, p1, y,
                [&](psf_chi::LaneFit &lanes, long m, long n) {
                    lanes.passes(p.ix[m], &p.dx[m], static_cast<int>(n), amplitude + m, largest,
                                 passes + m);
                },
                [&](long m, Outcome outcome, const psf_chi::Result &fit) {
                    passes[m] = outcome == Fitted && fit.nchi <= largest;
                });
        }

        // The amplitudes alone of all positions of a plan at y (position m
        // at x[m]), as run() gives them without chi: significant[m] whether
        // position m is fitted with an amplitude of at least significance
        // times its error, and then amplitude[m] its amplitude.
        void first(const Plan &p, const double *x, double y, double significance, double *amplitude,
                   unsigned char *significant)
        {
            const psf_chi::ShiftTables &t = cells_.tables_;
            const long iy = std::lrint(y);
            const long count = static_cast<long>(p.ix.size());
            psf_chi::Result r;
            const auto one = [&](long m) {
                const bool fitted = at(x[m], y, r) == Fitted;
                amplitude[m] = fitted ? r.amplitude : 0;
                significant[m] = fitted && r.amplitude >= significance * r.amplitude_error;
            };
            if (psf_chi::lanesInUse() == psf_chi::Lanes::Off || !t.ok() || !cells_.row(iy)) {
                for (long m = 0; m < count; ++m)
                    one(m);
                return;
            }
            const double dy = y - iy;
            const int sy = t.shiftY(dy);
            int prepared = 0;
            bool ready = false;
            for (std::size_t i = 0; i < p.groups.size();) {
                const long m = p.groups[i].first;
                if (p.groups[i].count == 0) {
                    amplitude[m] = 0;
                    significant[m] = false;
                    ++i;
                    continue;
                }
                // The groups that follow at the next pixels with the same
                // shift go with it.
                long n = p.groups[i].count;
                for (++i;
                     i < p.groups.size() && p.groups[i].count > 0 &&
                     p.sx[p.groups[i].first] == p.sx[m] && p.ix[p.groups[i].first] == p.ix[m] + n;
                     ++i)
                    n += p.groups[i].count;
                if (!ready || p.sx[m] != prepared) {
                    lanes_.prepare(t.plane(p.sx[m], sy), cells_.pixels_, iy, dy, p.dxlo, p.dxhi);
                    prepared = p.sx[m];
                    ready = true;
                }
                if (lanes_.covers(p.ix[m], n))
                    lanes_.first(p.ix[m], &p.dx[m], &p.same[m], n, significance, amplitude + m,
                                 significant + m);
                else
                    for (long j = m; j < m + n; ++j)
                        one(j);
            }
        }

    private:
        // The positions p0..p1 of a plan at y as run() takes them: groups
        // m..m + n − 1 that the vector fit takes together to lanes(fit, m,
        // n), the others one by one to one(m, outcome, result).
        template <class Lanes, class One>
        void groups(const Plan &p, const double *x, long p0, long p1, double y, Lanes lanes,
                    One one)
        {
            const psf_chi::ShiftTables &t = cells_.tables_;
            const long iy = std::lrint(y);
            psf_chi::Result r[1];
            if (psf_chi::lanesInUse() == psf_chi::Lanes::Off || !t.ok() || !cells_.row(iy)) {
                for (long m = p0; m <= p1; ++m)
                    one(m, at(x[m], y, r[0]), r[0]);
                return;
            }
            const double dy = y - iy;
            const int sy = t.shiftY(dy);
            int prepared = 0;
            bool ready = false;
            // From the group that holds p0.
            auto g =
                std::upper_bound(p.groups.begin(), p.groups.end(), p0,
                                 [](long m, const Plan::Group &group) { return m < group.first; });
            if (g != p.groups.begin())
                --g;
            for (; g != p.groups.end() && g->first <= p1; ++g) {
                const long m = std::max(g->first, p0),
                           n = std::min(g->first + std::max(g->count, 1) - 1, p1) - m + 1;
                if (n < 1)
                    continue;
                if (g->count == 0) {
                    one(m, Outside, r[0]);
                    continue;
                }
                if (!ready || p.sx[m] != prepared) {
                    lanes_.prepare(t.plane(p.sx[m], sy), cells_.pixels_, iy, dy, p.dxlo, p.dxhi);
                    prepared = p.sx[m];
                    ready = true;
                }
                if (!lanes_.covers(p.ix[m], n)) {
                    for (long j = m; j < m + n; ++j)
                        one(j, at(x[j], y, r[0]), r[0]);
                    continue;
                }
                lanes(lanes_, m, n);
            }
        }

        const MapCells &cells_;
        psf_chi::AmplitudeFit fit_;
        psf_chi::LaneFit lanes_;
        Plan plan_;
    };

private:
    void margin(const MArray<float, 2> &image, int boxlen)
    {
        // The margin keeps the whole fit block inside the image, whatever
        // _boxlen is.
        const long m = std::max(boxlen, psf_chi::AmplitudeFit(radius_, analyt_).block());
        lo1_ = image.firstIndex(1) + m;
        hi1_ = image.firstIndex(1) + image.length(1) - 1 - m;
        lo2_ = image.firstIndex(2) + m;
        hi2_ = image.firstIndex(2) + image.length(2) - 1 - m;
    }
    bool row(long iy) const { return iy >= lo2_ && iy <= hi2_; }
    bool inside(long ix, long iy) const { return ix >= lo1_ && ix <= hi1_ && row(iy); }

    const psf_chi::ShiftTables &tables_;
    psf_chi::Pixels pixels_;
    double radius_;
    int analyt_;
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

// Progress dots of a map filled row by row, maybe on several threads: the
// dots of another walk of the cells, counted beforehand, spread over the
// rows in the order they are done.
class RowDots {
public:
    RowDots(long dots, long rows) : dots_(dots), rows_(rows) {}
    void rowDone(const Progress &progress)
    {
        if (dots_ == 0)
            return;
        const std::lock_guard<std::mutex> lock(m_);
        ++done_;
        for (const long due = dots_ * done_ / rows_; written_ < due; ++written_)
            progress.dot();
    }

private:
    long dots_, rows_;
    std::mutex m_;
    long done_ = 0, written_ = 0;
};

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
    MapCells::Worker fits(cells);
    // The dots of the walk column by column.
    Progress progress(static_cast<double>(std::max(0L, lx)) * std::max(0L, ly), dots);
    RowDots rows(columnDots(lx, ly, dots), std::max(1L, ly));
    const double step = 1.0 / S;
    // Row by row, and in a row the cells S apart, which share their shift.
    std::vector<double> xs(std::max(0L, lx));
    std::vector<MapCells::Outcome> o(xs.size());
    std::vector<psf_chi::Result> r(xs.size());
    for (long j = sy - ny; j <= sy + ny; ++j) {
        const double py = iy + j * step;
        // Without shifts there are no trial positions to speak of.
        if (S < 1)
            for (long i = sx - nx; i <= sx + nx; ++i)
                store(MapCells::Failed, r[0], nchi(i, j), amplitude(i, j),
                      amplitude_error ? &(*amplitude_error)(i, j) : nullptr, psf_chi::kFailed);
        for (long c = 0; c < std::min<long>(S, lx); ++c) {
            long count = 0;
            for (long i = sx - nx + c; i <= sx + nx; i += S)
                xs[count++] = ix + i * step;
            fits.run(xs.data(), count, py, o.data(), r.data());
            long m = 0;
            for (long i = sx - nx + c; i <= sx + nx; i += S, ++m)
                store(o[m], r[m], nchi(i, j), amplitude(i, j),
                      amplitude_error ? &(*amplitude_error)(i, j) : nullptr, psf_chi::kFailed);
        }
        rows.rowDone(progress);
    }
    progress.end();
}

// Three maps of kx × ky cells of the sub-pixel grid, zero-filled unless
// every cell is going to be written, announced because they may not fit in
// memory.
void subpixelMaps(long kx, long ky, MArray<double, 2> &nchi, MArray<double, 2> &amplitude,
                  MArray<double, 2> &amplitude_error, bool zero)
{
    std::cout << " wenn hier abbricht sind Bilder zu gross fuer Speicher ..." << std::endl;
    nchi.makeReference(psf_chi::newMap(1, kx, 1, ky, zero));
    amplitude.makeReference(psf_chi::newMap(1, kx, 1, ky, zero));
    amplitude_error.makeReference(psf_chi::newMap(1, kx, 1, ky, zero));
    std::cout << " alles ok!" << std::endl;
}

// Cell (k, l) of the sub-pixel grid: the position
// (Bx + (k − 1 − S/2)/S, By + (l − 1 − S/2)/S); 0 in all maps in the margin.
double subpixelX(const MArray<float, 2> &image, int S, int d, long k)
{
    return image.firstIndex(d) + static_cast<double>(k - 1 - S / 2) / S;
}

void subpixelCell(MapCells::Worker &fits, int S, const MArray<float, 2> &image, long k, long l,
                  MArray<double, 2> &nchi, MArray<double, 2> &amplitude,
                  MArray<double, 2> &amplitude_error, int verbose)
{
    const double x = subpixelX(image, S, 1, k), y = subpixelX(image, S, 2, l);
    if (verbose > 9)
        std::cout << " double_x = " << x << "  double_y = " << y << std::endl;
    psf_chi::Result r;
    store(fits.at(x, y, r), r, nchi(k, l), amplitude(k, l), &amplitude_error(k, l), 0);
}

// Runs [p0, p1) of image pixels (counted from 0 along x) whose cells are to
// be fitted, for every pixel row.
using PixelRuns = std::vector<std::vector<std::pair<long, long>>>;

// The x positions of the cells of the sub-pixel grid and the plans of whole
// rows: the same for every row of the grid.
struct GridRows {
    GridRows(const MapCells &cells, int S, const MArray<float, 2> &image)
        : S(S), Lx(image.length(1)), xs(static_cast<std::size_t>(std::max(0L, Lx)) * S), whole(S),
          image(image)
    {
        // The x of cell k = 1 + c + S·p (pixel p, phase c) at xs[c·Lx + p]:
        // the cells of one phase lie one pixel apart.
        for (long c = 0; c < S; ++c)
            for (long p = 0; p < Lx; ++p)
                xs[c * Lx + p] = subpixelX(image, S, 1, 1 + c + S * p);
        // Through data(): an image without columns has no x, and no element
        // to take the address of.
        for (long c = 0; c < S; ++c)
            cells.plan(xs.data() + c * Lx, Lx, whole[c]);
    }
    int S;
    long Lx;
    std::vector<double> xs;
    std::vector<MapCells::Plan> whole;
    const MArray<float, 2> &image;
};

// The fits of one thread, row of the grid by row.
class RowFits final : public psf_bands::CellFits {
public:
    RowFits(const MapCells &cells, const GridRows &grid)
        : fits_(cells), grid_(grid), o_(std::max(0L, grid.Lx)), r_(o_.size())
    {
    }

    // Fits the cells of the runs in row l of the grid (0 in the margin) into
    // C, A and E, cell k at [(k − 1)·step]: every cell by itself, so that the
    // maps do not depend on how the rows are shared out.
    void row(const MArray<float, 2> &image, const std::vector<std::pair<long, long>> &runs, long l,
             double *C, double *A, double *E, long step)
    {
        const int S = grid_.S;
        const long Lx = grid_.Lx;
        const double y = subpixelX(image, S, 2, l);
        for (const auto &run : runs)
            for (long c = 0; c < S; ++c) {
                const long count = run.second - run.first;
                const double *const x = &grid_.xs[c * Lx + run.first];
                if (count == Lx)
                    fits_.run(grid_.whole[c], x, count, y, o_.data(), r_.data());
                else
                    fits_.run(x, count, y, o_.data(), r_.data());
                for (long m = 0; m < count; ++m) {
                    const long at = (c + S * (run.first + m)) * step;
                    store(o_[m], r_[m], C[at], A[at], &E[at], 0);
                }
            }
    }

    // The whole row l without its chi: the amplitudes of the maps, and which
    // cells are fitted with an amplitude of at least significance times its
    // error.
    psf_bands::FirstRow first(long l, double significance)
    {
        const int S = grid_.S;
        const long Lx = grid_.Lx;
        amplitude_.resize(static_cast<std::size_t>(Lx) * S);
        // Room for a last word of 8 flags.
        significant_.resize(amplitude_.size() + 8);
        const double y = subpixelX(grid_.image, S, 2, l);
        // A row of an image without columns has no cells (data(), not [0]).
        for (long c = 0; c < S; ++c)
            fits_.first(grid_.whole[c], grid_.xs.data() + c * Lx, y, significance,
                        amplitude_.data() + c * Lx, significant_.data() + c * Lx);
        return {amplitude_.data(), significant_.data(), Lx, S};
    }

    void cells(long l, const psf_bands::Cells *runs, std::size_t count) override
    {
        const int S = grid_.S;
        const long Lx = grid_.Lx;
        const double y = subpixelX(grid_.image, S, 2, l);
        // Phase by phase: the fits of one phase of a row share their setup.
        for (long c = 0; c < S; ++c)
            for (std::size_t i = 0; i < count; ++i) {
                long p0, p1;
                if (!phaseSpan(runs[i].k0, runs[i].k1, c, p0, p1))
                    continue;
                double *const chi = runs[i].chi + (c + 1 - runs[i].k0);
                fits_.each(grid_.whole[c], grid_.xs.data() + c * Lx, p0, p1, y,
                           [&](long p, MapCells::Outcome o, const psf_chi::Result &r) {
                               double amplitude; // the caller has it from the first pass
                               store(o, r, chi[S * p], amplitude, nullptr, 0);
                           });
            }
    }

    void pass(long l, const psf_bands::Passes *runs, std::size_t count, double largest) override
    {
        const int S = grid_.S;
        const long Lx = grid_.Lx;
        const double y = subpixelX(grid_.image, S, 2, l);
        given_.resize(static_cast<std::size_t>(Lx));
        if (!fitted_ || fittedSize_ < Lx) {
            fitted_.reset(new bool[Lx]);
            fittedSize_ = Lx;
        }
        for (long c = 0; c < S; ++c)
            for (std::size_t i = 0; i < count; ++i) {
                const psf_bands::Passes &r = runs[i];
                long p0, p1;
                if (!phaseSpan(r.k0, r.k1, c, p0, p1))
                    continue;
                // Cell 1 + c + S·p at [c + 1 − k0 + S·p] of the run.
                const long first = c + 1 - r.k0;
                for (long p = p0; p <= p1; ++p)
                    given_[p] = r.amplitude[first + S * p];
                fits_.pass(grid_.whole[c], grid_.xs.data() + c * Lx, p0, p1, y, given_.data(),
                           largest, fitted_.get());
                for (long p = p0; p <= p1; ++p)
                    r.passes[first + S * p] = fitted_[p];
            }
    }

private:
    // The pixels p0..p1 whose cell of phase c, 1 + c + S·p, lies within
    // k0..k1 and the row; false when there are none.
    bool phaseSpan(long k0, long k1, long c, long &p0, long &p1) const
    {
        const long S = grid_.S;
        k0 = std::max(1L, k0);
        k1 = std::min(grid_.Lx * S, k1);
        if (k1 - 1 - c < 0)
            return false;
        p0 = (k0 - 1 - c + S - 1) / S;
        p1 = (k1 - 1 - c) / S;
        return p0 <= p1;
    }

    MapCells::Worker fits_;
    const GridRows &grid_;
    std::vector<MapCells::Outcome> o_;
    std::vector<psf_chi::Result> r_;
    std::vector<double> amplitude_, given_;
    std::vector<unsigned char> significant_;
    std::unique_ptr<bool[]> fitted_; // room for fittedSize_
    long fittedSize_ = 0;
};

// Fits the cells of the runs in the whole sub-pixel maps (0 in the margin),
// map row by map row on all threads.
void subpixelRows(const MapCells &cells, int S, const MArray<float, 2> &image,
                  const PixelRuns &runs, MArray<double, 2> &nchi, MArray<double, 2> &amplitude,
                  MArray<double, 2> &amplitude_error, const Progress &progress, RowDots &dots)
{
    const long Lx = image.length(1), ky = static_cast<long>(image.length(2)) * S;
    if (S < 1 || Lx < 1)
        return;
    const GridRows grid(cells, S, image);
    psf_chi::Share rows(1, ky, psf_chi::rowsPerPage(Lx * S));
    psf_chi::together([&] {
        RowFits fits(cells, grid);
        for (long l; rows.take(l);) {
            // The three maps are laid out alike (newMap).
            fits.row(image, runs[(l - 1) / S], l, &nchi(1, l), &amplitude(1, l),
                     &amplitude_error(1, l), nchi.stride(1));
            dots.rowDone(progress);
        }
    });
}

} // namespace

namespace psf_bands {

namespace {

std::atomic<long> height_set{0};

// The rows of the maps of one band: within some megabytes, but enough rows
// that the rows a band takes over from the one before are few beside them.
constexpr long kBandBytes = 32L << 20;
constexpr long kLeastRows = 64;

// Storages the bands take turns in: the threads fit the rows of the next
// bands while the stages work through the last one.
constexpr int kSlots = 3;

// One storage of the bands and the state of the band it holds.
struct Slot {
    MArray<double, 2> maps[3];
    std::unique_ptr<MapCells> cells;            // the pixels of its band
    std::vector<std::unique_ptr<RowFits>> fits; // per thread
    Band band;
    long number = -1;          // of the band held, -1 for none
    long from = 1, to = 0;     // the rows it fits; first..from − 1 come from the band before
    long handed = 0, turn = 0; // rows handed out to be fitted, turns of spread
    long fitting = 0;          // rows not yet fitted
    bool loaded = false;       // its pixels are read in
    bool copying = false, copied = false; // the rows from the band before
    bool passed = false;                  // the next band no longer needs this one
    int stage = -1;
    bool advancing = false;
    psf_index::Span items{0, -1};
    long nextItem = 0, itemsLeft = 0, chunk = 1;
    bool done = false;
};

// The bands of one image on all threads, each thread taking whatever task
// is due: reading in the pixels of a new band, fitting a row, taking over
// the rows from the band before, the items of a stage, or the passage to
// the next stage. No band waits for all threads to be done with another.
class BandRun {
public:
    BandRun(const MArray<float, 2> &image, const MArray<float, 2> &error, const GridRows &grid,
            const PixelRuns &runs, std::vector<Slot> &slots, long bands, long height, long before,
            long after, long ky, const Stages &stages, const Progress &progress, RowDots &dots,
            bool fitted)
        : image_(image), error_(error), grid_(grid), runs_(runs), slots_(slots), bands_(bands),
          height_(height), before_(before), after_(after), ky_(ky), stages_(stages),
          progress_(progress), dots_(dots), fitted_(fitted), mapless_(bool(stages.first)),
          threads_(psf_chi::threads()),
          rowsPerPage_(psf_chi::rowsPerPage(slots.empty() ? 0 : slots[0].band.kx))
    {
        for (Slot &s : slots_)
            s.fits.resize(threads_);
    }

    void run()
    {
        std::atomic<int> ids{0};
        psf_chi::together([&] { work(ids++); });
        if (failure_)
            std::rethrow_exception(failure_);
    }

private:
    enum Kind { None, Open, Fit, Copy, Advance, Items };
    struct Task {
        Kind kind = None;
        Slot *slot = nullptr;
        long first = 0, last = 0;
    };

    Slot &slot(long n) { return slots_[n % static_cast<long>(slots_.size())]; }

    // The next of n rows to hand out, turn j on: the first row of every huge
    // page of the maps, then the second of every one, and so on, so that
    // threads that start together fault in different pages (as
    // psf_chi::Share does).
    long spread(long &j, long n) const
    {
        const long b = std::min(n, rowsPerPage_), blocks = (n + b - 1) / b;
        for (;;) {
            const long i = j % blocks * b + j / blocks;
            ++j;
            if (i < n)
                return i;
        }
    }

    void work(int id)
    {
        std::unique_lock<std::mutex> lock(m_);
        while (!failure_ && finished_ < bands_) {
            const Task t = pick();
            if (t.kind == None) {
                cv_.wait(lock);
                continue;
            }
            lock.unlock();
            try {
                execute(t, id);
            } catch (...) {
                lock.lock();
                if (!failure_)
                    failure_ = std::current_exception();
                cv_.notify_all();
                return;
            }
            lock.lock();
            // Threads wait only for what the end of a band's fits, of a
            // stage or of a band gives them.
            if (complete(t))
                cv_.notify_all();
        }
    }

    // The next task, the older bands' first. Under the lock.
    Task pick()
    {
        const long oldest = std::max(0L, opened_ - static_cast<long>(slots_.size()));
        for (long n = oldest; n < opened_; ++n) {
            Slot &s = slot(n);
            if (s.number != n || s.done)
                continue;
            if (!s.copied && !s.copying) {
                const Slot &p = slot(n - 1);
                if (p.loaded && p.fitting == 0 && p.copied) {
                    s.copying = true;
                    return {Copy, &s};
                }
            }
            if (!s.loaded || s.fitting > 0 || !s.copied || s.advancing)
                continue;
            if (s.stage >= 0 && s.nextItem <= s.items.hi) {
                const long first = s.nextItem,
                           last = std::min<long>(s.items.hi, first + s.chunk - 1);
                s.nextItem = last + 1;
                return {Items, &s, first, last};
            }
            if (s.itemsLeft == 0) {
                s.advancing = true;
                return {Advance, &s};
            }
        }
        // A free storage takes the next band at once: its pixels are read
        // in while the threads fit the bands before it.
        if (opened_ < bands_) {
            Slot &s = slot(opened_);
            if (s.number < 0 || (s.done && s.passed)) {
                open(s, opened_++);
                return {Open, &s};
            }
        }
        for (long n = oldest; n < opened_; ++n) {
            Slot &s = slot(n);
            if (s.number == n && s.loaded && s.handed < s.to - s.from + 1) {
                ++s.handed;
                return {Fit, &s, s.from + spread(s.turn, s.to - s.from + 1), 0};
            }
        }
        return {};
    }

    void open(Slot &s, long n)
    {
        Band &b = s.band;
        b.lo = 1 + n * height_;
        b.hi = std::min(ky_, b.lo + height_ - 1);
        b.first = std::max(1L, b.lo - before_);
        b.last = std::min(ky_, b.hi + after_);
        for (MapRows *r : {&b.chi, &b.amplitude, &b.error})
            r->first = b.first;
        s.number = n;
        // Without maps a band fits its own rows and takes nothing over.
        s.from = mapless_ || n == 0 ? b.lo : std::min(ky_, b.lo - 1 + after_) + 1;
        s.to = mapless_ ? b.hi : b.last;
        s.handed = s.turn = 0;
        s.fitting = std::max(0L, s.to - s.from + 1);
        // Cells printed one by one are all fitted already.
        if (fitted_) {
            s.handed = s.fitting;
            s.fitting = 0;
        }
        s.loaded = false;
        s.copying = false;
        s.copied = mapless_ || s.from == b.first;
        if (s.copied && n > 0)
            slot(n - 1).passed = true;
        s.passed = mapless_ || n == bands_ - 1;
        s.stage = -1;
        s.advancing = false;
        s.items = {0, -1};
        s.nextItem = s.itemsLeft = 0;
        s.done = false;
    }

    void execute(const Task &t, int id)
    {
        Slot &s = *t.slot;
        const Band &b = s.band;
        switch (t.kind) {
        case Open: {
            // Without maps the stages fit cells of all the band's rows.
            const long from = mapless_ ? b.first : s.from, to = mapless_ ? b.last : s.to;
            if (!fitted_ && from <= to)
                s.cells->pixelRows(image_, error_, std::lrint(subpixelX(image_, grid_.S, 2, from)),
                                   std::lrint(subpixelX(image_, grid_.S, 2, to)));
            break;
        }
        case Fit: {
            RowFits &fits = fitsOf(s, id);
            const long l = t.first;
            if (mapless_)
                stages_.first(b, l, fits.first(l, stages_.significance));
            else
                fits.row(image_, runs_[(l - 1) / grid_.S], l, b.chi.row(l), b.amplitude.row(l),
                         b.error.row(l), 1);
            dots_.rowDone(progress_);
            break;
        }
        case Copy: {
            const Slot &p = slot(s.number - 1);
            const std::size_t n = static_cast<std::size_t>((s.from - b.first) * b.kx);
            std::memcpy(b.chi.row(b.first), p.band.chi.row(b.first), n * sizeof(double));
            std::memcpy(b.amplitude.row(b.first), p.band.amplitude.row(b.first),
                        n * sizeof(double));
            std::memcpy(b.error.row(b.first), p.band.error.row(b.first), n * sizeof(double));
            break;
        }
        case Advance:
            if (s.stage >= 0 && stages_.then)
                stages_.then(b, s.stage);
            break;
        case Items:
            stages_.run(b, s.stage, t.first, t.last, fitsOf(s, id));
            break;
        case None:
            break;
        }
    }

    // The fits of thread id in the pixels of slot s.
    RowFits &fitsOf(Slot &s, int id)
    {
        std::unique_ptr<RowFits> &fits = s.fits[id];
        if (!fits)
            fits.reset(new RowFits(*s.cells, grid_));
        return *fits;
    }

    // Under the lock; whether another task may now be due.
    bool complete(const Task &t)
    {
        Slot &s = *t.slot;
        switch (t.kind) {
        case Open:
            s.loaded = true;
            break;
        case Fit:
            return --s.fitting == 0;
        case Copy:
            s.copied = true;
            slot(s.number - 1).passed = true;
            break;
        case Advance:
            s.advancing = false;
            if (++s.stage < stages_.count) {
                s.items = stages_.items(s.band, s.stage);
                s.nextItem = s.items.lo;
                s.itemsLeft = std::max(0, s.items.hi - s.items.lo + 1);
                s.chunk = std::max(1L, s.itemsLeft / (4L * threads_));
            } else {
                s.done = true;
                ++finished_;
            }
            break;
        case Items:
            return (s.itemsLeft -= t.last - t.first + 1) == 0;
        case None:
            break;
        }
        return true;
    }

    const MArray<float, 2> &image_, &error_;
    const GridRows &grid_;
    const PixelRuns &runs_;
    std::vector<Slot> &slots_;
    long bands_, height_, before_, after_, ky_;
    const Stages &stages_;
    const Progress &progress_;
    RowDots &dots_;
    bool fitted_, mapless_;
    int threads_;
    long rowsPerPage_;
    std::mutex m_;
    std::condition_variable cv_;
    long opened_ = 0, finished_ = 0;
    std::exception_ptr failure_;
};

} // namespace

void setHeight(long rows)
{
    height_set = std::max(0L, rows);
}

long height(long kx, int maps, long multiple)
{
    multiple = std::max(1L, multiple);
    long rows = height_set;
    if (rows == 0)
        rows = std::max(kLeastRows, kBandBytes / (std::max(1L, kx) * std::max(1, maps) *
                                                  static_cast<long>(sizeof(double))));
    return (rows + multiple - 1) / multiple * multiple;
}

void subpixelBands(const psf_chi::ShiftTables &tables, int analyt, int boxlen,
                   const MArray<float, 2> &image, const MArray<float, 2> &error, double radius,
                   int verbose, long height, long before, long after, MArray<double, 2> &nchi,
                   MArray<double, 2> &amplitude, MArray<double, 2> &amplitude_error,
                   const Stages &stages)
{
    const int S = tables.subpixel();
    const long kx = static_cast<long>(image.length(1)) * S,
               ky = static_cast<long>(image.length(2)) * S;
    if (verbose > 2)
        std::cout << " sx0 = " << 1 << std::endl
                  << " sx1 = " << kx << std::endl
                  << " sy0 = " << 1 << std::endl
                  << " sy1 = " << ky << std::endl
                  << " _boxlen = " << boxlen << std::endl;
    // Every cell is printed at verbosity 10 and more, column by column of
    // the whole map.
    const bool whole = height >= ky || verbose > 9;
    height = whole ? ky : std::max(1L, height);
    before = std::max(0L, before);
    after = std::max(0L, after);
    // One band at least, so that an empty map makes one (empty) band too.
    const long bands = whole ? 1 : (ky + height - 1) / height;
    const long rows = whole ? ky : std::min(ky, height + before + after);
    std::vector<Slot> slots(static_cast<std::size_t>(std::min<long>(kSlots, bands)));
    // Every cell is written before it is read: no need to clear the maps.
    const long mapRows = stages.first ? 0 : rows;
    subpixelMaps(kx, mapRows, nchi, amplitude, amplitude_error, false);
    for (Slot &s : slots) {
        if (&s == &slots[0]) {
            s.maps[0].makeReference(nchi);
            s.maps[1].makeReference(amplitude);
            s.maps[2].makeReference(amplitude_error);
        } else
            for (MArray<double, 2> &m : s.maps)
                m.makeReference(psf_chi::newMap(1, kx, 1, mapRows, false));
        s.cells.reset(new MapCells(tables, analyt, boxlen, radius, image));
        if (!whole)
            s.cells->reserveRows(image, rows, S);
        s.band.kx = kx;
        s.band.ky = ky;
        s.band.slot = static_cast<int>(&s - &slots[0]);
        for (int i = 0; i < 3; ++i)
            s.band.maps[i] = &s.maps[i];
        s.band.chi = {s.maps[0].dataFirst(), kx, 1};
        s.band.amplitude = {s.maps[1].dataFirst(), kx, 1};
        s.band.error = {s.maps[2].dataFirst(), kx, 1};
    }
    if (stages.prepare)
        stages.prepare(static_cast<int>(slots.size()), rows);
    Progress progress(static_cast<double>(kx) * ky, verbose > 4);
    if (verbose > 9) {
        MapCells &cells = *slots[0].cells;
        cells.pixelRows(image, error, image.firstIndex(2), image.lastIndex(2));
        MapCells::Worker fits(cells);
        for (long k = 1; k <= kx; ++k) {
            for (long l = 1; l <= ky; ++l) {
                progress.count();
                subpixelCell(fits, S, image, k, l, nchi, amplitude, amplitude_error, verbose);
            }
            progress.step();
        }
    }
    // Row by row, along the maps' memory (a column of the maps spans a page
    // per cell). The dots are those of the column-wise walk, spread over the
    // rows.
    RowDots dots(verbose > 9 ? 0 : columnDots(kx, ky, verbose > 4), std::max(1L, ky));
    // Every pixel row is one run of all its pixels; a row of an image
    // without columns has none.
    const long Lx = image.length(1);
    const PixelRuns runs(S > 0 ? image.length(2) : 0,
                         Lx > 0 ? PixelRuns::value_type{{0L, Lx}} : PixelRuns::value_type{});
    const GridRows grid(*slots[0].cells, std::max(1, S), image);
    BandRun(image, error, grid, runs, slots, bands, height, before, after, ky, stages, progress,
            dots, verbose > 9 || S < 1)
        .run();
    progress.end();
}

} // namespace psf_bands

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
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, _subpixel, true);
    psf_bands::subpixelBands(tables, _analyt, _boxlen, image, error, radius, verbose,
                             std::numeric_limits<long>::max(), 0, 0, nchi, amplitude,
                             amplitude_error, psf_bands::Stages());
}

void psf::mapping_some(const MArray<float, 2> &image, const MArray<float, 2> &error,
                       MArray<double, 2> &nchi, MArray<double, 2> &amplitude,
                       MArray<double, 2> &amplitude_error, const MArray<int, 1> &xs,
                       const MArray<int, 1> &ys, double radius, int verbose) const
{
    const int S = _subpixel;
    const long kx = static_cast<long>(image.length(1)) * S,
               ky = static_cast<long>(image.length(2)) * S;
    subpixelMaps(kx, ky, nchi, amplitude, amplitude_error, true);
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, S, true);
    const MapCells cells(tables, _analyt, _boxlen, image, error, radius);
    Progress progress(static_cast<double>(kx) * ky, verbose > 4);
    const long Lx = image.length(1), Ly = image.length(2);
    const long bx = image.firstIndex(1), by = image.firstIndex(2);
    const psf_index::Span stars = psf_index::items(xs, ys);
    // The 3 × 3 pixels around every star, as far as the image reaches (a
    // cell shared by two stars is fitted once), and the dots of the walk
    // star by star, column by column.
    std::vector<char> wanted(static_cast<std::size_t>(std::max(0L, Lx) * std::max(0L, Ly)), 0);
    Progress walk(static_cast<double>(kx) * ky, verbose > 4);
    long dots = 0;
    for (int j = stars.lo; j <= stars.hi; ++j) {
        const long X = xs(j) - bx, Y = ys(j) - by;
        for (long q = std::max(0L, Y - 1); q <= std::min(Ly - 1, Y + 1); ++q)
            for (long p = std::max(0L, X - 1); p <= std::min(Lx - 1, X + 1); ++p)
                wanted[q * Lx + p] = 1;
        const long k0 = std::max(1L, S * (X - 1) + 1), k1 = std::min(kx, S * (X + 2));
        const long l0 = std::max(1L, S * (Y - 1) + 1), l1 = std::min(ky, S * (Y + 2));
        for (long k = k0; k <= k1; ++k) {
            walk.count(static_cast<double>(std::max(0L, l1 - l0 + 1)));
            dots += walk.due();
        }
    }
    PixelRuns runs(std::max(0L, Ly));
    for (long q = 0; q < Ly; ++q)
        for (long p = 0; p < Lx; ++p)
            if (wanted[q * Lx + p] && (p == 0 || !wanted[q * Lx + p - 1]))
                runs[q].emplace_back(p, p + 1);
            else if (wanted[q * Lx + p])
                ++runs[q].back().second;
    RowDots rows(dots, std::max(1L, ky));
    subpixelRows(cells, S, image, runs, nchi, amplitude, amplitude_error, progress, rows);
    progress.end();
}
