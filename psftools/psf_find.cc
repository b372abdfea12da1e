#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "psftools/psf.h"
#include "psftools/psf_bands.h"
#include "psftools/psf_chi.h"
#include "psftools/psf_index.h"
#include "psftools/psf_io.h"

using orv::MArray;

namespace {

// The 13 cells |dk| + |dl| <= 2 of the smoothing, in summation order.
constexpr int kDiamond[13][2] = {{0, 2}, {-1, 1}, {0, 1},   {1, 1},  {-2, 0}, {-1, 0}, {0, 0},
                                 {1, 0}, {2, 0},  {-1, -1}, {0, -1}, {1, -1}, {0, -2}};

MArray<float, 2> zeroFloat(const MArray<double, 2> &like)
{
    MArray<float, 2> m(like.shape());
    if (m.elementCount() > 0)
        m = 0.0f;
    return m;
}

// A detected star: its map cell and amplitude.
struct Found {
    long k, l;
    double amplitude;
    bool operator<(const Found &o) const { return std::tie(k, l) < std::tie(o.k, o.l); }
};

// Cells k0..k1 of a map row; `at` places the run's first cell in an array.
struct Run {
    long k0, k1;
    long at;
};

// The smoothing and the minimum test of find on a map of kx × ky cells, and
// the stars found.
class Search {
public:
    Search(long kx, long ky) : kx_(kx), ky_(ky)
    {
        for (int i = 0; i < 13; ++i)
            diamond_[i] = kDiamond[i][0] + kDiamond[i][1] * kx;
        for (int i = 0; i < 8; ++i)
            neighbours_[i] = psf_index::kNeighbours[i][0] + psf_index::kNeighbours[i][1] * kx;
    }

    // The diamond and the neighbours as steps in memory for maps whose rows
    // of kx cells lie one after the other.
    const long *diamond() const { return diamond_; }
    const long *neighbours() const { return neighbours_; }

    // Smoothing: the mean of the cells of the diamond that hold a chi; cells
    // without one (unevaluated, failed fits) and cells off the map are left
    // out. The outermost ring is neither smoothed nor searched, and W is 0
    // wherever the chi has no value. Cells k0..k1 of row l, c and w at cell
    // k0, the diamond's cells at the steps `diamond` from a cell's chi; rows
    // go through the vector code where their diamonds lie in the map.
    void smooth(const double *c, double *w, long k0, long k1, long l, const long *diamond) const
    {
        if (!lanes_ || l < 3 || l > ky_ - 2 || kx_ < 5) {
            for (long k = k0; k <= k1; ++k)
                smoothCell(c + (k - k0), w + (k - k0), k, l, diamond);
            return;
        }
        for (long k = k0; k <= std::min(k1, 2L); ++k)
            smoothCell(c + (k - k0), w + (k - k0), k, l, diamond);
        const long a = std::max(k0, 3L), b = std::min(k1, kx_ - 2);
        if (a <= b)
            lanes_->smooth(c + (a - k0), w + (a - k0), b - a + 1, diamond);
        for (long k = std::max(k0, kx_ - 1); k <= k1; ++k)
            smoothCell(c + (k - k0), w + (k - k0), k, l, diamond);
    }

    // Detection: strict local minima of the smoothed chi, neighbours without
    // a value ignored. The minima among cells k0..k1 (within 2..kx − 1) of a
    // row (within 2..ky − 1), c and w at cell k0, the neighbours at the
    // steps `neighbours` from a cell's W: k − k0, ascending, into minimal;
    // returns how many.
    long minima(const double *c, const double *w, long k0, long k1, const long *neighbours,
                long *minimal) const
    {
        if (lanes_)
            return lanes_->minima(c, w, k1 - k0 + 1, neighbours, minimal);
        long count = 0;
        for (long i = 0; i <= k1 - k0; ++i)
            if (psf_chi::isMinimum(c, w, i, neighbours))
                minimal[count++] = i;
        return count;
    }

