// The chi map of a whole 512 × 512 image at 5 sub-pixel steps per axis
// (6.5 million PSF fits of radius 3; also of a 128 × 128 one), star finding
// on that image and on a 1024 × 1024 one, and one fit on its own. The
// counter "per_cell" is the wall-clock time per map cell. The arguments:
// image side, threads (0: all cores, as OMP_NUM_THREADS says), and for the
// map 1 to fit several positions at once with the vector units or 0 for one
// at a time, for find 1 for one band of the whole map or 0 for bands of the
// default height.
#include <benchmark/benchmark.h>

#include <cmath>
#include <iostream>
#include <random>
#include <sstream>

#include "psftools/psf.h"
#include "psftools/psf_bands.h"
#include "psftools/psf_chi.h"

namespace {

constexpr int kShifts = 5;
constexpr double kRadius = 3;

// A Gaussian PSF (FWHM 2.5 pixels) tabulated at 5 shifts; calc_base's
// messages are kept off the report.
psf makePsf()
{
    psf p(6, 4, 15, 0);
    std::ostringstream quiet;
    std::streambuf *old = std::cout.rdbuf(quiet.rdbuf());
    p.generate_gauss(2.5, 2.5, 0, 0);
    p.calc_base(kShifts, 0);
    std::cout.rdbuf(old);
    return p;
}

// Noise of σ 5 with a star every 32 pixels.
struct Field {
    orv::MArray<float, 2> image, error;
    Field(psf &p, int kSide) : image(kSide, kSide), error(kSide, kSide)
    {
        std::mt19937 rng(1);
        std::normal_distribution<float> g(0, 5);
        for (int j = 1; j <= kSide; ++j)
            for (int i = 1; i <= kSide; ++i) {
                image(i, j) = g(rng);
                error(i, j) = 5;
            }
        for (int x = 16; x < kSide; x += 32)
            for (int y = 16; y < kSide; y += 32)
                p.add_psf(image, error, x + 0.2, y - 0.4, 2000, -1e30, -1, 0);
    }
};

// Times call(p, f) on the field of the given side, standard output kept off
// the report, and sets the counter per_cell.
template <class Call>
void perCell(benchmark::State &state, int side, Call call)
{
    psf p = makePsf();
    const Field f(p, side);
    std::ostringstream quiet;
    std::streambuf *old = std::cout.rdbuf(quiet.rdbuf());
    for (auto _ : state)
        call(p, f);
    std::cout.rdbuf(old);
    const double cells = static_cast<double>(side) * kShifts * side * kShifts;
    state.counters["per_cell"] = benchmark::Counter(
        cells, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_mapping_full(benchmark::State &state)
{
    const int all = psf_chi::threads();
    psf_chi::setThreads(state.range(1) > 0 ? static_cast<int>(state.range(1)) : all);
    psf_chi::useLanes(state.range(2) ? psf_chi::Lanes::Best : psf_chi::Lanes::Off);
    state.counters["threads"] = psf_chi::threads();
    orv::MArray<double, 2> chi, amp, err;
    perCell(state, static_cast<int>(state.range(0)), [&](const psf &p, const Field &f) {
        p.mapping_full(f.image, f.error, chi, amp, err, kRadius, 0);
        benchmark::DoNotOptimize(chi.dataFirst());
    });
    psf_chi::setThreads(all);
    psf_chi::useLanes(psf_chi::Lanes::Best);
}
BENCHMARK(BM_mapping_full)
    ->Args({512, 1, 1})
    ->Args({512, 1, 0})
    ->Args({512, 0, 1})
    ->Args({128, 1, 1})
    ->ArgNames({"side", "threads", "vector"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// find on the same field: in bands of the default height (0) or in one band
// of the whole map (1), on all cores or one thread.
void BM_find(benchmark::State &state)
{
    const int all = psf_chi::threads();
    psf_chi::setThreads(state.range(1) > 0 ? static_cast<int>(state.range(1)) : all);
    psf_bands::setHeight(state.range(2) ? 1L << 30 : 0);
    orv::MArray<double, 1> x, y, amplitude;
    perCell(state, static_cast<int>(state.range(0)), [&](const psf &p, const Field &f) {
        p.find(f.image, f.error, x, y, amplitude, 5, 3, kRadius, "bench", 0);
        benchmark::DoNotOptimize(x.dataFirst());
    });
    psf_chi::setThreads(all);
    psf_bands::setHeight(0);
}
BENCHMARK(BM_find)
    ->Args({1024, 0, 0})
    ->Args({1024, 0, 1})
    ->Args({512, 1, 0})
    ->Args({512, 1, 1})
    ->ArgNames({"side", "threads", "whole"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_nchi_calc(benchmark::State &state)
{
    psf p = makePsf();
    const Field f(p, 512);
    double x = 100.2;
    for (auto _ : state) {
        double a, ea;
        benchmark::DoNotOptimize(p.nchi_calc(f.image, f.error, x, 200.4, a, ea, kRadius, 0));
        x = x < 400 ? x + 0.2 : 100.2;
    }
}
BENCHMARK(BM_nchi_calc);

} // namespace

BENCHMARK_MAIN();