    // Stars found on one thread.
    void keep(const std::vector<Found> &mine)
    {
        const std::lock_guard<std::mutex> lock(m_);
        found_.insert(found_.end(), mine.begin(), mine.end());
    }
    // All stars, in the order of k, then l.
    const std::vector<Found> &found()
    {
        std::sort(found_.begin(), found_.end());
        return found_;
    }

    long kx() const { return kx_; }
    long ky() const { return ky_; }

private:
    void smoothCell(const double *c, double *w, long k, long l, const long *diamond) const
    {
        *w = 0;
        if (l == 1 || l == ky_ || k == 1 || k == kx_ || !psf_chi::hasValue(*c))
            return;
        double sum = 0;
        int n = 0;
        for (int i = 0; i < 13; ++i) {
            const long kk = k + kDiamond[i][0], ll = l + kDiamond[i][1];
            if (kk < 1 || kk > kx_ || ll < 1 || ll > ky_)
                continue;
            const double v = c[diamond[i]];
            if (!psf_chi::hasValue(v))
                continue;
            sum += v;
            ++n;
        }
        *w = sum / n;
    }

    long kx_, ky_;
    long diamond_[13], neighbours_[8];
    const psf_chi::Kernels *lanes_ =
        psf_chi::lanesInUse() != psf_chi::Lanes::Off ? &psf_chi::kernels() : nullptr;
    std::mutex m_;
    std::vector<Found> found_;
};

// The search of the whole maps, every cell smoothed and searched, for the
// diagnostic files: the maps, the smoothed map, the minima and the stars.
class WholeSearch {
public:
    WholeSearch(Search &search, double significance, double largest_chi, const std::string &name)
        : search_(search), significance_(significance), largest_chi_(largest_chi), name_(name)
    {
    }

    psf_bands::Stages stages()
    {
        const long kx = search_.kx(), ky = search_.ky();
        psf_bands::Stages stages;
        stages.count = 2;
        stages.prepare = [this, kx](int, long rows) {
            // Every cell of a row of W is written before it is read.
            smoothed_.makeReference(psf_chi::newMap(1, kx, 1, rows, false));
        };
        // Stage 0 smooths the rows of the band and one on either side (the
        // neighbours of the minimum search), stage 1 searches the band's
        // rows.
        stages.items = [ky](const psf_bands::Band &b, int stage) -> psf_index::Span {
            if (stage == 0)
                return {static_cast<int>(std::max(1L, b.lo - 1)),
                        static_cast<int>(std::min(ky, b.hi + 1))};
            return {static_cast<int>(std::max(2L, b.lo)), static_cast<int>(std::min(ky - 1, b.hi))};
        };
        stages.run = [this, kx](const psf_bands::Band &b, int stage, long l0, long l1,
                                psf_bands::CellFits &) {
            if (stage == 1) {
                search(b, l0, l1);
                return;
            }
            for (long l = l0; l <= l1; ++l)
                search_.smooth(b.chi.row(l), smoothed(b, l), 1, kx, l, search_.diamond());
        };
        stages.then = [this](const psf_bands::Band &b, int stage) {
            if (stage != 0)
                return;
            psf_io::writeImage(smoothed_, "nchi_binned_" + name_ + ".fits");
            psf_io::writeImage(*b.maps[0], "nchi_" + name_ + ".fits");
            psf_io::writeImage(*b.maps[1], "flux_" + name_ + ".fits");
            psf_io::writeImage(*b.maps[2], "error_" + name_ + ".fits");
            minima_.makeReference(zeroFloat(*b.maps[0]));
            stars_.makeReference(zeroFloat(*b.maps[0]));
        };
        return stages;
    }

    void write() const
    {
        psf_io::writeImage(minima_, "min_" + name_ + ".fits");
        psf_io::writeImage(stars_, "star_" + name_ + ".fits");
    }

private:
    double *smoothed(const psf_bands::Band &b, long l)
    {
        return smoothed_.dataFirst() + (l - b.first) * search_.kx();
    }

    void search(const psf_bands::Band &b, long l0, long l1)
    {
        const long kx = search_.kx();
        std::vector<Found> mine;
        std::vector<long> minimal(std::max(0L, kx - 2));
        for (long l = l0; l <= l1 && kx > 2; ++l) {
            const double *const c = b.chi.row(l);
            const long count = search_.minima(c + 1, smoothed(b, l) + 1, 2, kx - 1,
                                              search_.neighbours(), minimal.data());
            for (long i = 0; i < count; ++i) {
                const long k = 2 + minimal[i];
                minima_(k, l) = 1;
                const double a = b.amplitude(k, l);
                if (!(c[k - 1] <= largest_chi_ && a >= significance_ * b.error(k, l)))
                    continue;
                stars_(k, l) = 1;
                mine.push_back({k, l, a});
            }
        }
        search_.keep(mine);
    }

    Search &search_;
    double significance_, largest_chi_;
    const std::string &name_;
    MArray<double, 2> smoothed_;
    MArray<float, 2> minima_, stars_;
};

// Values of some cells of one map row: runs of cells in the order of k, the
// values of each run one after the other.
struct RowCells {
    std::vector<Run> runs; // `at`: where the run's values start
    std::vector<double> values;

    // Room for the values of the runs.
    void lay()
    {
        long at = 0;
        for (Run &r : runs) {
            r.at = at;
            at += r.k1 - r.k0 + 1;
        }
        values.resize(static_cast<std::size_t>(at));
    }
    // The values of cells k0..k1, which lie in one run.
    double *cells(long k0, long k1)
    {
        const auto r = std::upper_bound(runs.begin(), runs.end(), k0,
                                        [](long v, const Run &x) { return v < x.k0; });
        if (r == runs.begin() || (r - 1)->k1 < k1)
            throw std::logic_error("find: a cell without a value");
        return values.data() + (r - 1)->at + (k0 - (r - 1)->k0);
    }
};

// The search in bands that keep no maps. A star at cell c needs c's
// amplitude to reach significance · error, known from the fit without its
// chi, and c's chi to be at most the largest chi; then the smoothed map at
// c and its 8 neighbours, each the mean of the chi in a diamond of cells up
// to 2 away. So the candidates (significant cells) are found first, then
// their chi, and for those whose chi passes the chi is computed in the
// diamonds of the cells next to them (up to 3 cells away either way, 4 in
// both ways together), the smoothing next to them and the minimum test at
// them: the stars of the whole maps at a few per cent of the chi. Only
// those cells are stored: a band's storage touched here and there would
// still cost the system the clearing of all its pages.
class BandSearch {
public:
    BandSearch(Search &search, double significance, double largest_chi)
        : search_(search), significance_(significance), largest_chi_(largest_chi)
    {
    }

    psf_bands::Stages stages()
    {
        const long ky = search_.ky();
        psf_bands::Stages stages;
        stages.count = 4;
        stages.prepare = [this](int slots, long rows) {
            slots_.resize(static_cast<std::size_t>(slots));
            for (Slot &s : slots_) {
                s.candidates.resize(static_cast<std::size_t>(rows));
                s.chi.resize(static_cast<std::size_t>(rows));
                s.smoothed.resize(static_cast<std::size_t>(rows));
            }
        };
        stages.first = [this](const psf_bands::Band &b, long l, const psf_bands::FirstRow &r) {
            candidates(b, l, r);
        };
        stages.significance = significance_;
        // Stage 0 fits the chi of the candidates of the band's rows, stage
        // 1 the chi near those that pass (the band's rows and three on
        // either side), stage 2 smooths next to them (the band's rows and
        // one on either side), stage 3 tests them.
        stages.items = [ky](const psf_bands::Band &b, int stage) -> psf_index::Span {
            const long reach = stage == 1 ? 3 : stage == 2 ? 1 : 0;
            const bool inner = stage == 0 || stage == 3;
            return {static_cast<int>(std::max(inner ? 2L : 1L, b.lo - reach)),
                    static_cast<int>(std::min(inner ? ky - 1 : ky, b.hi + reach))};
        };
        stages.run = [this](const psf_bands::Band &b, int stage, long l0, long l1,
                            psf_bands::CellFits &fits) {
            if (stage == 0)
                pass(b, l0, l1, fits);
            else if (stage == 1)
                chi(b, l0, l1, fits);
            else if (stage == 2)
                smooth(b, l0, l1);
            else
                search(b, l0, l1);
        };
        return stages;
    }

private:
    // The candidates of a row (k ascending) with their amplitudes and
    // whether their chi is at most the largest (`at` of a run: the index of
    // its first cell's), and those whose chi is (`at`: as theirs).
    struct Candidates {
        std::vector<Run> runs;
        std::vector<double> amplitude;
        std::vector<unsigned char> passes;
        std::vector<Run> passed;
    };
    // One storage of the bands: the candidates of the band's rows lo..hi
    // (from lo), the chi and the smoothed map where needed (rows from
    // first).
    struct Slot {
        std::vector<Candidates> candidates;
        std::vector<RowCells> chi, smoothed;
    };

    Slot &slot(const psf_bands::Band &b) { return slots_[static_cast<std::size_t>(b.slot)]; }

    void candidates(const psf_bands::Band &b, long l, const psf_bands::FirstRow &r)
    {
        Candidates &c = slot(b).candidates[static_cast<std::size_t>(l - b.lo)];
        c.runs.clear();
        c.amplitude.clear();
        c.passed.clear();
        if (l < 2 || l > search_.ky() - 1)
            return;
        const long S = r.S, kx = search_.kx();
        for (long p = 0; p < r.width;) {
            // Eight pixels at a time where no cell is significant (most).
            std::uint64_t any = 0;
            for (long f = 0; f < S; ++f) {
                std::uint64_t word;
                std::memcpy(&word, r.significant + f * r.width + p, sizeof word);
                any |= word;
            }
            if (any == 0 && p + 8 <= r.width) {
                p += 8;
                continue;
            }
            for (long f = 0; f < S; ++f) {
                const long k = 1 + f + S * p;
                if (!r.significant[f * r.width + p] || k < 2 || k > kx - 1)
                    continue;
                if (!c.runs.empty() && c.runs.back().k1 == k - 1)
                    ++c.runs.back().k1;
                else
                    c.runs.push_back({k, k, static_cast<long>(c.amplitude.size())});
                c.amplitude.push_back(r.amplitude[f * r.width + p]);
            }
            ++p;
        }
    }

    // Which candidates have a chi of at most the largest.
    void pass(const psf_bands::Band &b, long l0, long l1, psf_bands::CellFits &fits)
    {
        std::vector<psf_bands::Passes> runs;
        for (long l = l0; l <= l1; ++l) {
            Candidates &c = slot(b).candidates[static_cast<std::size_t>(l - b.lo)];
            c.passes.resize(c.amplitude.size());
            runs.clear();
            for (const Run &r : c.runs)
                runs.push_back({r.k0, r.k1, c.amplitude.data() + r.at, c.passes.data() + r.at});
            fits.pass(l, runs.data(), runs.size(), largest_chi_);
            c.passed.clear();
            for (const Run &r : c.runs)
                for (long k = r.k0; k <= r.k1; ++k) {
                    const long i = r.at + (k - r.k0);
                    if (!c.passes[static_cast<std::size_t>(i)])
                        continue;
                    if (!c.passed.empty() && c.passed.back().k1 == k - 1)
                        ++c.passed.back().k1;
                    else
                        c.passed.push_back({k, k, i});
                }
        }
    }

    // The cells of row l within `reach` of a candidate that passed either
    // way and within `sum` in both ways together, as runs in the order of k.
    void around(const psf_bands::Band &b, long l, long reach, long sum,
                std::vector<Run> &runs) const
    {
        runs.clear();
        const Slot &s = slots_[static_cast<std::size_t>(b.slot)];
        for (long j = std::max(b.lo, l - reach); j <= std::min(b.hi, l + reach); ++j) {
            const long dk = std::min(reach, sum - std::labs(l - j));
            for (const Run &r : s.candidates[static_cast<std::size_t>(j - b.lo)].passed)
                runs.push_back({std::max(1L, r.k0 - dk), std::min(search_.kx(), r.k1 + dk), 0});
        }
        std::sort(runs.begin(), runs.end(), [](const Run &x, const Run &y) { return x.k0 < y.k0; });
        std::size_t n = 0;
        for (const Run &r : runs)
            if (n > 0 && r.k0 <= runs[n - 1].k1 + 1)
                runs[n - 1].k1 = std::max(runs[n - 1].k1, r.k1);
            else
                runs[n++] = r;
        runs.resize(n);
    }

    void chi(const psf_bands::Band &b, long l0, long l1, psf_bands::CellFits &fits)
    {
        std::vector<psf_bands::Cells> cells;
        for (long l = l0; l <= l1; ++l) {
            // The diamonds of the cells next to a candidate that passed.
            RowCells &row = slot(b).chi[static_cast<std::size_t>(l - b.first)];
            around(b, l, 3, 4, row.runs);
            row.lay();
            cells.clear();
            for (const Run &r : row.runs)
                cells.push_back({r.k0, r.k1, row.values.data() + r.at});
            fits.cells(l, cells.data(), cells.size());
        }
    }

    void smooth(const psf_bands::Band &b, long l0, long l1)
    {
        Slot &s = slot(b);
        const long kx = search_.kx(), ky = search_.ky();
        std::vector<double> block;
        long diamond[13];
        for (long l = l0; l <= l1; ++l) {
            RowCells &row = s.smoothed[static_cast<std::size_t>(l - b.first)];
            around(b, l, 1, 2, row.runs);
            row.lay();
            for (const Run &r : row.runs) {
                // The chi of the run's diamonds, rows l − 2..l + 2, cells
                // r.k0 − 2.. r.k1 + 2, as one block (each lies in one run of
                // its row); cells no diamond reaches are left as they are.
                const long width = r.k1 - r.k0 + 5;
                block.resize(static_cast<std::size_t>(5 * width));
                for (long d = -2; d <= 2; ++d) {
                    const long ll = l + d, half = 2 - std::labs(d);
                    if (ll < 1 || ll > ky)
                        continue;
                    const long k0 = std::max(1L, r.k0 - half), k1 = std::min(kx, r.k1 + half);
                    const double *const from =
                        s.chi[static_cast<std::size_t>(ll - b.first)].cells(k0, k1);
                    std::copy(from, from + (k1 - k0 + 1),
                              block.data() + (d + 2) * width + (k0 - r.k0 + 2));
                }
                for (int i = 0; i < 13; ++i)
                    diamond[i] = kDiamond[i][0] + kDiamond[i][1] * width;
                search_.smooth(block.data() + 2 * width + 2, row.values.data() + r.at, r.k0, r.k1,
                               l, diamond);
            }
        }
    }

    void search(const psf_bands::Band &b, long l0, long l1)
    {
        Slot &s = slot(b);
        std::vector<Found> mine;
        std::vector<long> minimal;
        std::vector<double> block;
        long neighbours[8];
        for (long l = l0; l <= l1; ++l) {
            const Candidates &c = s.candidates[static_cast<std::size_t>(l - b.lo)];
            for (const Run &r : c.passed) {
                // The smoothed map around the run, rows l − 1..l + 1, as one
                // block (each row lies in one run).
                const long width = r.k1 - r.k0 + 3;
                block.resize(static_cast<std::size_t>(3 * width));
                for (long d = -1; d <= 1; ++d) {
                    const double *const from =
                        s.smoothed[static_cast<std::size_t>(l + d - b.first)].cells(r.k0 - 1,
                                                                                    r.k1 + 1);
                    std::copy(from, from + width, block.data() + (d + 1) * width);
                }
                for (int i = 0; i < 8; ++i)
                    neighbours[i] =
                        psf_index::kNeighbours[i][0] + psf_index::kNeighbours[i][1] * width;
                minimal.resize(static_cast<std::size_t>(r.k1 - r.k0 + 1));
                const double *const chi =
                    s.chi[static_cast<std::size_t>(l - b.first)].cells(r.k0, r.k1);
                const long count = search_.minima(chi, block.data() + width + 1, r.k0, r.k1,
                                                  neighbours, minimal.data());
                for (long i = 0; i < count; ++i)
                    mine.push_back({r.k0 + minimal[i], l,
                                    c.amplitude[static_cast<std::size_t>(r.at + minimal[i])]});
            }
        }
        search_.keep(mine);
    }

    Search &search_;
    double significance_, largest_chi_;
    std::vector<Slot> slots_;
};

// Whether find can search with these limits, with the refusal printed when
// not. A negative significance lets every minimum through, holes included;
// no chi is at most a largest chi of 0 or less (a chi of 0 is no value),
// while +inf asks for no limit; and the chi √(χ²/(n − 1)) needs two fit
// pixels, which no position has in a circle of radius 0.5 or less (its sign
// is ignored). Other values that are not finite mean nothing here either:
// each of these would give an empty or a flooded list without a word.
bool searchable(double significance, double largest_chi, double radius)
{
    if (!(significance >= 0 && std::isfinite(significance))) {
        std::cout << "error: find: the significance must be finite and at least 0 (given "
                  << significance << "), no search!" << std::endl;
        return false;
    }
    if (!(largest_chi > 0)) {
        std::cout << "error: find: the largest chi must be above 0 (given " << largest_chi
                  << "), no search!" << std::endl;
        return false;
    }
    if (!(std::fabs(radius) > 0.5 && std::isfinite(radius))) {
        std::cout << "error: find: the fit radius must be finite and above 0.5 pixel in size "
                     "(given "
                  << radius << "), no search!" << std::endl;
        return false;
    }
    return true;
}

} // namespace

void psf::find(MArray<float, 2> image, MArray<float, 2> error, MArray<double, 1> &x,
               MArray<double, 1> &y, MArray<double, 1> &amplitude, double significance,
               double largest_chi, double radius, std::string name, int verbose) const
{
    // A refused search leaves no stars of an earlier one in the lists.
    const auto none = [&] {
        for (MArray<double, 1> *list : {&x, &y, &amplitude})
            list->makeReference(MArray<double, 1>(0));
    };
    if (!searchable(significance, largest_chi, radius)) {
        none();
        return;
    }
    const long S = _subpixel;
    const long kx = image.length(1) * std::max(0L, S), ky = image.length(2) * std::max(0L, S);
    Search search(kx, ky);
    WholeSearch whole(search, significance, largest_chi, name);
    BandSearch bands(search, significance, largest_chi);
    // The diagnostic files show the whole maps, so they are made whole;
    // otherwise band by band, with the chi of the three rows on either side
    // of a band that the smoothing of its rows and of the rows next to them
    // reads.
    const long height = verbose > 0 ? ky : psf_bands::height(kx, 4);
    MArray<double, 2> C, A, E;
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, _subpixel, true);
    if (S < 1 || !tables.ok()) {
        std::cout << "error: find: no binned psf tables, run calc_base first" << std::endl;
        none();
        return;
    }
    psf_bands::subpixelBands(tables, _analyt, _boxlen, image, error, radius, verbose, height, 3, 3,
                             C, A, E, verbose > 0 ? whole.stages() : bands.stages());
    if (verbose > 0)
        whole.write();
    // Each star at the pixel that owns its cell: pixel p holds the cells
    // S·(p − Bx) + 1 .. S·(p − Bx + 1).
    const std::vector<Found> &found = search.found();
    const int n = static_cast<int>(found.size());
    x.makeReference(MArray<double, 1>(n));
    y.makeReference(MArray<double, 1>(n));
    amplitude.makeReference(MArray<double, 1>(n));
    for (int q = 1; q <= n; ++q) {
        const Found &f = found[q - 1];
        x(q) = image.firstIndex(1) + (f.k - 1) / S;
        y(q) = image.firstIndex(2) + (f.l - 1) / S;
        amplitude(q) = f.amplitude;
    }
}
